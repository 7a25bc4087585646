// What a statement sends: the text after a failed scan, parameters bound by name and by type,
// output parameters read back, long values, the count query of QueryRecCount, and the
// parameter list the monitor shows.
#include "query_fixture.h"
#include "toolkit/SysUtils.h"

#include <cstdio>

namespace {

std::string exact(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

} // namespace

// A line that the parameter or macro scan refuses is in SQL already; until the text scans,
// nothing runs, and certainly not the previous statement.
TEST_F(QueryTest, AFailedScanLeavesNothingToExecute) {
    con.SetConnected(true);
    setSQL({"delete from t"});
    for (const char* bad : {"where id = :id\x01 and 1 = 1", "where id = &m\x01 and 1 = 1"}) {
        EXPECT_THROW(q.SQL()->Add(bad), Exception) << bad;
        st().executed.clear();
        traces.clear();
        EXPECT_THROW(q.Execute(), Exception);
        EXPECT_THROW(q.Open(), Exception);
        EXPECT_THROW(q.Prepare(), Exception);
        EXPECT_TRUE(st().executed.empty()) << st().executed.front();
        EXPECT_TRUE(traces.empty());
        EXPECT_FALSE(q.Prepared());
        q.SQL()->Delete(1);
    }
    q.SQL()->Add("where id = :id");
    q.Params().ParamByName("id").SetAsInteger(3);
    q.Execute();
    EXPECT_EQ(st().executed.back(), "delete from t\r\nwhere id = ?");
    EXPECT_EQ(st().paramValues, std::vector<std::string>{"3"});
}

// A prepared statement whose new text fails to scan is unprepared.
TEST_F(QueryTest, AFailedScanUnprepares) {
    con.SetConnected(true);
    setSQL({"delete from t"});
    q.Prepare();
    ASSERT_TRUE(q.Prepared());
    EXPECT_THROW(q.SQL()->Add("where id = :id\x01 and 1 = 1"), Exception);
    EXPECT_FALSE(q.Prepared());
    EXPECT_THROW(q.Execute(), Exception);
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "Execute:delete from t"), 0);
}

// Every marker is bound to the parameter of its name, also a name used twice.
TEST_F(QueryTest, MarkersAreBoundByName) {
    setSQL({"select :x as a, :y as b, :x as c"});
    ASSERT_EQ(q.Params().Count(), 2);
    q.Params().ParamByName("y").SetAsString("yes");
    q.Params().ParamByName("x").SetAsInteger(7);
    q.Execute();
    EXPECT_EQ(st().executed.back(), "select ? as a, ? as b, ? as c");
    EXPECT_EQ(st().paramValues, (std::vector<std::string>{"7", "yes", "7"}));
}

// Parameters travel in their own type: no digits lost, no Boolean as text.
TEST_F(QueryTest, ParametersAreBoundByType) {
    setSQL({"insert t values (:i, :f, :b, :s, :n, :typed)"});
    q.Params().ParamByName("i").SetAsInteger(-9007199254740993LL);
    q.Params().ParamByName("f").SetAsFloat(0.1 + 0.2);
    q.Params().ParamByName("b").SetAsBoolean(true);
    q.Params().ParamByName("s").SetAsString("Şişli");
    q.Params().ParamByName("n").SetDataType(ftInteger);
    auto& typed = q.Params().ParamByName("typed");
    typed.SetDataType(ftFloat);
    typed.SetAsString("2.5");
    q.Execute();
    EXPECT_EQ(st().paramTypes, (std::vector<DBTYPE>{DBTYPE_I8, DBTYPE_R8, DBTYPE_BOOL, DBTYPE_WSTR,
                                                    DBTYPE_I8, DBTYPE_R8}));
    EXPECT_EQ(st().paramValues, (std::vector<std::string>{"-9007199254740993", exact(0.1 + 0.2),
                                                          "true", "Şişli", "<null>", "2.5"}));

    // A text that is no number does not reach the provider as one.
    typed.SetAsString("two and a half");
    st().executed.clear();
    try {
        q.Execute();
        ADD_FAILURE() << "no failure";
    } catch (const EDAError& e) {
        EXPECT_EQ(e.Message(), "Parameter[5] :typed - invalid Value (Status = 2h).");
    }
    EXPECT_TRUE(st().executed.empty());
}

// Output and input/output parameters are bound as such and read back after the execution.
TEST_F(QueryTest, OutputParametersAreReadBack) {
    setSQL({"exec p :in, :out, :both"});
    q.Params().ParamByName("in").SetAsInteger(1);
    auto& out = q.Params().ParamByName("out");
    out.SetDataType(ftInteger);
    out.SetParamType(ptOutput);
    auto& both = q.Params().ParamByName("both");
    both.SetAsString("before");
    both.SetParamType(ptInputOutput);
    FakeStatement call{S_OK, {}, {noRows()}};
    call.outputs = {{2, "42"}, {3, "after"}};
    st().statements["exec p ?, ?, ?"] = call;
    q.Execute();
    EXPECT_EQ(st().paramIO, (std::vector<DBPARAMIO>{DBPARAMIO_INPUT, DBPARAMIO_OUTPUT,
                                                    DBPARAMIO_INPUT | DBPARAMIO_OUTPUT}));
    EXPECT_EQ(st().paramValues, (std::vector<std::string>{"1", "<out>", "before"}));
    EXPECT_EQ(out.AsString(), "42");
    EXPECT_EQ(both.AsString(), "after");

    // An output text is bound by reference: one of any length comes back whole, never cut.
    call.outputs = {{3, std::string(100000, 'x')}};
    st().statements["exec p ?, ?, ?"] = call;
    both.SetAsString("short");
    q.Execute();
    EXPECT_EQ(both.AsString(), std::string(100000, 'x'));
}

