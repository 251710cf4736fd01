#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace tarvil {

// How fast the device behind the serial port answers: from a frame's last
// byte written to its answer byte, over the last answers. A USB bridge passes
// a received byte on only when its buffer fills or its latency timer runs
// out, so this, and not the line's speed, sets the pace of a stop-and-wait
// write.
class AnswerTimes {
public:
    static constexpr int kKept = 32;

    void add(std::chrono::nanoseconds time);
    void clear();
    // Answers timed and kept, at most kKept.
    int count() const { return count_; }
    // The median of those kept; nothing before the first answer.
    std::optional<std::chrono::nanoseconds> median() const;

private:
    std::array<std::int64_t, kKept> ns_{};
    int next_ = 0;
    int count_ = 0;
};

} // namespace tarvil
