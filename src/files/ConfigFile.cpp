#include "files/ConfigFile.h"

#include "model/ConfigImage.h"
#include "model/ImageLayout.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace tarvil {

namespace {

constexpr int kRecord = 6;
// Far beyond any file the tool writes; a larger one is not a configuration.
constexpr qint64 kMaxFileSize = qint64(64) * 1024 * 1024;

enum class AnchorField {
    Records, EtherProt, Dhcp, MasterIp, OwnIp, GatewayIp, Serial, MasterPort, OwnPort, Apn, Baud, PeriodHB, Format
};

struct Anchor {
    int address;
    int count;
    AnchorField field;
};

// The anchors, all taken from the image layout.
constexpr Anchor kAnchors[] = {
    {0, kRecordsSize, AnchorField::Records},
    {commonAddress(CommonField::EtherProt), CommonField::EtherProt.width, AnchorField::EtherProt},
    {commonAddress(CommonField::Dhcp), CommonField::Dhcp.width, AnchorField::Dhcp},
    {commonAddress(CommonField::MasterIp), CommonField::MasterIp.width, AnchorField::MasterIp},
    {commonAddress(CommonField::OwnIp), CommonField::OwnIp.width, AnchorField::OwnIp},
    {commonAddress(CommonField::GatewayIp), CommonField::GatewayIp.width, AnchorField::GatewayIp},
    {commonAddress(CommonField::Serial), CommonField::Serial.width, AnchorField::Serial},
    {commonAddress(CommonField::MasterPort), CommonField::MasterPort.width, AnchorField::MasterPort},
    {commonAddress(CommonField::OwnPort), CommonField::OwnPort.width, AnchorField::OwnPort},
    {commonAddress(CommonField::Apn), CommonField::Apn.width, AnchorField::Apn},
    {commonAddress(CommonField::Baud), CommonField::Baud.width, AnchorField::Baud},
    {commonAddress(CommonField::PeriodHB), CommonField::PeriodHB.width, AnchorField::PeriodHB},
    {commonAddress(CommonField::Format), CommonField::Format.width, AnchorField::Format},
};

const Anchor *anchorAt(int address)
{
    for (const Anchor &a : kAnchors)
        if (a.address == address)
            return &a;
    return nullptr;
}

void apply(LoadedConfig &c, AnchorField field, const std::uint8_t *data, int count)
{
    switch (field) {
    case AnchorField::Records:
        c.records = QByteArray(reinterpret_cast<const char *>(data), count);
        break;
    case AnchorField::EtherProt: c.etherProt = std::min<int>(data[0], kEtherProtItems - 1); break;
    case AnchorField::Dhcp: c.dhcp = std::min<int>(data[0], kDhcpItems - 1); break;
    case AnchorField::MasterIp: c.masterIp = ConfigImage::readIpText(data); break;
    case AnchorField::OwnIp: c.ownIp = ConfigImage::readIpText(data); break;
    case AnchorField::GatewayIp: c.gatewayIp = ConfigImage::readIpText(data); break;
    case AnchorField::Serial: c.serial = QString::number(ConfigImage::readUnsigned(data, count)); break;
    case AnchorField::MasterPort: c.masterPort = QString::number(ConfigImage::readUnsigned(data, count)); break;
    case AnchorField::OwnPort: c.ownPort = QString::number(ConfigImage::readUnsigned(data, count)); break;
    case AnchorField::Apn: c.apn = ConfigImage::readText(data, count); break;
    case AnchorField::Baud: c.baud = ConfigImage::readText(data, count); break;
    case AnchorField::PeriodHB: c.periodHB = ConfigImage::readUnsigned(data, count); break;
    case AnchorField::Format: c.format = std::min<int>(data[0], kFormatItems - 1); break;
    }
}

} // namespace

QByteArray serializeConfigFile(const PacketList &packets)
{
    QByteArray out;
    out.reserve(qsizetype(kRecord) * (2 + packets.count()));
    out.append(kHeaderTag, kRecord);
    out.append(reinterpret_cast<const char *>(kHeaderMark.data()), kRecord);
    for (int i = 0; i < packets.count(); ++i)
        out.append(reinterpret_cast<const char *>(packets.at(i).bytes.data()), kRecord);
    return out;
}

bool saveConfigFile(const QString &path, const PacketList &packets, QString *error)
{
    // Never written in place: where no temporary file can be made beside the
    // target, the save fails and the old file stays whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = serializeConfigFile(packets);
    if (file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

CommonSettings LoadedConfig::mergedInto(CommonSettings s) const
{
    if (etherProt) s.etherProt = *etherProt;
    if (dhcp) s.dhcp = *dhcp;
    if (masterIp) s.masterIp = *masterIp;
    if (ownIp) s.ownIp = *ownIp;
    if (gatewayIp) s.gatewayIp = *gatewayIp;
    if (serial) s.serial = *serial;
    if (masterPort) s.masterPort = *masterPort;
    if (ownPort) s.ownPort = *ownPort;
    if (apn) s.apn = *apn;
    if (baud) s.baud = *baud;
    if (periodHB) s.periodHB = *periodHB;
    if (format) s.format = *format;
    return s;
}

LoadResult parseConfigFile(const QByteArray &bytes)
{
    LoadResult result;
    if (bytes.size() < 5 || !bytes.startsWith("Trans"))
        return result;
    qsizetype offset = kRecord;
    if (bytes.size() >= kRecord && bytes.at(5) == 'P')
        offset += kRecord; // the mark record
    // Whole records only: a last, incomplete record carries no packet.
    const qsizetype count = std::max<qsizetype>(0, (bytes.size() - offset) / kRecord);
    const auto *packets = reinterpret_cast<const std::uint8_t *>(bytes.constData() + std::min(offset, bytes.size()));

    // Decoded into a scratch copy first; the caller applies it only when the
    // whole file decoded.
    std::vector<std::uint8_t> data;
    for (qsizetype i = 0; i < count;) {
        const std::uint8_t *p = packets + i * kRecord;
        const Anchor *anchor = anchorAt(p[1] | (p[2] << 8));
        if (!anchor) {
            ++i;
            continue;
        }
        if (i + anchor->count > count) {
            result.status = LoadStatus::Truncated;
            return result;
        }
        data.resize(size_t(anchor->count));
        for (int k = 0; k < anchor->count; ++k)
            data[size_t(k)] = packets[(i + k) * kRecord + 3];
        apply(result.config, anchor->field, data.data(), anchor->count);
        i += anchor->count;
    }
    result.status = LoadStatus::Ok;
    return result;
}

LoadResult loadConfigFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize)
        return {};
    return parseConfigFile(bytes);
}

} // namespace tarvil
