// The portable provider against the stand-in SQL Server over loopback, over each of its
// transports (db-lib, ODBC) and in both server profiles: logins and their failures, server
// facts, batches walked result by result, errors and information messages with every SQL Server
// field, a connection lost in the middle of a batch, time-outs, cancels, and the catalogs and
// sources rowsets.
#include "tests/support/standin_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kv::oledb;
using namespace kv::oledb::testing;
using kv::standin::Profile;

namespace {

struct Walked {
    HRESULT result;
    DBROWCOUNT affected;
    std::vector<std::vector<std::string>> rows;
    bool hadRowset;
    ReadErrorObject error;
};

// Walks every result of the batch as the data-access layer does, reading each rowset whole.
std::vector<Walked> walk(IMultipleResults* results, int limit = 20) {
    std::vector<Walked> out;
    for (int i = 0; i < limit; ++i) {
        DBROWCOUNT affected = 0;
        ComPtr<IUnknown> rowset;
        Walked w{};
        w.result = results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IUnknown, &affected,
                                      rowset.put());
        w.error = takeErrorObject();
        w.affected = affected;
        if (w.result == DB_S_NORESULT) {
            out.push_back(std::move(w));
            break;
        }
        if (rowset) {
            w.hadRowset = true;
            w.rows = fetchAll(rowset.get()).rows;
        }
        out.push_back(std::move(w));
    }
    return out;
}

ComPtr<IMultipleResults> executeBatch(OpenLink& link, const std::string& sql, HRESULT* hr) {
    auto command = link.command(sql);
    ComPtr<IMultipleResults> results;
    DBROWCOUNT affected = 0;
    *hr = command->Execute(nullptr, IID_IMultipleResults, nullptr, &affected,
                           reinterpret_cast<IUnknown**>(results.put()));
    return results;
}

HRESULT executeNoRowset(OpenLink& link, const std::string& sql) {
    auto command = link.command(sql);
    DBROWCOUNT affected = 0;
    return command->Execute(nullptr, IID_NULL, nullptr, &affected, nullptr);
}

} // namespace

struct Setup {
    Transport transport;
    Profile profile;
};

void PrintTo(const Setup& s, std::ostream* out) {
    *out << transportName(s.transport) << (s.profile == Profile::Sql2000 ? " 2000" : " 2005");
}

class ProviderStandin : public ::testing::TestWithParam<Setup> {
protected:
    void SetUp() override {
        if (const std::string reason = transportUnavailable(transport()); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }
    Transport transport() const { return GetParam().transport; }
    Profile profile() const { return GetParam().profile; }
    bool overOdbc() const { return transport() == Transport::Odbc; }

private:
    ScopedTransport transport_{GetParam().transport};
};

INSTANTIATE_TEST_SUITE_P(Transports, ProviderStandin,
                         ::testing::Values(Setup{Transport::DbLib, Profile::Sql2000},
                                           Setup{Transport::DbLib, Profile::Sql2005},
                                           Setup{Transport::Odbc, Profile::Sql2000},
                                           Setup{Transport::Odbc, Profile::Sql2005}),
                         [](const auto& p) {
                             return std::string(transportName(p.param.transport)) +
                                    (p.param.profile == Profile::Sql2000 ? "_Sql2000" : "_Sql2005");
                         });

// Server facts as the session object reads them after opening: the DBMS name, the version
// text of the profile's server (major 8 for 2000, 9 for 2005), our provider's name and version,
// and the login's default database as the current catalog.
TEST_P(ProviderStandin, LogsInAndReportsServerFacts) {
    ComScope com;
    StandinHost host(profile());
    ComPtr<IDBInitialize> source;
    ASSERT_EQ(openDataSource({}, source), S_OK) << takeErrorObject().description;
    ComPtr<IDBProperties> props;
    ASSERT_EQ(source.as(IID_IDBProperties, props), S_OK);
    auto facts = readProperties(
        props.get(), DBPROPSET_DATASOURCEINFO,
        {DBPROP_DBMSNAME, DBPROP_DBMSVER, DBPROP_PROVIDERFRIENDLYNAME, DBPROP_PROVIDERVER});
    ASSERT_EQ(facts.size(), 4u);
    EXPECT_EQ(facts[0], "Microsoft SQL Server");
    EXPECT_EQ(facts[1], profile() == Profile::Sql2000 ? "08.00.2039" : "09.00.5000");
    EXPECT_EQ(facts[2], kProviderFriendlyName);
    EXPECT_EQ(facts[3], kProviderVersion);
    auto catalog = readProperties(props.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG});
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(catalog[0], "master");
    EXPECT_EQ(source->Uninitialize(), S_OK);
}

