#include "SimProtocol.h"

#include <array>

namespace tarvil::sim {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        std::uint16_t value = std::uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            value = std::uint16_t((value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1);
        table[size_t(i)] = value;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

const QByteArray kConfigCommand = QByteArrayLiteral("AT+CONFIG");
const QByteArray kDatfCommand = QByteArrayLiteral("AT+DATF");
const QByteArray kFpdeCommand = QByteArrayLiteral("AT+FPDE");
const QByteArray kReadfCommand = QByteArrayLiteral("AT+READF");
const QByteArray kRdy0Command = QByteArrayLiteral("AT+RDY0");
const QByteArray kWriteHeader = QByteArrayLiteral("AT+FPD0=");
// Read datagrams mirror the write's header: 8 characters, 0, length, 0, number.
const QByteArray kReadHeader = QByteArrayLiteral("AT+RDY0=");

std::uint8_t byteAt(const QByteArray &d, int i) { return std::uint8_t(d.at(i)); }

QByteArray blockDatagram(const QByteArray &header, int length, int number, const QByteArray &payload)
{
    QByteArray d = header;
    d.append(char(0));
    d.append(char(std::uint8_t(length)));
    d.append(char(0));
    d.append(char(std::uint8_t(number)));
    d.append(payload.left(length));
    if (payload.size() < length)
        d.append(QByteArray(length - payload.size(), '\0'));
    return d;
}

bool hasWriteHeader(const QByteArray &d, int length)
{
    return d.startsWith(kWriteHeader) && byteAt(d, 8) == 0 && byteAt(d, 9) == length && byteAt(d, 10) == 0;
}

} // namespace

std::uint16_t crc16(const std::uint8_t *bytes, int length)
{
    std::uint16_t crc = 0;
    for (int i = 0; i < length; ++i)
        crc = std::uint16_t((crc << 8) ^ kCrcTable[size_t(((crc >> 8) ^ bytes[i]) & 0xFF)]);
    return crc;
}

QByteArray makeFrame(std::uint8_t marker, std::uint16_t address, std::uint8_t data)
{
    std::uint8_t f[kFrameBytes] = {marker, std::uint8_t(address & 0xFF), std::uint8_t(address >> 8), data, 0, 0};
    const std::uint16_t crc = crc16(f, 4);
    f[4] = std::uint8_t(crc >> 8);
    f[5] = std::uint8_t(crc & 0xFF);
    return QByteArray(reinterpret_cast<const char *>(f), kFrameBytes);
}

QByteArray pollFrame() { return makeFrame('#', 0x0101, 0x01); }

void putLe16(QByteArray &image, int address, std::uint16_t value)
{
    image[address] = char(value & 0xFF);
    image[address + 1] = char(value >> 8);
}

void putLe32(QByteArray &image, int address, std::uint32_t value)
{
    putLe16(image, address, std::uint16_t(value & 0xFFFF));
    putLe16(image, address + 2, std::uint16_t(value >> 16));
}

void putText(QByteArray &image, int address, int width, const char *ascii)
{
    int i = 0;
    for (; i < width && ascii[i] != '\0'; ++i) {
        Q_ASSERT(std::uint8_t(ascii[i]) < 0x80);
        image[address + i] = ascii[i];
    }
    for (; i < width; ++i)
        image[address + i] = '\0';
}

void putIpv4(QByteArray &image, int address, std::uint8_t first, std::uint8_t second, std::uint8_t third,
             std::uint8_t fourth)
{
    image[address] = char(first);
    image[address + 1] = char(second);
    image[address + 2] = char(third);
    image[address + 3] = char(fourth);
}

void FrameParser::feed(const char *bytes, qsizetype length)
{
    // Drop what was consumed before growing, so the buffer stays small
    // however long the stream runs.
    if (start_ > 0) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes, length);
}

