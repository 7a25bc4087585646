// The stand-in SQL Server as a service of Windows itself (under Wine in the cross build): its
// catalog made ready in-process, the service registered with the machine's service manager, then
// started and stopped through the platform's service manager with the console's own waits while
// another thread watches every status the manager reports. Registration and deletion are no part
// of the platform interfaces and use Win32 directly.

#include "console/service_wait.h"
#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/Program.h"
#include "platform/ServerMachine.h"
#include "platform/TcpServer.h"
#include "platform/TcpStream.h"
#include "platform/Unicode.h"
#include "simulator/standin/Engine.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <atomic>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace kv::standin {
namespace {

using console::ServiceWaitEnd;
using platform::ServiceStatus;
using platform::ServiceState::Running;
using platform::ServiceState::StartPending;
using platform::ServiceState::Stopped;
using platform::ServiceState::StopPending;
using ::testing::IsEmpty;

std::wstring wide(const std::string& utf8) {
    const std::u16string units = platform::utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string utf8(const std::wstring& text) {
    return platform::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// The stand-in of this build: bin\ beside the tests\ folder of this program.
std::string standinProgram() {
    std::string path = platform::programPath();
    path.erase(path.find_last_of("\\/"));
    path.erase(path.find_last_of("\\/") + 1);
    return path + "bin\\sqlserver-standin.exe";
}

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void toleratedWineDifference(const std::string& what) {
    std::printf("[ WINE     ] tolerated Wine difference: %s\n", what.c_str());
}

// A port nobody listens on right now.
std::uint16_t freePort() {
    auto acceptor = platform::acceptTcp(0);
    return acceptor ? (*acceptor)->port() : 0;
}

// A folder of its own in the temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder() {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        path_ =
            std::wstring(temp, length) + L"kv-standin-" + std::to_wstring(GetCurrentProcessId());
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return utf8(path_) + "\\" + name; }

private:
    std::wstring path_;
};

// The stand-in's catalog on this machine, removed before and after the test so that it starts
// with an empty server and leaves nothing behind.
class CatalogFile {
public:
    CatalogFile() : path_(wide(StateFileWindowsPath)) { remove(); }
    ~CatalogFile() { remove(); }

private:
    void remove() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::filesystem::path path_;
};

class ServiceRegistration {
public:
    ServiceRegistration(const std::string& name, const std::string& arguments) {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!manager_) {
            error_ = GetLastError();
            return;
        }
        const std::wstring command = L"\"" + wide(standinProgram()) + L"\" " + wide(arguments);
        service_ =
            CreateServiceW(manager_, wide(name).c_str(), wide(name).c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        error_ = service_ ? 0 : GetLastError();
    }
    ~ServiceRegistration() {
        if (service_) {
            SERVICE_STATUS status{};
            ControlService(service_, SERVICE_CONTROL_STOP, &status);
            DeleteService(service_);
            CloseServiceHandle(service_);
        }
        if (manager_)
            CloseServiceHandle(manager_);
    }
    ServiceRegistration(const ServiceRegistration&) = delete;
    ServiceRegistration& operator=(const ServiceRegistration&) = delete;

    bool ok() const { return service_ != nullptr; }
    DWORD error() const { return error_; }
    // The whole status record, with the exit codes the platform interface leaves out.
    SERVICE_STATUS status() const {
        SERVICE_STATUS status{};
        QueryServiceStatus(service_, &status);
        return status;
    }

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    DWORD error_ = 0;
};

// Every status the service manager reports for a service, each change once, read about every
// millisecond by a thread of its own through the platform's service manager.
class StatusWatch {
public:
    explicit StatusWatch(const std::string& service)
        : thread_([this, service] { watch(service); }) {}
    ~StatusWatch() { stop(); }
    StatusWatch(const StatusWatch&) = delete;
    StatusWatch& operator=(const StatusWatch&) = delete;

