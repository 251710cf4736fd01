#include "cli/ConsoleView.h"

#include "model/ConfigImage.h"

#include <algorithm>

namespace tarvil::cli {

ConsoleView::ConsoleView(QTextStream &err, bool terminal) : err_(err), terminal_(terminal) {}

void ConsoleView::endProgress()
{
    if (barOpen_) {
        err_ << '\n';
        err_.flush();
    }
    barOpen_ = false;
    lastPercent_ = -1;
    lastTenth_ = -1;
}

void ConsoleView::setStatusText(const QString &text)
{
    if (text == status)
        return;
    status = text;
    if (!text.isEmpty()) {
        endProgress();
        err_ << text << '\n';
        err_.flush();
    }
}

void ConsoleView::clearFieldsForRead() { clearForRead(settings); }

void ConsoleView::setGauge(int percent)
{
    if (percent <= 0 && lastPercent_ <= 0) {
        started_.start();
    }
    if (percent == lastPercent_)
        return;
    if (percent == 0 && lastPercent_ > 0) {
        // The transfer has ended; its last picture stays.
        endProgress();
        return;
    }
    const Progress p = progress ? progress() : Progress{};
    // The gauge set back after a transfer, or with nothing under way.
    if (p.total <= 0 || (percent == 0 && p.done > 0))
        return;
    lastPercent_ = percent;
    if (!started_.isValid())
        started_.start();
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
        QString left;
        if (percent > 0 && percent < 100) {
            // Over USB the adapter's pace says it; otherwise the pace so far.
            const qint64 ms = pace_ ? qint64(pace_->left().count()) : started_.elapsed() * (100 - percent) / percent;
            left = QStringLiteral("  осталось %1 с").arg((ms + 999) / 1000);
        }
        err_ << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char(' ')) << "] "
             << QStringLiteral("%1 %").arg(percent, 3) << "  " << p.done << " / " << p.total << QStringLiteral(" байт")
             << left << "   ";
        err_.flush();
        barOpen_ = true;
        return;
    }
    const int tenth = std::clamp(percent, 0, 100) / 10;
    if (tenth == lastTenth_)
        return;
    lastTenth_ = tenth;
    err_ << tenth * 10 << QStringLiteral(" %  ") << p.done << " / " << p.total << QStringLiteral(" байт") << '\n';
    err_.flush();
}

void ConsoleView::setUsbPace(const std::optional<UsbPace> &pace)
{
    pace_ = pace;
    if (!pace) {
        paceShown_ = false;
        return;
    }
    if (paceShown_)
        return;
    // Once a write, before its packet 0: how fast the adapter answers, how
    // long the write will take, and where that is slow, how to lower it.
    paceShown_ = true;
    endProgress();
    err_ << texts::usbAdapterLine(*pace) << '\n';
    if (pace->slow())
        err_ << texts::usbAdviceLine(*pace) << '\n';
    err_.flush();
}

MsgAnswer ConsoleView::message(const UserMessage &message)
{
    endProgress();
    messages << message;
    err_ << message.caption << ": " << message.text.trimmed() << '\n';
    err_.flush();
    return message.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

std::optional<QString> ConsoleView::inputText(const QString &, const QString &, const QString &)
{
    if (address.isEmpty())
        return std::nullopt;
    return address;
}

std::optional<QString> ConsoleView::choosePort(const PortChoiceRequest &)
{
    if (device.isEmpty())
        return std::nullopt;
    return device;
}

} // namespace tarvil::cli
