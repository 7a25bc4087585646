#include "platform/TcpListener.h"

#include "platform/TcpListenerBase.h"
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

namespace detail {

void TcpListenerBase::close(int connection) {
    const auto it = connections_.find(connection);
    if (it == connections_.end())
        return;
    closeHandle(it->second);
    connections_.erase(it);
}

void TcpListenerBase::closeAll() {
    for (const auto& [number, handle] : connections_)
        closeHandle(handle);
    connections_.clear();
}

std::vector<TcpListener::Event> TcpListenerBase::wait(int timeoutMs) {
    std::vector<int> numbers;
    std::vector<Handle> handles;
    for (const auto& [number, handle] : connections_) {
        numbers.push_back(number);
        handles.push_back(handle);
    }
    const Ready ready = poll(handles, timeoutMs);
    std::vector<Event> events;
    for (std::size_t i = 0; i < ready.handles.size() && i < handles.size(); ++i) {
        if (ready.handles[i])
            receive(numbers[i], handles[i], events);
    }
    if (ready.listener) {
        const Handle handle = acceptOne();
        if (handle >= 0) {
            const int number = next_++;
            connections_.emplace(number, handle);
            Event event;
            event.kind = Event::Kind::Accepted;
            event.connection = number;
            events.push_back(std::move(event));
        }
    }
    return events;
}

void TcpListenerBase::receive(int number, Handle handle, std::vector<Event>& events) {
    char buffer[65536];
    Error error{0, {}};
    const long n = readSome(handle, buffer, sizeof buffer, error);
    Event event;
    event.connection = number;
    if (n > 0) {
        event.kind = Event::Kind::Received;
        event.bytes.assign(buffer, static_cast<std::size_t>(n));
    } else {
        event.kind = Event::Kind::Closed;
        if (n < 0)
            event.error = std::move(error);
        close(number);
    }
    events.push_back(std::move(event));
}

} // namespace detail

} // namespace kv::platform
