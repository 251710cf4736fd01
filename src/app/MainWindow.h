#pragma once

#include "app/Dialogs.h"
#include "link/LinkConfig.h"
#include "link/LinkView.h"
#include "link/WriteOutcome.h"
#include "model/ConfigImage.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QWidget;

namespace tarvil {

class Journal;
class ObjectPanel;
class QtDialogs;
class TrackedDialogs;
class RadioGroup;
class Links;

// The main window A_Form: the common settings on the right (Panel1), the
// object table with the gauge and the write button on the left (Panel2), the
// menu A_Menu and the status line SB. It is the link's view.
class TA_Form : public QMainWindow, public LinkView {
    Q_OBJECT
public:
    // Without `dialogs` the window shows its boxes with Qt.
    explicit TA_Form(Dialogs *dialogs = nullptr, const LinkConfig &config = {},
                     QWidget *parent = nullptr);
    ~TA_Form() override;

    Links &links() { return *links_; }
    // The configuration image: what a read, a load or the last build left.
    ConfigImage &image() { return image_; }
    ObjectPanel &objectPanel() { return *objectPanel_; }
    Dialogs &dialogs() { return *dialogs_; }
    // The journal of writes and saves, in the user's data folder.
    Journal &journal() { return *journal_; }

    static QString captionText(CaptionMode mode, const QString &detail = {});
    QString statusText() const;

    // Handlers of the window's events.
    void FormShow();
    bool FormCloseQuery();
    void ItemExitClick();
    void DHCP_OnOffClick();
    void USB1Click();
    void LanClick();
    void WrBtnClick();
    void ItemWrClick();
    void ItemReadClick();
    void ItemLoadClick();
    void ItemSaveClick();
    // "Загрузить" with the file already chosen: the tool started with a file
    // (a double click on it) loads it this way.
    void loadFile(const QString &path);

    // LinkView
    void setCaption(CaptionMode mode, const QString &detail = {}) override;
    void setStatusText(const QString &text) override;
    void LockCommands() override;
    void UnlockCommands() override;
    void setCommandEnabled(Command command, bool enabled) override;
    void setWrBtnVisible(bool visible) override;
    void releaseWrBtn() override;
    void setGaugeVisible(bool visible) override;
    void setGauge(int percent) override;
    CommonSettings commonSettings() const override;
    QList<ObjectRow> objectRows() const override;
    void focusControl(Control control) override;
    void clearObjectCount() override;
    void clearFieldsForRead() override;
    void clearObjectTable() override;
    void applyCommonSettings(const CommonSettings &settings) override;
    void rebuildObjectTable() override;
    void requestClose() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Outer size 855 x 592, centred on the screen.
    void placeOnScreen();
    void buildMenu();
    QWidget *buildRightPanel();
    QWidget *buildLeftPanel();
    QAction *commandAction(Command command) const;
    QWidget *controlWidget(Control control) const;
    // A write or save has ended: into the journal, which never stops it.
    void journalWrite(const WriteOutcome &outcome);
    void journalNow(const WriteOutcome &outcome);
    void showJournalWarning();
    void loadChosenFile(const QString &path);

    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs *dialogs_;
    std::unique_ptr<TrackedDialogs> boxes_; // dialogs_, as the window and its parts use them
    std::unique_ptr<Journal> journal_;
    std::optional<QString> journalProblem_; // a warning that waits for its turn
    bool journalWarned_ = false;            // once per run
    bool closing_ = false;

    // Menu
    QAction *ItemLink_ = nullptr;
    QAction *USB1_ = nullptr;
    QAction *Lan_ = nullptr;
    QAction *ItemWr_ = nullptr;
    QAction *ItemRead_ = nullptr;
    QAction *ItemLoad_ = nullptr;
    QAction *ItemSave_ = nullptr;
    QAction *ItemCode_ = nullptr;
    QAction *ItemExit_ = nullptr;

    // Right-hand panel
    QLineEdit *EditMAC_ = nullptr;
    RadioGroup *FrmtRadioGroup_ = nullptr;
    QComboBox *BaudBox_ = nullptr;
    QSpinBox *PeriodHB_ = nullptr;
    QLineEdit *EditAPN_ = nullptr;
    QLineEdit *EditIP1_PCN_ = nullptr;
    QLineEdit *EditPort1_PCN_ = nullptr;
    RadioGroup *EtherProt_ = nullptr;
    RadioGroup *DHCP_OnOff_ = nullptr;
    QWidget *LocLAN_ = nullptr;
    QLineEdit *DHCP_IP_ = nullptr;
    QLineEdit *EditPort_Loc_ = nullptr;
    QLineEdit *Shl_IP_ = nullptr;
    QLineEdit *ServerIPEdit_ = nullptr;
    QLineEdit *ServerPortEdit_ = nullptr;
    QPushButton *StartUploadBtn_ = nullptr;

    // Left-hand panel and status line
    ObjectPanel *objectPanel_ = nullptr;
    QProgressBar *Gauge_ = nullptr;
    QTimer *gaugeRepaint_ = nullptr;
    QPushButton *WrBtn_ = nullptr;
    QStatusBar *SB_ = nullptr;
    QLabel *statusLabel_ = nullptr;

    ConfigImage image_;
    Links *links_ = nullptr;
    bool shown_ = false;
    bool askingToClose_ = false;
};

} // namespace tarvil
