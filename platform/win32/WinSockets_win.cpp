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

Result<std::uintptr_t> listenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& bound) {
    if (const int started = startSockets(); started != 0)
        return Error{static_cast<ErrorCode>(started),
                     "WSAStartup failed. Error code " + std::to_string(started)};
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return lastSocketError("socket");
    const BOOL on = TRUE;
    (void)setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(s, backlog) == SOCKET_ERROR) {
        auto error = lastSocketError("listen");
        closesocket(s);
        return error;
    }
    int length = sizeof address;
    (void)getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    bound = ntohs(address.sin_port);
    return static_cast<std::uintptr_t>(s);
}

} // namespace kv::platform::win32
