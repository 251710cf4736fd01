// The journal of writes and reads: its lines, its copies of the images sent
// and read, the limit on the copies, lines it cannot read, and a folder it
// cannot write.
#include "files/ConfigFile.h"
#include "files/Journal.h"
#include "model/ConfigImage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cstring>
#include <memory>

using namespace tarvil;

namespace {

const QDateTime kStart(QDate(2025, 1, 31), QTime(9, 30, 5, 250), Qt::UTC);

QByteArray sampleImage(int seed)
{
    QByteArray image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        image[i] = char((i * 7 + seed) & 0xFF);
    return image;
}

WriteOutcome outcome(WriteOutcome::Target target, const QString &name, const QString &serial,
                     WriteOutcome::Result result, const QString &message = {}, int seed = 1)
{
    WriteOutcome o;
    o.result = result;
    o.message = message;
    o.target = target;
    o.targetName = name;
    o.serial = serial;
    o.image = sampleImage(seed);
    return o;
}

// A clock that moves on by `step` at every reading.
Journal::Clock steppingClock(const QDateTime &start, int stepMs)
{
    auto now = std::make_shared<QDateTime>(start);
    return [now, stepMs] {
        QDateTime t = *now;
        *now = now->addMSecs(stepMs);
        return t;
    };
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> lines(const QString &path)
{
    QList<QByteArray> out = readFile(path).split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

QStringList copiesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.tvc")}, QDir::Files, QDir::Name);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class JournalTest : public QObject {
    Q_OBJECT
private slots:
    void append_writesTheLineAndACopyOfTheImage_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("resultText");
        using T = WriteOutcome::Target;
        using R = WriteOutcome::Result;
        QTest::newRow("lan done") << int(T::Lan) << "127.0.0.2" << int(R::Done) << ""
                                  << "lan"
                                  << "done";
        QTest::newRow("lan refused") << int(T::Lan) << "192.168.1.221" << int(R::Failed) << "Ошибка записи конфигурации"
                                     << "lan"
                                     << "failed";
        QTest::newRow("usb no answer") << int(T::Usb) << "/dev/ttyUSB0" << int(R::Failed) << "Трансивер не отвечает"
                                       << "usb"
                                       << "failed";
        QTest::newRow("usb interrupted") << int(T::Usb) << "/dev/ttyACM1" << int(R::Interrupted) << ""
                                         << "usb"
                                         << "interrupted";
        QTest::newRow("save done") << int(T::File) << "/tmp/site/12345.tvc" << int(R::Done) << ""
                                   << "file"
                                   << "done";
        // A message with a done write is not what the user needs to see again.
        QTest::newRow("done keeps no message") << int(T::Lan) << "127.0.0.2" << int(R::Done) << "ignored"
                                               << "lan"
                                               << "done";
    }

    void append_writesTheLineAndACopyOfTheImage()
    {
        QFETCH(int, target);
        QFETCH(QString, name);
        QFETCH(int, result);
        QFETCH(QString, message);
        QFETCH(QString, link);
        QFETCH(QString, resultText);

        QTemporaryDir dir;
        Journal journal(QStringLiteral("window"), dir.path(), kJournalCopyLimit, [] { return kStart; });
        WriteOutcome o =
            outcome(WriteOutcome::Target(target), name, QStringLiteral("12345"), WriteOutcome::Result(result), message);
        // A USB write carries how fast the adapter answered and how long it ran.
        const bool usb = link == QLatin1String("usb");
        if (usb) {
            o.answerMs = 16.1;
            o.durationMs = 228650;
        }
        QString error;
        QVERIFY2(journal.append(o, &error), qPrintable(error));

        const QList<QByteArray> written = lines(journal.filePath());
        QCOMPARE(written.size(), 1);
        QVERIFY(written.first().startsWith("{\"time\":\"2025-01-31T09:30:05.250Z\",\"program\":\"window\","));
        const QJsonObject line = QJsonDocument::fromJson(written.first()).object();
        QCOMPARE(line.value("link").toString(), link);
        // A file is named the way the system writes paths; a device or an
        // address as it is.
        const bool file = WriteOutcome::Target(target) == WriteOutcome::Target::File;
        QCOMPARE(line.value("target").toString(), file ? QDir::toNativeSeparators(name) : name);
        QCOMPARE(line.value("serial").toString(), QStringLiteral("12345"));
        QCOMPARE(line.value("result").toString(), resultText);
        QCOMPARE(line.value("message").toString(), resultText == "failed" ? message : QString());
        QCOMPARE(line.contains("message"), resultText == "failed");
        QCOMPARE(line.contains("answerMs"), usb);
        QCOMPARE(line.contains("durationMs"), usb);
        if (usb) {
            QCOMPARE(line.value("answerMs").toDouble(), 16.1);
            QCOMPARE(line.value("durationMs").toInteger(), 228650);
        }
        QCOMPARE(line.value("sha256").toString().toLatin1(),
                 QCryptographicHash::hash(o.image, QCryptographicHash::Sha256).toHex());

        // The copy is the file the tool's own save writes of that image, and
        // loads back to it.
        const QString copy = line.value("copy").toString();
        QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("12345-20250131T093005Z.tvc"));
        QCOMPARE(QFileInfo(copy).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        ConfigImage image;
        std::memcpy(image.data(), o.image.constData(), size_t(kImageSize));
        PacketList packets;
        packets.buildFrom(image);
        QCOMPARE(readFile(copy), serializeConfigFile(packets));
        const LoadResult loaded = loadConfigFile(copy);
        QCOMPARE(loaded.status, LoadStatus::Ok);
        QCOMPARE(*loaded.config.records, o.image.left(kRecordsSize));

        const QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().time, kStart);
        QCOMPARE(entries.first().copy, copy);
        QCOMPARE(entries.first().toJsonLine(), written.first());
    }

