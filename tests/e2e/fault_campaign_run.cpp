// One scenario of the fault campaign: the host built in-process (as `simhost create --standin`
// builds it, without the program starts), the console's main window on it with the fake clock,
// the faults fired at their moments through the host's own fault keys, and the judgement.

#include "console/Unit1.h"
#include "console/repair_files.h"
#include "console_host.h"
#include "dataaccess/MSSQLMonitor.h"
#include "fault_campaign.h"
#include "platform/CompositePlatform.h"
#include "platform/FileHold.h"
#include "platform/posix/FileHold.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/DbFile.h"
#include "simulator/standin/Engine.h"
#include "simulator/standin/Results.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::e2e::campaign {

namespace fs = std::filesystem;
namespace dbfile = standin::dbfile;
using platform::sim::FileHold;

namespace {

constexpr const char* ServiceName = "MSSQLSERVER";
constexpr const char* DataPath = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* LogPath = "C:\\Kelvora\\Data\\kelvora_Log.LDF";
constexpr const char* ScratchDataPath = "C:\\kelvora1_data.mdf";
constexpr const char* ScratchLogPath = "C:\\kelvora1_log.ldf";
constexpr const char* SavedLogPath = "C:\\Halvetor.Log";

// Bounds of one round: far above what any rebuild needs, low enough to tell a loop.
constexpr std::size_t MaxLinesPerRound = 400;
constexpr int MaxStatementsPerRound = 300;
constexpr std::uint32_t MaxFakeMillisecondsPerRound = 45 * 60 * 1000;

// The lines that end a round, by what they say.
const std::string LineAttached = "Kelvora Datasına bağlanıldı.";
const std::string LineHealthy = "Kelvora Veritabanında hata yoktur.";
const std::string LineStopped = "Dosyaları yedekleyip teknik servise başvurun.";
const std::string LineAttachGaveUp = "Otomatik onarım başarısız oldu, Data bağlanamadı. Dosyaları "
                                     "yedekleyip teknik servise başvurun.";
const std::string LineNoLink = "Bağlantı yok.";
const std::string LineNotAttached = "Kelvora Datasına bağlanılamadı.";

// The lines of a stop that name where a file is, and what they say it holds.
enum class Named { OldData, OldLog, RepairedData, RepairedLog, Rebuilt, RebuiltLog, ScratchLog };
const std::pair<const char*, Named> LocationLines[] = {
    {"Eski data dosyası: ", Named::OldData},
    {"Eski data dosyasının kopyası: ", Named::OldData},
    {"Eski log dosyası: ", Named::OldLog},
    {"Eski log dosyasının kopyası: ", Named::OldLog},
    {"Onarılan data dosyası: ", Named::RepairedData},
    {"Onarılan log dosyası: ", Named::RepairedLog},
    {"Onarılmış data dosyası: ", Named::Rebuilt},
    {"Onarılmış data dosyasının log dosyası: ", Named::RebuiltLog},
    {"Geçici datanın log dosyası: ", Named::ScratchLog},
};
const char* const BackupLine = "Yedek alındı: ";

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c == '/')
            c = '\\';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool samePath(std::string_view a, std::string_view b) {
    return lower(a) == lower(b);
}

bool startsWithPath(std::string_view path, std::string_view prefix) {
    return lower(path).starts_with(lower(prefix));
}

