// The objects' workbook: what an export holds, what comes back from workbooks
// Calc saved, and what the reader refuses of a hostile one.
#include "support/SampleConfiguration.h"
#include "support/ZipBuilder.h"

#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"
#include "files/Workbook.h"

#include <QRegularExpression>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

// The objects tests/data/xlsx/ was made from, in the table's order: what a
// spreadsheet guesses wrong in every column.
const QList<ObjectRow> kFixtureRows{
    objectRow("0009", "0010", "+380501234567", "+7", 60, 0, 1),
    objectRow("000A", "1E05", "89001234567", "112", 71582788, 255, 255),
    objectRow("0100", "0001", "+75326948469", "+74950000000", 15, 3, 2),
    objectRow("1E05", "00A0", "+79001234567", "", 0, 77, 0),
};

QByteArray fixture(const char *name)
{
    QFile f(qEnvironmentVariable("TARVIL_TEST_DATA") + QStringLiteral("/../tests/data/xlsx/")
            + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("no fixture %s", qPrintable(f.fileName()));
    return f.readAll();
}

QString problemsText(const QList<SheetProblem> &problems)
{
    QStringList lines;
    for (const SheetProblem &p : problems)
        lines << QStringLiteral("%1|%2|%3%4").arg(p.line).arg(p.column, p.spreadsheet ? QStringLiteral("(таблица) ") : QString(),
                                                          p.reason);
    return lines.join(QLatin1Char('\n'));
}

QByteArray part(const QByteArray &zip, const char *name)
{
    QString error;
    const auto bytes = workbook::part(zip, QString::fromLatin1(name), &error);
    if (!bytes)
        qFatal("%s", qPrintable(error));
    return *bytes;
}

const QByteArray kHeaderRow = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Объект</t></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>ППК</t></is></c><c r=\"C1\" t=\"inlineStr\"><is><t>Телефон 1</t></is></c><c r=\"D1\" t=\"inlineStr\"><is><t>Телефон 2</t></is></c><c r=\"E1\" t=\"inlineStr\"><is><t>Тест, мин.</t></is></c><c r=\"F1\" t=\"inlineStr\"><is><t>Код типа</t></is></c><c r=\"G1\" t=\"inlineStr\"><is><t>Протокол</t></is></c><c r=\"H1\" t=\"inlineStr\"><is><t>Тип ППК</t></is></c></row>";

QByteArray workbookOf(const QByteArray &rows, const QByteArray &shared = {})
{
    return zipArchive(workbookParts(sheetXml(kHeaderRow + rows), shared));
}

} // namespace

