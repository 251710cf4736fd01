// The USB link: choosing the port, the poll cycle and its watch, the reply
// bytes, and the packet stream of a write.
#include "link/TransceiverLink.h"

#include "link/SerialPort.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

namespace tarvil {

namespace {

constexpr std::uint8_t kAck = 0x01;
constexpr std::uint8_t kFatal = 0x02;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kMemoryFailure = 0x25;

constexpr int kPollTicks = 2;
constexpr int kWatchTicks = 5;

bool isReplyByte(int b) { return b == kAck || b == kFatal || b == kNak || b == kMemoryFailure; }

// What follows "Канал USB " in the caption: "Com" and the number of a COM
// port, or the device's own name elsewhere.
QString captionDetail(const QString &portName)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(portName);
    if (m.hasMatch())
        return QStringLiteral("Com") + QString::number(m.captured(1).toInt());
    QString path = portName;
    const QFileInfo info(portName);
    if (info.exists() && !info.canonicalFilePath().isEmpty())
        path = info.canonicalFilePath();
    if (path.startsWith(QLatin1String("/dev/")))
        path = path.mid(5);
    return path;
}

UserMessage noPortMessage(const QString &extra)
{
    QString text = QStringLiteral("Нет доступного Com-порта. Работа в автономном режиме!");
    if (!extra.isEmpty())
        text += QLatin1Char('\n') + extra;
    return UserMessage{text, QStringLiteral("Оборудование"), MsgIcon::Error, MsgButtons::Ok, false};
}

} // namespace

bool TransceiverLink::openComPort()
{
    if (serial_->isOpen())
        return true;
    if (comPortName_.isEmpty()) {
        PortChoiceRequest request;
        request.caption = QStringLiteral("Select Port");
        request.lines = {QStringLiteral("The configured serial port is not valid."),
                         QStringLiteral("Please choose another port.")};
        request.ports = QtSerialPort::availablePorts();
        const auto chosen = view_.choosePort(request);
        if (!chosen || chosen->trimmed().isEmpty())
            return false;
        comPortName_ = chosen->trimmed();
    }
    SerialPort::OpenError error = SerialPort::OpenError::None;
    QString reason;
    if (serial_->open(comPortName_, &error, &reason))
        return true;
    QString extra;
#ifndef Q_OS_WIN
    if (error == SerialPort::OpenError::Permission) {
        extra = QStringLiteral("Нет прав доступа к порту %1. Добавьте пользователя в группу dialout "
                               "(sudo usermod -a -G dialout $USER) и войдите в систему заново.")
                    .arg(comPortName_);
    }
#endif
    if (extra.isEmpty() && !reason.isEmpty())
        extra = QStringLiteral("%1: %2").arg(comPortName_, reason);
    // A port that does not open is forgotten, so the next choice asks again.
    comPortName_.clear();
    pendingPortProblem_ = extra;
    return false;
}

void TransceiverLink::closeComPort()
{
    serial_->close();
    frameOutstanding_ = false;
}

void TransceiverLink::armLinkWatch(int ticks)
{
    linkWatch_->start(config_.timings.serialTick * ticks);
}

void TransceiverLink::disarmLinkWatch()
{
    linkWatch_->stop();
}

void TransceiverLink::writePoll()
{
    if (!serial_->isOpen() || serial_->outputFree() < kPacketSize)
        return;
    serial_->write(PollPacket().toByteArray());
    frameOutstanding_ = true;
}

void TransceiverLink::writePacket(int index)
{
    if (!serial_->isOpen() || index < 0 || index >= packets_.count())
        return;
    // A packet of the write is never passed over: should the output buffer
    // ever be short of room, the port queues it all the same.
    serial_->write(packets_.at(index).toByteArray());
    frameOutstanding_ = true;
    lastWritten_ = index;
}

void TransceiverLink::USB1Click()
{
    pendingPortProblem_.clear();
    bool ok = openComPort();
    if (ok) {
        disarmLinkWatch();
        view_.setCaption(CaptionMode::Usb, captionDetail(comPortName_));
        vars_.ActiveChannel = Channel::Usb;
        view_.UnlockCommands();
    } else {
        view_.showMessage(noPortMessage(pendingPortProblem_));
        vars_.ActiveChannel = Channel::None;
        view_.setWrBtnVisible(false);
        view_.setGaugeVisible(false);
        view_.setCommandEnabled(Command::ItemWr, false);
        view_.setCommandEnabled(Command::ItemRead, false);
        view_.setCaption(CaptionMode::Offline);
        view_.setStatusText(QStringLiteral("Нет связи"));
    }
    if (vars_.ActiveChannel == Channel::Usb) {
        writePoll();
        armLinkWatch(kPollTicks);
    }
}

void TransceiverLink::showUsbOffline()
{
    usbConnected_ = false;
    view_.setWrBtnVisible(false);
    view_.setCommandEnabled(Command::ItemWr, false);
    view_.setCommandEnabled(Command::ItemRead, false);
    view_.setGaugeVisible(false);
    view_.setStatusText(QStringLiteral("Нет связи"));
    view_.setCaption(CaptionMode::Offline);
}

void TransceiverLink::ComPortTriggerTimer()
{
    if (!serial_->isOpen())
        return;
    showUsbOffline();
    // The reply to what was outstanding is given up on.
    frameOutstanding_ = false;
    writePoll();
    armLinkWatch(kWatchTicks);
}

