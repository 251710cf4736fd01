#include "files/ObjectCsv.h"

#include "model/Codepage.h"
#include "model/ConfigImage.h"
#include "model/ImageLayout.h"
#include "model/ObjectTable.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <array>
#include <iterator>
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

bool isHexNumber(const QString &s, int width)
{
    if (s.size() != width)
        return false;
    for (QChar c : s) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

bool isPhone(const QString &s)
{
    if (s.size() > kPhoneWidth)
        return false;
    for (QChar c : s) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')))
            return false;
    }
    return true;
}

// The checks of a column's value: nothing when it passes, else the reason.
// The store's own checks come first, with its own words.
using Check = QString (*)(const QString &);

QString hexRule() { return QStringLiteral("нужны ровно %1 символа: цифры 0–9 и буквы A–F").arg(kObjWidth); }
QString phoneRule() { return QStringLiteral("не более %1 символов: цифры и «+»").arg(kPhoneWidth); }

QString checkObject(const QString &v)
{
    if (v.size() < kObjWidth)
        return ObjectTable::noObjectNumberText();
    return isHexNumber(v, kObjWidth) ? QString() : hexRule();
}

QString checkAccount(const QString &v)
{
    if (v.size() < kAccountWidth)
        return ObjectTable::noAccountText();
    return isHexNumber(v, kAccountWidth) ? QString() : hexRule();
}

QString checkPhone1(const QString &v)
{
    // A record without phone 1 is an empty slot: the object would be lost.
    if (v.isEmpty())
        return QStringLiteral("не заполнен: объект без телефона 1 не записывается в трансивер");
    return isPhone(v) ? QString() : phoneRule();
}

QString checkPhone2(const QString &v) { return isPhone(v) ? QString() : phoneRule(); }

QString checkMinutes(const QString &v)
{
    if (parseWaitTest(v))
        return {};
    return ObjectTable::badWaitTestText() + QStringLiteral(": минуты от 0 до %1").arg(kMaxWaitTestMinutes);
}

QString checkByte(const QString &v)
{
    const auto value = parseDecimal(v);
    return value && *value <= 255 ? QString() : QStringLiteral("нужно число от 0 до 255");
}

// The columns in their order, each bound to its field of the record. The
// titles are the grid's and the record edits' own words.
struct Column {
    const char16_t *title;
    const Field *field; // none: the type's name, written for people
    Check check;
};

const Column kColumns[] = {
    {u"Объект", &RecordField::Obj, checkObject},
    {u"ППК", &RecordField::Account, checkAccount},
    {u"Телефон 1", &RecordField::Phone1, checkPhone1},
    {u"Телефон 2", &RecordField::Phone2, checkPhone2},
    {u"Тест, мин.", &RecordField::WaitTestSeconds, checkMinutes},
    {u"Код типа", &RecordField::TypeId, checkByte},
    {u"Протокол", &RecordField::Prot, checkByte},
    {u"Тип ППК", nullptr, nullptr},
};
constexpr int kColumnCount = int(std::size(kColumns));

QString title(const Column &c) { return QString::fromUtf16(c.title); }

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
    const auto fail = [&](const Column *column, const QString &reason) {
        problems << CsvProblem{r.line, column ? title(*column) : QString(), reason};
    };
    if (r.fields.size() != kColumnCount) {
        fail(nullptr, QStringLiteral("столбцов %1, а должно быть %2").arg(r.fields.size()).arg(kColumnCount));
        return std::nullopt;
    }
    const qsizetype before = problems.size();
    ObjectRow row;
    for (int i = 0; i < kColumnCount; ++i) {
        const Column &column = kColumns[i];
        if (!column.field)
            continue;
        const QString value = r.fields.at(i).trimmed();
        if (const QString reason = column.check(value); !reason.isEmpty())
            fail(&column, reason);
        else
            setFieldText(*column.field, row, value);
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
    for (const Column &c : kColumns)
        header << title(c);
    return header;
}

QByteArray objectsToCsv(const QList<ObjectRow> &rows)
{
    QString text = objectCsvHeader().join(kSeparator) + QStringLiteral("\r\n");
    for (const ObjectRow &row : rows) {
        QStringList fields;
        for (const Column &c : kColumns)
            fields << quoted(c.field ? recordText(*c.field, row) : row.N_PPK);
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
            out.problems << CsvProblem{r.line, QString(), ObjectTable::limitMessage().text};
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
