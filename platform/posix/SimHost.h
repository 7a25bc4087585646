#pragma once
// The simulated Windows host: a folder that stands in for one Windows machine on POSIX systems.
// Layout and file formats are described in platform/posix/README.md.
//
// SimHost reads host.conf, knows where everything lives in the folder and maps Windows paths onto
// it. It is used by the POSIX backend of the platform layer, by simhost and by the stand-in
// SQL Server (which opens its database files through resolve()).

#include "platform/Platform.h"
#include "platform/Result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform::sim {

inline constexpr const char* HostVariable = "KELVORA_HOST";
inline constexpr const char* StatusVariable = "KELVORA_SERVICE_STATUS";

struct CreateOptions {
    std::string computerName = "KELVORA-PC";
    std::uint32_t codePage = 1254;
};

class SimHost {
public:
    // Opens an existing host folder (it must hold host.conf).
    static Result<SimHost> open(const std::filesystem::path& folder);
    // Makes a new host folder: host.conf, drive_c/, empty registry files, services/, run/. The
    // folder may exist but must not already hold a host.conf (AlreadyExists). The discovery port
    // is a free loopback UDP port picked by the system.
    static Result<SimHost> create(const std::filesystem::path& folder,
                                  const CreateOptions& options = {});
    // The host named by KELVORA_HOST; throws PlatformError naming the variable and the folder.
    static SimHost fromEnvironment();

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path hostConf() const { return root_ / "host.conf"; }
    std::filesystem::path driveC() const { return root_ / "drive_c"; }
    std::filesystem::path registryFile(RegistryRoot root) const;
    std::filesystem::path servicesFolder() const { return root_ / "services"; }
    std::filesystem::path runFolder() const { return root_ / "run"; }
    std::filesystem::path freetdsConf() const { return root_ / "freetds.conf"; }

    // The definition file of a service, services/NAME.service, found without regard to the case
    // of NAME; nullopt when the host has no such service.
    std::optional<std::filesystem::path> serviceDefinition(std::string_view name) const;
    // run/NAME.status, run/NAME.pid, run/NAME.log for a service name as spelled in its
    // definition file's name.
    std::filesystem::path statusFile(std::string_view service) const;
    std::filesystem::path pidFile(std::string_view service) const;
    std::filesystem::path logFile(std::string_view service) const;

    // host.conf values as read when the host was opened (or last reloaded).
    std::string computerName() const; // upper case
    std::uint32_t codePage() const;
    DiscoveryTarget discoveryTarget() const;
    std::optional<std::string> setting(std::string_view key) const;
    // disk_free: the bytes drive C has left for new files (the copies of the file functions and
    // the files a server creates); nullopt when the host sets no limit.
    std::optional<std::uint64_t> diskFree() const;
    const std::map<std::string, std::string, std::less<>>& settings() const { return settings_; }
    // Re-reads host.conf.
    Result<void> reload();
    // Sets one host.conf value (adding the line if it is new) and rewrites the file atomically;
    // other lines, comments included, are kept.
    Result<void> setSetting(std::string_view key, std::string_view value);

    // Where a Windows path lives on disk. Drive C maps to drive_c/; each existing component is
    // found without regard to letter case, missing components are appended as given. Refused
    // with InvalidName or BadPathname and a message: relative paths, "..", other drives, UNC and
    // device paths, device names (CON, NUL, COM1, LPT1, ...), characters Windows forbids in
    // names, and symbolic links inside the drive (they could lead out of it).
    Result<std::filesystem::path> resolve(std::string_view windowsPath) const;

private:
    explicit SimHost(std::filesystem::path root) : root_(std::move(root)) {}

    std::filesystem::path root_;
    std::map<std::string, std::string, std::less<>> settings_;
};

// Ends the process of a started service with SIGKILL, without asking it (for scripts and test
// clean-up; a service stuck in start pending refuses the stop request). Only the process recorded
// in run/NAME.pid is signalled, and only while it is still that process. Returns false when no
// process of the service was running. The next status query reads stopped.
Result<bool> killServiceProcess(const SimHost& host, std::string_view service);

// The platform object of a simulated host.
std::unique_ptr<Platform> createSimulatedPlatform(const SimHost& host);

} // namespace kv::platform::sim
