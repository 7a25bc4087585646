#include "fake_provider.h"

#include <cstdio>
#include <cstring>

using kv::oledb::ComObject;
using kv::oledb::ComPtr;

namespace fake {

const RecordedProp* RecordedSet::find(DBPROPID id) const {
    for (const RecordedProp& p : props)
        if (p.id == id)
            return &p;
    return nullptr;
}

bool FakeState::fails(const std::string& step) {
    if (failAt != step)
        return false;
    kv::oledb::postErrorRecords(failRecords);
    return true;
}

namespace {

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Counts itself in the state's live objects.
class Counted {
public:
    explicit Counted(std::shared_ptr<FakeState> s) : state(std::move(s)) { ++state->liveObjects; }
    ~Counted() { --state->liveObjects; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    std::shared_ptr<FakeState> state;
};

RecordedSet record(const char* where, const DBPROPSET& set) {
    RecordedSet r;
    r.where = where;
    r.set = set.guidPropertySet;
    for (ULONG i = 0; i < set.cProperties; ++i) {
        const DBPROP& p = set.rgProperties[i];
        RecordedProp rp;
        rp.id = p.dwPropertyID;
        rp.options = p.dwOptions;
        rp.type = p.vValue.vt;
        switch (p.vValue.vt) {
        case VT_BSTR:
            rp.text = kv::oledb::fromOle(p.vValue.bstrVal);
            break;
        case VT_BOOL:
            rp.value = p.vValue.boolVal != VARIANT_FALSE ? 1 : 0;
            break;
        case VT_I2:
            rp.value = p.vValue.iVal;
            break;
        case VT_I4:
            rp.value = p.vValue.lVal;
            break;
        case VT_UI4:
            rp.value = p.vValue.ulVal;
            break;
        default:
            break;
        }
        r.props.push_back(std::move(rp));
    }
    return r;
}

// The answer of GetProperties: one set with the requested ids, allocated as a provider does.
HRESULT answerProperties(FakeState& s, const DBPROPIDSET& ids, ULONG* count, DBPROPSET** sets) {
    auto* out = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET)));
    out->guidPropertySet = ids.guidPropertySet;
    out->cProperties = ids.cPropertyIDs;
    out->rgProperties = static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP) * ids.cPropertyIDs));
    for (ULONG i = 0; i < ids.cPropertyIDs; ++i) {
        DBPROP& p = out->rgProperties[i];
        std::memset(&p, 0, sizeof p);
        p.dwPropertyID = ids.rgPropertyIDs[i];
        VariantInit(&p.vValue);
        std::string text;
        switch (p.dwPropertyID) {
        case DBPROP_CURRENTCATALOG:
            text = s.currentCatalog;
            break;
        case DBPROP_DBMSNAME:
            text = s.dbmsName;
            break;
        case DBPROP_DBMSVER:
            text = s.dbmsVer;
            break;
        case DBPROP_PROVIDERFRIENDLYNAME:
            text = s.providerName;
            break;
        case DBPROP_PROVIDERVER:
            text = s.providerVer;
            break;
        default:
            p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
            continue;
        }
        p.vValue.vt = VT_BSTR;
        p.vValue.bstrVal = kv::oledb::toBstr(text);
    }
    *count = 1;
    *sets = out;
    return S_OK;
}

class FakeRowset final : public ComObject<IRowset, IColumnsInfo, IAccessor>, Counted {
public:
    FakeRowset(std::shared_ptr<FakeState> s, FakeResult r)
        : Counted(std::move(s)), r_(std::move(r)) {}

