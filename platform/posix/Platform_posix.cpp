// The platform object of the simulated Windows host.

#include "platform/Platform.h"
#include "platform/posix/SimBackends.h"
#include "platform/posix/SimHost.h"

namespace kv::platform {

namespace sim {

namespace {

class SimPlatform final : public Platform {
public:
    explicit SimPlatform(const SimHost& host)
        : host_(host), services_(host), processes_(host), files_(host), registry_(host),
          codePage_(host.codePage()) {}

    ServiceManager& services() override { return services_; }
    ProcessTable& processes() override { return processes_; }
    FileSystem& files() override { return files_; }
    Registry& registry() override { return registry_; }
    Clock& clock() override { return clock_; }
    const CodePage& codePage() override { return codePage_; }
    std::string computerName() override { return host_.computerName(); }
    DiscoveryTarget discoveryTarget() override { return host_.discoveryTarget(); }

private:
    SimHost host_;
    SimServiceManager services_;
    SimProcessTable processes_;
    SimFileSystem files_;
    SimRegistry registry_;
    SystemClock clock_;
    IconvCodePage codePage_;
};

} // namespace

std::unique_ptr<Platform> createSimulatedPlatform(const SimHost& host) {
    return std::make_unique<SimPlatform>(host);
}

} // namespace sim

std::unique_ptr<Platform> createPlatform() {
    return sim::createSimulatedPlatform(sim::SimHost::fromEnvironment());
}

} // namespace kv::platform
