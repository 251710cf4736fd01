#pragma once

#include "Faults.h"
#include "SimProtocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

#include <deque>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace tarvil::sim {

// One frame the simulator received, with what it did about it.
struct UsbFrame {
    FrameKind kind = FrameKind::Data;
    std::uint16_t address = 0;
    std::uint8_t data = 0;
    int index = -1;       // data packets: 0, 1, ... in arrival order; polls: their own count
    int reply = -1;       // the byte answered, -1 for none
    bool replyLost = false; // a drop fault took the reply
    bool held = false;    // a stall fault holds the reply back
    bool stored = false;  // the data byte went into the image
    qint64 elapsedNs = 0; // since the simulator was created
};

// The transceiver's USB side on a pseudo-terminal. The tool opens the slave
// device (devicePath()) as its serial port; the simulator reads the master,
// cuts the stream into 6-byte frames, and answers every poll and every data
// packet with one byte, storing each accepted data byte in its image.
//
//     UsbSimulator sim;
//     sim.open();                      // sim.devicePath(): "/dev/pts/7"
//     ... the tool writes over USB ...
//     QTRY_COMPARE(sim.writesCompleted(), 1);
//     sim.packetsAt(0);                // 2: the tool sends packet 0 twice
//     sim.close();                     // the tool's port fails at once
class UsbSimulator : public QObject {
    Q_OBJECT
public:
    explicit UsbSimulator(QObject *parent = nullptr);
    ~UsbSimulator() override;

    // A new pseudo-terminal in raw mode; false with errorString on failure.
    bool open();
    // Closes the pseudo-terminal at once; the tool then sees its port fail.
    void close();
    bool isOpen() const { return master_ >= 0; }
    QString devicePath() const { return path_; }
    QString errorString() const { return error_; }

    // Takes effect with the next frame. Packet indexes count on from the
    // packets already received; clearLog() starts them at 0 again.
    void setFaults(const UsbFaults &faults);
    const UsbFaults &faults() const { return faults_; }

    // sampleImage() until set or written. False when `image` is not 14 202 bytes.
    bool setImage(const QByteArray &image);
    QByteArray image() const { return image_; }

    // Every frame in arrival order (while recording is on).
    const QList<UsbFrame> &frames() const { return frames_; }
    int polls() const { return polls_; }
    int dataPackets() const { return dataPackets_; }
    int packetsAt(int address) const;
    qint64 discardedBytes() const { return parser_.discardedBytes(); }
    // Writes that stored every address of the image since the last poll.
    int writesCompleted() const { return writesCompleted_; }
    // Frames and counters back to zero; the image stays.
    void clearLog();

    // The tool polls without pause while it is connected: a console that runs
    // for hours keeps only the counters.
    void setRecordFrames(bool on) { recordFrames_ = on; }
    void setLogging(bool on) { logging_ = on; }

signals:
    void frameReceived(const tarvil::sim::UsbFrame &frame);
    void writeCompleted();
    void closed();
    void logLine(const QString &line);

private:
    void onReadable();
    void handleFrame(const Frame &frame);
    void answer(UsbFrame &entry, std::uint8_t byte, ReplySelector::Kind kind);
    // Reply bytes leave through the outbox, in order, each when it is due.
    void queueByte(std::uint8_t byte, qint64 delayNs, bool paced);
    void flushDue();
    void writeByte(std::uint8_t byte);
    void finish(const UsbFrame &entry);
    void resetStream();
    qint64 now() const { return clock_.nsecsElapsed(); }

    int master_ = -1;
    int slave_ = -1; // held open so the master never reads a hang-up between the tool's opens
    QSocketNotifier *notifier_ = nullptr;
    QString path_;
    QString error_;
    UsbFaults faults_;
    ReplyDropper dropper_;
    SelectorCount stalls_;
    SelectorCount answers_;
    int pacedSoFar_ = 0;
    std::vector<std::uint8_t> naksGiven_; // per address, for UsbFaults::nakTimes
    QRandomGenerator random_;
    QElapsedTimer clock_;
    FrameParser parser_;
    bool stopped_ = false;
    bool recordFrames_ = true;
    bool logging_ = false;
    int quietPolls_ = 0; // polls answered since the last logged line

    QByteArray image_;
    std::vector<int> perAddress_;
    std::vector<bool> streamSeen_;
    int streamCount_ = 0;

    struct Outgoing {
        std::uint8_t byte;
        qint64 dueNs;
    };
    std::deque<Outgoing> outbox_;
    qint64 lastDueNs_ = 0;
    QTimer *outTimer_ = nullptr;
    // Where the system has one, a timer to the nanosecond in its place.
    int dueFd_ = -1;
    QSocketNotifier *dueNotifier_ = nullptr;
    void startDue(qint64 waitNs);
    void stopDue();

    QList<UsbFrame> frames_;
    int polls_ = 0;
    int dataPackets_ = 0;
    int writesCompleted_ = 0;
};

} // namespace tarvil::sim

Q_DECLARE_METATYPE(tarvil::sim::UsbFrame)
