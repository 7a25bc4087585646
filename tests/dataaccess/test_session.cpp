// The session object against the recording fake provider: what is sent, in which order, and
// what is left behind after a failure.
#include "dataaccess/OLEDBAccess.h"
#include "fake_provider.h"
#include "toolkit/DB.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;
using fake::FakeProvider;
using fake::RecordedSet;

namespace {

class SessionTest : public testing::Test {
protected:
    kv::oledb::ComScope com;
    // Hide the portable provider so that only the fakes answer.
    kv::oledb::ScopedClassRemoval noBuiltIn{CLSID_SQLOLEDB};

    static std::vector<DBPROPID> ids(const RecordedSet& s) {
        std::vector<DBPROPID> r;
        for (const auto& p : s.props)
            r.push_back(p.id);
        return r;
    }
    static std::vector<RecordedSet> dataSourceSets(const fake::FakeState& s) {
        std::vector<RecordedSet> r;
        for (const auto& set : s.sets)
            if (set.where == "datasource")
                r.push_back(set);
        return r;
    }
};

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

// The defaults of a fresh session object: every set in order with its options.
TEST_F(SessionTest, DefaultOpenSendsThePropertySetsInOrder) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.OpenSession();
    ASSERT_TRUE(session.GetConnected());
    auto& st = sqloledb.state();

    auto sets = dataSourceSets(st);
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_TRUE(IsEqualGUID(sets[0].set, DBPROPSET_DBINIT));
    EXPECT_EQ(ids(sets[0]), (std::vector<DBPROPID>{DBPROP_INIT_DATASOURCE, DBPROP_INIT_CATALOG,
                                                   DBPROP_INIT_TIMEOUT, DBPROP_AUTH_USERID,
                                                   DBPROP_INIT_PROMPT, DBPROP_INIT_HWND}));
    EXPECT_EQ(sets[0].find(DBPROP_INIT_DATASOURCE)->text, "(local)");
    EXPECT_EQ(sets[0].find(DBPROP_INIT_DATASOURCE)->options, DBPROPOPTIONS_OPTIONAL);
    EXPECT_EQ(sets[0].find(DBPROP_INIT_TIMEOUT)->value, 15);
    EXPECT_EQ(sets[0].find(DBPROP_INIT_TIMEOUT)->options, DBPROPOPTIONS_REQUIRED);
    EXPECT_EQ(sets[0].find(DBPROP_AUTH_USERID)->text, "sa");
    EXPECT_EQ(sets[0].find(DBPROP_INIT_PROMPT)->type, VT_I2);
    EXPECT_EQ(sets[0].find(DBPROP_INIT_PROMPT)->value, 4);
    EXPECT_EQ(sets[0].find(DBPROP_INIT_HWND)->type, VT_I4);
    EXPECT_EQ(sets[0].find(DBPROP_INIT_HWND)->options, DBPROPOPTIONS_REQUIRED);

    EXPECT_TRUE(IsEqualGUID(sets[1].set, DBPROPSET_SQLSERVERDBINIT));
    EXPECT_EQ(ids(sets[1]),
              (std::vector<DBPROPID>{SSPROP_INIT_APPNAME, SSPROP_INIT_AUTOTRANSLATE}));
    EXPECT_FALSE(sets[1].find(SSPROP_INIT_APPNAME)->text.empty()); // the executable's name
    EXPECT_EQ(sets[1].find(SSPROP_INIT_AUTOTRANSLATE)->options, DBPROPOPTIONS_REQUIRED);

    EXPECT_EQ(ids(sets[2]), std::vector<DBPROPID>{SSPROP_INIT_PACKETSIZE});
    EXPECT_EQ(sets[2].find(SSPROP_INIT_PACKETSIZE)->value, 4096);

    EXPECT_TRUE(IsEqualGUID(sets[3].set, DBPROPSET_DATASOURCE));
    EXPECT_EQ(ids(sets[3]), std::vector<DBPROPID>{DBPROP_MULTIPLECONNECTIONS});

