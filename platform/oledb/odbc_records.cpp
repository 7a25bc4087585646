// The parts of the ODBC transport that make no ODBC call (see odbc_link.h): connection strings,
// the reading of diagnostic records, and the opening of a batch.
#include "platform/Unicode.h"
#include "platform/oledb/odbc_link.h"

#include <algorithm>
#include <iterator>
#include <cctype>

namespace kv::oledb::odbc {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// The last bracketed part in front of a message ("SQL Server" in "[FreeTDS][SQL Server]x"):
// who reported it.
std::string_view lastTag(std::string_view text) {
    std::string_view tag;
    while (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            break;
        }
        tag = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
    }
    return tag;
}

// FreeTDS's driver reports its own errors with native numbers of its client library: the
// conversion errors from 2400 and 2500, the network and protocol errors from 20000.
bool isFreeTdsClientNumber(std::int32_t native) {
    return (native >= 2400 && native <= 2404) || native == 2500 ||
           (native >= 20000 && native <= 20299);
}

// SQL Server's class and state of the login messages the provider decides on, for drivers that
// do not give them. (A refused login reaches the client with state 1 whatever the reason.)
struct DocumentedMessage {
    std::int32_t number;
    std::uint8_t severityClass;
    std::uint8_t state;
};
constexpr DocumentedMessage kLoginMessages[] = {
    {4060, 11, 1},  // Cannot open database requested by the login.
    {4064, 11, 1},  // Cannot open user default database.
    {18452, 14, 1}, // Not associated with a trusted SQL Server connection.
    {18456, 14, 1}, // Login failed for user.
    {18470, 14, 1}, // The account is disabled.
    {18486, 14, 1}, // The account is locked out.
    {18487, 14, 1}, // The password has expired.
    {18488, 14, 1}, // The password must be changed.
};

// A connection-string value, in braces where it holds characters of the syntax (or always).
std::string braced(std::string_view value, bool always = false) {
    const bool plain = value.find_first_of(";{}=") == std::string_view::npos &&
                       (value.empty() || (value.front() != ' ' && value.back() != ' '));
    if (plain && !always) {
        return std::string(value);
    }
    std::string out = "{";
    for (char c : value) {
        out.push_back(c);
        if (c == '}') {
            out.push_back('}');
        }
    }
    out.push_back('}');
    return out;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == lower(prefix);
}

} // namespace

std::vector<std::string> splitDriverList(std::string_view list) {
    std::vector<std::string> names;
    std::size_t from = 0;
    while (from <= list.size()) {
        std::size_t end = list.find(';', from);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        std::string_view name = list.substr(from, end - from);
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front()))) {
            name.remove_prefix(1);
        }
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) {
            name.remove_suffix(1);
        }
        if (name.size() >= 2 && name.front() == '{' && name.back() == '}') {
            name = name.substr(1, name.size() - 2);
        }
        if (!name.empty()) {
            names.emplace_back(name);
        }
        from = end + 1;
    }
    return names;
}

Dialect dialectOf(std::string_view driverName) {
    return lower(driverName).find("freetds") != std::string::npos ? Dialect::FreeTds
                                                                  : Dialect::Microsoft;
}

