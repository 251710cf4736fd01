#pragma once

#include <QByteArray>
#include <cstdint>

namespace tarvil {

// The shared step counter of the LAN transactions; the numbers are the ones
// the other parts of the tool refer to (2 and 4 are not used).
enum LinkState : std::int32_t {
    lsConnecting = 0,
    lsIdle = 1,
    lsWaitBlockAck = 3,
    lsWaitReady = 5,
    lsAcknowledged = 6,
    lsFailed = 7,
    lsWaitResult = 8,
    lsReading = 9,
    lsReadDone = 10,
};

enum class Channel : std::int32_t { None = 0, Usb = 1, Lan = 2 };

inline constexpr int kRequestBufferSize = 255;

// The variables the link parts share, all zero at start.
struct LinkVariables {
    std::int32_t State = lsConnecting; // LinkState
    Channel ActiveChannel = Channel::None;
    std::int32_t BytesDone = 0;
    std::int32_t BytesTotal = 0;
    bool StopFlag = false;
    QByteArray RequestBuffer = QByteArray(kRequestBufferSize, '\0');
    std::int32_t RequestLength = 0;
    std::int32_t RetriesLeft = 0;
};

} // namespace tarvil
