#include "model/Codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstring>

namespace tarvil::cp1251 {

QByteArray encode(const QString &text)
{
    QStringEncoder probe("windows-1251");
    if (!probe.isValid())
        return text.toLatin1();
    // Nearly every text maps whole; only one that does not is redone
    // character by character.
    QByteArray whole = probe.encode(text);
    if (!probe.hasError() && whole.size() == text.size())
        return whole;
    QByteArray out;
    out.reserve(text.size());
    // Encode one character at a time so that one the code page lacks cannot
    // shift the others: every character yields exactly one byte.
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size())
            len = 2;
        // A fresh encoder each time: one that has met an error keeps its error
        // flag even after resetState().
        QStringEncoder encoder("windows-1251");
        QByteArray one = encoder.encode(QStringView(text).mid(i, len));
        if (encoder.hasError() || one.size() != 1) {
            out.append('?');
        } else {
            out.append(one.at(0));
        }
        i += len - 1;
    }
    return out;
}

QString decode(const char *bytes, qsizetype length)
{
    if (!bytes || length <= 0)
        return {};
    const void *zero = std::memchr(bytes, 0, static_cast<size_t>(length));
    if (zero)
        length = static_cast<const char *>(zero) - bytes;
    QStringDecoder decoder("windows-1251");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes, length);
    return decoder.decode(QByteArrayView(bytes, length));
}

} // namespace tarvil::cp1251