fs::path binFolder() {
    // The program runs from BUILD/tests; the stand-in is in BUILD/bin.
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

std::string lastStatementDatabase(const std::string& statement) {
    return lower(statement).find("'kelvora1'") != std::string::npos ? "kelvora1" : "kelvora";
}

// A database as the stand-in's catalog file records it.
struct CatalogEntry {
    std::string dataFile, logFile;
    int status = 0;
};

class TriggerFiles;

class Run {
public:
    Run(const Scenario& scenario, const RunOptions& options);
    ~Run();
    Outcome go();

    // The file functions tell the run about each call that changes files.
    void beforeFileCall(Step kind);
    void afterFileCall();

private:
    // The host.
    void buildHost();
    void writeDatabaseFiles();
    void runSetupStatements(const std::vector<std::string>& statements);
    void startService();
    std::uint32_t serviceState();
    void waitForServiceState(std::uint32_t state);

    // The console.
    void openConsole();
    void onTrace(const std::string& text, dataaccess::TDATraceFlag flag);
    void onLine(const std::string& message);
    std::vector<std::string> messages() const;
    void round(int number);

    // Faults.
    void step(Step kind);
    void fire(Fault& fault);
    void disarm(const Fault& fault);
    void disarmAll();
    bool holdFile(HostFile file);

    // What the host holds.
    std::optional<std::string> contentOf(const std::string& windowsPath) const;
    static std::optional<std::string> userBytes(const std::optional<std::string>& content);
    std::optional<dbfile::Header> headerOf(const std::string& windowsPath) const;
    std::optional<bool> consistent(const std::string& windowsPath) const;
    std::map<std::string, CatalogEntry> catalog() const;
    std::vector<std::string> savedLog();

    // Judgement.
    void violation(const std::string& text);
    void checkClaim(const std::string& message);
    void judgeRound(int number, const std::vector<std::string>& lines);
    void expectAttachedAndSound(const std::string& context, bool checked);
    void expectFilesInPlace(const std::vector<std::string>& lines);
    void expectUserBytesStated(const std::vector<std::string>& saved);

    const Scenario& s_;
    RunOptions options_;
    Outcome outcome_;
    fs::path folder_;
    std::optional<platform::sim::SimHost> host_;
    std::unique_ptr<platform::Platform> simulated_;
    platform::ManualClock clock_;
    std::unique_ptr<TriggerFiles> files_;
    std::unique_ptr<platform::CompositePlatform> platform_;
    std::unique_ptr<TForm1> form_;
    std::vector<std::string> errorBoxes_;
    TMessageBoxHook previousHook_;
    bool hooked_ = false;

    std::vector<Fault> faults_;
    std::vector<bool> fired_;
    std::vector<const Fault*> onceOnly_; // fired for the call under way only
    std::vector<FileHold> holds_;
    std::map<Step, int> counts_;
    bool faultsLive_ = false;
    int statementsInRound_ = 0;

    // The statement traced last and whether it failed.
    std::string lastStatement_;
    bool lastStatementFailed_ = false;
    int linesSeen_ = 0;
    int currentRound_ = 0;

    // The user's files as the scenario began, and as the running "Onar" found them.
    std::optional<std::string> originalData_, originalLog_;
    std::optional<std::string> onarData_, onarLog_;
    std::optional<std::string> roundData_, roundLog_;
    std::map<std::string, std::string> earlierKept_;                // files an earlier rebuild kept
    std::vector<std::pair<std::string, std::string>> namedRepairs_; // named by round 1's stop
    std::string rebuiltNamed_; // the file a stop line names as the rebuilt data
    bool copiedInRound_ = false;
};

// The host's file functions, counting the calls that change files so that a fault can fire
// before the n-th one; the faults themselves are the host's (host.conf keys).
class TriggerFiles final : public platform::FileSystem {
public:
    TriggerFiles(platform::FileSystem& real, Run& run) : real_(real), run_(run) {}

    bool fileExists(std::string_view path) override { return real_.fileExists(path); }
    bool folderExists(std::string_view path) override { return real_.folderExists(path); }
    platform::Result<std::uint64_t> fileSize(std::string_view path) override {
        return real_.fileSize(path);
    }
    platform::Result<void> copyFile(std::string_view from, std::string_view to,
                                    bool failIfExists) override {
        const Guard guard(run_, Step::Copy);
        return real_.copyFile(from, to, failIfExists);
    }
    platform::Result<void> deleteFile(std::string_view path) override {
        const Guard guard(run_, Step::Delete);
        return real_.deleteFile(path);
    }
    platform::Result<void> renameFile(std::string_view from, std::string_view to) override {
        const Guard guard(run_, Step::Rename);
        return real_.renameFile(from, to);
    }
    platform::Result<void> createFolder(std::string_view path) override {
        return real_.createFolder(path);
    }
    platform::Result<void> clearReadOnly(std::string_view path) override {
        return real_.clearReadOnly(path);
    }
    platform::Result<std::string> readFile(std::string_view path) override {
        return real_.readFile(path);
    }
    platform::Result<void> writeFile(std::string_view path, std::string_view contents) override {
        return real_.writeFile(path, contents);
    }
    int shellCopy(std::string_view from, std::string_view to,
                  const platform::CopyProgress& progress) override {
        const Guard guard(run_, Step::Copy);
        return real_.shellCopy(from, to, progress);
    }

private:
    struct Guard {
        Guard(Run& run, Step kind) : run_(run) { run_.beforeFileCall(kind); }
        ~Guard() { run_.afterFileCall(); }
        Run& run_;
    };
    platform::FileSystem& real_;
    Run& run_;
};

Run::Run(const Scenario& scenario, const RunOptions& options) : s_(scenario), options_(options) {
    faults_ = s_.faults;
    fired_.assign(faults_.size(), false);
    std::string pattern = (fs::temp_directory_path() / "kelvora-campaign-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    folder_ = pattern;
    if (options_.onFolder)
        options_.onFolder(folder_.string());
    if (options_.verbose)
        std::cerr << "host " << folder_.string() << "\n";
}

Run::~Run() {
    form_.reset();
    holds_.clear();
    if (hooked_)
        TApplication::SetMessageBoxHook(previousHook_);
    if (host_)
        (void)platform::sim::killServiceProcess(*host_, ServiceName);
    kv::console::TrustEveryCopyForTesting = false;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

// ---------------------------------------------------------------------------------------------
// The host

void Run::writeDatabaseFiles() {
    auto data = host_->resolve(DataPath);
    auto log = host_->resolve(LogPath);
    fs::create_directories(data->parent_path());
    const std::uint16_t version = s_.profile == "2005" ? 611 : 539;
    const auto write = [&](const fs::path& file,
                           const std::function<bool(dbfile::File&, std::string&)>& f) {
        std::error_code ec;
        fs::remove(file, ec); // written anew, never over a longer file
        auto opened =
            platform::FileHold::openShared(file, platform::FileHold::Open::CreateIfMissing);
        std::string why = opened ? std::string() : opened.error().message;
        if (!opened || !f(*opened, why))
            throw std::runtime_error("cannot write " + file.string() + ": " + why);
    };
    // A writer's result as the lambdas above report it.
    const auto done = [](platform::Result<void> written, std::string& why) {
        if (!written)
            why = written.error().message;
        return written.ok();
    };
    dbfile::Header header;
    header.database = "kelvora";
    header.id = dbfile::newFileId();
    header.version = version;
    write(*data, [&](dbfile::File& file, std::string& why) {
        if (!done(dbfile::writeDataFile(file, header, dbfile::demoTables(400), 96), why))
            return false;
        return dbfile::damage(file, header, s_.damaged, why) == s_.damaged;
    });
    write(*log, [&](dbfile::File& file, std::string& why) {
        return done(dbfile::writeLogFile(file, "kelvora", header.id, version, 63), why);
    });
    if (s_.leftovers.keptNumber > 0) {
        // An older copy of the database, kept by a rebuild that stopped long ago.
        const std::string n = std::to_string(s_.leftovers.keptNumber);
        dbfile::Header older = header;
        older.id = dbfile::newFileId();
        write(host_->resolve(std::string(DataPath) + n).value(),
              [&](dbfile::File& file, std::string& why) {
                  return done(dbfile::writeDataFile(file, older, dbfile::demoTables(300), 96), why);
              });
        write(host_->resolve(std::string(LogPath) + n).value(),
              [&](dbfile::File& file, std::string& why) {
                  return done(dbfile::writeLogFile(file, "kelvora", older.id, version, 63), why);
              });
    }
    if (s_.leftovers.scratchLogNumber > 0) {
        const std::string n = std::to_string(s_.leftovers.scratchLogNumber);
        write(host_->resolve(std::string(ScratchLogPath) + n).value(), [&](dbfile::File& file,
                                                                           std::string& why) {
            return done(dbfile::writeLogFile(file, "kelvora1", dbfile::newFileId(), version, 63),
                        why);
        });
    }
}

void Run::runSetupStatements(const std::vector<std::string>& statements) {
    standin::Engine::Options options;
    options.profile = s_.profile == "2005" ? standin::Profile::Sql2005 : standin::Profile::Sql2000;
    standin::Engine engine(*host_, options);
    auto session = engine.openSession();
    auto login = engine.login(*session, "sa", standin::DefaultSaPassword, "");
    if (!login.ok)
        throw std::runtime_error("the stand-in refused the login");
    for (const auto& statement : statements) {
        standin::RecordingSink sink;
        (void)engine.execute(*session, statement, sink);
        if (!sink.errors().empty())
            throw std::runtime_error("set-up statement refused: " + statement + ": " +
                                     sink.errors()[0].text);
    }
    engine.closeSession(*session);
}

void Run::buildHost() {
    auto created = platform::sim::SimHost::create(folder_ / "host");
    if (!created)
        throw std::runtime_error("cannot create the host: " + created.error().message);
    host_.emplace(std::move(created).value());
    writeDatabaseFiles();

    std::vector<std::string> statements;
    if (!s_.detached)
        statements.push_back(std::string("create database kelvora ON (FILENAME = '") + DataPath +
                             "') LOG ON (FILENAME = '" + LogPath + "') FOR ATTACH");
    if (s_.leftovers.scratchFiles) {
        statements.push_back("CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME "
                             "='c:\\kelvora1_Data.MDF') LOG ON (NAME = "
                             "'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')");
        if (!s_.leftovers.scratchDatabase)
            statements.push_back("EXEC sp_detach_db 'kelvora1','true'");
    }
    runSetupStatements(statements);

    // What happened to the files while the server was down.
    const auto garble = [&](const char* windowsPath) {
        std::fstream file(host_->resolve(windowsPath).value(),
                          std::ios::binary | std::ios::in | std::ios::out);
        const std::string garbage(dbfile::PageSize, '\xEE');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    };
    if (s_.garbageDataHeader)
        garble(DataPath);
    switch (s_.log) {
    case LogStart::Normal:
        break;
    case LogStart::Missing:
        fs::remove(host_->resolve(LogPath).value());
        break;
    case LogStart::Foreign: {
        const auto path = host_->resolve(LogPath).value();
        std::error_code ec;
        fs::remove(path, ec);
        auto file = platform::FileHold::openShared(path, platform::FileHold::Open::CreateIfMissing);
        if (file)
            (void)dbfile::writeLogFile(*file, "kelvora", dbfile::newFileId(),
                                       s_.profile == "2005" ? 611 : 539, 63);
        break;
    }
    case LogStart::Garbage:
        garble(LogPath);
        break;
    }
    originalData_ = userBytes(contentOf(DataPath));
    originalLog_ = userBytes(contentOf(LogPath));
    for (const auto& entry : fs::recursive_directory_iterator(host_->driveC())) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && std::isdigit(static_cast<unsigned char>(name.back()))) {
            std::string windows =
                "C:\\" + fs::relative(entry.path(), host_->driveC()).generic_string();
            std::replace(windows.begin(), windows.end(), '/', '\\');
            earlierKept_[windows] = contentOf(windows).value_or("");
        }
    }
    const auto readOnly = [&](const char* windowsPath) {
        fs::permissions(host_->resolve(windowsPath).value(), fs::perms::owner_write,
                        fs::perm_options::remove);
    };
    if (s_.dataReadOnly)
        readOnly(DataPath);
    if (s_.logReadOnly)
        readOnly(LogPath);
    if (s_.heldAtStart != HostFile::None && !holdFile(s_.heldAtStart))
        throw std::runtime_error("cannot hold the file of the starting state");

    std::ofstream(host_->servicesFolder() / (std::string(ServiceName) + ".service"))
        << "command = '" << (binFolder() / "sqlserver-standin").string() << "' --service --profile "
        << s_.profile << "\n";
    startService();
}

std::uint32_t Run::serviceState() {
    auto& services = simulated_->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager)
        return 0;
    std::uint32_t state = 0;
    if (auto service =
            services.openService(*manager, ServiceName, platform::ServiceAccess::QueryStatus)) {
        auto status = services.queryStatus(*service);
        state = status ? status->currentState : 0;
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    return state;
}

void Run::waitForServiceState(std::uint32_t state) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (serviceState() != state && std::chrono::steady_clock::now() < end)
        QThread::usleep(500);
}

