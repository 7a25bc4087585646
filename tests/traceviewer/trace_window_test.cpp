// The viewer's window, offscreen: a port that cannot be listened on leaves the window open with
// the reason and the way out, and another port can be tried from the window; the columns fit
// their content, the whole statement and error are there on demand, each record names its
// program, and the window speaks one language.

#include "dataaccess/TraceViewerClient.h"
#include "platform/TcpListener.h"
#include "traceviewer/trace_server.h"
#include "traceviewer/trace_window.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

namespace kv::traceviewer {
namespace {

// One application for the test program, left to the end of the process: destroyed among the
// other statics at exit, it would outlive what it still refers to.
QApplication& application() {
    static int argc = 1;
    static char name[] = "traceviewer_ui_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return done();
}

std::string utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

TraceRecord statement(std::uint32_t number, const std::string& sql) {
    TraceRecord r;
    r.kind = TraceRecord::Kind::Event;
    r.processId = 4321;
    r.eventNumber = number;
    r.eventType = 10;
    r.description = "SQL Execute: " + sql;
    r.objectName = "MSQuery1";
    r.objectType = "TMSQuery";
    r.parentName = "MSCon";
    r.sql = sql;
    r.duration = 3;
    return r;
}

int column(QTableWidget& table, const char* heading) {
    for (int c = 0; c < table.columnCount(); ++c)
        if (table.horizontalHeaderItem(c)->text() == QString::fromUtf8(heading))
            return c;
    return -1;
}

class TraceWindowTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }
};

// A taken port: the window shows why (the Windows Sockets number and its sentence) and the way
// out (another port here or with --port, and the monitor's TraceViewerOptions.Port), stays open,
// and listens on the port typed into it; records then arrive as usual.
TEST_F(TraceWindowTest, PortThatCannotBeListenedOnLeavesTheWindowOpenToTryAnother) {
    auto taken = platform::listenTcp(0);
    ASSERT_TRUE(taken);
    const std::uint16_t takenPort = (*taken)->port();

    TraceWindow window;
    TraceServer server([&](int client, const TraceRecord& r) { window.add(client, r); },
                       [&](const std::string& n) { window.note(n); });
    window.attach(server);
    EXPECT_FALSE(window.listenOn(takenPort));
    window.show();
    auto* panel = window.findChild<QWidget*>("listenPanel");
    auto* reason = window.findChild<QLabel*>("listenReason");
    auto* port = window.findChild<QSpinBox*>("listenPort");
    auto* button = window.findChild<QPushButton*>("listenButton");
    ASSERT_TRUE(panel && reason && port && button);
    EXPECT_TRUE(panel->isVisible());
    const std::string why = utf8(reason->text());
    EXPECT_NE(why.find("127.0.0.1:" + std::to_string(takenPort) + " dinlenemiyor"),
              std::string::npos)
        << why;
    EXPECT_NE(why.find("başka bir program tarafından kullanılıyor (hata 10048)"), std::string::npos)
        << why;
    EXPECT_NE(why.find("--port"), std::string::npos) << why;
    EXPECT_NE(why.find("TraceViewerOptions.Port"), std::string::npos) << why;
    EXPECT_EQ(port->value(), takenPort);

    // Another port that is taken too: the reason follows the port.
    auto second = platform::listenTcp(0);
    ASSERT_TRUE(second);
    port->setValue((*second)->port());
    button->click();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_NE(utf8(reason->text()).find(std::to_string((*second)->port())), std::string::npos);

    // A free port: the panel goes, the window listens there.
    std::uint16_t freePort = 0;
    {
        auto probe = platform::listenTcp(0);
        ASSERT_TRUE(probe);
        freePort = (*probe)->port();
    }
    port->setValue(freePort);
    button->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(server.port(), freePort);
    EXPECT_EQ(utf8(window.statusBar()->currentMessage()),
              "127.0.0.1:" + std::to_string(freePort) + " dinleniyor");
    EXPECT_NE(utf8(window.windowTitle()).find(std::to_string(freePort)), std::string::npos);

    auto* table = window.findChild<QTableWidget*>();
    ASSERT_TRUE(table);
    dataaccess::TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", freePort, 5000, 1000);
    client.Start();
    dataaccess::TMonitorEvent e;
    e.EventType = 10;
    e.SQL = "select 1";
    client.EventStart(e);
    client.EventEnd(e);
    client.WaitUntilSent();
    EXPECT_TRUE(pumpUntil([&] {
        server.step(0);
        return table->rowCount() >= 2;
    }));
}