// Many opens and closes on one thread release every connection and object (the sanitizer
// build reports anything left); the server sees no connection afterwards.
TEST_P(ProviderStandin, OpensAndClosesManyTimes) {
    ComScope com;
    StandinHost host(profile());
    for (int i = 0; i < 40; ++i) {
        OpenLink link;
        ASSERT_EQ(link.open(), S_OK) << i;
        ASSERT_EQ(executeNoRowset(link, "SET LOCK_TIMEOUT 2000"), S_OK);
        // The pool's liveness check: a batch that is only a comment.
        ASSERT_EQ(executeNoRowset(link, "/* Check connection */"), S_OK);
        link.session.reset();
        EXPECT_EQ(link.source->Uninitialize(), S_OK);
    }
    for (int i = 0; i < 100 && host.server().connectionCount() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(host.server().connectionCount(), 0u);
}

// Uninitialize refuses while a session is alive; a second Initialize is refused.
TEST_P(ProviderStandin, DataSourceLifecycleRules) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    EXPECT_EQ(link.source->Initialize(), DB_E_ALREADYINITIALIZED);
    EXPECT_EQ(link.source->Uninitialize(), DB_E_OBJECTOPEN);
    link.session.reset();
    EXPECT_EQ(link.source->Uninitialize(), S_OK);
}

// A batch of three statements is walked result by result: a rowset, a statement without
// rows whose PRINT text comes as an information record, an update with its count (SQL Server
// 2005 refuses ad hoc updates of the system catalog: its error is that result); then
// DB_S_NORESULT.
TEST_P(ProviderStandin, WalksABatchResultByResult) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    ASSERT_EQ(executeNoRowset(link, "EXEC sp_configure 'allow updates', 1\r\n"
                                    "RECONFIGURE WITH OVERRIDE"),
              S_OK)
        << takeErrorObject().description;

    HRESULT hr = E_FAIL;
    auto results = executeBatch(link,
                                "SELECT name, dbid FROM sysdatabases\r\n"
                                "PRINT 'between'\r\n"
                                "UPDATE sysdatabases SET status = 24 WHERE name = 'model'",
                                &hr);
    ASSERT_EQ(hr, S_OK) << takeErrorObject().description;
    auto walked = walk(results.get());
    ASSERT_EQ(walked.size(), 4u);
    EXPECT_EQ(walked[0].result, S_OK);
    EXPECT_TRUE(walked[0].hadRowset);
    ASSERT_EQ(walked[0].rows.size(), 4u);
    EXPECT_EQ(walked[0].rows[0], (std::vector<std::string>{"master", "1"}));

    EXPECT_EQ(walked[1].result, S_OK);
    EXPECT_FALSE(walked[1].hadRowset);
    ASSERT_EQ(walked[1].error.records.size(), 1u);
    ASSERT_TRUE(walked[1].error.records[0].sqlServer);
    EXPECT_EQ(walked[1].error.records[0].sqlServer->message, "between");
    EXPECT_EQ(walked[1].error.records[0].sqlServer->severityClass, 0);

    if (profile() == Profile::Sql2000) {
        EXPECT_EQ(walked[2].result, S_OK);
        EXPECT_FALSE(walked[2].hadRowset);
        EXPECT_EQ(walked[2].affected, 1);
    } else {
        EXPECT_EQ(walked[2].result, DB_E_ERRORSINCOMMAND);
        ASSERT_FALSE(walked[2].error.records.empty());
        EXPECT_EQ(walked[2].error.records[0].sqlServer->number, 259);
    }
    EXPECT_EQ(walked[3].result, DB_S_NORESULT);
    EXPECT_FALSE(walked[3].error.present);
}

// The console's select check: "use master" and the select in one batch opens on the select's
// rows when the caller asks for one rowset.
TEST_P(ProviderStandin, ExecuteForOneRowsetSkipsResultsWithoutRows) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    auto command = link.command("use master SELECT * FROM sysdatabases s\r\n"
                                "WHERE s.[name]='tempdb'");
    ComPtr<IUnknown> rowset;
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put()), S_OK);
    ASSERT_TRUE(rowset);
    // "changed database context" came with the call.
    auto info = takeErrorObject();
    ASSERT_FALSE(info.records.empty());
    EXPECT_EQ(info.records[0].sqlServer->number, 5701);
    auto fetched = fetchAll(rowset.get());
    ASSERT_EQ(fetched.rows.size(), 1u);
    EXPECT_EQ(fetched.columns[0], "name");
    EXPECT_EQ(fetched.rows[0][0], "tempdb");
}

