// The ODBC transport's reading of what drivers say, without a driver: which diagnostic records
// are server messages and which fields they carry (FreeTDS's driver and Microsoft's differ),
// why a connect failed, the connection strings of both driver families, and which batches may
// be opened with the empty PRINT.
#include "platform/Unicode.h"
#include "platform/oledb/odbc_link.h"

#include <gtest/gtest.h>

using namespace kv::oledb;
using namespace kv::oledb::odbc;

namespace {

DiagRecord record(std::string state, std::int32_t native, std::string text) {
    DiagRecord r;
    r.sqlState = std::move(state);
    r.native = native;
    r.text = std::move(text);
    return r;
}

std::string text(const std::u16string& s) {
    return kv::platform::utf16ToUtf8(s);
}

} // namespace

// FreeTDS's driver puts "[SQL Server]" in front of its own errors as well: the native number
// and the SQLSTATE tell them from the server's; a driver manager's record is never the
// server's. Microsoft's drivers tag only the server's messages with "[SQL Server]".
TEST(OdbcRecords, ServerMessagesAreToldFromTheDriversOwn) {
    const Dialect tds = Dialect::FreeTds;
    EXPECT_TRUE(isServerMessage(record("42000", 50000, "[FreeTDS][SQL Server]first"), tds));
    EXPECT_TRUE(isServerMessage(record("01000", 0, "[FreeTDS][SQL Server]hello"), tds)); // PRINT
    EXPECT_TRUE(isServerMessage(record("42000", 18456, "[FreeTDS][SQL Server]Login failed"), tds));
    EXPECT_FALSE(isServerMessage(
        record("01000", 20017, "[FreeTDS][SQL Server]Unexpected EOF from the server"), tds));
    EXPECT_FALSE(isServerMessage(
        record("08S01", 20009, "[FreeTDS][SQL Server]Unable to connect: Adaptive Server"), tds));
    EXPECT_FALSE(
        isServerMessage(record("HY008", 0, "[FreeTDS][SQL Server]Operation was cancelled"), tds));
    EXPECT_FALSE(isServerMessage(
        record("01000", 0, "[unixODBC][Driver Manager]Can't open lib 'x' : file not found"), tds));

    const Dialect ms = Dialect::Microsoft;
    EXPECT_TRUE(isServerMessage(
        record("42000", 15010, "[Microsoft][ODBC SQL Server Driver][SQL Server]No such db"), ms));
    EXPECT_FALSE(isServerMessage(
        record("08001", 17,
               "[Microsoft][ODBC SQL Server Driver][DBNETLIB]SQL Server does not exist or "
               "access denied."),
        ms));
    EXPECT_FALSE(isServerMessage(
        record("IM002", 0, "[Microsoft][ODBC Driver Manager] Data source name not found"), ms));

    EXPECT_EQ(messageText("[Microsoft][ODBC SQL Server Driver][SQL Server]Login failed."),
              "Login failed.");
    EXPECT_EQ(messageText("[FreeTDS][SQL Server]"), "");
    EXPECT_EQ(messageText("plain [text]"), "plain [text]");
}

// The fields of a server message: Microsoft's driver gives all of SQL Server's; FreeTDS's (1.3)
// gives the class where the state belongs and no state, procedure or server; login refusals get
// SQL Server's documented class and state where the driver gives none, and other messages a
// class from the SQLSTATE.
TEST(OdbcRecords, ServerMessageFieldsFromEachDriverFamily) {
    DiagRecord ms = record("42000", 50000, "[Microsoft][ODBC SQL Server Driver][SQL Server]boom");
    ms.severity = 16;
    ms.msgState = 3;
    ms.line = 2;
    ms.server = "PC";
    ms.procedure = "sp_x";
    SqlServerMessage m = serverMessageOf(ms, Dialect::Microsoft, "OTHER");
    EXPECT_EQ(m.number, 50000);
    EXPECT_EQ(m.severityClass, 16);
    EXPECT_EQ(m.state, 3);
    EXPECT_EQ(m.line, 2);
    EXPECT_EQ(m.server, "PC");
    EXPECT_EQ(m.procedure, "sp_x");
    EXPECT_EQ(m.message, "boom");

    DiagRecord tds = record("42000", 15010, "[FreeTDS][SQL Server]The database does not exist");
    tds.msgState = 16;
    tds.line = 1;
    m = serverMessageOf(tds, Dialect::FreeTds, "KELVORA-PC");
    EXPECT_EQ(m.severityClass, 16);
    EXPECT_EQ(m.state, 0);
    EXPECT_EQ(m.line, 1);
    EXPECT_EQ(m.server, "KELVORA-PC");
    EXPECT_EQ(m.procedure, "");

    m = serverMessageOf(record("42000", 18456, "[FreeTDS][SQL Server]Login failed for user 'sa'."),
                        Dialect::FreeTds, "");
    EXPECT_EQ(m.severityClass, 14);
    EXPECT_EQ(m.state, 1);
    EXPECT_EQ(serverMessageOf(record("01000", 5701, "[FreeTDS][SQL Server]Changed database"),
                              Dialect::FreeTds, "")
                  .severityClass,
              0);
    EXPECT_EQ(serverMessageOf(record("42000", 208, "[FreeTDS][SQL Server]Invalid object name"),
                              Dialect::FreeTds, "")
                  .severityClass,
              16);
}

