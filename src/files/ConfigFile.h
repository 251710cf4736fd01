#pragma once

#include "link/Packets.h"
#include "model/CommonSettings.h"
#include "model/ImageLayout.h"

#include <QBitArray>
#include <QByteArray>
#include <QString>

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

namespace tarvil {

// A configuration file: the 6-byte record "TransP", a fixed 6-byte mark, then
// the packets of a build, one 6-byte record each (85 224 bytes for a build).
inline constexpr char kHeaderTag[] = "TransP";
// "TVCFG1" scrambled; the reader never tests it.
inline constexpr std::array<std::uint8_t, 6> kHeaderMark{0x0E, 0x0C, 0x19, 0x1C, 0x1D, 0x6B};
inline constexpr int kConfigFileSize = kPacketSize * (2 + kImageSize);
// Far beyond any file the tool writes; a larger one is not a configuration.
inline constexpr qint64 kMaxConfigFileBytes = qint64(64) * 1024 * 1024;

QByteArray serializeConfigFile(const PacketList &packets);

// Writes the file through QSaveFile: an existing file survives any failure.
// On failure `error` says why, in the user's words.
bool saveConfigFile(const QString &path, const PacketList &packets, QString *error);

// What a file carries: the common settings, and which of their fields the
// file reaches (a field it does not reach keeps CommonSettings' own value
// here); the object records when it reaches them.
struct LoadedConfig {
    CommonSettings settings;
    std::bitset<std::size(kCommonFields)> carried;
    std::optional<QByteArray> records; // the 14 100 bytes of the object records

    bool carries(const Field &field) const { return carried.test(size_t(&field - kCommonFields)); }
    // The settings `s` with every field the file carries put in.
    CommonSettings mergedInto(CommonSettings s) const;
};

enum class LoadStatus {
    Ok,
    BadFormat, // not "Trans" at the start, empty, unreadable or absurdly large
    Truncated, // a field runs past the end of the file
};

struct LoadResult {
    LoadStatus status = LoadStatus::BadFormat;
    LoadedConfig config;
    // Every byte the packets carry, at the address the loader reads it for
    // (an anchored field's bytes at the field's addresses, any other packet's
    // at its own), and which addresses they are; zero and unset elsewhere.
    // The window loads only the fields above; this is what a diff compares.
    ConfigImage image;
    QBitArray carried;
};

// Decodes a whole file in memory. The reader is tolerant: only "Trans" is
// required, the sixth byte "P" means a mark record follows, any number of
// records, marker and CRC not tested; fields are found at their anchor
// addresses and take the data bytes of the packets that follow, in file order.
LoadResult parseConfigFile(const QByteArray &bytes);
LoadResult loadConfigFile(const QString &path);

} // namespace tarvil
