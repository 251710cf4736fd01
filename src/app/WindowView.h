#pragma once

#include "link/LinkView.h"

#include <QList>
#include <QString>

class QAction;
class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tarvil {

class CommonPanel;
class ConfigImage;
class ObjectPanel;

// The main window as the link and the transactions see it: the caption, the
// status line, the command lock, the gauge and the write button, the common
// settings through the right-hand panel and the rows through the object
// panel. The window is one; it builds the parts and hands them over.
class WindowView : public LinkView {
public:
    static QString captionText(CaptionMode mode, const QString &detail = {});
    QString statusText() const;

    void setCaption(CaptionMode mode, const QString &detail = {}) override;
    void setStatusText(const QString &text) override;
    void LockCommands() override;
    void UnlockCommands() override;
    void setCommandEnabled(Command command, bool enabled) override;
    void setWrBtnVisible(bool visible) override;
    void releaseWrBtn() override;
    void setGaugeVisible(bool visible) override;
    void setGauge(int percent) override;
    void setUsbPace(const std::optional<UsbPace> &pace) override;
    CommonSettings commonSettings() const override;
    QList<ObjectRow> objectRows() const override;
    void focusControl(const Field &field) override;
    void clearObjectCount() override;
    void clearFieldsForRead() override;
    void clearObjectTable() override;
    void applyCommonSettings(const CommonSettings &settings) override;
    void rebuildObjectTable() override;
    void requestClose() override;

protected:
    struct Parts {
        QMainWindow *window = nullptr;
        CommonPanel *common = nullptr;
        ObjectPanel *objects = nullptr;
        ConfigImage *image = nullptr;
        QLabel *status = nullptr;
        QProgressBar *gauge = nullptr;
        QPushButton *wrBtn = nullptr;
        QList<QAction *> commands; // in the order of Command
    };
    void attachView(const Parts &parts);

private:
    QAction *commandAction(Command command) const;

    Parts parts_;
    QTimer *gaugeRepaint_ = nullptr;
};

} // namespace tarvil
