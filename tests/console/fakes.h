#pragma once
// Scriptable stand-ins for the platform's service manager and process table, recording every
// call so that tests can check the exact Win32-shaped sequence the console uses.

#include "platform/ProcessTable.h"
#include "platform/ServiceManager.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kv::console::testing {

using namespace kv::platform;

class FakeServiceManager final : public ServiceManager {
public:
    // What the next calls answer.
    bool managerOpens = true;
    bool serviceExists = true;
    std::uint32_t grantedRights = ServiceAccess::AllAccess;
    ErrorCode startError = win::Success;
    ErrorCode stopError = win::Success;
    // Answers of queryStatus in order; the last one repeats. An entry with state 0 is a failed
    // query.
    std::deque<ServiceStatus> statuses{ServiceStatus{ServiceState::Stopped, 0, 0}};

    // What happened.
    std::vector<std::string> calls;
    std::vector<std::uint32_t> serviceRightsAsked;
    std::set<std::uint64_t> openHandles;

    Result<ServiceHandle> openManager(std::string_view machine, std::uint32_t access) override {
        calls.push_back("openManager(" + std::string(machine) + "," + std::to_string(access) + ")");
        if (!managerOpens)
            return Error{win::AccessDenied, "manager refused"};
        return track(ServiceHandle{nextId_++});
    }
    Result<ServiceHandle> openService(ServiceHandle manager, std::string_view name,
                                      std::uint32_t access) override {
        calls.push_back("openService(" + std::string(name) + ")");
        serviceRightsAsked.push_back(access);
        if (!openHandles.count(manager.id))
            return Error{win::InvalidHandle, "bad manager handle"};
        if (!serviceExists)
            return Error{win::ServiceDoesNotExist, "no such service"};
        if ((access & grantedRights) != access)
            return Error{win::AccessDenied, "rights refused"};
        service_ = ServiceHandle{nextId_++};
        return track(service_);
    }
    Result<ServiceStatus> queryStatus(ServiceHandle service) override {
        calls.push_back("queryStatus");
        if (service != service_ || !openHandles.count(service.id))
            return Error{win::InvalidHandle, "bad service handle"};
        ServiceStatus status = statuses.front();
        if (statuses.size() > 1)
            statuses.pop_front();
        if (status.currentState == 0)
            return Error{win::GenFailure, "query failed"};
        return status;
    }
    Result<void> start(ServiceHandle) override {
        calls.push_back("start");
        if (startError != win::Success)
            return Error{startError, "start refused"};
        return success();
    }
    Result<ServiceStatus> controlStop(ServiceHandle) override {
        calls.push_back("controlStop");
        if (stopError != win::Success)
            return Error{stopError, "stop refused"};
        return ServiceStatus{ServiceState::StopPending, 0, 0};
    }
    Result<void> close(ServiceHandle handle) override {
        calls.push_back(handle == service_ ? "close(service)" : "close(manager)");
        if (!openHandles.erase(handle.id))
            return Error{win::InvalidHandle, "not open"};
        return success();
    }

private:
    ServiceHandle track(ServiceHandle h) {
        openHandles.insert(h.id);
        return h;
    }
    std::uint64_t nextId_ = 1;
    ServiceHandle service_;
};

class FakeProcessTable final : public ProcessTable {
public:
    std::vector<ProcessEntry> processes;
    std::set<std::uint32_t> refuseOpen;      // pids whose open fails (another user's process)
    std::set<std::uint32_t> refuseTerminate; // pids whose termination fails
    bool snapshotFails = false;
    std::vector<std::uint32_t> terminated;
    int openCount = 0;

    Result<std::vector<ProcessEntry>> snapshot() override {
        if (snapshotFails)
            return Error{win::AccessDenied, "no snapshot"};
        return processes;
    }
    Result<ProcessHandle> openForTerminate(std::uint32_t pid) override {
        if (refuseOpen.count(pid))
            return Error{win::AccessDenied, "refused"};
        ++openCount;
        return ProcessHandle{pid};
    }
    Result<void> terminate(ProcessHandle handle, std::uint32_t) override {
        const auto pid = static_cast<std::uint32_t>(handle.id);
        if (refuseTerminate.count(pid))
            return Error{win::AccessDenied, "cannot terminate"};
        terminated.push_back(pid);
        return success();
    }
    Result<void> close(ProcessHandle) override {
        --openCount;
        return success();
    }
};

} // namespace kv::console::testing
