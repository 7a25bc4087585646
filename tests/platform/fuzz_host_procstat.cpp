// Fuzz target: the reader of /proc/PID/stat (state letter and start time after the command
// name, which may itself hold blanks and parentheses).
#include "platform/posix/HostFiles.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)kv::platform::sim::detail::parseProcStat(
        std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
