// DBCC: CHECKDB (with its repair), REBUILD_LOG and DBINFO.

#include "platform/Clock.h"
#include "simulator/standin/EngineInternal.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>

namespace kv::standin {

using namespace detail;
namespace fs = std::filesystem;
using platform::FileHold;

namespace {

// What a database that no check ever found clean shows as dbi_dbccLastKnownGood.
constexpr const char* NeverChecked = "1900-01-01 00:00:00.000";

// The server's local time as SQL Server prints a datetime: "2010-05-04 10:11:12.123".
std::string localDateTimeText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    const std::tm local = platform::localTime(seconds);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// DBCC's 2526 for a statement it cannot read, and the 2528 that closes its output.
const char* const IncorrectDbccText = "Incorrect DBCC statement. Check the documentation for the "
                                      "correct DBCC syntax and options.";
const char* const DbccCompletedText = "DBCC execution completed. If DBCC printed error messages, "
                                      "contact your system administrator.";

// DBCC's 2520 for a database that is not there, in each version's words.
std::string databaseNotFoundText(bool sql2000, const std::string& name) {
    if (sql2000)
        return "Could not find database '" + name + "'. Check sysdatabases.";
    return "Could not find database '" + name +
           "'. The database either does not exist, or was dropped before a statement tried to "
           "use it. Verify if the database exists by querying the sys.databases catalog view.";
}

} // namespace

void Engine::Run::dbcc(const sql::Dbcc& d) {
    if (d.verb == "CHECKDB") {
        checkdb(d);
    } else if (d.verb == "REBUILD_LOG" && p2000_) {
        rebuildLog(d);
    } else if (d.verb == "DBINFO") {
        dbinfo(d);
    } else {
        emit(make(2526, 16, 3, IncorrectDbccText));
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
            emit(make(2526, 16, 3, IncorrectDbccText));
            return;
        }
        if (option != "NOINDEX")
            repairOption = option;
    }
    const bool quiet = std::find(d.with.begin(), d.with.end(), "NO_INFOMSGS") != d.with.end();
    Database* db = e_.findDatabase(name);
    if (!db) {
        emit(make(2520, 16, 1, databaseNotFoundText(p2000_, name)));
        return;
    }
    if (!repairOption.empty() && !db->singleUser()) {
        emit(make(7919, 16, 3,
                  "Repair statement not processed. Database needs to be in single user mode."));
        return;
    }
    bool repairing = repairOption == "REPAIR_ALLOW_DATA_LOSS";
    const std::string shown = db->name;
    std::vector<Message> errors;
    if (!e_.acquire(*db, errors, line_)) {
        emitAll(errors);
        return;
    }
    const Release release{e_, *db};

