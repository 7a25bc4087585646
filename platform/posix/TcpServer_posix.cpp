// The server side of loopback TCP over POSIX sockets: blocking calls, poll for the waits, and
// shutdown to cut a connection or to wake a waiting accept.

#include "platform/TcpServer.h"
#include "platform/posix/SocketErrors.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform {

namespace {

using posix::socketFailure;

class PosixTcpConnection final : public TcpConnection {
public:
    explicit PosixTcpConnection(int fd) : fd_(fd) {}
    ~PosixTcpConnection() override { ::close(fd_); }
    PosixTcpConnection(const PosixTcpConnection&) = delete;
    PosixTcpConnection& operator=(const PosixTcpConnection&) = delete;

    Result<std::size_t> receive(void* buffer, std::size_t capacity) override {
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, capacity, 0);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                return socketFailure(errno, "recv");
        }
    }

    Result<void> sendAll(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fd_, bytes + done, size - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return socketFailure(n == 0 ? EPIPE : errno, "send");
            done += static_cast<std::size_t>(n);
        }
        return success();
    }

    Result<bool> readable(int timeoutMs) override {
        pollfd p{fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0 && errno != EINTR)
            return socketFailure(errno, "poll");
        return n > 0;
    }

    void cut() override { ::shutdown(fd_, SHUT_RDWR); }

    std::string peer() const override {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return {};
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    }

private:
    int fd_;
};

class PosixTcpAcceptor final : public TcpAcceptor {
public:
    PosixTcpAcceptor(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    ~PosixTcpAcceptor() override { ::close(fd_); }
    PosixTcpAcceptor(const PosixTcpAcceptor&) = delete;
    PosixTcpAcceptor& operator=(const PosixTcpAcceptor&) = delete;

    std::uint16_t port() const override { return port_; }

    Result<std::unique_ptr<TcpConnection>> accept(int timeoutMs) override {
        if (stopped_)
            return std::unique_ptr<TcpConnection>();
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno != EINTR)
            return socketFailure(errno, "poll");
        if (ready <= 0 || stopped_)
            return std::unique_ptr<TcpConnection>();
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // A connection that went away before it was taken is no failure of the port.
            if (errno == ECONNABORTED || errno == EAGAIN || errno == EINTR)
                return std::unique_ptr<TcpConnection>();
            return socketFailure(errno, "accept");
        }
        const int one = 1;
        (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return std::unique_ptr<TcpConnection>(std::make_unique<PosixTcpConnection>(fd));
    }

    void stop() override {
        stopped_ = true;
        // Wakes a waiting poll at once instead of at its time-out.
        ::shutdown(fd_, SHUT_RDWR);
    }

private:
    int fd_;
    std::uint16_t port_;
    std::atomic<bool> stopped_{false};
};

} // namespace

Result<std::unique_ptr<TcpAcceptor>> acceptTcp(std::uint16_t port) {
    std::uint16_t bound = 0;
    auto fd = posix::listenOnLoopback(port, 128, bound);
    if (!fd)
        return fd.error();
    return std::unique_ptr<TcpAcceptor>(std::make_unique<PosixTcpAcceptor>(*fd, bound));
}

} // namespace kv::platform
