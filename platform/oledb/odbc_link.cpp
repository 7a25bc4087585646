// The ODBC transport of the portable provider (see odbc_link.h): the login, and one statement
// handle per request whose results are walked with SQLMoreResults and read with SQLFetch and
// SQLGetData.
#include "platform/oledb/odbc_link.h"

#include "platform/Unicode.h"
#include "platform/oledb/provider.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace kv::oledb::odbc {
namespace {

using tds::Link;
using tds::Messages;

ColumnDesc columnOf(const ColumnInfo& c) {
    ColumnDesc d;
    d.name = c.name;
    const auto fixed = [&](DBTYPE type, DBLENGTH size, BYTE precision) {
        d.type = type;
        d.size = size;
        d.flags = DBCOLUMNFLAGS_ISFIXEDLENGTH;
        d.precision = precision;
    };
    const auto longText = [&] {
        d.type = DBTYPE_WSTR;
        d.size = 0x3FFFFFFF;
        d.flags = DBCOLUMNFLAGS_ISLONG;
    };
    switch (c.kind) {
    case SqlKind::TinyInt:
        fixed(DBTYPE_UI1, 1, 3);
        break;
    case SqlKind::SmallInt:
        fixed(DBTYPE_I2, 2, 5);
        break;
    case SqlKind::Integer:
        fixed(DBTYPE_I4, 4, 10);
        break;
    case SqlKind::BigInt:
        fixed(DBTYPE_I8, 8, 19);
        break;
    case SqlKind::Bit:
        fixed(DBTYPE_BOOL, 2, 0xFF);
        break;
    case SqlKind::Real:
        fixed(DBTYPE_R4, 4, 7);
        break;
    case SqlKind::Double:
        fixed(DBTYPE_R8, 8, 15);
        break;
    case SqlKind::Decimal:
        // money, decimal and numeric arrive as floating point, as over db-lib.
        fixed(DBTYPE_R8, 8, static_cast<BYTE>(std::min<std::uint64_t>(c.size, 38)));
        d.scale = static_cast<BYTE>(std::clamp(c.decimals, 0, 38));
        break;
    case SqlKind::Timestamp:
        fixed(DBTYPE_DBTIMESTAMP, 16, 23);
        d.scale = 3;
        break;
    case SqlKind::Guid:
        fixed(DBTYPE_GUID, 16, 0xFF);
        break;
    case SqlKind::Binary:
        if (c.size == 0 || c.size > 8000) {
            d.type = DBTYPE_BYTES;
            d.size = 0x7FFFFFFF;
            d.flags = DBCOLUMNFLAGS_ISLONG;
        } else {
            d.type = DBTYPE_BYTES;
            d.size = static_cast<DBLENGTH>(c.size);
        }
        break;
    case SqlKind::LongBinary:
        d.type = DBTYPE_BYTES;
        d.size = 0x7FFFFFFF;
        d.flags = DBCOLUMNFLAGS_ISLONG;
        break;
    case SqlKind::LongChar:
    case SqlKind::LongWideChar:
        longText();
        break;
    case SqlKind::Char:
    case SqlKind::WideChar:
        // (max) types: no size, or more than the longest ordinary text.
        if (c.size == 0 || c.size > (c.kind == SqlKind::Char ? 8000u : 4000u)) {
            longText();
        } else {
            d.type = DBTYPE_WSTR;
            d.size = static_cast<DBLENGTH>(c.size);
        }
        break;
    case SqlKind::Other:
        d.type = DBTYPE_WSTR;
        d.size = static_cast<DBLENGTH>(std::min<std::uint64_t>(c.size, 0x3FFFFFFF));
        break;
    }
    if (!c.nullableKnown) {
        d.flags |= DBCOLUMNFLAGS_MAYBENULL;
    } else if (c.nullable) {
        d.flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
    }
    if (c.updatable) {
        d.flags |= DBCOLUMNFLAGS_WRITEUNKNOWN;
    }
    return d;
}

Value::Kind readKindOf(DBTYPE type) {
    switch (type) {
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
        return Value::Kind::Int;
    case DBTYPE_BOOL:
        return Value::Kind::Bit;
    case DBTYPE_R4:
    case DBTYPE_R8:
        return Value::Kind::Double;
    case DBTYPE_DBTIMESTAMP:
        return Value::Kind::Timestamp;
    case DBTYPE_GUID:
        return Value::Kind::Guid;
    case DBTYPE_BYTES:
        return Value::Kind::Bytes;
    default:
        return Value::Kind::Text;
    }
}

CellValue cellOf(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Null:
        return CellValue::null();
    case Value::Kind::Int:
        return CellValue::integer(v.i);
    case Value::Kind::Double:
        return CellValue::real(v.d);
    case Value::Kind::Bit:
        return CellValue::boolean(v.i != 0);
    case Value::Kind::Timestamp: {
        CellValue c;
        c.kind = CellValue::Kind::Timestamp;
        c.ts.year = static_cast<SHORT>(v.ts.year);
        c.ts.month = static_cast<USHORT>(v.ts.month);
        c.ts.day = static_cast<USHORT>(v.ts.day);
        c.ts.hour = static_cast<USHORT>(v.ts.hour);
        c.ts.minute = static_cast<USHORT>(v.ts.minute);
        c.ts.second = static_cast<USHORT>(v.ts.second);
        // datetime keeps 1/300 s, which SQL Server shows as whole milliseconds.
        c.ts.fraction = (v.ts.fraction + 500000u) / 1000000u * 1000000u;
        return c;
    }
    case Value::Kind::Guid: {
        CellValue c;
        c.kind = CellValue::Kind::Guid;
        std::memcpy(&c.g, v.guid, sizeof c.g);
        return c;
    }
    case Value::Kind::Bytes:
        return CellValue::bytes(v.bytes);
    case Value::Kind::Text:
        return CellValue::text(v.bytes);
    }
    return CellValue::null();
}

