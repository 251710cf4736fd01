#pragma once

// Stand-ins for the window, its dialogs and the two ports, for driving the
// links' receive paths without a window or a device.

#include "link/Dialogs.h"
#include "link/LinkView.h"
#include "link/SerialPort.h"
#include "link/UdpEndpoint.h"

#include <QByteArray>

namespace tarvil::fuzz {

class NullView : public LinkView, public Dialogs {
public:
    CommonSettings settings;
    int boxes = 0;
    void setCaption(CaptionMode, const QString &) override {}
    void setStatusText(const QString &) override {}
    void LockCommands() override {}
    void UnlockCommands() override {}
    void setCommandEnabled(Command, bool) override {}
    void setWrBtnVisible(bool) override {}
    void releaseWrBtn() override {}
    void setGaugeVisible(bool) override {}
    void setGauge(int) override {}
    void setUsbPace(const std::optional<UsbPace> &) override {}
    CommonSettings commonSettings() const override { return settings; }
    QList<ObjectRow> objectRows() const override { return {}; }
    void focusControl(const Field &) override {}
    void clearObjectCount() override {}
    void clearFieldsForRead() override {}
    void clearObjectTable() override {}
    void applyCommonSettings(const CommonSettings &) override {}
    void rebuildObjectTable() override {}
    void requestClose() override {}
    MsgAnswer message(const UserMessage &) override
    {
        ++boxes;
        return MsgAnswer::Ok;
    }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override { return {}; }
    std::optional<QString> openFileName(const FileDialogRequest &) override { return {}; }
    std::optional<QString> saveFileName(const FileDialogRequest &) override { return {}; }
    std::optional<QString> choosePort(const PortChoiceRequest &) override { return QStringLiteral("fuzz"); }
};

class FakeUdp : public UdpEndpoint {
public:
    QString remote;
    int sent = 0;
    bool bind(std::uint16_t, QString *) override { return true; }
    bool isBound() const override { return true; }
    void setRemoteHost(const QString &text, std::uint16_t) override { remote = text; }
    QString remoteHost() const override { return remote; }
    void send(const QByteArray &) override { ++sent; }
    void deliver(const QByteArray &d, const QString &from)
    {
        emit datagramReceived(d, from, 9999);
        emit drained();
    }
};

class FakeSerial : public SerialPort {
public:
    QByteArray input;
    int frames = 0;
    bool openNow = false;
    bool open(const QString &, OpenError *, QString *) override { return openNow = true; }
    void close() override { openNow = false; }
    bool isOpen() const override { return openNow; }
    qint64 bytesAvailable() const override { return openNow ? input.size() : 0; }
    int readByte() override
    {
        if (input.isEmpty())
            return -1;
        const int b = static_cast<unsigned char>(input.at(0));
        input.remove(0, 1);
        return b;
    }
    void write(const QByteArray &) override { ++frames; }
    int outputFree() const override { return kSerialBufferSize; }
    QList<PortEntry> ports() const override { return {}; }
};

} // namespace tarvil::fuzz
