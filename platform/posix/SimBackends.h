#pragma once
// Private: the backends of the simulated host, put together by SimPlatform (Platform_posix.cpp)
// and used directly by the tests of this folder.

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProcessTable.h"
#include "platform/Registry.h"
#include "platform/ServiceManager.h"
#include "platform/posix/SimHost.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform::sim {

// A service definition read from services/NAME.service.
struct ServiceDefinition {
    std::string name; // as spelled in the file name
    std::vector<std::string> command;
    std::uint32_t refuseManagerAccess = 0;
    std::uint32_t refuseServiceAccess = 0;
    std::optional<std::uint32_t> failStart;
};
Result<ServiceDefinition> readServiceDefinition(const std::filesystem::path& file);
// The same from the file's text (`file` names it in the reports).
Result<ServiceDefinition> parseServiceDefinition(std::string_view text,
                                                 const std::filesystem::path& file);
// Splits a command line as a POSIX shell would (blanks, quotes, backslashes), without expansions.
Result<std::vector<std::string>> splitCommandLine(std::string_view line);

// A registry file's text as the registry writes it back after reading it (every change rewrites
// the whole file so); lines it cannot read are reported (`file` names it) and dropped.
std::string rewriteRegistryFile(std::string_view text, const std::filesystem::path& file,
                                RegistryRoot root);

// run/NAME.pid: the process of a started service and its start time (field 22 of
// /proc/PID/stat). nullopt, reported, when the text holds no usable process id.
struct PidRecord {
    int pid = 0;
    std::uint64_t startTime = 0; // 0: unknown
};
std::optional<PidRecord> parsePidFile(std::string_view text, const std::filesystem::path& file);

class SimServiceManager final : public ServiceManager {
public:
    explicit SimServiceManager(SimHost host) : host_(std::move(host)) {}

    Result<ServiceHandle> openManager(std::string_view machine, std::uint32_t access) override;
    Result<ServiceHandle> openService(ServiceHandle manager, std::string_view name,
                                      std::uint32_t access) override;
    Result<ServiceStatus> queryStatus(ServiceHandle service) override;
    Result<void> start(ServiceHandle service) override;
    Result<ServiceStatus> controlStop(ServiceHandle service) override;
    Result<void> close(ServiceHandle handle) override;

private:
    struct OpenHandle {
        bool manager = false;
        std::string service;
        std::uint32_t access = 0;
    };
    Result<OpenHandle> serviceHandle(ServiceHandle handle, std::uint32_t needed);
    ServiceStatus currentStatus(const std::string& service);
    bool serviceProcessAlive(const std::string& service);

    SimHost host_;
    std::mutex mutex_;
    std::map<std::uint64_t, OpenHandle> handles_;
    std::uint64_t nextHandle_ = 1;
};

class SimProcessTable final : public ProcessTable {
public:
    // With a host, host.conf's fail_open_process = N makes every openForTerminate fail with N
    // (read at each call), for tests of the callers' failure branches.
    explicit SimProcessTable(std::optional<SimHost> host = std::nullopt) : host_(std::move(host)) {}
    ~SimProcessTable() override;

    Result<std::vector<ProcessEntry>> snapshot() override;
    Result<ProcessHandle> openForTerminate(std::uint32_t pid) override;
    Result<void> terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    Result<void> close(ProcessHandle handle) override;

private:
    struct OpenProcess {
        int pid = 0;
        int pidfd = -1; // -1 when the kernel has no pidfd_open
        std::uint64_t startTime = 0;
    };
    std::optional<SimHost> host_;
    std::mutex mutex_;
    std::map<std::uint64_t, OpenProcess> handles_;
    std::uint64_t nextHandle_ = 1;
};

class SimFileSystem final : public FileSystem {
public:
    explicit SimFileSystem(SimHost host) : host_(std::move(host)) {}

    bool fileExists(std::string_view path) override;
    bool folderExists(std::string_view path) override;
    Result<std::uint64_t> fileSize(std::string_view path) override;
    Result<void> copyFile(std::string_view from, std::string_view to, bool failIfExists) override;
    Result<void> deleteFile(std::string_view path) override;
    Result<void> renameFile(std::string_view from, std::string_view to) override;
    Result<void> createFolder(std::string_view path) override;
    Result<void> clearReadOnly(std::string_view path) override;
    Result<std::string> readFile(std::string_view path) override;
    Result<void> writeFile(std::string_view path, std::string_view contents) override;
    int shellCopy(std::string_view from, std::string_view to,
                  const CopyProgress& progress) override;
    Result<FileInfo> fileInfo(std::string_view path) override;
    // host.conf's disk_free when it is set, else what the real disk under the host has left.
    Result<std::uint64_t> freeSpace(std::string_view folder) override;
    // The processes with an exclusive flock on the file (FileHold), found through /proc; a
    // holder that is the process of a service of the host (run/NAME.pid) carries its name.
    Result<std::vector<FileHolder>> fileHolders(std::string_view path) override;

private:
    // A fault injected through host.conf (fail_copy_file = 5, or = 112 C:\Some\File), read at
    // each call.
    std::optional<Error> injectedFault(const char* key, std::string_view path,
                                       std::string_view other = {});
    // host.conf's fail_copy_after (= 112 65536, or = 112 65536 C:\Some\File): the copy stops
    // with that error once that many bytes of it are written; read at each call.
    std::optional<std::pair<ErrorCode, std::uint64_t>> interruptedCopy(std::string_view from,
                                                                       std::string_view to);
    // A copy larger than host.conf's disk_free (bytes) fails with DiskFull.
    std::optional<Error> diskFull(std::string_view from, std::string_view to);

    SimHost host_;
};

class SimRegistry final : public Registry {
public:
    explicit SimRegistry(SimHost host) : host_(std::move(host)) {}

    Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root, std::string_view path) override;
    Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root,
                                                   std::string_view path) override;

private:
    SimHost host_;
};

// UTF-8 <-> an 8-bit code page through iconv ("CP" + number). Throws PlatformError when iconv
// does not know the code page.
class IconvCodePage final : public CodePage {
public:
    explicit IconvCodePage(std::uint32_t number);
    ~IconvCodePage() override;
    IconvCodePage(const IconvCodePage&) = delete;
    IconvCodePage& operator=(const IconvCodePage&) = delete;

    std::uint32_t number() const override { return number_; }
    std::string fromUtf8(std::string_view utf8) const override;
    std::string toUtf8(std::string_view ansi) const override;

private:
    std::uint32_t number_;
    mutable std::mutex mutex_;
    void* toAnsi_;   // iconv_t
    void* fromAnsi_; // iconv_t
};

} // namespace kv::platform::sim
