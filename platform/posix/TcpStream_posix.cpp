// The trace viewer link's TCP connection over POSIX sockets, with the errors renumbered as
// Windows Sockets numbers.

#include "platform/TcpStream.h"
#include "platform/posix/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kv::platform {

namespace {

using posix::socketFailure;

class PosixTcpStream final : public TcpStream {
public:
    PosixTcpStream(int fd, std::uint32_t sendTimeoutMs) : fd_(fd), sendTimeoutMs_(sendTimeoutMs) {}
    ~PosixTcpStream() override { ::close(fd_); }
    PosixTcpStream(const PosixTcpStream&) = delete;
    PosixTcpStream& operator=(const PosixTcpStream&) = delete;

    // The send time-out bounds the whole call: a blocked send gives back what it could place
    // when its time-out ends, and a peer that takes a few bytes a second must not keep the call
    // going for as many time-outs as there are bytes.
    Result<void> sendAll(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(sendTimeoutMs_);
        while (size > 0) {
            const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return socketFailure(errno, "send");
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
            if (size > 0 && std::chrono::steady_clock::now() >= deadline)
                return Error{wsa::TimedOut,
                             "send: timed out with " + std::to_string(size) + " bytes left"};
        }
        return success();
    }

private:
    int fd_;
    std::uint32_t sendTimeoutMs_;
};

} // namespace

Result<std::unique_ptr<TcpStream>> connectTcp(std::string_view host, std::uint16_t port,
                                              std::uint32_t sendTimeoutMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const std::string name = host == "localhost" ? std::string("127.0.0.1") : std::string(host);
    if (::inet_pton(AF_INET, name.c_str(), &address.sin_addr) != 1)
        return Error{wsa::HostNotFound, "the host " + name + " is not a dotted address"};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return socketFailure(errno, "socket");
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int err = errno;
        ::close(fd);
        return socketFailure(err, "connect");
    }
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(sendTimeoutMs / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((sendTimeoutMs % 1000) * 1000);
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return std::unique_ptr<TcpStream>(std::make_unique<PosixTcpStream>(fd, sendTimeoutMs));
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

} // namespace kv::platform
