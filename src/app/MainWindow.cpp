#include "app/MainWindow.h"

#include "app/KeyFilters.h"
#include "app/ObjectPanel.h"
#include "app/QtDialogs.h"
#include "app/RadioGroup.h"
#include "app/TrackedDialogs.h"
#include "files/ConfigFile.h"
#include "files/DataPaths.h"
#include "files/Journal.h"
#include "link/Links.h"
#include "link/Notifications.h"
#include "link/Texts.h"
#include "model/ObjectTable.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

// The window's pictures live in the app library, which the linker would
// otherwise leave out of the program.
static void initAppResources() { Q_INIT_RESOURCE(app); }

namespace tarvil {

namespace {

const QString kCaptionPrefix = QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      ");

constexpr int kOuterWidth = 855; // the window with its frame
constexpr int kOuterHeight = 592;
constexpr int kRightPanelWidth = 297;
constexpr int kStatusHeight = 28;
constexpr int kLooseRowMargin = 11; // rows outside a group box line up with those inside
constexpr int kEmptyItemsBeforeCode = 9;
constexpr int kEmptyItemsAfterCode = 16;
constexpr int kTypedPortLength = 5;

QLineEdit *makeEdit(const char *name, QWidget *parent, const QString &hint = {})
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (!hint.isEmpty())
        edit->setToolTip(hint);
    return edit;
}

QGridLayout *makeGrid(QWidget *owner, int labelWidth)
{
    auto *grid = new QGridLayout(owner);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, labelWidth);
    grid->setColumnStretch(1, 1);
    return grid;
}

// A label left of its field.
QLabel *addRow(QGridLayout *grid, const QString &label, QWidget *field, QWidget *owner,
               Qt::Alignment alignment = {})
{
    const int row = grid->count() / 2;
    auto *text = new QLabel(label, owner);
    text->setBuddy(field);
    grid->addWidget(text, row, 0);
    grid->addWidget(field, row, 1, alignment);
    return text;
}

// Keeps a short field (a port, a serial number) at a width that fits its text.
void setTextWidth(QLineEdit *edit, int characters)
{
    const int width = edit->fontMetrics().horizontalAdvance(QString(characters, QLatin1Char('0')));
    edit->setMaximumWidth(width + 16);
}

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
    boxes_->afterBoxes = [this] { showJournalWarning(); };
    journal_ = std::make_unique<Journal>(QStringLiteral("window"));
    setWindowIcon(QIcon(QStringLiteral(":/app/tarvil-config.png")));

    buildMenu();

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildLeftPanel(), 1);
    row->addWidget(buildRightPanel());
    setCentralWidget(central);

    SB_ = new QStatusBar(this);
    SB_->setObjectName(QStringLiteral("SB"));
    SB_->setSizeGripEnabled(false);
    SB_->setFixedHeight(kStatusHeight);
    statusLabel_ = new QLabel(SB_);
    statusLabel_->setObjectName(QStringLiteral("SBText"));
    statusLabel_->setContentsMargins(4, 0, 4, 0);
    SB_->addWidget(statusLabel_, 1);
    setStatusBar(SB_);

    placeOnScreen();

    // Last: the link may talk to the view as soon as it exists.
    links_ = new Links(*this, *boxes_, image_, config, {}, {}, this);
    connect(&links_->writer(), &WriteTransaction::finished, this,
            [this](const WriteOutcome &outcome) { journalWrite(outcome); });
}

TA_Form::~TA_Form()
{
    // The link and the panel reach back into the window and its dialogs, so
    // they go while both are still whole.
    delete links_;
    links_ = nullptr;
    delete objectPanel_;
    objectPanel_ = nullptr;
}

