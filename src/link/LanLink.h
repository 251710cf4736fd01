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

class QTimer;

namespace tarvil {

class ConfigImage;
class Dialogs;
class LinkView;
class PumpWait;

// The LAN link: the UDP endpoint, the connect, the keep-alive, the request
// slot that TimerWaitAck repeats, and the receive path, which recognises each
// reply only in the step that awaits it and stores the blocks of a read.
// Its state is LinkState; the transactions drive it through request() and
// waitFor().
class LanLink : public QObject {
    Q_OBJECT
public:
    enum class WaitResult { Reached, Stopped, Failed };

    // Null `udp` means the real QUdpSocket endpoint; it is bound at once.
    LanLink(LinkView &view, Dialogs &dialogs, PumpWait &pump, LinkSession &session, const LinkConfig &config,
            std::unique_ptr<UdpEndpoint> udp = {}, QObject *parent = nullptr);
    ~LanLink() override;

    // "LAN": asks for the address and waits for the transceiver's "OK".
    void LanClick();

    LinkState state() const { return state_; }
    void setState(LinkState state);
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
    // Waits until LinkState is `target`, the retries ran out, or the tool stops.
    WaitResult waitFor(LinkState target, int n);
    // The write's result, once lsWaitResult has been answered.
    LanReply result() const { return result_; }
    // A read: its blocks go into `target`; "AT+READF" is sent and awaited.
    void beginRead(ConfigImage &target, int retries);
    void endRead() { readTarget_ = nullptr; }

    void keepAlive(bool on);
    void stopAckTimer();
    void stopWaitTimers();
    void stopTimersForExit();

    // Handlers of the link's own notifications.
    void ConfUDPDataReceived(const QByteArray &datagram, const QString &fromIp, std::uint16_t port);
    void TimerWaitAckTimer();
    void TimerWaitBlockTimer();
    void TimerUDPTimer();

signals:
    // Image bytes of a read stored (235 a block, 102 the common block).
    void readStored(int bytes);

private:
    void send(const QByteArray &bytes);
    void acknowledgeRead();
    void onRead(LanReply reply);

    LinkView &view_;
    Dialogs &dialogs_;
    PumpWait &pump_;
    LinkSession &session_;
    LinkConfig config_;
    std::unique_ptr<UdpEndpoint> udp_;
    bool bound_ = false;
    QString bindError_;
    bool bindReported_ = false;

    QTimer *timerUdp_;
    QTimer *timerWaitAck_;
    QTimer *timerWaitBlock_;

    LinkState state_ = lsConnecting;
    QByteArray requestBuffer_ = QByteArray(LanFrame::kBufferSize, '\0');
    int requestLength_ = 0;
    int retriesLeft_ = 0;
    LanFrame frame_;
    LanReply result_ = LanReply::None;
    std::int32_t lastBlock_ = -1;
    ConfigImage *readTarget_ = nullptr;
    QString transceiverAddress_;
};

} // namespace tarvil
