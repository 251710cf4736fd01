#include "files/ObjectCsv.h"

#include "model/Codepage.h"
#include "model/ConfigImage.h"
#include "model/ImageLayout.h"
#include "model/ObjectTable.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <optional>

namespace tarvil {

namespace {

constexpr QChar kSeparator = QLatin1Char(';');
constexpr QChar kQuote = QLatin1Char('"');
const QByteArray kByteOrderMark("\xEF\xBB\xBF");

// The columns in their order. The header's titles are the grid's and the
// record edits' own words.
enum Column { Obj, Account, Phone1, Phone2, WaitTest, TypeId, Prot, TypeName, ColumnCount };

const QString &title(int column)
{
    static const QStringList titles{QStringLiteral("Объект"),    QStringLiteral("ППК"),
                                    QStringLiteral("Телефон 1"), QStringLiteral("Телефон 2"),
                                    QStringLiteral("Тест, мин."), QStringLiteral("Код типа"),
                                    QStringLiteral("Протокол"),  QStringLiteral("Тип ППК")};
    return titles.at(column);
}

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

bool isHexNumber(const QString &s)
{
    if (s.size() != kObjWidth)
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

std::optional<std::int16_t> byteValue(const QString &s)
{
    const auto value = parseDecimal(s);
    if (!value || *value > 255)
        return std::nullopt;
    return std::int16_t(*value);
}

// The checks of one line, every failing field reported; the row when none fails.
std::optional<ObjectRow> checkLine(const Record &r, QList<CsvProblem> &problems)
{
    const auto fail = [&](int column, const QString &reason) {
        problems << CsvProblem{r.line, column < 0 ? QString() : title(column), reason};
    };
    if (r.fields.size() != ColumnCount) {
        fail(-1, QStringLiteral("столбцов %1, а должно быть %2").arg(r.fields.size()).arg(int(ColumnCount)));
        return std::nullopt;
    }
    QStringList v;
    for (const QString &f : r.fields)
        v << f.trimmed();
    const qsizetype before = problems.size();

    // The store's own checks first, in its order.
    const QString hexRule = QStringLiteral("нужны ровно 4 символа: цифры 0–9 и буквы A–F");
    if (v.at(Obj).size() < kObjWidth)
        fail(Obj, ObjectTable::noObjectNumberText());
    else if (!isHexNumber(v.at(Obj)))
        fail(Obj, hexRule);
    if (v.at(Account).size() < kAccountWidth)
        fail(Account, ObjectTable::noAccountText());
    else if (!isHexNumber(v.at(Account)))
        fail(Account, hexRule);
    const QString phoneRule = QStringLiteral("не более 13 символов: цифры и «+»");
    if (v.at(Phone1).isEmpty())
        fail(Phone1, QStringLiteral("не заполнен: объект без телефона 1 не записывается в трансивер"));
    else if (!isPhone(v.at(Phone1)))
        fail(Phone1, phoneRule);
    if (!isPhone(v.at(Phone2)))
        fail(Phone2, phoneRule);
    const auto minutes = parseWaitTest(v.at(WaitTest));
    if (!minutes)
        fail(WaitTest, ObjectTable::badWaitTestText() + QStringLiteral(": минуты от 0 до %1").arg(kMaxWaitTestMinutes));
    const auto typeId = byteValue(v.at(TypeId));
    if (!typeId)
        fail(TypeId, QStringLiteral("нужно число от 0 до 255"));
    const auto prot = byteValue(v.at(Prot));
    if (!prot)
        fail(Prot, QStringLiteral("нужно число от 0 до 255"));
    if (!r.fault.isEmpty())
        fail(-1, r.fault);
    if (problems.size() != before)
        return std::nullopt;

    ObjectRow row;
    row.Obj = v.at(Obj);
    row.Account = v.at(Account);
    row.P1 = v.at(Phone1);
    row.P2 = v.at(Phone2);
    row.WaitTest = *minutes;
    row.TypeId = *typeId;
    row.Prot = *prot;
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
    for (int c = 0; c < ColumnCount; ++c)
        header << title(c);
    return header;
}

QByteArray objectsToCsv(const QList<ObjectRow> &rows)
{
    QString text = objectCsvHeader().join(kSeparator) + QStringLiteral("\r\n");
    for (const ObjectRow &row : rows) {
        const QStringList fields{quoted(row.Obj),
                                 quoted(row.Account),
                                 quoted(row.P1),
                                 quoted(row.P2),
                                 QString::number(row.WaitTest),
                                 // What the record holds: the low bytes.
                                 QString::number(std::uint8_t(row.TypeId)),
                                 QString::number(std::uint8_t(row.Prot)),
                                 quoted(row.N_PPK)};
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
                                       .arg(kMaxObjectCsvBytes / (1024 * 1024))};
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