    dbfile::CheckReport report;
    std::vector<dbfile::ObjectInfo> objects;
    if (db->system) {
        objects = {{1, "sysobjects"}, {2, "sysindexes"}, {3, "syscolumns"}};
        for (const auto& o : objects)
            report.objects[o.id] = {40, 1};
    } else {
        report = dbfile::check(*db->dataHold, *db->header);
        objects = db->header->objects;
    }
    auto objectName = [&](std::int32_t id) {
        for (const auto& o : objects)
            if (o.id == id)
                return o.name;
        return std::to_string(id);
    };
    // The repair logs every page it rewrites, before and after: without room for that log on
    // the disk it stops, having repaired nothing.
    bool logFull = false;
    if (repairing && !report.problems.empty()) {
        const std::uint64_t logBytes = report.problems.size() * 2 * dbfile::PageSize;
        if (const auto room = roomOnDisk(); room && *room < logBytes) {
            logFull = true;
            repairing = false;
        }
    }
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
    if (logFull) {
        e_.log("DBCC CHECKDB (" + shown + ", REPAIR_ALLOW_DATA_LOSS): the log is full.");
        emit(make(9002, 17, 2,
                  p2000_ ? "The log file for database '" + shown +
                               "' is full. Back up the transaction log for the database to free "
                               "up some log space."
                         : "The transaction log for database '" + shown +
                               "' is full. To find out why space in the log cannot be reused, "
                               "see the log_reuse_wait_desc column in sys.databases"));
        return;
    }
    if (repairing && !report.problems.empty()) {
        if (auto repaired = dbfile::repair(*db->dataHold, report.problems); !repaired)
            e_.log("repair of " + shown + ": " + repaired.error().message);
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
    // SQL Server 2005 records a check that found the database clean in its boot page.
    if (!p2000_ && repairOption.empty() && total == 0 && !db->system && db->header &&
        !db->emergency()) {
        db->header->lastKnownGood = localDateTimeText();
        if (auto written = dbfile::writeHeader(*db->dataHold, *db->header); !written)
            e_.log("Database '" + shown + "': " + written.error().message);
    }
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
        emit(make(2528, 10, 1, DbccCompletedText));
}

void Engine::Run::rebuildLog(const sql::Dbcc& d) {
    std::string name, file;
    if (d.args.size() < 2 || !stringOf(d.args[0], name) || !stringOf(d.args[1], file)) {
        emit(make(2526, 16, 3, IncorrectDbccText));
        return;
    }
    Database* db = e_.findDatabase(name);
    if (!db) {
        emit(make(2520, 16, 1, databaseNotFoundText(p2000_, name)));
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
    auto target = e_.machine_.resolve(file);
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
    const Release release{e_, *db};
    platform::ErrorCode error = 0;
    std::optional<FileHold> logHold;
    if (!createFile(file, error, logHold)) {
        emit(cannotCreateFile(error, file));
        return;
    }
    std::string why;
    std::optional<std::uint64_t> room = roomOnDisk();
    if (const platform::ErrorCode failed = writeNewFile(
            logHold, std::uint64_t{63} * dbfile::PageSize, room,
            [&](FileHold& held) {
                return dbfile::writeLogFile(held, db->name, db->header->id, db->header->version,
                                            63);
            },
            why)) {
        e_.log("DBCC REBUILD_LOG: " + why);
        emit(cannotCreateFile(failed, file));
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
    emit(make(2528, 10, 1, DbccCompletedText));
}

// DBCC DBINFO ('name') WITH TABLERESULTS: the boot page's fields as rows of ParentObject,
// Object, Field and VALUE. Only SQL Server 2005 and later have dbi_dbccLastKnownGood. Without
// TABLERESULTS the fields go to the server's own log (trace flag 3604 is not simulated), so the
// client sees only the closing message.
void Engine::Run::dbinfo(const sql::Dbcc& d) {
    std::string name = s_.database;
    if (!d.args.empty() && !stringOf(d.args[0], name)) {
        emit(make(2526, 16, 3, IncorrectDbccText));
        return;
    }
    const bool table = std::find(d.with.begin(), d.with.end(), "TABLERESULTS") != d.with.end();
    const bool quiet = std::find(d.with.begin(), d.with.end(), "NO_INFOMSGS") != d.with.end();
    Database* db = e_.findDatabase(name);
    if (!db) {
        emit(make(2520, 16, 1, databaseNotFoundText(p2000_, name)));
        return;
    }
    std::vector<Message> errors;
    if (!e_.acquire(*db, errors, line_)) {
        emitAll(errors);
        return;
    }
    const Release release{e_, *db};
    if (table) {
        RowSet out;
        for (const char* column : {"ParentObject", "Object", "Field", "VALUE"})
            out.columns.push_back({column, ColumnType::NVarChar, 255, false});
        const auto field = [&](const std::string& f, const std::string& value) {
            out.rows.push_back(
                Row{std::string("DBINFO STRUCTURE:"), std::string("DBINFO @0x0D3D5D0"), f, value});
        };
        field("dbi_dbid", std::to_string(db->id));
        field("dbi_dbname", db->name);
        field("dbi_version", std::to_string(db->version));
        field("dbi_createVersion", std::to_string(db->version));
        if (!p2000_) {
            const std::string good = db->header && !db->header->lastKnownGood.empty()
                                         ? db->header->lastKnownGood
                                         : NeverChecked;
            field("dbi_dbccLastKnownGood", good);
        }
        count_ = static_cast<std::int64_t>(out.rows.size());
        sink_.rowSet(out);
    }
    if (!quiet)
        emit(make(2528, 10, 1, DbccCompletedText));
}

} // namespace kv::standin
