// Statements whose outcome depends on the wire, through TMSConnection and TMSQuery against the
// stand-in SQL Server in both profiles (TDS 7.1 and 7.2): long texts, errors later in a batch.
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "tests/support/standin_fixture.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace kv::dataaccess;

namespace {

class StandinStatements : public testing::TestWithParam<kv::standin::Profile> {
protected:
    void SetUp() override {
        monitor.OnSQL = [this](TObject*, const std::string& t, TDATraceFlag) { last = t; };
        con.SetLoginPrompt(false);
        con.OnError = [this](TObject*, EDAError& e, bool&) { errors.push_back(e.Message()); };
        con.SetDatabase("master");
        con.SetUsername("sa");
        con.SetPassword("k");
        con.SetServer("KELVORA-PC");
        q.SetConnection(&con);
    }
    void setSQL(const std::string& text) {
        q.Close();
        q.SQL()->Clear();
        q.SQL()->Add(text);
    }

    std::string last;
    std::vector<std::string> errors;
    kv::oledb::ComScope com;
    kv::oledb::testing::StandinHost host{GetParam()};
    TMSSQLMonitor monitor{nullptr};
    TMSConnection con{nullptr};
    TMSQuery q{nullptr};
};

std::string longText(int repeats) {
    std::string text;
    for (int i = 0; i < repeats; ++i)
        text += "Şişli " + std::to_string(i) + " ";
    return text;
}

} // namespace

// A text parameter of more than 4000 characters reaches the server whole, and the server's
// long text (ntext in TDS 7.1, nvarchar(max) from 7.2 on) comes back whole.
TEST_P(StandinStatements, LongTextsTravelWhole) {
    con.SetConnected(true);
    const std::string memo = longText(1000); // about 10000 characters
    setSQL("select :memo as memo, N'short' as s");
    q.Params().ParamByName("memo").SetAsString(memo);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldText(0, "memo"), memo);
    EXPECT_EQ(q.FieldText(0, "s"), "short");
    EXPECT_TRUE(errors.empty());
}

// An error of a statement after the batch's rows raises, after the rows were read.
TEST_P(StandinStatements, ErrorAfterTheRowsetIsRaised) {
    con.SetConnected(true);
    setSQL("select name from sysdatabases select * from nothere");
    EXPECT_THROW(q.Open(), EMSError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("nothere"), std::string::npos) << errors[0];
    EXPECT_EQ(last, "Error: " + errors[0]);
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(con.Connected());
    setSQL("select name from sysdatabases");
    q.Open(); // the link is free again
    EXPECT_GT(q.RecordCount(), 0);
}

// A cancel from another thread stops a batch the server is still working on: the attention
// reaches the server, the running Execute raises the cancel error, the link stays usable.
TEST_P(StandinStatements, CancelStopsARunningBatch) {
    con.SetConnected(true);
    setSQL("waitfor delay '00:10:00' select 1");
    std::atomic<bool> finished = false;
    HRESULT outcome = S_OK;
    std::thread runner([&] {
        try {
            q.Execute();
        } catch (const EOLEDBError& e) {
            outcome = e.ProviderResult();
        } catch (...) {
            outcome = E_FAIL;
        }
        finished = true;
    });
    // Ask until the running command has heard it; a request before the batch left is
    // forgotten when the command starts.
    while (!finished) {
        if (q.Executing())
            q.BreakExec();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    runner.join();
    EXPECT_EQ(outcome, DB_E_CANCELED);
    EXPECT_TRUE(con.Connected());
    setSQL("select name from sysdatabases");
    q.Open();
    EXPECT_GT(q.RecordCount(), 0);
}

// A cancel is for the command that runs when it is made. Neither a request on an idle dataset
// nor requests that arrive after a cancelled command has ended touch the connection's own
// statements ("use" for Database, the catalogs for GetDatabaseNames, SET QUOTED_IDENTIFIER)
// or the next statement of the dataset.
TEST_P(StandinStatements, CancelDoesNotOutliveItsCommand) {
    con.SetConnected(true);
    auto sessionStatementsWork = [&](const std::string& database) {
        errors.clear();
        con.SetDatabase(database);
        EXPECT_TRUE(errors.empty()) << errors.front();
        TMSQuery where(nullptr);
        where.SetConnection(&con);
        where.SQL()->Add("select db_name() as db");
        where.Open();
        EXPECT_EQ(where.FieldText(0, "db"), database);
        TStringList names;
        con.GetDatabaseNames(&names);
        EXPECT_EQ(names.Count(), 4) << names.Text();
        con.Options()->SetQuotedIdentifier(false);
        con.Options()->SetQuotedIdentifier(true);
        EXPECT_TRUE(errors.empty()) << errors.front();
    };

    // On an idle, prepared dataset.
    setSQL("select name from master.dbo.sysdatabases");
    q.Prepare();
    q.BreakExec();
    sessionStatementsWork("msdb");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4);
    EXPECT_TRUE(errors.empty());

    // After a cancelled command, with requests still coming after it ended.
    setSQL("waitfor delay '00:10:00' select 1");
    std::atomic<bool> finished = false;
    std::thread runner([&] {
        try {
            q.Execute();
        } catch (...) {
        }
        finished = true;
    });
    while (!finished) {
        q.BreakExec();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    runner.join();
    for (int i = 0; i < 3; ++i)
        q.BreakExec();
    sessionStatementsWork("tempdb");
    setSQL("select name from master.dbo.sysdatabases");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4);
}

