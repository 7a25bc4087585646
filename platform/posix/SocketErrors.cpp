#include "platform/posix/SocketErrors.h"

#include "platform/TcpStream.h"

#include <cerrno>
#include <string>

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

} // namespace kv::platform::posix
