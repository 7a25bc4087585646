// Links the Win32 backend into a program: every interface is reached once, so a missing system
// library or an unresolved call shows in the cross build. Not run here (no Windows).

#include "platform/Datagram.h"
#include "platform/Platform.h"

#include <cstdio>

int main() {
    using namespace kv::platform;
    auto platform = createPlatform();
    std::printf("%s code page %u\n", platform->computerName().c_str(),
                platform->codePage().number());
    auto& services = platform->services();
    if (auto manager = services.openManager("", ServiceAccess::ManagerConnect)) {
        if (auto service =
                services.openService(*manager, "MSSQLSERVER", ServiceAccess::QueryStatus)) {
            if (auto status = services.queryStatus(*service))
                std::printf("MSSQLSERVER state %u\n", status->currentState);
            (void)services.close(*service);
        }
        (void)services.close(*manager);
    }
    if (auto processes = platform->processes().snapshot())
        std::printf("%zu processes\n", processes->size());
    auto& files = platform->files();
    std::printf("C:\\ %s\n", files.folderExists("C:\\") ? "exists" : "missing");
    if (auto key = platform->registry().openKey(RegistryRoot::LocalMachine, "SOFTWARE"))
        std::printf("%zu values\n", (*key)->valueNames().valueOr({}).size());
    // Opened only: sending the discovery request is no part of a link check.
    if (auto socket = openDiscoverySocket(platform->discoveryTarget(), 500))
        std::printf("discovery socket open\n");
    platform->clock().sleep(1);
    return files.shellCopy("C:\\none", "C:\\none2", {}) == 0 ? 1 : 0;
}
