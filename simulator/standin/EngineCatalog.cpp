// USE, the session's SET options, PRINT, RAISERROR, WAITFOR and ALTER DATABASE.

#include "simulator/standin/EngineInternal.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kv::standin {

using namespace detail;

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

} // namespace kv::standin