std::u16string connectionString(std::string_view driver, Dialect dialect, const Target& target,
                                const tds::LoginSettings& settings,
                                const std::string& workstation) {
    std::string s = "DRIVER=" + braced(driver, true) + ";";
    if (target.kind == Target::Kind::Endpoint) {
        if (dialect == Dialect::FreeTds) {
            s += "SERVER=" + braced(target.server) + ";PORT=" + std::to_string(target.port) + ";";
        } else {
            s += "SERVER=" + braced(target.server + "," + std::to_string(target.port)) +
                 ";Network=DBMSSOCN;";
        }
    } else {
        s += "SERVER=" + braced(target.server) + ";";
    }
    if (dialect == Dialect::FreeTds) {
        // Always an explicit version, as the db-lib transport asks for: 7.4 is answered with
        // the server's own.
        s += "TDS_Version=" + (target.tdsVersion.empty() ? std::string("7.4") : target.tdsVersion) +
             ";";
    }
    s += "UID=" + braced(settings.user) + ";PWD=" + braced(settings.password) + ";";
    if (!settings.database.empty()) {
        s += "DATABASE=" + braced(settings.database) + ";";
    }
    if (!settings.language.empty()) {
        s += "LANGUAGE=" + braced(settings.language) + ";";
    }
    s += "APP=" + braced(settings.application.empty() ? "Kelvora" : settings.application) + ";";
    const std::string& host = settings.workstation.empty() ? workstation : settings.workstation;
    if (!host.empty()) {
        s += "WSID=" + braced(host) + ";";
    }
    if (settings.encrypt) {
        s += dialect == Dialect::FreeTds ? "Encryption=require;" : "Encrypt=yes;";
    }
    return platform::utf8ToUtf16(s);
}

std::string messageText(std::string_view text) {
    while (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            break;
        }
        text.remove_prefix(close + 1);
    }
    return std::string(text);
}

bool isServerMessage(const DiagRecord& record, Dialect dialect) {
    if (lastTag(record.text) != "SQL Server") {
        return false;
    }
    if (dialect == Dialect::FreeTds) {
        // FreeTDS puts "[SQL Server]" in front of its own errors too.
        if (record.native == 0) {
            return record.sqlState == "01000"; // PRINT
        }
        return !isFreeTdsClientNumber(record.native);
    }
    return true;
}

SqlServerMessage serverMessageOf(const DiagRecord& record, Dialect dialect,
                                 const std::string& serverName) {
    SqlServerMessage m;
    m.number = record.native;
    m.message = messageText(record.text);
    m.line = record.line.value_or(0);
    m.server = record.server.empty() ? serverName : record.server;
    m.procedure = record.procedure;
    const auto clamp = [](std::int32_t v) {
        return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    };
    if (record.severity) {
        m.severityClass = clamp(*record.severity);
        m.state = clamp(record.msgState.value_or(0));
        return m;
    }
    if (dialect == Dialect::FreeTds && record.msgState) {
        // FreeTDS's driver (1.3) has no SQL_DIAG_SS_SEVERITY and gives the message's class
        // under SQL_DIAG_SS_MSGSTATE (it answers nothing for class 0); the state is lost.
        m.severityClass = clamp(*record.msgState);
        return m;
    }
    for (const auto& d : kLoginMessages) {
        if (d.number == record.native) {
            m.severityClass = d.severityClass;
            m.state = d.state;
            return m;
        }
    }
    m.severityClass = startsWithNoCase(record.sqlState, "01") ? 0 : 16;
    return m;
}

void collect(const std::vector<DiagRecord>& records, Dialect dialect, const std::string& serverName,
             tds::Messages& messages) {
    for (const auto& r : records) {
        if (isServerMessage(r, dialect)) {
            messages.server.push_back(serverMessageOf(r, dialect, serverName));
        } else {
            messages.client.push_back({r.native, 0, 0, messageText(r.text)});
        }
    }
    if (recordsSayTimeout(records)) {
        messages.timedOut = true;
    }
}

bool driverMissing(const std::vector<DiagRecord>& records) {
    if (records.empty()) {
        return true;
    }
    for (const auto& r : records) {
        if (r.sqlState == "IM002" || r.sqlState == "IM003") {
            return true;
        }
    }
    // Only the driver manager spoke (unixODBC: "Can't open lib").
    return std::all_of(records.begin(), records.end(), [](const DiagRecord& r) {
        return lower(lastTag(r.text)).find("driver manager") != std::string::npos;
    });
}