void Run::startService() {
    simulated_ = platform::sim::createSimulatedPlatform(*host_);
    auto& services = simulated_->services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    auto service = services.openService(*manager, ServiceName, platform::ServiceAccess::Start);
    if (!service || !services.start(*service))
        throw std::runtime_error("the service did not start");
    (void)services.close(*service);
    (void)services.close(*manager);
    waitForServiceState(platform::ServiceState::Running);
    if (serviceState() != platform::ServiceState::Running)
        throw std::runtime_error("the service does not run");
}

// ---------------------------------------------------------------------------------------------
// What the host holds

std::optional<std::string> Run::contentOf(const std::string& windowsPath) const {
    auto real = host_->resolve(windowsPath);
    if (!real)
        return std::nullopt;
    const int fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

// A database file's bytes after its header page, which the server rewrites whenever it opens
// or closes the file (clean flag, version): what the user's data is.
std::optional<std::string> Run::userBytes(const std::optional<std::string>& content) {
    if (!content)
        return std::nullopt;
    return content->size() > dbfile::PageSize ? content->substr(dbfile::PageSize) : *content;
}

std::optional<dbfile::Header> Run::headerOf(const std::string& windowsPath) const {
    auto real = host_->resolve(windowsPath);
    if (!real)
        return std::nullopt;
    auto file = platform::FileHold::openShared(*real, platform::FileHold::Open::ReadOnly);
    if (!file)
        return std::nullopt;
    dbfile::ReadError kind;
    std::string why;
    return dbfile::readHeader(*file, kind, why);
}

std::optional<bool> Run::consistent(const std::string& windowsPath) const {
    auto real = host_->resolve(windowsPath);
    if (!real)
        return std::nullopt;
    auto file = platform::FileHold::openShared(*real, platform::FileHold::Open::ReadOnly);
    if (!file)
        return std::nullopt;
    dbfile::ReadError kind;
    std::string why;
    auto header = dbfile::readHeader(*file, kind, why);
    if (header && header->role == dbfile::Role::Data)
        return dbfile::check(*file, *header).problems.empty();
    return std::nullopt;
}

std::map<std::string, CatalogEntry> Run::catalog() const {
    std::map<std::string, CatalogEntry> out;
    std::ifstream in(host_->resolve(standin::StateFileWindowsPath).value());
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            const auto tab = line.find('\t', start);
            f.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        if (f.size() >= 6 && f[0] == "database")
            out[lower(f[1])] = {f[3], f[4], std::atoi(f[5].c_str())};
    }
    return out;
}

