#include "model/ConfigImage.h"
#include "model/ObjectRules.h"
#include "model/ObjectTable.h"
#include "model/PanelTypeCatalogue.h"

#include <QLocale>
#include <QScopeGuard>
#include <QTest>

#include <cstring>

using namespace tarvil;

namespace {

// Records what the table shows and answers its boxes from a queue (OK when
// the queue is empty).
class RecordingUi : public ObjectTableUi {
public:
    QList<UserMessage> messages;
    QList<ObjectField> focus;
    QString countText;
    QList<MsgAnswer> answers;

    MsgAnswer showMessage(const UserMessage &message) override
    {
        messages.append(message);
        return answers.isEmpty() ? MsgAnswer::Ok : answers.takeFirst();
    }
    void focusField(ObjectField field) override { focus.append(field); }
    void showObjectCount(const QString &text) override { countText = text; }
};

struct Fixture {
    PanelTypeCatalogue catalogue;
    RecordingUi ui;
    ObjectTable table{catalogue, ui};

    explicit Fixture(const QByteArray &types = "1;Type A;11;21\r\n2; Type B ;12;22\r\n3;Type C;13;23")
    {
        catalogue.loadFromBytes(types);
    }

    void fill(const QString &obj, const QString &account, const QString &p1 = QStringLiteral("+380001"),
              const QString &p2 = {}, const QString &wait = {})
    {
        table.setFieldText(ObjectField::Obj, obj);
        table.setFieldText(ObjectField::Account, account);
        table.setFieldText(ObjectField::P1, p1);
        table.setFieldText(ObjectField::P2, p2);
        table.setFieldText(ObjectField::WaitTest, wait);
    }

    ObjectTable::PostResult add(const QString &obj, const QString &account = QStringLiteral("0001"),
                                const QString &wait = {})
    {
        table.insert();
        fill(obj, account, QStringLiteral("+380001"), {}, wait);
        return table.post();
    }

    QStringList objs() const
    {
        QStringList out;
        for (const ObjectRow &row : table.rows())
            out.append(row.Obj);
        return out;
    }
};

void putRecord(ConfigImage &image, int record, const QByteArray &p1, const QByteArray &obj, int typeId, int prot,
               int af, std::uint32_t seconds)
{
    std::uint8_t *rec = image.record(record);
    std::memcpy(rec + RecordField::Phone1.offset, p1.constData(), size_t(p1.size()));
    std::memcpy(rec + RecordField::Obj.offset, obj.constData(), size_t(obj.size()));
    std::memcpy(rec + RecordField::Account.offset, "ACC1", 4);
    rec[RecordField::TypeId.offset] = std::uint8_t(typeId);
    rec[RecordField::Prot.offset] = std::uint8_t(prot);
    rec[RecordField::AF.offset] = std::uint8_t(af);
    rec[RecordField::Frmt.offset] = 9;
    ConfigImage::writeUnsigned(rec + RecordField::WaitTestSeconds.offset, 4, seconds);
}

} // namespace

class ObjectTableTest : public QObject {
    Q_OBJECT
private slots:
    void store_copiesTrimmedCurrentTypeAndShowsCount()
    {
        Fixture f;
        f.table.insert();
        QCOMPARE(f.table.mode(), TableMode::Insert);
        f.catalogue.next(); // " Type B "
        f.fill(QStringLiteral("00A1"), QStringLiteral("0B02"), QStringLiteral("+380501234567"),
               QStringLiteral("0441234567"), QStringLiteral("15"));
        QCOMPARE(f.table.post(), ObjectTable::PostResult::Stored);
        QVERIFY(f.ui.messages.isEmpty());
        const ObjectRow row = f.table.at(0);
        QCOMPARE(row.Obj, QStringLiteral("00A1"));
        QCOMPARE(row.Account, QStringLiteral("0B02"));
        QCOMPARE(row.P1, QStringLiteral("+380501234567"));
        QCOMPARE(row.P2, QStringLiteral("0441234567"));
        QCOMPARE(row.WaitTest, 15);
        QCOMPARE(row.TypeId, std::int16_t(2));
        QCOMPARE(row.N_PPK, QStringLiteral("Type B"));
        QCOMPARE(row.Prot, std::int16_t(12));
        QCOMPARE(row.A_F, std::int16_t(22));
        QCOMPARE(f.ui.countText, QStringLiteral("Количество объектов 1"));
        QCOMPARE(f.table.mode(), TableMode::Browse);
    }