// An error in the second statement does not stop the walk: the third statement still runs
// and its result is delivered; the error carries every SQL Server field (FreeTDS's ODBC driver
// does not give the message's state); the connection stays usable.
TEST_P(ProviderStandin, ErrorInTheMiddleOfABatchStillConsumesTheRest) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    HRESULT hr = E_FAIL;
    auto results = executeBatch(link,
                                "SELECT 1 AS one\r\n"
                                "RAISERROR('second failed', 16, 3)\r\n"
                                "PRINT 'third ran'",
                                &hr);
    ASSERT_EQ(hr, S_OK);
    auto walked = walk(results.get());
    ASSERT_EQ(walked.size(), 4u);
    EXPECT_TRUE(walked[0].hadRowset);
    EXPECT_EQ(walked[1].result, DB_E_ERRORSINCOMMAND);
    ASSERT_EQ(walked[1].error.records.size(), 1u);
    const auto& record = walked[1].error.records[0];
    EXPECT_EQ(record.basic.hrError, DB_E_ERRORSINCOMMAND);
    ASSERT_TRUE(record.sqlServer);
    EXPECT_EQ(record.sqlServer->number, 50000);
    EXPECT_EQ(record.sqlServer->state, overOdbc() ? 0 : 3);
    EXPECT_EQ(record.sqlServer->severityClass, 16);
    EXPECT_EQ(record.sqlServer->message, "second failed");
    EXPECT_EQ(record.sqlServer->server, "KELVORA-PC");
    EXPECT_EQ(record.sqlServer->line, 2);
    EXPECT_EQ(walked[2].result, S_OK);
    ASSERT_EQ(walked[2].error.records.size(), 1u);
    EXPECT_EQ(walked[2].error.records[0].sqlServer->message, "third ran");
    EXPECT_EQ(walked[3].result, DB_S_NORESULT);
    results.reset();

    // Asked for one result only, the first error is returned after the batch was read to its
    // end, and the next command runs.
    auto command = link.command("RAISERROR('first', 16, 1)\r\nSELECT 2 AS two");
    ComPtr<IUnknown> rowset;
    DBROWCOUNT affected = 0;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put()),
              DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(takeErrorObject().records.at(0).sqlServer->message, "first");
    EXPECT_EQ(executeNoRowset(link, "PRINT 'still here'"), S_OK);
}

// A procedure's error names the procedure (not over FreeTDS's ODBC driver, which does not give
// it); a PRINT of a successful call arrives as a record after S_OK.
TEST_P(ProviderStandin, ProcedureErrorsAndInformationMessages) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    ASSERT_EQ(executeNoRowset(link, "PRINT 'hello'"), S_OK);
    auto info = takeErrorObject();
    ASSERT_EQ(info.records.size(), 1u);
    EXPECT_EQ(info.records[0].basic.hrError, S_OK);
    EXPECT_EQ(info.records[0].sqlServer->number, 0);
    EXPECT_EQ(info.records[0].sqlServer->message, "hello");

    EXPECT_EQ(executeNoRowset(link, "EXEC sp_detach_db 'nosuchdb'"), DB_E_ERRORSINCOMMAND);
    auto error = takeErrorObject();
    ASSERT_FALSE(error.records.empty());
    const auto& m = *error.records.back().sqlServer;
    EXPECT_EQ(m.number, 15010);
    EXPECT_GE(m.severityClass, 11);
    EXPECT_EQ(m.procedure, overOdbc() ? "" : "sp_detach_db");
    EXPECT_GT(m.line, 0);
    EXPECT_EQ(m.server, "KELVORA-PC");
}

// Server names the host does not know are reported at once as the missing server; a known
// name with nothing listening gives the same record.
TEST_P(ProviderStandin, UnreachableServerIsError17) {
    ComScope com;
    StandinHost host(profile());
    for (const std::string server : {"NOSUCHSERVER", "KELVORA-PC\\OTHER", "127.0.0.1:1"}) {
        ComPtr<IDBInitialize> source;
        Login login;
        login.server = server;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(openDataSource(login, source), E_FAIL) << server;
        auto error = takeErrorObject();
        ASSERT_EQ(error.records.size(), 1u) << server;
        const auto& m = *error.records[0].sqlServer;
        EXPECT_EQ(m.number, 17);
        EXPECT_EQ(m.severityClass, 16);
        EXPECT_EQ(m.state, 1);
        EXPECT_EQ(m.message, "SQL Server does not exist or access denied.");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)) << server;
    }
}

