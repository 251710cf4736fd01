#include "UsbSimulator.h"

#include "SampleImage.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#endif

namespace tarvil::sim {

namespace {

#ifndef Q_OS_WIN
QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
#endif

QString hexByte(int byte) { return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper(); }

} // namespace

UsbSimulator::UsbSimulator(QObject *parent)
    : QObject(parent)
    , image_(sampleImage())
    , perAddress_(kImageBytes, 0)
    , streamSeen_(kImageBytes, false)
{
    qRegisterMetaType<tarvil::sim::UsbFrame>();
    clock_.start();
    outTimer_ = new QTimer(this);
    outTimer_->setSingleShot(true);
    outTimer_->setTimerType(Qt::PreciseTimer);
    connect(outTimer_, &QTimer::timeout, this, &UsbSimulator::flushDue);
#ifdef Q_OS_LINUX
    // A bridge's latency timer holds an answer for its whole time and not a
    // millisecond more; Qt's timers count whole milliseconds, which would
    // hold a 2 ms answer for 2 or 3 as chance has it. A timerfd keeps time to
    // the nanosecond.
    dueFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (dueFd_ >= 0) {
        dueNotifier_ = new QSocketNotifier(qintptr(dueFd_), QSocketNotifier::Read, this);
        connect(dueNotifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expiries = 0;
            (void)!::read(dueFd_, &expiries, sizeof expiries);
            flushDue();
        });
    }
#endif
    setFaults({});
}

UsbSimulator::~UsbSimulator()
{
    const QSignalBlocker quiet(this);
#ifdef Q_OS_LINUX
    if (dueFd_ >= 0) {
        delete dueNotifier_;
        ::close(dueFd_);
    }
#endif
    close();
}

bool UsbSimulator::open()
{
    close();
    error_.clear();
#ifdef Q_OS_WIN
    // The device end of the USB link is a POSIX pseudo-terminal; on Windows
    // the simulator carries the LAN link only.
    error_ = QStringLiteral("pseudo-terminals are not available on Windows");
    return false;
#else
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error_ = systemError("posix_openpt");
        return false;
    }
    const char *name = nullptr;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || (name = ::ptsname(master)) == nullptr) {
        error_ = systemError("pseudo-terminal set-up");
        ::close(master);
        return false;
    }
    const QString path = QString::fromLocal8Bit(name);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        error_ = systemError("open slave");
        ::close(master);
        return false;
    }
    // Raw both ways: CRC bytes may be anything, 0x0D, 0x11 and 0x13 included,
    // and nothing may be echoed back to the tool.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    slave_ = slave;
    path_ = path;
    stopped_ = false;
    parser_.reset();
    notifier_ = new QSocketNotifier(qintptr(master_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UsbSimulator::onReadable);
    return true;
#endif
}

void UsbSimulator::close()
{
    if (master_ < 0)
        return;
    notifier_->setEnabled(false);
    outbox_.clear();
    stopDue();
    // This may run inside the notifier's own slot: let the event loop free it.
    notifier_->deleteLater();
    notifier_ = nullptr;
#ifndef Q_OS_WIN
    ::close(master_);
    ::close(slave_);
#endif
    master_ = -1;
    slave_ = -1;
    emit closed();
}

void UsbSimulator::setFaults(const UsbFaults &faults)
{
    faults_ = faults;
    dropper_.reset(faults_.dropFirst, faults_.dropEvery, faults_.dropReplies);
    stalls_.reset(faults_.stallReplies);
    QList<ReplySelector> answered;
    for (const UsbFaults::Answer &a : faults_.answers)
        answered.append(a.at);
    answers_.reset(answered);
    pacedSoFar_ = 0;
    naksGiven_.assign(size_t(kImageBytes), 0);
    random_.seed(faults_.seed);
    stopped_ = false;
}

bool UsbSimulator::setImage(const QByteArray &image)
{
    if (image.size() != kImageBytes)
        return false;
    image_ = image;
    return true;
}

int UsbSimulator::packetsAt(int address) const
{
    return address >= 0 && address < kImageBytes ? perAddress_[size_t(address)] : 0;
}

