// Configuration files: the bytes a save writes, and the tolerant reader.
#include "support/FakeLinkView.h"

#include "files/ConfigFile.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvil;

namespace {

// Every field away from its start value, so a field the reader drops shows.
CommonSettings settings()
{
    CommonSettings s = test::validSettings();
    s.etherProt = 1;
    s.ownIp = QStringLiteral("10.0.0.221");
    s.gatewayIp = QStringLiteral("10.0.0.1");
    s.ownPort = QStringLiteral("8888");
    s.apn = QStringLiteral("internet.provider");
    s.baud = QStringLiteral("115200");
    s.periodHB = 3600;
    s.format = 2;
    return s;
}

QList<ObjectRow> fullTable()
{
    QList<ObjectRow> rows;
    for (int i = 0; i < kMaxObjects; ++i) {
        ObjectRow r;
        r.Obj = QStringLiteral("%1").arg(i, 4, 16, QLatin1Char('0')).toUpper();
        r.Account = QStringLiteral("%1").arg(299 - i, 4, 10, QLatin1Char('0'));
        r.P1 = QStringLiteral("+7%1").arg(9000000000LL + i);
        r.P2 = i % 3 ? QStringLiteral("%1").arg(i) : QString();
        r.TypeId = std::int16_t(i % 256);
        r.Prot = std::int16_t(i % 7);
        r.WaitTest = i * 7;
        rows << r;
    }
    return rows;
}

QByteArray fileOf(const ConfigImage &image)
{
    PacketList packets;
    packets.buildFrom(image);
    return serializeConfigFile(packets);
}

} // namespace

class ConfigFileTest : public QObject {
    Q_OBJECT
private slots:
    void save_writesHeaderMarkAndEveryPacket()
    {
        ConfigImage image;
        QVERIFY(image.build(settings(), {}));
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
        QVERIFY(image.build(settings(), fullTable()));
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
        if (accepted)
            QCOMPARE(r.config.format, std::optional<int>(2)); // 5 selects the last of three formats
    }

    void reader_refusesEmptyMissingAndShortFiles()
    {
        QCOMPARE(parseConfigFile(QByteArray()).status, LoadStatus::BadFormat);
        QCOMPARE(parseConfigFile("Tran").status, LoadStatus::BadFormat);
        QCOMPARE(loadConfigFile(QStringLiteral("/nonexistent/dir/x.tvc")).status, LoadStatus::BadFormat);
        // "Trans" alone: accepted, nothing in it.
        const LoadResult bare = parseConfigFile("Trans");
        QCOMPARE(bare.status, LoadStatus::Ok);
        QVERIFY(!bare.config.records && !bare.config.serial);
    }

    void reader_endingInsideAField_isTruncated()
    {
        ConfigImage image;
        QVERIFY(image.build(settings(), {}));
        const QByteArray file = fileOf(image);
        const int apnStart = 12 + 6 * commonAddress(CommonField::Apn);
        QCOMPARE(parseConfigFile(file.left(apnStart + 6 * 10)).status, LoadStatus::Truncated);
        QCOMPARE(parseConfigFile(file.left(12 + 6 * 5000)).status, LoadStatus::Truncated); // inside the records
        // Ending right after a field is a complete, shorter file.
        const LoadResult upToApn = parseConfigFile(file.left(apnStart));
        QCOMPARE(upToApn.status, LoadStatus::Ok);
        QCOMPARE(upToApn.config.ownPort, std::optional<QString>(QStringLiteral("8888")));
        QVERIFY(!upToApn.config.apn);
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
        QCOMPARE(r.config.serial, std::optional<QString>(QStringLiteral("12345")));
        QVERIFY(!r.config.records);
        QVERIFY(!r.config.periodHB);
    }

    void save_toAFolderThatDoesNotExist_reportsWhy()
    {
        PacketList packets;
        QString error;
        QVERIFY(!saveConfigFile(QStringLiteral("/nonexistent-folder/x.tvc"), packets, &error));
        QVERIFY(!error.isEmpty());
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
