// Configuration files: the bytes a save writes, and the tolerant reader.
#include "support/SampleConfiguration.h"

#include "files/ConfigFile.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#endif

using namespace tarvil;

namespace {

QByteArray fileOf(const ConfigImage &image)
{
    PacketList packets;
    packets.buildFrom(image);
    return serializeConfigFile(packets);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// While it lives, file permissions apply to this thread: tests run as root,
// for whom a read-only folder is writable, so on Linux the thread takes the
// file-system identity of an ordinary user for the time being.
class PermissionsBite {
public:
    PermissionsBite()
    {
        active_ = bitesNow();
#ifdef Q_OS_LINUX
        if (!active_) {
            previous_ = ::setfsuid(kNobody);
            switched_ = true;
            active_ = bitesNow();
        }
#endif
    }
    ~PermissionsBite()
    {
#ifdef Q_OS_LINUX
        if (switched_)
            ::setfsuid(previous_);
#endif
    }
    PermissionsBite(const PermissionsBite &) = delete;
    PermissionsBite &operator=(const PermissionsBite &) = delete;

    bool active() const { return active_; }

private:
    static constexpr unsigned kNobody = 65534;

    // Whether a file can be made in a folder that its owner may only read.
    static bool bitesNow()
    {
        QTemporaryDir probe;
        QFile::setPermissions(probe.path(), QFile::ReadOwner | QFile::ExeOwner);
        QFile file(probe.filePath(QStringLiteral("probe")));
        const bool refused = !file.open(QIODevice::WriteOnly);
        file.close();
        file.remove();
        QFile::setPermissions(probe.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return refused;
    }

    bool active_ = false;
    bool switched_ = false;
    int previous_ = 0;
};

} // namespace

class ConfigFileTest : public QObject {
    Q_OBJECT
private slots:
    void save_writesHeaderMarkAndEveryPacket()
    {
        ConfigImage image;
        QVERIFY(image.build(test::validSettings(), {}));
        const QByteArray file = fileOf(image);
        QCOMPARE(file.size(), 85224);
        QCOMPARE(file.left(6), QByteArray::fromHex("5472616E7350"));
        const int serialRecord = 12 + 6 * 14114;
        const QByteArray head = QByteArray::fromHex("3B223739");
        QCOMPARE(file.mid(serialRecord, 4), head);
        const std::uint16_t crc = Crc16(reinterpret_cast<const std::uint8_t *>(head.constData()), 4);
        QCOMPARE(static_cast<unsigned char>(file.at(serialRecord + 4)), static_cast<unsigned char>(crc >> 8));
        QCOMPARE(static_cast<unsigned char>(file.at(serialRecord + 5)), static_cast<unsigned char>(crc & 0xFF));
    }

    void saveThenLoad_restoresEveryFieldAndAllRecords()
    {
        ConfigImage image;
        QVERIFY(image.build(test::validSettings(), test::sampleRows(kMaxObjects)));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("12345.tvc"));
        PacketList packets;
        packets.buildFrom(image);
        QString error;
        QVERIFY2(saveConfigFile(path, packets, &error), qPrintable(error));

        const LoadResult loaded = loadConfigFile(path);
        QCOMPARE(loaded.status, LoadStatus::Ok);
        QCOMPARE(loaded.config.mergedInto(CommonSettings{}), image.decodeCommon());
        QVERIFY(loaded.config.records);
        QCOMPARE(*loaded.config.records, QByteArray(reinterpret_cast<const char *>(image.data()), kRecordsSize));

        // A fixed point: the loaded configuration builds the same file again.
        ConfigImage again;
        std::memcpy(again.data(), loaded.config.records->constData(), kRecordsSize);
        QVERIFY(again.build(loaded.config.mergedInto(CommonSettings{}), again.decodeObjects()));
        QCOMPARE(fileOf(again).mid(12 + 6 * kCommonBase), fileOf(image).mid(12 + 6 * kCommonBase));
    }

    void reader_headers_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("packetOffset");
        QTest::newRow("TransP and mark") << QByteArray("TransP") + QByteArray(6, 'm') << true << 12;
        QTest::newRow("TransX") << QByteArray("TransX") << true << 6;
        QTest::newRow("Tranz") << QByteArray("TranzP") + QByteArray(6, 'm') << false << 0;
        QTest::newRow("lower case") << QByteArray("transP") + QByteArray(6, 'm') << false << 0;
    }
    void reader_headers()
    {
        QFETCH(QByteArray, head);
        QFETCH(bool, accepted);
        const QByteArray format = WritePacket::make(';', 14201, 5).toByteArray();
        const LoadResult r = parseConfigFile(head + format);
        QCOMPARE(r.status == LoadStatus::Ok, accepted);
        if (accepted) {
            QVERIFY(r.config.carries(CommonField::Format));
            QCOMPARE(r.config.settings.format, 2); // 5 selects the last of three formats
        }
    }

    void reader_refusesEmptyMissingAndShortFiles()
    {
        QCOMPARE(parseConfigFile(QByteArray()).status, LoadStatus::BadFormat);
        QCOMPARE(parseConfigFile("Tran").status, LoadStatus::BadFormat);
        QCOMPARE(loadConfigFile(QStringLiteral("/nonexistent/dir/x.tvc")).status, LoadStatus::BadFormat);
        // "Trans" alone: accepted, nothing in it.
        const LoadResult bare = parseConfigFile("Trans");
        QCOMPARE(bare.status, LoadStatus::Ok);
        QVERIFY(!bare.config.records && bare.config.carried.none());
    }

