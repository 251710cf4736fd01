#include "support/SampleConfiguration.h"

#include "link/Packets.h"
#include "model/ConfigImage.h"

#include <QRandomGenerator>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

QByteArray bytesAt(const ConfigImage &image, int address, int count)
{
    return QByteArray(reinterpret_cast<const char *>(image.data() + address), count);
}

} // namespace

class ImageTest : public QObject {
    Q_OBJECT
private slots:
    void crcCheckValue()
    {
        const QByteArray check("123456789");
        QCOMPARE(Crc16(reinterpret_cast<const std::uint8_t *>(check.constData()), 9), std::uint16_t(0x31C3));
        QCOMPARE(Crc16(nullptr, 0), std::uint16_t(0));
    }
    void samplePackets_data()
    {
        QTest::addColumn<int>("marker");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("address 0, data 31") << int(';') << 0 << 0x31 << QByteArray::fromHex("3B0000311484");
        QTest::newRow("address 14100, data 0") << int(';') << 14100 << 0 << QByteArray::fromHex("3B1437003157");
        QTest::newRow("address 14201, data 2") << int(';') << 14201 << 2 << QByteArray::fromHex("3B793702C82F");
        QTest::newRow("poll") << int('#') << 0x0101 << 1 << QByteArray::fromHex("230101 01B8B2");
    }
    void samplePackets()
    {
        QFETCH(int, marker);
        QFETCH(int, address);
        QFETCH(int, data);
        QFETCH(QByteArray, wire);
        QCOMPARE(WritePacket::make(std::uint8_t(marker), std::uint16_t(address), std::uint8_t(data)).toByteArray(), wire);
    }
    void pollPacketBytes() { QCOMPARE(PollPacket().toByteArray(), QByteArray::fromHex("230101 01B8B2")); }

    void packetList_allAddressesInOrder()
    {
        ConfigImage image;
        QRandomGenerator random(7);
        for (int a = 0; a < kImageSize; ++a)
            image.set(a, std::uint8_t(random.bounded(256)));
        PacketList list;
        list.append(kDataMarker, 1, 1); // a stale packet goes with the rebuild
        list.buildFrom(image);
        QCOMPARE(list.count(), 14202);
        for (int i = 0; i < list.count(); ++i) {
            const WritePacket &p = list.at(i);
            QCOMPARE(int(p.address()), i);
            QCOMPARE(p.bytes[0], kDataMarker);
            QCOMPARE(p.data(), image.at(i));
            QCOMPARE(Crc16(p.bytes.data(), 4), std::uint16_t(p.bytes[4] << 8 | p.bytes[5]));
        }
        QCOMPARE(list.at(47).address(), std::uint16_t(47)); // record 1, offset 0
        list.clear();
        QVERIFY(list.isEmpty());
    }

    void packetList_sampleWireBytes()
    {
        ConfigImage image;
        image.set(0, 0x31);
        image.set(14201, 2);
        PacketList list;
        list.buildFrom(image);
        QCOMPARE(list.at(0).toByteArray(), QByteArray::fromHex("3B0000311484"));
        QCOMPARE(list.at(14100).toByteArray(), QByteArray::fromHex("3B1437003157"));
        QCOMPARE(list.at(14201).toByteArray(), QByteArray::fromHex("3B793702C82F"));
    }

    void build_commonBlockEncodings()
    {
        CommonSettings s = validSettings();
        s.masterIp = QStringLiteral("192.168.1.221");
        s.serial = QStringLiteral("12345");
        s.ownPort = QStringLiteral("70000");
        s.baud = QStringLiteral("9600");
        s.apn = QStringLiteral("интернет");
        ConfigImage image;
        QVERIFY(image.build(s, {}));
        QCOMPARE(bytesAt(image, 14100, 2), QByteArray::fromHex("0100"));
        QCOMPARE(bytesAt(image, 14102, 4), QByteArray::fromHex("C0A801DD"));
        QCOMPARE(bytesAt(image, 14114, 4), QByteArray::fromHex("39300000"));
        QCOMPARE(bytesAt(image, 14118, 2), QByteArray::fromHex("1127")); // 10001
        QCOMPARE(bytesAt(image, 14120, 2), QByteArray::fromHex("7011")); // low 16 bits of 70000
        QCOMPARE(bytesAt(image, 14122, 9), QByteArray::fromHex("E8EDF2E5F0EDE5F200"));
        QCOMPARE(bytesAt(image, 14186, 2), QByteArray::fromHex("0F27"));
        QCOMPARE(bytesAt(image, 14188, 6), QByteArray::fromHex("393630300000"));
        QCOMPARE(bytesAt(image, 14197, 4), QByteArray::fromHex("100E0000"));
        QCOMPARE(image.at(14201), std::uint8_t(2));
    }

