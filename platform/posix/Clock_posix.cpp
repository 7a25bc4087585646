#include "platform/Clock.h"

#include <cerrno>
#include <ctime>

namespace kv::platform {

void SystemClock::sleep(std::uint32_t ms) {
    timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

namespace {

std::uint32_t ticksOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms); // wraps like GetTickCount
}

} // namespace

std::uint32_t SystemClock::tickCount() {
    return ticksOf(CLOCK_MONOTONIC);
}

std::uint32_t coarseTickCount() {
    return ticksOf(CLOCK_MONOTONIC_COARSE);
}

std::tm localTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

} // namespace kv::platform
