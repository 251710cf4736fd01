// The object grid's context menu: the objects to and from CSV and .xlsx in the window.
#include "support/FakeLinkView.h"
#include "support/ToolRig.h"
#include "support/ZipBuilder.h"

#include "app/ObjectPanel.h"
#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"
#include "files/Workbook.h"
#include "model/Codepage.h"

#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QString kHeader = QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК\r\n");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QAction *gridAction(const ToolRig &rig, const char *name)
{
    return rig.find<QTableView>("DBGrid1")->findChild<QAction *>(QString::fromLatin1(name));
}

QStringList objectNumbers(const QList<ObjectRow> &rows)
{
    QStringList out;
    for (const ObjectRow &r : rows)
        out << r.Obj;
    return out;
}

} // namespace

class ObjectsMenuTest : public QObject {
    Q_OBJECT
private slots:
    void grid_offersTheListCommands()
    {
        ToolRig rig;
        auto *grid = rig.find<QTableView>("DBGrid1");
        QCOMPARE(grid->contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList items;
        for (const QAction *a : grid->actions())
            items << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(items, (QStringList{"ItemExportCsv=Экспорт объектов в CSV…", "ItemImportCsv=Импорт объектов из CSV…",
                                     "ItemExportXlsx=Экспорт объектов в XLSX…",
                                     "ItemImportXlsx=Импорт объектов из XLSX…"}));
    }

    // Out to a workbook and back in: the table as it was, "+" and leading
    // zeros included; a workbook whose phone a spreadsheet turned into a
    // number is refused against the table, which stays as it was.
    void xlsx_exportAndImport()
    {
        ToolRig rig;
        rig.addRows(sampleRows(5));
        const QList<ObjectRow> rows = rig.window->objectRows();
        const QString path = rig.folder.filePath(QStringLiteral("объекты.xlsx"));
        rig.dialogs.saveNames.enqueue(path);
        gridAction(rig, "ItemExportXlsx")->trigger();
        QCOMPARE(rig.dialogs.saveRequests.value(0).filter, QStringLiteral("Книги Excel|*.xlsx|Все файлы|*.*"));
        QCOMPARE(rig.dialogs.saveRequests.value(0).defaultSuffix, QStringLiteral("xlsx"));
        QVERIFY(rig.dialogs.messages.isEmpty());

        rig.window->objectPanel().clearObjectTable();
        rig.dialogs.openNames.enqueue(path);
        gridAction(rig, "ItemImportXlsx")->trigger();
        QCOMPARE(rig.dialogs.openRequests.value(0).filter, QStringLiteral("Книги Excel|*.xlsx|Все файлы|*.*"));
        QVERIFY(rig.dialogs.messages.isEmpty());
        QCOMPARE(rig.window->objectRows(), rows);

        // The first object's phone as a number.
        QList<ObjectRow> changed = rows;
        QVERIFY(changed[0].P1.startsWith(QLatin1Char('+')));
        changed[0].P1.remove(0, 1);
        QString error;
        const QByteArray workbook = objectsToXlsx(changed, &error).value();
        QString sheet = QString::fromUtf8(workbook::part(workbook, QStringLiteral("xl/worksheets/sheet1.xml"), &error).value());
        sheet.replace(QRegularExpression(QStringLiteral("<c r=\"C2\" s=\"(\\d+)\" t=\"s\"><v>\\d+</v></c>")),
                      QStringLiteral("<c r=\"C2\"><v>%1</v></c>").arg(changed[0].P1));
        writeFile(path, zipArchive(workbookParts(
                            sheet.toUtf8(), workbook::part(workbook, QStringLiteral("xl/sharedStrings.xml"), &error).value())));
        rig.dialogs.openNames.enqueue(path);
        gridAction(rig, "ItemImportXlsx")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).text,
                 QStringLiteral("Объекты из файла \"%1\" не загружены, таблица не изменена. Строк с ошибками: 1.\n\n"
                                "строка 2, «Телефон 1»: значение изменила электронная таблица: в конфигурации у этого "
                                "объекта «%2», здесь «%3»: пропал «+»\n\n")
                         .arg(path, rows[0].P1, changed[0].P1)
                     + spreadsheetAdvice(SheetFormat::Xlsx));
        QCOMPARE(rig.window->objectRows(), rows);

