#include "platform/TcpListener.h"

#include "platform/TcpStream.h"

namespace kv::platform {

std::string socketErrorText(ErrorCode code) {
    switch (code) {
    case wsa::AccessDenied:
        return "the port needs privileges this user does not have";
    case wsa::AddressInUse:
        return "the port is already in use by another program";
    case wsa::ConnectionReset:
        return "the connection was reset by the other side";
    case wsa::ConnectionAborted:
        return "the connection was aborted";
    case wsa::ConnectionRefused:
        return "the connection was refused";
    case wsa::TimedOut:
        return "the operation timed out";
    default:
        return "socket error " + std::to_string(code);
    }
}

} // namespace kv::platform