// The binding of a parameter declared as `declared` in sp_executesql's list.
Parameter parameterOf(const tds::RpcArg& arg) {
    std::string t;
    for (char c : arg.declaredType) {
        t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    const auto open = t.find('(');
    const std::string base = t.substr(0, open);
    std::uint64_t size = 0;
    if (open != std::string::npos) {
        size = std::strtoull(t.c_str() + open + 1, nullptr, 10); // 0 for "max"
    }
    Parameter p;
    p.output = arg.output;
    if (base == "bigint" || base == "int" || base == "smallint" || base == "tinyint") {
        p.kind = SqlKind::BigInt;
    } else if (base == "float" || base == "real" || base == "money" || base == "decimal" ||
               base == "numeric") {
        p.kind = SqlKind::Double;
    } else if (base == "bit") {
        p.kind = SqlKind::Bit;
    } else if (base == "datetime" || base == "smalldatetime") {
        p.kind = SqlKind::Timestamp;
    } else if (base.find("binary") != std::string::npos || base == "image") {
        p.kind = base == "image" || (open != std::string::npos && size == 0) ? SqlKind::LongBinary
                                                                             : SqlKind::Binary;
        p.size = size;
    } else if (base == "ntext" || base == "text" || (open != std::string::npos && size == 0)) {
        p.kind = SqlKind::LongWideChar;
    } else {
        p.kind = SqlKind::WideChar;
        p.size = size;
    }

    const CellValue& c = arg.value;
    Value& v = p.value;
    if (c.kind == CellValue::Kind::Null) {
        return p;
    }
    switch (p.kind) {
    case SqlKind::BigInt:
        v.kind = Value::Kind::Int;
        v.i = c.kind == CellValue::Kind::Real ? static_cast<std::int64_t>(c.d) : c.i;
        break;
    case SqlKind::Double:
        v.kind = Value::Kind::Double;
        v.d = c.kind == CellValue::Kind::Real ? c.d : static_cast<double>(c.i);
        break;
    case SqlKind::Bit:
        v.kind = Value::Kind::Bit;
        v.i = c.kind == CellValue::Kind::Real ? (c.d != 0) : (c.i != 0);
        break;
    case SqlKind::Timestamp:
        v.kind = Value::Kind::Timestamp;
        v.ts = {c.ts.year,   c.ts.month,  c.ts.day,     c.ts.hour,
                c.ts.minute, c.ts.second, c.ts.fraction};
        break;
    case SqlKind::Binary:
    case SqlKind::LongBinary:
        v.kind = Value::Kind::Bytes;
        v.bytes = c.s;
        break;
    default:
        v.kind = Value::Kind::Text;
        asText(c, v.bytes);
        break;
    }
    return p;
}

class OdbcLink final : public Link {
public:
    OdbcLink(Handle environment, Handle connection, Dialect dialect, std::string serverName)
        : env_(environment), dbc_(connection), dialect_(dialect),
          serverName_(std::move(serverName)) {}

    ~OdbcLink() override {
        endRequest();
        disconnect(dbc_);
        freeHandle(HandleKind::Connection, dbc_);
        freeHandle(HandleKind::Environment, env_);
    }
    OdbcLink(const OdbcLink&) = delete;
    OdbcLink& operator=(const OdbcLink&) = delete;

    Step execute(const std::string& sql, int timeoutSeconds) override {
        if (const Step s = begin(timeoutSeconds); s != Step::Ok) {
            return s;
        }
        const bool opening = !mustStartTheBatch(sql);
        const std::u16string text =
            platform::utf8ToUtf16(opening ? std::string(kBatchOpening) + sql : sql);
        return started(blocking([&](Handle h) { return execDirect(h, text); }), opening);
    }

    Step call(const std::string& procedure, const std::vector<tds::RpcArg>& args,
              int timeoutSeconds) override {
        if (const Step s = begin(timeoutSeconds); s != Step::Ok) {
            return s;
        }
        parameters_.clear();
        outputs_.clear();
        std::string text = "{call " + procedure + "(";
        for (std::size_t i = 0; i < args.size(); ++i) {
            parameters_.push_back(parameterOf(args[i]));
            if (args[i].output) {
                outputs_.emplace_back(args[i].name, i);
            }
            text += i ? ", ?" : "?";
        }
        text += ")}";
        if (!succeeded(bindParameters(stmt_, parameters_))) {
            return classify(Result::Error, diagnostics(HandleKind::Statement, stmt_));
        }
        const std::u16string wideText = platform::utf8ToUtf16(text);
        return started(blocking([&](Handle h) { return execDirect(h, wideText); }), false);
    }

    std::vector<tds::ReturnValue> returnValues() override {
        std::vector<tds::ReturnValue> out;
        for (const auto& [name, index] : outputs_) {
            out.push_back({name, cellOf(parameterValue(parameters_[index]))});
        }
        return out;
    }

    Step nextResult() override {
        if (dead_) {
            return Step::Dead;
        }
        if (!stmt_) {
            return Step::NoMore;
        }
        if (pending_) {
            pending_ = false;
            resultOpen_ = true;
            return Step::Ok;
        }
        if (exhausted_) {
            return Step::NoMore;
        }
        const auto r = blocking([](Handle h) { return moreResults(h); });
        const Step s = r ? classify(*r, recordsAfter(*r)) : Step::Cancelled;
        resultOpen_ = s == Step::Ok;
        if (s != Step::Ok && s != Step::Failed) {
            // No more results (a failed statement leaves the later ones of the batch).
            exhausted_ = true;
        }
        return s;
    }

    int columnCount() const override { return resultOpen_ ? resultColumns(stmt_) : 0; }

    long long rowCount() const override { return resultOpen_ ? odbc::rowCount(stmt_) : -1; }

    std::vector<ColumnDesc> describeColumns() override {
        std::vector<ColumnDesc> columns;
        const int n = columnCount();
        for (int i = 1; i <= n; ++i) {
            columns.push_back(columnOf(describeColumn(stmt_, i)));
        }
        return columns;
    }

    RowData readRow(const std::vector<ColumnDesc>& columns) override {
        RowData row;
        row.reserve(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            Value v;
            const Result r =
                getData(stmt_, static_cast<int>(i + 1), readKindOf(columns[i].type), v);
            if (!succeeded(r)) {
                collect(diagnostics(HandleKind::Statement, stmt_), dialect_, serverName_,
                        messages_);
                v = Value{};
            }
            row.push_back(cellOf(v));
        }
        return row;
    }

    Step nextRow() override {
        if (dead_) {
            return Step::Dead;
        }
        if (!resultOpen_) {
            return Step::NoMore;
        }
        const auto r = blocking([](Handle h) { return fetch(h); });
        if (r && *r == Result::Ok) {
            return Step::Ok; // the common case, without asking for records
        }
        return r ? classify(*r, recordsAfter(*r)) : Step::Cancelled;
    }

    // The rows left are dropped by the next SQLMoreResults.
    void discardRows() override {}

    void drainResults() override {
        if (stmt_ && !dead_) {
            pending_ = false;
            // Read to the end: every statement of the batch runs (an SQL_CLOSE would send an
            // attention and stop the rest of the batch).
            for (int i = 0; i < 100000 && !exhausted_; ++i) {
                const auto r = blocking([](Handle h) { return moreResults(h); });
                if (!r || *r == Result::NoData || *r == Result::Other) {
                    break;
                }
                if (*r != Result::Ok) {
                    const auto records = diagnostics(HandleKind::Statement, stmt_);
                    if (recordsSayConnectionLost(records) || connectionDead(dbc_)) {
                        dead_ = true;
                        break;
                    }
                    if (*r == Result::Error &&
                        (recordsSayCancelled(records) || recordsSayTimeout(records))) {
                        break;
                    }
                }
            }
        }
        endRequest();
        messages_.clear();
    }

    void requestCancel() override {
        cancel_.store(true);
        std::lock_guard lock(statementMutex_);
        if (stmt_ && inCall_) {
            cancel(stmt_);
        }
    }
    bool cancelRequested() const override { return cancel_.load(); }
    void clearCancel() override { cancel_.store(false); }

    void cancelBatch() override {
        if (stmt_ && !dead_) {
            cancel(stmt_);
            closeCursor(stmt_);
        }
        endRequest();
        messages_.clear();
    }

    Messages takeMessages() override {
        Messages out = std::move(messages_);
        messages_.clear();
        return out;
    }

    bool isDead() override {
        if (!dead_ && connectionDead(dbc_)) {
            dead_ = true;
        }
        return dead_;
    }
    bool markedDead() const override { return dead_; }

    std::string currentDatabase() const override { return currentCatalog(dbc_); }

    std::optional<std::string> queryScalar(const std::string& sql) override {
        std::optional<std::string> value;
        if (execute(sql, 0) == Step::Ok) {
            while (nextResult() == Step::Ok) {
                if (columnCount() == 0) {
                    continue;
                }
                while (nextRow() == Step::Ok) {
                    Value v;
                    if (!value && succeeded(getData(stmt_, 1, Value::Kind::Text, v)) &&
                        v.kind != Value::Kind::Null) {
                        value = v.bytes;
                    }
                }
            }
        }
        drainResults();
        takeMessages();
        return value;
    }

private:
    // A fresh statement handle for a request; the previous one goes.
    Step begin(int timeoutSeconds) {
        endRequest();
        pending_ = false;
        exhausted_ = true;
        resultOpen_ = false;
        if (isDead()) {
            return Step::Dead;
        }
        Handle statement = allocStatement(dbc_);
        if (!statement) {
            return classify(Result::Error, diagnostics(HandleKind::Connection, dbc_));
        }
        setQueryTimeout(statement, timeoutSeconds > 0 ? static_cast<unsigned>(timeoutSeconds) : 0);
        std::lock_guard lock(statementMutex_);
        stmt_ = statement;
        return Step::Ok;
    }

    void endRequest() {
        Handle statement = nullptr;
        {
            std::lock_guard lock(statementMutex_);
            statement = std::exchange(stmt_, nullptr);
        }
        freeHandle(HandleKind::Statement, statement);
        resultOpen_ = false;
        pending_ = false;
        exhausted_ = true;
    }

    // The first answer to a request. Without the opening PRINT the answer is the first result
    // itself, and a failed first statement ends the request under ODBC's rules.
    Step started(std::optional<Result> r, bool opening) {
        if (!r) {
            exhausted_ = true;
            return Step::Cancelled;
        }
        std::vector<DiagRecord> records = recordsAfter(*r);
        if (opening && succeeded(*r)) {
            const auto it = std::find_if(records.begin(), records.end(), isOpeningMessage);
            if (it != records.end()) {
                records.erase(it);
            }
        }
        const Step s = classify(*r, records);
        exhausted_ = s != Step::Ok;
        if (s == Step::Ok) {
            // The opening's result is current (the next result is the batch's first), or the
            // first result waits for nextResult.
            resultOpen_ = opening;
            pending_ = !opening;
        }
        if (s == Step::NoMore) {
            return Step::Ok; // nothing came back at all
        }
        return s;
    }

    std::vector<DiagRecord> recordsAfter(Result r) const {
        if (r == Result::Ok || r == Result::NoData) {
            return {};
        }
        return diagnostics(HandleKind::Statement, stmt_);
    }

    // What a call's result and records mean for the request; the records go to the messages.
    Step classify(Result r, const std::vector<DiagRecord>& records) {
        collect(records, dialect_, serverName_, messages_);
        if (r != Result::Ok && r != Result::NoData &&
            (recordsSayConnectionLost(records) || connectionDead(dbc_))) {
            dead_ = true;
            return Step::Dead;
        }
        switch (r) {
        case Result::Ok:
        case Result::Info:
            return Step::Ok;
        case Result::NoData:
            return Step::NoMore;
        case Result::Error:
        case Result::Other:
            break;
        }
        if (recordsSayTimeout(records)) {
            return Step::TimedOut;
        }
        if (recordsSayCancelled(records)) {
            return Step::Cancelled;
        }
        return Step::Failed;
    }

    // Runs a call that may wait for the server, so that requestCancel can reach it; nullopt
    // when a cancel was requested before it began.
    template <class Call>
    std::optional<Result> blocking(Call call) {
        Handle statement = nullptr;
        {
            std::lock_guard lock(statementMutex_);
            if (cancel_.load()) {
                return std::nullopt;
            }
            inCall_ = true;
            statement = stmt_;
        }
        const Result r = call(statement);
        std::lock_guard lock(statementMutex_);
        inCall_ = false;
        return r;
    }

    Handle env_;
    Handle dbc_;
    Dialect dialect_;
    std::string serverName_;

    std::mutex statementMutex_; // stmt_ and inCall_ against requestCancel
    Handle stmt_ = nullptr;
    bool inCall_ = false;
    std::atomic<bool> cancel_{false};

    bool dead_ = false;
    bool pending_ = false;    // the first result is current, not yet handed out by nextResult
    bool exhausted_ = true;   // no result follows
    bool resultOpen_ = false; // a result is current
    std::vector<Parameter> parameters_;
    std::vector<std::pair<std::string, std::size_t>> outputs_; // name, index in parameters_
    Messages messages_;
};

} // namespace

