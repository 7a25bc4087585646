// Times the whole "Onar" rebuild of a damaged data file of N MiB (made by simhost) on a simulated
// host whose service is the stand-in SQL Server, then a plain cp(1) of a file of that size on the
// same disk, and prints both times and their ratio. The goal is a ratio of at most 4.
//
// usage: bench-console-rebuild [--mib N] [--profile 2000|2005]   (defaults: 256, 2000)
//
// The service waits run on the fake clock, as in the end-to-end tests, so the time is the
// rebuild's own work: statements, checks, the repair and the copies of the data file.

#include "console/Unit1.h"
#include "console_host.h"
#include "dataaccess/MSSQLMonitor.h"
#include "database_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QtGlobal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string lastMessage(TForm1& form) {
    const int count = form.Memo1->Lines()->Count();
    return count == 0 ? std::string() : kv::e2e::messageOf(form.Memo1->Lines()->Get(count - 1));
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of three plain copies of `file` beside itself.
double copySeconds(const fs::path& file) {
    double best = 1e9;
    const fs::path target = file.string() + ".cp-bench";
    for (int run = 0; run < 3; ++run) {
        std::error_code ec;
        fs::remove(target, ec);
        const std::string command = "cp '" + file.string() + "' '" + target.string() + "'";
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cp failed\n");
            std::exit(1);
        }
        best = std::min(best, secondsSince(start));
        std::system("sync");
    }
    std::error_code ec;
    fs::remove(target, ec);
    return best;
}

} // namespace

int main(int argc, char** argv) {
    int mib = 256;
    std::string profile = "2000";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--profile") == 0)
            profile = argv[i + 1];
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();

    kv::e2e::DatabaseHostOptions options;
    options.profile = profile;
    options.damaged = 3;
    options.dataMiB = mib;
    std::printf("making a %d MiB damaged database (profile %s)...\n", mib, profile.c_str());
    kv::e2e::DatabaseHost host(options);
    auto form = std::make_unique<TForm1>(nullptr, host.platform());
    form->Show();
    // The start-up sequence is over (its last line is the database check, or on SQL Server 2005
    // the health of the database).
    if (!kv::e2e::waitUntil(
            [&] { return !lastMessage(*form).empty() && !form->OperationRunning(); },
            std::chrono::seconds(120))) {
        std::fprintf(stderr, "the console did not start: %s\n", lastMessage(*form).c_str());
        return 1;
    }
    std::system("sync");

    const auto start = Clock::now();
    if (std::getenv("KELVORA_BENCH_TRACE") != nullptr)
        form->MSSQLMonitor1->OnSQL = [&](TObject* sender, const std::string& text,
                                         kv::dataaccess::TDATraceFlag flag) {
            form->MSSQLMonitor1SQL(sender, text, flag);
            std::printf("%8.3f s  %.70s\n", secondsSince(start), text.c_str());
        };
    form->OnarBTN->Click();
    const double rebuild = secondsSince(start);
    const std::string last = lastMessage(*form);
    if (last != "Kelvora Datasına bağlanıldı.") {
        std::fprintf(stderr, "the rebuild did not end attached: %s\n", last.c_str());
        return 1;
    }
    std::system("sync");
    const double cp = copySeconds(host.onDisk("C:\\Kelvora\\Data\\kelvora_Data.MDF"));
    std::printf("rebuild of %d MiB: %.2f s\ncp of the data file: %.2f s\nratio: %.2f (goal: at "
                "most 4)\n",
                mib, rebuild, cp, rebuild / cp);
    form.reset();
    return 0;
}
