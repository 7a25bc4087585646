// The portable provider's session: its properties (the auto-commit isolation), commands, and
// the catalogs schema rowset.
#include "platform/oledb/properties.h"
#include "platform/oledb/tds_batch.h"

#include <algorithm>
#include <cctype>

namespace kv::oledb::tds {

namespace {

// DBPROPVAL_TI_SNAPSHOT, which the Windows SDK headers of MinGW do not name.
constexpr LONG kSnapshotIsolation = 0x1000000;

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
            return id == DBPROP_SESS_AUTOCOMMITISOLEVELS
                       ? applyIsolation(value.lVal)
                       : static_cast<DBPROPSTATUS>(DBPROPSTATUS_OK);
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
        return createCommand(unknown(), connection_, riid, ppCommand);
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
        case kSnapshotIsolation:
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

} // namespace

HRESULT createSession(IUnknown* dataSource, std::shared_ptr<Connection> connection,
                      std::shared_ptr<int> sessionCount, REFIID riid, IUnknown** ppSession) {
    auto session = makeObject<Session>(dataSource, std::move(connection), std::move(sessionCount));
    return session->QueryInterface(riid, reinterpret_cast<void**>(ppSession));
}

} // namespace kv::oledb::tds