// Why a connect failed, from its records: a missing driver (try the next one), a refused login,
// other server errors, a time-out, and otherwise a server that cannot be reached.
TEST(OdbcRecords, ConnectFailuresAreSortedByCause) {
    EXPECT_TRUE(driverMissing({record(
        "01000", 0, "[unixODBC][Driver Manager]Can't open lib 'SQL Server' : file not found")}));
    EXPECT_TRUE(driverMissing({record("IM002", 0,
                                      "[Microsoft][ODBC Driver Manager] Data source name not "
                                      "found and no default driver specified")}));
    EXPECT_TRUE(driverMissing({}));
    const std::vector<DiagRecord> unreachable = {
        record("08S01", 20009, "[FreeTDS][SQL Server]Unable to connect"),
        record("08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source")};
    EXPECT_FALSE(driverMissing(unreachable));

    const auto situation = [](const std::vector<DiagRecord>& records) {
        tds::Messages messages;
        collect(records, Dialect::FreeTds, "", messages);
        return loginSituation(records, messages);
    };
    EXPECT_EQ(situation(unreachable), tds::Situation::ServerUnreachable);
    EXPECT_EQ(situation({record("42000", 18456, "[FreeTDS][SQL Server]Login failed for user 'sa'."),
                         record("08001", 0, "[FreeTDS][SQL Server]Unable to connect")}),
              tds::Situation::LoginRefused);
    EXPECT_EQ(situation({record("42000", 4064, "[FreeTDS][SQL Server]Cannot open user default"),
                         record("08001", 0, "[FreeTDS][SQL Server]Unable to connect")}),
              tds::Situation::LoginFailedOther);
    EXPECT_EQ(situation({record("HYT00", 0, "[FreeTDS][SQL Server]Timeout expired"),
                         record("08001", 0, "[FreeTDS][SQL Server]Unable to connect")}),
              tds::Situation::LoginTimeout);

    tds::Messages messages;
    collect({record("HYT00", 0, "[FreeTDS][SQL Server]Timeout expired")}, Dialect::FreeTds, "",
            messages);
    EXPECT_TRUE(messages.timedOut);
    EXPECT_TRUE(messages.server.empty());
    EXPECT_EQ(messages.client.size(), 1u);
    EXPECT_TRUE(recordsSayConnectionLost(
        {record("01000", 20017, "[FreeTDS][SQL Server]Unexpected EOF from the server")}));
    EXPECT_TRUE(recordsSayConnectionLost(
        {record("08S01", 0, "[FreeTDS][SQL Server]Communication link failure")}));
    EXPECT_FALSE(recordsSayConnectionLost({record("42000", 50000, "[FreeTDS][SQL Server]x")}));
}

