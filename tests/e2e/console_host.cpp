#include "console_host.h"

#include "platform/posix/ServiceReporter.h"
#include "toolkit/ui/Application.h"

#include <QThread>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kv::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Application->ProcessMessages();
        QThread::msleep(10);
    }
    return true;
}

namespace {

// The length of the long-time stamp at the start of `line` including its one blank, or 0 when
// there is none: "14:05:09 ", "2:05:09 PM ", "2:05:09 p.m. ", "14.05.09 ".
size_t stampLength(std::string_view line) {
    size_t at = 0;
    const auto digits = [&](size_t least, size_t most) {
        size_t n = 0;
        while (at < line.size() && n < most && line[at] >= '0' && line[at] <= '9') {
            ++at;
            ++n;
        }
        return n >= least;
    };
    const auto one = [&](std::string_view of) {
        if (at < line.size() && of.find(line[at]) != std::string_view::npos) {
            ++at;
            return true;
        }
        return false;
    };
    if (!digits(1, 2) || !one(":.") || !digits(2, 2) || !one(":.") || !digits(2, 2))
        return 0;
    const size_t time = at;
    one(" ");
    if (one("AaPp")) {
        one(".");
        one(" ");
        if (one("Mm")) {
            one(".");
            if (one(" "))
                return at;
        }
    }
    at = time;
    return one(" ") ? at : 0;
}

} // namespace

std::string messageOf(const std::string& logLine) {
    const size_t stamp = stampLength(logLine);
    if (stamp == 0)
        return "<no time stamp> " + logLine;
    return logLine.substr(stamp);
}

std::string toWindows1254(const std::string& utf8) {
    static const std::pair<const char*, char> letters[] = {
        {"ç", '\xE7'}, {"Ç", '\xC7'}, {"ğ", '\xF0'}, {"Ğ", '\xD0'}, {"ı", '\xFD'}, {"İ", '\xDD'},
        {"ö", '\xF6'}, {"Ö", '\xD6'}, {"ş", '\xFE'}, {"Ş", '\xDE'}, {"ü", '\xFC'}, {"Ü", '\xDC'},
    };
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
            continue;
        }
        bool found = false;
        for (const auto& [letter, byte] : letters) {
            const std::string_view l(letter);
            if (utf8.compare(i, l.size(), l) == 0) {
                out += byte;
                i += l.size();
                found = true;
                break;
            }
        }
        if (!found)
            throw std::invalid_argument("no Windows-1254 letter in the test table: " + utf8);
    }
    return out;
}

namespace {

std::string serviceScript(ServiceKind kind, const fs::path& startGate, const fs::path& stopGate) {
    std::string script = R"(status="$KELVORA_SERVICE_STATUS"
report() {
    printf 'state = %s\ncheckpoint = %s\nwait_hint = 0\n' "$1" "$2" > "$status.tmp" &&
        mv -f "$status.tmp" "$status"
}
gate() { while [ ! -e "$1" ]; do sleep 0.02; done; }
)";
    script += "START_GATE='" + startGate.string() + "'\n";
    script += "STOP_GATE='" + stopGate.string() + "'\n";
    script += R"(child=
trap 'report 3 1; gate "$STOP_GATE"; [ -n "$child" ] && kill $child; report 1 0; exit 0' TERM
)";
    switch (kind) {
    case ServiceKind::Starts:
        script += "report 2 1\ngate \"$START_GATE\"\nreport 4 0\n";
        break;
    case ServiceKind::FailsToStart:
        script += "report 2 5\ngate \"$START_GATE\"\nreport 1 0\nexit 1\n";
        break;
    case ServiceKind::Hangs:
        script += "report 2 1\n";
        break;
    case ServiceKind::Dies:
        script += "report 2 0\ngate \"$START_GATE\"\nreport 1 0\nexit 1\n";
        break;
    }
    script += "sleep 100000 &\nchild=$!\nwait $child\n";
    return script;
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

} // namespace

