// Database files: CREATE DATABASE (new files, FOR ATTACH and the single-file attach that builds a
// new log), DROP DATABASE and sp_detach_db.

#include "simulator/standin/EngineInternal.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace kv::standin {

using namespace detail;
namespace fs = std::filesystem;
using platform::FileHold;

namespace {

// "%.2f" with halves rounded away from zero, as SQL Server prints its allocation sizes.
std::string megabytes(std::uint64_t bytes) {
    const std::uint64_t cents = (bytes * 100 + 524288) / 1048576;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%02llu", static_cast<unsigned long long>(cents / 100),
                  static_cast<unsigned long long>(cents % 100));
    return buf;
}

} // namespace

bool Engine::Run::createFile(const std::string& windowsPath, platform::ErrorCode& error,
                             std::optional<FileHold>& hold) {
    auto path = e_.machine_.resolve(windowsPath);
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
    return e_.machine_.diskFree();
}

platform::ErrorCode Engine::Run::writeNewFile(
    std::optional<FileHold>& hold, std::uint64_t bytes, std::optional<std::uint64_t>& room,
    const std::function<platform::Result<void>(FileHold&)>& writer, std::string& why) {
    platform::ErrorCode error = 0;
    if (room && bytes > *room) {
        why = "not enough space on the disk";
        error = platform::win::DiskFull;
    } else if (auto written = writer(*hold); !written) {
        why = written.error().message;
        // The numbers the server's messages know; any other failure is a write fault.
        error = written.code() == platform::win::DiskFull ||
                        written.code() == platform::win::AccessDenied
                    ? written.code()
                    : platform::win::WriteFault;
    }
    if (error == 0) {
        if (room)
            *room -= bytes;
        return 0;
    }
    const auto path = hold->path();
    hold.reset();
    std::error_code ec;
    fs::remove(path, ec);
    return error;
}

Message Engine::Run::cannotCreateFile(platform::ErrorCode error, const std::string& file) const {
    return make(5123, 16, 1,
                std::string("CREATE FILE encountered operating system error ") +
                    osErrorText(error) + " while attempting to open or create the physical file '" +
                    file + "'.");
}

void Engine::Run::addDatabase(const std::string& name, const std::string& dataFile,
                              const std::string& logFile, int cmptlevel, int version) {
    auto db = std::make_unique<Database>();
    db->name = name;
    int id = 5;
    while (std::any_of(e_.state_->databases.begin(), e_.state_->databases.end(),
                       [&](const auto& d) { return d->id == id; }))
        ++id;
    db->id = id;
    db->dataFile = dataFile;
    db->logFile = logFile;
    db->status = p2000_ ? 16 : 65536;
    db->status2 = p2000_ ? 1090519040 : 1627389952;
    db->created = now();
    db->cmptlevel = cmptlevel;
    db->version = version;
    db->owner = s_.login;
    Database& ref = *db;
    e_.state_->databases.push_back(std::move(db));
    if (!p2000_) {
        std::vector<Message> ignored;
        ref.pinned = true;
        (void)e_.openFiles(ref, ignored, line_);
    }
    e_.save();
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
        emit(cannotCreateFile(error, fileName));
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
    const auto write = [&](const sql::FileSpec& file, std::optional<FileHold>& hold,
                           std::uint64_t bytes,
                           const std::function<platform::Result<void>(FileHold&)>& writer) {
        std::string why;
        const platform::ErrorCode error = writeNewFile(hold, bytes, room, writer, why);
        if (error == 0)
            return true;
        e_.log("CREATE DATABASE " + c.name + ": " + file.fileName + ": " + why);
        osFailure(error, file.fileName);
        return false;
    };
    if (!write(data, dataHold, std::uint64_t{dataPages} * dbfile::PageSize,
               [&](FileHold& held) {
                   return dbfile::writeDataFile(held, header, dbfile::systemTables(), dataPages);
               }) ||
        !write(logSpec, logHold, std::uint64_t{logPages} * dbfile::PageSize, [&](FileHold& held) {
            return dbfile::writeLogFile(held, c.name, header.id, header.version, logPages);
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
    dataHold.reset();
    logHold.reset();
    addDatabase(c.name, data.fileName, logSpec.fileName, e_.info().compatibilityLevel,
                e_.info().databaseVersion);
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
    auto resolved = [&](const std::string& file) { return e_.machine_.resolve(file); };
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
    auto header = dbfile::readHeader(*dataHold, kind, why);
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
        auto logHeader = dbfile::readHeader(*logHold, kind, why);
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
                logHold, std::uint64_t{63} * dbfile::PageSize, room,
                [&](FileHold& held) {
                    return dbfile::writeLogFile(held, c.name, header->id, header->version, 63);
                },
                why)) {
            e_.log("attach " + c.name + ": " + why);
            emit(cannotCreateFile(failed, usedLog));
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
        if (auto written = dbfile::writeHeader(*dataHold, *header); !written)
            e_.log("attach " + c.name + ": " + written.error().message);
    }
    dataHold.reset();
    logHold.reset();
    addDatabase(c.name, dataFile, usedLog, cmptlevel, header->version);
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
        auto p = e_.machine_.resolve(*f);
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

int Engine::Run::spDetachDb(const std::vector<std::string>& a) {
    if (a.empty()) {
        emit(missingParameter(procedure_, "@dbname", p2000_));
        return 1;
    }
    Database* db = existingDatabase(a[0], 27);
    if (!db)
        return 1;
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

} // namespace kv::standin
