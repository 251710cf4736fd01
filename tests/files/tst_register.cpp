// The register of transceivers, built from a journal made here: one entry per
// serial number, newest activity first; the last write and read of each with
// the state of its copy; broken lines, missing and changed copies shown on
// their entry without hiding any other.
#include "files/ConfigFile.h"
#include "files/Journal.h"
#include "files/Register.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tarvil;

namespace {

const QDateTime kStart(QDate(2025, 1, 31), QTime(9, 0), Qt::UTC);

QByteArray image(int seed)
{
    QByteArray bytes(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        bytes[i] = char((i * 13 + seed) & 0xFF);
    return bytes;
}

// Runs a journal of one-word steps, a minute apart:
//   write SERIAL lan|usb done|failed|interrupted     a write
//   save SERIAL                                      a save
//   read SERIAL done|failed|interrupted              a read (SERIAL "-": none known)
//   raw TEXT...                                      a line written as it stands
//   drop | change                                    the copy of the line before removed | altered
class JournalScript {
public:
    explicit JournalScript(const QString &folder)
        : journal_(QStringLiteral("cli"), folder, kJournalCopyLimit, [this] { return kStart.addSecs(60 * ++minutes_); })
    {}

    Journal &journal() { return journal_; }

    void run(const QStringList &steps)
    {
        int seed = 0;
        for (const QString &step : steps) {
            const QStringList w = step.split(QLatin1Char(' '));
            const QString serial = w.value(1) == QLatin1String("-") ? QString() : w.value(1);
            if (w.at(0) == QLatin1String("write") || w.at(0) == QLatin1String("save")) {
                WriteOutcome o;
                const bool save = w.at(0) == QLatin1String("save");
                o.target = save ? WriteOutcome::Target::File
                                : (w.at(2) == QLatin1String("usb") ? WriteOutcome::Target::Usb : WriteOutcome::Target::Lan);
                o.targetName = save ? QStringLiteral("/site/%1.tvc").arg(serial) : QStringLiteral("127.0.0.2");
                o.serial = serial;
                o.result = result(save ? QStringLiteral("done") : w.at(3));
                o.image = image(++seed);
                QVERIFY(journal_.append(o));
            } else if (w.at(0) == QLatin1String("read")) {
                ReadOutcome o;
                o.targetName = QStringLiteral("127.0.0.2");
                o.serial = serial;
                o.result = result(w.at(2));
                o.image = o.result == Outcome::Result::Done ? image(++seed) : QByteArray();
                QVERIFY(journal_.append(o));
            } else if (w.at(0) == QLatin1String("raw")) {
                ++minutes_;
                QFile file(journal_.filePath());
                QVERIFY(file.open(QIODevice::Append));
                file.write(step.mid(4).toUtf8() + '\n');
            } else if (w.at(0) == QLatin1String("drop")) {
                QVERIFY(QFile::remove(journal_.entries().first().copy));
            } else if (w.at(0) == QLatin1String("change")) {
                // One data byte of one packet: the file still loads, as another image.
                QFile file(journal_.entries().first().copy);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.seek(kPacketSize * 2 + kPacketSize * 100 + 3));
                char byte = 0;
                QVERIFY(file.getChar(&byte));
                QVERIFY(file.seek(file.pos() - 1));
                QVERIFY(file.putChar(char(byte ^ 0x55)));
            } else {
                QFAIL(qPrintable(QStringLiteral("no such step: ") + step));
            }
        }
    }

private:
    static Outcome::Result result(const QString &word)
    {
        if (word == QLatin1String("failed"))
            return Outcome::Result::Failed;
        if (word == QLatin1String("interrupted"))
            return Outcome::Result::Interrupted;
        return Outcome::Result::Done;
    }

    int minutes_ = 0;
    Journal journal_;
};

QString lastSummary(const std::optional<RegisterEvent> &event)
{
    if (!event)
        return QStringLiteral("-");
    static const char *const kStates[] = {"unchecked", "none", "intact", "missing", "changed"};
    return event->entry.link + QLatin1Char('/') + event->entry.result + QLatin1Char('/')
           + QLatin1String(kStates[int(event->copy)]) + QLatin1Char('@') + QString::number(event->entry.line);
}

// "12345 w2 W:lan/done/intact@3 R:- h3 [brokenLine@4]": what an entry shows.
QString summary(const RegisterEntry &e)
{
    QStringList problems;
    for (const RegisterProblem &p : e.problems())
        problems << p.toJson().value("problem").toString() + QLatin1Char('@') + QString::number(p.line);
    return QStringLiteral("%1 w%2 W:%3 R:%4 h%5 [%6]")
        .arg(e.serial.isEmpty() ? QStringLiteral("?") : e.serial)
        .arg(e.writes)
        .arg(lastSummary(e.lastWrite), lastSummary(e.lastRead))
        .arg(e.history.size())
        .arg(problems.join(QLatin1Char(' ')));
}

} // namespace

