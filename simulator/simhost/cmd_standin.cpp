// simhost's stand-in SQL Server commands:
//
//   simhost create DIR --standin [--profile 2000|2005] [--sa-password P]
//                      [--service running|stopped|missing] [--database attached|detached|none]
//                      [--damaged N] [--data-mib N] [--last-good-check 'YYYY-MM-DD hh:mm:ss']
//       a ready demo host: the MSSQLSERVER service running sqlserver-standin, the product's
//       "C:\Kelvora\Data\kelvora_Data.MDF" and "kelvora_Log.LDF" with sample pages, attached or
//       not, with N damaged pages, and the registry values SQL Server's setup leaves (the
//       version and the ERRORLOG's path in the startup parameters). The last check that found
//       the database clean is the given time (SQL Server 2005's dbi_dbccLastKnownGood), or none.
//       Defaults: profile 2000, service running, database attached.
//   simhost damage DIR 'C:\path.mdf' N      damages N healthy pages of a data file
//   simhost check DIR 'C:\path.mdf'         prints "consistent" or "N damaged pages"
//   simhost check-file FILE                 the same for a data file given by its path here (a
//                                           file of a Wine prefix's drive_c, for example)
//
// `create` applies its options in command-line order, so each stand-in option rebuilds the
// demo set-up from all values seen so far; the last one leaves the final state.

#include "Command.h"
#include "platform/ServiceManager.h"
#include "platform/posix/ServiceReporter.h"
#include "simulator/standin/DbFile.h"
#include "simulator/standin/Engine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>

