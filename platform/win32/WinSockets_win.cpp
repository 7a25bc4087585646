#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <mutex>
#include <string>
#include <winsock2.h>

namespace kv::platform::win32 {

int startSockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data{};
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    return result;
}

Error lastSocketError(const char* what) {
    const int code = WSAGetLastError();
    return Error{static_cast<ErrorCode>(code),
                 std::string(what) + " failed (" + std::to_string(code) + ")"};
}

} // namespace kv::platform::win32
