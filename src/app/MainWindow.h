#pragma once

#include "app/Dialogs.h"
#include "app/WindowView.h"
#include "link/LinkConfig.h"
#include "model/ConfigImage.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QProgressBar;
class QPushButton;
class QWidget;

namespace tarvil {

class CommonPanel;
class FileCommands;
class Journal;
class ObjectPanel;
class QtDialogs;
class TrackedDialogs;
class Links;

// The main window A_Form: the object table with the gauge and the write
// button on the left (Panel2), the common settings on the right (Panel1),
// the menu A_Menu and the status line SB. It puts together the two panels,
// the file commands and the link's view (WindowView, which it is), and runs
// the handlers of its menu and buttons.
class TA_Form : public QMainWindow, public WindowView {
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
    CommonPanel &commonPanel() { return *commonPanel_; }
    Dialogs &dialogs() { return *dialogs_; }
    // The journal of writes, saves and reads, in the user's data folder.
    Journal &journal();

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

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Outer size 855 x 592, centred on the screen.
    void placeOnScreen();
    QList<QAction *> buildMenu();
    QWidget *buildLeftPanel();

    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs *dialogs_;
    std::unique_ptr<TrackedDialogs> boxes_; // dialogs_, as the window and its parts use them

    CommonPanel *commonPanel_ = nullptr;
    ObjectPanel *objectPanel_ = nullptr;
    QProgressBar *Gauge_ = nullptr;
    QPushButton *WrBtn_ = nullptr;
    FileCommands *fileCommands_ = nullptr;

    ConfigImage image_;
    Links *links_ = nullptr;
    bool shown_ = false;
    bool askingToClose_ = false;
};

} // namespace tarvil