namespace kv::simhost {
namespace {

namespace fs = std::filesystem;
using standin::Profile;

constexpr const char* DataFile = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* LogFile = "C:\\Kelvora\\Data\\kelvora_Log.LDF";
constexpr const char* ServiceName = "MSSQLSERVER";

struct DemoSettings {
    bool standin = false;
    Profile profile = Profile::Sql2000;
    std::optional<std::string> saPassword;
    std::string service = "running";
    std::string database = "attached";
    int damaged = 0;
    int dataMiB = 0; // 0: the small demo file
    std::string lastGoodCheck;
    bool serviceStarted = false;
};

DemoSettings& settings() {
    static DemoSettings s;
    return s;
}

// The stand-in executable: beside simhost, in ../bin from a test folder, or on PATH.
std::string standinExecutable() {
    if (const char* env = std::getenv("KELVORA_STANDIN"))
        return env;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (const fs::path& candidate :
             {self.parent_path() / "sqlserver-standin",
              self.parent_path().parent_path() / "bin" / "sqlserver-standin"})
            if (fs::exists(candidate, ec))
                return candidate.string();
    }
    return "sqlserver-standin";
}

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::uint32_t serviceState(platform::sim::SimHost& host) {
    auto platform = platform::sim::createSimulatedPlatform(host);
    auto& services = platform->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager)
        return 0;
    auto service =
        services.openService(*manager, ServiceName, platform::ServiceAccess::QueryStatus);
    std::uint32_t state = 0;
    if (service) {
        auto status = services.queryStatus(*service);
        state = status ? status->currentState : 0;
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    return state;
}

bool controlService(platform::sim::SimHost& host, bool start, Io io) {
    auto platform = platform::sim::createSimulatedPlatform(host);
    auto& services = platform->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager) {
        io.err << "simhost: " << manager.error().message << "\n";
        return false;
    }
    auto service =
        services.openService(*manager, ServiceName,
                             platform::ServiceAccess::QueryStatus | platform::ServiceAccess::Start |
                                 platform::ServiceAccess::Stop);
    bool ok = false;
    if (service) {
        if (start) {
            auto r = services.start(*service);
            ok = r.ok();
            if (!ok)
                io.err << "simhost: cannot start " << ServiceName << ": " << r.error().message
                       << "\n";
        } else {
            auto r = services.controlStop(*service);
            ok = r.ok();
        }
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    if (!ok)
        return false;
    const std::uint32_t wanted =
        start ? platform::ServiceState::Running : platform::ServiceState::Stopped;
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t state = serviceState(host);
        if (state == wanted)
            return true;
        if (start && state == platform::ServiceState::Stopped && i > 5)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    io.err << "simhost: " << ServiceName << " did not reach the " << (start ? "running" : "stopped")
           << " state\n";
    return false;
}

// Where SQL Server's setup records a default instance (HKEY_LOCAL_MACHINE): 2000 under
// MSSQLServer, 2005 under the instance's own key MSSQL.1, which "Instance Names\SQL" names.
constexpr const char* Setup2000 = "SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer";
constexpr const char* InstanceNames =
    "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
constexpr const char* Setup2005 = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\MSSQL.1\\MSSQLServer";

// The profile's version and startup parameters (-d master data, -e ERRORLOG, -l master log);
// the other profile's values go. An empty text on success.
std::string writeSetupRegistry(platform::sim::SimHost& host, Profile profile) {
    auto platform = platform::sim::createSimulatedPlatform(host);
    auto& registry = platform->registry();
    const bool p2005 = profile == Profile::Sql2005;
    const std::string setup = p2005 ? Setup2005 : Setup2000;
    const std::string other = p2005 ? Setup2000 : Setup2005;
    for (const std::string& path : {other + "\\CurrentVersion", other + "\\Parameters"})
        if (registry.openKey(platform::RegistryRoot::LocalMachine, path))
            if (auto key = registry.createKey(platform::RegistryRoot::LocalMachine, path)) {
                auto names = (*key)->valueNames();
                if (names)
                    for (const auto& name : *names)
                        (void)(*key)->deleteValue(name);
            }
    const std::string data = standin::DefaultDataFolder;
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
        values = {
            {setup + "\\CurrentVersion",
             {{"CurrentVersion", standin::profileInfo(profile).productVersion}}},
            {setup + "\\Parameters",
             {{"SQLArg0", "-d" + data + "\\master.mdf"},
              {"SQLArg1", std::string("-e") + standin::ErrorLogWindowsPath},
              {"SQLArg2", "-l" + data + "\\mastlog.ldf"}}},
        };
    for (const auto& [path, entries] : values) {
        auto key = registry.createKey(platform::RegistryRoot::LocalMachine, path);
        if (!key)
            return "cannot write the registry key " + path + ": " + key.error().message;
        for (const auto& [name, value] : entries)
            if (auto written = (*key)->writeString(name, value); !written)
                return "cannot write " + path + "\\" + name + ": " + written.error().message;
    }
    if (auto names = registry.createKey(platform::RegistryRoot::LocalMachine, InstanceNames)) {
        if (p2005)
            (void)(*names)->writeString("MSSQLSERVER", "MSSQL.1");
        else
            (void)(*names)->deleteValue("MSSQLSERVER");
    }
    return {};
}

int buildDemo(platform::sim::SimHost& host, Io io) {
    DemoSettings& s = settings();
    if (!s.standin)
        return ExitOk;
    if (s.serviceStarted) {
        (void)controlService(host, false, io);
        s.serviceStarted = false;
    }
    // The catalog and the product's files, made afresh.
    for (const char* path : {standin::StateFileWindowsPath, DataFile, LogFile}) {
        auto p = host.resolve(path);
        std::error_code ec;
        if (p)
            fs::remove(*p, ec);
    }
    auto data = host.resolve(DataFile);
    auto log = host.resolve(LogFile);
    if (!data || !log)
        return failure(io, "cannot place the demo database: " + data.error().message);
    std::error_code ec;
    fs::create_directories(data->parent_path(), ec);
    const std::uint16_t version = standin::profileInfo(s.profile).databaseVersion;
    // 8 KB pages: 128 to the MiB.
    const auto dataPages = static_cast<std::uint32_t>(std::max(96, s.dataMiB * 128));
    if (s.database != "none") {
        std::string why;
        standin::dbfile::Header header;
        header.database = "kelvora";
        header.id = standin::dbfile::newFileId();
        header.version = version;
        header.lastKnownGood = s.lastGoodCheck;
        using platform::FileHold;
        auto dataFile = FileHold::openShared(*data, FileHold::Open::CreateIfMissing);
        auto logFile = FileHold::openShared(*log, FileHold::Open::CreateIfMissing);
        bool ok = dataFile && logFile;
        if (!ok)
            why = (dataFile ? logFile.error() : dataFile.error()).message;
        if (ok) {
            auto written = standin::dbfile::writeDataFile(
                *dataFile, header, standin::dbfile::demoTables(400), dataPages);
            if (written)
                written =
                    standin::dbfile::writeLogFile(*logFile, "kelvora", header.id, version, 63);
            ok = written.ok();
            if (!ok)
                why = written.error().message;
        }
        if (ok && s.damaged > 0) {
            const int done = standin::dbfile::damage(*dataFile, header, s.damaged, why);
            ok = done == s.damaged;
            if (!ok && why.empty())
                why = "only " + std::to_string(done) + " pages could be damaged";
        }
        if (!ok)
            return failure(io, "cannot write the demo database: " + why);
    }
    try {
        standin::Engine::Options options;
        options.profile = s.profile;
        options.saPassword = s.saPassword;
        standin::Engine engine(host, options);
        if (s.database == "attached") {
            auto session = engine.openSession();
            auto login =
                engine.login(*session, "sa", s.saPassword.value_or(standin::DefaultSaPassword), "");
            standin::RecordingSink sink;
            if (login.ok)
                (void)engine.execute(*session,
                                     std::string("create database kelvora ON (FILENAME = '") +
                                         DataFile + "') LOG ON (FILENAME = '" + LogFile +
                                         "') FOR ATTACH",
                                     sink);
            engine.closeSession(*session);
            if (!login.ok || !sink.errors().empty())
                return failure(io, "the stand-in refused to attach the demo database: " +
                                       (sink.errors().empty() ? std::string("login failed")
                                                              : sink.errors()[0].text));
        }
    } catch (const std::exception& e) {
        return failure(io, e.what());
    }
    if (const std::string why = writeSetupRegistry(host, s.profile); !why.empty())
        return failure(io, why);
    // The service definition.
    const fs::path definition = host.servicesFolder() / (std::string(ServiceName) + ".service");
    if (s.service == "missing") {
        fs::remove(definition, ec);
    } else {
        std::ofstream out(definition, std::ios::trunc);
        out << "# The SQL Server stand-in as the default instance of this host.\n"
            << "command = " << quoted(standinExecutable()) << " --service --profile "
            << standin::profileInfo(s.profile).name << "\n";
        if (!out)
            return failure(io, "cannot write " + definition.string());
    }
    if (s.service == "running") {
        if (!controlService(host, true, io))
            return ExitFailed;
        s.serviceStarted = true;
    }
    return ExitOk;
}

int applyValue(platform::sim::SimHost& host, const std::function<bool()>& set, Io io,
               const std::string& what) {
    if (!set())
        return usageError(io, what);
    return buildDemo(host, io);
}

const SimhostCreateOption standinOption{
    {"--standin", false, "--standin   make the demo host of the stand-in SQL Server",
     [](platform::sim::SimHost& host, const std::string&, Io io) {
         settings().standin = true;
         return buildDemo(host, io);
     }}};

const SimhostCreateOption profileOption{
    {"--profile", true, "--profile 2000|2005   the stand-in's behaviour profile",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host,
             [&] {
                 auto p = standin::parseProfile(v);
                 if (p)
                     settings().profile = *p;
                 return p.has_value();
             },
             io, "--profile takes 2000 or 2005");
     }}};

