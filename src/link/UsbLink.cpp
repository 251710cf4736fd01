#include "link/UsbLink.h"

#include "link/Deferred.h"
#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/Notifications.h"
#include "link/SerialPort.h"
#include "link/Texts.h"
#include "link/Timers.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace tarvil {

namespace {

constexpr int kAck = 0x01;
constexpr int kFatal = 0x02;
constexpr int kNak = 0x15;
constexpr int kMemoryFailure = 0x25;

constexpr int kPollTicks = 2;
constexpr int kWatchTicks = 5;
// Settling a doubt, the link keeps quiet this long after the last reply byte
// it heard: two watch intervals, so that an answer that was merely late has
// come.
constexpr int kQuietTicks = 2 * kWatchTicks;

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

} // namespace

UsbLink::UsbLink(LinkView &view, Dialogs &dialogs, Deferred &deferred, const StopFlag &stop,
                 const LinkConfig &config, std::unique_ptr<SerialPort> serial, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), deferred_(deferred), stop_(stop), config_(config),
      serial_(std::move(serial))
{
    setObjectName(QStringLiteral("UsbLink"));
    if (!serial_)
        serial_ = std::make_unique<QtSerialPort>();
    serial_->setParent(nullptr);
    serial_->setObjectName(QStringLiteral("ComPort"));
    // An expired trigger disarms itself.
    linkWatch_ = makeTimer(this, "LinkWatchTrigger", config_.timings.serialTick, true);
    timerUsbWrite_ = makeTimer(this, "TimerUsbWrite", config_.timings.usbWriteTimeout, true);
    connect(linkWatch_, &QTimer::timeout, this, &UsbLink::ComPortTriggerTimer);
    connect(timerUsbWrite_, &QTimer::timeout, this, &UsbLink::TimerUsbWriteTimer);
    // Arriving bytes are handled inside the port's notification: a trip
    // through the event loop for every answer would cost more than the
    // answer itself on a fast adapter. The handler opens no box and reads
    // every byte that waits, so the port is never left deaf.
    connect(serial_.get(), &SerialPort::dataAvailable, this, &UsbLink::ComPortTriggerAvail);
    connect(serial_.get(), &SerialPort::failed, this, &UsbLink::onSerialFailed, Qt::QueuedConnection);
    clock_.start();
}

UsbLink::~UsbLink()
{
    if (serial_)
        serial_->close();
}

bool UsbLink::isOpen() const { return serial_ && serial_->isOpen(); }

bool UsbLink::openPort(QString *problem)
{
    if (serial_->isOpen())
        return true;
    if (portName_.isEmpty()) {
        PortChoiceRequest request;
        request.caption = texts::kSelectPort;
        request.lines = {texts::kPortNotValid, texts::kChooseAnotherPort};
        request.ports = serial_->ports();
        const auto chosen = dialogs_.choosePort(request);
        if (!chosen || chosen->trimmed().isEmpty())
            return false;
        portName_ = chosen->trimmed();
    }
    SerialPort::OpenError error = SerialPort::OpenError::None;
    QString reason;
    if (serial_->open(portName_, &error, &reason)) {
        // Another port, or the same one plugged in anew: another adapter.
        answers_.clear();
        adapter_ = serial_->details();
        return true;
    }
#ifndef Q_OS_WIN
    if (error == SerialPort::OpenError::Permission)
        *problem = texts::portPermission(portName_);
#endif
    if (problem->isEmpty() && !reason.isEmpty())
        *problem = QStringLiteral("%1: %2").arg(portName_, reason);
    // A port that does not open is forgotten, so the next choice asks again.
    portName_.clear();
    return false;
}

void UsbLink::USB1Click()
{
    // A write owns the link until it ends: its watch, the frame in flight and
    // the command lock stay as they are.
    if (stream_)
        return;
    QString problem;
    if (openPort(&problem)) {
        disarmWatch();
        view_.setCaption(CaptionMode::Usb, captionDetail(portName_));
        emit chosen();
        view_.UnlockCommands();
    } else {
        dialogs_.message(texts::noComPort(problem));
        emit unusable();
        state_ = State::Closed;
        view_.setWrBtnVisible(false);
        view_.setGaugeVisible(false);
        view_.setCommandEnabled(Command::ItemWr, false);
        view_.setCommandEnabled(Command::ItemRead, false);
        view_.setCaption(CaptionMode::Offline);
        view_.setStatusText(texts::kNoLink);
        return;
    }
    if (state_ == State::Closed)
        state_ = State::Polling;
    // Chosen again with the port open: a new poll at once, as at the first
    // choice. The one in flight may still be answered, so an answer may now
    // belong to either.
    if (inFlight_)
        doubt();
    writePoll();
    armWatch(kPollTicks);
}

void UsbLink::releasePort()
{
    serial_->close();
    disarmWatch();
    inFlight_.reset();
    portName_.clear();
    state_ = State::Closed;
    if (stream_)
        endWrite(WriteEnd::Lost);
}

