// simhost service DIR start|stop|status|kill NAME [--wait [MS]]
//
// Drives the host's service manager the way the console does: open the manager and the service,
// then start, stop or query. status prints one of: stopped, start pending, running,
// stop pending, missing (no such service, or the manager or service refused to open). kill ends
// the service's process without asking (for a service stuck in a pending state) and prints the
// state afterwards.

#include "Command.h"
#include "platform/Clock.h"
#include "platform/posix/SimHost.h"

#include <ostream>

namespace kv::simhost {
namespace {

using namespace platform;

const char* stateName(std::uint32_t state) {
    switch (state) {
    case ServiceState::Stopped:
        return "stopped";
    case ServiceState::StartPending:
        return "start pending";
    case ServiceState::StopPending:
        return "stop pending";
    case ServiceState::Running:
        return "running";
    case ServiceState::ContinuePending:
        return "continue pending";
    case ServiceState::PausePending:
        return "pause pending";
    case ServiceState::Paused:
        return "paused";
    default:
        return "unknown";
    }
}

int runService(const std::vector<std::string>& args, Io io) {
    const char* usage = "usage: simhost service DIR start|stop|status|kill NAME [--wait [MS]]";
    if (args.size() < 3)
        return usageError(io, usage);
    const auto& action = args[1];
    if (action != "start" && action != "stop" && action != "status" && action != "kill")
        return usageError(io, "unknown service action \"" + action + "\"; " + usage);
    std::optional<std::uint32_t> waitMs;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] != "--wait")
            return usageError(io, "unexpected argument \"" + args[i] + "\"; " + usage);
        waitMs = 10000;
        if (i + 1 < args.size()) {
            try {
                waitMs = static_cast<std::uint32_t>(std::stoul(args[++i]));
            } catch (const std::exception&) {
                return usageError(io, "--wait takes milliseconds, not \"" + args[i] + "\"");
            }
        }
    }
    auto host = openHost(args[0], io);
    if (!host)
        return ExitUsage;
    auto platform = sim::createSimulatedPlatform(*host);
    auto& services = platform->services();
    const auto& name = args[2];
    if (action == "kill") {
        auto killed = sim::killServiceProcess(*host, name);
        if (!killed) {
            if (killed.code() == win::ServiceDoesNotExist) {
                io.out << "missing\n";
                return ExitOk;
            }
            return failure(io, killed.error().message);
        }
    }

    const std::uint32_t access =
        ServiceAccess::QueryStatus | (action == "start"  ? ServiceAccess::Start
                                      : action == "stop" ? ServiceAccess::Stop
                                                         : 0);
    auto manager = services.openManager("", ServiceAccess::ManagerConnect);
    if (!manager) {
        io.out << "missing\n";
        return action == "status" ? ExitOk : failure(io, manager.error().message);
    }
    auto service = services.openService(*manager, name, access);
    (void)services.close(*manager);
    if (!service) {
        io.out << "missing\n";
        if (action != "status")
            return failure(io, service.error().message);
        if (service.code() != win::ServiceDoesNotExist) // refused: the console shows it missing
            io.err << "simhost: " << service.error().message << "\n";
        return ExitOk;
    }

    int status = ExitOk;
    if (action == "start") {
        if (auto started = services.start(*service); !started)
            status = failure(io, "cannot start " + name + ": " + started.error().message +
                                     " (error " + std::to_string(started.code()) + ")");
    } else if (action == "stop") {
        if (auto stopped = services.controlStop(*service); !stopped)
            status = failure(io, "cannot stop " + name + ": " + stopped.error().message +
                                     " (error " + std::to_string(stopped.code()) + ")");
    }
    std::uint32_t state = 0;
    SystemClock clock;
    const auto begin = clock.tickCount();
    for (;;) {
        auto current = services.queryStatus(*service);
        if (!current) {
            status = failure(io, current.error().message);
            break;
        }
        state = current->currentState;
        const bool settled = state == ServiceState::Running || state == ServiceState::Stopped;
        if (status != ExitOk || !waitMs || settled || clock.tickCount() - begin >= *waitMs)
            break;
        clock.sleep(20);
    }
    (void)services.close(*service);
    if (state != 0)
        io.out << stateName(state) << "\n";
    if (status == ExitOk && waitMs) {
        const auto wanted = action == "stop" ? ServiceState::Stopped : ServiceState::Running;
        if (action != "status" && state != wanted)
            status = failure(io, name + " did not reach " + stateName(wanted) + " within " +
                                     std::to_string(*waitMs) + " ms");
    }
    return status;
}

const SimhostCommand service{
    "service",
    "service DIR start|stop|status|kill NAME [--wait [MS]]   drive a service (prints its state)",
    runService};

} // namespace
} // namespace kv::simhost
