// console_fault_campaign: runs the fault campaign of the rebuild (fault_campaign.h).
//
//   console_fault_campaign [--count N] [--seed S] [--jobs J] [--table] [--list]
//                          [--stop-at-first] [--break-copy] [--expect-violation]
//   console_fault_campaign --replay SCENARIO-SEED [--break-copy] [--verbose]
//
// The campaign's scenarios run in J worker processes (this program with --worker), each one
// scenario at a time; a worker whose scenario does not end within the time limit is ended and
// the scenario counts as a hang. Every violation is printed with the scenario's seed, the
// scenario in words and the command that replays it alone; the last line reads
// "N scenarios, M violations" (M: the scenarios with at least one). The exit status is 1 when
// any scenario broke a rule (with --expect-violation: when none did).

#include "fault_campaign.h"
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"
#include "toolkit/ui/Application.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace kv::e2e::campaign;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A scenario takes about a second; one that takes this long is stuck.
constexpr auto ScenarioTimeLimit = std::chrono::seconds(120);
constexpr int ProtocolFd = 3;

struct Arguments {
    std::uint64_t count = 100;
    std::optional<std::uint64_t> seed;
    int jobs = 0;
    bool table = false;
    bool list = false;
    bool stopAtFirst = false;
    bool breakCopy = false;
    bool expectViolation = false;
    std::optional<std::uint64_t> replay;
    bool verbose = false;
    bool worker = false;
};

std::string hex(std::uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::setw(16) << std::setfill('0') << value;
    return out.str();
}

std::optional<std::uint64_t> number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != 0)
        return std::nullopt;
    return value;
}

int usage(const std::string& why) {
    std::cerr << "console_fault_campaign: " << why << "\n"
              << "usage: console_fault_campaign [--count N] [--seed S] [--jobs J] [--table] "
                 "[--list] [--stop-at-first] [--break-copy] [--expect-violation]\n"
                 "       console_fault_campaign --replay SCENARIO-SEED [--break-copy] "
                 "[--verbose]\n";
    return 2;
}

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string replayCommand(std::uint64_t seed, bool breakCopy) {
    return "tools/fault-campaign.sh --replay " + hex(seed) + (breakCopy ? " --break-copy" : "");
}

void prepareQt() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Application->Initialize();
}

// --- A worker: scenario seeds on standard input, results on the protocol descriptor ---------

int runWorker(const Arguments& args) {
    prepareQt();
    const kv::oledb::ComScope com;
    FILE* out = ::fdopen(ProtocolFd, "w");
    if (out == nullptr)
        return 2;
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto seed = number(line.c_str());
        if (!seed)
            continue;
        const Scenario scenario = makeScenario(*seed);
        std::fprintf(out, "begin %s\n", hex(*seed).c_str());
        std::fflush(out);
        try {
            RunOptions options;
            options.breakCopy = args.breakCopy;
            options.onFolder = [out](const std::string& folder) {
                std::fprintf(out, "folder %s\n", folder.c_str());
                std::fflush(out);
            };
            const Outcome outcome = runScenario(scenario, options);
            for (FaultKind kind : outcome.fired)
                std::fprintf(out, "fired %d\n", static_cast<int>(kind));
            for (int round = 0; round < 2; ++round)
                std::fprintf(out, "ending %d %s\n", round + 1, outcome.ending[round].c_str());
            for (const auto& v : outcome.violations)
                std::fprintf(out, "violation %s\n", oneLine(v).c_str());
        } catch (const std::exception& e) {
            std::fprintf(out, "violation the scenario could not be set up: %s\n",
                         oneLine(e.what()).c_str());
        }
        std::fprintf(out, "end\n");
        std::fflush(out);
    }
    return 0;
}

// --- The campaign -----------------------------------------------------------------------------

struct Result {
    std::uint64_t index = 0;
    std::uint64_t seed = 0;
    std::vector<FaultKind> fired;
    std::vector<std::string> endings;
    std::vector<std::string> violations;
};

struct Worker {
    pid_t pid = -1;
    int toWorker = -1;
    int fromWorker = -1;
    std::string buffer;
    std::optional<std::uint64_t> index; // the scenario under way
    std::string folder;                 // its host's folder
    Clock::time_point began;
    Result result;
};

class Campaign {
public:
    explicit Campaign(const Arguments& args) : args_(args) {}
    int run();

private:
    void spawn(Worker& w);
    void assign(Worker& w);
    void finish(Worker& w, Result result);
    void lost(Worker& w, const std::string& why);
    void line(Worker& w, const std::string& text);
    void printTable() const;

    const Arguments& args_;
    std::uint64_t campaignSeed_ = 0;
    std::uint64_t next_ = 0;
    bool stopping_ = false;
    std::vector<Worker> workers_;
    std::map<std::uint64_t, Result> results_;
    std::uint64_t violating_ = 0;
};