    void store_emptyCatalogueGivesZeroType()
    {
        Fixture f("");
        QCOMPARE(f.add(QStringLiteral("0001")), ObjectTable::PostResult::Stored);
        const ObjectRow row = f.table.at(0);
        QCOMPARE(row.TypeId, std::int16_t(0));
        QCOMPARE(row.N_PPK, QString());
        QCOMPARE(row.Prot, std::int16_t(0));
        QCOMPARE(row.A_F, std::int16_t(0));
        QVERIFY(!f.catalogue.hasCurrent());
    }

    void textsAreCutToFieldWidths()
    {
        Fixture f;
        f.table.insert();
        f.fill(QStringLiteral("00012"), QStringLiteral("ABCDE"), QStringLiteral("+3805012345678999"),
               QStringLiteral("12345678901234"));
        QCOMPARE(f.table.fieldText(ObjectField::Obj), QStringLiteral("0001"));
        f.table.post();
        QCOMPARE(f.table.at(0).Account, QStringLiteral("ABCD"));
        QCOMPARE(f.table.at(0).P1, QStringLiteral("+380501234567"));
        QCOMPARE(f.table.at(0).P2, QStringLiteral("1234567890123"));
    }

    void refusedObjectNumber_data()
    {
        QTest::addColumn<QString>("obj");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("focus");
        QTest::newRow("object 12A") << "12A" << "0001" << "Не опрелен номер объекта!" << int(ObjectField::Obj);
        QTest::newRow("both empty: object first") << "" << "" << "Не опрелен номер объекта!" << int(ObjectField::Obj);
        QTest::newRow("panel 01") << "0001" << "01" << "Не опрелен номер ППК!" << int(ObjectField::Account);
    }
    void refusedObjectNumber()
    {
        QFETCH(QString, obj);
        QFETCH(QString, account);
        QFETCH(QString, text);
        QFETCH(int, focus);
        Fixture f;
        f.add(QStringLiteral("0005"));
        const QList<ObjectRow> before = f.table.rows();
        f.ui.focus.clear();

        // A refused insertion leaves the table as it was.
        QCOMPARE(f.add(obj, account), ObjectTable::PostResult::Discarded);
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.ui.messages.at(0),
                 (UserMessage{text, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false}));
        QCOMPARE(f.ui.focus.last(), ObjectField(focus));
        QCOMPARE(f.table.mode(), TableMode::Browse);
        QCOMPARE(f.table.rows(), before);

