// Scenarios of the fault campaign: drawn from a seed, and told in words.

#include "fault_campaign.h"

#include <sstream>

namespace kv::e2e::campaign {

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t Random::below(std::uint64_t bound) {
    return bound == 0 ? 0 : next() % bound;
}

int Random::between(int low, int high) {
    return low + static_cast<int>(below(static_cast<std::uint64_t>(high - low + 1)));
}

std::uint64_t scenarioSeed(std::uint64_t campaignSeed, std::uint64_t index) {
    Random mix(campaignSeed ^ (index * 0xD1B54A32D192ED03ull));
    return mix.next();
}

namespace {

// One of `weights.size()` choices, each as likely as its weight.
int weighted(Random& random, std::initializer_list<int> weights) {
    int total = 0;
    for (int w : weights)
        total += w;
    int pick = random.between(1, total);
    int index = 0;
    for (int w : weights) {
        if (pick <= w)
            return index;
        pick -= w;
        ++index;
    }
    return index - 1;
}

Fault makeFault(Random& random) {
    Fault f;
    f.kind = static_cast<FaultKind>(weighted(random, {22, 22, 12, 12, 10, 14, 8, 8}));
    switch (f.kind) {
    case FaultKind::CopyInterrupted:
        f.counts = Step::Copy;
        f.at = 1 + weighted(random, {40, 35, 15, 10});
        // The demo data file is 768 KiB, its log 504 KiB: the failure falls anywhere in a copy,
        // also at its very start and (now and then) beyond a smaller file's end.
        f.bytes = random.percent(8)    ? 0
                  : random.percent(85) ? random.below(504 * 1024)
                                       : random.below(800 * 1024);
        f.code = random.percent(80) ? 112 : 23;
        f.lasting = random.percent(40);
        break;
    case FaultKind::ServerKilled:
        // The rebuild of SQL Server 2000 sends up to about 30 statements and makes up to 10 file
        // calls; that of 2005 about 16 and 3.
        if (random.percent(75)) {
            f.counts = Step::Statement;
            f.at = random.between(1, 30);
        } else {
            f.counts = Step::FileCall;
            f.at = random.between(1, 10);
        }
        break;
    case FaultKind::RenameRefused:
    case FaultKind::CopyRefused:
    case FaultKind::DeleteRefused:
        f.counts = f.kind == FaultKind::RenameRefused ? Step::Rename
                   : f.kind == FaultKind::CopyRefused ? Step::Copy
                                                      : Step::Delete;
        f.at = 1 + weighted(random, {50, 30, 20});
        f.code = random.percent(50) ? 5 : 32;
        f.lasting = random.percent(50);
        break;
    case FaultKind::FileHeld:
        if (random.percent(60)) {
            f.counts = Step::Statement;
            f.at = random.between(1, 30);
        } else {
            f.counts = Step::FileCall;
            f.at = random.between(1, 10);
        }
        f.file = static_cast<HostFile>(1 + weighted(random, {35, 30, 25, 10}));
        break;
    case FaultKind::StartRefused:
        f.counts = Step::Statement;
        f.at = random.between(1, 4);
        f.code = 1053;
        f.lasting = true;
        break;
    case FaultKind::DiskFull:
        // Room for the log (504 KiB) but not the data file (768 KiB), or for neither; the
        // scratch database the server creates needs 1.1 MiB.
        f.counts = random.percent(50) ? Step::Statement : Step::FileCall;
        f.at = f.counts == Step::Statement ? random.between(1, 24) : random.between(1, 8);
        f.bytes = random.below(1200 * 1024);
        f.lasting = true;
        break;
    }
    return f;
}

const char* fileName(HostFile file) {
    switch (file) {
    case HostFile::Data:
        return "the data file";
    case HostFile::Log:
        return "the log file";
    case HostFile::ScratchData:
        return "the scratch data file";
    case HostFile::ScratchLog:
        return "the scratch log file";
    case HostFile::None:
        break;
    }
    return "no file";
}

const char* stepName(Step step) {
    switch (step) {
    case Step::Statement:
        return "statement";
    case Step::FileCall:
        return "file call";
    case Step::Copy:
        return "copy";
    case Step::Rename:
        return "rename";
    case Step::Delete:
        return "delete";
    }
    return "step";
}

} // namespace

Scenario makeScenario(std::uint64_t seed) {
    Random random(seed);
    Scenario s;
    s.seed = seed;
    s.profile = random.percent(50) ? "2000" : "2005";
    s.damaged = random.percent(8) ? 0 : random.between(1, 6);
    s.garbageDataHeader = random.percent(8);
    s.log = static_cast<LogStart>(weighted(random, {64, 12, 12, 12}));
    s.dataReadOnly = random.percent(15);
    s.logReadOnly = s.log != LogStart::Missing && random.percent(15);
    s.heldAtStart = static_cast<HostFile>(weighted(random, {88, 3, 3, 3, 3}));
    if (s.heldAtStart == HostFile::Log && s.log == LogStart::Missing)
        s.heldAtStart = HostFile::None;
    s.leftovers.scratchFiles = random.percent(15);
    s.leftovers.scratchDatabase = random.percent(8);
    if (s.leftovers.scratchDatabase || s.heldAtStart == HostFile::ScratchData ||
        s.heldAtStart == HostFile::ScratchLog)
        s.leftovers.scratchFiles = true;
    s.leftovers.keptNumber = random.percent(15) ? random.between(1, 80) : 0;
    s.leftovers.scratchLogNumber = random.percent(8) ? random.between(1, 80) : 0;
    s.detached = random.percent(12);
    const int faults = random.percent(60) ? 1 : 2;
    for (int i = 0; i < faults; ++i)
        s.faults.push_back(makeFault(random));
    return s;
}

std::string faultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::CopyInterrupted:
        return "copy interrupted (disk full or read fault)";
    case FaultKind::ServerKilled:
        return "server killed";
    case FaultKind::RenameRefused:
        return "rename refused";
    case FaultKind::CopyRefused:
        return "copy refused";
    case FaultKind::DeleteRefused:
        return "delete refused";
    case FaultKind::FileHeld:
        return "file held by another program";
    case FaultKind::StartRefused:
        return "service refuses to start";
    case FaultKind::DiskFull:
        return "disk full";
    }
    return "?";
}