void Campaign::spawn(Worker& w) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], ProtocolFd);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> words = {self, "--worker"};
    if (args_.breakCopy)
        words.push_back("--break-copy");
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&w.pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start a worker");
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    w.toWorker = in[1];
    w.fromWorker = out[0];
    w.buffer.clear();
    w.index.reset();
}

void Campaign::assign(Worker& w) {
    if (stopping_ || next_ >= args_.count) {
        if (w.toWorker >= 0) {
            ::close(w.toWorker);
            w.toWorker = -1;
        }
        return;
    }
    w.index = next_++;
    w.folder.clear();
    w.result = Result{};
    w.result.index = *w.index;
    w.result.seed = scenarioSeed(campaignSeed_, *w.index);
    w.began = Clock::now();
    const std::string text = hex(w.result.seed) + "\n";
    if (::write(w.toWorker, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        lost(w, "the worker took no scenario");
}

void Campaign::finish(Worker& w, Result result) {
    if (args_.list) {
        std::cout << "#" << result.index << " " << hex(result.seed);
        for (const auto& ending : result.endings)
            std::cout << " [" << ending << "]";
        std::cout << " " << describe(makeScenario(result.seed)) << "\n";
    }
    if (!result.violations.empty()) {
        ++violating_;
        const Scenario s = makeScenario(result.seed);
        std::cout << "VIOLATION in scenario #" << result.index << ", seed " << hex(result.seed)
                  << ": " << describe(s) << "\n";
        for (const auto& v : result.violations)
            std::cout << "  - " << v << "\n";
        std::cout << "  replay: " << replayCommand(result.seed, args_.breakCopy) << "\n"
                  << std::flush;
        if (args_.stopAtFirst)
            stopping_ = true;
    }
    results_[result.index] = std::move(result);
    w.index.reset();
}

// The worker ended or stuck in the middle of a scenario: that scenario broke the rules.
void Campaign::lost(Worker& w, const std::string& why) {
    if (w.pid > 0) {
        ::kill(w.pid, SIGKILL);
        ::waitpid(w.pid, nullptr, 0);
        w.pid = -1;
    }
    for (int* fd : {&w.toWorker, &w.fromWorker})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    if (w.index) {
        Result result = w.result;
        result.violations.push_back(why);
        // The worker left the scenario's server and folder behind; end them here.
        if (!w.folder.empty()) {
            if (auto host = kv::platform::sim::SimHost::open(fs::path(w.folder) / "host"))
                (void)kv::platform::sim::killServiceProcess(*host, "MSSQLSERVER");
            std::error_code ignored;
            fs::remove_all(w.folder, ignored);
        }
        finish(w, std::move(result));
    }
    if (!stopping_ && next_ < args_.count) {
        spawn(w);
        assign(w);
    }
}

void Campaign::line(Worker& w, const std::string& text) {
    const auto space = text.find(' ');
    const std::string word = text.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : text.substr(space + 1);
    if (word == "folder")
        w.folder = rest;
    else if (word == "fired")
        w.result.fired.push_back(static_cast<FaultKind>(std::atoi(rest.c_str())));
    else if (word == "ending")
        w.result.endings.push_back(rest);
    else if (word == "violation")
        w.result.violations.push_back(rest);
    else if (word == "end" && w.index) {
        finish(w, w.result);
        assign(w);
    }
}

void Campaign::printTable() const {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> rows; // scenarios, fired
    std::vector<std::string> order;
    const auto count = [&](const std::string& row, bool fired) {
        if (!rows.count(row))
            order.push_back(row);
        auto& r = rows[row];
        if (fired)
            ++r.second;
        else
            ++r.first;
    };
    for (const auto& [index, result] : results_) {
        const Scenario s = makeScenario(result.seed);
        for (const auto& kind : startKinds(s))
            count(kind, false);
        std::set<FaultKind> chosen;
        for (const auto& f : s.faults)
            chosen.insert(f.kind);
        for (FaultKind kind : chosen)
            count("fault: " + faultKindName(kind), false);
        std::set<FaultKind> fired(result.fired.begin(), result.fired.end());
        for (FaultKind kind : fired)
            count("fault: " + faultKindName(kind), true);
        for (const auto& ending : result.endings)
            count("ending, round " + ending, false);
    }
    std::sort(order.begin(), order.end());
    std::cout << std::left << std::setw(52) << "kind" << std::right << std::setw(10) << "scenarios"
              << std::setw(10) << "fired"
              << "\n";
    for (const auto& row : order) {
        std::cout << std::left << std::setw(52) << row << std::right << std::setw(10)
                  << rows[row].first;
        if (row.starts_with("fault: "))
            std::cout << std::setw(10) << rows[row].second;
        std::cout << "\n";
    }
}

int Campaign::run() {
    campaignSeed_ = args_.seed.value_or(
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::getpid()) << 32));
    const int jobs = args_.jobs > 0 ? args_.jobs : 4;
    std::cout << "fault campaign: seed " << hex(campaignSeed_) << ", " << args_.count
              << " scenarios, " << jobs << " workers"
              << (args_.breakCopy ? ", copy step broken" : "") << "\n"
              << "  (again with: tools/fault-campaign.sh " << args_.count << " "
              << hex(campaignSeed_) << ")\n"
              << std::flush;
    const auto start = Clock::now();
    std::signal(SIGPIPE, SIG_IGN);
    workers_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(jobs), std::max<std::uint64_t>(args_.count, 1))));
    for (auto& w : workers_) {
        spawn(w);
        assign(w);
    }
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Worker*> owners;
        for (auto& w : workers_)
            if (w.fromWorker >= 0) {
                fds.push_back({w.fromWorker, POLLIN, 0});
                owners.push_back(&w);
            }
        if (fds.empty())
            break;
        (void)::poll(fds.data(), fds.size(), 1000);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            Worker& w = *owners[i];
            if (fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(w.fromWorker, buffer, sizeof buffer);
            if (n <= 0) {
                if (w.index)
                    lost(w, "the console's program ended in the middle of the scenario (a crash)");
                else {
                    ::close(w.fromWorker);
                    w.fromWorker = -1;
                    ::waitpid(w.pid, nullptr, 0);
                    w.pid = -1;
                }
                continue;
            }
            w.buffer.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t at; (at = w.buffer.find('\n')) != std::string::npos;) {
                const std::string text = w.buffer.substr(0, at);
                w.buffer.erase(0, at + 1);
                line(w, text);
            }
        }
        for (auto& w : workers_)
            if (w.index && Clock::now() - w.began > ScenarioTimeLimit)
                lost(w, "the scenario did not end within " +
                            std::to_string(ScenarioTimeLimit.count()) + " s (a hang)");
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() /
        1000.0;
    if (args_.table)
        printTable();
    std::cout << "time " << std::fixed << std::setprecision(1) << seconds << " s\n";
    std::cout << results_.size() << " scenarios, " << violating_ << " violations\n";
    if (args_.expectViolation)
        return violating_ > 0 ? 0 : 1;
    return violating_ > 0 || results_.size() < args_.count ? 1 : 0;
}

