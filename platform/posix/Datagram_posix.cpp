// The discovery socket of the simulated host: UDP on loopback only. The debug option of the
// Windows client needs privileges here and changes nothing on the wire, so it is left out; the
// broadcast option is set only when the target asks for it (never on the simulated host).

#include "platform/Datagram.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform {
namespace {

class PosixDiscoverySocket final : public DiscoverySocket {
public:
    PosixDiscoverySocket(int fd, sockaddr_in target, int timeoutMs)
        : fd_(fd), target_(target), timeoutMs_(timeoutMs) {}
    ~PosixDiscoverySocket() override { ::close(fd_); }
    PosixDiscoverySocket(const PosixDiscoverySocket&) = delete;
    PosixDiscoverySocket& operator=(const PosixDiscoverySocket&) = delete;

    Result<void> send(const std::uint8_t* data, std::size_t size) override {
        const ssize_t n = ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&target_),
                                   sizeof target_);
        if (n < 0)
            return Error{win::GenFailure, std::string("sendto: ") + std::strerror(errno)};
        return success();
    }

    Result<std::size_t> receive(std::uint8_t* buffer, std::size_t capacity) override {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs_);
        if (ready < 0)
            return Error{win::GenFailure, std::string("poll: ") + std::strerror(errno)};
        if (ready == 0)
            return std::size_t{0};
        const ssize_t n = ::recv(fd_, buffer, capacity, MSG_TRUNC);
        if (n < 0)
            return Error{win::GenFailure, std::string("recv: ") + std::strerror(errno)};
        return std::min(static_cast<std::size_t>(n), capacity);
    }

private:
    int fd_;
    sockaddr_in target_;
    int timeoutMs_;
};

} // namespace

Result<std::unique_ptr<DiscoverySocket>> openDiscoverySocket(const DiscoveryTarget& target,
                                                             int receiveTimeoutMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);
    if (::inet_pton(AF_INET, target.address.c_str(), &address.sin_addr) != 1 ||
        (ntohl(address.sin_addr.s_addr) >> 24) != 127)
        return Error{win::InvalidParameter,
                     "discovery target " + target.address + " is not a loopback address"};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return Error{socketerr::SocketCreateFailed, std::string("socket: ") + std::strerror(errno)};
    if (target.broadcast) {
        int one = 1;
        (void)::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    return std::unique_ptr<DiscoverySocket>(
        std::make_unique<PosixDiscoverySocket>(fd, address, receiveTimeoutMs));
}

} // namespace kv::platform
