// Error objects: the fatal table, copies, and building from the provider's error records.
#include "dataaccess/OLEDBAccess.h"
#include "dataaccess/OLEDBErrors.h"
#include "platform/oledb/error_records.h"
#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;
using kv::oledb::ErrorRecordData;
using kv::oledb::SqlServerMessage;

namespace {

TMSErrorFields fields(int number, int cls, int state) {
    TMSErrorFields f;
    f.ErrorNumber = number;
    f.SeverityClass = static_cast<std::uint8_t>(cls);
    f.State = static_cast<std::uint8_t>(state);
    return f;
}

ErrorRecordData serverRecord(int number, int cls, int state, std::string text,
                             HRESULT hr = E_FAIL) {
    ErrorRecordData r;
    r.result = hr;
    r.interfaceId = IID_ICommandText;
    r.description = text;
    SqlServerMessage m;
    m.number = number;
    m.severityClass = static_cast<std::uint8_t>(cls);
    m.state = static_cast<std::uint8_t>(state);
    m.server = "SRV" + std::to_string(number);
    m.procedure = "proc" + std::to_string(number);
    m.line = static_cast<std::uint16_t>(number % 100);
    m.message = std::move(text);
    r.sqlServer = m;
    return r;
}

class ComTest : public testing::Test {
protected:
    kv::oledb::ComScope com;
};

struct FatalCase {
    const char* name;
    int number, cls, state;
    bool fatal;
};

class FatalTable : public testing::TestWithParam<FatalCase> {};

} // namespace

