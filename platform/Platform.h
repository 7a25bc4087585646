#pragma once
// The platform object: one per program, made by createPlatform() in main and handed down to the
// console and the data-access layer, which reach the machine only through the interfaces it
// hands out. Tests put fakes in its place (CompositePlatform.h, ManualClock in Clock.h).
//
// Backends: Win32 (the real calls) and, everywhere else, the simulated Windows host, a folder
// named by the environment variable KELVORA_HOST (see platform/posix/README.md).

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProcessTable.h"
#include "platform/Registry.h"
#include "platform/Result.h"
#include "platform/ServiceManager.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kv::platform {

// Where the server discovery request goes. Windows: the broadcast 255.255.255.255, port 1434.
// The simulated host: a loopback address and port from its host.conf (never a real broadcast).
struct DiscoveryTarget {
    std::string address;
    std::uint16_t port = 1434;
    bool broadcast = false; // set the socket's broadcast option before sending
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual ServiceManager& services() = 0;
    virtual ProcessTable& processes() = 0;
    virtual FileSystem& files() = 0;
    virtual Registry& registry() = 0;
    virtual Clock& clock() = 0;
    virtual const CodePage& codePage() = 0;
    // GetComputerNameA: the NetBIOS name, upper case ("KELVORA-PC").
    virtual std::string computerName() = 0;
    virtual DiscoveryTarget discoveryTarget() = 0;
};

// The backend of this build. On the simulated host it opens the folder named by KELVORA_HOST;
// a missing variable or an unreadable folder throws PlatformError with a message that names
// both.
std::unique_ptr<Platform> createPlatform();

} // namespace kv::platform
