// The service manager of the simulated host, driven through the Win32-shaped interface with the
// fake service program (fake_service.cpp) as the service.

#include "TestHost.h"
#include "platform/posix/ServiceReporter.h"
#include "platform/posix/SimBackends.h"

#include <csignal>
#include <gmock/gmock.h>

namespace kv::platform::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr std::uint32_t QueryAndStart = ServiceAccess::QueryStatus | ServiceAccess::Start;
constexpr std::uint32_t QueryAndStop = ServiceAccess::QueryStatus | ServiceAccess::Stop;

class ServicesTest : public ::testing::Test {
protected:
    void define(const std::string& name, const std::string& arguments,
                const std::string& extra = "") {
        host.writeReal(host.host().servicesFolder() / (name + ".service"),
                       "command = \"" KV_FAKE_SERVICE "\" " + arguments + "\n" + extra);
    }

    ServiceHandle openService(const char* name, std::uint32_t access) {
        auto manager = services.openManager("", ServiceAccess::ManagerConnect);
        EXPECT_TRUE(manager) << manager.error().message;
        auto service = services.openService(*manager, name, access);
        EXPECT_TRUE(service) << service.error().message;
        EXPECT_TRUE(services.close(*manager));
        return service ? *service : ServiceHandle{};
    }

    std::uint32_t state(ServiceHandle service) {
        auto status = services.queryStatus(service);
        EXPECT_TRUE(status) << status.error().message;
        return status ? status->currentState : 0;
    }

    bool reaches(ServiceHandle service, std::uint32_t wanted) {
        return eventually([&] { return state(service) == wanted; });
    }

    int servicePid(const std::string& name) {
        std::ifstream in(host.host().pidFile(name));
        std::string key, eq;
        int pid = 0;
        in >> key >> eq >> pid;
        return pid;
    }

    TestHost host;
    ServiceManager& services = host.platform().services();
};

TEST_F(ServicesTest, AnUnknownServiceDoesNotExist) {
    auto manager = services.openManager("", ServiceAccess::ManagerConnect);
    ASSERT_TRUE(manager);
    EXPECT_EQ(services.openService(*manager, "MSSQLSERVER", QueryAndStart).code(),
              win::ServiceDoesNotExist);
    EXPECT_EQ(services.openManager("OTHER-PC", ServiceAccess::ManagerConnect).code(),
              win::RpcServerUnavailable);
    EXPECT_TRUE(services.openManager("\\\\KELVORA-TEST", ServiceAccess::ManagerConnect));
    EXPECT_TRUE(services.close(*manager));
    EXPECT_EQ(services.close(*manager).code(), win::InvalidHandle);
    EXPECT_EQ(services.queryStatus(*manager).code(), win::InvalidHandle);
}

// stopped -> start pending (rising checkpoints) -> running -> stop pending -> stopped, with the
// refusals Windows gives on the way.
TEST_F(ServicesTest, RunsTheWholeStateMachine) {
    define("MSSQLSERVER", "--start-steps 5 --step-ms 100 --stop-steps 8");
    const auto service = openService("mssqlserver", QueryAndStart | ServiceAccess::Stop);
    EXPECT_EQ(state(service), ServiceState::Stopped);
    EXPECT_EQ(services.controlStop(service).code(), win::ServiceNotActive);

    ASSERT_TRUE(services.start(service));
    auto first = services.queryStatus(service);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->currentState, ServiceState::StartPending);
    std::uint32_t lastCheckPoint = first->checkPoint;
    ASSERT_TRUE(eventually([&] {
        auto status = services.queryStatus(service);
        if (status && status->currentState == ServiceState::StartPending) {
            EXPECT_GE(status->checkPoint, lastCheckPoint);
            lastCheckPoint = status->checkPoint;
        }
        return status && status->currentState == ServiceState::Running;
    }));
    EXPECT_EQ(services.start(service).code(), win::ServiceAlreadyRunning);

    auto stopping = services.controlStop(service);
    ASSERT_TRUE(stopping) << stopping.error().message;
    EXPECT_EQ(stopping->currentState, ServiceState::StopPending);
    EXPECT_EQ(state(service), ServiceState::StopPending);
    EXPECT_EQ(services.controlStop(service).code(), win::ServiceCannotAcceptCtrl);
    ASSERT_TRUE(reaches(service, ServiceState::Stopped));
    EXPECT_TRUE(services.close(service));

    // The service starts again at once after it reported stopped (its process may still be on
    // its way out); the log got its output.
    const auto again = openService("MSSQLSERVER", QueryAndStart);
    ASSERT_TRUE(services.start(again));
    EXPECT_TRUE(reaches(again, ServiceState::Running));
    EXPECT_TRUE(fs::exists(host.host().logFile("MSSQLSERVER")));
}

