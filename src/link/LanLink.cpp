#include "link/LanLink.h"

#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/Notifications.h"
#include "link/Texts.h"
#include "link/Timers.h"
#include "link/UdpEndpoint.h"
#include "model/ConfigImage.h"
#include "model/IpAddress.h"


#include <cstring>

namespace tarvil {

namespace {

// The connect's own countdown: 11 turns of about half a second.
constexpr int kConnectTurns = 11;

} // namespace

LanLink::LanLink(LinkView &view, Dialogs &dialogs, const StopFlag &stop, const LinkConfig &config,
                 std::unique_ptr<UdpEndpoint> udp, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), stop_(stop), config_(config), udp_(std::move(udp))
{
    setObjectName(QStringLiteral("LanLink"));
    qRegisterMetaType<tarvil::LanReply>();
    if (!udp_)
        udp_ = std::make_unique<QtUdpEndpoint>();
    udp_->setParent(nullptr);
    udp_->setObjectName(QStringLiteral("ConfUDP"));

    timerUdp_ = makeTimer(this, "TimerUDP", config_.timings.keepAlive);
    timerWaitAck_ = makeTimer(this, "TimerWaitAck", config_.timings.waitAck);
    timerWaitBlock_ = makeTimer(this, "TimerWaitBlock", config_.timings.waitBlock);
    timerConnect_ = makeTimer(this, "TimerConnect", config_.timings.connectTurn * kConnectTurns, true);
    connect(timerUdp_, &QTimer::timeout, this, &LanLink::TimerUDPTimer);
    connect(timerWaitAck_, &QTimer::timeout, this, &LanLink::TimerWaitAckTimer);
    connect(timerWaitBlock_, &QTimer::timeout, this, &LanLink::TimerWaitBlockTimer);
    connect(timerConnect_, &QTimer::timeout, this, &LanLink::connectTimedOut);
    connect(udp_.get(), &UdpEndpoint::datagramReceived, this, &LanLink::ConfUDPDataReceived);
    connect(udp_.get(), &UdpEndpoint::drained, this, &LanLink::onDrained);

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

bool LanLink::connecting() const { return timerConnect_->isActive(); }

void LanLink::setState(LinkState state) { state_ = state; }

void LanLink::send(const QByteArray &bytes)
{
    const int n = std::min<int>(int(bytes.size()), LanFrame::kBufferSize);
    requestBuffer_.replace(0, n, bytes.left(n));
    requestLength_ = n;
    udp_->send(requestBuffer_.left(n));
}

void LanLink::request(const QByteArray &bytes, LinkState awaiting, int retries)
{
    answered_.reset();
    retriesLeft_ = retries;
    send(bytes);
    setState(awaiting);
    enable(timerWaitAck_);
}

void LanLink::sendOnce(const QByteArray &bytes) { send(bytes); }

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

void LanLink::release(bool keepAlive)
{
    disable(timerWaitAck_);
    disable(timerWaitBlock_);
    readTarget_ = nullptr;
    setState(lsIdle);
    if (keepAlive)
        enable(timerUdp_);
}

void LanLink::keepAlive(bool on)
{
    if (on)
        enable(timerUdp_);
    else
        disable(timerUdp_);
}

void LanLink::stopTimersForExit()
{
    disable(timerUdp_);
    disable(timerWaitAck_);
}

void LanLink::shutdown()
{
    // A connect runs its countdown out at once, as if its time had passed.
    if (timerConnect_->isActive()) {
        timerConnect_->stop();
        connectTimedOut();
    }
    disable(timerWaitAck_);
    disable(timerWaitBlock_);
    readTarget_ = nullptr;
}

void LanLink::LanClick()
{
    if (transceiverAddress_.isEmpty())
        transceiverAddress_ = texts::kDefaultAddress;
    const auto entered = dialogs_.inputText(texts::kLanWork, texts::kAddressPrompt, transceiverAddress_);
    if (!entered || stop_.isSet())
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

    emit chosen();
    setState(lsConnecting);
    enable(timerUdp_);
    timerConnect_->start();
}

void LanLink::connectTimedOut()
{
    NotificationScope scope;
    if (state_ == lsIdle)
        return;
    view_.setStatusText(texts::noLinkWith(udp_->remoteHost()));
    disable(timerUdp_);
    view_.setCaption(CaptionMode::Offline);
    view_.LockCommands();
    view_.setCommandEnabled(Command::ItemLink, true);
    view_.setCommandEnabled(Command::ItemLoad, true);
    view_.setCommandEnabled(Command::ItemSave, true);
}

void LanLink::TimerUDPTimer()
{
    NotificationScope scope;
    send(LanFrame::config());
}

void LanLink::TimerWaitAckTimer()
{
    NotificationScope scope;
    // A handler called straight after the failure fails nothing twice.
    if (state_ == lsFailed)
        return;
    if (--retriesLeft_ <= 0) {
        fail();
        return;
    }
    const int n = std::clamp(requestLength_, 0, LanFrame::kBufferSize);
    udp_->send(requestBuffer_.left(n));
}

void LanLink::TimerWaitBlockTimer()
{
    NotificationScope scope;
    if (state_ == lsFailed)
        return;
    fail();
}

void LanLink::fail()
{
    // A failed step waits for nothing more: the transaction's box may stay
    // open for long, and nothing is repeated under it.
    disable(timerWaitAck_);
    disable(timerWaitBlock_);
    setState(lsFailed);
    emit failed();
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
            if (timerConnect_->isActive()) {
                timerConnect_->stop();
                view_.setStatusText(QString());
            }
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
            answered_ = reply;
        }
        break;
    case lsWaitBlockAck:
        if (reply == LanReply::Ok) {
            disable(timerWaitAck_);
            setState(lsAcknowledged);
            answered_ = reply;
        }
        break;
    case lsWaitResult:
        if (reply == LanReply::Success || reply == LanReply::Failure) {
            disable(timerWaitAck_);
            setState(lsAcknowledged);
            answered_ = reply;
        }
        break;
    case lsReading:
        onRead(reply);
        break;
    default:
        break;
    }
}

void LanLink::onDrained()
{
    NotificationScope scope;
    if (answered_)
        emit answered(*std::exchange(answered_, std::nullopt));
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
        disable(timerWaitAck_);
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
        // The read is over, however few blocks came: nothing is asked again
        // while its box is open.
        disable(timerWaitAck_);
        disable(timerWaitBlock_);
        emit readEnded();
        break;
    default:
        break;
    }
}

} // namespace tarvil