void TransceiverLink::ComPortTriggerAvail()
{
    if (vars_.StopFlag)
        return;
    const qint64 count = serial_->bytesAvailable();
    if (count <= 0)
        return;
    // Only the last byte of a burst counts.
    int last = -1;
    for (qint64 i = 0; i < count; ++i) {
        const int b = serial_->readByte();
        if (b < 0)
            break;
        last = b;
    }
    if (last < 0 || !isReplyByte(last))
        return;
    frameOutstanding_ = false;

    if (usbWriteActive_) {
        timerUsbWrite_->start(); // the transceiver is still answering
        if (awaitingStart_ && (last == kAck || last == kNak)) {
            // The frame that was outstanding when the write began has been
            // answered: the stream starts now, exactly as from an idle link.
            awaitingStart_ = false;
            sendFirstPacket();
            return;
        }
    }

    switch (last) {
    case kAck:
        if (!usbWriteActive_) {
            view_.setStatusText(QString());
            usbConnected_ = true;
            view_.setWrBtnVisible(true);
            view_.setCommandEnabled(Command::ItemWr, true);
            view_.setGaugeVisible(true);
            writePoll();
            armLinkWatch(kPollTicks);
        } else if (packetIndex_ >= packets_.count()) {
            finishUsbWrite();
        } else {
            const int index = packetIndex_;
            updateGauge();
            writePacket(index);
            vars_.BytesDone += kPacketSize;
            packetIndex_ = index + 1;
        }
        break;
    case kFatal:
        closeComPort();
        disarmLinkWatch();
        usbConnected_ = false;
        vars_.ActiveChannel = Channel::None;
        endUsbWrite(QString());
        view_.showMessage(UserMessage{QStringLiteral("Ошибка выбора типа ППК!"), QStringLiteral("Фатальная ошибка"),
                                      MsgIcon::Error, MsgButtons::Ok, false});
        view_.requestClose();
        break;
    case kNak:
        if (!usbConnected_ || !usbWriteActive_) {
            armLinkWatch(kPollTicks);
        } else {
            // The rejected packet is the one written last: it goes again, so
            // every address reaches the transceiver.
            writePacket(std::max(0, lastWritten_));
        }
        break;
    case kMemoryFailure:
        view_.showMessage(UserMessage{QStringLiteral("Отказ оборудования"), QStringLiteral("Ошибка при записи ППЗУ"),
                                      MsgIcon::None, MsgButtons::Ok, false});
        break;
    default:
        break;
    }
}

void TransceiverLink::startUsbWrite()
{
    view_.setGaugeVisible(true);
    usbWriteActive_ = true;
    disarmLinkWatch();
    timerUsbWrite_->start();
    lastWritten_ = -1;
    // While the transceiver answers, a poll is nearly always in flight when
    // the write begins (or, started anew, a packet). Its reply is awaited
    // first, so that only one frame is ever outstanding and every reply byte
    // answers the frame written last.
    awaitingStart_ = frameOutstanding_;
    if (!awaitingStart_)
        sendFirstPacket();
}

void TransceiverLink::sendFirstPacket()
{
    if (serial_->outputFree() >= kPacketSize) {
        writePacket(packetIndex_);
        vars_.BytesDone += kPacketSize;
        updateGauge();
    }
}

void TransceiverLink::finishUsbWrite()
{
    timerUsbWrite_->stop();
    packets_.clear();
    view_.releaseWrBtn();
    usbWriteActive_ = false;
    awaitingStart_ = false;
    view_.setCommandEnabled(Command::ItemWr, false);
    view_.setGauge(0);
    armLinkWatch(kPollTicks);
    view_.showMessage(UserMessage{QStringLiteral("Запись конфигурации трансивера № ") + view_.commonSettings().serial +
                                      QStringLiteral(" выполнена"),
                                  QStringLiteral("Конфигурирование трансивера"), MsgIcon::Information, MsgButtons::Ok,
                                  true});
    view_.UnlockCommands();
    view_.setCommandEnabled(Command::ItemRead, false);
}

// Ends a write that cannot go on; with a reason, the user is told.
void TransceiverLink::endUsbWrite(const QString &reason)
{
    if (!usbWriteActive_)
        return;
    timerUsbWrite_->stop();
    usbWriteActive_ = false;
    awaitingStart_ = false;
    view_.releaseWrBtn();
    if (serial_->isOpen())
        armLinkWatch(kPollTicks);
    if (!reason.isEmpty())
        view_.showMessage(UserMessage{reason, QStringLiteral("Связь с трансивером"), MsgIcon::Error, MsgButtons::Ok,
                                      true});
    restoreCommandsAfterSave();
}

void TransceiverLink::TimerUsbWriteTimer()
{
    endUsbWrite(QStringLiteral("Трансивер не отвечает"));
}

void TransceiverLink::onSerialFailed(const QString &)
{
    // The port has closed itself; the link is lost until USB is chosen again.
    disarmLinkWatch();
    frameOutstanding_ = false;
    const bool writing = usbWriteActive_;
    vars_.ActiveChannel = vars_.ActiveChannel == Channel::Usb ? Channel::None : vars_.ActiveChannel;
    comPortName_.clear();
    showUsbOffline();
    if (writing)
        endUsbWrite(QStringLiteral("Трансивер не отвечает"));
}

} // namespace tarvil
