// TMSQuery over the recording fake provider: the text sent, batches, fetching, failures.
#include "query_fixture.h"
#include "toolkit/DB.h"

TEST_F(QueryTest, LinesAreJoinedAndTheTrailingLineEndIsCut) {
    con.SetConnected(true);
    setSQL({"use master", "create database kelvora  \t"});
    EXPECT_EQ(q.FinalSQL(), "use master\r\ncreate database kelvora");
    q.Execute();
    EXPECT_EQ(st().executed.back(), "use master\r\ncreate database kelvora");
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(traces.back().first, "use master\r\ncreate database kelvora");
    EXPECT_EQ(traces.back().second, tfQExecute);
}

TEST_F(QueryTest, OpenOnABatchReturnsTheSelectsRows) {
    st().statements[kSelect] = FakeStatement{S_OK, {}, {noRows(), rows(1)}};
    con.SetConnected(true);
    setSQL({"use master SELECT * FROM sysdatabases s", "WHERE s.[name]='kelvora'"});
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldText(0, "name"), "db0");
    q.Close();
    EXPECT_EQ(q.RecordCount(), 0);
    st().statements[kSelect] = FakeStatement{S_OK, {}, {noRows(), rows(0)}};
    q.Open();
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_EQ(con.UseCount(), 1);   // a fully read dataset holds no use of the link
    EXPECT_EQ(st().liveObjects, 3); // data source, session, the link's own command
}

TEST_F(QueryTest, ExecuteOnASelectLeavesTheDatasetOpen) {
    st().statements["select name from x"] = FakeStatement{S_OK, {}, {rows(3)}};
    bool executed = false;
    q.AfterExecute = [&](TObject*, bool ok) { executed = ok; };
    setSQL({"select name from x"});
    q.Execute();
    EXPECT_TRUE(executed);
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 3);
}

// Rounds of FetchRows rows, with the fetch events around each; a round without rows ends it.
TEST_F(QueryTest, FetchRoundsAndEvents) {
    st().statements["select"] = FakeStatement{S_OK, {}, {rows(60)}};
    int before = 0, after = 0;
    q.BeforeFetch = [&](TCustomDADataSet*, bool&) { ++before; };
    q.AfterFetch = [&](TCustomDADataSet*) { ++after; };
    setSQL({"select"});
    q.Open();
    EXPECT_EQ(q.RecordCount(), 60);
    EXPECT_EQ(st().fetchSizes, (std::vector<DBROWCOUNT>{25, 25, 25, 25}));
    EXPECT_EQ(before, 4);
    EXPECT_EQ(after, 4);
    EXPECT_EQ(q.Data().BlockCount(), 3);

    q.Close();
    q.SetFetchRows(10);
    q.BeforeFetch = [&](TCustomDADataSet*, bool& cancel) { cancel = q.RecordCount() >= 20; };
    q.Open();
    EXPECT_EQ(q.RecordCount(), 20);
    EXPECT_TRUE(q.Fetched());
}

TEST_F(QueryTest, FetchRowsRangeAndEmptySQL) {
    for (int bad : {0, 10001}) {
        try {
            q.SetFetchRows(bad);
            FAIL();
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "FetchRows must be 1..10000");
        }
    }
    q.SetFetchRows(10000);
    EXPECT_EQ(q.FetchRows(), 10000);
    try {
        q.Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "No SQL statement provided");
    }
    TMSQuery lonely(nullptr);
    lonely.SQL()->Add("select 1");
    try {
        lonely.Execute();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Connection is not defined");
    }
}

TEST_F(QueryTest, OpenOnAStatementWithoutRows) {
    setSQL({"use master"});
    try {
        q.Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Query must return exactly one result set - use Execute");
    }
    EXPECT_FALSE(q.Active());
}

// A failing statement: two OnSQL calls in order, then the silent abort; the dataset is
// closed, the link released and the text kept for a second run.
TEST_F(QueryTest, FailingStatementWithFailCleared) {
    const char text[] = "dbcc checkdb('kelvora') with no_infomsgs";
    FakeResult bad;
    bad.error = DB_E_ERRORSINCOMMAND;
    bad.records = {serverError(8928, 16, "Object ID 1: page (1:158) could not be processed.")};
    st().statements[text] = FakeStatement{S_OK, {}, {bad}};
    con.OnError = [](TObject*, EDAError&, bool& Fail) { Fail = false; };
    con.SetConnected(true);
    traces.clear();
    std::vector<bool> afterExecute;
    q.AfterExecute = [&](TObject*, bool ok) { afterExecute.push_back(ok); };
    setSQL({text});
    EXPECT_THROW(q.Execute(), EAbort);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[0].first, text);
    EXPECT_EQ(traces[0].second, tfQExecute);
    EXPECT_EQ(traces[1].first, "Error: Object ID 1: page (1:158) could not be processed.");
    EXPECT_EQ(traces[1].second, tfError);
    EXPECT_EQ(afterExecute, std::vector<bool>{false});
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(con.UseCount(), 1);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(q.FinalSQL(), text);
    EXPECT_THROW(q.Execute(), EAbort); // the same statement runs again
}