// A wrong password: the server's 18456 class 14, with DB_SEC_E_AUTH_FAILED.
TEST_P(ProviderStandin, WrongPasswordIsAuthFailed) {
    ComScope com;
    StandinHost host(profile());
    ComPtr<IDBInitialize> source;
    Login login;
    login.password = "wrong";
    EXPECT_EQ(openDataSource(login, source), DB_SEC_E_AUTH_FAILED);
    auto error = takeErrorObject();
    ASSERT_FALSE(error.records.empty());
    const auto& m = *error.records.back().sqlServer;
    EXPECT_EQ(m.number, 18456);
    EXPECT_EQ(m.severityClass, 14);
    EXPECT_EQ(error.records.back().basic.hrError, DB_SEC_E_AUTH_FAILED);
}

// The server goes away while a batch runs: the call ends with the fatal network record,
// the data source reports the communication failure, and later calls fail the same way
// without waiting.
TEST_P(ProviderStandin, ServerKilledMidBatchGivesAFatalRecord) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        host.server().dropConnections();
    });
    HRESULT hr = E_FAIL;
    auto results =
        executeBatch(link, "SELECT 1 AS one\r\nWAITFOR DELAY '00:00:05'\r\nSELECT 2", &hr);
    std::vector<Walked> walked;
    if (SUCCEEDED(hr)) {
        walked = walk(results.get());
    }
    killer.join();
    ReadErrorObject error;
    if (FAILED(hr)) {
        error = takeErrorObject();
    } else {
        // The first result came before the server went (it streams what it has while the
        // batch runs); the walk fails at the next one and then ends.
        auto failed = std::find_if(walked.begin(), walked.end(),
                                   [](const Walked& w) { return FAILED(w.result); });
        ASSERT_NE(failed, walked.end());
        EXPECT_EQ(failed->result, E_FAIL);
        error = failed->error;
    }
    ASSERT_FALSE(error.records.empty());
    const auto& m = *error.records.back().sqlServer;
    EXPECT_EQ(m.number, 11);
    EXPECT_EQ(m.severityClass, 16);
    EXPECT_EQ(m.state, 1);
    results.reset();

    auto status =
        readProperties(link.properties.get(), DBPROPSET_DATASOURCEINFO, {DBPROP_CONNECTIONSTATUS});
    EXPECT_EQ(status.at(0), std::to_string(DBPROPVAL_CS_COMMUNICATIONFAILURE));
    EXPECT_EQ(executeNoRowset(link, "SELECT 1"), E_FAIL);
    EXPECT_EQ(takeErrorObject().records.back().sqlServer->number, 11);
}

// The command time-out cancels the statement with DB_E_ABORTLIMITREACHED and keeps the
// connection.
TEST_P(ProviderStandin, CommandTimeoutIsAbortLimitReached) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    auto command = link.command("WAITFOR DELAY '00:00:05'");
    ComPtr<ICommandProperties> props;
    ASSERT_EQ(command.as(IID_ICommandProperties, props), S_OK);
    DBPROP timeout = intProperty(DBPROP_COMMANDTIMEOUT, 1);
    DBPROPSET set{&timeout, 1, DBPROPSET_ROWSET};
    ASSERT_EQ(props->SetProperties(1, &set), S_OK);
    DBROWCOUNT affected = 0;
    EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, &affected, nullptr),
              DB_E_ABORTLIMITREACHED);
    takeErrorObject();
    EXPECT_EQ(executeNoRowset(link, "PRINT 'after'"), S_OK);
}

// The current catalog follows "use" and can be set through the data source; an unknown
// database is refused with the server's error and the catalog stays.
TEST_P(ProviderStandin, CurrentCatalogGetAndSet) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    std::vector<DBPROPSTATUS> statuses;
    ASSERT_EQ(applySet(link.properties.get(), DBPROPSET_DATASOURCE,
                       {textProperty(DBPROP_CURRENTCATALOG, "tempdb")}),
              S_OK);
    EXPECT_EQ(
        readProperties(link.properties.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG}).at(0),
        "tempdb");
    DBPROP bad = textProperty(DBPROP_CURRENTCATALOG, "nosuchdb");
    bad.dwOptions = DBPROPOPTIONS_REQUIRED;
    EXPECT_EQ(applySet(link.properties.get(), DBPROPSET_DATASOURCE, {bad}, &statuses),
              DB_E_ERRORSOCCURRED);
    EXPECT_EQ(statuses.at(0), DBPROPSTATUS_BADVALUE);
    auto error = takeErrorObject();
    ASSERT_FALSE(error.records.empty());
    EXPECT_EQ(error.records[0].sqlServer->number, 911);
    EXPECT_EQ(
        readProperties(link.properties.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG}).at(0),
        "tempdb");
}

