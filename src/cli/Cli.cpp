#include "cli/Cli.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonDocument>

namespace tarvil::cli {

namespace {

struct OptionDef {
    Option flag;
    QCommandLineOption option;
    const char *help;
};

const QList<OptionDef> &optionDefs()
{
    static const QList<OptionDef> defs{
        {Json, QCommandLineOption(QStringLiteral("json")), "результат одним документом JSON"},
        {Output, QCommandLineOption(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("ФАЙЛ")),
         "записать результат в ФАЙЛ (без него: на стандартный вывод, для import-csv и import-xlsx: в файл --into)"},
        {Into, QCommandLineOption(QStringLiteral("into"), QString(), QStringLiteral("ФАЙЛ")),
         "файл конфигурации, общие настройки которого берутся"},
        {Catalogue, QCommandLineOption(QStringLiteral("catalogue"), QString(), QStringLiteral("ПУТЬ")),
         "каталог типов ППК (без него: CentralType.txt в рабочей папке)"},
        {Lan, QCommandLineOption(QStringLiteral("lan"), QString(), QStringLiteral("АДРЕС")),
         "IP-адрес трансивера в локальной сети"},
        {Usb, QCommandLineOption(QStringLiteral("usb"), QString(), QStringLiteral("УСТРОЙСТВО")),
         "последовательный порт трансивера (COM3, /dev/ttyACM0)"},
        {Verify, QCommandLineOption(QStringLiteral("verify")),
         "после записи прочитать конфигурацию по ЛВС и сравнить с записанной"},
        {Backup, QCommandLineOption(QStringLiteral("backup"), QString(), QStringLiteral("ПАПКА")),
         "перед записью по ЛВС сохранить прежнюю конфигурацию трансивера в ПАПКА/<номер>-<время UTC>.tvc"},
        {Serial, QCommandLineOption(QStringLiteral("serial"), QString(), QStringLiteral("НОМЕР")),
         "только записи трансивера с этим заводским номером"},
        {TimeoutScale, QCommandLineOption(QStringLiteral("timeout-scale"), QString(), QStringLiteral("X")),
         "для проверок: все тайм-ауты связи умножить на X"},
        {UdpPort, QCommandLineOption(QStringLiteral("udp-port"), QString(), QStringLiteral("ПОРТ")),
         "для проверок: UDP-порт вместо 9999 (свой и трансивера)"},
    };
    return defs;
}

const QCommandLineOption &helpOption()
{
    static const QCommandLineOption option(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    return option;
}

QString optionHead(const QCommandLineOption &o)
{
    QStringList names;
    for (const QString &n : o.names())
        names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
    QString head = names.join(QStringLiteral(", "));
    if (!o.valueName().isEmpty())
        head += QLatin1Char(' ') + o.valueName();
    return head;
}

// "[--json] [-o ФАЙЛ]": the options a command takes, as its usage line shows them.
QString usageOptions(const Command &c)
{
    QString text;
    for (const OptionDef &d : optionDefs()) {
        if (!(c.options & d.flag))
            continue;
        const bool required = c.required & d.flag;
        const QString name = d.option.names().first();
        text += QLatin1String(required ? " " : " [") + (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"))
                + name;
        if (!d.option.valueName().isEmpty())
            text += QLatin1Char(' ') + d.option.valueName();
        if (!required)
            text += QLatin1Char(']');
    }
    return text;
}

// The text in lines of at most kWidth columns, each after `indent` blanks.
constexpr int kWidth = 96;
QString wrapped(const QString &text, int indent)
{
    QString out;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > kWidth) {
            out += QString(indent, QLatin1Char(' ')) + line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + QString(indent, QLatin1Char(' ')) + line + QLatin1Char('\n');
}

const Command *findCommand(const QString &name)
{
    for (const Command &c : commands()) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

QString commandHelp(const Command &c)
{
    return QStringLiteral("  %1 %2%3\n").arg(QLatin1String(c.name), QString::fromUtf8(c.arguments),
                                              usageOptions(c))
           + wrapped(QString::fromUtf8(c.help), 6) + QStringLiteral("      пример: %1\n").arg(QString::fromUtf8(c.example));
}

int badArguments(QTextStream &err, const QString &message)
{
    err << "tarvil-cli: " << message << "\nСправка: tarvil-cli --help\n" << Qt::flush;
    return Refused;
}

} // namespace

Context::Context(QFile &stdOut, QTextStream &err) : stdOut_(stdOut), out_(&stdOut), err_(err) {}

void Context::writeJson(const QJsonObject &document)
{
    out_ << QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)) << Qt::flush;
}

void Context::writeBytes(const QByteArray &bytes)
{
    out_.flush();
    stdOut_.write(bytes);
    stdOut_.flush();
}

int Context::refuse(const QString &subject, const QString &message)
{
    err_ << "tarvil-cli: ";
    if (!subject.isEmpty())
        err_ << subject << ": ";
    err_ << message << '\n' << Qt::flush;
    return Refused;
}

const PanelTypeCatalogue *Context::catalogue()
{
    if (catalogue_ || catalogueFailed_)
        return catalogue_.get();
    const QString path = cataloguePath.isEmpty() ? QStringLiteral("CentralType.txt") : cataloguePath;
    // As in the window, a missing CentralType.txt is an empty catalogue; a
    // catalogue asked for by name must be there.
    if (!cataloguePath.isEmpty() && !QFileInfo(path).isFile()) {
        catalogueFailed_ = true;
        refuse(path, QStringLiteral("каталог типов ППК не найден"));
        return nullptr;
    }
    catalogue_ = std::make_unique<PanelTypeCatalogue>();
    const QString error = catalogue_->LoadCatalogue(path);
    if (!error.isEmpty())
        err_ << "tarvil-cli: " << path << ": " << error << '\n' << Qt::flush;
    return catalogue_.get();
}

QString helpText()
{
    QString text = QStringLiteral(
        "Использование: tarvil-cli КОМАНДА АРГУМЕНТЫ [ПАРАМЕТРЫ]\n"
        "\n"
        "Трансивер \"Тарвил-QZT\" и его файлы конфигурации (*.tvc) без окна программы. С файлами:\n"
        "что в файле, чем различаются два файла, список объектов в CSV или .xlsx и обратно.\n"
        "С трансивером: чтение конфигурации по ЛВС, запись файла по ЛВС или USB с проверкой, порты,\n"
        "журнал записей и чтений, журнал трансиверов.\n"
        "Результат - на стандартный вывод, сообщения - на стандартный вывод ошибок.\n"
        "\n"
        "Команды:\n");
    for (const Command &c : commands())
        text += commandHelp(c);
    text += QStringLiteral("\nПараметры:\n");
    for (const OptionDef &d : optionDefs())
        text += QStringLiteral("  %1\n").arg(optionHead(d.option)) + wrapped(QString::fromUtf8(d.help), 6);
    text += QStringLiteral("  -h, --help\n      эта справка; КОМАНДА --help: справка по команде\n");
    text += QStringLiteral(
        "\nКоды завершения:\n"
        "  0  выполнено, или различий нет\n"
        "  1  найдены различия\n"
        "  2  неверные аргументы, или входные данные отвергнуты\n"
        "  3  трансивер не ответил, или связь прервалась\n");
    return text;
}

int run(const QStringList &arguments, QFile &stdOut, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionDef &d : optionDefs())
        parser.addOption(d.option);
    parser.addOption(helpOption());
    if (!parser.parse(arguments))
        return badArguments(err, parser.errorText());

