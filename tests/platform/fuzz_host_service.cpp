// Fuzz target: a service definition (services/NAME.service) and the command line in it.
#include "platform/posix/SimBackends.h"
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::platform::sim;
    (void)kv::fuzz::takeDiagnostics();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto def = parseServiceDefinition(text, "services/MSSQLSERVER.service");
    if (def && def->name != "MSSQLSERVER")
        std::abort();
    (void)splitCommandLine(text);
    return 0;
}