    // IColumnsInfo
    HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                            OLECHAR** ppStringsBuffer) override {
        const std::size_t n = r_.columns.size();
        *pcColumns = n;
        *prgInfo = static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * (n ? n : 1)));
        std::size_t units = 0;
        for (const std::string& c : r_.columns)
            units += kv::oledb::toOle(c).size() + 1;
        *ppStringsBuffer =
            static_cast<OLECHAR*>(CoTaskMemAlloc((units ? units : 1) * sizeof(OLECHAR)));
        OLECHAR* at = *ppStringsBuffer;
        for (std::size_t i = 0; i < n; ++i) {
            DBCOLUMNINFO& ci = (*prgInfo)[i];
            std::memset(&ci, 0, sizeof ci);
            auto w = kv::oledb::toOle(r_.columns[i]);
            std::memcpy(at, w.c_str(), (w.size() + 1) * sizeof(OLECHAR));
            ci.pwszName = at;
            at += w.size() + 1;
            ci.iOrdinal = i + 1;
            ci.wType = DBTYPE_WSTR;
            ci.ulColumnSize = 128;
            ci.dwFlags = DBCOLUMNFLAGS_MAYBENULL;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL, const DBID[], DBORDINAL[]) override {
        return E_NOTIMPL;
    }

    // IAccessor
    HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR, DBREFCOUNT*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS, DBCOUNTITEM cBindings,
                                             const DBBINDING rgBindings[], DBLENGTH,
                                             HACCESSOR* phAccessor,
                                             DBBINDSTATUS rgStatus[]) override {
        const HACCESSOR handle = ++lastAccessor_;
        accessors_[handle].assign(rgBindings, rgBindings + cBindings);
        if (rgStatus != nullptr)
            for (DBCOUNTITEM i = 0; i < cBindings; ++i)
                rgStatus[i] = DBBINDSTATUS_OK;
        *phAccessor = handle;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR, DBACCESSORFLAGS*, DBCOUNTITEM*,
                                          DBBINDING**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR, DBREFCOUNT* pcRefCount) override {
        if (pcRefCount != nullptr)
            *pcRefCount = 0;
        return S_OK;
    }

    // IRowset
    HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM, const HROW[], DBREFCOUNT[],
                                         DBROWSTATUS[]) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override {
        if (static_cast<int>(hRow) - 1 == r_.failingRow) {
            kv::oledb::postErrorRecords(r_.rowRecords);
            return r_.rowError;
        }
        const auto& row = r_.rows.at(hRow - 1);
        auto* base = static_cast<BYTE*>(pData);
        for (const DBBINDING& b : accessors_.at(hAccessor)) {
            const std::string& v = row.at(b.iOrdinal - 1);
            auto w = kv::oledb::toOle(v);
            // The whole length is reported; a value longer than the room is cut and marked.
            const std::size_t whole = w.size() * 2;
            std::size_t bytes = std::min<std::size_t>(whole, b.cbMaxLen >= 2 ? b.cbMaxLen - 2 : 0);
            if (b.dwPart & DBPART_VALUE) {
                std::memcpy(base + b.obValue, w.c_str(), bytes);
                std::memset(base + b.obValue + bytes, 0, 2);
            }
            const DBLENGTH length = whole;
            const DBSTATUS status = bytes < whole ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
            if (b.dwPart & DBPART_LENGTH)
                std::memcpy(base + b.obLength, &length, sizeof length);
            if (b.dwPart & DBPART_STATUS)
                std::memcpy(base + b.obStatus, &status, sizeof status);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER, DBROWOFFSET, DBROWCOUNT cRows,
                                          DBCOUNTITEM* pcRowsObtained, HROW** prghRows) override {
        ++state->fetchCalls;
        state->fetchSizes.push_back(cRows);
        std::size_t left = r_.rows.size() - next_;
        std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(cRows));
        *pcRowsObtained = n;
        if (n == 0)
            return DB_S_ENDOFROWSET;
        if (*prghRows == nullptr)
            *prghRows = static_cast<HROW*>(CoTaskMemAlloc(sizeof(HROW) * n));
        for (std::size_t i = 0; i < n; ++i)
            (*prghRows)[i] = ++next_;
        return n < static_cast<std::size_t>(cRows) ? DB_S_ENDOFROWSET : S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM, const HROW[], DBROWOPTIONS[], DBREFCOUNT[],
                                          DBROWSTATUS[]) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER) override {
        next_ = 0;
        return S_OK;
    }

private:
    FakeResult r_;
    std::map<HACCESSOR, std::vector<DBBINDING>> accessors_;
    HACCESSOR lastAccessor_ = 0;
    std::size_t next_ = 0;
};

