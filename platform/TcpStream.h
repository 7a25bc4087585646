#pragma once
// A TCP connection that only sends: the trace viewer link writes its messages through it.
//
// Errors carry the Windows Sockets error numbers on both backends (10061 refused, 10060 timed
// out, 10054 reset by the peer, 11001 unknown host, ...), so "Socket error %d" reads the same
// everywhere.
//
// Host names: a dotted IPv4 address is used as it is, and "localhost" is 127.0.0.1 without
// asking any resolver. Any other name is looked up by the Windows backend; the simulated host
// refuses it with 11001, so nothing running here can cause a DNS look-up.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kv::platform {

namespace wsa {
inline constexpr ErrorCode Interrupted = 10004;
inline constexpr ErrorCode AccessDenied = 10013;
inline constexpr ErrorCode NotSocket = 10038;
inline constexpr ErrorCode AddressInUse = 10048;
inline constexpr ErrorCode NetworkUnreachable = 10051;
inline constexpr ErrorCode ConnectionAborted = 10053;
inline constexpr ErrorCode ConnectionReset = 10054;
inline constexpr ErrorCode NotConnected = 10057;
inline constexpr ErrorCode TimedOut = 10060;
inline constexpr ErrorCode ConnectionRefused = 10061;
inline constexpr ErrorCode HostUnreachable = 10065;
inline constexpr ErrorCode HostNotFound = 11001;
} // namespace wsa

class TcpStream {
public:
    virtual ~TcpStream() = default;
    // Sends all `size` bytes, or fails with the socket error (the stream is useless afterwards).
    virtual Result<void> sendAll(const void* data, std::size_t size) = 0;
};

// Opens a connection to `host`:`port` whose sends give up after `sendTimeoutMs` milliseconds
// (on the simulated host the time-out bounds each sendAll as a whole; Windows fails a send whose
// time-out ends and leaves the connection unusable).
Result<std::unique_ptr<TcpStream>> connectTcp(std::string_view host, std::uint16_t port,
                                              std::uint32_t sendTimeoutMs);

// The operating system's id of this process.
std::uint32_t currentProcessId();

} // namespace kv::platform
