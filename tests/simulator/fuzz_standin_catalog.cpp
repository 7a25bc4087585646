// Fuzz target: the stand-in's catalog (standin-master.state) as the engine loads it at start,
// in either profile (byte 0), followed by a login and the console's catalog queries.
#include "platform/Diagnostics.h"
#include "simulator/standin/Engine.h"
#include "tests/platform/fuzz_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

using namespace kv;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::setDiagnosticSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    auto& host = fuzz::scratchHost();
    const auto state = host.resolve(standin::StateFileWindowsPath);
    if (!state)
        std::abort();
    std::filesystem::create_directories(state->parent_path());
    {
        std::ofstream out(*state, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
    }
    standin::Engine::Options options;
    options.profile = data[0] & 1 ? standin::Profile::Sql2005 : standin::Profile::Sql2000;
    std::unique_ptr<standin::Engine> engine;
    try {
        engine = std::make_unique<standin::Engine>(host, options);
    } catch (const std::runtime_error&) {
        return 0; // a catalog that cannot be read stops the server with a message
    }
    auto session = engine->openSession();
    if (engine->login(*session, "sa", "k", "").ok) {
        standin::RecordingSink sink;
        for (const char* sql :
             {"SELECT name, dbid, filename FROM master..sysdatabases",
              "SELECT name, dbname FROM master.dbo.syslogins", "SELECT name FROM sysusers"})
            (void)engine->execute(*session, sql, sink);
    }
    engine->closeSession(*session);
    (void)engine->attachedDatabases();
    return 0;
}
