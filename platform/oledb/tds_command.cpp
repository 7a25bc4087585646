// The portable provider's command and the walker over the results of its batch. A command
// sends its text as a batch with the ? markers replaced by literals of the bound values; one
// whose parameter accessor has an output binding runs as a call of sp_executesql instead.
//
// Every method that can fail clears the thread's error object on entry and posts a fresh one
// on failure; messages that came with a successful call (PRINT) are posted as records after
// S_OK.
#include "platform/oledb/properties.h"
#include "platform/oledb/tds_batch.h"

#include <cstdio>

namespace kv::oledb::tds {

namespace {

// ---------------------------------------------------------------------------------------------
// Parameters: the command text's ? markers are replaced by literals of the bound values.

// The binding of parameter `ordinal` (counted from 1); the last one where several name it.
const DBBINDING* bindingOf(const std::vector<DBBINDING>& bindings, DBORDINAL ordinal) {
    const DBBINDING* found = nullptr;
    for (const auto& b : bindings) {
        if (b.iOrdinal == ordinal) {
            found = &b;
        }
    }
    return found;
}

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
    // reaches the server when the call is waiting for it). A request while the command does
    // not run has no effect.
    HRESULT STDMETHODCALLTYPE Cancel() override {
        if (connection_) {
            connection_->requestCancel(runner_);
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
        markers_ = parameterMarkers(text_); // found once, used by every execution
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
    // A parameter without a binding or a readable value: the error record, and its code.
    HRESULT unusableParameter(std::size_t ordinal);
    HRESULT buildCall(const DBPARAMS* params, std::vector<tds::RpcArg>& args,
                      std::vector<DBBINDING>& outputs, bool& isCall);

    ComPtr<IUnknown> session_;
    std::shared_ptr<Connection> connection_;
    const Connection::Runner runner_ = Connection::newRunner();
    PropertyStore properties_;
    AccessorTable accessors_;
    std::string text_;
    std::vector<std::size_t> markers_; // the ? markers of text_
    bool hasText_ = false;
    bool prepared_ = false;
};

// The type a parameter is declared with in sp_executesql's list, as SQL Server expects it: an
// input text or byte string by the length of its value (nvarchar(4000) and varbinary(8000) hold
// the short ones; longer ones need the long types, ntext and image before SQL Server 2005,
// nvarchar(max) and varbinary(max) from then on), an output one by the room its binding gives
// (a reference binding: any length) and the server's version. SQL Server 2000 cannot assign to
// ntext or image, so an output there is at most nvarchar(4000) / varbinary(8000), the longest
// values a statement can give it; an input/output whose input is longer still goes as the long
// type.
std::string declaredTypeOf(const DBBINDING& b, int serverMajor, const CellValue& value) {
    const bool output = (b.eParamIO & DBPARAMIO_OUTPUT) != 0;
    const bool modern = serverMajor >= 9;
    const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
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
    case DBTYPE_DBTIMESTAMP:
        return "datetime";
    case DBTYPE_BYTES: {
        const std::size_t room = output ? (byRef ? SIZE_MAX : b.cbMaxLen) : 0;
        const std::size_t length = std::max(value.s.size(), output && modern ? room : 0);
        if (length <= 8000 || (output && !modern && value.s.size() <= 8000)) {
            return "varbinary(8000)";
        }
        return modern ? "varbinary(max)" : "image";
    }
    default: {
        std::size_t units = 0;
        if (value.kind == CellValue::Kind::Text) {
            units = toOle(value.s).size();
        }
        const std::size_t slot = b.cbMaxLen / sizeof(OLECHAR);
        const std::size_t room = output ? (byRef ? SIZE_MAX : slot > 0 ? slot - 1 : 0) : 0;
        const std::size_t length = std::max(units, output && modern ? room : 0);
        if (length <= 4000 || (output && !modern && units <= 4000)) {
            return "nvarchar(4000)";
        }
        return modern ? "nvarchar(max)" : "ntext";
    }
    }
}

// A command with output parameters runs as a call of sp_executesql: the markers become @P1,
// @P2 ..., declared in the call's list, and the outputs come back as return values.
HRESULT Command::buildCall(const DBPARAMS* params, std::vector<tds::RpcArg>& args,
                           std::vector<DBBINDING>& outputs, bool& isCall) {
    isCall = false;
    const auto& markers = markers_;
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
        const DBBINDING* binding = bindingOf(accessor->bindings, k + 1);
        const std::string name = "@P" + std::to_string(k + 1);
        tds::RpcArg arg;
        arg.name = name;
        CellValue value;
        const bool input = binding && (binding->eParamIO & DBPARAMIO_INPUT);
        if (!binding ||
            (input && !readBinding(*binding, static_cast<const BYTE*>(params->pData), value))) {
            return unusableParameter(k + 1);
        }
        arg.output = (binding->eParamIO & DBPARAMIO_OUTPUT) != 0;
        arg.value = value;
        arg.declaredType = declaredTypeOf(*binding, major, value);
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

HRESULT Command::unusableParameter(std::size_t ordinal) {
    postErrorRecords(
        {{DB_E_ERRORSOCCURRED, IID_ICommand, 0,
          "Parameter " + std::to_string(ordinal) + " has no usable value.", std::nullopt}});
    return DB_E_ERRORSOCCURRED;
}

HRESULT Command::substitute(const DBPARAMS* params, std::string& sql) {
    sql = text_;
    const auto& markers = markers_;
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
        const DBBINDING* binding = bindingOf(accessor->bindings, k + 1);
        CellValue value;
        if (!binding || !(binding->eParamIO & DBPARAMIO_INPUT) ||
            !readBinding(*binding, static_cast<const BYTE*>(params->pData), value)) {
            return unusableParameter(k + 1);
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
    // The run starts here, so that a cancel from now on stops it; the batch ends it, or the
    // guard when no batch starts.
    const bool runs = connection_ && connection_->claimRunner(runner_);
    struct RunGuard {
        Connection* connection;
        Connection::Runner runner;
        bool started = false;
        ~RunGuard() {
            if (connection && !started) {
                connection->releaseRunner(runner);
            }
        }
    } guard{runs ? connection_.get() : nullptr, runner_};
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
    const Connection::Runner runner = runs ? runner_ : 0;
    std::shared_ptr<Batch> batch;
    if (isCall) {
        hr = Batch::startWith(
            connection_, [&](Link& link) { return link.call("sp_executesql", callArgs, timeout); },
            IID_ICommand, batch, runner);
    } else {
        hr = Batch::start(connection_, sql, timeout, IID_ICommand, batch, runner);
    }
    if (FAILED(hr)) {
        return hr;
    }
    guard.started = true;
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

} // namespace

HRESULT createCommand(IUnknown* session, std::shared_ptr<Connection> connection, REFIID riid,
                      IUnknown** ppCommand) {
    auto command = makeObject<Command>(session, std::move(connection));
    return command->QueryInterface(riid, reinterpret_cast<void**>(ppCommand));
}

} // namespace kv::oledb::tds
