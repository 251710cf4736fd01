#pragma once

#include "link/PortInfo.h"

#include <QtGlobal>

#include <memory>
#include <optional>

namespace tarvil {

// The driver's flags of an open serial device, as Linux keeps them
// (TIOCGSERIAL and TIOCSSERIAL on the port's descriptor). The one the USB
// link cares for is ASYNC_LOW_LATENCY: FTDI's driver lets any user set it,
// and then passes each received byte on within 1 ms instead of its 16 ms.
// Elsewhere, and on devices without such flags, there is nothing to read.
class SerialFlags {
public:
    virtual ~SerialFlags() = default;
    // Nothing where the device keeps no such flags.
    virtual std::optional<int> read(qintptr handle) = 0;
    // False where the driver does not take them.
    virtual bool write(qintptr handle, int flags) = 0;
};

inline constexpr int kLowLatencyFlag = 1 << 13; // ASYNC_LOW_LATENCY

// The system's: Linux's ioctls, nothing elsewhere. On Windows FTDI's timer is
// a registry value that only an administrator may change.
std::unique_ptr<SerialFlags> systemSerialFlags();

// The low-latency flag of one open port: set when the port opens, the flags
// as they were put back when it closes. A device that refuses it, or keeps
// no flags, stays as it was, and that is no error.
class LowLatencySwitch {
public:
    LowLatency lower(SerialFlags &flags, qintptr handle);
    void restore(SerialFlags &flags, qintptr handle);
    LowLatency state() const { return state_; }

private:
    LowLatency state_ = LowLatency::NotOpen;
    int earlier_ = 0;
};

} // namespace tarvil