void TA_Form::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("A_Menu"));

    auto *linkMenu = new QMenu(QStringLiteral("Связи с трансивером"), bar);
    ItemLink_ = linkMenu->menuAction();
    ItemLink_->setObjectName(QStringLiteral("ItemLink"));
    USB1_ = linkMenu->addAction(QStringLiteral("USB"));
    USB1_->setObjectName(QStringLiteral("USB1"));
    Lan_ = linkMenu->addAction(QStringLiteral("LAN"));
    Lan_->setObjectName(QStringLiteral("Lan"));
    bar->addMenu(linkMenu);
    connect(USB1_, &QAction::triggered, this, [this] { USB1Click(); });
    connect(Lan_, &QAction::triggered, this, [this] { LanClick(); });

    auto add = [bar](const char *name, const QString &caption) {
        QAction *action = bar->addAction(caption);
        if (name)
            action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    ItemWr_ = add("ItemWr", QStringLiteral("Записать"));
    ItemWr_->setEnabled(false);
    ItemRead_ = add("ItemRead", QStringLiteral("Прочитать"));
    ItemRead_->setEnabled(false);
    ItemLoad_ = add("ItemLoad", QStringLiteral("Загрузить"));
    ItemSave_ = add("ItemSave", QStringLiteral("Сохранить"));
    connect(ItemWr_, &QAction::triggered, this, [this] { ItemWrClick(); });
    connect(ItemRead_, &QAction::triggered, this, [this] { ItemReadClick(); });
    connect(ItemLoad_, &QAction::triggered, this, [this] { ItemLoadClick(); });
    connect(ItemSave_, &QAction::triggered, this, [this] { ItemSaveClick(); });

    // The items without a caption have no action.
    for (int i = 0; i < kEmptyItemsBeforeCode; ++i)
        add(nullptr, QString());
    ItemCode_ = add("ItemCode", QStringLiteral("Таблица перекодировки"));
    ItemCode_->setVisible(false);
    ItemCode_->setEnabled(false);
    for (int i = 0; i < kEmptyItemsAfterCode; ++i)
        add(nullptr, QString());

    ItemExit_ = add("ItemExit", QStringLiteral("Выход"));
    connect(ItemExit_, &QAction::triggered, this, [this] { ItemExitClick(); });
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
    gaugeRepaint_ = new QTimer(this);
    gaugeRepaint_->setSingleShot(true);
    gaugeRepaint_->setInterval(40);
    connect(gaugeRepaint_, &QTimer::timeout, Gauge_, [this] { Gauge_->setUpdatesEnabled(true); });
    Gauge_->setRange(0, 100);
    Gauge_->setValue(0);
    Gauge_->setTextVisible(false);
    Gauge_->setFixedHeight(18);
    Gauge_->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #8a8a8a; background: white; }"
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

QWidget *TA_Form::buildRightPanel()
{
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setFixedWidth(kRightPanelWidth);

    const QFontMetrics metrics(panel->font());
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("Локальный IP-адрес")) + 4;

    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(6);

    // Serial number
    auto *top = new QWidget(panel);
    auto *topGrid = makeGrid(top, labelWidth);
    topGrid->setContentsMargins(kLooseRowMargin, 0, kLooseRowMargin, 0);
    EditMAC_ = makeEdit("EditMAC", top);
    setTextWidth(EditMAC_, 10);
    KeyFilter::install(EditMAC_, EditMACKeyPress, kTypedPortLength);
    addRow(topGrid, QStringLiteral("Заводской номер"), EditMAC_, top, Qt::AlignLeft);
    column->addWidget(top);

    FrmtRadioGroup_ = new RadioGroup(QStringLiteral(" Формат выдачи в ПЭВМ "),
                                     itemNames(CommonField::Format), 1, panel);
    FrmtRadioGroup_->setObjectName(QStringLiteral("FrmtRadioGroup"));
    FrmtRadioGroup_->setItemIndex(0);
    column->addWidget(FrmtRadioGroup_);

    // USB
    auto *usb = new QGroupBox(QStringLiteral(" Настройка USB"), panel);
    usb->setObjectName(QStringLiteral("GroupBox3"));
    auto *usbRow = new QHBoxLayout(usb);
    usbRow->setContentsMargins(8, 4, 8, 6);
    BaudBox_ = new QComboBox(usb);
    BaudBox_->setObjectName(QStringLiteral("BaudBox"));
    BaudBox_->setEditable(true);
    BaudBox_->setInsertPolicy(QComboBox::NoInsert);
    BaudBox_->addItems({QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                        QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600"),
                        QStringLiteral("115200")});
    BaudBox_->lineEdit()->setMaxLength(CommonField::Baud.width); // what the image holds of it
    BaudBox_->setToolTip(QStringLiteral("Скорость передачи"));
    BaudBox_->setMinimumContentsLength(7);
    usbRow->addWidget(BaudBox_);
    usbRow->addStretch(1);
    PeriodHB_ = new QSpinBox(usb);
    PeriodHB_->setObjectName(QStringLiteral("PeriodHB"));
    PeriodHB_->setRange(1, 3600);
    PeriodHB_->setValue(10);
    PeriodHB_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PeriodHB_->setToolTip(QStringLiteral("Период передачи тестового извещения в канал USB"));
    auto *periodLabel = new QLabel(QStringLiteral("Период теста, с"), usb);
    periodLabel->setBuddy(PeriodHB_);
    usbRow->addWidget(periodLabel);
    usbRow->addWidget(PeriodHB_);
    column->addWidget(usb);

    // GPRS
    auto *gprs = new QGroupBox(QStringLiteral(" Настройка GPRS"), panel);
    gprs->setObjectName(QStringLiteral("GroupBox4"));
    auto *gprsGrid = new QGridLayout(gprs);
    gprsGrid->setContentsMargins(8, 4, 8, 6);
    EditAPN_ = makeEdit("EditAPN", gprs, QStringLiteral("Имя точки доступа GPRS-канала "));
    EditAPN_->setMaxLength(CommonField::Apn.width);
    addRow(gprsGrid, QStringLiteral("APN"), EditAPN_, gprs);
    column->addWidget(gprs);

    // LAN
    auto *lan = new QGroupBox(QStringLiteral(" Настройка LAN"), panel);
    lan->setObjectName(QStringLiteral("GroupBox2"));
    auto *lanGrid = makeGrid(lan, labelWidth);
    lanGrid->setContentsMargins(8, 4, 8, 6);
    EditIP1_PCN_ = makeEdit("EditIP1_PCN", lan, QStringLiteral("IP-адрес получатели извещений по ЛВС"));
    KeyFilter::install(EditIP1_PCN_, EditIP1_PCNKeyPress);
    addRow(lanGrid, QStringLiteral("IP-адрес мастера"), EditIP1_PCN_, lan);
    EditPort1_PCN_ = makeEdit("EditPort1_PCN", lan);
    EditPort1_PCN_->setText(QStringLiteral("9999"));
    EditPort1_PCN_->setReadOnly(true);
    setTextWidth(EditPort1_PCN_, 6);
    KeyFilter::install(EditPort1_PCN_, EditMACKeyPress, kTypedPortLength);
    addRow(lanGrid, QStringLiteral("IP-порт мастера"), EditPort1_PCN_, lan, Qt::AlignLeft);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(4);
    EtherProt_ = new RadioGroup(QStringLiteral(" Протокол "), itemNames(CommonField::EtherProt), 2, lan);
    EtherProt_->setObjectName(QStringLiteral("EtherProt"));
    EtherProt_->setItemIndex(0);
    EtherProt_->setEnabled(false);
    DHCP_OnOff_ = new RadioGroup(QStringLiteral("  DHCP  "), itemNames(CommonField::Dhcp), 2, lan);
    DHCP_OnOff_->setObjectName(QStringLiteral("DHCP_OnOff"));
    DHCP_OnOff_->setItemIndex(1);
    choices->addWidget(EtherProt_, 1);
    choices->addWidget(DHCP_OnOff_, 1);
    lanGrid->addLayout(choices, lanGrid->rowCount(), 0, 1, 2);

    LocLAN_ = new QWidget(lan);
    LocLAN_->setObjectName(QStringLiteral("LocLAN"));
    auto *locGrid = makeGrid(LocLAN_, labelWidth);
    locGrid->setContentsMargins(0, 0, 0, 0);
    DHCP_IP_ = makeEdit("DHCP_IP", LocLAN_, QStringLiteral("Собственный IP-адрес трансивера"));
    KeyFilter::install(DHCP_IP_, EditIP1_PCNKeyPress);
    addRow(locGrid, QStringLiteral("Локальный IP-адрес"), DHCP_IP_, LocLAN_);
    EditPort_Loc_ = makeEdit("EditPort_Loc", LocLAN_, QStringLiteral("IP-порт трансивера"));
    setTextWidth(EditPort_Loc_, 6);
    KeyFilter::install(EditPort_Loc_, EditMACKeyPress, kTypedPortLength);
    addRow(locGrid, QStringLiteral("Локальный IP- порт"), EditPort_Loc_, LocLAN_, Qt::AlignLeft);
    Shl_IP_ = makeEdit("Shl_IP", LocLAN_, QStringLiteral("IP-адрес сетевого роутера"));
    KeyFilter::install(Shl_IP_, EditIP1_PCNKeyPress);
    addRow(locGrid, QStringLiteral("IP- адрес шлюза"), Shl_IP_, LocLAN_);
    LocLAN_->hide();
    lanGrid->addWidget(LocLAN_, lanGrid->rowCount(), 0, 1, 2);
    connect(DHCP_OnOff_, &RadioGroup::itemIndexChanged, this, [this] { DHCP_OnOffClick(); });
    column->addWidget(lan);

    // Update server
    auto *server = new QWidget(panel);
    auto *serverGrid = makeGrid(server, labelWidth);
    serverGrid->setContentsMargins(kLooseRowMargin, 0, kLooseRowMargin, 0);
    ServerIPEdit_ = makeEdit("ServerIPEdit", server, QStringLiteral("IP-адрес сервера обновлений ПО Трансивера"));
    ServerIPEdit_->setText(QStringLiteral("203.0.113.10"));
    KeyFilter::install(ServerIPEdit_, EditIP1_PCNKeyPress);
    addRow(serverGrid, QStringLiteral("IP загрузчика"), ServerIPEdit_, server);

    auto *portRow = new QWidget(server);
    auto *portLayout = new QHBoxLayout(portRow);
    portLayout->setContentsMargins(0, 0, 0, 0);
    ServerPortEdit_ = makeEdit("ServerPortEdit", portRow);
    ServerPortEdit_->setText(QStringLiteral("9999"));
    ServerPortEdit_->setReadOnly(true);
    setTextWidth(ServerPortEdit_, 6);
    KeyFilter::install(ServerPortEdit_, EditMACKeyPress, kTypedPortLength);
    portLayout->addWidget(ServerPortEdit_);
    portLayout->addStretch(1);
    StartUploadBtn_ = new QPushButton(QStringLiteral("Пуск"), portRow);
    StartUploadBtn_->setObjectName(QStringLiteral("StartUploadBtn"));
    StartUploadBtn_->setFlat(true);
    QFont bold = StartUploadBtn_->font();
    bold.setBold(true);
    StartUploadBtn_->setFont(bold);
    QPalette red = StartUploadBtn_->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    StartUploadBtn_->setPalette(red);
    connect(StartUploadBtn_, &QPushButton::clicked, this, [this] { WrBtnClick(); });
    portLayout->addWidget(StartUploadBtn_);
    // The label names the port edit, not the row that holds it.
    addRow(serverGrid, QStringLiteral("Порт загрузчика"), portRow, server)->setBuddy(ServerPortEdit_);
    column->addWidget(server);

    column->addStretch(1);
    return panel;
}

