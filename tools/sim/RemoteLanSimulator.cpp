// The LAN simulator as the Windows tests see it under Wine: the native
// tarvil-sim, driven through its control connection (see LanSimulator.h).
#include "LanSimulator.h"
#include "SimControl.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

namespace tarvil::sim {

namespace {

// Each test has ten ports of its own: the control connection takes the LAN
// port's fifth neighbour.
constexpr int kControlOffset = 5;
constexpr int kAnswerMs = 20000;

} // namespace

LanSimulator::LanSimulator(QObject *parent) : QObject(parent) { qRegisterMetaType<tarvil::sim::LanDatagram>(); }

LanSimulator::~LanSimulator()
{
    // The native simulator ends when its connection closes.
    if (control_)
        control_->abort();
}

bool LanSimulator::launch()
{
    const QString program = qEnvironmentVariable("TARVIL_NATIVE_SIM");
    if (program.isEmpty()) {
        error_ = QStringLiteral("TARVIL_NATIVE_SIM does not name the native tarvil-sim");
        return false;
    }
    const quint16 controlPort = quint16(port_ + kControlOffset);
    if (!QProcess::startDetached(program, {QStringLiteral("--control"), QString::number(controlPort),
                                           QStringLiteral("--quiet")})) {
        error_ = QStringLiteral("cannot start %1").arg(program);
        return false;
    }
    control_ = new QTcpSocket(this);
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        control_->connectToHost(QHostAddress::LocalHost, controlPort);
        if (control_->waitForConnected(500))
            break;
        control_->abort();
        QThread::msleep(50);
    }
    if (control_->state() != QAbstractSocket::ConnectedState) {
        error_ = QStringLiteral("the native simulator did not answer on port %1").arg(controlPort);
        return false;
    }
    connect(control_, &QTcpSocket::readyRead, this, &LanSimulator::onReadyRead);
    return true;
}

void LanSimulator::take(const QByteArray &line) const
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.value(QStringLiteral("event")).toString() == QLatin1String("datagram")) {
        const LanDatagram d = datagramFromJson(object.value(QStringLiteral("datagram")).toObject());
        // Emitted from the event loop, never from inside a call.
        auto *self = const_cast<LanSimulator *>(this);
        QMetaObject::invokeMethod(self, [self, d] { emit self->datagramReceived(d); }, Qt::QueuedConnection);
        return;
    }
    answers_.append(object);
}

void LanSimulator::onReadyRead()
{
    if (inCall_)
        return; // the call reads its own answer
    while (control_->canReadLine())
        take(control_->readLine());
}

QJsonObject LanSimulator::call(const QJsonObject &command) const
{
    if (!control_ || control_->state() != QAbstractSocket::ConnectedState)
        return {};
    inCall_ = true;
    control_->write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    control_->flush();
    const QDeadlineTimer deadline(kAnswerMs);
    while (answers_.isEmpty() && !deadline.hasExpired()) {
        while (control_->canReadLine())
            take(control_->readLine());
        if (answers_.isEmpty() && !control_->waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    inCall_ = false;
    return answers_.isEmpty() ? QJsonObject{} : answers_.takeFirst();
}

bool LanSimulator::start(const QHostAddress &address, quint16 port)
{
    address_ = address;
    port_ = port;
    if (!control_ && !launch())
        return false;
    const QJsonObject started = call({{QStringLiteral("cmd"), QStringLiteral("start")},
                                      {QStringLiteral("address"), address.toString()},
                                      {QStringLiteral("port"), int(port)}});
    running_ = started.value(QStringLiteral("ok")).toBool();
    error_ = started.value(QStringLiteral("error")).toString();
    if (running_ && pendingImage_)
        setImage(*std::exchange(pendingImage_, std::nullopt));
    if (running_ && faults_.any())
        setFaults(faults_);
    return running_;
}

void LanSimulator::stop()
{
    call({{QStringLiteral("cmd"), QStringLiteral("stop")}});
    running_ = false;
}

bool LanSimulator::setFaults(const LanFaults &faults)
{
    faults_ = faults;
    if (!control_)
        return true; // sent with the start
    const QJsonObject r =
        call({{QStringLiteral("cmd"), QStringLiteral("setFaults")}, {QStringLiteral("faults"), lanFaultsToJson(faults)}});
    error_ = r.value(QStringLiteral("error")).toString();
    return r.value(QStringLiteral("ok")).toBool();
}

bool LanSimulator::setImage(const QByteArray &image)
{
    if (image.size() != kImageBytes)
        return false;
    if (!control_) {
        pendingImage_ = image;
        return true;
    }
    return call({{QStringLiteral("cmd"), QStringLiteral("setImage")},
                 {QStringLiteral("image"), QString::fromLatin1(image.toBase64())}})
        .value(QStringLiteral("ok"))
        .toBool();
}

void LanSimulator::setImageByte(int address, std::uint8_t value)
{
    call({{QStringLiteral("cmd"), QStringLiteral("setImageByte")},
          {QStringLiteral("address"), address},
          {QStringLiteral("value"), int(value)}});
}

QJsonObject LanSimulator::state() const { return call({{QStringLiteral("cmd"), QStringLiteral("state")}}); }

QByteArray LanSimulator::image() const
{
    if (!control_)
        return pendingImage_.value_or(QByteArray());
    return QByteArray::fromBase64(state().value(QStringLiteral("image")).toString().toLatin1());
}

const QList<LanDatagram> &LanSimulator::received() const
{
    received_.clear();
    for (const QJsonValue &v : state().value(QStringLiteral("received")).toArray())
        received_.append(datagramFromJson(v.toObject()));
    return received_;
}

QList<Request> LanSimulator::receivedKinds() const
{
    QList<Request> kinds;
    for (const LanDatagram &d : received())
        kinds.append(d.kind);
    return kinds;
}

int LanSimulator::writesCompleted() const { return state().value(QStringLiteral("writesCompleted")).toInt(); }
int LanSimulator::writesFailed() const { return state().value(QStringLiteral("writesFailed")).toInt(); }
int LanSimulator::readsCompleted() const { return state().value(QStringLiteral("readsCompleted")).toInt(); }

void LanSimulator::clearLog() { call({{QStringLiteral("cmd"), QStringLiteral("clearLog")}}); }

} // namespace tarvil::sim
