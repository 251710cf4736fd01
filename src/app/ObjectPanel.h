#pragma once

#include "app/Dialogs.h"
#include "files/ObjectSheet.h"
#include "model/ConfigImage.h"
#include "model/ObjectRow.h"
#include "model/ObjectTable.h"
#include "model/PanelTypeCatalogue.h"

#include <QList>
#include <QMap>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;

namespace tarvil {

class DbNavigator;
class ObjectGridModel;
class ObjectGridView;
class PanelTypeModel;
class PanelTypeView;

// The left-hand panel's object editing: the record edits, the type grid
// N_PPK with DBNavigator2, ObjCountLbl, the grid DBGrid1 and DBNavigator1,
// bound to the object table and the panel-type catalogue it owns.
class ObjectPanel : public QWidget, private ObjectTableUi {
    Q_OBJECT
public:
    explicit ObjectPanel(Dialogs &dialogs, QWidget *parent = nullptr);
    ~ObjectPanel() override;

    // First showing of the window: open and empty both tables, then load the
    // catalogue from `cataloguePath` (relative: the working folder). A bad
    // line of the catalogue is reported in a box.
    void openTables(const QString &cataloguePath = QStringLiteral("CentralType.txt"));
    // Closing: a pending row is discarded.
    void closeTables();

    // The stored rows in order (a pending row is not among them).
    QList<ObjectRow> rows() const;
    void RebuildObjectTable(const ConfigImage &image);
    void clearObjectTable();
    void clearObjectCount();

    ObjectTable &table() { return *table_; }
    PanelTypeCatalogue &catalogue() { return *catalogue_; }
    QLineEdit *fieldEdit(ObjectField field) const { return edits_.value(field, nullptr); }

    // DBGrid1's context menu: the stored rows to a CSV file or a workbook,
    // and the rows of one in place of the table's, only when every row passes.
    void exportObjectsCsv();
    void importObjectsCsv();
    void exportObjectsXlsx();
    void importObjectsXlsx();

private:
    void replaceObjects(const QString &path, SheetObjects (*readList)(const QString &, const QList<ObjectRow> *));

    // ObjectTableUi
    MsgAnswer showMessage(const UserMessage &message) override;
    void focusField(ObjectField field) override;
    void showObjectCount(const QString &text) override;
    void PPKTbl12BeforeEdit() override;
    void PPKTblBeforeScroll() override;

    QLineEdit *addEdit(const ObjectColumn &column);
    void userEdited(ObjectField field, const QString &text);
    void focusMoved(QWidget *old, QWidget *now);
    void syncFromTable();
    void syncCatalogue();

    Dialogs &dialogs_;
    std::unique_ptr<PanelTypeCatalogue> catalogue_;
    std::unique_ptr<ObjectTable> table_;
    QMap<ObjectField, QLineEdit *> edits_;
    PanelTypeModel *typeModel_ = nullptr;
    PanelTypeView *typeGrid_ = nullptr;
    DbNavigator *typeNavigator_ = nullptr;
    QLabel *countLabel_ = nullptr;
    ObjectGridModel *gridModel_ = nullptr;
    ObjectGridView *grid_ = nullptr;
    DbNavigator *navigator_ = nullptr;
    bool syncing_ = false;
};

} // namespace tarvil
