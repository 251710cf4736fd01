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
    lan_.beginRead(incoming_, kRetries);
}

void ReadTransaction::onEnded()
{
    state_ = State::Idle;
    // The image holds what arrived.
    image_ = incoming_;
    lan_.keepAlive(true);
    const std::uint32_t serial =
        ConfigImage::readUnsigned(image_.common() + CommonField::Serial.offset, CommonField::Serial.width);
    dialogs_.message(texts::readDone(serial));
    view_.setGauge(0);
    lan_.release(true);
    view_.applyCommonSettings(image_.decodeCommon());
    view_.rebuildObjectTable();
    view_.UnlockCommands();
    emit finished({Outcome::Result::Done, {}});
}

void ReadTransaction::onFailed()
{
    state_ = State::Idle;
    // Failed too, the image holds whatever arrived.
    image_ = incoming_;
    const UserMessage box = texts::readFailed();
    dialogs_.message(box);
    view_.UnlockCommands();
    view_.setGauge(0);
    lan_.release(true);
    emit finished({Outcome::Result::Failed, box.text});
}

void ReadTransaction::shutdown()
{
    if (state_ != State::Reading)
        return;
    state_ = State::Idle;
    ++run_;
    emit finished({Outcome::Result::Interrupted, {}});
}

} // namespace tarvil
