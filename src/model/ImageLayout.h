#pragma once

// The layout of the 14 202-byte configuration image, declared once. The build,
// the decode after a read and the anchors of the file loader all read it from
// here; no other file names a byte offset of the image.

namespace tarvil {

inline constexpr int kImageSize = 14202;
inline constexpr int kRecordSize = 47;
inline constexpr int kMaxObjects = 300;
inline constexpr int kRecordsSize = kRecordSize * kMaxObjects; // 14100
inline constexpr int kCommonBase = kRecordsSize;               // address of the common block
inline constexpr int kCommonSize = kImageSize - kCommonBase;   // 102

enum class FieldKind {
    Text,     // code page 1251, zero-filled; a text as long as the field has no terminator
    Byte,     // unsigned byte (an item index or the low byte of a number)
    Unsigned, // unsigned little-endian number of `width` bytes
    Ip,       // four octets in dotted order, first number at the lowest address
    Constant, // written by every build, never decoded
    Reserved, // never touched by a build, never decoded
    Zero,     // always zero on build, never decoded
};

struct FieldDef {
    int offset; // within the object record, or within the common block
    int width;
    FieldKind kind;
};

// One object record (47 bytes; record k at address k * 47).
namespace RecordField {
inline constexpr FieldDef Phone1{0, 13, FieldKind::Text};
inline constexpr FieldDef Phone2{13, 13, FieldKind::Text};
inline constexpr FieldDef Account{26, 4, FieldKind::Text};
inline constexpr FieldDef Obj{30, 4, FieldKind::Text};
inline constexpr FieldDef TypeId{34, 1, FieldKind::Byte};
inline constexpr FieldDef Prot{35, 1, FieldKind::Byte};
inline constexpr FieldDef WaitTestSeconds{36, 4, FieldKind::Unsigned};
inline constexpr FieldDef Reserved{40, 5, FieldKind::Zero};
inline constexpr FieldDef AF{45, 1, FieldKind::Zero};   // build leaves it zero; decode reads it as a byte
inline constexpr FieldDef Frmt{46, 1, FieldKind::Zero}; // likewise
} // namespace RecordField

// The common block (102 bytes at kCommonBase); offsets are relative to it.
namespace CommonField {
inline constexpr FieldDef EtherProt{0, 1, FieldKind::Byte};
inline constexpr FieldDef Dhcp{1, 1, FieldKind::Byte};
inline constexpr FieldDef MasterIp{2, 4, FieldKind::Ip};
inline constexpr FieldDef OwnIp{6, 4, FieldKind::Ip};
inline constexpr FieldDef GatewayIp{10, 4, FieldKind::Ip};
inline constexpr FieldDef Serial{14, 4, FieldKind::Unsigned};
inline constexpr FieldDef MasterPort{18, 2, FieldKind::Unsigned};
inline constexpr FieldDef OwnPort{20, 2, FieldKind::Unsigned};
inline constexpr FieldDef Apn{22, 64, FieldKind::Text};
inline constexpr FieldDef Constant9999{86, 2, FieldKind::Constant};
inline constexpr FieldDef Baud{88, 6, FieldKind::Text};
inline constexpr FieldDef Reserved{94, 3, FieldKind::Reserved};
inline constexpr FieldDef PeriodHB{97, 4, FieldKind::Unsigned};
inline constexpr FieldDef Format{101, 1, FieldKind::Byte};
} // namespace CommonField

inline constexpr int kConstant9999 = 9999;

constexpr int recordAddress(int record, const FieldDef &field) { return record * kRecordSize + field.offset; }
constexpr int commonAddress(const FieldDef &field) { return kCommonBase + field.offset; }

static_assert(RecordField::Frmt.offset + RecordField::Frmt.width == kRecordSize);
static_assert(CommonField::Format.offset + CommonField::Format.width == kCommonSize);
static_assert(kCommonSize == 102 && kImageSize == 14202);

} // namespace tarvil