std::vector<std::string> Run::savedLog() {
    std::vector<std::string> lines;
    try {
        form_->SaveLog();
    } catch (const std::exception& e) {
        violation(std::string("the log cannot be saved: ") + e.what());
        return lines;
    }
    auto bytes = simulated_->files().readFile(SavedLogPath);
    if (!bytes) {
        violation("the saved log cannot be read");
        return lines;
    }
    const std::string text = simulated_->codePage().toUtf8(*bytes);
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        lines.push_back(messageOf(text.substr(start, end - start)));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Faults

bool Run::holdFile(HostFile file) {
    const char* path = file == HostFile::Data          ? DataPath
                       : file == HostFile::Log         ? LogPath
                       : file == HostFile::ScratchData ? ScratchDataPath
                                                       : ScratchLogPath;
    auto real = host_->resolve(path);
    std::error_code ec;
    if (!real || !fs::is_regular_file(*real, ec))
        return false;
    auto hold = FileHold::hold(*real);
    if (!hold)
        return false;
    holds_.push_back(std::move(hold).value());
    return true;
}

void Run::fire(Fault& fault) {
    const auto set = [&](const char* key, const std::string& value) {
        if (!host_->setSetting(key, value))
            throw std::runtime_error(std::string("cannot set ") + key);
    };
    bool fired = true;
    switch (fault.kind) {
    case FaultKind::CopyInterrupted:
        set("fail_copy_after", std::to_string(fault.code) + " " + std::to_string(fault.bytes));
        break;
    case FaultKind::ServerKilled:
        fired = platform::sim::killServiceProcess(*host_, ServiceName).valueOr(false);
        waitForServiceState(platform::ServiceState::Stopped);
        break;
    case FaultKind::RenameRefused:
        set("fail_rename_file", std::to_string(fault.code));
        break;
    case FaultKind::CopyRefused:
        set("fail_copy_file", std::to_string(fault.code));
        set("fail_shell_copy", std::to_string(fault.code));
        break;
    case FaultKind::DeleteRefused:
        set("fail_delete_file", std::to_string(fault.code));
        break;
    case FaultKind::FileHeld:
        fired = holdFile(fault.file);
        break;
    case FaultKind::StartRefused:
        std::ofstream(host_->servicesFolder() / (std::string(ServiceName) + ".service"),
                      std::ios::app)
            << "fail_start = " << fault.code << "\n";
        break;
    case FaultKind::DiskFull:
        set("disk_free", std::to_string(fault.bytes));
        break;
    }
    if (!fired)
        return;
    outcome_.fired.push_back(fault.kind);
    outcome_.firedText.push_back(describe(fault));
    if (options_.verbose)
        std::cerr << "fault: " << describe(fault) << "\n";
    const bool oneCall =
        fault.kind == FaultKind::CopyInterrupted || fault.kind == FaultKind::RenameRefused ||
        fault.kind == FaultKind::CopyRefused || fault.kind == FaultKind::DeleteRefused;
    if (oneCall && !fault.lasting)
        onceOnly_.push_back(&fault);
}

void Run::disarm(const Fault& fault) {
    const auto clear = [&](const char* key) {
        if (host_->setting(key))
            (void)host_->setSetting(key, "");
    };
    (void)host_->reload();
    switch (fault.kind) {
    case FaultKind::CopyInterrupted:
        clear("fail_copy_after");
        break;
    case FaultKind::RenameRefused:
        clear("fail_rename_file");
        break;
    case FaultKind::CopyRefused:
        clear("fail_copy_file");
        clear("fail_shell_copy");
        break;
    case FaultKind::DeleteRefused:
        clear("fail_delete_file");
        break;
    case FaultKind::DiskFull:
        clear("disk_free");
        break;
    default:
        break;
    }
}

void Run::disarmAll() {
    faultsLive_ = false;
    onceOnly_.clear();
    for (const auto& fault : faults_)
        disarm(fault);
    holds_.clear();
    std::ofstream(host_->servicesFolder() / (std::string(ServiceName) + ".service"))
        << "command = '" << (binFolder() / "sqlserver-standin").string() << "' --service --profile "
        << s_.profile << "\n";
}

void Run::step(Step kind) {
    ++counts_[kind];
    if (kind == Step::Copy || kind == Step::Rename || kind == Step::Delete)
        ++counts_[Step::FileCall];
    if (!faultsLive_)
        return;
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        if (fired_[i] || faults_[i].counts != kind)
            continue;
        if (counts_[kind] == faults_[i].at) {
            fired_[i] = true;
            fire(faults_[i]);
        }
    }
    if (kind != Step::Statement)
        for (std::size_t i = 0; i < faults_.size(); ++i)
            if (!fired_[i] && faults_[i].counts == Step::FileCall &&
                counts_[Step::FileCall] == faults_[i].at) {
                fired_[i] = true;
                fire(faults_[i]);
            }
}