QString TA_Form::captionText(CaptionMode mode, const QString &detail)
{
    switch (mode) {
    case CaptionMode::Usb: return kCaptionPrefix + QStringLiteral("Канал USB ") + detail;
    case CaptionMode::Lan: return kCaptionPrefix + QStringLiteral("Канал LAN IP: ") + detail;
    case CaptionMode::Offline: break;
    }
    return kCaptionPrefix + QStringLiteral("Автономный режим");
}

QString TA_Form::statusText() const { return statusLabel_->text(); }

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
    BaudBox_->setCurrentIndex(2);
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
    closing_ = true; // a write that stops now is journalled without a box
    links_->shutdown();
    objectPanel_->closeTables();
    return true;
}

void TA_Form::ItemExitClick()
{
    links_->stopTimersForExit();
    close();
}

void TA_Form::DHCP_OnOffClick() { LocLAN_->setVisible(DHCP_OnOff_->itemIndex() == 0); }

void TA_Form::USB1Click() { links_->USB1Click(); }
void TA_Form::LanClick() { links_->LanClick(); }
void TA_Form::WrBtnClick() { links_->WrBtnClick(); }
void TA_Form::ItemWrClick() { WrBtnClick(); }
void TA_Form::ItemReadClick() { links_->ItemReadClick(); }
namespace {

const QString kFileFilter = QStringLiteral("Файлы трансивера \"Тарвил-QZT\"|*.tvc|Все файлы|*.*");
const QString kFileSuffix = QStringLiteral("tvc");

} // namespace