// The columns: short ones fit their content, the statement and the error are cut in the row
// but whole in the tooltip and the detail pane; "Satır" is empty where the server counts no
// rows (-1 for a select); each record names the program its client belongs to; status notes
// are Turkish like the headings.
TEST_F(TraceWindowTest, ColumnsFitAndWholeTextsAreThereOnDemand) {
    TraceWindow window;
    window.show();
    auto* table = window.findChild<QTableWidget*>();
    ASSERT_TRUE(table);
    const int number = column(*table, "No"), kind = column(*table, "Tür"),
              sql = column(*table, "Komut"), rows = column(*table, "Satır"),
              error = column(*table, "Hata"), program = column(*table, "Program");
    ASSERT_GE(number, 0);
    ASSERT_GE(sql, 0);
    ASSERT_GE(program, 0) << "no column names the client's program";

    TraceRecord startup;
    startup.kind = TraceRecord::Kind::Startup;
    startup.processId = 4321;
    startup.description = "Nuvo monitoring is started";
    startup.exePath = "C:\\Program Files\\Kelvora\\kelvora-console.exe";
    window.add(1, startup);
    const std::string longSql =
        "SELECT s.[name], s.[filename], s.[status] FROM master.dbo.sysdatabases s "
        "WHERE s.[name]='kelvora' AND s.[status] & 512 = 0\r\nORDER BY s.[name]";
    TraceRecord select = statement(1, longSql);
    select.rows = -1;
    window.add(1, select);
    TraceRecord update = statement(2, "update t set a = 1");
    update.rows = 3;
    window.add(1, update);
    TraceRecord failed = statement(3, "select * from missing");
    failed.failed = true;
    failed.errorText = "Invalid object name 'missing'.\r\nStatement(s) could not be prepared.";
    window.add(1, failed);
    QCoreApplication::processEvents();

    ASSERT_EQ(table->rowCount(), 4);
    // Program names, with the whole path on demand.
    EXPECT_EQ(utf8(table->item(1, program)->text()), "kelvora-console.exe");
    EXPECT_NE(utf8(table->item(1, program)->toolTip()).find("C:\\Program Files\\Kelvora"),
              std::string::npos);
    // Rows: none for a select, the count for an update.
    EXPECT_EQ(utf8(table->item(1, rows)->text()), "");
    EXPECT_EQ(utf8(table->item(2, rows)->text()), "3");
    // Whole statement and error on demand.
    EXPECT_EQ(utf8(table->item(1, sql)->toolTip()), longSql);
    EXPECT_EQ(utf8(table->item(3, error)->toolTip()), failed.errorText);
    table->selectRow(1);
    auto* details = window.findChild<QPlainTextEdit*>("details");
    ASSERT_TRUE(details);
    const std::string shown = utf8(details->toPlainText());
    EXPECT_NE(shown.find("ORDER BY s.[name]"), std::string::npos) << shown;
    EXPECT_NE(shown.find("kelvora-console.exe"), std::string::npos) << shown;
    table->selectRow(3);
    EXPECT_NE(utf8(details->toPlainText()).find("Statement(s) could not be prepared."),
              std::string::npos);

    // Widths follow the content: the number and the kind are narrow, the statement is wide.
    EXPECT_LT(table->columnWidth(number), table->columnWidth(sql) / 3);
    EXPECT_LT(table->columnWidth(kind), table->columnWidth(sql) / 3);
    EXPECT_GE(table->columnWidth(program),
              table->fontMetrics().horizontalAdvance("kelvora-console.exe"));

    // Status notes in the language of the headings.
    TraceServer server([](int, const TraceRecord&) {},
                       [&](const std::string& n) { window.note(n); });
    ASSERT_TRUE(server.listen(0));
    EXPECT_EQ(utf8(window.statusBar()->currentMessage()),
              "127.0.0.1:" + std::to_string(server.port()) + " dinleniyor");
}

} // namespace
} // namespace kv::traceviewer
