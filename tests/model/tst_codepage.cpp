// Code page 1251: the tool's own table, and Qt's ICU converter as the witness.
#include "model/Codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

using namespace tarvil;

namespace {

QByteArray oneByte(int b) { return QByteArray(1, char(b)); }

QString units(const QString &text)
{
    QStringList out;
    for (QChar c : text)
        out << QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return out.join(QLatin1Char(' '));
}

} // namespace

class CodepageTest : public QObject {
    Q_OBJECT
private slots:
    // Every byte, both ways, against ICU where Qt has it.
    void table_matchesIcuForEveryByte()
    {
        QStringDecoder probe("windows-1251");
        if (!probe.isValid())
            QSKIP("Qt is built without ICU: there is no converter to compare with");
        for (int b = 1; b < 256; ++b) {
            QStringDecoder icuDecoder("windows-1251");
            const QString icu = icuDecoder.decode(oneByte(b));
            QVERIFY(!icuDecoder.hasError());
            const QString ours = cp1251::decode(oneByte(b));
            QVERIFY2(ours == icu, qPrintable(QStringLiteral("byte %1: %2, ICU %3")
                                                 .arg(b, 2, 16).arg(units(ours), units(icu))));
            QCOMPARE(cp1251::encode(icu), oneByte(b));
            QStringEncoder icuEncoder("windows-1251");
            QCOMPARE(QByteArray(icuEncoder.encode(ours)), oneByte(b));
            QVERIFY(!icuEncoder.hasError());
        }
    }

    // Without ICU as well: 255 distinct characters, each back to its byte.
    void everyByte_roundTrips()
    {
        QByteArray all;
        for (int b = 1; b < 256; ++b)
            all.append(char(b));
        const QString text = cp1251::decode(all);
        QCOMPARE(text.size(), 255);
        QCOMPARE(cp1251::encode(text), all);
        QCOMPARE(cp1251::decode(oneByte(0x98)), QString(QChar(0x0098)));
    }

    void knownTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("alphabet ends") << QStringLiteral("АЯаяЁё") << QByteArray::fromHex("C0DFE0FFA8B8");
        QTest::newRow("panel type") << QStringLiteral("Охранный ППК-4") << QByteArray::fromHex("CEF5F0E0EDEDFBE920CFCFCA2D34");
        QTest::newRow("signs") << QStringLiteral("№ € «»—") << QByteArray::fromHex("B9208820ABBB97");
        QTest::newRow("Ukrainian and Serbian letters") << QStringLiteral("ҐґЄєІіЇїЂђЋћ") << QByteArray::fromHex("A5B4AABAB2B3AFBF80908E9E");
    }
    void knownTexts()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp1251::encode(text), bytes);
        QCOMPARE(cp1251::decode(bytes), text);
    }

    void missingCharacters_becomeOneQuestionMarkEach_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("Latin letter with accent") << QStringLiteral("Жé Я") << QByteArray::fromHex("C63F20DF");
        QTest::newRow("C1 control other than 0x98") << QString(QChar(0x0080)) + QStringLiteral("Ж") << QByteArray("?\xC6");
        QTest::newRow("beyond the basic plane is one character")
            << QStringLiteral("a") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("b") << QByteArray("a?b");
        QTest::newRow("lone high surrogate keeps the next letter")
            << QStringLiteral("a") + QChar(0xD800) + QStringLiteral("Яb") << QByteArray("a?\xDF" "b");
        QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) + QStringLiteral("1") << QByteArray("?1");
        QTest::newRow("replacement character") << QString(QChar(0xFFFD)) << QByteArray("?");
    }
    void missingCharacters_becomeOneQuestionMarkEach()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp1251::encode(text), bytes);
    }

    void decode_stopsAtTheFirstZeroByte()
    {
        QCOMPARE(cp1251::decode(QByteArray("Ab\0\xC0", 4)), QStringLiteral("Ab"));
        QCOMPARE(cp1251::decode(QByteArray(8, '\0')), QString());
        QCOMPARE(cp1251::decode(nullptr, 5), QString());
    }
};

QTEST_GUILESS_MAIN(CodepageTest)
#include "tst_codepage.moc"
