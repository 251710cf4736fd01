#include "model/ConfigImage.h"

#include "model/Codepage.h"
#include "model/IpAddress.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>
#include <variant>

namespace tarvil {

std::optional<std::uint64_t> parseDecimal(const QString &text)
{
    if (text.isEmpty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + std::uint64_t(c.unicode() - '0');
    }
    return value;
}

void ConfigImage::clearRecords()
{
    std::fill(bytes_.begin(), bytes_.begin() + kRecordsSize, std::uint8_t(0));
}

void ConfigImage::clearCommon()
{
    std::fill(bytes_.begin() + kCommonBase, bytes_.end(), std::uint8_t(0));
}

QString ConfigImage::readText(const std::uint8_t *bytes, int width)
{
    return cp1251::decode(reinterpret_cast<const char *>(bytes), width);
}

void ConfigImage::writeText(std::uint8_t *bytes, int width, const QString &text)
{
    const QByteArray encoded = cp1251::encode(text);
    const int n = std::min<int>(width, static_cast<int>(encoded.size()));
    std::memset(bytes, 0, static_cast<size_t>(width));
    std::memcpy(bytes, encoded.constData(), static_cast<size_t>(n));
}

std::uint32_t ConfigImage::readUnsigned(const std::uint8_t *bytes, int width)
{
    std::uint32_t value = 0;
    for (int i = std::min(width, 4) - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

void ConfigImage::writeUnsigned(std::uint8_t *bytes, int width, std::uint32_t value)
{
    for (int i = 0; i < width; ++i) {
        bytes[i] = i < 4 ? std::uint8_t(value & 0xFF) : 0;
        value = i < 4 ? value >> 8 : 0;
    }
}

QString ConfigImage::readIpText(const std::uint8_t *bytes)
{
    return IpToText(readUnsigned(bytes, 4));
}

namespace {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;

template <class S> auto binding(const Field &field)
{
    if constexpr (std::is_same_v<S, CommonSettings>)
        return field.common;
    else
        return field.record;
}

// The number a field stores, from its bound value; nothing when the value
// does not convert. The image holds numbers of at most 32 bits.
template <class S> std::optional<std::uint32_t> boundNumber(const Field &field, const S &s)
{
    return std::visit(Overloaded{
                          [](std::monostate) -> std::optional<std::uint32_t> { return 0u; },
                          [&](QString S::*m) -> std::optional<std::uint32_t> {
                              const auto value = parseDecimal(s.*m);
                              if (!value || *value > 0xFFFFFFFFull)
                                  return std::nullopt;
                              return std::uint32_t(*value);
                          },
                          // A negative value keeps its low bits, as the record's bytes hold them.
                          [&](auto S::*m) -> std::optional<std::uint32_t> {
                              return std::uint32_t(std::int64_t(s.*m) * field.scale);
                          },
                      },
                      binding<S>(field));
}

template <class S> QString boundText(const Field &field, const S &s)
{
    return std::visit(Overloaded{
                          [](std::monostate) { return QString(); },
                          [&](QString S::*m) { return s.*m; },
                          [&](auto S::*m) { return QString::number(s.*m); },
                      },
                      binding<S>(field));
}

template <class S> void setBound(const Field &field, S &s, std::uint32_t number, const QString &text)
{
    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](QString S::*m) { s.*m = text; },
                   [&](auto S::*m) { s.*m = static_cast<std::remove_reference_t<decltype(s.*m)>>(number); },
               },
               binding<S>(field));
}

template <class S> bool encode(const Field &field, const S &s, std::uint8_t *bytes)
{
    if (!field.built) {
        std::memset(bytes, 0, size_t(field.width));
        return true;
    }
    switch (field.kind) {
    case FieldKind::Text: {
        const QString text = boundText(field, s);
        if (field.required && text.isEmpty())
            return false;
        ConfigImage::writeText(bytes, field.width, text);
        return true;
    }
    case FieldKind::Unsigned: {
        const auto number = boundNumber(field, s);
        if (!number)
            return false;
        ConfigImage::writeUnsigned(bytes, field.width, *number);
        return true;
    }
    case FieldKind::Ip: {
        const std::uint32_t address = TextToIp(boundText(field, s));
        if (address == 0)
            return false;
        ConfigImage::writeUnsigned(bytes, field.width, address);
        return true;
    }
    case FieldKind::Item: {
        const auto index = boundNumber(field, s);
        bytes[0] = std::uint8_t(index.value_or(0));
        return true;
    }
    case FieldKind::Constant:
        ConfigImage::writeUnsigned(bytes, field.width, field.constant);
        return true;
    case FieldKind::Reserved:
        return true;
    }
    return true;
}

template <class S> void decode(const Field &field, const std::uint8_t *bytes, S &s)
{
    switch (field.kind) {
    case FieldKind::Text:
        setBound(field, s, 0, ConfigImage::readText(bytes, field.width));
        break;
    case FieldKind::Unsigned: {
        const std::uint32_t value = ConfigImage::readUnsigned(bytes, field.width) / std::uint32_t(field.scale);
        setBound(field, s, value, QString::number(value));
        break;
    }
    case FieldKind::Ip:
        setBound(field, s, 0, ConfigImage::readIpText(bytes));
        break;
    case FieldKind::Item: {
        const int index = std::min<int>(bytes[0], int(field.items.size()) - 1);
        setBound(field, s, std::uint32_t(index), QString::number(index));
        break;
    }
    case FieldKind::Constant:
    case FieldKind::Reserved:
        break;
    }
}

template <class S> QString text(const Field &field, const S &s)
{
    switch (field.kind) {
    case FieldKind::Item: {
        const auto index = boundNumber(field, s);
        return itemName(field, int(std::min<std::uint32_t>(index.value_or(0), std::uint32_t(INT_MAX))));
    }
    case FieldKind::Constant:
        return QString::number(field.constant);
    case FieldKind::Reserved:
        return {};
    case FieldKind::Text:
    case FieldKind::Unsigned:
    case FieldKind::Ip:
        break;
    }
    return boundText(field, s);
}

} // namespace

