// The connection component over the recording fake provider: connect and disconnect
// sequences, use counts, disconnected mode, the login prompt, option setters, error handling.
#include "dataaccess/ConnectionPool.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSSQLMonitor.h"
#include "fake_provider.h"
#include "platform/oledb/error_records.h"
#include "toolkit/DB.h"
#include "toolkit/TypInfo.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;
using fake::FakeProvider;

namespace {

kv::oledb::ErrorRecordData serverError(int number, int cls, int state, std::string text) {
    kv::oledb::ErrorRecordData r;
    r.description = text;
    kv::oledb::SqlServerMessage m;
    m.number = number;
    m.severityClass = static_cast<std::uint8_t>(cls);
    m.state = static_cast<std::uint8_t>(state);
    m.message = std::move(text);
    r.sqlServer = m;
    return r;
}

// A dataset stand-in: registers with the connection and answers the reconnect questions.
class FakeClient : public IDAConnectionClient {
public:
    bool allowReconnect = true;
    bool pending = false;
    std::vector<std::string> log;
    void ConnectChange(bool Connecting) override { log.push_back(Connecting ? "open" : "close"); }
    void SessionChanged(TPVConnection* S) override { log.push_back(S ? "session" : "nosession"); }
    bool CanReconnect(TConnLostCause, TComponent*) const override { return allowReconnect; }
    bool HoldsPendingResults() const override { return pending; }
};

class FakeDialog : public TCustomConnectDialog {
public:
    static inline int created = 0;
    static inline int executed = 0;
    static inline bool answer = true;
    explicit FakeDialog(TComponent* Owner) : TCustomConnectDialog(Owner) { ++created; }
    bool Execute() override {
        ++executed;
        if (answer)
            Connection()->ConnectWithEvents(false);
        return answer;
    }
};

class ConnectionTest : public testing::Test {
protected:
    void SetUp() override {
        monitor.OnSQL = [this](TObject*, const std::string& t, TDATraceFlag) {
            traces.push_back(t);
        };
        con.SetName("MSCon");
        con.SetLoginPrompt(false);
        con.SetServer("SRV");
        con.SetUsername("sa");
        con.SetPassword("k");
        con.BeforeConnect = [this](TObject*) { events.push_back("BeforeConnect"); };
        con.AfterConnect = [this](TObject*) { events.push_back("AfterConnect"); };
        con.BeforeDisconnect = [this](TObject*) { events.push_back("BeforeDisconnect"); };
        con.AfterDisconnect = [this](TObject*) { events.push_back("AfterDisconnect"); };
    }
    void TearDown() override {
        UnregisterConnectDialogClass("TMSConnectDialog");
        WaitCursorHooks() = TWaitCursorHooks{};
    }
    fake::FakeState& st() { return provider.state(); }

    // Declared first: the connection's destructor still fires its events into them.
    std::vector<std::string> traces;
    std::vector<std::string> events;
    kv::oledb::ComScope com;
    kv::oledb::ScopedClassRemoval noNC10{CLSID_SQLNCLI10};
    kv::oledb::ScopedClassRemoval noNC{CLSID_SQLNCLI};
    FakeProvider provider{CLSID_SQLOLEDB};
    TMSSQLMonitor monitor{nullptr};
    TMSConnection con{nullptr};
};

} // namespace

TEST_F(ConnectionTest, ConnectTwiceFiresOnceAndCountsOneUse) {
    con.SetConnected(true);
    con.SetConnected(true);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect"}));
    EXPECT_EQ(traces, std::vector<std::string>{"Connect: sa@SRV"});
    // Exactly one statement of the link's own with the component's defaults.
    EXPECT_EQ(st().executed, std::vector<std::string>{"SET LOCK_TIMEOUT 2000"});
    con.SetConnected(false);
    con.SetConnected(false);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.UseCount(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                                "AfterDisconnect"}));
    EXPECT_EQ(traces.back(), "Disconnect: sa@SRV");
    EXPECT_EQ(st().liveObjects, 0);
}

TEST_F(ConnectionTest, EmptyDatabaseReadsTheLoginsCatalog) {
    st().currentCatalog = "kelvora";
    con.SetConnected(true);
    EXPECT_EQ(con.Database(), "kelvora");
}

