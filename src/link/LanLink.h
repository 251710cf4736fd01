#pragma once

#include "link/LanFrame.h"
#include "link/LinkConfig.h"
#include "link/LinkState.h"
#include "link/UdpEndpoint.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QTimer;

namespace tarvil {

class ConfigImage;
class Dialogs;
class LinkView;
class StopFlag;

// The LAN link: the UDP endpoint, the connect, the keep-alive, the request
// slot that TimerWaitAck repeats, and the receive path, which recognises each
// reply only in the step that awaits it and stores the blocks of a read.
//
// Its state is LinkState, and only the link changes it. A transaction asks
// for a reply with request() and hears of it through answered(), or of its
// absence through failed(); the state then rests in lsAcknowledged (or
// lsReadDone, lsFailed), where nothing more is taken, until the transaction
// sends its next request or gives the link back with release(). answered()
// comes once every datagram that arrived with the reply has been read, so a
// copy of the reply that came with it is taken by nothing. The signals come
// from inside socket and timer notifications: a transaction may send its next
// request there, but shows a box only once the notification is over.
class LanLink : public QObject {
    Q_OBJECT
public:
    // Null `udp` means the real QUdpSocket endpoint; it is bound at once.
    LanLink(LinkView &view, Dialogs &dialogs, const StopFlag &stop, const LinkConfig &config,
            std::unique_ptr<UdpEndpoint> udp = {}, QObject *parent = nullptr);
    ~LanLink() override;

    // "LAN": asks for the address, then waits for the transceiver's "OK" with
    // a countdown of its own; returns at once, connected() or the countdown
    // ends it.
    void LanClick();
    bool connecting() const;

    LinkState state() const { return state_; }
    QString transceiverAddress() const { return transceiverAddress_; }
    void setTransceiverAddress(const QString &address) { transceiverAddress_ = address; }
    // A port that could not be bound is reported once, at the first showing.
    void reportBindFailure();
    UdpEndpoint &endpoint() { return *udp_; }

    // For the transactions. request(): the bytes go into the request slot,
    // RetriesLeft := retries, they are sent, LinkState := awaiting and
    // TimerWaitAck runs. sendOnce(): into the slot and sent, nothing awaited.
    void request(const QByteArray &bytes, LinkState awaiting, int retries);
    void sendOnce(const QByteArray &bytes);
    // A read: its blocks go into `target`; "AT+READF" is sent and awaited.
    void beginRead(ConfigImage &target, int retries);
    // The transaction has ended: TimerWaitAck (and a read's TimerWaitBlock)
    // off, the read's target let go, LinkState lsIdle, the keep-alive as asked.
    void release(bool keepAlive);
    void keepAlive(bool on);
    void stopTimersForExit();
    // A confirmed close: a connect's countdown runs out at once, waits end.
    void shutdown();

    // Handlers of the link's own notifications.
    void ConfUDPDataReceived(const QByteArray &datagram, const QString &fromIp, std::uint16_t port);
    void TimerWaitAckTimer();
    void TimerWaitBlockTimer();
    void TimerUDPTimer();

signals:
    // "LAN" was chosen with a valid address: the link to use from now on.
    void chosen();
    // The reply a request awaited has come: the ready reply, an "OK", or the
    // write's result (Success or Failure).
    void answered(tarvil::LanReply reply);
    // The end datagram of a read.
    void readEnded();
    // A request's retries ran out, or a read's blocks stopped coming.
    void failed();
    // Image bytes of a read stored (235 a block, 102 the common block).
    void readStored(int bytes);

private:
    void setState(LinkState state);
    void fail();
    void send(const QByteArray &bytes);
    void acknowledgeRead();
    void onRead(LanReply reply);
    void connectTimedOut();
    void onDrained();

    LinkView &view_;
    Dialogs &dialogs_;
    const StopFlag &stop_;
    LinkConfig config_;
    std::unique_ptr<UdpEndpoint> udp_;
    bool bound_ = false;
    QString bindError_;
    bool bindReported_ = false;

    QTimer *timerUdp_;
    QTimer *timerWaitAck_;
    QTimer *timerWaitBlock_;
    QTimer *timerConnect_;

    LinkState state_ = lsConnecting;
    QByteArray requestBuffer_ = QByteArray(LanFrame::kBufferSize, '\0');
    int requestLength_ = 0;
    int retriesLeft_ = 0;
    LanFrame frame_;
    std::optional<LanReply> answered_; // told once the datagrams waiting have been read
    std::int32_t lastBlock_ = -1;
    ConfigImage *readTarget_ = nullptr;
    QString transceiverAddress_;
};

} // namespace tarvil

Q_DECLARE_METATYPE(tarvil::LanReply)
