// sqlserver-standin: the stand-in SQL Server of a simulated Windows host.
//
//   sqlserver-standin --host DIR [--port N] [--profile 2000|2005] [--sa-password P] [--service]
//
// Foreground (tests): prints "listening 127.0.0.1:PORT" as its first line once it accepts
// connections, writes the host's freetds.conf, and runs until SIGTERM or SIGINT.
// Service mode (--service, what the host's MSSQLSERVER service definition runs): the same, and
// it reports start pending with rising checkpoints, running, stop pending and stopped through
// the status file named in KELVORA_SERVICE_STATUS.

#include "platform/ServiceManager.h"
#include "platform/posix/ServiceReporter.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

int usage() {
    std::cerr << "usage: sqlserver-standin --host DIR [--port N] [--profile 2000|2005] "
                 "[--sa-password P] [--service]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kv;
    std::string hostDir;
    if (const char* env = std::getenv(platform::sim::HostVariable))
        hostDir = env;
    int port = 0;
    standin::Profile profile = standin::Profile::Sql2000;
    std::optional<std::string> saPassword;
    bool service = false;
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
            hostDir = *v;
        } else if (a == "--port") {
            auto v = value();
            if (!v)
                return usage();
            char* end = nullptr;
            const long p = std::strtol(v->c_str(), &end, 10);
            if (*end || p < 0 || p > 65535)
                return usage();
            port = static_cast<int>(p);
        } else if (a == "--profile") {
            auto v = value();
            auto p = v ? standin::parseProfile(*v) : std::nullopt;
            if (!p)
                return usage();
            profile = *p;
        } else if (a == "--sa-password") {
            auto v = value();
            if (!v)
                return usage();
            saPassword = *v;
        } else if (a == "--service") {
            service = true;
        } else {
            return usage();
        }
    }
    if (hostDir.empty())
        return usage();

    // Signals are taken by sigwait below; block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::optional<platform::sim::ServiceReporter> reporter;
    std::uint32_t checkpoint = 0;
    auto report = [&](std::uint32_t state, std::uint32_t hint) {
        if (!reporter)
            return;
        if (state == platform::ServiceState::StartPending ||
            state == platform::ServiceState::StopPending)
            ++checkpoint;
        else
            checkpoint = 0;
        if (auto r = reporter->report(state, checkpoint, hint); !r)
            std::cerr << "sqlserver-standin: " << r.error().message << "\n";
    };
    if (service) {
        auto r = platform::sim::ServiceReporter::fromEnvironment();
        if (r)
            reporter = std::move(r).value();
        else
            std::cerr << "sqlserver-standin: not reporting service status: " << r.error().message
                      << "\n";
    }
    report(platform::ServiceState::StartPending, 3000);

    auto host = platform::sim::SimHost::open(hostDir);
    if (!host) {
        std::cerr << "sqlserver-standin: " << host.error().message << "\n";
        report(platform::ServiceState::Stopped, 0);
        return 1;
    }
    report(platform::ServiceState::StartPending, 3000);

    std::unique_ptr<standin::Server> server;
    try {
        standin::Server::Options options;
        options.profile = profile;
        options.saPassword = saPassword;
        options.port = static_cast<std::uint16_t>(port);
        server = std::make_unique<standin::Server>(*host, options);
    } catch (const std::exception& e) {
        std::cerr << "sqlserver-standin: " << e.what() << "\n";
        report(platform::ServiceState::Stopped, 0);
        return 1;
    }
    report(platform::ServiceState::StartPending, 3000);
    std::string error;
    if (!server->start(error)) {
        std::cerr << "sqlserver-standin: " << error << "\n";
        report(platform::ServiceState::Stopped, 0);
        return 1;
    }
    if (!standin::writeFreetdsConf(*host, server->port(), profile, error))
        std::cerr << "sqlserver-standin: " << error << "\n";

    std::cout << "listening 127.0.0.1:" << server->port() << std::endl;
    report(platform::ServiceState::Running, 0);

    int received = 0;
    sigwait(&signals, &received);
    report(platform::ServiceState::StopPending, 3000);
    server->log("SQL Server is terminating in response to a stop request.");
    server->stop();
    server.reset();
    report(platform::ServiceState::Stopped, 0);
    return 0;
}
