#include "model/ObjectRules.h"

#include "model/ConfigImage.h"

#include <iterator>

namespace tarvil {

namespace {

constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;
constexpr Qt::Alignment kCentre = Qt::AlignHCenter | Qt::AlignVCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;

// The grid's titles are short; the CSV's are the grid's, or the record
// edit's label where the grid has none or a shorter one.
const ObjectColumn kColumns[] = {
    {ObjectField::Obj, &RecordField::Obj, u"Объект", u"Объект", ValueRule::Number, CharSet::Hex, "ObjId",
     u"Не опрелен номер объекта!", 51, kRight},
    {ObjectField::Account, &RecordField::Account, u"ППК", u"ППК", ValueRule::Number, CharSet::Hex, "Accnt",
     u"Не опрелен номер ППК!", 51, kRight},
    {ObjectField::P1, &RecordField::Phone1, u"Телефон 1", u"Телефон 1", ValueRule::FirstPhone, CharSet::Phone, "P1",
     nullptr, 97, kCentre},
    {ObjectField::P2, &RecordField::Phone2, u"Телефон 2", u"Телефон 2", ValueRule::Phone, CharSet::Phone, "P2", nullptr,
     93, kLeft},
    {ObjectField::WaitTest, &RecordField::WaitTestSeconds, u"Тест", u"Тест, мин.", ValueRule::Minutes, CharSet::Digits,
     "WaitTest", u"Недопустимое значение поля \"Тест, мин.\"", 48, kLeft},
    {ObjectField::TypeId, &RecordField::TypeId, nullptr, u"Код типа", ValueRule::Byte, CharSet::Digits},
    {ObjectField::Prot, &RecordField::Prot, nullptr, u"Протокол", ValueRule::Byte, CharSet::Digits},
    {ObjectField::N_PPK, nullptr, u"Тип ППК", u"Тип ППК", ValueRule::None, CharSet::Any, nullptr, nullptr, 130,
     kCentre},
};

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool allAdmitted(CharSet set, const QString &text)
{
    for (QChar c : text) {
        if (!admits(set, c))
            return false;
    }
    return true;
}

QString refusal(const ObjectColumn &column) { return column.refusal ? QString::fromUtf16(column.refusal) : QString(); }

} // namespace

bool admits(CharSet set, QChar c)
{
    switch (set) {
    case CharSet::Any: return true;
    case CharSet::Digits: return isDigit(c);
    case CharSet::Address: return isDigit(c) || c == QLatin1Char('.');
    case CharSet::Phone: return isDigit(c) || c == QLatin1Char('+');
    case CharSet::Hex: return isDigit(c) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    }
    return false;
}

std::span<const ObjectColumn> objectColumns() { return kColumns; }

const ObjectColumn &objectColumn(ObjectField field)
{
    for (const ObjectColumn &column : kColumns) {
        if (column.field == field)
            return column;
    }
    return kColumns[std::size(kColumns) - 1];
}

int typedLimit(const ObjectColumn &column)
{
    return column.record && column.record->kind == FieldKind::Text ? column.record->width : 0;
}

QString columnText(const ObjectColumn &column, const ObjectRow &row)
{
    return column.record ? fieldText(*column.record, row) : row.N_PPK;
}

bool setColumnText(const ObjectColumn &column, ObjectRow &row, const QString &text)
{
    if (!column.control)
        return false;
    const int limit = typedLimit(column);
    setFieldText(*column.record, row, limit > 0 ? text.left(limit) : text);
    return true;
}

std::optional<std::int32_t> parseWaitTest(const QString &text)
{
    if (!allAdmitted(CharSet::Digits, text))
        return std::nullopt;
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    const qsizetype digits = text.size() - i;
    if (digits == 0)
        return 0;
    if (digits > 8) // 71582788 has eight
        return std::nullopt;
    const std::int32_t minutes = text.mid(i).toInt();
    if (minutes > kMaxWaitTestMinutes)
        return std::nullopt;
    return minutes;
}

std::optional<ObjectRefusal> storeRefusal(const ObjectRow &row, const QString &waitTestText)
{
    for (const ObjectColumn &column : kColumns) {
        switch (column.rule) {
        case ValueRule::Number:
            if (columnText(column, row).size() < column.record->width)
                return ObjectRefusal{column.field, refusal(column), false};
            break;
        case ValueRule::Minutes:
            // Minutes whose seconds the record cannot hold would be stored
            // wrapped; the values stay pending so that the user can correct them.
            if (!parseWaitTest(waitTestText))
                return ObjectRefusal{column.field, refusal(column), true};
            break;
        case ValueRule::None:
        case ValueRule::FirstPhone:
        case ValueRule::Phone:
        case ValueRule::Byte: break;
        }
    }
    return std::nullopt;
}

QString importRefusal(const ObjectColumn &column, const QString &value)
{
    const int width = column.record ? column.record->width : 0;
    const auto phone = [&] {
        if (value.size() <= width && allAdmitted(CharSet::Phone, value))
            return QString();
        return QStringLiteral("не более %1 символов: цифры и «+»").arg(width);
    };
    switch (column.rule) {
    case ValueRule::None: return {};
    case ValueRule::Number:
        if (value.size() < width)
            return refusal(column);
        if (value.size() == width && allAdmitted(CharSet::Hex, value))
            return {};
        return QStringLiteral("нужны ровно %1 символа: цифры 0–9 и буквы A–F").arg(width);
    case ValueRule::FirstPhone:
        // A record without phone 1 is an empty slot: the object would be lost.
        if (value.isEmpty())
            return QStringLiteral("не заполнен: объект без телефона 1 не записывается в трансивер");
        return phone();
    case ValueRule::Phone: return phone();
    case ValueRule::Minutes:
        if (parseWaitTest(value))
            return {};
        return refusal(column) + QStringLiteral(": минуты от 0 до %1").arg(kMaxWaitTestMinutes);
    case ValueRule::Byte: {
        const auto number = parseDecimal(value);
        return number && *number <= 255 ? QString() : QStringLiteral("нужно число от 0 до 255");
    }
    }
    return {};
}

UserMessage refusalMessage(const QString &text)
{
    return UserMessage{text, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false};
}

UserMessage limitMessage()
{
    return UserMessage{QStringLiteral("Превышено максимально-допустимое число объектов"), QStringLiteral("Ошибка"),
                       MsgIcon::Error, MsgButtons::Ok, true};
}

} // namespace tarvil
