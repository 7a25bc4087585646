#include "dataaccess/ComStatementMonitor.h"

#include "dataaccess/DAPlatform.h"
#include "dataaccess/DASQLMonitor.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/OLEDBAccess.h"
#include "platform/oledb/com_lite.h"

#include <map>
#include <mutex>

namespace kv::dataaccess {

namespace {

struct Registration {
    oledb::ComPtr<IStatementMonitor> Monitor;
    bool ComInitialized = false;
};

std::mutex& registrationsLock() {
    static std::mutex lock;
    return lock;
}

std::map<TCustomDASQLMonitor*, Registration>& registrations() {
    static std::map<TCustomDASQLMonitor*, Registration> map;
    return map;
}

void STDMETHODCALLTYPE traceFlagsFromMonitor(std::intptr_t ClientID, std::uint16_t Flags) {
    auto* monitor = reinterpret_cast<TCustomDASQLMonitor*>(ClientID);
    std::lock_guard lock(registrationsLock());
    if (registrations().count(monitor) != 0)
        monitor->SetTraceFlags(TDATraceFlags::FromMask(Flags));
}

// The client's name is the application's title.
std::string clientName() {
    return ApplicationTitle();
}

bool registerMonitor(TCustomDASQLMonitor* Monitor) {
    // Only the process-wide monitor talks to the statement monitor.
    if (Monitor == nullptr || Monitor != TMSSQLMonitor::Instance())
        return false;
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const auto undo = [&] {
        if (SUCCEEDED(initialized))
            CoUninitialize();
    };
    oledb::ComPtr<IUnknown> object;
    if (FAILED(CoCreateInstance(CLSID_StatementMonitor, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(object.putUnknown()))) ||
        !object) {
        undo();
        return false;
    }
    oledb::ComPtr<IStatementMonitor> monitor;
    if (FAILED(object->QueryInterface(IID_IStatementMonitor,
                                      reinterpret_cast<void**>(monitor.putUnknown()))) ||
        !monitor) {
        undo();
        return false;
    }
    {
        std::lock_guard lock(registrationsLock());
        registrations()[Monitor] = {monitor, SUCCEEDED(initialized)};
    }
    const std::string name = clientName();
    const auto id = reinterpret_cast<std::intptr_t>(Monitor);
    (void)monitor->RegisterClient(id, name.c_str(), id, &traceFlagsFromMonitor);
    return true;
}

void unregisterMonitor(TCustomDASQLMonitor* Monitor) {
    Registration registration;
    {
        std::lock_guard lock(registrationsLock());
        auto it = registrations().find(Monitor);
        if (it == registrations().end())
            return;
        registration = std::move(it->second);
        registrations().erase(it);
    }
    registration.Monitor.reset();
    if (registration.ComInitialized)
        CoUninitialize();
}

void sendText(TCustomDASQLMonitor* Monitor, const std::string& Text) {
    oledb::ComPtr<IStatementMonitor> monitor;
    {
        std::lock_guard lock(registrationsLock());
        auto it = registrations().find(Monitor);
        if (it == registrations().end())
            return;
        monitor = it->second.Monitor;
    }
    (void)monitor->SendText(reinterpret_cast<std::intptr_t>(Monitor), Text.c_str(),
                            static_cast<std::int32_t>(Text.size()));
}

} // namespace

void InstallComMonitorOutlets(TMonitorOutlets& Outlets) {
    Outlets.ComRegister = registerMonitor;
    Outlets.ComUnregister = unregisterMonitor;
    Outlets.ComSend = sendText;
}

} // namespace kv::dataaccess
