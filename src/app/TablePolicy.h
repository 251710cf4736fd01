#pragma once

#include "app/Navigator.h"
#include "model/ObjectTable.h"
#include "model/PanelTypeCatalogue.h"

namespace tarvil {

// What the window does around the object table: the type grid N_PPK follows
// the current row, and the navigator DBNavigator1 offers the buttons that
// make sense in the table's mode.

// PPKTbl12BeforeEdit: the type a new or edited row receives is the one the
// type grid shows, chosen afresh from the first type.
void catalogueBeforeEdit(PanelTypeCatalogue &catalogue);
// PPKTblBeforeScroll: browsing, the type grid shows the current object's
// type; inserting or editing, every type.
void catalogueFollowsTable(const ObjectTable &table, PanelTypeCatalogue &catalogue);

bool navigatorEnabled(const ObjectTable &table, NavButton button);
// A navigator button: its action (Delete asks first through `ui`), then
// DBNavigator1Click.
void navigatorClick(ObjectTable &table, NavButton button, ObjectTableUi &ui);
UserMessage deleteQuestion();

} // namespace tarvil
