// The window's journal: every write, save and read leaves its line and its
// copy, a journal that cannot be written never stops a write, and the window
// then warns once per run, after the write's own result.
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "files/ConfigFile.h"
#include "files/Journal.h"
#include "files/Register.h"
#include "link/Links.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QString kDone = QStringLiteral("Запись конфигурации трансивера № 12345 выполнена");
const QString kRefused = QStringLiteral("Ошибка при записи конфигурации");
const QString kNoAnswer = QStringLiteral("Трансивер не отвечает");
const QString kFatal = QStringLiteral("Ошибка выбора типа ППК!");
const QString kCloseQuestion = QStringLiteral("Завершить работу приложения?");
const QString kWarningCaption = QStringLiteral("Журнал записей");

enum class Scenario { LanDone, LanRefused, LanSilent, UsbDone, UsbFatal, UsbLost, SaveDone, SaveFailed };

// Repeats soon enough that a transceiver that stays silent fails the write
// within a second; an answering one is never repeated in vain for long.
LinkTimings quickRepeats()
{
    LinkTimings t = answeringTimings();
    t.waitAck = Millis(100);
    return t;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Events are handled for as long as they come, as QTRY_VERIFY does: a USB
// stream moves on every pass, not once per pause.
template <typename Pred>
bool waitUntil(Pred done, int ms = 60000)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

QString journalFolder() { return Journal::defaultFolder(); }

// A file where the journal's folder should be: nothing can be written there.
void blockJournal()
{
    QVERIFY(QDir(journalFolder()).removeRecursively());
    QFile blocker(journalFolder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
}

QStringList shownTexts(const ToolRig &rig)
{
    QStringList texts;
    for (const UserMessage &m : rig.dialogs.messages)
        texts << (m.caption == kWarningCaption ? QStringLiteral("warning") : m.text);
    return texts;
}

struct Written {
    QString link;
    QString target;
};

// Runs the scenario's write or save to its end; what the journal must name.
Written run(ToolRig &rig, Scenario scenario, const QString &folder)
{
    switch (scenario) {
    case Scenario::LanDone:
    case Scenario::LanRefused:
    case Scenario::LanSilent: {
        if (!rig.connectLan())
            return {};
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(5));
        sim::LanFaults faults;
        faults.failWrite = scenario == Scenario::LanRefused;
        faults.silent = scenario == Scenario::LanSilent;
        rig.lan.setFaults(faults);
        rig.write();
        return {QStringLiteral("lan"), QStringLiteral("127.0.0.2")};
    }
    case Scenario::UsbDone:
    case Scenario::UsbFatal:
    case Scenario::UsbLost: {
        if (!rig.connectUsb())
            return {};
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(5));
        sim::UsbFaults faults;
        if (scenario == Scenario::UsbFatal)
            faults.fatalAt = 20;
        if (scenario == Scenario::UsbLost)
            faults.closeAfter = 50;
        rig.usb.setFaults(faults);
        // The fatal box is followed by the close question: the user stays.
        rig.dialogs.answers << MsgAnswer::Ok << MsgAnswer::Ok << MsgAnswer::No;
        const QString device = rig.usb.devicePath();
        const qsizetype boxes = rig.dialogs.messages.size();
        rig.action("ItemWr")->trigger();
        // The stream has ended and its box has been shown.
        if (!waitUntil([&] {
                return rig.window->links().writer().state() == WriteTransaction::State::Idle
                       && rig.dialogs.messages.size() > boxes;
            }))
            return {};
        return {QStringLiteral("usb"), device};
    }
    case Scenario::SaveDone:
    case Scenario::SaveFailed: {
        const QString path = scenario == Scenario::SaveDone ? folder + QStringLiteral("/12345.tvc")
                                                            : folder + QStringLiteral("/missing/12345.tvc");
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(5));
        rig.dialogs.saveNames.enqueue(path);
        rig.action("ItemSave")->trigger();
        return {QStringLiteral("file"), QDir::toNativeSeparators(path)};
    }
    }
    return {};
}

} // namespace

class WindowJournalTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        // Each function starts with a journal folder that can be written.
        QFile::remove(journalFolder());
        QVERIFY(QDir().mkpath(journalFolder()));
    }

    void everyWriteAndSave_leavesItsLineAndCopy_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("lan done") << Scenario::LanDone << "done"
                                  << "";
        QTest::newRow("lan refused") << Scenario::LanRefused << "failed" << kRefused;
        QTest::newRow("lan silent") << Scenario::LanSilent << "failed" << kNoAnswer;
        QTest::newRow("usb done") << Scenario::UsbDone << "done"
                                  << "";
        QTest::newRow("usb fatal") << Scenario::UsbFatal << "failed" << kFatal;
        QTest::newRow("usb port lost") << Scenario::UsbLost << "failed" << kNoAnswer;
        QTest::newRow("save done") << Scenario::SaveDone << "done"
                                   << "";
        QTest::newRow("save failed") << Scenario::SaveFailed << "failed"
                                     << "Не удалось сохранить конфигурацию в файл";
    }

    void everyWriteAndSave_leavesItsLineAndCopy()
    {
        QFETCH(Scenario, scenario);
        QFETCH(QString, result);
        QFETCH(QString, message);
        if (QByteArray(QTest::currentDataTag()).startsWith("usb"))
            TARVIL_SKIP_USB_EXCHANGE();

        QTemporaryDir folder;
        ToolRig rig(quickRepeats());
        const qsizetype before = rig.window->journal().entries().size();
        const Written written = run(rig, scenario, folder.path());
        QVERIFY(!written.link.isEmpty());

        // The line follows once the write's handler has returned.
        QTRY_COMPARE(rig.window->journal().entries().size(), before + 1);
        const QList<JournalEntry> entries = rig.window->journal().entries();
        const JournalEntry &e = entries.first();
        QCOMPARE(e.program, QStringLiteral("window"));
        QCOMPARE(e.link, written.link);
        QCOMPARE(e.target, written.target);
        QCOMPARE(e.serial, QStringLiteral("12345"));
        QCOMPARE(e.result, result);
        QVERIFY2(message.isEmpty() ? e.message.isEmpty() : e.message.startsWith(message), qPrintable(e.message));
        // A USB write records the adapter's answer time and how long it ran.
        const bool usb = written.link == QLatin1String("usb");
        QCOMPARE(e.durationMs.has_value(), usb);
        QVERIFY(!e.answerMs || usb);
        if (usb)
            QVERIFY(*e.durationMs >= 0);
        // The image the build made is the one recorded and kept.
        QCOMPARE(e.sha256, sha256(rig.builtImage()));
        QCOMPARE(QFileInfo(e.copy).absolutePath(), QFileInfo(journalFolder()).absoluteFilePath());
        const LoadResult copy = loadConfigFile(e.copy);
        QCOMPARE(copy.status, LoadStatus::Ok);
        QCOMPARE(*copy.config.records, rig.builtImage().left(kRecordsSize));
        QCOMPARE(copy.config.settings.serial, QStringLiteral("12345"));
        if (scenario == Scenario::LanDone)
            QCOMPARE(sha256(rig.lan.image()), e.sha256);
        if (scenario == Scenario::UsbDone)
            QCOMPARE(sha256(rig.usb.image()), e.sha256);
        QVERIFY(!shownTexts(rig).contains(QStringLiteral("warning")));
        QVERIFY(rig.dialogs.boxesInsideNotifications.isEmpty());
    }

    void everyRead_leavesItsLine_andACopyOfExactlyWhatCame_data()
    {
        QTest::addColumn<bool>("silent"); // the transceiver stops answering before the read
        QTest::newRow("done") << false;
        QTest::newRow("no answer") << true;
    }

    void everyRead_leavesItsLine_andACopyOfExactlyWhatCame()
    {
        QFETCH(bool, silent);
        ToolRig rig(quickRepeats());
        QVERIFY(rig.connectLan());
        // Bytes the window never shows, nor builds again: the reserved bytes,
        // and one after the APN's end.
        QByteArray held = rig.lan.image();
        for (int i = 0; i < CommonField::Reserved.width; ++i)
            held[kCommonBase + CommonField::Reserved.offset + i] = char(0xC0 + i);
        held[kCommonBase + CommonField::Apn.offset + CommonField::Apn.width - 1] = 'Q';
        QVERIFY(rig.lan.setImage(held));
        sim::LanFaults faults;
        faults.silent = silent;
        rig.lan.setFaults(faults);
        const qsizetype before = rig.window->journal().entries().size();
        QCOMPARE(rig.read().done(), !silent);

        QTRY_COMPARE(rig.window->journal().entries().size(), before + 1);
        const JournalEntry e = rig.window->journal().entries().first();
        QVERIFY(e.isRead());
        QCOMPARE(e.program, QStringLiteral("window"));
        QCOMPARE(e.link, QStringLiteral("lan"));
        QCOMPARE(e.target, QStringLiteral("127.0.0.2"));
        if (silent) {
            QCOMPARE(e.result, QStringLiteral("failed"));
            QCOMPARE(e.message, rig.dialogs.messages.last().text);
            QVERIFY(e.serial.isEmpty() && e.sha256.isEmpty() && e.copy.isEmpty());
            return;
        }
        QCOMPARE(e.result, QStringLiteral("done"));
        QCOMPARE(e.serial, QStringLiteral("12345"));
        QCOMPARE(e.sha256, sha256(held));
        QCOMPARE(imageOfCopy(e.copy).value_or(QByteArray()), held);
        QVERIFY(!shownTexts(rig).contains(QStringLiteral("warning")));
        QVERIFY(rig.dialogs.boxesInsideNotifications.isEmpty());
    }

    void unwritableJournal_writesGoOn_andTheWindowWarnsOnceAfterTheResult_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<QStringList>("boxes"); // the whole run, two writes
        QTest::newRow("lan") << Scenario::LanDone << QStringList{kDone, "warning", kDone};
        QTest::newRow("usb") << Scenario::UsbDone << QStringList{kDone, "warning", kDone};
        // The warning waits for the fatal box, inside a serial notification
        // as the write ends, and comes before the close question.
        QTest::newRow("usb fatal") << Scenario::UsbFatal << QStringList{kFatal, "warning", kCloseQuestion};
        QTest::newRow("save") << Scenario::SaveDone << QStringList{"warning"};
    }

    void unwritableJournal_writesGoOn_andTheWindowWarnsOnceAfterTheResult()
    {
        QFETCH(Scenario, scenario);
        QFETCH(QStringList, boxes);
        if (QByteArray(QTest::currentDataTag()).startsWith("usb"))
            TARVIL_SKIP_USB_EXCHANGE();

        blockJournal();
        QTemporaryDir folder;
        ToolRig rig;
        QVERIFY(!run(rig, scenario, folder.path()).link.isEmpty());
        // The second write of a run is not warned of again.
        if (scenario == Scenario::LanDone) {
            QVERIFY(rig.write().done());
            QCOMPARE(rig.lan.writesCompleted(), 2);
        }
        if (scenario == Scenario::UsbDone) {
            QTRY_COMPARE(rig.usb.writesCompleted(), 1);
            rig.action("ItemWr")->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(rig.messageCount(kDone), 2, 60000);
            QCOMPARE(rig.usb.writesCompleted(), 2);
        }
        if (scenario == Scenario::UsbFatal)
            QTRY_COMPARE(rig.messageCount(kCloseQuestion), 1);
        if (scenario == Scenario::SaveDone) {
            QCOMPARE(QFile(folder.filePath("12345.tvc")).size(), qint64(kConfigFileSize));
            rig.dialogs.saveNames.enqueue(folder.filePath("again.tvc"));
            rig.action("ItemSave")->trigger();
            QVERIFY(QFileInfo::exists(folder.filePath("again.tvc")));
        }

        QTRY_COMPARE(shownTexts(rig), boxes);
        const UserMessage warning = rig.dialogs.messages.at(boxes.indexOf(QStringLiteral("warning")));
        QCOMPARE(warning.icon, MsgIcon::Warning);
        QVERIFY2(warning.text.contains(QDir::toNativeSeparators(journalFolder())), qPrintable(warning.text));
        QVERIFY(rig.dialogs.boxesInsideNotifications.isEmpty());
        QVERIFY(QFileInfo(journalFolder()).isFile());
    }

    void usbStreamEndedEarly_isJournalledAsInterrupted_data()
    {
        QTest::addColumn<bool>("restart"); // "Пуск" starts the stream anew; else the window is closed
        QTest::addColumn<QStringList>("results");
        QTest::newRow("begun anew") << true << QStringList{"done", "interrupted"};
        QTest::newRow("window closed") << false << QStringList{"interrupted"};
    }

    void usbStreamEndedEarly_isJournalledAsInterrupted()
    {
        QFETCH(bool, restart);
        QFETCH(QStringList, results);
        TARVIL_SKIP_USB_EXCHANGE();

        ToolRig rig;
        const qsizetype before = rig.window->journal().entries().size();
        rig.typeSettings(validSettings());
        QVERIFY(rig.connectUsb());
        bool acted = false;
        connect(&rig.usb, &sim::UsbSimulator::frameReceived, &rig.usb, [&](const sim::UsbFrame &f) {
            if (acted || f.kind != sim::FrameKind::Data || f.index < 200)
                return;
            acted = true;
            QTimer::singleShot(0, rig.window.get(), [&rig, restart] {
                if (restart)
                    QTest::mouseClick(rig.find<QPushButton>("StartUploadBtn"), Qt::LeftButton);
                else
                    rig.window->close(); // the close question is answered Yes
            });
        });
        rig.action("ItemWr")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rig.window->journal().entries().size(), before + results.size(), 60000);

        QStringList seen;
        const QList<JournalEntry> entries = rig.window->journal().entries();
        for (qsizetype i = 0; i < results.size(); ++i) {
            seen << entries.at(i).result;
            QCOMPARE(entries.at(i).target, rig.usb.devicePath());
            QCOMPARE(entries.at(i).sha256, sha256(rig.builtImage()));
        }
        QCOMPARE(seen, results);
        if (restart)
            QCOMPARE(rig.usb.image(), rig.builtImage());
        QVERIFY(!shownTexts(rig).contains(QStringLiteral("warning")));
        QVERIFY(rig.dialogs.boxesInsideNotifications.isEmpty());
    }
};

QTEST_MAIN(WindowJournalTest)
#include "tst_windowjournal.moc"
