// sqlserver-standin: the stand-in SQL Server of a simulated Windows host, or of a Windows machine.
//
//   sqlserver-standin [--host DIR] [--port N] [--profile 2000|2005] [--sa-password P] [--service]
//
// Foreground (tests): prints "listening 127.0.0.1:PORT" as its first line once it accepts
// connections, writes the host's freetds.conf, and runs until it is asked to stop (SIGTERM or
// SIGINT; Ctrl+C on Windows).
// Service mode (--service, what the machine's MSSQLSERVER service runs): the same, and it reports
// start pending with rising checkpoints, running, stop pending and stopped to the service manager
// (on the simulated host through the status file named in KELVORA_SERVICE_STATUS).
//
// The simulated host is the folder of --host or KELVORA_HOST; on Windows the machine is the
// computer itself, and database files are at their Windows paths.

#include "platform/ServerMachine.h"
#include "platform/ServiceManager.h"
#include "platform/ServiceProcess.h"
#include "simulator/standin/Server.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char* ServiceName = "MSSQLSERVER";
// What each pending report promises: the next report comes within this many milliseconds.
constexpr std::uint32_t PendingWaitHintMs = 3000;

int usage() {
    std::cerr << "usage: sqlserver-standin [--host DIR] [--port N] [--profile 2000|2005] "
                 "[--sa-password P] [--service]\n";
    return 2;
}

struct Settings {
    std::string hostDir;
    int port = 0;
    kv::standin::Profile profile = kv::standin::Profile::Sql2000;
    std::optional<std::string> saPassword;
    bool service = false;
};

// The server's life: start pending while the catalog and the port are made ready, running until
// the stop request, stop pending while the connections end and the databases close.
int serve(const Settings& settings, kv::platform::ServiceProcess& service) {
    using namespace kv;
    namespace ss = platform::ServiceState;
    auto report = [&](std::uint32_t state, std::uint32_t hint, std::uint32_t exitCode = 0) {
        if (auto r = service.report(state, hint, exitCode); !r)
            std::cerr << "sqlserver-standin: " << r.error().message << "\n";
    };
    if (settings.service && !service.reporting())
        std::cerr << "sqlserver-standin: not reporting service status: "
                     "KELVORA_SERVICE_STATUS is not set: not started as a service\n";
    report(ss::StartPending, PendingWaitHintMs);

    auto machine = platform::openServerMachine(settings.hostDir);
    if (!machine) {
        std::cerr << "sqlserver-standin: " << machine.error().message << "\n";
        report(ss::Stopped, 0, 1);
        return 1;
    }
    report(ss::StartPending, PendingWaitHintMs);

    std::unique_ptr<standin::Server> server;
    try {
        standin::Server::Options options;
        options.profile = settings.profile;
        options.saPassword = settings.saPassword;
        options.port = static_cast<std::uint16_t>(settings.port);
        server = std::make_unique<standin::Server>(*machine, options);
    } catch (const std::exception& e) {
        std::cerr << "sqlserver-standin: " << e.what() << "\n";
        report(ss::Stopped, 0, 1);
        return 1;
    }
    report(ss::StartPending, PendingWaitHintMs);
    std::string error;
    if (!server->start(error)) {
        std::cerr << "sqlserver-standin: " << error << "\n";
        report(ss::Stopped, 0, 1);
        return 1;
    }
    if (!standin::writeFreetdsConf(*machine, server->port(), settings.profile, error))
        std::cerr << "sqlserver-standin: " << error << "\n";

    std::cout << "listening 127.0.0.1:" << server->port() << std::endl;
    report(ss::Running, 0);

    service.waitForStop();
    report(ss::StopPending, PendingWaitHintMs);
    server->log("SQL Server is terminating in response to a stop request.");
    server->stop();
    server.reset();
    report(ss::Stopped, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kv;
    Settings settings;
    if (const char* env = std::getenv("KELVORA_HOST"))
        settings.hostDir = env;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        if (a == "--host") {
            auto v = value();
            if (!v)
                return usage();
            settings.hostDir = *v;
        } else if (a == "--port") {
            auto v = value();
            if (!v)
                return usage();
            char* end = nullptr;
            const long p = std::strtol(v->c_str(), &end, 10);
            if (v->empty() || *end || p < 0 || p > 65535)
                return usage();
            settings.port = static_cast<int>(p);
        } else if (a == "--profile") {
            auto v = value();
            auto p = v ? standin::parseProfile(*v) : std::nullopt;
            if (!p)
                return usage();
            settings.profile = *p;
        } else if (a == "--sa-password") {
            auto v = value();
            if (!v)
                return usage();
            settings.saPassword = *v;
        } else if (a == "--service") {
            settings.service = true;
        } else {
            return usage();
        }
    }
    // A machine that needs a host folder and got none is a usage error, as before any report.
    if (auto machine = platform::openServerMachine(settings.hostDir);
        !machine && machine.code() == platform::win::InvalidParameter)
        return usage();

    const auto body = [&](platform::ServiceProcess& service) { return serve(settings, service); };
    if (!settings.service)
        return platform::runInForeground(body);
    auto ran = platform::runAsService(ServiceName, body);
    if (!ran) {
        std::cerr << "sqlserver-standin: not started by the service manager: "
                  << ran.error().message << "\n";
        return 1;
    }
    return *ran;
}
