#pragma once

#include "link/LinkConfig.h"
#include "link/LinkState.h"
#include "link/LinkView.h"
#include "link/Packets.h"
#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"
#include "model/ConfigImage.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QEventLoop;
class QTimer;

namespace tarvil {

// Where a save sends the packets of its build instead of the transceiver.
struct SaveTarget {
    std::function<void(const PacketList &)> write;
};

inline constexpr int kReplyBufferSize = 255;

// The transceiver link: the configuration image, the packet list, the link
// variables, the USB and LAN links, their timers and the write and read
// transactions. Everything runs on the window's thread; transactions wait in
// PumpWait, so receive handlers and timer ticks run nested inside them. The
// window is reached only through LinkView.
class TransceiverLink : public QObject {
    Q_OBJECT
public:
    // Null adapters mean the real ones (QSerialPort, QUdpSocket).
    TransceiverLink(LinkView &view, const LinkConfig &config, QObject *parent = nullptr,
                    std::unique_ptr<SerialPort> serial = {}, std::unique_ptr<UdpEndpoint> udp = {});
    ~TransceiverLink() override;

    ConfigImage &image() { return image_; }
    const ConfigImage &image() const { return image_; }
    PacketList &packets() { return packets_; }
    LinkVariables &vars() { return vars_; }
    const LinkVariables &vars() const { return vars_; }
    const LinkConfig &config() const { return config_; }

    // First showing of the window: empty packet list, zeroed object records,
    // StopFlag cleared. Reports once if the UDP port could not be bound.
    void formShow();
    // "Выход": TimerUDP and TimerWaitAck off.
    void stopTimersForExit();
    // Confirmed close: StopFlag set (every wait ends), port closed, packets released.
    void shutdown();

    // Commands.
    void USB1Click();
    void LanClick();
    void WrBtnClick(const SaveTarget *saveTarget = nullptr);
    void ItemReadClick();

    // Handlers of the link's own events (public for tests that drive them).
    void ConfUDPDataReceived(const QByteArray &datagram, const QString &fromIp, std::uint16_t port);
    void TimerWaitAckTimer();
    void TimerWaitBlockTimer();
    void TimerUDPTimer();
    void ComPortTriggerAvail();
    void ComPortTriggerTimer();

    // Waits about (n + 1) pump steps keeping the window alive; returns at once
    // when StopFlag is set and as soon as LinkState or StopFlag changes.
    void PumpWait(int n);

    QString transceiverAddress() const { return transceiverAddress_; }
    void setTransceiverAddress(const QString &address) { transceiverAddress_ = address; }

    // USB state.
    bool usbConnected() const { return usbConnected_; }
    bool usbWriteActive() const { return usbWriteActive_; }
    int packetIndex() const { return packetIndex_; }
    bool comPortOpen() const;
    QString comPortName() const { return comPortName_; }
    const QByteArray &replyBuffer() const { return replyBuffer_; }
    std::int32_t lastBlock() const { return lastBlock_; }
    bool udpBound() const { return udpBound_; }

    SerialPort &serialPort() { return *serial_; }
    UdpEndpoint &udpEndpoint() { return *udp_; }

    // Sets LinkState and wakes every PumpWait.
    void setState(std::int32_t state);

private:
    enum class WaitResult { Reached, Stopped, Failed };

    // Timers with the Delphi meaning of Enabled: enabling a running timer
    // does not restart it.
    static void enable(QTimer *timer);
    static void disable(QTimer *timer);

    void wakePumps();
    void updateGauge();
    void sendRequest(const QByteArray &request);
    void resendRequest();
    WaitResult waitFor(std::int32_t target, int n);
    void failLanWrite(const QString &text);
    void restoreCommandsAfterSave();
    bool lanWrite();
    // One request of the LAN write and its wait; false when the write ends.
    bool lanStep(const QByteArray &request, std::int32_t awaiting, std::int32_t target, int retries, int n,
                 const QString &failure);
    void startUsbWrite();
    void sendFirstPacket();

    // USB.
    bool openComPort();
    void closeComPort();
    void armLinkWatch(int ticks);
    void disarmLinkWatch();
    void writePoll();
    void writePacket(int index);
    void showUsbOffline();
    void finishUsbWrite();
    void endUsbWrite(const QString &reason);
    void onSerialFailed(const QString &reason);
    void TimerUsbWriteTimer();

    LinkView &view_;
    LinkConfig config_;
    ConfigImage image_;
    PacketList packets_;
    LinkVariables vars_;
    QString transceiverAddress_;

    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<UdpEndpoint> udp_;
    bool udpBound_ = false;
    QString udpBindError_;
    bool bindReported_ = false;

    QTimer *timerUdp_;
    QTimer *timerWaitAck_;
    QTimer *timerWaitBlock_;
    QTimer *linkWatch_;
    QTimer *timerUsbWrite_;

    QList<QEventLoop *> pumps_;
    int busy_ = 0; // a connect, write or read waiting in PumpWait

    QByteArray replyBuffer_ = QByteArray(kReplyBufferSize, '\0');
    std::int32_t lastBlock_ = -1;

    QString comPortName_; // empty: no port chosen ("ComNumber 0")
    bool usbConnected_ = false;
    bool usbWriteActive_ = false;
    int packetIndex_ = 0;
    // Stop-and-wait bookkeeping: a frame (poll or packet) whose reply has not
    // come yet, the packet written last, and a write that waits for the reply
    // to an earlier frame before it sends its first packet.
    bool frameOutstanding_ = false;
    int lastWritten_ = -1;
    bool awaitingStart_ = false;
    QString pendingPortProblem_;
};

} // namespace tarvil
