#include "link/Packets.h"
#include "model/ConfigImage.h"

#include <QTest>

using namespace tarvil;

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
};

QTEST_GUILESS_MAIN(ImageTest)
#include "tst_image.moc"
