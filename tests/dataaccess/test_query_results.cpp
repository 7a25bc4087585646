// What a statement returns: errors of later results of a batch, failures while fetching,
// the disconnect around a held cursor, the layer's own provider errors, and long values.
#include "query_fixture.h"

namespace {

FakeResult failing(HRESULT hr, int number, int cls, std::string text) {
    FakeResult r;
    r.error = hr;
    r.records = {serverError(number, cls, std::move(text))};
    return r;
}

// Counts OnError calls and the connection's disconnect events.
class ResultsTest : public QueryTest {
protected:
    void SetUp() override {
        QueryTest::SetUp();
        con.OnError = [this](TObject*, EDAError& e, bool&) { errors.push_back(e.Message()); };
        con.BeforeDisconnect = [this](TObject*) { ++beforeDisconnect; };
        con.AfterDisconnect = [this](TObject*) { ++afterDisconnect; };
    }
    void TearDown() override {
        // The connection outlives this part of the fixture; its events must not call back.
        con.OnError = nullptr;
        con.BeforeDisconnect = nullptr;
        con.AfterDisconnect = nullptr;
        con.OnInfoMessage = nullptr;
    }
    std::string lastTrace() const { return traces.empty() ? "" : traces.back().first; }

    std::vector<std::string> errors;
    int beforeDisconnect = 0;
    int afterDisconnect = 0;
};

} // namespace

// An error of a statement after the batch's rowset is raised once the rows are read, through
// the connection's error path; a fatal one closes the link.
TEST_F(ResultsTest, ErrorsAfterTheFirstRowsetAreRaised) {
    const char text[] = "select name from sysdatabases\r\nselect * from nothere";
    st().statements[text] = FakeStatement{
        S_OK,
        {},
        {rows(2), failing(DB_E_ERRORSINCOMMAND, 208, 16, "Invalid object name 'nothere'.")}};
    con.SetConnected(true);
    setSQL({"select name from sysdatabases", "select * from nothere"});
    EXPECT_THROW(q.Open(), EMSError);
    EXPECT_EQ(errors, std::vector<std::string>{"Invalid object name 'nothere'."});
    EXPECT_EQ(lastTrace(), "Error: Invalid object name 'nothere'.");
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);

    errors.clear();
    EXPECT_THROW(q.Execute(), EMSError);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(q.Active());

    st().statements[text] =
        FakeStatement{S_OK, {}, {rows(1), failing(DB_E_ERRORSINCOMMAND, 0, 20, "Severe error.")}};
    EXPECT_THROW(q.Open(), EMSError);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(beforeDisconnect, 1);
    EXPECT_EQ(afterDisconnect, 1);
}

// Informational messages of later results still arrive, and the count of the last result
// with one is RowsAffected.
TEST_F(ResultsTest, LaterResultsWithoutErrorsPassQuietly) {
    FakeResult printed = noRows(4);
    kv::oledb::ErrorRecordData info = serverError(0, 0, "done");
    printed.records = {info};
    st().statements["select"] = FakeStatement{S_OK, {}, {rows(3), printed}};
    std::vector<std::string> messages;
    con.OnInfoMessage = [&](TObject*, EMSError& e) { messages.push_back(e.Message()); };
    setSQL({"select"});
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(messages, std::vector<std::string>{"done"});
    EXPECT_EQ(q.RowsAffected(), 4);
    EXPECT_TRUE(errors.empty());
}

// A fatal GetData failure closes the link (and with it the dataset) from inside the fetch;
// the fetch must still release its row handles on the rowset it was reading.
TEST_F(ResultsTest, FatalFailureWhileReadingARow) {
    FakeResult r = rows(3);
    r.failingRow = 1;
    r.rowError = DB_E_ERRORSOCCURRED;
    r.rowRecords = {serverError(10054, 20, "Communication link failure.")};
    st().statements["select"] = FakeStatement{S_OK, {}, {r}};
    con.SetConnected(true);
    setSQL({"select"});
    EXPECT_THROW(q.Open(), EMSError);
    EXPECT_FALSE(q.Active());
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.UseCount(), 0);
    EXPECT_EQ(errors, std::vector<std::string>{"Communication link failure."});
    EXPECT_EQ(beforeDisconnect, 1);
    EXPECT_EQ(afterDisconnect, 1);
}