TEST_F(QueryTest, AnErrorInTheFirstStatementStillConsumesTheBatch) {
    FakeResult bad;
    bad.error = DB_E_ERRORSINCOMMAND;
    bad.records = {serverError(911, 16, "Could not locate entry in sysdatabases.")};
    st().statements["use nothere\r\nselect 1\r\nselect 2"] =
        FakeStatement{S_OK, {}, {bad, noRows(1), noRows(2)}};
    setSQL({"use nothere", "select 1", "select 2"});
    EXPECT_THROW(q.Execute(), EMSError);
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "GetResult"), 4);
}

TEST_F(QueryTest, RowsAffectedOfTheLastResultWithACount) {
    st().statements["update"] = FakeStatement{S_OK, {}, {noRows(3), noRows(-1)}};
    setSQL({"update"});
    q.Execute();
    EXPECT_EQ(q.RowsAffected(), 3);
}

TEST_F(QueryTest, ParametersAreBoundAndTraced) {
    setSQL({"select * from t where id = :p and x = ':no'"});
    ASSERT_EQ(q.Params().Count(), 1);
    q.Params().ParamByName("p").SetAsInteger(5);
    q.Execute();
    EXPECT_EQ(st().executed.back(), "select * from t where id = ? and x = ':no'");
    EXPECT_EQ(st().paramValues, std::vector<std::string>{"5"});
    EXPECT_EQ(traces[1].first, "select * from t where id = :p and x = ':no'\r\n:p(Integer,IN)=5");
    // A rescan keeps the value of a surviving name.
    q.SQL()->Add("or id = :q");
    EXPECT_EQ(q.Params().Count(), 2);
    EXPECT_EQ(q.Params().ParamByName("p").AsString(), "5");
    q.SetParamCheck(false);
    q.SQL()->Clear();
    EXPECT_EQ(q.Params().Count(), 2); // without ParamCheck the list stays
}

// Disconnected mode: a query opens the link itself and the link closes once the rows are read;
// the rows stay.
TEST_F(QueryTest, DisconnectedModeReleasesTheLinkAfterReading) {
    con.Options()->SetDisconnectedMode(true);
    st().statements["select"] = FakeStatement{S_OK, {}, {rows(2)}};
    setSQL({"select"});
    q.Open();
    EXPECT_FALSE(con.Connected());
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 2);
    con.SetConnected(true);
    q.Close();
    q.Open();
    EXPECT_TRUE(con.Connected());
}

TEST_F(QueryTest, ChangingTheLinesClosesTheDataset) {
    st().statements["select"] = FakeStatement{S_OK, {}, {rows(2)}};
    setSQL({"select"});
    q.Open();
    q.SQL()->Add("x");
    EXPECT_FALSE(q.Active());
}

// With local fail-over, a fatal error during Execute whose handler asks for a re-execution
// re-opens the link and runs the statement again.
TEST_F(QueryTest, ExecuteRunsAgainAfterALocalFailOver) {
    const char text[] = "update t set x = 1";
    FakeResult lost;
    lost.error = DB_E_ERRORSINCOMMAND;
    lost.records = {serverError(10054, 20, "Communication link failure.")};
    st().statements[text] = FakeStatement{S_OK, {}, {lost}};
    con.Options()->SetLocalFailover(true);
    int lostCalls = 0;
    TConnLostCause seen = clUnknown;
    con.OnConnectionLost = [&](TObject*, TComponent* comp, TConnLostCause cause, TRetryMode& mode) {
        ++lostCalls;
        seen = cause;
        EXPECT_EQ(comp, &q);
        mode = rmReconnectExecute;
        st().statements[text] = FakeStatement{S_OK, {}, {noRows(4)}};
    };
    int errors = 0;
    con.OnError = [&](TObject*, EDAError&, bool&) { ++errors; };
    std::vector<bool> afterExecute;
    q.AfterExecute = [&](TObject*, bool ok) { afterExecute.push_back(ok); };
    con.SetConnected(true);
    setSQL({text});
    q.Execute();
    EXPECT_EQ(lostCalls, 1);
    EXPECT_EQ(seen, clExecute);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(q.RowsAffected(), 4);
    EXPECT_EQ(afterExecute, std::vector<bool>{true});
    EXPECT_EQ(std::count(st().executed.begin(), st().executed.end(), std::string(text)), 2);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);
}

