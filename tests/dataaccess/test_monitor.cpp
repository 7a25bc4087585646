// The trace monitor: texts, flags, identities, the process-wide slot and the outlet order.
#include "dataaccess/MSSQLMonitor.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <memory>
#include <new>

using namespace kv::dataaccess;

namespace {

struct Seen {
    std::string text;
    TDATraceFlag flag;
};

class MonitorTest : public testing::Test {
protected:
    void SetUp() override {
        // Made in code, the monitor goes live at once: with no outlets, nothing leaves the test.
        saved = MonitorOutlets();
        MonitorOutlets() = TMonitorOutlets{};
        monitor = std::make_unique<TMSSQLMonitor>(nullptr);
        monitor->OnSQL = [this](TObject*, const std::string& t, TDATraceFlag f) {
            seen.push_back({t, f});
        };
    }
    // Later tests in the same process find the outlets the library installed.
    void TearDown() override { MonitorOutlets() = saved; }

    TMonitorOutlets saved;

    std::unique_ptr<TMSSQLMonitor> monitor;
    std::vector<Seen> seen;
    std::uint32_t id = 0;
};

class FakeConnection : public TComponent, public IMonitoredConnection {
public:
    FakeConnection() : TComponent(nullptr) {}
    std::string MonitorUser() const override { return "sa"; }
    std::string MonitorServer() const override { return "SRV"; }
};

} // namespace

TEST_F(MonitorTest, ParameterListText) {
    TDAParams params;
    EXPECT_EQ(monitor->ParamsText(&params), "");
    params.Add("p").SetAsInteger(5);
    EXPECT_EQ(monitor->ParamsText(&params), ":p(Integer,IN)=5");
    params.Add("s").SetAsString("abc");
    auto& n = params.Add("n");
    n.SetDataType(ftDate);
    n.SetParamType(ptInputOutput);
    auto& b = params.Add("b");
    b.SetDataType(ftBlob);
    b.SetParamType(ptOutput);
    b.SetAsString("12345");
    auto& u = params.Add("u");
    u.SetParamType(ptUnknown);
    u.SetAsFloat(1.5);
    EXPECT_EQ(monitor->ParamsText(&params),
              ":p(Integer,IN)=5 \r\n:s(String[3],IN)='abc' \r\n:n(Date,IN/OUT)=<NULL> \r\n"
              ":b(Blob,OUT)=<BLOB:5> \r\n:u(Float)=1.5");
}

TEST_F(MonitorTest, ExecuteTextWithAndWithoutParameters) {
    TDAParams params;
    params.Add("p").SetAsInteger(5);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "SQL \r\n", &params, "", id, true);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "SQL", &params, "", id, false);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "select 1\r\n", nullptr, "", id, true);
    ASSERT_EQ(seen.size(), 2u); // OnSQL only hears the call made before
    EXPECT_EQ(seen[0].text, "SQL\r\n:p(Integer,IN)=5");
    EXPECT_EQ(seen[0].flag, tfQExecute);
    EXPECT_EQ(seen[1].text, "select 1");
    TCustomDASQLMonitor::SQLPrepare(monitor.get(), nullptr, "x ", nullptr, id, true);
    TCustomDASQLMonitor::SQLUnprepare(monitor.get(), nullptr, "x", nullptr, id, true);
    EXPECT_EQ(seen[2].text, "Prepare: x");
    EXPECT_EQ(seen[2].flag, tfQPrepare);
    EXPECT_EQ(seen[3].text, "Unprepare: x");
}

