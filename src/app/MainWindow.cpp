#include "app/MainWindow.h"

#include "app/CommonPanel.h"
#include "app/FileCommands.h"
#include "app/ObjectPanel.h"
#include "app/QtDialogs.h"
#include "app/TrackedDialogs.h"
#include "files/DataPaths.h"
#include "link/Links.h"
#include "link/Texts.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

// The window's pictures live in the app library, which the linker would
// otherwise leave out of the program.
static void initAppResources() { Q_INIT_RESOURCE(app); }

namespace tarvil {

namespace {

constexpr int kOuterWidth = 855; // the window with its frame
constexpr int kOuterHeight = 592;
constexpr int kStatusHeight = 28;
constexpr int kEmptyItemsBeforeCode = 9;
constexpr int kEmptyItemsAfterCode = 16;

} // namespace

TA_Form::TA_Form(Dialogs *dialogs, const LinkConfig &config, QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("A_Form"));
    initAppResources();
    if (!dialogs) {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
    boxes_ = std::make_unique<TrackedDialogs>(*dialogs_);
    setWindowIcon(QIcon(QStringLiteral(":/app/tarvil-config.png")));

    Parts view;
    view.window = this;
    view.image = &image_;
    view.commands = buildMenu();

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildLeftPanel(), 1);
    commonPanel_ = new CommonPanel(this);
    row->addWidget(commonPanel_);
    setCentralWidget(central);
    connect(commonPanel_, &CommonPanel::dhcpChanged, this, [this] { DHCP_OnOffClick(); });
    connect(commonPanel_, &CommonPanel::startUploadClicked, this, [this] { WrBtnClick(); });

    auto *statusBar = new QStatusBar(this);
    statusBar->setObjectName(QStringLiteral("SB"));
    statusBar->setSizeGripEnabled(false);
    statusBar->setFixedHeight(kStatusHeight);
    auto *statusLabel = new QLabel(statusBar);
    statusLabel->setObjectName(QStringLiteral("SBText"));
    statusLabel->setContentsMargins(4, 0, 4, 0);
    statusBar->addWidget(statusLabel, 1);
    setStatusBar(statusBar);

    view.common = commonPanel_;
    view.objects = objectPanel_;
    view.status = statusLabel;
    view.gauge = Gauge_;
    view.wrBtn = WrBtn_;
    attachView(view);

    placeOnScreen();

    // Last: the link may talk to the view as soon as it exists.
    links_ = new Links(*this, *boxes_, image_, config, {}, {}, this);
    fileCommands_ = new FileCommands(*this, *boxes_, *links_, image_, objectPanel_->table(), this);
}

TA_Form::~TA_Form()
{
    // The link, the file commands and the panel reach back into the window
    // and its dialogs, so they go while both are still whole; a write the
    // link ends on its way out is still journalled.
    delete links_;
    links_ = nullptr;
    delete fileCommands_;
    fileCommands_ = nullptr;
    delete objectPanel_;
    objectPanel_ = nullptr;
}

Journal &TA_Form::journal() { return fileCommands_->journal(); }

QList<QAction *> TA_Form::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("A_Menu"));

    auto *linkMenu = new QMenu(QStringLiteral("Связи с трансивером"), bar);
    QAction *itemLink = linkMenu->menuAction();
    itemLink->setObjectName(QStringLiteral("ItemLink"));
    QAction *usb = linkMenu->addAction(QStringLiteral("USB"));
    usb->setObjectName(QStringLiteral("USB1"));
    QAction *lan = linkMenu->addAction(QStringLiteral("LAN"));
    lan->setObjectName(QStringLiteral("Lan"));
    bar->addMenu(linkMenu);
    connect(usb, &QAction::triggered, this, [this] { USB1Click(); });
    connect(lan, &QAction::triggered, this, [this] { LanClick(); });

    auto add = [bar](const char *name, const QString &caption) {
        QAction *action = bar->addAction(caption);
        if (name)
            action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    QAction *itemWr = add("ItemWr", QStringLiteral("Записать"));
    itemWr->setEnabled(false);
    QAction *itemRead = add("ItemRead", QStringLiteral("Прочитать"));
    itemRead->setEnabled(false);
    QAction *itemLoad = add("ItemLoad", QStringLiteral("Загрузить"));
    QAction *itemSave = add("ItemSave", QStringLiteral("Сохранить"));
    connect(itemWr, &QAction::triggered, this, [this] { ItemWrClick(); });
    connect(itemRead, &QAction::triggered, this, [this] { ItemReadClick(); });
    connect(itemLoad, &QAction::triggered, this, [this] { ItemLoadClick(); });
    connect(itemSave, &QAction::triggered, this, [this] { ItemSaveClick(); });

    // The items without a caption have no action.
    for (int i = 0; i < kEmptyItemsBeforeCode; ++i)
        add(nullptr, QString());
    QAction *itemCode = add("ItemCode", QStringLiteral("Таблица перекодировки"));
    itemCode->setVisible(false);
    itemCode->setEnabled(false);
    for (int i = 0; i < kEmptyItemsAfterCode; ++i)
        add(nullptr, QString());

    QAction *itemExit = add("ItemExit", QStringLiteral("Выход"));
    connect(itemExit, &QAction::triggered, this, [this] { ItemExitClick(); });
    // The commands the link locks, in the order of Command.
    return {itemLink, itemWr, itemRead, itemLoad, itemSave};
}

