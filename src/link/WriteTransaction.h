#pragma once

#include "link/LanLink.h"
#include "link/LinkState.h"
#include "link/LinkView.h"
#include "link/Packets.h"
#include "link/UsbLink.h"
#include "link/WriteOutcome.h"
#include "model/ConfigImage.h"
#include "model/WriteChecks.h"

#include <QObject>

#include <functional>
#include <optional>

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
// messages, the command lock and the gauge. A start while a write or a read
// runs ("Пуск" stays usable) never harms the running one: a refused check
// leaves its packets, its progress and the command lock alone, and a LAN
// write sends an image of its own.
class WriteTransaction : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Lan, Usb };

    WriteTransaction(LinkView &view, Dialogs &dialogs, Deferred &deferred, LinkSession &session, ConfigImage &image,
                     PacketList &packets, LanLink &lan, UsbLink &usb, QObject *parent = nullptr);

    void WrBtnClick(const SaveTarget *saveTarget = nullptr);
    State state() const { return state_; }
    const Progress &progress() const { return progress_; }
    // A confirmed close: a USB stream that still runs ends here, interrupted.
    void shutdown();

signals:
    // Every write that sent something, once it has ended and its result has
    // been shown; a fatal USB end as soon as it is known (its box follows
    // from the link), a USB stream begun anew as interrupted.
    void writeFinished(const tarvil::WriteOutcome &outcome);

private:
    bool running() const { return state_ != State::Idle || session_.lanWaits > 0; }
    WriteOutcome streamOutcome(WriteOutcome::Result result, const QString &message = {}) const;
    // The checks in their order, each passed field stored at once, then the
    // rest of the build and the packet list; false when a check refuses.
    bool build();
    void restoreCommandsAfterSave();
    void lanWrite(const ConfigImage &image);
    bool lanStep(const QByteArray &request, LinkState awaiting, int retries, int n, const QString &failure);
    void onUsbProgress(int position, int count);
    void onUsbEnded(UsbLink::WriteEnd end);

    LinkView &view_;
    Dialogs &dialogs_;
    Deferred &deferred_;
    LinkSession &session_;
    ConfigImage &image_;
    PacketList &packets_;
    LanLink &lan_;
    UsbLink &usb_;
    State state_ = State::Idle;
    Progress progress_;
    QString builtSerial_;  // the serial number the last build checked
    QString streamSerial_; // ... and the one the USB stream carries
    QString streamPort_;   // the device it goes to: a lost port forgets its name
    QByteArray streamImage_;
    QString lanFailure_; // the box a LAN step that ran out of answers showed
};

// The read over LAN: "AT+READF", the blocks into the image, then the window's
// fields and the object table filled from it.
class ReadTransaction : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Reading };

    ReadTransaction(LinkView &view, Dialogs &dialogs, LinkSession &session, ConfigImage &image, LanLink &lan,
                    QObject *parent = nullptr);

    void ItemReadClick();
    State state() const { return state_; }
    const Progress &progress() const { return progress_; }

private:
    LinkView &view_;
    Dialogs &dialogs_;
    LinkSession &session_;
    ConfigImage &image_;
    LanLink &lan_;
    State state_ = State::Idle;
    Progress progress_;
    ConfigImage incoming_;
};

} // namespace tarvil