TEST_P(FatalTable, IsFatalFollowsTheServerNumbers) {
    const FatalCase& c = GetParam();
    EMSError e(fields(c.number, c.cls, c.state), kv::oledb::toOle("m"));
    EXPECT_EQ(e.IsFatal(), c.fatal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FatalTable,
    testing::Values(FatalCase{"class20", 50000, 20, 5, true}, FatalCase{"class25", 1, 25, 0, true},
                    FatalCase{"class19", 50000, 19, 1, false},
                    FatalCase{"unreachable_17", 17, 16, 1, true},
                    FatalCase{"number_0", 0, 16, 1, true}, FatalCase{"number_18", 18, 16, 1, false},
                    FatalCase{"state_2", 17, 16, 2, false}, FatalCase{"class_15", 17, 15, 1, false},
                    FatalCase{"reset_10054", 10054, 16, 1, true},
                    FatalCase{"reset_10054_class10", 10054, 10, 1, true},
                    FatalCase{"reset_10054_class11", 10054, 11, 1, false},
                    FatalCase{"pipe_233", 233, 16, 1, true}, FatalCase{"net_64", 64, 16, 1, true},
                    FatalCase{"login_18456", 18456, 14, 1, false},
                    FatalCase{"syntax_102", 102, 15, 1, false}),
    [](const testing::TestParamInfo<FatalCase>& i) { return std::string(i.param.name); });

TEST(ErrorClasses, DuplicateKeyAndGenericProviderErrors) {
    EXPECT_TRUE(EMSError(fields(2627, 14, 1), kv::oledb::toOle("dup")).IsDuplicateKey());
    EXPECT_FALSE(EMSError(fields(2601, 14, 1), kv::oledb::toOle("dup")).IsDuplicateKey());
    EOLEDBError ole(E_FAIL, kv::oledb::toOle("x"));
    EXPECT_FALSE(ole.IsFatal());
    EXPECT_FALSE(ole.IsDuplicateKey());
    EXPECT_EQ(ole.ErrorCode(), E_FAIL);
}

// Copies keep the class, every field and deep copies of the records.
TEST(ErrorClasses, CloneAndAssignFromKeepClassAndFields) {
    EMSError e(fields(17, 16, 1), kv::oledb::toOle("main \u00e7"));
    e.SetProviderResult(E_FAIL);
    e.AddErrorRecord(std::make_unique<EMSError>(fields(1, 16, 1), kv::oledb::toOle("r1")));
    std::unique_ptr<EDAError> copy = e.Clone();
    auto* ms = dynamic_cast<EMSError*>(copy.get());
    ASSERT_NE(ms, nullptr);
    EXPECT_EQ(ms->Message(), "main \xc3\xa7");
    EXPECT_EQ(ms->ErrorCode(), 17);
    EXPECT_TRUE(ms->IsFatal());
    ASSERT_EQ(ms->ErrorRecordCount(), 1);
    EXPECT_NE(&ms->ErrorRecords(0), &e.ErrorRecords(0));

    EMSError target(fields(5, 1, 1), kv::oledb::toOle("t"));
    target.AssignFrom(e);
    EXPECT_EQ(target.ErrorNumber(), 17);
    EXPECT_EQ(target.ProviderResult(), E_FAIL);
    EXPECT_EQ(target.ErrorRecordCount(), 1);
    EXPECT_EQ(target.Message(), "t"); // the message is not part of AssignFrom

    try {
        static_cast<const EDAError&>(e).Raise();
    } catch (const EMSError& raised) {
        EXPECT_EQ(raised.ErrorNumber(), 17);
    }
}

// Records A, B, C: the message lists them in index order, the fields come from C.
TEST_F(ComTest, ThreeRecordsJoinInIndexOrderWithTheLastRecordsFields) {
    kv::oledb::postErrorRecords({serverRecord(100, 11, 1, "A"), serverRecord(200, 12, 2, "B"),
                                 serverRecord(300, 13, 3, "C", DB_E_ERRORSINCOMMAND)});
    auto e = BuildProviderError(E_FAIL, nullptr);
    ASSERT_TRUE(e);
    auto* ms = dynamic_cast<EMSError*>(e.get());
    ASSERT_NE(ms, nullptr);
    EXPECT_EQ(ms->Message(), "A\r\nB\r\nC");
    EXPECT_EQ(ms->ErrorNumber(), 300);
    EXPECT_EQ(ms->ErrorCode(), 300);
    EXPECT_EQ(ms->SeverityClass(), 13);
    EXPECT_EQ(ms->State(), 3);
    EXPECT_EQ(ms->ServerName(), "SRV300");
    EXPECT_EQ(ms->ProcedureName(), "proc300");
    EXPECT_EQ(ms->LineNumber(), 0);
    EXPECT_EQ(ms->RecordMessage(), "C");
    EXPECT_EQ(ms->ProviderResult(), E_FAIL);
    ASSERT_EQ(ms->ErrorRecordCount(), 3);
    const auto& r0 = dynamic_cast<const EMSError&>(ms->ErrorRecords(0));
    EXPECT_EQ(r0.Message(), "A");
    EXPECT_EQ(r0.ErrorNumber(), 100);
    EXPECT_TRUE(IsEqualGUID(r0.SourceInterfaceId(), IID_ICommandText));
    EXPECT_EQ(ms->ErrorRecords(2).ProviderResult(), DB_E_ERRORSINCOMMAND);
}

// A record without SQL Server information adds no text but still gets an entry.
TEST_F(ComTest, RecordsWithoutServerInformationBecomeProviderEntries) {
    ErrorRecordData plain;
    plain.result = E_FAIL;
    plain.description = "provider text";
    kv::oledb::postErrorRecords({serverRecord(208, 16, 1, "Invalid object name 'x'."), plain},
                                "provider text");
    auto e = BuildProviderError(DB_E_ERRORSINCOMMAND, nullptr);
    ASSERT_NE(dynamic_cast<EMSError*>(e.get()), nullptr);
    EXPECT_EQ(e->Message(), "Invalid object name 'x'.");
    ASSERT_EQ(e->ErrorRecordCount(), 2);
    EXPECT_EQ(dynamic_cast<const EMSError*>(&e->ErrorRecords(1)), nullptr);
    EXPECT_EQ(e->ErrorRecords(1).Message(), "provider text");
}

TEST_F(ComTest, NoRecordsAndNoDescriptionGiveTheCodeText) {
    auto e = BuildProviderError(E_FAIL, nullptr);
    ASSERT_TRUE(e);
    EXPECT_EQ(dynamic_cast<EMSError*>(e.get()), nullptr);
    EXPECT_EQ(e->Message(), "OLE DB error occured. Code 80004005h");
    EXPECT_EQ(e->ErrorCode(), E_FAIL);
    EXPECT_EQ(e->ErrorRecordCount(), 0);

    auto n = BuildProviderError(CO_E_NOTINITIALIZED, nullptr);
    EXPECT_EQ(n->Message(),
              "OLE DB error occured. Code 800401F0h.\r\nCoInitialize has not been called.");
}

TEST_F(ComTest, DescriptionAndStatusCallbackText) {
    ErrorRecordData plain;
    plain.description = "Multiple-step operation generated errors.";
    kv::oledb::postErrorRecords({plain}, "Multiple-step operation generated errors.");
    auto e = BuildProviderError(DB_E_ERRORSOCCURRED, nullptr, [](HRESULT hr) {
        return hr == DB_E_ERRORSOCCURRED ? "report" : "";
    });
    EXPECT_EQ(e->Message(), "Multiple-step operation generated errors.\nreport");
    EXPECT_EQ(e->WideMessage(),
              kv::oledb::toOle("Multiple-step operation generated errors.\nreport"));
}

TEST_F(ComTest, SuccessWithoutMessagesReportsNothing) {
    EXPECT_FALSE(BuildProviderError(S_OK, nullptr));
    kv::oledb::postErrorRecords(
        {serverRecord(5701, 0, 1, "Changed database context to 'master'.")});
    auto info = BuildProviderError(S_OK, nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Message(), "Changed database context to 'master'.");
}

// The session object's error path: the handler sees the error first, Fail decides what leaves.
TEST_F(ComTest, RaiseProviderErrorHonoursFail) {
    TOLEDBConnection session;
    kv::oledb::postErrorRecords({serverRecord(102, 15, 1, "Incorrect syntax near 'x'.")});
    EXPECT_THROW(session.RaiseProviderError(E_FAIL, nullptr), EMSError); // no handler

    std::vector<std::string> seen;
    session.SetErrorHandler([&](EDAError& E, bool& Fail, bool&, bool&, int, TConnLostCause&) {
        seen.push_back(E.Message());
        Fail = false;
    });
    kv::oledb::postErrorRecords({serverRecord(102, 15, 1, "Incorrect syntax near 'x'.")});
    try {
        session.RaiseProviderError(E_FAIL, nullptr);
        FAIL();
    } catch (const EAbort& a) {
        EXPECT_EQ(a.Message(), "Operation aborted");
    }
    EXPECT_EQ(seen, std::vector<std::string>{"Incorrect syntax near 'x'."});
}

TEST_F(ComTest, InformationMessagesGoToTheHookAndNeverRaise) {
    TOLEDBConnection session;
    std::vector<std::string> infos;
    session.SetErrorHandler([](EDAError&, bool&, bool&, bool&, int, TConnLostCause&) { FAIL(); });
    kv::oledb::postErrorRecords(
        {serverRecord(5701, 0, 1, "Changed database context to 'master'.")});
    session.CheckResult(S_OK, nullptr); // CheckResult never looks at S_OK
    session.SetInfoMessageHook([&](EMSError& E) { infos.push_back(E.Message()); });
    kv::oledb::postErrorRecords(
        {serverRecord(5701, 0, 1, "Changed database context to 'master'.")});
    session.RaiseProviderError(S_OK, nullptr);
    EXPECT_EQ(infos, std::vector<std::string>{"Changed database context to 'master'."});
    session.RaiseProviderError(S_OK, nullptr); // nothing pending
    EXPECT_EQ(infos.size(), 1u);
}
