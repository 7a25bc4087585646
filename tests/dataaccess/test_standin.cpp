// The console's own statement shapes through TMSConnection and TMSQuery against the stand-in
// SQL Server (in-process, loopback, ephemeral port), with an OnError that clears Fail.
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "tests/support/standin_fixture.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;

namespace {

const char kSelectLine1[] = "use master SELECT * FROM sysdatabases s";
const char kSelectLine2[] = "WHERE s.[name]='kelvora'";

class StandinTest : public testing::Test {
protected:
    void SetUp() override {
        monitor.OnSQL = [this](TObject*, const std::string& t, TDATraceFlag) { last = t; };
        con.SetName("MSCon");
        con.SetLoginPrompt(false);
        con.Options()->SetDisconnectedMode(true);
        con.OnError = [](TObject*, EDAError&, bool& Fail) { Fail = false; };
        con.SetDatabase("master");
        con.SetUsername("sa");
        con.SetPassword("k");
        con.SetServer("KELVORA-PC");
        q.SetConnection(&con);
    }
    int databaseCount() {
        q.Close();
        q.SQL()->Clear();
        q.SQL()->Add(kSelectLine1);
        q.SQL()->Add(kSelectLine2);
        q.Open();
        return q.RecordCount();
    }
    void execute(const std::string& text) {
        q.Close();
        q.SQL()->Clear();
        q.SQL()->Add(text);
        q.Execute();
    }

    std::string last;
    kv::oledb::ComScope com;
    kv::oledb::testing::StandinHost host;
    TMSSQLMonitor monitor{nullptr};
    TMSConnection con{nullptr};
    TMSQuery q{nullptr};
};

} // namespace

TEST_F(StandinTest, ConnectAsSaAndLookUpTheProductDatabase) {
    con.SetConnected(true);
    ASSERT_TRUE(con.Connected());
    EXPECT_EQ(last, "Connect: sa@KELVORA-PC"); // the link's own statements are not traced
    EXPECT_EQ(con.OLEDBSession()->DBMSName(), "Microsoft SQL Server");
    EXPECT_EQ(con.OLEDBSession()->ServerMajorVersion(), 8);
    EXPECT_EQ(databaseCount(), 0);
    execute("create database kelvora");
    EXPECT_EQ(databaseCount(), 1);
    EXPECT_TRUE(con.Connected()); // the explicit connect holds the link between statements
}

TEST_F(StandinTest, EmptyDatabaseReadsTheDefaultCatalog) {
    con.SetDatabase("");
    con.SetConnected(true);
    EXPECT_EQ(con.Database(), "master");
}

TEST_F(StandinTest, QueryOpensTheLinkItselfInDisconnectedMode) {
    EXPECT_EQ(databaseCount(), 0);
    EXPECT_FALSE(con.Connected());
    EXPECT_TRUE(q.Active());
}

TEST_F(StandinTest, FailingExecuteRaisesTheSilentAbort) {
    con.SetConnected(true);
    EXPECT_THROW(execute("use nothere"), EAbort);
    EXPECT_EQ(last.rfind("Error: ", 0), 0u) << last;
    EXPECT_NE(last.find("nothere"), std::string::npos) << last;
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(databaseCount(), 0); // the link is still usable
}

TEST_F(StandinTest, WrongPasswordLeavesTheConnectionClosed) {
    con.SetPassword("wrong");
    EXPECT_THROW(con.SetConnected(true), EAbort);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.UseCount(), 0);
    EXPECT_EQ(last.rfind("Error: ", 0), 0u) << last;
}

// The server drops the link: the error is fatal, the executing query forbids a silent re-open,
// so the connection closes itself and the disconnect is the last text.
TEST_F(StandinTest, FatalErrorOnAnOpenLinkClosesIt) {
    con.SetConnected(true);
    host.server().dropConnections();
    EXPECT_THROW(execute("select 1"), EAbort);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(last, "Disconnect: sa@KELVORA-PC");
}

TEST_F(StandinTest, OpenAndCloseManyTimes) {
    for (int i = 0; i < 20; ++i) {
        con.SetConnected(true);
        con.SetConnected(false);
    }
    EXPECT_FALSE(con.Connected());
}
