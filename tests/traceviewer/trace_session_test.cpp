// The trace viewer's reading side: pairing start and end events into records with durations,
// several programs at once through the listening server, and broken streams that close only
// their own connection.

#include "dataaccess/TraceViewerClient.h"
#include "platform/TcpStream.h"
#include "traceviewer/trace_server.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace kv::traceviewer {
namespace {

using dataaccess::TBufferMessagePacker;
using dataaccess::TMonitorEvent;

std::string bytesOf(const dataaccess::TMonitorMessage& m) {
    TBufferMessagePacker p;
    m.Write(p);
    return p.Bytes();
}

TMonitorEvent event(std::uint32_t number, const std::string& sql) {
    TMonitorEvent e;
    e.EventNumber = number;
    e.EventType = 10;
    e.Description = "SQL Execute: " + sql;
    e.SQL = sql;
    e.ObjectName = "MSQuery1";
    return e;
}

TEST(TraceSession, PairsStartAndEndIntoOneRecordWithItsDuration) {
    std::vector<TraceRecord> records;
    TraceSession session([&](const TraceRecord& r) { records.push_back(r); });
    std::string stream = bytesOf(dataaccess::TStartupMessage(5, "Nuvo monitoring is started", "c"));
    stream += bytesOf(dataaccess::TEventStartMessage(5, event(1, "select 1"), 1000));
    stream += bytesOf(dataaccess::TEventStartMessage(5, event(2, "select 2"), 1001));
    TMonitorEvent failed = event(2, "");
    failed.Failed = true;
    failed.ErrorText = "Invalid object name 'x'.";
    stream += bytesOf(dataaccess::TEventEndMessage(5, failed, 1004));
    TMonitorEvent done = event(1, "");
    done.RowsAffected = 3;
    stream += bytesOf(dataaccess::TEventEndMessage(5, done, 1010));
    // Byte by byte: records come out as soon as their last byte is there.
    for (char c : stream)
        ASSERT_TRUE(session.feed(std::string_view(&c, 1)));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, TraceRecord::Kind::Startup);
    EXPECT_EQ(records[1].sql, "select 2");
    EXPECT_EQ(records[1].duration, 3u);
    EXPECT_TRUE(records[1].failed);
    EXPECT_EQ(records[2].sql, "select 1");
    EXPECT_EQ(records[2].duration, 10u);
    EXPECT_EQ(records[2].rows, 3);
    EXPECT_EQ(session.open(), 0u);
    EXPECT_EQ(textLine(records[2]), "event\t1\tSQL Execute: select 1\tselect 1\t10 ms\t3 rows");
    EXPECT_EQ(jsonLine(records[1]).find("\"failed\":true") != std::string::npos, true);
    EXPECT_NE(jsonLine(records[1]).find("\"error\":\"Invalid object name 'x'.\""),
              std::string::npos);
}

TEST(TraceSession, BrokenStreamStopsWithAReason) {
    std::vector<TraceRecord> records;
    TraceSession session([&](const TraceRecord& r) { records.push_back(r); });
    TBufferMessagePacker junk;
    junk.WriteInteger(9);
    EXPECT_FALSE(session.feed(junk.Bytes()));
    EXPECT_EQ(session.error(), "unknown message type 9");
    EXPECT_FALSE(session.feed(bytesOf(dataaccess::TEventMessage(1, 1, "x"))));
    EXPECT_TRUE(records.empty());
}