TEST_F(MonitorTest, LinkTransactionAndMessageTexts) {
    FakeConnection conn;
    conn.SetName("MSCon");
    TCustomDASQLMonitor::DBConnect(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::DBConnect(monitor.get(), &conn, id, false);
    TCustomDASQLMonitor::DBDisconnect(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::TRStart(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::TRCommitRetaining(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::TRSavepoint(monitor.get(), &conn, "s1", id, true);
    TCustomDASQLMonitor::TRSavepoint(monitor.get(), &conn, "s1", id, false);
    TCustomDASQLMonitor::InfoMessage(monitor.get(), &conn, "Changed database context to 'master'.");
    Exception e("boom");
    TCustomDASQLMonitor::DBError(monitor.get(), nullptr, "boom");
    std::vector<std::string> texts;
    for (auto& s : seen)
        texts.push_back(s.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "Connect: sa@SRV", "Disconnect: sa@SRV", "Start: sa@SRV",
                  "CommitRetaining: ", "Savepoint s1 ", "Savepoint s1 ",
                  "Info Message: Changed database context to 'master'.: sa@SRV", "Error: boom"}));
    EXPECT_EQ(seen[0].flag, tfConnect);
    EXPECT_EQ(seen[2].flag, tfTransact);
    EXPECT_EQ(seen[6].flag, tfMisc);
    EXPECT_EQ(seen[7].flag, tfError);
}

TEST_F(MonitorTest, TraceFlagsAndActivityFilter) {
    FakeConnection conn;
    monitor->SetTraceFlags(TDATraceFlags{tfError});
    TCustomDASQLMonitor::DBConnect(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "x", nullptr, "", id, true);
    EXPECT_TRUE(seen.empty());
    TCustomDASQLMonitor::ObjectDestroyed(monitor.get(), &conn); // tfObjDestroy is off too
    monitor->SetTraceFlags(TDATraceFlags{tfObjDestroy});
    TCustomDASQLMonitor::ObjectDestroyed(monitor.get(), &conn);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text.rfind("Object destroyed: TComponent ($", 0), 0u);
    monitor->SetActive(false);
    TCustomDASQLMonitor::ObjectDestroyed(monitor.get(), &conn);
    EXPECT_EQ(seen.size(), 1u);
}

// moHandled adds the identity to link texts but never to statement and error texts.
TEST_F(MonitorTest, HandledIdentity) {
    FakeConnection conn;
    conn.SetName("MSCon");
    monitor->SetOptions(monitor->Options() + TMonitorOptions{moHandled});
    TCustomDASQLMonitor::DBConnect(monitor.get(), &conn, id, true);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), &conn, "x", nullptr, "", id, true);
    TCustomDASQLMonitor::DBError(monitor.get(), nullptr, "boom");
    char addr[16];
    std::snprintf(addr, sizeof addr, "%08X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&conn) & 0xFFFFFFFFu));
    EXPECT_EQ(seen[0].text, std::string("Connect: sa@SRV [MSCon$") + addr + "] ");
    EXPECT_EQ(seen[1].text, "x");
    EXPECT_EQ(seen[2].text, "Error: boom");
}

TEST_F(MonitorTest, OnlyTheFirstMonitorIsProcessWide) {
    EXPECT_EQ(TMSSQLMonitor::Instance(), monitor.get());
    {
        TMSSQLMonitor second(nullptr);
        EXPECT_EQ(TMSSQLMonitor::Instance(), monitor.get());
    }
    EXPECT_EQ(TMSSQLMonitor::Instance(), monitor.get());
    monitor.reset();
    EXPECT_EQ(TMSSQLMonitor::Instance(), nullptr);
    TMSSQLMonitor third(nullptr);
    EXPECT_EQ(TMSSQLMonitor::Instance(), &third);
}

// Made in code, a monitor is live at once; read from a layout, it goes live when loading ends,
// with the properties the layout gave it (here its name), and not before.
TEST_F(MonitorTest, ActivationInCodeAndFromALayout) {
    std::vector<std::string> started;
    MonitorOutlets().ViewerStart = [&](TCustomDASQLMonitor* m) { started.push_back(m->Name()); };
    {
        TMSSQLMonitor inCode(nullptr);
        EXPECT_TRUE(inCode.ActualActive());
        EXPECT_EQ(started, std::vector<std::string>{""});
    }
    started.clear();
    TComponent holder(nullptr);
    ReadRootComponent(&holder, "object Holder: TComponent\n"
                               "  object MSSQLMonitor1: TMSSQLMonitor\n"
                               "  end\n"
                               "end\n");
    ASSERT_EQ(holder.ComponentCount(), 1);
    auto* loaded = dynamic_cast<TMSSQLMonitor*>(holder.Components(0));
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->ActualActive());
    EXPECT_EQ(started, std::vector<std::string>{"MSSQLMonitor1"});
}