void Run::beforeFileCall(Step kind) {
    step(kind);
}

void Run::afterFileCall() {
    for (const Fault* fault : onceOnly_)
        disarm(*fault);
    onceOnly_.clear();
}

// ---------------------------------------------------------------------------------------------
// The console

void Run::openConsole() {
    ::setenv("KELVORA_HOST", host_->root().c_str(), 1);
    files_ = std::make_unique<TriggerFiles>(simulated_->files(), *this);
    platform_ = std::make_unique<platform::CompositePlatform>(simulated_.get());
    platform_->setClock(&clock_);
    platform_->setFiles(files_.get());
    // A service wait's 8000 ms sleep ends when the service has left its pending state.
    clock_.setOnSleep([this](std::uint32_t ms) {
        if (ms < 1000)
            return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const auto state = serviceState();
            if (state != platform::ServiceState::StartPending &&
                state != platform::ServiceState::StopPending)
                return;
            QThread::usleep(500);
        }
    });
    previousHook_ = TApplication::SetMessageBoxHook([this](const TMessageBoxRequest& box) {
        errorBoxes_.push_back(box.Text);
        return mrOk;
    });
    hooked_ = true;
    // The window is made but not shown: the operations and their lines are the same, and
    // painting each line would cost as much again as the rest of a scenario.
    form_ = std::make_unique<TForm1>(nullptr, *platform_);
    form_->Memo1->OnChange = [this](TObject*) {
        const int count = form_->Memo1->Lines()->Count();
        for (; linesSeen_ < count; ++linesSeen_)
            onLine(messageOf(form_->Memo1->Lines()->Get(linesSeen_)));
    };
    form_->MSSQLMonitor1->OnSQL = [this](TObject* sender, const std::string& text,
                                         dataaccess::TDATraceFlag flag) {
        form_->MSSQLMonitor1SQL(sender, text, flag);
        onTrace(text, flag);
    };
    // The start-up sequence, without waiting for the timer's first tick.
    form_->Timer1Timer(form_->Timer1);
}

