// bench-standin: how fast the stand-in answers db-lib.
//
//  1. batches per second of "SELECT 1" over one connection (goal: at least 5,000);
//  2. 50 connections at once, each running 100 batches: total time and failed batches
//     (goal: none).
//
// The server runs in-process on a fresh simulated host in a temporary folder, on an ephemeral
// loopback port.

#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sybdb.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<int> serverErrors{0};

int onMessage(DBPROCESS*, DBINT number, int, int severity, char*, char*, char*, int) {
    if (severity > 10 && number != 0)
        ++serverErrors;
    return 0;
}
int onError(DBPROCESS*, int, int, int, char*, char*) {
    return INT_CANCEL;
}

DBPROCESS* connect(const std::string& server) {
    LOGINREC* login = dblogin();
    DBSETLUSER(login, "sa");
    DBSETLPWD(login, "k");
    DBSETLAPP(login, "bench-standin");
    DBPROCESS* p = dbopen(login, server.c_str());
    dbloginfree(login);
    return p;
}

bool selectOne(DBPROCESS* p) {
    if (dbcmd(p, "SELECT 1") != SUCCEED || dbsqlexec(p) != SUCCEED)
        return false;
    int rows = 0;
    RETCODE rc;
    while ((rc = dbresults(p)) != NO_MORE_RESULTS) {
        if (rc == FAIL)
            return false;
        while (dbnextrow(p) != NO_MORE_ROWS)
            ++rows;
    }
    return rows == 1;
}

} // namespace

int main(int argc, char** argv) {
    using clock = std::chrono::steady_clock;
    const int single = argc > 1 ? std::atoi(argv[1]) : 20000;
    const auto folder =
        std::filesystem::temp_directory_path() / ("bench-standin-" + std::to_string(::getpid()));
    auto host = kv::platform::sim::SimHost::create(folder);
    if (!host) {
        std::fprintf(stderr, "bench-standin: %s\n", host.error().message.c_str());
        return 1;
    }
    int status = 0;
    {
        kv::standin::Server server(*host, {});
        std::string error;
        if (!server.start(error)) {
            std::fprintf(stderr, "bench-standin: %s\n", error.c_str());
            return 1;
        }
        const std::string name = "127.0.0.1:" + std::to_string(server.port());
        dbinit();
        dbmsghandle(onMessage);
        dberrhandle(onError);

        DBPROCESS* p = connect(name);
        if (!p) {
            std::fprintf(stderr, "bench-standin: cannot connect to %s\n", name.c_str());
            return 1;
        }
        int failed = 0;
        const auto t0 = clock::now();
        for (int i = 0; i < single; ++i)
            failed += selectOne(p) ? 0 : 1;
        const double s1 = std::chrono::duration<double>(clock::now() - t0).count();
        dbclose(p);
        std::printf("one connection: %d batches of SELECT 1 in %.3f s = %.0f batches/s "
                    "(%d failed)\n",
                    single, s1, single / s1, failed);

        constexpr int connections = 50, batches = 100;
        std::atomic<int> failedConcurrent{0}, failedConnects{0};
        const auto t1 = clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < connections; ++c)
            threads.emplace_back([&] {
                DBPROCESS* q = connect(name);
                if (!q) {
                    ++failedConnects;
                    return;
                }
                for (int i = 0; i < batches; ++i)
                    if (!selectOne(q))
                        ++failedConcurrent;
                dbclose(q);
            });
        for (auto& t : threads)
            t.join();
        const double s2 = std::chrono::duration<double>(clock::now() - t1).count();
        std::printf("%d connections x %d batches: %.3f s = %.0f batches/s, %d failed batches, "
                    "%d failed connects, %d server errors\n",
                    connections, batches, s2, connections * batches / s2, failedConcurrent.load(),
                    failedConnects.load(), serverErrors.load());
        status = failed == 0 && failedConcurrent == 0 && failedConnects == 0 ? 0 : 1;
        dbexit();
        server.stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return status;
}
