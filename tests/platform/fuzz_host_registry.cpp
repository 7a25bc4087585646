// Fuzz target: the registry files of the simulated host (registry/HKEY_*.reg). What the registry
// writes back after reading a file must read again without a report and write back unchanged.
#include "platform/posix/SimBackends.h"
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::platform;
    (void)kv::fuzz::takeDiagnostics();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto root =
        size > 0 && (data[0] & 1) ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser;
    const std::string once = sim::rewriteRegistryFile(text, "HKEY.reg", root);
    (void)kv::fuzz::takeDiagnostics();
    const std::string twice = sim::rewriteRegistryFile(once, "HKEY.reg", root);
    if (kv::fuzz::takeDiagnostics() != 0 || twice != once)
        std::abort();
    return 0;
}