// A text parameter longer than 4000 characters is sent whole.
TEST_F(QueryTest, LongParameterValuesAreSentWhole) {
    setSQL({"insert t values (:memo, :bin)"});
    std::string memo;
    for (int i = 0; i < 1500; ++i)
        memo += "Şişli ";
    const std::string bin(9000, '\x7f');
    q.Params().ParamByName("memo").SetAsString(memo);
    auto& b = q.Params().ParamByName("bin");
    b.SetDataType(ftVarBytes);
    b.SetAsString(bin);
    q.Execute();
    ASSERT_EQ(st().paramValues.size(), 2u);
    EXPECT_EQ(st().paramValues[0], memo);
    EXPECT_EQ(st().paramTypes[1], DBTYPE_BYTES);
    EXPECT_EQ(st().paramValues[1], bin);
}

// The count query of QueryRecCount drops trailing comments and the outer ORDER BY; a text it
// cannot wrap is counted by its fetched rows.
TEST_F(QueryTest, QueryRecCountWrapsOnlyWhatItCan) {
    FakeResult count;
    count.rowset = true;
    count.columns = {"n"};
    count.rows = {{"9"}};
    const std::string wrapped =
        "SELECT COUNT(*) FROM (select name from t where x in (select top 3 x from u order by "
        "x)) AS counted";
    st().statements[wrapped] = FakeStatement{S_OK, {}, {count}};
    const char text[] = "select name from t where x in (select top 3 x from u order by x)\r\n"
                        "ORDER BY name -- newest first";
    st().statements[text] = FakeStatement{S_OK, {}, {rows(5)}};
    q.Options()->QueryRecCount = true;
    q.SetFetchAll(false);
    q.SetFetchRows(2);
    con.SetConnected(true);
    setSQL({"select name from t where x in (select top 3 x from u order by x)",
            "ORDER BY name -- newest first"});
    st().executed.clear();
    q.Open();
    ASSERT_EQ(st().executed.size(), 2u);
    EXPECT_EQ(st().executed[0], wrapped);
    EXPECT_EQ(q.RecordCount(), 9);

    st().statements[kSelect] = FakeStatement{S_OK, {}, {noRows(), rows(5)}};
    setSQL({"use master SELECT * FROM sysdatabases s", "WHERE s.[name]='kelvora'"});
    st().executed.clear();
    q.Open();
    EXPECT_EQ(st().executed, std::vector<std::string>{kSelect});
    EXPECT_EQ(q.RecordCount(), 2);
}

// A count query the server refuses (the select cannot stand as a derived table) is no failure
// of the dataset: Open goes on, nothing reaches OnError or the monitor, and RecordCount counts
// the fetched rows; the count's parameters are those of the statement.
TEST_F(QueryTest, QueryRecCountFallsBackWhenTheCountFails) {
    std::vector<std::string> errors;
    con.OnError = [&](TObject*, EDAError& e, bool&) { errors.push_back(e.Message()); };
    const std::string wrapped = "SELECT COUNT(*) FROM (select count(*) from t where x = ?) AS "
                                "counted";
    st().statements[wrapped] =
        FakeStatement{DB_E_ERRORSINCOMMAND,
                      {serverError(8155, 16, "No column was specified for column 1 of 'counted'.")},
                      {}};
    st().statements["select count(*) from t where x = ?"] = FakeStatement{S_OK, {}, {rows(3)}};
    q.Options()->QueryRecCount = true;
    q.SetFetchAll(false);
    q.SetFetchRows(2);
    con.SetConnected(true);
    setSQL({"select count(*) from t where x = :x"});
    q.Params().ParamByName("x").SetAsInteger(4);
    st().executed.clear();
    traces.clear();
    q.Open();
    ASSERT_EQ(st().executed.size(), 2u);
    EXPECT_EQ(st().executed[0], wrapped);
    EXPECT_EQ(st().paramValues, std::vector<std::string>{"4"});
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_TRUE(errors.empty());
    for (const auto& t : traces)
        EXPECT_EQ(t.first.rfind("Error: ", 0), std::string::npos) << t.first;
}

// The monitor shows the length of a text parameter in characters.
TEST_F(QueryTest, MonitorCountsCharacters) {
    setSQL({"select :s"});
    q.Params().ParamByName("s").SetAsString("Şişli");
    q.Execute();
    EXPECT_EQ(traces[1].first, "select :s\r\n:s(String[5],IN)='Şişli'");
}
