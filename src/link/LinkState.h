#pragma once

#include <cmath>
#include <cstdint>

namespace tarvil {

// The step counter of the LAN link; the numbers are the ones the other parts
// of the tool refer to (2 and 4 are not used). Every reply a step awaits
// moves it to lsAcknowledged or lsReadDone, where nothing more is taken, so
// a second or a stray reply can never step a wait past its target.
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

// A transfer's progress; the gauge shows done * 100 / total, halves to even.
struct Progress {
    std::int32_t done = 0;
    std::int32_t total = 0;
    int percent() const
    {
        return total > 0 ? int(std::nearbyint(double(done) * 100.0 / double(total))) : 0;
    }
};

} // namespace tarvil
