// TextToIp and IpToText: every text TextToIp accepts round-trips through
// IpToText, and IpToText gives a dotted text for every value.
#include "FuzzCheck.h"

#include "model/IpAddress.h"

#include <QString>

#include <cstdint>
#include <cstring>

using namespace tarvil;

namespace {

void checkText(const QString &text)
{
    const std::uint32_t value = TextToIp(text);
    if (value == 0)
        return;
    const QString dotted = IpToText(value);
    FUZZ_REQUIRE(TextToIp(dotted) == value);
    // What was accepted holds exactly three dots, so nothing else is taken in.
    FUZZ_REQUIRE(text.count(QLatin1Char('.')) == 3);
}

void checkValue(std::uint32_t value)
{
    const QString dotted = IpToText(value);
    FUZZ_REQUIRE(dotted.size() >= 7 && dotted.size() <= 15);
    FUZZ_REQUIRE(TextToIp(dotted) == value); // 0 is rejected, and 0 it is
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *text = reinterpret_cast<const char *>(data);
    checkText(QString::fromUtf8(text, qsizetype(size)));
    checkText(QString::fromLatin1(text, qsizetype(size)));
    if (size >= 4) {
        std::uint32_t value = 0;
        std::memcpy(&value, data, sizeof value);
        checkValue(value);
    }
    return 0;
}
