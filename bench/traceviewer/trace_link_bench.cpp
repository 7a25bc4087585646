// What the trace viewer link costs the traced program: a one-row select through a TMSQuery, with
// the monitor's link off, on with nothing listening, and on with our viewer listening; then the
// time to end a client whose queue is full and whose viewer is absent.
//
// The cost counted is processor time, not the time a round trip takes: on a machine like ours a
// round trip is quicker when another thread keeps the processor awake, so wall-clock figures of
// the same build swing both ways with the machine's load. The stand-in server and the viewer run
// in a child process, so this process's processor clock holds exactly what the traced program
// spends: the statement thread and the link's sending thread together. The sending thread's
// work for a block is drained before the clock is read.
//
// Processor time per statement moves with the machine's load too (a loaded machine wakes the
// other side of a round trip more cheaply), so the set-ups take turns in small blocks, in a
// rotating order, and the median block of each counts.
//
// Goals: at most +5% processor time per traced statement with the viewer listening; ending the
// client within 100 ms.
//
// usage: bench-trace-link [--statements N] [--rounds R]   (default 250 statements a block, 80
//        rounds of three blocks; the wall-clock time is shown beside, for comparison only)

#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/TraceViewerClient.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"
#include "traceviewer/trace_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace kv::dataaccess;

