// The portable SQL Server provider: data source, session, command, multiple results and the
// sources enumerator, over one db-lib connection per data source.
//
// One batch runs on a connection at a time. The results of a batch are read in order as the
// caller walks them (IMultipleResults::GetResult) and a rowset reads its rows from the
// connection as the caller fetches them; moving on to the next result drops the unread rows of
// the current one. When the last holder of a batch goes (the result walker and every rowset),
// the rest of the batch is read and dropped, so the connection is free for the next command.
// A second command while a batch is still held answers DB_E_OBJECTOPEN.
//
// Every method that can fail clears the thread's error object on entry and posts a fresh one
// on failure; messages that came with a successful call (PRINT, "changed database context")
// are posted as records after S_OK.
#include "platform/oledb/properties.h"
#include "platform/oledb/provider.h"
#include "platform/oledb/rowset.h"
#include "platform/oledb/tds_link.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace kv::oledb {

using tds::Failure;
using tds::Link;
using tds::Messages;
using tds::Situation;

namespace {

inline constexpr DBROWCOUNT kCountUnavailable = -1;
inline constexpr LONG kMultipleResultsSupported = 1; // DBPROPVAL_MR_SUPPORTED

class Batch;

// A connection and the batch that currently holds it.
struct Connection {
    std::unique_ptr<Link> link;
    std::weak_ptr<Batch> active;
    std::string dbmsVersion;
    int serverMajor = 0;
    std::string user;
};

HRESULT fail(Situation situation, const Messages& messages, const IID& iid) {
    return tds::postFailure(tds::makeFailure(situation, messages, iid));
}

Situation statementSituation(const Messages& m) {
    return m.server.empty() ? Situation::SilentFailure : Situation::StatementFailed;
}

// ---------------------------------------------------------------------------------------------
// Batches and their results.

class LinkRowSource;

struct ResultOutcome {
    HRESULT result = S_OK; // S_OK, DB_S_NORESULT, or a failure already posted
    std::shared_ptr<LinkRowSource> rows;
    long long affected = -1;
    Messages information;
};

class Batch : public std::enable_shared_from_this<Batch> {
public:
    Batch(std::shared_ptr<Connection> connection, const IID& iid)
        : connection_(std::move(connection)), iid_(iid) {}
    ~Batch() { drain(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Sends the batch. A failure here (busy or dead connection, time-out) is posted and
    // returned; statement errors are kept for the first result.
    static HRESULT start(const std::shared_ptr<Connection>& connection, const std::string& sql,
                         int timeoutSeconds, const IID& iid, std::shared_ptr<Batch>& out);
    // The same for a procedure call; `send` makes the call on the link.
    static HRESULT startWith(const std::shared_ptr<Connection>& connection,
                             const std::function<Link::Step(Link&)>& send, const IID& iid,
                             std::shared_ptr<Batch>& out);
    // Where the output values of a call go once its results are done: the caller's parameter
    // buffer and the output bindings of its accessor.
    void setOutputs(BYTE* data, std::vector<DBBINDING> bindings) {
        outputData_ = data;
        outputBindings_ = std::move(bindings);
    }

    ResultOutcome next();
    void drain();
    bool finished() const { return finished_; }
    Link& link() { return *connection_->link; }
    const IID& iid() const { return iid_; }
    // A failure met while reading rows.
    HRESULT rowFailure(Link::Step step);

private:
    friend class LinkRowSource;
    std::shared_ptr<Connection> connection_;
    IID iid_;
    bool finished_ = false;
    std::optional<Failure> firstFailure_;
    Messages firstInformation_;
    std::weak_ptr<LinkRowSource> current_;
    BYTE* outputData_ = nullptr;
    std::vector<DBBINDING> outputBindings_;

    void writeOutputs();
};

class LinkRowSource final : public RowSource {
public:
    LinkRowSource(std::shared_ptr<Batch> batch, std::vector<ColumnDesc> columns)
        : batch_(std::move(batch)), columns_(std::move(columns)) {}
    const std::vector<ColumnDesc>& columns() const override { return columns_; }

    HRESULT fetch(std::size_t count, std::vector<RowData>& out) override {
        if (ended_) {
            return DB_S_ENDOFROWSET;
        }
        Link& link = batch_->link();
        for (std::size_t i = 0; i < count; ++i) {
            const Link::Step step = link.cancelRequested() ? Link::Step::Cancelled : link.nextRow();
            if (step == Link::Step::Ok) {
                out.push_back(tds::readCurrentRow(link, columns_));
                continue;
            }
            ended_ = true;
            if (step == Link::Step::NoMore) {
                link.takeMessages();
                return DB_S_ENDOFROWSET;
            }
            return batch_->rowFailure(step);
        }
        return S_OK;
    }

    void abandon() override { finish(); }

    // Drops the unread rows (the walker moves on, or the rowset goes).
    void finish() {
        if (!ended_) {
            ended_ = true;
            batch_->link().discardRows();
            batch_->link().takeMessages();
        }
    }

private:
    std::shared_ptr<Batch> batch_;
    std::vector<ColumnDesc> columns_;
    bool ended_ = false;
};

HRESULT Batch::start(const std::shared_ptr<Connection>& connection, const std::string& sql,
                     int timeoutSeconds, const IID& iid, std::shared_ptr<Batch>& out) {
    return startWith(
        connection, [&](Link& link) { return link.execute(sql, timeoutSeconds); }, iid, out);
}

void Batch::writeOutputs() {
    if (!outputData_) {
        return;
    }
    const std::vector<tds::ReturnValue> values = connection_->link->returnValues();
    for (const DBBINDING& b : outputBindings_) {
        CellValue value; // null unless the server returned one
        const std::string name = "@P" + std::to_string(b.iOrdinal);
        for (const auto& v : values) {
            if (v.name.size() == name.size() &&
                std::equal(v.name.begin(), v.name.end(), name.begin(),
                           [](char x, char y) { return std::toupper(x) == std::toupper(y); })) {
                value = v.value;
            }
        }
        writeBinding(b, value, outputData_);
    }
    outputData_ = nullptr;
}

HRESULT Batch::startWith(const std::shared_ptr<Connection>& connection,
                         const std::function<Link::Step(Link&)>& send, const IID& iid,
                         std::shared_ptr<Batch>& out) {
    out.reset();
    Messages none;
    if (!connection || !connection->link) {
        return fail(Situation::ConnectionLost, none, iid);
    }
    if (auto active = connection->active.lock(); active && !active->finished()) {
        postErrorRecords(
            {{DB_E_OBJECTOPEN, iid, 0,
              "The connection is busy with the results of another command.", std::nullopt}});
        return DB_E_OBJECTOPEN;
    }
    Link& link = *connection->link;
    if (link.markedDead()) {
        return fail(Situation::ConnectionLost, none, iid);
    }
    auto batch = std::make_shared<Batch>(connection, iid);
    const Link::Step step = send(link);
    Messages messages = link.takeMessages();
    switch (step) {
    case Link::Step::Ok:
    case Link::Step::NoMore:
        batch->firstInformation_ = std::move(messages);
        break;
    case Link::Step::Failed:
        // The first statement failed; later statements may still have results.
        batch->firstFailure_ = tds::makeFailure(statementSituation(messages), messages, iid);
        break;
    case Link::Step::TimedOut:
        batch->finished_ = true;
        link.drainResults();
        return fail(Situation::CommandTimeout, messages, iid);
    case Link::Step::Dead:
        batch->finished_ = true;
        return fail(Situation::ConnectionLost, messages, iid);
    case Link::Step::Cancelled:
        batch->finished_ = true;
        link.cancelBatch();
        return fail(Situation::Cancelled, messages, iid);
    }
    connection->active = batch;
    out = std::move(batch);
    return S_OK;
}

ResultOutcome Batch::next() {
    ResultOutcome outcome;
    if (auto current = current_.lock()) {
        current->finish();
    }
    current_.reset();
    if (finished_) {
        outcome.result = DB_S_NORESULT;
        return outcome;
    }
    if (firstFailure_) {
        outcome.result = tds::postFailure(*firstFailure_);
        firstFailure_.reset();
        return outcome;
    }
    Link& link = *connection_->link;
    if (link.cancelRequested()) {
        // Cancelled between two results: the rest of the batch is not wanted.
        finished_ = true;
        Messages none;
        link.cancelBatch();
        outcome.result = fail(Situation::Cancelled, none, iid_);
        return outcome;
    }
    const Link::Step step = link.nextResult();
    Messages messages = link.takeMessages();
    if (!firstInformation_.server.empty()) {
        messages.server.insert(messages.server.begin(), firstInformation_.server.begin(),
                               firstInformation_.server.end());
        firstInformation_.clear();
    }
    switch (step) {
    case Link::Step::Ok:
        if (link.columnCount() > 0) {
            auto rows =
                std::make_shared<LinkRowSource>(shared_from_this(), tds::describeColumns(link));
            current_ = rows;
            outcome.rows = std::move(rows);
        } else {
            outcome.affected = link.rowCount();
        }
        outcome.information = std::move(messages);
        return outcome;
    case Link::Step::NoMore:
        finished_ = true;
        writeOutputs();
        outcome.result = DB_S_NORESULT;
        return outcome;
    case Link::Step::Failed:
        outcome.result = fail(statementSituation(messages), messages, iid_);
        return outcome;
    case Link::Step::TimedOut:
        finished_ = true;
        link.drainResults();
        outcome.result = fail(Situation::CommandTimeout, messages, iid_);
        return outcome;
    case Link::Step::Dead:
        finished_ = true;
        outcome.result = fail(Situation::ConnectionLost, messages, iid_);
        return outcome;
    case Link::Step::Cancelled:
        finished_ = true;
        link.cancelBatch();
        outcome.result = fail(Situation::Cancelled, messages, iid_);
        return outcome;
    }
    return outcome;
}

HRESULT Batch::rowFailure(Link::Step step) {
    Link& link = *connection_->link;
    Messages messages = link.takeMessages();
    if (step == Link::Step::Dead) {
        finished_ = true;
        return fail(Situation::ConnectionLost, messages, iid_);
    }
    if (step == Link::Step::TimedOut) {
        finished_ = true;
        link.drainResults();
        return fail(Situation::CommandTimeout, messages, iid_);
    }
    if (step == Link::Step::Cancelled) {
        finished_ = true;
        link.cancelBatch();
        return fail(Situation::Cancelled, messages, iid_);
    }
    return fail(statementSituation(messages), messages, iid_);
}

void Batch::drain() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (auto current = current_.lock()) {
        current->finish();
    }
    if (connection_ && connection_->link) {
        connection_->link->drainResults();
    }
}

// Runs a batch to its end and keeps the rows of its first rowset (for the provider's own
// queries: the catalogs rowset). Failures are posted and returned.
HRESULT runToMemory(const std::shared_ptr<Connection>& connection, const std::string& sql,
                    const IID& iid, std::vector<ColumnDesc>& columns, std::vector<RowData>& rows) {
    std::shared_ptr<Batch> batch;
    HRESULT hr = Batch::start(connection, sql, 0, iid, batch);
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT first = S_OK;
    std::vector<ErrorRecordData> firstRecords;
    for (;;) {
        ResultOutcome r = batch->next();
        if (r.result == DB_S_NORESULT) {
            break;
        }
        if (FAILED(r.result)) {
            if (SUCCEEDED(first)) {
                first = r.result;
                for (auto& rec : takeErrorObject().records) {
                    firstRecords.push_back({rec.basic.hrError, rec.basic.iid, rec.basic.dwMinor,
                                            rec.description, rec.sqlServer});
                }
            }
            if (batch->finished()) {
                break;
            }
            continue;
        }
        if (r.rows && columns.empty()) {
            columns = r.rows->columns();
            HRESULT f = S_OK;
            while (f == S_OK) {
                f = r.rows->fetch(256, rows);
            }
            if (FAILED(f) && SUCCEEDED(first)) {
                first = f;
                for (auto& rec : takeErrorObject().records) {
                    firstRecords.push_back({rec.basic.hrError, rec.basic.iid, rec.basic.dwMinor,
                                            rec.description, rec.sqlServer});
                }
            }
        }
    }
    if (FAILED(first)) {
        postErrorRecords(firstRecords);
    } else {
        SetErrorInfo(0, nullptr);
    }
    return first;
}

// ---------------------------------------------------------------------------------------------
// Parameters: the command text's ? markers are replaced by literals of the bound values.

std::string sqlLiteral(const CellValue& v) {
    char buffer[64];
    switch (v.kind) {
    case CellValue::Kind::Null:
        return "NULL";
    case CellValue::Kind::Int:
        return std::to_string(v.i);
    case CellValue::Kind::Real:
        std::snprintf(buffer, sizeof buffer, "%.17g", v.d);
        return buffer;
    case CellValue::Kind::Bool:
        return v.i ? "1" : "0";
    case CellValue::Kind::Text: {
        std::string out = "N'";
        for (char c : v.s) {
            out.push_back(c);
            if (c == '\'') {
                out.push_back('\'');
            }
        }
        out.push_back('\'');
        return out;
    }
    case CellValue::Kind::Bytes: {
        static const char digits[] = "0123456789ABCDEF";
        std::string out = "0x";
        for (unsigned char c : v.s) {
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
        return out;
    }
    case CellValue::Kind::Timestamp:
        std::snprintf(buffer, sizeof buffer, "'%04d%02u%02u %02u:%02u:%02u.%03u'", v.ts.year,
                      v.ts.month, v.ts.day, v.ts.hour, v.ts.minute, v.ts.second,
                      static_cast<unsigned>(v.ts.fraction / 1000000));
        return buffer;
    case CellValue::Kind::Guid:
        return "'" + guidToString(v.g).substr(1, 36) + "'";
    }
    return "NULL";
}

// Positions of the ? markers outside strings, quoted names and comments.
std::vector<std::size_t> parameterMarkers(const std::string& sql) {
    std::vector<std::size_t> markers;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            ++i;
            while (i < n) {
                if (sql[i] == close) {
                    if (i + 1 < n && sql[i + 1] == close) {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') {
                ++i;
            }
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else {
            if (c == '?') {
                markers.push_back(i);
            }
            ++i;
        }
    }
    return markers;
}

// ---------------------------------------------------------------------------------------------
// Property definitions.

void defineRowsetProperties(PropertyStore& store) {
    const DBPROPID trueByDefault[] = {DBPROP_IRowset,     DBPROP_IAccessor,    DBPROP_IColumnsInfo,
                                      DBPROP_IRowsetInfo, DBPROP_IConvertType, DBPROP_CANHOLDROWS};
    const DBPROPID falseByDefault[] = {
        DBPROP_IMultipleResults,   DBPROP_BOOKMARKS,         DBPROP_CANFETCHBACKWARDS,
        DBPROP_CANSCROLLBACKWARDS, DBPROP_IRowsetLocate,     DBPROP_IRowsetChange,
        DBPROP_IRowsetUpdate,      DBPROP_IRowsetScroll,     DBPROP_IRowsetResynch,
        DBPROP_IRowsetIdentity,    DBPROP_ISupportErrorInfo, DBPROP_ISequentialStream,
        DBPROP_LITERALIDENTITY,    DBPROP_OTHERINSERT,       DBPROP_OTHERUPDATEDELETE,
        DBPROP_OWNINSERT,          DBPROP_OWNUPDATEDELETE,   DBPROP_REMOVEDELETED,
        DBPROP_SERVERCURSOR,       DBPROP_UNIQUEROWS,        DBPROP_IMMOBILEROWS,
        DBPROP_STRONGIDENTITY,     DBPROP_QUICKRESTART,      DBPROP_CLIENTCURSOR};
    for (DBPROPID id : trueByDefault) {
        store.define({DBPROPSET_ROWSET, id, VT_BOOL, true}, variantOfBool(true));
    }
    for (DBPROPID id : falseByDefault) {
        store.define({DBPROPSET_ROWSET, id, VT_BOOL, true}, variantOfBool(false));
    }
    const DBPROPID integers[] = {DBPROP_COMMANDTIMEOUT, DBPROP_MAXROWS,      DBPROP_MAXOPENROWS,
                                 DBPROP_MAXPENDINGROWS, DBPROP_UPDATABILITY, DBPROP_ROWTHREADMODEL,
                                 DBPROP_ACCESSORDER,    DBPROP_LOCKMODE};
    for (DBPROPID id : integers) {
        store.define({DBPROPSET_ROWSET, id, VT_I4, true}, variantOfI4(0));
    }
    store.define({DBPROPSET_SQLSERVERROWSET, SSPROP_DEFERPREPARE, VT_BOOL, true},
                 variantOfBool(true));
    store.define({DBPROPSET_SQLSERVERROWSET, SSPROP_CURSORAUTOFETCH, VT_BOOL, true},
                 variantOfBool(false));
    store.define({DBPROPSET_SQLSERVERROWSET, SSPROP_MAXBLOBLENGTH, VT_I4, true}, variantOfI4(0));
}

bool isKnownNetworkLibrary(const std::string& name) {
    static const char* known[] = {"DBMSSOCN", "DBMSLPCN", "DBNMPNTW", "DBMSSPXN",
                                  "DBMSVINN", "DBMSRPCN", "DBMSADSN", "DBMSGNET"};
    std::string upper;
    for (char c : name) {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".DLL") == 0) {
        upper.resize(upper.size() - 4);
    }
    return std::any_of(std::begin(known), std::end(known),
                       [&](const char* k) { return upper == k; });
}

std::string formatVersion(const std::string& text) {
    int major = 0, minor = 0, build = 0;
    if (std::sscanf(text.c_str(), "%d.%d.%d", &major, &minor, &build) < 2) {
        return {};
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", major, minor, build);
    return buffer;
}

// "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) ..." -> "8.00.2039"
std::string versionFromBanner(const std::string& banner) {
    const auto dash = banner.find(" - ");
    if (dash == std::string::npos) {
        return {};
    }
    std::size_t end = dash + 3;
    while (end < banner.size() &&
           (std::isdigit(static_cast<unsigned char>(banner[end])) || banner[end] == '.')) {
        ++end;
    }
    return banner.substr(dash + 3, end - dash - 3);
}

std::string quoteName(const std::string& name) {
    std::string out = "[";
    for (char c : name) {
        out.push_back(c);
        if (c == ']') {
            out.push_back(']');
        }
    }
    out.push_back(']');
    return out;
}

// ---------------------------------------------------------------------------------------------
// Objects.

class DataSource;
class Session;

class MultipleResults final : public ComObject<IMultipleResults> {
public:
    explicit MultipleResults(std::shared_ptr<Batch> batch) : batch_(std::move(batch)) {}

    HRESULT STDMETHODCALLTYPE GetResult(IUnknown* pUnkOuter, DBRESULTFLAG lResultFlag, REFIID riid,
                                        DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) override {
        SetErrorInfo(0, nullptr);
        if (pcRowsAffected) {
            *pcRowsAffected = kCountUnavailable;
        }
        if (ppRowset) {
            *ppRowset = nullptr;
        }
        if (pUnkOuter) {
            return DB_E_NOAGGREGATION;
        }
        if (lResultFlag == DBRESULTFLAG_ROW) {
            return DB_E_NOTSUPPORTED;
        }
        if (lResultFlag != DBRESULTFLAG_DEFAULT && lResultFlag != DBRESULTFLAG_ROWSET) {
            return E_INVALIDARG;
        }
        const bool wantsRowset = !IsEqualIID(riid, IID_NULL);
        if (wantsRowset && !ppRowset) {
            return E_INVALIDARG;
        }
        ResultOutcome r = batch_->next();
        if (r.result != S_OK) {
            return r.result;
        }
        if (pcRowsAffected) {
            *pcRowsAffected = r.affected;
        }
        if (r.rows) {
            if (!wantsRowset) {
                r.rows->finish();
            } else {
                const HRESULT hr = createRowset(r.rows, riid, ppRowset);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
        tds::postInformation(r.information, IID_IMultipleResults);
        return S_OK;
    }

private:
    std::shared_ptr<Batch> batch_;
};

class Command final
    : public ComObject<ICommandText, ICommandProperties, ICommandPrepare, IAccessor, IColumnsInfo> {
public:
    Command(IUnknown* session, std::shared_ptr<Connection> connection)
        : session_(ComPtr<IUnknown>::share(session)), connection_(std::move(connection)) {
        defineRowsetProperties(properties_);
    }

    // ICommand. Called from another thread while Execute, a result walk or a fetch of this
    // command runs on the connection: the running call ends with DB_E_CANCELED (an attention
    // reaches the server when the call is waiting for it).
    HRESULT STDMETHODCALLTYPE Cancel() override {
        if (connection_ && connection_->link) {
            connection_->link->requestCancel();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams,
                                      DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) override;

    HRESULT STDMETHODCALLTYPE GetDBSession(REFIID riid, IUnknown** ppSession) override {
        if (!ppSession) {
            return E_INVALIDARG;
        }
        *ppSession = nullptr;
        return session_->QueryInterface(riid, reinterpret_cast<void**>(ppSession));
    }

    // ICommandText
    HRESULT STDMETHODCALLTYPE GetCommandText(GUID* pguidDialect, LPOLESTR* ppwszCommand) override {
        if (!ppwszCommand) {
            return E_INVALIDARG;
        }
        *ppwszCommand = nullptr;
        if (!hasText_) {
            if (pguidDialect) {
                *pguidDialect = GUID_NULL;
            }
            return DB_E_NOCOMMAND;
        }
        HRESULT hr = S_OK;
        if (pguidDialect) {
            if (!IsEqualGUID(*pguidDialect, DBGUID_DEFAULT) &&
                !IsEqualGUID(*pguidDialect, DBGUID_SQL)) {
                hr = DB_S_DIALECTIGNORED;
            }
            *pguidDialect = DBGUID_DEFAULT;
        }
        *ppwszCommand = taskStrDup(text_);
        return *ppwszCommand ? hr : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID rguidDialect, LPCOLESTR pwszCommand) override {
        SetErrorInfo(0, nullptr);
        if (!IsEqualGUID(rguidDialect, DBGUID_DEFAULT) && !IsEqualGUID(rguidDialect, DBGUID_SQL) &&
            !IsEqualGUID(rguidDialect, GUID_NULL)) {
            return DB_E_DIALECTNOTSUPPORTED;
        }
        prepared_ = false;
        hasText_ = pwszCommand != nullptr && pwszCommand[0] != 0;
        text_ = hasText_ ? fromOle(pwszCommand) : std::string();
        return S_OK;
    }

    // ICommandProperties
    HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets,
                                            const DBPROPIDSET rgPropertyIDSets[],
                                            ULONG* pcPropertySets,
                                            DBPROPSET** prgPropertySets) override {
        return properties_.getProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets,
                                         prgPropertySets);
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                            DBPROPSET rgPropertySets[]) override {
        SetErrorInfo(0, nullptr);
        return properties_.setProperties(cPropertySets, rgPropertySets);
    }

    // ICommandPrepare
    HRESULT STDMETHODCALLTYPE Prepare(ULONG) override {
        SetErrorInfo(0, nullptr);
        if (!hasText_) {
            return DB_E_NOCOMMAND;
        }
        // The text goes to the server with each execution; preparing only checks that there
        // is one.
        prepared_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unprepare() override {
        prepared_ = false;
        return S_OK;
    }

    // IAccessor (parameter accessors, and row accessors for the rowsets to come)
    HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override {
        return accessors_.addRef(hAccessor, pcRefCount);
    }
    HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                             const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                             HACCESSOR* phAccessor,
                                             DBBINDSTATUS rgStatus[]) override {
        SetErrorInfo(0, nullptr);
        return accessors_.create(dwAccessorFlags, cBindings, rgBindings, cbRowSize, phAccessor,
                                 rgStatus, nullptr);
    }
    HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                          DBCOUNTITEM* pcBindings,
                                          DBBINDING** prgBindings) override {
        return accessors_.bindings(hAccessor, pdwAccessorFlags, pcBindings, prgBindings);
    }
    HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor,
                                              DBREFCOUNT* pcRefCount) override {
        return accessors_.release(hAccessor, pcRefCount);
    }

    // IColumnsInfo: the columns are known only once the command has run; a prepared command
    // describes none, so callers execute it to find out.
    HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                            OLECHAR** ppStringsBuffer) override {
        if (!pcColumns || !prgInfo || !ppStringsBuffer) {
            return E_INVALIDARG;
        }
        *pcColumns = 0;
        *prgInfo = nullptr;
        *ppStringsBuffer = nullptr;
        if (!hasText_) {
            return DB_E_NOCOMMAND;
        }
        return prepared_ ? S_OK : DB_E_NOTPREPARED;
    }
    HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID[],
                                           DBORDINAL rgColumns[]) override {
        for (DBORDINAL i = 0; rgColumns && i < cColumnIDs; ++i) {
            rgColumns[i] = static_cast<DBORDINAL>(-1);
        }
        return prepared_ ? (cColumnIDs ? DB_E_ERRORSOCCURRED : S_OK) : DB_E_NOTPREPARED;
    }

private:
    HRESULT substitute(const DBPARAMS* params, std::string& sql);
    HRESULT buildCall(const DBPARAMS* params, std::vector<tds::RpcArg>& args,
                      std::vector<DBBINDING>& outputs, bool& isCall);

