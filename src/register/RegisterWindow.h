#pragma once

#include "app/Dialogs.h"
#include "files/Journal.h"
#include "files/Register.h"
#include "model/PanelTypeCatalogue.h"

#include <QDialog>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace tarvil {

class HistoryModel;
class Launcher;
class TransceiverTableModel;

// "Журнал трансиверов": the register of transceivers over the journal. The
// table of transceivers (sortable, filtered by a serial number), the history
// of the one selected, and the actions on its entries: open the copy in the
// configuration tool, save it as a .tvc, compare two entries, show the copy's
// folder. It reads the journal anew whenever the journal changes.
class RegisterWindow : public QMainWindow {
    Q_OBJECT
public:
    // Without `dialogs` the window shows its boxes with Qt, without
    // `launcher` it starts the real programs. `catalogue` names the panel
    // types in a comparison.
    explicit RegisterWindow(Dialogs *dialogs = nullptr, Launcher *launcher = nullptr,
                            const QString &journalFolder = Journal::defaultFolder(),
                            const QString &catalogue = QString(), QWidget *parent = nullptr);
    ~RegisterWindow() override;

    // Reads the journal again, keeping the transceiver, the entries, the
    // filter and the order the user chose.
    void reload();
    // Selects a transceiver's row (when the filter shows it).
    bool selectSerial(const QString &serial);
    QString selectedSerial() const;
    // Selects history entries by their journal lines.
    void selectLines(const QList<int> &lines);

    // The actions on the selected history entries.
    void openInConfigTool();
    void saveAs();
    void compare();
    void showInFolder();

    const TransceiverTableModel &tableModel() const { return *table_; }
    const HistoryModel &historyModel() const { return *history_; }
    // The comparison shown last, while it is open.
    QDialog *compareDialog() const { return compareDialog_; }

private:
    void buildActions();
    void onTransceiverChanged();
    void updateActions();
    void watchJournal();
    void pollJournal();
    // The history entries selected, oldest first; only entries that are
    // journal lines.
    QList<const RegisterEvent *> selectedEvents() const;
    // The one selected entry whose copy is intact, or a box saying why not.
    const RegisterEvent *oneIntactCopy(const QString &caption);
    void fail(const QString &caption, const QString &text);

    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs *dialogs_;
    std::unique_ptr<Launcher> ownLauncher_;
    Launcher *launcher_;
    Journal journal_;
    PanelTypeCatalogue catalogue_;
    CopyChecker checker_;

    TransceiverTableModel *table_;
    QSortFilterProxyModel *proxy_;
    HistoryModel *history_;
    QLineEdit *filter_ = nullptr;
    QTableView *transceivers_ = nullptr;
    QTableView *entries_ = nullptr;
    QLabel *historyCaption_ = nullptr;
    QLabel *status_ = nullptr;
    QAction *open_ = nullptr;
    QAction *saveAs_ = nullptr;
    QAction *compare_ = nullptr;
    QAction *showFolder_ = nullptr;
    QFileSystemWatcher *watcher_;
    QTimer *reloadTimer_;
    QTimer *pollTimer_;
    QPointer<QDialog> compareDialog_;
    // What the journal file was at the last reading: a change the watcher
    // missed shows here.
    qint64 journalSize_ = -1;
    QDateTime journalModified_;
};

} // namespace tarvil
