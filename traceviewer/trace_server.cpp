#include "traceviewer/trace_server.h"

#include "platform/TcpStream.h"
#include "traceviewer/trace_texts.h"

namespace kv::traceviewer {

TraceServer::TraceServer(RecordSink records, NoteSink notes)
    : records_(std::move(records)), notes_(std::move(notes)) {}

TraceServer::~TraceServer() = default;

bool TraceServer::listen(std::uint16_t port) {
    auto listener = platform::listenTcp(port);
    if (!listener) {
        listenError_ = listener.error();
        return false;
    }
    listener_ = std::move(listener.value());
    listenError_ = platform::Error{0, {}};
    notes_(listeningNote(listener_->port()));
    return true;
}

std::uint16_t TraceServer::port() const {
    return listener_ ? listener_->port() : 0;
}

void TraceServer::step(int timeoutMs) {
    if (!listener_)
        return;
    for (auto& event : listener_->wait(timeoutMs)) {
        using Kind = platform::TcpListener::Event::Kind;
        switch (event.kind) {
        case Kind::Accepted: {
            const int number = event.connection;
            sessions_.emplace(
                number, std::make_unique<TraceSession>([this, number](const TraceRecord& record) {
                    records_(number, record);
                }));
            notes_(connectedNote(number));
            break;
        }
        case Kind::Received: {
            const auto it = sessions_.find(event.connection);
            if (it == sessions_.end())
                break;
            if (!it->second->feed(event.bytes)) {
                const auto fault = it->second->fault();
                listener_->close(event.connection);
                sessions_.erase(it);
                notes_(unreadableNote(event.connection, fault));
            }
            break;
        }
        case Kind::Closed:
            if (sessions_.erase(event.connection) != 0)
                notes_(closedNote(event.connection, event.error));
            break;
        }
    }
}

} // namespace kv::traceviewer
