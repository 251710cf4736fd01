#pragma once

// The layout of the 14 202-byte configuration image, declared once: every
// field with its offset, width, kind, key, the name a person reads and the
// member of CommonSettings or ObjectRow it is bound to; a common field also
// with the control that shows it and what the write says when it refuses it.
// The build, the decode after a read, the anchors of the file loader, the
// dump, the diff, the CSV, the write's checks and the window's and the
// console's get, set, clear and focus all loop over these tables; no other
// file names a byte offset or a width of the image.
//
// Adding a common field takes one row below (its bytes taken from a reserved
// row) and one member of CommonSettings.

#include "model/CommonSettings.h"
#include "model/ObjectRow.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

namespace tarvil {

inline constexpr int kImageSize = 14202;
inline constexpr int kRecordSize = 47;
inline constexpr int kMaxObjects = 300;
inline constexpr int kRecordsSize = kRecordSize * kMaxObjects; // 14100
inline constexpr int kCommonBase = kRecordsSize;               // address of the common block
inline constexpr int kCommonSize = kImageSize - kCommonBase;   // 102

enum class FieldKind {
    Text,     // code page 1251, zero-filled; a text as long as the field has no terminator
    Unsigned, // unsigned little-endian number of `width` bytes
    Ip,       // four octets in dotted order, first number at the lowest address
    Item,     // the index of a choice (a radio group's item), one byte
    Constant, // written by every build, never decoded
    Reserved, // never written by a build (zero in records, kept in the common block), never decoded
};

// Where a bound value goes. A field without a binding is bound to nothing.
using CommonBinding = std::variant<std::monostate, QString CommonSettings::*, int CommonSettings::*,
                                   std::uint32_t CommonSettings::*>;
using RecordBinding = std::variant<std::monostate, QString ObjectRow::*, std::int16_t ObjectRow::*,
                                   std::int32_t ObjectRow::*>;

struct Field {
    std::string_view key;    // stable name: "serial", "phone1" (objects[k].phone1)
    // The window's label (a group's title with its blanks) where it has one;
    // trimmed, the name a person reads in dumps and diffs.
    const char16_t *label;
    int offset;              // within the object record, or within the common block
    int width;
    FieldKind kind;
    CommonBinding common{};  // common-block fields
    RecordBinding record{};  // object-record fields
    int scale = 1;           // image value = bound value x scale (seconds for minutes)
    bool built = true;       // false: a build leaves the field zero, only a decode reads it
    bool required = false;   // an empty text does not convert: the write refuses it
    std::uint32_t constant = 0;
    std::span<const char16_t *const> items{}; // the choices of an item index
    // Common fields: the objectName of the control that shows the field;
    // none for a field the window does not show.
    const char *control = nullptr;
    // What the write says when the value does not convert, and where among
    // its checks (from 1) it runs; nothing and 0 for a field that cannot fail.
    const char16_t *refusal = nullptr;
    int check = 0;
    // Where among the controls a read empties before its decode (from 1; 0:
    // left as it is), and where among those the decode fills (from 1).
    int readClears = 0;
    int readFills = 0;