// Login values: an equal value keeps the link, a different one closes it quietly.
TEST_F(ConnectionTest, LoginValueSetters) {
    con.SetConnected(true);
    con.SetServer("SRV");
    con.SetUsername("sa");
    con.SetPassword("k");
    EXPECT_TRUE(con.Connected());
    con.SetServer("OTHER");
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.Server(), "OTHER");
    con.SetConnected(true);
    con.SetPassword("x");
    EXPECT_FALSE(con.Connected());
    con.SetConnected(true);
    con.SetAuthentication(auWindows);
    EXPECT_FALSE(con.Connected());
    con.SetConnected(true);
    con.SetConnectionTimeout(30); // handed over without closing
    EXPECT_TRUE(con.Connected());
    con.SetDatabase("[kelvora]"); // switches the catalog of the open link
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(st().sets.back().find(DBPROP_CURRENTCATALOG)->text, "kelvora");
    EXPECT_THROW(con.SetDatabase(""), EDatabaseError);
}

TEST_F(ConnectionTest, OptionChangesOnAnOpenConnection) {
    con.SetConnected(true);
    try {
        con.Options()->SetPacketSize(8192);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot perform this operation on an open connection");
    }
    EXPECT_EQ(con.Options()->PacketSize(), 4096);
    con.Options()->SetPacketSize(4096); // the same value is no change
    con.Options()->SetQuotedIdentifier(false);
    EXPECT_EQ(st().executed.back(), "SET QUOTED_IDENTIFIER OFF");
    con.SetConnected(false);
    con.Options()->SetPacketSize(8192);
    con.Options()->SetProvider(prSQL);
    st().sets.clear();
    con.SetConnected(true);
    EXPECT_EQ(st().sets[2].find(SSPROP_INIT_PACKETSIZE)->value, 8192);
    con.Options()->SetDisconnectedMode(true); // closes
    EXPECT_FALSE(con.Connected());
}

// With LoginPrompt false or Windows authentication no dialog is shown.
TEST_F(ConnectionTest, LoginPromptAndDialogs) {
    FakeDialog::created = FakeDialog::executed = 0;
    RegisterConnectDialogClass("TMSConnectDialog", [](TComponent* o) { return new FakeDialog(o); });
    FakeDialog linked(nullptr);
    con.SetConnectDialog(&linked);
    EXPECT_EQ(linked.Connection(), &con);
    con.SetConnected(true);
    EXPECT_EQ(FakeDialog::executed, 0);
    con.SetConnected(false);

    con.SetLoginPrompt(true);
    con.SetAuthentication(auWindows);
    con.SetConnected(true);
    EXPECT_EQ(FakeDialog::executed, 0);
    con.SetConnected(false);

    con.SetAuthentication(auServer);
    con.SetConnected(true); // the linked dialog connects
    EXPECT_EQ(FakeDialog::executed, 1);
    EXPECT_EQ(FakeDialog::created, 1);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);
    con.SetConnected(false);

    con.SetConnectDialog(nullptr);
    FakeDialog::answer = false;
    EXPECT_THROW(con.SetConnected(true), EAbort); // a temporary dialog, refused
    FakeDialog::answer = true;
    EXPECT_EQ(FakeDialog::created, 2);
    EXPECT_EQ(con.UseCount(), 0);
    EXPECT_FALSE(con.Connected());
}

TEST_F(ConnectionTest, DialogLinkForgetsADestroyedPartner) {
    auto dialog = std::make_unique<FakeDialog>(nullptr);
    con.SetConnectDialog(dialog.get());
    dialog.reset();
    EXPECT_EQ(con.ConnectDialog(), nullptr);
    FakeDialog d2(nullptr);
    {
        TMSConnection other(nullptr);
        other.SetConnectDialog(&d2);
        EXPECT_EQ(d2.Connection(), &other);
    }
    EXPECT_EQ(d2.Connection(), nullptr);
}

