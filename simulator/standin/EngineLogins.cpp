// Logins and database users: the login itself and the procedures that add logins, set their
// default database, give them a server role and make them users of a database.

#include "simulator/standin/EngineInternal.h"

#include <algorithm>

namespace kv::standin {

using namespace detail;

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

Message detail::missingParameter(const std::string& proc, const char* parameter, bool p2000) {
    return msg(201, 16, 4,
               p2000 ? "Procedure '" + proc + "' expects parameter '" + parameter +
                           "', which was not supplied."
                     : "Procedure or function '" + proc + "' expects parameter '" + parameter +
                           "', which was not supplied.",
               0, proc);
}

LoginRecord* Engine::Run::findLogin(const std::string& name) {
    for (auto& l : e_.state_->logins)
        if (sameName(l.name, name, e_.collation_))
            return &l;
    return nullptr;
}

LoginRecord* Engine::Run::existingLogin(const std::string& name) {
    LoginRecord* login = findLogin(name);
    if (!login)
        emit(inProc(15007, 16, 1,
                    p2000_ ? "The login '" + name + "' does not exist."
                           : "'" + name + "' is not a valid login or you do not have permission.",
                    1));
    return login;
}

Engine::Database* Engine::Run::existingDatabase(const std::string& name, int state2000) {
    Database* db = e_.findDatabase(name);
    if (!db)
        emit(inProc(15010, 16, 1,
                    p2000_ ? "The database '" + name +
                                 "' does not exist. Use sp_helpdb to show available databases."
                           : "The database '" + name +
                                 "' does not exist. Supply a valid database name. To see "
                                 "available databases, use sys.databases.",
                    p2000_ ? state2000 : 1));
    return db;
}

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
    if (!existingDatabase(defdb, 44))
        return 1;
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
    LoginRecord* login = existingLogin(a[0]);
    if (!login)
        return 1;
    Database* db = existingDatabase(a[1], 1);
    if (!db)
        return 1;
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
    LoginRecord* login = existingLogin(a[0]);
    if (!login)
        return 1;
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
    LoginRecord* login = existingLogin(a[0]);
    if (!login)
        return 1;
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

} // namespace kv::standin
