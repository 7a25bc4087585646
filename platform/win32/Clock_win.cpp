#include "platform/Clock.h"
#include "platform/win32/WinText.h"

namespace kv::platform {

void SystemClock::sleep(std::uint32_t ms) {
    Sleep(ms);
}

std::uint32_t SystemClock::tickCount() {
    return GetTickCount();
}

} // namespace kv::platform
