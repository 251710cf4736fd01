#include "link/WriteTransaction.h"

#include "link/Deferred.h"
#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/Texts.h"
#include "model/ConfigImage.h"
#include "model/IpAddress.h"

namespace tarvil {

namespace {

constexpr int kRetries = 7;
constexpr int kFinalRetries = 19;

QByteArray imageBytes(const ConfigImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), kImageSize);
}

} // namespace

WriteTransaction::WriteTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, LinkSession &session,
                                   ConfigImage &image, PacketList &packets, LanLink &lan, UsbLink &usb,
                                   QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), deferred_(deferred), session_(session), image_(image),
      packets_(packets), lan_(lan), usb_(usb)
{
    setObjectName(QStringLiteral("WriteTransaction"));
    connect(&usb_, &UsbLink::progressed, this, &WriteTransaction::onUsbProgress);
    connect(&usb_, &UsbLink::writeEnded, this, &WriteTransaction::onUsbEnded);
}

void WriteTransaction::restoreCommandsAfterSave()
{
    if ((lan_.state() == lsIdle && session_.activeChannel == Channel::Lan) ||
        (session_.activeChannel == Channel::Usb && usb_.connected())) {
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

    const auto refuse = [this](const Field &field, const QString &text) {
        dialogs_.message(texts::fieldCheck(text));
        view_.focusControl(field);
        // Inside a running write or read the commands stay as it left them.
        if (!running())
            view_.UnlockCommands();
        return false;
    };

    // A pasted text that is no number is refused like an empty one, rather
    // than written as a wrong value; so is a number beyond 32 bits.
    for (const WriteCheck &check : writeChecks()) {
        if (!image.storeCommon(check.field, s))
            return refuse(check.field, check.text);
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

    if (!build())
        return;

    if (saveTarget) {
        if (saveTarget->write)
            saveTarget->write(packets_);
        restoreCommandsAfterSave();
        return;
    }

    const bool usbUsable = session_.activeChannel == Channel::Usb && usb_.connected() && usb_.isOpen();
    // A nested LAN start sends nothing, and the running write's progress is
    // its own; a USB start, nested or not, begins its stream anew.
    if (!nested || usbUsable) {
        progress_ = Progress{0, kPacketSize * packets_.count()};
        view_.setGauge(0);
    }
    if (usbUsable) {
        // The stream begun anew leaves the one before unfinished; its report
        // waits until this handler has returned.
        if (state_ == State::Usb)
            deferred_.post(
                [this, outcome = streamOutcome(WriteOutcome::Result::Interrupted)] { emit writeFinished(outcome); });
        view_.setGaugeVisible(true);
        state_ = State::Usb;
        streamSerial_ = builtSerial_;
        streamPort_ = usb_.portName();
        streamImage_ = imageBytes(image_);
        usb_.startWrite(packets_);
        return;
    }
    if (lan_.state() == lsIdle && session_.activeChannel == Channel::Lan) {
        lanWrite(image_);
        return;
    }
    // No usable link: restored as after a save, unless a transaction still
    // runs and keeps them locked.
    if (!running())
        restoreCommandsAfterSave();
}

bool WriteTransaction::lanStep(const QByteArray &request, LinkState awaiting, int retries, int n,
                               const QString &failure)
{
    lan_.request(request, awaiting, retries);
    switch (lan_.waitFor(lsAcknowledged, n)) {
    case LanLink::WaitResult::Stopped: return false;
    case LanLink::WaitResult::Failed: {
        const UserMessage box = texts::noAnswer(failure);
        lanFailure_ = box.text;
        dialogs_.message(box);
        lan_.setState(lsIdle);
        lan_.stopAckTimer();
        view_.UnlockCommands();
        return false;
    }
    case LanLink::WaitResult::Reached: break;
    }
    return true;
}

void WriteTransaction::lanWrite(const ConfigImage &image)
{
    // The write sends this image, and names this serial number, whatever a
    // later start builds or the user types meanwhile.
    const ConfigImage sent = image;
    const QString serial = builtSerial_;
    // Reported when the write has ended, whichever way: after the running
    // state below is left. A step that ran out of answers names its box;
    // any other early end is the close that stopped every wait.
    struct Report {
        WriteTransaction &t;
        WriteOutcome outcome;
        ~Report()
        {
            if (outcome.result == WriteOutcome::Result::Interrupted && !t.lanFailure_.isEmpty()) {
                outcome.result = WriteOutcome::Result::Failed;
                outcome.message = t.lanFailure_;
            }
            emit t.writeFinished(outcome);
        }
    } report{*this,
             {WriteOutcome::Target::Lan,
              lan_.transceiverAddress(),
              serial,
              WriteOutcome::Result::Interrupted,
              {},
              imageBytes(image)}};
    lanFailure_.clear();
    state_ = State::Lan;
    ++session_.lanWaits;
    struct Running {
        WriteTransaction &t;
        ~Running()
        {
            --t.session_.lanWaits;
            t.state_ = State::Idle;
        }
    } running{*this};

    lan_.keepAlive(false);
    if (!lanStep(LanFrame::datF(), lsWaitReady, kRetries, 2, texts::kNoAnswer))
        return;
    progress_.total = kImageSize;

    // Sixty blocks of five object records, then the common block.
    for (int n = 1; n <= LanFrame::kBlocks; ++n) {
        if (!lanStep(LanFrame::writeBlock(n, sent), lsWaitBlockAck, kRetries, 5, texts::kNoAnswerBlock))
            return;
        progress_.done += LanFrame::kBlockDataLength;
        view_.setGauge(progress_.percent());
    }
    if (!lanStep(LanFrame::writeCommon(sent), lsWaitBlockAck, kRetries, 2, texts::kNoAnswer))
        return;
    progress_.done += kCommonSize;
    view_.setGauge(progress_.percent());

    // End of data, then ask for the result. "AT+FPDE" goes out once; only
    // "AT+CONFIG" sits in the request slot to be repeated.
    lan_.sendOnce(LanFrame::fpdE());
    if (!lanStep(LanFrame::config(), lsWaitResult, kFinalRetries, 5, texts::kNoAnswer))
        return;

    const bool success = lan_.result() == LanReply::Success;
    const UserMessage box = success ? texts::writeDone(serial) : texts::writeRefused();
    report.outcome.result = success ? WriteOutcome::Result::Done : WriteOutcome::Result::Failed;
    if (!success)
        report.outcome.message = box.text;
    dialogs_.message(box);
    lan_.stopAckTimer();
    lan_.keepAlive(true);
    view_.UnlockCommands();
    view_.setGauge(0);
    lan_.setState(lsIdle);
}

void WriteTransaction::onUsbProgress(int position, int count)
{
    if (state_ != State::Usb)
        return;
    // The gauge is set before each packet from the bytes sent so far; the
    // stream's first frame counts as one packet.
    progress_ = Progress{kPacketSize * std::max(position, 1), kPacketSize * count};
    view_.setGauge(progress_.percent());
}

void WriteTransaction::onUsbEnded(UsbLink::WriteEnd end)
{
    if (state_ != State::Usb)
        return;
    state_ = State::Idle;
    view_.releaseWrBtn();
    switch (end) {
    case UsbLink::WriteEnd::Done:
        packets_.clear();
        view_.setCommandEnabled(Command::ItemWr, false);
        view_.setGauge(0);
        deferred_.post([this, serial = streamSerial_, outcome = streamOutcome(WriteOutcome::Result::Done)] {
            dialogs_.message(texts::writeDone(serial));
            view_.UnlockCommands();
            view_.setCommandEnabled(Command::ItemRead, false);
            emit writeFinished(outcome);
        });
        break;
    case UsbLink::WriteEnd::NoAnswer:
    case UsbLink::WriteEnd::Lost:
        deferred_.post(
            [this, outcome = streamOutcome(WriteOutcome::Result::Failed, texts::noAnswer(texts::kNoAnswer).text)] {
                dialogs_.message(texts::noAnswer(texts::kNoAnswer));
                restoreCommandsAfterSave();
                emit writeFinished(outcome);
            });
        break;
    case UsbLink::WriteEnd::Fatal:
        // The fatal box and the close question follow from the link.
        restoreCommandsAfterSave();
        emit writeFinished(streamOutcome(WriteOutcome::Result::Failed, texts::fatalPanelType().text));
        break;
    }
}

void WriteTransaction::shutdown()
{
    if (state_ != State::Usb)
        return;
    state_ = State::Idle;
    emit writeFinished(streamOutcome(WriteOutcome::Result::Interrupted));
}

WriteOutcome WriteTransaction::streamOutcome(WriteOutcome::Result result, const QString &message) const
{
    return {WriteOutcome::Target::Usb, streamPort_, streamSerial_, result, message, streamImage_};
}

ReadTransaction::ReadTransaction(LinkView &view, Dialogs &dialogs, LinkSession &session, ConfigImage &image,
                                 LanLink &lan, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), session_(session), image_(image), lan_(lan)
{
    setObjectName(QStringLiteral("ReadTransaction"));
    connect(&lan_, &LanLink::readStored, this, [this](int bytes) {
        if (state_ != State::Reading)
            return;
        progress_.done += bytes;
        view_.setGauge(progress_.percent());
    });
}

void ReadTransaction::ItemReadClick()
{
    view_.clearObjectCount();
    if (lan_.state() != lsIdle)
        return;
    view_.LockCommands();
    image_.clear();
    view_.clearFieldsForRead();
    view_.clearObjectTable();
    progress_ = Progress{0, kImageSize};
    state_ = State::Reading;
    ++session_.lanWaits;
    // The blocks go into an image of the read's own: a start through "Пуск"
    // meanwhile rebuilds the model's image, and must not wipe what arrived.
    incoming_.clear();
    lan_.beginRead(incoming_, kRetries);
    const LanLink::WaitResult result = lan_.waitFor(lsReadDone, 2);
    --session_.lanWaits;
    state_ = State::Idle;
    lan_.endRead();
    if (result == LanLink::WaitResult::Stopped)
        return;
    // Done or failed, the image holds whatever arrived.
    image_ = incoming_;

    if (result == LanLink::WaitResult::Reached) {
        lan_.stopAckTimer();
        lan_.keepAlive(true);
        const std::uint32_t serial =
            ConfigImage::readUnsigned(image_.common() + CommonField::Serial.offset, CommonField::Serial.width);
        dialogs_.message(texts::readDone(serial));
        view_.setGauge(0);
        lan_.setState(lsIdle);
        view_.applyCommonSettings(image_.decodeCommon());
        view_.rebuildObjectTable();
        view_.UnlockCommands();
        return;
    }

    lan_.stopWaitTimers();
    dialogs_.message(texts::readFailed());
    view_.UnlockCommands();
    view_.setGauge(0);
    lan_.keepAlive(true);
    lan_.setState(lsIdle);
}

} // namespace tarvil