void Run::onTrace(const std::string& text, dataaccess::TDATraceFlag flag) {
    if (options_.verbose)
        std::cerr << "  trace: " << text.substr(0, 120) << "\n";
    if (flag == dataaccess::tfError) {
        lastStatementFailed_ = true;
        return;
    }
    if (flag != dataaccess::tfQExecute)
        return;
    lastStatement_ = text;
    lastStatementFailed_ = false;
    ++statementsInRound_;
    step(Step::Statement);
}

void Run::onLine(const std::string& message) {
    if (options_.verbose)
        std::cerr << "log: " << message << "\n";
    outcome_.log.push_back(message);
    checkClaim(message);
}

std::vector<std::string> Run::messages() const {
    std::vector<std::string> out;
    for (int i = 0; i < form_->Memo1->Lines()->Count(); ++i)
        out.push_back(messageOf(form_->Memo1->Lines()->Get(i)));
    return out;
}

void Run::violation(const std::string& text) {
    const std::string tagged = "round " + std::to_string(currentRound_) + ": " + text;
    if (std::find(outcome_.violations.begin(), outcome_.violations.end(), tagged) ==
        outcome_.violations.end())
        outcome_.violations.push_back(tagged);
}

// Every line that says something happened is checked against the host the moment it is written.
void Run::checkClaim(const std::string& m) {
    const auto startsWith = [&](const char* prefix) { return m.starts_with(prefix); };
    if (m == "Data Onarma işlemine başlanıldı.") {
        onarData_ = userBytes(contentOf(DataPath));
        onarLog_ = userBytes(contentOf(LogPath));
        rebuiltNamed_.clear();
        copiedInRound_ = false;
        return;
    }
    if (startsWith(BackupLine)) {
        const std::string path = m.substr(std::string(BackupLine).size());
        const bool data = startsWithPath(path, DataPath);
        const auto& expected = data ? onarData_ : onarLog_;
        const auto held = userBytes(contentOf(path));
        if (!held)
            violation("\"" + m + "\", but there is no such file");
        else if (!startsWithPath(path, data ? DataPath : LogPath) || held != expected)
            violation("\"" + m + "\", but the file does not hold the " + (data ? "data" : "log") +
                      " file's bytes");
        return;
    }
    for (const auto& [prefix, named] : LocationLines) {
        if (!startsWith(prefix))
            continue;
        const std::string path = m.substr(std::string(prefix).size());
        const auto content = contentOf(path);
        if (!content) {
            violation("\"" + m + "\", but there is no such file");
            return;
        }
        switch (named) {
        case Named::OldData:
            if (userBytes(content) != onarData_)
                violation("\"" + m + "\", but the file does not hold the old data");
            break;
        case Named::OldLog:
            if (userBytes(content) != onarLog_)
                violation("\"" + m + "\", but the file does not hold the old log");
            break;
        case Named::Rebuilt:
            rebuiltNamed_ = path;
            if (consistent(path) != true)
                violation("\"" + m + "\", but the file is not a consistent data file");
            break;
        case Named::RebuiltLog: {
            const auto log = headerOf(path);
            const auto data = rebuiltNamed_.empty() ? std::nullopt : headerOf(rebuiltNamed_);
            if (!log || log->role != dbfile::Role::Log || !data || log->dataId != data->id)
                violation("\"" + m + "\", but the file is not the log of the rebuilt data file");
            break;
        }
        case Named::ScratchLog: {
            const auto log = headerOf(path);
            if (!log || log->role != dbfile::Role::Log)
                violation("\"" + m + "\", but the file is not a log file");
            break;
        }
        case Named::RepairedData:
        case Named::RepairedLog:
            break;
        }
        return;
    }
    if (m == "Dosya kopyalandı.") {
        copiedInRound_ = true;
        const auto product = contentOf(DataPath);
        if (!product || product != contentOf("C:\\Kelvora1_DATA.MDF"))
            violation("\"" + m + "\", but the product data file is not the rebuilt file");
        return;
    }
    const auto attached = [&](const std::string& name) { return catalog().count(name) > 0; };
    if (m == "Data Bağlandı" || m == LineAttached) {
        if (!attached("kelvora"))
            violation("\"" + m + "\", but kelvora is not attached");
        return;
    }
    if (m == "Data Koparıldı") {
        if (attached("kelvora"))
            violation("\"" + m + "\", but kelvora is still attached");
        return;
    }
    if (m == "Kelvora Oluşduruldu.Düzenleme modu başlıyor") {
        if (!attached("kelvora1"))
            violation("\"" + m + "\", but kelvora1 does not exist");
        return;
    }
    if (m == LineHealthy) {
        if (lower(lastStatement_).find("checkdb") == std::string::npos || lastStatementFailed_) {
            violation("\"" + m + "\", but no check passed right before it");
            return;
        }
        const auto entries = catalog();
        const auto at = entries.find(lastStatementDatabase(lastStatement_));
        if (at == entries.end() || consistent(at->second.dataFile) != true)
            violation("\"" + m + "\", but the checked database's data file is not consistent");
        return;
    }
    if (m == "Server durumu: Çalışıyor" && serviceState() != platform::ServiceState::Running) {
        violation("\"" + m + "\", but the service does not run");
        return;
    }
    if (m == "Server durumu: Durdurulmuş" && serviceState() != platform::ServiceState::Stopped)
        violation("\"" + m + "\", but the service is not stopped");
}

