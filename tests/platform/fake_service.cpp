// A service program for the tests of the simulated service manager. It reports its state through
// the status file like a real service, and its behaviour is set by arguments:
//
//   --start-steps N     start pending with checkpoints 1..N before running (default 3)
//   --step-ms MS        pause between two reports (default 20)
//   --never-running     stay in start pending (the checkpoint stops rising after the steps)
//   --exit-during-start exit with status 1 after the start steps, without another report
//   --exit-after MS     once running, exit after MS without reporting (leaves "running" behind)
//   --stop-steps N      on SIGTERM: stop pending with checkpoints 1..N, then stopped (default 2)
//   --ignore-term       ignore SIGTERM
//   --hold FILE         hold FILE (a real path) while it runs

#include "platform/posix/FileHold.h"
#include "platform/posix/ServiceReporter.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <time.h>

using namespace kv::platform;
using namespace kv::platform::sim;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onTerm(int) {
    stopRequested = 1;
}

void pause(int ms) {
    const timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    int startSteps = 3, stepMs = 20, stopSteps = 2, exitAfter = -1;
    bool neverRunning = false, exitDuringStart = false, ignoreTerm = false;
    const char* holdFile = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "fake_service: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--start-steps")
            startSteps = std::atoi(next());
        else if (arg == "--step-ms")
            stepMs = std::atoi(next());
        else if (arg == "--stop-steps")
            stopSteps = std::atoi(next());
        else if (arg == "--exit-after")
            exitAfter = std::atoi(next());
        else if (arg == "--hold")
            holdFile = next();
        else if (arg == "--never-running")
            neverRunning = true;
        else if (arg == "--exit-during-start")
            exitDuringStart = true;
        else if (arg == "--ignore-term")
            ignoreTerm = true;
        else {
            std::fprintf(stderr, "fake_service: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    std::signal(SIGTERM, ignoreTerm ? SIG_IGN : onTerm);

    auto reporter = ServiceReporter::fromEnvironment();
    if (!reporter) {
        std::fprintf(stderr, "fake_service: %s\n", reporter.error().message.c_str());
        return 2;
    }
    std::optional<FileHold> hold;
    if (holdFile) {
        auto held = FileHold::hold(holdFile, FileHold::Open::CreateIfMissing);
        if (!held) {
            std::fprintf(stderr, "fake_service: %s\n", held.error().message.c_str());
            return 2;
        }
        hold.emplace(std::move(held).value());
    }
    const auto report = [&](std::uint32_t state, std::uint32_t checkPoint) {
        if (auto written = reporter->report(state, checkPoint, 1000); !written)
            std::fprintf(stderr, "fake_service: %s\n", written.error().message.c_str());
    };

    for (int step = 1; step <= startSteps; ++step) {
        report(ServiceState::StartPending, static_cast<std::uint32_t>(step));
        pause(stepMs);
    }
    if (exitDuringStart)
        return 1;
    if (neverRunning) {
        while (!stopRequested)
            pause(stepMs);
        return 0;
    }
    report(ServiceState::Running, 0);
    int ranMs = 0;
    while (!stopRequested) {
        pause(5);
        ranMs += 5;
        if (exitAfter >= 0 && ranMs >= exitAfter)
            return 0;
    }
    for (int step = 1; step <= stopSteps; ++step) {
        report(ServiceState::StopPending, static_cast<std::uint32_t>(step));
        pause(stepMs);
    }
    report(ServiceState::Stopped, 0);
    return 0;
}
