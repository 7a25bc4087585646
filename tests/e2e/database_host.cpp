#include "database_host.h"

#include "platform/ServiceManager.h"
#include "platform/posix/ServiceReporter.h"

#include <QThread>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

namespace kv::e2e {

namespace fs = std::filesystem;

namespace {

fs::path binFolder() {
    // The test runs from BUILD/tests; simhost and the stand-in are in BUILD/bin.
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string runCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    status = ::pclose(pipe);
    return output;
}

} // namespace

DatabaseHost::DatabaseHost(const DatabaseHostOptions& options) {
    std::string pattern = (fs::temp_directory_path() / "kelvora-dbe2e-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    folder_ = pattern;
    root_ = folder_ / "host";
    std::string command = quoted((binFolder() / "simhost").string()) + " create " +
                          quoted(root_.string()) + " --standin --profile " + options.profile;
    if (!options.saPassword.empty())
        command += " --sa-password " + quoted(options.saPassword);
    if (options.damaged > 0)
        command += " --damaged " + std::to_string(options.damaged);
    if (options.dataMiB > 0)
        command += " --data-mib " + std::to_string(options.dataMiB);
    if (!options.lastGoodCheck.empty())
        command += " --last-good-check " + quoted(options.lastGoodCheck);
    command += " --database " + options.database + " --service " + options.service + " 2>&1";
    int status = 0;
    const std::string output = runCommand(command, status);
    if (status != 0)
        throw std::runtime_error("simhost create failed: " + output);
    auto opened = platform::sim::SimHost::open(root_);
    if (!opened)
        throw std::runtime_error("cannot open the host: " + opened.error().message);
    host_.emplace(std::move(opened).value());
    // The OLE DB provider finds the host's server names through this variable.
    ::setenv("KELVORA_HOST", root_.c_str(), 1);
    simulated_ = platform::sim::createSimulatedPlatform(*host_);
    platform_ = std::make_unique<platform::CompositePlatform>(simulated_.get());
    platform_->setClock(&clock_);
    clock_.setOnSleep([this](std::uint32_t ms) {
        if (ms < 1000)
            return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const auto state = serviceState();
            if (state != platform::ServiceState::StartPending &&
                state != platform::ServiceState::StopPending)
                return;
            // Short steps: the wait should end when the service does, not up to a step later.
            QThread::msleep(2);
        }
    });
}

DatabaseHost::~DatabaseHost() {
    int status = 0;
    (void)runCommand(quoted((binFolder() / "simhost").string()) + " service " +
                         quoted(root_.string()) + " stop MSSQLSERVER --wait 20000 2>&1",
                     status);
    ::unsetenv("KELVORA_HOST");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string DatabaseHost::simhost(const std::vector<std::string>& arguments) {
    std::string command = quoted((binFolder() / "simhost").string());
    for (size_t i = 0; i < arguments.size(); ++i) {
        command += " " + quoted(arguments[i]);
        if (i == 0)
            command += " " + quoted(root_.string());
    }
    int status = 0;
    return runCommand(command + " 2>&1", status);
}

void DatabaseHost::setSetting(const std::string& key, const std::string& value) {
    if (auto set = host_->setSetting(key, value); !set)
        throw std::runtime_error("cannot set " + key + ": " + set.error().message);
}

void DatabaseHost::killService() {
    (void)simhost({"service", "kill", "MSSQLSERVER"});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (serviceState() != platform::ServiceState::Stopped &&
           std::chrono::steady_clock::now() < end)
        QThread::msleep(20);
}

std::string DatabaseHost::check(const std::string& windowsPath) {
    std::string out = simhost({"check", windowsPath});
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

fs::path DatabaseHost::onDisk(const std::string& windowsPath) {
    auto resolved = host_->resolve(windowsPath);
    if (!resolved)
        throw std::runtime_error("cannot resolve " + windowsPath);
    return *resolved;
}

bool DatabaseHost::fileExists(const std::string& windowsPath) {
    return simulated_->files().fileExists(windowsPath);
}

std::vector<std::string> DatabaseHost::filesIn(const std::string& windowsFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(onDisk(windowsFolder), ec))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t DatabaseHost::serviceState() {
    auto& services = simulated_->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager)
        return 0;
    std::uint32_t state = 0;
    auto service =
        services.openService(*manager, "MSSQLSERVER", platform::ServiceAccess::QueryStatus);
    if (service) {
        auto status = services.queryStatus(*service);
        state = status ? status->currentState : 0;
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    return state;
}

} // namespace kv::e2e