// Execute on a select whose fetch fails: the command itself completed, so AfterExecute tells
// that once and the fetch error leaves Execute without a second, contradicting report.
TEST_F(ResultsTest, AFetchFailureAfterExecuteIsReportedOnce) {
    FakeResult r = rows(3);
    r.failingRow = 2;
    r.rowError = DB_E_ERRORSOCCURRED;
    r.rowRecords = {serverError(10054, 20, "Communication link failure.")};
    st().statements["select"] = FakeStatement{S_OK, {}, {r}};
    std::vector<bool> afterExecute;
    q.AfterExecute = [&](TObject*, bool ok) { afterExecute.push_back(ok); };
    con.SetConnected(true);
    setSQL({"select"});
    EXPECT_THROW(q.Execute(), EMSError);
    EXPECT_EQ(afterExecute, std::vector<bool>{true});
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(con.UseCount(), 0);

    // A command that fails is still reported as failed, once.
    afterExecute.clear();
    FakeResult bad;
    bad.error = DB_E_ERRORSINCOMMAND;
    bad.records = {serverError(208, 16, "Invalid object name 'x'.")};
    st().statements["select"] = FakeStatement{S_OK, {}, {bad}};
    con.SetConnected(true);
    EXPECT_THROW(q.Execute(), EMSError);
    EXPECT_EQ(afterExecute, std::vector<bool>{false});
    EXPECT_EQ(con.UseCount(), 1);
}

// In disconnected mode a held cursor releases its use while the link closes; the disconnect
// runs once, whether the application or a fatal error asked for it.
TEST_F(ResultsTest, DisconnectWithAHeldCursorRunsOnce) {
    con.Options()->SetDisconnectedMode(true);
    FakeResult r = rows(6);
    st().statements["select"] = FakeStatement{S_OK, {}, {r}};
    con.SetConnected(true);
    q.SetFetchAll(false);
    q.SetFetchRows(2);
    setSQL({"select"});
    q.Open();
    EXPECT_EQ(con.UseCount(), 2);
    con.SetConnected(false);
    EXPECT_EQ(beforeDisconnect, 1);
    EXPECT_EQ(afterDisconnect, 1);
    EXPECT_FALSE(q.Active());

    r.failingRow = 3;
    r.rowError = DB_E_ERRORSOCCURRED;
    r.rowRecords = {serverError(0, 20, "Severe error.")};
    st().statements["select"] = FakeStatement{S_OK, {}, {r}};
    beforeDisconnect = afterDisconnect = 0;
    con.SetConnected(true);
    q.Open();
    EXPECT_THROW(q.FetchNext(), EMSError);
    EXPECT_FALSE(con.Connected());
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(beforeDisconnect, 1);
    EXPECT_EQ(afterDisconnect, 1);
}

// Execute on a select in disconnected mode without an explicit connect keeps the rows, as
// Open does, although the link closes at the end of the fetch.
TEST_F(ResultsTest, ExecuteInDisconnectedModeKeepsTheRows) {
    con.Options()->SetDisconnectedMode(true);
    st().statements["select name from x"] = FakeStatement{S_OK, {}, {rows(3)}};
    setSQL({"select name from x"});
    q.Execute();
    EXPECT_FALSE(con.Connected());
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(q.FieldText(2, "name"), "db2");
}

