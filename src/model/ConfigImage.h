#pragma once

#include "model/CommonSettings.h"
#include "model/ImageLayout.h"
#include "model/ObjectRow.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarvil {

// Parses a text of ASCII digits only as an unsigned decimal number; nothing
// for an empty text, a sign, a blank, or more than 20 digits' worth.
std::optional<std::uint64_t> parseDecimal(const QString &text);

// The table's codecs. encodeField writes the field's bytes from the bound
// value and is false when the value does not convert: a number that is no
// decimal text or does not fit 32 bits, an address TextToIp refuses, an empty
// required text. A field that a build leaves zero encodes as zero.
bool encodeField(const Field &field, const CommonSettings &settings, std::uint8_t *bytes);
bool encodeField(const Field &field, const ObjectRow &row, std::uint8_t *bytes);
void decodeField(const Field &field, const std::uint8_t *bytes, CommonSettings &settings);
void decodeField(const Field &field, const std::uint8_t *bytes, ObjectRow &row);
// The bound value as the window shows it: the text of an edit, the chosen
// item's text, a number in decimal. Empty for a field bound to nothing.
QString fieldText(const Field &field, const CommonSettings &settings);
QString fieldText(const Field &field, const ObjectRow &row);
// The bound member from a text as the window's edit holds it: a text as it
// is, a number in decimal (empty, or no number: 0).
void setFieldText(const Field &field, ObjectRow &row, const QString &text);
// The bound member as a control holds it: a text as a QString, an item index
// as an int, a number as a uint; invalid for a field bound to nothing.
QVariant boundValue(const Field &field, const CommonSettings &settings);
void setBoundValue(const Field &field, CommonSettings &settings, const QVariant &value);
// The bound member of `from` into `to`.
void copyField(const Field &field, const CommonSettings &from, CommonSettings &to);
// What a read empties before its decode: the fields the layout marks so.
void clearForRead(CommonSettings &settings);

// The configuration image: 300 object records of 47 bytes, then the 102-byte
// common block. One instance lives for the whole program and is shared by the
// read, the write, the save and the load.
class ConfigImage {
public:
    ConfigImage() { bytes_.fill(0); }

    std::uint8_t *data() { return bytes_.data(); }
    const std::uint8_t *data() const { return bytes_.data(); }
    std::uint8_t at(int address) const { return bytes_.at(static_cast<size_t>(address)); }
    void set(int address, std::uint8_t value) { bytes_.at(static_cast<size_t>(address)) = value; }

    std::uint8_t *record(int k) { return data() + std::ptrdiff_t(k) * kRecordSize; }
    const std::uint8_t *record(int k) const { return data() + std::ptrdiff_t(k) * kRecordSize; }
    std::uint8_t *common() { return data() + kCommonBase; }
    const std::uint8_t *common() const { return data() + kCommonBase; }

    void clear() { bytes_.fill(0); }
    void clearRecords();
    void clearCommon();

    // The encodings over raw bytes, as the table's codecs use them.
    static QString readText(const std::uint8_t *bytes, int width);
    static void writeText(std::uint8_t *bytes, int width, const QString &text);
    static std::uint32_t readUnsigned(const std::uint8_t *bytes, int width);
    static void writeUnsigned(std::uint8_t *bytes, int width, std::uint32_t value);
    static QString readIpText(const std::uint8_t *bytes);

    // One common field from the settings, as the table encodes it; false,
    // and nothing stored, when its value does not convert. The reserved
    // bytes are never stored.
    bool storeCommon(const Field &field, const CommonSettings &settings);
    // All 300 records zeroed, then row k fills record k (at most 300 rows).
    void storeObjects(const QList<ObjectRow> &rows);

    // The whole build: every common field but the reserved bytes, then the
    // object records. False, and nothing changed, when a value of `settings`
    // does not convert (the write's checks refuse all of those first).
    bool build(const CommonSettings &settings, const QList<ObjectRow> &rows);

    // Decode: the window's fields (selections clamped to their last item) and
    // the records in use, in record order, without N_PPK (the object table
    // names the types through the catalogue).
    CommonSettings decodeCommon() const;
    QList<ObjectRow> decodeObjects() const;
    static ObjectRow decodeRecord(const std::uint8_t *record);
    static bool isEmptySlot(const std::uint8_t *record) { return record[RecordField::Phone1.offset] == 0; }

    friend bool operator==(const ConfigImage &, const ConfigImage &) = default;

private:
    std::array<std::uint8_t, kImageSize> bytes_;
};

} // namespace tarvil