        rig.dialogs.saveNames.enqueue(rig.folder.filePath(QStringLiteral("no/such/folder/x.xlsx")));
        gridAction(rig, "ItemExportXlsx")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 2);
        QCOMPARE(rig.dialogs.messages.at(1).caption, QStringLiteral("Экспорт объектов"));
    }

    void export_writesTheStoredRowsInTheTablesOrder()
    {
        ToolRig rig;
        rig.addRows(sampleRows(5));
        const QString path = rig.folder.filePath(QStringLiteral("objects.csv"));
        rig.dialogs.saveNames.enqueue(path);
        gridAction(rig, "ItemExportCsv")->trigger();
        QCOMPARE(rig.dialogs.saveRequests.size(), 1);
        QCOMPARE(rig.dialogs.saveRequests.at(0).filter, QStringLiteral("Файлы CSV|*.csv|Все файлы|*.*"));
        QCOMPARE(rig.dialogs.saveRequests.at(0).defaultSuffix, QStringLiteral("csv"));
        QVERIFY(rig.dialogs.messages.isEmpty());
        const QList<ObjectRow> rows = rig.window->objectRows();
        QCOMPARE(objectNumbers(rows), (QStringList{"0001", "0002", "0003", "0004", "0005"}));
        QCOMPARE(readFile(path), objectsToCsv(rows));

        // Cancelled: nothing asked further, nothing written.
        gridAction(rig, "ItemExportCsv")->trigger();
        QVERIFY(rig.dialogs.messages.isEmpty());

        rig.dialogs.saveNames.enqueue(rig.folder.filePath(QStringLiteral("no/such/folder/x.csv")));
        gridAction(rig, "ItemExportCsv")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).caption, QStringLiteral("Экспорт объектов"));
        QCOMPARE(rig.dialogs.messages.at(0).icon, MsgIcon::Error);
        QVERIFY(rig.dialogs.messages.at(0).text.startsWith(QStringLiteral("Не удалось сохранить объекты в файл ")));
    }

    void import_replacesTheTableOnlyWhenEveryLinePasses_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("objects"); // the table afterwards; empty: as before
        QTest::addColumn<QString>("box");         // empty: none
        QTest::newRow("every line passes")
            << (kHeader + QStringLiteral("00B0;0001;+7900;;5;3;2;\r\n0010;0002;+7901;;0;77;0;\r\n00A0;0003;+7902;1;1;5;3;\r\n"))
                   .toUtf8()
            << QStringList{"0010", "00A0", "00B0"} << QString();
        QTest::newRow("code page 1251") << cp1251::encode(kHeader + QStringLiteral("0010;0002;+7901;;0;0;0;Нет\r\n"))
                                        << QStringList{"0010"} << QString();
        QTest::newRow("only the header: an empty table") << kHeader.toUtf8() << QStringList{} << QString();

        QString failing = kHeader;
        for (int i = 0; i < 12; ++i)
            failing += QStringLiteral("%1;0001;;;1;1;1;\r\n0100;0001;+7900;;1;1;1;\r\n").arg(i + 1, 4, 10, QLatin1Char('0'));
        QString shown;
        for (int i = 0; i < 10; ++i)
            shown += QStringLiteral("\nстрока %1, «Телефон 1»: не заполнен: объект без телефона 1 не записывается в трансивер")
                         .arg(2 + 2 * i);
        QTest::newRow("twelve failing lines: the first ten shown")
            << failing.toUtf8() << QStringList{}
            << QStringLiteral("Объекты из файла \"%1\" не загружены, таблица не изменена. Строк с ошибками: 12.\n")
                   + shown + QStringLiteral("\n...");
        QTest::newRow("a failing line among good ones")
            << (kHeader + QStringLiteral("0010;0001;+7900;;1;1;1;\r\n0011;0A;+7900;;1;1;1;\r\n")).toUtf8() << QStringList{}
            << QStringLiteral("Объекты из файла \"%1\" не загружены, таблица не изменена. Строк с ошибками: 1.\n\n"
                              "строка 3, «ППК»: Не опрелен номер ППК!");
        QTest::newRow("a number a spreadsheet cut short: the way out named")
            << (kHeader + QStringLiteral("0010;0001;+7900;;1;1;1;\r\n0011;1;+7900;;1;1;1;\r\n")).toUtf8() << QStringList{}
            << QStringLiteral("Объекты из файла \"%1\" не загружены, таблица не изменена. Строк с ошибками: 1.\n\n"
                              "строка 3, «ППК»: значение изменила электронная таблица: у номера «1» пропали ведущие "
                              "нули (нужно 4 знака)\n\n")
                   + spreadsheetAdvice(SheetFormat::Csv);
    }
    void import_replacesTheTableOnlyWhenEveryLinePasses()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QStringList, objects);
        QFETCH(QString, box);
        ToolRig rig;
        rig.addRows(sampleRows(2));
        const QList<ObjectRow> before = rig.window->objectRows();
        const QString countBefore = rig.find<QLabel>("ObjCountLbl")->text();
        // A row left pending goes with a replaced table.
        rig.window->objectPanel().table().insert();
        const QString path = rig.folder.filePath(QStringLiteral("in.csv"));
        writeFile(path, csv);
        rig.dialogs.openNames.enqueue(path);
        gridAction(rig, "ItemImportCsv")->trigger();
        QCOMPARE(rig.dialogs.openRequests.value(0).filter, QStringLiteral("Файлы CSV|*.csv|Все файлы|*.*"));

        if (!box.isEmpty()) {
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QCOMPARE(rig.dialogs.messages.at(0),
                     (UserMessage{box.arg(path), "Импорт объектов", MsgIcon::Error, MsgButtons::Ok, false}));
            QCOMPARE(rig.window->objectRows(), before);
            QCOMPARE(rig.find<QLabel>("ObjCountLbl")->text(), countBefore);
            return;
        }
        QVERIFY(rig.dialogs.messages.isEmpty());
        const QList<ObjectRow> rows = rig.window->objectRows();
        QCOMPARE(objectNumbers(rows), objects);
        QCOMPARE(rig.window->objectPanel().table().mode(), TableMode::Browse);
        QCOMPARE(rig.find<QLabel>("ObjCountLbl")->text(), QStringLiteral("Количество объектов %1").arg(objects.size()));
        if (objects.size() == 3) {
            // Types named through the catalogue, as a load names them.
            QCOMPARE(rows.at(0).N_PPK, QStringLiteral("Тип ППК не определен"));
            QCOMPARE(rows.at(1).N_PPK, QStringLiteral("Контроллер доступа"));
            QCOMPARE(rows.at(1).P2, QStringLiteral("1"));
            QCOMPARE(rows.at(2).TypeId, std::int16_t(3));
            QCOMPARE(rows.at(2).Prot, std::int16_t(2));
            QCOMPARE(rows.at(2).WaitTest, 5);
        }
    }

    void import_ofAnUnreadableFile_saysSo()
    {
        ToolRig rig;
        rig.addRows(sampleRows(1));
        rig.dialogs.openNames.enqueue(rig.folder.filePath(QStringLiteral("missing.csv")));
        gridAction(rig, "ItemImportCsv")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY(rig.dialogs.messages.at(0).text.contains(QStringLiteral("Строк с ошибками: 1.\n\nфайл не прочитан: ")));
        QCOMPARE(rig.window->objectRows().size(), 1);
    }
};

QTEST_MAIN(ObjectsMenuTest)
#include "tst_objectsmenu.moc"