void TA_Form::ItemSaveClick()
{
    const QString serial = EditMAC_->text();
    if (serial.isEmpty()) {
        boxes_->message(texts::saveNeedsSerial());
        return;
    }
    const auto path =
        boxes_->saveFileName({QStringLiteral("Сохранить конфигурацию"), serial, kFileFilter, kFileSuffix});
    if (!path || path->isEmpty())
        return;
    // The file is written only once the checks have passed and the packets
    // are built; a refused check leaves any file of that name as it was.
    SaveTarget target{[this, file = *path, serial](const PacketList &packets) {
        // The build has just filled the image the packets come from.
        WriteOutcome outcome;
        outcome.target = WriteOutcome::Target::File;
        outcome.targetName = file;
        outcome.serial = serial;
        outcome.image = QByteArray(reinterpret_cast<const char *>(image_.data()), kImageSize);
        QString reason;
        if (!saveConfigFile(file, packets, &reason)) {
            const UserMessage box = texts::saveFailed(file, reason);
            outcome.result = WriteOutcome::Result::Failed;
            outcome.message = box.text;
            boxes_->message(box);
        }
        journalWrite(outcome);
    }};
    links_->WrBtnClick(&target);
}

void TA_Form::ItemLoadClick()
{
    clearObjectCount();
    const auto path =
        boxes_->openFileName({QStringLiteral("Загрузить конфигурацию"), QString(), kFileFilter, kFileSuffix});
    if (!path || path->isEmpty())
        return;
    loadChosenFile(*path);
}

