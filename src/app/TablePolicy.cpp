#include "app/TablePolicy.h"

namespace tarvil {

namespace {

// After a button has done its action.
void DBNavigator1Click(ObjectTable &table, NavButton button, ObjectTableUi &ui)
{
    if (button == NavButton::Insert) {
        if (table.mode() != TableMode::Insert)
            return; // the insertion did not open (the row before it had to stay pending)
        if (table.count() >= kMaxObjects) {
            ui.showMessage(limitMessage());
            table.cancel();
        } else {
            ui.focusField(ObjectField::Obj);
        }
    } else if (button == NavButton::Delete) {
        table.ShowObjectCount();
    }
}

} // namespace

void catalogueBeforeEdit(PanelTypeCatalogue &catalogue) { catalogue.setFilterOn(false); }

void catalogueFollowsTable(const ObjectTable &table, PanelTypeCatalogue &catalogue)
{
    if (table.mode() == TableMode::Browse) {
        catalogue.refreshFilter(table.current() >= 0 ? table.at(table.current()).N_PPK : QString());
        catalogue.setFilterOn(true);
    } else {
        catalogue.setFilterOn(false);
    }
}

UserMessage deleteQuestion()
{
    return UserMessage{QStringLiteral("Delete record?"), QStringLiteral("Confirm"), MsgIcon::Question,
                       MsgButtons::OkCancel, false};
}

bool navigatorEnabled(const ObjectTable &table, NavButton button)
{
    const bool browsing = table.mode() == TableMode::Browse;
    const int current = table.current();
    switch (button) {
    case NavButton::First:
    case NavButton::Prior: return !browsing || current > 0;
    case NavButton::Next:
    case NavButton::Last: return !browsing || (current >= 0 && current < table.count() - 1);
    case NavButton::Insert:
    case NavButton::Refresh: return true;
    case NavButton::Delete: return !browsing || table.count() > 0;
    case NavButton::Edit: return browsing;
    case NavButton::Post:
    case NavButton::Cancel: return !browsing;
    }
    return false;
}

void navigatorClick(ObjectTable &table, NavButton button, ObjectTableUi &ui)
{
    if (!navigatorEnabled(table, button))
        return;
    // The grid and the edits see the click's outcome, not its steps.
    const ObjectTable::Batch batch(table);
    switch (button) {
    case NavButton::First: table.first(); break;
    case NavButton::Prior: table.prior(); break;
    case NavButton::Next: table.next(); break;
    case NavButton::Last: table.last(); break;
    case NavButton::Insert: table.insert(); break;
    case NavButton::Delete:
        if (ui.showMessage(deleteQuestion()) == MsgAnswer::Ok)
            table.deleteCurrent();
        break;
    case NavButton::Edit: table.edit(); break;
    case NavButton::Post: table.post(); break;
    case NavButton::Cancel: table.cancel(); break;
    case NavButton::Refresh: table.refresh(); break;
    }
    DBNavigator1Click(table, button, ui);
}

} // namespace tarvil