    ComPtr<IUnknown> session_;
    std::shared_ptr<Connection> connection_;
    PropertyStore properties_;
    AccessorTable accessors_;
    std::string text_;
    bool hasText_ = false;
    bool prepared_ = false;
};

namespace {

// The type a parameter is declared with in sp_executesql's list.
std::string declaredTypeOf(const DBBINDING& b, int serverMajor) {
    const bool output = (b.eParamIO & DBPARAMIO_OUTPUT) != 0;
    switch (b.wType & ~DBTYPE_BYREF) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
        return "bigint";
    case DBTYPE_R4:
    case DBTYPE_R8:
        return "float";
    case DBTYPE_BOOL:
        return "bit";
    case DBTYPE_BYTES:
        return "varbinary(8000)";
    case DBTYPE_DBTIMESTAMP:
        return "datetime";
    default:
        if (output) {
            return "nvarchar(4000)";
        }
        return serverMajor >= 9 ? "nvarchar(max)" : "ntext";
    }
}

} // namespace

// A command with output parameters runs as a call of sp_executesql: the markers become @P1,
// @P2 ..., declared in the call's list, and the outputs come back as return values.
HRESULT Command::buildCall(const DBPARAMS* params, std::vector<tds::RpcArg>& args,
                           std::vector<DBBINDING>& outputs, bool& isCall) {
    isCall = false;
    const auto markers = parameterMarkers(text_);
    if (markers.empty() || !params || !params->pData || params->cParamSets == 0) {
        return S_OK;
    }
    const auto* accessor = accessors_.find(params->hAccessor);
    if (!accessor || !(accessor->flags & DBACCESSOR_PARAMETERDATA)) {
        return S_OK; // substitute reports it
    }
    for (const auto& b : accessor->bindings) {
        if (b.eParamIO & DBPARAMIO_OUTPUT) {
            isCall = true;
        }
    }
    if (!isCall) {
        return S_OK;
    }
    const int major = connection_ ? connection_->serverMajor : 0;
    std::string statement;
    std::string declaration;
    std::vector<tds::RpcArg> values;
    std::size_t from = 0;
    for (std::size_t k = 0; k < markers.size(); ++k) {
        const DBBINDING* binding = nullptr;
        for (const auto& b : accessor->bindings) {
            if (b.iOrdinal == k + 1) {
                binding = &b;
            }
        }
        const std::string name = "@P" + std::to_string(k + 1);
        tds::RpcArg arg;
        arg.name = name;
        CellValue value;
        const bool input = binding && (binding->eParamIO & DBPARAMIO_INPUT);
        if (!binding ||
            (input && !readBinding(*binding, static_cast<const BYTE*>(params->pData), value))) {
            postErrorRecords(
                {{DB_E_ERRORSOCCURRED, IID_ICommand, 0,
                  "Parameter " + std::to_string(k + 1) + " has no usable value.", std::nullopt}});
            return DB_E_ERRORSOCCURRED;
        }
        arg.output = (binding->eParamIO & DBPARAMIO_OUTPUT) != 0;
        arg.value = value;
        arg.declaredType = declaredTypeOf(*binding, major);
        if (arg.output) {
            outputs.push_back(*binding);
        }
        statement.append(text_, from, markers[k] - from);
        statement += name;
        from = markers[k] + 1;
        declaration +=
            (k > 0 ? ", " : "") + name + " " + arg.declaredType + (arg.output ? " OUTPUT" : "");
        values.push_back(std::move(arg));
    }
    statement.append(text_, from, std::string::npos);
    const std::string textType = major >= 9 ? "nvarchar(max)" : "ntext";
    args.push_back({"@stmt", false, CellValue::text(statement), textType});
    args.push_back({"@params", false, CellValue::text(declaration), textType});
    for (auto& v : values) {
        args.push_back(std::move(v));
    }
    return S_OK;
}

