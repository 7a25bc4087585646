#include "simulator/standin/Engine.h"

#include "simulator/standin/Sql.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace kv::standin {

namespace fs = std::filesystem;
using platform::sim::FileHold;

namespace {

const ProfileInfo profile2000{
    Profile::Sql2000,
    "2000",
    "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 \n\tCopyright "
    "(c) 1988-2003 Microsoft Corporation\n\tDesktop Engine on Windows NT 5.1 (Build 2600: "
    "Service Pack 3)\n",
    "8.00.2039",
    "SP4",
    "Desktop Engine",
    8,
    0,
    2039,
    0x71000001,
    539,
    80,
    "7.1"};

const ProfileInfo profile2005{
    Profile::Sql2005,
    "2005",
    "Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) \n\tDec 10 2010 10:56:29 \n\tCopyright "
    "(c) 1988-2005 Microsoft Corporation\n\tExpress Edition on Windows NT 5.1 (Build 2600: "
    "Service Pack 3)\n",
    "9.00.5000.00",
    "SP4",
    "Express Edition",
    9,
    0,
    5000,
    0x72090002,
    611,
    90,
    "7.2"};

DateTime now() {
    const auto t = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    // 1900-01-01 to 1970-01-01 is 25567 days.
    const std::int64_t days = ms / 86400000 + 25567;
    const std::int64_t msOfDay = ms % 86400000;
    return {static_cast<std::int32_t>(days), static_cast<std::uint32_t>(msOfDay * 300 / 1000)};
}

std::string escapeField(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapeField(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        out.push_back(unescapeField(line.substr(start, tab - start)));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    return out;
}

Message msg(int number, int severity, int state, std::string text, int line = 1,
            std::string procedure = {}) {
    return Message{number, state, severity, std::move(text), std::move(procedure), line};
}

// "%.2f" with halves rounded away from zero, as SQL Server prints its allocation sizes.
std::string megabytes(std::uint64_t bytes) {
    const std::uint64_t cents = (bytes * 100 + 524288) / 1048576;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%02llu", static_cast<unsigned long long>(cents / 100),
                  static_cast<unsigned long long>(cents % 100));
    return buf;
}

const char* osErrorText(platform::ErrorCode code) {
    switch (code) {
    case 2:
        return "2(The system cannot find the file specified.)";
    case 3:
        return "3(The system cannot find the path specified.)";
    case 5:
        return "5(Access is denied.)";
    case 32:
        return "32(The process cannot access the file because it is being used by another "
               "process.)";
    case 112:
        return "112(There is not enough space on the disk.)";
    case 29:
        return "29(The system cannot write to the specified device.)";
    case 31:
        return "31(A device attached to the system is not functioning.)";
    default:
        return "5(Access is denied.)";
    }
}

// The Windows error of a failed write, from the errno it left.
platform::ErrorCode writeError(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return platform::win::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return platform::win::AccessDenied;
    default:
        return platform::win::WriteFault;
    }
}

struct LanguageName {
    const char* official;
    const char* alias;
};
const LanguageName languages[] = {{"us_english", "English"},
                                  {"Turkish", "Türkçe"},
                                  {"Deutsch", "German"},
                                  {"Français", "French"},
                                  {"British", "British English"}};

} // namespace

const ProfileInfo& profileInfo(Profile profile) {
    return profile == Profile::Sql2005 ? profile2005 : profile2000;
}

std::optional<Profile> parseProfile(const std::string& text) {
    if (text == "2000")
        return Profile::Sql2000;
    if (text == "2005")
        return Profile::Sql2005;
    return std::nullopt;
}

struct Engine::Database {
    std::string name;
    int id = 0;
    std::string dataFile, logFile; // Windows paths as given
    int status = 0;
    int status2 = 0;
    DateTime created;
    int cmptlevel = 80;
    int version = 539;
    std::string owner = "sa";
    std::vector<std::pair<std::string, std::string>> users; // user name, login name
    bool system = false;

    // While open: the holds on both files and the data file's header.
    std::optional<FileHold> dataHold, logHold;
    std::optional<dbfile::Header> header;
    int uses = 0;
    bool pinned = false; // kept open while attached (2005)

    bool emergency() const { return (status & 32768) != 0; }
    bool singleUser() const { return (status & 4096) != 0; }
};

struct LoginRecord {
    std::string name, password, defaultDatabase, language;
    bool sysadmin = false;
};

struct Engine::State {
    int allowUpdatesConfig = 0, allowUpdatesRun = 0;
    DateTime installed;
    std::vector<LoginRecord> logins;
    std::vector<std::unique_ptr<Database>> databases;
};

Engine::Engine(platform::sim::SimHost host, Options options)
    : host_(std::move(host)), options_(std::move(options)), state_(std::make_unique<State>()) {
    collation_ = host_.codePage() == 1254 ? Collation::Turkish : Collation::Latin1General;
    load();
    if (options_.saPassword) {
        for (auto& l : state_->logins)
            if (l.name == "sa")
                l.password = *options_.saPassword;
        save();
    }
    if (options_.profile == Profile::Sql2005) {
        for (auto& db : state_->databases) {
            if (db->system)
                continue;
            std::vector<Message> ignored;
            db->pinned = true;
            if (!openFiles(*db, ignored, 1))
                log("Database '" + db->name + "' could not be opened at start-up.");
        }
    }
    log(std::string("SQL Server stand-in, profile ") + info().name + ", catalog loaded with " +
        std::to_string(state_->databases.size()) + " databases.");
}

Engine::~Engine() {
    shutdown();
}

void Engine::shutdown() {
    std::lock_guard lock(mutex_);
    for (auto& db : state_->databases)
        closeFiles(*db);
}

void Engine::log(const std::string& line) const {
    if (options_.log)
        options_.log(line);
}

std::vector<std::uint8_t> Engine::collationBytes() const {
    if (collation_ == Collation::Turkish)
        return {0x1F, 0x04, 0xD0, 0x00, 0x00};
    return {0x09, 0x04, 0xD0, 0x00, 0x34};
}

std::vector<Engine::DatabaseFiles> Engine::attachedDatabases() const {
    std::lock_guard lock(mutex_);
    std::vector<DatabaseFiles> out;
    for (const auto& db : state_->databases)
        if (!db->system)
            out.push_back({db->name, db->dataFile, db->logFile});
    return out;
}

