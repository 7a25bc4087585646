#include "simulator/standin/Discovery.h"

#include "platform/TcpListener.h"
#include "simulator/standin/Text.h"

namespace kv::standin {

std::optional<std::vector<std::uint8_t>>
discoveryAnswer(const std::uint8_t* request, std::size_t size, const InstanceInfo& instance) {
    if (size == 0)
        return std::nullopt;
    if (request[0] == 0x04) {
        std::size_t end = 1;
        while (end < size && request[end] != 0)
            ++end;
        const std::string name(reinterpret_cast<const char*>(request + 1), end - 1);
        if (end - 1 > 32 || !keywordEquals(name, instance.instanceName))
            return std::nullopt;
    } else if (request[0] != 0x02 && request[0] != 0x03) {
        return std::nullopt;
    }
    const std::string block = "ServerName;" + instance.serverName + ";InstanceName;" +
                              instance.instanceName + ";IsClustered;No;Version;" +
                              instance.version + ";tcp;" + std::to_string(instance.tcpPort) + ";;";
    std::vector<std::uint8_t> out{0x05, static_cast<std::uint8_t>(block.size() & 0xFF),
                                  static_cast<std::uint8_t>(block.size() >> 8)};
    out.insert(out.end(), block.begin(), block.end());
    return out;
}

bool DiscoveryResponder::start(const std::string& address, std::uint16_t port,
                               InstanceInfo instance, std::string& error) {
    auto bound = platform::bindDatagramPort(address, port);
    if (!bound) {
        error = bound.code() == platform::win::InvalidParameter
                    ? "discovery address " + address + " is not a loopback address"
                    : "cannot bind UDP " + address + ":" + std::to_string(port) + ": " +
                          platform::socketErrorText(bound.code());
        return false;
    }
    port_ = std::move(bound).value();
    instance_ = std::move(instance);
    thread_ = std::thread([this] { loop(); });
    return true;
}

void DiscoveryResponder::loop() {
    for (;;) {
        auto received = port_->receive();
        // A port that failed answers nothing more; nullopt: stopped.
        if (!received || !*received)
            return;
        const auto& datagram = **received;
        auto answer = discoveryAnswer(datagram.bytes.data(), datagram.bytes.size(), instance_);
        if (answer)
            (void)port_->answer(datagram, answer->data(), answer->size());
    }
}

void DiscoveryResponder::stop() {
    if (thread_.joinable()) {
        port_->stop();
        thread_.join();
    }
    port_.reset();
}

} // namespace kv::standin
