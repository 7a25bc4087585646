#pragma once
// A simulated host made by `simhost create DIR --standin ...`: the stand-in SQL Server as the
// host's running MSSQLSERVER service with the product database, plus a fake clock whose 8000 ms
// sleeps wait (in real time, briefly) until the service has left its pending state, so the
// console's service waits see what a real wait would see without costing eight seconds.

#include "platform/Clock.h"
#include "platform/CompositePlatform.h"
#include "platform/Platform.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::e2e {

struct DatabaseHostOptions {
    std::string profile = "2000";
    std::string service = "running";   // running | stopped | missing
    std::string database = "attached"; // attached | detached | none
    int damaged = 0;
    int dataMiB = 0;        // 0: simhost's small demo data file
    std::string saPassword; // empty: the stand-in's default
    // When a check last found the database clean ("YYYY-MM-DD hh:mm:ss"); empty: never.
    std::string lastGoodCheck;
};

class DatabaseHost {
public:
    explicit DatabaseHost(const DatabaseHostOptions& options = {});
    ~DatabaseHost();

    platform::CompositePlatform& platform() { return *platform_; }
    // The simulated host's own parts, for decorators that a test puts in front of them.
    platform::Platform& simulated() { return *simulated_; }
    // A key of host.conf (the file functions' fault injection reads it at each call).
    void setSetting(const std::string& key, const std::string& value);
    // Ends the service's process at once, as a crash would, and waits until it has gone.
    void killService();
    platform::ManualClock& clock() { return clock_; }
    platform::sim::SimHost& host() { return *host_; }

    // Runs simhost with the host folder as its first argument; its standard output.
    std::string simhost(const std::vector<std::string>& arguments);
    // "consistent" or "N damaged pages" of a stand-in data file.
    std::string check(const std::string& windowsPath);
    bool fileExists(const std::string& windowsPath);
    std::filesystem::path onDisk(const std::string& windowsPath);
    // The names of the files in a folder of drive C.
    std::vector<std::string> filesIn(const std::string& windowsFolder);
    // The service's state as the host reports it.
    std::uint32_t serviceState();

private:
    oledb::ComScope com_;
    std::filesystem::path folder_;
    std::filesystem::path root_;
    std::optional<platform::sim::SimHost> host_;
    std::unique_ptr<platform::Platform> simulated_;
    platform::ManualClock clock_;
    std::unique_ptr<platform::CompositePlatform> platform_;
};

} // namespace kv::e2e
