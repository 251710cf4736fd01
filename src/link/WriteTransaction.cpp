#include "link/WriteTransaction.h"

#include "link/Deferred.h"
#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/Texts.h"
#include "model/ConfigImage.h"
#include "model/WriteChecks.h"

#include <cmath>

namespace tarvil {

namespace {

constexpr int kRetries = 7;
constexpr int kFinalRetries = 19;

QByteArray imageBytes(const ConfigImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), kImageSize);
}

} // namespace

WriteTransaction::WriteTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, const Channel &active,
                                   std::function<bool()> othersRunning, ConfigImage &image, PacketList &packets,
                                   LanLink &lan, UsbLink &usb, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), deferred_(deferred), active_(active),
      othersRunning_(std::move(othersRunning)), image_(image), packets_(packets), lan_(lan), usb_(usb)
{
    setObjectName(QStringLiteral("WriteTransaction"));
    // A step answered sends the next request at once; the boxes (the result,
    // a failure) wait until the notification is over.
    connect(&lan_, &LanLink::answered, this, [this](LanReply reply) {
        if (state_ == State::Lan)
            onLanAnswered(reply);
    });
    connect(&lan_, &LanLink::failed, this, [this] {
        if (state_ == State::Lan)
            deferred_.post(guarded([this] { onLanFailed(); }));
    });
    connect(&usb_, &UsbLink::streamStarting, this, &WriteTransaction::onUsbStarting);
    connect(&usb_, &UsbLink::progressed, this, &WriteTransaction::onUsbProgress);
    connect(&usb_, &UsbLink::writeEnded, this, &WriteTransaction::onUsbEnded);
}

std::function<void()> WriteTransaction::guarded(std::function<void()> work)
{
    // Work posted for this run only: a close or a new run since drops it.
    return [this, run = run_, work = std::move(work)] {
        if (run == run_)
            work();
    };
}

WriteOutcome WriteTransaction::outcomeOf(WriteOutcome::Target target, const QString &targetName,
                                         const QString &serial, const QByteArray &image,
                                         WriteOutcome::Result result, const QString &message) const
{
    WriteOutcome o;
    o.result = result;
    o.message = message;
    o.target = target;
    o.targetName = targetName;
    o.serial = serial;
    o.image = image;
    return o;
}

void WriteTransaction::restoreCommandsAfterSave()
{
    if ((lan_.state() == lsIdle && active_ == Channel::Lan) || (active_ == Channel::Usb && usb_.connected())) {
        view_.UnlockCommands();
    } else {
        view_.setCommandEnabled(Command::ItemLoad, true);
        view_.setCommandEnabled(Command::ItemSave, true);
        view_.setCommandEnabled(Command::ItemLink, true);
    }
}

bool WriteTransaction::build()
{
    // Each field that passes is stored at once, before the next check. A
    // running LAN write sends an image of its own and a USB stream packets
    // of its own, so a build that stops half-way harms neither.
    const CommonSettings s = view_.commonSettings();
    ConfigImage &image = image_;
    image.storeCommon(CommonField::EtherProt, s);
    image.storeCommon(CommonField::Dhcp, s);

    // A pasted text that is no number is refused like an empty one, rather
    // than written as a wrong value; so is a number beyond 32 bits.
    for (const WriteCheck &check : writeChecks()) {
        if (!image.storeCommon(check.field, s)) {
            const UserMessage box = texts::fieldCheck(check.text);
            dialogs_.message(box);
            view_.focusControl(check.field);
            refused_ = box.text;
            return false;
        }
        if (&check.field == &CommonField::Serial)
            builtSerial_ = s.serial;
    }

    // Every field whose value can be refused has passed its check, so the
    // rest of the build cannot fail.
    [[maybe_unused]] const bool built = image.build(s, view_.objectRows());
    Q_ASSERT(built);
    packets_.buildFrom(image);
    return true;
}

