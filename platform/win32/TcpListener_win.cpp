// The listening side of a loopback TCP port over Windows Sockets 2.2 and WSAPoll.

#include "platform/TcpListener.h"
#include "platform/TcpListenerBase.h"
#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <winsock2.h>

namespace kv::platform {

namespace {

using win32::lastSocketError;

class WinTcpListener final : public detail::TcpListenerBase {
public:
    WinTcpListener(SOCKET s, std::uint16_t port) : TcpListenerBase(port), socket_(s) {}
    ~WinTcpListener() override {
        closeAll();
        closesocket(socket_);
    }
    WinTcpListener(const WinTcpListener&) = delete;
    WinTcpListener& operator=(const WinTcpListener&) = delete;

private:
    Ready poll(const std::vector<Handle>& handles, int timeoutMs) override {
        std::vector<WSAPOLLFD> fds;
        fds.push_back({socket_, POLLRDNORM, 0});
        for (const Handle handle : handles)
            fds.push_back({static_cast<SOCKET>(handle), POLLRDNORM, 0});
        Ready ready;
        ready.handles.assign(handles.size(), false);
        if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) <= 0)
            return ready;
        ready.listener = (fds[0].revents & POLLRDNORM) != 0;
        for (std::size_t i = 1; i < fds.size(); ++i)
            ready.handles[i - 1] = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
        return ready;
    }

    Handle acceptOne() override {
        const SOCKET s = ::accept(socket_, nullptr, nullptr);
        return s == INVALID_SOCKET ? -1 : static_cast<Handle>(s);
    }

    long readSome(Handle handle, char* buffer, std::size_t size, Error& error) override {
        const int n = recv(static_cast<SOCKET>(handle), buffer, static_cast<int>(size), 0);
        if (n == SOCKET_ERROR) {
            error = lastSocketError("recv");
            return -1;
        }
        return n;
    }

    void closeHandle(Handle handle) override { closesocket(static_cast<SOCKET>(handle)); }

    SOCKET socket_;
};

} // namespace

Result<std::unique_ptr<TcpListener>> listenTcp(std::uint16_t port) {
    if (const int started = win32::startSockets(); started != 0)
        return Error{static_cast<ErrorCode>(started),
                     "WSAStartup failed. Error code " + std::to_string(started)};
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return lastSocketError("socket");
    // On Windows SO_REUSEADDR would let another program take the port from under us; the
    // exclusive use is the safe default for a listening port.
    const BOOL on = TRUE;
    (void)setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(s, 16) == SOCKET_ERROR) {
        auto error = lastSocketError("listen");
        closesocket(s);
        return error;
    }
    int length = sizeof address;
    (void)getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    return std::unique_ptr<TcpListener>(
        std::make_unique<WinTcpListener>(s, ntohs(address.sin_port)));
}

} // namespace kv::platform
