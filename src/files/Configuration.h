#pragma once

#include "files/ConfigFile.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"
#include "model/PanelTypeCatalogue.h"
#include "model/UserMessage.h"

#include <QBitArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace tarvil {

struct WriteCheck;

// A configuration as a freshly started window shows it once it has loaded a
// file (or, for a raw image, once a read has brought it): the right-hand
// fields, the object table in its order, and the bytes it came from.
struct Configuration {
    enum class Source { File, RawImage };
    Source source = Source::File;
    CommonSettings settings;
    QList<ObjectRow> rows;       // the table's order, types named through the catalogue
    QList<int> rowRecords;       // the record each row came from
    ConfigImage image;           // every byte the input carries, at its address
    QBitArray carried;           // which addresses the input carries

    // The byte at `address`, when the input carries it.
    std::optional<std::uint8_t> byteAt(int address) const;
    // The field's bytes in the record (or the common block, record -1), when
    // the input carries all of them.
    std::optional<QByteArray> fieldBytes(const Field &field, int record = -1) const;
};

struct OpenResult {
    LoadStatus status = LoadStatus::BadFormat;
    Configuration config;
    // What the window's loader says to a refused file, and why the file
    // could not be read when that is the reason.
    UserMessage message;
    QString reason;
};

// A file as "Загрузить" in a fresh window reads it: the fields it carries
// over the window's start values, the table rebuilt from its records (an
// empty table when it carries none). A file the loader refuses, or one that
// ends inside a field, gives the loader's status and message.
OpenResult openConfigFile(const QString &path, const PanelTypeCatalogue &catalogue);
// As openConfigFile, and also a raw 14 202-byte image, shown as a read would
// show it. A file that starts with "Trans" is a configuration file; any other
// of exactly 14 202 bytes an image.
OpenResult openConfiguration(const QString &path, const PanelTypeCatalogue &catalogue);
// An image as a read shows it: the fields decoded, the table rebuilt.
Configuration configurationFromImage(const ConfigImage &image, const PanelTypeCatalogue &catalogue);

// What "Сохранить" writes for these settings and rows: the image of the build
// and the file's bytes. A build leaves the reserved bytes of the common block
// as the window's image holds them: zero in a fresh window (no `held`), the
// transceiver's own after a read (`held` is the image read). Nothing, and the
// check that refuses, when the write's checks refuse the settings.
struct BuiltConfig {
    const WriteCheck *refused = nullptr;
    ConfigImage image;
    PacketList packets;
};
BuiltConfig buildConfiguration(const CommonSettings &settings, const QList<ObjectRow> &rows,
                               const ConfigImage *held = nullptr);

} // namespace tarvil
