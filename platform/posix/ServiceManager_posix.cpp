// The service manager of the simulated host: service definitions in services/, status reports
// written by the service processes in run/, the process id kept by the host in run/NAME.pid.
// See README.md in this folder for the files and the state rules.

#include "platform/Diagnostics.h"
#include "platform/posix/HostFiles.h"
#include "platform/posix/HostPath.h"
#include "platform/posix/ServiceReporter.h"
#include "platform/posix/SimBackends.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kv::platform::sim {

namespace fs = std::filesystem;
using namespace detail;

Result<std::vector<std::string>> splitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const auto end = line.find('\'', i + 1);
            if (end == std::string_view::npos)
                return Error{win::InvalidParameter, "unterminated ' in the command line"};
            word.append(line.substr(i + 1, end - i - 1));
            i = end;
            inWord = true;
        } else if (c == '"') {
            inWord = true;
            for (++i;; ++i) {
                if (i >= line.size())
                    return Error{win::InvalidParameter, "unterminated \" in the command line"};
                if (line[i] == '"')
                    break;
                if (line[i] == '\\' && i + 1 < line.size() &&
                    std::string_view("\\\"$`").find(line[i + 1]) != std::string_view::npos)
                    ++i;
                word += line[i];
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size())
                return Error{win::InvalidParameter, "a lone \\ ends the command line"};
            word += line[++i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

Result<ServiceDefinition> readServiceDefinition(const fs::path& file) {
    auto text = readWholeFile(file);
    if (!text)
        return text.error();
    return parseServiceDefinition(*text, file);
}

Result<ServiceDefinition> parseServiceDefinition(std::string_view text, const fs::path& file) {
    ServiceDefinition def;
    def.name = file.stem().string();
    bool corrupt = false;
    const auto bad = [&](const KeyValue& entry, const std::string& why) {
        reportDiagnostic(file.string() + ":" + std::to_string(entry.line) + ": " + why);
        corrupt = true;
    };
    for (const auto& entry : parseKeyValues(text, file, &corrupt)) {
        if (entry.key == "command") {
            auto words = splitCommandLine(entry.value);
            if (!words)
                bad(entry, words.error().message);
            else
                def.command = std::move(*words);
        } else if (entry.key == "refuse_manager_access" || entry.key == "refuse_service_access" ||
                   entry.key == "fail_start") {
            const auto number = parseNumber(entry.value);
            if (!number)
                bad(entry, entry.key + " needs a number, not \"" + entry.value + "\"");
            else if (entry.key == "refuse_manager_access")
                def.refuseManagerAccess = *number;
            else if (entry.key == "refuse_service_access")
                def.refuseServiceAccess = *number;
            else
                def.failStart = *number;
        }
        // Unknown keys belong to the service program or to later versions; they are kept quiet.
    }
    if (corrupt)
        return Error{win::FileCorrupt, "the service definition " + file.string() + " is corrupt"};
    return def;
}

std::optional<PidRecord> parsePidFile(std::string_view text, const fs::path& file) {
    bool corrupt = false;
    PidRecord record;
    for (const auto& entry : parseKeyValues(text, file, &corrupt)) {
        if (entry.key == "pid") {
            const auto number = parseNumber(entry.value);
            if (number && *number > 0 && *number < 0x7fffffff)
                record.pid = static_cast<int>(*number);
        } else if (entry.key == "start_time") {
            record.startTime = std::strtoull(entry.value.c_str(), nullptr, 10);
        }
    }
    if (record.pid == 0) {
        reportDiagnostic(file.string() + ":1: corrupt process id file; the service reads stopped");
        return std::nullopt;
    }
    return record;
}

namespace {

std::optional<PidRecord> readPidFile(const fs::path& file) {
    auto text = readWholeFile(file);
    if (!text)
        return std::nullopt;
    return parsePidFile(*text, file);
}

// Alive means: a process with that id exists, is not a zombie and started at the recorded time.
// A child of ours that has exited is reaped here; other processes' children are only looked at,
// and nothing is ever reaped that is not the recorded process.
bool alive(const PidRecord& record) {
    const auto stat = readProcStat(record.pid);
    if (!stat)
        return false;
    if (record.startTime != 0 && stat->startTime != record.startTime)
        return false; // the id was reused by another process
    int status = 0;
    const pid_t reaped = ::waitpid(record.pid, &status, WNOHANG);
    if (reaped == record.pid)
        return false;
    return stat->state != 'Z' && stat->state != 'X' && stat->state != 'x';
}

// Serialises start and stop between the programs that share a host (the console, simhost).
class RunLock {
public:
    explicit RunLock(const fs::path& folder) {
        fd_ = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~RunLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

private:
    int fd_ = -1;
};

// The program to execute: a bare name is searched in PATH, a relative path is taken from the
// host folder (the service's working directory).
std::optional<std::string> findProgram(const std::string& name, const fs::path& hostRoot) {
    if (name.find('/') != std::string::npos) {
        const fs::path path = fs::path(name).is_absolute() ? fs::path(name) : hostRoot / name;
        return path.string();
    }
    const char* pathVariable = std::getenv("PATH");
    std::string_view dirs = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = dirs.find(':');
        const auto dir = dirs.substr(0, colon);
        const auto candidate = (dir.empty() ? fs::path(".") : fs::path(dir)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        if (colon == std::string_view::npos)
            return std::nullopt;
        dirs.remove_prefix(colon + 1);
    }
}

struct Spawned {
    int pid = 0;
};

// Starts the service program detached: a session of its own, stdin from /dev/null, output
// appended to the log, the host folder as working directory, the host and status file in its
// environment. An exec failure in the child comes back through a close-on-exec pipe.
Result<Spawned> spawnService(const SimHost& host, const ServiceDefinition& def) {
    if (def.command.empty())
        return Error{win::FileNotFound, "the service " + def.name + " has no command line"};
    const auto program = findProgram(def.command.front(), host.root());
    if (!program)
        return Error{win::FileNotFound,
                     "the service program " + def.command.front() + " was not found in PATH"};

    // Everything the child needs is prepared before fork: after it, only async-signal-safe
    // calls are made.
    std::vector<std::string> envStrings;
    const std::string hostEntry = std::string(HostVariable) + "=" + host.root().string();
    const std::string statusEntry =
        std::string(StatusVariable) + "=" + host.statusFile(def.name).string();
    for (char** env = environ; env && *env; ++env) {
        const std::string_view entry = *env;
        if (entry.starts_with(std::string(HostVariable) + "=") ||
            entry.starts_with(std::string(StatusVariable) + "="))
            continue;
        envStrings.emplace_back(entry);
    }
    envStrings.push_back(hostEntry);
    envStrings.push_back(statusEntry);
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = def.command;
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string rootDir = host.root().string();

    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log =
        ::open(host.logFile(def.name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int pipeFds[2] = {-1, -1};
    if (devNull < 0 || log < 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        const int err = errno;
        for (int fd : {devNull, log, pipeFds[0], pipeFds[1]})
            if (fd >= 0)
                ::close(fd);
        return errnoError(err, "cannot prepare the start of " + def.name);
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        ::dup2(devNull, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (::chdir(rootDir.c_str()) != 0) {
            // stays in the parent's directory; the service finds the host through its env
        }
        // Descriptors the caller left inheritable (sockets, files) must not live on in the
        // service; marked close-on-exec they still carry an exec failure back through the pipe.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT})
            ::signal(sig, SIG_DFL);
        ::execve(program->c_str(), argv.data(), envp.data());
        const int err = errno;
        if (::write(pipeFds[1], &err, sizeof err) < 0) {
            // nothing more can be reported
        }
        ::_exit(127);
    }
    const int forkErr = errno;
    ::close(pipeFds[1]);
    ::close(devNull);
    ::close(log);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return errnoError(forkErr, "cannot start " + def.name);
    }
    int execErr = 0;
    ssize_t got;
    while ((got = ::read(pipeFds[0], &execErr, sizeof execErr)) < 0 && errno == EINTR) {
    }
    ::close(pipeFds[0]);
    if (got == static_cast<ssize_t>(sizeof execErr)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return errnoError(execErr, "cannot run the service program " + *program);
    }
    return Spawned{pid};
}

void removeIfThere(const fs::path& file) {
    ::unlink(file.c_str());
}

} // namespace

Result<ServiceHandle> SimServiceManager::openManager(std::string_view machine,
                                                     std::uint32_t access) {
    std::string_view name = machine;
    while (name.starts_with("\\"))
        name.remove_prefix(1);
    if (!name.empty() && !sameName(name, host_.computerName()) && name != "." &&
        !sameName(name, "localhost"))
        return Error{win::RpcServerUnavailable,
                     "the machine " + std::string(machine) + " cannot be reached"};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(host_.servicesFolder(), ec)) {
        if (entry.path().extension() != ".service")
            continue;
        auto def = readServiceDefinition(entry.path());
        if (def && (def->refuseManagerAccess & access) != 0) {
            char mask[16];
            std::snprintf(mask, sizeof mask, "0x%x", access);
            return Error{win::AccessDenied, std::string("the service manager refuses access ") +
                                                mask + " (set by " +
                                                entry.path().filename().string() + ")"};
        }
    }
    std::lock_guard lock(mutex_);
    const auto id = nextHandle_++;
    handles_[id] = OpenHandle{true, {}, access};
    return ServiceHandle{id};
}

Result<ServiceHandle> SimServiceManager::openService(ServiceHandle manager, std::string_view name,
                                                     std::uint32_t access) {
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(manager.id);
        if (it == handles_.end() || !it->second.manager)
            return Error{win::InvalidHandle, "not an open service manager handle"};
    }
    if (name.empty() || name.find_first_of("/\\") != std::string_view::npos)
        return Error{win::InvalidName, "invalid service name \"" + std::string(name) + "\""};
    const auto file = host_.serviceDefinition(name);
    if (!file)
        return Error{win::ServiceDoesNotExist,
                     "the service " + std::string(name) + " does not exist on this host"};
    auto def = readServiceDefinition(*file);
    if (def && (def->refuseServiceAccess & access) != 0)
        return Error{win::AccessDenied,
                     "the service " + def->name + " refuses the requested access rights"};
    std::lock_guard lock(mutex_);
    const auto id = nextHandle_++;
    handles_[id] = OpenHandle{false, file->stem().string(), access};
    return ServiceHandle{id};
}

Result<SimServiceManager::OpenHandle> SimServiceManager::serviceHandle(ServiceHandle handle,
                                                                       std::uint32_t needed) {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle.id);
    if (it == handles_.end() || it->second.manager)
        return Error{win::InvalidHandle, "not an open service handle"};
    if ((it->second.access & needed) != needed)
        return Error{win::AccessDenied, "the service handle of " + it->second.service +
                                            " was not opened with the needed access right"};
    return it->second;
}

bool SimServiceManager::serviceProcessAlive(const std::string& service) {
    const auto pidFile = host_.pidFile(service);
    const auto record = readPidFile(pidFile);
    if (record && alive(*record))
        return true;
    // Gone: leave no stale "running" behind.
    std::error_code ec;
    const bool hadProcess = fs::exists(pidFile, ec);
    const auto status = readStatusFile(host_.statusFile(service));
    if (hadProcess || (status && status->currentState != ServiceState::Stopped)) {
        if (auto written = writeStatusFile(host_.statusFile(service), ServiceStatus{}); !written)
            reportDiagnostic(written.error().message);
    }
    removeIfThere(pidFile);
    removeIfThere(host_.runFolder() / (service + ".stop"));
    return false;
}

ServiceStatus SimServiceManager::currentStatus(const std::string& service) {
    if (!serviceProcessAlive(service))
        return ServiceStatus{};
    auto status = readStatusFile(host_.statusFile(service));
    if (!status) {
        if (status.code() == win::FileNotFound)
            return ServiceStatus{ServiceState::StartPending, 0, 0};
        return ServiceStatus{}; // corrupt: reported by the reader, reads stopped
    }
    std::error_code ec;
    if (fs::exists(host_.runFolder() / (service + ".stop"), ec) &&
        status->currentState != ServiceState::StopPending &&
        status->currentState != ServiceState::Stopped)
        return ServiceStatus{ServiceState::StopPending, 0, 0};
    return *status;
}

Result<ServiceStatus> SimServiceManager::queryStatus(ServiceHandle service) {
    auto open = serviceHandle(service, ServiceAccess::QueryStatus);
    if (!open)
        return open.error();
    return currentStatus(open->service);
}

Result<void> SimServiceManager::start(ServiceHandle service) {
    auto open = serviceHandle(service, ServiceAccess::Start);
    if (!open)
        return open.error();
    const auto file = host_.serviceDefinition(open->service);
    if (!file)
        return Error{win::ServiceDoesNotExist, "the service " + open->service + " was removed"};
    auto def = readServiceDefinition(*file);
    if (!def)
        return Error{win::FileNotFound, def.error().message};
    if (def->failStart)
        return Error{*def->failStart, "the start of " + def->name + " fails (fail_start)"};

    RunLock lock(host_.runFolder());
    if (serviceProcessAlive(def->name)) {
        // A service that has reported stopped counts as stopped, as with Windows, even while its
        // process is still on its way out; give that process a moment to end first.
        const auto reported = readStatusFile(host_.statusFile(def->name));
        if (!reported || reported->currentState != ServiceState::Stopped)
            return Error{win::ServiceAlreadyRunning,
                         "the service " + def->name + " is not stopped"};
        for (int i = 0; i < 400 && serviceProcessAlive(def->name); ++i)
            ::usleep(5000);
    }
    removeIfThere(host_.runFolder() / (def->name + ".stop"));
    if (auto written = writeStatusFile(host_.statusFile(def->name),
                                       ServiceStatus{ServiceState::StartPending, 0, 0});
        !written)
        return written;
    auto spawned = spawnService(host_, *def);
    if (!spawned) {
        if (auto written = writeStatusFile(host_.statusFile(def->name), ServiceStatus{}); !written)
            reportDiagnostic(written.error().message);
        return spawned.error();
    }
    const auto stat = readProcStat(spawned->pid);
    const std::string record = "pid = " + std::to_string(spawned->pid) +
                               "\nstart_time = " + std::to_string(stat ? stat->startTime : 0) +
                               "\n";
    if (auto written = writeFileAtomically(host_.pidFile(def->name), record, false); !written) {
        ::kill(spawned->pid, SIGKILL);
        ::waitpid(spawned->pid, nullptr, 0);
        return written;
    }
    return success();
}

Result<ServiceStatus> SimServiceManager::controlStop(ServiceHandle service) {
    auto open = serviceHandle(service, ServiceAccess::Stop);
    if (!open)
        return open.error();
    RunLock lock(host_.runFolder());
    const auto status = currentStatus(open->service);
    if (status.currentState == ServiceState::Stopped)
        return Error{win::ServiceNotActive, "the service " + open->service + " is not running"};
    if (status.currentState != ServiceState::Running && status.currentState != ServiceState::Paused)
        return Error{win::ServiceCannotAcceptCtrl,
                     "the service " + open->service + " cannot accept a stop request now"};
    const auto record = readPidFile(host_.pidFile(open->service));
    if (!record)
        return Error{win::ServiceNotActive, "the service " + open->service + " is not running"};
    if (auto written =
            writeFileAtomically(host_.runFolder() / (open->service + ".stop"), "stop\n", false);
        !written)
        return written.error();
    if (::kill(record->pid, SIGTERM) != 0) {
        const int err = errno;
        removeIfThere(host_.runFolder() / (open->service + ".stop"));
        return errnoError(err, "cannot signal the service " + open->service);
    }
    return ServiceStatus{ServiceState::StopPending, 0, 0};
}

Result<bool> killServiceProcess(const SimHost& host, std::string_view service) {
    const auto file = host.serviceDefinition(service);
    if (!file)
        return Error{win::ServiceDoesNotExist,
                     "the service " + std::string(service) + " does not exist on this host"};
    const auto name = file->stem().string();
    RunLock lock(host.runFolder());
    const auto record = readPidFile(host.pidFile(name));
    if (!record || !alive(*record))
        return false;
    if (::kill(record->pid, SIGKILL) != 0)
        return errnoError(errno, "cannot end the process of " + name);
    // Reap it when it is our child, so that it does not linger as a zombie.
    for (int i = 0; i < 200 && alive(*record); ++i)
        ::usleep(5000);
    return true;
}

Result<void> SimServiceManager::close(ServiceHandle handle) {
    std::lock_guard lock(mutex_);
    if (handles_.erase(handle.id) == 0)
        return Error{win::InvalidHandle, "not an open service manager or service handle"};
    return success();
}

} // namespace kv::platform::sim
