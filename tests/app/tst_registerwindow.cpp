// "Журнал трансиверов": the table over the register, the filter, the
// history, the four actions (with a fake launcher: nothing is started), the
// journal watched as it grows, and the journal that tarvil-cli leaves after
// reading one transceiver and writing another twice.
#include "support/SampleConfiguration.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"

#include "files/Configuration.h"
#include "files/Register.h"
#include "register/Launcher.h"
#include "register/RegisterModels.h"
#include "register/RegisterWindow.h"

#include "LanSimulator.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QDateTime kStart(QDate(2025, 1, 31), QTime(9, 0), Qt::UTC);

class FakeLauncher : public Launcher {
public:
    QStringList opened;
    QStringList shown;
    QString refusal; // every start fails with it, when set

    bool openInConfigTool(const QString &file, QString *error) override { return record(opened, file, error); }
    bool showInFolder(const QString &file, QString *error) override { return record(shown, file, error); }

private:
    bool record(QStringList &calls, const QString &file, QString *error)
    {
        if (!refusal.isEmpty()) {
            *error = refusal;
            return false;
        }
        calls << file;
        return true;
    }
};

QByteArray imageWithApn(const QString &apn, const QString &serial = QStringLiteral("12345"))
{
    CommonSettings s = validSettings();
    s.apn = apn;
    s.serial = serial;
    const ConfigImage built = buildConfiguration(s, sampleRows(4)).image;
    return QByteArray(reinterpret_cast<const char *>(built.data()), kImageSize);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class RegisterWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    ScriptedDialogs dialogs_;
    FakeLauncher launcher_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<RegisterWindow> window_;
    int minutes_ = 0;

    template <typename T> T *find(const char *name) const
    {
        return window_->findChild<T *>(QString::fromLatin1(name));
    }
    QAction *action(const char *name) const { return find<QAction>(name); }
    QAbstractItemModel *table() const { return find<QTableView>("TransceiverTable")->model(); }
    QString cell(int row, int column) const { return table()->index(row, column).data().toString(); }
    QStringList serials() const
    {
        QStringList out;
        for (int row = 0; row < table()->rowCount(); ++row)
            out << cell(row, TransceiverTableModel::SerialColumn);
        return out;
    }
    QString history(int row, int column) const { return window_->historyModel().index(row, column).data().toString(); }
    QString copyOfLine(int line) const
    {
        return window_->historyModel().eventAt(window_->historyModel().rowOfLine(line))->entry.copy;
    }

    void write(const QString &serial, WriteOutcome::Target target, Outcome::Result result, const QByteArray &image)
    {
        WriteOutcome o;
        o.target = target;
        o.targetName = target == WriteOutcome::Target::Usb ? QStringLiteral("/dev/ttyUSB0") : QStringLiteral("127.0.0.2");
        o.serial = serial;
        o.result = result;
        o.image = image;
        QVERIFY(journal_->append(o));
    }
    void read(const QString &serial, Outcome::Result result, const QByteArray &image)
    {
        ReadOutcome o;
        o.targetName = QStringLiteral("127.0.0.2");
        o.serial = serial;
        o.result = result;
        o.image = image;
        QVERIFY(journal_->append(o));
    }

private slots:
    void initTestCase()
    {
#ifndef Q_OS_WIN
        qputenv("TZ", "MSK-3"); // local time three hours ahead of UTC
#endif
    }

    // Lines 1..6: a read of 11111; writes to 12345 (LAN, USB failed, LAN);
    // a broken line of 12345; a failed read of it.
    void init()
    {
        QVERIFY(dir_.isValid());
        QDir(dir_.path()).removeRecursively();
        QVERIFY(QDir().mkpath(dir_.path()));
        minutes_ = 0;
        journal_ = std::make_unique<Journal>(QStringLiteral("window"), dir_.path(), kJournalCopyLimit,
                                             [this] { return kStart.addSecs(60 * ++minutes_); });
        read(QStringLiteral("11111"), Outcome::Result::Done, imageWithApn(QStringLiteral("x.apn"), QStringLiteral("11111")));
        write(QStringLiteral("12345"), WriteOutcome::Target::Lan, Outcome::Result::Done, imageWithApn("a.apn"));
        write(QStringLiteral("12345"), WriteOutcome::Target::Usb, Outcome::Result::Failed, imageWithApn("b.apn"));
        write(QStringLiteral("12345"), WriteOutcome::Target::Lan, Outcome::Result::Done, imageWithApn("b.apn"));
        QFile file(journal_->filePath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"time\":\"2025-01-31T09:05:00Z\",\"serial\":\"12345\",\"prog\n");
        file.close();
        ++minutes_;
        read(QStringLiteral("12345"), Outcome::Result::Failed, {});

        dialogs_.clearRecords();
        dialogs_.saveNames.clear();
        launcher_ = FakeLauncher();
        window_ = std::make_unique<RegisterWindow>(&dialogs_, &launcher_, dir_.path(), dataDir() + "/CentralType.txt");
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup()
    {
        if (window_ && window_->compareDialog())
            window_->compareDialog()->close();
        window_.reset();
    }

    void table_showsEachTransceiver_newestActivityFirst()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Журнал трансиверов"));
        QCOMPARE(serials(), (QStringList{"12345", "11111"}));
        using C = TransceiverTableModel;
#ifndef Q_OS_WIN
        // Local time: line 4 was written at 09:04 UTC.
        QCOMPARE(cell(0, C::WriteTimeColumn), QStringLiteral("31.01.2025 12:04:00"));
#endif
        QCOMPARE(cell(0, C::WritePlaceColumn), QStringLiteral("LAN 127.0.0.2"));
        QCOMPARE(cell(0, C::WriteOutcomeColumn), QStringLiteral("выполнена"));
        QCOMPARE(cell(0, C::ReadOutcomeColumn), QStringLiteral("ошибка"));
        QCOMPARE(cell(0, C::WritesColumn), QStringLiteral("2"));
        QVERIFY2(cell(0, C::ProblemsColumn).startsWith(QStringLiteral("строка 5 журнала не читается")),
                 qPrintable(cell(0, C::ProblemsColumn)));
        QCOMPARE(cell(1, C::WriteTimeColumn), QStringLiteral("—"));
        QCOMPARE(cell(1, C::ReadOutcomeColumn), QStringLiteral("выполнено"));
        QCOMPARE(cell(1, C::WritesColumn), QStringLiteral("0"));
        QVERIFY(cell(1, C::ProblemsColumn).isEmpty());

        // Sorted by a column, by what it holds; the filter takes part of a number.
        auto *view = find<QTableView>("TransceiverTable");
        view->sortByColumn(C::WritesColumn, Qt::DescendingOrder);
        QCOMPARE(serials(), (QStringList{"12345", "11111"}));
        view->sortByColumn(C::SerialColumn, Qt::AscendingOrder);
        QCOMPARE(serials(), (QStringList{"11111", "12345"}));
        QTest::keyClicks(find<QLineEdit>("FilterEdit"), QStringLiteral("234"));
        QCOMPARE(serials(), QStringList{"12345"});
        QCOMPARE(window_->selectedSerial(), QStringLiteral("12345"));
        find<QLineEdit>("FilterEdit")->setText(QStringLiteral("999"));
        QCOMPARE(serials(), QStringList());
        QCOMPARE(window_->historyModel().rowCount(), 0);
        find<QLineEdit>("FilterEdit")->clear();
        QCOMPARE(serials().size(), 2);
    }

    void history_newestFirst_withItsBrokenLine()
    {
        QVERIFY(window_->selectSerial(QStringLiteral("12345")));
        const HistoryModel &h = window_->historyModel();
        QCOMPARE(h.rowCount(), 5);
        QStringList actions;
        for (int row = 0; row < h.rowCount(); ++row)
            actions << history(row, HistoryModel::ActionColumn) + QLatin1Char('/') + history(row, HistoryModel::OutcomeColumn)
                           + QLatin1Char('/') + history(row, HistoryModel::CopyColumn);
        QCOMPARE(actions, (QStringList{"Чтение/ошибка/нет", "строка 5 журнала не читается//", "Запись/выполнена/есть",
                                       "Запись/ошибка/есть", "Запись/выполнена/есть"}));
        QCOMPARE(history(3, HistoryModel::PlaceColumn), QStringLiteral("USB /dev/ttyUSB0"));
        QCOMPARE(history(2, HistoryModel::ProgramColumn), QStringLiteral("программа настройки"));
        QVERIFY(find<QLabel>("HistoryCaption")->text().contains(QStringLiteral("12345")));
    }

    void actions_onHistoryEntries_data()
    {
        QTest::addColumn<QList<int>>("lines"); // the history entries selected
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("open a write's copy") << QList<int>{4} << "ActionOpen" << true;
        QTest::newRow("save it") << QList<int>{4} << "ActionSaveAs" << true;
        QTest::newRow("show its folder") << QList<int>{4} << "ActionShowFolder" << true;
        QTest::newRow("compare two") << QList<int>{4, 2} << "ActionCompare" << true;
        QTest::newRow("compare needs two") << QList<int>{4} << "ActionCompare" << false;
        QTest::newRow("a failed read has no copy to open") << QList<int>{6} << "ActionOpen" << false;
        QTest::newRow("nor to show") << QList<int>{6} << "ActionShowFolder" << false;
        QTest::newRow("a broken line has nothing") << QList<int>{5} << "ActionSaveAs" << false;
        QTest::newRow("one entry at a time") << QList<int>{4, 2} << "ActionOpen" << false;
    }

    void actions_onHistoryEntries()
    {
        QFETCH(QList<int>, lines);
        QFETCH(QString, action);
        QFETCH(bool, enabled);
        QVERIFY(window_->selectSerial(QStringLiteral("12345")));
        window_->selectLines(lines);
        QAction *a = this->action(qPrintable(action));
        QVERIFY(a);
        QCOMPARE(a->isEnabled(), enabled);
        if (!enabled)
            return;
        const QString copy = copyOfLine(lines.first());
        QTemporaryDir target;
        if (action == "ActionSaveAs")
            dialogs_.saveNames.enqueue(target.filePath("для замены.tvc"));
        a->trigger();
        QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.value(0).text));
        if (action == "ActionOpen") {
            // The copy goes to the configuration tool, and it holds the image written.
            QCOMPARE(launcher_.opened, QStringList{copy});
            QCOMPARE(imageOfCopy(copy).value_or(QByteArray()), imageWithApn("b.apn"));
        } else if (action == "ActionSaveAs") {
            QCOMPARE(dialogs_.saveRequests.value(0).proposedName, QFileInfo(copy).fileName());
            QCOMPARE(readAll(target.filePath("для замены.tvc")), readAll(copy));
        } else if (action == "ActionShowFolder") {
            QCOMPARE(launcher_.shown, QStringList{QDir::fromNativeSeparators(copy)});
        } else {
            QVERIFY(window_->compareDialog());
            const QString text = window_->compareDialog()->findChild<QPlainTextEdit *>("CompareText")->toPlainText();
            // The older entry is A, as tarvil-cli diff A B prints them.
            QVERIFY2(text.startsWith(QStringLiteral("A: ")) && text.contains(QStringLiteral("(строка 2 журнала)\n")),
                     qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("a.apn")) && text.contains(QStringLiteral("b.apn")), qPrintable(text));
            QVERIFY(window_->compareDialog()->findChild<QPlainTextEdit *>("CompareText")->isReadOnly());
        }
    }

    void failures_areSaid_andStartNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("said");
        QTest::newRow("the tool will not start") << "refuse" << "ActionOpen" << "программа настройки не найдена";
        QTest::newRow("the copy was deleted") << "delete" << "ActionOpen" << "больше нет";
        QTest::newRow("the copy was changed") << "change" << "ActionSaveAs" << "изменена после записи в журнал";
        QTest::newRow("no folder to show") << "delete" << "ActionShowFolder" << "больше нет";
    }

    void failures_areSaid_andStartNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, action);
        QFETCH(QString, said);
        QVERIFY(window_->selectSerial(QStringLiteral("12345")));
        window_->selectLines({4});
        const QString copy = copyOfLine(4);
        if (fault == "refuse")
            launcher_.refusal = QStringLiteral("программа настройки не найдена: /opt/tarvil-config");
        if (fault == "delete")
            QVERIFY(QFile::remove(copy));
        if (fault == "change") {
            // Another image in its place, as a whole configuration file.
            QVERIFY(QFile::remove(copy));
            QVERIFY(QFile::copy(copyOfLine(2), copy));
        }
        // The entry still shows as it was: the action is taken, and refused.
        this->action(qPrintable(action))->trigger();
        QCOMPARE(dialogs_.messages.size(), 1);
        QVERIFY2(dialogs_.messages.at(0).text.contains(said), qPrintable(dialogs_.messages.at(0).text));
        QCOMPARE(dialogs_.messages.at(0).icon, MsgIcon::Error);
        QVERIFY(launcher_.opened.isEmpty() && launcher_.shown.isEmpty());
        QVERIFY(dialogs_.saveRequests.isEmpty());
        if (fault != "refuse") {
            // The history shows what became of the copy, the entry still selected.
            QCOMPARE(history(window_->historyModel().rowOfLine(4), HistoryModel::CopyColumn),
                     fault == "delete" ? QStringLiteral("удалена") : QStringLiteral("изменена"));
            QVERIFY(!this->action("ActionOpen")->isEnabled());
        }
    }

    void realLauncher_withoutTheToolBesideIt_startsNothingAndSaysWhy()
    {
        SystemLauncher real;
        QString why;
        QVERIFY(!real.openInConfigTool(copyOfLine(4), &why));
        QVERIFY2(why.contains(QDir::toNativeSeparators(SystemLauncher::configToolPath())), qPrintable(why));
    }

    void journalThatGrows_showsAtOnce_keepingTheSelection()
    {
        QVERIFY(window_->selectSerial(QStringLiteral("11111")));
        write(QStringLiteral("777"), WriteOutcome::Target::Lan, Outcome::Result::Done, imageWithApn("c.apn", "777"));
        QTRY_COMPARE(serials(), (QStringList{"777", "12345", "11111"}));
        QCOMPARE(window_->selectedSerial(), QStringLiteral("11111"));
        QVERIFY(find<QLabel>("StatusText")->text().startsWith(QStringLiteral("Трансиверов: 3.")));
    }

    // What tarvil-cli leaves in the journal after a LAN read of one
    // transceiver and two LAN writes to another, as the window shows it.
    void cliReadAndWrites_showInTheWindow()
    {
        sim::LanSimulator lan;
        QVERIFY(lan.start(QHostAddress(QStringLiteral("127.0.0.2")), udpPort()));
        // Its standard output when it succeeds.
        const auto cli = [](const QStringList &args) -> std::optional<QString> {
            QProcess p;
            p.start(QStringLiteral(TARVIL_CLI_PROGRAM), args);
            if (!p.waitForStarted(10000))
                return std::nullopt;
            runUntil([&p] { return p.state() == QProcess::NotRunning; }, 100000);
            if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
                return std::nullopt;
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        const QString port = QString::number(udpPort());
        const QString path =
            QJsonDocument::fromJson(cli({"journal", "--json"}).value_or(QString()).toUtf8()).object().value("journal").toString();
        QVERIFY(!path.isEmpty());
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        const QByteArray returned = imageWithApn(QStringLiteral("read.apn"), QStringLiteral("11111"));
        QVERIFY(lan.setImage(returned));
        QTemporaryDir work;
        const QString file = work.filePath("12345.tvc");
        {
            QString why;
            CommonSettings s = validSettings();
            QVERIFY(saveConfigFile(file, buildConfiguration(s, sampleRows(7)).packets, &why));
        }
        QVERIFY(cli({"read", "--lan", "127.0.0.2", "--udp-port", port, "-o", work.filePath("r.tvc")}));
        QVERIFY(cli({"write", file, "--lan", "127.0.0.2", "--udp-port", port}));
        QVERIFY(cli({"write", file, "--lan", "127.0.0.2", "--udp-port", port}));

        RegisterWindow window(&dialogs_, &launcher_, QFileInfo(path).absolutePath());
        auto *view = window.findChild<QTableView *>("TransceiverTable");
        const auto at = [view](int row, int column) { return view->model()->index(row, column).data().toString(); };
        QCOMPARE(view->model()->rowCount(), 2);
        QCOMPARE(at(0, TransceiverTableModel::SerialColumn), QStringLiteral("12345"));
        QCOMPARE(at(0, TransceiverTableModel::WritesColumn), QStringLiteral("2"));
        QCOMPARE(at(0, TransceiverTableModel::WriteOutcomeColumn), QStringLiteral("выполнена"));
        QCOMPARE(at(1, TransceiverTableModel::SerialColumn), QStringLiteral("11111"));
        QCOMPARE(at(1, TransceiverTableModel::ReadOutcomeColumn), QStringLiteral("выполнено"));

        // "Открыть" hands the last write's copy, the image sent, to the tool.
        QVERIFY(window.selectSerial(QStringLiteral("12345")));
        window.selectLines({window.historyModel().lineAt(0)});
        window.findChild<QAction *>("ActionOpen")->trigger();
        QCOMPARE(launcher_.opened.size(), 1);
        QCOMPARE(imageOfCopy(launcher_.opened.at(0)).value_or(QByteArray()), lan.image());
        // ... and the read one's, the image it returned.
        QVERIFY(window.selectSerial(QStringLiteral("11111")));
        window.selectLines({window.historyModel().lineAt(0)});
        window.findChild<QAction *>("ActionOpen")->trigger();
        QCOMPARE(launcher_.opened.size(), 2);
        QCOMPARE(imageOfCopy(launcher_.opened.at(1)).value_or(QByteArray()), returned);
    }
};

QTEST_MAIN(RegisterWindowTest)
#include "tst_registerwindow.moc"