std::optional<Frame> FrameParser::next()
{
    while (buffer_.size() - start_ > 0) {
        const auto *p = reinterpret_cast<const std::uint8_t *>(buffer_.constData()) + start_;
        if (p[0] != ';' && p[0] != '#') {
            ++start_;
            ++discarded_;
            continue;
        }
        if (buffer_.size() - start_ < kFrameBytes)
            return std::nullopt;
        const std::uint16_t crc = crc16(p, 4);
        if (p[4] != std::uint8_t(crc >> 8) || p[5] != std::uint8_t(crc & 0xFF)) {
            // A marker byte inside noise, or a frame that lost a byte: the
            // next frame may begin anywhere after this byte.
            ++start_;
            ++discarded_;
            continue;
        }
        Frame frame;
        frame.address = std::uint16_t(p[1] | (p[2] << 8));
        frame.data = p[3];
        if (p[0] == ';')
            frame.kind = FrameKind::Data;
        else
            frame.kind = (p[1] == 1 && p[2] == 1 && p[3] == 1) ? FrameKind::Poll : FrameKind::Command;
        start_ += kFrameBytes;
        return frame;
    }
    return std::nullopt;
}

void FrameParser::reset()
{
    buffer_.clear();
    start_ = 0;
}

ParsedRequest parseRequest(const QByteArray &d)
{
    ParsedRequest r;
    if (d == kConfigCommand)
        r.kind = Request::Config;
    else if (d == kDatfCommand)
        r.kind = Request::Datf;
    else if (d == kFpdeCommand)
        r.kind = Request::Fpde;
    else if (d == kReadfCommand)
        r.kind = Request::ReadF;
    else if (d == kRdy0Command)
        r.kind = Request::Rdy0;
    else if (d.size() == kBlockDatagram && hasWriteHeader(d, kBlockPayload)) {
        const int n = byteAt(d, 11);
        if (n >= 1 && n <= kBlocks) {
            r.kind = Request::WriteBlock;
            r.number = n;
            r.payload = d.mid(kHeaderBytes);
        }
    } else if (d.size() == kCommonDatagram && hasWriteHeader(d, kCommonBytes) && byteAt(d, 11) == kWriteCommonNumber) {
        r.kind = Request::WriteCommon;
        r.number = kWriteCommonNumber;
        r.payload = d.mid(kHeaderBytes);
    }
    return r;
}

const char *requestName(Request kind)
{
    switch (kind) {
    case Request::Config: return "AT+CONFIG";
    case Request::Datf: return "AT+DATF";
    case Request::WriteBlock: return "data block";
    case Request::WriteCommon: return "common block";
    case Request::Fpde: return "AT+FPDE";
    case Request::ReadF: return "AT+READF";
    case Request::Rdy0: return "AT+RDY0";
    case Request::Unknown: break;
    }
    return "unknown datagram";
}

QByteArray readBlockDatagram(int number, const QByteArray &records)
{
    return blockDatagram(kReadHeader, kBlockPayload, number, records);
}

QByteArray readCommonDatagram(const QByteArray &common)
{
    return blockDatagram(kReadHeader, kCommonBytes, kReadCommonNumber, common);
}

QByteArray readEndDatagram() { return QByteArrayLiteral("AT+RDYE"); }

QByteArray writeBlockDatagram(int number, const QByteArray &records)
{
    return blockDatagram(kWriteHeader, kBlockPayload, number, records);
}

QByteArray writeCommonDatagram(const QByteArray &common)
{
    return blockDatagram(kWriteHeader, kCommonBytes, kWriteCommonNumber, common);
}

bool isOkReply(const QByteArray &d) { return d.size() == 2 && d.at(0) == 'O' && d.at(1) == 'K'; }
bool isReadyReply(const QByteArray &d) { return d.size() == 5 && d.at(1) == 'E' && d.at(4) == 'Y'; }
bool isGoodReply(const QByteArray &d) { return d.size() == 4 && d.at(0) == 'G' && d.at(3) == 'D'; }
bool isBadReply(const QByteArray &d) { return d.size() == 3 && d.at(0) == 'B' && d.at(2) == 'D'; }

bool isReadBlock(const QByteArray &d)
{
    return d.size() == kBlockDatagram && d.at(2) == '+' && d.at(5) == 'Y' && byteAt(d, 11) < kReadCommonNumber;
}

bool isReadCommon(const QByteArray &d)
{
    return d.size() == kCommonDatagram && d.at(2) == '+' && d.at(5) == 'Y' && byteAt(d, 11) == kReadCommonNumber;
}

bool isReadEnd(const QByteArray &d) { return d.size() == 7 && d.at(2) == '+' && d.at(6) == 'E'; }

} // namespace tarvil::sim