// Large messages in the reads a socket gives: each comes out whole, once, as soon as its last
// byte is in, whatever the cut (in a long text, in a parameter, in a length), and messages
// behind it in the same read follow at once.
TEST(TraceSession, LargeMessagesArriveInPieces) {
    std::vector<TraceRecord> records;
    TraceSession session([&](const TraceRecord& r) { records.push_back(r); });
    TMonitorEvent start = event(1, std::string(3 << 20, 'x'));
    for (int i = 0; i < 20000; ++i)
        start.Params.push_back({":p" + std::to_string(i), "String", "IN", std::to_string(i)});
    TMonitorEvent end = event(1, "");
    end.Params = start.Params;
    end.RowsAffected = 7;
    std::string stream = bytesOf(dataaccess::TEventStartMessage(9, start, 100));
    const std::size_t firstEnd = stream.size();
    stream += bytesOf(dataaccess::TEventEndMessage(9, end, 150));
    stream += bytesOf(dataaccess::TEventMessage(9, 1, "Nuvo monitoring is finished"));
    for (const std::size_t piece : {std::size_t{65536}, std::size_t{4093}}) {
        records.clear();
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(session.feed(std::string_view(stream).substr(at, piece)));
            EXPECT_EQ(session.open(), at + piece >= firstEnd && records.empty() ? 1u : 0u);
        }
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].sql, start.SQL);
        ASSERT_EQ(records[0].params.size(), 20000u);
        EXPECT_EQ(records[0].params[19999].Value, "19999");
        EXPECT_EQ(records[0].rows, 7);
        EXPECT_EQ(records[0].duration, 50u);
        EXPECT_EQ(records[1].kind, TraceRecord::Kind::Finish);
    }

    // A broken count in a message that is still arriving stops the stream at once.
    TBufferMessagePacker broken;
    broken.WriteInteger(dataaccess::mtEventEnd);
    broken.WriteInteger(9);
    broken.WriteInteger(10);
    broken.WriteString("d");
    broken.WriteInteger(1);
    broken.WriteInteger(2);
    broken.WriteInteger(0);
    broken.WriteString("");
    broken.WriteInteger(-5); // parameters
    EXPECT_FALSE(session.feed(broken.Bytes()));
    EXPECT_EQ(session.error(), "parameter count -5 is impossible");
}

// Two traced programs at once through the server; a third that sends garbage is closed with a
// note and the others go on.
TEST(TraceServer, SeveralClientsAndOneBrokenStream) {
    std::mutex mutex; // the server runs on its own thread below
    std::vector<std::pair<int, TraceRecord>> records;
    std::vector<std::string> notes;
    TraceServer server(
        [&](int client, const TraceRecord& r) {
            std::lock_guard lock(mutex);
            records.emplace_back(client, r);
        },
        [&](const std::string& n) {
            std::lock_guard lock(mutex);
            notes.push_back(n);
        });
    const auto seen = [&] {
        std::lock_guard lock(mutex);
        return records.size() >= 4 && notes.size() >= 5;
    };
    ASSERT_TRUE(server.listen(0));
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        while (!stop)
            server.step(10);
    });
    {
        dataaccess::TTraceViewerClient a, b;
        for (auto* client : {&a, &b}) {
            client->Configure("Nuvo", "127.0.0.1", server.port(), 5000, 1000);
            client->Start();
            TMonitorEvent e = event(0, "select 1");
            client->EventStart(e);
            client->EventEnd(e);
        }
        a.WaitUntilSent();
        b.WaitUntilSent();
        auto garbage = platform::connectTcp("127.0.0.1", server.port(), 1000);
        ASSERT_TRUE(garbage) << garbage.error().message;
        ASSERT_TRUE((*garbage)->sendAll("\0\0\0\x09", 4));
        for (int i = 0; i < 300 && !seen(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        garbage->reset();
    }
    stop = true;
    loop.join();
    ASSERT_EQ(records.size(), 4u);
    std::set<int> clients;
    for (const auto& [client, record] : records)
        clients.insert(client);
    EXPECT_EQ(clients.size(), 2u);
    EXPECT_NE(std::find(notes.begin(), notes.end(),
                        "İstemci 3: akış okunamıyor (bilinmeyen ileti türü 9); bağlantı kapatıldı"),
              notes.end());
}

} // namespace
} // namespace kv::traceviewer
