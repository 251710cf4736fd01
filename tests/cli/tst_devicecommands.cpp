// tarvil-cli's device commands run as a program against the project's
// transceiver simulator: LAN over UDP on loopback, USB on a pseudo-terminal.
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "files/ConfigFile.h"
#include "files/Configuration.h"
#include "files/Register.h"

#include "LanSimulator.h"
#include "UsbSimulator.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <signal.h>
#endif

using namespace tarvil;
using namespace tarvil::test;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

const QString kSim = QStringLiteral("127.0.0.2");

} // namespace

class DeviceCommandsTest : public QObject {
    Q_OBJECT

    // Named in Cyrillic, as installers name their folders and files: every
    // path the program takes and writes has such letters in it.
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/Объекты-XXXXXX")};
    sim::LanSimulator lan_;
    sim::UsbSimulator usb_;
    QString file_;     // a site's configuration
    QString other_;    // another one
    QString refused_;  // one the write's checks refuse
    QByteArray built_; // the image the window builds from file_

    QString port() const { return QString::number(udpPort()); }

    // Runs tarvil-cli with the simulator's port and short time-outs; the
    // simulator answers from this test's event loop meanwhile.
    Run cli(QStringList args, const std::function<void(QProcess &)> &whileRunning = {})
    {
        if (QStringList{"read", "write", "verify"}.contains(args.value(0)))
            args << QStringLiteral("--udp-port") << port();
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(TARVIL_CLI_PROGRAM), args);
        if (!p.waitForStarted(10000))
            return {};
        if (whileRunning)
            whileRunning(p);
        runUntil([&] { return p.state() == QProcess::NotRunning; }, 100000);
        Run r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // Saved as the window saves; `image` is what the window builds after
    // loading the file again (its rows in the table's order).
    static QString save(const QString &path, const CommonSettings &s, const QList<ObjectRow> &rows,
                        QByteArray *image = nullptr)
    {
        QString why;
        if (!saveConfigFile(path, buildConfiguration(s, rows).packets, &why))
            qFatal("cannot save %s", qPrintable(path));
        if (image) {
            const PanelTypeCatalogue none;
            const OpenResult loaded = openConfigFile(path, none);
            const BuiltConfig b = buildConfiguration(loaded.config.settings, loaded.config.rows);
            *image = QByteArray(reinterpret_cast<const char *>(b.image.data()), kImageSize);
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(lan_.start(QHostAddress(kSim), udpPort()));
#ifndef Q_OS_WIN
        QVERIFY(usb_.open());
#endif
        file_ = save(dir_.filePath("site.tvc"), validSettings(), sampleRows(20), &built_);
        CommonSettings s = validSettings();
        s.apn = QStringLiteral("other.apn");
        other_ = save(dir_.filePath("other.tvc"), s, sampleRows(19));
        // A file whose APN is empty: the loader takes it, the write refuses it.
        QByteArray bytes;
        {
            QFile f(file_);
            QVERIFY(f.open(QIODevice::ReadOnly));
            bytes = f.readAll();
        }
        refused_ = dir_.filePath("no-apn.tvc");
        const BuiltConfig b = buildConfiguration(validSettings(), sampleRows(20));
        PacketList packets = b.packets;
        ConfigImage image = b.image;
        std::memset(image.common() + CommonField::Apn.offset, 0, CommonField::Apn.width);
        packets.buildFrom(image);
        QString why;
        QVERIFY(saveConfigFile(refused_, packets, &why));
    }
    void init()
    {
        lan_.setFaults({});
        usb_.setFaults({});
        lan_.clearLog();
    }

    void lanWrite_thenVerifyAndRead()
    {
        const Run w = cli({"write", file_, "--lan", kSim, "--verify", "--backup", dir_.filePath("before")});
        QCOMPARE(w.status, 0);
        QVERIFY2(w.err.contains(QStringLiteral("Запись конфигурации трансивера № 12345 выполнена")), qPrintable(w.err));
        QVERIFY(w.out.contains(QStringLiteral("Трансивер хранит записанную конфигурацию.")));
        // The build leaves the reserved bytes as the read before it found them.
        QByteArray expected = built_;
        const int reserved = kCommonBase + CommonField::Reserved.offset;
        expected.replace(reserved, CommonField::Reserved.width, lan_.image().mid(reserved, CommonField::Reserved.width));
        QCOMPARE(lan_.image(), expected);
        const QStringList backups = QDir(dir_.filePath("before")).entryList({"12345-*.tvc"});
        QCOMPARE(backups.size(), 1);
        // The backup is what the transceiver held, its reserved bytes too.
        const OpenResult backup = openConfigFile(QDir(dir_.filePath("before")).filePath(backups.at(0)), PanelTypeCatalogue());
        QCOMPARE(backup.config.fieldBytes(CommonField::Reserved), lan_.image().mid(reserved, CommonField::Reserved.width));

        const Run r = cli({"read", "--lan", kSim, "-o", "read.tvc"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QStringLiteral("Количество объектов 20")));
        QCOMPARE(QFileInfo(dir_.filePath("read.tvc")).size(), qint64(85224));
        // What was read saves as what the transceiver holds, reserved bytes included.
        const PanelTypeCatalogue none;
        const OpenResult read = openConfigFile(dir_.filePath("read.tvc"), none);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(read.config.image.data()), kImageSize), expected);

