#include "link/LanLink.h"

#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/PumpWait.h"
#include "link/Texts.h"
#include "link/Timers.h"
#include "link/UdpEndpoint.h"
#include "model/ConfigImage.h"
#include "model/IpAddress.h"

#include <QCoreApplication>

#include <cstring>

namespace tarvil {

namespace {

constexpr int kConnectTurns = 11;
constexpr int kConnectPump = 50;

} // namespace

LanLink::LanLink(LinkView &view, Dialogs &dialogs, PumpWait &pump, LinkSession &session, const LinkConfig &config,
                 std::unique_ptr<UdpEndpoint> udp, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), pump_(pump), session_(session), config_(config),
      udp_(std::move(udp))
{
    setObjectName(QStringLiteral("LanLink"));
    if (!udp_)
        udp_ = std::make_unique<QtUdpEndpoint>();
    udp_->setParent(nullptr);
    udp_->setObjectName(QStringLiteral("ConfUDP"));

    timerUdp_ = makeTimer(this, "TimerUDP", config_.timings.keepAlive);
    timerWaitAck_ = makeTimer(this, "TimerWaitAck", config_.timings.waitAck);
    timerWaitBlock_ = makeTimer(this, "TimerWaitBlock", config_.timings.waitBlock);
    connect(timerUdp_, &QTimer::timeout, this, &LanLink::TimerUDPTimer);
    connect(timerWaitAck_, &QTimer::timeout, this, &LanLink::TimerWaitAckTimer);
    connect(timerWaitBlock_, &QTimer::timeout, this, &LanLink::TimerWaitBlockTimer);
    connect(udp_.get(), &UdpEndpoint::datagramReceived, this, &LanLink::ConfUDPDataReceived);

    bound_ = udp_->bind(config_.localPort, &bindError_);
}

LanLink::~LanLink() = default;

void LanLink::reportBindFailure()
{
    if (bound_ || bindReported_)
        return;
    bindReported_ = true;
    dialogs_.message(texts::udpBindFailed(config_.localPort, bindError_));
}

void LanLink::setState(LinkState state)
{
    if (state_ == state)
        return;
    state_ = state;
    pump_.wake();
}

void LanLink::send(const QByteArray &bytes)
{
    const int n = std::min<int>(int(bytes.size()), LanFrame::kBufferSize);
    requestBuffer_.replace(0, n, bytes.left(n));
    requestLength_ = n;
    udp_->send(requestBuffer_.left(n));
}

void LanLink::request(const QByteArray &bytes, LinkState awaiting, int retries)
{
    retriesLeft_ = retries;
    if (awaiting == lsWaitResult)
        result_ = LanReply::None;
    send(bytes);
    setState(awaiting);
    enable(timerWaitAck_);
}

void LanLink::sendOnce(const QByteArray &bytes) { send(bytes); }

LanLink::WaitResult LanLink::waitFor(LinkState target, int n)
{
    for (;;) {
        if (state_ == target)
            return WaitResult::Reached;
        if (pump_.stopped())
            return WaitResult::Stopped;
        pump_.wait(n);
        if (state_ == lsFailed)
            return WaitResult::Failed;
    }
}

void LanLink::beginRead(ConfigImage &target, int retries)
{
    readTarget_ = &target;
    lastBlock_ = -1;
    // The end of a read is recognised by the block number the common block
    // leaves in the reply buffer; one left from the last read must not count.
    frame_.forgetBlockNumber();
    disable(timerUdp_);
    request(LanFrame::readF(), lsReading, retries);
}

void LanLink::keepAlive(bool on)
{
    if (on)
        enable(timerUdp_);
    else
        disable(timerUdp_);
}

void LanLink::stopAckTimer() { disable(timerWaitAck_); }

void LanLink::stopWaitTimers()
{
    disable(timerWaitAck_);
    disable(timerWaitBlock_);
}

void LanLink::stopTimersForExit()
{
    disable(timerUdp_);
    disable(timerWaitAck_);
}

void LanLink::LanClick()
{
    if (transceiverAddress_.isEmpty())
        transceiverAddress_ = texts::kDefaultAddress;
    const auto entered = dialogs_.inputText(texts::kLanWork, texts::kAddressPrompt, transceiverAddress_);
    if (!entered)
        return;
    transceiverAddress_ = *entered;
    const QString address = transceiverAddress_;
    if (TextToIp(address) == 0) {
        dialogs_.message(texts::invalidAddress());
        return;
    }

    udp_->setRemoteHost(address, config_.remotePort);
    view_.setCaption(CaptionMode::Lan, address);
    view_.setStatusText(texts::connectingTo(address));
    view_.LockCommands();
    view_.setGaugeVisible(false);

    session_.activeChannel = Channel::Lan;
    setState(lsConnecting);
    enable(timerUdp_);

    // The connect's own countdown: 11 turns of about half a second.
    int turnsLeft = kConnectTurns;
    ++session_.lanWaits;
    for (;;) {
        if (state_ == lsIdle) {
            view_.setStatusText(QString());
            break;
        }
        pump_.wait(kConnectPump);
        QCoreApplication::processEvents();
        if (--turnsLeft == 0) {
            view_.setStatusText(texts::noLinkWith(address));
            disable(timerUdp_);
            view_.setCaption(CaptionMode::Offline);
            view_.LockCommands();
            view_.setCommandEnabled(Command::ItemLink, true);
            view_.setCommandEnabled(Command::ItemLoad, true);
            view_.setCommandEnabled(Command::ItemSave, true);
            break;
        }
    }
    --session_.lanWaits;
}

void LanLink::TimerUDPTimer()
{
    NotificationScope scope;
    send(LanFrame::config());
}

void LanLink::TimerWaitAckTimer()
{
    NotificationScope scope;
    if (--retriesLeft_ <= 0) {
        // The timer stays enabled; the waiting transaction switches it off.
        setState(lsFailed);
        return;
    }
    const int n = std::clamp(requestLength_, 0, LanFrame::kBufferSize);
    udp_->send(requestBuffer_.left(n));
}

void LanLink::TimerWaitBlockTimer()
{
    NotificationScope scope;
    setState(lsFailed);
}

void LanLink::acknowledgeRead()
{
    // Out of the request slot without changing its length.
    const QByteArray ack = LanFrame::ready0();
    requestBuffer_.replace(0, int(ack.size()), ack);
    udp_->send(ack);
}

void LanLink::ConfUDPDataReceived(const QByteArray &datagram, const QString &fromIp, std::uint16_t)
{
    NotificationScope scope;
    if (udp_->remoteHost().isEmpty() || fromIp != udp_->remoteHost())
        return;
    if (!frame_.accept(datagram))
        return;
    const LanReply reply = frame_.reply();

    switch (state_) {
    case lsConnecting:
        if (reply == LanReply::Ok) {
            setState(lsIdle);
            view_.setGaugeVisible(true);
            view_.UnlockCommands();
        }
        break;
    case lsWaitReady:
        // The ready reply answers the step; the first block is not sent yet,
        // so nothing may count as its "OK".
        if (reply == LanReply::Ready) {
            disable(timerWaitAck_);
            setState(lsAcknowledged);
        }
        break;
    case lsWaitBlockAck:
        if (reply == LanReply::Ok) {
            disable(timerWaitAck_);
            setState(lsAcknowledged);
        }
        break;
    case lsWaitResult:
        // The write shows the result once this handler has returned.
        if (reply == LanReply::Success || reply == LanReply::Failure) {
            result_ = reply;
            disable(timerWaitAck_);
            setState(lsAcknowledged);
        }
        break;
    case lsReading:
        onRead(reply);
        break;
    default:
        break;
    }
}

void LanLink::onRead(LanReply reply)
{
    switch (reply) {
    case LanReply::ReadBlock: {
        disable(timerWaitAck_);
        disable(timerWaitBlock_);
        const int block = frame_.blockNumber();
        if (block != (lastBlock_ & 0xFF)) {
            lastBlock_ = block;
            if (readTarget_)
                std::memcpy(readTarget_->record(LanFrame::kRecordsPerBlock * block), frame_.payload(),
                            size_t(LanFrame::kBlockDataLength));
            emit readStored(LanFrame::kBlockDataLength);
        }
        acknowledgeRead();
        enable(timerWaitBlock_);
        break;
    }
    case LanReply::ReadCommon:
        disable(timerWaitBlock_);
        if (readTarget_)
            std::memcpy(readTarget_->common(), frame_.payload(), size_t(kCommonSize));
        acknowledgeRead();
        emit readStored(kCommonSize);
        enable(timerWaitBlock_);
        break;
    case LanReply::ReadEnd:
        acknowledgeRead();
        setState(lsReadDone);
        disable(timerWaitBlock_);
        break;
    default:
        break;
    }
}

} // namespace tarvil