ConsoleHost::ConsoleHost() {
    std::string pattern = (fs::temp_directory_path() / "kelvora-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    folder_ = pattern;
    auto created = platform::sim::SimHost::create(folder_ / "host");
    if (!created)
        throw std::runtime_error("cannot create the simulated host: " + created.error().message);
    host_.emplace(std::move(created).value());
    // The OLE DB provider finds the host's server names through this variable; this host has
    // none, so a connect attempt fails at once.
    ::setenv("KELVORA_HOST", (folder_ / "host").c_str(), 1);
    simulated_ = platform::sim::createSimulatedPlatform(*host_);
    platform_ = std::make_unique<platform::CompositePlatform>(simulated_.get());
    platform_->setClock(&clock_);
}

ConsoleHost::~ConsoleHost() {
    stopServiceProcess();
    for (pid_t pid : programs_) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

fs::path ConsoleHost::onDisk(const std::string& windowsPath) const {
    auto resolved = host_->resolve(windowsPath);
    if (!resolved)
        throw std::runtime_error("cannot resolve " + windowsPath);
    return *resolved;
}

void ConsoleHost::makeDataFiles(bool dataFile, bool logFile) {
    fs::create_directories(onDisk("C:\\Kelvora\\Data"));
    if (dataFile)
        writeText(onDisk("C:\\Kelvora\\Data\\kelvora_Data.MDF"), "data");
    if (logFile)
        writeText(onDisk("C:\\Kelvora\\Data\\kelvora_Log.LDF"), "log");
}

void ConsoleHost::installService(ServiceKind kind) {
    const fs::path script = folder_ / "mssqlserver.sh";
    writeText(script, serviceScript(kind, folder_ / "start.gate", folder_ / "stop.gate"));
    writeText(host_->servicesFolder() / "MSSQLSERVER.service",
              "command = /bin/sh " + script.string() + "\n");
}

void ConsoleHost::openStartGate() {
    writeText(folder_ / "start.gate", "");
}

void ConsoleHost::openStopGate() {
    writeText(folder_ / "stop.gate", "");
}

platform::ServiceStatus ConsoleHost::serviceStatus() const {
    auto status = platform::sim::readStatusFile(host_->statusFile("MSSQLSERVER"));
    return status ? *status : platform::ServiceStatus{0, 0, 0};
}

bool ConsoleHost::waitForServiceState(std::uint32_t state) {
    // Asked through the host's service manager, which also notices a service process that ended.
    auto& services = simulated_->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager)
        return false;
    auto service =
        services.openService(*manager, "MSSQLSERVER", platform::ServiceAccess::QueryStatus);
    bool reached = false;
    if (service) {
        reached = waitUntil([&] {
            auto status = services.queryStatus(*service);
            return status && status->currentState == state;
        });
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    return reached;
}

void ConsoleHost::startServiceNow() {
    auto& services = simulated_->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    auto service = services.openService(*manager, "MSSQLSERVER", platform::ServiceAccess::Start);
    if (!service || !services.start(*service))
        throw std::runtime_error("the test service did not start");
    (void)services.close(*service);
    (void)services.close(*manager);
    if (!waitForServiceState(platform::ServiceState::Running))
        throw std::runtime_error("the test service does not report running");
}

void ConsoleHost::stopServiceProcess() {
    // The service runs in its own session: ending the whole process group also ends its sleep.
    std::ifstream pidFile(host_->pidFile("MSSQLSERVER"));
    std::string key, equals;
    long pid = 0;
    if (pidFile >> key >> equals >> pid && key == "pid" && pid > 1)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
}

pid_t ConsoleHost::startProgramNamed(const std::string& name) {
    const fs::path bin = folder_ / "bin";
    fs::create_directories(bin);
    const fs::path program = bin / name;
    if (!fs::exists(program))
        fs::copy_file("/bin/sleep", program);
    std::string path = program.string();
    std::string seconds = "300";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start " + path);
    programs_.push_back(pid);
    // Wait until the process runs the copied program, so the console's snapshot sees its name.
    const fs::path exe = "/proc/" + std::to_string(pid) + "/exe";
    waitUntil([&] {
        std::error_code ec;
        return fs::read_symlink(exe, ec).filename() == name;
    });
    return pid;
}

bool ConsoleHost::endedByKill(pid_t pid) {
    int status = 0;
    pid_t reaped = 0;
    waitUntil([&] { return (reaped = ::waitpid(pid, &status, WNOHANG)) != 0; }, 5s);
    if (reaped != pid)
        return false;
    std::erase(programs_, pid);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool ConsoleHost::stillRunning(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

} // namespace kv::e2e