        // So does a refused edit: the old values stay.
        f.ui.messages.clear();
        f.table.edit();
        f.table.setFieldText(ObjectField::P1, QStringLiteral("777"));
        f.table.setFieldText(ObjectField::Obj, obj);
        f.table.setFieldText(ObjectField::Account, account);
        QCOMPARE(f.table.post(), ObjectTable::PostResult::Discarded);
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.table.rows(), before);
    }

    void waitTest_boundsAndRefusal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minutes"); // -1: refused
        QTest::newRow("empty reads as 0") << "" << 0;
        QTest::newRow("largest that fits") << "71582788" << 71582788;
        QTest::newRow("leading zeros") << "0000000000000000000000015" << 15;
        QTest::newRow("seconds beyond 32 bits") << "71582789" << -1;
        QTest::newRow("beyond signed 32 bits") << "2147483648" << -1;
        QTest::newRow("not a number") << "1a" << -1;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("blank") << " 5" << -1;
    }
    void waitTest_boundsAndRefusal()
    {
        QFETCH(QString, text);
        QFETCH(int, minutes);
        Fixture f;
        f.table.insert();
        f.fill(QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("+1"), {}, text);
        const ObjectTable::PostResult result = f.table.post();
        if (minutes >= 0) {
            QCOMPARE(result, ObjectTable::PostResult::Stored);
            QCOMPARE(f.table.at(0).WaitTest, minutes);
            return;
        }
        QCOMPARE(result, ObjectTable::PostResult::Kept);
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.ui.messages.at(0),
                 (UserMessage{QStringLiteral("Недопустимое значение поля \"Тест, мин.\""), QStringLiteral("Ошибка"),
                              MsgIcon::Error, MsgButtons::Ok, false}));
        QCOMPARE(f.ui.focus.last(), ObjectField::WaitTest);
        // Nothing stored, everything still pending for the user to correct.
        QCOMPARE(f.table.count(), 0);
        QCOMPARE(f.table.mode(), TableMode::Insert);
        QCOMPARE(f.table.fieldText(ObjectField::Obj), QStringLiteral("0001"));
        QCOMPARE(f.table.fieldText(ObjectField::WaitTest), text);
        f.table.setFieldText(ObjectField::WaitTest, QStringLiteral("60"));
        QCOMPARE(f.table.post(), ObjectTable::PostResult::Stored);
        QCOMPARE(f.table.at(0).WaitTest, 60);
    }

    void waitTestRefused_blocksTheMove()
    {
        Fixture f;
        f.add(QStringLiteral("0001"));
        f.add(QStringLiteral("0002"));
        f.table.first();
        f.table.edit();
        f.table.setFieldText(ObjectField::WaitTest, QStringLiteral("99999999999"));
        QVERIFY(!f.table.next());
        QCOMPARE(f.table.mode(), TableMode::Edit);
        QCOMPARE(f.table.current(), 0);
        QCOMPARE(f.table.at(0).WaitTest, 0);
    }

    void sort_caseInsensitiveStableCurrentFollows_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << "C";
        QTest::newRow("ru_RU") << "ru_RU";
        QTest::newRow("en_US") << "en_US";
    }
    void sort_caseInsensitiveStableCurrentFollows()
    {
        QFETCH(QString, locale);
        const QLocale previous;
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });
        Fixture f;
        f.add(QStringLiteral("00B0"));
        QCOMPARE(f.table.current(), 0);
        f.add(QStringLiteral("0010"));
        QCOMPARE(f.table.current(), 0);
        f.add(QStringLiteral("00A0"));
        QCOMPARE(f.objs(), (QStringList{"0010", "00A0", "00B0"}));
        QCOMPARE(f.table.current(), 1); // the row just stored
        QCOMPARE(f.table.fieldText(ObjectField::Obj), QStringLiteral("00A0"));

        // Row 0010 fills record 0 of the next build.
        ConfigImage image;
        image.storeObjects(f.table.rows());
        QCOMPARE(ConfigImage::readText(image.record(0) + RecordField::Obj.offset, 4), QStringLiteral("0010"));

        // Letter case is ignored (a rebuilt row may hold small letters).
        f.add(QStringLiteral("00a5"));
        QCOMPARE(f.objs(), (QStringList{"0010", "00A0", "00a5", "00B0"}));

        // An edit that changes the number moves the row; it stays current.
        f.table.first();
        f.table.edit();
        f.table.setFieldText(ObjectField::Obj, QStringLiteral("00FF"));
        f.table.post();
        QCOMPARE(f.objs(), (QStringList{"00A0", "00a5", "00B0", "00FF"}));
        QCOMPARE(f.table.current(), 3);
    }

    void duplicates_keepCreationOrder()
    {
        Fixture f;
        f.add(QStringLiteral("0001"), QStringLiteral("AAAA"));
        f.add(QStringLiteral("0002"), QStringLiteral("CCCC"));
        // Inserted in front of the first 0001, yet created after it.
        f.table.first();
        f.add(QStringLiteral("0001"), QStringLiteral("BBBB"));
        QCOMPARE(f.table.count(), 3);
        QCOMPARE(f.table.at(0).Account, QStringLiteral("AAAA"));
        QCOMPARE(f.table.at(1).Account, QStringLiteral("BBBB"));
        QCOMPARE(f.table.current(), 1);
    }

    void limit_300thAcceptedThenRefused()
    {
        Fixture f;
        ConfigImage image;
        for (int k = 0; k < 299; ++k)
            putRecord(image, k, "1", QByteArray::number(k + 0x1000, 16).toUpper(), 1, 1, 0, 0);
        f.table.RebuildObjectTable(image);
        QCOMPARE(f.table.count(), 299);
        QCOMPARE(f.add(QStringLiteral("FFFF")), ObjectTable::PostResult::Stored);
        QCOMPARE(f.table.count(), 300);
        QVERIFY(f.ui.messages.isEmpty());

        f.ui.focus.clear();
        QCOMPARE(f.add(QStringLiteral("FFFE")), ObjectTable::PostResult::Discarded);
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.ui.messages.at(0), limitMessage());
        QVERIFY(f.ui.messages.at(0).topmost);
        QCOMPARE(f.ui.messages.at(0).text, QStringLiteral("Превышено максимально-допустимое число объектов"));
        QCOMPARE(f.table.mode(), TableMode::Browse);
        QCOMPARE(f.table.viewRowCount(), 300);
        QVERIFY(f.ui.focus.isEmpty());
    }

    void settleBeforeMove()
    {
        Fixture f;
        f.add(QStringLiteral("0001"));
        f.add(QStringLiteral("0003"));
        f.table.first();

        // Unchanged insertion: cancelled without a word.
        f.table.insert();
        QVERIFY(f.table.next());
        QVERIFY(f.ui.messages.isEmpty());
        QCOMPARE(f.table.count(), 2);
        QCOMPARE(f.table.current(), 1);

        // Changed insertion: stored with its checks, then the move.
        f.table.first();
        f.table.insert();
        f.fill(QStringLiteral("0002"), QStringLiteral("0002"));
        QVERIFY(f.table.next());
        QCOMPARE(f.objs(), (QStringList{"0001", "0002", "0003"}));
        QCOMPARE(f.table.current(), 2); // one on from the stored row

        // Changed but refused: discarded, and the move still happens.
        f.table.insert();
        f.table.setFieldText(ObjectField::Obj, QStringLiteral("9"));
        QVERIFY(f.table.first());
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.table.count(), 3);
        QCOMPARE(f.table.current(), 0);

        // A click on a grid row follows the row, though the stored one moves.
        f.table.insert(); // pending at view row 0
        f.fill(QStringLiteral("0004"), QStringLiteral("0004"));
        QVERIFY(f.table.moveToViewRow(2)); // shows stored row 1, "0002"
        QCOMPARE(f.table.fieldText(ObjectField::Obj), QStringLiteral("0002"));
        QCOMPARE(f.objs(), (QStringList{"0001", "0002", "0003", "0004"}));
    }

    void typingIntoEmptyTable_startsInsertion()
    {
        Fixture f;
        f.table.typeField(ObjectField::Account, QStringLiteral("1"));
        QCOMPARE(f.table.mode(), TableMode::Insert);
        QCOMPARE(f.table.viewRowCount(), 1);
        QCOMPARE(f.table.fieldText(ObjectField::Account), QStringLiteral("1"));
        QCOMPARE(f.table.count(), 0);
    }

    void rebuild_fromImage()
    {
        Fixture f("5;Type C;1;0\r\n7;Type D;2;1");
        ConfigImage image;
        putRecord(image, 0, "111", "00C0", 5, 40, 41, 899);
        putRecord(image, 1, "", "0000", 5, 1, 1, 60); // starts with a zero byte: empty slot
        putRecord(image, 2, "222", "12", 200, 7, 8, 0xFFFFFFFF);
        putRecord(image, 3, "333", "00a0", 7, 3, 4, 60);
        f.add(QStringLiteral("0009"));
        f.table.insert(); // a pending row goes too
        f.table.RebuildObjectTable(image);
        QCOMPARE(f.table.mode(), TableMode::Browse);
        QCOMPARE(f.table.count(), 3);
        // In Obj order, checks suspended: "12" is kept as the image holds it.
        QCOMPARE(f.objs(), (QStringList{"00a0", "00C0", "12"}));
        const ObjectRow c0 = f.table.at(1);
        QCOMPARE(c0.P1, QStringLiteral("111"));
        QCOMPARE(c0.Account, QStringLiteral("ACC1"));
        QCOMPARE(c0.WaitTest, 14); // 899 s
        QCOMPARE(c0.TypeId, std::int16_t(5));
        QCOMPARE(c0.N_PPK, QStringLiteral("Type C"));
        QCOMPARE(c0.Prot, std::int16_t(40)); // from the image, not the catalogue
        QCOMPARE(c0.A_F, std::int16_t(41));
        QCOMPARE(c0.Frmt, std::int16_t(9));
        QCOMPARE(f.table.at(2).N_PPK, QStringLiteral("Тип ППК не определен"));
        QCOMPARE(f.table.at(2).WaitTest, 71582788);
        QCOMPARE(f.ui.countText, QStringLiteral("Количество объектов 3"));
        QVERIFY(f.ui.messages.isEmpty());
        // The row of the last record in use is current.
        QCOMPARE(f.table.current(), 0);
        // The checks are back in force.
        QCOMPARE(f.add(QStringLiteral("12")), ObjectTable::PostResult::Discarded);
    }

    void deleteCurrent_keepsTheNextRowCurrent()
    {
        Fixture f;
        f.add(QStringLiteral("0001"));
        f.add(QStringLiteral("0002"));
        f.table.first();
        QVERIFY(f.table.deleteCurrent());
        QCOMPARE(f.objs(), QStringList{"0002"});
        QCOMPARE(f.table.current(), 0);
        QVERIFY(f.table.deleteCurrent());
        QCOMPARE(f.table.current(), -1);
        QVERIFY(!f.table.deleteCurrent()); // nothing left to delete
        // A pending insertion is cancelled, not stored.
        f.table.insert();
        f.fill(QStringLiteral("0003"), QStringLiteral("0003"));
        QVERIFY(f.table.deleteCurrent());
        QCOMPARE(f.table.count(), 0);
        QCOMPARE(f.table.mode(), TableMode::Browse);
    }
};

QTEST_GUILESS_MAIN(ObjectTableTest)
#include "tst_objecttable.moc"
