#pragma once
// A fresh simulated Windows host for one end-to-end test of the console: its own folder, the
// MSSQLSERVER service as a small shell script, the product's data files on demand, and a fake
// clock in place of the real one so that the 8000 ms service waits cost nothing.
//
// The service script reports its state through the host's status file. Two gate files hold it at
// the points where a test wants to decide when the service moves on:
//   start gate   after "start pending" and before "running" (or before failing, see below)
//   stop gate    after the stop request arrived and before the service ends
// Tests that do not care open both gates up front.

#include "platform/Clock.h"
#include "platform/CompositePlatform.h"
#include "platform/Platform.h"
#include "platform/posix/SimHost.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kv::e2e {

enum class ServiceKind {
    Starts,       // start pending (checkpoint 1), then running; stops on request
    FailsToStart, // start pending (checkpoint 5), then stopped with checkpoint 0, and exits
    Hangs,        // start pending (checkpoint 1) until stopped
    Dies,         // start pending (checkpoint 0), then stopped with the same checkpoint, and exits
};

// Runs `done` against pending window messages until it is true or `timeout` has passed.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The message of an activity log line: everything after the time stamp and its blank.
std::string messageOf(const std::string& logLine);

// UTF-8 text in Windows-1254, for the Turkish letters and ASCII the console writes.
std::string toWindows1254(const std::string& utf8);

class ConsoleHost {
public:
    ConsoleHost();
    ~ConsoleHost();

    const std::filesystem::path& folder() const { return folder_; }
    platform::sim::SimHost& host() { return *host_; }
    // The platform the console gets: the simulated host with the fake clock.
    platform::CompositePlatform& platform() { return *platform_; }
    platform::Platform& simulated() { return *simulated_; }
    platform::ManualClock& clock() { return clock_; }

    // "C:\Kelvora\Data" and, as asked, the two database files in it.
    void makeDataFiles(bool dataFile = true, bool logFile = true);
    // Where a Windows path of drive C lives on disk.
    std::filesystem::path onDisk(const std::string& windowsPath) const;

    void installService(ServiceKind kind);
    void openStartGate();
    void openStopGate();
    // Starts the service from outside the console and waits until it runs.
    void startServiceNow();
    platform::ServiceStatus serviceStatus() const;
    bool waitForServiceState(std::uint32_t state);

    // Starts a copy of /bin/sleep under `name`; the process is reaped by the destructor.
    pid_t startProgramNamed(const std::string& name);
    // Whether the process ended by SIGKILL (waits up to a few seconds for it).
    bool endedByKill(pid_t pid);
    bool stillRunning(pid_t pid);

private:
    void stopServiceProcess();

    std::filesystem::path folder_;
    std::optional<platform::sim::SimHost> host_;
    std::unique_ptr<platform::Platform> simulated_;
    platform::ManualClock clock_;
    std::unique_ptr<platform::CompositePlatform> platform_;
    std::vector<pid_t> programs_;
};

} // namespace kv::e2e