// The catalogs schema rowset lists every database, by name; the sources enumerator lists the
// servers of the host's freetds.conf.
TEST_P(ProviderStandin, CatalogsAndSourcesRowsets) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    ComPtr<IDBSchemaRowset> schema;
    ASSERT_EQ(link.session.as(IID_IDBSchemaRowset, schema), S_OK);
    VARIANT restriction;
    VariantInit(&restriction);
    ComPtr<IUnknown> rowset;
    ASSERT_EQ(schema->GetRowset(nullptr, DBSCHEMA_CATALOGS, 1, &restriction, IID_IRowset, 0,
                                nullptr, rowset.put()),
              S_OK);
    auto catalogs = fetchAll(rowset.get());
    ASSERT_EQ(catalogs.rows.size(), 4u);
    EXPECT_EQ(catalogs.columns[0], "CATALOG_NAME");
    EXPECT_EQ(catalogs.rows[0][0], "master");
    EXPECT_EQ(catalogs.rows[3][0], "tempdb");

    ComPtr<ISourcesRowset> sources;
    ASSERT_EQ(CoCreateInstance(CLSID_SQLOLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ISourcesRowset, sources.putVoid()),
              S_OK);
    ComPtr<IUnknown> list;
    ASSERT_EQ(sources->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr, list.put()), S_OK);
    auto names = fetchAll(list.get());
    ASSERT_EQ(names.rows.size(), 2u);
    EXPECT_EQ(names.rows[0][0], "KELVORA-PC");
    EXPECT_EQ(names.rows[1][0], "(local)");
}

// Parameters bound through an accessor replace the ? markers (not those inside strings or
// comments).
TEST_P(ProviderStandin, ParametersReplaceMarkers) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    auto command = link.command("SELECT ? AS number, ? AS label, '?' AS mark /* ? */");
    ComPtr<IAccessor> accessor;
    ASSERT_EQ(command.as(IID_IAccessor, accessor), S_OK);
    struct Buffer {
        DBSTATUS numberStatus;
        std::int32_t number;
        DBSTATUS labelStatus;
        DBLENGTH labelLength;
        OLECHAR label[16];
    } buffer{};
    DBBINDING b[2] = {};
    b[0].iOrdinal = 1;
    b[0].obStatus = offsetof(Buffer, numberStatus);
    b[0].obValue = offsetof(Buffer, number);
    b[0].dwPart = DBPART_VALUE | DBPART_STATUS;
    b[0].eParamIO = DBPARAMIO_INPUT;
    b[0].wType = DBTYPE_I4;
    b[1].iOrdinal = 2;
    b[1].obStatus = offsetof(Buffer, labelStatus);
    b[1].obLength = offsetof(Buffer, labelLength);
    b[1].obValue = offsetof(Buffer, label);
    b[1].dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b[1].eParamIO = DBPARAMIO_INPUT;
    b[1].cbMaxLen = sizeof buffer.label;
    b[1].wType = DBTYPE_WSTR;
    HACCESSOR handle = 0;
    DBBINDSTATUS status[2];
    ASSERT_EQ(
        accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 2, b, sizeof buffer, &handle, status),
        S_OK);
    buffer.number = 42;
    const OleString label = toOle("it's");
    std::memcpy(buffer.label, label.c_str(), (label.size() + 1) * sizeof(OLECHAR));
    buffer.labelLength = label.size() * sizeof(OLECHAR);
    DBPARAMS params{&buffer, 1, handle};
    ComPtr<IUnknown> rowset;
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_IRowset, &params, &affected, rowset.put()), S_OK)
        << takeErrorObject().description;
    auto fetched = fetchAll(rowset.get());
    ASSERT_EQ(fetched.rows.size(), 1u);
    EXPECT_EQ(fetched.rows[0], (std::vector<std::string>{"42", "it's", "?"}));

    buffer.labelStatus = DBSTATUS_S_ISNULL;
    rowset.reset();
    ASSERT_EQ(command->Execute(nullptr, IID_IRowset, &params, &affected, rowset.put()), S_OK);
    EXPECT_EQ(fetchAll(rowset.get()).rows.at(0).at(1), "<null>");
    rowset.reset();
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put()),
              DB_E_PARAMNOTOPTIONAL);
    takeErrorObject();
    accessor->ReleaseAccessor(handle, nullptr);
}

