// The discovery socket on Windows: Winsock 1.1, started once per process, with the socket
// options of the classic SQL Server client: send buffer 0, debug on, broadcast allowed, and the
// receive time-out.

#include "platform/Datagram.h"

#include <mutex>
#include <winsock2.h>

namespace kv::platform {
namespace {

int startSockets() {
    static std::once_flag once;
    static int startError = 0;
    std::call_once(once, [] {
        WSADATA data{};
        startError = WSAStartup(MAKEWORD(1, 1), &data);
    });
    return startError;
}

class WinDiscoverySocket final : public DiscoverySocket {
public:
    WinDiscoverySocket(SOCKET s, sockaddr_in target) : socket_(s), target_(target) {}
    ~WinDiscoverySocket() override { closesocket(socket_); }
    WinDiscoverySocket(const WinDiscoverySocket&) = delete;
    WinDiscoverySocket& operator=(const WinDiscoverySocket&) = delete;

    Result<void> send(const std::uint8_t* data, std::size_t size) override {
        const int n = sendto(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size),
                             0, reinterpret_cast<const sockaddr*>(&target_), sizeof target_);
        if (n == SOCKET_ERROR)
            return Error{static_cast<ErrorCode>(WSAGetLastError()), "sendto failed"};
        return success();
    }

    Result<std::size_t> receive(std::uint8_t* buffer, std::size_t capacity) override {
        const int n = recv(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAETIMEDOUT)
                return std::size_t{0};
            if (error == WSAEMSGSIZE)
                return capacity;
            return Error{static_cast<ErrorCode>(error), "recv failed"};
        }
        return static_cast<std::size_t>(n);
    }

private:
    SOCKET socket_;
    sockaddr_in target_;
};

} // namespace

Result<std::unique_ptr<DiscoverySocket>> openDiscoverySocket(const DiscoveryTarget& target,
                                                             int receiveTimeoutMs) {
    if (const int error = startSockets(); error != 0)
        return Error{static_cast<ErrorCode>(error), "WSAStartup failed"};
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return Error{socketerr::SocketCreateFailed, "socket failed"};
    int zero = 0;
    BOOL on = TRUE;
    DWORD timeout = static_cast<DWORD>(receiveTimeoutMs);
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&zero), sizeof zero);
    setsockopt(s, SOL_SOCKET, SO_DEBUG, reinterpret_cast<const char*>(&on), sizeof on);
    if (target.broadcast)
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);
    address.sin_addr.s_addr = inet_addr(target.address.c_str());
    return std::unique_ptr<DiscoverySocket>(std::make_unique<WinDiscoverySocket>(s, address));
}

} // namespace kv::platform