void UsbLink::shutdown()
{
    serial_->close();
    disarmWatch();
    timerUsbWrite_->stop();
    inFlight_.reset();
    stream_.reset();
    state_ = State::Closed;
}

void UsbLink::armWatch(int ticks) { linkWatch_->start(config_.timings.serialTick * ticks); }

void UsbLink::disarmWatch() { linkWatch_->stop(); }

void UsbLink::writePoll()
{
    if (!serial_->isOpen() || serial_->outputFree() < kPacketSize)
        return;
    serial_->write(PollPacket().toByteArray());
    sentNs_ = clock_.nsecsElapsed();
    inFlight_ = Frame{true, 0};
}

void UsbLink::sendFrame(int position)
{
    if (!stream_ || !serial_->isOpen())
        return;
    if (position == 0 && !stream_->announced) {
        stream_->announced = true;
        emit streamStarting(stream_->frames());
        if (!stream_ || !serial_->isOpen())
            return;
    }
    // Packet 0 goes twice: as the stream's first frame and on its
    // acknowledgement. A packet of the write is never passed over: should the
    // output buffer ever be short of room, the port queues it all the same.
    const int index = std::max(0, position - 1);
    serial_->write(stream_->packets.at(index).toByteArray());
    sentNs_ = clock_.nsecsElapsed();
    inFlight_ = Frame{false, position};
    state_ = State::Streaming;
    // No polls and no link-loss display while the stream runs; the watch
    // only notices an answer that does not come, so that the stream goes on
    // from that frame once the link is back in step.
    armWatch(kWatchTicks);
    emit progressed(position, stream_->packets.count());
}

void UsbLink::settle()
{
    inFlight_.reset();
    state_ = State::Settling;
    armWatch(kQuietTicks);
}

void UsbLink::doubt()
{
    if (state_ == State::Polling)
        state_ = State::PollingInDoubt;
}

void UsbLink::showOffline()
{
    connected_ = false;
    view_.setWrBtnVisible(false);
    view_.setCommandEnabled(Command::ItemWr, false);
    view_.setCommandEnabled(Command::ItemRead, false);
    view_.setGaugeVisible(false);
    view_.setStatusText(texts::kNoLink);
    view_.setCaption(CaptionMode::Offline);
}

void UsbLink::startWrite(const PacketList &packets)
{
    if (!serial_->isOpen() || packets.isEmpty())
        return;
    stream_ = Stream{packets, 0};
    timerUsbWrite_->start();
    switch (state_) {
    case State::Settling: // packet 0 follows the poll that ends the quiet interval
    case State::Closed:
        break;
    case State::PollingInDoubt:
        settle();
        break;
    case State::Polling:
    case State::WaitingToStart:
    case State::Streaming:
        if (inFlight_) {
            // The answer to the frame in flight comes first; packet 0 goes
            // on it, so the link stays in step. Should it be lost, the link
            // settles and the write starts after that.
            state_ = State::WaitingToStart;
            armWatch(kWatchTicks);
        } else {
            sendFrame(0);
        }
        break;
    }
}

void UsbLink::ComPortTriggerTimer()
{
    NotificationScope scope;
    if (!serial_->isOpen())
        return;
    switch (state_) {
    case State::Closed:
        return;
    case State::Streaming:
        // An answer that did not come: settle, then go on from that frame. A
        // stream that a 0x25 stopped has nothing in flight and waits for the
        // next answer or the write's time-out.
        if (inFlight_)
            settle();
        return;
    case State::Settling:
        // Quiet for the whole interval: whatever was late has come or is
        // lost, and this poll is the only frame in flight.
        writePoll();
        state_ = stream_ ? State::WaitingToStart : State::Polling;
        armWatch(kWatchTicks);
        return;
    case State::WaitingToStart:
        // The frame the write waits on went unanswered.
        settle();
        return;
    case State::Polling:
    case State::PollingInDoubt:
        showOffline();
        // Its answer may still come, and be taken for the answer to the
        // next poll: harmless while polling, but not to be trusted by a write.
        if (inFlight_)
            doubt();
        writePoll();
        armWatch(kWatchTicks);
        return;
    }
}

void UsbLink::ComPortTriggerAvail()
{
    NotificationScope scope;
    takeArrived();
    // Whatever the system already holds is taken in the same turn, once: an
    // answer that came while the frame it answers was going out needs no
    // second trip through the event loop. Once only, so that a port that
    // never falls silent still lets the loop turn.
    if (!stop_.isSet() && serial_->isOpen() && serial_->fetchWaiting() > 0)
        takeArrived();
}

