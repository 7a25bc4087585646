// The loopback UDP responder port over Windows Sockets 2.2; the wait for a datagram goes
// through WSAEventSelect together with a stop event.

#include "platform/DatagramPort.h"
#include "platform/win32/WinSockets.h"

// winsock2.h must come before anything that includes windows.h; it brings windows.h itself.
#include <atomic>
#include <string>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kv::platform {

namespace {

using win32::lastSocketError;

class WinDatagramPort final : public DatagramPort {
public:
    WinDatagramPort(SOCKET s, std::uint16_t port, WSAEVENT readEvent, HANDLE stopEvent)
        : socket_(s), port_(port), readEvent_(readEvent), stopEvent_(stopEvent) {}
    ~WinDatagramPort() override {
        closesocket(socket_);
        WSACloseEvent(readEvent_);
        CloseHandle(stopEvent_);
    }
    WinDatagramPort(const WinDatagramPort&) = delete;
    WinDatagramPort& operator=(const WinDatagramPort&) = delete;

    std::uint16_t port() const override { return port_; }

    Result<std::optional<Datagram>> receive() override {
        char buffer[2048];
        while (!stopped_) {
            const HANDLE events[] = {stopEvent_, readEvent_};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                continue;
            // recvfrom re-enables the read event while more datagrams wait.
            WSAResetEvent(readEvent_);
            sockaddr_in from{};
            int length = sizeof from;
            const int n = recvfrom(socket_, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
            // WSAEWOULDBLOCK: nothing after all; WSAECONNRESET: an earlier answer found no one
            // listening; WSAEMSGSIZE: a datagram longer than the buffer, cut.
            if (n == SOCKET_ERROR && WSAGetLastError() != WSAEMSGSIZE)
                continue;
            if ((ntohl(from.sin_addr.s_addr) >> 24) != 127)
                continue;
            Datagram datagram;
            datagram.bytes.assign(buffer, buffer + (n == SOCKET_ERROR ? sizeof buffer : n));
            datagram.fromAddress = ntohl(from.sin_addr.s_addr);
            datagram.fromPort = ntohs(from.sin_port);
            return std::optional<Datagram>(std::move(datagram));
        }
        return std::optional<Datagram>();
    }

    Result<void> answer(const Datagram& to, const std::uint8_t* data, std::size_t size) override {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(to.fromAddress);
        address.sin_port = htons(to.fromPort);
        if (sendto(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR)
            return lastSocketError("sendto");
        return success();
    }

    void stop() override {
        stopped_ = true;
        SetEvent(stopEvent_);
    }

private:
    SOCKET socket_;
    std::uint16_t port_;
    WSAEVENT readEvent_;
    HANDLE stopEvent_;
    std::atomic<bool> stopped_{false};
};

} // namespace

Result<std::unique_ptr<DatagramPort>> bindDatagramPort(std::string_view address,
                                                       std::uint16_t port) {
    const std::string text(address);
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127)
        return Error{win::InvalidParameter, "\"" + text + "\" is not a loopback address"};
    if (const int started = win32::startSockets(); started != 0)
        return Error{static_cast<ErrorCode>(started),
                     "WSAStartup failed. Error code " + std::to_string(started)};
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return lastSocketError("socket");
    const BOOL on = TRUE;
    (void)setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr = parsed;
    if (bind(s, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == SOCKET_ERROR) {
        auto error = lastSocketError("bind");
        closesocket(s);
        return error;
    }
    int length = sizeof bound;
    (void)getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
    const WSAEVENT readEvent = WSACreateEvent();
    const HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (readEvent == WSA_INVALID_EVENT || !stopEvent ||
        WSAEventSelect(s, readEvent, FD_READ) == SOCKET_ERROR) {
        auto error = lastSocketError("WSAEventSelect");
        if (readEvent != WSA_INVALID_EVENT)
            WSACloseEvent(readEvent);
        if (stopEvent)
            CloseHandle(stopEvent);
        closesocket(s);
        return error;
    }
    return std::unique_ptr<DatagramPort>(
        std::make_unique<WinDatagramPort>(s, ntohs(bound.sin_port), readEvent, stopEvent));
}

} // namespace kv::platform
