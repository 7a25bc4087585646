// The service manager through advapi32, one call per step.

#include "platform/win32/WinBackends.h"

namespace kv::platform::win32 {

namespace {

ServiceStatus fromNative(const SERVICE_STATUS& status) {
    return ServiceStatus{status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint};
}

} // namespace

WinServiceManager::~WinServiceManager() {
    for (auto& [id, handle] : handles_)
        CloseServiceHandle(handle);
}

ServiceHandle WinServiceManager::remember(SC_HANDLE handle) {
    std::lock_guard lock(mutex_);
    const auto id = nextHandle_++;
    handles_[id] = handle;
    return ServiceHandle{id};
}

SC_HANDLE WinServiceManager::native(ServiceHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle.id);
    return it == handles_.end() ? nullptr : it->second;
}

Result<ServiceHandle> WinServiceManager::openManager(std::string_view machine,
                                                     std::uint32_t access) {
    const std::wstring name = toWide(machine);
    SC_HANDLE handle = OpenSCManagerW(name.empty() ? nullptr : name.c_str(), nullptr, access);
    if (!handle)
        return lastError("OpenSCManager");
    return remember(handle);
}

Result<ServiceHandle> WinServiceManager::openService(ServiceHandle manager, std::string_view name,
                                                     std::uint32_t access) {
    SC_HANDLE scm = native(manager);
    if (!scm)
        return errorFrom(ERROR_INVALID_HANDLE, "OpenService");
    SC_HANDLE handle = OpenServiceW(scm, toWide(name).c_str(), access);
    if (!handle)
        return lastError("OpenService " + std::string(name));
    return remember(handle);
}

Result<ServiceStatus> WinServiceManager::queryStatus(ServiceHandle service) {
    SC_HANDLE handle = native(service);
    if (!handle)
        return errorFrom(ERROR_INVALID_HANDLE, "QueryServiceStatus");
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handle, &status))
        return lastError("QueryServiceStatus");
    return fromNative(status);
}

Result<void> WinServiceManager::start(ServiceHandle service) {
    SC_HANDLE handle = native(service);
    if (!handle)
        return errorFrom(ERROR_INVALID_HANDLE, "StartService");
    if (!StartServiceW(handle, 0, nullptr))
        return lastError("StartService");
    return success();
}

Result<ServiceStatus> WinServiceManager::controlStop(ServiceHandle service) {
    SC_HANDLE handle = native(service);
    if (!handle)
        return errorFrom(ERROR_INVALID_HANDLE, "ControlService");
    SERVICE_STATUS status{};
    if (!ControlService(handle, SERVICE_CONTROL_STOP, &status))
        return lastError("ControlService(STOP)");
    return fromNative(status);
}

Result<void> WinServiceManager::close(ServiceHandle handle) {
    SC_HANDLE native = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle.id);
        if (it == handles_.end())
            return errorFrom(ERROR_INVALID_HANDLE, "CloseServiceHandle");
        native = it->second;
        handles_.erase(it);
    }
    if (!CloseServiceHandle(native))
        return lastError("CloseServiceHandle");
    return success();
}

} // namespace kv::platform::win32
