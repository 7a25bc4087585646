// The process table of the simulated host with real processes: copies of sleep(1) named like
// the product's programs, started from a temporary folder.

#include "TestHost.h"

#include <algorithm>
#include <csignal>
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kv::platform::test {
namespace {

namespace fs = std::filesystem;

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

class ProcessesTest : public ::testing::Test {
protected:
    ~ProcessesTest() override {
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts a copy of sleep under `name` (a copy, not a link: /proc/PID/exe then names it).
    pid_t startAs(const std::string& name) {
        const auto program = host.scratch() / name;
        if (!fs::exists(program))
            fs::copy_file("/bin/sleep", program);
        std::string path = program.string(), seconds = "60";
        char* argv[] = {path.data(), seconds.data(), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
        children.push_back(pid);
        // exec has happened once /proc shows the new executable
        EXPECT_TRUE(eventually([&] {
            return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe").filename() == name;
        }));
        return pid;
    }

    bool running(pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) == 0;
    }

    bool endedBySignal(pid_t pid) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid)
            return false;
        std::erase(children, pid);
        return WIFSIGNALED(status);
    }

    TestHost host;
    ProcessTable& processes = host.platform().processes();
    std::vector<pid_t> children;
};

// Ends every process whose executable name equals `wanted` ignoring the case of a-z, the way
// the console does, but only among `ours`: other programs on this machine (other tests among
// them) may run processes of the same names. Returns how many it ended.
int endProcessesNamed(ProcessTable& processes, const std::string& wanted,
                      const std::vector<pid_t>& ours) {
    auto snapshot = processes.snapshot();
    EXPECT_TRUE(snapshot) << snapshot.error().message;
    int ended = 0;
    for (const auto& entry : snapshot.valueOr({})) {
        if (upper(entry.exeFile) != upper(wanted) ||
            std::find(ours.begin(), ours.end(), static_cast<pid_t>(entry.pid)) == ours.end())
            continue;
        auto handle = processes.openForTerminate(entry.pid);
        if (!handle)
            continue;
        if (processes.terminate(*handle, 0))
            ++ended;
        EXPECT_TRUE(processes.close(*handle));
    }
    return ended;
}

TEST_F(ProcessesTest, EndsOnlyTheProcessesWithTheWantedName) {
    const pid_t lower = startAs("Lunta33.exe");
    const pid_t capitals = startAs("LUNTA33.EXE");
    const pid_t longer = startAs("Lunta334.exe");

    auto snapshot = processes.snapshot();
    ASSERT_TRUE(snapshot);
    const auto entryOf = [&](pid_t pid) {
        return std::find_if(snapshot->begin(), snapshot->end(),
                            [&](const ProcessEntry& e) { return e.pid == std::uint32_t(pid); });
    };
    ASSERT_NE(entryOf(lower), snapshot->end());
    EXPECT_EQ(entryOf(lower)->exeFile, "Lunta33.exe");
    EXPECT_EQ(entryOf(capitals)->exeFile, "LUNTA33.EXE");
    EXPECT_EQ(entryOf(longer)->exeFile, "Lunta334.exe");

    EXPECT_EQ(endProcessesNamed(processes, "Lunta33.exe", children), 2);
    EXPECT_TRUE(endedBySignal(lower));
    EXPECT_TRUE(endedBySignal(capitals));
    EXPECT_TRUE(running(longer));
    EXPECT_EQ(endProcessesNamed(processes, "Lunta33.exe", children), 0);
}

// A handle stays bound to its process: once that process is gone, terminate fails instead of
// reaching whatever comes next.
TEST_F(ProcessesTest, AHandleOutlivingItsProcessReachesNothing) {
    const pid_t pid = startAs("Morvisk.exe");
    auto handle = processes.openForTerminate(static_cast<std::uint32_t>(pid));
    ASSERT_TRUE(handle) << handle.error().message;
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(endedBySignal(pid));
    EXPECT_EQ(processes.terminate(*handle, 0).code(), win::AccessDenied);
    EXPECT_TRUE(processes.close(*handle));
    EXPECT_EQ(processes.terminate(*handle, 0).code(), win::InvalidHandle);
    EXPECT_EQ(processes.close(*handle).code(), win::InvalidHandle);
    EXPECT_EQ(processes.openForTerminate(static_cast<std::uint32_t>(pid)).code(),
              win::InvalidParameter);
    EXPECT_EQ(processes.openForTerminate(0).code(), win::InvalidParameter);
}

// A refusal injected through host.conf, as for another user's process, leaves it running.
TEST_F(ProcessesTest, AnInjectedRefusalLeavesTheProcessRunning) {
    const pid_t other = startAs("Dolmerin.exe");
    ASSERT_TRUE(host.host().setSetting("fail_open_process", "5"));
    EXPECT_EQ(processes.openForTerminate(static_cast<std::uint32_t>(other)).code(),
              win::AccessDenied);
    EXPECT_TRUE(running(other));
}

} // namespace
} // namespace kv::platform::test
