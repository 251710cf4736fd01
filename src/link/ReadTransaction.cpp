#include "link/ReadTransaction.h"

#include "link/Deferred.h"
#include "link/Dialogs.h"
#include "link/LanLink.h"
#include "link/LinkView.h"
#include "link/Texts.h"

namespace tarvil {

namespace {

constexpr int kRetries = 7;

} // namespace

ReadTransaction::ReadTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, ConfigImage &image,
                                 LanLink &lan, QObject *parent)
    : QObject(parent), view_(view), dialogs_(dialogs), deferred_(deferred), image_(image), lan_(lan)
{
    setObjectName(QStringLiteral("ReadTransaction"));
    connect(&lan_, &LanLink::readStored, this, [this](int bytes) {
        if (state_ != State::Reading)
            return;
        progress_.done += bytes;
        commonArrived_ = commonArrived_ || bytes == kCommonSize;
        view_.setGauge(progress_.percent());
    });
    // Once the notification is over, and only for the read that asked.
    const auto later = [this](void (ReadTransaction::*step)()) {
        if (state_ != State::Reading)
            return;
        deferred_.post([this, step, run = run_] {
            if (run == run_ && state_ == State::Reading)
                (this->*step)();
        });
    };
    connect(&lan_, &LanLink::readEnded, this, [later] { later(&ReadTransaction::onEnded); });
    connect(&lan_, &LanLink::failed, this, [later] { later(&ReadTransaction::onFailed); });
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
    ++run_;
    // The blocks go into an image of the read's own: a start through "Пуск"
    // meanwhile rebuilds the model's image, and must not wipe what arrived.
    incoming_.clear();
    address_ = lan_.transceiverAddress();
    commonArrived_ = false;
    lan_.beginRead(incoming_, kRetries);
}

ReadOutcome ReadTransaction::outcomeOf(Outcome::Result result, const QString &message) const
{
    ReadOutcome o;
    o.result = result;
    o.message = message;
    o.targetName = address_;
    if (commonArrived_)
        o.serial = incoming_.decodeCommon().serial;
    return o;
}

void ReadTransaction::onEnded()
{
    state_ = State::Idle;
    // The image holds what arrived. The journal keeps these very bytes, taken
    // before the box lets anything else run.
    image_ = incoming_;
    ReadOutcome outcome = outcomeOf(Outcome::Result::Done);
    outcome.image = QByteArray(reinterpret_cast<const char *>(incoming_.data()), kImageSize);
    lan_.keepAlive(true);
    const std::uint32_t serial =
        ConfigImage::readUnsigned(image_.common() + CommonField::Serial.offset, CommonField::Serial.width);
    dialogs_.message(texts::readDone(serial));
    view_.setGauge(0);
    lan_.release(true);
    view_.applyCommonSettings(image_.decodeCommon());
    view_.rebuildObjectTable();
    view_.UnlockCommands();
    emit finished(outcome);
}

void ReadTransaction::onFailed()
{
    state_ = State::Idle;
    // Failed too, the image holds whatever arrived.
    image_ = incoming_;
    const UserMessage box = texts::readFailed();
    const ReadOutcome outcome = outcomeOf(Outcome::Result::Failed, box.text);
    dialogs_.message(box);
    view_.UnlockCommands();
    view_.setGauge(0);
    lan_.release(true);
    emit finished(outcome);
}

void ReadTransaction::shutdown()
{
    if (state_ != State::Reading)
        return;
    state_ = State::Idle;
    ++run_;
    emit finished(outcomeOf(Outcome::Result::Interrupted));
}

} // namespace tarvil
