// The service side on Windows: the service control dispatcher in the program's main thread,
// the body in the service's main thread, the reports through SetServiceStatus.
//
// Once a service has reported stopped, the manager may end its process at any moment and the
// dispatcher returns in the main thread: the stopped report is therefore held back until the
// body has returned and is the very last thing the service's main thread does, and what the
// dispatcher's threads reach lives for the whole process.

#include "platform/ServiceManager.h"
#include "platform/ServiceProcess.h"
#include "platform/win32/WinText.h"

#include <mutex>

namespace kv::platform {

namespace {

// The wait hint of the stop pending that answers the manager's stop request.
constexpr DWORD StopWaitHintMs = 3000;

class WinServiceProcess final : public ServiceProcess {
public:
    WinServiceProcess() : stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WinServiceProcess() override {
        if (stopEvent_)
            CloseHandle(stopEvent_);
    }
    WinServiceProcess(const WinServiceProcess&) = delete;
    WinServiceProcess& operator=(const WinServiceProcess&) = delete;

    // The service's status handle; none in the foreground.
    void connect(SERVICE_STATUS_HANDLE handle) { handle_ = handle; }

    Result<void> report(std::uint32_t state, std::uint32_t waitHint,
                        std::uint32_t exitCode) override {
        std::lock_guard lock(mutex_);
        return reportLocked(state, waitHint, exitCode);
    }

    void waitForStop() override {
        if (stopEvent_)
            WaitForSingleObject(stopEvent_, INFINITE);
    }

    bool reporting() const override { return handle_ != nullptr; }

    // The manager's stop request, or Ctrl+C in the foreground.
    void requestStop() {
        std::lock_guard lock(mutex_);
        if (stopRequested_)
            return;
        stopRequested_ = true;
        if (handle_ && state_ != SERVICE_STOPPED)
            (void)reportLocked(SERVICE_STOP_PENDING, StopWaitHintMs, 0);
        SetEvent(stopEvent_);
    }

    // The final stopped report: `exitCode` unless the body reported one of its own. Touches
    // nothing of this object once it has been sent.
    void reportFinalStop(std::uint32_t exitCode) {
        SERVICE_STATUS_HANDLE handle = nullptr;
        SERVICE_STATUS status{};
        {
            std::lock_guard lock(mutex_);
            handle = handle_;
            status = statusOf(SERVICE_STOPPED, 0, finalExitCode_ ? finalExitCode_ : exitCode);
        }
        if (handle)
            SetServiceStatus(handle, &status);
    }

private:
    SERVICE_STATUS statusOf(DWORD state, DWORD waitHint, DWORD exitCode) const {
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = state;
        // A service takes the stop request only while it runs, as SQL Server does.
        status.dwControlsAccepted =
            state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        if (exitCode != 0) {
            status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            status.dwServiceSpecificExitCode = exitCode;
        }
        status.dwCheckPoint = checkPoint_;
        status.dwWaitHint = waitHint;
        return status;
    }

    Result<void> reportLocked(std::uint32_t state, std::uint32_t waitHint, std::uint32_t exitCode) {
        if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
            ++checkPoint_;
        else
            checkPoint_ = 0;
        state_ = state;
        if (!handle_)
            return success();
        if (state == SERVICE_STOPPED) {
            // Sent when the body has returned (reportFinalStop).
            finalExitCode_ = exitCode;
            return success();
        }
        SERVICE_STATUS status = statusOf(state, waitHint, exitCode);
        if (!SetServiceStatus(handle_, &status))
            return win32::lastError("SetServiceStatus");
        return success();
    }

    std::mutex mutex_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;
    HANDLE stopEvent_;
    DWORD state_ = SERVICE_START_PENDING;
    DWORD checkPoint_ = 0;
    DWORD finalExitCode_ = 0;
    bool stopRequested_ = false;
};

// The dispatcher hands ServiceMain no pointer of ours: the one service of this process. It is
// made once and never destroyed, since the dispatcher's threads may still reach it while the
// process ends.
struct ServiceRun {
    std::wstring name;
    const ServiceBody* body = nullptr;
    int exitCode = 0;
    WinServiceProcess process;
};
ServiceRun* currentRun = nullptr;

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
    auto* process = static_cast<WinServiceProcess*>(context);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        process->requestStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    ServiceRun& run = *currentRun;
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(run.name.c_str(), controlHandler, &run.process);
    if (!handle) {
        run.exitCode = static_cast<int>(GetLastError());
        return;
    }
    run.process.connect(handle);
    run.exitCode = (*run.body)(run.process);
    // Also for a body that returned without saying so: the manager would otherwise take the end
    // of the process for a crash.
    run.process.reportFinalStop(static_cast<std::uint32_t>(run.exitCode));
}

WinServiceProcess* foregroundProcess = nullptr;

BOOL WINAPI consoleHandler(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (foregroundProcess)
            foregroundProcess->requestStop();
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

Result<int> runAsService(std::string_view name, const ServiceBody& body) {
    if (currentRun)
        return Error{win::InvalidFunction, "a service already runs in this process"};
    currentRun = new ServiceRun;
    currentRun->name = win32::toWide(name);
    currentRun->body = &body;
    SERVICE_TABLE_ENTRYW table[] = {{currentRun->name.data(), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return win32::lastError("StartServiceCtrlDispatcher");
    return currentRun->exitCode;
}

int runInForeground(const ServiceBody& body) {
    WinServiceProcess process;
    foregroundProcess = &process;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
    const int exitCode = body(process);
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    foregroundProcess = nullptr;
    return exitCode;
}

} // namespace kv::platform
