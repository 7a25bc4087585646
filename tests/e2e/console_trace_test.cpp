// The console's statements seen by our trace viewer: the monitor of the main window sends its
// start and end events over loopback to kelvora-trace's server, which pairs them with their
// durations.

#include "console_db_fixture.h"
#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/TraceViewerClient.h"
#include "traceviewer/trace_server.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace kv::e2e {
namespace {

TEST(ConsoleTrace, StartupStatementsReachTheViewerWithDurations) {
    Application->Initialize();
    std::mutex mutex;
    std::vector<traceviewer::TraceRecord> records;
    traceviewer::TraceServer server(
        [&](int, const traceviewer::TraceRecord& r) {
            std::lock_guard lock(mutex);
            records.push_back(r);
        },
        [](const std::string&) {});
    ASSERT_TRUE(server.listen(0));
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop)
            server.step(10);
    });

    DatabaseHost host;
    auto form = std::make_unique<TForm1>(nullptr, host.platform());
    // The layout's monitor points at the default port; this one listens elsewhere.
    auto* monitor = form->MSSQLMonitor1;
    monitor->SetActive(false);
    monitor->TraceViewerOptions()->Host = "127.0.0.1";
    monitor->TraceViewerOptions()->Port = server.port();
    monitor->TraceViewerOptions()->ReconnectTimeout = 0;
    monitor->SetActive(true);
    form->Show();
    ASSERT_TRUE(waitUntil([&] {
        const int n = form->Memo1->Lines()->Count();
        return n > 0 &&
               messageOf(form->Memo1->Lines()->Get(n - 1)) == "Kelvora Datasına bağlanıldı.";
    }));
    dataaccess::TTraceViewerClient::Get().WaitUntilSent();
    const auto lookUp = [&] {
        std::lock_guard lock(mutex);
        for (const auto& r : records)
            if (r.kind == traceviewer::TraceRecord::Kind::Event &&
                r.sql.find("sysdatabases") != std::string::npos)
                return true;
        return false;
    };
    for (int i = 0; i < 300 && !lookUp(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    form.reset();
    stop = true;
    loop.join();

    std::lock_guard lock(mutex);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().kind, traceviewer::TraceRecord::Kind::Startup);
    EXPECT_EQ(records.front().description, "Nuvo monitoring is started");
    bool connect = false, lookup = false;
    for (const auto& r : records) {
        if (r.kind != traceviewer::TraceRecord::Kind::Event)
            continue;
        connect = connect || r.description.starts_with("Connect: sa@");
        if (r.sql.find("WHERE s.[name]='kelvora'") != std::string::npos) {
            lookup = true;
            EXPECT_EQ(r.objectName, "MSQuery1");
            EXPECT_EQ(r.parentName, "MSCon");
            EXPECT_LT(r.duration, 60000u);
        }
    }
    EXPECT_TRUE(connect);
    EXPECT_TRUE(lookup);
}

} // namespace
} // namespace kv::e2e