class FakeMultipleResults final : public ComObject<IMultipleResults>, Counted {
public:
    FakeMultipleResults(std::shared_ptr<FakeState> s, std::vector<FakeResult> results)
        : Counted(std::move(s)), results_(std::move(results)) {}

    HRESULT STDMETHODCALLTYPE GetResult(IUnknown*, DBRESULTFLAG, REFIID riid,
                                        DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) override {
        state->calls.push_back("GetResult");
        if (ppRowset != nullptr)
            *ppRowset = nullptr;
        if (next_ >= results_.size()) {
            if (pcRowsAffected != nullptr)
                *pcRowsAffected = -1;
            return DB_S_NORESULT;
        }
        const FakeResult& r = results_[next_++];
        if (FAILED(r.error)) {
            kv::oledb::postErrorRecords(r.records);
            return r.error;
        }
        kv::oledb::postErrorRecords(r.records);
        if (pcRowsAffected != nullptr)
            *pcRowsAffected = r.rowsAffected;
        if (r.rowset && ppRowset != nullptr && !IsEqualIID(riid, IID_NULL)) {
            auto rowset = kv::oledb::makeObject<FakeRowset>(state, r);
            return rowset->QueryInterface(riid, reinterpret_cast<void**>(ppRowset));
        }
        return S_OK;
    }

private:
    std::vector<FakeResult> results_;
    std::size_t next_ = 0;
};