// A server that takes the connection but never answers the login: the login time-out ends
// the attempt with the classic provider's "Login timeout expired".
TEST_P(ProviderStandin, SilentServerEndsInLoginTimeout) {
    ComScope com;
    StandinHost host(profile());
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    {
        std::ofstream conf(host.folder() / "freetds.conf", std::ios::app);
        conf << "[SILENT]\n\thost = 127.0.0.1\n\tport = " << ntohs(address.sin_port) << "\n";
    }
    ComPtr<IDBInitialize> source;
    ASSERT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                               source.putVoid()),
              S_OK);
    ComPtr<IDBProperties> props;
    source.as(IID_IDBProperties, props);
    ASSERT_EQ(
        applySet(props.get(), DBPROPSET_DBINIT,
                 {textProperty(DBPROP_INIT_DATASOURCE, "SILENT"),
                  textProperty(DBPROP_AUTH_USERID, "sa"), intProperty(DBPROP_INIT_TIMEOUT, 1)}),
        S_OK);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(source->Initialize(), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    auto error = takeErrorObject();
    ASSERT_EQ(error.records.size(), 1u);
    EXPECT_EQ(error.records[0].description, "Login timeout expired");
    EXPECT_FALSE(error.records[0].sqlServer);
    ::close(listener);
}

// A batch whose first statement fails goes on, as SQL Server runs it: the walk delivers the
// error, then the results of the later statements. (Under ODBC's rules the driver manager ends a
// request whose first result is an error; the ODBC transport opens every batch with an empty
// PRINT so that the failing statement is not the first.)
TEST_P(ProviderStandin, FirstStatementFailsAndTheLaterResultsStillCome) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    HRESULT hr = E_FAIL;
    auto results = executeBatch(link,
                                "RAISERROR('first failed', 16, 1)\r\n"
                                "SELECT 2 AS two\r\n"
                                "PRINT 'after'",
                                &hr);
    ASSERT_EQ(hr, S_OK) << takeErrorObject().description;
    auto walked = walk(results.get());
    ASSERT_EQ(walked.size(), 4u);
    EXPECT_EQ(walked[0].result, DB_E_ERRORSINCOMMAND);
    ASSERT_EQ(walked[0].error.records.size(), 1u);
    EXPECT_EQ(walked[0].error.records[0].sqlServer->message, "first failed");
    EXPECT_EQ(walked[0].error.records[0].sqlServer->line, 1);
    EXPECT_TRUE(walked[1].hadRowset);
    EXPECT_EQ(walked[1].rows, (std::vector<std::vector<std::string>>{{"2"}}));
    ASSERT_EQ(walked[2].error.records.size(), 1u);
    EXPECT_EQ(walked[2].error.records[0].sqlServer->message, "after");
    EXPECT_EQ(walked[3].result, DB_S_NORESULT);

    // A batch that cannot be compiled runs no statement at all.
    results = executeBatch(link, "PRINT 'never'\r\nSELEC 1", &hr);
    ASSERT_EQ(hr, S_OK);
    walked = walk(results.get());
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0].result, DB_E_ERRORSINCOMMAND);
    ASSERT_EQ(walked[0].error.records.size(), 1u);
    EXPECT_EQ(walked[0].error.records[0].sqlServer->line, 2);
    EXPECT_EQ(walked[1].result, DB_S_NORESULT);
}

// ICommand::Cancel from another thread ends a command that waits for the server with
// DB_E_CANCELED; the connection stays usable.
TEST_P(ProviderStandin, CancelFromAnotherThreadEndsTheCommand) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    auto command = link.command("WAITFOR DELAY '00:00:30'");
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        command->Cancel();
    });
    DBROWCOUNT affected = 0;
    const HRESULT hr = command->Execute(nullptr, IID_NULL, nullptr, &affected, nullptr);
    canceller.join();
    EXPECT_EQ(hr, DB_E_CANCELED);
    takeErrorObject();
    EXPECT_EQ(executeNoRowset(link, "PRINT 'after'"), S_OK) << takeErrorObject().description;
    EXPECT_EQ(takeErrorObject().records.at(0).sqlServer->message, "after");
}