    void build_textsAtTheirWidths()
    {
        CommonSettings s = validSettings();
        s.apn = QString(70, QLatin1Char('a'));
        s.baud = QStringLiteral("1152000");
        ConfigImage image;
        QVERIFY(image.build(s, {}));
        // As wide as the field: no terminator, and decoded whole.
        QCOMPARE(bytesAt(image, 14122, 64), QByteArray(64, 'a'));
        QCOMPARE(bytesAt(image, 14186, 2), QByteArray::fromHex("0F27"));
        QCOMPARE(image.decodeCommon().apn, QString(64, QLatin1Char('a')));
        QCOMPARE(image.decodeCommon().baud, QStringLiteral("115200"));
        // A character the code page lacks becomes '?' and shifts nothing.
        s.apn = QStringLiteral("ab\u4E2D");
        QVERIFY(image.build(s, {}));
        QCOMPARE(bytesAt(image, 14122, 4), QByteArray("ab?\0", 4));
        s.apn = QStringLiteral("a\u4E2Db");
        QVERIFY(image.build(s, {}));
        // Qt's encoder keeps its error flag across resetState(), so every
        // character after the first unmappable one is written as '?' too.
        QCOMPARE(bytesAt(image, 14122, 4), QByteArray("a?b\0", 4));
    }

    void build_leavesReservedBytesAlone()
    {
        ConfigImage image;
        image.set(14194, 0xA1);
        image.set(14195, 0xB2);
        image.set(14196, 0xC3);
        QVERIFY(image.build(validSettings(), sampleRows(1)));
        QCOMPARE(bytesAt(image, 14194, 3), QByteArray::fromHex("A1B2C3"));
        QVERIFY(image.build(validSettings(), {}));
        QCOMPARE(bytesAt(image, 14194, 3), QByteArray::fromHex("A1B2C3"));
    }

    void build_refusesWhatDoesNotConvert()
    {
        const QList<void (*)(CommonSettings &)> spoil{
            [](CommonSettings &s) { s.masterIp = QStringLiteral("1.2.3"); },
            [](CommonSettings &s) { s.ownIp = QStringLiteral("0.0.0.0"); },
            [](CommonSettings &s) { s.gatewayIp = QStringLiteral("1.2.256.4"); },
            [](CommonSettings &s) { s.serial = QString(); },
            [](CommonSettings &s) { s.masterPort = QStringLiteral("-1"); },
        };
        for (auto f : spoil) {
            CommonSettings s = validSettings();
            f(s);
            ConfigImage image;
            QVERIFY(!image.build(s, {}));
        }
    }

    void objectRecord_encodings()
    {
        ObjectRow row;
        row.P1 = QStringLiteral("+380501234567"); // 13: no terminator
        row.P2 = QStringLiteral("12");
        row.Account = QStringLiteral("0B02");
        row.Obj = QStringLiteral("00A1");
        row.TypeId = 300; // low byte 44
        row.Prot = -1;    // low byte FF
        row.WaitTest = 15;
        row.A_F = 77;
        row.Frmt = 88;
        ConfigImage image;
        image.storeObjects({row, ObjectRow{}, row, row});
        const std::uint8_t *rec = image.record(0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(rec), 47),
                 QByteArray("+380501234567", 13) + QByteArray("12", 2) + QByteArray(11, 0) + "0B02" + "00A1"
                     + QByteArray::fromHex("2CFF 84030000 0000000000 0000"));
        // An empty phone 1 is thirteen zero bytes: the record reads as an empty slot.
        QCOMPARE(bytesAt(image, 47, 13), QByteArray(13, 0));
        QVERIFY(ConfigImage::isEmptySlot(image.record(1)));
        // Records after the last row are all zero.
        QCOMPARE(bytesAt(image, 4 * 47, 14100 - 4 * 47), QByteArray(14100 - 4 * 47, 0));

