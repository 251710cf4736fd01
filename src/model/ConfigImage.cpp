#include "model/ConfigImage.h"

#include "model/Codepage.h"
#include "model/IpAddress.h"

#include <algorithm>
#include <cstring>

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

void ConfigImage::storeSelections(int etherProt, int dhcp)
{
    common()[CommonField::EtherProt.offset] = std::uint8_t(etherProt);
    common()[CommonField::Dhcp.offset] = std::uint8_t(dhcp);
}

void ConfigImage::storeCommonNumber(const FieldDef &field, std::uint32_t value)
{
    writeUnsigned(common() + field.offset, field.width, value);
}

void ConfigImage::storeCommonText(const FieldDef &field, const QString &text)
{
    writeText(common() + field.offset, field.width, text);
}

void ConfigImage::storeConstant()
{
    storeCommonNumber(CommonField::Constant9999, kConstant9999);
}

void ConfigImage::storeFormat(int format)
{
    common()[CommonField::Format.offset] = std::uint8_t(format);
}

void ConfigImage::storeObjects(const QList<ObjectRow> &rows)
{
    clearRecords();
    const int count = std::min<int>(kMaxObjects, static_cast<int>(rows.size()));
    for (int k = 0; k < count; ++k) {
        const ObjectRow &row = rows.at(k);
        std::uint8_t *rec = record(k);
        writeText(rec + RecordField::Phone1.offset, RecordField::Phone1.width, row.P1);
        writeText(rec + RecordField::Phone2.offset, RecordField::Phone2.width, row.P2);
        writeText(rec + RecordField::Account.offset, RecordField::Account.width, row.Account);
        writeText(rec + RecordField::Obj.offset, RecordField::Obj.width, row.Obj);
        rec[RecordField::TypeId.offset] = std::uint8_t(row.TypeId & 0xFF);
        rec[RecordField::Prot.offset] = std::uint8_t(row.Prot & 0xFF);
        // The table refuses a WaitTest whose seconds do not fit 32 bits.
        const std::uint32_t seconds = std::uint32_t(std::int64_t(row.WaitTest) * 60);
        writeUnsigned(rec + RecordField::WaitTestSeconds.offset, RecordField::WaitTestSeconds.width, seconds);
        // Reserved bytes, A_F and Frmt stay zero: the build never fills them.
    }
}

void ConfigImage::finishBuild(const CommonSettings &settings, const QList<ObjectRow> &rows)
{
    storeConstant();
    storeCommonText(CommonField::Baud, settings.baud.left(CommonField::Baud.width));
    storeCommonNumber(CommonField::PeriodHB, settings.periodHB);
    storeFormat(settings.format);
    storeObjects(rows);
}

bool ConfigImage::build(const CommonSettings &s, const QList<ObjectRow> &rows)
{
    const auto serial = parseDecimal(s.serial);
    const auto masterPort = parseDecimal(s.masterPort);
    const auto ownPort = parseDecimal(s.ownPort);
    const std::uint32_t masterIp = TextToIp(s.masterIp);
    const std::uint32_t ownIp = TextToIp(s.ownIp);
    const std::uint32_t gatewayIp = TextToIp(s.gatewayIp);
    if (!serial || !masterPort || !ownPort || !masterIp || !ownIp || !gatewayIp || s.apn.isEmpty())
        return false;
    storeSelections(s.etherProt, s.dhcp);
    storeCommonNumber(CommonField::Serial, std::uint32_t(*serial));
    storeCommonNumber(CommonField::MasterPort, std::uint32_t(*masterPort));
    storeCommonNumber(CommonField::OwnPort, std::uint32_t(*ownPort));
    storeCommonNumber(CommonField::MasterIp, masterIp);
    storeCommonNumber(CommonField::OwnIp, ownIp);
    storeCommonNumber(CommonField::GatewayIp, gatewayIp);
    storeCommonText(CommonField::Apn, s.apn);
    finishBuild(s, rows);
    return true;
}

CommonSettings ConfigImage::decodeCommon() const
{
    const std::uint8_t *c = common();
    CommonSettings s;
    s.etherProt = std::min<int>(c[CommonField::EtherProt.offset], kEtherProtItems - 1);
    s.dhcp = std::min<int>(c[CommonField::Dhcp.offset], kDhcpItems - 1);
    s.masterIp = readIpText(c + CommonField::MasterIp.offset);
    s.ownIp = readIpText(c + CommonField::OwnIp.offset);
    s.gatewayIp = readIpText(c + CommonField::GatewayIp.offset);
    s.serial = QString::number(readUnsigned(c + CommonField::Serial.offset, CommonField::Serial.width));
    s.masterPort = QString::number(readUnsigned(c + CommonField::MasterPort.offset, CommonField::MasterPort.width));
    s.ownPort = QString::number(readUnsigned(c + CommonField::OwnPort.offset, CommonField::OwnPort.width));
    s.apn = readText(c + CommonField::Apn.offset, CommonField::Apn.width);
    s.baud = readText(c + CommonField::Baud.offset, CommonField::Baud.width);
    s.periodHB = readUnsigned(c + CommonField::PeriodHB.offset, CommonField::PeriodHB.width);
    s.format = std::min<int>(c[CommonField::Format.offset], kFormatItems - 1);
    return s;
}

ObjectRow ConfigImage::decodeRecord(const std::uint8_t *rec)
{
    ObjectRow row;
    row.P1 = readText(rec + RecordField::Phone1.offset, RecordField::Phone1.width);
    row.P2 = readText(rec + RecordField::Phone2.offset, RecordField::Phone2.width);
    row.Account = readText(rec + RecordField::Account.offset, RecordField::Account.width);
    row.Obj = readText(rec + RecordField::Obj.offset, RecordField::Obj.width);
    row.WaitTest = std::int32_t(readUnsigned(rec + RecordField::WaitTestSeconds.offset,
                                             RecordField::WaitTestSeconds.width) / 60);
    row.A_F = rec[RecordField::AF.offset];
    row.Prot = rec[RecordField::Prot.offset];
    row.TypeId = rec[RecordField::TypeId.offset];
    row.Frmt = rec[RecordField::Frmt.offset];
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
