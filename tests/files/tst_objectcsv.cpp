// The objects' CSV: the bytes an export writes, and every check of an import.
#include "support/SampleConfiguration.h"

#include "files/ObjectCsv.h"
#include "model/Codepage.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarvil;

namespace {

const QByteArray kMark("\xEF\xBB\xBF");
const QByteArray kHeader = QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК").toUtf8();

ObjectRow row(const char *obj, const char *account, const char *p1, const char *p2, int minutes, int type, int prot,
              const QString &name = {})
{
    ObjectRow r = test::objectRow(obj, account, p1, p2, minutes, type, prot);
    r.N_PPK = name;
    return r;
}

QByteArray csv(const QList<QByteArray> &lines, const QByteArray &end = "\r\n")
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + end;
    return out;
}

QString problemsText(const QList<SheetProblem> &problems)
{
    QStringList lines;
    for (const SheetProblem &p : problems)
        lines << QStringLiteral("%1|%2|%3%4").arg(p.line).arg(p.column, p.spreadsheet ? QStringLiteral("(таблица) ") : QString(),
                                                          p.reason);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class ObjectCsvTest : public QObject {
    Q_OBJECT
private slots:
    void export_writesMarkHeaderAndQuotedFields()
    {
        ObjectRow named = row("00A1", "0B02", "+380501234567", "", 15, 300, -1, QStringLiteral("Тип \"А\"; новый"));
        const QByteArray bytes = objectsToCsv({named, row("0002", "0001", "12", "34", 0, 3, 2)});
        QCOMPARE(bytes, kMark + kHeader + "\r\n" + QStringLiteral("00A1;0B02;+380501234567;;15;44;255;\"Тип \"\"А\"\"; новый\"\r\n"
                                                                 "0002;0001;12;34;0;3;2;\r\n")
                                                      .toUtf8());
        QCOMPARE(objectsToCsv({}), kMark + kHeader + "\r\n");
    }

    void import_encodingsAndLineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray body = "0010;0001;+7900123;;15;3;2;Пожарный";
        QTest::newRow("UTF-8 with the mark") << kMark + csv({kHeader, body});
        QTest::newRow("UTF-8 without the mark") << csv({kHeader, body});
        QTest::newRow("code page 1251") << cp1251::encode(QString::fromUtf8(csv({kHeader, body})));
        QTest::newRow("LF line ends") << csv({kHeader, body}, "\n");
        QTest::newRow("no line end at the end") << kHeader + "\r\n" + body;
        QTest::newRow("blank lines and empty cells passed over") << csv({kHeader, "", body, ";;;;;;;", ""});
        QTest::newRow("blanks around the values") << csv({kHeader, " 0010 ; 0001;+7900123 ;; 15;3 ;2;x"});
        QTest::newRow("quoted values") << csv({kHeader, "\"0010\";\"0001\";\"+7900123\";\"\";\"15\";3;2;\"a\r\nb\""});
    }
    void import_encodingsAndLineEnds()
    {
        QFETCH(QByteArray, bytes);
        const SheetObjects r = objectsFromCsv(bytes);
        QVERIFY2(r.ok(), qPrintable(problemsText(r.problems)));
        QCOMPARE(r.rows, (QList<ObjectRow>{row("0010", "0001", "+7900123", "", 15, 3, 2)}));
    }

    // One line per row: what is wrong, where. Lines count from 1, the header
    // being line 1; a quoted line end moves the count on.
    void import_refusesEveryFailingLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("problems");
        const QByteArray ok = "0010;0001;+7900;;15;3;2;";
        QTest::newRow("several lines, several columns")
            << csv({kHeader, ok, "12A;0001;+7900;;1;1;1;", ok, "0011;00g1;;12345678901234;x;256;-1;"})
            << "3|Объект|Не опрелен номер объекта!\n"
               "5|ППК|нужны ровно 4 символа: цифры 0–9 и буквы A–F\n"
               "5|Телефон 1|не заполнен: объект без телефона 1 не записывается в трансивер\n"
               "5|Телефон 2|не более 13 символов: цифры и «+»\n"
               "5|Тест, мин.|Недопустимое значение поля \"Тест, мин.\": минуты от 0 до 71582788\n"
               "5|Код типа|нужно число от 0 до 255\n"
               "5|Протокол|нужно число от 0 до 255";
        QTest::newRow("empty numbers") << csv({kHeader, ";;+7900;;;;;"})
                                       << "2|Объект|Не опрелен номер объекта!\n2|ППК|Не опрелен номер ППК!\n"
                                          "2|Код типа|нужно число от 0 до 255\n2|Протокол|нужно число от 0 до 255";
        QTest::newRow("lower-case and long numbers") << csv({kHeader, "00a1;00011;+7900;;0;0;0;"})
                                                     << "2|Объект|нужны ровно 4 символа: цифры 0–9 и буквы A–F\n"
                                                        "2|ППК|нужны ровно 4 символа: цифры 0–9 и буквы A–F";
        QTest::newRow("seconds beyond 32 bits") << csv({kHeader, "0010;0001;+7900;;71582789;3;2;"})
                                                << "2|Тест, мин.|Недопустимое значение поля \"Тест, мин.\": минуты от 0 до 71582788";
        QTest::newRow("phone with a blank inside") << csv({kHeader, "0010;0001;+7 900;;1;3;2;"})
                                                   << "2|Телефон 1|не более 13 символов: цифры и «+»";
        QTest::newRow("too few and too many columns") << csv({kHeader, "0010;0001;+7900;;1;3;2", ok + ";"})
                                                      << "2||столбцов 7, а должно быть 8\n3||столбцов 9, а должно быть 8";
        QTest::newRow("line numbers after a quoted line end")
            << csv({kHeader, "0010;0001;+7900;;1;3;2;\"two\r\nlines\"", "0011;0001;;;1;3;2;"})
            << "4|Телефон 1|не заполнен: объект без телефона 1 не записывается в трансивер";
        QTest::newRow("a stray quote") << csv({kHeader, "0010;0001;+7900;;1;3;2;ab\"c", "0011;0001;+7900;;1;3;2;\"ab\"c"})
                                       << "2||кавычка внутри поля без кавычек\n"
                                          "3||после закрывающей кавычки должен идти знак «;»";
        QTest::newRow("an unclosed quote") << csv({kHeader, ok, "0011;0001;+7900;;1;3;2;\"open", ok})
                                           << "3||кавычки не закрыты до конца файла";
        QTest::newRow("another header") << csv({"Объект;ППК;Телефон 1;Телефон 2;Тест;Код типа;Протокол;Тип ППК", ok})
                                        << "1||заголовок должен быть «Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;"
                                           "Код типа;Протокол;Тип ППК»";
        QTest::newRow("an empty file") << QByteArray() << "1||файл пуст: нет строки заголовка";
        QTest::newRow("a zero byte") << csv({kHeader, ok, QByteArray("00\0" "1;0001;+7900;;1;3;2;", 23)})
                                     << "3||нулевой байт: это не текстовый файл";
        QTest::newRow("the mark before bytes that are not UTF-8") << kMark + cp1251::encode(QString::fromUtf8(csv({kHeader, ok})))
                                                                  << "0||файл с меткой UTF-8 содержит байты не в UTF-8";
    }
    void import_refusesEveryFailingLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, problems);
        const SheetObjects r = objectsFromCsv(bytes);
        QCOMPARE(problemsText(r.problems), problems);
        QVERIFY(r.rows.isEmpty()); // nothing, not the lines that passed
    }

    // What a spreadsheet does to a list left to its guesses, refused with that
    // cause; what it cannot have done, taken as it is.
    void import_refusesWhatASpreadsheetChanged_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("problems");
        const QString changed = QStringLiteral("(таблица) значение изменила электронная таблица: ");
        QTest::newRow("leading zeros lost") << QByteArray("100;1;+75326948469;;15;3;2;")
                                            << "2|Объект|" + changed + "у номера «100» пропали ведущие нули (нужно 4 знака)\n"
                                                   "2|ППК|" + changed + "у номера «1» пропали ведущие нули (нужно 4 знака)";
        QTest::newRow("exponent notation, and the plus lost behind it")
            << QByteArray("1.00E+05;00A0;79001234567;;0;77;0;")
            << "2|Объект|" + changed + "номер «1E05» принят за число и записан как «1.00E+05»\n"
                   "2|Телефон 1|" + changed + "в конфигурации у этого объекта «+79001234567», здесь «79001234567»: пропал «+»";
        QTest::newRow("exponent notation with a decimal comma") << QByteArray("0010;0001;7,53269E+10;;15;3;2;")
                                                                << "2|Телефон 1|" + changed
                                                                       + "«7,53269E+10» записано в экспоненциальной форме";
        QTest::newRow("an object number written out as a number") << QByteArray("0010;12000;+7900;;15;3;2;")
                                                                   << "2|ППК|" + changed
                                                                          + "номер «12E3» принят за число и записан как «12000»";
        QTest::newRow("the plus lost on both phones") << QByteArray("0100;0001;75326948469;74950000000;15;3;2;")
                                                      << "2|Телефон 1|" + changed
                                                             + "в конфигурации у этого объекта «+75326948469», здесь "
                                                               "«75326948469»: пропал «+»\n"
                                                               "2|Телефон 2|"
                                                             + changed
                                                             + "в конфигурации у этого объекта «+74950000000», здесь "
                                                               "«74950000000»: пропал «+»";
        QTest::newRow("the plus lost where the object's number changed too")
            << QByteArray("100000;00A0;79001234567;;0;77;0;")
            << "2|Объект|" + changed + "номер «1E05» принят за число и записан как «100000»\n"
                   "2|Телефон 1|" + changed + "в конфигурации у этого объекта «+79001234567», здесь «79001234567»: пропал «+»";
        QTest::newRow("1E05 is an object number") << QByteArray("1E05;00A0;+79001234567;;0;77;0;") << QString();
        QTest::newRow("a phone the configuration holds without a plus") << QByteArray("000A;1E05;89001234567;112;0;0;0;")
                                                                         << QString();
        QTest::newRow("a new object: nothing to tell a lost plus by") << QByteArray("0200;0001;79001234567;;15;3;2;")
                                                                       << QString();
    }
    void import_refusesWhatASpreadsheetChanged()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, problems);
        const QList<ObjectRow> current{row("0100", "0001", "+75326948469", "+74950000000", 15, 3, 2),
                                       row("000A", "1E05", "89001234567", "112", 0, 0, 0),
                                       row("1E05", "00A0", "+79001234567", "", 0, 77, 0)};
        const SheetObjects r = objectsFromCsv(csv({kHeader, line}), &current);
        QCOMPARE(problemsText(r.problems), problems);
        QCOMPARE(r.rows.size(), problems.isEmpty() ? 1 : 0);
        // The way out is named once, after the rows.
        QCOMPARE(r.advice().contains(QStringLiteral("export-xlsx")), !problems.isEmpty());
    }

    void import_takesAtMost300Objects()
    {
        QList<QByteArray> lines{kHeader};
        for (int i = 0; i < 302; ++i)
            lines << QStringLiteral("%1;0001;+7900;;1;3;2;").arg(i, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        SheetObjects r = objectsFromCsv(csv(lines));
        QCOMPARE(problemsText(r.problems), QStringLiteral("302||Превышено максимально-допустимое число объектов"));
        lines.removeLast();
        lines.removeLast();
        r = objectsFromCsv(csv(lines));
        QVERIFY(r.ok());
        QCOMPARE(r.rows.size(), 300);
    }

    void readFile_refusesWhatIsNoFile()
    {
        QTemporaryDir dir;
        QCOMPARE(readObjectsCsv(dir.path()).problems.value(0).reason, QStringLiteral("это не обычный файл"));
        const SheetObjects missing = readObjectsCsv(dir.filePath(QStringLiteral("missing.csv")));
        QCOMPARE(missing.problems.size(), 1);
        QVERIFY(missing.problems.at(0).reason.startsWith(QStringLiteral("файл не прочитан: ")));
    }
};

QTEST_GUILESS_MAIN(ObjectCsvTest)
#include "tst_objectcsv.moc"