// One request, made at any moment while the command runs, stops it: here as soon as
// Executing() reads true, before the provider has started the batch. A lost request would let
// the waitfor run to its end and Execute succeed.
TEST_P(StandinStatements, OneCancelStopsTheCommandWhenever) {
    con.SetConnected(true);
    setSQL("waitfor delay '00:00:03' select 1");
    for (int attempt = 0; attempt < 6; ++attempt) {
        std::atomic<bool> finished = false;
        HRESULT outcome = S_OK;
        std::thread runner([&] {
            try {
                q.Execute();
            } catch (const EOLEDBError& e) {
                outcome = e.ProviderResult();
            } catch (...) {
                outcome = E_FAIL;
            }
            finished = true;
        });
        while (!finished && !q.Executing()) {
        }
        q.BreakExec();
        runner.join();
        EXPECT_EQ(outcome, DB_E_CANCELED) << "attempt " << attempt;
        q.Close();
    }
    EXPECT_TRUE(con.Connected());
}

// A cancel while the dataset still reads the first result of a batch whose next statement is
// still running on the server: the fetch raises the cancel error, the attention stops the
// server, and the link is free again.
TEST_P(StandinStatements, CancelWhileFetching) {
    con.SetConnected(true);
    q.SetFetchAll(false);
    q.SetFetchRows(1);
    setSQL("select name from sysdatabases waitfor delay '00:10:00' select 1");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    q.BreakExec();
    try {
        while (q.FetchNext()) {
        }
        ADD_FAILURE() << "no failure";
    } catch (const EOLEDBError& e) {
        EXPECT_EQ(e.ProviderResult(), DB_E_CANCELED);
    }
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(con.Connected());
    q.SetFetchAll(true);
    setSQL("select name from sysdatabases");
    q.Open();
    EXPECT_GT(q.RecordCount(), 1);
}

// A statement with output parameters runs as a call of sp_executesql; the values the
// statement assigns come back into Params, also after a select whose rows the dataset reads.
TEST_P(StandinStatements, OutputParametersComeBack) {
    con.SetConnected(true);
    setSQL("select :copy = :text, :number = 42");
    q.Params().ParamByName("text").SetAsString("kelvora");
    TDAParam& copy = q.Params().ParamByName("copy");
    copy.SetDataType(ftString);
    copy.SetParamType(ptOutput);
    TDAParam& number = q.Params().ParamByName("number");
    number.SetDataType(ftInteger);
    number.SetParamType(ptOutput);
    q.Execute();
    EXPECT_EQ(copy.AsString(), "kelvora");
    EXPECT_EQ(number.Value(), TParamValue(std::int64_t{42}));
    EXPECT_TRUE(errors.empty());

    setSQL("select name from sysdatabases where name = :db\r\nset :found = 1");
    q.Params().ParamByName("db").SetAsString("master");
    TDAParam& found = q.Params().ParamByName("found");
    found.SetDataType(ftInteger);
    found.SetParamType(ptInputOutput);
    found.SetAsInteger(0);
    q.Execute();
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldText(0, "name"), "master");
    EXPECT_EQ(found.Value(), TParamValue(std::int64_t{1}));
}

