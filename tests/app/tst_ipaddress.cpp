#include "model/IpAddress.h"

#include <QTest>

using namespace tarvil;

namespace {

constexpr std::uint32_t octets(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return std::uint32_t(a) | std::uint32_t(b) << 8 | std::uint32_t(c) << 16 | std::uint32_t(d) << 24;
}

} // namespace

class IpAddressTest : public QObject {
    Q_OBJECT
private slots:
    void textToIp_accepts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("value");
        QTest::newRow("192.168.1.221") << "192.168.1.221" << quint32(octets(192, 168, 1, 221));
        QTest::newRow("last part with leading zeros") << "1.2.3.0004" << quint32(octets(1, 2, 3, 4));
        QTest::newRow("last part of many zeros") << "1.2.3.000000000000000000009" << quint32(octets(1, 2, 3, 9));
        QTest::newRow("010 is ten") << "010.0.0.1" << quint32(octets(10, 0, 0, 1));
        QTest::newRow("three-digit first parts") << "001.002.003.4" << quint32(octets(1, 2, 3, 4));
        QTest::newRow("all bits set") << "255.255.255.255" << quint32(0xFFFFFFFFu);
        QTest::newRow("only the last octet") << "0.0.0.1" << quint32(0x01000000u);
        QTest::newRow("only the first octet") << "1.0.0.0" << quint32(1u);
    }
    void textToIp_accepts()
    {
        QFETCH(QString, text);
        QFETCH(quint32, value);
        QCOMPARE(quint32(TextToIp(text)), value);
    }

    void textToIp_rejects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("three numbers") << "1.2.3";
        QTest::newRow("empty part") << "1..2.3";
        QTest::newRow("empty last part") << "1.2.3.";
        QTest::newRow("five numbers") << "1.2.3.4.5";
        QTest::newRow("four digits before a dot") << "0001.2.3.4";
        QTest::newRow("third part 256") << "1.2.256.4";
        QTest::newRow("last part 256") << "255.255.255.256";
        QTest::newRow("first part 256") << "256.1.1.1";
        QTest::newRow("huge last part") << "1.2.3.99999999999999999999";
        QTest::newRow("0.0.0.0 is no address") << "0.0.0.0";
        QTest::newRow("leading dot") << ".1.2.3";
        QTest::newRow("plus sign first") << "+1.2.3.4";
        QTest::newRow("minus sign inside") << "1.-2.3.4";
        QTest::newRow("plus sign last") << "1.2.3.+4";
        QTest::newRow("leading blank") << " 1.2.3.4";
        QTest::newRow("trailing blank") << "1.2.3.4 ";
        QTest::newRow("blank inside a part") << "1. 2.3.4";
        QTest::newRow("hexadecimal prefix") << "0x1.2.3.4";
        QTest::newRow("hexadecimal last part") << "1.2.3.0x4";
        QTest::newRow("letters after the number") << "1.2.3.4a";
        QTest::newRow("comma for a dot") << "1,2.3.4";
        QTest::newRow("non-ASCII digit") << QStringLiteral("1.2.3.\u0664");
        QTest::newRow("full-width digit") << QStringLiteral("\uFF11.2.3.4");
    }
    void textToIp_rejects()
    {
        QFETCH(QString, text);
        QCOMPARE(TextToIp(text), std::uint32_t(0));
    }

    void ipToText_edges()
    {
        QCOMPARE(IpToText(0), QStringLiteral("0.0.0.0"));
        QCOMPARE(IpToText(0xFFFFFFFFu), QStringLiteral("255.255.255.255"));
        QCOMPARE(IpToText(octets(1, 2, 3, 4)), QStringLiteral("1.2.3.4"));
        QCOMPARE(IpToText(octets(192, 168, 1, 221)), QStringLiteral("192.168.1.221"));
        QCOMPARE(IpToText(octets(10, 0, 100, 9)), QStringLiteral("10.0.100.9"));
    }

    // Every value that is an address comes back from its text unchanged.
    void roundTrip_everyOctetPattern()
    {
        const unsigned samples[] = {0, 1, 9, 10, 99, 100, 199, 200, 254, 255};
        for (unsigned a : samples)
            for (unsigned b : samples)
                for (unsigned c : samples)
                    for (unsigned d : samples) {
                        const std::uint32_t value = octets(a, b, c, d);
                        const QString text = IpToText(value);
                        QVERIFY(text.size() >= 7 && text.size() <= 15);
                        QCOMPARE(TextToIp(text), value); // 0 gives "0.0.0.0", rejected as 0
                    }
    }
};

QTEST_GUILESS_MAIN(IpAddressTest)
#include "tst_ipaddress.moc"
