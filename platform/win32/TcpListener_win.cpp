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
    std::uint16_t bound = 0;
    auto s = win32::listenOnLoopback(port, 16, bound);
    if (!s)
        return s.error();
    return std::unique_ptr<TcpListener>(
        std::make_unique<WinTcpListener>(static_cast<SOCKET>(*s), bound));
}

} // namespace kv::platform
