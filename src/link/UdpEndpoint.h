#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

class QUdpSocket;

namespace tarvil {

// The UDP endpoint of the LAN link: bound on every local IPv4 address, sends
// to one remote host. Every datagram that arrives is handed on as
// datagramReceived(), after all datagrams waiting have been read; drained()
// follows the last of them.
class UdpEndpoint : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UdpEndpoint() override = default;

    virtual bool bind(std::uint16_t port, QString *reason) = 0;
    virtual bool isBound() const = 0;
    // A dotted IPv4 text; later sends go to it on `port`.
    virtual void setRemoteHost(const QString &text, std::uint16_t port) = 0;
    virtual QString remoteHost() const = 0;
    virtual void send(const QByteArray &datagram) = 0;

signals:
    // `fromIp` is the sender as "%d.%d.%d.%d".
    void datagramReceived(const QByteArray &data, const QString &fromIp, std::uint16_t port);
    // Every datagram read in one go has been handed on.
    void drained();
};

class QtUdpEndpoint : public UdpEndpoint {
    Q_OBJECT
public:
    explicit QtUdpEndpoint(QObject *parent = nullptr);
    ~QtUdpEndpoint() override;

    bool bind(std::uint16_t port, QString *reason) override;
    bool isBound() const override;
    void setRemoteHost(const QString &text, std::uint16_t port) override;
    QString remoteHost() const override { return remoteText_; }
    void send(const QByteArray &datagram) override;

private:
    struct Pending {
        QByteArray data;
        QString from;
        std::uint16_t port;
    };
    void drain();
    void dispatch();

    QUdpSocket *socket_;
    QString remoteText_;
    std::uint16_t remotePort_ = 9999;
    QList<Pending> pending_;
};

} // namespace tarvil
