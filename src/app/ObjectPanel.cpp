#include "app/ObjectPanel.h"

namespace tarvil {

ObjectPanel::ObjectPanel(Dialogs &dialogs, QWidget *parent) : QWidget(parent), dialogs_(dialogs) {}
ObjectPanel::~ObjectPanel() = default;

void ObjectPanel::openTables(const QString &) {}
void ObjectPanel::closeTables() {}
QList<ObjectRow> ObjectPanel::rows() const { return {}; }
void ObjectPanel::RebuildObjectTable(const ConfigImage &) {}
void ObjectPanel::clearObjectTable() {}
void ObjectPanel::clearObjectCount() {}

} // namespace tarvil
