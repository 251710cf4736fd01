#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

class QIODevice;

namespace tarvil {

// A catalogue file is read up to this size; a larger one is certainly no
// catalogue, and the tool must not wait for it or hold it in memory.
inline constexpr qint64 kMaxCatalogueBytes = qint64(16) * 1024 * 1024;

// One type of alarm control panel, as a line of CentralType.txt gives it.
struct PanelType {
    std::int16_t TypeId = 0;
    QString N_PPK; // at most kPanelNameWidth characters, blanks kept
    std::int16_t Prot = 0;
    std::int16_t A_F = 0;

    friend bool operator==(const PanelType &, const PanelType &) = default;
};

// The name an object gets when the catalogue has no type of its identifier.
QString unknownPanelTypeName();

// Removes leading and trailing blanks and control characters (everything up
// to U+0020): names are compared, and copied into objects, this way.
QString trimName(const QString &text);

// The panel-type catalogue CntTbl: the rows of CentralType.txt in file order,
// a current row, and the type filter that shows the current object's type.
class PanelTypeCatalogue : public QObject {
    Q_OBJECT
public:
    explicit PanelTypeCatalogue(QObject *parent = nullptr);

    // Empties the catalogue and reads `path` (code page 1251) line by line.
    // Anything but a regular file that can be opened (missing, a folder, a
    // FIFO, a device) leaves the catalogue empty and gives no error. A bad
    // line, or the line that reaches past kMaxCatalogueBytes, stops the
    // loading: the rows before it stay, and its error text is returned.
    // Afterwards the first row is current and the filter is off.
    QString LoadCatalogue(const QString &path = QStringLiteral("CentralType.txt"));
    // The same over the file's bytes.
    QString loadFromBytes(const QByteArray &content);
    void clear();

    const QList<PanelType> &rows() const { return rows_; }
    int count() const { return static_cast<int>(rows_.size()); }

    // Index into rows() of the current row; -1 when the catalogue is empty or
    // the filter hides every row.
    int currentIndex() const { return current_; }
    bool hasCurrent() const { return current_ >= 0; }
    // The current row's fields; 0, "", 0, 0 when there is none.
    PanelType current() const;
    std::int16_t currentTypeId() const { return current().TypeId; }
    QString currentName() const { return current().N_PPK; }
    std::int16_t currentProt() const { return current().Prot; }
    std::int16_t currentAF() const { return current().A_F; }

    // TypeFilter. Switching it on or off makes the first visible row current;
    // switching it to the state it has does nothing.
    bool isFilterOn() const { return filterOn_; }
    void setFilterOn(bool on);
    // Re-evaluates the filter against the name of the object table's current
    // row. The current row stays when it is still visible, else the first
    // visible row becomes current.
    void refreshFilter(const QString &objectTypeName);
    QString filterName() const { return filterName_; }
    // The filter's verdict on one row (always true with the filter off).
    bool CntTblFilterRecord(int row) const;

    // Moves among the visible rows; false when there is nowhere to go.
    bool prior();
    bool next();
    bool canPrior() const;
    bool canNext() const;

    // The name, as stored, of the first row in file order with this
    // identifier; unknownPanelTypeName() when there is none.
    QString FindPanelTypeName(int typeId) const;

signals:
    // Rows, current row or filter changed.
    void changed();

private:
    class LineReader;
    QString load(QIODevice &device, const QString &fileName);
    int firstVisible() const;
    int stepVisible(int from, int step) const;
    void setCurrent(int index);

    QList<PanelType> rows_;
    QList<QString> trimmedNames_; // shares the name's data when nothing is trimmed
    QHash<std::int16_t, int> firstById_; // first row of each identifier
    int current_ = -1;
    bool filterOn_ = false;
    QString filterName_; // trimmed
};

} // namespace tarvil
