#pragma once

#include "link/PortChoice.h"
#include "link/PortInfo.h"
#include "link/SerialFlags.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QSerialPort;

namespace tarvil {

// The serial port of the USB link, as the link needs it. Everything runs on
// the window's thread: the system buffers what arrives, and dataAvailable()
// and failed() are delivered by the event loop once bytes wait or the port
// fails.
class SerialPort : public QObject {
    Q_OBJECT
public:
    enum class OpenError { None, NotFound, Busy, Permission, Other };

    using QObject::QObject;
    ~SerialPort() override = default;

    // 115200 baud 8N1, no flow control, DTR and RTS raised. Opening an open
    // port does nothing and succeeds.
    virtual bool open(const QString &name, OpenError *error, QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual qint64 bytesAvailable() const = 0;
    // The oldest waiting byte, or -1 when none waits.
    virtual int readByte() = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Takes what the system already holds for the port without waiting for
    // the event loop to say so; the count taken (0 where nothing was, or the
    // port cannot do this). Taken bytes come after those already waiting.
    virtual qint64 fetchWaiting() { return 0; }
    // Free bytes of the 4096-byte output buffer.
    virtual int outputFree() const = 0;
    // The ports the chooser offers.
    virtual QList<PortEntry> ports() const = 0;
    // What the system tells of the open port's adapter, and what opening it
    // did with the driver's low-latency flag. A port that knows nothing of
    // its adapter says so.
    virtual PortDetails details() const { return {}; }
    virtual LowLatency lowLatency() const { return LowLatency::Unsupported; }

signals:
    void dataAvailable();
    // The device failed while open (a pulled cable, the other side of a
    // pseudo-terminal closed). The port has already been closed.
    void failed(const QString &reason);
};

inline constexpr int kSerialBufferSize = 4096;

// The real port on QSerialPort. Opening it lowers the adapter's latency
// where the system lets any user do so (`flags`; null: the system's), and
// closing it puts the driver's flags back.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr, std::unique_ptr<SerialFlags> flags = {});
    ~QtSerialPort() override;

    bool open(const QString &name, OpenError *error, QString *reason) override;
    void close() override;
    bool isOpen() const override;
    qint64 bytesAvailable() const override;
    int readByte() override;
    void write(const QByteArray &bytes) override;
    qint64 fetchWaiting() override;
    int outputFree() const override;
    QList<PortEntry> ports() const override { return availablePorts(); }
    PortDetails details() const override;
    LowLatency lowLatency() const override { return latency_.state(); }

    // The serial devices present, for the port chooser. On Windows COM1..COM50.
    static QList<PortEntry> availablePorts();

private:
    void onError(int error);
    void closePort();

    QSerialPort *port_;
    std::unique_ptr<SerialFlags> flags_;
    LowLatencySwitch latency_;
    QString name_; // as opened
    // Bytes fetchWaiting() took past Qt's buffer, while that was empty: they
    // go before anything Qt reads later.
    QByteArray fetched_;
    bool configuring_ = false;
};

} // namespace tarvil
