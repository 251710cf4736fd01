// Writes the configuration-file seeds into a folder: files as the tool saves
// them, and the shorter forms the reader also takes.
//     tarvil-fuzz-seeds fuzz/corpus/configfile
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

CommonSettings settings()
{
    CommonSettings s;
    s.etherProt = 1;
    s.dhcp = 0;
    s.masterIp = QStringLiteral("192.168.1.221");
    s.ownIp = QStringLiteral("10.0.0.221");
    s.gatewayIp = QStringLiteral("10.0.0.1");
    s.serial = QStringLiteral("12345");
    s.masterPort = QStringLiteral("9999");
    s.ownPort = QStringLiteral("8888");
    s.apn = QStringLiteral("internet.provider");
    s.baud = QStringLiteral("115200");
    s.periodHB = 3600;
    s.format = 2;
    return s;
}

QList<ObjectRow> rows()
{
    QList<ObjectRow> out;
    for (int i = 0; i < 12; ++i) {
        ObjectRow r;
        r.Obj = QStringLiteral("%1").arg(0xA0 + i, 4, 16, QLatin1Char('0')).toUpper();
        r.Account = QStringLiteral("%1").arg(1000 + i);
        r.P1 = QStringLiteral("+7900%1").arg(1234560 + i);
        r.P2 = i % 2 ? QStringLiteral("8%1").arg(4950000000LL + i) : QString();
        r.TypeId = std::int16_t(i * 21);
        r.Prot = std::int16_t(i % 4);
        r.WaitTest = 60 * i;
        out << r;
    }
    return out;
}

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
    if (!image.build(settings(), rows()))
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
