// The simhost tool, run as a program the way scripts use it.

#include "TestHost.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <sys/wait.h>

namespace kv::platform::test {
namespace {

using ::testing::HasSubstr;

struct Run {
    int status = -1;
    std::string out; // standard output and error together
};

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Run simhost(const std::vector<std::string>& args) {
    std::string command = quoted(KV_SIMHOST);
    for (const auto& arg : args)
        command += " " + quoted(arg);
    command += " 2>&1";
    Run run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class SimhostTest : public ::testing::Test {
protected:
    TestHost scratchHost; // only for its temporary folder
    std::string dir = (scratchHost.scratch() / "made").string();
};

TEST_F(SimhostTest, CreatesAHostAndResolvesPaths) {
    auto created = simhost({"create", dir, "--computer-name", "pc1"});
    ASSERT_EQ(created.status, 0) << created.out;
    auto host = sim::SimHost::open(dir);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->computerName(), "PC1");
    for (const char* sub : {"drive_c", "services", "run", "registry/HKEY_CURRENT_USER.reg",
                            "registry/HKEY_LOCAL_MACHINE.reg"})
        EXPECT_TRUE(std::filesystem::exists(host->root() / sub)) << sub;
    EXPECT_EQ(simhost({"create", dir}).status, 2);

    std::filesystem::create_directories(host->driveC() / "Kelvora" / "Data");
    auto path = simhost({"path", dir, "C:\\KELVORA\\data\\Kelvora_Data.MDF"});
    EXPECT_EQ(path.status, 0);
    EXPECT_EQ(path.out, (host->driveC() / "Kelvora" / "Data" / "Kelvora_Data.MDF").string() + "\n");
    EXPECT_EQ(simhost({"path", dir, "C:\\..\\etc\\passwd"}).status, 2);
}

TEST_F(SimhostTest, ReadsAndWritesTheRegistry) {
    ASSERT_EQ(simhost({"create", dir}).status, 0);
    const std::string key = "SOFTWARE\\Microsoft\\MSSQLServer\\Client\\ConnectTo";
    EXPECT_EQ(simhost({"reg", dir, "set", "HKLM", key, "ALIAS1", "DBMSSOCN,10.0.0.1,1433"}).status,
              0);
    EXPECT_EQ(simhost({"reg", dir, "set", "HKCU", "Debug", "Left", "0x20", "--dword"}).status, 0);
    EXPECT_EQ(simhost({"reg", dir, "get", "HKLM", key, "alias1"}).out, "DBMSSOCN,10.0.0.1,1433\n");
    EXPECT_EQ(simhost({"reg", dir, "get", "HKCU", "debug", "LEFT"}).out, "32\n");
    EXPECT_EQ(simhost({"reg", dir, "list", "HKLM", key}).out, "ALIAS1\n");
    EXPECT_EQ(simhost({"reg", dir, "get", "HKLM", key, "missing"}).status, 1);
    EXPECT_EQ(simhost({"reg", dir, "get", "HKXX", key, "x"}).status, 2);
}

TEST_F(SimhostTest, DrivesAService) {
    ASSERT_EQ(simhost({"create", dir}).status, 0);
    auto host = sim::SimHost::open(dir);
    ASSERT_TRUE(host);
    scratchHost.writeReal(host->servicesFolder() / "MSSQLSERVER.service",
                          "command = " + quoted(KV_FAKE_SERVICE) + " --start-steps 2\n");
    EXPECT_EQ(simhost({"service", dir, "status", "Other"}).out, "missing\n");
    EXPECT_EQ(simhost({"service", dir, "status", "MSSQLSERVER"}).out, "stopped\n");
    auto started = simhost({"service", dir, "start", "mssqlserver", "--wait"});
    EXPECT_EQ(started.status, 0) << started.out;
    EXPECT_EQ(started.out, "running\n");
    auto again = simhost({"service", dir, "start", "MSSQLSERVER"});
    EXPECT_EQ(again.status, 1);
    EXPECT_THAT(again.out, HasSubstr("1056"));
    auto stopped = simhost({"service", dir, "stop", "MSSQLSERVER", "--wait", "10000"});
    EXPECT_EQ(stopped.status, 0) << stopped.out;
    EXPECT_EQ(stopped.out, "stopped\n");
}

TEST_F(SimhostTest, BadArgumentsExitWithTwoAndOneLine) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"service", dir, "status", "MSSQLSERVER"},
                                               {"service", "x"},
                                               {"path", dir},
                                               {"reg", dir, "get"}}) {
        auto run = simhost(args);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
        EXPECT_THAT(run.out, ::testing::StartsWith("simhost: "));
    }
}

} // namespace
} // namespace kv::platform::test