// Output parameters: the command runs as a call of sp_executesql and the values the statement
// assigns are in the caller's buffer once the walk has reached the end of the batch.
TEST_P(ProviderStandin, OutputParametersComeBackAtTheEndOfTheWalk) {
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    auto command = link.command("SELECT ? = ?, ? = 42");
    ComPtr<IAccessor> accessor;
    ASSERT_EQ(command.as(IID_IAccessor, accessor), S_OK);
    struct Buffer {
        DBSTATUS copyStatus;
        DBLENGTH copyLength;
        OLECHAR copy[32];
        DBSTATUS textStatus;
        DBLENGTH textLength;
        OLECHAR text[32];
        DBSTATUS numberStatus;
        std::int32_t number;
    } buffer{};
    DBBINDING b[3] = {};
    b[0].iOrdinal = 1;
    b[0].obStatus = offsetof(Buffer, copyStatus);
    b[0].obLength = offsetof(Buffer, copyLength);
    b[0].obValue = offsetof(Buffer, copy);
    b[0].dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b[0].eParamIO = DBPARAMIO_OUTPUT;
    b[0].cbMaxLen = sizeof buffer.copy;
    b[0].wType = DBTYPE_WSTR;
    b[1] = b[0];
    b[1].iOrdinal = 2;
    b[1].obStatus = offsetof(Buffer, textStatus);
    b[1].obLength = offsetof(Buffer, textLength);
    b[1].obValue = offsetof(Buffer, text);
    b[1].eParamIO = DBPARAMIO_INPUT;
    b[2].iOrdinal = 3;
    b[2].obStatus = offsetof(Buffer, numberStatus);
    b[2].obValue = offsetof(Buffer, number);
    b[2].dwPart = DBPART_VALUE | DBPART_STATUS;
    b[2].eParamIO = DBPARAMIO_OUTPUT;
    b[2].wType = DBTYPE_I4;
    HACCESSOR handle = 0;
    DBBINDSTATUS status[3];
    ASSERT_EQ(
        accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 3, b, sizeof buffer, &handle, status),
        S_OK);
    const OleString text = toOle("kelvora ğ");
    std::memcpy(buffer.text, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    buffer.textLength = text.size() * sizeof(OLECHAR);
    buffer.copyStatus = DBSTATUS_S_ISNULL;
    buffer.numberStatus = DBSTATUS_S_ISNULL;
    DBPARAMS params{&buffer, 1, handle};
    ComPtr<IMultipleResults> results;
    DBROWCOUNT affected = 0;
    ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, &params, &affected,
                               reinterpret_cast<IUnknown**>(results.put())),
              S_OK)
        << takeErrorObject().description;
    auto walked = walk(results.get());
    ASSERT_FALSE(walked.empty());
    EXPECT_EQ(walked.back().result, DB_S_NORESULT);
    EXPECT_EQ(buffer.copyStatus, DBSTATUS_S_OK);
    EXPECT_EQ(fromOle(buffer.copy), "kelvora ğ");
    EXPECT_EQ(buffer.copyLength, text.size() * sizeof(OLECHAR));
    EXPECT_EQ(buffer.numberStatus, DBSTATUS_S_OK);
    EXPECT_EQ(buffer.number, 42);
    results.reset();
    accessor->ReleaseAccessor(handle, nullptr);
}

// Windows authentication is refused before any connection, with the record SQL Server sends
// when a trusted connection cannot be made.
TEST_P(ProviderStandin, IntegratedLoginIsRefusedWithoutConnecting) {
    ComScope com;
    StandinHost host(profile());
    ComPtr<IDBInitialize> source;
    ASSERT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                               source.putVoid()),
              S_OK);
    ComPtr<IDBProperties> props;
    source.as(IID_IDBProperties, props);
    ASSERT_EQ(applySet(props.get(), DBPROPSET_DBINIT,
                       {textProperty(DBPROP_INIT_DATASOURCE, "(local)"),
                        textProperty(DBPROP_AUTH_INTEGRATED, "")}),
              S_OK);
    EXPECT_EQ(source->Initialize(), DB_SEC_E_AUTH_FAILED);
    auto error = takeErrorObject();
    ASSERT_EQ(error.records.size(), 1u);
    EXPECT_EQ(error.records[0].sqlServer->number, 18452);
    EXPECT_EQ(host.server().connectionCount(), 0u);
}

// The same statements over db-lib and over ODBC give the same columns (names, types, sizes,
// flags) and the same values: what the transport reads is turned into one form.
class ProviderTransports : public ::testing::TestWithParam<Profile> {};

namespace kv::standin {
void PrintTo(Profile p, std::ostream* out) {
    *out << (p == Profile::Sql2000 ? "2000" : "2005");
}
} // namespace kv::standin

