#include "MinimalClient.h"

#include "SimProtocol.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <functional>

namespace tarvil::sim {

namespace {

// Runs `loop` until `done` is called or the time limit passes.
class Run {
public:
    explicit Run(std::chrono::milliseconds limit)
    {
        guard_.setSingleShot(true);
        QObject::connect(&guard_, &QTimer::timeout, &loop_, [this] { finish(false, QStringLiteral("no answer within the time limit")); });
        guard_.start(limit);
        clock_.start();
    }
    void finish(bool ok, const QString &error = {})
    {
        if (finished_)
            return;
        finished_ = true;
        result.ok = ok;
        result.error = error;
        result.elapsed = std::chrono::nanoseconds(clock_.nsecsElapsed());
        loop_.quit();
    }
    bool finished() const { return finished_; }
    ClientResult exec()
    {
        if (!finished_)
            loop_.exec();
        guard_.stop();
        return result;
    }
    ClientResult result;

private:
    QEventLoop loop_;
    QTimer guard_;
    QElapsedTimer clock_;
    bool finished_ = false;
};

bool fromTarget(const QNetworkDatagram &d, const QHostAddress &target)
{
    return QHostAddress(d.senderAddress().toIPv4Address()) == target;
}

} // namespace

MinimalClient::MinimalClient(const QHostAddress &target, quint16 port, QObject *parent)
    : QObject(parent)
    , target_(target)
    , port_(port)
{
}

MinimalClient::~MinimalClient() = default;

void MinimalClient::setLocalEndpoint(const QHostAddress &address, quint16 port)
{
    localAddress_ = address;
    localPort_ = port;
    delete socket_;
    socket_ = nullptr;
}

bool MinimalClient::ensureSocket(QString *error)
{
    if (socket_)
        return true;
    socket_ = new QUdpSocket(this);
    if (!socket_->bind(localAddress_, localPort_, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot bind: %1").arg(socket_->errorString());
        delete socket_;
        socket_ = nullptr;
        return false;
    }
    return true;
}

ClientResult MinimalClient::lanWrite(const QByteArray &image)
{
    ClientResult failed;
    if (image.size() != kImageBytes) {
        failed.error = QStringLiteral("the image is not %1 bytes").arg(kImageBytes);
        return failed;
    }
    if (!ensureSocket(&failed.error))
        return failed;
    while (socket_->hasPendingDatagrams())
        socket_->receiveDatagram(0);

    // Step 0 awaits the ready reply, steps 1..60 the blocks' "OK", 61 the
    // common block's "OK", 62 the result.
    Run run(limit_);
    int step = 0;
    auto send = [&](const QByteArray &datagram) {
        socket_->writeDatagram(datagram, target_, port_);
        ++run.result.requests;
    };
    auto sendStep = [&] {
        if (step == 0)
            send(QByteArrayLiteral("AT+DATF"));
        else if (step <= kBlocks)
            send(writeBlockDatagram(step, image.mid(qsizetype(step - 1) * kBlockPayload, kBlockPayload)));
        else if (step == kBlocks + 1)
            send(writeCommonDatagram(image.mid(kCommonOffset)));
        else {
            send(QByteArrayLiteral("AT+FPDE"));
            send(QByteArrayLiteral("AT+CONFIG"));
        }
    };
    const auto c = connect(socket_, &QUdpSocket::readyRead, this, [&] {
        while (socket_->hasPendingDatagrams()) {
            const QNetworkDatagram d = socket_->receiveDatagram();
            if (!fromTarget(d, target_))
                continue;
            const QByteArray r = d.data();
            if ((step == 0 && isReadyReply(r)) || (step >= 1 && step <= kBlocks + 1 && isOkReply(r))) {
                ++step;
                sendStep();
            } else if (step == kBlocks + 2 && isGoodReply(r)) {
                run.finish(true);
            } else if (step == kBlocks + 2 && isBadReply(r)) {
                run.finish(false, QStringLiteral("the transceiver answered the failure reply"));
            }
        }
    });
    sendStep();
    ClientResult result = run.exec();
    disconnect(c);
    return result;
}

ClientResult MinimalClient::lanRead()
{
    ClientResult failed;
    if (!ensureSocket(&failed.error))
        return failed;
    while (socket_->hasPendingDatagrams())
        socket_->receiveDatagram(0);

    Run run(limit_);
    run.result.image = QByteArray(kImageBytes, '\0');
    int lastBlock = -1;
    bool commonSeen = false;
    auto ack = [&] {
        socket_->writeDatagram(QByteArrayLiteral("AT+RDY0"), target_, port_);
        ++run.result.requests;
    };
    const auto c = connect(socket_, &QUdpSocket::readyRead, this, [&] {
        while (socket_->hasPendingDatagrams()) {
            const QNetworkDatagram d = socket_->receiveDatagram();
            if (!fromTarget(d, target_))
                continue;
            const QByteArray r = d.data();
            if (isReadBlock(r)) {
                const int b = std::uint8_t(r.at(11));
                if (b != lastBlock) {
                    lastBlock = b;
                    run.result.image.replace(qsizetype(b) * kBlockPayload, kBlockPayload, r.mid(kHeaderBytes));
                }
                commonSeen = false;
                ack();
            } else if (isReadCommon(r)) {
                run.result.image.replace(kCommonOffset, kCommonBytes, r.mid(kHeaderBytes));
                commonSeen = true;
                ack();
            } else if (isReadEnd(r) && commonSeen) {
                ack();
                run.finish(true);
            }
        }
    });
    socket_->writeDatagram(QByteArrayLiteral("AT+READF"), target_, port_);
    ++run.result.requests;
    ClientResult result = run.exec();
    disconnect(c);
    return result;
}

ClientResult MinimalClient::usbWrite(const QString &devicePath, const QByteArray &image)
{
    ClientResult failed;
    if (image.size() != kImageBytes) {
        failed.error = QStringLiteral("the image is not %1 bytes").arg(kImageBytes);
        return failed;
    }
#ifdef Q_OS_WIN
    failed.error = QStringLiteral("%1: the USB baseline needs a POSIX pseudo-terminal").arg(devicePath);
    return failed;
#else
    const QByteArray path = devicePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failed.error = QStringLiteral("cannot open %1: %2").arg(devicePath, QString::fromLocal8Bit(std::strerror(errno)));
        return failed;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }

    Run run(limit_);
    // Packet i of the stream: 0, 0, 1, 2, ..., 14201.
    const int streamLength = kImageBytes + 1;
    int sent = -1; // index into the stream of the packet awaiting its answer
    auto sendPacket = [&](int streamIndex) {
        const int address = streamIndex == 0 ? 0 : streamIndex - 1;
        const QByteArray frame = makeFrame(';', std::uint16_t(address), std::uint8_t(image.at(address)));
        if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size()) {
            run.finish(false, QStringLiteral("write failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        sent = streamIndex;
        ++run.result.requests;
    };
    QSocketNotifier notifier(qintptr(fd), QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, this, [&] {
        if (run.finished())
            return;
        char bytes[64];
        for (;;) {
            const ssize_t n = ::read(fd, bytes, sizeof bytes);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                notifier.setEnabled(false);
                run.finish(false, QStringLiteral("the port failed"));
                return;
            }
            if (n < 0)
                return;
            for (ssize_t i = 0; i < n && !run.finished(); ++i) {
                switch (std::uint8_t(bytes[i])) {
                case kAck:
                    if (sent + 1 == streamLength) {
                        run.finish(true);
                        return;
                    }
                    sendPacket(sent + 1);
                    break;
                case kNak:
                    sendPacket(sent);
                    break;
                case kFatal:
                    run.finish(false, QStringLiteral("fatal panel-type error (0x02)"));
                    return;
                case kMemoryFailure:
                    run.finish(false, QStringLiteral("memory write failure (0x25)"));
                    return;
                default:
                    break;
                }
            }
        }
    });
    sendPacket(0);
    ClientResult result = run.exec();
    notifier.setEnabled(false);
    ::close(fd);
    return result;
#endif
}

} // namespace tarvil::sim