namespace {

double now(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Cost {
    double cpu = 0;  // microseconds of processor time per statement, this process
    double wall = 0; // microseconds per statement
};

Cost perStatement(TMSQuery& query, int statements, bool drain) {
    const double cpu0 = now(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = now(CLOCK_MONOTONIC);
    for (int i = 0; i < statements; ++i)
        query.Execute();
    const double wall = now(CLOCK_MONOTONIC) - wall0;
    // What the sending thread still has to do for these statements counts too.
    if (drain)
        TTraceViewerClient::Get().WaitUntilSent();
    const double cpu = now(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    return {cpu * 1e6 / statements, wall * 1e6 / statements};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::uint16_t freePort() {
    kv::traceviewer::TraceServer probe([](int, const auto&) {}, [](const std::string&) {});
    probe.listen(0);
    return probe.port();
}

double loadAverage() {
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The child: the stand-in server and the viewer, until the parent closes the pipe. Writes the
// two ports (or 0 and 0) into `out`.
[[noreturn]] void serve(kv::platform::sim::SimHost& host, int out, int in) {
    kv::standin::Server::Options options;
    kv::standin::Server server(host, options);
    std::string error;
    std::uint16_t ports[2] = {0, 0};
    if (!server.start(error) ||
        !kv::standin::writeFreetdsConf(host, server.port(), options.profile, error)) {
        std::fprintf(stderr, "stand-in: %s\n", error.c_str());
        (void)::write(out, ports, sizeof ports);
        ::_exit(1);
    }
    std::size_t records = 0;
    kv::traceviewer::TraceServer viewer([&](int, const auto&) { ++records; },
                                        [](const std::string&) {});
    viewer.listen(0);
    ports[0] = server.port();
    ports[1] = viewer.port();
    (void)::write(out, ports, sizeof ports);
    for (;;) {
        viewer.step(5);
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            break; // end of file: the parent is done
    }
    server.stop();
    std::fprintf(stderr, "(the viewer read %zu records)\n", records);
    ::_exit(0);
}

} // namespace

int main(int argc, char** argv) {
    int statements = 250;
    int rounds = 80;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--statements") == 0)
            statements = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }

    std::string pattern = (fs::temp_directory_path() / "kv-tracebench-XXXXXX").string();
    const fs::path folder = ::mkdtemp(pattern.data());
    auto host = kv::platform::sim::SimHost::create(folder);
    if (!host) {
        std::fprintf(stderr, "cannot make a host: %s\n", host.error().message.c_str());
        return 1;
    }
    ::setenv("KELVORA_HOST", folder.c_str(), 1);
    // No thread runs yet: the child may be forked safely.
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(up[0]);
        ::close(down[1]);
        serve(*host, up[1], down[0]);
    }
    ::close(up[1]);
    ::close(down[0]);
    std::uint16_t ports[2] = {0, 0};
    if (::read(up[0], ports, sizeof ports) != sizeof ports || ports[0] == 0) {
        std::fprintf(stderr, "the server process did not start\n");
        return 1;
    }
    const double loadBefore = loadAverage();
    {
        kv::oledb::ComScope com;
        TMSSQLMonitor monitor(nullptr);
        monitor.SetActive(false);
        monitor.SetOptions(TMonitorOptions{});
        monitor.SetActive(true);
        TMSConnection con(nullptr);
        con.SetLoginPrompt(false);
        con.SetUsername("sa");
        con.SetPassword("k");
        con.SetServer(host->computerName());
        con.SetConnected(true);
        TMSQuery query(nullptr);
        query.SetConnection(&con);
        query.SQL()->Add("select 1");

        const std::uint16_t nobody = freePort();
        const auto use = [&](bool link, std::uint16_t port) {
            monitor.SetActive(false);
            monitor.SetOptions(link ? TMonitorOptions{moTraceViewer} : TMonitorOptions{});
            monitor.TraceViewerOptions()->Host = "127.0.0.1";
            monitor.TraceViewerOptions()->Port = port;
            monitor.TraceViewerOptions()->ReconnectTimeout = port == nobody ? 5000 : 0;
            monitor.SetActive(true);
            // The start-up message and the first connect belong to no block.
            for (int i = 0; i < 5; ++i)
                query.Execute();
            TTraceViewerClient::Get().WaitUntilSent();
        };
        // Warm-up, then the three set-ups take turns, block by block.
        use(false, 0);
        perStatement(query, statements * 4, false);
        std::vector<double> cpu[3], wall[3];
        for (int round = 0; round < rounds; ++round) {
            for (int k = 0; k < 3; ++k) {
                const int setup = (round + k) % 3;
                use(setup != 0, setup == 1 ? nobody : ports[1]);
                const Cost c = perStatement(query, statements, setup != 0);
                cpu[setup].push_back(c.cpu);
                wall[setup].push_back(c.wall);
            }
        }
        monitor.SetActive(false);
        TTraceViewerClient::Get().WaitUntilSent();
        std::vector<double>&offCpu = cpu[0], &absentCpu = cpu[1], &listeningCpu = cpu[2];
        std::vector<double>&offWall = wall[0], &absentWall = wall[1], &listeningWall = wall[2];

        const double off = median(offCpu), absent = median(absentCpu),
                     listening = median(listeningCpu);
        std::printf("select 1, processor time per statement (statement and link threads): link "
                    "off %.2f us, nothing listening %.2f us (%+.1f%%), viewer listening %.2f us "
                    "(%+.1f%%); goal at most +5%%\n",
                    off, absent, (absent / off - 1) * 100, listening, (listening / off - 1) * 100);
        std::printf("  wall-clock per statement, for comparison only: %.1f us, %.1f us, %.1f us\n",
                    median(offWall), median(absentWall), median(listeningWall));
    }
    {
        // A full queue and no viewer: the client drops what it cannot send and ends.
        auto* client = new TTraceViewerClient;
        client->Configure("Nuvo", "127.0.0.1", freePort(), 5000, 1000);
        client->Start();
        for (int i = 0; i < 5000; ++i) {
            TMonitorEvent e;
            e.EventType = 10;
            e.SQL = "select 1";
            client->EventStart(e);
        }
        const double start = now(CLOCK_MONOTONIC);
        delete client;
        std::printf("ending the client with nothing listening: %.1f ms; goal at most 100 ms\n",
                    (now(CLOCK_MONOTONIC) - start) * 1e3);
    }
    std::printf("load average: %.2f before, %.2f after (2 cores)\n", loadBefore, loadAverage());
    ::close(down[1]); // the child ends
    int status = 0;
    ::waitpid(child, &status, 0);
    ::unsetenv("KELVORA_HOST");
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
