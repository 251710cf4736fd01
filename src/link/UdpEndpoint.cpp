#include "link/UdpEndpoint.h"

#include "model/IpAddress.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace tarvil {

namespace {

// A flood of datagrams must not grow memory without bound while a box is open.
constexpr qsizetype kMaxQueued = 4096;

QString dottedText(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v = address.toIPv4Address(&ok);
    if (!ok)
        return address.toString();
    return QStringLiteral("%1.%2.%3.%4").arg(v >> 24).arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

} // namespace

QtUdpEndpoint::QtUdpEndpoint(QObject *parent) : UdpEndpoint(parent), socket_(new QUdpSocket(this))
{
    connect(socket_, &QUdpSocket::readyRead, this, &QtUdpEndpoint::drain);
}

QtUdpEndpoint::~QtUdpEndpoint() = default;

bool QtUdpEndpoint::bind(std::uint16_t port, QString *reason)
{
    if (socket_->state() == QAbstractSocket::BoundState)
        return true;
    const bool ok = socket_->bind(QHostAddress::AnyIPv4, port,
                                  QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    if (!ok && reason)
        *reason = socket_->errorString();
    return ok;
}

bool QtUdpEndpoint::isBound() const { return socket_->state() == QAbstractSocket::BoundState; }

void QtUdpEndpoint::setRemoteHost(const QString &text, std::uint16_t port)
{
    remoteText_ = text;
    remotePort_ = port;
}

void QtUdpEndpoint::send(const QByteArray &datagram)
{
    if (!isBound())
        return;
    // The text as the address prompt accepted it: "010" is ten, not octal.
    const std::uint32_t v = TextToIp(remoteText_);
    if (v == 0)
        return;
    const quint32 hostOrder = (v & 0xFF) << 24 | ((v >> 8) & 0xFF) << 16 | ((v >> 16) & 0xFF) << 8 | (v >> 24);
    socket_->writeDatagram(datagram, QHostAddress(hostOrder), remotePort_);
}

void QtUdpEndpoint::drain()
{
    // Qt does not signal readyRead again while this slot runs, and it holds
    // back the next notification until the waiting datagram is read: so what
    // arrived while the receivers ran is read here too, or the link would go
    // deaf.
    do {
        while (socket_->hasPendingDatagrams()) {
            const QNetworkDatagram d = socket_->receiveDatagram();
            if (pending_.size() < kMaxQueued)
                pending_.append({d.data(), dottedText(d.senderAddress()), std::uint16_t(d.senderPort())});
        }
        dispatch();
    } while (socket_->hasPendingDatagrams());
    emit drained();
}

void QtUdpEndpoint::dispatch()
{
    // Everything waiting has been read before the first receiver runs, so a
    // receiver that opens a modal box leaves nothing unread behind it. A
    // nested dispatch (from a box's loop) carries on with the same queue, in
    // arrival order.
    while (!pending_.isEmpty()) {
        const Pending p = pending_.takeFirst();
        emit datagramReceived(p.data, p.from, p.port);
    }
}

} // namespace tarvil