class ObjectXlsxTest : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_keepsEveryCharacter_andMatchesTheCsv()
    {
        ObjectRow named = objectRow("00B0", "0B02", "+7", "", 5, 300, -1);
        named.N_PPK = QStringLiteral("Тип \"А\"; новый");
        QList<ObjectRow> rows = kFixtureRows;
        rows << named;
        QString error;
        const auto workbook = objectsToXlsx(rows, &error);
        QVERIFY2(workbook, qPrintable(error));
        // Read back into the configuration it came from: nothing looks changed.
        const SheetObjects back = objectsFromXlsx(*workbook, &rows);
        QVERIFY2(back.ok(), qPrintable(problemsText(back.problems)));
        QCOMPARE(back.rows, objectsFromCsv(objectsToCsv(rows)).rows);
        QCOMPARE(back.rows.mid(0, 4), kFixtureRows);
        QCOMPARE(back.rows.at(4).TypeId, std::int16_t(44)); // the record's byte
        QCOMPARE(back.rows.at(4).Prot, std::int16_t(255));
        QVERIFY(back.rows.at(4).N_PPK.isEmpty()); // written for people, not read back

        QVERIFY2(objectsToXlsx({}, &error), qPrintable(error));
        const SheetObjects empty = objectsFromXlsx(*objectsToXlsx({}, &error));
        QVERIFY(empty.ok() && empty.rows.isEmpty());
    }

    void export_layout_keepsTextAsText()
    {
        QString error;
        const QByteArray zip = *objectsToXlsx(kFixtureRows, &error);
        QCOMPARE(readWorkbookSheet(zip, QString()).name, QStringLiteral("Объекты"));
        const QString sheet = QString::fromUtf8(part(zip, "xl/worksheets/sheet1.xml"));
        const QString styles = QString::fromUtf8(part(zip, "xl/styles.xml"));
        // The header frozen.
        QVERIFY(sheet.contains(QRegularExpression(QStringLiteral("<pane ySplit=\"1\"[^>]*state=\"frozen\""))));
        // The style of text ("@" is the built-in format 49), and the bold header's.
        const QRegularExpression xf(QStringLiteral("<xf ([^>]*)>|<xf ([^>]*)/>"));
        const QString cellXfs = styles.section(QStringLiteral("<cellXfs"), 1).section(QStringLiteral("</cellXfs>"), 0, 0);
        QStringList xfs;
        for (auto it = xf.globalMatch(cellXfs); it.hasNext();) {
            const auto m = it.next();
            xfs << m.captured(0);
        }
        int textStyle = -1;
        for (int i = 0; i < xfs.size(); ++i) {
            if (xfs.at(i).contains(QStringLiteral("numFmtId=\"49\"")))
                textStyle = i;
        }
        QVERIFY(textStyle > 0);
        const auto styleOf = [&](const QString &cell) {
            const auto m = QRegularExpression(QStringLiteral("<c r=\"%1\"[^>]* s=\"(\\d+)\"").arg(cell)).match(sheet);
            return m.hasMatch() ? m.captured(1).toInt() : -1;
        };
        const int headerStyle = styleOf(QStringLiteral("A1"));
        QVERIFY(headerStyle > 0 && headerStyle != textStyle);
        QVERIFY(styles.contains(QStringLiteral("<b/>")));
        // Text columns are text down to row 301, cell by cell and as columns;
        // the number columns hold numbers.
        for (const char *cell : {"A2", "B5", "C5", "D2", "H3", "A301", "D301", "H301"})
            QVERIFY2(styleOf(QLatin1String(cell)) == textStyle, cell);
        QCOMPARE(styleOf(QStringLiteral("A302")), -1);
        QVERIFY(sheet.contains(QStringLiteral("<c r=\"E2\"><v>60</v></c>")));
        const auto column = [&](int n) {
            return QRegularExpression(QStringLiteral("<col min=\"%1\" max=\"%1\" width=\"([\\d.]+)\"( style=\"(\\d+)\")?").arg(n))
                .match(sheet);
        };
        for (int n : {1, 2, 3, 4, 8})
            QCOMPARE(column(n).captured(3).toInt(), textStyle);
        for (int n : {5, 6, 7})
            QVERIFY(column(n).captured(2).isEmpty());
        // Wide enough: the phones' column holds 13 characters.
        QVERIFY(column(3).captured(1).toDouble() >= 13);
    }

    void workbooksSavedByCalc_data()
    {
        QTest::addColumn<QByteArray>("workbook");
        QTest::addColumn<QList<ObjectRow>>("objects");
        QTest::addColumn<QString>("problems");
        QTest::newRow("saved again: the same objects") << fixture("libreoffice-resaved.xlsx") << kFixtureRows << QString();
        QList<ObjectRow> typed = kFixtureRows;
        typed << objectRow("0200", "0002", "+79001112233", "0123", 30, 5, 1);
        QTest::newRow("an object typed in: as typed") << fixture("libreoffice-typed.xlsx") << typed << QString();
        QTest::newRow("from the CSV left to Calc's guess: every change named")
            << fixture("libreoffice-from-csv.xlsx") << QList<ObjectRow>{}
            << QStringLiteral(
                   "2|Объект|(таблица) значение изменила электронная таблица: у номера «100» пропали ведущие нули (нужно 4 знака)\n"
                   "2|ППК|(таблица) значение изменила электронная таблица: у номера «1» пропали ведущие нули (нужно 4 знака)\n"
                   "2|Телефон 1|(таблица) значение изменила электронная таблица: в конфигурации у этого объекта «+75326948469», здесь «75326948469»: пропал «+»\n"
                   "2|Телефон 2|(таблица) значение изменила электронная таблица: в конфигурации у этого объекта «+74950000000», здесь «74950000000»: пропал «+»\n"
                   "3|Объект|(таблица) значение изменила электронная таблица: номер «1E05» принят за число и записан как «100000»\n"
                   "3|Телефон 1|(таблица) значение изменила электронная таблица: в конфигурации у этого объекта «+79001234567», здесь «79001234567»: пропал «+»\n"
                   "4|ППК|(таблица) значение изменила электронная таблица: номер «1E05» принят за число и записан как «100000»\n"
                   "5|Объект|(таблица) значение изменила электронная таблица: у номера «9» пропали ведущие нули (нужно 4 знака)\n"
                   "5|ППК|(таблица) значение изменила электронная таблица: у номера «10» пропали ведущие нули (нужно 4 знака)\n"
                   "5|Телефон 1|(таблица) значение изменила электронная таблица: в конфигурации у этого объекта «+380501234567», здесь «380501234567»: пропал «+»\n"
                   "5|Телефон 2|(таблица) значение изменила электронная таблица: в конфигурации у этого объекта «+7», здесь «7»: пропал «+»");
    }
    void workbooksSavedByCalc()
    {
        QFETCH(QByteArray, workbook);
        QFETCH(QList<ObjectRow>, objects);
        QFETCH(QString, problems);
        const SheetObjects read = objectsFromXlsx(workbook, &kFixtureRows);
        QCOMPARE(problemsText(read.problems), problems);
        QCOMPARE(read.rows, objects);
        QCOMPARE(read.advice().isEmpty(), problems.isEmpty());
    }

    // Cells as other writers store them.
    void cellsAsWritersStoreThem_data()
    {
        QTest::addColumn<QByteArray>("workbook");
        QTest::addColumn<QString>("problems");
        QTest::addColumn<QList<ObjectRow>>("objects");
        const QList<ObjectRow> one{objectRow("1234", "0010", "+79001234567", "", 15, 3, 2)};
        QTest::newRow("shared strings in runs, phonetic guides left out")
            << workbookOf("<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c><c r=\"B2\" t=\"s\"><v>1</v></c><c r=\"C2\" t=\"s\"><v>2</v></c><c r=\"E2\"><v>15</v></c><c r=\"F2\"><v>3</v></c><c r=\"G2\"><v>2</v></c></row>",
                          "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>1234</t></si><si><r><t>00</t></r><r><rPr><b/></rPr><t>10</t></r><rPh><t>x</t></rPh></si><si>"
                          "\n  <t xml:space=\"preserve\">+79001234567</t>\n</si></sst>")
            << QString() << one;
        QTest::newRow("a number in a text column: its exact integer text, checked as typed")
            << workbookOf("<row r=\"2\"><c r=\"A2\"><v>1234</v></c><c r=\"B2\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C2\" t=\"str\"><f>\"+7\"&amp;\"9001234567\"</f><v>+79001234567</v></c><c r=\"E2\"><v>1.5E1</v></c><c r=\"F2\"><v>3</v></c><c r=\"G2\"><v>2</v></c></row>"
                          "<row r=\"3\"><c r=\"A3\"><v>1235</v></c><c r=\"B3\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C3\"><v>7.9001234567E10</v></c><c r=\"E3\"><v>0</v></c><c r=\"F3\"><v>0</v></c><c r=\"G3\"><v>0</v></c></row>")
            << QString() << (one + QList<ObjectRow>{objectRow("1235", "0010", "79001234567", "", 0, 0, 0)});
        QTest::newRow("cells without references, rows without numbers")
            << workbookOf("<row><c t=\"inlineStr\"><is><t>1234</t></is></c><c t=\"inlineStr\"><is><t>0010</t></is></c><c t=\"inlineStr\"><is><t>+79001234567</t></is></c><c/><c><v>15</v></c><c><v>3</v></c><c><v>2</v></c></row>")
            << QString() << one;
        QTest::newRow("a number typed as text with a fraction is checked as typed")
            << workbookOf("<row r=\"2\"><c r=\"A2\"><v>12.5</v></c><c r=\"B2\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C2\" t=\"inlineStr\"><is><t>+7</t></is></c><c r=\"F2\"><v>0</v></c><c r=\"G2\"><v>0</v></c></row>")
            << QStringLiteral("2|Объект|нужны ровно 4 символа: цифры 0–9 и буквы A–F") << QList<ObjectRow>{};
        QTest::newRow("a value beyond the list's columns")
            << workbookOf("<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>1234</t></is></c><c r=\"B2\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C2\" t=\"inlineStr\"><is><t>+7</t></is></c><c r=\"J2\" t=\"inlineStr\"><is><t>заметка</t></is></c></row>")
            << QStringLiteral("2||столбцов 10, а должно быть 8") << QList<ObjectRow>{};
        QTest::newRow("a header that is not the list's")
            << zipArchive(workbookParts(sheetXml("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Имя</t></is></c></row>")))
            << QStringLiteral("1||заголовок должен быть «Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК»")
            << QList<ObjectRow>{};
        // Another sheet first: "Объекты" is the one read; without it, the first.
        QList<ZipEntry> parts = workbookParts(sheetXml(kHeaderRow), {}, "Лист1");
        parts[1].data = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:x=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet name=\"Заметки\" sheetId=\"1\" x:id=\"rId1\"/><sheet name=\"Объекты\" sheetId=\"2\" x:id=\"rId9\"/></sheets></workbook>";
        parts[2].data.replace("</Relationships>",
                              "<Relationship Id=\"rId9\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"/xl/worksheets/objects.xml\"/></Relationships>");
        parts << ZipEntry{"xl/worksheets/objects.xml",
                          sheetXml(kHeaderRow
                                   + "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>1234</t></is></c><c r=\"B2\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C2\" t=\"inlineStr\"><is><t>+79001234567</t></is></c><c r=\"E2\"><v>15</v></c><c r=\"F2\"><v>3</v></c><c r=\"G2\"><v>2</v></c></row>")};
        QTest::newRow("the sheet Объекты among others") << zipArchive(parts) << QString() << one;
        QTest::newRow("no sheet Объекты: the first")
            << zipArchive(workbookParts(sheetXml(kHeaderRow), {}, "Sheet1")) << QString() << QList<ObjectRow>{};
    }
    void cellsAsWritersStoreThem()
    {
        QFETCH(QByteArray, workbook);
        QFETCH(QString, problems);
        QFETCH(QList<ObjectRow>, objects);
        const SheetObjects read = objectsFromXlsx(workbook);
        QCOMPARE(problemsText(read.problems), problems);
        QCOMPARE(read.rows, objects);
    }

    void aNumberWhereThePlusWas_isRefusedAgainstTheConfiguration()
    {
        const QByteArray zip = workbookOf(
            "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>1234</t></is></c><c r=\"B2\" t=\"inlineStr\"><is><t>0010</t></is></c><c r=\"C2\"><v>79001234567</v></c><c r=\"D2\" t=\"inlineStr\"><is><t>79001234567</t></is></c><c r=\"F2\"><v>0</v></c><c r=\"G2\"><v>0</v></c></row>");
        const QList<ObjectRow> current{objectRow("1234", "0010", "+79001234567", "+79001234567", 0, 0, 0)};
        const SheetObjects read = objectsFromXlsx(zip, &current);
        // The number is the spreadsheet's doing; the text was typed so.
        QCOMPARE(problemsText(read.problems),
                 QStringLiteral("2|Телефон 1|(таблица) значение изменила электронная таблица: в конфигурации у этого "
                                "объекта «+79001234567», здесь «79001234567»: пропал «+»"));
        QVERIFY(read.rows.isEmpty());
        QVERIFY(read.advice().contains(QStringLiteral("«Текстовый»")));
    }

    void hostileWorkbooks_areRefusedWithOneMessage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QByteArray good = workbookOf({});
        QTest::newRow("no zip") << QByteArray("Объект;ППК\r\n") << QStringLiteral("не является архивом ZIP");
        QTest::newRow("an old .xls or a password") << QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(600, '\0')
                                                   << QStringLiteral("старого формата .xls");
        QTest::newRow("cut short") << good.left(good.size() / 2) << QStringLiteral("не является архивом ZIP");
        QTest::newRow("no workbook part") << zipArchive({{"xl/worksheets/sheet1.xml", sheetXml(kHeaderRow)}})
                                          << QStringLiteral("нет части «xl/workbook.xml»");

        // 20 MB of blanks deflate to about 20 KB.
        QList<ZipEntry> bomb = workbookParts(sheetXml(kHeaderRow + QByteArray(20 * 1024 * 1024, ' ')));
        QTest::newRow("zip bomb") << zipArchive(bomb) << QStringLiteral("после распаковки больше 8 МБ");
        bomb = workbookParts(sheetXml(kHeaderRow + QByteArray(20 * 1024 * 1024, ' ')));
        bomb[3].declaredSize = 1000;
        QTest::newRow("zip bomb that declares a small size") << zipArchive(bomb) << QStringLiteral("повреждена");
        QList<ZipEntry> lying = workbookParts(sheetXml(kHeaderRow));
        lying[3].declaredSize = std::uint32_t(lying[3].data.size() + 100);
        QTest::newRow("a size that says more") << zipArchive(lying) << QStringLiteral("повреждена");
        lying[3].declaredSize.reset();
        lying[3].declaredCrc = 0x12345678;
        QTest::newRow("a checksum that does not match") << zipArchive(lying) << QStringLiteral("повреждена");
        lying[3].declaredCrc.reset();
        lying[3].deflate = false;
        lying[3].declaredSize = 40;
        QTest::newRow("a stored part that says less") << zipArchive(lying) << QStringLiteral("повреждена");

        QTest::newRow("XML cut short") << zipArchive(workbookParts(sheetXml(kHeaderRow).left(300)))
                                       << QStringLiteral("обрывается на строке 1");
        QTest::newRow("malformed XML") << zipArchive(workbookParts(sheetXml("<row r=\"2\"><c></row>")))
                                       << QStringLiteral("испорчена: ошибка XML");
        QTest::newRow("entity expansion")
            << zipArchive(workbookParts(
                   "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><worksheet><sheetData><row r=\"1\"><c t=\"inlineStr\"><is><t>&c;&c;&c;</t></is></c></row></sheetData></worksheet>"))
            << QStringLiteral("объявление DTD");
        QByteArray million;
        million.reserve(7 * 1000 * 1000);
        for (int i = 0; i < 1000 * 1000; ++i)
            million += "<row/>";
        QTest::newRow("a million rows") << zipArchive(workbookParts(sheetXml(million)))
                                        << QStringLiteral("в листе больше 10000 строк");
        QTest::newRow("a cell beyond column Z")
            << workbookOf("<row r=\"2\"><c r=\"AA2\" t=\"inlineStr\"><is><t>x</t></is></c></row>")
            << QStringLiteral("в строке 2 есть значение за столбцом Z (AA2)");
        QTest::newRow("a cell far beyond column Z")
            << workbookOf("<row r=\"2\"><c r=\"XFDZZZZZZZZZZZZZZZZ2\"><v>1</v></c></row>")
            << QStringLiteral("за столбцом Z");
        QTest::newRow("a shared string that is not there")
            << workbookOf("<row r=\"2\"><c r=\"A2\" t=\"s\"><v>7</v></c></row>", "<sst><si><t>1</t></si></sst>")
            << QStringLiteral("ячейка A2 ссылается на строку текста №7, которой в книге нет");
        QTest::newRow("a row number that cannot be")
            << workbookOf("<row r=\"99999999999\"><c t=\"inlineStr\"><is><t>x</t></is></c></row>")
            << QStringLiteral("строка листа с номером «99999999999»");
        QTest::newRow("a sheet outside the archive")
            << zipArchive([] {
                   QList<ZipEntry> p = workbookParts(sheetXml(kHeaderRow));
                   p[2].data.replace("worksheets/sheet1.xml", "../../etc/passwd");
                   return p;
               }())
            << QStringLiteral("указывает на часть «../../etc/passwd», какой быть не может");
    }
    void hostileWorkbooks_areRefusedWithOneMessage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const SheetObjects read = objectsFromXlsx(bytes);
        QCOMPARE(read.problems.size(), 1);
        QVERIFY2(read.problems.at(0).reason.contains(message), qPrintable(read.problems.at(0).reason));
        QCOMPARE(read.problems.at(0).line, 0);
        QVERIFY(read.rows.isEmpty());
    }

    void aFileTooLargeOrNoFile_isRefusedBeforeReading()
    {
        QTemporaryDir dir;
        const QString big = dir.filePath(QStringLiteral("big.xlsx"));
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(kMaxWorkbookBytes + 1));
        f.close();
        QCOMPARE(readObjectsXlsx(big).problems.value(0).reason, QStringLiteral("файл больше 8 МБ: это не список объектов"));
        QVERIFY(readObjectsXlsx(dir.filePath(QStringLiteral("нет.xlsx"))).problems.value(0).reason.startsWith(
            QStringLiteral("файл не прочитан: ")));
        QCOMPARE(readObjectsXlsx(dir.path()).problems.value(0).reason, QStringLiteral("это не обычный файл"));
    }
};

QTEST_MAIN(ObjectXlsxTest)
#include "tst_objectxlsx.moc"
