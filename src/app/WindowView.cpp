#include "app/WindowView.h"

#include "app/CommonPanel.h"
#include "app/ObjectPanel.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace tarvil {

namespace {

const QString kCaptionPrefix = QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      ");

constexpr Command kLocked[] = {Command::ItemLink, Command::ItemWr, Command::ItemRead, Command::ItemLoad,
                               Command::ItemSave};

} // namespace

void WindowView::attachView(const Parts &parts)
{
    parts_ = parts;
    QProgressBar *gauge = parts_.gauge;
    gaugeRepaint_ = new QTimer(gauge);
    gaugeRepaint_->setSingleShot(true);
    gaugeRepaint_->setInterval(40);
    QObject::connect(gaugeRepaint_, &QTimer::timeout, gauge, [gauge] { gauge->setUpdatesEnabled(true); });
}

QString WindowView::captionText(CaptionMode mode, const QString &detail)
{
    switch (mode) {
    case CaptionMode::Usb: return kCaptionPrefix + QStringLiteral("Канал USB ") + detail;
    case CaptionMode::Lan: return kCaptionPrefix + QStringLiteral("Канал LAN IP: ") + detail;
    case CaptionMode::Offline: break;
    }
    return kCaptionPrefix + QStringLiteral("Автономный режим");
}

QString WindowView::statusText() const { return parts_.status->text(); }

void WindowView::setCaption(CaptionMode mode, const QString &detail)
{
    parts_.window->setWindowTitle(captionText(mode, detail));
}

void WindowView::setStatusText(const QString &text) { parts_.status->setText(text); }

void WindowView::LockCommands()
{
    parts_.wrBtn->hide();
    for (Command c : kLocked)
        commandAction(c)->setEnabled(false);
}

void WindowView::UnlockCommands()
{
    parts_.wrBtn->show();
    for (Command c : kLocked)
        commandAction(c)->setEnabled(true);
}

void WindowView::setCommandEnabled(Command command, bool enabled) { commandAction(command)->setEnabled(enabled); }

void WindowView::setWrBtnVisible(bool visible) { parts_.wrBtn->setVisible(visible); }

void WindowView::releaseWrBtn()
{
    parts_.wrBtn->setDown(false);
    parts_.wrBtn->setEnabled(true);
}

void WindowView::setGaugeVisible(bool visible) { parts_.gauge->setVisible(visible); }

void WindowView::setGauge(int percent)
{
    // QProgressBar repaints at once on every new value, and a transfer moves
    // it between two replies. The value is set now; the picture follows at
    // most every 40 ms, which the eye cannot tell from every block.
    parts_.gauge->setUpdatesEnabled(false);
    parts_.gauge->setValue(std::clamp(percent, 0, 100));
    if (!gaugeRepaint_->isActive())
        gaugeRepaint_->start();
}

void WindowView::setUsbPace(const std::optional<UsbPace> &pace)
{
    // The value stays the percent; the text beside it says what is left,
    // the tooltip how fast the adapter answers and how to make it faster.
    QProgressBar *gauge = parts_.gauge;
    if (!pace) {
        gauge->setTextVisible(false);
        gauge->resetFormat();
        gauge->setToolTip(QString());
        return;
    }
    gauge->setFormat(texts::gaugeFormat(pace->left()));
    gauge->setTextVisible(true);
    gauge->setToolTip(texts::gaugeToolTip(*pace));
}

CommonSettings WindowView::commonSettings() const { return parts_.common->settings(); }

QList<ObjectRow> WindowView::objectRows() const { return parts_.objects->rows(); }

void WindowView::focusControl(const Field &field) { parts_.common->focus(field); }

void WindowView::clearObjectCount() { parts_.objects->clearObjectCount(); }

void WindowView::clearFieldsForRead() { parts_.common->clearForRead(); }

void WindowView::clearObjectTable() { parts_.objects->clearObjectTable(); }

void WindowView::applyCommonSettings(const CommonSettings &settings) { parts_.common->apply(settings); }

void WindowView::rebuildObjectTable() { parts_.objects->RebuildObjectTable(*parts_.image); }

void WindowView::requestClose()
{
    // Queued, so that the caller's handler has returned before the question.
    QMainWindow *window = parts_.window;
    QTimer::singleShot(0, window, [window] {
        if (window->isVisible())
            window->close();
    });
}

QAction *WindowView::commandAction(Command command) const
{
    return parts_.commands.value(qsizetype(command), parts_.commands.value(0));
}

} // namespace tarvil
