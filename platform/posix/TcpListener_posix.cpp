// The listening side of a loopback TCP port over POSIX sockets and poll.

#include "platform/TcpListener.h"
#include "platform/TcpListenerBase.h"
#include "platform/posix/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::platform {

namespace {

using posix::socketFailure;

class PosixTcpListener final : public detail::TcpListenerBase {
public:
    PosixTcpListener(int fd, std::uint16_t port) : TcpListenerBase(port), fd_(fd) {}
    ~PosixTcpListener() override {
        closeAll();
        ::close(fd_);
    }
    PosixTcpListener(const PosixTcpListener&) = delete;
    PosixTcpListener& operator=(const PosixTcpListener&) = delete;

private:
    Ready poll(const std::vector<Handle>& handles, int timeoutMs) override {
        std::vector<pollfd> fds;
        fds.push_back({fd_, POLLIN, 0});
        for (const Handle handle : handles)
            fds.push_back({static_cast<int>(handle), POLLIN, 0});
        Ready ready;
        ready.handles.assign(handles.size(), false);
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
            return ready;
        ready.listener = (fds[0].revents & POLLIN) != 0;
        for (std::size_t i = 1; i < fds.size(); ++i)
            ready.handles[i - 1] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        return ready;
    }

    Handle acceptOne() override { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

    long readSome(Handle handle, char* buffer, std::size_t size, Error& error) override {
        const ssize_t n = ::read(static_cast<int>(handle), buffer, size);
        if (n < 0)
            error = socketFailure(errno, "recv");
        return static_cast<long>(n);
    }

    void closeHandle(Handle handle) override { ::close(static_cast<int>(handle)); }

    int fd_;
};

} // namespace

Result<std::unique_ptr<TcpListener>> listenTcp(std::uint16_t port) {
    std::uint16_t bound = 0;
    auto fd = posix::listenOnLoopback(port, 16, bound);
    if (!fd)
        return fd.error();
    return std::unique_ptr<TcpListener>(std::make_unique<PosixTcpListener>(*fd, bound));
}

} // namespace kv::platform
