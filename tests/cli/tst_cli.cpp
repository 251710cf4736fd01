// tarvil-cli as an installer runs it: the real program in a folder of its
// own, on files the tool saved and on files it refuses.
#include "support/SampleConfiguration.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"
#include "support/ZipBuilder.h"

#include "files/ConfigFile.h"
#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"
#include "files/Workbook.h"
#include "link/Packets.h"
#include "model/Codepage.h"
#include "model/ConfigImage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
    QString outText() const { return QString::fromUtf8(out); }
    // Messages end their lines as the system's console does: CR LF on Windows.
    QString errText() const { return QString::fromUtf8(err).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }
};

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

ObjectRow object(const char *obj, const char *p1, int type, int minutes = 15)
{
    ObjectRow r;
    r.Obj = QString::fromLatin1(obj);
    r.Account = QStringLiteral("0B02");
    r.P1 = QString::fromLatin1(p1);
    r.P2 = QStringLiteral("12");
    r.TypeId = std::int16_t(type);
    r.Prot = 2;
    r.WaitTest = minutes;
    return r;
}

QList<ObjectRow> siteRows()
{
    return {object("00B0", "+380501234567", 3), object("0010", "+380501111111", 77, 60), object("00A0", "222", 5)};
}

ConfigImage imageOf(const CommonSettings &s, const QList<ObjectRow> &rows)
{
    ConfigImage image;
    if (!image.build(s, rows))
        qFatal("settings that do not build");
    return image;
}

QByteArray fileOf(const ConfigImage &image)
{
    PacketList packets;
    packets.buildFrom(image);
    return serializeConfigFile(packets);
}

QByteArray rawOf(const ConfigImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), kImageSize);
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT
public:
    CliTest()
    {
        QFile::copy(dataDir() + QStringLiteral("/CentralType.txt"), dir_.filePath(QStringLiteral("CentralType.txt")));
    }

