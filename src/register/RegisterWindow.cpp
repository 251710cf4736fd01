#include "register/RegisterWindow.h"

#include "app/QtDialogs.h"
#include "files/ConfigReport.h"
#include "files/Configuration.h"
#include "register/Launcher.h"
#include "register/RegisterModels.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

// The window's icon lives in the app library's resources.
static void initRegisterResources() { Q_INIT_RESOURCE(app); }

namespace tarvil {

namespace {

const QString kFileFilter = QStringLiteral("Файлы трансивера \"Тарвил-QZT\"|*.tvc|Все файлы|*.*");
// A change to the journal comes in bursts (the copy, then the line): one
// reading follows the last of them.
constexpr int kReloadDelayMs = 200;
// For folders that tell no one of their changes (some network shares).
constexpr int kPollMs = 2000;

QString native(const QString &path) { return QDir::toNativeSeparators(path); }

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// "31.01.2025 12:30:05, запись, LAN 127.0.0.2 (строка 3 журнала)".
QString describe(const JournalEntry &e)
{
    return QStringLiteral("%1, %2, %3 (строка %4 журнала)")
        .arg(registerText::time(e.time), registerText::action(e).toLower(), registerText::place(e))
        .arg(e.line);
}

QTableView *makeTable(const char *name, QWidget *parent)
{
    auto *view = new QTableView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setHighlightSections(false);
    return view;
}

} // namespace

RegisterWindow::RegisterWindow(Dialogs *dialogs, Launcher *launcher, const QString &journalFolder,
                               const QString &catalogue, QWidget *parent)
    : QMainWindow(parent),
      journal_(QStringLiteral("register"), journalFolder),
      table_(new TransceiverTableModel(this)),
      proxy_(new QSortFilterProxyModel(this)),
      history_(new HistoryModel(checker_, this)),
      watcher_(new QFileSystemWatcher(this)),
      reloadTimer_(new QTimer(this)),
      pollTimer_(new QTimer(this))
{
    setObjectName(QStringLiteral("RegisterWindow"));
    setWindowTitle(QStringLiteral("Журнал трансиверов"));
    initRegisterResources();
    setWindowIcon(QIcon(QStringLiteral(":/app/tarvil-config.png")));
    if (!dialogs) {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
    if (!launcher) {
        ownLauncher_ = std::make_unique<SystemLauncher>();
        launcher = ownLauncher_.get();
    }
    launcher_ = launcher;
    // The catalogue only names panel types in a comparison: one that cannot
    // be read leaves the numbers, as it does in tarvil-cli diff.
    if (!catalogue.isEmpty())
        catalogue_.LoadCatalogue(catalogue);

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    auto *filterRow = new QHBoxLayout;
    auto *filterLabel = new QLabel(QStringLiteral("Заводской номер:"), central);
    filter_ = new QLineEdit(central);
    filter_->setObjectName(QStringLiteral("FilterEdit"));
    filter_->setPlaceholderText(QStringLiteral("все трансиверы"));
    filter_->setClearButtonEnabled(true);
    filter_->setMaximumWidth(220);
    filterLabel->setBuddy(filter_);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(filter_);
    filterRow->addStretch(1);
    column->addLayout(filterRow);

    proxy_->setSourceModel(table_);
    proxy_->setSortRole(TransceiverTableModel::SortRole);
    proxy_->setFilterRole(TransceiverTableModel::SerialRole);
    proxy_->setFilterKeyColumn(TransceiverTableModel::SerialColumn);
    auto *splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("Splitter"));
    transceivers_ = makeTable("TransceiverTable", splitter);
    transceivers_->setSelectionMode(QAbstractItemView::SingleSelection);
    transceivers_->setModel(proxy_);
    // The register's own order (newest activity first) until a column is
    // clicked; a third click on it gives that order back.
    transceivers_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    transceivers_->horizontalHeader()->setSortIndicatorClearable(true);
    transceivers_->setSortingEnabled(true);
    transceivers_->horizontalHeader()->setStretchLastSection(true);

    auto *historyPane = new QWidget(splitter);
    auto *historyColumn = new QVBoxLayout(historyPane);
    historyColumn->setContentsMargins(0, 0, 0, 0);
    historyCaption_ = new QLabel(historyPane);
    historyCaption_->setObjectName(QStringLiteral("HistoryCaption"));
    historyCaption_->setTextFormat(Qt::PlainText);
    entries_ = makeTable("HistoryTable", historyPane);
    entries_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    entries_->setModel(history_);
    entries_->horizontalHeader()->setStretchLastSection(true);
    entries_->setContextMenuPolicy(Qt::ActionsContextMenu);
    historyColumn->addWidget(historyCaption_);
    historyColumn->addWidget(entries_, 1);
    splitter->addWidget(transceivers_);
    splitter->addWidget(historyPane);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    column->addWidget(splitter, 1);
    setCentralWidget(central);

    buildActions();

    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar"));
    status_ = new QLabel(bar);
    status_->setObjectName(QStringLiteral("StatusText"));
    status_->setTextFormat(Qt::PlainText);
    bar->addWidget(status_, 1);
    setStatusBar(bar);

    connect(filter_, &QLineEdit::textChanged, this, [this](const QString &text) {
        const QString serial = selectedSerial();
        proxy_->setFilterFixedString(text.trimmed());
        if (!selectSerial(serial) && proxy_->rowCount() > 0)
            transceivers_->setCurrentIndex(proxy_->index(0, 0));
        onTransceiverChanged();
    });
    connect(transceivers_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { onTransceiverChanged(); });
    connect(entries_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { updateActions(); });
    connect(entries_, &QTableView::doubleClicked, this, [this] {
        if (open_->isEnabled())
            openInConfigTool();
    });

    watcher_->setObjectName(QStringLiteral("JournalWatcher"));
    reloadTimer_->setObjectName(QStringLiteral("ReloadTimer"));
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(kReloadDelayMs);
    pollTimer_->setObjectName(QStringLiteral("PollTimer"));
    pollTimer_->setInterval(kPollMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, reloadTimer_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, reloadTimer_, qOverload<>(&QTimer::start));
    connect(reloadTimer_, &QTimer::timeout, this, &RegisterWindow::reload);
    connect(pollTimer_, &QTimer::timeout, this, &RegisterWindow::pollJournal);
    pollTimer_->start();

    resize(1100, 640);
    reload();
}

RegisterWindow::~RegisterWindow() = default;

void RegisterWindow::buildActions()
{
    auto *bar = new QToolBar(QStringLiteral("Действия"), this);
    bar->setObjectName(QStringLiteral("ActionsBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    addToolBar(Qt::TopToolBarArea, bar);
    const auto add = [this, bar](const char *name, const QString &text, const QString &tip, void (RegisterWindow::*slot)()) {
        auto *action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(tip);
        action->setEnabled(false);
        connect(action, &QAction::triggered, this, slot);
        bar->addAction(action);
        entries_->addAction(action);
        return action;
    };
    open_ = add("ActionOpen", QStringLiteral("Открыть в программе настройки"),
                QStringLiteral("Запустить программу настройки с копией образа этой записи"),
                &RegisterWindow::openInConfigTool);
    saveAs_ = add("ActionSaveAs", QStringLiteral("Сохранить как…"),
                  QStringLiteral("Сохранить копию образа этой записи в файл конфигурации .tvc"), &RegisterWindow::saveAs);
    compare_ = add("ActionCompare", QStringLiteral("Сравнить…"),
                   QStringLiteral("Сравнить две выделенные записи истории, поле за полем"), &RegisterWindow::compare);
    showFolder_ = add("ActionShowFolder", QStringLiteral("Показать в папке"),
                      QStringLiteral("Открыть папку, в которой лежит копия"), &RegisterWindow::showInFolder);
}

void RegisterWindow::reload()
{
    const QString serial = selectedSerial();
    QList<int> lines;
    for (const QModelIndex &index : entries_->selectionModel()->selectedRows())
        lines << history_->lineAt(index.row());

    const JournalContents contents = journal_.read();
    const QFileInfo file(journal_.filePath());
    journalSize_ = file.exists() ? file.size() : -1;
    journalModified_ = file.exists() ? file.lastModified() : QDateTime();
    const TransceiverRegister reg = TransceiverRegister::build(contents, checker_);
    table_->setRegister(reg);
    transceivers_->resizeColumnsToContents();

    const bool same = selectSerial(serial);
    if (!same && proxy_->rowCount() > 0)
        transceivers_->setCurrentIndex(proxy_->index(0, 0));
    onTransceiverChanged();
    if (same)
        selectLines(lines);

    if (!reg.error().isEmpty())
        status_->setText(QStringLiteral("Журнал не читается: %1").arg(reg.error()));
    else if (reg.entries().isEmpty())
        status_->setText(QStringLiteral("В журнале пока нет ни одного трансивера: %1").arg(native(journal_.filePath())));
    else
        status_->setText(QStringLiteral("Трансиверов: %1. Журнал: %2")
                             .arg(reg.entries().size())
                             .arg(native(journal_.filePath())));
    watchJournal();
}

void RegisterWindow::watchJournal()
{
    // The file is watched once it exists, its folder for the file's coming
    // and for the copies; both are added again after they were replaced.
    const QString folder = journal_.folder();
    if (!folder.isEmpty() && QFileInfo(folder).isDir() && !watcher_->directories().contains(folder))
        watcher_->addPath(folder);
    const QString file = journal_.filePath();
    if (QFileInfo(file).isFile() && !watcher_->files().contains(file))
        watcher_->addPath(file);
}

void RegisterWindow::pollJournal()
{
    const QFileInfo file(journal_.filePath());
    const qint64 size = file.exists() ? file.size() : -1;
    const QDateTime modified = file.exists() ? file.lastModified() : QDateTime();
    if (size != journalSize_ || modified != journalModified_)
        reload();
}

bool RegisterWindow::selectSerial(const QString &serial)
{
    const int row = table_->rowOf(serial);
    if (row < 0)
        return false;
    const QModelIndex index = proxy_->mapFromSource(table_->index(row, 0));
    if (!index.isValid())
        return false;
    transceivers_->setCurrentIndex(index);
    transceivers_->scrollTo(index);
    return true;
}

QString RegisterWindow::selectedSerial() const
{
    const QModelIndex current = proxy_->mapToSource(transceivers_->currentIndex());
    const RegisterEntry *entry = current.isValid() ? table_->entryAt(current.row()) : nullptr;
    return entry ? entry->serial : QString();
}

void RegisterWindow::selectLines(const QList<int> &lines)
{
    QItemSelection selection;
    for (const int line : lines) {
        const int row = history_->rowOfLine(line);
        if (row >= 0)
            selection.select(history_->index(row, 0), history_->index(row, HistoryModel::ColumnCount - 1));
    }
    entries_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    updateActions();
}

void RegisterWindow::onTransceiverChanged()
{
    const QModelIndex current = proxy_->mapToSource(transceivers_->currentIndex());
    const RegisterEntry *entry = current.isValid() ? table_->entryAt(current.row()) : nullptr;
    history_->setEntry(entry);
    historyCaption_->setText(entry ? QStringLiteral("История трансивера № %1, новые записи сначала:")
                                         .arg(registerText::serial(entry->serial))
                                   : QStringLiteral("Выберите трансивер в таблице, чтобы увидеть его историю."));
    entries_->resizeColumnsToContents();
    // The newest entry, ready for the actions.
    selectLines(history_->rowCount() > 0 ? QList<int>{history_->lineAt(0)} : QList<int>{});
}

QList<const RegisterEvent *> RegisterWindow::selectedEvents() const
{
    QModelIndexList rows = entries_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() > b.row(); });
    QList<const RegisterEvent *> events;
    for (const QModelIndex &index : rows) {
        if (const RegisterEvent *event = history_->eventAt(index.row()))
            events << event;
    }
    return events;
}

void RegisterWindow::updateActions()
{
    const qsizetype rows = entries_->selectionModel()->selectedRows().size();
    const QList<const RegisterEvent *> events = selectedEvents();
    const bool one = rows == 1 && events.size() == 1;
    const bool intact = one && events.first()->copy == CopyState::Intact;
    open_->setEnabled(intact);
    saveAs_->setEnabled(intact);
    showFolder_->setEnabled(one && (events.first()->copy == CopyState::Intact
                                    || events.first()->copy == CopyState::Changed));
    compare_->setEnabled(rows == 2 && events.size() == 2
                         && std::all_of(events.cbegin(), events.cend(),
                                        [](const RegisterEvent *e) { return e->copy == CopyState::Intact; }));
}

void RegisterWindow::fail(const QString &caption, const QString &text)
{
    dialogs_->message(UserMessage{text, caption, MsgIcon::Error, MsgButtons::Ok, false});
}

const RegisterEvent *RegisterWindow::oneIntactCopy(const QString &caption)
{
    const QList<const RegisterEvent *> events = selectedEvents();
    if (events.size() != 1 || entries_->selectionModel()->selectedRows().size() != 1) {
        fail(caption, QStringLiteral("Выделите одну запись истории."));
        return nullptr;
    }
    const JournalEntry &e = events.first()->entry;
    // Looked at again: the copy may have gone since the history was shown.
    switch (checker_.check(e)) {
    case CopyState::Intact: return events.first();
    case CopyState::None:
        fail(caption, QStringLiteral("У записи %1 нет копии образа.").arg(describe(e)));
        break;
    case CopyState::Missing:
        fail(caption, QStringLiteral("Копии записи %1 больше нет:\n%2").arg(describe(e), e.copy));
        break;
    case CopyState::Changed:
    case CopyState::Unchecked:
        fail(caption, QStringLiteral("Копия записи %1 изменена после записи в журнал и уже не та, что была "
                                     "записана или прочитана:\n%2")
                          .arg(describe(e), e.copy));
        break;
    }
    reload();
    return nullptr;
}

void RegisterWindow::openInConfigTool()
{
    const QString caption = QStringLiteral("Открыть в программе настройки");
    const RegisterEvent *event = oneIntactCopy(caption);
    if (!event)
        return;
    const QString copy = event->entry.copy;
    QString why;
    if (!launcher_->openInConfigTool(copy, &why)) {
        fail(caption, QStringLiteral("Не удалось открыть копию в программе настройки: %1.").arg(why));
        return;
    }
    status_->setText(QStringLiteral("Копия открыта в программе настройки: %1").arg(copy));
}

void RegisterWindow::saveAs()
{
    const QString caption = QStringLiteral("Сохранить как");
    const RegisterEvent *event = oneIntactCopy(caption);
    if (!event)
        return;
    const JournalEntry entry = event->entry;
    const auto path = dialogs_->saveFileName({QStringLiteral("Сохранить копию как"),
                                              QFileInfo(QDir::fromNativeSeparators(entry.copy)).fileName(), kFileFilter,
                                              QStringLiteral("tvc")});
    if (!path || path->isEmpty())
        return;
    // The very bytes of the copy, once they have been found to be the image
    // the journal names.
    QFile source(QDir::fromNativeSeparators(entry.copy));
    QByteArray bytes;
    if (source.open(QIODevice::ReadOnly))
        bytes = source.read(kMaxConfigFileBytes);
    const auto image = parseConfigFile(bytes);
    if (image.status != LoadStatus::Ok || image.carried.count(true) != kImageSize
        || sha256Of(QByteArray(reinterpret_cast<const char *>(image.image.data()), kImageSize))
                   .compare(entry.sha256, Qt::CaseInsensitive)
               != 0) {
        fail(caption, QStringLiteral("Копия записи %1 изменилась или исчезла, пока выбирался файл:\n%2")
                          .arg(describe(entry), entry.copy));
        reload();
        return;
    }
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        fail(caption, QStringLiteral("Не удалось сохранить копию в файл %1: %2").arg(native(*path), file.errorString()));
        return;
    }
    status_->setText(QStringLiteral("Копия сохранена в %1").arg(native(*path)));
}

