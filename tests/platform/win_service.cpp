// A tiny Windows program for the Windows platform tests:
//   platform_win_service service   a service that runs until the service manager stops it
//   platform_win_service sleep     a child process that waits to be ended (at most a minute)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <cstring>
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;

void report(DWORD state, DWORD checkPoint = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, LPVOID, LPVOID) {
    if (code == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING, 1);
        SetEvent(stopEvent);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPWSTR* arguments) {
    statusHandle = RegisterServiceCtrlHandlerExW(arguments[0], control, nullptr);
    if (!statusHandle)
        return;
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_START_PENDING, 1);
    report(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent, 120000);
    report(SERVICE_STOPPED);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
        wchar_t name[] = L"";
        SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "sleep") == 0) {
        Sleep(60000);
        return 0;
    }
    return 2;
}