// The outlets are fed in a fixed order: debug dialog, COM monitor, trace viewer, OnSQL.
TEST_F(MonitorTest, OutletOrder) {
    std::vector<std::string> order;
    EXPECT_TRUE(monitor->ActualActive()); // live from its creation in code
    monitor->SetActive(false);
    auto& out = MonitorOutlets();
    out.DebugDialog = [&](const TDebugDialogRequest& r) { order.push_back("dialog " + r.Caption); };
    out.ComRegister = [](TCustomDASQLMonitor*) { return true; };
    out.ComSend = [&](TCustomDASQLMonitor*, const std::string& t) { order.push_back("com " + t); };
    out.ViewerStart = [&](TCustomDASQLMonitor*) { order.push_back("viewer start"); };
    out.ViewerSend = [&](const TTraceViewerEvent& e, std::uint32_t) {
        order.push_back(std::string("viewer ") + (e.Start ? "start " : "end ") + e.Description);
        return 7u;
    };
    monitor->SetOptions(TMonitorOptions{moDialog, moComMonitor, moTraceViewer});
    monitor->SetActive(true);
    monitor->OnSQL = [&](TObject*, const std::string& t, TDATraceFlag) {
        order.push_back("onsql " + t);
    };
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "select 1", nullptr, "", id, true);
    EXPECT_EQ(id, 7u);
    TCustomDASQLMonitor::SQLExecute(monitor.get(), nullptr, "select 1", nullptr, "", id, false);
    EXPECT_EQ(order, (std::vector<std::string>{
                         "viewer start", "dialog Nuvo Debug:   [Execute]",
                         "com SQL Execute: select 1", "viewer start SQL Execute: select 1\r\n",
                         "onsql select 1", "viewer end SQL Execute: select 1\r\n"}));
}

// A start event describes its object as it is when the event is made: after a rename, and for
// another object made at the same address (here of another class, with the same name), the
// description is the new one; a statement describes its connection as its parent.
TEST_F(MonitorTest, ViewerEventDescribesTheObjectAsItIsNow) {
    TTraceViewerEvent start;
    start.Monitor = monitor.get();
    start.EventType = 10;
    start.Start = true;
    TMonitorEvent e;

    alignas(
        std::max_align_t) unsigned char place[std::max(sizeof(FakeConnection), sizeof(TComponent))];
    auto* connection = new (place) FakeConnection;
    connection->SetName("Con1");
    start.Object = connection;
    monitor->ViewerEventOf(start, e);
    EXPECT_EQ(e.ObjectName, "Con1");
    EXPECT_EQ(e.ObjectKind, 1);
    connection->SetName("Con2");
    monitor->ViewerEventOf(start, e);
    EXPECT_EQ(e.ObjectName, "Con2");
    connection->SetName("");
    monitor->ViewerEventOf(start, e);
    EXPECT_EQ(e.ObjectName, "TComponent ($" +
                                IntToHex(reinterpret_cast<std::uintptr_t>(place) & 0xFFFFFFFFu, 8) +
                                ")");
    connection->SetName("X");
    monitor->ViewerEventOf(start, e);
    connection->~FakeConnection();

    auto* plain = new (place) TComponent(nullptr);
    plain->SetName("X");
    start.Object = plain;
    monitor->ViewerEventOf(start, e);
    EXPECT_EQ(e.ObjectName, "X");
    EXPECT_EQ(e.ObjectKind, 0); // not a connection any more
    EXPECT_EQ(e.ParentID, 0);
    plain->~TComponent();

    // An end event carries no object.
    start.Start = false;
    monitor->ViewerEventOf(start, e);
    EXPECT_EQ(e.ObjectName, "");
    EXPECT_EQ(e.ObjectID, 0);
}
