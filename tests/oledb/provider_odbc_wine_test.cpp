// The Windows build of the portable provider, over ODBC, against a stand-in SQL Server on the
// Linux side of Wine. tests/cross/mingw-wine.sh starts the stand-ins (profile 2000 on
// KELVORA_STANDIN_PORT, profile 2005 on KELVORA_STANDIN_PORT_2005) and registers FreeTDS's ODBC
// driver for the Linux machine's unixODBC, which Wine's odbc32 hands the calls to. Without a
// port the tests skip.
//
// The provider comes in the way the console gets it: this Windows has no SQL Server OLE DB
// provider, so the start-up choice registers ours under the classic provider's class id. The
// server is named as the console names it (its machine, "(local)"), and the port comes from
// where SQL Server keeps it in the registry.
#include "platform/oledb/provider.h"
#include "tests/support/provider_helpers.h"

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>

using namespace kv::oledb;
using namespace kv::oledb::testing;

namespace {

void setText(const wchar_t* path, const wchar_t* name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const std::wstring value(text.begin(), text.end());
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Writes SQL Server's TCP port into this Wine prefix's registry (its own, in the build folder)
// where that version of SQL Server keeps it: 2000 under MSSQLServer, 2005 under its instance's
// key, which "Instance Names" names. The other version's entries go first.
void setSqlServerPort(const std::string& version, const std::string& port) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\MSSQLServer");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Microsoft SQL Server");
    if (version.starts_with("08.")) {
        setText(L"SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib\\Tcp",
                L"TcpPort", port);
        return;
    }
    setText(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL", L"MSSQLSERVER",
            "MSSQL.1");
    setText(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\MSSQL.1\\MSSQLServer\\"
            L"SuperSocketNetLib\\Tcp\\IPAll",
            L"TcpPort", port);
}

std::string computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    return fromOle(name, size);
}

struct Profile {
    const char* name;
    const char* portVariable;
    const char* version;
};

class ProviderOverOdbc : public ::testing::TestWithParam<Profile> {
protected:
    void SetUp() override {
        const char* port = std::getenv(GetParam().portVariable);
        if (!port || !*port) {
            GTEST_SKIP() << GetParam().portVariable
                         << " is not set: no stand-in SQL Server to test against (started by "
                            "tests/cross/mingw-wine.sh)";
        }
        port_ = port;
        choice_ = usePortableProviderWhereNoneInstalled();
        if (!choice_.portableOverOdbc) {
            GTEST_SKIP() << "this Windows has a SQL Server OLE DB provider of its own";
        }
        setSqlServerPort(GetParam().version, port_);
    }
    void TearDown() override { resetClassTable(); }

    ComScope com_;
    std::string port_;
    ProviderChoice choice_;
};

INSTANTIATE_TEST_SUITE_P(Wine, ProviderOverOdbc,
                         ::testing::Values(Profile{"Sql2000", "KELVORA_STANDIN_PORT", "08.00.2039"},
                                           Profile{"Sql2005", "KELVORA_STANDIN_PORT_2005",
                                                   "09.00.5000"}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace

// Without a SQL Server provider of the machine the start-up choice registers ours under the
// classic provider's class id only (the automatic choice skips the Native Client ids), and says
// so in the console's words.
TEST_P(ProviderOverOdbc, StartUpChoiceRegistersThePortableProvider) {
    EXPECT_EQ(choice_.logLine, "MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak.");
    ComPtr<IDBInitialize> source;
    EXPECT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                               source.putVoid()),
              S_OK);
    ComPtr<IDBInitialize> native;
    EXPECT_EQ(CoCreateInstance(CLSID_SQLNCLI10, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                               native.putVoid()),
              REGDB_E_CLASSNOTREG);
}

// The machine's name and "(local)" lead to the port in the registry; the server facts are the
// profile's.
TEST_P(ProviderOverOdbc, LogsInByTheMachinesNames) {
    for (const std::string& server : {computerName(), std::string("(local)"), std::string(".")}) {
        ComPtr<IDBInitialize> source;
        Login login;
        login.server = server;
        ASSERT_EQ(openDataSource(login, source), S_OK)
            << server << ": " << takeErrorObject().description;
        ComPtr<IDBProperties> props;
        ASSERT_EQ(source.as(IID_IDBProperties, props), S_OK);
        auto facts = readProperties(props.get(), DBPROPSET_DATASOURCEINFO,
                                    {DBPROP_DBMSNAME, DBPROP_DBMSVER, DBPROP_PROVIDERFRIENDLYNAME});
        ASSERT_EQ(facts.size(), 3u);
        EXPECT_EQ(facts[0], "Microsoft SQL Server");
        EXPECT_EQ(facts[1], GetParam().version);
        EXPECT_EQ(facts[2], kProviderFriendlyName);
        EXPECT_EQ(readProperties(props.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG}).at(0),
                  "master");
        EXPECT_EQ(source->Uninitialize(), S_OK);
    }
}