HRESULT Command::substitute(const DBPARAMS* params, std::string& sql) {
    sql = text_;
    const auto markers = parameterMarkers(text_);
    if (markers.empty()) {
        return S_OK;
    }
    if (!params || !params->pData || params->cParamSets == 0) {
        postErrorRecords({{DB_E_PARAMNOTOPTIONAL, IID_ICommand, 0,
                           "No value given for one or more required parameters.", std::nullopt}});
        return DB_E_PARAMNOTOPTIONAL;
    }
    const auto* accessor = accessors_.find(params->hAccessor);
    if (!accessor) {
        return DB_E_BADACCESSORHANDLE;
    }
    if (!(accessor->flags & DBACCESSOR_PARAMETERDATA)) {
        return DB_E_BADACCESSORTYPE;
    }
    std::string out;
    std::size_t from = 0;
    for (std::size_t k = 0; k < markers.size(); ++k) {
        const DBBINDING* binding = nullptr;
        for (const auto& b : accessor->bindings) {
            if (b.iOrdinal == k + 1) {
                binding = &b;
            }
        }
        CellValue value;
        if (!binding || !(binding->eParamIO & DBPARAMIO_INPUT) ||
            !readBinding(*binding, static_cast<const BYTE*>(params->pData), value)) {
            postErrorRecords(
                {{DB_E_ERRORSOCCURRED, IID_ICommand, 0,
                  "Parameter " + std::to_string(k + 1) + " has no usable value.", std::nullopt}});
            return DB_E_ERRORSOCCURRED;
        }
        out.append(text_, from, markers[k] - from);
        out += sqlLiteral(value);
        from = markers[k] + 1;
    }
    out.append(text_, from, std::string::npos);
    sql = std::move(out);
    return S_OK;
}