class FakeCommand final
    : public ComObject<ICommandText, ICommandProperties, ICommandPrepare, IAccessor>,
      Counted {
public:
    explicit FakeCommand(std::shared_ptr<FakeState> s) : Counted(std::move(s)) {}

    HRESULT STDMETHODCALLTYPE Cancel() override {
        state->calls.push_back("Cancel");
        return S_OK;
    }
    // IAccessor (parameter bindings)
    HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR, DBREFCOUNT*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS, DBCOUNTITEM cBindings,
                                             const DBBINDING rgBindings[], DBLENGTH,
                                             HACCESSOR* phAccessor,
                                             DBBINDSTATUS rgStatus[]) override {
        if (state->onCreateAccessor)
            state->onCreateAccessor();
        bindings_.assign(rgBindings, rgBindings + cBindings);
        for (DBCOUNTITEM i = 0; rgStatus != nullptr && i < cBindings; ++i)
            rgStatus[i] = DBBINDSTATUS_OK;
        *phAccessor = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR, DBACCESSORFLAGS*, DBCOUNTITEM*,
                                          DBBINDING**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR, DBREFCOUNT*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE Execute(IUnknown*, REFIID riid, DBPARAMS* params,
                                      DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) override {
        state->calls.push_back("Execute:" + text_);
        state->paramValues.clear();
        state->paramTypes.clear();
        state->paramIO.clear();
        if (params != nullptr && params->pData != nullptr) {
            auto* base = static_cast<const BYTE*>(params->pData);
            for (const DBBINDING& b : bindings_) {
                state->paramTypes.push_back(static_cast<DBTYPE>(b.wType & ~DBTYPE_BYREF));
                state->paramIO.push_back(b.eParamIO);
                state->paramValues.push_back(readParam(b, base));
            }
        }
        state->executed.push_back(text_);
        if (ppRowset != nullptr)
            *ppRowset = nullptr;
        if (pcRowsAffected != nullptr)
            *pcRowsAffected = -1;
        if (state->onExecute)
            state->onExecute(text_);
        if (state->fails("Execute:" + text_))
            return state->failResult;
        FakeStatement st;
        if (auto it = state->statements.find(text_); it != state->statements.end())
            st = it->second;
        if (FAILED(st.executeResult)) {
            auto ps = state->paramStatuses.find(text_);
            if (ps != state->paramStatuses.end() && params != nullptr && params->pData != nullptr) {
                auto* base = static_cast<BYTE*>(params->pData);
                for (std::size_t i = 0; i < bindings_.size() && i < ps->second.size(); ++i)
                    std::memcpy(base + bindings_[i].obStatus, &ps->second[i], sizeof(DBSTATUS));
            }
            kv::oledb::postErrorRecords(st.executeRecords);
            return st.executeResult;
        }
        if (params != nullptr && params->pData != nullptr)
            writeOutputs(st.outputs, static_cast<BYTE*>(params->pData));
        if (IsEqualIID(riid, IID_NULL) || ppRowset == nullptr)
            return S_OK;
        auto results = kv::oledb::makeObject<FakeMultipleResults>(state, st.results);
        return results->QueryInterface(riid, reinterpret_cast<void**>(ppRowset));
    }
    HRESULT STDMETHODCALLTYPE GetDBSession(REFIID, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCommandText(GUID*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID, LPCOLESTR pwszCommand) override {
        text_ = kv::oledb::fromOle(pwszCommand);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(const ULONG, const DBPROPIDSET[], ULONG*,
                                            DBPROPSET**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG c, DBPROPSET sets[]) override {
        for (ULONG i = 0; i < c; ++i)
            state->sets.push_back(record("command", sets[i]));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Prepare(ULONG) override {
        state->calls.push_back("Prepare");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unprepare() override {
        state->calls.push_back("Unprepare");
        return S_OK;
    }

private:
    // A bound input value as text: "<null>", the number, "true"/"false", the text, or the
    // bytes as they are. Output-only bindings read as "<out>".
    static std::string readParam(const DBBINDING& b, const BYTE* base) {
        if (!(b.eParamIO & DBPARAMIO_INPUT))
            return "<out>";
        DBSTATUS status = 0;
        DBLENGTH length = 0;
        std::memcpy(&status, base + b.obStatus, sizeof status);
        std::memcpy(&length, base + b.obLength, sizeof length);
        if (status == DBSTATUS_S_ISNULL)
            return "<null>";
        const BYTE* value = base + b.obValue;
        if (b.wType & DBTYPE_BYREF)
            std::memcpy(&value, base + b.obValue, sizeof value);
        switch (b.wType & ~DBTYPE_BYREF) {
        case DBTYPE_I8: {
            std::int64_t v = 0;
            std::memcpy(&v, value, sizeof v);
            return std::to_string(v);
        }
        case DBTYPE_R8: {
            double v = 0;
            std::memcpy(&v, value, sizeof v);
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", v);
            return text;
        }
        case DBTYPE_BOOL: {
            VARIANT_BOOL v = 0;
            std::memcpy(&v, value, sizeof v);
            return v != VARIANT_FALSE ? "true" : "false";
        }
        case DBTYPE_BYTES:
            return std::string(reinterpret_cast<const char*>(value), length);
        default: {
            kv::oledb::OleString w(length / 2, OLECHAR{});
            std::memcpy(w.data(), value, length);
            return kv::oledb::fromOle(w.data(), w.size());
        }
        }
    }

    void writeOutputs(const std::map<DBORDINAL, std::string>& outputs, BYTE* base) const {
        for (const DBBINDING& b : bindings_) {
            auto it = outputs.find(b.iOrdinal);
            if (it == outputs.end() || !(b.eParamIO & DBPARAMIO_OUTPUT))
                continue;
            DBSTATUS status = DBSTATUS_S_OK;
            DBLENGTH length = 0;
            switch (b.wType) {
            case DBTYPE_I8: {
                const std::int64_t v = std::stoll(it->second);
                std::memcpy(base + b.obValue, &v, sizeof v);
                length = sizeof v;
                break;
            }
            case DBTYPE_WSTR | DBTYPE_BYREF: {
                // The whole value in task memory; the caller frees it.
                auto w = kv::oledb::toOle(it->second);
                length = w.size() * 2;
                void* memory = CoTaskMemAlloc(length + 2);
                std::memcpy(memory, w.c_str(), length + 2);
                std::memcpy(base + b.obValue, &memory, sizeof memory);
                break;
            }
            default: {
                auto w = kv::oledb::toOle(it->second);
                length = w.size() * 2;
                std::size_t room = b.cbMaxLen >= 2 ? b.cbMaxLen - 2 : 0;
                std::size_t bytes = std::min<std::size_t>(length, room);
                if (bytes < length)
                    status = DBSTATUS_S_TRUNCATED;
                std::memcpy(base + b.obValue, w.c_str(), bytes);
                std::memset(base + b.obValue + bytes, 0, 2);
                break;
            }
            }
            std::memcpy(base + b.obStatus, &status, sizeof status);
            std::memcpy(base + b.obLength, &length, sizeof length);
        }
    }

    std::string text_;
    std::vector<DBBINDING> bindings_;
};

class FakeSession final : public ComObject<ISessionProperties, IDBCreateCommand>, Counted {
public:
    explicit FakeSession(std::shared_ptr<FakeState> s) : Counted(std::move(s)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IDBCreateCommand) && state->fails("IDBCreateCommand")) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ULONG, const DBPROPIDSET[], ULONG*,
                                            DBPROPSET**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG c, DBPROPSET sets[]) override {
        state->calls.push_back("SessionSetProperties");
        for (ULONG i = 0; i < c; ++i)
            state->sets.push_back(record("session", sets[i]));
        if (state->fails("SessionSetProperties"))
            return state->failResult;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateCommand(IUnknown*, REFIID riid, IUnknown** ppCommand) override {
        state->calls.push_back("CreateCommand");
        *ppCommand = nullptr;
        if (state->fails("CreateCommand"))
            return state->failResult;
        auto command = kv::oledb::makeObject<FakeCommand>(state);
        return command->QueryInterface(riid, reinterpret_cast<void**>(ppCommand));
    }
};

class FakeDataSource final : public ComObject<IDBInitialize, IDBProperties, IDBCreateSession>,
                             Counted {
public:
    explicit FakeDataSource(std::shared_ptr<FakeState> s) : Counted(std::move(s)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if ((IsEqualIID(riid, IID_IDBProperties) && state->fails("IDBProperties")) ||
            (IsEqualIID(riid, IID_IDBCreateSession) && state->fails("IDBCreateSession"))) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE Initialize() override {
        state->calls.push_back("Initialize");
        if (state->fails("Initialize"))
            return state->failResult;
        initialized_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Uninitialize() override {
        state->calls.push_back("Uninitialize");
        initialized_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ULONG c, const DBPROPIDSET ids[], ULONG* count,
                                            DBPROPSET** sets) override {
        state->calls.push_back("GetProperties");
        *count = 0;
        *sets = nullptr;
        if (state->fails("GetProperties"))
            return state->failResult;
        return c == 1 ? answerProperties(*state, ids[0], count, sets) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG*, DBPROPINFOSET**,
                                              OLECHAR**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ULONG c, DBPROPSET sets[]) override {
        const int n = setCalls_++;
        state->calls.push_back("SetProperties");
        for (ULONG i = 0; i < c; ++i)
            state->sets.push_back(record("datasource", sets[i]));
        if (auto it = state->statuses.find(n); it != state->statuses.end() && c > 0)
            for (ULONG i = 0; i < sets[0].cProperties && i < it->second.size(); ++i)
                sets[0].rgProperties[i].dwStatus = it->second[i];
        if (state->fails("SetProperties#" + std::to_string(n)))
            return state->failResult;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateSession(IUnknown*, REFIID riid,
                                            IUnknown** ppDBSession) override {
        state->calls.push_back("CreateSession");
        *ppDBSession = nullptr;
        if (state->fails("CreateSession"))
            return state->failResult;
        auto session = kv::oledb::makeObject<FakeSession>(state);
        return session->QueryInterface(riid, reinterpret_cast<void**>(ppDBSession));
    }

private:
    int setCalls_ = 0;
    bool initialized_ = false;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // namespace

FakeProvider::FakeProvider(const CLSID& clsid)
    : state_(std::make_shared<FakeState>()),
      registration_(clsid, [s = state_](IUnknown*, REFIID riid, void** ppv) -> HRESULT {
          s->calls.push_back("Create");
          if (s->fails("Create"))
              return s->failResult;
          auto ds = kv::oledb::makeObject<FakeDataSource>(s);
          return ds->QueryInterface(riid, ppv);
      }) {}

FakeProvider::~FakeProvider() = default;

} // namespace fake
