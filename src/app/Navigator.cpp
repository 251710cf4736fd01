#include "app/Navigator.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QToolButton>

namespace tarvil {

namespace {

constexpr int kIconSize = 16;
const QColor kArrowColour(0x20, 0x30, 0x80);

QPixmap blankPixmap()
{
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void triangle(QPainter &p, qreal tipX, qreal baseX)
{
    p.drawPolygon(QPolygonF({QPointF(tipX, 8), QPointF(baseX, 3), QPointF(baseX, 13)}));
}

} // namespace

QIcon navigatorIcon(NavButton kind)
{
    QPixmap pixmap = blankPixmap();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kArrowColour);
    switch (kind) {
    case NavButton::First:
        p.drawRect(QRectF(3, 3, 2, 10));
        triangle(p, 5, 12);
        break;
    case NavButton::Prior:
        triangle(p, 4, 11);
        break;
    case NavButton::Next:
        triangle(p, 12, 5);
        break;
    case NavButton::Last:
        triangle(p, 11, 4);
        p.drawRect(QRectF(11, 3, 2, 10));
        break;
    case NavButton::Insert:
        p.setBrush(QColor(0x10, 0x80, 0x20));
        p.drawRect(QRectF(7, 3, 2, 10));
        p.drawRect(QRectF(3, 7, 10, 2));
        break;
    case NavButton::Delete:
        p.setBrush(QColor(0xB0, 0x10, 0x10));
        p.drawRect(QRectF(3, 7, 10, 2));
        break;
    case NavButton::Edit:
        p.drawPolygon(QPolygonF({QPointF(8, 4), QPointF(3, 12), QPointF(13, 12)}));
        break;
    case NavButton::Post: {
        QPen pen(QColor(0x10, 0x80, 0x20), 2.2);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 4)}));
        break;
    }
    case NavButton::Cancel: {
        QPen pen(QColor(0xB0, 0x10, 0x10), 2.2);
        p.setPen(pen);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
    case NavButton::Refresh: {
        QPen pen(kArrowColour, 1.8);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 280 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kArrowColour);
        p.drawPolygon(QPolygonF({QPointF(9, 1), QPointF(13, 4), QPointF(9, 6)}));
        break;
    }
    }
    p.end();
    return QIcon(pixmap);
}

QIcon rowMarkerIcon(TableMode mode)
{
    QPixmap pixmap = blankPixmap();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::black);
    switch (mode) {
    case TableMode::Browse:
        p.setPen(Qt::NoPen);
        triangle(p, 12, 5);
        break;
    case TableMode::Edit: // an I-beam
        p.setPen(QPen(Qt::black, 1.4));
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(5, 3), QPointF(11, 3));
        p.drawLine(QPointF(5, 13), QPointF(11, 13));
        break;
    case TableMode::Insert: // an asterisk
        p.setPen(QPen(Qt::black, 1.6));
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(3.7, 5.5), QPointF(12.3, 10.5));
        p.drawLine(QPointF(3.7, 10.5), QPointF(12.3, 5.5));
        break;
    }
    p.end();
    return QIcon(pixmap);
}

QString DbNavigator::buttonName(NavButton kind)
{
    switch (kind) {
    case NavButton::First:
        return QStringLiteral("First");
    case NavButton::Prior:
        return QStringLiteral("Prior");
    case NavButton::Next:
        return QStringLiteral("Next");
    case NavButton::Last:
        return QStringLiteral("Last");
    case NavButton::Insert:
        return QStringLiteral("Insert");
    case NavButton::Delete:
        return QStringLiteral("Delete");
    case NavButton::Edit:
        return QStringLiteral("Edit");
    case NavButton::Post:
        return QStringLiteral("Post");
    case NavButton::Cancel:
        return QStringLiteral("Cancel");
    case NavButton::Refresh:
        return QStringLiteral("Refresh");
    }
    return {};
}

DbNavigator::DbNavigator(const QString &name, const QList<ButtonDef> &buttons, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(name);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const ButtonDef &def : buttons) {
        auto *button = new QToolButton(this);
        button->setObjectName(name + QLatin1Char('_') + buttonName(def.kind));
        button->setToolTip(def.hint);
        button->setIcon(navigatorIcon(def.kind));
        button->setIconSize(QSize(kIconSize, kIconSize));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(false);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setMinimumWidth(24);
        const NavButton kind = def.kind;
        connect(button, &QToolButton::clicked, this, [this, kind] { emit clicked(kind); });
        layout->addWidget(button);
        buttons_.insert(kind, button);
    }
}

void DbNavigator::setButtonEnabled(NavButton kind, bool enabled)
{
    if (QToolButton *b = button(kind))
        b->setEnabled(enabled);
}

} // namespace tarvil