int replay(const Arguments& args) {
    prepareQt();
    const kv::oledb::ComScope com;
    const Scenario scenario = makeScenario(*args.replay);
    std::cout << "scenario " << hex(scenario.seed) << ": " << describe(scenario) << "\n";
    RunOptions options;
    options.breakCopy = args.breakCopy;
    options.verbose = args.verbose;
    Outcome outcome;
    try {
        outcome = runScenario(scenario, options);
    } catch (const std::exception& e) {
        outcome.violations.push_back(std::string("the scenario could not be set up: ") + e.what());
    }
    for (const auto& fired : outcome.firedText)
        std::cout << "fired: " << fired << "\n";
    std::cout << "log:\n";
    for (const auto& line : outcome.log)
        std::cout << "  " << line << "\n";
    std::cout << "first round: " << outcome.steps << "\n";
    std::cout << "endings: " << outcome.ending[0] << ", " << outcome.ending[1] << "\n";
    for (const auto& v : outcome.violations)
        std::cout << "VIOLATION: " << v << "\n";
    std::cout << "1 scenarios, " << (outcome.violations.empty() ? 0 : 1) << " violations\n";
    return outcome.violations.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::optional<std::uint64_t> {
            if (i + 1 >= argc)
                return std::nullopt;
            return number(argv[++i]);
        };
        if (a == "--count") {
            auto v = value();
            if (!v)
                return usage("--count takes a number");
            args.count = *v;
        } else if (a == "--seed") {
            args.seed = value();
            if (!args.seed)
                return usage("--seed takes a number (decimal or 0x hexadecimal)");
        } else if (a == "--jobs") {
            auto v = value();
            if (!v || *v == 0 || *v > 64)
                return usage("--jobs takes a number from 1 to 64");
            args.jobs = static_cast<int>(*v);
        } else if (a == "--replay") {
            args.replay = value();
            if (!args.replay)
                return usage("--replay takes a scenario seed");
        } else if (a == "--table") {
            args.table = true;
        } else if (a == "--list") {
            args.list = true;
        } else if (a == "--stop-at-first") {
            args.stopAtFirst = true;
        } else if (a == "--break-copy") {
            args.breakCopy = true;
        } else if (a == "--expect-violation") {
            args.expectViolation = true;
        } else if (a == "--verbose") {
            args.verbose = true;
        } else if (a == "--worker") {
            args.worker = true;
        } else {
            return usage("unknown argument " + a);
        }
    }
    if (args.worker)
        return runWorker(args);
    if (args.replay)
        return replay(args);
    try {
        Campaign campaign(args);
        return campaign.run();
    } catch (const std::exception& e) {
        std::cerr << "console_fault_campaign: " << e.what() << "\n";
        return 2;
    }
}
