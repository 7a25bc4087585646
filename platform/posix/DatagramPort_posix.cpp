// The loopback UDP responder port over POSIX sockets; a pipe wakes its poll when it stops.

#include "platform/DatagramPort.h"
#include "platform/posix/SocketErrors.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform {

namespace {

using posix::socketFailure;

class PosixDatagramPort final : public DatagramPort {
public:
    PosixDatagramPort(int fd, std::uint16_t port, int wakeRead, int wakeWrite)
        : fd_(fd), port_(port), wake_{wakeRead, wakeWrite} {}
    ~PosixDatagramPort() override {
        for (const int fd : {fd_, wake_[0], wake_[1]})
            ::close(fd);
    }
    PosixDatagramPort(const PosixDatagramPort&) = delete;
    PosixDatagramPort& operator=(const PosixDatagramPort&) = delete;

    std::uint16_t port() const override { return port_; }

    Result<std::optional<Datagram>> receive() override {
        std::uint8_t buffer[2048];
        while (!stopped_) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const int ready = ::poll(p, 2, -1);
            if (ready < 0 && errno != EINTR)
                return socketFailure(errno, "poll");
            if (ready <= 0 || p[1].revents != 0 || p[0].revents == 0)
                continue;
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0 || (ntohl(from.sin_addr.s_addr) >> 24) != 127)
                continue;
            Datagram datagram;
            datagram.bytes.assign(buffer, buffer + n);
            datagram.fromAddress = ntohl(from.sin_addr.s_addr);
            datagram.fromPort = ntohs(from.sin_port);
            return std::optional<Datagram>(std::move(datagram));
        }
        return std::optional<Datagram>();
    }

    Result<void> answer(const Datagram& to, const std::uint8_t* data, std::size_t size) override {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(to.fromAddress);
        address.sin_port = htons(to.fromPort);
        if (::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&address),
                     sizeof address) < 0)
            return socketFailure(errno, "sendto");
        return success();
    }

    void stop() override {
        stopped_ = true;
        const char wake = 1;
        (void)!::write(wake_[1], &wake, 1);
    }

private:
    int fd_;
    std::uint16_t port_;
    int wake_[2];
    std::atomic<bool> stopped_{false};
};

} // namespace

Result<std::unique_ptr<DatagramPort>> bindDatagramPort(std::string_view address,
                                                       std::uint16_t port) {
    const std::string text(address);
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127)
        return Error{win::InvalidParameter, "\"" + text + "\" is not a loopback address"};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return socketFailure(errno, "socket");
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr = parsed;
    int wake[2] = {-1, -1};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
        ::pipe2(wake, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(fd);
        return socketFailure(err, "bind");
    }
    socklen_t length = sizeof bound;
    (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return std::unique_ptr<DatagramPort>(
        std::make_unique<PosixDatagramPort>(fd, ntohs(bound.sin_port), wake[0], wake[1]));
}

} // namespace kv::platform
