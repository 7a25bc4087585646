#pragma once
// The service control manager, in the shape of the advapi32 calls (OpenSCManager, OpenService,
// QueryServiceStatus, StartService, ControlService(STOP), CloseServiceHandle).
//
// The console follows the Windows algorithm step by step (open, query, start, wait on the
// checkpoint, close), so the interface keeps those steps instead of offering "start and wait".
// Handles are explicit and must be closed, as with Win32; a handle that was never opened or is
// already closed fails with win::InvalidHandle. Every failure carries the Windows error number
// that GetLastError would give (see Result.h): AccessDenied 5, ServiceAlreadyRunning 1056,
// ServiceDoesNotExist 1060, ServiceCannotAcceptCtrl 1061, ServiceNotActive 1062, ...

#include "platform/Result.h"

#include <cstdint>
#include <string_view>

namespace kv::platform {

// Current states of a service (SERVICE_STATUS.dwCurrentState).
namespace ServiceState {
inline constexpr std::uint32_t Stopped = 1;
inline constexpr std::uint32_t StartPending = 2;
inline constexpr std::uint32_t StopPending = 3;
inline constexpr std::uint32_t Running = 4;
inline constexpr std::uint32_t ContinuePending = 5;
inline constexpr std::uint32_t PausePending = 6;
inline constexpr std::uint32_t Paused = 7;
} // namespace ServiceState

// Access rights (winsvc.h).
namespace ServiceAccess {
inline constexpr std::uint32_t ManagerConnect = 0x0001;       // SC_MANAGER_CONNECT
inline constexpr std::uint32_t ManagerCreateService = 0x0002; // SC_MANAGER_CREATE_SERVICE
inline constexpr std::uint32_t ManagerEnumerateService = 0x0004;
inline constexpr std::uint32_t ManagerAllAccess = 0xF003F; // SC_MANAGER_ALL_ACCESS
inline constexpr std::uint32_t QueryConfig = 0x0001;       // SERVICE_QUERY_CONFIG
inline constexpr std::uint32_t QueryStatus = 0x0004;       // SERVICE_QUERY_STATUS
inline constexpr std::uint32_t Start = 0x0010;             // SERVICE_START
inline constexpr std::uint32_t Stop = 0x0020;              // SERVICE_STOP
inline constexpr std::uint32_t AllAccess = 0xF01FF;        // SERVICE_ALL_ACCESS
} // namespace ServiceAccess

// The part of SERVICE_STATUS the console reads.
struct ServiceStatus {
    std::uint32_t currentState = ServiceState::Stopped;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0; // milliseconds
    friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;
};

// An SC_HANDLE: 0 is no handle. Manager and service handles share one numbering.
struct ServiceHandle {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(ServiceHandle, ServiceHandle) = default;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;

    // OpenSCManager(machine, default database, access). An empty machine is this computer.
    virtual Result<ServiceHandle> openManager(std::string_view machine, std::uint32_t access) = 0;
    // OpenService(manager, name, access). Unknown name: ServiceDoesNotExist.
    virtual Result<ServiceHandle> openService(ServiceHandle manager, std::string_view name,
                                              std::uint32_t access) = 0;
    // QueryServiceStatus; needs ServiceAccess::QueryStatus on the handle.
    virtual Result<ServiceStatus> queryStatus(ServiceHandle service) = 0;
    // StartService with no arguments; needs ServiceAccess::Start. A service that is not stopped
    // fails with ServiceAlreadyRunning.
    virtual Result<void> start(ServiceHandle service) = 0;
    // ControlService(SERVICE_CONTROL_STOP); needs ServiceAccess::Stop. Returns the status after
    // the request (normally stop pending). A stopped service fails with ServiceNotActive, a
    // pending one with ServiceCannotAcceptCtrl.
    virtual Result<ServiceStatus> controlStop(ServiceHandle service) = 0;
    // CloseServiceHandle, for manager and service handles alike.
    virtual Result<void> close(ServiceHandle handle) = 0;
};

} // namespace kv::platform