// ---------------------------------------------------------------------------------------------
// Judgement of a round

// `checked`: a check or a rebuild ran, so the database must also be consistent (a plain attach
// does not look inside the files).
void Run::expectAttachedAndSound(const std::string& context, bool checked) {
    const auto entries = catalog();
    const auto at = entries.find("kelvora");
    if (at == entries.end()) {
        violation(context + ", but kelvora is not attached");
        return;
    }
    const CatalogEntry& db = at->second;
    if (!samePath(db.dataFile, DataPath) || !samePath(db.logFile, LogPath))
        violation(context + ", but kelvora is attached from " + db.dataFile + " and " + db.logFile);
    if (db.status & (32768 | 4096 | 2048))
        violation(context +
                  ", but kelvora is left in emergency, single-user or dbo-only mode "
                  "(status " +
                  std::to_string(db.status) + ")");
    if (checked && consistent(db.dataFile) != true)
        violation(context + ", but the attached data file is not consistent");
    const auto data = headerOf(db.dataFile);
    const auto log = headerOf(db.logFile);
    if (!data || !log || log->role != dbfile::Role::Log || log->dataId != data->id)
        violation(context + ", but the attached log file is not the data file's own");
}

// A stop leaves at the product paths only what was there, what a stop line names there, or a
// data file with its own log.
void Run::expectFilesInPlace(const std::vector<std::string>& lines) {
    std::vector<std::string> named;
    for (const auto& line : lines)
        for (const auto& [prefix, kind] : LocationLines)
            if (line.starts_with(prefix))
                named.push_back(line.substr(std::string(prefix).size()));
    const auto isNamed = [&](const char* path) {
        return std::any_of(named.begin(), named.end(),
                           [&](const std::string& n) { return samePath(n, path); });
    };
    const auto data = contentOf(DataPath);
    const auto log = contentOf(LogPath);
    const bool dataAsFound = userBytes(data) == onarData_;
    const bool logAsFound = userBytes(log) == onarLog_;
    const auto dataHeader = data ? headerOf(DataPath) : std::nullopt;
    const auto logHeader = log ? headerOf(LogPath) : std::nullopt;
    const bool pair = dataHeader && logHeader && logHeader->role == dbfile::Role::Log &&
                      logHeader->dataId == dataHeader->id;
    if (data && !dataAsFound && !isNamed(DataPath) &&
        !(copiedInRound_ && consistent(DataPath) == true))
        violation("the rebuild stopped with a data file at the product path that no line names");
    if (log && !logAsFound && !isNamed(LogPath) && !pair)
        violation("the rebuild stopped with a log file at the product path that no line names "
                  "and that is not the data file's own");
    if (data && log && !isNamed(DataPath) && !isNamed(LogPath) && !(dataAsFound && logAsFound) &&
        !pair)
        violation("the rebuild stopped with a data file and a log file at the product paths "
                  "that do not belong together");
}

void Run::expectUserBytesStated(const std::vector<std::string>& saved) {
    std::vector<std::string> stated = {DataPath, LogPath};
    for (const auto& line : saved) {
        if (line.starts_with(BackupLine))
            stated.push_back(line.substr(std::string(BackupLine).size()));
        for (const auto& [prefix, kind] : LocationLines)
            if (line.starts_with(prefix))
                stated.push_back(line.substr(std::string(prefix).size()));
    }
    const auto found = [&](const std::optional<std::string>& bytes) {
        return std::any_of(stated.begin(), stated.end(), [&](const std::string& path) {
            return userBytes(contentOf(path)) == bytes;
        });
    };
    if (originalData_ && !found(originalData_))
        violation("the old data file's bytes are in no file that the saved log names");
    if (originalLog_ && !found(originalLog_))
        violation("the old log file's bytes are in no file that the saved log names");
    for (const auto& [path, content] : earlierKept_)
        if (contentOf(path) != content)
            violation("the file " + path + " that an earlier rebuild kept has changed or gone");
    // What the first round repaired and left named (a stop after the repair) may go only when
    // a repaired database has taken its place.
    const bool repairedNow = outcome_.ending[currentRound_ - 1] == "repaired" ||
                             outcome_.ending[currentRound_ - 1] == "healthy";
    for (const auto& [path, bytes] : namedRepairs_)
        if (!repairedNow && !found(bytes))
            violation("the repaired data file that the first round named (" + path +
                      ") is gone, and no repaired database took its place");
    if (currentRound_ == 1)
        for (const auto& line : saved)
            for (const char* prefix : {"Onarılmış data dosyası: ", "Onarılan data dosyası: "})
                if (line.starts_with(prefix)) {
                    const std::string path = line.substr(std::string(prefix).size());
                    if (auto bytes = userBytes(contentOf(path)))
                        namedRepairs_.emplace_back(path, *bytes);
                }
}

