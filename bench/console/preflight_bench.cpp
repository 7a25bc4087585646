// Times the check before the rebuild on a simulated host with a large data file (4 GiB by
// default) whose service is the stand-in SQL Server: the file system's questions alone
// (checkBeforeRebuild) and as the window asks them when "Onar" found damage
// (TForm1::RebuildPreflight). The goal is well under a second for a 4 GiB data file.
//
// usage: bench-console-preflight [--mib N] [--profile 2000|2005] [--rounds N]
//        (defaults: 4096, 2005, 20)
//
// SQL Server 2005 keeps its database files open, so there the check also looks for the programs
// that hold them (a walk of /proc on the simulated host); the 2000 desktop engine closes them.

#include "console/Unit1.h"
#include "console/preflight.h"
#include "console_host.h"
#include "database_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Memo.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-38s min %7.2f ms  median %7.2f ms  max %7.2f ms\n", what, times.front(),
                times[times.size() / 2], times.back());
}

} // namespace

int main(int argc, char** argv) {
    int mib = 4096;
    int rounds = 20;
    std::string profile = "2005";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--profile") == 0)
            profile = argv[i + 1];
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();

    kv::e2e::DatabaseHostOptions options;
    options.profile = profile;
    options.dataMiB = mib;
    std::printf("making a %d MiB database (profile %s)...\n", mib, profile.c_str());
    kv::e2e::DatabaseHost host(options);
    auto form = std::make_unique<TForm1>(nullptr, host.platform());
    form->Show();
    if (!kv::e2e::waitUntil(
            [&] { return form->Memo1->Lines()->Count() > 0 && !form->OperationRunning(); },
            std::chrono::seconds(120)) ||
        !form->OnarBTN->Enabled()) {
        std::fprintf(stderr, "the console did not start with the database attached\n");
        return 1;
    }
    auto& files = host.platform().files();
    const auto size = files.fileSize("C:\\Kelvora\\Data\\kelvora_Data.MDF");
    std::printf("data file: %llu bytes\n", static_cast<unsigned long long>(size ? *size : 0));
    const int version = profile == "2000" ? 8 : 9;

    std::vector<double> alone, window;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const auto refused = kv::console::checkBeforeRebuild(files, version);
        alone.push_back(millisecondsSince(start));
        if (refused) {
            std::fprintf(stderr, "the check refused: %s\n", refused->line.c_str());
            return 1;
        }
    }
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        const bool passed = form->RebuildPreflight();
        window.push_back(millisecondsSince(start));
        if (!passed) {
            std::fprintf(stderr, "the window's check refused\n");
            return 1;
        }
    }
    report("checkBeforeRebuild", alone);
    report("TForm1::RebuildPreflight", window);
    form.reset();
    return 0;
}
