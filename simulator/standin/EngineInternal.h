#pragma once
// The engine's inside, shared by its source files (one per family of statements): the catalog's
// records, the run of one batch and the helpers its statements use. Only the engine's own files
// include it.
//
//   Engine.cpp         catalog state file, database files, sessions, the batch and EXEC dispatch
//   EngineCatalog.cpp  USE, SET, PRINT, RAISERROR, WAITFOR, ALTER DATABASE
//   EngineSelect.cpp   SELECT and its expressions
//   EngineLogins.cpp   logins, sp_addlogin, sp_defaultdb, sp_addsrvrolemember, sp_grantdbaccess
//   EngineConfig.cpp   sp_configure, RECONFIGURE, UPDATE sysdatabases
//   EngineFiles.cpp    CREATE DATABASE (new and FOR ATTACH), DROP DATABASE, sp_detach_db
//   EngineDbcc.cpp     DBCC CHECKDB, DBCC REBUILD_LOG, DBCC DBINFO

#include "platform/Result.h"
#include "simulator/standin/Engine.h"
#include "simulator/standin/Sql.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv::standin {

namespace detail {

inline Message msg(int number, int severity, int state, std::string text, int line = 1,
                   std::string procedure = {}) {
    return Message{number, state, severity, std::move(text), std::move(procedure), line};
}

// The current time as a datetime value.
DateTime now();

// "NUMBER(text)" of a Windows error as SQL Server quotes it in its messages.
const char* osErrorText(platform::ErrorCode code);

// 201: a required parameter was not supplied.
Message missingParameter(const std::string& proc, const char* parameter, bool p2000);

struct LanguageName {
    const char* official;
    const char* alias;
};
inline constexpr LanguageName languages[] = {{"us_english", "English"},
                                             {"Turkish", "Türkçe"},
                                             {"Deutsch", "German"},
                                             {"Français", "French"},
                                             {"British", "British English"}};

} // namespace detail

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
    std::optional<platform::FileHold> dataHold, logHold;
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
        return detail::msg(number, severity, state, std::move(text), line_);
    }
    Message inProc(int number, int severity, int state, std::string text, int procLine) const {
        return detail::msg(number, severity, state, std::move(text), procLine, procedure_);
    }
    void emitAll(const std::vector<Message>& ms) {
        for (const auto& m : ms)
            emit(m);
    }

    void statement(const Statement& st);
    void use(const sql::Use& u);
    void set(const sql::Set& s);
    void select(const sql::Select& s);
    // The rows of a select, for the client or for a derived table; nullopt after an error.
    std::optional<RowSet> query(const sql::Select& s);
    bool catalogRows(const sql::TableRef& t, const std::string& table, const std::string& dbPart,
                     std::vector<Column>& cols, std::vector<Row>& rows);
    std::optional<RowSet> filtered(const sql::Select& s, const std::string& table,
                                   const std::vector<Column>& cols, std::vector<Row> rows);
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
    void dbinfo(const sql::Dbcc& d);
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
    // findLogin, or 15007 in the profile's words and null.
    LoginRecord* existingLogin(const std::string& name);
    // Engine::findDatabase, or 15010 in the profile's words (with SQL Server 2000's state for
    // the procedure that asks) and null.
    Database* existingDatabase(const std::string& name, int state2000);
    // Gives a database taken with Engine::acquire back when the statement is done with it.
    struct Release {
        Engine& e;
        Database& db;
        ~Release() { e.release(db); }
    };
    bool sessionsIn(const Database& db, bool includingSelf) const;
    std::string dbNotFound2000Or2005(const std::string& name) const;
    bool createFile(const std::string& windowsPath, platform::ErrorCode& error,
                    std::optional<platform::FileHold>& hold);
    // The room drive C has left for new files (host.conf's disk_free); nullopt: no limit.
    std::optional<std::uint64_t> roomOnDisk() const;
    // Writes a new database file of `bytes` through `writer` (given the held file); 0, or the
    // Windows error of the failed write (DiskFull when the file is larger than `room`, which
    // otherwise shrinks by `bytes`). A file that could not be written is closed and removed.
    platform::ErrorCode
    writeNewFile(std::optional<platform::FileHold>& hold, std::uint64_t bytes,
                 std::optional<std::uint64_t>& room,
                 const std::function<platform::Result<void>(platform::FileHold&)>& writer,
                 std::string& why);
    // Enters a database whose files are written, and no longer held by the statement, into the
    // catalog; the 2005 profile keeps it open from then on.
    void addDatabase(const std::string& name, const std::string& dataFile,
                     const std::string& logFile, int cmptlevel, int version);
    // 5123: a file could not be created or written, with the operating system's reason.
    Message cannotCreateFile(platform::ErrorCode error, const std::string& file) const;

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

} // namespace kv::standin
