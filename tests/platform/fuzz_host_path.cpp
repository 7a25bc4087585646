// Fuzz target: the Windows path resolver of the simulated host. Whatever the path, a resolved
// one lies inside the host's drive folder and holds no ".." step.
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& host = kv::fuzz::scratchHost();
    (void)kv::fuzz::takeDiagnostics();
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const auto resolved = host.resolve(path);
    if (!resolved)
        return 0;
    const auto drive = host.driveC();
    auto it = resolved->begin();
    for (auto d = drive.begin(); d != drive.end(); ++d, ++it)
        if (it == resolved->end() || *it != *d)
            std::abort(); // outside the drive
    for (; it != resolved->end(); ++it)
        if (*it == ".." || *it == "." || it->empty())
            std::abort();
    return 0;
}