void WriteTransaction::WrBtnClick(const SaveTarget *saveTarget)
{
    const bool nested = running();
    view_.LockCommands();
    if (!nested)
        progress_.done = 0;

    if (!build()) {
        // Inside a running write or read the commands stay as it left them,
        // and the running one is the only one that ends.
        if (!running())
            view_.UnlockCommands();
        if (!nested && !saveTarget)
            emit finished(outcomeOf(WriteOutcome::Target::Lan, QString(), QString(), QByteArray(),
                                    WriteOutcome::Result::Refused, refused_));
        return;
    }

    if (saveTarget) {
        if (saveTarget->write)
            saveTarget->write(packets_);
        restoreCommandsAfterSave();
        return;
    }

    const bool usbUsable = active_ == Channel::Usb && usb_.connected() && usb_.isOpen();
    // The adapter's pace is the first thing a USB write says.
    if (usbUsable)
        showUsbPace(packets_.count() + 1);
    // A nested LAN start sends nothing, and the running write's progress is
    // its own; a USB start, nested or not, begins its stream anew.
    if (!nested || usbUsable) {
        progress_ = Progress{0, kPacketSize * packets_.count()};
        view_.setGauge(0);
    }
    if (usbUsable) {
        // The stream begun anew leaves the one before unfinished; its report
        // waits until this handler has returned.
        if (state_ == State::Usb) {
            const WriteOutcome before = usbEnding(WriteOutcome::Result::Interrupted);
            deferred_.post([this, before] { emit finished(before); });
        }
        view_.setGaugeVisible(true);
        state_ = State::Usb;
        usbOutcome_ = outcomeOf(WriteOutcome::Target::Usb, usb_.portName(), builtSerial_, imageBytes(image_),
                                WriteOutcome::Result::Interrupted);
        usbClock_.start();
        usb_.startWrite(packets_);
        return;
    }
    if (!nested && lan_.state() == lsIdle && active_ == Channel::Lan) {
        startLan();
        return;
    }
    // No usable link: nothing is sent. The commands are restored as after a
    // save, unless a transaction still runs and keeps them locked.
    if (!nested) {
        restoreCommandsAfterSave();
        emit finished(outcomeOf(WriteOutcome::Target::Lan, QString(), builtSerial_, QByteArray(),
                                WriteOutcome::Result::Refused));
    }
}

void WriteTransaction::startLan()
{
    // The write sends this image, and names this serial number, whatever a
    // later start builds or the user types meanwhile.
    const ConfigImage sent = image_;
    ++run_;
    state_ = State::Lan;
    lanOutcome_ = outcomeOf(WriteOutcome::Target::Lan, lan_.transceiverAddress(), builtSerial_, imageBytes(sent),
                            WriteOutcome::Result::Interrupted);

    // The ready reply to "AT+DATF"; sixty blocks of five object records; the
    // common block; then "AT+FPDE" once and "AT+CONFIG", repeated until the
    // result comes.
    lanSteps_.clear();
    lanSteps_.push_back({LanFrame::datF(), lsWaitReady, kRetries, &texts::kNoAnswer, 0, false});
    for (int n = 1; n <= LanFrame::kBlocks; ++n)
        lanSteps_.push_back({LanFrame::writeBlock(n, sent), lsWaitBlockAck, kRetries, &texts::kNoAnswerBlock,
                             LanFrame::kBlockDataLength, false});
    lanSteps_.push_back(
        {LanFrame::writeCommon(sent), lsWaitBlockAck, kRetries, &texts::kNoAnswer, kCommonSize, false});
    lanSteps_.push_back({LanFrame::config(), lsWaitResult, kFinalRetries, &texts::kNoAnswer, 0, true});
    lanStep_ = 0;

    lan_.keepAlive(false);
    sendLanStep();
}

void WriteTransaction::sendLanStep()
{
    const LanStep &step = lanSteps_.at(lanStep_);
    if (step.endOfDataFirst)
        lan_.sendOnce(LanFrame::fpdE());
    lan_.request(step.request, step.awaiting, step.retries);
}

void WriteTransaction::onLanAnswered(LanReply reply)
{
    const LanStep &step = lanSteps_.at(lanStep_);
    if (lanStep_ == 0)
        progress_.total = kImageSize;
    if (step.bytes > 0) {
        progress_.done += step.bytes;
        view_.setGauge(progress_.percent());
    }
    if (++lanStep_ < lanSteps_.size()) {
        sendLanStep();
        return;
    }
    deferred_.post(guarded([this, reply] {
        const bool success = reply == LanReply::Success;
        const UserMessage box = success ? texts::writeDone(lanOutcome_.serial) : texts::writeRefused();
        WriteOutcome outcome = lanOutcome_;
        outcome.result = success ? WriteOutcome::Result::Done : WriteOutcome::Result::Failed;
        if (!success)
            outcome.message = box.text;
        endLan(box, outcome, true);
    }));
}

void WriteTransaction::onLanFailed()
{
    const UserMessage box = texts::noAnswer(*lanSteps_.at(lanStep_).failure);
    WriteOutcome outcome = lanOutcome_;
    outcome.result = WriteOutcome::Result::Failed;
    outcome.message = box.text;
    endLan(box, outcome, false);
}

