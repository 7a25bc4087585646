#pragma once
// The machine as a server program running on it sees it (the stand-in SQL Server): where a
// Windows path of the machine is in the file system, the machine's name and ANSI code page,
// where its resolution-protocol responder listens, how much room the disk has left for new
// files, and where the machine's FreeTDS clients look for its servers.
//
// Windows: this computer; a Windows path is used as it is. Simulated host: the host folder
// (platform/posix/README.md); drive C lives in drive_c/ and the rest comes from host.conf.
//
// A value: copies share the backend.

#include "platform/Platform.h"
#include "platform/Result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

namespace sim {
class SimHost;
}

class ServerMachine {
public:
    class Backend {
    public:
        virtual ~Backend() = default;
        virtual std::string computerName() const = 0;
        virtual std::uint32_t codePage() const = 0;
        virtual DiscoveryTarget discoveryListen() const = 0;
        virtual Result<std::filesystem::path> resolve(std::string_view windowsPath) const = 0;
        virtual std::optional<std::uint64_t> diskFree() const = 0;
        virtual std::optional<std::filesystem::path> clientConfigFile() const = 0;
    };

    explicit ServerMachine(std::shared_ptr<const Backend> backend) : backend_(std::move(backend)) {}
    // The simulated host (POSIX builds only): tests and tools hand their host where a machine
    // is asked for.
    ServerMachine(const sim::SimHost& host);

    // GetComputerName, upper case ("KELVORA-PC").
    std::string computerName() const { return backend_->computerName(); }
    // The ANSI code page (1254 on a Turkish machine).
    std::uint32_t codePage() const { return backend_->codePage(); }
    // The loopback address and UDP port the resolution-protocol responder listens on: Windows
    // 127.0.0.1:1434 (never every address: nothing here answers the network), the simulated
    // host its discovery_address and discovery_port. Port 0: no responder.
    DiscoveryTarget discoveryListen() const { return backend_->discoveryListen(); }
    // The file of an absolute Windows path ("C:\Kelvora\Data\kelvora_Data.MDF"). Refused with
    // InvalidName or BadPathname: relative paths and, on the simulated host, everything its
    // drive cannot hold (platform/posix/README.md).
    Result<std::filesystem::path> resolve(std::string_view windowsPath) const {
        return backend_->resolve(windowsPath);
    }
    // The bytes drive C has left for new files when the machine sets a limit (the simulated
    // host's disk_free, read afresh at each call); nullopt otherwise, and always on Windows,
    // whose writes fail by themselves with DiskFull.
    std::optional<std::uint64_t> diskFree() const { return backend_->diskFree(); }
    // The simulated host's freetds.conf, which names its servers for FreeTDS clients; nullopt
    // on Windows, where clients find a server through the registry.
    std::optional<std::filesystem::path> clientConfigFile() const {
        return backend_->clientConfigFile();
    }

private:
    std::shared_ptr<const Backend> backend_;
};

// The machine a server program runs on. Windows: this computer (a host folder means nothing
// there and is ignored; under Wine the variable KELVORA_HOST may come along from Linux).
// Simulated host: the host folder `hostFolder`; an empty one fails with InvalidParameter.
Result<ServerMachine> openServerMachine(const std::string& hostFolder);

} // namespace kv::platform
