#include "model/IpAddress.h"

namespace tarvil {

namespace {

// A whole decimal number made of ASCII digits only: no sign, no blanks, no
// prefix. Returns -1 when the text is not such a number or exceeds 255.
int octetValue(QStringView digits)
{
    if (digits.isEmpty())
        return -1;
    int value = 0;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
        if (value > 255)
            return -1;
    }
    return value;
}

} // namespace

std::uint32_t TextToIp(const QString &text)
{
    QStringView rest(text);
    std::uint32_t accumulator = 0;
    for (int part = 0; part < 3; ++part) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot < 0 || dot > 3)
            return 0;
        const int value = octetValue(rest.left(dot));
        if (value < 0)
            return 0;
        accumulator |= std::uint32_t(value) << (8 * part);
        rest = rest.mid(dot + 1);
    }
    const int last = octetValue(rest);
    if (last < 0)
        return 0;
    accumulator |= std::uint32_t(last) << 24;
    return accumulator;
}

QString IpToText(std::uint32_t value)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value & 0xFF)
        .arg((value >> 8) & 0xFF)
        .arg((value >> 16) & 0xFF)
        .arg((value >> 24) & 0xFF);
}

} // namespace tarvil
