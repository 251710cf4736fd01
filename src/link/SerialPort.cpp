#include "link/SerialPort.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace tarvil {

QtSerialPort::QtSerialPort(QObject *parent, std::unique_ptr<SerialFlags> flags)
    : SerialPort(parent), port_(new QSerialPort(this)), flags_(flags ? std::move(flags) : systemSerialFlags())
{
    port_->setObjectName(QStringLiteral("ComPortDevice"));
    connect(port_, &QSerialPort::readyRead, this, &SerialPort::dataAvailable);
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onError(int(e)); });
}

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::open(const QString &name, OpenError *error, QString *reason)
{
    if (error)
        *error = OpenError::None;
    if (port_->isOpen())
        return true;
    port_->setPortName(name);
    name_ = name;
    port_->setBaudRate(QSerialPort::Baud115200);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    port_->setReadBufferSize(kSerialBufferSize);
    configuring_ = true;
    const bool ok = port_->open(QIODevice::ReadWrite);
    if (!ok) {
        configuring_ = false;
        if (error) {
            switch (port_->error()) {
            case QSerialPort::DeviceNotFoundError: *error = OpenError::NotFound; break;
            case QSerialPort::PermissionError: {
                // Qt reports a port held by another program as a permission
                // error too; a device we may not read or write is the other case.
                const QSerialPortInfo info(*port_);
                const QFileInfo file(info.systemLocation().isEmpty() ? name : info.systemLocation());
                *error = file.exists() && (!file.isReadable() || !file.isWritable())
                             ? OpenError::Permission : OpenError::Busy;
                break;
            }
            default: *error = OpenError::Other; break;
            }
        }
        if (reason)
            *reason = port_->errorString();
        port_->clearError();
        return false;
    }
    // A pseudo-terminal has no modem lines and refuses them; it still works.
    port_->setDataTerminalReady(true);
    port_->setRequestToSend(true);
    // Whatever the device sent before the port was ours answers nothing the
    // link will write.
    port_->clear(QSerialPort::AllDirections);
    port_->clearError();
    configuring_ = false;
    // Where the call fails (a pseudo-terminal, a driver without the flag)
    // nothing changes, and that is no error: the adapter is only slower.
    latency_.lower(*flags_, qintptr(port_->handle()));
    return true;
}

void QtSerialPort::close()
{
    closePort();
    port_->clearError();
}

void QtSerialPort::closePort()
{
    if (!port_->isOpen())
        return;
    latency_.restore(*flags_, qintptr(port_->handle()));
    port_->close();
    fetched_.clear();
}

PortDetails QtSerialPort::details() const
{
    if (!port_->isOpen())
        return {};
    return PortInfo().describe(name_);
}

bool QtSerialPort::isOpen() const { return port_->isOpen(); }

qint64 QtSerialPort::bytesAvailable() const
{
    return port_->isOpen() ? fetched_.size() + port_->bytesAvailable() : 0;
}

int QtSerialPort::readByte()
{
    if (!port_->isOpen())
        return -1;
    if (!fetched_.isEmpty()) {
        const auto c = static_cast<unsigned char>(fetched_.front());
        fetched_.remove(0, 1);
        return c;
    }
    char c = 0;
    if (port_->read(&c, 1) != 1)
        return -1;
    return static_cast<unsigned char>(c);
}

qint64 QtSerialPort::fetchWaiting()
{
#ifndef Q_OS_WIN
    // Only while Qt's buffer is empty, so that nothing Qt holds is older than
    // what is taken here; and never past the buffer's size.
    if (!port_->isOpen() || port_->bytesAvailable() > 0 || fetched_.size() >= kSerialBufferSize)
        return 0;
    char bytes[256];
    const ssize_t n = ::read(int(port_->handle()), bytes,
                             std::min(sizeof bytes, size_t(kSerialBufferSize - fetched_.size())));
    // Nothing there, or a failing device: Qt's notifier sees the failure and
    // reports it as it always does.
    if (n <= 0)
        return 0;
    fetched_.append(bytes, n);
    return n;
#else
    // Windows reads through overlapped calls of Qt's own.
    return 0;
#endif
}

void QtSerialPort::write(const QByteArray &bytes)
{
    if (!port_->isOpen())
        return;
#ifndef Q_OS_WIN
    // Straight to the device while nothing waits in Qt's queue: QSerialPort
    // would switch its write notifier on and off around every frame, and
    // each switch wakes the event loop once more. Whatever the device does
    // not take at once goes through Qt's queue, behind what it did take.
    if (port_->bytesToWrite() == 0) {
        const ssize_t n = ::write(int(port_->handle()), bytes.constData(), size_t(bytes.size()));
        if (n == bytes.size())
            return;
        if (n > 0) {
            port_->write(bytes.constData() + n, bytes.size() - n);
            return;
        }
    }
#endif
    port_->write(bytes);
    // Out at once rather than on the next turn of the event loop: the
    // transceiver answers each packet before it gets the next.
    port_->flush();
}

int QtSerialPort::outputFree() const
{
    const qint64 pending = port_->isOpen() ? port_->bytesToWrite() : 0;
    return pending >= kSerialBufferSize ? 0 : int(kSerialBufferSize - pending);
}

void QtSerialPort::onError(int error)
{
    if (configuring_ || error == QSerialPort::NoError)
        return;
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // A vanished device reports these endlessly (tens of thousands a
        // second on a pseudo-terminal whose other side closed): close on the
        // first one and report it once.
        if (port_->isOpen()) {
            const QString reason = port_->errorString();
            closePort();
            port_->clearError();
            emit failed(reason);
        }
        break;
    default:
        port_->clearError();
        break;
    }
}

QList<PortEntry> QtSerialPort::availablePorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
#ifdef Q_OS_WIN
    static const QRegularExpression comName(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    QList<QPair<int, PortEntry>> numbered;
    for (const QSerialPortInfo &info : infos) {
        const auto m = comName.match(info.portName());
        if (!m.hasMatch())
            continue;
        const int n = m.captured(1).toInt();
        if (n >= 1 && n <= 50)
            numbered.append({n, PortEntry{QStringLiteral("COM%1").arg(n), info.description()}});
    }
    std::sort(numbered.begin(), numbered.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &p : numbered)
        ports.append(p.second);
#else
    for (const QSerialPortInfo &info : infos)
        ports.append(PortEntry{info.systemLocation(), info.description()});
    std::sort(ports.begin(), ports.end(), [](const PortEntry &a, const PortEntry &b) {
        // USB adapters first: they are what the transceiver presents.
        auto rank = [](const QString &n) { return n.contains(QLatin1String("ttyACM")) ? 0 : n.contains(QLatin1String("ttyUSB")) ? 1 : 2; };
        return rank(a.name) != rank(b.name) ? rank(a.name) < rank(b.name) : a.name < b.name;
    });
#endif
    return ports;
}

} // namespace tarvil
