// The commands of tarvil-cli. A new command is a function here and an entry
// in kCommands.
#include "cli/Cli.h"
#include "cli/DeviceCommands.h"
#include "cli/RegisterCommand.h"

#include "files/ConfigReport.h"
#include "files/Configuration.h"
#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"
#include "model/ObjectTable.h"
#include "model/WriteChecks.h"

#include <QJsonArray>
#include <QSaveFile>

namespace tarvil::cli {

namespace {

// A configuration file, or a raw image where `rawImages`; nothing, with its
// message printed, when it is refused.
std::optional<Configuration> open(Context &c, const QString &path, bool rawImages)
{
    const PanelTypeCatalogue *catalogue = c.catalogue();
    if (!catalogue)
        return std::nullopt;
    OpenResult r = rawImages ? openConfiguration(path, *catalogue) : openConfigFile(path, *catalogue);
    if (r.status != LoadStatus::Ok) {
        c.refuse(path, r.reason.isEmpty() ? r.message.text : r.message.text + QStringLiteral(" (") + r.reason
                                                                 + QLatin1Char(')'));
        return std::nullopt;
    }
    return std::move(r.config);
}

bool save(Context &c, const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        c.refuse(path, QStringLiteral("не удалось записать файл: %1").arg(file.errorString()));
        return false;
    }
    return true;
}

// "Объектов: N, записаны в FILE", or its JSON.
int objectsWritten(Context &c, const QString &file, int objects)
{
    if (c.json)
        c.writeJson({{QStringLiteral("file"), file}, {QStringLiteral("objects"), objects}});
    else
        c.out() << QStringLiteral("Объектов: %1, записаны в %2\n").arg(objects).arg(file) << Qt::flush;
    return Done;
}

int dump(Context &c)
{
    const QString path = c.args.at(0);
    const auto config = open(c, path, false);
    if (!config)
        return Refused;
    if (c.json) {
        QJsonObject document = dumpJson(*config);
        document.insert(QStringLiteral("file"), path);
        c.writeJson(document);
    } else {
        c.out() << dumpText(*config) << Qt::flush;
    }
    return Done;
}

int diff(Context &c)
{
    const auto a = open(c, c.args.at(0), true);
    if (!a)
        return Refused;
    const auto b = open(c, c.args.at(1), true);
    if (!b)
        return Refused;
    const ConfigDiff d = diffConfigurations(*a, *b);
    if (c.json) {
        QJsonObject document = diffJson(d);
        document.insert(QStringLiteral("a"), c.args.at(0));
        document.insert(QStringLiteral("b"), c.args.at(1));
        c.writeJson(document);
    } else {
        c.out() << diffText(d) << Qt::flush;
    }
    return d.same() ? Done : Differences;
}

int exportCsv(Context &c)
{
    if (c.json && c.output.isEmpty())
        return c.refuse(QString(), QStringLiteral("CSV идет на стандартный вывод; --json нужен вместе с -o"));
    const QString path = c.args.at(0);
    const auto config = open(c, path, false);
    if (!config)
        return Refused;
    const QByteArray csv = objectsToCsv(config->rows);
    if (c.output.isEmpty()) {
        c.writeBytes(csv);
        return Done;
    }
    if (!save(c, c.output, csv))
        return Refused;
    return objectsWritten(c, c.output, int(config->rows.size()));
}

int exportXlsx(Context &c)
{
    const QString path = c.args.at(0);
    const auto config = open(c, path, false);
    if (!config)
        return Refused;
    QString error;
    const std::optional<QByteArray> workbook = objectsToXlsx(config->rows, &error);
    if (!workbook)
        return c.refuse(c.output, error);
    if (!save(c, c.output, *workbook))
        return Refused;
    return objectsWritten(c, c.output, int(config->rows.size()));
}

using SheetReader = SheetObjects (*)(const QString &path, const QList<ObjectRow> *current);

// import-csv and import-xlsx: the objects of the list into the configuration
// of --into, whose objects tell a phone that a spreadsheet changed.
int importObjects(Context &c, SheetReader readSheet)
{
    const QString listPath = c.args.at(0);
    const auto config = open(c, c.into, false);
    if (!config)
        return Refused;
    const SheetObjects list = readSheet(listPath, &config->rows);
    if (!list.ok()) {
        for (const SheetProblem &p : list.problems)
            c.err() << "tarvil-cli: " << listPath << ": " << p.text() << '\n';
        if (const QString advice = list.advice(); !advice.isEmpty())
            c.err() << "tarvil-cli: " << advice << '\n';
        c.err() << "tarvil-cli: " << listPath << ": "
                << QStringLiteral("строк с ошибками: %1; ничего не записано").arg(list.failingRows()) << '\n'
                << Qt::flush;
        if (c.json) {
            QJsonArray problems;
            for (const SheetProblem &p : list.problems)
                problems.append(QJsonObject{{QStringLiteral("line"), p.line},
                                            {QStringLiteral("column"), p.column},
                                            {QStringLiteral("reason"), p.reason},
                                            {QStringLiteral("spreadsheet"), p.spreadsheet}});
            c.writeJson({{QStringLiteral("file"), QJsonValue()}, {QStringLiteral("problems"), problems}});
        }
        return Refused;
    }
    // The rows as the table would sort them, the common settings as a fresh
    // window loads them from the file, built as its "Сохранить" builds them.
    const BuiltConfig built = buildConfiguration(config->settings, asTableRows(list.rows, *c.catalogue()));
    if (built.refused)
        return c.refuse(c.into, built.refused->text);
    const QString target = c.output.isEmpty() ? c.into : c.output;
    QString error;
    if (!saveConfigFile(target, built.packets, &error))
        return c.refuse(target, QStringLiteral("не удалось записать файл: %1").arg(error));
    return objectsWritten(c, target, int(list.rows.size()));
}

int importCsv(Context &c) { return importObjects(c, readObjectsCsv); }
int importXlsx(Context &c) { return importObjects(c, readObjectsXlsx); }

const Command kCommands[] = {
    {"dump", "ФАЙЛ", "что покажет окно после загрузки файла: общие настройки и таблица объектов",
     "tarvil-cli dump 12345.tvc", Json | Catalogue, 0, 1, 1, dump},
    {"diff", "A B",
     "различия двух конфигураций (файлов .tvc или образов по 14 202 байта): поля, объекты, байты резерва; "
     "код 1, если они есть",
     "tarvil-cli diff 12345-до.tvc 12345-после.tvc", Json | Catalogue, 0, 2, 2, diff},
    {"export-csv", "ФАЙЛ", "объекты файла в CSV (UTF-8, разделитель \";\") для электронной таблицы",
     "tarvil-cli export-csv 12345.tvc -o объекты.csv", Json | Output | Catalogue, 0, 1, 1, exportCsv},
    {"import-csv", "CSV", "файл конфигурации с общими настройками файла --into и объектами из CSV; без -o файл "
     "--into заменяется; при ошибке в любой строке ничего не записывается",
     "tarvil-cli import-csv объекты.csv --into 12345.tvc -o 12345-новый.tvc", Json | Output | Into | Catalogue, Into,
     1, 1, importCsv},
    {"export-xlsx", "ФАЙЛ", "объекты файла в книгу .xlsx для Excel и LibreOffice: столбцы номеров и телефонов "
     "текстовые, так что таблица не теряет «+» и ведущие нули",
     "tarvil-cli export-xlsx 12345.tvc -o объекты.xlsx", Json | Output | Catalogue, Output, 1, 1, exportXlsx},
    {"import-xlsx", "XLSX", "файл конфигурации с общими настройками файла --into и объектами из книги .xlsx (лист "
     "«Объекты» или первый); без -o файл --into заменяется; при ошибке в любой строке ничего не записывается",
     "tarvil-cli import-xlsx объекты.xlsx --into 12345.tvc -o 12345-новый.tvc", Json | Output | Into | Catalogue,
     Into, 1, 1, importXlsx},
    {"read", "", "прочитать конфигурацию трансивера по ЛВС, сохранить её, как сохраняет окно (без -o: <номер>.tvc), "
     "и показать", "tarvil-cli read --lan 192.168.1.221 -o до-визита.tvc",
     Lan | Output | Json | Catalogue | TimeoutScale | UdpPort, Lan, 0, 0, readCommand},
    {"write", "ФАЙЛ", "записать файл конфигурации в трансивер по ЛВС или USB; с --verify прочитать и сравнить; "
     "с --backup сначала сохранить прежнюю", "tarvil-cli write 12345.tvc --lan 192.168.1.221 --verify --backup копии",
     Lan | Usb | Verify | Backup | Json | Catalogue | TimeoutScale | UdpPort, 0, 1, 1, writeCommand},
    {"verify", "ФАЙЛ", "прочитать трансивер по ЛВС и сравнить с файлом; код 1 при различиях",
     "tarvil-cli verify 12345.tvc --lan 192.168.1.221", Lan | Json | Catalogue | TimeoutScale | UdpPort, Lan, 1, 1,
     verifyCommand},
    {"ports", "", "последовательные порты, их адаптеры USB с задержкой ответа и права доступа", "tarvil-cli ports", Json, 0, 0, 0, portsCommand},
    {"journal", "", "журнал записей и чтений, новые сначала", "tarvil-cli journal --serial 12345", Json | Serial, 0, 0, 0,
     journalCommand},
    {"register", "", "журнал трансиверов: по одной строке на заводской номер (последняя запись, последнее чтение, "
     "число записей), последние действия сначала; с --serial ещё история трансивера",
     "tarvil-cli register --serial 12345", Json | Serial, 0, 0, 0, registerCommand},
};

} // namespace

std::span<const Command> commands() { return kCommands; }

} // namespace tarvil::cli
