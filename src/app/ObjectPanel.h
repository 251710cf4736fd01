#pragma once

#include "app/Dialogs.h"
#include "model/ConfigImage.h"
#include "model/ObjectRow.h"

#include <QList>
#include <QWidget>

namespace tarvil {

// The left-hand panel's object editing: the record edits, the type grid
// N_PPK with DBNavigator2, ObjCountLbl, the grid DBGrid1 and DBNavigator1,
// bound to the object table and the panel-type catalogue it owns.
class ObjectPanel : public QWidget {
    Q_OBJECT
public:
    explicit ObjectPanel(Dialogs &dialogs, QWidget *parent = nullptr);
    ~ObjectPanel() override;

    // First showing of the window: open and empty both tables, then load the
    // catalogue from `cataloguePath` (relative: the working folder).
    void openTables(const QString &cataloguePath = QStringLiteral("CentralType.txt"));
    void closeTables();

    QList<ObjectRow> rows() const;
    void RebuildObjectTable(const ConfigImage &image);
    void clearObjectTable();
    void clearObjectCount();

private:
    Dialogs &dialogs_;
};

} // namespace tarvil
