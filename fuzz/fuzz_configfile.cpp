// The configuration-file reader over any bytes: it never crashes, what it
// accepts keeps the fields' limits, and a complete configuration it loads
// saves and loads back to the same.
#include "FuzzCheck.h"

#include "files/ConfigFile.h"
#include "link/Packets.h"
#include "model/ConfigImage.h"
#include "model/ImageLayout.h"
#include "model/IpAddress.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>

using namespace tarvil;

namespace {

void checkLimits(const LoadedConfig &c)
{
    const CommonSettings &s = c.settings;
    FUZZ_REQUIRE(!c.records || c.records->size() == kRecordsSize);
    FUZZ_REQUIRE(s.etherProt >= 0 && s.etherProt < kEtherProtItems);
    FUZZ_REQUIRE(s.dhcp >= 0 && s.dhcp < kDhcpItems);
    FUZZ_REQUIRE(s.format >= 0 && s.format < kFormatItems);
    for (const Field *ip : {&CommonField::MasterIp, &CommonField::OwnIp, &CommonField::GatewayIp}) {
        const QString text = fieldText(*ip, s);
        if (c.carries(*ip))
            FUZZ_REQUIRE(IpToText(TextToIp(text)) == text || text == QStringLiteral("0.0.0.0"));
    }
    FUZZ_REQUIRE(s.apn.size() <= CommonField::Apn.width);
    FUZZ_REQUIRE(s.baud.size() <= CommonField::Baud.width);
}

// A configuration with every field: its build, saved and read again, gives
// the same fields and the same objects.
void checkFixedPoint(const LoadedConfig &c)
{
    if (!c.records)
        return;
    const CommonSettings settings = c.mergedInto(CommonSettings{});
    ConfigImage loaded;
    std::memcpy(loaded.data(), c.records->constData(), kRecordsSize);
    const QList<ObjectRow> rows = loaded.decodeObjects();
    ConfigImage image;
    if (!image.build(settings, rows))
        return; // a field the window would refuse to write
    PacketList packets;
    packets.buildFrom(image);
    const LoadResult again = parseConfigFile(serializeConfigFile(packets));
    FUZZ_REQUIRE(again.status == LoadStatus::Ok);
    FUZZ_REQUIRE(again.config.mergedInto(CommonSettings{}) == settings);
    ConfigImage reread;
    std::memcpy(reread.data(), again.config.records->constData(), kRecordsSize);
    const QList<ObjectRow> back = reread.decodeObjects();
    FUZZ_REQUIRE(back.size() == rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ObjectRow &a = rows.at(i);
        const ObjectRow &b = back.at(i);
        FUZZ_REQUIRE(a.Obj == b.Obj && a.Account == b.Account && a.P1 == b.P1 && a.P2 == b.P2);
        FUZZ_REQUIRE(a.TypeId == b.TypeId && a.Prot == b.Prot && a.WaitTest == b.WaitTest);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const LoadResult result = parseConfigFile(bytes);
    if (result.status != LoadStatus::Ok)
        return 0;
    FUZZ_REQUIRE(bytes.startsWith("Trans"));
    checkLimits(result.config);
    checkFixedPoint(result.config);
    return 0;
}
