// The server side of loopback TCP over Windows Sockets 2.2. The listening socket waits through
// WSAEventSelect together with a stop event, so that a stop wakes it at once; a connection's
// reads wait in short WSAPoll steps and look at their cut flag between them, because a blocking
// recv on Windows does not reliably return when another thread shuts the socket down.

#include "platform/TcpServer.h"
#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <algorithm>
#include <atomic>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kv::platform {

namespace {

using win32::lastSocketError;

// How long a read waits before it looks at its cut flag again.
constexpr int ReadStepMs = 50;

class WinTcpConnection final : public TcpConnection {
public:
    explicit WinTcpConnection(SOCKET s) : socket_(s) {}
    ~WinTcpConnection() override { closesocket(socket_); }
    WinTcpConnection(const WinTcpConnection&) = delete;
    WinTcpConnection& operator=(const WinTcpConnection&) = delete;

    Result<std::size_t> receive(void* buffer, std::size_t capacity) override {
        for (;;) {
            if (cut_)
                return std::size_t{0};
            auto ready = wait(ReadStepMs);
            if (!ready)
                return ready.error();
            if (!*ready)
                continue;
            if (cut_)
                return std::size_t{0};
            const int n = recv(socket_, static_cast<char*>(buffer),
                               static_cast<int>(std::min<std::size_t>(capacity, 1u << 30)), 0);
            if (n == SOCKET_ERROR)
                return cut_ ? Result<std::size_t>(std::size_t{0}) : lastSocketError("recv");
            return static_cast<std::size_t>(n);
        }
    }

    Result<void> sendAll(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size) {
            const int step = static_cast<int>(std::min<std::size_t>(size - done, 1u << 30));
            const int n = send(socket_, bytes + done, step, 0);
            if (n == SOCKET_ERROR)
                return lastSocketError("send");
            if (n == 0)
                return Error{static_cast<ErrorCode>(WSAECONNRESET), "send failed"};
            done += static_cast<std::size_t>(n);
        }
        return success();
    }

    Result<bool> readable(int timeoutMs) override {
        int left = timeoutMs;
        for (;;) {
            if (cut_)
                return true;
            const int step = timeoutMs < 0 || left > ReadStepMs ? ReadStepMs : left;
            auto ready = wait(step);
            if (!ready || *ready)
                return ready;
            if (timeoutMs >= 0) {
                left -= step;
                if (left <= 0)
                    return cut_.load();
            }
        }
    }

    void cut() override {
        cut_ = true;
        shutdown(socket_, SD_BOTH);
    }

    std::string peer() const override {
        sockaddr_in address{};
        int length = sizeof address;
        if (getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return {};
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    }

private:
    Result<bool> wait(int timeoutMs) {
        WSAPOLLFD fd{socket_, POLLRDNORM, 0};
        const int n = WSAPoll(&fd, 1, timeoutMs);
        if (n == SOCKET_ERROR)
            return cut_ ? Result<bool>(true) : lastSocketError("WSAPoll");
        return n > 0;
    }

    SOCKET socket_;
    std::atomic<bool> cut_{false};
};

class WinTcpAcceptor final : public TcpAcceptor {
public:
    WinTcpAcceptor(SOCKET s, std::uint16_t port, WSAEVENT acceptEvent, HANDLE stopEvent)
        : socket_(s), port_(port), acceptEvent_(acceptEvent), stopEvent_(stopEvent) {}
    ~WinTcpAcceptor() override {
        closesocket(socket_);
        WSACloseEvent(acceptEvent_);
        CloseHandle(stopEvent_);
    }
    WinTcpAcceptor(const WinTcpAcceptor&) = delete;
    WinTcpAcceptor& operator=(const WinTcpAcceptor&) = delete;

    std::uint16_t port() const override { return port_; }

    Result<std::unique_ptr<TcpConnection>> accept(int timeoutMs) override {
        if (stopped_)
            return std::unique_ptr<TcpConnection>();
        // The accept event is set while a connection waits; accept() itself re-enables it.
        const HANDLE events[] = {stopEvent_, acceptEvent_};
        const DWORD woke = WaitForMultipleObjects(
            2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        if (woke != WAIT_OBJECT_0 + 1 || stopped_)
            return std::unique_ptr<TcpConnection>();
        WSAResetEvent(acceptEvent_);
        const SOCKET s = ::accept(socket_, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            const int error = WSAGetLastError();
            // Nothing waiting after all, or a connection that went away before it was taken.
            if (error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAEINTR)
                return std::unique_ptr<TcpConnection>();
            return lastSocketError("accept");
        }
        // An accepted socket inherits the event selection of its listener, and with it the
        // non-blocking mode; the connection wants plain blocking calls.
        WSAEventSelect(s, nullptr, 0);
        u_long blocking = 0;
        ioctlsocket(s, FIONBIO, &blocking);
        const BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        return std::unique_ptr<TcpConnection>(std::make_unique<WinTcpConnection>(s));
    }

    void stop() override {
        stopped_ = true;
        SetEvent(stopEvent_);
    }

private:
    SOCKET socket_;
    std::uint16_t port_;
    WSAEVENT acceptEvent_;
    HANDLE stopEvent_;
    std::atomic<bool> stopped_{false};
};

} // namespace

Result<std::unique_ptr<TcpAcceptor>> acceptTcp(std::uint16_t port) {
    // Exclusive use keeps another program from taking the port from under the server; Windows
    // itself lets a listener take a port whose earlier connections are still closing.
    std::uint16_t bound = 0;
    auto listening = win32::listenOnLoopback(port, SOMAXCONN, bound);
    if (!listening)
        return listening.error();
    const SOCKET s = static_cast<SOCKET>(*listening);
    const WSAEVENT acceptEvent = WSACreateEvent();
    const HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (acceptEvent == WSA_INVALID_EVENT || !stopEvent ||
        WSAEventSelect(s, acceptEvent, FD_ACCEPT) == SOCKET_ERROR) {
        auto error = lastSocketError("WSAEventSelect");
        if (acceptEvent != WSA_INVALID_EVENT)
            WSACloseEvent(acceptEvent);
        if (stopEvent)
            CloseHandle(stopEvent);
        closesocket(s);
        return error;
    }
    return std::unique_ptr<TcpAcceptor>(
        std::make_unique<WinTcpAcceptor>(s, bound, acceptEvent, stopEvent));
}

} // namespace kv::platform