// Names that are not this machine are a missing server at once (no name look-up); a port where
// nothing listens is the same record; a wrong password is the server's refusal.
TEST_P(ProviderOverOdbc, LoginFailuresAsTheClassicProviderReportsThem) {
    for (const std::string server : {"NOSUCHSERVER", "(local)\\OTHER", "127.0.0.1,1"}) {
        ComPtr<IDBInitialize> source;
        Login login;
        login.server = server;
        EXPECT_EQ(openDataSource(login, source), E_FAIL) << server;
        auto error = takeErrorObject();
        ASSERT_FALSE(error.records.empty()) << server;
        const auto& m = *error.records.back().sqlServer;
        EXPECT_EQ(m.number, 17) << server;
        EXPECT_EQ(m.severityClass, 16);
        EXPECT_EQ(m.state, 1);
    }
    ComPtr<IDBInitialize> source;
    Login login;
    login.password = "wrong";
    EXPECT_EQ(openDataSource(login, source), DB_SEC_E_AUTH_FAILED);
    auto error = takeErrorObject();
    ASSERT_FALSE(error.records.empty());
    EXPECT_EQ(error.records.back().sqlServer->number, 18456);
    EXPECT_EQ(error.records.back().sqlServer->severityClass, 14);
}

// A batch walked result by result: an error first (the later results still come), a rowset
// with Turkish text, an information message; the error's SQL Server fields.
TEST_P(ProviderOverOdbc, WalksABatchWithErrorsAndMessages) {
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK) << takeErrorObject().description;
    auto command =
        link.command("RAISERROR('first failed', 16, 1)\r\n"
                     "SELECT N'çğış İı' AS text, name FROM sysdatabases WHERE dbid = 1\r\n"
                     "PRINT 'after'");
    ComPtr<IMultipleResults> results;
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, &affected,
                               reinterpret_cast<IUnknown**>(results.put())),
              S_OK);
    ComPtr<IUnknown> rowset;
    EXPECT_EQ(
        results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected, rowset.put()),
        DB_E_ERRORSINCOMMAND);
    auto error = takeErrorObject();
    ASSERT_EQ(error.records.size(), 1u);
    const auto& m = *error.records[0].sqlServer;
    EXPECT_EQ(m.number, 50000);
    EXPECT_EQ(m.severityClass, 16);
    EXPECT_EQ(m.line, 1);
    EXPECT_EQ(m.message, "first failed");
    EXPECT_EQ(m.server, "KELVORA-PC");

    ASSERT_EQ(
        results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected, rowset.put()),
        S_OK);
    auto fetched = fetchAll(rowset.get());
    ASSERT_EQ(fetched.rows.size(), 1u);
    EXPECT_EQ(fetched.rows[0], (std::vector<std::string>{"çğış İı", "master"}));
    rowset.reset();

    EXPECT_EQ(
        results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected, rowset.put()),
        S_OK);
    auto info = takeErrorObject();
    ASSERT_EQ(info.records.size(), 1u);
    EXPECT_EQ(info.records[0].sqlServer->message, "after");
    EXPECT_EQ(
        results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected, rowset.put()),
        DB_S_NORESULT);
}

// Output parameters come back through sp_executesql; a cancel from another thread ends a
// waiting command, and the connection stays usable.
TEST_P(ProviderOverOdbc, OutputParametersAndCancel) {
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK) << takeErrorObject().description;
    auto command = link.command("SELECT ? = 42");
    ComPtr<IAccessor> accessor;
    ASSERT_EQ(command.as(IID_IAccessor, accessor), S_OK);
    struct Buffer {
        DBSTATUS status;
        std::int32_t number;
    } buffer{DBSTATUS_S_ISNULL, 0};
    DBBINDING b{};
    b.iOrdinal = 1;
    b.obStatus = offsetof(Buffer, status);
    b.obValue = offsetof(Buffer, number);
    b.dwPart = DBPART_VALUE | DBPART_STATUS;
    b.eParamIO = DBPARAMIO_OUTPUT;
    b.wType = DBTYPE_I4;
    HACCESSOR handle = 0;
    DBBINDSTATUS status = 0;
    ASSERT_EQ(
        accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof buffer, &handle, &status),
        S_OK);
    DBPARAMS params{&buffer, 1, handle};
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_NULL, &params, &affected, nullptr), S_OK)
        << takeErrorObject().description;
    EXPECT_EQ(buffer.status, DBSTATUS_S_OK);
    EXPECT_EQ(buffer.number, 42);
    accessor->ReleaseAccessor(handle, nullptr);

    auto waiting = link.command("WAITFOR DELAY '00:00:30'");
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        waiting->Cancel();
    });
    const HRESULT hr = waiting->Execute(nullptr, IID_NULL, nullptr, &affected, nullptr);
    canceller.join();
    EXPECT_EQ(hr, DB_E_CANCELED);
    takeErrorObject();
    auto after = link.command("PRINT 'after'");
    EXPECT_EQ(after->Execute(nullptr, IID_NULL, nullptr, &affected, nullptr), S_OK)
        << takeErrorObject().description;
}
