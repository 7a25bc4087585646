#pragma once
// Private: what both backends of TcpListener share (the connection numbers, the order of the
// events, the reading and closing); a backend supplies the socket calls.

#include "platform/TcpListener.h"

#include <cstdint>
#include <map>

namespace kv::platform::detail {

class TcpListenerBase : public TcpListener {
public:
    // A socket as the backend knows it (a descriptor or a SOCKET, widened).
    using Handle = std::intptr_t;

    explicit TcpListenerBase(std::uint16_t port) : port_(port) {}
    std::uint16_t port() const override { return port_; }
    std::size_t connections() const override { return connections_.size(); }
    void close(int connection) override;
    std::vector<Event> wait(int timeoutMs) override;

protected:
    // Closes every accepted connection; the backend's destructor calls it, then closes its own.
    void closeAll();

    // Waits up to `timeoutMs`; says whether the listening socket has a connection waiting and
    // which of `handles` have bytes, an end or an error to read.
    struct Ready {
        bool listener = false;
        std::vector<bool> handles;
    };
    virtual Ready poll(const std::vector<Handle>& handles, int timeoutMs) = 0;
    // An accepted connection, or -1 when none could be taken.
    virtual Handle acceptOne() = 0;
    // Bytes read (0: the peer ended the connection in order), or -1 with `error` set.
    virtual long readSome(Handle handle, char* buffer, std::size_t size, Error& error) = 0;
    virtual void closeHandle(Handle handle) = 0;

private:
    void receive(int number, Handle handle, std::vector<Event>& events);

    std::uint16_t port_;
    std::map<int, Handle> connections_;
    int next_ = 1;
};

} // namespace kv::platform::detail
