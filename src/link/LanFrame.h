#pragma once

#include "model/ConfigImage.h"
#include "model/ImageLayout.h"

#include <QByteArray>

#include <cstdint>

namespace tarvil {

// What a datagram from the transceiver is, by its length and the bytes the
// protocol names. The lengths are all different, so a datagram is at most
// one of these; which of them counts depends on the step that awaits it.
enum class LanReply {
    None,
    Ok,         // 2: 'O' 'K'
    Failure,    // 3: 'B' . 'D'
    Success,    // 4: 'G' . . 'D'
    Ready,      // 5: . 'E' . . 'Y'
    ReadEnd,    // 7: . . '+' . . . 'E', byte 11 left at 60 by the common block
    ReadCommon, // 114: . . '+' . . 'Y', byte 11 = 60, the common block
    ReadBlock,  // 247: . . '+' . . 'Y', byte 11 = block number below 60, five records
};

// Every datagram of the LAN link, both directions. Requests are commands
// without terminator, or blocks of the image behind a 12-byte header
// ("AT+FPD0=", 0, length, 0, number). Replies are copied into a 255-byte
// buffer whose bytes beyond a datagram's length keep what earlier ones left:
// the end of a read is recognised by the block number the common block left.
class LanFrame {
public:
    static constexpr int kBufferSize = 255;
    static constexpr int kHeaderLength = 12;
    static constexpr int kNumberByte = 11;
    static constexpr int kRecordsPerBlock = 5;
    static constexpr int kBlockDataLength = kRecordsPerBlock * kRecordSize; // 235
    static constexpr int kBlocks = kMaxObjects / kRecordsPerBlock;         // 60
    // A write numbers its blocks 1..60 and the common block 61; a read
    // numbers them 0..59 and the common block 60.
    static constexpr int kWriteCommonNumber = kBlocks + 1;
    static constexpr int kReadCommonNumber = kBlocks;

    // Requests
    static QByteArray config() { return QByteArrayLiteral("AT+CONFIG"); }
    static QByteArray readF() { return QByteArrayLiteral("AT+READF"); }
    static QByteArray ready0() { return QByteArrayLiteral("AT+RDY0"); }
    static QByteArray datF() { return QByteArrayLiteral("AT+DATF"); }
    static QByteArray fpdE() { return QByteArrayLiteral("AT+FPDE"); }
    // Data block n (1..60): object records 5(n-1) .. 5(n-1)+4.
    static QByteArray writeBlock(int n, const ConfigImage &image);
    static QByteArray writeCommon(const ConfigImage &image);

    // Replies. False (and nothing copied) for an empty datagram or one longer
    // than the buffer: cutting it would leave a stale block number behind.
    bool accept(const QByteArray &datagram);
    LanReply reply() const;
    int length() const { return length_; }
    int blockNumber() const { return byte(kNumberByte); }
    // The image bytes a read block or the read common block carries.
    const std::uint8_t *payload() const { return buffer_ + kHeaderLength; }
    // A read starts without a block number from the last one.
    void forgetBlockNumber() { buffer_[kNumberByte] = 0; }

private:
    int byte(int i) const { return buffer_[i]; }

    std::uint8_t buffer_[kBufferSize] = {};
    int length_ = 0;
};

} // namespace tarvil