HRESULT Command::Execute(IUnknown* pUnkOuter, REFIID riid, DBPARAMS* pParams,
                         DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) {
    SetErrorInfo(0, nullptr);
    if (pcRowsAffected) {
        *pcRowsAffected = kCountUnavailable;
    }
    if (ppRowset) {
        *ppRowset = nullptr;
    }
    const bool wantsResult = !IsEqualIID(riid, IID_NULL);
    if (wantsResult && !ppRowset) {
        return E_INVALIDARG;
    }
    if (pUnkOuter) {
        return DB_E_NOAGGREGATION;
    }
    if (!hasText_) {
        return DB_E_NOCOMMAND;
    }
    std::vector<tds::RpcArg> callArgs;
    std::vector<DBBINDING> outputs;
    bool isCall = false;
    HRESULT hr = buildCall(pParams, callArgs, outputs, isCall);
    if (FAILED(hr)) {
        return hr;
    }
    std::string sql;
    if (!isCall) {
        hr = substitute(pParams, sql);
        if (FAILED(hr)) {
            return hr;
        }
    }
    const int timeout =
        static_cast<int>(properties_.integer(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, 0));
    if (connection_ && connection_->link) {
        connection_->link->clearCancel(); // a request meant for an earlier command
    }
    std::shared_ptr<Batch> batch;
    if (isCall) {
        hr = Batch::startWith(
            connection_, [&](Link& link) { return link.call("sp_executesql", callArgs, timeout); },
            IID_ICommand, batch);
    } else {
        hr = Batch::start(connection_, sql, timeout, IID_ICommand, batch);
    }
    if (FAILED(hr)) {
        return hr;
    }
    if (isCall) {
        batch->setOutputs(static_cast<BYTE*>(pParams->pData), std::move(outputs));
    }

    const bool multiple = IsEqualIID(riid, IID_IMultipleResults) ||
                          (IsEqualIID(riid, IID_IUnknown) &&
                           properties_.flag(DBPROPSET_ROWSET, DBPROP_IMultipleResults));
    if (multiple) {
        auto results = makeObject<MultipleResults>(std::move(batch));
        return results->QueryInterface(riid, reinterpret_cast<void**>(ppRowset));
    }

    // One result object wanted (or none): run up to the first rowset, or to the end.
    Messages information;
    DBROWCOUNT affected = kCountUnavailable;
    for (;;) {
        ResultOutcome r = batch->next();
        if (r.result == DB_S_NORESULT) {
            break;
        }
        if (FAILED(r.result)) {
            // The first error wins; the rest of the batch is read and dropped.
            auto error = takeErrorObject();
            batch->drain();
            std::vector<ErrorRecordData> records;
            for (auto& rec : error.records) {
                records.push_back({rec.basic.hrError, rec.basic.iid, rec.basic.dwMinor,
                                   rec.description, rec.sqlServer});
            }
            postErrorRecords(records);
            return r.result;
        }
        information.server.insert(information.server.end(), r.information.server.begin(),
                                  r.information.server.end());
        if (r.rows) {
            if (wantsResult) {
                hr = createRowset(r.rows, riid, ppRowset);
                if (FAILED(hr)) {
                    return hr;
                }
                break;
            }
            r.rows->finish();
        } else if (r.affected >= 0) {
            affected = (affected < 0 ? 0 : affected) + r.affected;
        }
    }
    if (pcRowsAffected) {
        *pcRowsAffected = affected;
    }
    tds::postInformation(information, IID_ICommand);
    return S_OK;
}