tds::Situation loginSituation(const std::vector<DiagRecord>& records,
                              const tds::Messages& messages) {
    for (const auto& m : messages.server) {
        if (tds::isLoginRefusal(m)) {
            return tds::Situation::LoginRefused;
        }
    }
    if (messages.hasServerError()) {
        return tds::Situation::LoginFailedOther;
    }
    if (recordsSayTimeout(records)) {
        return tds::Situation::LoginTimeout;
    }
    return tds::Situation::ServerUnreachable;
}

bool recordsSayConnectionLost(const std::vector<DiagRecord>& records) {
    return std::any_of(records.begin(), records.end(), [](const DiagRecord& r) {
        return r.sqlState == "08S01" || r.sqlState == "08S02" || r.sqlState == "08003" ||
               r.sqlState == "08007" ||
               // FreeTDS: read and write failures, end of stream, a dead connection
               r.native == 20004 || r.native == 20006 || r.native == 20017 || r.native == 20047;
    });
}

bool recordsSayTimeout(const std::vector<DiagRecord>& records) {
    return std::any_of(records.begin(), records.end(), [](const DiagRecord& r) {
        return r.sqlState == "HYT00" || r.sqlState == "HYT01";
    });
}

bool recordsSayCancelled(const std::vector<DiagRecord>& records) {
    return std::any_of(records.begin(), records.end(),
                       [](const DiagRecord& r) { return r.sqlState == "HY008"; });
}

bool mustStartTheBatch(std::string_view sql) {
    std::size_t i = 0;
    const std::size_t n = sql.size();
    // Blanks and comments before the first word.
    for (;;) {
        while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) {
            ++i;
        }
        if (i + 1 < n && sql[i] == '-' && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') {
                ++i;
            }
        } else if (i + 1 < n && sql[i] == '/' && sql[i + 1] == '*') {
            // Block comments nest in T-SQL.
            int depth = 0;
            while (i < n) {
                if (i + 1 < n && sql[i] == '/' && sql[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (i + 1 < n && sql[i] == '*' && sql[i + 1] == '/') {
                    i += 2;
                    if (--depth == 0) {
                        break;
                    }
                } else {
                    ++i;
                }
            }
        } else {
            break;
        }
    }
    const auto word = [&](std::size_t& at) {
        const std::size_t from = at;
        while (at < n && (std::isalnum(static_cast<unsigned char>(sql[at])) || sql[at] == '_')) {
            ++at;
        }
        return lower(sql.substr(from, at - from));
    };
    if (i < n && (sql[i] == '[' || sql[i] == '"')) {
        return true; // a procedure by a quoted name, called without EXEC
    }
    const std::string first = word(i);
    if (first == "create" || first == "alter") {
        return true;
    }
    // A batch may call a procedure without EXEC only in its first statement
    // ("sp_configure 'allow updates', 1"): a first word that begins no statement is that call.
    static const char* const statementWords[] = {
        "backup",    "begin",      "break",       "bulk",    "checkpoint", "close",  "commit",
        "continue",  "dbcc",       "deallocate",  "declare", "delete",     "deny",   "drop",
        "dump",      "end",        "exec",        "execute", "fetch",      "goto",   "grant",
        "if",        "insert",     "kill",        "load",    "merge",      "open",   "print",
        "raiserror", "readtext",   "reconfigure", "restore", "return",     "revoke", "rollback",
        "save",      "select",     "set",         "setuser", "shutdown",   "throw",  "truncate",
        "update",    "updatetext", "use",         "waitfor", "while",      "with",   "writetext"};
    if (!first.empty() && std::none_of(std::begin(statementWords), std::end(statementWords),
                                       [&](const char* w) { return first == w; })) {
        return true;
    }
    if (first == "set") {
        while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) {
            ++i;
        }
        return word(i).rfind("showplan_", 0) == 0;
    }
    return false;
}

bool isOpeningMessage(const DiagRecord& record) {
    return record.native == 0 && record.sqlState == "01000" && messageText(record.text).empty();
}

} // namespace kv::oledb::odbc
