#pragma once
// The service side of the simulated service manager: a program started as a service of the
// simulated host reports its state through its status file (run/NAME.status), whose path the
// host's service manager passes in the environment variable KELVORA_SERVICE_STATUS. Each report
// replaces the file atomically, so the manager never reads half a report.
//
// A service reports start pending with rising checkpoints, then running; on SIGTERM stop pending,
// and stopped (or just exits: a service whose process has gone reads as stopped).

#include "platform/Result.h"
#include "platform/ServiceManager.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kv::platform::sim {

class ServiceReporter {
public:
    explicit ServiceReporter(std::filesystem::path statusFile) : file_(std::move(statusFile)) {}
    // From KELVORA_SERVICE_STATUS; InvalidParameter when the variable is not set (the program was
    // not started as a service, for example in the foreground for tests).
    static Result<ServiceReporter> fromEnvironment();

    Result<void> report(std::uint32_t state, std::uint32_t checkPoint = 0,
                        std::uint32_t waitHint = 0);
    const std::filesystem::path& statusFile() const { return file_; }

private:
    std::filesystem::path file_;
};

// Reads a status file. A missing file fails with FileNotFound; a corrupt one is reported (file
// and line) and fails with FileCorrupt.
Result<ServiceStatus> readStatusFile(const std::filesystem::path& file);
// The same from the file's text (`file` names it in the reports).
Result<ServiceStatus> parseStatusFile(std::string_view text, const std::filesystem::path& file);
// Writes a status file atomically (temporary file and rename).
Result<void> writeStatusFile(const std::filesystem::path& file, const ServiceStatus& status);

} // namespace kv::platform::sim
