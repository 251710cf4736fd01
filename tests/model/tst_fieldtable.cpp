// The field table: every bound field survives its codec, and the write checks
// every field whose value can be refused.
#include "support/SampleConfiguration.h"

#include "model/ConfigImage.h"
#include "model/WriteChecks.h"

#include <QSet>
#include <QTest>

#include <array>

using namespace tarvil;

namespace {

// The sample at the ends of the ranges, and with letters beyond ASCII.
CommonSettings awayFromStart()
{
    CommonSettings s = test::validSettings();
    s.serial = QStringLiteral("4294967295");
    s.masterPort = QStringLiteral("65535");
    s.ownPort = QStringLiteral("1");
    s.apn = QStringLiteral("точка.доступа");
    return s;
}

ObjectRow sample()
{
    ObjectRow r = test::sampleRows(2).last(); // the first row has no phone 2
    r.P1 = QStringLiteral("+380501234567");   // all 13 bytes
    r.TypeId = 255;
    r.WaitTest = 71582788; // the most seconds 32 bits hold, in minutes
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
