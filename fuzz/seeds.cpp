// Writes the configuration-file seeds into a folder: files as the tool saves
// them, and the shorter forms the reader also takes.
//     tarvil-fuzz-seeds fuzz/corpus/configfile
#include "support/SampleConfiguration.h"

#include "files/ConfigFile.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"
#include "model/ImageLayout.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

using namespace tarvil;

namespace {

bool write(const QString &folder, const char *name, const QByteArray &bytes)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    ConfigImage image;
    if (!image.build(test::validSettings(), test::sampleRows(12)))
        return 1;
    PacketList packets;
    packets.buildFrom(image);
    const QByteArray saved = serializeConfigFile(packets);
    const qsizetype common = 12 + 6 * qsizetype(kCommonBase);
    const qsizetype apn = 12 + 6 * qsizetype(commonAddress(CommonField::Apn));
    bool ok = write(folder, "saved.tvc", saved);
    // The common block alone, behind a header without a mark record.
    ok = write(folder, "common-only.tvc", QByteArray("TransX") + saved.mid(common)) && ok;
    // Ends ten packets into the access point name.
    ok = write(folder, "ends-in-apn.tvc", saved.left(12) + saved.mid(common, apn + 60 - common)) && ok;
    ok = write(folder, "headers-only.tvc", saved.left(12)) && ok;
    return ok ? 0 : 1;
}
