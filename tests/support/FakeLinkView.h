#pragma once

// A recording LinkView, and dialogs adapter, for running the link and its
// transactions without a window.
//
//   FakeLinkView view;
//   view.settings = validSettings();        // what commonSettings() returns
//   view.answers.enqueue(MsgAnswer::Ok);    // answers for its boxes, in order
//   view.onMessage = [&](const UserMessage &m) { ... };  // runs while the box is "open"
//   ... run the link ...
//   QCOMPARE(view.messages.last().text, "...");
//   QVERIFY(view.commands[Command::ItemWr]);
//
// The log records every call in order as a short text ("lock", "unlock",
// "caption:Lan:127.0.0.2", "status:...", "gauge:42", "message:...", ...).

#include "SampleConfiguration.h"

#include "link/Dialogs.h"
#include "link/LinkView.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>
#include <optional>

namespace tarvil::test {

class FakeLinkView : public LinkView, public Dialogs {
public:
    FakeLinkView();

    // What the view shows.
    CaptionMode captionMode = CaptionMode::Offline;
    QString captionDetail;
    QString status;
    QHash<Command, bool> commands;
    bool wrBtnVisible = false;
    bool gaugeVisible = false;
    int gauge = 0;
    QList<int> gaugeHistory;
    // The USB write's pace beside the gauge, and every one given (nothing:
    // the write ended).
    std::optional<UsbPace> usbPace;
    QList<std::optional<UsbPace>> usbPaces;
    bool locked = false;

    // What the view holds.
    CommonSettings settings;
    QList<ObjectRow> rows;
    QStringList focused; // objectNames of the controls given the focus
    bool locLanVisible = false; // a control on the hidden panel takes no focus
    int objectCountClears = 0;
    int fieldClears = 0;
    int tableClears = 0;
    int rebuilds = 0;
    int closeRequests = 0;
    QList<CommonSettings> applied;

    // Dialogs.
    QList<UserMessage> messages;
    // Boxes asked for while a socket, serial-port or timer notification ran:
    // there must be none.
    QList<UserMessage> boxesInsideNotifications;
    QQueue<MsgAnswer> answers;
    std::function<void(const UserMessage &)> onMessage;
    QQueue<std::optional<QString>> textAnswers;
    QStringList prompts; // "caption|prompt|value"
    QQueue<std::optional<QString>> portAnswers;
    QList<PortChoiceRequest> portRequests;

    QStringList log;

    void setCaption(CaptionMode mode, const QString &detail) override;
    void setStatusText(const QString &text) override;
    void LockCommands() override;
    void UnlockCommands() override;
    void setCommandEnabled(Command command, bool enabled) override;
    void setWrBtnVisible(bool visible) override;
    void releaseWrBtn() override;
    void setGaugeVisible(bool visible) override;
    void setGauge(int percent) override;
    void setUsbPace(const std::optional<UsbPace> &pace) override;
    MsgAnswer message(const UserMessage &message) override;
    std::optional<QString> inputText(const QString &caption, const QString &prompt, const QString &value) override;
    std::optional<QString> openFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> choosePort(const PortChoiceRequest &request) override;
    CommonSettings commonSettings() const override { return settings; }
    QList<ObjectRow> objectRows() const override { return rows; }
    void focusControl(const Field &field) override;
    void clearObjectCount() override;
    void clearFieldsForRead() override;
    void clearObjectTable() override;
    void applyCommonSettings(const CommonSettings &s) override;
    void rebuildObjectTable() override;
    void requestClose() override;

    // The caption text as the window would show it.
    QString captionText() const;
    bool allCommandsEnabled() const;
    int messageCount(const QString &text) const;
};

} // namespace tarvil::test
