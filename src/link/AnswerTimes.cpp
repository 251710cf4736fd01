#include "link/AnswerTimes.h"

#include <algorithm>

namespace tarvil {

void AnswerTimes::add(std::chrono::nanoseconds time)
{
    ns_[size_t(next_)] = std::max<std::int64_t>(0, time.count());
    next_ = (next_ + 1) % kKept;
    count_ = std::min(count_ + 1, kKept);
}

void AnswerTimes::clear()
{
    next_ = 0;
    count_ = 0;
}

std::optional<std::chrono::nanoseconds> AnswerTimes::median() const
{
    if (count_ == 0)
        return std::nullopt;
    // The newest count_ entries end just before next_; once full, all are.
    std::array<std::int64_t, kKept> kept{};
    for (int i = 0; i < count_; ++i)
        kept[size_t(i)] = ns_[size_t((next_ - 1 - i + kKept) % kKept)];
    const auto begin = kept.begin();
    const auto end = begin + count_;
    const auto middle = begin + count_ / 2;
    std::nth_element(begin, middle, end);
    std::int64_t m = *middle;
    if (count_ % 2 == 0) {
        // Of an even number, the mean of the two in the middle.
        const std::int64_t below = *std::max_element(begin, middle);
        m = below + (m - below) / 2;
    }
    return std::chrono::nanoseconds(m);
}

} // namespace tarvil