    ASSERT_EQ(st.sets.back().where, "session");
    EXPECT_EQ(st.sets.back().find(DBPROP_SESS_AUTOCOMMITISOLEVELS)->value, 0x1000);

    EXPECT_EQ(st.calls,
              (std::vector<std::string>{"Create", "SetProperties", "SetProperties", "SetProperties",
                                        "Initialize", "SetProperties", "CreateSession",
                                        "SessionSetProperties", "GetProperties", "GetProperties"}));
    EXPECT_TRUE(st.executed.empty()); // a fresh object has the lock time-out switched off

    // Facts read back; the empty database became the login's current catalog.
    EXPECT_EQ(std::get<std::string>(session.GetSessionOption(soDatabase)), "master");
    EXPECT_EQ(session.ServerMajorVersion(), 8);
    EXPECT_EQ(session.ProviderMajorVersion(), 8);
    EXPECT_EQ(session.ServerVersionFull(), "Microsoft SQL Server 08.00.2039");
    EXPECT_TRUE(session.IsValid());
}

TEST_F(SessionTest, LoginValuesAndOptionalProperties) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.Server = "KELVORA-PC";
    session.Username = "sa";
    session.Password = "k";
    session.SetSessionOption(soDatabase, std::string("kelvora"));
    session.SetSessionOption(soPersistSecurityInfo, true);
    session.SetSessionOption(soWorkstationID, std::string("WS1"));
    session.SetSessionOption(soApplicationName, std::string("Console"));
    session.SetSessionOption(soLanguage, std::string("us_english"));
    session.SetSessionOption(soInitialFileName, std::string("c:\\x.mdf"));
    session.SetSessionOption(soFailoverPartner, std::string("MIRROR"));
    session.SetSessionOption(soMultipleActiveResultSets, true); // Native Client only
    session.SetSessionOption(soTrustServerCertificate, true);   // Native Client only
    session.SetSessionOption(soEncrypt, true);
    session.SetSessionOption(soNetworkLibrary, std::string("dbmssocn"));
    session.SetSessionOption(soPacketSize, 8192);
    session.SetSessionOption(soIsolationLevel, static_cast<int>(ilSnapshot));
    session.OpenSession();
    auto sets = dataSourceSets(sqloledb.state());
    ASSERT_EQ(sets.size(), 6u);
    EXPECT_EQ(ids(sets[0]),
              (std::vector<DBPROPID>{DBPROP_INIT_DATASOURCE, DBPROP_INIT_CATALOG,
                                     DBPROP_INIT_TIMEOUT, DBPROP_AUTH_USERID, DBPROP_AUTH_PASSWORD,
                                     DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, DBPROP_INIT_PROMPT,
                                     DBPROP_INIT_HWND}));
    EXPECT_EQ(sets[0].find(DBPROP_INIT_DATASOURCE)->text, "KELVORA-PC");
    EXPECT_EQ(sets[0].find(DBPROP_INIT_CATALOG)->text, "kelvora");
    EXPECT_EQ(sets[0].find(DBPROP_AUTH_PASSWORD)->text, "k");
    EXPECT_EQ(ids(sets[1]),
              (std::vector<DBPROPID>{SSPROP_INIT_WSID, SSPROP_INIT_APPNAME,
                                     SSPROP_INIT_CURRENTLANGUAGE, SSPROP_INIT_AUTOTRANSLATE,
                                     SSPROP_INIT_FILENAME, SSPROP_INIT_FAILOVERPARTNER}));
    EXPECT_EQ(sets[1].find(SSPROP_INIT_CURRENTLANGUAGE)->options, DBPROPOPTIONS_REQUIRED);
    EXPECT_EQ(ids(sets[2]), std::vector<DBPROPID>{SSPROP_INIT_ENCRYPT});
    EXPECT_EQ(ids(sets[3]), std::vector<DBPROPID>{SSPROP_INIT_NETWORKLIBRARY});
    EXPECT_EQ(sets[3].find(SSPROP_INIT_NETWORKLIBRARY)->options, DBPROPOPTIONS_REQUIRED);
    EXPECT_EQ(sets[4].find(SSPROP_INIT_PACKETSIZE)->value, 8192);
    EXPECT_EQ(sqloledb.state().sets.back().find(DBPROP_SESS_AUTOCOMMITISOLEVELS)->value, 0x1000000);
    // The database given is kept, not replaced by the current catalog.
    EXPECT_EQ(std::get<std::string>(session.GetSessionOption(soDatabase)), "kelvora");
}

