#include "LanSimulator.h"

#include "SampleImage.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace tarvil::sim {

namespace {

constexpr auto kBindMode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;

QString endpoint(const QHostAddress &address, quint16 port)
{
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

QString describe(const ParsedRequest &r)
{
    switch (r.kind) {
    case Request::WriteBlock: return QStringLiteral("data block %1").arg(r.number);
    case Request::WriteCommon: return QStringLiteral("common block");
    default: return QString::fromLatin1(requestName(r.kind));
    }
}

QHostAddress plainIpv4(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

} // namespace

LanSimulator::LanSimulator(QObject *parent)
    : QObject(parent)
    , image_(sampleImage())
{
    qRegisterMetaType<tarvil::sim::LanDatagram>();
    qRegisterMetaType<tarvil::sim::LanReply>();
    clock_.start();
    dropper_.reset(0, 0, {});
}

LanSimulator::~LanSimulator() = default;

bool LanSimulator::start(const QHostAddress &address, quint16 port)
{
    stop();
    error_.clear();
    socket_ = new QUdpSocket(this);
    if (!socket_->bind(address, port, kBindMode)) {
        error_ = QStringLiteral("cannot bind %1: %2").arg(endpoint(address, port), socket_->errorString());
        delete socket_;
        socket_ = nullptr;
        return false;
    }
    address_ = address;
    port_ = socket_->localPort();
    connect(socket_, &QUdpSocket::readyRead, this, &LanSimulator::onReadyRead);
    if (!bindOther()) {
        const QString reason = error_;
        stop();
        error_ = reason;
        return false;
    }
    return true;
}

void LanSimulator::stop()
{
    // Closed now, so the port is free for a new start; freed later, since
    // this may run inside one of the sockets' own signals.
    for (QUdpSocket *s : {other_, socket_}) {
        if (!s)
            continue;
        s->disconnect(this);
        s->close();
        s->deleteLater();
    }
    other_ = nullptr;
    socket_ = nullptr;
    readNext_ = -1;
}

bool LanSimulator::isRunning() const { return socket_ != nullptr; }

bool LanSimulator::setFaults(const LanFaults &faults)
{
    const LanFaults previous = faults_;
    faults_ = faults;
    if (!bindOther()) {
        faults_ = previous;
        bindOther();
        return false;
    }
    dropper_.reset(faults_.dropFirst, faults_.dropEvery, faults_.dropReplies);
    return true;
}

bool LanSimulator::bindOther()
{
    const bool wanted = socket_ && faults_.otherMode != OtherAddressMode::Off;
    if (other_ && (!wanted || other_->localAddress() != faults_.otherAddress)) {
        other_->disconnect(this);
        other_->close();
        other_->deleteLater();
        other_ = nullptr;
    }
    if (!wanted || other_)
        return true;
    other_ = new QUdpSocket(this);
    if (!other_->bind(faults_.otherAddress, port_, kBindMode)) {
        error_ = QStringLiteral("cannot bind the other address %1: %2")
                     .arg(endpoint(faults_.otherAddress, port_), other_->errorString());
        delete other_;
        other_ = nullptr;
        return false;
    }
    // Nothing is meant to arrive there; drain it so that nothing piles up.
    connect(other_, &QUdpSocket::readyRead, this, &LanSimulator::drainOther);
    return true;
}

bool LanSimulator::setImage(const QByteArray &image)
{
    if (image.size() != kImageBytes)
        return false;
    image_ = image;
    return true;
}

void LanSimulator::setImageByte(int address, std::uint8_t value)
{
    if (address >= 0 && address < kImageBytes)
        image_[address] = char(value);
}

QList<Request> LanSimulator::receivedKinds() const
{
    QList<Request> kinds;
    kinds.reserve(received_.size());
    for (const LanDatagram &d : received_)
        kinds.append(d.kind);
    return kinds;
}

void LanSimulator::clearLog()
{
    received_.clear();
    replies_.clear();
}

void LanSimulator::log(const QString &line)
{
    if (logging_)
        emit logLine(line);
}

void LanSimulator::drainOther()
{
    while (other_ && other_->hasPendingDatagrams())
        other_->receiveDatagram(0);
}

void LanSimulator::onReadyRead()
{
    // Every pending datagram now: a handler below may run an event loop of
    // its own, and readyRead is not raised again while this slot runs.
    while (socket_ && socket_->hasPendingDatagrams()) {
        const QNetworkDatagram d = socket_->receiveDatagram();
        if (d.isNull() && d.data().isEmpty())
            continue;
        handle(d.data(), plainIpv4(d.senderAddress()), quint16(d.senderPort()));
    }
}

void LanSimulator::handle(const QByteArray &data, const QHostAddress &from, quint16 port)
{
    const ParsedRequest request = parseRequest(data);
    LanDatagram entry{data, from, port, now(), request.kind, request.number};
    received_.append(entry);
    emit datagramReceived(entry);

    const QString head = QStringLiteral("LAN %1  %2").arg(endpoint(from, port), describe(request));
    currentRequest_ = head;
    if (faults_.silent) {
        log(head + QStringLiteral(" -> (silent)"));
        return;
    }

    switch (request.kind) {
    case Request::Config:
        if (resultPending_)
            answerResult(from, port);
        else
            reply(kOkReply, ReplySelector::Config, -1, from, port, QStringLiteral("OK"));
        break;
    case Request::Datf:
        // A repeated "AT+DATF" (its ready reply was lost) starts over.
        readNext_ = -1;
        writeOpen_ = true;
        staging_ = image_;
        blocksSeen_.reset();
        missingStart_ = false;
        resultPending_ = false;
        reply(kReadyReply, ReplySelector::Ready, -1, from, port, QStringLiteral("READY"));
        break;
    case Request::WriteBlock:
    case Request::WriteCommon: {
        if (!writeOpen_) {
            // Blocks without "AT+DATF": taken, but such a write can never be
            // complete, so its result is the failure reply.
            writeOpen_ = true;
            staging_ = image_;
            blocksSeen_.reset();
            missingStart_ = true;
        }
        const bool common = request.kind == Request::WriteCommon;
        const int offset = common ? kCommonOffset : (request.number - 1) * kBlockPayload;
        staging_.replace(offset, request.payload.size(), request.payload);
        blocksSeen_.set(common ? kBlocks : request.number - 1);
        resultPending_ = false;
        reply(kOkReply, common ? ReplySelector::Common : ReplySelector::Block, request.number, from, port,
              QStringLiteral("OK"));
        break;
    }
    case Request::Fpde:
        if (writeOpen_) {
            writeOpen_ = false;
            resultPending_ = true;
            resultGood_ = blocksSeen_.all() && !missingStart_;
            resultCommitted_ = false;
            missingStart_ = false;
        }
        log(head + QStringLiteral(" -> (no reply: the result follows \"AT+CONFIG\")"));
        break;
    case Request::ReadF:
        writeOpen_ = false;
        resultPending_ = false;
        startRead(from, port);
        break;
    case Request::Rdy0:
        if (readNext_ < 0) {
            log(head + QStringLiteral(" -> (ignored: no read under way)"));
        } else if (readNext_ >= readSteps_.size()) {
            readNext_ = -1;
            if (readCompletes_) {
                ++readsCompleted_;
                log(head + QStringLiteral(" -> (read complete)"));
                emit readCompleted();
            } else {
                log(head + QStringLiteral(" -> (read stopped)"));
            }
        } else {
            sendReadSteps(from, port);
        }
        break;
    case Request::Unknown:
        log(head + QStringLiteral(" of %1 bytes -> (ignored)").arg(data.size()));
        break;
    }
}

void LanSimulator::answerResult(const QHostAddress &to, quint16 port)
{
    const bool good = resultGood_ && !faults_.failWrite;
    const bool first = !resultCommitted_;
    resultCommitted_ = true;
    if (good && first)
        image_ = staging_;
    // The result stays due until it has gone out, so that a repeated
    // "AT+CONFIG" after a lost result gets the result again, not "OK".
    if (reply(good ? kGoodReply : kBadReply, ReplySelector::Result, -1, to, port,
              good ? QStringLiteral("GOOD") : QStringLiteral("BAD")))
        resultPending_ = false;
    if (first) {
        if (good) {
            ++writesCompleted_;
            emit writeCompleted();
        } else {
            ++writesFailed_;
            emit writeFailed();
        }
    }
}

void LanSimulator::startRead(const QHostAddress &to, quint16 port)
{
    readSteps_.clear();
    for (int b = 0; b < kBlocks; ++b) {
        const QByteArray records = image_.mid(b * kBlockPayload, kBlockPayload);
        readSteps_.append({readBlockDatagram(b, records), ReplySelector::ReadBlock, b, false});
        if (b == faults_.duplicateReadBlock) {
            QByteArray again = records;
            if (faults_.alterDuplicate) {
                for (char &c : again)
                    c = char(~c);
            }
            readSteps_.append({readBlockDatagram(b, again), ReplySelector::ReadBlock, b, false});
        }
    }
    const ReadStep common{readCommonDatagram(image_.mid(kCommonOffset)), ReplySelector::ReadCommon, kReadCommonNumber,
                          false};
    const ReadStep end{readEndDatagram(), ReplySelector::ReadEnd, -1, false};
    switch (faults_.earlyEnd) {
    case EarlyEnd::Off:
        readSteps_ << common << end;
        break;
    case EarlyEnd::ThenStop:
        readSteps_ << end;
        break;
    case EarlyEnd::ThenContinue: {
        ReadStep chainedCommon = common;
        chainedCommon.chained = true;
        readSteps_ << end << chainedCommon << end;
        break;
    }
    }
    readCompletes_ = faults_.earlyEnd != EarlyEnd::ThenStop;
    if (faults_.stopReadAfter >= 0 && faults_.stopReadAfter < readSteps_.size()) {
        readSteps_.resize(faults_.stopReadAfter);
        readCompletes_ = false;
    }
    readNext_ = 0;
    if (readSteps_.isEmpty()) {
        log(currentRequest_ + QStringLiteral(" -> (read stopped)"));
        return;
    }
    sendReadSteps(to, port);
}

void LanSimulator::sendReadSteps(const QHostAddress &to, quint16 port)
{
    do {
        const ReadStep &step = readSteps_.at(readNext_++);
        QString what;
        switch (step.kind) {
        case ReplySelector::ReadBlock: what = QStringLiteral("read block %1").arg(step.number); break;
        case ReplySelector::ReadCommon: what = QStringLiteral("read common block"); break;
        default: what = QStringLiteral("end of read"); break;
        }
        reply(step.datagram, step.kind, step.number, to, port, what);
    } while (readNext_ < readSteps_.size() && readSteps_.at(readNext_).chained);
}

bool LanSimulator::reply(const QByteArray &data, ReplySelector::Kind kind, int number, const QHostAddress &to,
                         quint16 port, const QString &what)
{
    if (dropper_.drop(kind, number)) {
        LanReply lost{data, to, port, now(), true, false};
        replies_.append(lost);
        log(currentRequest_ + QStringLiteral(" -> ") + what + QStringLiteral(" (lost)"));
        return false;
    }
    log(currentRequest_ + QStringLiteral(" -> ") + what);
    if (faults_.delay.count() > 0) {
        QTimer::singleShot(faults_.delay, this, [this, data, to, port] { transmit(data, to, port); });
    } else {
        transmit(data, to, port);
    }
    return true;
}

void LanSimulator::transmit(const QByteArray &data, const QHostAddress &to, quint16 port)
{
    if (!socket_)
        return;
    auto send = [&](QUdpSocket *socket, bool fromOther) {
        socket->writeDatagram(data, to, port);
        LanReply sent{data, to, port, now(), false, fromOther};
        replies_.append(sent);
        emit replySent(sent);
    };
    if (other_ && faults_.otherMode != OtherAddressMode::Off)
        send(other_, true);
    if (!other_ || faults_.otherMode != OtherAddressMode::Instead)
        send(socket_, false);
}

} // namespace tarvil::sim
