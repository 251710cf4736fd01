#include "files/ObjectCsv.h"

#include "model/Codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <optional>

namespace tarvil {

namespace {

constexpr QChar kSeparator = QLatin1Char(';');
constexpr QChar kQuote = QLatin1Char('"');
const QByteArray kByteOrderMark("\xEF\xBB\xBF");

QString quoted(const QString &value)
{
    if (!value.contains(kSeparator) && !value.contains(kQuote) && !value.contains(QLatin1Char('\r'))
        && !value.contains(QLatin1Char('\n')))
        return value;
    QString out = value;
    out.replace(kQuote, QStringLiteral("\"\""));
    return kQuote + out + kQuote;
}

struct Tokens {
    QList<SheetRow> records;
    std::optional<SheetProblem> unclosed; // a quote that runs to the end of the file
};

Tokens tokenize(const QString &text)
{
    Tokens out;
    SheetRow record{1, {}, {}};
    QString field;
    int line = 1;
    bool inQuotes = false;
    bool afterQuote = false; // a quoted field has closed; only ";" or a line end may follow
    bool any = false;        // the record holds something
    const auto endRecord = [&] {
        record.fields << field;
        out.records << record;
        field.clear();
        record = SheetRow{line, {}, {}};
        afterQuote = false;
        any = false;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const bool lineEnd = c == QLatin1Char('\r') || c == QLatin1Char('\n');
        const bool crlf = c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n');
        if (inQuotes) {
            if (c == kQuote) {
                if (i + 1 < n && text.at(i + 1) == kQuote) {
                    field += kQuote;
                    ++i;
                } else {
                    inQuotes = false;
                    afterQuote = true;
                }
                continue;
            }
            if (lineEnd) {
                field += crlf ? QStringLiteral("\r\n") : QString(c);
                i += crlf ? 1 : 0;
                ++line;
                continue;
            }
            field += c;
            continue;
        }
        if (c == kSeparator) {
            record.fields << field;
            field.clear();
            afterQuote = false;
            any = true;
            continue;
        }
        if (lineEnd) {
            i += crlf ? 1 : 0;
            ++line;
            endRecord();
            continue;
        }
        any = true;
        if (c == kQuote && field.isEmpty() && !afterQuote) {
            inQuotes = true;
            continue;
        }
        if (record.fault.isEmpty()) {
            if (afterQuote)
                record.fault = QStringLiteral("после закрывающей кавычки должен идти знак «;»");
            else if (c == kQuote)
                record.fault = QStringLiteral("кавычка внутри поля без кавычек");
        }
        field += c;
    }
    if (inQuotes) {
        out.unclosed = SheetProblem{record.line, QString(), QStringLiteral("кавычки не закрыты до конца файла")};
        return out;
    }
    if (any || !field.isEmpty() || afterQuote)
        endRecord();
    return out;
}

// The text of the file: UTF-8 when it has the mark or reads as UTF-8,
// otherwise code page 1251.
std::optional<QString> decodeText(const QByteArray &bytes, SheetProblem *problem)
{
    const bool marked = bytes.startsWith(kByteOrderMark);
    const QByteArray body = marked ? bytes.mid(kByteOrderMark.size()) : bytes;
    if (const qsizetype zero = body.indexOf('\0'); zero >= 0) {
        *problem = SheetProblem{int(body.left(zero).count('\n')) + 1, QString(),
                              QStringLiteral("нулевой байт: это не текстовый файл")};
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    if (marked) {
        *problem = SheetProblem{0, QString(), QStringLiteral("файл с меткой UTF-8 содержит байты не в UTF-8")};
        return std::nullopt;
    }
    return cp1251::decode(body);
}

} // namespace

QByteArray objectsToCsv(const QList<ObjectRow> &rows)
{
    QString text = objectSheetHeader().join(kSeparator) + QStringLiteral("\r\n");
    for (const ObjectRow &row : rows) {
        QStringList fields;
        for (const QString &value : objectSheetValues(row))
            fields << quoted(value);
        text += fields.join(kSeparator) + QStringLiteral("\r\n");
    }
    return kByteOrderMark + text.toUtf8();
}

SheetObjects objectsFromCsv(const QByteArray &bytes, const QList<ObjectRow> *current)
{
    SheetObjects out;
    SheetProblem problem;
    const std::optional<QString> text = decodeText(bytes, &problem);
    if (!text) {
        out.problems << problem;
        return out;
    }
    const Tokens tokens = tokenize(*text);
    if (tokens.records.isEmpty() && tokens.unclosed) {
        out.problems << *tokens.unclosed;
        return out;
    }
    out = checkObjectSheet(tokens.records, SheetFormat::Csv, current);
    if (tokens.unclosed) {
        out.problems << *tokens.unclosed;
        out.rows.clear();
    }
    return out;
}

SheetObjects readObjectsCsv(const QString &path, const QList<ObjectRow> *current)
{
    SheetObjects out;
    // A folder, a pipe or a device is no list, and reading one could wait forever.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        out.problems << SheetProblem{0, QString(), QStringLiteral("это не обычный файл")};
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.problems << SheetProblem{0, QString(), QStringLiteral("файл не прочитан: %1").arg(file.errorString())};
        return out;
    }
    const QByteArray bytes = file.read(kMaxObjectCsvBytes + 1);
    if (bytes.size() > kMaxObjectCsvBytes) {
        out.problems << SheetProblem{0, QString(),
                                     QStringLiteral("файл больше %1 МБ: это не список объектов")
                                         .arg(kMaxObjectCsvBytes / (qint64(1024) * 1024))};
        return out;
    }
    return objectsFromCsv(bytes, current);
}

} // namespace tarvil
