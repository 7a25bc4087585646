#pragma once
// The server side of TCP on 127.0.0.1 for a server that gives each connection a thread of its
// own (the stand-in SQL Server): a listening port that accepts one connection at a time, and
// connections read and written with blocking calls that another thread can cut short.
//
// Errors carry the Windows Sockets numbers on both backends (TcpStream.h): 10048 when the port
// is taken, 10054 when the peer reset the connection, ...
//
// Threads: accept() and the reading and writing of one connection belong to one thread each;
// stop() and cut() may be called from any thread while those calls wait.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kv::platform {

class TcpConnection {
public:
    virtual ~TcpConnection() = default;
    // Waits for bytes and returns up to `capacity` of them; 0 when the peer ended the
    // connection in order. After cut() it returns 0 or a failure at once.
    virtual Result<std::size_t> receive(void* buffer, std::size_t capacity) = 0;
    // Sends all `size` bytes (a peer that has gone is a failure, never a signal).
    virtual Result<void> sendAll(const void* data, std::size_t size) = 0;
    // Waits up to `timeoutMs` until receive() would not block: true when bytes or the end of
    // the connection are there.
    virtual Result<bool> readable(int timeoutMs) = 0;
    // Ends the connection in both directions at once, as a crashed server would: the peer
    // sees it closed, and a receive() waiting in another thread returns.
    virtual void cut() = 0;
    // The peer as "127.0.0.1:54321".
    virtual std::string peer() const = 0;
};

class TcpAcceptor {
public:
    virtual ~TcpAcceptor() = default;
    // The port listened on (the one the system chose when 0 was asked for).
    virtual std::uint16_t port() const = 0;
    // Waits up to `timeoutMs` for the next connection; null on a time-out and after stop().
    // The new connection sends without delay (no Nagle).
    virtual Result<std::unique_ptr<TcpConnection>> accept(int timeoutMs) = 0;
    // Ends the waiting of accept() at once; accept() finds nothing from then on.
    virtual void stop() = 0;
};

// Listens on 127.0.0.1:`port` (0: a free port). Never another address. A port whose earlier
// connections are still closing can be listened on again at once (a restarted server keeps
// its port).
Result<std::unique_ptr<TcpAcceptor>> acceptTcp(std::uint16_t port);

} // namespace kv::platform