void WriteTransaction::endLan(const UserMessage &box, const WriteOutcome &outcome, bool keepAlive)
{
    state_ = State::LanEnding;
    lanOutcome_ = outcome;
    const std::uint64_t run = run_;
    dialogs_.message(box);
    if (run != run_)
        return; // closed while the box was open: the close has reported it
    // A failed write leaves the keep-alive off, as it was during the write.
    lan_.release(keepAlive);
    view_.UnlockCommands();
    if (keepAlive)
        view_.setGauge(0);
    state_ = State::Idle;
    emit finished(outcome);
}

WriteOutcome WriteTransaction::usbEnding(WriteOutcome::Result result)
{
    WriteOutcome outcome = usbOutcome_;
    outcome.result = result;
    if (const auto answer = usb_.answerTime())
        outcome.answerMs = std::round(double(answer->count()) / 1e5) / 10.0;
    outcome.durationMs = usbClock_.elapsed();
    return outcome;
}

void WriteTransaction::showUsbPace(int frames)
{
    // What the adapter is and what opening its port did stay for the write:
    // the advice is made once.
    usbAdvice_ = texts::latencyAdvice(usb_.adapter(), hostSystem(), usb_.lowLatency());
    paceAnswer_ = usb_.answerTime();
    pacePercent_ = -1;
    paceSeconds_ = -1;
    if (paceAnswer_)
        view_.setUsbPace(UsbPace{*paceAnswer_, frames, usbAdvice_});
}

void WriteTransaction::onUsbStarting(int frames)
{
    // Shown at the start already, unless no answer had been timed then.
    if (state_ == State::Usb && !paceAnswer_)
        showUsbPace(frames);
}

void WriteTransaction::onUsbProgress(int position, int count)
{
    if (state_ != State::Usb)
        return;
    // The gauge is set before each packet from the bytes sent so far; the
    // stream's first frame counts as one packet.
    progress_ = Progress{kPacketSize * std::max(position, 1), kPacketSize * count};
    const int percent = progress_.percent();
    view_.setGauge(percent);

    // The time left: the frames still to be answered times the adapter's
    // answer time, taken afresh with every percent and shown whenever the
    // seconds it makes change.
    if (percent != pacePercent_ || !paceAnswer_) {
        pacePercent_ = percent;
        paceAnswer_ = usb_.answerTime();
    }
    if (!paceAnswer_)
        return;
    const UsbPace pace{*paceAnswer_, count + 1 - position, usbAdvice_};
    const qint64 seconds = (pace.left().count() + 500) / 1000;
    if (seconds != paceSeconds_) {
        paceSeconds_ = seconds;
        view_.setUsbPace(pace);
    }
}

void WriteTransaction::onUsbEnded(UsbLink::WriteEnd end)
{
    if (state_ != State::Usb)
        return;
    state_ = State::Idle;
    view_.releaseWrBtn();
    view_.setUsbPace(std::nullopt);
    WriteOutcome outcome = usbEnding(WriteOutcome::Result::Interrupted);
    switch (end) {
    case UsbLink::WriteEnd::Done:
        packets_.clear();
        view_.setCommandEnabled(Command::ItemWr, false);
        view_.setGauge(0);
        outcome.result = WriteOutcome::Result::Done;
        deferred_.post([this, outcome] {
            dialogs_.message(texts::writeDone(outcome.serial));
            view_.UnlockCommands();
            view_.setCommandEnabled(Command::ItemRead, false);
            emit finished(outcome);
        });
        break;
    case UsbLink::WriteEnd::NoAnswer:
    case UsbLink::WriteEnd::Lost:
        outcome.result = WriteOutcome::Result::Failed;
        outcome.message = texts::noAnswer(texts::kNoAnswer).text;
        deferred_.post([this, outcome] {
            dialogs_.message(texts::noAnswer(texts::kNoAnswer));
            restoreCommandsAfterSave();
            emit finished(outcome);
        });
        break;
    case UsbLink::WriteEnd::Fatal:
        // The fatal box and the close question follow from the link.
        restoreCommandsAfterSave();
        outcome.result = WriteOutcome::Result::Failed;
        outcome.message = texts::fatalPanelType().text;
        emit finished(outcome);
        break;
    }
}

void WriteTransaction::shutdown()
{
    switch (state_) {
    case State::Idle:
        return;
    case State::Usb:
        state_ = State::Idle;
        view_.setUsbPace(std::nullopt);
        emit finished(usbEnding(WriteOutcome::Result::Interrupted));
        return;
    case State::Lan:
    case State::LanEnding:
        state_ = State::Idle;
        ++run_;
        emit finished(lanOutcome_);
        return;
    }
}

} // namespace tarvil
