#pragma once
// A UDP port on a loopback address that answers what it hears: the stand-in SQL Server's
// resolution-protocol responder. Only loopback addresses (127.0.0.0/8) can be bound, and only
// datagrams from loopback senders are handed on, so nothing answers the network.
//
// Errors carry the Windows Sockets numbers on both backends (TcpStream.h); an address outside
// 127.0.0.0/8 is refused with InvalidParameter before a socket exists.
//
// Threads: receive() belongs to one thread; stop() may be called from any thread and wakes it.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace kv::platform {

class DatagramPort {
public:
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        // The sender, to answer: its IPv4 address (host order) and port.
        std::uint32_t fromAddress = 0;
        std::uint16_t fromPort = 0;
    };

    virtual ~DatagramPort() = default;
    virtual std::uint16_t port() const = 0;
    // Waits for the next datagram from a loopback sender (at most 2048 bytes are kept);
    // nullopt once stop() was called.
    virtual Result<std::optional<Datagram>> receive() = 0;
    // Sends `size` bytes to the sender of `to`.
    virtual Result<void> answer(const Datagram& to, const std::uint8_t* data, std::size_t size) = 0;
    // Ends the waiting of receive() at once.
    virtual void stop() = 0;
};

// Binds UDP `address`:`port` (a dotted 127.x.y.z address; port 0: a free one).
Result<std::unique_ptr<DatagramPort>> bindDatagramPort(std::string_view address,
                                                       std::uint16_t port);

} // namespace kv::platform
