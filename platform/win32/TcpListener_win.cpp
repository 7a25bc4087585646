// The listening side of a loopback TCP port over Windows Sockets 2.2 and WSAPoll.

#include "platform/TcpListener.h"
#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <map>
#include <winsock2.h>

namespace kv::platform {

namespace {

using win32::lastSocketError;

class WinTcpListener final : public TcpListener {
public:
    WinTcpListener(SOCKET s, std::uint16_t port) : socket_(s), port_(port) {}
    ~WinTcpListener() override {
        for (const auto& [number, s] : connections_)
            closesocket(s);
        closesocket(socket_);
    }
    WinTcpListener(const WinTcpListener&) = delete;
    WinTcpListener& operator=(const WinTcpListener&) = delete;

    std::uint16_t port() const override { return port_; }
    std::size_t connections() const override { return connections_.size(); }

    void close(int connection) override {
        const auto it = connections_.find(connection);
        if (it == connections_.end())
            return;
        closesocket(it->second);
        connections_.erase(it);
    }

    std::vector<Event> wait(int timeoutMs) override {
        std::vector<WSAPOLLFD> fds;
        std::vector<int> numbers;
        fds.push_back({socket_, POLLRDNORM, 0});
        for (const auto& [number, s] : connections_) {
            fds.push_back({s, POLLRDNORM, 0});
            numbers.push_back(number);
        }
        std::vector<Event> events;
        if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) <= 0)
            return events;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR))
                receive(numbers[i - 1], fds[i].fd, events);
        }
        if (fds[0].revents & POLLRDNORM)
            accept(events);
        return events;
    }

private:
    void receive(int number, SOCKET s, std::vector<Event>& events) {
        char buffer[65536];
        const int n = recv(s, buffer, static_cast<int>(sizeof buffer), 0);
        if (n > 0) {
            Event event;
            event.kind = Event::Kind::Received;
            event.connection = number;
            event.bytes.assign(buffer, static_cast<std::size_t>(n));
            events.push_back(std::move(event));
            return;
        }
        Event event;
        event.kind = Event::Kind::Closed;
        event.connection = number;
        if (n == SOCKET_ERROR)
            event.error = lastSocketError("recv");
        close(number);
        events.push_back(std::move(event));
    }

    void accept(std::vector<Event>& events) {
        const SOCKET s = ::accept(socket_, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return;
        const int number = next_++;
        connections_.emplace(number, s);
        Event event;
        event.kind = Event::Kind::Accepted;
        event.connection = number;
        events.push_back(std::move(event));
    }

    SOCKET socket_;
    std::uint16_t port_;
    std::map<int, SOCKET> connections_;
    int next_ = 1;
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
