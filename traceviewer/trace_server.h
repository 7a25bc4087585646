#pragma once
// The trace viewer's listening side: a TCP port on 127.0.0.1 that accepts any number of traced
// programs at once, each read through its own TraceSession. It runs in steps, so the text mode
// loops on it and the window drives it from a timer.

#include "platform/TcpListener.h"
#include "traceviewer/trace_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace kv::traceviewer {

class TraceServer {
public:
    // Records, and notes in the viewer's language ("İstemci 2 bağlandı", "İstemci 3: akış
    // okunamıyor (bilinmeyen ileti türü 9); bağlantı kapatıldı").
    using RecordSink = std::function<void(int client, const TraceRecord&)>;
    using NoteSink = std::function<void(const std::string&)>;

    TraceServer(RecordSink records, NoteSink notes);
    ~TraceServer();
    TraceServer(const TraceServer&) = delete;
    TraceServer& operator=(const TraceServer&) = delete;

    // Listens on 127.0.0.1:port (0: any free port), with a note; false when it cannot, and
    // listenError() says why (a Windows Sockets number: 10013 privileges, 10048 taken). Only
    // while not listening: a failed attempt may be followed by another.
    bool listen(std::uint16_t port);
    const platform::Error& listenError() const { return listenError_; }
    std::uint16_t port() const;
    // Waits up to `timeoutMs` for traffic and handles what came.
    void step(int timeoutMs);
    std::size_t clients() const { return sessions_.size(); }

private:
    RecordSink records_;
    NoteSink notes_;
    std::unique_ptr<platform::TcpListener> listener_;
    platform::Error listenError_{0, {}};
    // Each traced program's reader, by its connection number (the client number of the notes).
    std::map<int, std::unique_ptr<TraceSession>> sessions_;
};

} // namespace kv::traceviewer