    std::vector<ServiceStatus> stop() {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

private:
    void watch(const std::string& name) {
        auto platform = platform::createPlatform();
        auto& services = platform->services();
        auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
        if (!manager)
            return;
        auto service = services.openService(*manager, name, platform::ServiceAccess::QueryStatus);
        while (service && !done_) {
            if (auto status = services.queryStatus(*service);
                status && (seen_.empty() || !(seen_.back() == *status)))
                seen_.push_back(*status);
            Sleep(1);
        }
        if (service)
            (void)services.close(*service);
        (void)services.close(*manager);
    }

    std::atomic<bool> done_{false};
    std::vector<ServiceStatus> seen_;
    std::thread thread_;
};

std::string describe(const std::vector<ServiceStatus>& statuses) {
    std::string text;
    for (const auto& s : statuses)
        text += " (" + std::to_string(s.currentState) + ", cp " + std::to_string(s.checkPoint) +
                ", hint " + std::to_string(s.waitHint) + ")";
    return text;
}

// What the console's waits rely on, in every status the watch saw: a service goes from stopped
// through start pending to running and through stop pending to stopped (a pending phase may
// pass too fast to be seen, and a failed start goes from start pending to stopped); while it is
// pending its checkpoint never falls and it promises its next report; settled, its checkpoint
// is 0. Returns how many times it was seen running.
int expectOrderlyProgress(const std::vector<ServiceStatus>& statuses) {
    int runs = 0;
    bool toldWaitHint = false;
    std::uint32_t state = Stopped;
    std::uint32_t checkPoint = 0;
    for (const auto& s : statuses) {
        const std::uint32_t next = s.currentState;
        const bool allowed = next == state ||
                             (state == Stopped && (next == StartPending || next == Running)) ||
                             (state == StartPending && (next == Running || next == Stopped)) ||
                             (state == Running && (next == StopPending || next == Stopped)) ||
                             (state == StopPending && next == Stopped);
        EXPECT_TRUE(allowed) << "state " << state << " went to " << next << " in"
                             << describe(statuses);
        if (next == StartPending || next == StopPending) {
            if (next == state) {
                EXPECT_GE(s.checkPoint, checkPoint)
                    << "the checkpoint fell in" << describe(statuses);
            }
            // Checkpoint 0 is the manager's own start pending, before the service's first report.
            if (s.checkPoint == 0 && s.waitHint == 0 && runningUnderWine()) {
                if (!toldWaitHint) {
                    toleratedWineDifference("the service manager's own start pending carries no "
                                            "wait hint");
                    toldWaitHint = true;
                }
            } else {
                EXPECT_GT(s.waitHint, 0u)
                    << "a pending state without a wait hint in" << describe(statuses);
            }
        } else {
            EXPECT_EQ(s.checkPoint, 0u)
                << "a settled state with a checkpoint in" << describe(statuses);
        }
        if (next == Running && state != Running)
            ++runs;
        state = next;
        checkPoint = s.checkPoint;
    }
    return runs;
}

// The console's service waits, each 8000 ms sleep of theirs made a real 20 ms.
class QuickClock {
public:
    QuickClock() {
        clock.setOnSleep([](std::uint32_t) { Sleep(20); });
    }
    platform::ManualClock clock;
};

// A real SQL Server on this machine has its program here; the test then leaves the machine alone.
bool realSqlServerInstalled() {
    return GetFileAttributesW(
               L"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Binn\\sqlservr.exe") !=
           INVALID_FILE_ATTRIBUTES;
}

std::string serviceName(const char* what) {
    return std::string("KelvoraStandin") + what + std::to_string(GetCurrentProcessId());
}

TEST(StandinService, RunsUnderTheServiceManagerAndHoldsItsDatabaseFiles) {
    if (realSqlServerInstalled())
        GTEST_SKIP() << "this machine has a real SQL Server";
    auto platform = platform::createPlatform();
    auto& files = platform->files();
    auto& services = platform->services();
    const TempFolder folder;
    const CatalogFile catalog;
    const std::string data = folder.file("kvtest_Data.MDF");
    const std::string log = folder.file("kvtest_Log.LDF");
    const std::string copy = folder.file("copy.MDF");

    // The catalog with one database, made by the engine in this process: while the 2005
    // profile keeps the database open, its files are held here.
    {
        auto machine = platform::openServerMachine("");
        ASSERT_TRUE(machine) << machine.error().message;
        Engine::Options options;
        options.profile = Profile::Sql2005;
        Engine engine(*machine, options);
        auto session = engine.openSession();
        ASSERT_TRUE(engine.login(*session, "sa", DefaultSaPassword, "master").ok);
        RecordingSink created;
        (void)engine.execute(*session,
                             "create database kvtest ON (FILENAME = '" + data +
                                 "') LOG ON (FILENAME = '" + log + "')",
                             created);
        EXPECT_THAT(created.errors(), IsEmpty());
        EXPECT_EQ(files.copyFile(data, copy, false).code(), platform::win::SharingViolation);
        engine.closeSession(*session);
    }
    EXPECT_TRUE(files.copyFile(data, copy, false)) << "the engine's hold outlived it";
    ASSERT_TRUE(files.deleteFile(copy));

    const std::uint16_t port = freePort();
    ASSERT_NE(port, 0);
    const std::string name = serviceName("Run");
    ServiceRegistration registration(name,
                                     "--service --profile 2005 --port " + std::to_string(port));
    ASSERT_TRUE(registration.ok()) << "CreateService failed with " << registration.error();
    StatusWatch watch(name);
    QuickClock quick;

    // Twice: the console's rebuild stops and starts the server, which must get its port back
    // although the last connection to it may still be closing.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(console::startServiceAndWait(services, quick.clock, "", name),
                  ServiceWaitEnd::Reached);
        EXPECT_EQ(console::queryServiceView(services, "", name), console::svcRunning);
        EXPECT_TRUE(platform::connectTcp("127.0.0.1", port, 2000)) << "no server on " << port;

