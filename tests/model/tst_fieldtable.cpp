// The field table: every bound field survives its codec, and the write checks
// every field whose value can be refused.
#include "model/ConfigImage.h"
#include "model/WriteChecks.h"

#include <QSet>
#include <QTest>

#include <array>

using namespace tarvil;

namespace {

CommonSettings awayFromStart()
{
    CommonSettings s;
    s.etherProt = 1;
    s.dhcp = 0;
    s.masterIp = QStringLiteral("192.168.1.221");
    s.ownIp = QStringLiteral("10.0.0.2");
    s.gatewayIp = QStringLiteral("10.0.0.1");
    s.serial = QStringLiteral("4294967295");
    s.masterPort = QStringLiteral("65535");
    s.ownPort = QStringLiteral("1");
    s.apn = QStringLiteral("точка.доступа");
    s.baud = QStringLiteral("115200");
    s.periodHB = 3600;
    s.format = 2;
    return s;
}

ObjectRow sample()
{
    ObjectRow r;
    r.Obj = QStringLiteral("0A1F");
    r.Account = QStringLiteral("FFFF");
    r.P1 = QStringLiteral("+380501234567");
    r.P2 = QStringLiteral("1");
    r.TypeId = 255;
    r.Prot = 7;
    r.WaitTest = 71582788;
    return r;
}

} // namespace

class FieldTableTest : public QObject {
    Q_OBJECT
private slots:
    void everyBoundField_survivesItsCodec()
    {
        const CommonSettings s = awayFromStart();
        for (const Field &f : kCommonFields) {
            std::array<std::uint8_t, 64> bytes{};
            QVERIFY2(encodeField(f, s, bytes.data()), f.key.data());
            CommonSettings back = CommonSettings{};
            decodeField(f, bytes.data(), back);
            QCOMPARE(fieldText(f, back), fieldText(f, s));
        }
        const ObjectRow row = sample();
        for (const Field &f : kRecordFields) {
            std::array<std::uint8_t, 64> bytes{};
            QVERIFY(encodeField(f, row, bytes.data()));
            ObjectRow back;
            decodeField(f, bytes.data(), back);
            QCOMPARE(fieldText(f, back), fieldText(f, row));
        }
        // The build leaves A_F and the object's format zero, whatever the row holds.
        ObjectRow filled = row;
        filled.A_F = 5;
        filled.Frmt = 6;
        std::array<std::uint8_t, 1> byte{0xFF};
        QVERIFY(encodeField(RecordField::AF, filled, byte.data()));
        QCOMPARE(byte[0], std::uint8_t(0));
    }

    // A field whose value can fail to convert is one the write checks, so a
    // build after the checks never fails half-way.
    void theWriteChecksEveryFieldThatCanBeRefused()
    {
        QSet<const Field *> checked;
        for (const WriteCheck &c : writeChecks())
            checked.insert(&c.field);
        QCOMPARE(checked.size(), 7);
        for (const Field &f : kCommonFields) {
            for (const QString &bad : {QString(), QStringLiteral("x"), QStringLiteral("4294967296")}) {
                CommonSettings s = awayFromStart();
                if (const auto *text = std::get_if<QString CommonSettings::*>(&f.common))
                    s.*(*text) = bad;
                std::array<std::uint8_t, 64> bytes{};
                if (!encodeField(f, s, bytes.data()))
                    QVERIFY2(checked.contains(&f), f.key.data());
            }
        }
        CommonSettings s = awayFromStart();
        QCOMPARE(firstRefusedCheck(s), nullptr);
        s.apn.clear();
        s.ownIp = QStringLiteral("1.2.3");
        QCOMPARE(firstRefusedCheck(s)->text, QStringLiteral("Не определен локальный IP - адрес"));
    }
};

QTEST_GUILESS_MAIN(FieldTableTest)
#include "tst_fieldtable.moc"
