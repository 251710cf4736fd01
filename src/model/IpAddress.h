#pragma once

#include <QString>
#include <cstdint>

namespace tarvil {

// The 32-bit address value holds the first number of the dotted text in bits
// 0..7, the second in 8..15 and so on; 0 stands for "no valid address".

// Returns 0 for every text it rejects (including "0.0.0.0"). Accepted: exactly
// four decimal numbers 0..255 separated by three dots, the first three of one
// to three digits, the last of any number of digits (leading zeros allowed).
std::uint32_t TextToIp(const QString &text);

// Dotted text of the value, octets in decimal without leading zeros.
QString IpToText(std::uint32_t value);

} // namespace tarvil
