#pragma once

#include <QByteArray>
#include <QString>

namespace tarvil::cp1251 {

// Texts of the configuration image and of CentralType.txt are code page 1251,
// one byte per character, converted through the tool's own table (no system
// converter is needed). Characters the code page lacks become '?', one each.
// Byte 0x98, unassigned in the code page, stands for U+0098 both ways.
QByteArray encode(const QString &text);

// Decodes `length` bytes, stopping before the first zero byte.
QString decode(const char *bytes, qsizetype length);
inline QString decode(const QByteArray &bytes) { return decode(bytes.constData(), bytes.size()); }

} // namespace tarvil::cp1251
