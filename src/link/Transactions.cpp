// The write and read transactions.
#include "link/TransceiverLink.h"

#include "link/LanProtocol.h"
#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"
#include "model/IpAddress.h"

#include <QTimer>

namespace tarvil {

namespace {

using namespace lan;

constexpr int kRetries = 7;
constexpr int kFinalRetries = 19;

const QString kNoAnswer = QStringLiteral("Трансивер не отвечает");
const QString kNoAnswerBlock = QStringLiteral("Трансивер не отвечает "); // installers know the trailing blank
const QString kLinkCaption = QStringLiteral("Связь с трансивером");

QByteArray dataRequest(int number, const std::uint8_t *bytes, int length)
{
    QByteArray request = kFpd0;
    request.append(char(0));
    request.append(char(length & 0xFF));
    request.append(char(0));
    request.append(char(number));
    request.append(reinterpret_cast<const char *>(bytes), length);
    return request;
}

UserMessage checkMessage(const QString &text)
{
    return UserMessage{text, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false};
}

} // namespace

TransceiverLink::WaitResult TransceiverLink::waitFor(std::int32_t target, int n)
{
    for (;;) {
        if (vars_.State == target)
            return WaitResult::Reached;
        if (vars_.StopFlag)
            return WaitResult::Stopped;
        PumpWait(n);
        if (vars_.State == lsFailed)
            return WaitResult::Failed;
    }
}

void TransceiverLink::restoreCommandsAfterSave()
{
    if ((vars_.State == lsIdle && vars_.ActiveChannel == Channel::Lan) ||
        (vars_.ActiveChannel == Channel::Usb && usbConnected_)) {
        view_.UnlockCommands();
    } else {
        view_.setCommandEnabled(Command::ItemLoad, true);
        view_.setCommandEnabled(Command::ItemSave, true);
        view_.setCommandEnabled(Command::ItemLink, true);
    }
}

void TransceiverLink::WrBtnClick(const SaveTarget *saveTarget)
{
    packets_.clear();
    view_.LockCommands();
    vars_.BytesDone = 0;

    const CommonSettings s = view_.commonSettings();
    image_.storeSelections(s.etherProt, s.dhcp);

    auto refuse = [this](Control control, const QString &text) {
        view_.showMessage(checkMessage(text));
        view_.focusControl(control);
        view_.UnlockCommands();
    };

    // A pasted text that is no number is refused like an empty one, rather
    // than written as a wrong value.
    const auto serial = parseDecimal(s.serial);
    if (!serial || *serial > 0xFFFFFFFFull)
        return refuse(Control::EditMAC, QStringLiteral("Не определен заводской номер"));
    image_.storeCommonNumber(CommonField::Serial, std::uint32_t(*serial));

    const auto masterPort = parseDecimal(s.masterPort);
    if (!masterPort)
        return refuse(Control::EditPort1_PCN, QStringLiteral("Не определен IP - порт приемника"));
    image_.storeCommonNumber(CommonField::MasterPort, std::uint32_t(*masterPort));

    const auto ownPort = parseDecimal(s.ownPort);
    if (!ownPort)
        return refuse(Control::EditPort_Loc, QStringLiteral("Не определен локальный порт"));
    image_.storeCommonNumber(CommonField::OwnPort, std::uint32_t(*ownPort));

    const std::uint32_t masterIp = TextToIp(s.masterIp);
    if (masterIp == 0)
        return refuse(Control::EditIP1_PCN, QStringLiteral("Не определен IP - адрес приемника"));
    image_.storeCommonNumber(CommonField::MasterIp, masterIp);

    const std::uint32_t ownIp = TextToIp(s.ownIp);
    if (ownIp == 0)
        return refuse(Control::DHCP_IP, QStringLiteral("Не определен локальный IP - адрес"));
    image_.storeCommonNumber(CommonField::OwnIp, ownIp);

    const std::uint32_t gatewayIp = TextToIp(s.gatewayIp);
    if (gatewayIp == 0)
        return refuse(Control::Shl_IP, QStringLiteral("Не определен  IP - адрес шлюза"));
    image_.storeCommonNumber(CommonField::GatewayIp, gatewayIp);

    if (s.apn.isEmpty())
        return refuse(Control::EditAPN, QStringLiteral("Не определен APN GPRS - канала"));
    image_.storeCommonText(CommonField::Apn, s.apn);

    image_.finishBuild(s, view_.objectRows());
    packets_.buildFrom(image_);

    if (saveTarget) {
        if (saveTarget->write)
            saveTarget->write(packets_);
        restoreCommandsAfterSave();
        return;
    }

    vars_.BytesTotal = kPacketSize * packets_.count();
    view_.setGauge(0);
    packetIndex_ = 0;
    vars_.BytesDone = 0;

    if (vars_.ActiveChannel == Channel::Usb && usbConnected_ && serial_->isOpen()) {
        startUsbWrite();
        return;
    }
    if (vars_.State == lsIdle && vars_.ActiveChannel == Channel::Lan) {
        lanWrite();
        return;
    }
    // No usable link. A transaction still running (a start through "Пуск"
    // while it waits) keeps the commands locked; otherwise the window is
    // restored as after a save, instead of staying locked for good.
    if (busy_ == 0 && !usbWriteActive_)
        restoreCommandsAfterSave();
}

void TransceiverLink::failLanWrite(const QString &text)
{
    view_.showMessage(UserMessage{text, kLinkCaption, MsgIcon::Error, MsgButtons::Ok, true});
    setState(lsIdle);
    disable(timerWaitAck_);
    view_.UnlockCommands();
}

bool TransceiverLink::lanStep(const QByteArray &request, std::int32_t awaiting, std::int32_t target, int retries,
                              int n, const QString &failure)
{
    vars_.RetriesLeft = retries;
    sendRequest(request);
    setState(awaiting);
    enable(timerWaitAck_);
    switch (waitFor(target, n)) {
    case WaitResult::Stopped: return false;
    case WaitResult::Failed: failLanWrite(failure); return false;
    case WaitResult::Reached: break;
    }
    return true;
}

bool TransceiverLink::lanWrite()
{
    ++busy_;
    struct BusyGuard {
        int &busy;
        ~BusyGuard() { --busy; }
    } guard{busy_};

    // Announce the write and wait for the ready reply.
    disable(timerUdp_);
    if (!lanStep(kDatF, lsWaitReady, lsWaitBlockAck, kRetries, 2, kNoAnswer))
        return false;
    vars_.BytesTotal = kImageSize;

    // Sixty blocks of five object records, then the common block.
    for (int n = 1; n <= kBlocks; ++n) {
        const QByteArray block = dataRequest(n, image_.record(kRecordsPerBlock * (n - 1)), kBlockDataLength);
        if (!lanStep(block, lsWaitBlockAck, lsAcknowledged, kRetries, 5, kNoAnswerBlock))
            return false;
        vars_.BytesDone += kBlockDataLength;
        updateGauge();
    }
    const QByteArray common = dataRequest(kWriteCommonNumber, image_.common(), kCommonSize);
    if (!lanStep(common, lsWaitBlockAck, lsAcknowledged, kRetries, 2, kNoAnswer))
        return false;
    vars_.BytesDone += kCommonSize;
    updateGauge();

    // End of data, then ask for the result. "AT+FPDE" goes out once; only
    // "AT+CONFIG" sits in the request slot to be repeated, 19 times.
    sendRequest(kFpdE);
    if (!lanStep(kConfig, lsWaitResult, lsAcknowledged, kFinalRetries, 5, kNoAnswer))
        return false;

    // The receive handler has shown the result.
    disable(timerWaitAck_);
    enable(timerUdp_);
    view_.UnlockCommands();
    view_.setGauge(0);
    setState(lsIdle);
    return true;
}

void TransceiverLink::ItemReadClick()
{
    view_.clearObjectCount();
    if (vars_.State != lsIdle)
        return;
    view_.LockCommands();
    image_.clear();
    view_.clearFieldsForRead();
    view_.clearObjectTable();
    lastBlock_ = -1;
    vars_.BytesDone = 0;
    // The end of a read is recognised by the block number the common block
    // leaves in the reply buffer; one left from the last read must not count.
    replyBuffer_[kNumberByte] = 0;
    disable(timerUdp_);
    vars_.BytesTotal = kImageSize;
    vars_.RetriesLeft = kRetries;
    sendRequest(kReadF);
    setState(lsReading);
    enable(timerWaitAck_);

    ++busy_;
    const WaitResult result = waitFor(lsReadDone, 2);
    --busy_;
    if (result == WaitResult::Stopped)
        return;

    if (result == WaitResult::Reached) {
        disable(timerWaitAck_);
        enable(timerUdp_);
        const std::uint32_t serial =
            ConfigImage::readUnsigned(image_.common() + CommonField::Serial.offset, CommonField::Serial.width);
        view_.showMessage(UserMessage{QStringLiteral("Чтение конфигурации трансивера № ") + QString::number(serial) +
                                          QStringLiteral(" выполнено."),
                                      QStringLiteral("Конфигурирование трансивера"), MsgIcon::Information,
                                      MsgButtons::Ok, true});
        view_.setGauge(0);
        setState(lsIdle);
        view_.applyCommonSettings(image_.decodeCommon());
        view_.rebuildObjectTable();
        view_.UnlockCommands();
        return;
    }

    disable(timerWaitAck_);
    disable(timerWaitBlock_);
    view_.showMessage(UserMessage{QStringLiteral("Ошибка при чтение конфигурации."), kLinkCaption, MsgIcon::Error,
                                  MsgButtons::Ok, true});
    view_.UnlockCommands();
    view_.setGauge(0);
    enable(timerUdp_);
    setState(lsIdle);
}

} // namespace tarvil