void UsbSimulator::clearLog()
{
    frames_.clear();
    polls_ = 0;
    dataPackets_ = 0;
    writesCompleted_ = 0;
    std::fill(perAddress_.begin(), perAddress_.end(), 0);
    resetStream();
    setFaults(faults_);
}

void UsbSimulator::resetStream()
{
    std::fill(streamSeen_.begin(), streamSeen_.end(), false);
    streamCount_ = 0;
}

void UsbSimulator::onReadable()
{
#ifndef Q_OS_WIN
    char buffer[4096];
    while (master_ >= 0) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break; // EAGAIN: all read; the held slave keeps EIO away
        parser_.feed(buffer, n);
        while (master_ >= 0) {
            const auto frame = parser_.next();
            if (!frame)
                break;
            handleFrame(*frame);
        }
    }
#endif
}

void UsbSimulator::handleFrame(const Frame &frame)
{
    UsbFrame entry;
    entry.kind = frame.kind;
    entry.address = frame.address;
    entry.data = frame.data;
    entry.elapsedNs = now();

    auto chosenAnswer = [this](ReplySelector::Kind kind, int index) -> std::optional<std::uint8_t> {
        const QList<int> taking = answers_.take(kind, index);
        if (taking.isEmpty())
            return std::nullopt;
        return faults_.answers.at(taking.first()).byte;
    };

    if (frame.kind == FrameKind::Poll) {
        entry.index = polls_++;
        resetStream();
        if (!faults_.silent && !stopped_)
            answer(entry, chosenAnswer(ReplySelector::Poll, entry.index).value_or(kAck), ReplySelector::Poll);
        finish(entry);
        return;
    }
    if (frame.kind == FrameKind::Command) {
        finish(entry);
        return;
    }

    entry.index = dataPackets_++;
    // Drawn for every packet, so that the same seed picks the same packets
    // whatever the other faults do.
    const bool randomNak = faults_.nakRate > 0.0 && random_.generateDouble() < faults_.nakRate;
    if (faults_.closeAfter >= 0 && entry.index >= faults_.closeAfter) {
        finish(entry);
        close();
        return;
    }
    if (faults_.stopAfter >= 0 && entry.index >= faults_.stopAfter)
        stopped_ = true;
    if (faults_.silent || stopped_) {
        finish(entry);
        return;
    }

    const size_t a = frame.address;
    const int nakTo = faults_.nakTo < 0 ? kImageBytes - 1 : faults_.nakTo;
    const bool nakHere = faults_.nakTimes > 0 && frame.address < kImageBytes && int(a) >= faults_.nakFrom
        && int(a) <= nakTo && naksGiven_[a] < faults_.nakTimes;
    std::uint8_t byte = kAck;
    if (const auto chosen = chosenAnswer(ReplySelector::Packet, entry.index))
        byte = *chosen;
    else if (entry.index == faults_.fatalAt)
        byte = kFatal;
    else if (entry.index == faults_.memoryFailureAt)
        byte = kMemoryFailure;
    else if (randomNak || faults_.nakPackets.contains(entry.index) || frame.address >= kImageBytes)
        byte = kNak; // an address outside the image is refused as well
    else if (nakHere) {
        ++naksGiven_[a];
        byte = kNak;
    }

    bool completed = false;
    if (byte == kAck && frame.address < kImageBytes) {
        image_[qsizetype(a)] = char(frame.data);
        ++perAddress_[a];
        entry.stored = true;
        if (!streamSeen_[a]) {
            streamSeen_[a] = true;
            if (++streamCount_ == kImageBytes) {
                completed = true;
                resetStream();
            }
        }
    }
    answer(entry, byte, ReplySelector::Packet);
    finish(entry);
    if (completed) {
        ++writesCompleted_;
        if (logging_)
            emit logLine(QStringLiteral("USB write complete: every address of the image stored"));
        emit writeCompleted();
    }
}