TEST_F(SessionTest, WindowsAuthenticationSendsOnlyTheIntegratedProperty) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.Username = "ignored";
    session.SetSessionOption(soAuthentication, static_cast<int>(auWindows));
    session.OpenSession();
    auto sets = dataSourceSets(sqloledb.state());
    EXPECT_NE(sets[0].find(DBPROP_AUTH_INTEGRATED), nullptr);
    EXPECT_EQ(sets[0].find(DBPROP_AUTH_INTEGRATED)->text, "");
    EXPECT_EQ(sets[0].find(DBPROP_AUTH_USERID), nullptr);
}

TEST_F(SessionTest, NativeClientPropertiesOnlyForNativeClientProviders) {
    FakeProvider ncli10(CLSID_SQLNCLI10);
    TOLEDBConnection session;
    session.SetSessionOption(soProvider, static_cast<int>(prAuto));
    session.SetSessionOption(soMultipleActiveResultSets, true);
    session.SetSessionOption(soTrustServerCertificate, true);
    session.OpenSession();
    EXPECT_TRUE(session.IsNativeClient());
    auto sets = dataSourceSets(ncli10.state());
    EXPECT_EQ(ids(sets[1]), (std::vector<DBPROPID>{SSPROP_INIT_APPNAME, SSPROP_INIT_AUTOTRANSLATE,
                                                   SSPROP_INIT_MARSCONNECTION,
                                                   SSPROP_INIT_TRUST_SERVER_CERTIFICATE}));
    EXPECT_EQ(sets[1].find(SSPROP_INIT_MARSCONNECTION)->options, DBPROPOPTIONS_OPTIONAL);
}

// Which class id each provider kind tries, in order, skipping the ones not registered.
TEST_F(SessionTest, ProviderChoiceByKind) {
    auto chosen = [](TOLEDBProvider kind) {
        TOLEDBConnection s;
        s.SetSessionOption(soProvider, static_cast<int>(kind));
        s.OpenSession();
        return s.ProviderClsid();
    };
    {
        FakeProvider only(CLSID_SQLOLEDB);
        EXPECT_TRUE(IsEqualGUID(chosen(prAuto), CLSID_SQLOLEDB)); // both NC ids skipped
        EXPECT_EQ(messageOf([&] { chosen(prNativeClient); }), "Required provider is not installed");
    }
    {
        FakeProvider a(CLSID_SQLNCLI10), b(CLSID_SQLNCLI), c(CLSID_SQLOLEDB);
        EXPECT_TRUE(IsEqualGUID(chosen(prAuto), CLSID_SQLNCLI10));
        EXPECT_TRUE(IsEqualGUID(chosen(prSQL), CLSID_SQLOLEDB));
        EXPECT_EQ(b.state().calls.size(), 0u);
    }
    {
        FakeProvider b(CLSID_SQLNCLI);
        EXPECT_TRUE(IsEqualGUID(chosen(prNativeClient), CLSID_SQLNCLI));
        EXPECT_EQ(messageOf([&] { chosen(prSQL); }), "Required provider is not installed");
    }
    EXPECT_EQ(messageOf([&] { chosen(prCompact); }), "Required provider is not installed");
    EXPECT_EQ(messageOf([&] { chosen(static_cast<TOLEDBProvider>(9)); }), "Wrong provider name");
    try {
        chosen(prAuto);
    } catch (const EDatabaseError&) {
        SUCCEED();
    }
}

