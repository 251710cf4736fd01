#include "files/ObjectCsv.h"

#include "model/Codepage.h"
#include "model/ConfigImage.h"
#include "model/ImageLayout.h"
#include "model/ObjectRules.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <array>
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

// One record of the file: the line it starts on, its fields, and what is
// wrong with its quoting.
struct Record {
    int line = 0;
    QStringList fields;
    QString fault;
};

struct Tokens {
    QList<Record> records;
    std::optional<CsvProblem> unclosed; // a quote that runs to the end of the file
};

Tokens tokenize(const QString &text)
{
    Tokens out;
    Record record{1, {}, {}};
    QString field;
    int line = 1;
    bool inQuotes = false;
    bool afterQuote = false; // a quoted field has closed; only ";" or a line end may follow
    bool any = false;        // the record holds something
    const auto endRecord = [&] {
        record.fields << field;
        out.records << record;
        field.clear();
        record = Record{line, {}, {}};
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
        out.unclosed = CsvProblem{record.line, QString(), QStringLiteral("кавычки не закрыты до конца файла")};
        return out;
    }
    if (any || !field.isEmpty() || afterQuote)
        endRecord();
    return out;
}

// The text of the file: UTF-8 when it has the mark or reads as UTF-8,
// otherwise code page 1251.
std::optional<QString> decodeText(const QByteArray &bytes, CsvProblem *problem)
{
    const bool marked = bytes.startsWith(kByteOrderMark);
    const QByteArray body = marked ? bytes.mid(kByteOrderMark.size()) : bytes;
    if (const qsizetype zero = body.indexOf('\0'); zero >= 0) {
        *problem = CsvProblem{int(body.left(zero).count('\n')) + 1, QString(),
                              QStringLiteral("нулевой байт: это не текстовый файл")};
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    if (marked) {
        *problem = CsvProblem{0, QString(), QStringLiteral("файл с меткой UTF-8 содержит байты не в UTF-8")};
        return std::nullopt;
    }
    return cp1251::decode(body);
}

QString title(const ObjectColumn &c) { return c.csvName(); }

// What the record holds of the field, as the window shows it: the low byte of
// a type, a text cut to its width.
QString recordText(const Field &field, const ObjectRow &row)
{
    std::array<std::uint8_t, kRecordSize> bytes{};
    encodeField(field, row, bytes.data());
    ObjectRow held;
    decodeField(field, bytes.data(), held);
    return fieldText(field, held);
}

// The checks of one line, every failing field reported; the row when none fails.
std::optional<ObjectRow> checkLine(const Record &r, QList<CsvProblem> &problems)
{
    const auto fail = [&](const ObjectColumn *column, const QString &reason) {
        problems << CsvProblem{r.line, column ? title(*column) : QString(), reason};
    };
    const std::span<const ObjectColumn> columns = objectColumns();
    if (r.fields.size() != qsizetype(columns.size())) {
        fail(nullptr, QStringLiteral("столбцов %1, а должно быть %2").arg(r.fields.size()).arg(int(columns.size())));
        return std::nullopt;
    }
    const qsizetype before = problems.size();
    ObjectRow row;
    for (size_t i = 0; i < columns.size(); ++i) {
        const ObjectColumn &column = columns[i];
        if (!column.record)
            continue; // the type's name, written for people
        const QString value = r.fields.at(qsizetype(i)).trimmed();
        if (const QString reason = importRefusal(column, value); !reason.isEmpty())
            fail(&column, reason);
        else
            setFieldText(*column.record, row, value);
    }
    if (!r.fault.isEmpty())
        fail(nullptr, r.fault);
    if (problems.size() != before)
        return std::nullopt;
    return row;
}

bool allEmpty(const Record &r)
{
    for (const QString &f : r.fields) {
        if (!f.trimmed().isEmpty())
            return false;
    }
    return r.fault.isEmpty();
}

} // namespace

QStringList objectCsvHeader()
{
    QStringList header;
    for (const ObjectColumn &c : objectColumns())
        header << title(c);
    return header;
}

QByteArray objectsToCsv(const QList<ObjectRow> &rows)
{
    QString text = objectCsvHeader().join(kSeparator) + QStringLiteral("\r\n");
    for (const ObjectRow &row : rows) {
        QStringList fields;
        for (const ObjectColumn &c : objectColumns())
            fields << quoted(c.record ? recordText(*c.record, row) : row.N_PPK);
        text += fields.join(kSeparator) + QStringLiteral("\r\n");
    }
    return kByteOrderMark + text.toUtf8();
}

QString CsvProblem::text() const
{
    if (line <= 0)
        return reason;
    if (column.isEmpty())
        return QStringLiteral("строка %1: %2").arg(line).arg(reason);
    return QStringLiteral("строка %1, «%2»: %3").arg(line).arg(column, reason);
}

CsvObjects objectsFromCsv(const QByteArray &bytes)
{
    CsvObjects out;
    CsvProblem problem;
    const std::optional<QString> text = decodeText(bytes, &problem);
    if (!text) {
        out.problems << problem;
        return out;
    }
    const Tokens tokens = tokenize(*text);
    const QStringList header = objectCsvHeader();
    if (tokens.records.isEmpty()) {
        out.problems << (tokens.unclosed ? *tokens.unclosed
                                         : CsvProblem{1, QString(),
                                                      QStringLiteral("файл пуст: нет строки заголовка")});
        return out;
    }
    const Record &head = tokens.records.first();
    QStringList given;
    for (const QString &f : head.fields)
        given << f.trimmed();
    if (given != header) {
        out.problems << CsvProblem{head.line, QString(),
                                   QStringLiteral("заголовок должен быть «%1»").arg(header.join(kSeparator))};
        return out;
    }

    QList<ObjectRow> rows;
    bool overLimit = false;
    int objects = 0;
    for (qsizetype i = 1; i < tokens.records.size(); ++i) {
        const Record &r = tokens.records.at(i);
        if (allEmpty(r))
            continue;
        if (++objects > kMaxObjects && !overLimit) {
            overLimit = true;
            out.problems << CsvProblem{r.line, QString(), limitMessage().text};
        }
        if (const auto row = checkLine(r, out.problems))
            rows << *row;
    }
    if (tokens.unclosed)
        out.problems << *tokens.unclosed;
    if (out.problems.isEmpty())
        out.rows = rows;
    return out;
}

CsvObjects readObjectsCsv(const QString &path)
{
    CsvObjects out;
    // A folder, a pipe or a device is no list, and reading one could wait forever.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        out.problems << CsvProblem{0, QString(), QStringLiteral("это не обычный файл")};
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.problems << CsvProblem{0, QString(), QStringLiteral("файл не прочитан: %1").arg(file.errorString())};
        return out;
    }
    const QByteArray bytes = file.read(kMaxObjectCsvBytes + 1);
    if (bytes.size() > kMaxObjectCsvBytes) {
        out.problems << CsvProblem{0, QString(),
                                   QStringLiteral("файл больше %1 МБ: это не список объектов")
                                       .arg(kMaxObjectCsvBytes / (qint64(1024) * 1024))};
        return out;
    }
    return objectsFromCsv(bytes);
}

QString describeProblems(const QList<CsvProblem> &problems, int lines)
{
    QStringList out;
    QSet<int> shown;
    for (const CsvProblem &p : problems) {
        if (!shown.contains(p.line)) {
            if (shown.size() == lines)
                break;
            shown.insert(p.line);
        }
        out << p.text();
    }
    return out.join(QLatin1Char('\n'));
}

} // namespace tarvil
