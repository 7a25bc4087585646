#include "platform/Clock.h"

#include <numeric>

namespace kv::platform {

void ManualClock::sleep(std::uint32_t ms) {
    sleeps_.push_back(ms);
    tick_ += ms;
    if (onSleep_)
        onSleep_(ms);
}

std::uint64_t ManualClock::totalSlept() const {
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0});
}

} // namespace kv::platform
