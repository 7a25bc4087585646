#include "console/service_wait.h"

namespace kv::console {

namespace sa = platform::ServiceAccess;
namespace ss = platform::ServiceState;
using platform::ServiceHandle;
using platform::ServiceManager;

namespace {

// The rights of each step. Querying asks for "start" as well, so a user who may query but not
// start the service sees it as missing; that is how the console has always behaved.
constexpr std::uint32_t QueryRights = sa::QueryStatus | sa::Start; // 0x14
constexpr std::uint32_t StartRights = sa::QueryStatus | sa::Start; // 0x14
constexpr std::uint32_t StopRights = sa::QueryStatus | sa::Stop;   // 0x24

// The manager and service handles of one step, closed in the order service, manager.
class OpenedService {
public:
    OpenedService(ServiceManager& services, std::string_view machine, std::string_view name,
                  std::uint32_t rights)
        : services_(services) {
        auto manager = services_.openManager(machine, sa::ManagerConnect);
        if (!manager)
            return;
        manager_ = *manager;
        auto service = services_.openService(manager_, name, rights);
        if (service)
            service_ = *service;
    }
    ~OpenedService() {
        // Closing is best effort, exactly like CloseServiceHandle whose result nobody reads.
        if (service_)
            (void)services_.close(service_);
        if (manager_)
            (void)services_.close(manager_);
    }
    OpenedService(const OpenedService&) = delete;
    OpenedService& operator=(const OpenedService&) = delete;

    explicit operator bool() const { return static_cast<bool>(service_); }
    ServiceHandle handle() const { return service_; }

private:
    ServiceManager& services_;
    ServiceHandle manager_;
    ServiceHandle service_;
};

// Whether a state is one a service rests in, as opposed to a pending one.
bool settledState(std::uint32_t state) {
    return state == ss::Stopped || state == ss::Running || state == ss::Paused;
}

// Waits while the service is not in `awaited`, starting from the status read right after the
// request. Every round remembers the checkpoint, sleeps, and reads the status again; a failed
// read or a smaller checkpoint ends the wait, an equal or larger one keeps it going unless the
// service has come to rest in another state with no progress.
ServiceWaitEnd waitForState(ServiceManager& services, platform::Clock& clock, ServiceHandle service,
                            platform::ServiceStatus status, std::uint32_t awaited) {
    std::uint32_t waited = 0;
    while (status.currentState != awaited) {
        if (waited + ServiceWaitStepMs > ServiceWaitLimitMs)
            return ServiceWaitEnd::TimedOut;
        const std::uint32_t checkPoint = status.checkPoint;
        clock.sleep(ServiceWaitStepMs);
        waited += ServiceWaitStepMs;
        auto next = services.queryStatus(service);
        if (!next)
            return ServiceWaitEnd::Vanished;
        status = *next;
        if (status.currentState == awaited)
            break;
        if (status.checkPoint < checkPoint)
            return ServiceWaitEnd::CheckpointFell;
        if (status.currentState != awaited && settledState(status.currentState) &&
            status.checkPoint <= checkPoint)
            return ServiceWaitEnd::Settled;
    }
    return ServiceWaitEnd::Reached;
}

} // namespace

ServiceView serviceViewOf(std::uint32_t currentState) {
    switch (currentState) {
    case ss::Stopped:
    case ss::Paused:
        return svcStopped;
    case ss::Running:
        return svcRunning;
    default:
        return svcMissing;
    }
}

ServiceView queryServiceView(ServiceManager& services, std::string_view machine,
                             std::string_view service) {
    OpenedService opened(services, machine, service, QueryRights);
    if (!opened)
        return svcMissing;
    // A status that cannot be read leaves nothing to show: the service reads as missing.
    auto status = services.queryStatus(opened.handle());
    return status ? serviceViewOf(status->currentState) : svcMissing;
}

ServiceWaitEnd startServiceAndWait(ServiceManager& services, platform::Clock& clock,
                                   std::string_view machine, std::string_view service) {
    OpenedService opened(services, machine, service, StartRights);
    if (!opened)
        return ServiceWaitEnd::NoWait;
    if (!services.start(opened.handle()))
        return ServiceWaitEnd::NoWait;
    auto status = services.queryStatus(opened.handle());
    if (!status)
        return ServiceWaitEnd::NoWait;
    return waitForState(services, clock, opened.handle(), *status, ss::Running);
}

ServiceWaitEnd stopServiceAndWait(ServiceManager& services, platform::Clock& clock,
                                  std::string_view machine, std::string_view service) {
    OpenedService opened(services, machine, service, StopRights);
    if (!opened)
        return ServiceWaitEnd::NoWait;
    if (!services.controlStop(opened.handle()))
        return ServiceWaitEnd::NoWait;
    auto status = services.queryStatus(opened.handle());
    if (!status)
        return ServiceWaitEnd::NoWait;
    return waitForState(services, clock, opened.handle(), *status, ss::Stopped);
}

} // namespace kv::console