// The failures the layer words itself go through the same error path as the provider's: the
// monitor's "Error: " text, OnError, and the silent abort when OnError clears Fail.
TEST_F(ResultsTest, LayerWordedFailuresTakeTheErrorPath) {
    con.OnError = [this](TObject*, EDAError& e, bool& Fail) {
        errors.push_back(e.Message());
        Fail = false;
    };
    st().statements["select 1"] = FakeStatement{DB_E_OBJECTOPEN, {}, {}};
    setSQL({"select 1"});
    EXPECT_THROW(q.Execute(), EAbort);
    const std::string busy =
        "Cannot execute command in current transaction context until previous opened DataSet "
        "(CursorType is ctDefaultResultSet) is fetched to end";
    EXPECT_EQ(errors, std::vector<std::string>{busy});
    EXPECT_EQ(lastTrace(), "Error: " + busy);

    const char sent[] = "insert t values (?, ?)";
    setSQL({"insert t values (:a, :b)"});
    q.Params().ParamByName("a").SetAsInteger(1);
    q.Params().ParamByName("b").SetAsInteger(2);
    st().statements[sent] = FakeStatement{DB_E_ERRORSOCCURRED, {}, {}};
    st().paramStatuses[sent] = {DBSTATUS_S_OK, DBSTATUS_E_DATAOVERFLOW};
    errors.clear();
    EXPECT_THROW(q.Execute(), EAbort);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Parameter[1] :b - data overflow (Status = 6h).");
    EXPECT_EQ(lastTrace(), "Error: " + errors[0]);
}

// Values longer than the row buffer's text slot arrive whole.
TEST_F(ResultsTest, LongValuesAreFetchedWhole) {
    FakeResult r;
    r.rowset = true;
    r.columns = {"memo", "short"};
    std::string memo;
    for (int i = 0; i < 1200; ++i)
        memo += "Şişli "; // 6000 UTF-16 units, more UTF-8 bytes
    r.rows = {{memo, "a"}, {"b", "c"}};
    st().statements["select memo"] = FakeStatement{S_OK, {}, {r}};
    setSQL({"select memo"});
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldText(0, "memo"), memo);
    EXPECT_EQ(q.FieldText(0, "short"), "a");
    EXPECT_EQ(q.FieldText(1, "memo"), "b");
}

// A cancel request that reaches the command while the batch answers reaches the provider's
// command, and the result walk raises the cancel error instead of going on.
TEST_F(ResultsTest, ACancelDuringTheWalkRaisesTheCancelError) {
    st().statements["update t set x = 1\r\nselect name from t"] =
        FakeStatement{S_OK, {}, {noRows(5), rows(2)}};
    st().onExecute = [this](const std::string&) { q.BreakExec(); };
    con.SetConnected(true);
    setSQL({"update t set x = 1", "select name from t"});
    try {
        q.Execute();
        ADD_FAILURE() << "no failure";
    } catch (const EOLEDBError& e) {
        EXPECT_EQ(e.ProviderResult(), DB_E_CANCELED);
    }
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "Cancel"), 1);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(con.Connected());

    // The next statement runs normally.
    st().onExecute = nullptr;
    q.Execute();
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 2);
}

// A request made once the statement runs but before the provider's Execute has started (here
// while the parameter accessor is made) stops it: a provider ignores a cancel that comes
// before its Execute, so the layer itself must not let the statement leave.
TEST_F(ResultsTest, ACancelBeforeTheProviderStartsStopsTheStatement) {
    st().statements["waitfor delay ?"] = FakeStatement{S_OK, {}, {noRows()}};
    con.SetConnected(true);
    setSQL({"waitfor delay :d"});
    q.Params().ParamByName("d").SetAsString("00:00:03");
    st().onCreateAccessor = [this] {
        EXPECT_TRUE(q.Executing());
        q.BreakExec();
    };
    try {
        q.Execute();
        ADD_FAILURE() << "no failure";
    } catch (const EOLEDBError& e) {
        EXPECT_EQ(e.ProviderResult(), DB_E_CANCELED);
        EXPECT_EQ(e.Message(), "Operation canceled");
    }
    const auto runs = [this] {
        return std::count(st().executed.begin(), st().executed.end(), "waitfor delay ?");
    };
    EXPECT_EQ(runs(), 0);

    // A request while nothing runs is dropped: the next execution runs.
    st().onCreateAccessor = nullptr;
    q.Prepare();
    q.BreakExec();
    q.Execute();
    EXPECT_EQ(runs(), 1);
}
