#pragma once

#include "Faults.h"
#include "SimProtocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>

#include <bitset>
#include <optional>
#include <utility>

class QTcpSocket;
class QUdpSocket;

namespace tarvil::sim {

inline constexpr quint16 kDefaultLanPort = 9999;
inline QHostAddress defaultLanAddress() { return QHostAddress(QStringLiteral("127.0.0.2")); }

// One datagram the simulator received, in arrival order.
struct LanDatagram {
    QByteArray data;
    QHostAddress address; // sender
    quint16 port = 0;     // sender
    qint64 elapsedNs = 0; // since the simulator was created
    Request kind = Request::Unknown;
    int number = -1;      // block number of a write block
    bool unheard = false; // lost to LanFaults::lostRequests: nothing was done about it
};

// One reply, sent or lost to a fault.
struct LanReply {
    QByteArray data;
    QHostAddress address; // destination
    quint16 port = 0;
    qint64 elapsedNs = 0; // when it left, or when it was lost
    bool dropped = false;
    bool fromOtherAddress = false;
    bool extra = false;   // sent beside a reply by a fault (a copy, noise, a stray)
};

#ifndef Q_OS_WIN

// The transceiver's LAN side. It binds one loopback address and answers every
// request of the tool's LAN link, to the sender's address and port, in the
// order the tool expects them. The image it holds is what a write leaves and
// what a read returns.
//
//     LanSimulator sim;
//     sim.start(QHostAddress("127.0.0.2"), port);
//     sim.setImage(sampleImage());          // what a read returns
//     ... the tool writes ...
//     QTRY_COMPARE(sim.writesCompleted(), 1);
//     QCOMPARE(sim.image(), expected);
//     sim.received();                       // every datagram, in order
class LanSimulator : public QObject {
    Q_OBJECT
public:
    explicit LanSimulator(QObject *parent = nullptr);
    ~LanSimulator() override;

    // Binds with address sharing, so that the tool may bind the wildcard
    // address on the same port of the same machine.
    bool start(const QHostAddress &address = defaultLanAddress(), quint16 port = kDefaultLanPort);
    void stop();
    bool isRunning() const;
    QString errorString() const { return error_; }
    QHostAddress address() const { return address_; }
    quint16 port() const { return port_; }

    // Takes effect with the next request; false (with errorString) when the
    // other address cannot be bound.
    bool setFaults(const LanFaults &faults);
    const LanFaults &faults() const { return faults_; }

    // The image a read returns; sampleImage() until set or written.
    // False when `image` is not 14 202 bytes.
    bool setImage(const QByteArray &image);
    QByteArray image() const { return image_; }
    // One byte of the image, as another link of the same transceiver stores it.
    void setImageByte(int address, std::uint8_t value);

    const QList<LanDatagram> &received() const { return received_; }
    const QList<LanReply> &replies() const { return replies_; }
    QList<Request> receivedKinds() const;
    int writesCompleted() const { return writesCompleted_; }
    int writesFailed() const { return writesFailed_; }
    int readsCompleted() const { return readsCompleted_; }
    void clearLog();

    // A line per request for a console (off by default: it costs time).
    void setLogging(bool on) { logging_ = on; }

signals:
    void datagramReceived(const tarvil::sim::LanDatagram &datagram);
    void replySent(const tarvil::sim::LanReply &reply);
    void writeCompleted(); // the image now holds what the write sent
    void writeFailed();    // the failure reply was sent
    void readCompleted();  // the end datagram was acknowledged
    void logLine(const QString &line);

private:
    struct ReadStep {
        QByteArray datagram;
        ReplySelector::Kind kind;
        int number;
        bool chained; // leaves right after the step before it, without waiting for an ack
    };