std::string describe(const Fault& f) {
    std::ostringstream out;
    const std::string when = std::string("before ") + stepName(f.counts) + " #" +
                             std::to_string(f.at) + " of the rebuild";
    const char* span = f.lasting ? " (from then on)" : " (that call only)";
    switch (f.kind) {
    case FaultKind::CopyInterrupted:
        out << "copy #" << f.at << " fails with error " << f.code << " after " << f.bytes
            << " bytes" << span;
        break;
    case FaultKind::ServerKilled:
        out << "the server is killed " << when;
        break;
    case FaultKind::RenameRefused:
    case FaultKind::CopyRefused:
    case FaultKind::DeleteRefused:
        out << stepName(f.counts) << " #" << f.at << " is refused with error " << f.code << span;
        break;
    case FaultKind::FileHeld:
        out << fileName(f.file) << " is held by another program " << when;
        break;
    case FaultKind::StartRefused:
        out << "the service refuses to start (error " << f.code << ") " << when;
        break;
    case FaultKind::DiskFull:
        out << "the disk has " << f.bytes << " bytes left " << when;
        break;
    }
    return out.str();
}

std::string describe(const Scenario& s) {
    std::ostringstream out;
    out << "SQL Server " << s.profile << "; start: ";
    if (s.detached)
        out << "database detached (the user clicks \"Data Bağla\"), ";
    if (s.damaged > 0)
        out << s.damaged << " damaged pages";
    else
        out << "no damaged page";
    if (s.garbageDataHeader)
        out << ", garbage data file header";
    switch (s.log) {
    case LogStart::Normal:
        break;
    case LogStart::Missing:
        out << ", log file missing";
        break;
    case LogStart::Foreign:
        out << ", log file of another database";
        break;
    case LogStart::Garbage:
        out << ", garbage log file header";
        break;
    }
    if (s.dataReadOnly)
        out << ", data file read-only";
    if (s.logReadOnly)
        out << ", log file read-only";
    if (s.heldAtStart != HostFile::None)
        out << ", " << fileName(s.heldAtStart) << " held by another program";
    if (s.leftovers.scratchDatabase)
        out << ", scratch database kelvora1 still attached";
    else if (s.leftovers.scratchFiles)
        out << ", scratch files of an earlier run in C:\\";
    if (s.leftovers.keptNumber > 0)
        out << ", files kept by an earlier rebuild under number " << s.leftovers.keptNumber;
    if (s.leftovers.scratchLogNumber > 0)
        out << ", scratch log kept by an earlier rebuild under number "
            << s.leftovers.scratchLogNumber;
    out << "; faults: ";
    for (std::size_t i = 0; i < s.faults.size(); ++i)
        out << (i > 0 ? "; " : "") << describe(s.faults[i]);
    return out.str();
}

std::vector<std::string> startKinds(const Scenario& s) {
    std::vector<std::string> kinds;
    kinds.push_back("profile " + s.profile);
    kinds.push_back(s.damaged > 0 ? "start: damaged pages" : "start: no damaged page");
    if (s.detached)
        kinds.push_back("start: database detached (\"Data Bağla\")");
    if (s.garbageDataHeader)
        kinds.push_back("start: garbage data header");
    if (s.log == LogStart::Missing)
        kinds.push_back("start: log file missing");
    if (s.log == LogStart::Foreign)
        kinds.push_back("start: log of another database");
    if (s.log == LogStart::Garbage)
        kinds.push_back("start: garbage log header");
    if (s.dataReadOnly || s.logReadOnly)
        kinds.push_back("start: read-only file");
    if (s.heldAtStart != HostFile::None)
        kinds.push_back("start: file held by another program");
    if (s.leftovers.scratchFiles || s.leftovers.scratchDatabase || s.leftovers.keptNumber > 0 ||
        s.leftovers.scratchLogNumber > 0)
        kinds.push_back("start: leftovers of a stopped rebuild");
    kinds.push_back(s.faults.size() == 1 ? "one fault" : "two faults");
    return kinds;
}

} // namespace kv::e2e::campaign