void Run::judgeRound(int number, const std::vector<std::string>& lines) {
    if (lines.empty()) {
        violation("the round wrote no line");
        return;
    }
    const std::string& last = lines.back();
    const bool rebuilt =
        std::find(lines.begin(), lines.end(),
                  "Dosya kopyalanıyor. Disk hatası verirse disk "
                  "onarma yapınız...") != lines.end() ||
        std::find(lines.begin(), lines.end(),
                  "Dosyalar yedekleniyor. Disk hatası verirse disk onarma yapınız...") !=
            lines.end();
    std::string& ending = outcome_.ending[number - 1];
    const bool checked =
        std::find(lines.begin(), lines.end(), "Data Onarma işlemine başlanıldı.") != lines.end();
    if (last == LineAttached || last == LineHealthy) {
        ending = rebuilt ? "repaired" : checked ? "healthy" : "attached";
        expectAttachedAndSound("the last line says \"" + last + "\"", checked);
    } else if (last == LineStopped || last == LineAttachGaveUp) {
        ending = "stopped";
        expectFilesInPlace(lines);
    } else if (last == LineNoLink || (!checked && last == LineNotAttached)) {
        // Nothing was done to the files: the server could not be reached (a plain "Data Bağla"
        // whose server went after the attach ends on the panel's own line).
        ending = "not connected";
        const auto& data = checked ? onarData_ : roundData_;
        const auto& log = checked ? onarLog_ : roundLog_;
        if (userBytes(contentOf(DataPath)) != data || userBytes(contentOf(LogPath)) != log)
            violation("the last line says \"" + last + "\", but the product files have changed");
    } else {
        ending = "unclear";
        violation("the last line says neither that the database is attached nor that the rebuild "
                  "stopped: \"" +
                  last + "\"");
    }
    if (lines.size() > MaxLinesPerRound)
        violation("the round wrote " + std::to_string(lines.size()) + " lines");
    if (statementsInRound_ > MaxStatementsPerRound)
        violation("the round sent " + std::to_string(statementsInRound_) + " statements");
    expectUserBytesStated(savedLog());
    for (const auto& box : errorBoxes_)
        violation("an error box appeared: " + box);
    errorBoxes_.clear();
}

void Run::round(int number) {
    currentRound_ = number;
    counts_.clear();
    statementsInRound_ = 0;
    const std::uint32_t startTick = clock_.tickCount();
    const std::size_t from = static_cast<std::size_t>(form_->Memo1->Lines()->Count());
    roundData_ = userBytes(contentOf(DataPath));
    roundLog_ = userBytes(contentOf(LogPath));
    if (number == 2) {
        // The faults are over and the other programs closed; the user starts the server if it
        // is down, then runs "Onar" again.
        disarmAll();
        if (serviceState() != platform::ServiceState::Running)
            form_->SrvBaslatBtn->Click();
    } else {
        faultsLive_ = true;
    }
    if (number == 1 && s_.detached)
        form_->AttBtn->Click();
    else
        form_->OnarBTN->Click();
    faultsLive_ = false;
    afterFileCall();
    const auto all = messages();
    const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(from),
                                         all.end());
    if (number == 1)
        outcome_.steps = std::to_string(counts_[Step::Statement]) + " statements, " +
                         std::to_string(counts_[Step::FileCall]) + " file calls (" +
                         std::to_string(counts_[Step::Copy]) + " copies, " +
                         std::to_string(counts_[Step::Rename]) + " renames, " +
                         std::to_string(counts_[Step::Delete]) + " deletes)";
    if (clock_.tickCount() - startTick > MaxFakeMillisecondsPerRound)
        violation("the round took " + std::to_string((clock_.tickCount() - startTick) / 1000) +
                  " s on the console's clock");
    judgeRound(number, lines);
}

Outcome Run::go() {
    buildHost();
    kv::console::TrustEveryCopyForTesting = options_.breakCopy;
    openConsole();
    const auto startup = messages();
    const std::string expected = s_.detached ? LineNotAttached : LineAttached;
    // On SQL Server 2005 the database's health follows the line that found it.
    if (std::find(startup.begin(), startup.end(), expected) == startup.end())
        throw std::runtime_error("the start-up did not find the database: " +
                                 (startup.empty() ? std::string("no line") : startup.back()));
    round(1);
    round(2);
    return outcome_;
}

} // namespace

Outcome runScenario(const Scenario& scenario, const RunOptions& options) {
    Run run(scenario, options);
    return run.go();
}

} // namespace kv::e2e::campaign