// A provider that answers with another failure ends the search with a provider error.
TEST_F(SessionTest, CreationFailureOtherThanNotRegisteredIsReported) {
    FakeProvider ncli10(CLSID_SQLNCLI10);
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    ncli10.state().failAt = "Create";
    TOLEDBConnection session;
    session.SetSessionOption(soProvider, static_cast<int>(prAuto));
    EXPECT_EQ(messageOf([&] { session.OpenSession(); }), "OLE DB error occured. Code 80004005h");
    EXPECT_TRUE(sqloledb.state().calls.empty());
}

TEST_F(SessionTest, InternalStatementsAfterOpen) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    {
        TOLEDBConnection session;
        session.SetSessionOption(soDefaultLockTimeout, 2000);
        session.OpenSession();
        EXPECT_EQ(sqloledb.state().executed, std::vector<std::string>{"SET LOCK_TIMEOUT 2000"});
    }
    sqloledb.state().executed.clear();
    {
        TOLEDBConnection session;
        session.SetSessionOption(soDefaultLockTimeout, 2000);
        session.SetSessionOption(soQuotedIdentifier, false);
        session.OpenSession();
        EXPECT_EQ(sqloledb.state().executed,
                  (std::vector<std::string>{"SET QUOTED_IDENTIFIER OFF", "SET LOCK_TIMEOUT 2000"}));
        session.SetSessionOption(soQuotedIdentifier, true); // acts on the open link
        EXPECT_EQ(sqloledb.state().executed.back(), "SET QUOTED_IDENTIFIER ON");
    }
}

// A refused property: the report names the set and every property with a non-zero status.
TEST_F(SessionTest, RefusedPropertySetCarriesTheStatusReport) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    auto& st = sqloledb.state();
    st.failAt = "SetProperties#0";
    st.failResult = DB_E_ERRORSOCCURRED;
    st.statuses[0] = {0, 0, 2, 0, 9};
    TOLEDBConnection session;
    EXPECT_EQ(messageOf([&] { session.OpenSession(); }),
              "OLE DB error occured. Code 80040E21h\n{C8B522BC-5CF3-11CE-ADE5-00AA0044773D}\r\n"
              "[2] := $2. PropId := 66\r\n[4] := $9. PropId := 64");
    try {
        session.OpenSession();
    } catch (const EOLEDBError& e) {
        EXPECT_EQ(e.ProviderResult(), DB_E_ERRORSOCCURRED);
    }
    EXPECT_EQ(st.liveObjects, 0);
}

TEST_F(SessionTest, SeparateSetsAppendTheirOwnText) {
    struct Case {
        TSessionOption option;
        TSessionValue value;
        const char* text;
    };
    for (const Case& c : {Case{soEncrypt, true, "Wrong Encrypt value"},
                          Case{soNetworkLibrary, std::string("x"), "Wrong NetworkLibrary value"},
                          Case{soPacketSize, 4096, "Wrong PacketSize value"}}) {
        FakeProvider sqloledb(CLSID_SQLOLEDB);
        sqloledb.state().failAt = "SetProperties#2";
        TOLEDBConnection session;
        session.SetSessionOption(c.option, c.value);
        std::string m = messageOf([&] { session.OpenSession(); });
        EXPECT_EQ(m,
                  "OLE DB error occured. Code 80004005h\n{5CF4CA10-EF21-11D0-97E7-00C04FC2AD98}\n" +
                      std::string(c.text));
    }
}

// With the silent abort asked for, a refused set leaves as a plain exception with the report.
TEST_F(SessionTest, SilentAbortInsideAPropertySetBecomesAPlainError) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    sqloledb.state().failAt = "SetProperties#0";
    TOLEDBConnection session;
    session.SetErrorHandler(
        [](EDAError&, bool& Fail, bool&, bool&, int, TConnLostCause&) { Fail = false; });
    try {
        session.OpenSession();
        FAIL();
    } catch (const EAbort&) {
        FAIL() << "the silent abort must not leave a property set";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Operation aborted\n{C8B522BC-5CF3-11CE-ADE5-00AA0044773D}");
        EXPECT_EQ(e.ClassName(), "Exception");
    }
}

