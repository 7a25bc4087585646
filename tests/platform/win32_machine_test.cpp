// The service manager and the process table of the Win32 backend against Windows itself (under
// Wine in the cross build): a tiny service program of ours is registered, started, stopped and
// deleted; a child process is found in the snapshot and ended. Registration, deletion and the
// child's start are no part of the platform interfaces and use Win32 directly.

#include "platform/Platform.h"
#include "platform/Program.h"
#include "platform/Unicode.h"
#include "tests/platform/contract/ContractEnv.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace kv::platform {
namespace {

std::wstring wide(const std::string& utf8) {
    const std::u16string units = utf8ToUtf16(utf8);
    return std::wstring(units.begin(), units.end());
}

// The helper program beside this test program.
std::wstring helperProgram() {
    std::string path = programPath();
    path.erase(path.find_last_of("\\/") + 1);
    return wide(path + "platform_win_service.exe");
}

// Polls the condition every 20 ms for at most ten seconds: bounded, never a timing assertion.
template <class F>
bool eventually(F condition) {
    for (int waited = 0; waited < 10000; waited += 20) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

// Starts `program` with the helper's "sleep" command; its thread handle is closed at once.
PROCESS_INFORMATION startSleeper(const std::wstring& program) {
    std::wstring command = L"\"" + program + L"\" sleep";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child))
        CloseHandle(child.hThread);
    return child;
}

// The snapshot's entry of process `pid`, or null.
const ProcessEntry* entryOf(const std::vector<ProcessEntry>& snapshot, DWORD pid) {
    const auto found = std::find_if(snapshot.begin(), snapshot.end(),
                                    [&](const ProcessEntry& entry) { return entry.pid == pid; });
    return found == snapshot.end() ? nullptr : &*found;
}

using contract::runningUnderWine;
using contract::toleratedWineDifference;

