#include "files/Configuration.h"

#include "link/Texts.h"
#include "model/ObjectTable.h"
#include "model/WriteChecks.h"

#include <QFile>

#include <cstring>

namespace tarvil {

namespace {

// The records in use, in the table's order, with the record each came from.
void fillRows(Configuration &c, const ConfigImage &records, const PanelTypeCatalogue &catalogue)
{
    QList<ObjectRow> rows;
    QList<int> from;
    for (int k = 0; k < kMaxObjects; ++k) {
        if (!ConfigImage::isEmptySlot(records.record(k))) {
            rows.append(ConfigImage::decodeRecord(records.record(k)));
            from.append(k);
        }
    }
    c.rows = asTableRows(rows, catalogue);
    c.rowRecords.clear();
    for (qsizetype i : tableOrder(rows))
        c.rowRecords.append(from.at(i));
}

OpenResult refused(LoadStatus status, const QString &reason = {})
{
    OpenResult r;
    r.status = status;
    r.message = status == LoadStatus::Truncated ? texts::loadTruncated() : texts::loadBadFormat();
    r.reason = reason;
    return r;
}

OpenResult fromFile(const QByteArray &bytes, const PanelTypeCatalogue &catalogue)
{
    LoadResult loaded = parseConfigFile(bytes);
    if (loaded.status != LoadStatus::Ok)
        return refused(loaded.status);
    OpenResult r;
    r.status = LoadStatus::Ok;
    Configuration &c = r.config;
    c.source = Configuration::Source::File;
    c.settings = loaded.config.mergedInto(startSettings());
    // The window's records are all zero until something fills them.
    ConfigImage records;
    if (loaded.config.records)
        std::memcpy(records.data(), loaded.config.records->constData(), kRecordsSize);
    fillRows(c, records, catalogue);
    c.image = loaded.image;
    c.carried = loaded.carried;
    return r;
}

OpenResult open(const QString &path, const PanelTypeCatalogue &catalogue, bool rawImages)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(LoadStatus::BadFormat, file.errorString());
    const QByteArray bytes = file.read(kMaxConfigFileBytes + 1);
    if (bytes.size() > kMaxConfigFileBytes)
        return refused(LoadStatus::BadFormat);
    if (bytes.startsWith("Trans") || !rawImages || bytes.size() != kImageSize)
        return fromFile(bytes, catalogue);

    OpenResult r;
    r.status = LoadStatus::Ok;
    ConfigImage image;
    std::memcpy(image.data(), bytes.constData(), kImageSize);
    r.config = configurationFromImage(image, catalogue);
    return r;
}

} // namespace

Configuration configurationFromImage(const ConfigImage &image, const PanelTypeCatalogue &catalogue)
{
    Configuration c;
    c.source = Configuration::Source::RawImage;
    c.image = image;
    c.carried = QBitArray(kImageSize, true);
    c.settings = c.image.decodeCommon();
    fillRows(c, c.image, catalogue);
    return c;
}

std::optional<std::uint8_t> Configuration::byteAt(int address) const
{
    if (address < 0 || address >= carried.size() || !carried.testBit(address))
        return std::nullopt;
    return image.at(address);
}

std::optional<QByteArray> Configuration::fieldBytes(const Field &field, int record) const
{
    const int address = record < 0 ? field.address() : field.address(record);
    QByteArray bytes;
    for (int i = 0; i < field.width; ++i) {
        const auto byte = byteAt(address + i);
        if (!byte)
            return std::nullopt;
        bytes.append(char(*byte));
    }
    return bytes;
}

OpenResult openConfigFile(const QString &path, const PanelTypeCatalogue &catalogue)
{
    return open(path, catalogue, false);
}

OpenResult openConfiguration(const QString &path, const PanelTypeCatalogue &catalogue)
{
    return open(path, catalogue, true);
}

BuiltConfig buildConfiguration(const CommonSettings &settings, const QList<ObjectRow> &rows, const ConfigImage *held)
{
    BuiltConfig built;
    if (held)
        built.image = *held;
    built.refused = firstRefusedCheck(settings);
    if (built.refused || !built.image.build(settings, rows))
        return built;
    built.packets.buildFrom(built.image);
    return built;
}

} // namespace tarvil