    Context context(stdOut, err);
    QStringList positional = parser.positionalArguments();
    const Command *command = positional.isEmpty() ? nullptr : findCommand(positional.first());
    if (parser.isSet(helpOption())) {
        context.out() << (command ? QStringLiteral("Использование:\n") + commandHelp(*command) : helpText())
                      << Qt::flush;
        return Done;
    }
    if (positional.isEmpty())
        return badArguments(err, QStringLiteral("не указана команда"));
    if (!command)
        return badArguments(err, QStringLiteral("нет команды \"%1\"").arg(positional.first()));
    positional.removeFirst();

    for (const OptionDef &d : optionDefs()) {
        if (!parser.isSet(d.option))
            continue;
        if (!(command->options & d.flag))
            return badArguments(err, QStringLiteral("команда %1 не принимает %2")
                                         .arg(QLatin1String(command->name), optionHead(d.option)));
        if (!d.option.valueName().isEmpty() && parser.values(d.option).size() > 1)
            return badArguments(err, QStringLiteral("%1 указан больше одного раза").arg(optionHead(d.option)));
        if (!d.option.valueName().isEmpty() && parser.value(d.option).isEmpty())
            return badArguments(err, QStringLiteral("%1: пустое значение").arg(optionHead(d.option)));
    }
    for (const OptionDef &d : optionDefs()) {
        if ((command->required & d.flag) && !parser.isSet(d.option))
            return badArguments(err, QStringLiteral("команде %1 нужен %2")
                                         .arg(QLatin1String(command->name), optionHead(d.option)));
    }
    if (positional.size() < command->minArgs || positional.size() > command->maxArgs)
        return badArguments(err, QStringLiteral("неверное число аргументов; нужно: %1 %2")
                                     .arg(QLatin1String(command->name), QString::fromUtf8(command->arguments)));

    context.args = positional;
    const auto valueOf = [&](Option flag) {
        for (const OptionDef &d : optionDefs()) {
            if (d.flag == flag)
                return parser.value(d.option);
        }
        return QString();
    };
    context.json = parser.isSet(optionDefs().at(0).option);
    context.output = valueOf(Output);
    context.into = valueOf(Into);
    context.cataloguePath = valueOf(Catalogue);
    context.lan = valueOf(Lan);
    context.usb = valueOf(Usb);
    context.verify = parser.isSet(optionDefs().at(6).option);
    context.backup = valueOf(Backup);
    context.serial = valueOf(Serial);
    if (parser.isSet(optionDefs().at(9).option)) {
        bool ok = false;
        context.timeoutScale = valueOf(TimeoutScale).toDouble(&ok);
        if (!ok || context.timeoutScale <= 0 || context.timeoutScale > 100)
            return badArguments(err, QStringLiteral("--timeout-scale: нужно число больше 0"));
    }
    if (parser.isSet(optionDefs().at(10).option)) {
        bool ok = false;
        context.udpPort = valueOf(UdpPort).toInt(&ok);
        if (!ok || context.udpPort <= 0 || context.udpPort > 65535)
            return badArguments(err, QStringLiteral("--udp-port: нужен номер порта 1..65535"));
    }
    return command->run(context);
}

} // namespace tarvil::cli
