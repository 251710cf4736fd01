#pragma once

#include "link/AnswerTimes.h"
#include "link/LinkConfig.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "link/Packets.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QTimer;

namespace tarvil {

class Deferred;
class Dialogs;
class LinkView;
class StopFlag;

// The USB link: the serial port, the poll cycle and its watch, and the
// stop-and-wait stream of a write. The link remembers the frame (a poll or a
// packet) it last wrote, so that a write takes a reply byte only as the
// answer to that frame.
//
// Outside a write the poll cycle runs as described whatever happens: a poll
// answered late is still an answer to a poll. Whatever leaves it unknown
// which frame a byte answers only puts the cycle in doubt (PollingInDoubt):
// a frame that went unanswered, two answers in one burst, an answer with
// nothing in flight or followed by noise, "USB" chosen again with a poll in
// flight. The doubt stays until a write needs the link: before packet 0, and
// before a stream goes on after a lost answer, the link settles it. It sends
// nothing until two watch intervals have passed without a reply byte, then
// polls, and trusts the link again on that poll's answer. A fatal 0x02 and a
// 0x25 count whenever they come.
//
// Every answer matched to its frame, polls and packets alike, is timed from
// the frame's last byte written to the answer byte: a USB bridge holds what
// it receives until its latency timer runs out, and that sets the pace of a
// write. Polls follow each other without pause while the link is up, so the
// figure is there before a write starts.
class UsbLink : public QObject {
    Q_OBJECT
public:
    enum class State {
        Closed,         // port not open
        Polling,        // the poll cycle, every answer matched to its frame;
                        // connected() tells whether the last poll was answered
        PollingInDoubt, // the poll cycle, as above, but an answer may belong to an earlier frame
        Settling,       // a write waits: quiet until two watch intervals pass without a reply byte, then a poll
        WaitingToStart, // a write awaits the answer to the one frame in flight, then sends its next frame
        Streaming,      // a write: one packet per acknowledgement
    };
    enum class WriteEnd { Done, NoAnswer, Fatal, Lost };

    // Null `serial` means the real QSerialPort.
    UsbLink(LinkView &view, Dialogs &dialogs, Deferred &deferred, const StopFlag &stop, const LinkConfig &config,
            std::unique_ptr<SerialPort> serial = {}, QObject *parent = nullptr);
    ~UsbLink() override;

    // "USB": opens the port (asking which, the first time) and polls.
    void USB1Click();
    // "LAN" was chosen: the port is closed and a new USB choice asks again.
    void releasePort();
    // A confirmed close: port closed, every timer off, the stream dropped.
    void shutdown();

    State state() const { return state_; }
    // UsbConnected: the transceiver answered the last poll; a write leaves it as it was.
    bool connected() const { return connected_; }
    bool writing() const { return stream_.has_value(); }
    bool isOpen() const;
    QString portName() const { return portName_; }
    SerialPort &serialPort() { return *serial_; }

    // The median of the last answers' times; nothing before the first. It
    // starts afresh whenever a port opens.
    std::optional<std::chrono::nanoseconds> answerTime() const { return answers_.median(); }
    int answersTimed() const { return answers_.count(); }
    // What the system tells of the open port's adapter, and what opening it
    // did with the low-latency flag.
    const PortDetails &adapter() const { return adapter_; }
    LowLatency lowLatency() const { return serial_->lowLatency(); }

    // Streams `packets`: packet 0, packet 0 again, then 1..n-1, each on the
    // acknowledgement of the one before; done on the acknowledgement of the
    // last. Started again while one runs, the stream begins anew at packet 0.
    void startWrite(const PacketList &packets);

    // Handlers of the port's and the link's own notifications.
    void ComPortTriggerAvail();
    void ComPortTriggerTimer();
    void TimerUsbWriteTimer();

signals:
    // The port opened: USB is the link to use from now on.
    void chosen();
    // No link is to be used: the port did not open, or the transceiver
    // reported a fatal error.
    void unusable();
    // The port failed by itself: USB, if it was the link, is no more.
    void lost();
    // Packet 0 of a stream of `frames` frames is about to be written, the
    // first time only.
    void streamStarting(int frames);
    // Frame `position` of the stream (0..count) has just been written.
    void progressed(int position, int count);
    void writeEnded(tarvil::UsbLink::WriteEnd end);

private:
    // The bytes waiting at the port, taken as one burst.
    void takeArrived();

    struct Frame {
        bool poll = true;
        int position = 0; // of a packet in the stream
    };
    struct Stream {
        PacketList packets;
        int confirmed = 0; // frames acknowledged, in order
        bool announced = false; // streamStarting() emitted
        int frames() const { return packets.count() + 1; }
    };

    bool openPort(QString *problem);
    void armWatch(int ticks);
    void disarmWatch();
    void writePoll();
    void sendFrame(int position);
    void timeAnswer(qint64 arrivedNs);
    void settle();
    void doubt();
    bool polling() const { return state_ == State::Polling || state_ == State::PollingInDoubt; }
    void showOffline();
    void onReply(int reply, const Frame &frame);
    void complete();
    void endWrite(WriteEnd end);
    void fatal();
    void onSerialFailed(const QString &reason);

    LinkView &view_;
    Dialogs &dialogs_;
    Deferred &deferred_;
    const StopFlag &stop_;
    LinkConfig config_;
    std::unique_ptr<SerialPort> serial_;
    QTimer *linkWatch_;
    QTimer *timerUsbWrite_;

    State state_ = State::Closed;
    bool connected_ = false;
    std::optional<Frame> inFlight_;
    std::optional<Stream> stream_;
    QString portName_; // empty: no port chosen ("ComNumber 0")

    AnswerTimes answers_;
    QElapsedTimer clock_;
    qint64 sentNs_ = 0; // on clock_: when the frame in flight was written
    PortDetails adapter_;
};

} // namespace tarvil
