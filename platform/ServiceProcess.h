#pragma once
// The service side of a service: a program the service manager started reports its states to
// the manager and hears its stop request through this interface. The other side, the one that
// starts and stops services, is ServiceManager.h.
//
// Windows: StartServiceCtrlDispatcher, RegisterServiceCtrlHandlerEx and SetServiceStatus; the
// program's body runs in the service's main thread while the program's main thread serves the
// dispatcher. Simulated host: the status file named in KELVORA_SERVICE_STATUS
// (posix/ServiceReporter.h), and a stop request arrives as SIGTERM.
//
// The same body can run in the foreground (tests, a server started by hand): its reports go
// nowhere, and the stop request is Ctrl+C (Windows console) or SIGTERM / SIGINT.

#include "platform/Result.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace kv::platform {

class ServiceProcess {
public:
    virtual ~ServiceProcess() = default;

    // SetServiceStatus with `state` (ServiceManager.h's ServiceState). The checkpoint is kept
    // here: it rises by one with every report of a pending state and is 0 in a settled one, so
    // the manager's waits see progress. `waitHint` is the milliseconds until the next report;
    // `exitCode` is the program's own error number when it reports stopped after a failure.
    // A process that reports to no manager (the foreground) succeeds without doing anything.
    virtual Result<void> report(std::uint32_t state, std::uint32_t waitHint = 0,
                                std::uint32_t exitCode = 0) = 0;
    // Blocks until the stop request arrives. The manager's stop request is answered with stop
    // pending (the next checkpoint) before this returns, so the requester sees the stop begin.
    virtual void waitForStop() = 0;
    // True when the reports reach a service manager.
    virtual bool reporting() const = 0;
};

using ServiceBody = std::function<int(ServiceProcess& service)>;

// Runs `body` as the service `name`, connected to the service manager, and returns its exit
// code. Fails when the program was not started by the service manager: Windows gives 1063
// (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT); the simulated host runs the body anyway when
// KELVORA_SERVICE_STATUS is not set, with reporting() false.
Result<int> runAsService(std::string_view name, const ServiceBody& body);

// Runs `body` in the foreground and returns its exit code.
int runInForeground(const ServiceBody& body);

} // namespace kv::platform
