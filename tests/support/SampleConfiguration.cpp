#include "SampleConfiguration.h"

namespace tarvil::test {

CommonSettings validSettings()
{
    CommonSettings s;
    s.etherProt = 1;
    s.dhcp = 0;
    s.masterIp = QStringLiteral("192.168.1.10");
    s.ownIp = QStringLiteral("192.168.1.221");
    s.gatewayIp = QStringLiteral("192.168.1.1");
    s.serial = QStringLiteral("12345");
    s.masterPort = QStringLiteral("10001");
    s.ownPort = QStringLiteral("8888");
    s.apn = QStringLiteral("internet.provider");
    s.baud = QStringLiteral("115200");
    s.periodHB = 3600;
    s.format = 2;
    return s;
}

QList<ObjectRow> sampleRows(int count)
{
    QList<ObjectRow> rows;
    for (int i = 0; i < count; ++i) {
        ObjectRow r;
        r.Obj = QStringLiteral("%1").arg(count - i, 4, 16, QLatin1Char('0')).toUpper();
        r.Account = QStringLiteral("%1").arg(i, 4, 16, QLatin1Char('0')).toUpper();
        r.P1 = QStringLiteral("+7%1").arg(9100000000LL + i);
        r.P2 = i % 3 ? QStringLiteral("%1").arg(80000 + i) : QString();
        r.TypeId = std::int16_t(i % 256);
        r.Prot = std::int16_t((i * 7) % 256);
        r.WaitTest = 1 + i * 1000;
        rows << r;
    }
    return rows;
}

ObjectRow objectRow(const char *obj, const char *account, const char *p1, const char *p2, int minutes, int type,
                    int prot)
{
    ObjectRow r;
    r.Obj = QString::fromLatin1(obj);
    r.Account = QString::fromLatin1(account);
    r.P1 = QString::fromLatin1(p1);
    r.P2 = QString::fromLatin1(p2);
    r.WaitTest = minutes;
    r.TypeId = std::int16_t(type);
    r.Prot = std::int16_t(prot);
    return r;
}

} // namespace tarvil::test