void TA_Form::loadFile(const QString &path)
{
    clearObjectCount();
    loadChosenFile(path);
}

void TA_Form::loadChosenFile(const QString &path)
{
    const LoadResult result = loadConfigFile(path);
    if (result.status == LoadStatus::BadFormat) {
        boxes_->message(texts::loadBadFormat());
        return;
    }
    if (result.status == LoadStatus::Truncated) {
        // Nothing of a file that ends inside a field is applied: the window,
        // the table and the image keep what they held.
        boxes_->message(texts::loadTruncated());
        objectPanel_->table().ShowObjectCount();
        return;
    }
    const LoadedConfig &loaded = result.config;
    applyCommonSettings(loaded.mergedInto(commonSettings()));
    if (loaded.ownIp)
        links_->lan().setTransceiverAddress(*loaded.ownIp);
    if (loaded.records)
        std::copy(loaded.records->cbegin(), loaded.records->cend(), reinterpret_cast<char *>(image_.data()));
    rebuildObjectTable();
}

// ---- LinkView ----

void TA_Form::setCaption(CaptionMode mode, const QString &detail) { setWindowTitle(captionText(mode, detail)); }

void TA_Form::setStatusText(const QString &text) { statusLabel_->setText(text); }

void TA_Form::LockCommands()
{
    WrBtn_->hide();
    for (Command c : {Command::ItemLink, Command::ItemWr, Command::ItemRead, Command::ItemLoad, Command::ItemSave})
        commandAction(c)->setEnabled(false);
}

void TA_Form::UnlockCommands()
{
    WrBtn_->show();
    for (Command c : {Command::ItemLink, Command::ItemWr, Command::ItemRead, Command::ItemLoad, Command::ItemSave})
        commandAction(c)->setEnabled(true);
}

void TA_Form::setCommandEnabled(Command command, bool enabled) { commandAction(command)->setEnabled(enabled); }

void TA_Form::setWrBtnVisible(bool visible) { WrBtn_->setVisible(visible); }

void TA_Form::releaseWrBtn()
{
    WrBtn_->setDown(false);
    WrBtn_->setEnabled(true);
}

void TA_Form::setGaugeVisible(bool visible) { Gauge_->setVisible(visible); }

void TA_Form::setGauge(int percent)
{
    // QProgressBar repaints at once on every new value, and a transfer moves
    // it between two replies. The value is set now; the picture follows at
    // most every 40 ms, which the eye cannot tell from every block.
    Gauge_->setUpdatesEnabled(false);
    Gauge_->setValue(std::clamp(percent, 0, 100));
    if (!gaugeRepaint_->isActive())
        gaugeRepaint_->start();
}

CommonSettings TA_Form::commonSettings() const
{
    CommonSettings s;
    s.etherProt = EtherProt_->itemIndex();
    s.dhcp = DHCP_OnOff_->itemIndex();
    s.masterIp = EditIP1_PCN_->text();
    s.ownIp = DHCP_IP_->text();
    s.gatewayIp = Shl_IP_->text();
    s.serial = EditMAC_->text();
    s.masterPort = EditPort1_PCN_->text();
    s.ownPort = EditPort_Loc_->text();
    s.apn = EditAPN_->text();
    s.baud = BaudBox_->currentText();
    s.periodHB = std::uint32_t(PeriodHB_->value());
    s.format = FrmtRadioGroup_->itemIndex();
    return s;
}

QList<ObjectRow> TA_Form::objectRows() const { return objectPanel_->rows(); }

