#pragma once
// The fault campaign of the rebuild: scenarios made from a seed, each a host in a starting state
// with one or two faults at chosen points of "Onar", run on the console's main window as the
// end-to-end tests run it, and judged by what must hold after any rebuild:
//   1. every byte of the user's old data and log files is in a file the saved log names;
//   2. no line claims a success that did not happen (checked the moment the line is written);
//   3. the database ends repaired, consistent and attached, or stopped with its files in place
//      and named, and the last line says which;
//   4. the rebuild ends within a bound of lines, statements and (fake) time;
//   5. a second "Onar" on the same host, without faults, is safe by the same rules.
// A scenario is a pure function of its seed, so a violation is replayed from the seed alone.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv::e2e::campaign {

// splitmix64: small, fast and the same on every standard library (the distributions of <random>
// are not), so a seed means the same scenario everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // A whole number in [low, high].
    int between(int low, int high);
    std::uint64_t below(std::uint64_t bound);
    bool percent(int chance) { return between(1, 100) <= chance; }

private:
    std::uint64_t state_;
};

// The seed of scenario `index` of a campaign.
std::uint64_t scenarioSeed(std::uint64_t campaignSeed, std::uint64_t index);

enum class LogStart { Normal, Missing, Foreign, Garbage };

// Files of the host a fault or the starting state may hold, as another program would.
enum class HostFile { None, Data, Log, ScratchData, ScratchLog };

// What an earlier rebuild that stopped may have left.
struct Leftovers {
    bool scratchFiles = false;    // C:\kelvora1_data.mdf and C:\kelvora1_log.ldf
    bool scratchDatabase = false; // kelvora1 still attached (with those files)
    int keptNumber = 0;           // kelvora_Data.MDF<n> and kelvora_log.ldf<n> of an older copy
    int scratchLogNumber = 0;     // C:\kelvora1_log.ldf<n>
};

enum class FaultKind {
    CopyInterrupted, // a copy fails with a full disk (or a read fault) after some bytes
    ServerKilled,    // the server process ends at once, as in a crash
    RenameRefused,
    CopyRefused,
    DeleteRefused,
    FileHeld,     // another program opens a file and keeps it
    StartRefused, // the service refuses to start from then on
    DiskFull,     // the disk has only a few bytes left from then on (copies and the server's files)
};

// The steps a fault counts to find its moment: it fires before the at-th one of the round.
enum class Step { Statement, FileCall, Copy, Rename, Delete };

struct Fault {
    FaultKind kind = FaultKind::ServerKilled;
    Step counts = Step::Statement;
    int at = 1;
    bool lasting = false;    // refusals and interrupted copies: that call only, or from then on
    std::uint32_t code = 0;  // the Windows error of a refusal or an interrupted copy
    std::uint64_t bytes = 0; // an interrupted copy: the bytes written before it fails
    HostFile file = HostFile::None;
};

struct Scenario {
    std::uint64_t seed = 0;
    std::string profile = "2000";
    // The database is not attached: the user's action is "Data Bağla", which hands a refused
    // attach over to "Onar".
    bool detached = false;
    int damaged = 0;
    bool garbageDataHeader = false;
    LogStart log = LogStart::Normal;
    bool dataReadOnly = false;
    bool logReadOnly = false;
    HostFile heldAtStart = HostFile::None;
    Leftovers leftovers;
    std::vector<Fault> faults;
};

Scenario makeScenario(std::uint64_t seed);
// The scenario in words, one line.
std::string describe(const Scenario& scenario);
std::string describe(const Fault& fault);
// The rows of the campaign's table this scenario counts in ("start: damaged pages", ...).
std::vector<std::string> startKinds(const Scenario& scenario);
std::string faultKindName(FaultKind kind);

struct RunOptions {
    // The console's test-only switch that stops checking copies (the campaign must catch it).
    bool breakCopy = false;
    // Every log line and step on standard error.
    bool verbose = false;
    // Told the scenario's folder as soon as it exists (so that a stuck run can be cleaned up).
    std::function<void(const std::string& folder)> onFolder;
};

struct Outcome {
    std::vector<std::string> violations;
    std::vector<FaultKind> fired; // the faults whose moment came
    std::vector<std::string> firedText;
    std::vector<std::string> log; // the messages of both rounds, for a report
    std::string ending[2];        // "repaired", "healthy", "stopped", "not connected", ...
    std::string steps;            // how many steps of each kind the first round took
};

// Builds the host, runs both rounds and judges them. Needs the toolkit's application, and the
// build's bin folder (simhost's stand-in) beside the test program's folder.
Outcome runScenario(const Scenario& scenario, const RunOptions& options);

} // namespace kv::e2e::campaign
