#pragma once
// A listening TCP port on 127.0.0.1 and the connections it accepted, waited on together: the
// trace viewer reads any number of traced programs in one thread, in steps.
//
// Errors carry the Windows Sockets numbers on both backends (TcpStream.h): 10048 when the port
// is taken, 10013 when the port needs privileges this user lacks, ...

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv::platform {

class TcpListener {
public:
    struct Event {
        enum class Kind { Accepted, Received, Closed };
        Kind kind = Kind::Received;
        // The connection's number: this listener's own, counted from 1, never reused.
        int connection = 0;
        // Received: the bytes, in order.
        std::string bytes;
        // Closed: code 0 when the peer ended the connection in order, else the socket error.
        Error error{0, {}};
    };

    virtual ~TcpListener() = default;
    // The port listened on (the one chosen by the system when 0 was asked for).
    virtual std::uint16_t port() const = 0;
    // Waits up to `timeoutMs` for new connections and bytes, and says what happened, in order
    // (nothing on a time-out). A connection reported Closed is gone.
    virtual std::vector<Event> wait(int timeoutMs) = 0;
    // Closes a connection this side gave up on; unknown numbers are ignored.
    virtual void close(int connection) = 0;
    virtual std::size_t connections() const = 0;
};

// Listens on 127.0.0.1:`port` (0: any free port). Never another address.
Result<std::unique_ptr<TcpListener>> listenTcp(std::uint16_t port);

// A sentence for a Windows Sockets error number, in English ("the port is already in use").
std::string socketErrorText(ErrorCode code);

} // namespace kv::platform