        // 899 seconds are 14 whole minutes; bytes 45 and 46 are read back.
        ConfigImage::writeUnsigned(image.record(0) + RecordField::WaitTestSeconds.offset, 4, 899);
        image.record(0)[45] = 5;
        image.record(0)[46] = 6;
        const ObjectRow decoded = ConfigImage::decodeRecord(image.record(0));
        QCOMPARE(decoded.WaitTest, 14);
        QCOMPARE(decoded.TypeId, std::int16_t(44));
        QCOMPARE(decoded.Prot, std::int16_t(255));
        QCOMPARE(decoded.A_F, std::int16_t(5));
        QCOMPARE(decoded.Frmt, std::int16_t(6));
        QCOMPARE(decoded.P1, row.P1);
        QCOMPARE(decoded.Obj, row.Obj);

        // With three rows, records 3..299 are zero (addresses 141..14099).
        image.storeObjects({row, row, row});
        QCOMPARE(bytesAt(image, 141, 14100 - 141), QByteArray(14100 - 141, 0));
    }

    void roundTrip_fullTableAndCommonBlock()
    {
        // The top of each number's range survives too.
        CommonSettings s = validSettings();
        s.gatewayIp = QStringLiteral("255.255.255.254");
        s.serial = QStringLiteral("4294967295");
        s.ownPort = QStringLiteral("65535");
        QList<ObjectRow> rows = sampleRows(kMaxObjects + 1);
        for (int k = 0; k < rows.size(); ++k) {
            rows[k].A_F = std::int16_t(k); // never built
            rows[k].Frmt = std::int16_t(k);
        }
        ConfigImage image;
        QVERIFY(image.build(s, rows));
        // Bytes 45 and 46 stay zero whatever the rows hold.
        for (int k = 0; k < kMaxObjects; ++k) {
            QCOMPARE(image.record(k)[45], std::uint8_t(0));
            QCOMPARE(image.record(k)[46], std::uint8_t(0));
        }
        const QList<ObjectRow> decoded = image.decodeObjects();
        QCOMPARE(decoded.size(), kMaxObjects); // the 301st row has no record
        for (int k = 0; k < kMaxObjects; ++k) {
            ObjectRow expected = rows.at(k);
            expected.A_F = 0;
            expected.Frmt = 0;
            QCOMPARE(decoded.at(k), expected);
        }
        QCOMPARE(image.decodeCommon(), s);

        // A second build from what was decoded gives the same bytes.
        ConfigImage again;
        QVERIFY(again.build(image.decodeCommon(), decoded));
        QCOMPARE(again, image);
    }

    void decode_clampsSelectionsAndKeepsNumbersUnsigned()
    {
        ConfigImage image;
        std::uint8_t *c = image.common();
        c[0] = 7;
        c[1] = 9;
        c[101] = 200;
        ConfigImage::writeUnsigned(c + 14, 4, 0xFFFFFFFF);
        ConfigImage::writeUnsigned(c + 18, 2, 0xFFFF);
        const CommonSettings s = image.decodeCommon();
        QCOMPARE(s.etherProt, 1);
        QCOMPARE(s.dhcp, 1);
        QCOMPARE(s.format, 2);
        QCOMPARE(s.serial, QStringLiteral("4294967295"));
        QCOMPARE(s.masterPort, QStringLiteral("65535"));
        QCOMPARE(s.masterIp, QStringLiteral("0.0.0.0"));
    }
};

QTEST_GUILESS_MAIN(ImageTest)
#include "tst_image.moc"