const SimhostCreateOption saOption{{"--sa-password", true,
                                    "--sa-password P   the password of the login sa (default k)",
                                    [](platform::sim::SimHost& host, const std::string& v, Io io) {
                                        return applyValue(
                                            host,
                                            [&] {
                                                settings().saPassword = v;
                                                return true;
                                            },
                                            io, "");
                                    }}};

const SimhostCreateOption serviceOption{
    {"--service", true, "--service running|stopped|missing   the MSSQLSERVER service",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host,
             [&] {
                 settings().service = v;
                 return v == "running" || v == "stopped" || v == "missing";
             },
             io, "--service takes running, stopped or missing");
     }}};

const SimhostCreateOption databaseOption{
    {"--database", true, "--database attached|detached|none   the demo database kelvora",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host,
             [&] {
                 settings().database = v;
                 return v == "attached" || v == "detached" || v == "none";
             },
             io, "--database takes attached, detached or none");
     }}};

// A decimal number from `min` to `max`, the whole text of `v`.
bool wholeNumber(const std::string& v, long min, long max, int& value) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    value = static_cast<int>(n);
    return !v.empty() && *end == 0 && n >= min && n <= max;
}

const SimhostCreateOption damagedOption{
    {"--damaged", true, "--damaged N   damage N pages of the demo data file",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host, [&] { return wholeNumber(v, 0, 1000, settings().damaged); }, io,
             "--damaged takes a number of pages");
     }}};

const SimhostCreateOption dataSizeOption{
    {"--data-mib", true, "--data-mib N   make the demo data file N MiB large (for benchmarks)",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host, [&] { return wholeNumber(v, 1, 16384, settings().dataMiB); }, io,
             "--data-mib takes a size in MiB from 1 to 16384");
     }}};

// "YYYY-MM-DD hh:mm:ss" (or with ".mmm"), a date as SQL Server prints a datetime.
bool dateTimeText(const std::string& v) {
    static const char* const shape = "dddd-dd-dd dd:dd:dd";
    if (v.size() != 19 && v.size() != 23)
        return false;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const char want = i < 19 ? shape[i] : (i == 19 ? '.' : 'd');
        if (want == 'd' ? !std::isdigit(static_cast<unsigned char>(v[i])) : v[i] != want)
            return false;
    }
    return true;
}