class Session final : public ComObject<ISessionProperties, IDBCreateCommand, IDBSchemaRowset> {
public:
    Session(IUnknown* dataSource, std::shared_ptr<Connection> connection,
            std::shared_ptr<int> sessionCount)
        : dataSource_(ComPtr<IUnknown>::share(dataSource)), connection_(std::move(connection)),
          sessionCount_(std::move(sessionCount)) {
        ++*sessionCount_;
        properties_.define({DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS, VT_I4, true},
                           variantOfI4(DBPROPVAL_TI_READCOMMITTED));
        properties_.onCheck([this](const GUID&, DBPROPID id, const VARIANT& value) {
            return id == DBPROP_SESS_AUTOCOMMITISOLEVELS ? applyIsolation(value.lVal)
                                                         : DBPROPSTATUS_OK;
        });
    }

    ~Session() override { --*sessionCount_; }

    // ISessionProperties
    HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets,
                                            const DBPROPIDSET rgPropertyIDSets[],
                                            ULONG* pcPropertySets,
                                            DBPROPSET** prgPropertySets) override {
        return properties_.getProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets,
                                         prgPropertySets);
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                            DBPROPSET rgPropertySets[]) override {
        SetErrorInfo(0, nullptr);
        return properties_.setProperties(cPropertySets, rgPropertySets);
    }

    // IDBCreateCommand
    HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown* pUnkOuter, REFIID riid,
                                            IUnknown** ppCommand) override {
        if (!ppCommand) {
            return E_INVALIDARG;
        }
        *ppCommand = nullptr;
        if (pUnkOuter) {
            return DB_E_NOAGGREGATION;
        }
        auto command = makeObject<Command>(unknown(), connection_);
        return command->QueryInterface(riid, reinterpret_cast<void**>(ppCommand));
    }

    // IDBSchemaRowset: the catalogs rowset (one row per database of the server).
    HRESULT STDMETHODCALLTYPE GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema,
                                        ULONG cRestrictions, const VARIANT rgRestrictions[],
                                        REFIID riid, ULONG, DBPROPSET[],
                                        IUnknown** ppRowset) override;

    HRESULT STDMETHODCALLTYPE GetSchemas(ULONG* pcSchemas, GUID** prgSchemas,
                                         ULONG** prgRestrictionSupport) override {
        if (!pcSchemas || !prgSchemas) {
            return E_INVALIDARG;
        }
        *pcSchemas = 1;
        *prgSchemas = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        **prgSchemas = DBSCHEMA_CATALOGS;
        if (prgRestrictionSupport) {
            *prgRestrictionSupport = static_cast<ULONG*>(CoTaskMemAlloc(sizeof(ULONG)));
            **prgRestrictionSupport = 0x1;
        }
        return S_OK;
    }

