// Copies a large file through the platform's shell copy (the copy of the repaired data file) and
// through cp(1), and prints the ratio of the two times. The goal is a ratio within 1.10.
//
// usage: bench-platform-copy [--size MIB] [--runs N] [--dir FOLDER]
//   --size  size of the file in MiB (default 1024)
//   --runs  copies per contender; the best time counts (default 5)
//   --dir   where to make the temporary host (default $TMPDIR or /tmp); it is removed afterwards
//
// Both contenders copy the same file with a warm page cache, in alternating order; neither syncs
// its copy, and the dirty pages of each copy are written out before the next one starts.

#include "platform/Platform.h"
#include "platform/posix/SimHost.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    std::uint64_t sizeMiB = 1024;
    int runs = 5;
    std::string dir;
};

bool parse(int argc, char** argv, Options& options) {
    const char* tmp = std::getenv("TMPDIR");
    options.dir = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        if (arg == "--size")
            options.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--runs")
            options.runs = std::atoi(argv[++i]);
        else if (arg == "--dir")
            options.dir = argv[++i];
        else
            return false;
    }
    return options.sizeMiB > 0 && options.runs > 0;
}

// Random data, so that no file system can compress or deduplicate it away.
bool writeSource(const fs::path& file, std::uint64_t sizeMiB) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::vector<std::uint64_t> block((1u << 20) / sizeof(std::uint64_t));
    std::mt19937_64 random(42);
    for (std::uint64_t mib = 0; mib < sizeMiB; ++mib) {
        for (auto& word : block)
            word = random();
        if (::write(fd, block.data(), 1u << 20) != (1 << 20)) {
            ::close(fd);
            return false;
        }
    }
    return ::close(fd) == 0;
}

double timeCp(const fs::path& from, const fs::path& to) {
    std::string cp = "cp", source = from.string(), target = to.string();
    char* argv[] = {cp.data(), source.data(), target.data(), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double timeShellCopy(kv::platform::FileSystem& files, const char* from, const char* to) {
    std::uint64_t reports = 0;
    const auto start = Clock::now();
    const int result = files.shellCopy(from, to, [&](std::uint64_t, std::uint64_t) { ++reports; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result == 0 && reports > 0 ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench-platform-copy [--size MIB] [--runs N] [--dir FOLDER]\n");
        return 2;
    }
    std::string pattern = (fs::path(options.dir) / "kv-copy-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    int status = 0;
    {
        auto host = kv::platform::sim::SimHost::create(work / "host");
        if (!host) {
            std::fprintf(stderr, "%s\n", host.error().message.c_str());
            fs::remove_all(work);
            return 1;
        }
        auto platform = kv::platform::sim::createSimulatedPlatform(*host);
        const fs::path source = host->driveC() / "Kelvora1_DATA.MDF";
        const fs::path cpTarget = host->driveC() / "cp_copy.mdf";
        const fs::path shellTarget = host->driveC() / "Kelvora_DATA.MDF";
        std::printf("writing a %llu MiB file in %s ...\n",
                    static_cast<unsigned long long>(options.sizeMiB), work.c_str());
        if (!writeSource(source, options.sizeMiB)) {
            std::perror("writing the source file");
            status = 1;
        }
        double bestCp = 1e30, bestShell = 1e30;
        // Between two copies the earlier copy's dirty pages are written out (not timed), so that
        // neither contender pays for the other's write-back; the order alternates.
        const auto settle = [&](const fs::path& target) {
            fs::remove(target);
            const int dirFd = ::open(host->driveC().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dirFd >= 0) {
                ::syncfs(dirFd);
                ::close(dirFd);
            }
        };
        for (int run = 0; status == 0 && run < options.runs; ++run) {
            double cp = 0, shell = 0;
            for (int turn = 0; turn < 2; ++turn) {
                const bool cpTurn = (turn == 0) == (run % 2 == 0);
                settle(cpTurn ? cpTarget : shellTarget);
                if (cpTurn)
                    cp = timeCp(source, cpTarget);
                else
                    shell = timeShellCopy(platform->files(), "C:\\Kelvora1_DATA.MDF",
                                          "C:\\Kelvora_DATA.MDF");
            }
            if (cp < 0 || shell < 0) {
                std::fprintf(stderr, "a copy failed (cp %s, shell copy %s)\n",
                             cp < 0 ? "failed" : "ok", shell < 0 ? "failed" : "ok");
                status = 1;
                break;
            }
            if (fs::file_size(shellTarget) != fs::file_size(source)) {
                std::fprintf(stderr, "the shell copy has the wrong size\n");
                status = 1;
                break;
            }
            std::printf("run %d: cp %.3f s, shell copy %.3f s\n", run + 1, cp, shell);
            bestCp = std::min(bestCp, cp);
            bestShell = std::min(bestShell, shell);
        }
        settle(cpTarget);
        settle(shellTarget);
        if (status == 0) {
            const double mib = static_cast<double>(options.sizeMiB);
            std::printf("best: cp %.3f s (%.0f MiB/s), shell copy %.3f s (%.0f MiB/s)\n", bestCp,
                        mib / bestCp, bestShell, mib / bestShell);
            std::printf("ratio shell copy / cp: %.3f (goal: at most 1.10)\n", bestShell / bestCp);
        }
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
