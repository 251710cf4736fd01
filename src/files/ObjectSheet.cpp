#include "files/ObjectSheet.h"

#include "model/ConfigImage.h"
#include "model/ImageLayout.h"
#include "model/ObjectRules.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <array>
#include <cmath>
#include <optional>

namespace tarvil {

namespace {

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

bool allDigits(const QString &text)
{
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return !text.isEmpty();
}

// "1.00E+05", "1,00E+05", "7.53E10", "1E+05": what a spreadsheet writes for a
// number too long for its cell. "1E05" is no such thing: it is a valid object
// number (four characters 0-9 and A-F), and a spreadsheet that kept it as
// text wrote it as it was.
bool exponentNotation(const QString &text)
{
    static const QRegularExpression signedExponent(QStringLiteral("^[+-]?\\d+([.,]\\d*)?[eE][+-]\\d+$"));
    static const QRegularExpression fractionExponent(QStringLiteral("^[+-]?\\d+[.,]\\d*[eE]\\d+$"));
    return signedExponent.match(text).hasMatch() || fractionExponent.match(text).hasMatch();
}

// The number a spreadsheet reads in "1E05" or "12E3" (a valid object number)
// is written out as "100000" or "12000"; the number of `width` characters
// that would give `digits`, or nothing.
QString exponentOrigin(const QString &digits, int width)
{
    if (!allDigits(digits) || digits.size() <= width)
        return {};
    // The mantissa before "E" and the exponent after it share the width.
    for (int mantissa = 1; mantissa < width - 1; ++mantissa) {
        const int exponentWidth = width - 1 - mantissa;
        const QString head = digits.left(mantissa);
        const qsizetype zeros = digits.size() - mantissa;
        if (head.startsWith(QLatin1Char('0')) || digits.mid(mantissa).count(QLatin1Char('0')) != zeros)
            continue;
        const QString exponent = QString::number(zeros).rightJustified(exponentWidth, QLatin1Char('0'));
        if (exponent.size() == exponentWidth)
            return head + QLatin1Char('E') + exponent;
    }
    return {};
}

// The object or panel number a spreadsheet's number stands for: "1E05" for
// "100000" and for "1.00E+05", "0100" for "100"; the text itself otherwise.
QString numberBehind(const QString &text, int width)
{
    QString digits = text;
    if (exponentNotation(text)) {
        bool ok = false;
        const double number = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        if (!ok || number < 0 || number >= 1e18 || number != std::floor(number))
            return text;
        digits = QString::number(qint64(number));
    }
    if (QString origin = exponentOrigin(digits, width); !origin.isEmpty())
        return origin;
    if (allDigits(digits) && digits.size() < width)
        return digits.rightJustified(width, QLatin1Char('0'));
    return text;
}

QString changedBySpreadsheet(const QString &what)
{
    return QStringLiteral("значение изменила электронная таблица: ") + what;
}

// Why a spreadsheet, and not the user, made this value; empty when nothing
// says so.
QString spreadsheetChange(const ObjectColumn &column, const QString &value, const ObjectRow *current)
{
    const int width = column.record ? column.record->width : 0;
    if (column.rule == ValueRule::Number) {
        if (const QString behind = numberBehind(value, width); behind != value) {
            if (allDigits(value) && value.size() < width)
                return changedBySpreadsheet(
                    QStringLiteral("у номера «%1» пропали ведущие нули (нужно %2 знака)").arg(value).arg(width));
            return changedBySpreadsheet(
                QStringLiteral("номер «%1» принят за число и записан как «%2»").arg(behind, value));
        }
    }
    if (exponentNotation(value))
        return changedBySpreadsheet(QStringLiteral("«%1» записано в экспоненциальной форме").arg(value));
    if (current && (column.rule == ValueRule::FirstPhone || column.rule == ValueRule::Phone) && !value.isEmpty()
        && !value.startsWith(QLatin1Char('+'))) {
        const QString held = fieldText(*column.record, *current);
        if (held == QLatin1Char('+') + value)
            return changedBySpreadsheet(
                QStringLiteral("в конфигурации у этого объекта «%1», здесь «%2»: пропал «+»").arg(held, value));
    }
    return {};
}

// The checks of one row, every failing value reported; the row when none fails.
std::optional<ObjectRow> checkRow(const SheetRow &r, const QHash<QString, const ObjectRow *> &current,
                                  QList<SheetProblem> &problems)
{
    const auto fail = [&](const ObjectColumn *column, const QString &reason, bool spreadsheet = false) {
        problems << SheetProblem{r.line, column ? title(*column) : QString(), reason, spreadsheet};
    };
    const std::span<const ObjectColumn> columns = objectColumns();
    if (r.fields.size() != qsizetype(columns.size())) {
        fail(nullptr, QStringLiteral("столбцов %1, а должно быть %2").arg(r.fields.size()).arg(int(columns.size())));
        return std::nullopt;
    }
    // The object the row stands for, as the configuration holds it: by its
    // number, as it was before a spreadsheet changed it, so that a phone
    // changed in the same row is named too.
    const QString number = numberBehind(r.fields.at(0).trimmed(), kObjWidth);
    const ObjectRow *held = current.value(number, nullptr);
    const qsizetype before = problems.size();
    ObjectRow row;
    for (size_t i = 0; i < columns.size(); ++i) {
        const ObjectColumn &column = columns[i];
        if (!column.record)
            continue; // the type's name, written for people
        const QString value = r.fields.at(qsizetype(i)).trimmed();
        const bool changeable = i < 32 && (r.changeable >> i) & 1U;
        if (const QString change = changeable ? spreadsheetChange(column, value, held) : QString(); !change.isEmpty())
            fail(&column, change, true);
        else if (const QString reason = importRefusal(column, value); !reason.isEmpty())
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

bool allEmpty(const SheetRow &r)
{
    for (const QString &f : r.fields) {
        if (!f.trimmed().isEmpty())
            return false;
    }
    return r.fault.isEmpty();
}

} // namespace

QStringList objectSheetHeader()
{
    QStringList header;
    for (const ObjectColumn &c : objectColumns())
        header << title(c);
    return header;
}

QStringList objectSheetValues(const ObjectRow &row)
{
    QStringList values;
    for (const ObjectColumn &c : objectColumns())
        values << (c.record ? recordText(*c.record, row) : row.N_PPK);
    return values;
}

QString SheetProblem::text() const
{
    if (line <= 0)
        return reason;
    if (column.isEmpty())
        return QStringLiteral("строка %1: %2").arg(line).arg(reason);
    return QStringLiteral("строка %1, «%2»: %3").arg(line).arg(column, reason);
}

int SheetObjects::failingRows() const
{
    QSet<int> lines;
    for (const SheetProblem &p : problems)
        lines.insert(p.line);
    return int(lines.size());
}

QString SheetObjects::describe(int rows) const
{
    QStringList out;
    QSet<int> shown;
    for (const SheetProblem &p : problems) {
        if (!shown.contains(p.line)) {
            if (shown.size() == rows)
                break;
            shown.insert(p.line);
        }
        out << p.text();
    }
    return out.join(QLatin1Char('\n'));
}

QString SheetObjects::advice() const
{
    for (const SheetProblem &p : problems) {
        if (p.spreadsheet)
            return spreadsheetAdvice(format);
    }
    return {};
}

QString spreadsheetAdvice(SheetFormat format)
{
    if (format == SheetFormat::Xlsx)
        return QStringLiteral(
            "Электронная таблица хранит эти значения как числа. Введите их заново в ячейки с форматом «Текстовый» "
            "(в выгруженной книге столбцы «Объект», «ППК», «Телефон 1», «Телефон 2» и «Тип ППК» уже текстовые).");
    return QStringLiteral(
        "Чтобы электронная таблица не меняла значения, храните список объектов в книге .xlsx "
        "(tarvil-cli export-xlsx или «Экспорт объектов в XLSX…» в меню таблицы объектов), или при открытии CSV в таблице задайте "
        "столбцам «Объект», «ППК», «Телефон 1» и «Телефон 2» тип «Текст».");
}

SheetObjects checkObjectSheet(const QList<SheetRow> &rows, SheetFormat format, const QList<ObjectRow> *current)
{
    SheetObjects out;
    out.format = format;
    const QStringList header = objectSheetHeader();
    if (rows.isEmpty()) {
        out.problems << SheetProblem{1, QString(), QStringLiteral("файл пуст: нет строки заголовка")};
        return out;
    }
    const SheetRow &head = rows.first();
    QStringList given;
    for (const QString &f : head.fields)
        given << f.trimmed();
    if (given != header) {
        out.problems << SheetProblem{head.line, QString(),
                                     QStringLiteral("заголовок должен быть «%1»").arg(header.join(QLatin1Char(';')))};
        return out;
    }

    QHash<QString, const ObjectRow *> held;
    if (current) {
        for (const ObjectRow &r : *current)
            held.insert(r.Obj, &r);
    }
    QList<ObjectRow> objects;
    bool overLimit = false;
    int count = 0;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const SheetRow &r = rows.at(i);
        if (allEmpty(r))
            continue;
        if (++count > kMaxObjects && !overLimit) {
            overLimit = true;
            out.problems << SheetProblem{r.line, QString(), limitMessage().text};
        }
        if (const auto row = checkRow(r, held, out.problems))
            objects << *row;
    }
    if (out.problems.isEmpty())
        out.rows = objects;
    return out;
}

} // namespace tarvil
