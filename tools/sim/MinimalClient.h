#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <chrono>

class QUdpSocket;

namespace tarvil::sim {

struct ClientResult {
    bool ok = false;
    QString error;                     // why it failed; empty on success
    std::chrono::nanoseconds elapsed{}; // from the first request to the last reply
    int requests = 0;                  // datagrams or packets sent
    QByteArray image;                  // a read: the image received
};

// The benchmark's baseline: the tool's exchanges with nothing else around
// them. No retries and no per-request timers; each request goes out the
// moment the answer to the one before it has arrived. One overall time limit
// guards against a transceiver that never answers.
class MinimalClient : public QObject {
    Q_OBJECT
public:
    // `target` and `port`: the transceiver's LAN address. The client binds
    // `localAddress`:`localPort` (0: any free port), with address sharing.
    explicit MinimalClient(const QHostAddress &target, quint16 port = 9999, QObject *parent = nullptr);
    ~MinimalClient() override;

    void setLocalEndpoint(const QHostAddress &address, quint16 port);
    void setTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }

    // "AT+DATF", the 60 data blocks and the common block of `image`, each
    // awaited, "AT+FPDE", then "AT+CONFIG" awaited: ok on the success reply.
    ClientResult lanWrite(const QByteArray &image);
    // "AT+READF", every datagram acknowledged with "AT+RDY0" until the end
    // datagram that follows the common block.
    ClientResult lanRead();
    // The 14 202 packets of `image` over the pseudo-terminal `devicePath`,
    // stop-and-wait as the tool sends them: packet 0, packet 0 again on the
    // first acknowledgement, then packets 1..14201; done on the acknowledgement
    // after the last. A negative acknowledgement repeats the packet it answers.
    ClientResult usbWrite(const QString &devicePath, const QByteArray &image);

private:
    bool ensureSocket(QString *error);

    QHostAddress target_;
    quint16 port_;
    QHostAddress localAddress_ = QHostAddress::AnyIPv4;
    quint16 localPort_ = 0;
    std::chrono::milliseconds limit_{30000};
    QUdpSocket *socket_ = nullptr;
};

} // namespace tarvil::sim
