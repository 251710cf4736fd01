#pragma once

#include "link/LinkConfig.h"
#include "link/LinkState.h"
#include "link/LinkView.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"

#include <QObject>
#include <QString>

#include <functional>

namespace tarvil {

// Where a save sends the packets of its build instead of the transceiver.
struct SaveTarget {
    std::function<void(const PacketList &)> write;
};

// The transceiver link: the configuration image, the packet list, the link
// variables, the USB and LAN links, their timers and the write and read
// transactions. It talks to the window only through LinkView.
class TransceiverLink : public QObject {
    Q_OBJECT
public:
    TransceiverLink(LinkView &view, const LinkConfig &config, QObject *parent = nullptr);
    ~TransceiverLink() override;

    ConfigImage &image() { return image_; }
    const ConfigImage &image() const { return image_; }
    PacketList &packets() { return packets_; }
    LinkVariables &vars() { return vars_; }
    const LinkVariables &vars() const { return vars_; }

    // First showing of the window: empty packet list, zeroed object records,
    // StopFlag cleared.
    void formShow();
    // "Выход": TimerUDP and TimerWaitAck off.
    void stopTimersForExit();
    // Confirmed close: StopFlag set, serial port closed, packets released.
    void shutdown();

    void USB1Click();
    void LanClick();
    void WrBtnClick(const SaveTarget *saveTarget = nullptr);
    void ItemReadClick();

    QString transceiverAddress() const { return transceiverAddress_; }
    void setTransceiverAddress(const QString &address) { transceiverAddress_ = address; }

private:
    LinkView &view_;
    LinkConfig config_;
    ConfigImage image_;
    PacketList packets_;
    LinkVariables vars_;
    QString transceiverAddress_;
};

} // namespace tarvil
