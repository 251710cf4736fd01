#include "files/ConfigFile.h"

#include "model/ConfigImage.h"
#include "model/ImageLayout.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

namespace tarvil {

namespace {

// An anchor: where a field starts in the image, and how many packets it takes.
struct Anchor {
    int address;
    int count;
    const Field *field; // nothing for the object records
};

// The object records as one field, then every common field a file carries:
// the constant and the reserved bytes are passed over.
const QList<Anchor> &anchors()
{
    static const QList<Anchor> list = [] {
        QList<Anchor> out{{0, kRecordsSize, nullptr}};
        for (const Field &f : kCommonFields) {
            if (f.kind != FieldKind::Constant && f.kind != FieldKind::Reserved)
                out.append({f.address(), f.width, &f});
        }
        return out;
    }();
    return list;
}

const Anchor *anchorAt(int address)
{
    for (const Anchor &a : anchors())
        if (a.address == address)
            return &a;
    return nullptr;
}

} // namespace

QByteArray serializeConfigFile(const PacketList &packets)
{
    QByteArray out;
    out.reserve(qsizetype(kPacketSize) * (2 + packets.count()));
    out.append(kHeaderTag, kPacketSize);
    out.append(reinterpret_cast<const char *>(kHeaderMark.data()), kPacketSize);
    for (int i = 0; i < packets.count(); ++i)
        out.append(reinterpret_cast<const char *>(packets.at(i).bytes.data()), kPacketSize);
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
    for (const Field &field : kCommonFields) {
        if (carries(field))
            copyField(field, settings, s);
    }
    return s;
}

LoadResult parseConfigFile(const QByteArray &bytes)
{
    LoadResult result;
    if (bytes.size() < 5 || !bytes.startsWith("Trans"))
        return result;
    qsizetype offset = kPacketSize;
    if (bytes.size() >= kPacketSize && bytes.at(5) == 'P')
        offset += kPacketSize; // the mark record
    // Whole records only: a last, incomplete record carries no packet.
    const qsizetype count = std::max<qsizetype>(0, (bytes.size() - offset) / kPacketSize);
    const auto packetAt = [&](qsizetype i) {
        WritePacket p;
        std::memcpy(p.bytes.data(), bytes.constData() + offset + i * kPacketSize, kPacketSize);
        return p;
    };

    // Decoded into a scratch copy first; the caller applies it only when the
    // whole file decoded.
    result.carried.resize(kImageSize);
    ConfigImage &image = result.image;
    for (qsizetype i = 0; i < count;) {
        const WritePacket packet = packetAt(i);
        const Anchor *anchor = anchorAt(packet.address());
        if (!anchor) {
            // Passed over by the loader; kept at its address for the image.
            if (packet.address() < kImageSize) {
                image.set(packet.address(), packet.data());
                result.carried.setBit(packet.address());
            }
            ++i;
            continue;
        }
        if (i + anchor->count > count) {
            LoadResult truncated;
            truncated.status = LoadStatus::Truncated;
            return truncated;
        }
        // The field takes the data bytes of the packets that follow, whatever
        // their addresses.
        for (int k = 0; k < anchor->count; ++k) {
            image.set(anchor->address + k, packetAt(i + k).data());
            result.carried.setBit(anchor->address + k);
        }
        if (anchor->field) {
            decodeField(*anchor->field, image.data() + anchor->address, result.config.settings);
            result.config.carried.set(size_t(anchor->field - kCommonFields));
        } else {
            result.config.records = QByteArray(reinterpret_cast<const char *>(image.data()), kRecordsSize);
        }
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
    const QByteArray bytes = file.read(kMaxConfigFileBytes + 1);
    if (bytes.size() > kMaxConfigFileBytes)
        return {};
    return parseConfigFile(bytes);
}

} // namespace tarvil
