#pragma once

#include "link/PortInfo.h"

#include <QString>

#include <chrono>

namespace tarvil {

// The pace of a USB write as the adapter sets it: each of the write's frames
// waits for its answer, so the frames left times the adapter's answer time
// is the time left.
struct UsbPace {
    std::chrono::nanoseconds answer{0}; // the median answer time
    int framesLeft = 0;                 // frames of the write still to be answered
    QString advice;                     // how to make this adapter faster here; empty where nothing is known

    std::chrono::milliseconds left() const;
    // Slow enough to be worth lowering: 4 ms or more, as shown.
    bool slow() const;
};

namespace texts {

// "16,0": milliseconds with one decimal, as the lines below show them.
QString answerMilliseconds(std::chrono::nanoseconds answer);
// tarvil-cli's line before packet 0: "Адаптер USB: ответ за 16,0 мс на
// пакет; запись займёт около 3 мин 47 с." (under a minute "около 45 с").
QString usbAdapterLine(const UsbPace &pace);
// The line after it where the adapter is slow: how to lower its latency here.
QString usbAdviceLine(const UsbPace &pace);
// The gauge's text during a USB write, Qt's %p standing for its percent:
// "%p % · осталось 2:10".
QString gaugeFormat(std::chrono::milliseconds left);
QString gaugeToolTip(const UsbPace &pace);
// How to lower the adapter's latency on `system`; empty where nothing is to
// be done or nothing is known. `flag` is what opening the port did with the
// low-latency flag (NotOpen: the port was not opened).
QString latencyAdvice(const PortDetails &port, HostSystem system, LowLatency flag);

} // namespace texts

} // namespace tarvil
