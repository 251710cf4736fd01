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

// Longer than any reply, with the header of the read's common block: a tool
// that cut it to its buffer would keep the common block's number (60) where
// the end of a read is checked.
QByteArray oversizeDatagram(int length)
{
    QByteArray d = readCommonDatagram(QByteArray(kCommonBytes, 'Z'));
    if (d.size() < length)
        d.append(QByteArray(length - d.size(), 'Z'));
    return d.left(length);
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
    duplicates_.reset(faults_.duplicateReplies);
    QList<ReplySelector> extraSelectors;
    for (const LanExtra &e : faults_.extras)
        extraSelectors.append(e.at);
    extras_.reset(extraSelectors);
    oversize_.reset(faults_.oversizeBefore);
    lost_.reset(faults_.lostRequests);
    late_.reset(faults_.lateReplies);
    return true;
}

bool LanSimulator::bindOther()
{
    bool strays = false;
    for (const LanExtra &e : faults_.extras)
        strays = strays || e.fromOther;
    const bool wanted = socket_ && (faults_.otherMode != OtherAddressMode::Off || strays);
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
    const auto answer = faults_.silent ? std::nullopt : answerTo(request);
    const bool unheard = answer && lost_.takes(answer->first, answer->second);
    LanDatagram entry{data, from, port, now(), request.kind, request.number, unheard};
    received_.append(entry);
    emit datagramReceived(entry);

    const QString head = QStringLiteral("LAN %1  %2").arg(endpoint(from, port), describe(request));
    currentRequest_ = head;
    if (unheard) {
        log(head + QStringLiteral(" -> (not heard)"));
        return;
    }
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

std::optional<std::pair<ReplySelector::Kind, int>> LanSimulator::answerTo(const ParsedRequest &request) const
{
    using K = ReplySelector::Kind;
    switch (request.kind) {
    case Request::Config: return std::pair{resultPending_ ? K::Result : K::Config, -1};
    case Request::Datf: return std::pair{K::Ready, -1};
    case Request::WriteBlock: return std::pair{K::Block, request.number};
    case Request::WriteCommon: return std::pair{K::Common, request.number};
    case Request::ReadF: return std::pair{K::ReadBlock, 0};
    case Request::Rdy0:
        if (readNext_ >= 0 && readNext_ < readSteps_.size())
            return std::pair{readSteps_.at(readNext_).kind, readSteps_.at(readNext_).number};
        return std::nullopt;
    case Request::Fpde:
    case Request::Unknown: break;
    }
    return std::nullopt;
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
        const QByteArray records = image_.mid(qsizetype(b) * kBlockPayload, kBlockPayload);
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
        LanReply lost{data, to, port, now(), true, false, false};
        replies_.append(lost);
        log(currentRequest_ + QStringLiteral(" -> ") + what + QStringLiteral(" (lost)"));
        return false;
    }
    std::chrono::milliseconds at = faults_.delay;
    if (late_.takes(kind, number))
        at += faults_.lateBy;
    QList<Outgoing> out;
    QString notes;
    if (oversize_.takes(kind, number)) {
        out.append({oversizeDatagram(faults_.oversizeBytes), at, false, true});
        notes += QStringLiteral(" (after %1 bytes of noise)").arg(faults_.oversizeBytes);
    }
    const QList<int> extras = extras_.take(kind, number);
    for (int i : extras) {
        const LanExtra &e = faults_.extras.at(i);
        if (e.before)
            out.append({e.data, at, e.fromOther, true});
    }
    out.append({data, at, false, false});
    for (int i : extras) {
        const LanExtra &e = faults_.extras.at(i);
        if (!e.before)
            out.append({e.data, at + e.gap, e.fromOther, true});
    }
    if (!extras.isEmpty())
        notes += QStringLiteral(" (with %1 extra datagrams)").arg(extras.size());
    if (duplicates_.takes(kind, number)) {
        out.append({data, at + faults_.duplicateGap, false, true});
        notes += QStringLiteral(" (twice)");
    }
    if (at > faults_.delay)
        notes += QStringLiteral(" (late)");
    log(currentRequest_ + QStringLiteral(" -> ") + what + notes);
    send(out, to, port);
    return true;
}

void LanSimulator::send(const QList<Outgoing> &datagrams, const QHostAddress &to, quint16 port)
{
    // One timer per moment, so that datagrams meant to follow each other
    // closely leave in the order given.
    QList<std::chrono::milliseconds> moments;
    for (const Outgoing &d : datagrams) {
        if (!moments.contains(d.at))
            moments.append(d.at);
    }
    for (const auto moment : moments) {
        QList<Outgoing> batch;
        for (const Outgoing &d : datagrams) {
            if (d.at == moment)
                batch.append(d);
        }
        auto go = [this, batch, to, port] {
            for (const Outgoing &d : batch)
                transmit(d.data, to, port, d.fromOther, d.extra);
        };
        if (moment.count() > 0)
            QTimer::singleShot(moment, this, go);
        else
            go();
    }
}

void LanSimulator::transmit(const QByteArray &data, const QHostAddress &to, quint16 port, bool fromOther, bool extra)
{
    if (!socket_)
        return;
    auto sendFrom = [&](QUdpSocket *socket, bool other) {
        socket->writeDatagram(data, to, port);
        LanReply sent{data, to, port, now(), false, other, extra};
        replies_.append(sent);
        emit replySent(sent);
    };
    if (fromOther) {
        if (other_)
            sendFrom(other_, true);
        return;
    }
    if (other_ && faults_.otherMode != OtherAddressMode::Off)
        sendFrom(other_, true);
    if (!other_ || faults_.otherMode != OtherAddressMode::Instead)
        sendFrom(socket_, false);
}

} // namespace tarvil::sim