    void reader_endingInsideAField_isTruncated()
    {
        ConfigImage image;
        QVERIFY(image.build(test::validSettings(), {}));
        const QByteArray file = fileOf(image);
        const int apnStart = 12 + 6 * commonAddress(CommonField::Apn);
        QCOMPARE(parseConfigFile(file.left(apnStart + 6 * 10)).status, LoadStatus::Truncated);
        QCOMPARE(parseConfigFile(file.left(12 + 6 * 5000)).status, LoadStatus::Truncated); // inside the records
        // Ending right after a field is a complete, shorter file.
        const LoadResult upToApn = parseConfigFile(file.left(apnStart));
        QCOMPARE(upToApn.status, LoadStatus::Ok);
        QVERIFY(upToApn.config.carries(CommonField::OwnPort));
        QCOMPARE(upToApn.config.settings.ownPort, QStringLiteral("8888"));
        QVERIFY(!upToApn.config.carries(CommonField::Apn));
        // A last record that is not whole carries nothing.
        QCOMPARE(parseConfigFile(file + QByteArray("\x3B\x79", 2)).status, LoadStatus::Ok);
    }

    void reader_ignoresMarkerAndCrc_andTakesFollowingPacketsWhateverTheirAddress()
    {
        QByteArray file = QByteArray("TransP") + QByteArray(6, '\0');
        QByteArray serial = WritePacket::make(';', 14114, 0x39).toByteArray();
        serial[4] = 0; // a wrong CRC
        serial[0] = '?'; // and a wrong marker
        file += serial;
        // The next three bytes come from packets with unrelated addresses.
        file += WritePacket::make(';', 7, 0x30).toByteArray();
        file += WritePacket::make(';', 9000, 0x00).toByteArray();
        file += WritePacket::make(';', 14000, 0x00).toByteArray();
        file += WritePacket::make(';', 14199, 0x01).toByteArray(); // not an anchor: passed over
        const LoadResult r = parseConfigFile(file);
        QCOMPARE(r.status, LoadStatus::Ok);
        QVERIFY(r.config.carries(CommonField::Serial));
        QCOMPARE(r.config.settings.serial, QStringLiteral("12345"));
        QVERIFY(!r.config.records);
        QVERIFY(!r.config.carries(CommonField::PeriodHB));
        // What the file does not carry, the window keeps.
        CommonSettings shown = startSettings();
        shown.apn = QStringLiteral("kept");
        const CommonSettings merged = r.config.mergedInto(shown);
        QCOMPARE(merged.serial, QStringLiteral("12345"));
        QCOMPARE(merged.apn, QStringLiteral("kept"));
        QCOMPARE(merged.masterPort, QStringLiteral("9999"));
    }

    // Where no temporary file can be made beside the target, the save fails
    // and never falls back to writing over the old file in place.
    void save_whereNoTemporaryFileCanBeMade_failsAndKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder that does not exist") << "missing folder";
        QTest::newRow("folder path that is a file") << "file for a folder";
        QTest::newRow("name at the length limit") << "long name";
        QTest::newRow("read-only folder, writable old file") << "read-only folder";
    }
    void save_whereNoTemporaryFileCanBeMade_failsAndKeepsTheOldFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QByteArray oldBytes("the previous configuration");
        QString path;
        if (kind == QLatin1String("missing folder")) {
            path = dir.filePath(QStringLiteral("no/such/folder/x.tvc"));
        } else if (kind == QLatin1String("file for a folder")) {
            writeFile(dir.filePath(QStringLiteral("plain")), oldBytes);
            path = dir.filePath(QStringLiteral("plain/x.tvc"));
        } else if (kind == QLatin1String("long name")) {
            // 255 characters: the name itself fits, a temporary one beside it does not.
            path = dir.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".tvc"));
            writeFile(path, oldBytes);
        } else {
            // Open to every user down to the old file, which anyone may write.
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ExeGroup | QFile::ExeOther));
            const QString folder = dir.filePath(QStringLiteral("ro"));
            QVERIFY(QDir().mkdir(folder));
            path = folder + QStringLiteral("/keep.tvc");
            writeFile(path, oldBytes);
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                    QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        }
        const QStringList before = QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden);

        PacketList packets;
        packets.buildFrom(ConfigImage{});
        QString error;
        bool saved = true;
        if (kind == QLatin1String("read-only folder")) {
            const PermissionsBite bite;
            if (!bite.active())
                QSKIP("folder permissions cannot be made to bite for this user here");
            saved = saveConfigFile(path, packets, &error);
        } else {
            saved = saveConfigFile(path, packets, &error);
        }
        QFile::setPermissions(QFileInfo(path).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!saved);
        QVERIFY(!error.isEmpty());
        if (kind != QLatin1String("missing folder")) {
            QCOMPARE(readFile(kind == QLatin1String("file for a folder") ? dir.filePath(QStringLiteral("plain"))
                                                                           : path),
                     oldBytes);
            QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), before);
        } else {
            QVERIFY(!QFileInfo::exists(path));
        }
    }

    void save_replacesAnExistingFileWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.tvc"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        ConfigImage image;
        PacketList packets;
        packets.buildFrom(image);
        QString error;
        QVERIFY(saveConfigFile(path, packets, &error));
        QCOMPARE(QFileInfo(path).size(), qint64(kConfigFileSize));
    }
};

QTEST_GUILESS_MAIN(ConfigFileTest)
#include "tst_configfile.moc"
