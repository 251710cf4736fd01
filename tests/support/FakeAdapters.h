#pragma once

// Scriptable stand-ins for the serial port and the UDP endpoint.
//
//   auto serial = std::make_unique<FakeSerialPort>();
//   FakeSerialPort *port = serial.get();
//   Links links(view, view, image, config, std::move(serial), std::make_unique<FakeUdpEndpoint>());
//   port->feed("\x01");                 // bytes arrive; dataAvailable() is emitted
//   port->written                       // every block written, in order
//   port->injectFailure();              // the device vanishes
//   port->portDetails = ...;            // the adapter the system reports
//
//   FakeSerialFlags flags;              // a driver's flags (Linux TIOCGSERIAL)
//   flags.flags = 0x40;                 // nothing: a device that keeps none
//   flags.accepts = false;              // it refuses a change
//   flags.written                       // every change asked for, in order
//
//   udp->deliver("OK", "127.0.0.2");    // a datagram arrives from that sender
//   udp->sent                           // every datagram sent, in order

#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace tarvil::test {

class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    bool openResult = true;
    OpenError openError = OpenError::None;
    QStringList opened;
    QList<QByteArray> written;
    QByteArray input;
    int freeSpace = kSerialBufferSize;
    bool openNow = false;

    bool open(const QString &name, OpenError *error, QString *reason) override
    {
        if (openNow)
            return true;
        opened << name;
        if (!openResult) {
            if (error)
                *error = openError;
            if (reason)
                *reason = QStringLiteral("cannot open");
            return false;
        }
        openNow = true;
        return true;
    }
    void close() override { openNow = false; }
    bool isOpen() const override { return openNow; }
    qint64 bytesAvailable() const override { return openNow ? input.size() : 0; }
    int readByte() override
    {
        if (input.isEmpty())
            return -1;
        const int b = static_cast<unsigned char>(input.at(0));
        input.remove(0, 1);
        return b;
    }
    // Runs after every write; a test answers from here (feedLater).
    std::function<void(const QByteArray &)> onWrite;
    void write(const QByteArray &bytes) override
    {
        written << bytes;
        if (onWrite)
            onWrite(bytes);
    }
    void feedLater(const QByteArray &bytes)
    {
        QTimer::singleShot(0, this, [this, bytes] { feed(bytes); });
    }
    // What the system holds and only fetchWaiting() takes: one piece a call.
    QList<QByteArray> held;
    int fetches = 0;
    qint64 fetchWaiting() override
    {
        ++fetches;
        if (!openNow || held.isEmpty())
            return 0;
        const QByteArray piece = held.takeFirst();
        input.append(piece);
        return piece.size();
    }
    int outputFree() const override { return freeSpace; }
    QList<PortEntry> portList;
    QList<PortEntry> ports() const override { return portList; }
    PortDetails portDetails;
    LowLatency lowLatencyState = LowLatency::Unsupported;
    PortDetails details() const override { return portDetails; }
    LowLatency lowLatency() const override { return openNow ? lowLatencyState : LowLatency::NotOpen; }

    void feed(const QByteArray &bytes)
    {
        input.append(bytes);
        emit dataAvailable();
    }
    void injectFailure()
    {
        openNow = false;
        emit failed(QStringLiteral("device vanished"));
    }
    int pollsWritten() const
    {
        int n = 0;
        for (const auto &w : written)
            n += w.size() == 6 && w.at(0) == '#';
        return n;
    }
    QList<int> packetAddressesWritten() const
    {
        QList<int> out;
        for (const auto &w : written)
            if (w.size() == 6 && w.at(0) == ';')
                out << (static_cast<unsigned char>(w.at(1)) | static_cast<unsigned char>(w.at(2)) << 8);
        return out;
    }
};

class FakeSerialFlags : public SerialFlags {
public:
    std::optional<int> flags;
    bool accepts = true;
    QList<int> written;

    std::optional<int> read(qintptr) override { return flags; }
    bool write(qintptr, int f) override
    {
        written << f;
        if (!accepts || !flags)
            return false;
        flags = f;
        return true;
    }
};

class FakeUdpEndpoint : public UdpEndpoint {
    Q_OBJECT
public:
    bool bindResult = true;
    QList<QByteArray> sent;
    QString remote;
    std::uint16_t remotePort = 0;
    bool bound = false;

    bool bind(std::uint16_t, QString *reason) override
    {
        bound = bindResult;
        if (!bindResult && reason)
            *reason = QStringLiteral("address in use");
        return bindResult;
    }
    bool isBound() const override { return bound; }
    void setRemoteHost(const QString &text, std::uint16_t port) override
    {
        remote = text;
        remotePort = port;
    }
    QString remoteHost() const override { return remote; }
    // Runs after every send; a test answers from here (deliverLater).
    std::function<void(const QByteArray &)> onSend;
    void send(const QByteArray &datagram) override
    {
        sent << datagram;
        if (onSend)
            onSend(datagram);
    }
    // Delivered from the event loop, as a real reply would be.
    void deliverLater(const QByteArray &data, const QString &from)
    {
        QTimer::singleShot(0, this, [this, data, from] { deliver(data, from); });
    }

    void deliver(const QByteArray &data, const QString &from)
    {
        emit datagramReceived(data, from, 9999);
        emit drained();
    }
    int sentCount(const QByteArray &datagram) const
    {
        int n = 0;
        for (const auto &d : sent)
            n += d == datagram;
        return n;
    }
};

} // namespace tarvil::test