        const Run v = cli({"verify", other_, "--lan", kSim});
        QCOMPARE(v.status, 1);
        QVERIFY(v.out.contains(QStringLiteral("other.apn")));
    }

    // A read of one transceiver and two writes to another: the register lists
    // both, newest first, each with a copy of exactly the image it received
    // or returned; a verify then is the written one's last read.
    void register_listsWhatWasReadAndWritten_newestFirst()
    {
        // A journal of this test's own.
        const Run where = cli({"journal", "--json"});
        const QString journalPath = QJsonDocument::fromJson(where.out.toUtf8()).object().value("journal").toString();
        QVERIFY(!journalPath.isEmpty());
        QVERIFY(QDir(QFileInfo(journalPath).absolutePath()).removeRecursively());

        // The transceiver that is only read: bytes no field shows are in its
        // image too (the reserved bytes, a byte after the APN's end).
        CommonSettings s = validSettings();
        s.serial = QStringLiteral("11111");
        QByteArray returned = [&s] {
            const ConfigImage built = buildConfiguration(s, sampleRows(3)).image;
            return QByteArray(reinterpret_cast<const char *>(built.data()), kImageSize);
        }();
        for (int i = 0; i < CommonField::Reserved.width; ++i)
            returned[kCommonBase + CommonField::Reserved.offset + i] = char(0xA0 + i);
        returned[kCommonBase + CommonField::Apn.offset + CommonField::Apn.width - 1] = 'Z';
        QVERIFY(lan_.setImage(returned));
        QCOMPARE(cli({"read", "--lan", kSim, "-o", "11111.tvc"}).status, 0);

        QCOMPARE(cli({"write", file_, "--lan", kSim}).status, 0);
        const QByteArray sent = lan_.image();
        QCOMPARE(cli({"write", file_, "--lan", kSim}).status, 0);

        const Run r = cli({"register", "--json"});
        QCOMPARE(r.status, 0);
        const QJsonObject document = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(document.value("journal").toString(), journalPath);
        const QJsonArray entries = document.value("entries").toArray();
        QCOMPARE(entries.size(), 2);
        const QJsonObject written = entries.at(0).toObject();
        const QJsonObject read = entries.at(1).toObject();
        QCOMPARE(written.value("serial").toString(), QStringLiteral("12345"));
        QCOMPARE(written.value("writes").toInt(), 2);
        QVERIFY(written.value("lastRead").isNull());
        const QJsonObject lastWrite = written.value("lastWrite").toObject();
        QCOMPARE(lastWrite.value("outcome").toString(), QStringLiteral("done"));
        QCOMPARE(lastWrite.value("program").toString(), QStringLiteral("cli"));
        QCOMPARE(lastWrite.value("target").toString(), kSim);
        QCOMPARE(imageOfCopy(lastWrite.value("copy").toString()).value_or(QByteArray()), sent);
        QCOMPARE(written.value("lastActivity").toString(), lastWrite.value("time").toString());

        QCOMPARE(read.value("serial").toString(), QStringLiteral("11111"));
        QCOMPARE(read.value("writes").toInt(), 0);
        QVERIFY(read.value("lastWrite").isNull());
        const QJsonObject lastRead = read.value("lastRead").toObject();
        QCOMPARE(lastRead.value("outcome").toString(), QStringLiteral("done"));
        QCOMPARE(lastRead.value("target").toString(), kSim);
        QCOMPARE(imageOfCopy(lastRead.value("copy").toString()).value_or(QByteArray()), returned);
        QVERIFY(read.value("lastActivity").toString() < written.value("lastActivity").toString());
        for (const QJsonValue &e : entries)
            QVERIFY(e.toObject().value("problems").toArray().isEmpty());

        // For people: the same, in the window's words.
        const Run table = cli({"register"});
        QCOMPARE(table.status, 0);
        QVERIFY2(table.out.indexOf(QStringLiteral("12345")) < table.out.indexOf(QStringLiteral("11111")),
                 qPrintable(table.out));
        QVERIFY(table.out.contains(QStringLiteral("LAN 127.0.0.2  выполнена")));
        QVERIFY(table.out.contains(QStringLiteral("LAN 127.0.0.2  выполнено")));

        // A verify reads: it is the written transceiver's last read now; a
        // failed read keeps no copy.
        QCOMPARE(cli({"verify", file_, "--lan", kSim}).status, 0);
        sim::LanFaults f;
        f.stopReadAfter = 3;
        lan_.setFaults(f);
        QCOMPARE(cli({"read", "--lan", kSim, "--timeout-scale", "0.05"}).status, 3);
        lan_.setFaults({});
        const Run one = cli({"register", "--json", "--serial", "12345"});
        const QJsonArray only = QJsonDocument::fromJson(one.out.toUtf8()).object().value("entries").toArray();
        QCOMPARE(only.size(), 1);
        const QJsonObject entry = only.at(0).toObject();
        QCOMPARE(entry.value("writes").toInt(), 2);
        QCOMPARE(imageOfCopy(entry.value("lastRead").toObject().value("copy").toString()).value_or(QByteArray()), sent);
        const QJsonArray history = entry.value("history").toArray();
        QCOMPARE(history.size(), 3);
        QCOMPARE(history.at(0).toObject().value("kind").toString(), QStringLiteral("read"));
        QCOMPARE(history.at(1).toObject().value("kind").toString(), QStringLiteral("write"));
        const Run all = cli({"register", "--json"});
        const QJsonArray three = QJsonDocument::fromJson(all.out.toUtf8()).object().value("entries").toArray();
        QCOMPARE(three.size(), 3);
        const QJsonObject unknown = three.at(0).toObject();
        QCOMPARE(unknown.value("serial").toString(), QString());
        QCOMPARE(unknown.value("lastRead").toObject().value("outcome").toString(), QStringLiteral("failed"));
        QVERIFY(unknown.value("lastRead").toObject().value("copy").isNull());
    }

    void usbWrite_verifiedOverLan()
    {
        TARVIL_SKIP_USB_EXCHANGE();
        const Run w = cli({"write", other_, "--usb", usb_.devicePath(), "--verify", "--lan", kSim});
        QCOMPARE(w.status, 1); // the LAN side still holds the other image
        QVERIFY(w.err.contains(QStringLiteral("выполнена")));
        QByteArray expected;
        save(dir_.filePath("again.tvc"), [] { CommonSettings s = validSettings(); s.apn = "other.apn"; return s; }(),
             sampleRows(19), &expected);
        QCOMPARE(usb_.image(), expected);
    }

    void failures_giveTheirMessageAndStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("failWrite");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nobody at the address") << QStringList{"write", "FILE", "--lan", "127.0.0.9"} << false << 3
                                               << "Нет связи с 127.0.0.9";
        QTest::newRow("the transceiver refuses the write") << QStringList{"write", "FILE", "--lan", "127.0.0.2"} << true
                                                           << 3 << "Ошибка при записи конфигурации";
        QTest::newRow("a check refuses the file") << QStringList{"write", "REFUSED", "--lan", "127.0.0.2"} << false << 2
                                                  << "Не определен APN GPRS - канала";
        QTest::newRow("both links") << QStringList{"write", "FILE", "--lan", "127.0.0.2", "--usb", "/dev/null"} << false
                                    << 2 << "--lan";
        QTest::newRow("a backup over USB") << QStringList{"write", "FILE", "--usb", "/dev/null", "--backup", "x"}
                                           << false << 2 << "--backup";
        QTest::newRow("no such port") << QStringList{"write", "FILE", "--usb", "/dev/no-such-port"} << false << 3
                                      << "Нет доступного Com-порта";
        QTest::newRow("read from nobody") << QStringList{"read", "--lan", "127.0.0.9"} << false << 3
                                          << "Нет связи с 127.0.0.9";
    }
    void failures_giveTheirMessageAndStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, failWrite);
        QFETCH(int, status);
        QFETCH(QString, shown);
        sim::LanFaults f;
        f.failWrite = failWrite;
        lan_.setFaults(f);
        args.replaceInStrings(QStringLiteral("REFUSED"), refused_);
        args.replaceInStrings(QStringLiteral("FILE"), file_);
        args << QStringLiteral("--timeout-scale") << QStringLiteral("0.05");
        const Run r = cli(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(shown), qPrintable(r.err));
        if (status == 2) {
            for (const auto &d : lan_.received())
                QVERIFY(d.kind != sim::Request::Datf);
        }
    }

    void usbWrite_atAnAdaptersLatency_saysFirstHowLongItWillTake()
    {
        TARVIL_SKIP_USB_EXCHANGE();
#ifndef Q_OS_WIN
        // A bridge that holds every answer 6 ms, as a latency timer would.
        sim::UsbFaults slow;
        slow.latency = std::chrono::milliseconds(6);
        usb_.setFaults(slow);
        const int before = usb_.dataPackets();
        QString early;      // standard error up to the adapter's lines
        int packetsAt = -1; // packets the simulator had then
        const Run r = cli({"write", file_, "--usb", usb_.devicePath()}, [&](QProcess &p) {
            runUntil([&] {
                early += QString::fromUtf8(p.readAllStandardError());
                const qsizetype line = early.indexOf(QStringLiteral("Адаптер USB:"));
                if (line < 0 || early.mid(line).count(QLatin1Char('\n')) < 2)
                    return false;
                packetsAt = usb_.dataPackets() - before;
                return true;
            }, 60000);
            ::kill(pid_t(p.processId()), SIGINT);
        });
        QVERIFY2(r.status == 3, qPrintable(early + r.err));
        QVERIFY2((early + r.err).contains(QStringLiteral("Запись прервана.")), qPrintable(early + r.err));

        const QStringList lines = early.split(QLatin1Char('\n'));
        static const QRegularExpression adapter(QStringLiteral(
            R"(^Адаптер USB: ответ за (\d+),(\d) мс на пакет; запись займёт около (?:(\d+) мин )?(\d+) с\.$)"));
        const qsizetype at = lines.indexOf(adapter);
        QVERIFY2(at >= 0, qPrintable(early));
        const QRegularExpressionMatch m = adapter.match(lines.at(at));
        // Said before any progress, and within the first thousand packets.
        for (qsizetype i = 0; i < at; ++i)
            QVERIFY2(!lines.at(i).contains(QLatin1Char('%')), qPrintable(early));
        QVERIFY2(packetsAt >= 0 && packetsAt < 1000, qPrintable(QString::number(packetsAt)));
        const double answer = m.captured(1).toInt() + m.captured(2).toInt() / 10.0;
        QVERIFY2(answer >= 6.0 && answer < 30.0, qPrintable(lines.at(at)));
        const int seconds = m.captured(3).toInt() * 60 + m.captured(4).toInt();
        const double foretold = (kImageSize + 1) * answer / 1000.0;
        QVERIFY2(std::abs(seconds - foretold) <= 1.5, qPrintable(lines.at(at)));
        // 4 ms or more: a second line says how to make it faster, or that
        // the tool knows no way for this adapter.
        QVERIFY2(!lines.value(at + 1).isEmpty() && !lines.value(at + 1).contains(QLatin1Char('%')), qPrintable(early));
#endif
    }

    void ports_nameEachAdapterAndItsLatency()
    {
        const Run r = cli({"ports", "--json"});
        QCOMPARE(r.status, 0);
        const QJsonArray ports = QJsonDocument::fromJson(r.out.toUtf8()).object().value("ports").toArray();
        for (const auto &v : ports) {
            const QJsonObject port = v.toObject();
            for (const char *key : {"name", "access", "vendorId", "productId", "driver", "latencyTimerMs", "advice"})
                QVERIFY2(port.contains(QLatin1String(key)), key);
            QVERIFY(port.value("vendorId").isNull() || port.value("vendorId").toString().size() == 4);
        }
    }

    void interrupt_endsAUsbWriteCleanly_andTheJournalSaysSo()
    {
        TARVIL_SKIP_USB_EXCHANGE();
#ifndef Q_OS_WIN
        const int before = usb_.dataPackets();
        const Run r = cli({"write", file_, "--usb", usb_.devicePath()}, [this, before](QProcess &p) {
            runUntil([this, before] { return usb_.dataPackets() > before + 200; }, 30000);
            ::kill(pid_t(p.processId()), SIGINT);
        });
        QVERIFY2(r.status == 3, qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("Запись прервана.")), qPrintable(r.err));

        const Run j = cli({"journal", "--json"});
        QCOMPARE(j.status, 0);
        const QJsonArray entries = QJsonDocument::fromJson(j.out.toUtf8()).object().value("entries").toArray();
        QVERIFY(entries.size() >= 3);
        const QJsonObject newest = entries.at(0).toObject();
        QCOMPARE(newest.value("result").toString(), QStringLiteral("interrupted"));
        QCOMPARE(newest.value("target").toString(), usb_.devicePath());
        QCOMPARE(newest.value("program").toString(), QStringLiteral("cli"));
        QVERIFY(QFileInfo::exists(newest.value("copy").toString()));
        // Newest first: the times never rise down the list.
        for (int i = 1; i < entries.size(); ++i)
            QVERIFY(entries.at(i - 1).toObject().value("time").toString() >= entries.at(i).toObject().value("time").toString());
#endif
    }
};

QTEST_GUILESS_MAIN(DeviceCommandsTest)
#include "tst_devicecommands.moc"
