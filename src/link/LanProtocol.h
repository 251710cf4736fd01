#pragma once

#include "model/ImageLayout.h"

#include <QByteArray>

// The datagrams of the LAN link: commands without terminator, and blocks of
// the image behind a 12-byte header (8 characters, 0, length, 0, number).
namespace tarvil::lan {

inline const QByteArray kConfig = QByteArrayLiteral("AT+CONFIG");
inline const QByteArray kReadF = QByteArrayLiteral("AT+READF");
inline const QByteArray kReady0 = QByteArrayLiteral("AT+RDY0");
inline const QByteArray kDatF = QByteArrayLiteral("AT+DATF");
inline const QByteArray kFpd0 = QByteArrayLiteral("AT+FPD0=");
inline const QByteArray kFpdE = QByteArrayLiteral("AT+FPDE");

inline constexpr int kHeaderLength = 12;
inline constexpr int kNumberByte = 11;
inline constexpr int kRecordsPerBlock = 5;
inline constexpr int kBlockDataLength = kRecordsPerBlock * kRecordSize; // 235
inline constexpr int kBlocks = kMaxObjects / kRecordsPerBlock;         // 60

// A write numbers its blocks 1..60 and the common block 61; a read numbers
// them 0..59 and the common block 60.
inline constexpr int kWriteCommonNumber = kBlocks + 1;
inline constexpr int kReadCommonNumber = kBlocks;

inline constexpr int kBlockLength = kHeaderLength + kBlockDataLength; // 247
inline constexpr int kCommonLength = kHeaderLength + kCommonSize;     // 114
inline constexpr int kReadEndLength = 7;

} // namespace tarvil::lan
