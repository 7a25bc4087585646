// SELECT: literals, variables and functions, and the catalog tables sysdatabases, syslogins and
// sysusers with WHERE and ORDER BY.

#include "platform/Unicode.h"
#include "simulator/standin/EngineInternal.h"

#include <algorithm>

namespace kv::standin {

using namespace detail;

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
    case sql::Expr::Decimal: {
        // numeric(p, s) with p the digits written (at least the scale, at least 1)
        c.type = ColumnType::Numeric;
        c.scale = static_cast<int>(x.number);
        const std::string::size_type first = x.text.find_first_not_of('0');
        const int significant =
            first == std::string::npos ? 0 : static_cast<int>(x.text.size() - first);
        c.precision = std::max({significant, c.scale, 1});
        return Value{Decimal{x.text, x.negative}};
    }
    case sql::Expr::Float:
        c.type = ColumnType::Float;
        return Value{x.real};
    case sql::Expr::Binary:
        c.type = ColumnType::VarBinary;
        c.maxLength = std::max<int>(1, static_cast<int>(x.text.size()));
        return Value{Bytes(x.text.begin(), x.text.end())};
    case sql::Expr::String:
        c.type = ColumnType::NVarChar;
        c.maxLength = std::max<int>(1, static_cast<int>(platform::utf8ToUtf16(x.text).size()));
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
        if (v == "@@max_precision") {
            // The precision of decimal and numeric (38 unless the server was started with /p),
            // which older clients ask for at connect.
            c.type = ColumnType::TinyInt;
            return Value{std::int64_t{38}};
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
        if (x.text == "COUNT") {
            // Outside a select over rows (the select's own aggregate handles those).
            c.type = ColumnType::Int;
            c.nullable = false;
            return Value{std::int64_t{1}};
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
    auto out = query(s);
    if (!out)
        return;
    count_ = static_cast<std::int64_t>(out->rows.size());
    sink_.rowSet(*out);
}

namespace {

bool isCount(const sql::Expr& x) {
    return x.kind == sql::Expr::Function && x.text == "COUNT";
}

} // namespace

std::optional<RowSet> Engine::Run::query(const sql::Select& s) {
    RowSet out;
    if (!s.from) {
        Row row;
        for (const auto& item : s.items) {
            Column c;
            auto v = scalar(item.expr, c);
            if (!v)
                return std::nullopt;
            c.name = item.alias;
            out.columns.push_back(c);
            row.push_back(*v);
        }
        out.rows.push_back(std::move(row));
        return out;
    }
    // Resolve the table.
    const sql::TableRef& t = *s.from;
    std::vector<Column> cols;
    std::vector<Row> rows;
    if (t.derived) {
        auto inner = query(*t.derived);
        if (!inner)
            return std::nullopt;
        // Every column of a derived table needs a name of its own.
        for (std::size_t i = 0; i < inner->columns.size(); ++i) {
            const std::string& name = inner->columns[i].name;
            if (name.empty()) {
                emit(make(8155, 16, p2000_ ? 1 : 2,
                          std::string(p2000_ ? "No column was specified"
                                             : "No column name was "
                                               "specified") +
                              " for column " + std::to_string(i + 1) + " of '" + t.alias + "'."));
                return std::nullopt;
            }
            for (std::size_t k = 0; k < i; ++k)
                if (sameName(inner->columns[k].name, name, e_.collation_)) {
                    emit(make(8156, 16, 1,
                              "The column '" + name + "' was specified multiple times for '" +
                                  t.alias + "'."));
                    return std::nullopt;
                }
        }
        cols = std::move(inner->columns);
        rows = std::move(inner->rows);
    }
    const std::string table = t.derived ? t.alias : t.parts.back();
    std::string dbPart = t.parts.size() == 3 ? t.parts[0] : "";
    if (!t.derived && !catalogRows(t, table, dbPart, cols, rows))
        return std::nullopt;
    return filtered(s, table, cols, std::move(rows));
}

bool Engine::Run::catalogRows(const sql::TableRef& t, const std::string& table,
                              const std::string& dbPart, std::vector<Column>& cols,
                              std::vector<Row>& rows) {
    const std::string schema = t.parts.size() >= 2 ? t.parts[t.parts.size() - 2] : "";
    Database* inDb = e_.findDatabase(dbPart.empty() ? s_.database : dbPart);
    if (!dbPart.empty() && !inDb) {
        emit(make(911, 16, 1, dbNotFound2000Or2005(dbPart)));
        return false;
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
        return false;
    }
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
            Value reserved;
            if (p2000_)
                reserved = DateTime{0, 0};
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
    return true;
}

// WHERE, ORDER BY and the select list over the rows of the FROM table.
std::optional<RowSet> Engine::Run::filtered(const sql::Select& s, const std::string& table,
                                            const std::vector<Column>& cols,
                                            std::vector<Row> rows) {
    RowSet out;
    const sql::TableRef& t = *s.from;
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
            return std::nullopt;
        }
        const int idx = columnIndex(col);
        if (idx < 0)
            return std::nullopt;
        filters.emplace_back(idx, lit);
    }
    std::vector<std::pair<int, bool>> order;
    for (const auto& o : s.orderBy) {
        if (o.column.kind != sql::Expr::Column) {
            emit(make(1008, 15, 1,
                      "The SELECT item identified by the ORDER BY number 1 contains a variable "
                      "as part of the expression identifying a column position."));
            return std::nullopt;
        }
        const int idx = columnIndex(o.column);
        if (idx < 0)
            return std::nullopt;
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
    // COUNT over the rows: one row, the other items constants.
    if (std::any_of(s.items.begin(), s.items.end(),
                    [](const sql::SelectItem& item) { return isCount(item.expr); })) {
        Row row;
        for (const auto& item : s.items) {
            Column c;
            if (isCount(item.expr)) {
                std::int64_t n = static_cast<std::int64_t>(kept.size());
                if (item.expr.args.size() == 1 && item.expr.args[0].kind == sql::Expr::Column) {
                    const int idx = columnIndex(item.expr.args[0]);
                    if (idx < 0)
                        return std::nullopt;
                    n = std::count_if(kept.begin(), kept.end(), [&](const Row& r) {
                        return !std::holds_alternative<std::monostate>(
                            r[static_cast<std::size_t>(idx)]);
                    });
                }
                c.type = ColumnType::Int;
                row.push_back(Value{n});
            } else if (item.expr.kind == sql::Expr::Column || item.expr.kind == sql::Expr::Star) {
                const std::string name =
                    item.expr.kind == sql::Expr::Star ? cols.front().name : item.expr.text;
                const std::string shown =
                    (item.expr.qualifier.empty() ? tableName : item.expr.qualifier) + "." + name;
                emit(make(p2000_ ? 8118 : 8120, 16, 1,
                          "Column '" + shown + "' is invalid in the select list because it is " +
                              (p2000_ ? "not contained in an aggregate function and there is no "
                                        "GROUP BY clause."
                                      : "not contained in either an aggregate function or the "
                                        "GROUP BY clause.")));
                return std::nullopt;
            } else {
                auto v = scalar(item.expr, c);
                if (!v)
                    return std::nullopt;
                row.push_back(*v);
            }
            c.name = item.alias;
            out.columns.push_back(c);
        }
        out.rows.push_back(std::move(row));
        return out;
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
                return std::nullopt;
            }
            for (std::size_t i = 0; i < cols.size(); ++i) {
                out.columns.push_back(cols[i]);
                picks.emplace_back(static_cast<int>(i), std::nullopt);
            }
        } else if (item.expr.kind == sql::Expr::Column) {
            const int idx = columnIndex(item.expr);
            if (idx < 0)
                return std::nullopt;
            Column c = cols[static_cast<std::size_t>(idx)];
            if (!item.alias.empty())
                c.name = item.alias;
            out.columns.push_back(c);
            picks.emplace_back(idx, std::nullopt);
        } else {
            Column c;
            auto v = scalar(item.expr, c);
            if (!v)
                return std::nullopt;
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
    return out;
}

} // namespace kv::standin
