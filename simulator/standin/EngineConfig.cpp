// Server configuration (sp_configure, RECONFIGURE) and the direct update of the system catalog
// (UPDATE sysdatabases) that SQL Server 2000 allows while 'allow updates' is on.

#include "simulator/standin/EngineInternal.h"

#include <algorithm>

namespace kv::standin {

using namespace detail;

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

} // namespace kv::standin
