#pragma once

#include "link/LanLink.h"
#include "link/LinkState.h"
#include "link/LinkView.h"
#include "link/Packets.h"
#include "link/UsbLink.h"
#include "link/WriteOutcome.h"
#include "model/ConfigImage.h"
#include "model/UserMessage.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

namespace tarvil {

class Deferred;
class Dialogs;
class LinkView;

// Where a save sends the packets of its build instead of the transceiver.
struct SaveTarget {
    std::function<void(const PacketList &)> write;
};

// The write: the field checks in their order, the build of the image and the
// packet list, and then the LAN dialogue or the USB stream, with the result
// messages, the command lock and the gauge. The LAN dialogue is a list of
// steps, each a request with the reply it awaits, its retries and the text
// its failure shows; the link's answered() and failed() move it on once their
// notification is over. Every write that starts ends in one finished().
//
// A start while a write or a read runs ("Пуск" stays usable) never harms the
// running one: a refused check shows its box and nothing else, a LAN write
// sends the image it started with, and only a USB stream begins anew.
class WriteTransaction : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Lan,       // the LAN dialogue: a step awaits its reply
        LanEnding, // its result is known and its box open
        Usb,       // the USB stream
    };

    // `active` is the link the user chose last; `othersRunning` tells whether
    // a read or a connect runs.
    WriteTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, const Channel &active,
                     std::function<bool()> othersRunning, ConfigImage &image, PacketList &packets, LanLink &lan,
                     UsbLink &usb, QObject *parent = nullptr);

    // "Записать" / "Пуск"; with a save target, "Сохранить" (which sends
    // nothing and so ends in no finished()).
    void WrBtnClick(const SaveTarget *saveTarget = nullptr);
    State state() const { return state_; }
    bool running() const { return state_ != State::Idle || othersRunning_(); }
    const Progress &progress() const { return progress_; }
    // A confirmed close: a write that runs ends here, interrupted, unless the
    // box of its result is already open.
    void shutdown();

signals:
    // How a write ended, once its result has been shown: done, refused by a
    // field check (or sent nowhere, without a box, when no link is usable),
    // failed with the box's text, or interrupted. A fatal USB end comes as
    // soon as it is known (its box follows from the link); a USB stream begun
    // anew ends as interrupted.
    void finished(const tarvil::WriteOutcome &outcome);

private:
    // One exchange of the LAN write.
    struct LanStep {
        QByteArray request;
        LinkState awaiting;
        int retries;
        const QString *failure; // the box's text when its retries run out
        int bytes;              // image bytes it carries: the gauge moves on by them
        bool endOfDataFirst;    // "AT+FPDE" goes out once before the request
    };

    std::function<void()> guarded(std::function<void()> work);
    WriteOutcome outcomeOf(WriteOutcome::Target target, const QString &targetName, const QString &serial,
                           const QByteArray &image, WriteOutcome::Result result, const QString &message = {}) const;
    // The checks in their order, each passed field stored at once, then the
    // rest of the build and the packet list; false when a check refuses.
    bool build();
    void restoreCommandsAfterSave();
    void startLan();
    void sendLanStep();
    void onLanAnswered(LanReply reply);
    void onLanFailed();
    // The box shown, then the outcome, whatever happened while it was open.
    void endLan(const UserMessage &box, const WriteOutcome &outcome, bool keepAlive);
    // The adapter's answer time, what the write will take and the advice.
    void showUsbPace(int frames);
    void onUsbStarting(int frames);
    void onUsbProgress(int position, int count);
    void onUsbEnded(UsbLink::WriteEnd end);
    // The stream's outcome as it ends: how fast the adapter answered, how long it ran.
    WriteOutcome usbEnding(WriteOutcome::Result result);

    LinkView &view_;
    Dialogs &dialogs_;
    Deferred &deferred_;
    const Channel &active_;
    std::function<bool()> othersRunning_;
    ConfigImage &image_;
    PacketList &packets_;
    LanLink &lan_;
    UsbLink &usb_;
    State state_ = State::Idle;
    Progress progress_;
    QString builtSerial_; // the serial number the last build checked
    QString refused_;     // the box of the check that refused the last build
    std::uint64_t run_ = 0; // counts LAN runs and closes: posted work of an older one is dropped

    // The LAN write that runs: its steps over the image it started with, the
    // step awaiting its reply, and what it reports: interrupted until its
    // result is known (a close confirmed while that box is open changes
    // nothing of it).
    std::vector<LanStep> lanSteps_;
    std::size_t lanStep_ = 0;
    WriteOutcome lanOutcome_;
    // The USB stream that runs, since when, and its pace as last shown.
    WriteOutcome usbOutcome_;
    QElapsedTimer usbClock_;
    QString usbAdvice_;
    std::optional<std::chrono::nanoseconds> paceAnswer_; // taken afresh with every percent
    int pacePercent_ = -1;
    qint64 paceSeconds_ = -1;
};

} // namespace tarvil
