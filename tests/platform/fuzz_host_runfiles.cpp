// Fuzz target: the files a started service leaves in run/ (NAME.status written by the service,
// NAME.pid kept by the host). The first byte picks the reader.
#include "platform/posix/ServiceReporter.h"
#include "platform/posix/SimBackends.h"
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::platform::sim;
    if (size == 0)
        return 0;
    (void)kv::fuzz::takeDiagnostics();
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        const auto record = parsePidFile(text, "run/MSSQLSERVER.pid");
        if (record && record->pid <= 0)
            std::abort();
    } else {
        const auto status = parseStatusFile(text, "run/MSSQLSERVER.status");
        if (status && (status->currentState < 1 || status->currentState > 7))
            std::abort();
    }
    return 0;
}
