#include "platform/Clock.h"
#include "platform/win32/WinText.h"

namespace kv::platform {

void SystemClock::sleep(std::uint32_t ms) {
    Sleep(ms);
}

std::uint32_t SystemClock::tickCount() {
    return GetTickCount();
}

std::uint32_t coarseTickCount() {
    return GetTickCount();
}

std::tm localTime(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

} // namespace kv::platform
