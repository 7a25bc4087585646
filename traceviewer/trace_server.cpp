#include "traceviewer/trace_server.h"

#include "platform/TcpStream.h"

namespace kv::traceviewer {

TraceServer::TraceServer(RecordSink records, NoteSink notes)
    : records_(std::move(records)), notes_(std::move(notes)) {}

TraceServer::~TraceServer() = default;

bool TraceServer::listen(std::uint16_t port) {
    auto listener = platform::listenTcp(port);
    if (!listener) {
        listenError_ = listener.error();
        notes_("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
               platform::socketErrorText(listenError_.code) + " (" + listenError_.message + ")");
        return false;
    }
    listener_ = std::move(listener.value());
    listenError_ = platform::Error{0, {}};
    notes_("listening on 127.0.0.1:" + std::to_string(listener_->port()));
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
            notes_("client " + std::to_string(number) + " connected");
            break;
        }
        case Kind::Received: {
            const auto it = sessions_.find(event.connection);
            if (it == sessions_.end())
                break;
            if (!it->second->feed(event.bytes)) {
                const std::string why = it->second->error() + "; connection closed";
                listener_->close(event.connection);
                sessions_.erase(it);
                notes_("client " + std::to_string(event.connection) + ": " + why);
            }
            break;
        }
        case Kind::Closed:
            if (sessions_.erase(event.connection) != 0)
                notes_("client " + std::to_string(event.connection) + ": " +
                       (event.error.code == 0 ? std::string("disconnected")
                                              : platform::socketErrorText(event.error.code)));
            break;
        }
    }
}

} // namespace kv::traceviewer