    void reads_areJournalled_withACopyOfExactlyTheImageReturned_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("serial"); // as the read found it; empty when no common block came
        QTest::addColumn<QString>("resultText");
        QTest::addColumn<bool>("copied");
        using R = Outcome::Result;
        QTest::newRow("done") << int(R::Done) << "4294967295" << "done" << true;
        QTest::newRow("failed after the common block") << int(R::Failed) << "12345" << "failed" << false;
        QTest::newRow("failed before it") << int(R::Failed) << "" << "failed" << false;
        QTest::newRow("interrupted") << int(R::Interrupted) << "" << "interrupted" << false;
    }

    void reads_areJournalled_withACopyOfExactlyTheImageReturned()
    {
        QFETCH(int, result);
        QFETCH(QString, serial);
        QFETCH(QString, resultText);
        QFETCH(bool, copied);

        QTemporaryDir dir;
        Journal journal(QStringLiteral("cli"), dir.path(), kJournalCopyLimit, [] { return kStart; });
        ReadOutcome o;
        o.result = Outcome::Result(result);
        o.message = o.result == Outcome::Result::Failed ? QStringLiteral("Ошибка при чтение конфигурации.") : QString();
        o.targetName = QStringLiteral("192.168.1.221");
        o.serial = serial;
        // Every byte value, reserved bytes and bytes past a text's end alike.
        o.image = copied ? sampleImage(3) : QByteArray();
        QString error;
        QVERIFY2(journal.append(o, &error), qPrintable(error));

        const QList<QByteArray> written = lines(journal.filePath());
        QCOMPARE(written.size(), 1);
        QVERIFY(written.first().startsWith(R"({"time":"2025-01-31T09:30:05.250Z","program":"cli","kind":"read",)"));
        const QJsonObject line = QJsonDocument::fromJson(written.first()).object();
        QCOMPARE(line.value("link").toString(), QStringLiteral("lan"));
        QCOMPARE(line.value("target").toString(), QStringLiteral("192.168.1.221"));
        QCOMPARE(line.value("serial").toString(), serial);
        QCOMPARE(line.value("result").toString(), resultText);
        QCOMPARE(line.value("message").toString(), o.message);
        const JournalEntry e = journal.entries().value(0);
        QVERIFY(e.isRead() && !e.isWrite() && !e.isSave());
        if (!copied) {
            // Nothing to keep, and nothing claimed.
            QVERIFY(line.value("sha256").isNull());
            QVERIFY(line.value("copy").isNull());
            QVERIFY(copiesIn(dir.path()).isEmpty());
            return;
        }
        QCOMPARE(line.value("sha256").toString().toLatin1(),
                 QCryptographicHash::hash(o.image, QCryptographicHash::Sha256).toHex());
        QCOMPARE(QFileInfo(e.copy).fileName(), serial + QStringLiteral("-20250131T093005Z.tvc"));
        const LoadResult loaded = loadConfigFile(e.copy);
        QCOMPARE(loaded.status, LoadStatus::Ok);
        QCOMPARE(loaded.carried.count(true), kImageSize);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(loaded.image.data()), kImageSize), o.image);
    }

    void read_namesEveryLineItCannotRead_andReadsOldLinesAsWrites()
    {
        QTemporaryDir dir;
        Journal journal(QStringLiteral("window"), dir.path(), kJournalCopyLimit, steppingClock(kStart, 1000));
        QVERIFY(journal.append(outcome(WriteOutcome::Target::Lan, "a", "111", WriteOutcome::Result::Done)));
        QFile file(journal.filePath());
        QVERIFY(file.open(QIODevice::Append));
        // A line as the journal wrote it before reads were journalled: no kind.
        file.write(R"({"time":"2025-01-31T09:40:00.000Z","program":"window","link":"file","target":"x.tvc",)"
                   R"("serial":"222","result":"done","sha256":"00","copy":null})" "\n");
        file.write("\n"); // an empty line is nothing
        file.write("not json\n");
        file.write(R"({"time":"2025-01-31T09:50:00.000Z","serial":"3\"33","program":"cli"})" "\n");
        file.write(R"({"time":"2025-01-31T09:55:00.000Z","program":"cli","link":"lan","serial":"444","res)");
        file.close();
        QVERIFY(journal.append(outcome(WriteOutcome::Target::Usb, "b", "111", WriteOutcome::Result::Done)));

        const JournalContents contents = journal.read();
        QVERIFY(contents.error.isEmpty());
        QCOMPARE(contents.entries.size(), 3);
        QCOMPARE(contents.entries.at(0).line, 1);
        QCOMPARE(contents.entries.at(1).line, 2);
        QVERIFY(contents.entries.at(1).isSave());
        QCOMPARE(contents.entries.at(1).kind, QStringLiteral("write"));
        QVERIFY(contents.entries.at(0).isWrite());
        // The cut line was ended by the next append: that line is whole.
        QCOMPARE(contents.entries.at(2).line, 7);
        QCOMPARE(contents.entries.at(2).target, QStringLiteral("b"));
        QCOMPARE(contents.broken.size(), 3);
        QCOMPARE(contents.broken.at(0).line, 4);
        QCOMPARE(contents.broken.at(0).text, QStringLiteral("not json"));
        QVERIFY(contents.broken.at(0).serial.isEmpty());
        // An object without a result is no line; its serial number still shows.
        QCOMPARE(contents.broken.at(1).line, 5);
        QCOMPARE(contents.broken.at(1).serial, QStringLiteral("3\"33"));
        QCOMPARE(contents.broken.at(1).time, QDateTime(QDate(2025, 1, 31), QTime(9, 50), Qt::UTC));
        QCOMPARE(contents.broken.at(2).line, 6);
        QCOMPARE(contents.broken.at(2).serial, QStringLiteral("444"));

        // A journal that is there but cannot be opened says why.
        QVERIFY(QFile::remove(journal.filePath()));
        QVERIFY(QDir().mkpath(journal.filePath()));
        QVERIFY(!journal.read().error.isEmpty());
        QVERIFY(Journal(QStringLiteral("cli"), dir.filePath("none")).read().error.isEmpty());
    }

    void copies_beyondTheLimit_goOldestFirst_andTheLinesStay()
    {
        QTemporaryDir dir;
        // Files that are not the journal's copies are never dropped.
        writeFile(dir.filePath("mine.tvc"), "x");
        writeFile(dir.filePath("12345-old.tvc"), "x");
        // Half a second apart: two copies share each second.
        Journal journal(QStringLiteral("cli"), dir.path(), 3, steppingClock(kStart, 500));
        // Serial "9" is written before "10": the oldest copy is not the first by name.
        const QStringList serials{"9", "9", "10", "10", "77", "77"};
        for (int i = 0; i < serials.size(); ++i)
            QVERIFY(journal.append(
                outcome(WriteOutcome::Target::Lan, "127.0.0.2", serials.at(i), WriteOutcome::Result::Done, {}, i)));

        QCOMPARE(copiesIn(dir.path()),
                 (QStringList{"10-20250131T093006Z-2.tvc", "12345-old.tvc", "77-20250131T093007Z-2.tvc",
                              "77-20250131T093007Z.tvc", "mine.tvc"}));
        QCOMPARE(lines(journal.filePath()).size(), 6);
        const QList<JournalEntry> entries = journal.entries();
        QCOMPARE(entries.size(), 6);
        // Every line still names its copy, kept or dropped.
        QCOMPARE(QFileInfo(entries.last().copy).fileName(), QStringLiteral("9-20250131T093005Z.tvc"));
        QVERIFY(!QFileInfo::exists(entries.last().copy));
        QVERIFY(QFileInfo::exists(entries.first().copy));
        QCOMPARE(readFile(entries.first().copy).size(), kConfigFileSize);
    }

    void entries_newestFirst_ofOneSerial_skippingBrokenLines()
    {
        QTemporaryDir dir;
        Journal journal(QStringLiteral("window"), dir.path(), kJournalCopyLimit, steppingClock(kStart, 1000));
        QVERIFY(journal.append(outcome(WriteOutcome::Target::Lan, "a", "111", WriteOutcome::Result::Done)));
        QVERIFY(journal.append(outcome(WriteOutcome::Target::Usb, "b", "222", WriteOutcome::Result::Done)));
        // Lines spoiled from outside: noise, an object that is no line, a
        // line longer than any the journal writes, and a last line cut short.
        QFile file(journal.filePath());
        QVERIFY(file.open(QIODevice::Append));
        file.write("not json\n{\"program\":\"cli\"}\n{\"time\":\"" + QByteArray(70000, 'x') + "\"}\n");
        file.write("{\"time\":\"2025-01-31T10:00:00Z\",\"result\":\"do");
        file.close();
        QVERIFY(journal.append(outcome(WriteOutcome::Target::File, "c", "111", WriteOutcome::Result::Failed, "m")));

        const QList<JournalEntry> all = journal.entries();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(0).target, QStringLiteral("c"));
        QCOMPARE(all.at(0).message, QStringLiteral("m"));
        QCOMPARE(all.at(1).target, QStringLiteral("b"));
        QCOMPARE(all.at(2).target, QStringLiteral("a"));
        const QList<JournalEntry> one = journal.entries(QStringLiteral("111"));
        QCOMPARE(one.size(), 2);
        QCOMPARE(one.at(0).result, QStringLiteral("failed"));
        QCOMPARE(one.at(1).time, kStart);
        QVERIFY(journal.entries(QStringLiteral("333")).isEmpty());
        QVERIFY(Journal(QStringLiteral("cli"), dir.filePath("none")).entries().isEmpty());
    }

    void unwritableJournal_failsWithItsReason_data()
    {
        QTest::addColumn<QString>("blocker"); // a file put where the journal needs a folder
        QTest::addColumn<QString>("folder");  // the journal's folder, under the temporary one
        QTest::addColumn<bool>("copyKept");
        QTest::addColumn<bool>("lineKept");
        QTest::addColumn<QString>("named"); // what the reason names
        QTest::newRow("folder is a file") << "data"
                                          << "data" << false << false << "data";
        QTest::newRow("parent is a file") << "data"
                                          << "data/tarvil-config" << false << false << "tarvil-config";
        QTest::newRow("journal file is a folder") << ""
                                                  << "data" << true << false << "journal.jsonl";
        QTest::newRow("no folder at all") << ""
                                          << "" << false << false << "";
    }

    void unwritableJournal_failsWithItsReason()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, folder);
        QFETCH(bool, copyKept);
        QFETCH(bool, lineKept);
        QFETCH(QString, named);

        QTemporaryDir dir;
        if (!blocker.isEmpty())
            writeFile(dir.filePath(blocker), "not a folder");
        const QString path = folder.isEmpty() ? QString() : dir.filePath(folder);
        if (QTest::currentDataTag() == QByteArray("journal file is a folder"))
            QVERIFY(QDir().mkpath(path + "/journal.jsonl"));
        Journal journal(QStringLiteral("window"), path, kJournalCopyLimit, [] { return kStart; });
        QString error;
        QVERIFY(!journal.append(outcome(WriteOutcome::Target::Lan, "127.0.0.2", "12345", WriteOutcome::Result::Done),
                                &error));
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(named), qPrintable(error));
        QCOMPARE(QFileInfo::exists(path + "/12345-20250131T093005Z.tvc"), copyKept);
        QCOMPARE(QFileInfo(journal.filePath()).isFile(), lineKept);
        QVERIFY(journalWarningText(error).contains(error));
    }

    void copyName_keepsOnlyWhatIsSafeInAFileName_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("name");
        QTest::newRow("digits") << "4294967295" << kStart << "4294967295-20250131T093005Z.tvc";
        QTest::newRow("path and blanks") << "../12 3" << kStart << "___12_3-20250131T093005Z.tvc";
        QTest::newRow("cyrillic") << "№5" << kStart << "_5-20250131T093005Z.tvc";
        QTest::newRow("empty") << "" << kStart << "_-20250131T093005Z.tvc";
        QTest::newRow("local time") << "1" << QDateTime(QDate(2025, 1, 31), QTime(12, 30, 5), QTimeZone(3 * 3600))
                                    << "1-20250131T093005Z.tvc";
    }

    void copyName_keepsOnlyWhatIsSafeInAFileName()
    {
        QFETCH(QString, serial);
        QFETCH(QDateTime, time);
        QFETCH(QString, name);
        QCOMPARE(timedCopyName(serial, time), name);
    }
};

QTEST_GUILESS_MAIN(JournalTest)
#include "tst_journal.moc"