class RegisterTest : public QObject {
    Q_OBJECT
private slots:
    void register_fromAJournal_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("entries"); // newest activity first
        QTest::newRow("a read of one, two writes to another")
            << QStringList{"read 11111 done", "write 12345 lan done", "write 12345 lan done"}
            << QStringList{"12345 w2 W:lan/done/intact@3 R:- h2 []", "11111 w0 W:- R:lan/done/intact@1 h1 []"};
        QTest::newRow("only writes done count; the last write however it ended")
            << QStringList{"write 12345 usb done", "write 12345 lan interrupted", "write 12345 usb failed"}
            << QStringList{"12345 w1 W:usb/failed/intact@3 R:- h3 []"};
        QTest::newRow("a failed read keeps no copy, and claims none")
            << QStringList{"read 12345 done", "read 12345 failed"}
            << QStringList{"12345 w0 W:- R:lan/failed/none@2 h2 []"};
        QTest::newRow("a read that failed before the serial number came")
            << QStringList{"read - failed", "write 12345 lan done"}
            << QStringList{"12345 w1 W:lan/done/intact@2 R:- h1 []", "? w0 W:- R:lan/failed/none@1 h1 []"};
        QTest::newRow("a save is in the history, but is no write")
            << QStringList{"write 12345 lan done", "save 12345"}
            << QStringList{"12345 w1 W:lan/done/intact@1 R:- h2 []"};
        QTest::newRow("a save alone still names its transceiver") << QStringList{"save 777"}
                                                                  << QStringList{"777 w0 W:- R:- h1 []"};
        QTest::newRow("activity orders the entries, the newest first")
            << QStringList{"write 1 lan done", "write 2 lan done", "read 1 done", "save 3"}
            << QStringList{"3 w0 W:- R:- h1 []", "1 w1 W:lan/done/intact@1 R:lan/done/intact@3 h2 []",
                           "2 w1 W:lan/done/intact@2 R:- h1 []"};
        QTest::newRow("a missing copy of the last write")
            << QStringList{"write 12345 lan done", "drop", "read 12345 done"}
            << QStringList{"12345 w1 W:lan/done/missing@1 R:lan/done/intact@2 h2 [copyMissing@1]"};
        QTest::newRow("a changed copy of the last read")
            << QStringList{"write 12345 lan done", "read 12345 done", "change"}
            << QStringList{"12345 w1 W:lan/done/intact@1 R:lan/done/changed@2 h2 [copyChanged@2]"};
        QTest::newRow("an older write's lost copy is no problem of the entry")
            << QStringList{"write 12345 lan done", "drop", "write 12345 lan done"}
            << QStringList{"12345 w2 W:lan/done/intact@2 R:- h2 []"};
        QTest::newRow("a broken line on the entry whose number it still shows")
            << QStringList{"write 12345 lan done", "raw {\"time\":\"2025-01-31T09:02:00Z\",\"serial\":\"12345\",\"res",
                           "write 777 lan done"}
            << QStringList{"777 w1 W:lan/done/intact@3 R:- h1 []",
                           "12345 w1 W:lan/done/intact@1 R:- h1 [brokenLine@2]"};
        QTest::newRow("a line without a number hides nothing")
            << QStringList{"write 12345 lan done", "raw \x01\x02 garbage", "read 777 done"}
            << QStringList{"777 w0 W:- R:lan/done/intact@3 h1 []", "12345 w1 W:lan/done/intact@1 R:- h1 []",
                           "? w0 W:- R:- h0 [brokenLine@2]"};
        QTest::newRow("lines written before reads were journalled are writes")
            << QStringList{"raw {\"time\":\"2024-06-01T10:00:00.000Z\",\"program\":\"window\",\"link\":\"usb\","
                           "\"target\":\"COM3\",\"serial\":\"555\",\"result\":\"done\",\"sha256\":\"ab\",\"copy\":null}",
                           "raw {\"time\":\"2024-06-01T10:05:00.000Z\",\"program\":\"window\",\"link\":\"file\","
                           "\"target\":\"C:\\\\x.tvc\",\"serial\":\"555\",\"result\":\"done\",\"sha256\":\"ab\",\"copy\":null}"}
            << QStringList{"555 w1 W:usb/done/none@1 R:- h2 []"};
        QTest::newRow("an empty journal") << QStringList{} << QStringList{};
    }

    void register_fromAJournal()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, entries);
        QTemporaryDir dir;
        JournalScript script(dir.path());
        script.run(steps);
        CopyChecker checker;
        const TransceiverRegister reg = TransceiverRegister::build(script.journal().read(), checker);
        QVERIFY(reg.error().isEmpty());
        QStringList seen;
        for (const RegisterEntry &e : reg.entries())
            seen << summary(e);
        QCOMPARE(seen, entries);
    }

    void entry_history_newestFirst_withEveryLineAndItsCopy()
    {
        QTemporaryDir dir;
        JournalScript script(dir.path());
        script.run({"read 12345 done", "write 12345 lan failed", "save 12345", "write 12345 usb done", "write 9 lan done"});
        CopyChecker checker;
        const TransceiverRegister reg = TransceiverRegister::build(script.journal().read(), checker);
        const RegisterEntry *e = reg.find(QStringLiteral("12345"));
        QVERIFY(e);
        QCOMPARE(e->history.size(), 4);
        QCOMPARE(e->history.at(0).entry.line, 4);
        QCOMPARE(e->history.at(3).entry.line, 1);
        QCOMPARE(e->lastActivity, kStart.addSecs(4 * 60));
        QVERIFY(!reg.find(QStringLiteral("4")));

        // The copy a read made is exactly the image the read brought.
        const auto copied = imageOfCopy(e->lastRead->entry.copy);
        QVERIFY(copied);
        QCOMPARE(*copied, image(1));

        // What the command line prints: the keys of the entry and of its last events.
        const QJsonObject json = e->toJson(true);
        QCOMPARE(json.keys(), (QStringList{"history", "lastActivity", "lastRead", "lastWrite", "problems", "serial",
                                           "writes"}));
        QCOMPARE(json.value("serial").toString(), QStringLiteral("12345"));
        QCOMPARE(json.value("writes").toInt(), 1);
        QCOMPARE(json.value("lastActivity").toString(), QStringLiteral("2025-01-31T09:04:00.000Z"));
        const QJsonObject lastWrite = json.value("lastWrite").toObject();
        for (const char *key : {"time", "program", "target", "outcome", "copy"})
            QVERIFY2(lastWrite.contains(QLatin1String(key)), key);
        QCOMPARE(lastWrite.value("outcome").toString(), QStringLiteral("done"));
        QCOMPARE(lastWrite.value("target").toString(), QStringLiteral("127.0.0.2"));
        QCOMPARE(lastWrite.value("program").toString(), QStringLiteral("cli"));
        QCOMPARE(lastWrite.value("copyState").toString(), QStringLiteral("intact"));
        QCOMPARE(json.value("history").toArray().size(), 4);
        QVERIFY(!e->toJson().contains("history"));
    }

    void copyChecker_looksAgainOnlyAtACopyThatChanged()
    {
        QTemporaryDir dir;
        JournalScript script(dir.path());
        script.run({"write 12345 lan done"});
        const JournalEntry entry = script.journal().entries().first();
        CopyChecker checker;
        QCOMPARE(checker.check(entry), CopyState::Intact);
        // Rewritten with the image of another write, of another size even: seen at once.
        QFile file(entry.copy);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("TransP");
        file.close();
        QCOMPARE(checker.check(entry), CopyState::Changed);
        QVERIFY(QFile::remove(entry.copy));
        QCOMPARE(checker.check(entry), CopyState::Missing);
        JournalEntry none = entry;
        none.copy.clear();
        QCOMPARE(checker.check(none), CopyState::None);
        QString why;
        QVERIFY(!imageOfCopy(entry.copy, &why));
        QVERIFY(!why.isEmpty());
    }
};

QTEST_GUILESS_MAIN(RegisterTest)
#include "tst_register.moc"
