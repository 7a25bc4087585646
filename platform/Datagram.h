#pragma once
// The one datagram exchange the program makes: the server discovery request of the SQL Server
// resolution protocol, sent to the platform's discovery target (Platform.h) and followed by the
// answers of every server that heard it.
//
// Windows: Winsock 1.1, started once per process; the socket gets the options of the classic
// client (send buffer 0, debug on, broadcast allowed) and sends to 255.255.255.255:1434.
// Simulated host: a plain UDP socket that refuses any target outside 127.0.0.0/8, so nothing
// ever leaves the machine.
//
// Failures carry the numbers the discovery reports: the socket library's start-up error, or
// SocketCreateFailed when no socket could be made.

#include "platform/Platform.h"
#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kv::platform {

namespace socketerr {
// A socket could not be created (the discovery reports this as -1).
inline constexpr ErrorCode SocketCreateFailed = 0xFFFFFFFFu;
// The start-up of the socket library failed: the code is the library's own (WSAStartup).
} // namespace socketerr

class DiscoverySocket {
public:
    virtual ~DiscoverySocket() = default;
    // Sends one datagram to the target the socket was opened for.
    virtual Result<void> send(const std::uint8_t* data, std::size_t size) = 0;
    // Waits up to the receive time-out for one datagram; 0 bytes when the time-out passed.
    // A datagram longer than capacity is cut to capacity.
    virtual Result<std::size_t> receive(std::uint8_t* buffer, std::size_t capacity) = 0;
};

// Opens the socket (closed when the object is destroyed). receiveTimeoutMs bounds every
// receive.
Result<std::unique_ptr<DiscoverySocket>> openDiscoverySocket(const DiscoveryTarget& target,
                                                             int receiveTimeoutMs);

} // namespace kv::platform
