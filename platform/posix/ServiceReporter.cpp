#include "platform/posix/ServiceReporter.h"

#include "platform/Diagnostics.h"
#include "platform/posix/HostFiles.h"
#include "platform/posix/SimHost.h"

#include <cstdlib>

namespace kv::platform::sim {

Result<ServiceReporter> ServiceReporter::fromEnvironment() {
    const char* file = std::getenv(StatusVariable);
    if (!file || !*file)
        return Error{win::InvalidParameter,
                     std::string(StatusVariable) + " is not set: not started as a service"};
    return ServiceReporter(file);
}

Result<void> ServiceReporter::report(std::uint32_t state, std::uint32_t checkPoint,
                                     std::uint32_t waitHint) {
    return writeStatusFile(file_, ServiceStatus{state, checkPoint, waitHint});
}

Result<ServiceStatus> readStatusFile(const std::filesystem::path& file) {
    auto text = detail::readWholeFile(file);
    if (!text)
        return text.error();
    return parseStatusFile(*text, file);
}

Result<ServiceStatus> parseStatusFile(std::string_view text, const std::filesystem::path& file) {
    bool corrupt = false;
    bool haveState = false;
    ServiceStatus status;
    int lastLine = 0;
    for (const auto& entry : detail::parseKeyValues(text, file, &corrupt)) {
        lastLine = entry.line;
        const auto number = detail::parseNumber(entry.value);
        std::uint32_t* target = entry.key == "state"        ? &status.currentState
                                : entry.key == "checkpoint" ? &status.checkPoint
                                : entry.key == "wait_hint"  ? &status.waitHint
                                                            : nullptr;
        if (!target || !number ||
            (target == &status.currentState && (*number < 1 || *number > 7))) {
            reportDiagnostic(file.string() + ":" + std::to_string(entry.line) +
                             ": corrupt service status line \"" + entry.key + " = " + entry.value +
                             "\"");
            corrupt = true;
            continue;
        }
        *target = *number;
        haveState = haveState || target == &status.currentState;
    }
    if (!haveState && !corrupt) {
        reportDiagnostic(file.string() + ":" + std::to_string(lastLine + 1) +
                         ": corrupt service status, no \"state\" line");
        corrupt = true;
    }
    if (corrupt)
        return Error{win::FileCorrupt, "the service status file " + file.string() + " is corrupt"};
    return status;
}

Result<void> writeStatusFile(const std::filesystem::path& file, const ServiceStatus& status) {
    return detail::writeFileAtomically(file,
                                       "state = " + std::to_string(status.currentState) +
                                           "\ncheckpoint = " + std::to_string(status.checkPoint) +
                                           "\nwait_hint = " + std::to_string(status.waitHint) +
                                           "\n",
                                       false);
}

} // namespace kv::platform::sim