private:
    DBPROPSTATUS applyIsolation(LONG level) {
        const char* name = nullptr;
        switch (level) {
        case DBPROPVAL_TI_READUNCOMMITTED:
            name = "READ UNCOMMITTED";
            break;
        case DBPROPVAL_TI_READCOMMITTED:
            name = "READ COMMITTED";
            break;
        case DBPROPVAL_TI_REPEATABLEREAD:
            name = "REPEATABLE READ";
            break;
        case DBPROPVAL_TI_SERIALIZABLE:
            name = "SERIALIZABLE";
            break;
        case DBPROPVAL_TI_SNAPSHOT:
            // Snapshot isolation exists from SQL Server 2005 on.
            if (connection_->serverMajor < 9) {
                return DBPROPSTATUS_BADVALUE;
            }
            name = "SNAPSHOT";
            break;
        default:
            return DBPROPSTATUS_BADVALUE;
        }
        // Read committed is what every new connection has; only a change is sent.
        if (level == isolation_) {
            return DBPROPSTATUS_OK;
        }
        std::vector<ColumnDesc> columns;
        std::vector<RowData> rows;
        const std::string sql = std::string("SET TRANSACTION ISOLATION LEVEL ") + name;
        if (FAILED(runToMemory(connection_, sql, IID_ISessionProperties, columns, rows))) {
            return DBPROPSTATUS_NOTSET;
        }
        isolation_ = level;
        return DBPROPSTATUS_OK;
    }

    ComPtr<IUnknown> dataSource_;
    std::shared_ptr<Connection> connection_;
    std::shared_ptr<int> sessionCount_;
    PropertyStore properties_;
    LONG isolation_ = DBPROPVAL_TI_READCOMMITTED;
};

HRESULT Session::GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                           const VARIANT rgRestrictions[], REFIID riid, ULONG, DBPROPSET[],
                           IUnknown** ppRowset) {
    SetErrorInfo(0, nullptr);
    if (!ppRowset) {
        return E_INVALIDARG;
    }
    *ppRowset = nullptr;
    if (pUnkOuter) {
        return DB_E_NOAGGREGATION;
    }
    if (!IsEqualGUID(rguidSchema, DBSCHEMA_CATALOGS)) {
        return E_INVALIDARG;
    }
    if (cRestrictions > 1) {
        return DB_E_NOTSUPPORTED;
    }
    if (cRestrictions > 0 && !rgRestrictions) {
        return E_INVALIDARG;
    }
    std::string wanted;
    if (cRestrictions == 1 && rgRestrictions[0].vt == VT_BSTR && rgRestrictions[0].bstrVal) {
        wanted = fromOle(rgRestrictions[0].bstrVal, SysStringLen(rgRestrictions[0].bstrVal));
    }
    std::vector<ColumnDesc> columns;
    std::vector<RowData> rows;
    const HRESULT hr = runToMemory(connection_, "SELECT * FROM master.dbo.sysdatabases",
                                   IID_IDBSchemaRowset, columns, rows);
    if (FAILED(hr)) {
        return hr;
    }
    std::size_t nameColumn = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string lower = columns[i].name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower == "name") {
            nameColumn = i;
            break;
        }
    }
    auto upper = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return s;
    };
    std::vector<RowData> catalogs;
    for (const auto& row : rows) {
        if (nameColumn >= row.size() || row[nameColumn].kind != CellValue::Kind::Text) {
            continue;
        }
        const std::string& name = row[nameColumn].s;
        if (!wanted.empty() && upper(name) != upper(wanted)) {
            continue;
        }
        catalogs.push_back({CellValue::text(name), CellValue::null()});
    }
    std::sort(catalogs.begin(), catalogs.end(),
              [&](const RowData& a, const RowData& b) { return upper(a[0].s) < upper(b[0].s); });
    std::vector<ColumnDesc> shape = {
        {"CATALOG_NAME", DBTYPE_WSTR, 128, DBCOLUMNFLAGS_MAYBENULL | DBCOLUMNFLAGS_ISNULLABLE},
        {"DESCRIPTION", DBTYPE_WSTR, 255, DBCOLUMNFLAGS_MAYBENULL | DBCOLUMNFLAGS_ISNULLABLE}};
    return createRowset(std::make_shared<MemoryRowSource>(std::move(shape), std::move(catalogs)),
                        riid, ppRowset);
}