INSTANTIATE_TEST_SUITE_P(Profiles, ProviderTransports,
                         ::testing::Values(Profile::Sql2000, Profile::Sql2005), [](const auto& p) {
                             return p.param == Profile::Sql2000 ? "Sql2000" : "Sql2005";
                         });

namespace {

struct Described {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
};

Described describe(IUnknown* rowsetUnknown) {
    Described out;
    ComPtr<IColumnsInfo> info;
    ComPtr<IUnknown>::share(rowsetUnknown).as(IID_IColumnsInfo, info);
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    EXPECT_EQ(info->GetColumnInfo(&count, &columns, &strings), S_OK);
    for (DBORDINAL i = 0; i < count; ++i) {
        const DBCOLUMNINFO& c = columns[i];
        out.columns.push_back(fromOle(c.pwszName) + " type " + std::to_string(c.wType) + " size " +
                              std::to_string(c.ulColumnSize) + " flags " +
                              std::to_string(c.dwFlags) + " precision " +
                              std::to_string(c.bPrecision) + " scale " + std::to_string(c.bScale));
    }
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
    out.rows = fetchAll(rowsetUnknown).rows;
    return out;
}

} // namespace

TEST_P(ProviderTransports, SameColumnsAndValuesOverBothTransports) {
    if (const std::string reason = transportUnavailable(Transport::Odbc); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    ComScope com;
    StandinHost host(GetParam());
    const std::vector<std::string> statements = {
        "SELECT * FROM sysdatabases WHERE name = 'master'",
        "SELECT * FROM syslogins",
        "SELECT NULL AS n, N'çğış İı' AS t, 'x' AS v, -1 AS neg, @@SPID AS spid, DB_NAME() AS db",
        // More than nvarchar(4000): ntext from SQL Server 2000, nvarchar(max) from 2005.
        "SELECT N'" + std::string(4500, 'k') + "ğ' AS long_text",
    };
    std::vector<Described> seen[2];
    for (const Transport t : {Transport::DbLib, Transport::Odbc}) {
        ScopedTransport transport(t);
        OpenLink link;
        ASSERT_EQ(link.open(), S_OK) << transportName(t);
        for (const auto& sql : statements) {
            auto command = link.command(sql);
            ComPtr<IUnknown> rowset;
            DBROWCOUNT affected = 0;
            ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.put()),
                      S_OK)
                << transportName(t) << ": " << sql;
            seen[t == Transport::Odbc].push_back(describe(rowset.get()));
        }
    }
    for (std::size_t i = 0; i < statements.size(); ++i) {
        EXPECT_EQ(seen[0][i].columns, seen[1][i].columns) << statements[i];
        // The session id differs between the two connections.
        auto dblib = seen[0][i].rows;
        auto odbc = seen[1][i].rows;
        if (i == 2 && !dblib.empty() && !odbc.empty()) {
            dblib[0][4] = odbc[0][4] = "";
        }
        EXPECT_EQ(dblib, odbc) << statements[i];
    }
}

// The rebuild's way into a database's emergency state on SQL Server 2000, one statement at a
// time as the console sends them: 'allow updates' on, RECONFIGURE, a direct update of the
// catalog, 'allow updates' off, RECONFIGURE. Each statement takes effect on both transports;
// the server's informational replies are no failure.
TEST_P(ProviderStandin, CatalogUpdateOneStatementAtATime) {
    if (profile() != Profile::Sql2000) {
        GTEST_SKIP() << "ad hoc catalog updates are SQL Server 2000's";
    }
    ComScope com;
    StandinHost host(profile());
    OpenLink link;
    ASSERT_EQ(link.open(), S_OK);
    ASSERT_EQ(executeNoRowset(link, "CREATE DATABASE scratch1"), S_OK)
        << takeErrorObject().description;
    for (const char* statement : {"Sp_configure 'allow updates', 1", "Reconfigure with override",
                                  "Update sysdatabases set status = 32768 where name = 'SCRATCH1'",
                                  "Sp_configure 'allow updates', 0", "Reconfigure with override"}) {
        const HRESULT hr = executeNoRowset(link, statement);
        EXPECT_TRUE(SUCCEEDED(hr)) << statement << ": " << takeErrorObject().description;
    }
    HRESULT hr = E_FAIL;
    auto results =
        executeBatch(link, "select status from master..sysdatabases where name = 'scratch1'", &hr);
    ASSERT_EQ(hr, S_OK) << takeErrorObject().description;
    const auto walked = walk(results.get());
    ASSERT_FALSE(walked.empty());
    ASSERT_EQ(walked[0].rows.size(), 1u);
    EXPECT_EQ(walked[0].rows[0].at(0), "32768");
}
