// The listening side of a loopback TCP port over POSIX sockets and poll.

#include "platform/TcpListener.h"
#include "platform/posix/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform {

namespace {

using posix::socketFailure;

class PosixTcpListener final : public TcpListener {
public:
    PosixTcpListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    ~PosixTcpListener() override {
        for (const auto& [number, fd] : connections_)
            ::close(fd);
        ::close(fd_);
    }
    PosixTcpListener(const PosixTcpListener&) = delete;
    PosixTcpListener& operator=(const PosixTcpListener&) = delete;

    std::uint16_t port() const override { return port_; }
    std::size_t connections() const override { return connections_.size(); }

    void close(int connection) override {
        const auto it = connections_.find(connection);
        if (it == connections_.end())
            return;
        ::close(it->second);
        connections_.erase(it);
    }

    std::vector<Event> wait(int timeoutMs) override {
        std::vector<pollfd> fds;
        std::vector<int> numbers;
        fds.push_back({fd_, POLLIN, 0});
        for (const auto& [number, fd] : connections_) {
            fds.push_back({fd, POLLIN, 0});
            numbers.push_back(number);
        }
        std::vector<Event> events;
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
            return events;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                receive(numbers[i - 1], fds[i].fd, events);
        }
        if (fds[0].revents & POLLIN)
            accept(events);
        return events;
    }

private:
    void receive(int number, int fd, std::vector<Event>& events) {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
        if (n < 0)
            event.error = socketFailure(errno, "recv");
        close(number);
        events.push_back(std::move(event));
    }

    void accept(std::vector<Event>& events) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int number = next_++;
        connections_.emplace(number, fd);
        Event event;
        event.kind = Event::Kind::Accepted;
        event.connection = number;
        events.push_back(std::move(event));
    }

    int fd_;
    std::uint16_t port_;
    std::map<int, int> connections_;
    int next_ = 1;
};

} // namespace

Result<std::unique_ptr<TcpListener>> listenTcp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return socketFailure(errno, "socket");
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        const int err = errno;
        ::close(fd);
        return socketFailure(err, "listen");
    }
    socklen_t length = sizeof address;
    (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return std::unique_ptr<TcpListener>(
        std::make_unique<PosixTcpListener>(fd, ntohs(address.sin_port)));
}

} // namespace kv::platform
