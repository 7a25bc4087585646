// The engine: its profiles, the catalog's state file, opening and closing database files,
// sessions, and running a batch statement by statement.

#include "simulator/standin/EngineInternal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kv::standin {

using namespace detail;
namespace fs = std::filesystem;
using platform::FileHold;

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

DateTime detail::now() {
    const auto t = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    // 1900-01-01 to 1970-01-01 is 25567 days.
    const std::int64_t days = ms / 86400000 + 25567;
    const std::int64_t msOfDay = ms % 86400000;
    return {static_cast<std::int32_t>(days), static_cast<std::uint32_t>(msOfDay * 300 / 1000)};
}

const char* detail::osErrorText(platform::ErrorCode code) {
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

Engine::Engine(platform::ServerMachine machine, Options options)
    : machine_(std::move(machine)), options_(std::move(options)),
      state_(std::make_unique<State>()) {
    collation_ = machine_.codePage() == 1254 ? Collation::Turkish : Collation::Latin1General;
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

    auto path = machine_.resolve(StateFileWindowsPath);
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
    auto path = machine_.resolve(StateFileWindowsPath);
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
        auto path = machine_.resolve(file);
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
    auto header = dbfile::readHeader(*data, kind, why);
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
            auto logHeader = dbfile::readHeader(*logHold, kind, why);
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
        auto path = machine_.resolve(db.logFile);
        std::error_code ec;
        if (path && fs::exists(*path, ec)) {
            auto hold = FileHold::hold(*path);
            if (hold)
                logHold = std::move(hold).value();
        }
    }
    header->clean = false;
    if (auto written = dbfile::writeHeader(*data, *header); !written)
        log("Database '" + db.name + "': " + written.error().message);
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
        if (auto written = dbfile::writeHeader(*db.dataHold, *db.header); !written)
            log("Database '" + db.name + "': " + written.error().message);
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
// Sessions.

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

// ---------------------------------------------------------------------------------------------
// Running a batch.

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

} // namespace kv::standin
