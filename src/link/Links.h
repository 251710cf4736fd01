#pragma once

#include "link/Deferred.h"
#include "link/LanLink.h"
#include "link/LinkConfig.h"
#include "link/LinkState.h"
#include "link/Notifications.h"
#include "link/Packets.h"
#include "link/ReadTransaction.h"
#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"
#include "link/UsbLink.h"
#include "link/WriteTransaction.h"

#include <QObject>

#include <memory>

namespace tarvil {

class ConfigImage;
class Dialogs;
class LinkView;

// The parts of the transceiver link, wired together: both links and both
// transactions, the stop flag, and the one record of which link the user
// chose last, which the links report to. The configuration image belongs to
// the caller's model; the packet list holds the last build. The handler
// names are the entry points of the window's commands.
class Links : public QObject {
    Q_OBJECT
public:
    // Null adapters mean the real ones (QSerialPort, QUdpSocket).
    Links(LinkView &view, Dialogs &dialogs, ConfigImage &image, const LinkConfig &config,
          std::unique_ptr<SerialPort> serial = {}, std::unique_ptr<UdpEndpoint> udp = {}, QObject *parent = nullptr);
    ~Links() override;

    LanLink &lan() { return lan_; }
    UsbLink &usb() { return usb_; }
    WriteTransaction &writer() { return write_; }
    ReadTransaction &reader() { return read_; }
    const PacketList &packets() const { return packets_; }
    const LinkConfig &config() const { return config_; }
    // ActiveChannel: the link the user chose last and that is usable.
    Channel activeChannel() const { return active_; }
    // StopFlag: the user has confirmed closing.
    bool stopped() const { return stop_.isSet(); }

    // First showing of the window: empty packet list, zeroed object records,
    // StopFlag cleared; a UDP port that could not be bound is reported once.
    void formShow();
    // "Выход": TimerUDP and TimerWaitAck off.
    void stopTimersForExit();
    // Confirmed close: StopFlag set, the transaction that runs ends
    // interrupted, port closed, packets released.
    void shutdown();

    void USB1Click() { usb_.USB1Click(); }
    void LanClick();
    void WrBtnClick(const SaveTarget *saveTarget = nullptr) { write_.WrBtnClick(saveTarget); }
    void ItemReadClick() { read_.ItemReadClick(); }

private:
    LinkConfig config_;
    ConfigImage &image_;
    StopFlag stop_;
    Deferred deferred_;
    Channel active_ = Channel::None;
    PacketList packets_;
    LanLink lan_;
    UsbLink usb_;
    WriteTransaction write_;
    ReadTransaction read_;
};

} // namespace tarvil
