#include "platform/CompositePlatform.h"

#include <string>

namespace kv::platform {

Platform& CompositePlatform::base(const char* part) {
    if (!base_)
        throw PlatformError(std::string("CompositePlatform: no ") + part +
                            " was set and there is no base platform");
    return *base_;
}

ServiceManager& CompositePlatform::services() {
    return services_ ? *services_ : base("service manager").services();
}

ProcessTable& CompositePlatform::processes() {
    return processes_ ? *processes_ : base("process table").processes();
}

FileSystem& CompositePlatform::files() {
    return files_ ? *files_ : base("file system").files();
}

Registry& CompositePlatform::registry() {
    return registry_ ? *registry_ : base("registry").registry();
}

Clock& CompositePlatform::clock() {
    return clock_ ? *clock_ : base("clock").clock();
}

const CodePage& CompositePlatform::codePage() {
    return codePage_ ? *codePage_ : base("code page").codePage();
}

std::string CompositePlatform::computerName() {
    return computerName_ ? *computerName_ : base("computer name").computerName();
}

DiscoveryTarget CompositePlatform::discoveryTarget() {
    return discovery_ ? *discovery_ : base("discovery target").discoveryTarget();
}

} // namespace kv::platform