// FreeTDS's driver takes the address and port apart and its TDS version; Microsoft's takes
// "address,port". Values with the characters of the syntax go in braces, a closing brace
// doubled; a name for the driver to resolve goes as it is.
TEST(OdbcRecords, ConnectionStringsOfBothDriverFamilies) {
    Target target;
    target.kind = Target::Kind::Endpoint;
    target.server = "127.0.0.1";
    target.port = 41433;
    target.tdsVersion = "7.1";
    tds::LoginSettings s;
    s.user = "sa";
    s.password = "a;b}c";
    s.database = "master";
    s.application = "kelvora-console.exe";
    EXPECT_EQ(text(connectionString("FreeTDS", Dialect::FreeTds, target, s, "PC")),
              "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=41433;TDS_Version=7.1;UID=sa;"
              "PWD={a;b}}c};DATABASE=master;APP=kelvora-console.exe;WSID=PC;");
    target.tdsVersion.clear();
    s.password = "k";
    s.encrypt = true;
    EXPECT_EQ(text(connectionString("SQL Server", Dialect::Microsoft, target, s, "PC")),
              "DRIVER={SQL Server};SERVER=127.0.0.1,41433;Network=DBMSSOCN;UID=sa;PWD=k;"
              "DATABASE=master;APP=kelvora-console.exe;WSID=PC;Encrypt=yes;");
    EXPECT_NE(text(connectionString("FreeTDS", Dialect::FreeTds, target, s, "PC"))
                  .find("TDS_Version=7.4;"),
              std::string::npos);
    Target asGiven;
    asGiven.kind = Target::Kind::AsGiven;
    asGiven.server = "SRV";
    EXPECT_EQ(text(connectionString("FreeTDS", Dialect::FreeTds, asGiven, {}, "")).substr(0, 40),
              "DRIVER={FreeTDS};SERVER=SRV;TDS_Version=");

    EXPECT_EQ(dialectOf("FreeTDS"), Dialect::FreeTds);
    EXPECT_EQ(dialectOf("freetds 1.3"), Dialect::FreeTds);
    EXPECT_EQ(dialectOf("SQL Server"), Dialect::Microsoft);
    EXPECT_EQ(splitDriverList(" {FreeTDS} ; SQL Server;;"),
              (std::vector<std::string>{"FreeTDS", "SQL Server"}));
    EXPECT_TRUE(splitDriverList("").empty());
}

// A batch is opened with an empty PRINT unless its first statement must come first in a batch;
// blanks and comments (nested block comments too) before it do not count.
TEST(OdbcRecords, BatchesThatMustStartThemselves) {
    EXPECT_FALSE(mustStartTheBatch("use master SELECT * FROM sysdatabases"));
    EXPECT_FALSE(mustStartTheBatch("SELECT 1\r\nCREATE DATABASE x"));
    EXPECT_FALSE(mustStartTheBatch("/* Check connection */"));
    EXPECT_FALSE(mustStartTheBatch(""));
    EXPECT_FALSE(mustStartTheBatch("SET LOCK_TIMEOUT 2000"));
    EXPECT_TRUE(mustStartTheBatch("CREATE PROCEDURE p AS SELECT 1"));
    EXPECT_TRUE(mustStartTheBatch("  -- a view\r\n  alter view v as select 1"));
    EXPECT_TRUE(mustStartTheBatch("/* a /* nested */ comment */create trigger t on x for insert "
                                  "as select 1"));
    EXPECT_TRUE(mustStartTheBatch("set showplan_text on"));
    // A procedure called without EXEC: only the first statement of a batch may be one.
    EXPECT_TRUE(mustStartTheBatch("createx"));
    EXPECT_TRUE(mustStartTheBatch("Sp_configure 'allow updates', 1"));
    EXPECT_TRUE(mustStartTheBatch("  master..sp_who"));
    EXPECT_TRUE(mustStartTheBatch("[dbo].[my proc] 1"));
    EXPECT_FALSE(mustStartTheBatch("Reconfigure with override"));
    EXPECT_FALSE(mustStartTheBatch("EXEC sp_detach_db 'kelvora', 'true'"));
    EXPECT_FALSE(mustStartTheBatch("Update sysdatabases set status = 32768 where name = 'K1'"));
    EXPECT_FALSE(mustStartTheBatch("DBCC CHECKDB('kelvora')"));
    EXPECT_FALSE(mustStartTheBatch("(select 1)"));

    EXPECT_TRUE(isOpeningMessage(record("01000", 0, "[FreeTDS][SQL Server]")));
    EXPECT_FALSE(isOpeningMessage(record("01000", 0, "[FreeTDS][SQL Server]between")));
}