// A service whose process has gone reads stopped and leaves no stale "running" in its files.
TEST_F(ServicesTest, ADeadProcessReadsStopped) {
    define("MSSQLSERVER", "--start-steps 1");
    const auto service = openService("MSSQLSERVER", QueryAndStart);
    ASSERT_TRUE(services.start(service));
    ASSERT_TRUE(reaches(service, ServiceState::Running));
    const int pid = servicePid("MSSQLSERVER");
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(reaches(service, ServiceState::Stopped));
    auto file = sim::readStatusFile(host.host().statusFile("MSSQLSERVER"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->currentState, ServiceState::Stopped);
    EXPECT_TRUE(services.start(service)); // and it can be started again
    EXPECT_TRUE(reaches(service, ServiceState::Running));
}

// A service that exits by itself (after "running", or during its start) reads stopped.
TEST_F(ServicesTest, AServiceThatExitsReadsStopped) {
    define("Quitter", "--start-steps 1 --exit-after 50");
    define("Crasher", "--start-steps 2 --exit-during-start");
    const auto quitter = openService("Quitter", QueryAndStart);
    const auto crasher = openService("Crasher", QueryAndStart);
    ASSERT_TRUE(services.start(quitter));
    ASSERT_TRUE(services.start(crasher));
    EXPECT_TRUE(reaches(quitter, ServiceState::Stopped));
    EXPECT_TRUE(reaches(crasher, ServiceState::Stopped));
}

// A service stuck in start pending keeps reading start pending with a checkpoint that stops
// rising, and refuses a stop request like Windows does.
TEST_F(ServicesTest, AServiceThatNeverRunsStaysStartPending) {
    define("Stuck", "--start-steps 2 --step-ms 5 --never-running");
    const auto service = openService("Stuck", QueryAndStart | ServiceAccess::Stop);
    ASSERT_TRUE(services.start(service));
    ASSERT_TRUE(eventually([&] {
        auto status = services.queryStatus(service);
        return status && status->checkPoint == 2;
    }));
    EXPECT_EQ(state(service), ServiceState::StartPending);
    EXPECT_EQ(services.controlStop(service).code(), win::ServiceCannotAcceptCtrl);
}

// Access rights: refused by the definition, or missing from the handle.
TEST_F(ServicesTest, RefusedAccessRightsFailWithAccessDenied) {
    define("MSSQLSERVER", "", "refuse_service_access = 0x10\n");
    auto manager = services.openManager("", ServiceAccess::ManagerConnect);
    ASSERT_TRUE(manager);
    auto refused = services.openService(*manager, "MSSQLSERVER", QueryAndStart);
    EXPECT_EQ(refused.code(), win::AccessDenied);
    auto queryOnly = services.openService(*manager, "MSSQLSERVER", ServiceAccess::QueryStatus);
    ASSERT_TRUE(queryOnly);
    EXPECT_EQ(state(*queryOnly), ServiceState::Stopped);
    EXPECT_EQ(services.start(*queryOnly).code(), win::AccessDenied);
    EXPECT_EQ(services.controlStop(*queryOnly).code(), win::AccessDenied);
    EXPECT_TRUE(services.close(*queryOnly));
    EXPECT_TRUE(services.close(*manager));

    define("Other", "", "refuse_manager_access = 1\n");
    EXPECT_EQ(services.openManager("", ServiceAccess::ManagerConnect).code(), win::AccessDenied);
    EXPECT_TRUE(services.openManager("", ServiceAccess::ManagerEnumerateService));
}

TEST_F(ServicesTest, AFailingStartStartsNothing) {
    define("MSSQLSERVER", "", "fail_start = 1053\n");
    host.writeReal(host.host().servicesFolder() / "Absent.service",
                   "command = no-such-program-kv\n");
    const auto failing = openService("MSSQLSERVER", QueryAndStart);
    EXPECT_EQ(services.start(failing).code(), win::ServiceRequestTimeout);
    EXPECT_EQ(state(failing), ServiceState::Stopped);
    EXPECT_FALSE(fs::exists(host.host().pidFile("MSSQLSERVER")));

    const auto absent = openService("Absent", QueryAndStart);
    auto started = services.start(absent);
    EXPECT_EQ(started.code(), win::FileNotFound);
    EXPECT_THAT(started.error().message, HasSubstr("no-such-program-kv"));
    EXPECT_EQ(state(absent), ServiceState::Stopped);
}

// Corrupt status and definition files are reported with file and line; the service reads
// stopped.
TEST_F(ServicesTest, CorruptFilesAreReportedAndReadStopped) {
    define("MSSQLSERVER", "--start-steps 1");
    const auto service = openService("MSSQLSERVER", QueryAndStart);
    ASSERT_TRUE(services.start(service));
    ASSERT_TRUE(reaches(service, ServiceState::Running));
    DiagnosticCapture diagnostics;
    host.writeReal(host.host().statusFile("MSSQLSERVER"), "state = 4\ncheckpoint = many\n");
    EXPECT_EQ(state(service), ServiceState::Stopped);
    ASSERT_FALSE(diagnostics.messages.empty());
    EXPECT_THAT(diagnostics.messages.front(), HasSubstr("MSSQLSERVER.status:2"));

    diagnostics.messages.clear();
    host.writeReal(host.host().servicesFolder() / "Broken.service",
                   "command = x\nrefuse_service_access = lots\n");
    const auto broken = openService("Broken", QueryAndStart);
    EXPECT_FALSE(services.start(broken));
    ASSERT_FALSE(diagnostics.messages.empty());
    EXPECT_THAT(diagnostics.messages.front(), HasSubstr("Broken.service:2"));
}

TEST(CommandLineTest, SplitsLikeAShell) {
    auto words = sim::splitCommandLine(R"(  /bin/prog 'a b' "c \"d\" \\e" f\ g  h)");
    ASSERT_TRUE(words);
    EXPECT_THAT(*words, ::testing::ElementsAre("/bin/prog", "a b", "c \"d\" \\e", "f g", "h"));
    EXPECT_FALSE(sim::splitCommandLine("prog 'open"));
    EXPECT_FALSE(sim::splitCommandLine("prog \"open"));
}

// A file a running service holds lists the service's process under the service's name: how a
// check tells the server's own hold on its database files from another program's.
TEST_F(ServicesTest, AFileHeldByAServiceNamesTheService) {
    const auto file = host.host().resolve("C:\\held.mdf");
    ASSERT_TRUE(file);
    define("MSSQLSERVER", "--hold \"" + file->string() + "\"");
    const ServiceHandle service = openService("MSSQLSERVER", QueryAndStart | QueryAndStop);
    ASSERT_TRUE(services.start(service));
    ASSERT_TRUE(reaches(service, ServiceState::Running));
    auto& files = host.platform().files();
    const auto holders = files.fileHolders("C:\\HELD.mdf");
    ASSERT_TRUE(holders) << holders.error().message;
    ASSERT_EQ(holders->size(), 1u);
    EXPECT_EQ(holders->front().pid, static_cast<std::uint32_t>(servicePid("MSSQLSERVER")));
    EXPECT_EQ(holders->front().service, "MSSQLSERVER");
    EXPECT_EQ(holders->front().program, "platform_fake_service");

    ASSERT_TRUE(services.controlStop(service));
    ASSERT_TRUE(reaches(service, ServiceState::Stopped));
    // The hold ends with the process, a moment after its last report.
    EXPECT_TRUE(eventually(
        [&] { return files.fileHolders("C:\\held.mdf").valueOr({FileHolder{}}).empty(); }));
    EXPECT_TRUE(services.close(service));
}

} // namespace
} // namespace kv::platform::test
