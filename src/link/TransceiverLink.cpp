#include "link/TransceiverLink.h"

#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace tarvil {

namespace {

QTimer *makeTimer(QObject *parent, const char *name, Millis interval, bool singleShot = false)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    timer->setSingleShot(singleShot);
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

} // namespace

TransceiverLink::TransceiverLink(LinkView &view, const LinkConfig &config, QObject *parent,
                                 std::unique_ptr<SerialPort> serial, std::unique_ptr<UdpEndpoint> udp)
    : QObject(parent), view_(view), config_(config), serial_(std::move(serial)), udp_(std::move(udp))
{
    setObjectName(QStringLiteral("TransceiverLink"));
    if (!serial_)
        serial_ = std::make_unique<QtSerialPort>();
    if (!udp_)
        udp_ = std::make_unique<QtUdpEndpoint>();
    serial_->setParent(nullptr);
    udp_->setParent(nullptr);
    serial_->setObjectName(QStringLiteral("ComPort"));
    udp_->setObjectName(QStringLiteral("ConfUDP"));

    timerUdp_ = makeTimer(this, "TimerUDP", config_.timings.keepAlive);
    timerWaitAck_ = makeTimer(this, "TimerWaitAck", config_.timings.waitAck);
    timerWaitBlock_ = makeTimer(this, "TimerWaitBlock", config_.timings.waitBlock);
    // An expired trigger disarms itself.
    linkWatch_ = makeTimer(this, "LinkWatchTrigger", config_.timings.serialTick, true);
    timerUsbWrite_ = makeTimer(this, "TimerUsbWrite", config_.timings.usbWriteTimeout, true);

    connect(timerUdp_, &QTimer::timeout, this, &TransceiverLink::TimerUDPTimer);
    connect(timerWaitAck_, &QTimer::timeout, this, &TransceiverLink::TimerWaitAckTimer);
    connect(timerWaitBlock_, &QTimer::timeout, this, &TransceiverLink::TimerWaitBlockTimer);
    connect(linkWatch_, &QTimer::timeout, this, &TransceiverLink::ComPortTriggerTimer);
    connect(timerUsbWrite_, &QTimer::timeout, this, &TransceiverLink::TimerUsbWriteTimer);

    // Queued: the handler may open a modal box, and the port must keep
    // notifying while it is open.
    connect(serial_.get(), &SerialPort::dataAvailable, this, &TransceiverLink::ComPortTriggerAvail,
            Qt::QueuedConnection);
    connect(serial_.get(), &SerialPort::failed, this, &TransceiverLink::onSerialFailed, Qt::QueuedConnection);
    connect(udp_.get(), &UdpEndpoint::datagramReceived, this, &TransceiverLink::ConfUDPDataReceived);

    udpBound_ = udp_->bind(config_.localPort, &udpBindError_);
}

TransceiverLink::~TransceiverLink()
{
    // Waits still on the stack must not touch a deleted loop.
    for (QEventLoop *loop : std::as_const(pumps_))
        loop->quit();
    if (serial_)
        serial_->close();
}

void TransceiverLink::formShow()
{
    packets_.clear();
    image_.clearRecords();
    vars_.StopFlag = false;
    if (!udpBound_ && !bindReported_) {
        bindReported_ = true;
        view_.showMessage(UserMessage{
            QStringLiteral("Не удалось открыть UDP-порт %1 для работы по ЛВС (%2). Возможно, порт занят "
                           "другой программой. Работа по ЛВС недоступна; USB и файлы конфигурации "
                           "работают.")
                .arg(config_.localPort)
                .arg(udpBindError_),
            QStringLiteral("Работа по ЛВС"), MsgIcon::Warning, MsgButtons::Ok, false});
    }
}

void TransceiverLink::stopTimersForExit()
{
    disable(timerUdp_);
    disable(timerWaitAck_);
}

void TransceiverLink::shutdown()
{
    vars_.StopFlag = true;
    wakePumps();
    closeComPort();
    disarmLinkWatch();
    timerUsbWrite_->stop();
    packets_.clear();
}

void TransceiverLink::enable(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}

void TransceiverLink::disable(QTimer *timer)
{
    timer->stop();
}

void TransceiverLink::setState(std::int32_t state)
{
    if (vars_.State == state)
        return;
    vars_.State = state;
    wakePumps();
}

void TransceiverLink::wakePumps()
{
    for (QEventLoop *loop : std::as_const(pumps_))
        loop->quit();
}

void TransceiverLink::PumpWait(int n)
{
    if (vars_.StopFlag || n < 0)
        return;
    if (pumps_.size() > 64)
        return; // never nest without bound
    // Sleep in a local loop, which handles every pending event, until the
    // deadline or a change of LinkState or StopFlag: no spinning, and the
    // wait ends as soon as the reply has come.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(config_.timings.pumpStep * (n + 1));
    pumps_.append(&loop);
    loop.exec();
    pumps_.removeOne(&loop);
}

void TransceiverLink::updateGauge()
{
    int percent = 0;
    if (vars_.BytesTotal > 0) {
        // Halves round to even, as the window's rounding always has.
        percent = int(std::nearbyint(double(vars_.BytesDone) * 100.0 / double(vars_.BytesTotal)));
    }
    view_.setGauge(percent);
}

void TransceiverLink::sendRequest(const QByteArray &request)
{
    const int n = std::min<int>(int(request.size()), kRequestBufferSize);
    vars_.RequestBuffer.replace(0, n, request.left(n));
    vars_.RequestLength = n;
    udp_->send(vars_.RequestBuffer.left(n));
}

void TransceiverLink::resendRequest()
{
    const int n = std::clamp<int>(vars_.RequestLength, 0, kRequestBufferSize);
    udp_->send(vars_.RequestBuffer.left(n));
}

void TransceiverLink::TimerWaitAckTimer()
{
    vars_.RetriesLeft -= 1;
    if (vars_.RetriesLeft <= 0) {
        // The timer stays enabled; the waiting transaction switches it off.
        setState(lsFailed);
        return;
    }
    resendRequest();
}

void TransceiverLink::TimerWaitBlockTimer()
{
    setState(lsFailed);
}

bool TransceiverLink::comPortOpen() const
{
    return serial_ && serial_->isOpen();
}

} // namespace tarvil
