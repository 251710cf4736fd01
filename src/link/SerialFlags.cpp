#include "link/SerialFlags.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace tarvil {

namespace {

#ifdef Q_OS_LINUX
class LinuxSerialFlags : public SerialFlags {
public:
    std::optional<int> read(qintptr handle) override
    {
        serial_struct s{};
        if (::ioctl(int(handle), TIOCGSERIAL, &s) != 0)
            return std::nullopt;
        return s.flags;
    }
    bool write(qintptr handle, int flags) override
    {
        // The rest of the structure as the driver has it: only the flags change.
        serial_struct s{};
        if (::ioctl(int(handle), TIOCGSERIAL, &s) != 0)
            return false;
        s.flags = flags;
        return ::ioctl(int(handle), TIOCSSERIAL, &s) == 0;
    }
};
#else
class NoSerialFlags : public SerialFlags {
public:
    std::optional<int> read(qintptr) override { return std::nullopt; }
    bool write(qintptr, int) override { return false; }
};
#endif

} // namespace

std::unique_ptr<SerialFlags> systemSerialFlags()
{
#ifdef Q_OS_LINUX
    return std::make_unique<LinuxSerialFlags>();
#else
    return std::make_unique<NoSerialFlags>();
#endif
}

LowLatency LowLatencySwitch::lower(SerialFlags &flags, qintptr handle)
{
    const std::optional<int> now = flags.read(handle);
    if (!now)
        state_ = LowLatency::Unsupported;
    else if (*now & kLowLatencyFlag)
        state_ = LowLatency::AlreadyOn;
    else if (flags.write(handle, *now | kLowLatencyFlag))
        state_ = LowLatency::Lowered;
    else
        state_ = LowLatency::Refused;
    earlier_ = now.value_or(0);
    return state_;
}

void LowLatencySwitch::restore(SerialFlags &flags, qintptr handle)
{
    // Only what this switch changed goes back; a device that vanished
    // refuses, and there is nothing more to do.
    if (state_ == LowLatency::Lowered)
        flags.write(handle, earlier_);
    state_ = LowLatency::NotOpen;
}

} // namespace tarvil