const SimhostCreateOption lastGoodCheckOption{
    {"--last-good-check", true,
     "--last-good-check 'YYYY-MM-DD hh:mm:ss'   when a check last found the demo database clean",
     [](platform::sim::SimHost& host, const std::string& v, Io io) {
         return applyValue(
             host,
             [&] {
                 if (!dateTimeText(v))
                     return false;
                 settings().lastGoodCheck = v.size() == 19 ? v + ".000" : v;
                 return true;
             },
             io, "--last-good-check takes a time as 'YYYY-MM-DD hh:mm:ss'");
     }}};

// Opens a data file for damage or check; the stand-in's hold does not stop us (damage stands
// for a failing disk). `shown` names the file in messages.
std::optional<platform::FileHold> openDataFile(const fs::path& path, const std::string& shown,
                                               Io io, standin::dbfile::Header& header,
                                               platform::FileHold::Open mode) {
    auto file = platform::FileHold::openShared(path, mode);
    if (!file) {
        (void)failure(io, "cannot open " + shown + " (" + path.string() + ")");
        return std::nullopt;
    }
    standin::dbfile::ReadError kind;
    std::string why;
    auto h = standin::dbfile::readHeader(*file, kind, why);
    if (!h || h->role != standin::dbfile::Role::Data) {
        (void)failure(io, shown + " is not a data file of the stand-in: " +
                              (h ? std::string("it is a log file") : why));
        return std::nullopt;
    }
    header = *h;
    return std::move(file).value();
}

// The data file `args[1]` of the host `args[0]`.
std::optional<platform::FileHold> openHostDataFile(const std::vector<std::string>& args,
                                                   std::size_t count, Io io,
                                                   standin::dbfile::Header& header,
                                                   const char* usage, int& status,
                                                   platform::FileHold::Open mode) {
    status = ExitFailed;
    if (args.size() != count) {
        status = usageError(io, usage);
        return std::nullopt;
    }
    auto host = openHost(args[0], io);
    if (!host) {
        status = ExitUsage;
        return std::nullopt;
    }
    auto path = host->resolve(args[1]);
    if (!path) {
        (void)failure(io, path.error().message);
        return std::nullopt;
    }
    return openDataFile(*path, args[1], io, header, mode);
}

int printCheck(platform::FileHold& file, const standin::dbfile::Header& header, Io io) {
    const auto report = standin::dbfile::check(file, header);
    if (report.problems.empty())
        io.out << "consistent\n";
    else
        io.out << report.problems.size() << " damaged pages\n";
    return ExitOk;
}

const SimhostCommand damageCommand{
    "damage", "damage DIR 'C:\\path.mdf' N   damage N healthy pages of a stand-in data file",
    [](const std::vector<std::string>& args, Io io) {
        standin::dbfile::Header header;
        int status = ExitOk;
        auto file =
            openHostDataFile(args, 3, io, header, "usage: simhost damage DIR 'C:\\path.mdf' N",
                             status, platform::FileHold::Open::Existing);
        if (!file)
            return status;
        char* end = nullptr;
        const long n = std::strtol(args[2].c_str(), &end, 10);
        if (*end || n < 0)
            return usageError(io, "damage takes a number of pages");
        std::string why;
        const int done = standin::dbfile::damage(*file, header, static_cast<int>(n), why);
        io.out << "damaged " << done << " pages\n";
        return done == n ? ExitOk
                         : failure(io, "only " + std::to_string(done) +
                                           " healthy pages were left to damage");
    }};

const SimhostCommand checkCommand{
    "check", "check DIR 'C:\\path.mdf'   print \"consistent\" or the number of damaged pages",
    [](const std::vector<std::string>& args, Io io) {
        standin::dbfile::Header header;
        int status = ExitOk;
        // Read alone: a file with the read-only attribute is checked too.
        auto file = openHostDataFile(args, 2, io, header, "usage: simhost check DIR 'C:\\path.mdf'",
                                     status, platform::FileHold::Open::ReadOnly);
        if (!file)
            return status;
        return printCheck(*file, header, io);
    }};

const SimhostCommand checkFileCommand{
    "check-file",
    "check-file FILE   the same for a data file named by its path on this machine (in a Wine "
    "prefix's drive_c, for example)",
    [](const std::vector<std::string>& args, Io io) {
        if (args.size() != 1)
            return usageError(io, "usage: simhost check-file FILE");
        standin::dbfile::Header header;
        auto file = openDataFile(args[0], args[0], io, header, platform::FileHold::Open::ReadOnly);
        if (!file)
            return ExitFailed;
        return printCheck(*file, header, io);
    }};

} // namespace
} // namespace kv::simhost
