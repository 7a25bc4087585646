#pragma once
// The trace viewer's listening side: a TCP port on 127.0.0.1 that accepts any number of traced
// programs at once, each read through its own TraceSession. It runs in steps (poll), so the text
// mode loops on it and the window drives it from a timer.

#include "traceviewer/trace_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace kv::traceviewer {

class TraceServer {
public:
    // Records and notes ("client 2 connected", "client 2: unknown message type 9; closed").
    using RecordSink = std::function<void(int client, const TraceRecord&)>;
    using NoteSink = std::function<void(const std::string&)>;

    TraceServer(RecordSink records, NoteSink notes);
    ~TraceServer();
    TraceServer(const TraceServer&) = delete;
    TraceServer& operator=(const TraceServer&) = delete;

    // Listens on 127.0.0.1:port (0: any free port); false with a note when it cannot.
    bool listen(std::uint16_t port);
    std::uint16_t port() const { return port_; }
    // Waits up to `timeoutMs` for traffic and handles what came.
    void step(int timeoutMs);
    std::size_t clients() const { return sessions_.size(); }

private:
    void accept();
    void closeClient(int fd, const std::string& why);

    RecordSink records_;
    NoteSink notes_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    int nextClient_ = 1;
    struct Client {
        int number = 0;
        std::unique_ptr<TraceSession> session;
    };
    std::map<int, Client> sessions_;
};

} // namespace kv::traceviewer