Engine::Database* Engine::findDatabase(const std::string& name) {
    for (auto& db : state_->databases)
        if (sameName(db->name, name, collation_))
            return db.get();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The state file.

void Engine::load() {
    auto add = [&](const char* name, int id, int status, const char* file) {
        auto db = std::make_unique<Database>();
        db->name = name;
        db->id = id;
        db->status = status;
        db->status2 = options_.profile == Profile::Sql2000 ? 1090519040 : 1627389952;
        db->system = true;
        db->dataFile = std::string(DefaultDataFolder) + "\\" + file;
        db->cmptlevel = info().compatibilityLevel;
        db->version = info().databaseVersion;
        state_->databases.push_back(std::move(db));
    };
    const bool p2000 = options_.profile == Profile::Sql2000;
    add("master", 1, p2000 ? 24 : 65544, "master.mdf");
    add("tempdb", 2, p2000 ? 8 : 65544, "tempdb.mdf");
    add("model", 3, p2000 ? 16 : 65536, "model.mdf");
    add("msdb", 4, p2000 ? 24 : 65544, "msdbdata.mdf");
    state_->installed = now();

    auto path = host_.resolve(StateFileWindowsPath);
    if (!path)
        throw std::runtime_error("cannot place the catalog: " + path.error().message);
    std::ifstream in(*path);
    if (!in) {
        state_->logins.push_back({"sa", DefaultSaPassword, "master", "us_english", true});
        save();
        return;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        try {
            const auto f = splitTabs(line);
            if (f[0] == "installed" && f.size() >= 3) {
                state_->installed = {std::stoi(f[1]), static_cast<std::uint32_t>(std::stoul(f[2]))};
            } else if (f[0] == "config" && f.size() >= 4) {
                if (f[1] == "allow updates") {
                    state_->allowUpdatesConfig = std::stoi(f[2]);
                    // The run value comes back from the configured value at start, as on
                    // SQL Server (a restart installs the configured values).
                    state_->allowUpdatesRun = std::stoi(f[2]);
                }
            } else if (f[0] == "login" && f.size() >= 6) {
                state_->logins.push_back({f[1], f[2], f[3], f[4], f[5] == "1"});
            } else if (f[0] == "database" && f.size() >= 13) {
                auto db = std::make_unique<Database>();
                db->name = f[1];
                db->id = std::stoi(f[2]);
                db->dataFile = f[3];
                db->logFile = f[4];
                db->status = std::stoi(f[5]);
                db->status2 = std::stoi(f[6]);
                db->created = {std::stoi(f[7]), static_cast<std::uint32_t>(std::stoul(f[8]))};
                db->cmptlevel = std::stoi(f[9]);
                db->version = std::stoi(f[10]);
                db->owner = f[11];
                state_->databases.push_back(std::move(db));
            } else if (f[0] == "user" && f.size() >= 4) {
                if (Database* db = findDatabase(f[1]))
                    db->users.emplace_back(f[2], f[3]);
            } else {
                throw std::invalid_argument("unknown record");
            }
        } catch (const std::exception&) {
            throw std::runtime_error(path->string() + ", line " + std::to_string(number) +
                                     ": unreadable catalog record");
        }
    }
    bool haveSa = false;
    for (const auto& l : state_->logins)
        haveSa = haveSa || l.name == "sa";
    if (!haveSa)
        state_->logins.push_back({"sa", DefaultSaPassword, "master", "us_english", true});
}

void Engine::save() {
    auto path = host_.resolve(StateFileWindowsPath);
    if (!path) {
        log("cannot save the catalog: " + path.error().message);
        return;
    }
    std::error_code ec;
    fs::create_directories(path->parent_path(), ec);
    std::ostringstream out;
    out << "# Catalog of the SQL Server stand-in (profile " << info().name << ")\n";
    out << "installed\t" << state_->installed.days << "\t" << state_->installed.ticks << "\n";
    out << "config\tallow updates\t" << state_->allowUpdatesConfig << "\t"
        << state_->allowUpdatesRun << "\n";
    for (const auto& l : state_->logins)
        out << "login\t" << escapeField(l.name) << "\t" << escapeField(l.password) << "\t"
            << escapeField(l.defaultDatabase) << "\t" << escapeField(l.language) << "\t"
            << (l.sysadmin ? 1 : 0) << "\n";
    for (const auto& db : state_->databases) {
        if (!db->system)
            out << "database\t" << escapeField(db->name) << "\t" << db->id << "\t"
                << escapeField(db->dataFile) << "\t" << escapeField(db->logFile) << "\t"
                << db->status << "\t" << db->status2 << "\t" << db->created.days << "\t"
                << db->created.ticks << "\t" << db->cmptlevel << "\t" << db->version << "\t"
                << escapeField(db->owner) << "\t-\n";
    }
    for (const auto& db : state_->databases)
        for (const auto& [user, login] : db->users)
            out << "user\t" << escapeField(db->name) << "\t" << escapeField(user) << "\t"
                << escapeField(login) << "\n";
    const fs::path temp = path->string() + ".new";
    {
        std::ofstream file(temp, std::ios::trunc);
        file << out.str();
        file.flush();
        if (!file) {
            log("cannot write " + temp.string());
            return;
        }
    }
    fs::rename(temp, *path, ec);
    if (ec)
        log("cannot replace " + path->string() + ": " + ec.message());
}

// ---------------------------------------------------------------------------------------------
// Opening and closing database files.

bool Engine::openFiles(Database& db, std::vector<Message>& errors, int line) {
    if (db.system || db.dataHold)
        return true;
    const bool p2000 = options_.profile == Profile::Sql2000;
    auto fileError = [&](const std::string& file, platform::ErrorCode code) {
        if (p2000)
            errors.push_back(msg(5105, 16, 1,
                                 "Device activation error. The physical file name '" + file +
                                     "' may be incorrect.",
                                 line));
        else
            errors.push_back(msg(5120, 16, 101,
                                 "Unable to open the physical file \"" + file +
                                     "\". Operating system error " + osErrorText(code) + ".",
                                 line));
        errors.push_back(msg(945, 14, 2,
                             "Database '" + db.name +
                                 "' cannot be opened due to inaccessible files or insufficient "
                                 "memory or disk space.  See the SQL Server errorlog for details.",
                             line));
    };
    auto holdFile = [&](const std::string& file) -> std::optional<FileHold> {
        auto path = host_.resolve(file);
        if (!path) {
            fileError(file, 3);
            return std::nullopt;
        }
        std::error_code ec;
        if (!fs::exists(*path, ec)) {
            fileError(file, fs::exists(path->parent_path(), ec) ? 2 : 3);
            return std::nullopt;
        }
        auto hold = FileHold::hold(*path);
        if (!hold) {
            fileError(file, hold.code() == 32 ? 32 : 5);
            return std::nullopt;
        }
        return std::move(hold).value();
    };
    auto data = holdFile(db.dataFile);
    if (!data)
        return false;
    dbfile::ReadError kind;
    std::string why;
    auto header = dbfile::readHeader(data->fd(), kind, why);
    if (!header || header->role != dbfile::Role::Data) {
        errors.push_back(msg(5172, 16, 15,
                             "The header for file '" + db.dataFile +
                                 "' is not a valid database file header. The PageAudit "
                                 "property is incorrect.",
                             line));
        errors.push_back(msg(945, 14, 2,
                             "Database '" + db.name +
                                 "' cannot be opened due to inaccessible files or insufficient "
                                 "memory or disk space.  See the SQL Server errorlog for details.",
                             line));
        return false;
    }
    std::optional<FileHold> logHold;
    if (!db.emergency()) {
        // Recovery needs the log, and the log must belong to this data file.
        std::vector<Message> logErrors;
        logHold = holdFile(db.logFile);
        bool matches = false;
        if (logHold) {
            auto logHeader = dbfile::readHeader(logHold->fd(), kind, why);
            matches = logHeader && logHeader->role == dbfile::Role::Log &&
                      logHeader->dataId == header->id;
        }
        if (!matches) {
            log("Database '" + db.name + "': the log file " + db.logFile +
                " is missing or does not belong to " + db.dataFile + "; marked suspect.");
            errors.push_back(msg(926, 14, 1,
                                 p2000 ? "Database '" + db.name +
                                             "' cannot be opened. It has been marked SUSPECT "
                                             "by recovery. See the SQL Server errorlog for more "
                                             "information."
                                       : "Database '" + db.name +
                                             "' cannot be opened. It has been marked SUSPECT "
                                             "by recovery. See the SQL Server errorlog for more "
                                             "information.",
                                 line));
            return false;
        }
    } else if (!db.logFile.empty()) {
        // Emergency mode: the log is not needed; hold it when it is there.
        auto path = host_.resolve(db.logFile);
        std::error_code ec;
        if (path && fs::exists(*path, ec)) {
            auto hold = FileHold::hold(*path);
            if (hold)
                logHold = std::move(hold).value();
        }
    }
    header->clean = false;
    if (!dbfile::writeHeader(data->fd(), *header, why))
        log("Database '" + db.name + "': " + why);
    db.dataHold = std::move(data);
    db.logHold = std::move(logHold);
    db.header = header;
    return true;
}

void Engine::closeFiles(Database& db) {
    if (!db.dataHold)
        return;
    if (db.header) {
        db.header->clean = true;
        std::string why;
        if (!dbfile::writeHeader(db.dataHold->fd(), *db.header, why))
            log("Database '" + db.name + "': " + why);
    }
    db.dataHold.reset();
    db.logHold.reset();
    db.header.reset();
}

bool Engine::acquire(Database& db, std::vector<Message>& errors, int line) {
    if (!openFiles(db, errors, line))
        return false;
    ++db.uses;
    return true;
}

void Engine::release(Database& db) {
    if (db.uses > 0)
        --db.uses;
    if (db.uses == 0 && !db.pinned)
        closeFiles(db);
}

// ---------------------------------------------------------------------------------------------
// Sessions and logins.

std::shared_ptr<Session> Engine::openSession() {
    std::lock_guard lock(mutex_);
    auto session = std::make_shared<Session>();
    session->spid = nextSpid_++;
    if (nextSpid_ > 32000)
        nextSpid_ = 51;
    sessions_.push_back(session.get());
    return session;
}

void Engine::closeSession(Session& session) {
    std::lock_guard lock(mutex_);
    auto it = std::find(sessions_.begin(), sessions_.end(), &session);
    if (it == sessions_.end())
        return;
    sessions_.erase(it);
    if (!session.login.empty())
        if (Database* db = findDatabase(session.database))
            release(*db);
    session.login.clear();
}

Engine::LoginResult Engine::login(Session& session, const std::string& user,
                                  const std::string& password, const std::string& database) {
    std::lock_guard lock(mutex_);
    const bool p2000 = options_.profile == Profile::Sql2000;
    LoginResult result;
    const Message failed = msg(18456, 14, 1, "Login failed for user '" + user + "'.");
    const LoginRecord* login = nullptr;
    for (const auto& l : state_->logins)
        if (sameName(l.name, user, collation_))
            login = &l;
    if (!login || login->password != password) {
        log("Login failed for user '" + user + "'.");
        result.messages.push_back(failed);
        return result;
    }
    std::string dbName = database.empty() ? login->defaultDatabase : database;
    Database* db = findDatabase(dbName);
    std::vector<Message> openErrors;
    if (!db ||
        (db->singleUser() && std::any_of(sessions_.begin(), sessions_.end(),
                                         [&](auto* s) {
                                             return s != &session && !s->login.empty() &&
                                                    sameName(s->database, db->name, collation_);
                                         })) ||
        !acquire(*db, openErrors, 1)) {
        if (!database.empty()) {
            result.messages.push_back(msg(4060, 11, 1,
                                          "Cannot open database \"" + database +
                                              "\" requested by the login. The login failed."));
            result.messages.push_back(failed);
            return result;
        }
        if (!p2000) {
            result.messages.push_back(
                msg(4064, 11, 1, "Cannot open user default database. Login failed."));
            result.messages.push_back(failed);
            return result;
        }
        // SQL Server 2000 falls back to master.
        db = findDatabase("master");
        (void)acquire(*db, openErrors, 1);
    }
    session.login = login->name;
    session.database = db->name;
    session.language = login->language.empty() ? "us_english" : login->language;
    result.ok = true;
    result.database = db->name;
    result.language = session.language;
    result.messages.push_back(msg(5701, 10, 2, "Changed database context to '" + db->name + "'."));
    result.messages.push_back(
        msg(5703, 10, 1, "Changed language setting to " + session.language + "."));
    return result;
}

// ---------------------------------------------------------------------------------------------
// Running a batch.

class Engine::Run {
public:
    Run(Engine& e, Session& s, ResultSink& sink, const CancelCheck& cancel)
        : e_(e), s_(s), sink_(sink), cancel_(cancel),
          p2000_(e.options_.profile == Profile::Sql2000) {}

    BatchOutcome batch(const std::string& text);

private:
    using Statement = sql::Statement;

    // Emits a message and remembers that the current statement failed.
    void emit(Message m) {
        if (m.line == 1 && line_ > 1 && m.procedure.empty())
            m.line = line_;
        if (m.isError())
            failed_ = true;
        if (m.severity >= 20)
            fatal_ = true;
        sink_.message(m);
    }
    Message make(int number, int severity, int state, std::string text) const {
        return msg(number, severity, state, std::move(text), line_);
    }
    Message inProc(int number, int severity, int state, std::string text, int procLine) const {
        return msg(number, severity, state, std::move(text), procLine, procedure_);
    }
    void emitAll(const std::vector<Message>& ms) {
        for (const auto& m : ms)
            emit(m);
    }

    void statement(const Statement& st);
    void use(const sql::Use& u);
    void set(const sql::Set& s);
    void select(const sql::Select& s);
    void print(const sql::Print& p);
    void raiserror(const sql::Raiserror& r);
    void waitfor(const sql::Waitfor& w);
    void exec(const sql::Exec& x);
    void createDatabase(const sql::CreateDatabase& c);
    void attach(const sql::CreateDatabase& c);
    void dropDatabase(const sql::DropDatabase& d);
    void dbcc(const sql::Dbcc& d);
    void checkdb(const sql::Dbcc& d);
    void rebuildLog(const sql::Dbcc& d);
    void alterDatabase(const sql::AlterDatabase& a);
    void update(const sql::Update& u);
    void reconfigure(const sql::Reconfigure& r);

    // Procedures; each returns its return status.
    int spAddlogin(const std::vector<std::string>& a);
    int spDefaultdb(const std::vector<std::string>& a);
    int spAddsrvrolemember(const std::vector<std::string>& a);
    int spGrantdbaccess(const std::vector<std::string>& a);
    int spDetachDb(const std::vector<std::string>& a);
    int spConfigure(const std::vector<sql::Expr>& a);

    std::optional<Value> scalar(const sql::Expr& x, Column& column);
    bool stringOf(const sql::Expr& x, std::string& out);
    LoginRecord* findLogin(const std::string& name);
    bool sessionsIn(const Database& db, bool includingSelf) const;
    std::string dbNotFound2000Or2005(const std::string& name) const;
    bool createFile(const std::string& windowsPath, platform::ErrorCode& error,
                    std::optional<FileHold>& hold);
    // The room drive C has left for new files (host.conf's disk_free); nullopt: no limit.
    std::optional<std::uint64_t> roomOnDisk() const;
    // Writes a new database file of `bytes` through `writer`; 0, or the Windows error of the
    // failed write (DiskFull when the file is larger than `room`, which shrinks by `bytes`).
    platform::ErrorCode writeNewFile(std::uint64_t bytes, std::optional<std::uint64_t>& room,
                                     const std::function<bool(std::string&)>& writer,
                                     std::string& why);

    Engine& e_;
    Session& s_;
    ResultSink& sink_;
    const CancelCheck& cancel_;
    bool p2000_;
    int line_ = 1;
    bool failed_ = false;
    bool fatal_ = false;
    bool cancelled_ = false;
    std::string procedure_;
    std::optional<std::int64_t> count_;
    std::optional<int> returnStatus_;
};

BatchOutcome Engine::execute(Session& session, const std::string& batch, ResultSink& sink,
                             const CancelCheck& cancel) {
    Run run(*this, session, sink, cancel);
    return run.batch(batch);
}

BatchOutcome Engine::Run::batch(const std::string& text) {
    const sql::ParseResult parsed = sql::parse(text);
    if (parsed.error) {
        line_ = parsed.error->line;
        if (p2000_)
            emit(make(170, 15, 1,
                      "Line " + std::to_string(parsed.error->line) + ": Incorrect syntax near '" +
                          parsed.error->near + "'."));
        else
            emit(make(102, 15, 1, "Incorrect syntax near '" + parsed.error->near + "'."));
        sink_.statementDone({DoneKind::Statement, true, false, 0, 0});
        return BatchOutcome::Completed;
    }
    for (const auto& st : parsed.statements) {
        failed_ = false;
        count_.reset();
        returnStatus_.reset();
        line_ = st.line;
        statement(st);
        if (cancelled_)
            return BatchOutcome::Cancelled;
        StatementEnd end;
        end.error = failed_;
        if (returnStatus_) {
            end.kind = DoneKind::Procedure;
            end.returnStatus = *returnStatus_;
        }
        if (count_ && !s_.noCount) {
            end.hasCount = true;
            end.count = static_cast<std::uint64_t>(*count_);
        }
        sink_.statementDone(end);
        if (fatal_)
            return BatchOutcome::Fatal;
    }
    return BatchOutcome::Completed;
}

void Engine::Run::statement(const Statement& st) {
    if (auto* w = std::get_if<sql::Waitfor>(&st.body)) {
        waitfor(*w); // outside the engine's lock
        return;
    }
    std::lock_guard lock(e_.mutex_);
    std::visit(
        [&](const auto& body) {
            using T = std::decay_t<decltype(body)>;
            if constexpr (std::is_same_v<T, sql::Use>)
                use(body);
            else if constexpr (std::is_same_v<T, sql::Set>)
                set(body);
            else if constexpr (std::is_same_v<T, sql::Select>)
                select(body);
            else if constexpr (std::is_same_v<T, sql::Print>)
                print(body);
            else if constexpr (std::is_same_v<T, sql::Raiserror>)
                raiserror(body);
            else if constexpr (std::is_same_v<T, sql::Exec>)
                exec(body);
            else if constexpr (std::is_same_v<T, sql::CreateDatabase>)
                createDatabase(body);
            else if constexpr (std::is_same_v<T, sql::DropDatabase>)
                dropDatabase(body);
            else if constexpr (std::is_same_v<T, sql::Dbcc>)
                dbcc(body);
            else if constexpr (std::is_same_v<T, sql::AlterDatabase>)
                alterDatabase(body);
            else if constexpr (std::is_same_v<T, sql::Update>)
                update(body);
            else if constexpr (std::is_same_v<T, sql::Reconfigure>)
                reconfigure(body);
        },
        st.body);
}

std::string Engine::Run::dbNotFound2000Or2005(const std::string& name) const {
    return p2000_ ? "Could not locate entry in sysdatabases for database '" + name +
                        "'. No entry found with that name. Make sure that the name is entered "
                        "correctly."
                  : "Database '" + name +
                        "' does not exist. Make sure that the name is entered correctly.";
}

bool Engine::Run::sessionsIn(const Database& db, bool includingSelf) const {
    for (Session* s : e_.sessions_)
        if (!s->login.empty() && (includingSelf || s != &s_) &&
            sameName(s->database, db.name, e_.collation_))
            return true;
    return false;
}

void Engine::Run::use(const sql::Use& u) {
    Database* db = e_.findDatabase(u.database);
    if (!db) {
        emit(make(911, 16, 1, dbNotFound2000Or2005(u.database)));
        return;
    }
    if (db->singleUser() && sessionsIn(*db, false)) {
        emit(make(924, 14, 1,
                  "Database '" + db->name +
                      "' is already open and can only have one user at a time."));
        return;
    }
    const std::string old = s_.database;
    if (!sameName(old, db->name, e_.collation_)) {
        std::vector<Message> errors;
        if (!e_.acquire(*db, errors, line_)) {
            emitAll(errors);
            return;
        }
        if (Database* previous = e_.findDatabase(old))
            e_.release(*previous);
    }
    s_.database = db->name;
    sink_.databaseChanged(db->name, old);
    emit(make(5701, 10, 1, "Changed database context to '" + db->name + "'."));
}

void Engine::Run::set(const sql::Set& s) {
    if (s.option == "LOCK_TIMEOUT")
        s_.lockTimeout = static_cast<int>(
            std::clamp<long long>(std::strtoll(s.value.c_str(), nullptr, 10), -1, 2147483647));
    else if (s.option == "QUOTED_IDENTIFIER")
        s_.quotedIdentifier = s.value == "ON";
    else if (s.option == "NOCOUNT")
        s_.noCount = s.value == "ON";
    else if (s.option == "LANGUAGE") {
        for (const auto& l : languages)
            if (keywordEquals(s.value, l.official) || keywordEquals(s.value, l.alias)) {
                s_.language = l.official;
                emit(make(5703, 10, 1, "Changed language setting to " + s_.language + "."));
                return;
            }
        emit(make(15033, 16, 1, "'" + s.value + "' is not a valid official language name."));
    }
}

void Engine::Run::print(const sql::Print& p) {
    Column c;
    auto v = scalar(p.value, c);
    if (!v)
        return;
    std::string text;
    if (auto* str = std::get_if<std::string>(&*v))
        text = *str;
    else if (auto* n = std::get_if<std::int64_t>(&*v))
        text = std::to_string(*n);
    emit(make(0, 0, 1, text));
}

void Engine::Run::raiserror(const sql::Raiserror& r) {
    std::string text;
    if (!stringOf(r.message, text)) {
        emit(make(2732, 16, 1,
                  "Error number " + std::to_string(r.message.number) +
                      " is invalid. The number must be from 13000 through 2147483647 and it "
                      "cannot be 50000."));
        return;
    }
    if (r.severity < 0 || r.severity > 25 || r.state < 0 || r.state > 255) {
        emit(make(2754, 16, 1,
                  "Error severity levels greater than 18 can only be specified by members of "
                  "the sysadmin role, using the WITH LOG option."));
        return;
    }
    emit(make(50000, static_cast<int>(r.severity), static_cast<int>(r.state), text));
}

void Engine::Run::waitfor(const sql::Waitfor& w) {
    int h = 0, m = 0, sec = 0, ms = 0;
    char tail = 0;
    const int fields = w.delay.size() > 12 ? 0
                                           : std::sscanf(w.delay.c_str(), "%2d:%2d:%2d.%3d%c", &h,
                                                         &m, &sec, &ms, &tail);
    if (fields < 2 || fields > 4 || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59 ||
        ms < 0 || ms > 999) {
        std::lock_guard lock(e_.mutex_);
        emit(make(148, 15, 1,
                  "Incorrect time syntax in time string '" + w.delay + "' used with WAITFOR."));
        return;
    }
    std::int64_t remaining = ((h * 60 + m) * 60 + sec) * 1000LL + ms;
    while (remaining > 0) {
        const int step = static_cast<int>(std::min<std::int64_t>(remaining, 50));
        if (cancel_) {
            if (cancel_(step)) {
                cancelled_ = true;
                return;
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(step));
        }
        remaining -= step;
    }
}

bool Engine::Run::stringOf(const sql::Expr& x, std::string& out) {
    if (x.kind == sql::Expr::String || x.kind == sql::Expr::Column) {
        out = x.text;
        return true;
    }
    if (x.kind == sql::Expr::Integer) {
        out = std::to_string(x.number);
        return true;
    }
    return false;
}

std::optional<Value> Engine::Run::scalar(const sql::Expr& x, Column& c) {
    c.nullable = false;
    switch (x.kind) {
    case sql::Expr::Integer:
        c.type = ColumnType::Int;
        return Value{x.number};
    case sql::Expr::String:
        c.type = ColumnType::NVarChar;
        c.maxLength = std::max<int>(1, static_cast<int>(utf8ToUtf16(x.text).size()));
        return Value{x.text};
    case sql::Expr::Null:
        c.type = ColumnType::Int;
        c.nullable = true;
        return Value{};
    case sql::Expr::Variable: {
        const std::string v = asciiLower(x.text);
        c.type = ColumnType::NVarChar;
        c.maxLength = 128;
        if (v == "@@version") {
            c.maxLength = 300;
            return Value{std::string(e_.info().versionText)};
        }
        if (v == "@@servername")
            return Value{e_.serverName()};
        if (v == "@@language")
            return Value{s_.language};
        if (v == "@@servicename")
            return Value{std::string("MSSQLSERVER")};
        c.type = ColumnType::Int;
        if (v == "@@spid") {
            c.type = ColumnType::SmallInt;
            return Value{std::int64_t{s_.spid}};
        }
        if (v == "@@lock_timeout")
            return Value{std::int64_t{s_.lockTimeout}};
        if (v == "@@trancount" || v == "@@error" || v == "@@rowcount")
            return Value{std::int64_t{0}};
        if (v == "@@options")
            return Value{std::int64_t{s_.quotedIdentifier ? 256 : 0}};
        emit(make(137, 15, 2,
                  p2000_ ? "Must declare the variable '" + x.text + "'."
                         : "Must declare the scalar variable \"" + x.text + "\"."));
        return std::nullopt;
    }
    case sql::Expr::Function: {
        c.type = ColumnType::NVarChar;
        c.maxLength = 128;
        c.nullable = true;
        std::string arg;
        if (!x.args.empty())
            (void)stringOf(x.args[0], arg);
        if (x.text == "DB_NAME" && x.args.empty())
            return Value{s_.database};
        if (x.text == "DB_NAME") {
            for (const auto& db : e_.state_->databases)
                if (x.args[0].kind == sql::Expr::Integer && db->id == x.args[0].number)
                    return Value{db->name};
            return Value{};
        }
        if (x.text == "DB_ID") {
            c.type = ColumnType::SmallInt;
            Database* db = e_.findDatabase(x.args.empty() ? s_.database : arg);
            return db ? Value{std::int64_t{db->id}} : Value{};
        }
        if (x.text == "SUSER_SNAME" || x.text == "SUSER_NAME" || x.text == "SYSTEM_USER")
            return Value{s_.login};
        if (x.text == "USER_NAME")
            return Value{std::string("dbo")};
        if (x.text == "SERVERPROPERTY") {
            const std::string p = asciiLower(arg);
            c.maxLength = 128;
            if (p == "productversion")
                return Value{std::string(e_.info().productVersion)};
            if (p == "productlevel")
                return Value{std::string(e_.info().productLevel)};
            if (p == "edition")
                return Value{std::string(e_.info().edition)};
            if (p == "servername" || p == "machinename")
                return Value{e_.serverName()};
            if (p == "collation")
                return Value{std::string(e_.collation_ == Collation::Turkish
                                             ? "Turkish_CI_AS"
                                             : "SQL_Latin1_General_CP1_CI_AS")};
            return Value{};
        }
        if (x.text == "GETDATE") {
            c.type = ColumnType::DateTime;
            c.nullable = false;
            return Value{now()};
        }
        emit(make(195, 15, 10, "'" + asciiLower(x.text) + "' is not a recognized function name."));
        return std::nullopt;
    }
    case sql::Expr::Column:
        emit(make(207, 16, 1, "Invalid column name '" + x.text + "'."));
        return std::nullopt;
    case sql::Expr::Star:
        emit(make(263, 16, 1, "Must specify table to select from."));
        return std::nullopt;
    }
    return std::nullopt;
}

void Engine::Run::select(const sql::Select& s) {
    RowSet out;
    if (!s.from) {
        Row row;
        for (const auto& item : s.items) {
            Column c;
            auto v = scalar(item.expr, c);
            if (!v)
                return;
            c.name = item.alias;
            out.columns.push_back(c);
            row.push_back(*v);
        }
        out.rows.push_back(std::move(row));
        sink_.rowSet(out);
        count_ = 1;
        return;
    }
    // Resolve the table.
    const sql::TableRef& t = *s.from;
    const std::string table = t.parts.back();
    std::string dbPart = t.parts.size() == 3 ? t.parts[0] : "";
    const std::string schema = t.parts.size() >= 2 ? t.parts[t.parts.size() - 2] : "";
    Database* inDb = e_.findDatabase(dbPart.empty() ? s_.database : dbPart);
    if (!dbPart.empty() && !inDb) {
        emit(make(911, 16, 1, dbNotFound2000Or2005(dbPart)));
        return;
    }
    const bool schemaOk = schema.empty() || sameName(schema, "dbo", e_.collation_) ||
                          (!p2000_ && sameName(schema, "sys", e_.collation_));
    const bool inMaster = inDb && inDb->id == 1;
    enum { None, Databases, Logins, Users } kind = None;
    if (schemaOk && sameName(table, "sysdatabases", e_.collation_) && (inMaster || !p2000_))
        kind = Databases;
    else if (!p2000_ && sameName(schema, "sys", e_.collation_) &&
             sameName(table, "databases", e_.collation_))
        kind = Databases;
    else if (schemaOk && sameName(table, "syslogins", e_.collation_) && (inMaster || !p2000_))
        kind = Logins;
    else if (schemaOk && sameName(table, "sysusers", e_.collation_) && inDb)
        kind = Users;
    if (kind == None) {
        emit(make(208, 16, 1, "Invalid object name '" + t.written + "'."));
        return;
    }
    std::vector<Column> cols;
    std::vector<Row> rows;
    auto nv = [](const char* n, int len) { return Column{n, ColumnType::NVarChar, len, false}; };
    if (kind == Databases) {
        cols = {nv("name", 128),
                {"dbid", ColumnType::SmallInt, 0, false},
                {"sid", ColumnType::VarBinary, 85, true},
                {"mode", ColumnType::SmallInt, 0, false},
                {"status", ColumnType::Int, 0, false},
                {"status2", ColumnType::Int, 0, false},
                {"crdate", ColumnType::DateTime, 0, false},
                {"reserved", ColumnType::DateTime, 0, true},
                {"category", ColumnType::Int, 0, false},
                {"cmptlevel", ColumnType::TinyInt, 0, false},
                nv("filename", 260),
                {"version", ColumnType::SmallInt, 0, true}};
        for (const auto& db : e_.state_->databases) {
            Value reserved = p2000_ ? Value{DateTime{0, 0}} : Value{};
            Bytes sid{0x01};
            rows.push_back({db->name, std::int64_t{db->id}, sid, std::int64_t{0},
                            std::int64_t{db->status}, std::int64_t{db->status2},
                            db->system ? e_.state_->installed : db->created, reserved,
                            std::int64_t{0}, std::int64_t{db->cmptlevel}, db->dataFile,
                            std::int64_t{db->version}});
        }
    } else if (kind == Logins) {
        cols = {nv("name", 128),
                nv("dbname", 128),
                nv("language", 128),
                {"sysadmin", ColumnType::Int, 0, false}};
        for (const auto& l : e_.state_->logins)
            rows.push_back({l.name, l.defaultDatabase, l.language, std::int64_t{l.sysadmin}});
    } else {
        cols = {{"uid", ColumnType::SmallInt, 0, false}, nv("name", 128)};
        rows.push_back({std::int64_t{1}, std::string("dbo")});
        std::int64_t uid = 5;
        for (const auto& u : inDb->users)
            rows.push_back({uid++, u.first});
    }
    const std::string tableName = t.alias.empty() ? table : t.alias;
    auto columnIndex = [&](const sql::Expr& x) -> int {
        if (!x.qualifier.empty() && !sameName(x.qualifier, tableName, e_.collation_)) {
            if (p2000_)
                emit(make(107, 16, 2,
                          "The column prefix '" + x.qualifier +
                              "' does not match with a table name or alias name used in the "
                              "query."));
            else
                emit(make(4104, 16, 1,
                          "The multi-part identifier \"" + x.qualifier + "." + x.text +
                              "\" could not be bound."));
            return -2;
        }
        for (std::size_t i = 0; i < cols.size(); ++i)
            if (sameName(cols[i].name, x.text, e_.collation_))
                return static_cast<int>(i);
        emit(make(207, 16, 1, "Invalid column name '" + x.text + "'."));
        return -2;
    };
    // WHERE: equality of a column and a literal, all conditions joined by AND.
    std::vector<std::pair<int, sql::Expr>> filters;
    for (const auto& c : s.where) {
        const bool leftCol = c.left.kind == sql::Expr::Column;
        const sql::Expr& col = leftCol ? c.left : c.right;
        const sql::Expr& lit = leftCol ? c.right : c.left;
        if (col.kind != sql::Expr::Column) {
            emit(make(207, 16, 1, "Invalid column name '" + lit.text + "'."));
            return;
        }
        const int idx = columnIndex(col);
        if (idx < 0)
            return;
        filters.emplace_back(idx, lit);
    }
    std::vector<std::pair<int, bool>> order;
    for (const auto& o : s.orderBy) {
        if (o.column.kind != sql::Expr::Column) {
            emit(make(1008, 15, 1,
                      "The SELECT item identified by the ORDER BY number 1 contains a variable "
                      "as part of the expression identifying a column position."));
            return;
        }
        const int idx = columnIndex(o.column);
        if (idx < 0)
            return;
        order.emplace_back(idx, o.descending);
    }
    std::vector<Row> kept;
    for (auto& r : rows) {
        bool ok = true;
        for (const auto& [idx, lit] : filters) {
            const Value& v = r[static_cast<std::size_t>(idx)];
            if (auto* str = std::get_if<std::string>(&v))
                ok = ok && lit.kind == sql::Expr::String && sameName(*str, lit.text, e_.collation_);
            else if (auto* n = std::get_if<std::int64_t>(&v))
                ok = ok && ((lit.kind == sql::Expr::Integer && lit.number == *n) ||
                            (lit.kind == sql::Expr::String && lit.text == std::to_string(*n)));
            else
                ok = false;
        }
        if (ok)
            kept.push_back(std::move(r));
    }
    if (!order.empty()) {
        const Collation collation = e_.collation_;
        std::stable_sort(kept.begin(), kept.end(), [&](const Row& a, const Row& b) {
            for (const auto& [idx, descending] : order) {
                const Value& x = a[static_cast<std::size_t>(idx)];
                const Value& y = b[static_cast<std::size_t>(idx)];
                int c = 0;
                if (auto* sx = std::get_if<std::string>(&x)) {
                    auto* sy = std::get_if<std::string>(&y);
                    const std::string fx = foldName(*sx, collation);
                    const std::string fy = sy ? foldName(*sy, collation) : std::string();
                    c = fx < fy ? -1 : fx > fy ? 1 : 0;
                } else if (auto* nx = std::get_if<std::int64_t>(&x)) {
                    auto* ny = std::get_if<std::int64_t>(&y);
                    const std::int64_t vy = ny ? *ny : 0;
                    c = *nx < vy ? -1 : *nx > vy ? 1 : 0;
                }
                if (c != 0)
                    return descending ? c > 0 : c < 0;
            }
            return false;
        });
    }
    // Projection.
    std::vector<std::pair<int, std::optional<Value>>> picks; // column index or constant
    for (const auto& item : s.items) {
        if (item.expr.kind == sql::Expr::Star) {
            if (!item.expr.qualifier.empty() &&
                !sameName(item.expr.qualifier, tableName, e_.collation_)) {
                emit(make(107, 16, 3,
                          "The column prefix '" + item.expr.qualifier +
                              "' does not match with a table name or alias name used in the "
                              "query."));
                return;
            }
            for (std::size_t i = 0; i < cols.size(); ++i) {
                out.columns.push_back(cols[i]);
                picks.emplace_back(static_cast<int>(i), std::nullopt);
            }
        } else if (item.expr.kind == sql::Expr::Column) {
            const int idx = columnIndex(item.expr);
            if (idx < 0)
                return;
            Column c = cols[static_cast<std::size_t>(idx)];
            if (!item.alias.empty())
                c.name = item.alias;
            out.columns.push_back(c);
            picks.emplace_back(idx, std::nullopt);
        } else {
            Column c;
            auto v = scalar(item.expr, c);
            if (!v)
                return;
            c.name = item.alias;
            out.columns.push_back(c);
            picks.emplace_back(-1, v);
        }
    }
    for (const auto& r : kept) {
        Row row;
        for (const auto& [idx, constant] : picks)
            row.push_back(idx >= 0 ? r[static_cast<std::size_t>(idx)] : *constant);
        out.rows.push_back(std::move(row));
    }
    count_ = static_cast<std::int64_t>(out.rows.size());
    sink_.rowSet(out);
}

LoginRecord* Engine::Run::findLogin(const std::string& name) {
    for (auto& l : e_.state_->logins)
        if (sameName(l.name, name, e_.collation_))
            return &l;
    return nullptr;
}

void Engine::Run::exec(const sql::Exec& x) {
    static const char* const known[] = {"sp_addlogin",      "sp_defaultdb", "sp_addsrvrolemember",
                                        "sp_grantdbaccess", "sp_detach_db", "sp_configure"};
    std::string proc;
    for (const char* k : known)
        if (sameName(x.procedure, k, e_.collation_))
            proc = k;
    if (proc.empty()) {
        emit(make(2812, 16, 62, "Could not find stored procedure '" + x.written + "'."));
        return;
    }
    procedure_ = proc;
    std::vector<std::string> args;
    for (const auto& a : x.args) {
        std::string v;
        if (a.kind == sql::Expr::Null)
            v.clear();
        else if (!stringOf(a, v))
            v = a.text;
        args.push_back(v);
    }
    if (proc == "sp_addlogin")
        returnStatus_ = spAddlogin(args);
    else if (proc == "sp_defaultdb")
        returnStatus_ = spDefaultdb(args);
    else if (proc == "sp_addsrvrolemember")
        returnStatus_ = spAddsrvrolemember(args);
    else if (proc == "sp_grantdbaccess")
        returnStatus_ = spGrantdbaccess(args);
    else if (proc == "sp_detach_db")
        returnStatus_ = spDetachDb(args);
    else
        returnStatus_ = spConfigure(x.args);
    procedure_.clear();
}

namespace {
// 201: a required parameter was not supplied.
Message missingParameter(const std::string& proc, const char* parameter, bool p2000) {
    return msg(201, 16, 4,
               p2000 ? "Procedure '" + proc + "' expects parameter '" + parameter +
                           "', which was not supplied."
                     : "Procedure or function '" + proc + "' expects parameter '" + parameter +
                           "', which was not supplied.",
               0, proc);
}
} // namespace

int Engine::Run::spAddlogin(const std::vector<std::string>& a) {
    if (a.empty()) {
        emit(missingParameter(procedure_, "@loginame", p2000_));
        return 1;
    }
    const std::string& name = a[0];
    const std::string password = a.size() > 1 ? a[1] : "";
    const std::string defdb = a.size() > 2 && !a[2].empty() ? a[2] : "master";
    std::string language = a.size() > 3 && !a[3].empty() ? a[3] : "us_english";
    if (findLogin(name)) {
        emit(inProc(15025, 16, 1,
                    p2000_ ? "Login '" + name + "' already exists."
                           : "The server principal '" + name + "' already exists.",
                    p2000_ ? 58 : 1));
        return 1;
    }
    if (!e_.findDatabase(defdb)) {
        emit(inProc(15010, 16, 1,
                    p2000_ ? "The database '" + defdb +
                                 "' does not exist. Use sp_helpdb to show available databases."
                           : "The database '" + defdb +
                                 "' does not exist. Supply a valid database name. To see "
                                 "available databases, use sys.databases.",
                    p2000_ ? 44 : 1));
        return 1;
    }
    bool known = false;
    for (const auto& l : languages)
        if (keywordEquals(language, l.official) || language == l.alias) {
            language = l.official;
            known = true;
        }
    if (!known) {
        emit(inProc(15033, 16, 1, "'" + language + "' is not a valid official language name.",
                    p2000_ ? 50 : 1));
        return 1;
    }
    e_.state_->logins.push_back({name, password, defdb, language, false});
    e_.save();
    e_.log("Login '" + name + "' created.");
    if (p2000_)
        emit(inProc(15298, 10, 1, "New login created.", 0));
    return 0;
}

int Engine::Run::spDefaultdb(const std::vector<std::string>& a) {
    if (a.size() < 2) {
        emit(missingParameter(procedure_, a.empty() ? "@loginame" : "@defdb", p2000_));
        return 1;
    }
    LoginRecord* login = findLogin(a[0]);
    if (!login) {
        emit(inProc(15007, 16, 1,
                    p2000_ ? "The login '" + a[0] + "' does not exist."
                           : "'" + a[0] + "' is not a valid login or you do not have permission.",
                    1));
        return 1;
    }
    Database* db = e_.findDatabase(a[1]);
    if (!db) {
        emit(inProc(15010, 16, 1,
                    p2000_ ? "The database '" + a[1] +
                                 "' does not exist. Use sp_helpdb to show available databases."
                           : "The database '" + a[1] +
                                 "' does not exist. Supply a valid database name. To see "
                                 "available databases, use sys.databases.",
                    1));
        return 1;
    }
    login->defaultDatabase = db->name;
    e_.save();
    if (p2000_)
        emit(inProc(15341, 10, 1, "Default database changed.", 0));
    return 0;
}

int Engine::Run::spAddsrvrolemember(const std::vector<std::string>& a) {
    if (a.size() < 2) {
        emit(missingParameter(procedure_, a.empty() ? "@loginame" : "@rolename", p2000_));
        return 1;
    }
    static const char* const roles[] = {"sysadmin",   "securityadmin", "serveradmin",
                                        "setupadmin", "processadmin",  "diskadmin",
                                        "dbcreator",  "bulkadmin"};
    bool fixed = false;
    for (const char* r : roles)
        fixed = fixed || sameName(a[1], r, e_.collation_);
    if (!fixed) {
        emit(inProc(15402, 11, 1, "'" + a[1] + "' is not a fixed server role.", 1));
        return 1;
    }
    LoginRecord* login = findLogin(a[0]);
    if (!login) {
        emit(inProc(15007, 16, 1,
                    p2000_ ? "The login '" + a[0] + "' does not exist."
                           : "'" + a[0] + "' is not a valid login or you do not have permission.",
                    1));
        return 1;
    }
    if (sameName(a[1], "sysadmin", e_.collation_)) {
        login->sysadmin = true;
        e_.save();
    }
    if (p2000_)
        emit(inProc(15488, 10, 1, "'" + a[0] + "' added to role '" + asciiLower(a[1]) + "'.", 0));
    return 0;
}

int Engine::Run::spGrantdbaccess(const std::vector<std::string>& a) {
    if (a.empty()) {
        emit(missingParameter(procedure_, "@loginame", p2000_));
        return 1;
    }
    LoginRecord* login = findLogin(a[0]);
    if (!login) {
        emit(inProc(15007, 16, 1,
                    p2000_ ? "The login '" + a[0] + "' does not exist."
                           : "'" + a[0] + "' is not a valid login or you do not have permission.",
                    1));
        return 1;
    }
    const std::string user = a.size() > 1 && !a[1].empty() ? a[1] : a[0];
    Database* db = e_.findDatabase(s_.database);
    if (!db)
        return 1;
    const bool owner = sameName(db->owner, login->name, e_.collation_) ||
                       sameName(login->name, "sa", e_.collation_);
    bool mapped = owner;
    for (const auto& [u, l] : db->users) {
        if (sameName(u, user, e_.collation_)) {
            emit(inProc(15023, 16, 1,
                        p2000_ ? "User or role '" + user +
                                     "' already exists in the current "
                                     "database."
                               : "User, group, or role '" + user +
                                     "' already exists in the current database.",
                        1));
            return 1;
        }
        mapped = mapped || sameName(l, login->name, e_.collation_);
    }
    if (mapped) {
        emit(inProc(15063, 16, 1, "The login already has an account under a different user name.",
                    1));
        return 1;
    }
    db->users.emplace_back(user, login->name);
    e_.save();
    if (p2000_)
        emit(inProc(15338, 10, 1, "Granted database access to '" + login->name + "'.", 0));
    return 0;
}

int Engine::Run::spDetachDb(const std::vector<std::string>& a) {
    if (a.empty()) {
        emit(missingParameter(procedure_, "@dbname", p2000_));
        return 1;
    }
    Database* db = e_.findDatabase(a[0]);
    if (!db) {
        emit(inProc(15010, 16, 1,
                    p2000_ ? "The database '" + a[0] +
                                 "' does not exist. Use sp_helpdb to show available databases."
                           : "The database '" + a[0] +
                                 "' does not exist. Supply a valid database name. To see "
                                 "available databases, use sys.databases.",
                    p2000_ ? 27 : 1));
        return 1;
    }
    if (db->system) {
        emit(inProc(7940, 16, 1,
                    "System databases master, model, msdb, and tempdb cannot be detached.", 1));
        return 1;
    }
    if (sessionsIn(*db, true)) {
        emit(make(
            3703, 16, 2,
            p2000_
                ? "Cannot detach the database '" + db->name + "' because it is currently in use."
                : "Cannot detach the database '" + db->name + "' because it is currently in use."));
        return 1;
    }
    db->pinned = false;
    db->uses = 0;
    e_.closeFiles(*db);
    const std::string name = db->name;
    auto& list = e_.state_->databases;
    list.erase(
        std::remove_if(list.begin(), list.end(), [&](const auto& d) { return d.get() == db; }),
        list.end());
    e_.save();
    e_.log("Database '" + name + "' detached.");
    return 0;
}

int Engine::Run::spConfigure(const std::vector<sql::Expr>& a) {
    struct Option {
        const char* name;
        int minimum, maximum;
        int* config;
        int* run;
    };
    static int fixedConnections = 0, fixedAdvanced = 0;
    Option options[] = {
        {"allow updates", 0, 1, &e_.state_->allowUpdatesConfig, &e_.state_->allowUpdatesRun},
        {"show advanced options", 0, 1, &fixedAdvanced, &fixedAdvanced},
        {"user connections", 0, 32767, &fixedConnections, &fixedConnections}};
    auto listColumns = [] {
        return std::vector<Column>{{"name", ColumnType::NVarChar, 35, false},
                                   {"minimum", ColumnType::Int, 0, false},
                                   {"maximum", ColumnType::Int, 0, false},
                                   {"config_value", ColumnType::Int, 0, false},
                                   {"run_value", ColumnType::Int, 0, false}};
    };
    if (a.empty()) {
        RowSet rows;
        rows.columns = listColumns();
        for (const auto& o : options)
            rows.rows.push_back({std::string(o.name), std::int64_t{o.minimum},
                                 std::int64_t{o.maximum}, std::int64_t{*o.config},
                                 std::int64_t{*o.run}});
        sink_.rowSet(rows);
        return 0;
    }
    std::string name;
    (void)stringOf(a[0], name);
    Option* match = nullptr;
    int matches = 0;
    for (auto& o : options) {
        const std::string full = o.name;
        if (full.size() >= name.size() && keywordEquals(full.substr(0, name.size()), name)) {
            ++matches;
            match = &o;
            if (full.size() == name.size()) {
                matches = 1;
                break;
            }
        }
    }
    if (matches != 1) {
        if (matches == 0)
            emit(inProc(15123, 16, 1,
                        "The configuration option '" + name +
                            "' does not exist, or it may be an advanced option.",
                        p2000_ ? 78 : 1));
        else
            emit(inProc(15124, 16, 1, "The configuration option '" + name + "' is not unique.", 1));
        return 1;
    }
    if (a.size() < 2) {
        RowSet rows;
        rows.columns = listColumns();
        rows.rows.push_back({std::string(match->name), std::int64_t{match->minimum},
                             std::int64_t{match->maximum}, std::int64_t{*match->config},
                             std::int64_t{*match->run}});
        sink_.rowSet(rows);
        return 0;
    }
    if (a[1].kind != sql::Expr::Integer || a[1].number < match->minimum ||
        a[1].number > match->maximum) {
        emit(inProc(
            15129, 16, 1,
            "'" + (a[1].kind == sql::Expr::Integer ? std::to_string(a[1].number) : a[1].text) +
                "' is not a valid value for configuration option '" + match->name + "'.",
            1));
        return 1;
    }
    const int old = *match->config;
    *match->config = static_cast<int>(a[1].number);
    e_.save();
    emit(inProc(15457, 10, 1,
                std::string("Configuration option '") + match->name + "' changed from " +
                    std::to_string(old) + " to " + std::to_string(*match->config) +
                    ". Run the RECONFIGURE statement to install.",
                p2000_ ? 154 : 1));
    return 0;
}

void Engine::Run::reconfigure(const sql::Reconfigure& r) {
    if (e_.state_->allowUpdatesConfig == 1 && !r.withOverride) {
        emit(make(5808, 16, 1,
                  p2000_ ? "Ad hoc updates to system catalogs not recommended. Use the "
                           "RECONFIGURE WITH OVERRIDE statement to force this configuration."
                         : "Ad hoc update to system catalogs is not supported."));
        return;
    }
    e_.state_->allowUpdatesRun = e_.state_->allowUpdatesConfig;
    e_.save();
}

void Engine::Run::update(const sql::Update& u) {
    const std::string table = u.table.parts.back();
    const bool isSysdatabases = sameName(table, "sysdatabases", e_.collation_);
    Database* inDb = e_.findDatabase(u.table.parts.size() == 3 ? u.table.parts[0] : s_.database);
    if (!isSysdatabases || !inDb || (p2000_ && inDb->id != 1)) {
        emit(make(208, 16, 1, "Invalid object name '" + u.table.written + "'."));
        return;
    }
    if (!p2000_) {
        emit(make(259, 16, 1, "Ad hoc updates to system catalogs are not allowed."));
        return;
    }
    if (e_.state_->allowUpdatesRun != 1) {
        emit(make(259, 16, 1,
                  "Ad hoc updates to system catalogs are not enabled. The system administrator "
                  "must reconfigure SQL Server to allow this."));
        return;
    }
    for (const auto& [column, value] : u.assignments) {
        if (!keywordEquals(column, "status") && !keywordEquals(column, "status2")) {
            emit(make(207, 16, 1, "Invalid column name '" + column + "'."));
            return;
        }
        if (value.kind != sql::Expr::Integer) {
            emit(make(245, 16, 1,
                      "Syntax error converting the varchar value '" + value.text +
                          "' to a column of data type int."));
            return;
        }
    }
    std::int64_t changed = 0;
    for (auto& db : e_.state_->databases) {
        bool match = true;
        for (const auto& c : u.where) {
            const sql::Expr& col = c.left.kind == sql::Expr::Column ? c.left : c.right;
            const sql::Expr& lit = c.left.kind == sql::Expr::Column ? c.right : c.left;
            if (keywordEquals(col.text, "name"))
                match = match && lit.kind == sql::Expr::String &&
                        sameName(db->name, lit.text, e_.collation_);
            else if (keywordEquals(col.text, "dbid"))
                match = match && lit.kind == sql::Expr::Integer && lit.number == db->id;
            else {
                emit(make(207, 16, 1, "Invalid column name '" + col.text + "'."));
                return;
            }
        }
        if (!match)
            continue;
        for (const auto& [column, value] : u.assignments) {
            if (keywordEquals(column, "status"))
                db->status = static_cast<int>(value.number);
            else
                db->status2 = static_cast<int>(value.number);
        }
        ++changed;
        e_.log("sysdatabases: status of '" + db->name + "' set to " + std::to_string(db->status));
    }
    e_.save();
    count_ = changed;
}

void Engine::Run::alterDatabase(const sql::AlterDatabase& a) {
    Database* db = e_.findDatabase(a.name);
    const Message failed = make(5069, 16, 1, "ALTER DATABASE statement failed.");
    if (!db) {
        emit(make(5011, 14, 5,
                  "User does not have permission to alter database '" + a.name +
                      "', the database does not exist, or the database is not in a state that "
                      "allows access checks."));
        emit(failed);
        return;
    }
    if ((a.option == "EMERGENCY" && p2000_) || a.option == "OFFLINE" ||
        a.option == "RESTRICTED_USER") {
        if (p2000_)
            emit(make(170, 15, 1,
                      "Line " + std::to_string(line_) + ": Incorrect syntax near '" + a.option +
                          "'."));
        else
            emit(make(5069, 16, 1, "ALTER DATABASE statement failed."));
        return;
    }
    if (a.option == "SINGLE_USER") {
        if (db->singleUser() && sessionsIn(*db, false)) {
            emit(make(5064, 16, 1,
                      "Changes to the state or options of database '" + db->name +
                          "' cannot be made at this time. The database is in single-user mode, "
                          "and a user is currently connected to it."));
            emit(failed);
            return;
        }
        if (sessionsIn(*db, false)) {
            if (a.termination != "ROLLBACK IMMEDIATE" && a.termination != "ROLLBACK AFTER") {
                emit(make(5070, 16, 2,
                          "Database state cannot be changed while other users are using the "
                          "database '" +
                              db->name + "'"));
                emit(failed);
                return;
            }
            if (!p2000_)
                emit(make(5060, 10, 1,
                          "Nonqualified transactions are being rolled back. Estimated rollback "
                          "completion: 0%."));
            for (Session* other : e_.sessions_)
                if (other != &s_ && !other->login.empty() &&
                    sameName(other->database, db->name, e_.collation_) && other->kill)
                    other->kill();
            emit(make(5060, 10, 1,
                      "Nonqualified transactions are being rolled back. Estimated rollback "
                      "completion: 100%."));
        }
        db->status |= 4096;
    } else if (a.option == "MULTI_USER") {
        db->status &= ~4096;
    } else if (a.option == "EMERGENCY") {
        db->status |= 32768;
    } else if (a.option == "ONLINE") {
        db->status &= ~32768;
    }
    e_.save();
}

// ---------------------------------------------------------------------------------------------
// CREATE DATABASE, attach, DROP DATABASE.

bool Engine::Run::createFile(const std::string& windowsPath, platform::ErrorCode& error,
                             std::optional<FileHold>& hold) {
    auto path = e_.host_.resolve(windowsPath);
    if (!path) {
        error = 3;
        return false;
    }
    std::error_code ec;
    if (fs::exists(*path, ec)) {
        error = 80;
        return false;
    }
    if (!fs::is_directory(path->parent_path(), ec)) {
        error = 3;
        return false;
    }
    auto h = FileHold::hold(*path, FileHold::Open::CreateIfMissing);
    if (!h) {
        error = h.code();
        return false;
    }
    hold = std::move(h).value();
    return true;
}

std::optional<std::uint64_t> Engine::Run::roomOnDisk() const {
    platform::sim::SimHost current = e_.host_;
    if (!current.reload())
        return std::nullopt;
    return current.diskFree();
}

platform::ErrorCode Engine::Run::writeNewFile(std::uint64_t bytes,
                                              std::optional<std::uint64_t>& room,
                                              const std::function<bool(std::string&)>& writer,
                                              std::string& why) {
    if (room && bytes > *room) {
        why = "not enough space on the disk";
        return platform::win::DiskFull;
    }
    if (!writer(why))
        return writeError(errno);
    if (room)
        *room -= bytes;
    return 0;
}

void Engine::Run::createDatabase(const sql::CreateDatabase& c) {
    if (Database* existing = e_.findDatabase(c.name)) {
        emit(make(1801, 16, 3,
                  p2000_ ? "Database '" + existing->name + "' already exists."
                         : "Database '" + existing->name +
                               "' already exists. Choose a different database name."));
        return;
    }
    if (c.forAttach) {
        attach(c);
        return;
    }
    sql::FileSpec data = c.data.empty() ? sql::FileSpec{} : c.data[0];
    sql::FileSpec logSpec = c.log.empty() ? sql::FileSpec{} : c.log[0];
    if (data.fileName.empty())
        data.fileName = std::string(DefaultDataFolder) + "\\" + c.name + ".mdf";
    if (data.name.empty())
        data.name = c.name;
    if (logSpec.fileName.empty())
        logSpec.fileName = std::string(DefaultDataFolder) + "\\" + c.name + "_log.LDF";
    if (logSpec.name.empty())
        logSpec.name = c.name + "_log";
    const Message final = make(1802, 16, p2000_ ? 1 : 4,
                               p2000_ ? "CREATE DATABASE failed. Some file names listed could not "
                                        "be created. Check previous errors."
                                      : "CREATE DATABASE failed. Some file names listed could not "
                                        "be created. Check related errors.");
    std::optional<FileHold> dataHold, logHold;
    // A failed create leaves nothing behind: the files this statement made are removed.
    const auto removeCreated = [&] {
        for (auto* h : {&dataHold, &logHold})
            if (*h) {
                const auto path = (*h)->path();
                h->reset();
                std::error_code ec;
                fs::remove(path, ec);
            }
    };
    const auto osFailure = [&](platform::ErrorCode error, const std::string& fileName) {
        emit(make(5123, 16, 1,
                  std::string("CREATE FILE encountered operating system error ") +
                      osErrorText(error) +
                      " while attempting to open or create the physical file '" + fileName + "'."));
        emit(final);
        removeCreated();
    };
    for (const auto* file : {&data, &logSpec}) {
        platform::ErrorCode error = 0;
        auto& hold = file == &data ? dataHold : logHold;
        if (createFile(file->fileName, error, hold))
            continue;
        if (error == 80) {
            emit(make(5170, 16, 1,
                      p2000_
                          ? "Cannot create file '" + file->fileName + "' because it already exists."
                          : "Cannot create file '" + file->fileName +
                                "' because it already exists. Change the file path or the "
                                "file name, and retry the operation."));
            emit(final);
            removeCreated();
        } else if (error == 3 && !p2000_) {
            emit(make(5133, 16, 1,
                      "Directory lookup for the file \"" + file->fileName +
                          "\" failed with the operating system error " + osErrorText(3) + "."));
            emit(final);
            removeCreated();
        } else {
            osFailure(error, file->fileName);
        }
        return;
    }
    dbfile::Header header;
    header.role = dbfile::Role::Data;
    header.database = c.name;
    header.id = dbfile::newFileId();
    header.version = e_.info().databaseVersion;
    constexpr std::uint32_t dataPages = 80, logPages = 63; // the sizes of model's files
    // The host's drive may have less room than the two files need (host.conf's disk_free).
    std::optional<std::uint64_t> room = roomOnDisk();
    const auto write = [&](const sql::FileSpec& file, std::uint64_t bytes,
                           const std::function<bool(std::string&)>& writer) {
        std::string why;
        const platform::ErrorCode error = writeNewFile(bytes, room, writer, why);
        if (error == 0)
            return true;
        e_.log("CREATE DATABASE " + c.name + ": " + file.fileName + ": " + why);
        osFailure(error, file.fileName);
        return false;
    };
    if (!write(data, std::uint64_t{dataPages} * dbfile::PageSize,
               [&](std::string& why) {
                   return dbfile::writeDataFile(dataHold->fd(), header, dbfile::systemTables(),
                                                dataPages, why);
               }) ||
        !write(logSpec, std::uint64_t{logPages} * dbfile::PageSize, [&](std::string& why) {
            return dbfile::writeLogFile(logHold->fd(), c.name, header.id, header.version, logPages,
                                        why);
        }))
        return;
    if (p2000_) {
        emit(make(1805, 10, 1,
                  "The CREATE DATABASE process is allocating " +
                      megabytes(dataPages * dbfile::PageSize) + " MB on disk '" + data.name +
                      "'."));
        emit(make(1805, 10, 1,
                  "The CREATE DATABASE process is allocating " +
                      megabytes(logPages * dbfile::PageSize) + " MB on disk '" + logSpec.name +
                      "'."));
    }
    auto db = std::make_unique<Database>();
    db->name = c.name;
    int id = 5;
    while (std::any_of(e_.state_->databases.begin(), e_.state_->databases.end(),
                       [&](const auto& d) { return d->id == id; }))
        ++id;
    db->id = id;
    db->dataFile = data.fileName;
    db->logFile = logSpec.fileName;
    db->status = p2000_ ? 16 : 65536;
    db->status2 = p2000_ ? 1090519040 : 1627389952;
    db->created = now();
    db->cmptlevel = e_.info().compatibilityLevel;
    db->version = e_.info().databaseVersion;
    db->owner = s_.login;
    dataHold.reset();
    logHold.reset();
    Database& ref = *db;
    e_.state_->databases.push_back(std::move(db));
    if (!p2000_) {
        std::vector<Message> ignored;
        ref.pinned = true;
        (void)e_.openFiles(ref, ignored, line_);
    }
    e_.save();
    e_.log("Database '" + c.name + "' created.");
}

void Engine::Run::attach(const sql::CreateDatabase& c) {
    const Message aborted2000 = make(
        1813, 16, 2, "Could not open new database '" + c.name + "'. CREATE DATABASE is aborted.");
    if (c.data.empty() || c.data[0].fileName.empty()) {
        emit(make(1844, 16, 1, "CREATE DATABASE FOR ATTACH requires the primary file name."));
        return;
    }
    const std::string dataFile = c.data[0].fileName;
    const std::string logFile = c.log.empty() ? std::string() : c.log[0].fileName;
    // A file missing or held: the pair of errors each profile gives.
    auto fileFailure = [&](const std::string& file, platform::ErrorCode code) {
        if (p2000_) {
            emit(make(5105, 16, 2,
                      "Device activation error. The physical file name '" + file +
                          "' may be incorrect."));
            emit(aborted2000);
        } else {
            emit(make(5120, 16, 101,
                      "Unable to open the physical file \"" + file + "\". Operating system error " +
                          osErrorText(code) + "."));
            emit(make(1802, 16, 7,
                      "CREATE DATABASE failed. Some file names listed could not be created. "
                      "Check related errors."));
        }
    };
    auto resolved = [&](const std::string& file) { return e_.host_.resolve(file); };
    auto inUseByCatalog = [&](const fs::path& path) {
        for (const auto& db : e_.state_->databases) {
            if (db->system)
                continue;
            for (const auto* f : {&db->dataFile, &db->logFile}) {
                auto p = resolved(*f);
                std::error_code ec;
                if (p && fs::equivalent(*p, path, ec))
                    return true;
            }
        }
        return false;
    };
    auto holdExisting = [&](const std::string& file) -> std::optional<FileHold> {
        auto path = resolved(file);
        std::error_code ec;
        if (!path || !fs::exists(*path, ec)) {
            fileFailure(file, path && fs::is_directory(path->parent_path(), ec) ? 2 : 3);
            return std::nullopt;
        }
        if (inUseByCatalog(*path)) {
            fileFailure(file, 32);
            return std::nullopt;
        }
        auto hold = FileHold::hold(*path);
        if (!hold) {
            fileFailure(file, hold.code() == 32 ? 32 : 5);
            return std::nullopt;
        }
        return std::move(hold).value();
    };
    auto dataHold = holdExisting(dataFile);
    if (!dataHold)
        return;
    dbfile::ReadError kind;
    std::string why;
    auto header = dbfile::readHeader(dataHold->fd(), kind, why);
    if (!header) {
        emit(make(5172, 16, 15,
                  "The header for file '" + dataFile +
                      "' is not a valid database file header. The FILE SIZE property is "
                      "incorrect."));
        if (p2000_)
            emit(aborted2000);
        return;
    }
    if (header->role != dbfile::Role::Data) {
        emit(make(5171, 16, 1, dataFile + " is not a primary database file."));
        if (p2000_)
            emit(aborted2000);
        return;
    }
    if (header->version > e_.info().databaseVersion) {
        emit(make(948, p2000_ ? 16 : 20, 1,
                  "The database '" + c.name + "' cannot be opened because it is version " +
                      std::to_string(header->version) + ". This server supports version " +
                      std::to_string(e_.info().databaseVersion) +
                      " and earlier. A downgrade path is not supported."));
        return;
    }
    std::optional<FileHold> logHold;
    std::string usedLog = logFile;
    if (!logFile.empty()) {
        logHold = holdExisting(logFile);
        if (!logHold)
            return;
        auto logHeader = dbfile::readHeader(logHold->fd(), kind, why);
        if (!logHeader || logHeader->role != dbfile::Role::Log || logHeader->dataId != header->id) {
            if (p2000_) {
                emit(make(5173, 16, 1, "Cannot associate files with different databases."));
                emit(aborted2000);
            } else {
                emit(make(5173, 16, 1,
                          "One or more files do not match the primary file of the database. If "
                          "you are attempting to attach a database, retry the operation with the "
                          "correct files.  If this is an existing database, the file may be "
                          "corrupted and should be restored from a backup."));
                emit(make(1813, 16, 2,
                          "Could not open new database '" + c.name +
                              "'. CREATE DATABASE is aborted."));
            }
            return;
        }
    } else {
        // Single-file attach: a cleanly shut down database gets a new log beside its data file.
        const auto slash = dataFile.find_last_of('\\');
        const std::string folder = slash == std::string::npos ? "" : dataFile.substr(0, slash);
        usedLog = folder + "\\" + c.name + "_log.LDF";
        if (p2000_)
            emit(make(5105, 10, 2,
                      "Device activation error. The physical file name '" + usedLog +
                          "' may be incorrect."));
        else
            emit(make(5111, 10, 1,
                      "File activation failure. The physical file name \"" + usedLog +
                          "\" may be incorrect."));
        if (!header->clean) {
            if (!p2000_)
                emit(make(5113, 10, 1,
                          "The log cannot be rebuilt because there were open transactions/users "
                          "when the database was shutdown, no checkpoint occurred to the "
                          "database, or the database was read-only. This error could occur if "
                          "the transaction log file was manually deleted or lost due to a "
                          "hardware or environment failure."));
            emit(make(1813, 16, 2,
                      "Could not open new database '" + c.name + "'. CREATE DATABASE is aborted."));
            return;
        }
        platform::ErrorCode error = 0;
        if (!createFile(usedLog, error, logHold)) {
            emit(make(5170, 16, 1,
                      "Cannot create file '" + usedLog +
                          "' because it already exists. Change the file path or the file name, "
                          "and retry the operation."));
            emit(make(1813, 16, 2,
                      "Could not open new database '" + c.name + "'. CREATE DATABASE is aborted."));
            return;
        }
        std::optional<std::uint64_t> room = roomOnDisk();
        if (const platform::ErrorCode failed = writeNewFile(
                std::uint64_t{63} * dbfile::PageSize, room,
                [&](std::string& reason) {
                    return dbfile::writeLogFile(logHold->fd(), c.name, header->id, header->version,
                                                63, reason);
                },
                why)) {
            e_.log("attach " + c.name + ": " + why);
            const auto path = logHold->path();
            logHold.reset();
            std::error_code ec;
            fs::remove(path, ec);
            emit(make(5123, 16, 1,
                      std::string("CREATE FILE encountered operating system error ") +
                          osErrorText(failed) +
                          " while attempting to open or create the physical file '" + usedLog +
                          "'."));
            emit(make(1813, 16, 2,
                      "Could not open new database '" + c.name + "'. CREATE DATABASE is aborted."));
            return;
        }
        emit(make(5182, 10, 1, "New log file '" + usedLog + "' was created."));
    }
    int cmptlevel = header->version <= 539 ? 80 : 90;
    if (header->version < e_.info().databaseVersion) {
        static const int steps[] = {539, 551, 552, 553, 554, 589, 590, 593, 597,
                                    604, 605, 606, 607, 608, 609, 610, 611};
        emit(make(944, 10, 1,
                  "Converting database '" + c.name + "' from version " +
                      std::to_string(header->version) + " to the current version " +
                      std::to_string(e_.info().databaseVersion) + "."));
        for (std::size_t i = 0; i + 1 < std::size(steps); ++i)
            if (steps[i] >= header->version)
                emit(make(951, 10, 1,
                          "Database '" + c.name + "' running the upgrade step from version " +
                              std::to_string(steps[i]) + " to version " +
                              std::to_string(steps[i + 1]) + "."));
        header->version = e_.info().databaseVersion;
        if (!dbfile::writeHeader(dataHold->fd(), *header, why))
            e_.log("attach " + c.name + ": " + why);
    }
    auto db = std::make_unique<Database>();
    db->name = c.name;
    int id = 5;
    while (std::any_of(e_.state_->databases.begin(), e_.state_->databases.end(),
                       [&](const auto& d) { return d->id == id; }))
        ++id;
    db->id = id;
    db->dataFile = dataFile;
    db->logFile = usedLog;
    db->status = p2000_ ? 16 : 65536;
    db->status2 = p2000_ ? 1090519040 : 1627389952;
    db->created = now();
    db->cmptlevel = cmptlevel;
    db->version = header->version;
    db->owner = s_.login;
    dataHold.reset();
    logHold.reset();
    Database& ref = *db;
    e_.state_->databases.push_back(std::move(db));
    if (!p2000_) {
        std::vector<Message> ignored;
        ref.pinned = true;
        (void)e_.openFiles(ref, ignored, line_);
    }
    e_.save();
    e_.log("Database '" + c.name + "' attached from " + dataFile + ".");
}

void Engine::Run::dropDatabase(const sql::DropDatabase& d) {
    Database* db = e_.findDatabase(d.name);
    if (!db) {
        emit(make(3701, 11, 1,
                  "Cannot drop the database '" + d.name +
                      "', because it does not exist in the system catalog."));
        return;
    }
    if (db->system) {
        emit(make(3708, 16, 1,
                  "Cannot drop the database '" + db->name + "' because it is a system database."));
        return;
    }
    if (sessionsIn(*db, true)) {
        emit(make(3702, 16, 3,
                  "Cannot drop the database '" + db->name + "' because it is currently in use."));
        return;
    }
    db->pinned = false;
    db->uses = 0;
    e_.closeFiles(*db);
    for (const auto* f : {&db->dataFile, &db->logFile}) {
        auto p = e_.host_.resolve(*f);
        std::error_code ec;
        if (p)
            fs::remove(*p, ec);
    }
    auto& list = e_.state_->databases;
    list.erase(
        std::remove_if(list.begin(), list.end(), [&](const auto& x) { return x.get() == db; }),
        list.end());
    e_.save();
}

// ---------------------------------------------------------------------------------------------
// DBCC.

void Engine::Run::dbcc(const sql::Dbcc& d) {
    if (d.verb == "CHECKDB") {
        checkdb(d);
    } else if (d.verb == "REBUILD_LOG" && p2000_) {
        rebuildLog(d);
    } else {
        emit(make(2526, 16, 3,
                  "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax "
                  "and options."));
    }
}

void Engine::Run::checkdb(const sql::Dbcc& d) {
    std::string name = s_.database;
    if (!d.args.empty()) {
        if (d.args[0].kind == sql::Expr::Integer) {
            name.clear();
            for (const auto& db : e_.state_->databases)
                if (db->id == d.args[0].number)
                    name = db->name;
        } else {
            (void)stringOf(d.args[0], name);
        }
    }
    std::string repairOption;
    if (d.args.size() > 1) {
        std::string option;
        (void)stringOf(d.args[1], option);
        for (auto& ch : option)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (option != "REPAIR_ALLOW_DATA_LOSS" && option != "REPAIR_REBUILD" &&
            option != "REPAIR_FAST" && option != "NOINDEX") {
            emit(make(2526, 16, 3,
                      "Incorrect DBCC statement. Check the documentation for the correct DBCC "
                      "syntax and options."));
            return;
        }
        if (option != "NOINDEX")
            repairOption = option;
    }
    const bool quiet = std::find(d.with.begin(), d.with.end(), "NO_INFOMSGS") != d.with.end();
    Database* db = e_.findDatabase(name);
    if (!db) {
        emit(make(2520, 16, 1,
                  p2000_ ? "Could not find database '" + name + "'. Check sysdatabases."
                         : "Could not find database '" + name +
                               "'. The database either does not exist, or was dropped before a "
                               "statement tried to use it. Verify if the database exists by "
                               "querying the sys.databases catalog view."));
        return;
    }
    if (!repairOption.empty() && !db->singleUser()) {
        emit(make(7919, 16, 3,
                  "Repair statement not processed. Database needs to be in single user mode."));
        return;
    }
    const bool repairing = repairOption == "REPAIR_ALLOW_DATA_LOSS";
    const std::string shown = db->name;
    std::vector<Message> errors;
    if (!e_.acquire(*db, errors, line_)) {
        emitAll(errors);
        return;
    }
    struct Releaser {
        Engine& e;
        Database& db;
        ~Releaser() { e.release(db); }
    } releaser{e_, *db};

    dbfile::CheckReport report;
    std::vector<dbfile::ObjectInfo> objects;
    if (db->system) {
        objects = {{1, "sysobjects"}, {2, "sysindexes"}, {3, "syscolumns"}};
        for (const auto& o : objects)
            report.objects[o.id] = {40, 1};
    } else {
        report = dbfile::check(db->dataHold->fd(), *db->header);
        objects = db->header->objects;
    }
    auto objectName = [&](std::int32_t id) {
        for (const auto& o : objects)
            if (o.id == id)
                return o.name;
        return std::to_string(id);
    };
    if (!quiet)
        emit(make(2536, 10, 1, "DBCC results for '" + shown + "'."));
    std::map<std::int32_t, int> errorsPerObject;
    const std::string pg = "(1:";
    for (const auto& p : report.problems) {
        const long long partition = static_cast<long long>(p.objectId) << 16;
        const std::string ids = p2000_ ? "Object ID " + std::to_string(p.objectId) + ", index ID " +
                                             std::to_string(p.indexId)
                                       : "Object ID " + std::to_string(p.objectId) + ", index ID " +
                                             std::to_string(p.indexId) + ", partition ID " +
                                             std::to_string(partition) + ", alloc unit ID " +
                                             std::to_string(partition) + " (type In-row data)";
        const std::string page = pg + std::to_string(p.page) + ")";
        std::vector<Message> found;
        found.push_back(make(8928, 16, 1,
                             ids + ": Page " + page +
                                 " could not be processed. See other errors for details."));
        if (p.wrongPageId)
            found.push_back(make(8909, 16, 1,
                                 "Table error: " + ids + ", page ID " + page +
                                     (p2000_ ? ". The PageId in the page header = "
                                             : " contains an incorrect page ID in its page "
                                               "header. The PageId in the page header = ") +
                                     pg + std::to_string(p.pageIdInHeader) + ")."));
        else
            found.push_back(make(8939, 16, 98,
                                 "Table error: " + ids + ", page " + page +
                                     ". Test (IS_OFF (BUF_IOERR, pBUF->bstat)) failed. Values "
                                     "are 12716041 and -4."));
        for (const auto& m : found) {
            emit(m);
            if (repairing)
                emit(make(8911, 10, 1, "The error has been repaired."));
        }
        errorsPerObject[p.objectId] += static_cast<int>(found.size());
    }
    if (repairing && !report.problems.empty()) {
        std::string why;
        if (!dbfile::repair(db->dataHold->fd(), report.problems, why))
            e_.log("repair of " + shown + ": " + why);
        e_.log("DBCC CHECKDB (" + shown + ", REPAIR_ALLOW_DATA_LOSS) rewrote " +
               std::to_string(report.problems.size()) + " damaged pages as empty pages.");
    }
    int total = 0;
    for (const auto& [id, stats] : report.objects) {
        const auto it = errorsPerObject.find(id);
        if (it == errorsPerObject.end()) {
            if (!quiet)
                emit(make(2593, 10, 1,
                          "There are " + std::to_string(stats.rows) + " rows in " +
                              std::to_string(stats.pages) + " pages for object \"" +
                              objectName(id) + "\"."));
            continue;
        }
        total += it->second;
        emit(make(8990, 10, 1,
                  "CHECKDB found 0 allocation errors and " + std::to_string(it->second) +
                      " consistency errors in table '" + objectName(id) + "' (object ID " +
                      std::to_string(id) + ")."));
        if (repairing)
            emit(make(8949, 10, 1,
                      "CHECKDB fixed 0 allocation errors and " + std::to_string(it->second) +
                          " consistency errors in table '" + objectName(id) + "' (object ID " +
                          std::to_string(id) + ")."));
    }
    for (const auto& [id, count] : errorsPerObject)
        if (!report.objects.count(id))
            total += count;
    if (total > 0 || !quiet)
        emit(make(8989, 10, 1,
                  "CHECKDB found 0 allocation errors and " + std::to_string(total) +
                      " consistency errors in database '" + shown + "'."));
    if (total > 0) {
        if (repairing)
            emit(make(8912, 10, 1,
                      "CHECKDB fixed 0 allocation errors and " + std::to_string(total) +
                          " consistency errors in database '" + shown + "'."));
        else
            emit(make(8958, 10, 1,
                      "repair_allow_data_loss is the minimum repair level for the errors found "
                      "by DBCC CHECKDB (" +
                          shown + (p2000_ ? " )." : ").")));
    }
    if (!quiet)
        emit(make(2528, 10, 1,
                  "DBCC execution completed. If DBCC printed error messages, contact your "
                  "system administrator."));
}

void Engine::Run::rebuildLog(const sql::Dbcc& d) {
    std::string name, file;
    if (d.args.size() < 2 || !stringOf(d.args[0], name) || !stringOf(d.args[1], file)) {
        emit(make(2526, 16, 3,
                  "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax "
                  "and options."));
        return;
    }
    Database* db = e_.findDatabase(name);
    if (!db) {
        emit(make(2520, 16, 1, "Could not find database '" + name + "'. Check sysdatabases."));
        return;
    }
    if (db->system) {
        emit(make(5027, 16, 1,
                  "System databases master, model, and tempdb cannot have their logs rebuilt."));
        return;
    }
    if (!db->emergency()) {
        emit(make(5023, 16, 1, "Database must be put in bypass recovery mode to rebuild the log."));
        return;
    }
    auto target = e_.host_.resolve(file);
    std::error_code ec;
    if (target && fs::exists(*target, ec)) {
        emit(make(5025, 16, 1,
                  "The file '" + file +
                      "' already exists. It should be renamed or deleted so that a new log file "
                      "can be created."));
        return;
    }
    std::vector<Message> errors;
    if (!e_.acquire(*db, errors, line_)) {
        emitAll(errors);
        return;
    }
    struct Releaser {
        Engine& e;
        Database& db;
        ~Releaser() { e.release(db); }
    } releaser{e_, *db};
    platform::ErrorCode error = 0;
    std::optional<FileHold> logHold;
    if (!createFile(file, error, logHold)) {
        emit(make(5123, 16, 1,
                  std::string("CREATE FILE encountered operating system error ") +
                      osErrorText(error) +
                      " while attempting to open or create the physical file '" + file + "'."));
        return;
    }
    std::string why;
    std::optional<std::uint64_t> room = roomOnDisk();
    if (const platform::ErrorCode failed = writeNewFile(
            std::uint64_t{63} * dbfile::PageSize, room,
            [&](std::string& reason) {
                return dbfile::writeLogFile(logHold->fd(), db->name, db->header->id,
                                            db->header->version, 63, reason);
            },
            why)) {
        e_.log("DBCC REBUILD_LOG: " + why);
        const auto path = logHold->path();
        logHold.reset();
        fs::remove(path, ec);
        emit(make(5123, 16, 1,
                  std::string("CREATE FILE encountered operating system error ") +
                      osErrorText(failed) +
                      " while attempting to open or create the physical file '" + file + "'."));
        return;
    }
    db->logFile = file;
    db->logHold = std::move(logHold);
    db->status &= ~32768;
    e_.save();
    e_.log("The log of '" + db->name + "' was rebuilt at " + file + ".");
    emit(make(5029, 10, 1,
              "Warning: The log for database '" + db->name +
                  "' has been rebuilt. Transactional consistency has been lost. DBCC CHECKDB "
                  "should be run to validate physical consistency. Database options will have to "
                  "be reset, and extra log files may need to be deleted."));
    emit(make(2528, 10, 1,
              "DBCC execution completed. If DBCC printed error messages, contact your system "
              "administrator."));
}

} // namespace kv::standin