// Disconnected mode: an explicit connect holds the link; a statement's hold alone does not.
TEST_F(ConnectionTest, DisconnectedModeWithAndWithoutExplicitConnect) {
    con.Options()->SetDisconnectedMode(true);
    con.AcquireLink();
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);
    con.ReleaseLink();
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.UseCount(), 0);

    con.SetConnected(true);
    con.AcquireLink();
    EXPECT_EQ(con.UseCount(), 2);
    con.ReleaseLink();
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.UseCount(), 1);
    con.ReleaseLink();
    con.ReleaseLink(); // never below zero
    EXPECT_EQ(con.UseCount(), 0);
}

TEST_F(ConnectionTest, ReleaseWithoutDisconnectedModeKeepsTheLink) {
    con.AcquireLink();
    con.ReleaseLink();
    EXPECT_TRUE(con.Connected());
    EXPECT_FALSE(con.PromptAllowed());
}

// A refused login: the handler sees the error, Fail false makes it the silent abort.
TEST_F(ConnectionTest, FailedConnectWithFailClearedLeavesBySilentAbort) {
    st().failAt = "Initialize";
    st().failResult = DB_SEC_E_AUTH_FAILED;
    st().failRecords = {serverError(18456, 14, 1, "Login failed for user 'sa'.")};
    HRESULT seen = S_OK;
    con.OnError = [&](TObject* Sender, EDAError& E, bool& Fail) {
        EXPECT_EQ(Sender, &con);
        EXPECT_EQ(E.Component(), &con);
        seen = dynamic_cast<EOLEDBError&>(E).ProviderResult();
        Fail = false;
    };
    EXPECT_THROW(con.SetConnected(true), EAbort);
    EXPECT_EQ(seen, DB_SEC_E_AUTH_FAILED);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.UseCount(), 0);
    EXPECT_EQ(traces,
              (std::vector<std::string>{"Connect: sa@SRV", "Error: Login failed for user 'sa'."}));
    EXPECT_EQ(st().liveObjects, 0);
}

// Unassigned OnError: the error object itself travels out.
TEST_F(ConnectionTest, WithoutOnErrorTheErrorObjectIsRaised) {
    st().failAt = "Initialize";
    st().failRecords = {serverError(17, 16, 1, "SQL Server does not exist or access denied.")};
    try {
        con.SetConnected(true);
        FAIL();
    } catch (const EMSError& e) {
        EXPECT_TRUE(e.IsFatal());
    }
    // Fatal while opening: closed, and no disconnect notification.
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(traces.back(), "Error: SQL Server does not exist or access denied.");
    EXPECT_EQ(events, std::vector<std::string>{"BeforeConnect"});
}

// A fatal error on an open link: with a client that refuses a re-open, the connection closes
// itself; the disconnect notification is the last text.
TEST_F(ConnectionTest, FatalErrorOnAnOpenLinkClosesIt) {
    FakeClient client;
    client.allowReconnect = false;
    con.RegisterClient(&client, false);
    con.OnError = [](TObject*, EDAError&, bool& Fail) { Fail = false; };
    con.SetConnected(true);
    kv::oledb::postErrorRecords({serverError(10054, 16, 1, "General network error.")});
    EXPECT_THROW(con.OLEDBSession()->RaiseProviderError(E_FAIL, &con), EAbort);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(traces.back(), "Disconnect: sa@SRV");
    EXPECT_EQ(traces[traces.size() - 2], "Error: General network error.");
    EXPECT_EQ(client.log.back(), "close");
    con.UnRegisterClient(&client);
}

// Nothing forbids a re-open: the session closes and re-opens the link once, AfterConnect fires
// again, and the error stays the last trace text.
TEST_F(ConnectionTest, FatalErrorWithNothingForbiddingReopensTheLink) {
    con.OnError = [](TObject*, EDAError&, bool& Fail) { Fail = false; };
    con.SetConnected(true);
    events.clear();
    kv::oledb::postErrorRecords({serverError(50000, 20, 1, "Fatal.")});
    EXPECT_THROW(con.OLEDBSession()->RaiseProviderError(E_FAIL, &con), EAbort);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(events, std::vector<std::string>{"AfterConnect"});
    EXPECT_EQ(traces.back(), "Error: Fatal.");
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "Initialize"), 2);
}

