#pragma once
// The SQL Server Resolution Protocol responder of the stand-in: answers the discovery request
// of clients on the machine's loopback discovery address and port (the simulated host's
// host.conf, 127.0.0.1:1434 on Windows), never on a real broadcast address.
//
//   0x02 / 0x03 (all instances)      -> 0x05, size (2 bytes LE), the instance block
//   0x04 NAME 0x00 (one instance)    -> the same, only when NAME is our instance; else silence
//
// The block reads "ServerName;HOST;InstanceName;MSSQLSERVER;IsClustered;No;Version;V;tcp;PORT;;".

#include "platform/DatagramPort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv::standin {

struct InstanceInfo {
    std::string serverName;
    std::string instanceName = "MSSQLSERVER";
    std::string version;
    std::uint16_t tcpPort = 0;
};

// The answer to one request datagram, or nothing when the request gets no answer.
std::optional<std::vector<std::uint8_t>>
discoveryAnswer(const std::uint8_t* request, std::size_t size, const InstanceInfo& instance);

class DiscoveryResponder {
public:
    DiscoveryResponder() = default;
    ~DiscoveryResponder() { stop(); }
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds UDP address:port; only 127.0.0.0/8 addresses are accepted.
    bool start(const std::string& address, std::uint16_t port, InstanceInfo instance,
               std::string& error);
    void stop();

private:
    void loop();

    // stop() wakes the port's wait at once, so that a stop (the service being stopped) never
    // waits for a time-out.
    std::unique_ptr<platform::DatagramPort> port_;
    InstanceInfo instance_;
    std::thread thread_;
};

} // namespace kv::standin