class DataSource final : public ComObject<IDBInitialize, IDBProperties, IDBCreateSession> {
public:
    DataSource() {
        auto text = [this](const GUID& set, DBPROPID id) {
            properties_.define({set, id, VT_BSTR, true}, variantOfText(""));
        };
        text(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
        text(DBPROPSET_DBINIT, DBPROP_INIT_CATALOG);
        text(DBPROPSET_DBINIT, DBPROP_INIT_LOCATION);
        text(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING);
        text(DBPROPSET_DBINIT, DBPROP_AUTH_USERID);
        text(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD);
        properties_.define({DBPROPSET_DBINIT, DBPROP_AUTH_INTEGRATED, VT_BSTR, true},
                           variantEmpty());
        properties_.define(
            {DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, VT_BOOL, true},
            variantOfBool(false));
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, VT_I4, true}, variantOfI4(15));
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_GENERALTIMEOUT, VT_I4, true},
                           variantOfI4(0));
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, VT_I2, true},
                           variantOfI2(DBPROMPT_NOPROMPT));
        VARIANT hwnd = variantEmpty();
        hwnd.vt = VT_I8;
        hwnd.llVal = 0;
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_HWND, VT_I8, true}, hwnd);
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_LCID, VT_I4, true}, variantOfI4(0));
        properties_.define({DBPROPSET_DBINIT, DBPROP_INIT_OLEDBSERVICES, VT_I4, true},
                           variantOfI4(-1));

        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_CURRENTLANGUAGE);
        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_NETWORKADDRESS);
        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_NETWORKLIBRARY);
        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_APPNAME);
        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_WSID);
        text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_FILENAME);
        properties_.define({DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_USEPROCFORPREP, VT_I4, true},
                           variantOfI4(1));
        properties_.define({DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_AUTOTRANSLATE, VT_BOOL, true},
                           variantOfBool(true));
        properties_.define({DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_PACKETSIZE, VT_I4, true},
                           variantOfI4(4096));
        properties_.define({DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_ENCRYPT, VT_BOOL, true},
                           variantOfBool(false));

        properties_.define({DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, VT_BSTR, true},
                           variantOfText(""));
        properties_.define({DBPROPSET_DATASOURCE, DBPROP_MULTIPLECONNECTIONS, VT_BOOL, true},
                           variantOfBool(true));

        auto info = [this](DBPROPID id, VARIANT value) {
            properties_.define({DBPROPSET_DATASOURCEINFO, id, value.vt, false}, value);
        };
        info(DBPROP_DBMSNAME, variantOfText("Microsoft SQL Server"));
        info(DBPROP_DBMSVER, variantOfText(""));
        info(DBPROP_PROVIDERFRIENDLYNAME, variantOfText(kProviderFriendlyName));
        info(DBPROP_PROVIDERNAME, variantOfText(kProviderFileName));
        info(DBPROP_PROVIDERVER, variantOfText(kProviderVersion));
        info(DBPROP_PROVIDEROLEDBVER, variantOfText("02.70"));
        info(DBPROP_DATASOURCENAME, variantOfText(""));
        info(DBPROP_SERVERNAME, variantOfText(""));
        info(DBPROP_USERNAME, variantOfText(""));
        info(DBPROP_MULTIPLERESULTS, variantOfI4(kMultipleResultsSupported));
        info(DBPROP_SUPPORTEDTXNISOLEVELS,
             variantOfI4(DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED |
                         DBPROPVAL_TI_REPEATABLEREAD | DBPROPVAL_TI_SERIALIZABLE));
        info(DBPROP_ACTIVESESSIONS, variantOfI4(0));
        info(DBPROP_DATASOURCEREADONLY, variantOfBool(false));
        info(DBPROP_CONNECTIONSTATUS, variantOfI4(DBPROPVAL_CS_UNINITIALIZED));

        auto isInitSet = [](const GUID& set) {
            return IsEqualGUID(set, DBPROPSET_DBINIT) ||
                   IsEqualGUID(set, DBPROPSET_SQLSERVERDBINIT);
        };
        properties_.writableSets(
            [this, isInitSet](const GUID& set) { return isInitSet(set) != initialized(); });
        properties_.readableSets(
            [this, isInitSet](const GUID& set) { return isInitSet(set) || initialized(); });
        properties_.onCheck([this](const GUID& set, DBPROPID id, const VARIANT& value) {
            return check(set, id, value);
        });
        properties_.onLive(
            [this](const GUID& set, DBPROPID id, VARIANT& out) { return live(set, id, out); });
    }

    bool initialized() const { return connection_ != nullptr; }

    // IDBInitialize
    HRESULT STDMETHODCALLTYPE Initialize() override;
    HRESULT STDMETHODCALLTYPE Uninitialize() override {
        SetErrorInfo(0, nullptr);
        if (!connection_) {
            return S_OK;
        }
        if (*sessions_ > 0) {
            return DB_E_OBJECTOPEN;
        }
        connection_.reset();
        return S_OK;
    }

    // IDBProperties
    HRESULT STDMETHODCALLTYPE GetProperties(ULONG cPropertyIDSets,
                                            const DBPROPIDSET rgPropertyIDSets[],
                                            ULONG* pcPropertySets,
                                            DBPROPSET** prgPropertySets) override {
        SetErrorInfo(0, nullptr);
        return properties_.getProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets,
                                         prgPropertySets);
    }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG* pcPropertyInfoSets,
                                              DBPROPINFOSET** prgPropertyInfoSets,
                                              OLECHAR** ppDescBuffer) override {
        if (pcPropertyInfoSets) {
            *pcPropertyInfoSets = 0;
        }
        if (prgPropertyInfoSets) {
            *prgPropertyInfoSets = nullptr;
        }
        if (ppDescBuffer) {
            *ppDescBuffer = nullptr;
        }
        return DB_E_NOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG cPropertySets,
                                            DBPROPSET rgPropertySets[]) override {
        SetErrorInfo(0, nullptr);
        return properties_.setProperties(cPropertySets, rgPropertySets);
    }

    // IDBCreateSession
    HRESULT STDMETHODCALLTYPE CreateSession(IUnknown* pUnkOuter, REFIID riid,
                                            IUnknown** ppDBSession) override {
        SetErrorInfo(0, nullptr);
        if (!ppDBSession) {
            return E_INVALIDARG;
        }
        *ppDBSession = nullptr;
        if (pUnkOuter) {
            return DB_E_NOAGGREGATION;
        }
        if (!connection_) {
            return E_UNEXPECTED;
        }
        auto session = makeObject<Session>(unknown(), connection_, sessions_);
        return session->QueryInterface(riid, reinterpret_cast<void**>(ppDBSession));
    }

private:
    DBPROPSTATUS check(const GUID& set, DBPROPID id, const VARIANT& value);
    bool live(const GUID& set, DBPROPID id, VARIANT& out);

    PropertyStore properties_;
    std::shared_ptr<Connection> connection_;
    // Sessions alive; Uninitialize refuses while there are any.
    std::shared_ptr<int> sessions_ = std::make_shared<int>(0);
};