QWidget *TA_Form::buildLeftPanel()
{
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel2"));
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);

    objectPanel_ = new ObjectPanel(*boxes_, panel);
    column->addWidget(objectPanel_, 1);

    auto *bottom = new QHBoxLayout;
    bottom->setSpacing(8);
    Gauge_ = new QProgressBar(panel);
    Gauge_->setObjectName(QStringLiteral("Gauge"));
    Gauge_->setRange(0, 100);
    Gauge_->setValue(0);
    Gauge_->setTextVisible(false);
    Gauge_->setFixedHeight(18);
    Gauge_->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #8a8a8a; background: white; text-align: center; color: #e07000; }"
        "QProgressBar::chunk { background-color: navy; }"));
    Gauge_->hide();
    bottom->addWidget(Gauge_, 1);

    WrBtn_ = new QPushButton(QIcon(QStringLiteral(":/app/write.png")), QStringLiteral("Записать"), panel);
    WrBtn_->setObjectName(QStringLiteral("WrBtn"));
    WrBtn_->setFlat(true);
    WrBtn_->setIconSize(QSize(16, 16));
    WrBtn_->hide();
    connect(WrBtn_, &QPushButton::clicked, this, [this] { WrBtnClick(); });
    bottom->addWidget(WrBtn_);
    column->addLayout(bottom);
    return panel;
}

// ---- Handlers ----

void TA_Form::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shown_)
        placeOnScreen(); // the frame is known now
    FormShow();
}

void TA_Form::placeOnScreen()
{
    QMargins frame;
    if (const QWindow *handle = windowHandle())
        frame = handle->frameMargins();
    resize(kOuterWidth - frame.left() - frame.right(), kOuterHeight - frame.top() - frame.bottom());
    const QScreen *screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // On a screen smaller than the window its top left corner stays on the
    // screen, so that the caption can still be grabbed.
    const QPoint topLeft(area.x() + std::max(0, (area.width() - kOuterWidth) / 2),
                         area.y() + std::max(0, (area.height() - kOuterHeight) / 2));
    if (QWindow *handle = windowHandle())
        handle->setFramePosition(topLeft);
    else
        move(topLeft);
}

void TA_Form::FormShow()
{
    if (shown_)
        return;
    shown_ = true;
    setCaption(CaptionMode::Offline);
    links_->formShow();
    commonPanel_->FormShow();
    objectPanel_->openTables(catalogueToLoad(QCoreApplication::applicationDirPath()));
}

void TA_Form::closeEvent(QCloseEvent *event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

bool TA_Form::FormCloseQuery()
{
    // A second request while the question is open (a link asking the window
    // to close, say) waits for the answer to the first.
    if (askingToClose_)
        return false;
    askingToClose_ = true;
    const MsgAnswer answer = boxes_->message(texts::closeQuestion());
    askingToClose_ = false;
    if (answer != MsgAnswer::Yes)
        return false;
    fileCommands_->closing(); // a write that stops now is journalled without a box
    links_->shutdown();
    objectPanel_->closeTables();
    return true;
}

void TA_Form::ItemExitClick()
{
    links_->stopTimersForExit();
    close();
}

void TA_Form::DHCP_OnOffClick() { commonPanel_->DHCP_OnOffClick(); }

void TA_Form::USB1Click() { links_->USB1Click(); }
void TA_Form::LanClick() { links_->LanClick(); }
void TA_Form::WrBtnClick() { links_->WrBtnClick(); }
void TA_Form::ItemWrClick() { WrBtnClick(); }
void TA_Form::ItemReadClick() { links_->ItemReadClick(); }

void TA_Form::ItemLoadClick() { fileCommands_->ItemLoadClick(); }
void TA_Form::ItemSaveClick() { fileCommands_->ItemSaveClick(); }
void TA_Form::loadFile(const QString &path) { fileCommands_->loadFile(path); }

} // namespace tarvil
