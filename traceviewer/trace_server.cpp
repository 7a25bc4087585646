#include "traceviewer/trace_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kv::traceviewer {

TraceServer::TraceServer(RecordSink records, NoteSink notes)
    : records_(std::move(records)), notes_(std::move(notes)) {}

TraceServer::~TraceServer() {
    for (auto& [fd, client] : sessions_)
        ::close(fd);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool TraceServer::listen(std::uint16_t port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        notes_("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    notes_("listening on 127.0.0.1:" + std::to_string(port_));
    return true;
}

void TraceServer::step(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& [fd, client] : sessions_)
        fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return;
    if (fds[0].revents & POLLIN)
        accept();
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const int fd = fds[i].fd;
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            closeClient(fd, n == 0 ? "disconnected" : std::strerror(errno));
            continue;
        }
        auto& client = sessions_.at(fd);
        if (!client.session->feed(std::string_view(buffer, static_cast<std::size_t>(n))))
            closeClient(fd, client.session->error() + "; connection closed");
    }
}

void TraceServer::accept() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const int number = nextClient_++;
    Client client;
    client.number = number;
    client.session = std::make_unique<TraceSession>(
        [this, number](const TraceRecord& record) { records_(number, record); });
    sessions_.emplace(fd, std::move(client));
    notes_("client " + std::to_string(number) + " connected");
}

void TraceServer::closeClient(int fd, const std::string& why) {
    auto it = sessions_.find(fd);
    if (it == sessions_.end())
        return;
    notes_("client " + std::to_string(it->second.number) + ": " + why);
    ::close(fd);
    sessions_.erase(it);
}

} // namespace kv::traceviewer