DBPROPSTATUS DataSource::check(const GUID& set, DBPROPID id, const VARIANT& value) {
    if (IsEqualGUID(set, DBPROPSET_DBINIT)) {
        switch (id) {
        case DBPROP_INIT_PROMPT:
            return value.iVal >= DBPROMPT_PROMPT && value.iVal <= DBPROMPT_NOPROMPT
                       ? DBPROPSTATUS_OK
                       : DBPROPSTATUS_BADVALUE;
        case DBPROP_INIT_TIMEOUT:
        case DBPROP_INIT_GENERALTIMEOUT:
            return value.lVal >= 0 ? DBPROPSTATUS_OK : DBPROPSTATUS_BADVALUE;
        default:
            return DBPROPSTATUS_OK;
        }
    }
    if (IsEqualGUID(set, DBPROPSET_SQLSERVERDBINIT)) {
        switch (id) {
        case SSPROP_INIT_PACKETSIZE:
            // 0 asks for the server's choice; otherwise SQL Server's range.
            return value.lVal == 0 || (value.lVal >= 512 && value.lVal <= 32767)
                       ? DBPROPSTATUS_OK
                       : DBPROPSTATUS_BADVALUE;
        case SSPROP_INIT_NETWORKLIBRARY: {
            const std::string name = fromOle(value.bstrVal, SysStringLen(value.bstrVal));
            return name.empty() || isKnownNetworkLibrary(name) ? DBPROPSTATUS_OK
                                                               : DBPROPSTATUS_BADVALUE;
        }
        default:
            return DBPROPSTATUS_OK;
        }
    }
    if (IsEqualGUID(set, DBPROPSET_DATASOURCE) && id == DBPROP_CURRENTCATALOG) {
        const std::string name = fromOle(value.bstrVal, SysStringLen(value.bstrVal));
        if (name.empty()) {
            return DBPROPSTATUS_BADVALUE;
        }
        std::vector<ColumnDesc> columns;
        std::vector<RowData> rows;
        // The server's error (unknown database, no access) stays posted for the caller.
        if (FAILED(runToMemory(connection_, "use " + quoteName(name), IID_IDBProperties, columns,
                               rows))) {
            return DBPROPSTATUS_BADVALUE;
        }
        return DBPROPSTATUS_OK;
    }
    return DBPROPSTATUS_OK;
}

bool DataSource::live(const GUID& set, DBPROPID id, VARIANT& out) {
    if (!connection_) {
        return false;
    }
    if (IsEqualGUID(set, DBPROPSET_DATASOURCE) && id == DBPROP_CURRENTCATALOG) {
        out = variantOfText(connection_->link->currentDatabase());
        return true;
    }
    if (IsEqualGUID(set, DBPROPSET_DATASOURCEINFO) && id == DBPROP_CONNECTIONSTATUS) {
        out = variantOfI4(connection_->link->markedDead() ? DBPROPVAL_CS_COMMUNICATIONFAILURE
                                                          : DBPROPVAL_CS_INITIALIZED);
        return true;
    }
    return false;
}

HRESULT DataSource::Initialize() {
    SetErrorInfo(0, nullptr);
    if (connection_) {
        return DB_E_ALREADYINITIALIZED;
    }
    tds::LoginSettings s;
    s.server = properties_.text(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
    s.user = properties_.text(DBPROPSET_DBINIT, DBPROP_AUTH_USERID);
    s.password = properties_.text(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD);
    s.integrated = properties_.wasSet(DBPROPSET_DBINIT, DBPROP_AUTH_INTEGRATED);
    s.database = properties_.text(DBPROPSET_DBINIT, DBPROP_INIT_CATALOG);
    s.loginTimeoutSeconds =
        static_cast<int>(properties_.integer(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, 15));
    s.language = properties_.text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_CURRENTLANGUAGE);
    s.application = properties_.text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_APPNAME);
    s.workstation = properties_.text(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_WSID);
    s.packetSize = static_cast<int>(
        properties_.integer(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_PACKETSIZE, 4096));
    s.encrypt = properties_.flag(DBPROPSET_SQLSERVERDBINIT, SSPROP_INIT_ENCRYPT);

    Failure failure;
    Messages information;
    auto link = Link::open(s, failure, information);
    if (!link) {
        return tds::postFailure(failure);
    }
    auto connection = std::make_shared<Connection>();
    connection->link = std::move(link);
    connection->user = s.user;

    // The server's version, as the classic provider reports it ("08.00.2039").
    std::string version;
    if (auto v = connection->link->queryScalar("SELECT SERVERPROPERTY('ProductVersion')")) {
        version = formatVersion(*v);
    }
    if (version.empty()) {
        if (auto banner = connection->link->queryScalar("SELECT @@VERSION")) {
            version = formatVersion(versionFromBanner(*banner));
        }
    }
    connection->dbmsVersion = version;
    connection->serverMajor = std::atoi(version.c_str());
    connection_ = std::move(connection);

    properties_.store(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSVER, variantOfText(version));
    properties_.store(DBPROPSET_DATASOURCEINFO, DBPROP_DATASOURCENAME, variantOfText(s.server));
    properties_.store(DBPROPSET_DATASOURCEINFO, DBPROP_SERVERNAME,
                      variantOfText(s.server.empty() ? "(local)" : s.server));
    properties_.store(DBPROPSET_DATASOURCEINFO, DBPROP_USERNAME, variantOfText(s.user));
    // The password is kept only when the client asked for it to be.
    if (!properties_.flag(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO)) {
        properties_.store(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD, variantOfText(""));
    }
    tds::postInformation(information, IID_IDBInitialize);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// The sources enumerator: the servers that FreeTDS's configuration names.

std::vector<std::string> configuredServers() {
    if (auto resolver = ServerNameResolver::forSimulatedHost()) {
        return resolver->serverNames();
    }
    std::vector<std::string> candidates;
    if (const char* file = std::getenv("FREETDSCONF")) {
        candidates.emplace_back(file);
    }
    if (const char* home = std::getenv("HOME")) {
        candidates.push_back(std::string(home) + "/.freetds.conf");
    }
    candidates.emplace_back("/etc/freetds/freetds.conf");
    for (const auto& file : candidates) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            continue;
        }
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<std::string> names;
        for (const auto& s : parseFreeTdsConf(text.str())) {
            names.push_back(s.name);
        }
        return names;
    }
    return {};
}

class Enumerator final : public ComObject<ISourcesRowset> {
public:
    HRESULT STDMETHODCALLTYPE GetSourcesRowset(IUnknown* pUnkOuter, REFIID riid, ULONG, DBPROPSET[],
                                               IUnknown** ppSourcesRowset) override {
        SetErrorInfo(0, nullptr);
        if (!ppSourcesRowset) {
            return E_INVALIDARG;
        }
        *ppSourcesRowset = nullptr;
        if (pUnkOuter) {
            return DB_E_NOAGGREGATION;
        }
        constexpr USHORT kDataSource = 1; // DBSOURCETYPE_DATASOURCE
        std::vector<RowData> rows;
        for (const auto& name : configuredServers()) {
            rows.push_back({CellValue::text(name), CellValue::text(name), CellValue::text(name),
                            CellValue::integer(kDataSource), CellValue::boolean(false)});
        }
        std::vector<ColumnDesc> shape = {
            {"SOURCES_NAME", DBTYPE_WSTR, 128, 0},
            {"SOURCES_PARSENAME", DBTYPE_WSTR, 128, 0},
            {"SOURCES_DESCRIPTION", DBTYPE_WSTR, 128, 0},
            {"SOURCES_TYPE", DBTYPE_UI2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH},
            {"SOURCES_ISPARENT", DBTYPE_BOOL, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH}};
        return createRowset(std::make_shared<MemoryRowSource>(std::move(shape), std::move(rows)),
                            riid, ppSourcesRowset);
    }
};

} // namespace

HRESULT createTdsDataSource(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    auto source = makeObject<DataSource>();
    return source->QueryInterface(riid, ppv);
}

HRESULT createTdsEnumerator(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    auto enumerator = makeObject<Enumerator>();
    return enumerator->QueryInterface(riid, ppv);
}

} // namespace kv::oledb