// Whatever step fails, the link stays closed and every object the provider gave is released.
TEST_F(SessionTest, EveryObjectIsReleasedAfterAFailureAtEachStep) {
    for (const char* step :
         {"Create", "IDBProperties", "SetProperties#0", "SetProperties#1", "SetProperties#2",
          "Initialize", "SetProperties#3", "IDBCreateSession", "CreateSession",
          "SessionSetProperties", "GetProperties", "IDBCreateCommand", "CreateCommand",
          "Execute:SET LOCK_TIMEOUT 2000"}) {
        SCOPED_TRACE(step);
        FakeProvider sqloledb(CLSID_SQLOLEDB);
        sqloledb.state().failAt = step;
        TOLEDBConnection session;
        session.SetSessionOption(soDefaultLockTimeout, 2000);
        EXPECT_THROW(session.OpenSession(), Exception);
        EXPECT_FALSE(session.GetConnected());
        EXPECT_EQ(session.DBInitialize(), nullptr);
        EXPECT_EQ(sqloledb.state().liveObjects, 0);
        // The same object opens once the provider behaves.
        sqloledb.state().failAt.clear();
        session.OpenSession();
        EXPECT_TRUE(session.GetConnected());
        session.CloseSession();
        EXPECT_EQ(sqloledb.state().liveObjects, 0);
    }
}

TEST_F(SessionTest, CloseUninitialisesAndReleases) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.SetSessionOption(soDefaultLockTimeout, 2000);
    session.OpenSession();
    EXPECT_GT(sqloledb.state().liveObjects, 0);
    session.CloseSession();
    EXPECT_FALSE(session.GetConnected());
    EXPECT_EQ(sqloledb.state().calls.back(), "Uninitialize");
    EXPECT_EQ(sqloledb.state().liveObjects, 0);
    session.CloseSession(); // closed already: nothing
    EXPECT_EQ(sqloledb.state().calls.back(), "Uninitialize");
}

TEST_F(SessionTest, ChangingTheDatabaseOnAnOpenLink) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.SetSessionOption(soDatabase, std::string(""));
    session.OpenSession();
    session.SetSessionOption(soDatabase, std::string("[kelvora]"));
    auto sets = dataSourceSets(sqloledb.state());
    EXPECT_EQ(sets.back().find(DBPROP_CURRENTCATALOG)->text, "kelvora");
    EXPECT_EQ(std::get<std::string>(session.GetSessionOption(soDatabase)), "[kelvora]");
    EXPECT_EQ(messageOf([&] { session.SetSessionOption(soDatabase, std::string("")); }),
              "Changing database name to default value is not allowed");
    session.CloseSession();
    session.SetSessionOption(soDatabase, std::string("")); // fine while closed
}

TEST_F(SessionTest, CheckAliveAsksTheDataSource) {
    FakeProvider sqloledb(CLSID_SQLOLEDB);
    TOLEDBConnection session;
    session.CheckAlive();
    EXPECT_FALSE(session.IsValid());
    session.OpenSession();
    session.CheckAlive();
    EXPECT_TRUE(session.IsValid());
    EXPECT_EQ(sqloledb.state().executed.back(), "/* Check connection */");
    sqloledb.state().failAt = "Execute:/* Check connection */";
    session.CheckAlive();
    EXPECT_FALSE(session.IsValid());
}

TEST(SessionConstants, IsolationLevels) {
    EXPECT_EQ(OLEDBIsolationLevel(ilReadCommitted), 0x1000);
    EXPECT_EQ(OLEDBIsolationLevel(ilReadUnCommitted), 0x100);
    EXPECT_EQ(OLEDBIsolationLevel(ilRepeatableRead), 0x10000);
    EXPECT_EQ(OLEDBIsolationLevel(ilIsolated), 0x100000);
    EXPECT_EQ(OLEDBIsolationLevel(ilSnapshot), 0x1000000);
    EXPECT_EQ(messageOf([] { OLEDBIsolationLevel(static_cast<TIsolationLevel>(7)); }),
              "Unsupported transaction isolation level");
}