QString itemName(const Field &field, int index)
{
    if (field.items.empty())
        return {};
    return QString::fromUtf16(field.items[size_t(std::clamp(index, 0, int(field.items.size()) - 1))]);
}

QStringList itemNames(const Field &field)
{
    QStringList names;
    for (const char16_t *item : field.items)
        names << QString::fromUtf16(item);
    return names;
}

bool encodeField(const Field &field, const CommonSettings &settings, std::uint8_t *bytes)
{
    return encode(field, settings, bytes);
}

bool encodeField(const Field &field, const ObjectRow &row, std::uint8_t *bytes) { return encode(field, row, bytes); }

void decodeField(const Field &field, const std::uint8_t *bytes, CommonSettings &settings)
{
    decode(field, bytes, settings);
}

void decodeField(const Field &field, const std::uint8_t *bytes, ObjectRow &row) { decode(field, bytes, row); }

QString fieldText(const Field &field, const CommonSettings &settings) { return text(field, settings); }
QString fieldText(const Field &field, const ObjectRow &row) { return text(field, row); }

void setFieldText(const Field &field, ObjectRow &row, const QString &text)
{
    const std::uint64_t number = parseDecimal(text).value_or(0);
    setBound(field, row, std::uint32_t(std::min<std::uint64_t>(number, 0xFFFFFFFFu)), text);
}

QVariant boundValue(const Field &field, const CommonSettings &s)
{
    return std::visit(Overloaded{
                          [](std::monostate) { return QVariant(); },
                          [&](QString CommonSettings::*m) { return QVariant(s.*m); },
                          [&](int CommonSettings::*m) { return QVariant(s.*m); },
                          [&](std::uint32_t CommonSettings::*m) { return QVariant(uint(s.*m)); },
                      },
                      field.common);
}

void setBoundValue(const Field &field, CommonSettings &s, const QVariant &value)
{
    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](QString CommonSettings::*m) { s.*m = value.toString(); },
                   [&](int CommonSettings::*m) { s.*m = value.toInt(); },
                   [&](std::uint32_t CommonSettings::*m) { s.*m = value.toUInt(); },
               },
               field.common);
}

void copyField(const Field &field, const CommonSettings &from, CommonSettings &to)
{
    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](auto CommonSettings::*m) { to.*m = from.*m; },
               },
               field.common);
}

void clearForRead(CommonSettings &settings)
{
    for (const Field *field : commonFieldsBy(&Field::readClears)) {
        std::visit(Overloaded{
                       [](std::monostate) {},
                       [&](auto CommonSettings::*m) { settings.*m = {}; },
                   },
                   field->common);
    }
}

CommonSettings startSettings()
{
    CommonSettings s;
    s.masterPort = QStringLiteral("9999");
    s.baud = QStringLiteral("9600");
    return s;
}

bool ConfigImage::storeCommon(const Field &field, const CommonSettings &settings)
{
    if (field.kind == FieldKind::Reserved)
        return true;
    std::array<std::uint8_t, kCommonSize> scratch{};
    if (!encodeField(field, settings, scratch.data()))
        return false;
    std::memcpy(common() + field.offset, scratch.data(), size_t(field.width));
    return true;
}

void ConfigImage::storeObjects(const QList<ObjectRow> &rows)
{
    clearRecords();
    const int count = std::min<int>(kMaxObjects, static_cast<int>(rows.size()));
    for (int k = 0; k < count; ++k) {
        // A WaitTest whose seconds do not fit 32 bits is refused by the object
        // rules (the table's store, the importer) before it gets here; nothing
        // of a record can fail to convert.
        for (const Field &field : kRecordFields) {
            if (field.kind != FieldKind::Reserved)
                encodeField(field, rows.at(k), record(k) + field.offset);
        }
    }
}

bool ConfigImage::build(const CommonSettings &s, const QList<ObjectRow> &rows)
{
    std::array<std::uint8_t, kCommonSize> block;
    std::memcpy(block.data(), common(), block.size());
    for (const Field &field : kCommonFields) {
        if (field.kind != FieldKind::Reserved && !encodeField(field, s, block.data() + field.offset))
            return false;
    }
    std::memcpy(common(), block.data(), block.size());
    storeObjects(rows);
    return true;
}

CommonSettings ConfigImage::decodeCommon() const
{
    CommonSettings s;
    for (const Field &field : kCommonFields)
        decodeField(field, common() + field.offset, s);
    return s;
}

ObjectRow ConfigImage::decodeRecord(const std::uint8_t *rec)
{
    ObjectRow row;
    for (const Field &field : kRecordFields)
        decodeField(field, rec + field.offset, row);
    return row;
}

QList<ObjectRow> ConfigImage::decodeObjects() const
{
    QList<ObjectRow> rows;
    for (int k = 0; k < kMaxObjects; ++k) {
        if (!isEmptySlot(record(k)))
            rows.append(decodeRecord(record(k)));
    }
    return rows;
}

} // namespace tarvil
