// The simulated host as the machine of a server program.

#include "platform/ServerMachine.h"
#include "platform/posix/SimHost.h"

namespace kv::platform {

namespace {

class SimMachine final : public ServerMachine::Backend {
public:
    explicit SimMachine(const sim::SimHost& host) : host_(host) {}

    std::string computerName() const override { return host_.computerName(); }
    std::uint32_t codePage() const override { return host_.codePage(); }
    DiscoveryTarget discoveryListen() const override { return host_.discoveryTarget(); }
    Result<std::filesystem::path> resolve(std::string_view windowsPath) const override {
        return host_.resolve(windowsPath);
    }
    std::optional<std::uint64_t> diskFree() const override {
        // host.conf as it is now: a test may set the limit while the server runs.
        sim::SimHost current = host_;
        if (!current.reload())
            return std::nullopt;
        return current.diskFree();
    }
    std::optional<std::filesystem::path> clientConfigFile() const override {
        return host_.freetdsConf();
    }

private:
    sim::SimHost host_;
};

} // namespace

ServerMachine::ServerMachine(const sim::SimHost& host)
    : backend_(std::make_shared<SimMachine>(host)) {}

Result<ServerMachine> openServerMachine(const std::string& hostFolder) {
    if (hostFolder.empty())
        return Error{win::InvalidParameter,
                     std::string("no simulated host: give its folder or set ") + sim::HostVariable};
    auto host = sim::SimHost::open(hostFolder);
    if (!host)
        return host.error();
    return ServerMachine(*host);
}

} // namespace kv::platform