void UsbSimulator::answer(UsbFrame &entry, std::uint8_t byte, ReplySelector::Kind kind)
{
    entry.reply = byte;
    if (dropper_.drop(kind, entry.index)) {
        entry.replyLost = true;
        return;
    }
    qint64 delayNs = std::chrono::nanoseconds(faults_.delay + faults_.latency).count();
    if (stalls_.takes(kind, entry.index)) {
        entry.held = true;
        delayNs += std::chrono::nanoseconds(faults_.stallFor).count();
    }
    const bool paced = faults_.pace.count() > 0 && (faults_.pacedReplies <= 0 || pacedSoFar_++ < faults_.pacedReplies);
    queueByte(byte, delayNs, paced);
}

void UsbSimulator::queueByte(std::uint8_t byte, qint64 delayNs, bool paced)
{
    const qint64 t = now();
    if (outbox_.empty() && delayNs == 0 && !paced) {
        lastDueNs_ = t;
        writeByte(byte);
        return;
    }
    const qint64 pace = paced ? std::chrono::nanoseconds(faults_.pace).count() : 0;
    // Never before the byte ahead of it: the transceiver answers in order.
    const qint64 due = std::max(t + delayNs + pace, lastDueNs_ + pace);
    lastDueNs_ = due;
    outbox_.push_back({byte, due});
    if (outbox_.size() == 1)
        flushDue();
}

void UsbSimulator::flushDue()
{
    while (!outbox_.empty() && outbox_.front().dueNs <= now()) {
        const std::uint8_t byte = outbox_.front().byte;
        outbox_.pop_front();
        writeByte(byte);
    }
    if (outbox_.empty()) {
        stopDue();
        return;
    }
    startDue(outbox_.front().dueNs - now());
}

void UsbSimulator::startDue(qint64 waitNs)
{
#ifdef Q_OS_LINUX
    if (dueFd_ >= 0) {
        itimerspec when{};
        const qint64 ns = std::max<qint64>(1, waitNs);
        when.it_value.tv_sec = time_t(ns / 1'000'000'000);
        when.it_value.tv_nsec = long(ns % 1'000'000'000);
        ::timerfd_settime(dueFd_, 0, &when, nullptr);
        return;
    }
#endif
    outTimer_->start(int(std::max<qint64>(1, (waitNs + 999'999) / 1'000'000)));
}

void UsbSimulator::stopDue()
{
#ifdef Q_OS_LINUX
    if (dueFd_ >= 0) {
        const itimerspec off{};
        ::timerfd_settime(dueFd_, 0, &off, nullptr);
        return;
    }
#endif
    outTimer_->stop();
}

void UsbSimulator::writeByte(std::uint8_t byte)
{
    if (master_ < 0)
        return;
    // A full queue means nobody reads the slave: the byte is lost, as on a
    // line with no one listening.
#ifndef Q_OS_WIN
    (void)!::write(master_, &byte, 1);
#else
    Q_UNUSED(byte);
#endif
}

void UsbSimulator::finish(const UsbFrame &entry)
{
    if (logging_) {
        const QString reply = entry.reply < 0 ? QStringLiteral("(no reply)")
                                              : hexByte(entry.reply) + (entry.replyLost ? QStringLiteral(" (lost)") : QString());
        if (entry.kind == FrameKind::Poll && entry.reply == kAck && !entry.replyLost) {
            // Polls and acknowledgements alternate without pause: one line
            // for a run of them.
            if (quietPolls_++ == 0)
                emit logLine(QStringLiteral("USB poll -> 01 (the polls that follow are counted, not shown)"));
        } else {
            if (quietPolls_ > 1)
                emit logLine(QStringLiteral("USB %1 polls answered").arg(quietPolls_));
            quietPolls_ = 0;
            if (entry.kind == FrameKind::Data)
                emit logLine(QStringLiteral("USB packet %1: address %2 = %3 -> %4")
                                 .arg(entry.index)
                                 .arg(entry.address)
                                 .arg(hexByte(entry.data), reply));
            else if (entry.kind == FrameKind::Poll)
                emit logLine(QStringLiteral("USB poll -> %1").arg(reply));
            else
                emit logLine(QStringLiteral("USB unknown command frame %1 %2 %3 -> (ignored)")
                                 .arg(hexByte(entry.address & 0xFF), hexByte(entry.address >> 8), hexByte(entry.data)));
        }
    }
    if (recordFrames_)
        frames_.append(entry);
    emit frameReceived(entry);
}

} // namespace tarvil::sim