        // The service process holds the attached database's files as SQL Server does.
        EXPECT_EQ(files.copyFile(data, copy, false).code(), platform::win::SharingViolation);
        EXPECT_EQ(files.shellCopy(data, copy, {}),
                  static_cast<int>(platform::win::SharingViolation));
        EXPECT_EQ(files.deleteFile(log).code(), platform::win::SharingViolation);
        EXPECT_EQ(files.renameFile(data, folder.file("moved.MDF")).code(),
                  platform::win::SharingViolation);

        EXPECT_EQ(console::stopServiceAndWait(services, quick.clock, "", name),
                  ServiceWaitEnd::Reached);
        EXPECT_EQ(console::queryServiceView(services, "", name), console::svcStopped);
        EXPECT_TRUE(files.copyFile(data, copy, false)) << "the hold outlived the service";
        (void)files.deleteFileIfPresent(copy);
    }
    const auto statuses = watch.stop();
    EXPECT_EQ(expectOrderlyProgress(statuses), 2) << describe(statuses);
    EXPECT_EQ(registration.status().dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
}

// A server that cannot take its port stops again at once and says so with its exit code; the
// console's wait ends on the stopped state instead of waiting on.
TEST(StandinService, AFailedStartEndsStoppedWithAnExitCode) {
    if (realSqlServerInstalled())
        GTEST_SKIP() << "this machine has a real SQL Server";
    auto platform = platform::createPlatform();
    const CatalogFile catalog;
    auto taken = platform::acceptTcp(0);
    ASSERT_TRUE(taken) << taken.error().message;
    const std::string name = serviceName("Fail");
    ServiceRegistration registration(name, "--service --port " + std::to_string((*taken)->port()));
    ASSERT_TRUE(registration.ok()) << "CreateService failed with " << registration.error();
    StatusWatch watch(name);
    QuickClock quick;

    const ServiceWaitEnd end =
        console::startServiceAndWait(platform->services(), quick.clock, "", name);
    EXPECT_TRUE(end == ServiceWaitEnd::Settled || end == ServiceWaitEnd::CheckpointFell)
        << "the wait ended with " << static_cast<int>(end);
    EXPECT_EQ(console::queryServiceView(platform->services(), "", name), console::svcStopped);
    const auto statuses = watch.stop();
    EXPECT_EQ(expectOrderlyProgress(statuses), 0) << describe(statuses);

    const SERVICE_STATUS status = registration.status();
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
}

} // namespace
} // namespace kv::standin