TEST_F(ConnectionTest, PendingResultsForbidTheReopen) {
    FakeClient client;
    client.pending = true;
    con.RegisterClient(&client, false);
    con.SetConnected(true);
    kv::oledb::postErrorRecords({serverError(50000, 20, 1, "Fatal.")});
    EXPECT_THROW(con.OLEDBSession()->RaiseProviderError(E_FAIL, &con), EMSError);
    EXPECT_FALSE(con.Connected());
    con.UnRegisterClient(&client);
}

TEST_F(ConnectionTest, NonFatalErrorKeepsTheLink) {
    con.SetConnected(true);
    kv::oledb::postErrorRecords({serverError(208, 16, 1, "Invalid object name 'x'.")});
    EXPECT_THROW(con.OLEDBSession()->RaiseProviderError(E_FAIL, &con), EMSError);
    EXPECT_TRUE(con.Connected());
}

TEST_F(ConnectionTest, InformationMessagesReachTheMonitorAndTheEvent) {
    std::vector<std::string> infos;
    con.OnInfoMessage = [&](TObject*, EMSError& E) { infos.push_back(E.Message()); };
    con.SetConnected(true);
    kv::oledb::postErrorRecords({serverError(5701, 0, 1, "Changed database context to 'master'.")});
    con.OLEDBSession()->RaiseProviderError(S_OK, &con);
    EXPECT_EQ(infos, std::vector<std::string>{"Changed database context to 'master'."});
    EXPECT_EQ(traces.back(), "Info Message: Changed database context to 'master'.: sa@SRV");
}

TEST_F(ConnectionTest, ClientsHearOpenAndClose) {
    FakeClient client;
    con.RegisterClient(&client, true);
    con.SetConnected(true);
    con.SetConnected(false);
    EXPECT_EQ(client.log, (std::vector<std::string>{"session", "open", "close", "close"}));
    con.UnRegisterClient(&client);
    EXPECT_EQ(con.ClientCount(), 0);
}

TEST_F(ConnectionTest, WaitCursorHooksSurroundTheOpen) {
    std::vector<std::string> calls;
    WaitCursorHooks().StartWait = [&] { calls.push_back("start"); };
    WaitCursorHooks().StopWait = [&] { calls.push_back("stop"); };
    st().onExecute = [&](const std::string&) { calls.push_back("statement"); };
    con.SetConnected(true);
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "statement", "stop"}));
    con.SetConnected(false);
    st().failAt = "Initialize";
    calls.clear();
    EXPECT_ANY_THROW(con.SetConnected(true));
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(ConnectionTest, ConnectWhileLoadingIsDeferred) {
    kv::toolkit::ComponentAccess::setState(&con, csLoading, true);
    con.SetConnected(true);
    EXPECT_TRUE(con.PendingConnect());
    EXPECT_FALSE(con.Connected());
    kv::toolkit::ComponentAccess::setState(&con, csLoading, false);
    kv::toolkit::ComponentAccess::loaded(&con);
    EXPECT_TRUE(con.Connected());
    EXPECT_FALSE(con.PendingConnect());
}

// The published properties are reachable by name, as a layout sets them.
TEST_F(ConnectionTest, PublishedProperties) {
    EXPECT_EQ(GetPropValue(&con, "ConnectionTimeout"), "15");
    EXPECT_EQ(GetPropValue(&con, "Authentication"), "auServer");
    SetPropValue(&con, "Database", "master");
    EXPECT_EQ(con.Database(), "master");
    SetPropValue(&con, "LoginPrompt", "True");
    EXPECT_TRUE(con.LoginPrompt());
    auto* options = dynamic_cast<TMSConnectionOptions*>(GetObjectProp(&con, "Options"));
    ASSERT_NE(options, nullptr);
    SetPropValue(options, "DisconnectedMode", "True");
    EXPECT_TRUE(con.Options()->DisconnectedMode());
    EXPECT_EQ(GetPropValue(options, "Provider"), "prAuto");
    EXPECT_EQ(GetPropValue(options, "DefaultLockTimeout"), "2000");
    EXPECT_TRUE(IsPublishedProp(&con, "OnInfoMessage"));
}