// Without a handler that asks for it, the same error leaves Execute.
TEST_F(QueryTest, ExecuteWithoutARetryRequestFails) {
    const char text[] = "update t set x = 1";
    FakeResult lost;
    lost.error = DB_E_ERRORSINCOMMAND;
    lost.records = {serverError(10054, 20, "Communication link failure.")};
    st().statements[text] = FakeStatement{S_OK, {}, {lost}};
    con.Options()->SetLocalFailover(true);
    con.SetConnected(true);
    setSQL({text});
    EXPECT_THROW(q.Execute(), EMSError);
    EXPECT_EQ(std::count(st().executed.begin(), st().executed.end(), std::string(text)), 1);
}

// A failed execution reports the first parameter the provider marked as failed.
TEST_F(QueryTest, ParameterStatusAfterAFailedExecution) {
    const std::pair<DBSTATUS, std::string> cases[] = {
        {DBSTATUS_E_BADACCESSOR, "invalid ParamType"},
        {DBSTATUS_E_CANTCONVERTVALUE, "invalid Value"},
        {DBSTATUS_S_TRUNCATED, "data truncated"},
        {DBSTATUS_E_SIGNMISMATCH, "sign mismatch"},
        {DBSTATUS_E_DATAOVERFLOW, "data overflow"},
        {DBSTATUS_E_CANTCREATE, "could not allocate memory for return data"},
        {DBSTATUS_E_INTEGRITYVIOLATION,
         "the data value violates the integrity constraints for the column"},
        {DBSTATUS_E_SCHEMAVIOLATION,
         "the data value violates the schema's constraint for the column"},
        {DBSTATUS_E_BADSTATUS, "bad status"},
        {DBSTATUS_E_UNAVAILABLE, "unknown status"},
    };
    const char sent[] = "insert t values (?, ?)";
    setSQL({"insert t values (:a, :b)"});
    q.Params().ParamByName("a").SetAsInteger(1);
    q.Params().ParamByName("b").SetAsInteger(2);
    for (const auto& [status, words] : cases) {
        st().statements[sent] = FakeStatement{DB_E_ERRORSOCCURRED, {}, {}};
        st().paramStatuses[sent] = {DBSTATUS_S_OK, status};
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(status));
        try {
            q.Execute();
            ADD_FAILURE() << "no failure for status " << status;
        } catch (const EOLEDBError& e) { // through the connection's error path
            EXPECT_EQ(e.ProviderResult(), DB_E_ERRORSOCCURRED);
            EXPECT_EQ(std::string(e.Message()),
                      "Parameter[1] :b - " + words + " (Status = " + hex + "h).");
        }
        EXPECT_FALSE(q.Active());
    }
    // A parameter that only came back null or at its default is no failure of its own.
    st().paramStatuses[sent] = {DBSTATUS_S_ISNULL, DBSTATUS_S_DEFAULT};
    EXPECT_THROW(q.Execute(), EOLEDBError);
}

// With QueryRecCount and rows left unread, RecordCount is the server's count from a separate
// query made at open; once every row is read it is the rows in memory again.
TEST_F(QueryTest, QueryRecCountAsksTheServerWhenNotAllRowsAreRead) {
    FakeResult count;
    count.rowset = true;
    count.columns = {"n"};
    count.rows = {{"42"}};
    st().statements["SELECT COUNT(*) FROM (select) AS counted"] = FakeStatement{S_OK, {}, {count}};
    st().statements["select"] = FakeStatement{S_OK, {}, {rows(5)}};
    setSQL({"select"});
    q.Options()->QueryRecCount = true;
    q.SetFetchAll(false);
    q.SetFetchRows(2);
    con.SetConnected(true);
    st().executed.clear();
    q.Open();
    ASSERT_EQ(st().executed.size(), 2u);
    EXPECT_EQ(st().executed[0], "SELECT COUNT(*) FROM (select) AS counted");
    EXPECT_EQ(st().executed[1], "select");
    EXPECT_EQ(q.RecordCount(), 42);
    while (q.FetchNext()) {
    }
    EXPECT_EQ(q.RecordCount(), 5);
    q.Close();
    EXPECT_EQ(q.RecordCount(), 0);

    // Reading every row at open needs no count query.
    st().executed.clear();
    q.SetFetchAll(true);
    q.Open();
    EXPECT_EQ(st().executed, std::vector<std::string>{"select"});
    EXPECT_EQ(q.RecordCount(), 5);

    // Without the option there is none either.
    q.Close();
    st().executed.clear();
    q.Options()->QueryRecCount = false;
    q.SetFetchAll(false);
    q.Open();
    EXPECT_EQ(st().executed, std::vector<std::string>{"select"});
    EXPECT_EQ(q.RecordCount(), 2);
}
