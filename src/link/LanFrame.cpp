#include "link/LanFrame.h"

#include <cstring>

namespace tarvil {

namespace {

QByteArray dataRequest(int number, const std::uint8_t *bytes, int length)
{
    QByteArray request = QByteArrayLiteral("AT+FPD0=");
    request.append(char(0));
    request.append(char(length & 0xFF));
    request.append(char(0));
    request.append(char(number));
    request.append(reinterpret_cast<const char *>(bytes), length);
    return request;
}

} // namespace

QByteArray LanFrame::writeBlock(int n, const ConfigImage &image)
{
    return dataRequest(n, image.record(kRecordsPerBlock * (n - 1)), kBlockDataLength);
}

QByteArray LanFrame::writeCommon(const ConfigImage &image)
{
    return dataRequest(kWriteCommonNumber, image.common(), kCommonSize);
}

bool LanFrame::accept(const QByteArray &datagram)
{
    const int n = int(datagram.size());
    if (n <= 0 || n > kBufferSize)
        return false;
    std::memcpy(buffer_, datagram.constData(), size_t(n));
    length_ = n;
    return true;
}

LanReply LanFrame::reply() const
{
    const auto is = [this](int i, char c) { return byte(i) == static_cast<unsigned char>(c); };
    switch (length_) {
    case 2: return is(0, 'O') && is(1, 'K') ? LanReply::Ok : LanReply::None;
    case 3: return is(0, 'B') && is(2, 'D') ? LanReply::Failure : LanReply::None;
    case 4: return is(0, 'G') && is(3, 'D') ? LanReply::Success : LanReply::None;
    case 5: return is(1, 'E') && is(4, 'Y') ? LanReply::Ready : LanReply::None;
    case 7:
        return is(2, '+') && is(6, 'E') && blockNumber() == kReadCommonNumber ? LanReply::ReadEnd : LanReply::None;
    case kHeaderLength + kCommonSize:
        return is(2, '+') && is(5, 'Y') && blockNumber() == kReadCommonNumber ? LanReply::ReadCommon
                                                                               : LanReply::None;
    case kHeaderLength + kBlockDataLength:
        return is(2, '+') && is(5, 'Y') && blockNumber() < kReadCommonNumber ? LanReply::ReadBlock : LanReply::None;
    default: break;
    }
    return LanReply::None;
}

} // namespace tarvil
