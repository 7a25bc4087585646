#include "tests/platform/fuzz_host.h"

#include "platform/Diagnostics.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace kv::fuzz {
namespace {

int reports = 0;
std::filesystem::path scratchFolder;

std::filesystem::path makeScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-fuzz-host-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

} // namespace

platform::sim::SimHost& scratchHost() {
    static std::unique_ptr<platform::sim::SimHost> host = [] {
        scratchFolder = makeScratchFolder();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratchFolder, ec);
        });
        auto made = platform::sim::SimHost::create(scratchFolder / "host");
        if (!made)
            std::abort();
        const auto drive = made->driveC();
        std::filesystem::create_directories(drive / "Kelvora" / "Data");
        std::filesystem::create_directories(drive / "Program Files" / "Çağrı Şöğüş");
        std::ofstream(drive / "Kelvora" / "Data" / "kelvora_Data.MDF") << "data";
        std::ofstream(drive / "Kelvora" / "Data" / "kelvora_Log.LDF") << "log";
        return std::make_unique<platform::sim::SimHost>(std::move(made).value());
    }();
    return *host;
}

int takeDiagnostics() {
    static const bool installed = [] {
        platform::setDiagnosticSink([](const std::string&) { ++reports; });
        return true;
    }();
    (void)installed;
    const int n = reports;
    reports = 0;
    return n;
}

} // namespace kv::fuzz
