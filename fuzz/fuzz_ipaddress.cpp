// TextToIp and IpToText: TextToIp accepts exactly the dotted form, every text
// it accepts round-trips through IpToText, and IpToText gives a dotted text
// for every value.
#include "FuzzCheck.h"

#include "model/IpAddress.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>

using namespace tarvil;

namespace {

// The accepted form said another way: four parts between dots, all ASCII
// digits, the first three of one to three digits, each at most 255; 0 for
// anything else and for 0.0.0.0.
std::uint32_t reference(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts.at(i);
        if (part.isEmpty() || (i < 3 && part.size() > 3))
            return 0;
        std::uint32_t octet = 0;
        for (QChar c : part) {
            if (c.unicode() < '0' || c.unicode() > '9')
                return 0;
            octet = octet * 10 + (c.unicode() - '0');
            if (octet > 255)
                return 0;
        }
        value |= octet << (8 * i);
    }
    return value;
}

void checkText(const QString &text)
{
    const std::uint32_t value = TextToIp(text);
    FUZZ_REQUIRE(value == reference(text));
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