    QStringView name() const { return QStringView(label).trimmed(); }
    // Image addresses: of the common field, or of the record field in record k.
    constexpr int address() const { return kCommonBase + offset; }
    constexpr int address(int record) const { return record * kRecordSize + offset; }
};

namespace detail {
inline constexpr const char16_t *kEtherProtChoices[] = {u"UDP", u"TCP"};
inline constexpr const char16_t *kDhcpChoices[] = {u"Выкл.", u"Вкл."};
inline constexpr const char16_t *kFormatChoices[] = {u"АСПТИ \"КЕ-Тарвил\"", u"Sur-Gard Contact ID",
                                                   u"Автономный режим"};
} // namespace detail

// One object record (47 bytes; record k at address k * 47), in address order.
inline constexpr Field kRecordFields[] = {
    {.key = "phone1", .label = u"Телефон 1", .offset = 0, .width = 13, .kind = FieldKind::Text,
     .record = &ObjectRow::P1},
    {.key = "phone2", .label = u"Телефон 2", .offset = 13, .width = 13, .kind = FieldKind::Text,
     .record = &ObjectRow::P2},
    {.key = "account", .label = u"Номер ППК", .offset = 26, .width = 4, .kind = FieldKind::Text,
     .record = &ObjectRow::Account},
    {.key = "object", .label = u"Номер объекта", .offset = 30, .width = 4, .kind = FieldKind::Text,
     .record = &ObjectRow::Obj},
    {.key = "typeId", .label = u"Код типа", .offset = 34, .width = 1, .kind = FieldKind::Unsigned,
     .record = &ObjectRow::TypeId},
    {.key = "protocol", .label = u"Протокол", .offset = 35, .width = 1, .kind = FieldKind::Unsigned,
     .record = &ObjectRow::Prot},
    // The table holds minutes, the record seconds.
    {.key = "testPeriod", .label = u"Тест, мин.", .offset = 36, .width = 4, .kind = FieldKind::Unsigned,
     .record = &ObjectRow::WaitTest, .scale = 60},
    {.key = "reserved", .label = u"Резерв", .offset = 40, .width = 5, .kind = FieldKind::Reserved},
    // The panel type's value and the object's format: a build leaves them
    // zero, whatever the table holds.
    {.key = "af", .label = u"A_F", .offset = 45, .width = 1, .kind = FieldKind::Unsigned,
     .record = &ObjectRow::A_F, .built = false},
    {.key = "format", .label = u"Формат объекта", .offset = 46, .width = 1, .kind = FieldKind::Unsigned,
     .record = &ObjectRow::Frmt, .built = false},
};

// The common block (102 bytes at kCommonBase), in address order; offsets are
// relative to it.
inline constexpr Field kCommonFields[] = {
    {.key = "etherProt", .label = u" Протокол ", .offset = 0, .width = 1, .kind = FieldKind::Item,
     .common = &CommonSettings::etherProt, .items = detail::kEtherProtChoices,
     .control = "EtherProt", .readFills = 1},
    {.key = "dhcp", .label = u"  DHCP  ", .offset = 1, .width = 1, .kind = FieldKind::Item,
     .common = &CommonSettings::dhcp, .items = detail::kDhcpChoices,
     .control = "DHCP_OnOff", .readFills = 2},
    {.key = "masterIp", .label = u"IP-адрес мастера", .offset = 2, .width = 4, .kind = FieldKind::Ip,
     .common = &CommonSettings::masterIp, .control = "EditIP1_PCN",
     .refusal = u"Не определен IP - адрес приемника", .check = 4, .readClears = 3, .readFills = 7},
    {.key = "ownIp", .label = u"Локальный IP-адрес", .offset = 6, .width = 4, .kind = FieldKind::Ip,
     .common = &CommonSettings::ownIp, .control = "DHCP_IP",
     .refusal = u"Не определен локальный IP - адрес", .check = 5, .readClears = 4, .readFills = 9},
    {.key = "gatewayIp", .label = u"IP- адрес шлюза", .offset = 10, .width = 4, .kind = FieldKind::Ip,
     .common = &CommonSettings::gatewayIp, .control = "Shl_IP",
     .refusal = u"Не определен  IP - адрес шлюза", .check = 6, .readClears = 6, .readFills = 8},
    {.key = "serial", .label = u"Заводской номер", .offset = 14, .width = 4, .kind = FieldKind::Unsigned,
     .common = &CommonSettings::serial, .control = "EditMAC",
     .refusal = u"Не определен заводской номер", .check = 1, .readClears = 1, .readFills = 4},
    // Only the low 16 bits of a port are stored: 70000 is stored as 4464.
    // The master port is shown read-only, and a read leaves it standing.
    {.key = "masterPort", .label = u"IP-порт мастера", .offset = 18, .width = 2, .kind = FieldKind::Unsigned,
     .common = &CommonSettings::masterPort, .control = "EditPort1_PCN",
     .refusal = u"Не определен IP - порт приемника", .check = 2, .readFills = 6},
    {.key = "ownPort", .label = u"Локальный IP- порт", .offset = 20, .width = 2, .kind = FieldKind::Unsigned,
     .common = &CommonSettings::ownPort, .control = "EditPort_Loc",
     .refusal = u"Не определен локальный порт", .check = 3, .readClears = 5, .readFills = 10},
    {.key = "apn", .label = u"APN", .offset = 22, .width = 64, .kind = FieldKind::Text,
     .common = &CommonSettings::apn, .required = true, .control = "EditAPN",
     .refusal = u"Не определен APN GPRS - канала", .check = 7, .readClears = 2, .readFills = 3},
    {.key = "constant", .label = u"Постоянное значение", .offset = 86, .width = 2, .kind = FieldKind::Constant,
     .constant = 9999},
    // The combo box has no label of its own: this is its hint.
    {.key = "baud", .label = u"Скорость передачи", .offset = 88, .width = 6, .kind = FieldKind::Text,
     .common = &CommonSettings::baud, .control = "BaudBox", .readFills = 12},
    // Kept as the in-memory image holds them: zero, or what the last read brought.
    {.key = "reserved", .label = u"Резерв", .offset = 94, .width = 3, .kind = FieldKind::Reserved},
    {.key = "usbTestPeriod", .label = u"Период теста, с", .offset = 97, .width = 4, .kind = FieldKind::Unsigned,
     .common = &CommonSettings::periodHB, .control = "PeriodHB", .readFills = 11},
    {.key = "format", .label = u" Формат выдачи в ПЭВМ ", .offset = 101, .width = 1, .kind = FieldKind::Item,
     .common = &CommonSettings::format, .items = detail::kFormatChoices,
     .control = "FrmtRadioGroup", .readFills = 5},
};

namespace detail {
consteval const Field &find(std::span<const Field> fields, std::string_view key)
{
    for (const Field &f : fields)
        if (f.key == key)
            return f;
    throw "no field of that key"; // a compile-time error
}

// Each table covers its region exactly, in address order, without gaps;
// every field has a name and a key of its own.
consteval bool tiles(std::span<const Field> fields, int size)
{
    int next = 0;
    for (const Field &f : fields) {
        if (f.key.empty() || !f.label || !*f.label)
            return false;
        for (const Field &other : fields) {
            if (&other != &f && other.key == f.key)
                return false;
        }
        if (f.offset != next || f.width <= 0)
            return false;
        if (f.kind == FieldKind::Item && (f.width != 1 || f.items.empty()))
            return false;
        if (f.kind == FieldKind::Ip && f.width != 4)
            return false;
        if ((f.kind == FieldKind::Unsigned || f.kind == FieldKind::Constant) && f.width > 4)
            return false;
        next += f.width;
    }
    return next == size;
}
// The places a member of the rows gives run 1, 2, ... without a gap or a twin.
consteval bool placesInOrder(std::span<const Field> fields, int Field::*place)
{
    int count = 0;
    for (const Field &f : fields)
        count += f.*place > 0 ? 1 : 0;
    for (int n = 1; n <= count; ++n) {
        int found = 0;
        for (const Field &f : fields)
            found += f.*place == n ? 1 : 0;
        if (found != 1)
            return false;
    }
    return true;
}

// The write checks every common field whose value can fail to convert, each
// with its words. A read empties only texts the window shows, and fills
// every field bound to a control; no two fields share a control.
consteval bool checkedAndShown(std::span<const Field> fields)
{
    for (const Field &f : fields) {
        const bool text = std::holds_alternative<QString CommonSettings::*>(f.common);
        const bool canFail = f.kind == FieldKind::Ip || (f.kind == FieldKind::Unsigned && text)
                             || (f.kind == FieldKind::Text && f.required);
        if (canFail != (f.refusal != nullptr) || canFail != (f.check > 0))
            return false;
        if ((f.readClears > 0 && (!text || !f.control)) || (f.control != nullptr) != (f.readFills > 0))
            return false;
        for (const Field &other : fields) {
            if (&other != &f && f.control && other.control
                && std::string_view(f.control) == std::string_view(other.control))
                return false;
        }
    }
    return placesInOrder(fields, &Field::check) && placesInOrder(fields, &Field::readClears)
           && placesInOrder(fields, &Field::readFills);
}
} // namespace detail

static_assert(detail::tiles(kRecordFields, kRecordSize));
static_assert(detail::tiles(kCommonFields, kCommonSize));
static_assert(detail::checkedAndShown(kCommonFields));
static_assert(kCommonSize == 102 && kImageSize == 14202);

consteval const Field &recordField(std::string_view key) { return detail::find(kRecordFields, key); }
consteval const Field &commonField(std::string_view key) { return detail::find(kCommonFields, key); }

// The fields by their names in code.
namespace RecordField {
inline constexpr const Field &Phone1 = recordField("phone1");
inline constexpr const Field &Phone2 = recordField("phone2");
inline constexpr const Field &Account = recordField("account");
inline constexpr const Field &Obj = recordField("object");
inline constexpr const Field &TypeId = recordField("typeId");
inline constexpr const Field &Prot = recordField("protocol");
inline constexpr const Field &WaitTestSeconds = recordField("testPeriod");
inline constexpr const Field &Reserved = recordField("reserved");
inline constexpr const Field &AF = recordField("af");
inline constexpr const Field &Frmt = recordField("format");
} // namespace RecordField

namespace CommonField {
inline constexpr const Field &EtherProt = commonField("etherProt");
inline constexpr const Field &Dhcp = commonField("dhcp");
inline constexpr const Field &MasterIp = commonField("masterIp");
inline constexpr const Field &OwnIp = commonField("ownIp");
inline constexpr const Field &GatewayIp = commonField("gatewayIp");
inline constexpr const Field &Serial = commonField("serial");
inline constexpr const Field &MasterPort = commonField("masterPort");
inline constexpr const Field &OwnPort = commonField("ownPort");
inline constexpr const Field &Apn = commonField("apn");
inline constexpr const Field &Constant9999 = commonField("constant");
inline constexpr const Field &Baud = commonField("baud");
inline constexpr const Field &Reserved = commonField("reserved");
inline constexpr const Field &PeriodHB = commonField("usbTestPeriod");
inline constexpr const Field &Format = commonField("format");
} // namespace CommonField

inline constexpr int kConstant9999 = int(CommonField::Constant9999.constant);
inline constexpr int kEtherProtItems = int(CommonField::EtherProt.items.size());
inline constexpr int kDhcpItems = int(CommonField::Dhcp.items.size());
inline constexpr int kFormatItems = int(CommonField::Format.items.size());

// The widths of the object row's texts, as the record holds them.
inline constexpr int kObjWidth = RecordField::Obj.width;
inline constexpr int kAccountWidth = RecordField::Account.width;
inline constexpr int kPhoneWidth = RecordField::Phone1.width;

constexpr int recordAddress(int record, const Field &field) { return field.address(record); }
constexpr int commonAddress(const Field &field) { return field.address(); }

inline QString fieldName(const Field &field) { return field.name().toString(); }
// The common fields that a member of the rows places (check, readClears,
// readFills), in the order of their places.
inline QList<const Field *> commonFieldsBy(int Field::*place, std::span<const Field> fields = kCommonFields)
{
    QList<const Field *> out;
    for (int n = 1;; ++n) {
        const Field *found = nullptr;
        for (const Field &f : fields) {
            if (f.*place == n)
                found = &f;
        }
        if (!found)
            return out;
        out.append(found);
    }
}
// The window's label as it shows it, blanks and all.
inline QString fieldLabel(const Field &field) { return QString::fromUtf16(field.label); }
// What the write says when the field's value does not convert.
inline QString refusalText(const Field &field) { return field.refusal ? QString::fromUtf16(field.refusal) : QString(); }
// The text of choice `index` of an item field; the last choice for an index
// beyond it, as the window's radio groups select it.
QString itemName(const Field &field, int index);
QStringList itemNames(const Field &field);

} // namespace tarvil
