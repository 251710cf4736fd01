#include "SampleImage.h"

#include "SimProtocol.h"

#include "model/ConfigImage.h"

namespace tarvil::sim {

QByteArray imageBytes(const ConfigImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), kImageBytes);
}

QByteArray sampleImage()
{
    CommonSettings s;
    s.etherProt = 0;
    s.dhcp = 0;
    s.masterIp = QStringLiteral("192.168.1.10");
    s.ownIp = QStringLiteral("192.168.1.221");
    s.gatewayIp = QStringLiteral("192.168.1.1");
    s.serial = QStringLiteral("12345");
    s.masterPort = QStringLiteral("5000");
    s.ownPort = QStringLiteral("9999");
    s.apn = QStringLiteral("internet");
    s.baud = QStringLiteral("115200");
    s.periodHB = 60;
    s.format = 1;

    auto row = [](const char *obj, const char *account, int type, int prot, const char *p1, const char *p2, int minutes) {
        ObjectRow r;
        r.Obj = QString::fromLatin1(obj);
        r.Account = QString::fromLatin1(account);
        r.TypeId = std::int16_t(type);
        r.Prot = std::int16_t(prot);
        r.P1 = QString::fromLatin1(p1);
        r.P2 = QString::fromLatin1(p2);
        r.WaitTest = minutes;
        return r;
    };
    const QList<ObjectRow> rows{
        row("0001", "1001", 1, 1, "+79001234501", "", 15),
        row("0002", "1002", 3, 2, "+79001234502", "+79001234512", 30),
        row("0010", "2010", 6, 4, "84951234567", "", 60),
        row("0042", "4242", 8, 6, "+79001234542", "+79001234543", 120),
        row("0100", "0100", 9, 7, "2223344", "2223345", 1440),
    };

    ConfigImage image;
    image.build(s, rows);
    QByteArray bytes = imageBytes(image);
    // Bytes a build leaves alone: the transceiver's own values.
    bytes[kCommonOffset + 94] = char(0x01);
    bytes[kCommonOffset + 95] = char(0x1F);
    bytes[kCommonOffset + 96] = char(0x0D);
    const int af[] = {0, 1, 2, 3, 0};
    const int frmt[] = {0, 0, 1, 2, 1};
    for (int k = 0; k < 5; ++k) {
        bytes[k * kRecordBytes + 45] = char(af[k]);
        bytes[k * kRecordBytes + 46] = char(frmt[k]);
    }
    return bytes;
}

} // namespace tarvil::sim
