#include "FakeLinkView.h"

#include "link/Notifications.h"
#include "model/ConfigImage.h"

namespace tarvil::test {

namespace {
const QString kCaptionBase = QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      ");
}

FakeLinkView::FakeLinkView()
{
    commands = {{Command::ItemLink, true}, {Command::ItemWr, false}, {Command::ItemRead, false},
                {Command::ItemLoad, true}, {Command::ItemSave, true}};
}

void FakeLinkView::setCaption(CaptionMode mode, const QString &detail)
{
    captionMode = mode;
    captionDetail = mode == CaptionMode::Offline ? QString() : detail;
    log << QStringLiteral("caption:%1:%2").arg(int(mode)).arg(captionDetail);
}

void FakeLinkView::setStatusText(const QString &text)
{
    status = text;
    log << QStringLiteral("status:") + text;
}

void FakeLinkView::LockCommands()
{
    locked = true;
    wrBtnVisible = false;
    for (auto c : {Command::ItemLink, Command::ItemWr, Command::ItemRead, Command::ItemLoad, Command::ItemSave})
        commands[c] = false;
    log << QStringLiteral("lock");
}

void FakeLinkView::UnlockCommands()
{
    locked = false;
    wrBtnVisible = true;
    for (auto c : {Command::ItemLink, Command::ItemWr, Command::ItemRead, Command::ItemLoad, Command::ItemSave})
        commands[c] = true;
    log << QStringLiteral("unlock");
}

void FakeLinkView::setCommandEnabled(Command command, bool enabled)
{
    commands[command] = enabled;
    log << QStringLiteral("command:%1:%2").arg(int(command)).arg(enabled);
}

void FakeLinkView::setWrBtnVisible(bool visible)
{
    wrBtnVisible = visible;
    log << QStringLiteral("wrbtn:%1").arg(visible);
}

void FakeLinkView::releaseWrBtn() { log << QStringLiteral("release"); }

void FakeLinkView::setGaugeVisible(bool visible)
{
    gaugeVisible = visible;
    log << QStringLiteral("gaugevisible:%1").arg(visible);
}

void FakeLinkView::setGauge(int percent)
{
    gauge = percent;
    gaugeHistory << percent;
}

void FakeLinkView::setUsbPace(const std::optional<UsbPace> &pace)
{
    usbPace = pace;
    usbPaces << pace;
}

MsgAnswer FakeLinkView::message(const UserMessage &message)
{
    messages << message;
    if (NotificationScope::active())
        boxesInsideNotifications << message;
    log << QStringLiteral("message:") + message.text;
    if (onMessage)
        onMessage(message);
    if (!answers.isEmpty())
        return answers.dequeue();
    return message.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

std::optional<QString> FakeLinkView::inputText(const QString &caption, const QString &prompt, const QString &value)
{
    prompts << caption + QLatin1Char('|') + prompt + QLatin1Char('|') + value;
    log << QStringLiteral("prompt");
    if (textAnswers.isEmpty())
        return std::nullopt;
    return textAnswers.dequeue();
}

std::optional<QString> FakeLinkView::choosePort(const PortChoiceRequest &request)
{
    portRequests << request;
    log << QStringLiteral("chooseport");
    if (portAnswers.isEmpty())
        return std::nullopt;
    return portAnswers.dequeue();
}

void FakeLinkView::focusControl(const Field &field)
{
    const bool onLocLan =
        &field == &CommonField::OwnPort || &field == &CommonField::OwnIp || &field == &CommonField::GatewayIp;
    if (onLocLan && !locLanVisible)
        return;
    focused << QString::fromLatin1(field.control);
}

void FakeLinkView::clearObjectCount()
{
    ++objectCountClears;
    log << QStringLiteral("clearcount");
}

void FakeLinkView::clearFieldsForRead()
{
    ++fieldClears;
    clearForRead(settings);
    log << QStringLiteral("clearfields");
}

void FakeLinkView::clearObjectTable()
{
    ++tableClears;
    rows.clear();
    log << QStringLiteral("cleartable");
}

void FakeLinkView::applyCommonSettings(const CommonSettings &s)
{
    applied << s;
    settings = s;
    log << QStringLiteral("apply");
}

void FakeLinkView::rebuildObjectTable()
{
    ++rebuilds;
    log << QStringLiteral("rebuild");
}

void FakeLinkView::requestClose()
{
    ++closeRequests;
    log << QStringLiteral("close");
}

QString FakeLinkView::captionText() const
{
    switch (captionMode) {
    case CaptionMode::Offline: return kCaptionBase + QStringLiteral("Автономный режим");
    case CaptionMode::Usb: return kCaptionBase + QStringLiteral("Канал USB ") + captionDetail;
    case CaptionMode::Lan: return kCaptionBase + QStringLiteral("Канал LAN IP: ") + captionDetail;
    }
    return {};
}

bool FakeLinkView::allCommandsEnabled() const
{
    for (auto it = commands.begin(); it != commands.end(); ++it)
        if (!it.value())
            return false;
    return wrBtnVisible;
}

int FakeLinkView::messageCount(const QString &text) const
{
    int n = 0;
    for (const auto &m : messages)
        n += m.text == text;
    return n;
}

} // namespace tarvil::test
