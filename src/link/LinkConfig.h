#pragma once

#include <chrono>
#include <cstdint>

namespace tarvil {

using Millis = std::chrono::milliseconds;

// Every duration of the link in one place, so that tests run them scaled down.
struct LinkTimings {
    Millis waitAck{5000};         // TimerWaitAck: repeat a request, count retries
    Millis waitBlock{5000};       // TimerWaitBlock: longest gap between read blocks
    Millis keepAlive{1000};       // TimerUDP: "AT+CONFIG" while connecting and connected
    Millis connectTurn{510};      // one turn of the connect's countdown of 11
    Millis serialTick{55};        // one tick of a serial-port timer trigger
    Millis usbWriteTimeout{5000}; // a USB write that gets no reply for this long ends

    // All durations multiplied by `factor` (at least 1 ms each).
    LinkTimings scaled(double factor) const
    {
        auto s = [factor](Millis m) {
            const auto v = static_cast<long long>(static_cast<double>(m.count()) * factor);
            return Millis(v < 1 ? 1 : v);
        };
        return {s(waitAck), s(waitBlock), s(keepAlive), s(connectTurn), s(serialTick), s(usbWriteTimeout)};
    }
};

struct LinkConfig {
    LinkTimings timings;
    std::uint16_t localPort = 9999;  // bound on every local IPv4 address
    std::uint16_t remotePort = 9999; // the transceiver's port
};

} // namespace tarvil