void RegisterWindow::compare()
{
    const QString caption = QStringLiteral("Сравнение");
    const QList<const RegisterEvent *> events = selectedEvents();
    if (events.size() != 2) {
        fail(caption, QStringLiteral("Выделите в истории две записи с копиями образа."));
        return;
    }
    // The older of the two is A, as in "tarvil-cli diff до.tvc после.tvc".
    const JournalEntry a = events.at(0)->entry;
    const JournalEntry b = events.at(1)->entry;
    std::optional<Configuration> configs[2];
    for (int i = 0; i < 2; ++i) {
        const JournalEntry &e = i == 0 ? a : b;
        if (checker_.check(e) != CopyState::Intact) {
            fail(caption, QStringLiteral("Копии записи %1 больше нет или она изменена:\n%2").arg(describe(e), e.copy));
            reload();
            return;
        }
        OpenResult opened = openConfiguration(QDir::fromNativeSeparators(e.copy), catalogue_);
        if (opened.status != LoadStatus::Ok) {
            fail(caption, QStringLiteral("Копия записи %1 не читается:\n%2").arg(describe(e), e.copy));
            return;
        }
        configs[i] = std::move(opened.config);
    }
    const QString text = QStringLiteral("A: %1\n   %2\nB: %3\n   %4\n\n").arg(describe(a), a.copy, describe(b), b.copy)
                         + diffText(diffConfigurations(*configs[0], *configs[1]));

    if (compareDialog_)
        compareDialog_->close();
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("CompareDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Сравнение: № %1").arg(registerText::serial(a.serial)));
    auto *layout = new QVBoxLayout(dialog);
    auto *view = new QPlainTextEdit(dialog);
    view->setObjectName(QStringLiteral("CompareText"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlainText(text);
    layout->addWidget(view, 1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    dialog->resize(820, 540);
    compareDialog_ = dialog;
    dialog->show();
}

void RegisterWindow::showInFolder()
{
    const QString caption = QStringLiteral("Показать в папке");
    const QList<const RegisterEvent *> events = selectedEvents();
    if (events.size() != 1) {
        fail(caption, QStringLiteral("Выделите одну запись истории."));
        return;
    }
    const JournalEntry e = events.first()->entry;
    if (e.copy.isEmpty() || !QFileInfo::exists(QDir::fromNativeSeparators(e.copy))) {
        fail(caption, e.copy.isEmpty() ? QStringLiteral("У записи %1 нет копии образа.").arg(describe(e))
                                       : QStringLiteral("Копии записи %1 больше нет:\n%2").arg(describe(e), e.copy));
        reload();
        return;
    }
    QString why;
    if (!launcher_->showInFolder(QDir::fromNativeSeparators(e.copy), &why))
        fail(caption, QStringLiteral("Не удалось показать папку: %1.").arg(why));
}

} // namespace tarvil
