#pragma once

#include "link/Dialogs.h"
#include "link/LinkState.h"
#include "link/LinkView.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTextStream>

#include <functional>

namespace tarvil::cli {

// The window, as the link sees it, on a console: the fields and rows the
// command gives, the answers to the prompts (the address, the port), every
// box printed on standard error and kept, and the transfer's progress as a
// bar on a terminal or a line per 10 % elsewhere.
class ConsoleView : public LinkView, public Dialogs {
public:
    ConsoleView(QTextStream &err, bool terminal);

    CommonSettings settings;
    QList<ObjectRow> rows;
    QString address; // the answer to the LAN prompt
    QString device;  // the answer to the port chooser
    QList<UserMessage> messages;
    QString status;
    bool closeRequested = false;
    // The transfer the gauge shows: bytes done and in all.
    std::function<Progress()> progress;

    // Ends a bar left on the line.
    void endProgress();

    void setCaption(CaptionMode, const QString &) override {}
    void setStatusText(const QString &text) override;
    void LockCommands() override {}
    void UnlockCommands() override {}
    void setCommandEnabled(tarvil::Command, bool) override {}
    void setWrBtnVisible(bool) override {}
    void releaseWrBtn() override {}
    void setGaugeVisible(bool) override {}
    void setGauge(int percent) override;
    void setUsbPace(const std::optional<UsbPace> &pace) override;
    CommonSettings commonSettings() const override { return settings; }
    QList<ObjectRow> objectRows() const override { return rows; }
    void focusControl(const Field &) override {}
    void clearObjectCount() override {}
    void clearFieldsForRead() override;
    void clearObjectTable() override {}
    void applyCommonSettings(const CommonSettings &s) override { settings = s; }
    void rebuildObjectTable() override {}
    void requestClose() override { closeRequested = true; }

    MsgAnswer message(const UserMessage &message) override;
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override;
    std::optional<QString> openFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> choosePort(const PortChoiceRequest &) override;

private:
    QTextStream &err_;
    bool terminal_;
    int lastPercent_ = -1;
    int lastTenth_ = -1;
    bool barOpen_ = false;
    QElapsedTimer started_;
    std::optional<UsbPace> pace_; // the USB write's, as last given
    bool paceShown_ = false;      // its line is out
};

} // namespace tarvil::cli
