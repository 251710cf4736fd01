#pragma once

#include "model/ConfigImage.h"
#include "model/ObjectRow.h"
#include "model/ObjectRules.h"
#include "model/PanelTypeCatalogue.h"
#include "model/UserMessage.h"

#include <QCollator>
#include <QList>
#include <QObject>
#include <QString>

namespace tarvil {

enum class TableMode { Browse, Insert, Edit };

// What the object table needs of its window: message boxes, the input focus,
// the object count label, and the window's doings before an insertion or an
// edit begins and before and after every move (the type grid follows the
// current row there).
class ObjectTableUi {
public:
    virtual ~ObjectTableUi() = default;
    virtual MsgAnswer showMessage(const UserMessage &message) = 0;
    // Moves the input focus to the record edit of the field.
    virtual void focusField(ObjectField field) = 0;
    // Writes ObjCountLbl.
    virtual void showObjectCount(const QString &text) = 0;
    virtual void PPKTbl12BeforeEdit() {}
    virtual void PPKTblBeforeScroll() {}
};

// The table's order of object numbers: text compared in the user's locale,
// ignoring letter case (for four hexadecimal digits, numeric order); an empty
// number sorts first.
QCollator objectNumberCollator();
int compareObjectNumbers(const QCollator &collator, const QString &a, const QString &b);

// The rows as the table holds them once rebuilt from them: each type named
// through the catalogue, sorted by object number, rows with equal numbers in
// the order given. At most MaxObjects rows are kept.
QList<ObjectRow> asTableRows(QList<ObjectRow> rows, const PanelTypeCatalogue &catalogue);
// The positions of `rows` in the table's order (the sort of asTableRows).
QList<qsizetype> tableOrder(const QList<ObjectRow> &rows);

// The object table PPKTbl: the stored rows in ascending order of Obj, a
// current row, and the modes browse / insert / edit with pending values.
// What it refuses to store is the object rules'; what the window does around
// it (the type grid, the navigator) is the window's.
class ObjectTable : public QObject {
    Q_OBJECT
public:
    // The catalogue names the types of rebuilt rows, and its current row is
    // the type a stored row receives.
    ObjectTable(const PanelTypeCatalogue &catalogue, ObjectTableUi &ui, QObject *parent = nullptr);

    // The stored rows (a pending insertion is not one of them).
    int count() const { return static_cast<int>(entries_.size()); }
    const ObjectRow &at(int i) const { return entries_.at(i).row; }
    QList<ObjectRow> rows() const;
    // Position of the current stored row; -1 when the table is empty.
    int current() const { return current_; }
    TableMode mode() const { return mode_; }
    bool isEditing() const { return mode_ != TableMode::Browse; }
    // Whether a pending value differs from what the row held.
    bool isModified() const;

    // What the grid shows: the stored rows with a pending insertion standing
    // at the position where it was opened.
    int viewRowCount() const { return count() + (mode_ == TableMode::Insert ? 1 : 0); }
    int viewCurrent() const { return mode_ == TableMode::Insert ? insertPos_ : current_; }
    QString viewText(int viewRow, ObjectField field) const;
    // The current row's value, or the pending value while inserting or editing.
    QString fieldText(ObjectField field) const { return viewText(viewCurrent(), field); }

    // Sets a pending value (cut to the field's width); ignored while browsing.
    void setFieldText(ObjectField field, const QString &text);
    // The user typed into a record edit: while browsing this starts an edit
    // of the current row (an insertion when the table is empty); then the
    // field takes the text.
    void typeField(ObjectField field, const QString &text);

    void empty();
    // Moves. A pending row is settled first; when its store is refused and the
    // values stay pending (an invalid WaitTest), the move does not happen.
    bool first();
    bool last();
    bool moveBy(int delta);
    bool prior() { return moveBy(-1); }
    bool next() { return moveBy(1); }
    // Moves to a row as the grid shows it.
    bool moveToViewRow(int viewRow);

    void insert();
    void edit();
    enum class PostResult { Stored, Discarded, Kept, NothingPending };
    PostResult post();
    void cancel();
    // Deletes the current row without asking; a pending insertion is cancelled.
    bool deleteCurrent();
    void refresh();
    // Changed pending values are stored, unchanged ones cancelled. False when
    // the values had to stay pending.
    bool settlePending();

    // Collects the notifications of one operation, however many steps it
    // takes, and sends them when the outermost operation ends.
    class Batch {
    public:
        explicit Batch(ObjectTable &table) : table_(table) { ++table_.batchDepth_; }
        ~Batch()
        {
            if (--table_.batchDepth_ == 0)
                table_.flush();
        }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        ObjectTable &table_;
    };

    void RebuildObjectTable(const ConfigImage &image);
    // Empties the table and fills it with these rows as a rebuild does:
    // no checks, types named through the catalogue, sorted by object number.
    void replaceRows(const QList<ObjectRow> &rows);
    void ShowObjectCount();

    // The table's handlers.
    PostResult PPKTbl12BeforePost(); // Stored: go on storing
    void PPKTbl12AfterPost();

signals:
    // Rows were added, removed or reordered, or a pending insertion opened or closed.
    void rowsChanged();
    // The current row, the mode or a pending value changed.
    void stateChanged();

private:
    struct Entry {
        ObjectRow row;
        quint64 serial; // creation order: equal object numbers keep it
    };

    bool lessThan(const Entry &a, const Entry &b) const;
    int insertSorted(Entry entry);
    int indexOfSerial(quint64 serial) const;
    void moveCurrentTo(int index);
    void discardPending();
    void notifyRows() { rowsDirty_ = true; stateDirty_ = true; }
    void notifyState() { stateDirty_ = true; }
    void flush();

    const PanelTypeCatalogue &catalogue_;
    ObjectTableUi &ui_;
    QCollator collator_;
    QList<Entry> entries_;
    int current_ = -1;
    TableMode mode_ = TableMode::Browse;
    int insertPos_ = 0;
    ObjectRow pending_;
    QString pendingWaitTest_;
    ObjectRow original_;
    QString originalWaitTest_;
    quint64 nextSerial_ = 0;
    bool checksSuspended_ = false;
    int batchDepth_ = 0;
    bool rowsDirty_ = false;
    bool stateDirty_ = false;
};

} // namespace tarvil
