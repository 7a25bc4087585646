// Fuzz target: host.conf of the simulated host, read as the host reads it, with every setting
// the platform takes from it (computer name, code page, discovery target, the faults injected
// for the file functions and for opening processes).
#include "platform/posix/SimBackends.h"
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::platform;
    auto& host = kv::fuzz::scratchHost();
    (void)kv::fuzz::takeDiagnostics();
    {
        std::ofstream out(host.hostConf(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (!host.reload())
        std::abort();
    (void)host.computerName();
    (void)host.codePage();
    const auto target = host.discoveryTarget();
    if (target.address.rfind("127.", 0) != 0 || target.port == 0)
        std::abort(); // the discovery target never leaves loopback
    // The injected faults are read at each call; none of these calls can touch a real file (the
    // names do not exist on the scratch drive).
    sim::SimFileSystem files(host);
    (void)files.copyFile("C:\\fuzz\\missing-a", "C:\\fuzz\\missing-b", true);
    (void)files.deleteFile("C:\\fuzz\\missing-a");
    (void)files.renameFile("C:\\fuzz\\missing-a", "C:\\fuzz\\missing-b");
    (void)files.shellCopy("C:\\fuzz\\missing-a", "C:\\fuzz\\missing-b", {});
    sim::SimProcessTable processes(host);
    if (auto handle = processes.openForTerminate(static_cast<std::uint32_t>(::getpid())))
        (void)processes.close(*handle);
    return 0;
}