class ServiceRegistration {
public:
    explicit ServiceRegistration(const std::wstring& name) : name_(name) {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!manager_)
            return;
        const std::wstring command = L"\"" + helperProgram() + L"\" service";
        service_ =
            CreateServiceW(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
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
    DWORD error() const { return manager_ ? error_ : GetLastError(); }
    // Deletes the service now (the destructor would otherwise).
    bool remove() {
        const bool removed = DeleteService(service_);
        CloseServiceHandle(service_);
        service_ = nullptr;
        return removed;
    }

private:
    std::wstring name_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    DWORD error_ = 0;
};

TEST(WindowsMachine, OurServiceStartsStopsAndIsDeleted) {
    const std::string name = "KelvoraContract" + std::to_string(GetCurrentProcessId());
    ServiceRegistration registration(wide(name));
    ASSERT_TRUE(registration.ok()) << "CreateService failed with " << registration.error();

    auto platform = createPlatform();
    auto& services = platform->services();
    auto manager = services.openManager("", ServiceAccess::ManagerConnect);
    ASSERT_TRUE(manager) << manager.error().message;
    EXPECT_EQ(
        services.openService(*manager, "KelvoraNoSuchService", ServiceAccess::QueryStatus).code(),
        win::ServiceDoesNotExist);
    auto service = services.openService(
        *manager, name, ServiceAccess::QueryStatus | ServiceAccess::Start | ServiceAccess::Stop);
    ASSERT_TRUE(service) << service.error().message;

    EXPECT_EQ(services.queryStatus(*service).valueOr({}).currentState, ServiceState::Stopped);
    EXPECT_EQ(services.controlStop(*service).code(), win::ServiceNotActive);
    ASSERT_TRUE(services.start(*service));
    EXPECT_EQ(services.start(*service).code(), win::ServiceAlreadyRunning);
    EXPECT_TRUE(eventually([&] {
        return services.queryStatus(*service).valueOr({}).currentState == ServiceState::Running;
    }));

    auto stopping = services.controlStop(*service);
    ASSERT_TRUE(stopping) << stopping.error().message;
    EXPECT_TRUE(stopping->currentState == ServiceState::StopPending ||
                stopping->currentState == ServiceState::Stopped);
    EXPECT_TRUE(eventually([&] {
        return services.queryStatus(*service).valueOr({}).currentState == ServiceState::Stopped;
    }));

    EXPECT_TRUE(services.close(*service));
    EXPECT_EQ(services.close(*service).code(), win::InvalidHandle);
    EXPECT_TRUE(registration.remove());
    // Deleted once its last handle is closed and its process has gone.
    const bool deleted = eventually([&] {
        auto again = services.openService(*manager, name, ServiceAccess::QueryStatus);
        if (again)
            (void)services.close(*again);
        return !again && again.code() == win::ServiceDoesNotExist;
    });
    if (!deleted && runningUnderWine())
        toleratedWineDifference(
            "a deleted service stays openable until its manager handle is closed");
    else
        EXPECT_TRUE(deleted) << "the deleted service can still be opened";
    EXPECT_TRUE(services.close(*manager));
}

TEST(WindowsMachine, AChildProcessIsFoundAndEnded) {
    const PROCESS_INFORMATION child = startSleeper(helperProgram());
    ASSERT_NE(child.hProcess, nullptr) << GetLastError();

    auto platform = createPlatform();
    auto& processes = platform->processes();
    auto snapshot = processes.snapshot();
    ASSERT_TRUE(snapshot) << snapshot.error().message;
    const ProcessEntry* found = entryOf(*snapshot, child.dwProcessId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->exeFile, "platform_win_service.exe");

    auto handle = processes.openForTerminate(child.dwProcessId);
    ASSERT_TRUE(handle) << handle.error().message;
    EXPECT_TRUE(processes.terminate(*handle, 7));
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(child.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 7u);
    EXPECT_TRUE(processes.close(*handle));
    EXPECT_EQ(processes.close(*handle).code(), win::InvalidHandle);
    CloseHandle(child.hProcess);

    // Gone once no handle keeps it: Windows answers the pid with "invalid parameter".
    const bool gone = eventually([&] {
        auto again = processes.openForTerminate(child.dwProcessId);
        if (again)
            (void)processes.close(*again);
        return !again && again.code() == win::InvalidParameter;
    });
    if (!gone && runningUnderWine())
        toleratedWineDifference(
            "OpenProcess still opens an ended child's pid after every handle to it "
            "was closed");
    else
        EXPECT_TRUE(gone) << "OpenProcess of an ended process did not fail with 87";
}

// A program whose name has a letter beyond the ANSI code page is listed under that name, not
// under its look-alike ("ō" is not "o"), so that ending programs by name cannot hit another one.
TEST(WindowsMachine, ProgramNamesBeyondTheCodePageKeepTheirLetters) {
    auto env = contract::makeContractEnv();
    const std::wstring copy = wide(env->folder() + "\\kelvora_\u014D.exe");
    ASSERT_TRUE(CopyFileW(helperProgram().c_str(), copy.c_str(), TRUE)) << GetLastError();
    const PROCESS_INFORMATION child = startSleeper(copy);
    ASSERT_NE(child.hProcess, nullptr) << GetLastError();

    auto platform = createPlatform();
    auto snapshot = platform->processes().snapshot();
    TerminateProcess(child.hProcess, 0);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(snapshot) << snapshot.error().message;
    const ProcessEntry* found = entryOf(*snapshot, child.dwProcessId);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->exeFile, "kelvora_\u014D.exe");
}

// The code page of the machine: the tests run Wine with a Turkish locale, so that the ANSI
// functions see the same code page as on the pharmacy's machines.
TEST(WindowsMachine, TheAnsiCodePageIsTurkish) {
    auto platform = createPlatform();
    if (platform->codePage().number() != 1254)
        GTEST_SKIP() << "the system's ANSI code page is " << platform->codePage().number()
                     << ", not 1254 (a machine that is not set to Turkish)";
    EXPECT_EQ(platform->codePage().fromUtf8("Şube"), "\xDE"
                                                     "ube");
    EXPECT_FALSE(platform->computerName().empty());
}

} // namespace
} // namespace kv::platform
