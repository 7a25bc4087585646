#include "simulator/standin/Discovery.h"

#include "simulator/standin/Text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::standin {

std::optional<std::vector<std::uint8_t>>
discoveryAnswer(const std::uint8_t* request, std::size_t size, const InstanceInfo& instance) {
    if (size == 0)
        return std::nullopt;
    if (request[0] == 0x04) {
        std::size_t end = 1;
        while (end < size && request[end] != 0)
            ++end;
        const std::string name(reinterpret_cast<const char*>(request + 1), end - 1);
        if (end - 1 > 32 || !keywordEquals(name, instance.instanceName))
            return std::nullopt;
    } else if (request[0] != 0x02 && request[0] != 0x03) {
        return std::nullopt;
    }
    const std::string block = "ServerName;" + instance.serverName + ";InstanceName;" +
                              instance.instanceName + ";IsClustered;No;Version;" +
                              instance.version + ";tcp;" + std::to_string(instance.tcpPort) + ";;";
    std::vector<std::uint8_t> out{0x05, static_cast<std::uint8_t>(block.size() & 0xFF),
                                  static_cast<std::uint8_t>(block.size() >> 8)};
    out.insert(out.end(), block.begin(), block.end());
    return out;
}

bool DiscoveryResponder::start(const std::string& address, std::uint16_t port,
                               InstanceInfo instance, std::string& error) {
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127) {
        error = "discovery address " + address + " is not a loopback address";
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr = a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error =
            "cannot bind UDP " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    instance_ = std::move(instance);
    stopping_ = false;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void DiscoveryResponder::loop() {
    std::uint8_t buffer[2048];
    while (!stopping_) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) <= 0 || p[1].revents != 0 || p[0].revents == 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n =
            ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0)
            continue;
        // Answer loopback senders only.
        if ((ntohl(from.sin_addr.s_addr) >> 24) != 127)
            continue;
        auto answer = discoveryAnswer(buffer, static_cast<std::size_t>(n), instance_);
        if (answer)
            (void)::sendto(fd_, answer->data(), answer->size(), 0,
                           reinterpret_cast<sockaddr*>(&from), len);
    }
}

void DiscoveryResponder::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        const char wake = 1;
        (void)!::write(wake_[1], &wake, 1);
        thread_.join();
    }
    for (int* fd : {&fd_, &wake_[0], &wake_[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

} // namespace kv::standin