void UsbLink::takeArrived()
{
    if (stop_.isSet())
        return; // the bytes stay unread
    const qint64 count = serial_->bytesAvailable();
    if (count <= 0)
        return;
    const qint64 arrivedNs = clock_.nsecsElapsed();
    int replies = 0;
    int reply = -1; // the last reply byte
    int last = -1;  // the last byte of all
    bool fatalSeen = false;
    bool memoryFailureSeen = false;
    for (qint64 i = 0; i < count; ++i) {
        const int b = serial_->readByte();
        if (b < 0)
            break;
        last = b;
        if (isReplyByte(b)) {
            ++replies;
            reply = b;
            fatalSeen = fatalSeen || b == kFatal;
            memoryFailureSeen = memoryFailureSeen || b == kMemoryFailure;
        }
    }
    if (replies == 0 || state_ == State::Closed)
        return;
    // One reply byte, nothing after it, and a frame it can answer.
    const bool matched = replies == 1 && last == reply && inFlight_;
    if (polling()) {
        // The cycle goes on as described, on the last byte of the burst.
        // More answers than frames in flight, or an answer lost in noise,
        // leave it unknown which frame each byte answered; that matters
        // only to a write.
        if (!matched)
            doubt();
        if (last != reply)
            return;
        if (matched)
            timeAnswer(arrivedNs);
        inFlight_.reset();
        onReply(reply, Frame{});
        return;
    }
    if (!matched) {
        // A write cannot tell which frame these bytes answer; it settles
        // first. What the transceiver said about itself still counts.
        if (fatalSeen) {
            fatal();
            return;
        }
        if (memoryFailureSeen)
            deferred_.post([this] { dialogs_.message(texts::memoryFailure()); });
        if (state_ == State::Settling)
            armWatch(kQuietTicks); // the quiet interval begins again
        else
            settle();
        return;
    }
    const Frame frame = *inFlight_;
    timeAnswer(arrivedNs);
    inFlight_.reset();
    if (stream_)
        timerUsbWrite_->start(); // the transceiver is still answering
    onReply(reply, frame);
}

void UsbLink::timeAnswer(qint64 arrivedNs)
{
    answers_.add(std::chrono::nanoseconds(arrivedNs - sentNs_));
}

void UsbLink::onReply(int reply, const Frame &frame)
{
    if (reply == kFatal) {
        fatal();
        return;
    }
    if (reply == kMemoryFailure) {
        deferred_.post([this] { dialogs_.message(texts::memoryFailure()); });
        // The frame was answered but not taken. A write waiting to start
        // polls again; a stream does not go on by itself.
        if (state_ == State::WaitingToStart) {
            writePoll();
            armWatch(kPollTicks);
        }
        return;
    }
    switch (state_) {
    case State::Polling:
    case State::PollingInDoubt:
        if (reply == kAck) {
            view_.setStatusText(QString());
            connected_ = true;
            view_.setWrBtnVisible(true);
            view_.setCommandEnabled(Command::ItemWr, true);
            view_.setGaugeVisible(true);
            writePoll();
            armWatch(kPollTicks);
        } else {
            armWatch(kPollTicks); // a refused poll: the watch polls again
        }
        break;
    case State::WaitingToStart:
        // Packet 0 of a new stream, or the first frame not yet acknowledged
        // of one the link had to put back in step.
        sendFrame(stream_ ? stream_->confirmed : 0);
        break;
    case State::Streaming:
        if (!stream_)
            break;
        if (reply == kNak) {
            sendFrame(frame.position); // the rejected frame goes again
            break;
        }
        stream_->confirmed = frame.position + 1;
        if (stream_->confirmed >= stream_->frames())
            complete();
        else
            sendFrame(stream_->confirmed);
        break;
    case State::Closed:
    case State::Settling:
        break;
    }
}

void UsbLink::complete()
{
    // No poll here: the watch expires once and restarts the poll cycle.
    state_ = State::Polling;
    armWatch(kPollTicks);
    endWrite(WriteEnd::Done);
}

void UsbLink::endWrite(WriteEnd end)
{
    if (!stream_)
        return;
    stream_.reset();
    timerUsbWrite_->stop();
    emit writeEnded(end);
}

void UsbLink::TimerUsbWriteTimer()
{
    NotificationScope scope;
    if (!stream_)
        return;
    if (!polling() && state_ != State::Closed) {
        // The poll cycle takes over; an answer to the write's last frame may
        // still be on its way.
        state_ = inFlight_ || state_ == State::Settling ? State::PollingInDoubt : State::Polling;
        armWatch(kPollTicks);
    }
    endWrite(WriteEnd::NoAnswer);
}

void UsbLink::fatal()
{
    serial_->close();
    disarmWatch();
    inFlight_.reset();
    state_ = State::Closed;
    emit unusable();
    // Should the user stay, the window no longer shows a link that is closed.
    showOffline();
    endWrite(WriteEnd::Fatal);
    deferred_.post([this] {
        dialogs_.message(texts::fatalPanelType());
        view_.requestClose();
    });
}

void UsbLink::onSerialFailed(const QString &)
{
    NotificationScope scope;
    // The port has closed itself; the link is lost until USB is chosen again.
    disarmWatch();
    inFlight_.reset();
    state_ = State::Closed;
    emit lost();
    portName_.clear();
    showOffline();
    endWrite(WriteEnd::Lost);
}

} // namespace tarvil