private:
    // Named in Cyrillic, as installers name their folders and files: every
    // path the program takes and writes has such letters in it.
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/Объекты-XXXXXX")};

    QString path(const QString &name) const { return dir_.filePath(name); }

    Run cli(const QStringList &args) const
    {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(TARVIL_CLI_PROGRAM), args);
        Run r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QStringList filesInFolder() const
    {
        return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

private slots:
    void init()
    {
        for (const QString &name : filesInFolder()) {
            if (name != QLatin1String("CentralType.txt"))
                QFile::remove(path(name));
        }
        writeFile(path(QStringLiteral("объект 5.tvc")), fileOf(imageOf(validSettings(), siteRows())));
    }

    void help_listsEveryCommandWithAnExample()
    {
        const Run r = cli({QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        for (const char *command : {"dump ФАЙЛ", "diff A B", "export-csv ФАЙЛ", "import-csv CSV", "export-xlsx ФАЙЛ",
                                    "import-xlsx XLSX"}) {
            QVERIFY2(r.outText().contains(QStringLiteral("\n  ") + QString::fromUtf8(command)), command);
        }
        QCOMPARE(r.outText().count(QStringLiteral("пример: tarvil-cli ")), 12);
        QVERIFY(r.outText().contains(QStringLiteral("3  трансивер не ответил")));
        const Run one = cli({QStringLiteral("diff"), QStringLiteral("--help")});
        QCOMPARE(one.status, 0);
        QVERIFY(one.outText().contains(QStringLiteral("пример: tarvil-cli diff ")));
        QVERIFY(!one.outText().contains(QStringLiteral("dump")));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "не указана команда";
        QTest::newRow("unknown command") << QStringList{"upload"} << "нет команды \"upload\"";
        QTest::newRow("too many files") << QStringList{"dump", "объект 5.tvc", "объект 5.tvc"} << "неверное число аргументов";
        QTest::newRow("an option the command does not take") << QStringList{"dump", "объект 5.tvc", "-o", "x"}
                                                             << "команда dump не принимает -o, --output ФАЙЛ";
        QTest::newRow("an unknown option") << QStringList{"dump", "объект 5.tvc", "--fast"} << "Unknown option 'fast'";
        QTest::newRow("a value missing") << QStringList{"export-csv", "объект 5.tvc", "-o"} << "Missing value after '-o'";
        QTest::newRow("import without --into") << QStringList{"import-csv", "a.csv"} << "команде import-csv нужен --into";
        QTest::newRow("a workbook without -o") << QStringList{"export-xlsx", "объект 5.tvc"}
                                               << "команде export-xlsx нужен -o, --output ФАЙЛ";
        QTest::newRow("an output given twice") << QStringList{"export-csv", "объект 5.tvc", "-o", "a", "-o", "b"}
                                               << "указан больше одного раза";
        QTest::newRow("JSON where CSV goes out") << QStringList{"export-csv", "объект 5.tvc", "--json"} << "--json нужен вместе с -o";
        QTest::newRow("a catalogue that is not there") << QStringList{"dump", "объект 5.tvc", "--catalogue", "none.txt"}
                                                       << "none.txt: каталог типов ППК не найден";
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Run r = cli(args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.errText().contains(message), qPrintable(r.errText()));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(filesInFolder(), (QStringList{"CentralType.txt", "объект 5.tvc"}));
    }

    void dump_printsTheFieldsAndTheTableInTheWindowsOrder()
    {
        const Run r = cli({QStringLiteral("dump"), QStringLiteral("объект 5.tvc")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
        const QStringList lines = r.outText().split(QLatin1Char('\n'));
        const auto has = [&](const QString &pattern) {
            return lines.indexOf(QRegularExpression(QStringLiteral("^") + pattern + QStringLiteral("$")));
        };
        QVERIFY(has(QStringLiteral("Заводской номер: +12345")) >= 0);
        QVERIFY(has(QStringLiteral("Протокол: +TCP")) >= 0);
        QVERIFY(has(QStringLiteral("DHCP: +Выкл\\.")) >= 0);
        QVERIFY(has(QStringLiteral("IP- адрес шлюза: +192\\.168\\.1\\.1")) >= 0);
        QVERIFY(has(QStringLiteral("Формат выдачи в ПЭВМ: +Автономный режим")) >= 0);
        QVERIFY(has(QStringLiteral("Период теста, с: +3600")) >= 0);
        QVERIFY(has(QStringLiteral("Постоянное значение.*")) < 0); // not shown by the window
        const int count = has(QStringLiteral("Количество объектов 3"));
        QVERIFY(count > 0);
        QVERIFY(lines.at(count + 1).contains(QRegularExpression(QStringLiteral("^Объект +ППК +Телефон 1 +Телефон 2 +Тест +Тип ППК$"))));
        QVERIFY(lines.at(count + 2).contains(QRegularExpression(QStringLiteral("^0010 +0B02 +\\+380501111111 +12 +60 +Тип ППК не определен$"))));
        QVERIFY(lines.at(count + 3).contains(QRegularExpression(QStringLiteral("^00A0 +0B02 +222 +12 +15 +Контроллер доступа$"))));
        QVERIFY(lines.at(count + 4).contains(QRegularExpression(QStringLiteral("^00B0 +0B02 +\\+380501234567 +12 +15 +Пожарный ППК-2$"))));

        // Another catalogue names the types otherwise.
        writeFile(path(QStringLiteral("types.txt")), cp1251::encode(QStringLiteral("77;Свой тип;1;0\r\n")));
        const Run named = cli({QStringLiteral("dump"), QStringLiteral("объект 5.tvc"), QStringLiteral("--catalogue"),
                               QStringLiteral("types.txt")});
        QCOMPARE(named.status, 0);
        QVERIFY(named.outText().contains(QRegularExpression(QStringLiteral("\n0010 .* Свой тип\n"))));
        QVERIFY(named.outText().contains(QRegularExpression(QStringLiteral("\n00B0 .* Тип ППК не определен\n"))));
    }

    // What the dump says is what a fresh window shows after "Загрузить".
    void dump_matchesTheWindowAfterItsLoad_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray saved = fileOf(imageOf(validSettings(), siteRows()));
        const qsizetype common = 12 + 6 * qsizetype(kCommonBase);
        QTest::newRow("a saved file") << saved;
        QTest::newRow("the common block alone, no mark") << QByteArray("TransX") + saved.mid(common);
        QTest::newRow("the records alone") << saved.left(common);
        QTest::newRow("the headers alone") << saved.left(12);
        QByteArray wrongCrc = saved;
        for (qsizetype i = 12 + 4; i < wrongCrc.size(); i += 6)
            wrongCrc[i] = char(~wrongCrc.at(i));
        QTest::newRow("every CRC wrong") << wrongCrc;
        ConfigImage odd = imageOf(validSettings(), siteRows());
        odd.set(CommonField::Format.address(), 5); // beyond the last choice
        odd.set(CommonField::Dhcp.address(), 9);
        QTest::newRow("item indexes beyond the last choice") << fileOf(odd);
    }
    void dump_matchesTheWindowAfterItsLoad()
    {
        QFETCH(QByteArray, file);
        writeFile(path(QStringLiteral("load.tvc")), file);
        const Run r = cli({QStringLiteral("dump"), QStringLiteral("load.tvc"), QStringLiteral("--json")});
        QCOMPARE(r.status, 0);
        const QJsonObject dump = QJsonDocument::fromJson(r.out).object();

        ToolRig rig;
        rig.dialogs.openNames.enqueue(path(QStringLiteral("load.tvc")));
        rig.action("ItemLoad")->trigger();
        QVERIFY(rig.dialogs.messages.isEmpty());
        const CommonSettings shown = rig.window->commonSettings();
        QHash<QString, QString> values;
        for (const QJsonValue &v : dump.value(QStringLiteral("common")).toArray())
            values.insert(v[QStringLiteral("key")].toString(), v[QStringLiteral("value")].toString());
        int fields = 0;
        for (const Field &f : kCommonFields) {
            if (f.kind == FieldKind::Constant || f.kind == FieldKind::Reserved)
                continue;
            ++fields;
            QCOMPARE(values.value(QString::fromLatin1(f.key)), fieldText(f, shown));
        }
        QCOMPARE(values.size(), fields);

        const QList<ObjectRow> rows = rig.window->objectRows();
        const QJsonArray objects = dump.value(QStringLiteral("objects")).toArray();
        QCOMPARE(dump.value(QStringLiteral("objectCount")).toInt(), int(rows.size()));
        QCOMPARE(objects.size(), rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QJsonObject o = objects.at(i).toObject();
            QCOMPARE(o.value(QStringLiteral("object")).toString(), rows.at(i).Obj);
            QCOMPARE(o.value(QStringLiteral("phone1")).toString(), rows.at(i).P1);
            QCOMPARE(o.value(QStringLiteral("testPeriod")).toInt(), rows.at(i).WaitTest);
            QCOMPARE(o.value(QStringLiteral("typeId")).toInt(), int(rows.at(i).TypeId));
            QCOMPARE(o.value(QStringLiteral("typeName")).toString(), rows.at(i).N_PPK);
        }
    }

    // A file the window's loader refuses gives its message and status 2, and
    // nothing else: no output, no file written.
    void refusedFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message");
        const QString format = QStringLiteral("Формат файла не соответствует типу устройства!");
        const QString fatal = QStringLiteral("Возникла фатальная ошибка. Часть данных не загружена.");
        const QByteArray saved = fileOf(imageOf(validSettings(), siteRows()));
        const QByteArray endsInApn = saved.left(12 + 6 * (CommonField::Apn.address() + 10));
        const QByteArray endsInRecords = saved.left(12 + 6 * 5000);
        const QByteArray raw = rawOf(imageOf(validSettings(), siteRows()));
        for (const char *command : {"dump", "export-csv", "diff", "import-csv", "export-xlsx", "import-xlsx"}) {
            const QString c = QString::fromLatin1(command);
            QTest::addRow("%s: Tranz", command) << QByteArray("TranzP") + saved.mid(6) << c << format;
            QTest::addRow("%s: empty", command) << QByteArray() << c << format;
            QTest::addRow("%s: ends inside the APN", command) << endsInApn << c << fatal;
            QTest::addRow("%s: ends inside the records", command) << endsInRecords << c << fatal;
            if (c != QLatin1String("diff"))
                QTest::addRow("%s: a raw image", command) << raw << c << format;
        }
        QTest::newRow("diff: an image one byte short") << raw.left(kImageSize - 1) << "diff" << format;
    }
    void refusedFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, command);
        QFETCH(QString, message);
        writeFile(path(QStringLiteral("bad.tvc")), file);
        writeFile(path(QStringLiteral("objects.csv")), objectsToCsv(siteRows()));
        QString error;
        writeFile(path(QStringLiteral("objects.xlsx")), objectsToXlsx(siteRows(), &error).value());
        const QByteArray siteBefore = readFile(path(QStringLiteral("объект 5.tvc")));
        QStringList args{command};
        if (command == QLatin1String("diff"))
            args << QStringLiteral("объект 5.tvc") << QStringLiteral("bad.tvc");
        else if (command == QLatin1String("import-csv"))
            args << QStringLiteral("objects.csv") << QStringLiteral("--into") << QStringLiteral("bad.tvc");
        else if (command == QLatin1String("import-xlsx"))
            args << QStringLiteral("objects.xlsx") << QStringLiteral("--into") << QStringLiteral("bad.tvc");
        else if (command == QLatin1String("export-xlsx"))
            args << QStringLiteral("bad.tvc") << QStringLiteral("-o") << QStringLiteral("out.xlsx");
        else
            args << QStringLiteral("bad.tvc");
        const Run r = cli(args);
        QCOMPARE(r.status, 2);
        QCOMPARE(r.errText(), QStringLiteral("tarvil-cli: bad.tvc: ") + message + QLatin1Char('\n'));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(readFile(path(QStringLiteral("bad.tvc"))), file);
        QCOMPARE(readFile(path(QStringLiteral("объект 5.tvc"))), siteBefore);
        QCOMPARE(filesInFolder(), (QStringList{"CentralType.txt", "bad.tvc", "objects.csv", "objects.xlsx", "объект 5.tvc"}));
    }

    void missingFile_saysWhy()
    {
        const Run r = cli({QStringLiteral("dump"), QStringLiteral("none.tvc")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.errText().startsWith(
            QStringLiteral("tarvil-cli: none.tvc: Формат файла не соответствует типу устройства! (")));
    }

    void diff_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const ConfigImage site = imageOf(validSettings(), siteRows());
        QTest::newRow("the same file") << fileOf(site) << fileOf(site) << 0 << "Различий нет\n";
        QTest::newRow("a file and its raw image") << fileOf(site) << rawOf(site) << 0 << "Различий нет\n";

        CommonSettings other = validSettings();
        other.serial = QStringLiteral("12346");
        other.dhcp = 1;
        QTest::newRow("common fields") << fileOf(site) << fileOf(imageOf(other, siteRows())) << 1
                                       << "Общие настройки:\n  DHCP: Выкл. -> Вкл.\n  Заводской номер: 12345 -> 12346\n";

        QList<ObjectRow> rows = siteRows();
        rows[0].P1 = QStringLiteral("+380509999999"); // 00B0
        rows[0].TypeId = 4;
        rows.removeAt(1);                               // 0010
        rows << object("00C0", "333", 1);
        QTest::newRow("objects added, removed and changed")
            << fileOf(site) << fileOf(imageOf(validSettings(), rows)) << 1
            << "Объекты:\n"
               "  - удален объект 0010: ППК 0B02, Телефон 1 +380501111111\n"
               "  ~ изменен объект 00B0:\n"
               "      Телефон 1: +380501234567 -> +380509999999\n"
               "      Код типа: 3 -> 4\n"
               "  + добавлен объект 00C0: ППК 0B02, Телефон 1 333\n";

        QList<ObjectRow> twice = siteRows();
        twice << object("00A0", "444", 5);
        QTest::newRow("a second object of the same number")
            << fileOf(imageOf(validSettings(), twice)) << fileOf(site) << 1
            << "Объекты:\n  - удален объект 00A0 (2-й с этим номером): "
               "ППК 0B02, Телефон 1 444\n";

        ConfigImage reserved = site;
        reserved.set(CommonField::Reserved.address() + 1, 0x5A);
        reserved.set(RecordField::Reserved.address(299) + 4, 0x01);
        QTest::newRow("reserved bytes") << fileOf(site) << rawOf(reserved) << 1
                                        << "Байты без поля:\n  адрес 14097 (запись 299, байт 44): 00 -> 01\n"
                                           "  адрес 14195 (общий блок, байт 95): 00 -> 5A\n";

        // 900 and 959 seconds are both 15 minutes; the image tells them apart.
        ConfigImage seconds = site;
        ConfigImage::writeUnsigned(seconds.record(0) + RecordField::WaitTestSeconds.offset, 4, 959);
        ConfigImage constant = site;
        constant.set(CommonField::Constant9999.address(), 0);
        QTest::newRow("what the window shows alike")
            << rawOf(site) << rawOf(seconds) << 1
            << "Объекты:\n  ~ изменен объект 00B0:\n      Тест, мин.: 15 (84 03 00 00) -> 15 (BF 03 00 00)\n";
        QTest::newRow("the constant") << fileOf(site) << fileOf(constant) << 1
                                      << "Общие настройки:\n  Постоянное значение: 9999 -> 9984\n";
    }
    void diff()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, status);
        QFETCH(QString, text);
        writeFile(path(QStringLiteral("a.tvc")), a);
        writeFile(path(QStringLiteral("b.img")), b);
        const Run r = cli({QStringLiteral("diff"), QStringLiteral("a.tvc"), QStringLiteral("b.img")});
        QCOMPARE(r.errText(), QString());
        QCOMPARE(r.outText(), text);
        QCOMPARE(r.status, status);

        const Run json = cli({QStringLiteral("diff"), QStringLiteral("a.tvc"), QStringLiteral("b.img"),
                              QStringLiteral("--json")});
        QCOMPARE(json.status, status);
        const QJsonObject d = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(d.value(QStringLiteral("same")).toBool(), status == 0);
        QCOMPARE(d.value(QStringLiteral("a")).toString(), QStringLiteral("a.tvc"));
        const int changes = int(d.value(QStringLiteral("common")).toArray().size() +
                                d.value(QStringLiteral("objects")).toArray().size() +
                                d.value(QStringLiteral("bytes")).toArray().size());
        QCOMPARE(changes > 0, status == 1);
    }

    void diff_json_namesFieldsByKey()
    {
        CommonSettings other = validSettings();
        other.apn = QStringLiteral("other.apn");
        writeFile(path(QStringLiteral("b.tvc")), fileOf(imageOf(other, siteRows())));
        const Run r = cli({QStringLiteral("diff"), QStringLiteral("объект 5.tvc"), QStringLiteral("b.tvc"),
                           QStringLiteral("--json")});
        QCOMPARE(r.status, 1);
        const QJsonArray common = QJsonDocument::fromJson(r.out).object().value(QStringLiteral("common")).toArray();
        QCOMPARE(common.size(), 1);
        QCOMPARE(common.at(0).toObject(), (QJsonObject{{"key", "apn"}, {"name", "APN"}, {"a", "internet.provider"},
                                                       {"b", "other.apn"}}));
    }

    void exportCsv_writesTheTableInItsOrder()
    {
        const QByteArray expected =
            "\xEF\xBB\xBF" + QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК\r\n"
                                            "0010;0B02;+380501111111;12;60;77;2;Тип ППК не определен\r\n"
                                            "00A0;0B02;222;12;15;5;2;Контроллер доступа\r\n"
                                            "00B0;0B02;+380501234567;12;15;3;2;Пожарный ППК-2\r\n")
                                 .toUtf8();
        const Run out = cli({QStringLiteral("export-csv"), QStringLiteral("объект 5.tvc")});
        QCOMPARE(out.status, 0);
        QCOMPARE(out.out, expected);

        const Run file = cli({QStringLiteral("export-csv"), QStringLiteral("объект 5.tvc"), QStringLiteral("-o"),
                              QStringLiteral("objects.csv")});
        QCOMPARE(file.status, 0);
        QCOMPARE(readFile(path(QStringLiteral("objects.csv"))), expected);
        QCOMPARE(file.outText(), QStringLiteral("Объектов: 3, записаны в objects.csv\n"));

        const Run json = cli({QStringLiteral("export-csv"), QStringLiteral("объект 5.tvc"), QStringLiteral("--output"),
                              QStringLiteral("again.csv"), QStringLiteral("--json")});
        QCOMPARE(json.status, 0);
        QCOMPARE(QJsonDocument::fromJson(json.out).object(), (QJsonObject{{"file", "again.csv"}, {"objects", 3}}));

        const Run nowhere = cli({QStringLiteral("export-csv"), QStringLiteral("объект 5.tvc"), QStringLiteral("-o"),
                                 QStringLiteral("no/such/folder/x.csv")});
        QCOMPARE(nowhere.status, 2);
        QVERIFY(nowhere.errText().startsWith(QStringLiteral("tarvil-cli: no/such/folder/x.csv: не удалось записать файл")));
    }

    void importCsv_encodings_data()
    {
        QTest::addColumn<QByteArray>("csv");
        const QString text = QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК\r\n"
                                            "00C0;0001;+7900;;30;9;7;Универсальный\r\n"
                                            "0005;0002;+7901;5;0;0;0;\r\n");
        QTest::newRow("UTF-8 with the mark") << "\xEF\xBB\xBF" + text.toUtf8();
        QTest::newRow("UTF-8 without the mark") << text.toUtf8();
        QTest::newRow("code page 1251") << cp1251::encode(text);
    }
    void importCsv_encodings()
    {
        QFETCH(QByteArray, csv);
        writeFile(path(QStringLiteral("in.csv")), csv);
        const QByteArray siteBefore = readFile(path(QStringLiteral("объект 5.tvc")));
        const Run r = cli({QStringLiteral("import-csv"), QStringLiteral("in.csv"), QStringLiteral("--into"),
                           QStringLiteral("объект 5.tvc"), QStringLiteral("-o"), QStringLiteral("new.tvc")});
        QCOMPARE(r.errText(), QString());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.outText(), QStringLiteral("Объектов: 2, записаны в new.tvc\n"));
        QCOMPARE(readFile(path(QStringLiteral("объект 5.tvc"))), siteBefore);

        // The file's settings, the objects of the CSV in the table's order.
        QList<ObjectRow> rows{object("0005", "+7901", 0, 0), object("00C0", "+7900", 9, 30)};
        rows[0].Account = QStringLiteral("0002");
        rows[0].P2 = QStringLiteral("5");
        rows[0].Prot = 0;
        rows[1].Account = QStringLiteral("0001");
        rows[1].P2.clear();
        rows[1].Prot = 7;
        QCOMPARE(readFile(path(QStringLiteral("new.tvc"))), fileOf(imageOf(validSettings(), rows)));
    }

    void importCsv_withFailingLines_writesNothing()
    {
        writeFile(path(QStringLiteral("in.csv")),
                  QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК\n"
                                 "0001;0001;+7900;;1;1;1;\n"
                                 "0002;12;+7900;;1;1;1;\n"
                                 "0003;0001;;;1;1;1;\n"
                                 "0004;0001;+7900;;x;1;300;\n")
                      .toUtf8());
        const QByteArray siteBefore = readFile(path(QStringLiteral("объект 5.tvc")));
        for (const QStringList &target : {QStringList{}, QStringList{QStringLiteral("-o"), QStringLiteral("new.tvc")}}) {
            const Run r = cli(QStringList{QStringLiteral("import-csv"), QStringLiteral("in.csv"), QStringLiteral("--into"),
                                          QStringLiteral("объект 5.tvc")}
                              + target);
            QCOMPARE(r.status, 2);
            QCOMPARE(r.errText(),
                     QStringLiteral("tarvil-cli: in.csv: строка 3, «ППК»: значение изменила электронная таблица: у "
                                    "номера «12» пропали ведущие нули (нужно 4 знака)\n"
                                    "tarvil-cli: in.csv: строка 4, «Телефон 1»: не заполнен: объект без телефона 1 не "
                                    "записывается в трансивер\n"
                                    "tarvil-cli: in.csv: строка 5, «Тест, мин.»: Недопустимое значение поля "
                                    "\"Тест, мин.\": минуты от 0 до 71582788\n"
                                    "tarvil-cli: in.csv: строка 5, «Протокол»: нужно число от 0 до 255\n"
                                    "tarvil-cli: ")
                         + spreadsheetAdvice(SheetFormat::Csv)
                         + QStringLiteral("\ntarvil-cli: in.csv: строк с ошибками: 3; ничего не записано\n"));
            QVERIFY(r.out.isEmpty());
            QCOMPARE(readFile(path(QStringLiteral("объект 5.tvc"))), siteBefore);
            QCOMPARE(filesInFolder(), (QStringList{"CentralType.txt", "in.csv", "объект 5.tvc"}));
        }
        const Run json = cli({QStringLiteral("import-csv"), QStringLiteral("in.csv"), QStringLiteral("--into"),
                              QStringLiteral("объект 5.tvc"), QStringLiteral("--json")});
        QCOMPARE(json.status, 2);
        const QJsonArray problems = QJsonDocument::fromJson(json.out).object().value(QStringLiteral("problems")).toArray();
        QCOMPARE(problems.size(), 4);
        QCOMPARE(problems.at(1).toObject(), (QJsonObject{{"line", 4}, {"column", "Телефон 1"},
                                                         {"reason", "не заполнен: объект без телефона 1 не записывается "
                                                                    "в трансивер"},
                                                         {"spreadsheet", false}}));
        QCOMPARE(problems.at(0).toObject().value(QStringLiteral("spreadsheet")), QJsonValue(true));
    }

    // A list that went through a spreadsheet: the object's phone as the
    // configuration of --into holds it, but for the "+". Refused with the
    // way out; nothing written.
    void import_aPhoneThatLostItsPlus_isRefusedWithTheWayOut_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("advice");
        QTest::newRow("csv") << "in.csv"
                             << QStringLiteral("Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК\n"
                                               "0010;0B02;380501111111;12;60;77;2;\n")
                                    .toUtf8()
                             << spreadsheetAdvice(SheetFormat::Csv);
        QList<ObjectRow> lost{siteRows().at(1)};
        lost[0].P1 = QStringLiteral("380501111111");
        QString error;
        QByteArray workbook = objectsToXlsx(lost, &error).value();
        // As a spreadsheet saves a number: the shared string becomes a value.
        QString sheetError;
        QByteArray sheet = workbook::part(workbook, QStringLiteral("xl/worksheets/sheet1.xml"), &sheetError).value();
        const QRegularExpression phone(QStringLiteral("<c r=\"C2\" s=\"(\\d+)\" t=\"s\"><v>\\d+</v></c>"));
        QVERIFY(sheet.contains(QByteArray("<c r=\"C2\"")));
        sheet = QString::fromUtf8(sheet).replace(phone, QStringLiteral("<c r=\"C2\" s=\"\\1\"><v>380501111111</v></c>")).toUtf8();
        QList<test::ZipEntry> parts = test::workbookParts(sheet, workbook::part(workbook, QStringLiteral("xl/sharedStrings.xml"), &sheetError).value());
        QTest::newRow("xlsx") << "in.xlsx" << test::zipArchive(parts) << spreadsheetAdvice(SheetFormat::Xlsx);
    }
    void import_aPhoneThatLostItsPlus_isRefusedWithTheWayOut()
    {
        QFETCH(QString, list);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, advice);
        writeFile(path(list), bytes);
        const QByteArray siteBefore = readFile(path(QStringLiteral("объект 5.tvc")));
        const QString command = list.endsWith(QLatin1String(".csv")) ? QStringLiteral("import-csv") : QStringLiteral("import-xlsx");
        const Run r = cli({command, list, QStringLiteral("--into"), QStringLiteral("объект 5.tvc"), QStringLiteral("-o"),
                           QStringLiteral("new.tvc")});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.errText(), QStringLiteral("tarvil-cli: %1: строка 2, «Телефон 1»: значение изменила электронная "
                                             "таблица: в конфигурации у этого объекта «+380501111111», здесь "
                                             "«380501111111»: пропал «+»\ntarvil-cli: %2\n"
                                             "tarvil-cli: %1: строк с ошибками: 1; ничего не записано\n")
                                  .arg(list, advice));
        QCOMPARE(readFile(path(QStringLiteral("объект 5.tvc"))), siteBefore);
        QVERIFY(!QFile::exists(path(QStringLiteral("new.tvc"))));
    }

    void exportXlsx_writesAWorkbookTheImportTakesBack()
    {
        const Run r = cli({QStringLiteral("export-xlsx"), QStringLiteral("объект 5.tvc"), QStringLiteral("-o"),
                           QStringLiteral("объекты.xlsx")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.outText(), QStringLiteral("Объектов: 3, записаны в объекты.xlsx\n"));
        const Run json = cli({QStringLiteral("import-xlsx"), QStringLiteral("объекты.xlsx"), QStringLiteral("--into"),
                              QStringLiteral("объект 5.tvc"), QStringLiteral("-o"), QStringLiteral("копия.tvc"),
                              QStringLiteral("--json")});
        QCOMPARE(json.status, 0);
        QCOMPARE(QJsonDocument::fromJson(json.out).object(), (QJsonObject{{"file", "копия.tvc"}, {"objects", 3}}));
        // The same objects as through the CSV, and the same file from them.
        QCOMPARE(cli({QStringLiteral("export-csv"), QStringLiteral("объект 5.tvc"), QStringLiteral("-o"),
                      QStringLiteral("объекты.csv")})
                     .status,
                 0);
        const SheetObjects workbook = readObjectsXlsx(path(QStringLiteral("объекты.xlsx")));
        QVERIFY(workbook.ok() && workbook.rows.size() == 3);
        QCOMPARE(workbook.rows, readObjectsCsv(path(QStringLiteral("объекты.csv"))).rows);
        QCOMPARE(cli({QStringLiteral("import-csv"), QStringLiteral("объекты.csv"), QStringLiteral("--into"),
                      QStringLiteral("объект 5.tvc"), QStringLiteral("-o"), QStringLiteral("через-csv.tvc")})
                     .status,
                 0);
        QCOMPARE(readFile(path(QStringLiteral("копия.tvc"))), readFile(path(QStringLiteral("через-csv.tvc"))));
    }

    void importCsv_intoAFileTheWindowWouldNotWrite_isRefused()
    {
        CommonSettings noApn = validSettings();
        noApn.apn.clear();
        ConfigImage image = imageOf(validSettings(), siteRows());
        ConfigImage::writeText(image.common() + CommonField::Apn.offset, CommonField::Apn.width, QString());
        writeFile(path(QStringLiteral("noapn.tvc")), fileOf(image));
        writeFile(path(QStringLiteral("in.csv")), objectsToCsv(siteRows()));
        const Run r = cli({QStringLiteral("import-csv"), QStringLiteral("in.csv"), QStringLiteral("--into"),
                           QStringLiteral("noapn.tvc")});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.errText(), QStringLiteral("tarvil-cli: noapn.tvc: Не определен APN GPRS - канала\n"));
        QCOMPARE(readFile(path(QStringLiteral("noapn.tvc"))), fileOf(image));
    }

    // Export, then import into the same file: the file holds, byte for byte,
    // what the window builds from it (load, then save).
    void roundTrip_fullConfigurations_matchWhatTheWindowBuilds_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("list");
        const QByteArray tableOrder = fileOf(imageOf(validSettings(), asTableRowsOf(sampleRows(kMaxObjects))));
        QTest::newRow("300 objects in the table's order") << tableOrder << "csv";
        QTest::newRow("300 objects in the table's order, through a workbook") << tableOrder << "xlsx";
        // As a transceiver's image saved after a read: records in any order,
        // A_F and the object's format filled in, reserved bytes set, slots left empty.
        ConfigImage read = imageOf(validSettings(), sampleRows(kMaxObjects));
        for (int k = 0; k < kMaxObjects; ++k) {
            read.record(k)[RecordField::AF.offset] = std::uint8_t(k);
            read.record(k)[RecordField::Frmt.offset] = 1;
            read.record(k)[RecordField::Reserved.offset] = 0xEE;
        }
        read.record(7)[0] = 0; // an empty slot: dropped by the load
        read.set(CommonField::Reserved.address(), 0x77);
        QTest::newRow("300 records as a read leaves them") << fileOf(read) << "csv";
        QTest::newRow("300 records as a read leaves them, through a workbook") << fileOf(read) << "xlsx";
    }
    void roundTrip_fullConfigurations_matchWhatTheWindowBuilds()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, list);
        writeFile(path(QStringLiteral("full.tvc")), file);

        QByteArray windowBuilt;
        {
            ToolRig rig;
            rig.dialogs.openNames.enqueue(path(QStringLiteral("full.tvc")));
            rig.action("ItemLoad")->trigger();
            rig.dialogs.saveNames.enqueue(path(QStringLiteral("window.tvc")));
            rig.action("ItemSave")->trigger();
            QVERIFY(rig.dialogs.messages.isEmpty());
            windowBuilt = readFile(path(QStringLiteral("window.tvc")));
            QCOMPARE(windowBuilt.size(), kConfigFileSize);
        }

        const QString listFile = QStringLiteral("full.") + list;
        const Run exported = cli({QStringLiteral("export-") + list, QStringLiteral("full.tvc"), QStringLiteral("-o"),
                                  listFile});
        QCOMPARE(exported.status, 0);
        const Run imported = cli({QStringLiteral("import-") + list, listFile, QStringLiteral("--into"),
                                  QStringLiteral("full.tvc")});
        QCOMPARE(imported.errText(), QString());
        QCOMPARE(imported.status, 0);
        QCOMPARE(readFile(path(QStringLiteral("full.tvc"))), windowBuilt);
        // Replaced whole: no temporary file left beside it.
        QStringList expected{"CentralType.txt", listFile, "full.tvc", "window.tvc", "объект 5.tvc"};
        expected.sort();
        QCOMPARE(filesInFolder(), expected);

        // And once more: a fixed point.
        const Run again = cli({QStringLiteral("export-") + list, QStringLiteral("full.tvc"), QStringLiteral("-o"),
                               QStringLiteral("again.") + list});
        QCOMPARE(again.status, 0);
        if (list == QLatin1String("csv"))
            QCOMPARE(readFile(path(QStringLiteral("again.csv"))), readFile(path(listFile)));
        else
            QCOMPARE(readObjectsXlsx(path(QStringLiteral("again.xlsx"))).rows, readObjectsXlsx(path(listFile)).rows);
    }

private:
    static QList<ObjectRow> asTableRowsOf(QList<ObjectRow> rows)
    {
        std::reverse(rows.begin(), rows.end());
        return rows;
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
