#pragma once

#include "link/LinkState.h"
#include "link/ReadOutcome.h"
#include "model/ConfigImage.h"

#include <QObject>

#include <cstdint>

namespace tarvil {

class Deferred;
class Dialogs;
class LanLink;
class LinkView;

// The read over LAN: "AT+READF", the blocks into an image of the read's own,
// then the window's fields and the object table filled from it. The link's
// readEnded() and failed() end it once their notification is over; every
// read that starts ends in one finished().
class ReadTransaction : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Reading };

    ReadTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, ConfigImage &image, LanLink &lan,
                    QObject *parent = nullptr);

    // "Прочитать". With the LAN link not idle it only empties the count.
    void ItemReadClick();
    State state() const { return state_; }
    const Progress &progress() const { return progress_; }
    // A confirmed close: a read that runs ends here, interrupted.
    void shutdown();

signals:
    // Done (the window shows what was read), failed with the box's text, or
    // interrupted by a close; with the transceiver's address, its serial
    // number and, of a read that ended, the image exactly as it arrived.
    void finished(const tarvil::ReadOutcome &outcome);

private:
    void onEnded();
    void onFailed();
    ReadOutcome outcomeOf(Outcome::Result result, const QString &message = {}) const;

    LinkView &view_;
    Dialogs &dialogs_;
    Deferred &deferred_;
    ConfigImage &image_;
    LanLink &lan_;
    State state_ = State::Idle;
    Progress progress_;
    ConfigImage incoming_;
    QString address_;            // where the read that runs was sent
    bool commonArrived_ = false; // its common block, and so its serial number, has come
    std::uint64_t run_ = 0; // counts reads and closes: posted work of an older one is dropped
};

} // namespace tarvil
