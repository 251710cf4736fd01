#pragma once

#include "model/ObjectTable.h"

#include <QIcon>
#include <QList>
#include <QMap>
#include <QString>
#include <QWidget>

class QToolButton;

namespace tarvil {

// The buttons of a navigator, in DBNavigator1's order.
enum class NavButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };

// A row of record-navigation buttons. Each button is named
// "<navigator>_<button>", e.g. "DBNavigator1_First", and carries its hint as
// tool tip. The buttons take no focus, so a click leaves it where it was.
class DbNavigator : public QWidget {
    Q_OBJECT
public:
    struct ButtonDef {
        NavButton kind;
        QString hint;
    };

    DbNavigator(const QString &name, const QList<ButtonDef> &buttons, QWidget *parent = nullptr);

    QToolButton *button(NavButton kind) const { return buttons_.value(kind, nullptr); }
    void setButtonEnabled(NavButton kind, bool enabled);

    static QString buttonName(NavButton kind);

signals:
    void clicked(tarvil::NavButton kind);

private:
    QMap<NavButton, QToolButton *> buttons_;
};

// The pictures of the navigator buttons and of the grid's row marker, drawn
// here so that they look the same on every platform.
QIcon navigatorIcon(NavButton kind);
QIcon rowMarkerIcon(TableMode mode);

} // namespace tarvil
