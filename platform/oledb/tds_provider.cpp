// The portable SQL Server provider: the data source over one connection (db-lib or ODBC, the
// transport its class factory chose) and the sources enumerator. The session, the command and the
// batches are in tds_session.cpp, tds_command.cpp and tds_batch.cpp.
//
// Every method that can fail clears the thread's error object on entry and posts a fresh one
// on failure; messages that came with a successful call (PRINT, "changed database context")
// are posted as records after S_OK.
#include "platform/oledb/properties.h"
#include "platform/oledb/provider.h"
#include "platform/oledb/tds_batch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kv::oledb {

using tds::Connection;
using tds::Failure;
using tds::Messages;
using tds::runToMemory;

namespace {

inline constexpr LONG kMultipleResultsSupported = 1; // DBPROPVAL_MR_SUPPORTED

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

class DataSource final : public ComObject<IDBInitialize, IDBProperties, IDBCreateSession> {
public:
    explicit DataSource(tds::LinkOpener opener) : opener_(opener) {
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
        return tds::createSession(unknown(), connection_, sessions_, riid, ppDBSession);
    }

private:
    DBPROPSTATUS check(const GUID& set, DBPROPID id, const VARIANT& value);
    bool live(const GUID& set, DBPROPID id, VARIANT& out);

    tds::LinkOpener opener_;
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
    auto link = opener_(s, failure, information);
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

HRESULT tds::createDataSource(IUnknown* outer, REFIID riid, void** ppv, LinkOpener opener) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    auto source = makeObject<DataSource>(opener);
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
