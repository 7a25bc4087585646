#pragma once
// A Platform assembled from separate parts, for tests: each part is either set explicitly (a fake
// the test owns) or taken from a base platform (for example the simulated host), so a test can
// run the real simulated services with a ManualClock. A part that is neither set nor available
// from a base throws PlatformError when asked for.

#include "platform/Platform.h"

#include <optional>

namespace kv::platform {

class CompositePlatform final : public Platform {
public:
    // `base` may be null; it must outlive this object.
    explicit CompositePlatform(Platform* base = nullptr) : base_(base) {}

    // The parts are not owned; they must outlive this object.
    void setServices(ServiceManager* part) { services_ = part; }
    void setProcesses(ProcessTable* part) { processes_ = part; }
    void setFiles(FileSystem* part) { files_ = part; }
    void setRegistry(Registry* part) { registry_ = part; }
    void setClock(Clock* part) { clock_ = part; }
    void setCodePage(const CodePage* part) { codePage_ = part; }
    void setComputerName(std::string name) { computerName_ = std::move(name); }
    void setDiscoveryTarget(DiscoveryTarget target) { discovery_ = std::move(target); }

    ServiceManager& services() override;
    ProcessTable& processes() override;
    FileSystem& files() override;
    Registry& registry() override;
    Clock& clock() override;
    const CodePage& codePage() override;
    std::string computerName() override;
    DiscoveryTarget discoveryTarget() override;

private:
    Platform& base(const char* part);

    Platform* base_;
    ServiceManager* services_ = nullptr;
    ProcessTable* processes_ = nullptr;
    FileSystem* files_ = nullptr;
    Registry* registry_ = nullptr;
    Clock* clock_ = nullptr;
    const CodePage* codePage_ = nullptr;
    std::optional<std::string> computerName_;
    std::optional<DiscoveryTarget> discovery_;
};

} // namespace kv::platform
