#include "platform/posix/SocketErrors.h"

#include "platform/TcpStream.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform::posix {

ErrorCode wsaFromErrno(int err) {
    switch (err) {
    case ECONNREFUSED:
        return wsa::ConnectionRefused;
    case ETIMEDOUT:
    case EAGAIN:
        return wsa::TimedOut;
    case ECONNRESET:
    case EPIPE:
        return wsa::ConnectionReset;
    case ECONNABORTED:
        return wsa::ConnectionAborted;
    case ENETUNREACH:
        return wsa::NetworkUnreachable;
    case EHOSTUNREACH:
        return wsa::HostUnreachable;
    case ENOTCONN:
        return wsa::NotConnected;
    case EINTR:
        return wsa::Interrupted;
    case EADDRINUSE:
        return wsa::AddressInUse;
    case EACCES:
    case EPERM:
        return wsa::AccessDenied;
    default:
        return 10000 + static_cast<ErrorCode>(err);
    }
}

Error socketFailure(int err, const char* what) {
    return Error{wsaFromErrno(err),
                 std::string(what) + " failed (errno " + std::to_string(err) + ")"};
}

Result<int> listenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& bound) {
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
        ::listen(fd, backlog) != 0) {
        const int err = errno;
        ::close(fd);
        return socketFailure(err, "listen");
    }
    socklen_t length = sizeof address;
    (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    bound = ntohs(address.sin_port);
    return fd;
}

} // namespace kv::platform::posix
