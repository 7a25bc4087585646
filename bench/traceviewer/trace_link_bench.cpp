// What the trace viewer link costs: round trips of a one-row select through a TMSQuery against
// the in-process stand-in, with the monitor's link off, on with nothing listening, and on with
// our viewer's server listening on loopback; then the time to end a client whose queue is full
// and whose viewer is absent. Goals: at most 5% on a traced statement, ending within 100 ms.
//
// usage: bench-trace-link [--statements N]   (default 3000 a round; 5 rounds, best counts)

#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/TraceViewerClient.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"
#include "traceviewer/trace_server.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace kv::dataaccess;

namespace {

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Microseconds per statement.
double perStatement(TMSQuery& query, int statements) {
    const auto start = Clock::now();
    for (int i = 0; i < statements; ++i)
        query.Execute();
    return seconds(start) * 1e6 / statements;
}

std::uint16_t freePort() {
    kv::traceviewer::TraceServer probe([](int, const auto&) {}, [](const std::string&) {});
    probe.listen(0);
    return probe.port();
}

} // namespace

int main(int argc, char** argv) {
    int statements = 3000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--statements") == 0)
            statements = std::atoi(argv[i + 1]);

    std::string pattern = (fs::temp_directory_path() / "kv-tracebench-XXXXXX").string();
    const fs::path folder = ::mkdtemp(pattern.data());
    auto host = kv::platform::sim::SimHost::create(folder);
    if (!host) {
        std::fprintf(stderr, "cannot make a host: %s\n", host.error().message.c_str());
        return 1;
    }
    ::setenv("KELVORA_HOST", folder.c_str(), 1);
    kv::standin::Server::Options options;
    kv::standin::Server server(*host, options);
    std::string error;
    if (!server.start(error) ||
        !kv::standin::writeFreetdsConf(*host, server.port(), options.profile, error)) {
        std::fprintf(stderr, "stand-in: %s\n", error.c_str());
        return 1;
    }
    kv::oledb::ComScope com;
    {
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

        kv::traceviewer::TraceServer viewer([](int, const auto&) {}, [](const std::string&) {});
        viewer.listen(0);
        std::atomic<bool> stop{false};
        std::thread loop([&] {
            while (!stop)
                viewer.step(5);
        });
        const std::uint16_t nobody = freePort();
        // The three set-ups take turns, so that a slow phase of the machine hits them alike;
        // the best round of each counts.
        const auto use = [&](bool link, std::uint16_t port) {
            monitor.SetActive(false);
            monitor.SetOptions(link ? TMonitorOptions{moTraceViewer} : TMonitorOptions{});
            monitor.TraceViewerOptions()->Host = "127.0.0.1";
            monitor.TraceViewerOptions()->Port = port;
            monitor.TraceViewerOptions()->ReconnectTimeout = port == nobody ? 5000 : 0;
            monitor.SetActive(true);
        };
        double off = 1e9, absent = 1e9, listening = 1e9;
        for (int round = 0; round < 5; ++round) {
            use(false, 0);
            off = std::min(off, perStatement(query, statements));
            use(true, nobody);
            absent = std::min(absent, perStatement(query, statements));
            use(true, viewer.port());
            listening = std::min(listening, perStatement(query, statements));
            TTraceViewerClient::Get().WaitUntilSent();
        }
        stop = true;
        loop.join();

        std::printf("select 1 per statement: link off %.1f us, nothing listening %.1f us "
                    "(%+.1f%%), viewer listening %.1f us (%+.1f%%); goal at most +5%%\n",
                    off, absent, (absent / off - 1) * 100, listening, (listening / off - 1) * 100);
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
        const auto start = Clock::now();
        delete client;
        std::printf("ending the client with nothing listening: %.1f ms; goal at most 100 ms\n",
                    seconds(start) * 1e3);
    }
    server.stop();
    ::unsetenv("KELVORA_HOST");
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