// Output texts and bytes come back whole: up to the longest a statement can assign on SQL
// Server 2000 (nvarchar(4000), varbinary(8000)), of any length from 2005 on (nvarchar(max),
// varbinary(max)).
TEST_P(StandinStatements, LongOutputsComeBackWhole) {
    const bool is2000 = GetParam() == kv::standin::Profile::Sql2000;
    con.SetConnected(true);
    const std::string text = longText(is2000 ? 400 : 2000).substr(0, is2000 ? 4000 : 12000);
    const std::string bytes(is2000 ? 8000 : 20000, '\x5a');
    setSQL("set :copy = :text\r\nset :bin = :bytes");
    q.Params().ParamByName("text").SetAsString(text);
    TDAParam& copy = q.Params().ParamByName("copy");
    copy.SetDataType(ftString);
    copy.SetParamType(ptOutput);
    TDAParam& source = q.Params().ParamByName("bytes");
    source.SetDataType(ftVarBytes);
    source.SetAsString(bytes);
    TDAParam& bin = q.Params().ParamByName("bin");
    bin.SetDataType(ftVarBytes);
    bin.SetParamType(ptOutput);
    q.Execute();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(copy.AsString().size(), text.size());
    EXPECT_EQ(copy.AsString(), text);
    EXPECT_EQ(bin.AsString().size(), bytes.size());
    EXPECT_EQ(bin.AsString(), bytes);
}

// In a statement with an output parameter (a call of sp_executesql), inputs are declared by
// their length and the server's version: a short text compares with = also on SQL Server 2000
// (where ntext cannot), and long texts and byte strings reach the server whole.
TEST_P(StandinStatements, InputsAreDeclaredAsTheServerExpects) {
    con.SetConnected(true);
    setSQL("select name from master.dbo.sysdatabases where name = :db\r\nset :found = 1");
    q.Params().ParamByName("db").SetAsString("msdb");
    TDAParam& found = q.Params().ParamByName("found");
    found.SetDataType(ftInteger);
    found.SetParamType(ptOutput);
    q.Execute();
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(found.Value(), TParamValue(std::int64_t{1}));

    const std::string memo = longText(1000);
    const std::string bytes(9000, '\x11');
    setSQL("select :memo as memo, :bytes as bytes\r\nset :done = 1");
    q.Params().ParamByName("memo").SetAsString(memo);
    TDAParam& b = q.Params().ParamByName("bytes");
    b.SetDataType(ftVarBytes);
    b.SetAsString(bytes);
    TDAParam& done = q.Params().ParamByName("done");
    done.SetDataType(ftInteger);
    done.SetParamType(ptOutput);
    q.Execute();
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(q.FieldText(0, "memo"), memo);
    EXPECT_EQ(q.FieldText(0, "bytes").size(), 2 * bytes.size()); // as hexadecimal text
    EXPECT_EQ(done.Value(), TParamValue(std::int64_t{1}));
}

// QueryRecCount: the server counts what it can wrap as a derived table; a select it cannot
// (a column without a name, a name twice) is counted by the rows fetched, without an error.
TEST_P(StandinStatements, RecordCountFallsBackToTheFetchedRows) {
    con.SetConnected(true);
    q.Options()->QueryRecCount = true;
    q.SetFetchAll(false);
    q.SetFetchRows(1);
    setSQL("select name from master.dbo.sysdatabases order by name");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 4); // the server's count, one row fetched
    setSQL("select count(*) from master.dbo.sysdatabases");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    setSQL("select name, name from master.dbo.sysdatabases");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_TRUE(con.Connected());
}

// Constants as SQL Server types them reach the layer with their values; a float parameter of
// sp_executesql stays a float.
TEST_P(StandinStatements, LiteralsAndFloatParameters) {
    con.SetConnected(true);
    setSQL("select 0.5 as half, 2147483648 as big, 1234567890123 as bigger, -12.25 as neg, "
           "1.5e3 as f, 0x0A1B as b");
    q.Open();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(std::stod(q.FieldText(0, "half")), 0.5);
    EXPECT_EQ(std::stod(q.FieldText(0, "big")), 2147483648.0);
    EXPECT_EQ(std::stod(q.FieldText(0, "bigger")), 1234567890123.0);
    EXPECT_EQ(std::stod(q.FieldText(0, "neg")), -12.25);
    EXPECT_EQ(std::stod(q.FieldText(0, "f")), 1500.0);
    EXPECT_EQ(q.FieldText(0, "b"), "0A1B");

    setSQL("set :out = :in");
    q.Params().ParamByName("in").SetAsFloat(0.25);
    TDAParam& out = q.Params().ParamByName("out");
    out.SetDataType(ftFloat);
    out.SetParamType(ptOutput);
    q.Execute();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(out.Value(), TParamValue(0.25));
}

INSTANTIATE_TEST_SUITE_P(Profiles, StandinStatements,
                         testing::Values(kv::standin::Profile::Sql2000,
                                         kv::standin::Profile::Sql2005),
                         [](const testing::TestParamInfo<kv::standin::Profile>& p) {
                             return p.param == kv::standin::Profile::Sql2000 ? "Sql2000"
                                                                             : "Sql2005";
                         });
