#pragma once
// The stand-in server's engine: the catalog (system and attached databases, logins, server
// role membership, database users, the 'allow updates' option), sessions, and the statements
// the console and its data-access layer send, answered with SQL Server's numbers, classes,
// states and texts in one of two behaviour profiles:
//
//  - Sql2000: SQL Server 2000 SP4 Desktop Engine (8.00.2039). The legacy repair steps work
//    ('allow updates', UPDATE sysdatabases, DBCC REBUILD_LOG). Databases close automatically
//    when no session uses them, so their files are free to copy between statements.
//  - Sql2005: SQL Server 2005 (9.00.5000). The legacy steps fail with that version's errors;
//    the files of every attached database stay open and held.
//
// The catalog lives in a state file on the host's drive, beside the default database folder:
// "C:\Program Files\Microsoft SQL Server\MSSQL\Data\standin-master.state" (a text file written
// atomically after every change), so that a stop and start keeps the attached databases.
//
// Database files are real files of the machine, reached through ServerMachine::resolve (the
// simulated host's drive, or the Windows path as it is), in the format of DbFile.h. While a
// database is open its files are held (FileHold), so the machine's file functions refuse to copy
// over, delete or rename them.
//
// Thread safety: every public member may be called from any connection thread; statements run
// one at a time under the engine's lock (WAITFOR waits outside it).

#include "platform/FileHold.h"
#include "platform/ServerMachine.h"
#include "simulator/standin/DbFile.h"
#include "simulator/standin/Results.h"
#include "simulator/standin/Text.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv::standin {

enum class Profile { Sql2000, Sql2005 };

struct ProfileInfo {
    Profile profile;
    const char* name;           // "2000" / "2005"
    const char* versionText;    // @@VERSION
    const char* productVersion; // SERVERPROPERTY('ProductVersion'), resolution protocol
    const char* productLevel;
    const char* edition;
    std::uint8_t major, minor;
    std::uint16_t build;
    std::uint32_t tdsVersion; // highest TDS version acknowledged
    std::uint16_t databaseVersion;
    int compatibilityLevel;
    const char* freetdsVersion; // "tds version" in freetds.conf
};

const ProfileInfo& profileInfo(Profile profile);
std::optional<Profile> parseProfile(const std::string& text);

inline constexpr const char* DefaultSaPassword = "k";
inline constexpr const char* StateFileWindowsPath =
    "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\standin-master.state";
inline constexpr const char* DefaultDataFolder =
    "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data";
// The server's own log (SQL Server's ERRORLOG), where setup puts it for a default instance.
inline constexpr const char* ErrorLogWindowsPath =
    "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\LOG\\ERRORLOG";

struct Session {
    int spid = 0;
    std::string login;
    std::string database = "master";
    int lockTimeout = -1;
    bool quotedIdentifier = true;
    bool noCount = false;
    std::string language = "us_english";
    // Ends the session's connection (ALTER DATABASE ... WITH ROLLBACK IMMEDIATE).
    std::function<void()> kill;
};

// Waits up to `milliseconds` for the client to cancel; true when it did.
using CancelCheck = std::function<bool(int milliseconds)>;

enum class BatchOutcome { Completed, Cancelled, Fatal };

class Engine {
public:
    struct Options {
        Profile profile = Profile::Sql2000;
        // Replaces the stored password of 'sa' (and is kept in the state file).
        std::optional<std::string> saPassword;
        // The server's own log (one line per call); may be empty.
        std::function<void(const std::string&)> log;
    };

    // Opens (or creates) the catalog of the machine. Throws std::runtime_error when the state
    // file exists but cannot be read.
    Engine(platform::ServerMachine machine, Options options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    const ProfileInfo& info() const { return profileInfo(options_.profile); }
    Profile profile() const { return options_.profile; }
    std::string serverName() const { return machine_.computerName(); }
    Collation collation() const { return collation_; }
    std::vector<std::uint8_t> collationBytes() const;
    const platform::ServerMachine& machine() const { return machine_; }

    std::shared_ptr<Session> openSession();
    void closeSession(Session& session);

    struct LoginResult {
        bool ok = false;
        std::vector<Message> messages; // errors on failure; 5701 and 5703 on success
        std::string database;
        std::string language;
    };
    LoginResult login(Session& session, const std::string& user, const std::string& password,
                      const std::string& database);

    BatchOutcome execute(Session& session, const std::string& batch, ResultSink& sink,
                         const CancelCheck& cancel = {});

    // Closes every database file (marking the databases cleanly shut down).
    void shutdown();

    // For simhost and tests: the databases' Windows file paths, by database name.
    struct DatabaseFiles {
        std::string name, dataFile, logFile;
    };
    std::vector<DatabaseFiles> attachedDatabases() const;

private:
    struct Database;
    class Run;
    friend class Run;

    Database* findDatabase(const std::string& name);
    bool acquire(Database& db, std::vector<Message>& errors, int line);
    void release(Database& db);
    bool openFiles(Database& db, std::vector<Message>& errors, int line);
    void closeFiles(Database& db);
    void load();
    void save();
    void log(const std::string& line) const;

    platform::ServerMachine machine_;
    Options options_;
    Collation collation_ = Collation::Latin1General;
    mutable std::recursive_mutex mutex_;
    struct State;
    std::unique_ptr<State> state_;
    std::vector<Session*> sessions_;
    int nextSpid_ = 51;
};

} // namespace kv::standin
