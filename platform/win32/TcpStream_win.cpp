// The trace viewer link's TCP connection over Windows Sockets 2.2.

#include "platform/TcpStream.h"
#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <string>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kv::platform {

namespace {

using win32::lastSocketError;
using win32::startSockets;

class WinTcpStream final : public TcpStream {
public:
    explicit WinTcpStream(SOCKET s) : socket_(s) {}
    ~WinTcpStream() override { closesocket(socket_); }
    WinTcpStream(const WinTcpStream&) = delete;
    WinTcpStream& operator=(const WinTcpStream&) = delete;

    Result<void> sendAll(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const int chunk = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
            const int n = send(socket_, bytes, chunk, 0);
            if (n == SOCKET_ERROR)
                return lastSocketError("send");
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return success();
    }

private:
    SOCKET socket_;
};

} // namespace

Result<std::unique_ptr<TcpStream>> connectTcp(std::string_view host, std::uint16_t port,
                                              std::uint32_t sendTimeoutMs) {
    if (const int started = startSockets(); started != 0)
        return Error{static_cast<ErrorCode>(started),
                     "WSAStartup failed. Error code " + std::to_string(started)};
    const std::string name = host == "localhost" ? std::string("127.0.0.1") : std::string(host);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, name.c_str(), &address.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
            return lastSocketError("getaddrinfo");
        address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return lastSocketError("socket");
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        auto error = lastSocketError("connect");
        closesocket(s);
        return error;
    }
    const DWORD timeout = sendTimeoutMs;
    (void)setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                     sizeof timeout);
    return std::unique_ptr<TcpStream>(std::make_unique<WinTcpStream>(s));
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(GetCurrentProcessId());
}

} // namespace kv::platform