    void onReadyRead();
    void drainOther();
    void handle(const QByteArray &data, const QHostAddress &from, quint16 port);
    // False when a drop fault took the reply.
    bool reply(const QByteArray &data, ReplySelector::Kind kind, int number, const QHostAddress &to, quint16 port,
               const QString &what);
    struct Outgoing {
        QByteArray data;
        std::chrono::milliseconds at;
        bool fromOther;
        bool extra;
    };
    // Each datagram at its time; those of one time in the order given.
    void send(const QList<Outgoing> &datagrams, const QHostAddress &to, quint16 port);
    void transmit(const QByteArray &data, const QHostAddress &to, quint16 port, bool fromOther, bool extra);
    // The reply a request would get, for LanFaults::lostRequests.
    std::optional<std::pair<ReplySelector::Kind, int>> answerTo(const ParsedRequest &request) const;
    void startRead(const QHostAddress &to, quint16 port);
    void sendReadSteps(const QHostAddress &to, quint16 port);
    void answerResult(const QHostAddress &to, quint16 port);
    bool bindOther();
    qint64 now() const { return clock_.nsecsElapsed(); }
    void log(const QString &line);

    QUdpSocket *socket_ = nullptr;
    QUdpSocket *other_ = nullptr;
    QHostAddress address_;
    quint16 port_ = 0;
    QString error_;
    LanFaults faults_;
    ReplyDropper dropper_;
    SelectorCount duplicates_;
    SelectorCount extras_;
    SelectorCount oversize_;
    SelectorCount lost_;
    SelectorCount late_;
    QElapsedTimer clock_;
    bool logging_ = false;
    QString currentRequest_; // the request being answered, for the log

    QByteArray image_;
    // A write lands in `staging_` and reaches the image only with its result,
    // so that a write broken off midway leaves the image as it was.
    QByteArray staging_;
    bool writeOpen_ = false;
    std::bitset<kBlocks + 1> blocksSeen_;
    bool missingStart_ = false; // blocks came without "AT+DATF"
    bool resultPending_ = false;
    bool resultGood_ = false;
    bool resultCommitted_ = false;

    QList<ReadStep> readSteps_;
    int readNext_ = -1; // step the next "AT+RDY0" releases; -1: no read
    bool readCompletes_ = false;

    QList<LanDatagram> received_;
    QList<LanReply> replies_;
    int writesCompleted_ = 0;
    int writesFailed_ = 0;
    int readsCompleted_ = 0;
};

#else

// On Windows the tests run under Wine, where a UDP socket bound to 127.0.0.2
// is bound to every loopback address: a simulator inside the test program
// would take the tool's own datagrams, and its replies would not come from
// its address. So the LAN side runs as the native tarvil-sim (named by
// TARVIL_NATIVE_SIM), started on demand, and this class drives it through its
// control connection (SimControl.h), with the in-process simulator's surface.
class LanSimulator : public QObject {
    Q_OBJECT
public:
    explicit LanSimulator(QObject *parent = nullptr);
    ~LanSimulator() override;

    bool start(const QHostAddress &address = defaultLanAddress(), quint16 port = kDefaultLanPort);
    void stop();
    bool isRunning() const { return running_; }
    QString errorString() const { return error_; }
    QHostAddress address() const { return address_; }
    quint16 port() const { return port_; }

    bool setFaults(const LanFaults &faults);
    const LanFaults &faults() const { return faults_; }
    bool setImage(const QByteArray &image);
    QByteArray image() const;
    void setImageByte(int address, std::uint8_t value);

    const QList<LanDatagram> &received() const;
    QList<Request> receivedKinds() const;
    int writesCompleted() const;
    int writesFailed() const;
    int readsCompleted() const;
    void clearLog();
    void setLogging(bool) {}

signals:
    void datagramReceived(const tarvil::sim::LanDatagram &datagram);

private:
    bool launch();
    // Sends a command and waits for its answer; events that come meanwhile
    // are emitted once the caller has returned.
    QJsonObject call(const QJsonObject &command) const;
    QJsonObject state() const;
    void take(const QByteArray &line) const;
    void onReadyRead();

    QTcpSocket *control_ = nullptr;
    bool running_ = false;
    QString error_;
    QHostAddress address_;
    quint16 port_ = 0;
    LanFaults faults_;
    std::optional<QByteArray> pendingImage_; // set before the start
    mutable bool inCall_ = false;
    mutable QList<QJsonObject> answers_;
    mutable QList<LanDatagram> received_;
};

#endif

} // namespace tarvil::sim

Q_DECLARE_METATYPE(tarvil::sim::LanDatagram)
Q_DECLARE_METATYPE(tarvil::sim::LanReply)
