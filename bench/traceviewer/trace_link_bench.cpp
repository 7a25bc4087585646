// What the trace viewer link costs the traced program: a one-row select through a TMSQuery, with
// the monitor's link off, on with nothing listening, and on with our viewer listening; then the
// time to end a client whose queue is full and whose viewer is absent.
//
// The cost counted is processor time, not the time a round trip takes, and it is counted with
// every process of the test on one processor. On a virtual machine like ours the processor time
// of a round trip depends on where the scheduler puts the two ends: a processor woken from idle
// for each reply costs the woken thread tens of microseconds, and the same build measured
// 9 us and 30 us per statement depending on placement alone, whichever set-up ran. On one
// processor nothing waits on an idle processor, and each microsecond counted is work done: the
// statement thread's, and the link's sending thread's (with what it still had to send for the
// block). `--spread` lets the scheduler place them freely, for comparison.
//
// The stand-in server and the viewer run in a child process, so this process's clocks hold what
// the traced program spends. The set-ups take turns in blocks, in an order shuffled each round
// (each follows each as often), and the median block of each counts. A block is long enough for
// the link to send within it, as it does in steady use, so what the sends leave behind (the
// viewer's work, the network stack's) falls mostly in the block that caused it.
//
// Goals: at most +5% processor time per traced statement with the viewer listening; ending the
// client within 100 ms.
//
// usage: bench-trace-link [--statements N] [--rounds R] [--spread]   (default 1000 statements a
//        block, 30 rounds of three blocks; the wall-clock time is shown beside, for comparison)

#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/TraceViewerClient.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"
#include "traceviewer/trace_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <poll.h>
#include <random>
#include <sched.h>
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
    double statement = 0; // microseconds of processor time per statement: the statement thread
    double link = 0;      // the process's other threads (the link's sending thread)
    double wall = 0;      // microseconds per statement
};

// The statement thread's time counts while the statements run; the other threads' time from the
// first statement until what they had to send for the block has left. The statement thread's
// own wait for that (a hook of the benchmark, not something a traced program does) counts for
// neither.
Cost perStatement(TMSQuery& query, int statements, bool drain) {
    const double process0 = now(CLOCK_PROCESS_CPUTIME_ID);
    const double thread0 = now(CLOCK_THREAD_CPUTIME_ID);
    const double wall0 = now(CLOCK_MONOTONIC);
    for (int i = 0; i < statements; ++i)
        query.Execute();
    const double wall = now(CLOCK_MONOTONIC) - wall0;
    const double thread1 = now(CLOCK_THREAD_CPUTIME_ID);
    if (drain)
        TTraceViewerClient::Get().WaitUntilSent();
    const double process2 = now(CLOCK_PROCESS_CPUTIME_ID);
    const double thread2 = now(CLOCK_THREAD_CPUTIME_ID);
    const double others = (process2 - process0) - (thread2 - thread0);
    return {(thread1 - thread0) * 1e6 / statements, others * 1e6 / statements,
            wall * 1e6 / statements};
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

// This process and the ones it starts later, on the first processor it may use.
bool pinToOneProcessor() {
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return false;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            return ::sched_setaffinity(0, sizeof one, &one) == 0;
        }
    return false;
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
    int statements = 1000;
    int rounds = 30;
    bool spread = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--spread") == 0)
            spread = true;
        else if (std::strcmp(argv[i], "--statements") == 0 && i + 1 < argc)
            statements = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    if (!spread && !pinToOneProcessor()) {
        std::fprintf(stderr, "cannot keep the test on one processor; try --spread\n");
        return 1;
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
        // Warm-up, then the three set-ups take turns, block by block, in an order shuffled
        // anew each round: each set-up follows each other one as often, so what one block
        // leaves behind favours none.
        use(false, 0);
        perStatement(query, statements, false);
        std::vector<double> total[3], statement[3], link[3], wall[3];
        std::mt19937 order(20261210);
        for (int round = 0; round < rounds; ++round) {
            int setups[3] = {0, 1, 2};
            std::shuffle(std::begin(setups), std::end(setups), order);
            for (const int setup : setups) {
                use(setup != 0, setup == 1 ? nobody : ports[1]);
                const Cost c = perStatement(query, statements, setup != 0);
                total[setup].push_back(c.statement + c.link);
                statement[setup].push_back(c.statement);
                link[setup].push_back(c.link);
                wall[setup].push_back(c.wall);
            }
        }
        monitor.SetActive(false);
        TTraceViewerClient::Get().WaitUntilSent();

        const double off = median(total[0]), absent = median(total[1]),
                     listening = median(total[2]);
        std::printf("select 1, processor time per statement (statement and link threads%s): "
                    "link off %.2f us, nothing listening %.2f us (%+.1f%%), viewer listening "
                    "%.2f us (%+.1f%%); goal at most +5%%\n",
                    spread ? ", placed by the scheduler" : ", one processor", off, absent,
                    (absent / off - 1) * 100, listening, (listening / off - 1) * 100);
        std::printf("  statement thread %.2f us, %.2f us, %.2f us; sending thread %.2f us, %.2f "
                    "us, %.2f us\n",
                    median(statement[0]), median(statement[1]), median(statement[2]),
                    median(link[0]), median(link[1]), median(link[2]));
        std::printf("  wall-clock per statement, for comparison only: %.1f us, %.1f us, %.1f us\n",
                    median(wall[0]), median(wall[1]), median(wall[2]));
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
