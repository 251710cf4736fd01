#pragma once

// The transceiver's side of both links: the image geometry, the CRC-16 and
// the parsing of requests. Written apart from the tool's own encoders on
// purpose: a simulator that reused them would agree with the tool's mistakes.

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace tarvil::sim {

inline constexpr int kImageBytes = 14202;
inline constexpr int kRecordBytes = 47;
inline constexpr int kRecords = 300;
inline constexpr int kCommonOffset = kRecordBytes * kRecords; // 14100
inline constexpr int kCommonBytes = kImageBytes - kCommonOffset; // 102
inline constexpr int kRecordsPerBlock = 5;
inline constexpr int kBlockPayload = kRecordBytes * kRecordsPerBlock; // 235
inline constexpr int kBlocks = kRecords / kRecordsPerBlock; // 60
inline constexpr int kHeaderBytes = 12;
inline constexpr int kBlockDatagram = kHeaderBytes + kBlockPayload; // 247
inline constexpr int kCommonDatagram = kHeaderBytes + kCommonBytes; // 114
inline constexpr int kWriteCommonNumber = 61;
inline constexpr int kReadCommonNumber = 60;
inline constexpr int kFrameBytes = 6;

static_assert(kCommonBytes == 102 && kBlockDatagram == 247 && kCommonDatagram == 114);

// Where the transceiver keeps its settings: offsets in an object record and
// in the common block. Numbers are little-endian; texts are code page 1251,
// zero-filled to their width, with no terminator when they fill it.
namespace recordField {
inline constexpr int kPhone1 = 0;
inline constexpr int kPhone2 = 13;
inline constexpr int kAccount = 26;
inline constexpr int kObject = 30;
inline constexpr int kType = 34;
inline constexpr int kProtocol = 35;
inline constexpr int kTestSeconds = 36; // 32 bits
inline constexpr int kAF = 45;
inline constexpr int kFormat = 46;
inline constexpr int kPhoneWidth = 13;
inline constexpr int kNumberWidth = 4; // panel and object numbers
} // namespace recordField

namespace commonField {
inline constexpr int kLanProtocol = 0; // 0 UDP, 1 TCP
inline constexpr int kDhcp = 1;
inline constexpr int kMasterIp = 2;
inline constexpr int kOwnIp = 6;
inline constexpr int kGatewayIp = 10;
inline constexpr int kSerial = 14;     // 32 bits
inline constexpr int kMasterPort = 18; // 16 bits
inline constexpr int kOwnPort = 20;    // 16 bits
inline constexpr int kApn = 22;
inline constexpr int kFixed9999 = 86; // 16 bits, always 9999
inline constexpr int kBaud = 88;
inline constexpr int kReserved = 94;    // 3 bytes only the transceiver sets
inline constexpr int kTestSeconds = 97; // 32 bits
inline constexpr int kFormat = 101;
inline constexpr int kApnWidth = 64;
inline constexpr int kBaudWidth = 6;
} // namespace commonField

static_assert(recordField::kFormat == kRecordBytes - 1 && commonField::kFormat == kCommonBytes - 1);

// Writers into an image at an address. putText takes ASCII, which code page
// 1251 holds unchanged, cuts it at `width` and fills the rest with zeros.
void putLe16(QByteArray &image, int address, std::uint16_t value);
void putLe32(QByteArray &image, int address, std::uint32_t value);
void putText(QByteArray &image, int address, int width, const char *ascii);
void putIpv4(QByteArray &image, int address, std::uint8_t first, std::uint8_t second, std::uint8_t third,
             std::uint8_t fourth);

// USB reply bytes.
inline constexpr std::uint8_t kAck = 0x01;
inline constexpr std::uint8_t kFatal = 0x02;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kMemoryFailure = 0x25;

// CRC-16 with polynomial 0x1021, initial value 0, most significant bit first,
// no reflection, no final XOR (the XMODEM parameters). Table-driven so that a
// slip in the tool's bitwise loop cannot be mirrored here.
std::uint16_t crc16(const std::uint8_t *bytes, int length);
inline std::uint16_t crc16(const QByteArray &bytes)
{
    return crc16(reinterpret_cast<const std::uint8_t *>(bytes.constData()), int(bytes.size()));
}

// 6-byte USB frame: marker, address low, address high, data, CRC high, CRC low.
QByteArray makeFrame(std::uint8_t marker, std::uint16_t address, std::uint8_t data);
QByteArray pollFrame(); // 23 01 01 01 B8 B2

enum class FrameKind {
    Poll,    // '#' 01 01 01 with its CRC
    Data,    // ';' address, data
    Command, // '#' with a valid CRC but other content: not a poll
};

struct Frame {
    FrameKind kind = FrameKind::Data;
    std::uint16_t address = 0;
    std::uint8_t data = 0;
};

// Cuts a byte stream into frames. A frame starts with ';' or '#' and carries a
// valid CRC over its first four bytes; anything else is skipped one byte at a
// time, so that the parser finds the next frame after noise or a lost byte.
class FrameParser {
public:
    // Appends received bytes; next() then hands out the frames among them.
    void feed(const char *bytes, qsizetype length);
    void feed(const QByteArray &bytes) { feed(bytes.constData(), bytes.size()); }
    // The next complete frame, or nothing until more bytes arrive.
    std::optional<Frame> next();
    qint64 discardedBytes() const { return discarded_; }
    qsizetype pendingBytes() const { return buffer_.size() - start_; }
    void reset();

private:
    QByteArray buffer_;
    qsizetype start_ = 0;
    qint64 discarded_ = 0;
};

// What a datagram sent to the transceiver asks for.
enum class Request {
    Unknown,
    Config,      // "AT+CONFIG"
    Datf,        // "AT+DATF"
    WriteBlock,  // 247 bytes, block number 1..60
    WriteCommon, // 114 bytes, number 61
    Fpde,        // "AT+FPDE"
    ReadF,       // "AT+READF"
    Rdy0,        // "AT+RDY0"
};

struct ParsedRequest {
    Request kind = Request::Unknown;
    int number = -1;       // block number of a write block or of the common block
    QByteArray payload;    // records of a block, or the common block
};

// Exact recognition: a command must be exactly its bytes, a block exactly its
// length and header. Anything else is Unknown and gets no reply.
ParsedRequest parseRequest(const QByteArray &datagram);
const char *requestName(Request kind);

// The datagrams the transceiver sends.
QByteArray readBlockDatagram(int number, const QByteArray &records); // 247 bytes
QByteArray readCommonDatagram(const QByteArray &common);             // 114 bytes
QByteArray readEndDatagram();                                        // "AT+RDYE"
QByteArray writeBlockDatagram(int number, const QByteArray &records); // 247 bytes, as the tool sends it
QByteArray writeCommonDatagram(const QByteArray &common);             // 114 bytes

inline const QByteArray kOkReply = QByteArrayLiteral("OK");
inline const QByteArray kReadyReply = QByteArrayLiteral("READY");
inline const QByteArray kGoodReply = QByteArrayLiteral("GOOD");
inline const QByteArray kBadReply = QByteArrayLiteral("BAD");

// Reply recognition as the tool does it (exact length, the bytes it looks at).
bool isOkReply(const QByteArray &d);
bool isReadyReply(const QByteArray &d);
bool isGoodReply(const QByteArray &d);
bool isBadReply(const QByteArray &d);
bool isReadBlock(const QByteArray &d);  // 247 bytes, '+' at 2, 'Y' at 5, number below 60
bool isReadCommon(const QByteArray &d); // 114 bytes, '+' at 2, 'Y' at 5, number 60
bool isReadEnd(const QByteArray &d);    // 7 bytes, '+' at 2, 'E' at 6

} // namespace tarvil::sim