void TA_Form::focusControl(Control control)
{
    QWidget *widget = controlWidget(control);
    if (widget && widget->isVisible() && widget->isEnabled() && widget->focusPolicy() != Qt::NoFocus)
        widget->setFocus(Qt::OtherFocusReason);
}

void TA_Form::clearObjectCount() { objectPanel_->clearObjectCount(); }

void TA_Form::clearFieldsForRead()
{
    for (QLineEdit *edit : {EditMAC_, EditAPN_, EditIP1_PCN_, DHCP_IP_, EditPort_Loc_, Shl_IP_})
        edit->clear();
}

void TA_Form::clearObjectTable() { objectPanel_->clearObjectTable(); }

void TA_Form::applyCommonSettings(const CommonSettings &s)
{
    auto select = [](RadioGroup *group, int index) {
        group->setItemIndex(std::clamp(index, 0, group->count() - 1));
    };
    select(EtherProt_, s.etherProt);
    select(DHCP_OnOff_, s.dhcp); // shows or hides LocLAN
    EditAPN_->setText(s.apn);
    EditMAC_->setText(s.serial);
    select(FrmtRadioGroup_, s.format);
    EditPort1_PCN_->setText(s.masterPort);
    EditIP1_PCN_->setText(s.masterIp);
    Shl_IP_->setText(s.gatewayIp);
    DHCP_IP_->setText(s.ownIp);
    EditPort_Loc_->setText(s.ownPort);
    // The spin box holds 1..3600; a period outside is shown at the nearer limit.
    PeriodHB_->setValue(int(std::min<std::uint32_t>(s.periodHB, std::uint32_t(PeriodHB_->maximum()))));
    const int item = BaudBox_->findText(s.baud, Qt::MatchExactly);
    if (item >= 0) {
        BaudBox_->setCurrentIndex(item);
    } else {
        BaudBox_->setCurrentIndex(-1);
        BaudBox_->setEditText(s.baud);
    }
}

void TA_Form::rebuildObjectTable() { objectPanel_->RebuildObjectTable(image_); }

void TA_Form::requestClose()
{
    // Queued, so that the caller's handler has returned before the question.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            close();
    });
}

// ---- helpers ----

void TA_Form::journalWrite(const WriteOutcome &outcome)
{
    // The copy and its line cost about a millisecond: they follow once the
    // handler that ended the write, and whatever it posted (a result box),
    // have run, so that the journal never holds a write up. A write cut
    // short is journalled at once, for the tool may be closing.
    if (outcome.result != WriteOutcome::Result::Interrupted) {
        QMetaObject::invokeMethod(
            this,
            [this, outcome] {
                QMetaObject::invokeMethod(
                    this, [this, outcome] { journalNow(outcome); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        return;
    }
    journalNow(outcome);
}

void TA_Form::journalNow(const WriteOutcome &outcome)
{
    QString reason;
    if (!journal_->append(outcome, &reason) && !journalWarned_ && !journalProblem_)
        journalProblem_ = reason;
    showJournalWarning();
}

void TA_Form::showJournalWarning()
{
    // The warning follows the write's own result: never inside a
    // notification, never over another box (it waits for the last to close),
    // and not at all once the user is closing the tool.
    if (!journalProblem_ || journalWarned_ || closing_ || NotificationScope::active() || boxes_->boxOpen())
        return;
    journalWarned_ = true;
    const QString reason = *std::exchange(journalProblem_, std::nullopt);
    boxes_->message(journalWarning(reason));
}

QAction *TA_Form::commandAction(Command command) const
{
    switch (command) {
    case Command::ItemLink: return ItemLink_;
    case Command::ItemWr: return ItemWr_;
    case Command::ItemRead: return ItemRead_;
    case Command::ItemLoad: return ItemLoad_;
    case Command::ItemSave: return ItemSave_;
    }
    return ItemLink_;
}

QWidget *TA_Form::controlWidget(Control control) const
{
    switch (control) {
    case Control::EditMAC: return EditMAC_;
    case Control::EditPort1_PCN: return EditPort1_PCN_;
    case Control::EditPort_Loc: return EditPort_Loc_;
    case Control::EditIP1_PCN: return EditIP1_PCN_;
    case Control::DHCP_IP: return DHCP_IP_;
    case Control::Shl_IP: return Shl_IP_;
    case Control::EditAPN: return EditAPN_;
    }
    return nullptr;
}

} // namespace tarvil