TEST_F(ConnectionTest, PoolingSharesTheSessionObject) {
    con.SetPooling(true);
    con.SetConnected(true);
    TPVConnection* first = con.SessionObject();
    con.SetConnected(false); // back to the pool, link kept
    EXPECT_EQ(con.SessionObject(), nullptr);
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "Uninitialize"), 0);
    TMSConnection other(nullptr);
    other.SetLoginPrompt(false);
    other.SetServer("SRV");
    other.SetUsername("sa");
    other.SetPassword("k");
    other.SetPooling(true);
    other.SetConnected(true);
    EXPECT_EQ(other.SessionObject(), first);
    EXPECT_EQ(std::count(st().calls.begin(), st().calls.end(), "Initialize"), 1);
    other.SetConnected(false);
    TDAConnectionPool::Instance().Clear();
    EXPECT_EQ(st().liveObjects, 0);
}

// Destroying an open connection closes the link with its notification and reports itself.
TEST_F(ConnectionTest, DestructionClosesTheLinkAndReportsTheObject) {
    monitor.SetTraceFlags(monitor.TraceFlags() + TDATraceFlags{tfObjDestroy});
    auto temp = std::make_unique<TMSConnection>(nullptr);
    temp->SetName("Temp");
    temp->SetLoginPrompt(false);
    temp->SetServer("SRV");
    temp->SetUsername("sa");
    temp->SetConnected(true);
    temp.reset();
    ASSERT_GE(traces.size(), 2u);
    EXPECT_EQ(traces[traces.size() - 2], "Disconnect: sa@SRV");
    EXPECT_EQ(traces.back(), "Object destroyed: Temp");
    EXPECT_EQ(st().liveObjects, 0);
}

// Assign copies the login values, the options and the events; OnLogin is only kept and copied.
TEST(ConnectionAssign, CopiesLoginValuesOptionsAndEvents) {
    TMSConnection src{nullptr};
    src.SetUsername("sa");
    src.SetPassword("secret");
    src.SetServer("SRV");
    src.SetDatabase("master");
    src.SetLoginPrompt(false);
    src.SetAuthentication(auWindows);
    src.SetConnectionTimeout(30);
    src.Options()->SetDisconnectedMode(true);
    src.Options()->SetLocalFailover(true);
    src.Options()->SetApplicationName("console");
    src.PoolingOptions()->MaxPoolSize = 7;
    int logins = 0;
    int errors = 0;
    int lost = 0;
    int connects = 0;
    src.OnLogin = [&](TObject*, std::string&, std::string&) { ++logins; };
    src.OnError = [&](TObject*, EDAError&, bool&) { ++errors; };
    src.OnConnectionLost = [&](TObject*, TComponent*, TConnLostCause, TRetryMode&) { ++lost; };
    src.AfterConnect = [&](TObject*) { ++connects; };

    TMSConnection dst{nullptr};
    dst.Assign(&src);
    EXPECT_EQ(dst.Username(), "sa");
    EXPECT_EQ(dst.Password(), "secret");
    EXPECT_EQ(dst.Server(), "SRV");
    EXPECT_EQ(dst.Database(), "master");
    EXPECT_FALSE(dst.LoginPrompt());
    EXPECT_EQ(dst.Authentication(), auWindows);
    EXPECT_EQ(dst.ConnectionTimeout(), 30);
    EXPECT_TRUE(dst.Options()->DisconnectedMode());
    EXPECT_TRUE(dst.Options()->LocalFailover());
    EXPECT_EQ(dst.Options()->ApplicationName(), "console");
    EXPECT_EQ(dst.PoolingOptions()->MaxPoolSize, 7);
    ASSERT_TRUE(dst.OnLogin);
    ASSERT_TRUE(dst.OnError);
    ASSERT_TRUE(dst.OnConnectionLost);
    ASSERT_TRUE(dst.AfterConnect);
    std::string user, password;
    dst.OnLogin(&dst, user, password);
    EXPECT_EQ(logins, 1);
    bool fail = true;
    EDAError e(1, "x");
    dst.OnError(&dst, e, fail);
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(dst.Connected());
    EXPECT_EQ(logins, 1); // assigning does not call OnLogin

    TMSSQLMonitor notAConnection{nullptr};
    EXPECT_THROW(dst.Assign(&notAConnection), EConvertError);
}