std::unique_ptr<Link> openLink(const tds::LoginSettings& settings, tds::Failure& failure,
                               Messages& information) {
    information.clear();
    Messages none;
    if (settings.integrated) {
        failure =
            tds::makeFailure(tds::Situation::IntegratedLoginUnavailable, none, IID_IDBInitialize);
        return nullptr;
    }
    const Target target = targetOf(settings.server.empty() ? "(local)" : settings.server);
    if (target.kind == Target::Kind::Unknown) {
        failure = tds::makeFailure(tds::Situation::ServerUnreachable, none, IID_IDBInitialize);
        return nullptr;
    }
    Handle env = allocEnvironment();
    const std::string host = workstationName();
    std::string tried;
    for (const std::string& driver : env ? driverNames() : std::vector<std::string>{}) {
        Handle dbc = allocConnection(env);
        if (!dbc) {
            break;
        }
        setLoginTimeout(dbc, static_cast<unsigned>(std::max(0, settings.loginTimeoutSeconds)));
        if (settings.packetSize > 0) {
            setPacketSize(dbc, static_cast<unsigned>(settings.packetSize));
        }
        const Dialect dialect = dialectOf(driver);
        const Result r =
            driverConnect(dbc, connectionString(driver, dialect, target, settings, host));
        std::vector<DiagRecord> records = diagnostics(HandleKind::Connection, dbc);
        if (succeeded(r)) {
            const std::string serverName = infoText(dbc, Info::ServerName);
            collect(records, dialect, serverName, information);
            information.client.clear();
            return std::make_unique<OdbcLink>(env, dbc, dialect, serverName);
        }
        freeHandle(HandleKind::Connection, dbc);
        if (!driverMissing(records)) {
            Messages collected;
            collect(records, dialect, std::string(), collected);
            failure =
                tds::makeFailure(loginSituation(records, collected), collected, IID_IDBInitialize);
            freeHandle(HandleKind::Environment, env);
            return nullptr;
        }
        tried += (tried.empty() ? "" : "; ") + driver;
        if (!records.empty()) {
            tried += ": " + messageText(records.front().text);
        }
    }
    freeHandle(HandleKind::Environment, env);
    // No driver could be loaded: the server cannot be reached, and the first record says why.
    failure = tds::makeFailure(tds::Situation::ServerUnreachable, none, IID_IDBInitialize);
    failure.records.insert(
        failure.records.begin(),
        ErrorRecordData{E_FAIL, IID_IDBInitialize, 0,
                        env ? "No ODBC driver for SQL Server could be loaded (" + tried + ")."
                            : "The ODBC driver manager could not be loaded.",
                        std::nullopt});
    return nullptr;
}

} // namespace kv::oledb::odbc

namespace kv::oledb {

HRESULT createOdbcDataSource(IUnknown* outer, REFIID riid, void** ppv) {
    return tds::createDataSource(outer, riid, ppv, &odbc::openLink);
}

} // namespace kv::oledb
