// The LAN link: connecting, the keep-alive and the receive handler.
#include "link/TransceiverLink.h"

#include "link/LanProtocol.h"
#include "link/UdpEndpoint.h"
#include "model/IpAddress.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstring>

namespace tarvil {

namespace {

using namespace lan;

const QString kDefaultAddress = QStringLiteral("192.168.1.221");

constexpr int kConnectTurns = 11;
constexpr int kConnectPump = 50;

} // namespace

void TransceiverLink::LanClick()
{
    // The serial port is given up whatever follows, and a new USB choice asks
    // for the port again.
    closeComPort();
    disarmLinkWatch();
    comPortName_.clear();

    if (transceiverAddress_.isEmpty())
        transceiverAddress_ = kDefaultAddress;
    const auto entered = view_.askText(QStringLiteral("Работа по ЛВС"),
                                       QStringLiteral("Введите IP-адрес трансивера"), transceiverAddress_);
    if (!entered)
        return;
    transceiverAddress_ = *entered;
    const QString address = transceiverAddress_;
    if (TextToIp(address) == 0) {
        view_.showMessage(UserMessage{QStringLiteral("Недопустимый IP-адрес трансивера."),
                                      QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, true});
        return;
    }

    udp_->setRemoteHost(address, config_.remotePort);
    view_.setCaption(CaptionMode::Lan, address);
    view_.setStatusText(QStringLiteral("Соединение с ") + address);
    view_.LockCommands();
    view_.setGaugeVisible(false);

    vars_.ActiveChannel = Channel::Lan;
    setState(lsConnecting);
    enable(timerUdp_);
    vars_.RetriesLeft = kConnectTurns;

    ++busy_;
    for (;;) {
        if (vars_.State == lsIdle) {
            view_.setStatusText(QString());
            break;
        }
        PumpWait(kConnectPump);
        QCoreApplication::processEvents();
        vars_.RetriesLeft -= 1;
        if (vars_.RetriesLeft == 0) {
            view_.setStatusText(QStringLiteral("Нет связи с ") + address);
            disable(timerUdp_);
            view_.setCaption(CaptionMode::Offline);
            view_.LockCommands();
            view_.setCommandEnabled(Command::ItemLink, true);
            view_.setCommandEnabled(Command::ItemLoad, true);
            view_.setCommandEnabled(Command::ItemSave, true);
            break;
        }
    }
    --busy_;
}

void TransceiverLink::TimerUDPTimer()
{
    sendRequest(kConfig);
}

void TransceiverLink::ConfUDPDataReceived(const QByteArray &datagram, const QString &fromIp, std::uint16_t)
{
    const int length = int(datagram.size());
    if (length <= 0 || fromIp != udp_->remoteHost() || udp_->remoteHost().isEmpty())
        return;
    // A datagram longer than the reply buffer is dropped whole: cutting it
    // would leave a stale block number where the end of a read is checked.
    if (length > kReplyBufferSize)
        return;
    std::memcpy(replyBuffer_.data(), datagram.constData(), size_t(length));
    const auto b = [this](int i) { return static_cast<unsigned char>(replyBuffer_.at(i)); };

    switch (vars_.State) {
    case lsConnecting:
        if (length == 2 && b(0) == 'O' && b(1) == 'K') {
            setState(lsIdle);
            view_.setGaugeVisible(true);
            view_.UnlockCommands();
        }
        break;
    case lsWaitBlockAck:
        if (length == 2 && b(0) == 'O' && b(1) == 'K') {
            setState(lsAcknowledged);
            disable(timerWaitAck_);
        }
        break;
    case lsWaitReady:
        if (length == 5 && b(1) == 'E' && b(4) == 'Y') {
            setState(lsWaitBlockAck);
            disable(timerWaitAck_);
        }
        break;
    case lsWaitResult:
        if (length == 4 && b(0) == 'G' && b(3) == 'D') {
            setState(lsAcknowledged);
            disable(timerWaitAck_);
            view_.showMessage(UserMessage{QStringLiteral("Запись конфигурации трансивера № ") +
                                              view_.commonSettings().serial + QStringLiteral(" выполнена"),
                                          QStringLiteral("Конфигурирование трансивера"), MsgIcon::Information,
                                          MsgButtons::Ok, true});
        } else if (length == 3 && b(0) == 'B' && b(2) == 'D') {
            setState(lsAcknowledged);
            disable(timerWaitAck_);
            view_.showMessage(UserMessage{QStringLiteral("Ошибка при записи конфигурации"),
                                          QStringLiteral("Конфигурирование трансивера"), MsgIcon::Error,
                                          MsgButtons::Ok, true});
        }
        break;
    case lsReading:
        if (length == kBlockLength && b(2) == '+' && b(5) == 'Y' && b(kNumberByte) < kReadCommonNumber) {
            disable(timerWaitAck_);
            disable(timerWaitBlock_);
            const int block = b(kNumberByte);
            if (block != (lastBlock_ & 0xFF)) {
                lastBlock_ = block;
                std::memcpy(image_.record(kRecordsPerBlock * block), replyBuffer_.constData() + kHeaderLength,
                            size_t(kRecordsPerBlock * kRecordSize));
                vars_.BytesDone += length - kHeaderLength;
                updateGauge();
            }
            // The acknowledgement goes out of the request slot without
            // changing its length.
            vars_.RequestBuffer.replace(0, kReady0.size(), kReady0);
            udp_->send(kReady0);
            enable(timerWaitBlock_);
        } else if (length == kCommonLength && b(2) == '+' && b(5) == 'Y' && b(kNumberByte) == kReadCommonNumber) {
            disable(timerWaitBlock_);
            std::memcpy(image_.common(), replyBuffer_.constData() + kHeaderLength, size_t(kCommonSize));
            vars_.RequestBuffer.replace(0, kReady0.size(), kReady0);
            udp_->send(kReady0);
            vars_.BytesDone += length - kHeaderLength;
            updateGauge();
            enable(timerWaitBlock_);
        } else if (length == kReadEndLength && b(2) == '+' && b(6) == 'E' && b(kNumberByte) == kReadCommonNumber) {
            vars_.RequestBuffer.replace(0, kReady0.size(), kReady0);
            udp_->send(kReady0);
            setState(lsReadDone);
            disable(timerWaitBlock_);
        }
        break;
    default:
        break;
    }
}

} // namespace tarvil
