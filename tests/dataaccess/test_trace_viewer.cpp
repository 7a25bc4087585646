// The trace viewer link: the byte layout of its messages, the reader the viewer uses, and the
// client against a listener on a loopback port (probes, start-up messages on every connection,
// event numbers, finish, a viewer that starts late or goes away in the middle).

#include "dataaccess/MSSQLMonitor.h"
#include "dataaccess/TraceViewerClient.h"
#include "dataaccess/TraceViewerMessages.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kv::dataaccess {
namespace {

std::string bytesOf(const TMonitorMessage& m) {
    TBufferMessagePacker p;
    m.Write(p);
    return p.Bytes();
}

std::string be(std::int32_t v) {
    TBufferMessagePacker p;
    p.WriteInteger(v);
    return p.Bytes();
}

// Every message of a byte stream, in order (probes included).
std::vector<TDecodedMessage> decodeAll(const std::string& bytes) {
    std::vector<TDecodedMessage> out;
    std::string_view rest = bytes;
    for (;;) {
        TDecodedMessage m;
        std::size_t used = 0;
        std::string error;
        if (DecodeMonitorMessage(rest, m, used, error) != TDecodeResult::Message)
            break;
        out.push_back(m);
        rest.remove_prefix(used);
    }
    return out;
}

std::vector<std::int32_t> typesOf(const std::vector<TDecodedMessage>& messages) {
    std::vector<std::int32_t> types;
    for (const auto& m : messages)
        types.push_back(m.Type);
    return types;
}

// A listening socket on 127.0.0.1:port (0: any free port); `port` becomes the port it got. A
// receive buffer size other than 0 goes to the connections it accepts.
int listenOnLoopback(std::uint16_t& port, int backlog, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0)
        throw std::runtime_error("cannot listen");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A trace viewer stand-in on 127.0.0.1: accepts connections one after another and keeps what
// each one sent.
class Listener {
public:
    explicit Listener(std::uint16_t port = 0) {
        fd_ = listenOnLoopback(port, 8);
        port_ = port;
        thread_ = std::thread([this] { run(); });
    }
    ~Listener() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }
    // After the first `n` bytes of the next connection, that connection is closed by us.
    void closeAfter(std::size_t n) { closeAfter_ = n; }
    std::vector<std::string> connections() {
        std::lock_guard lock(mutex_);
        return connections_;
    }
    // Waits (bounded) until the connections hold at least `bytes` bytes in total.
    bool waitFor(std::size_t count, std::size_t bytes = 0) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex_);
                std::size_t total = 0;
                for (const auto& c : connections_)
                    total += c.size();
                if (connections_.size() >= count && total >= bytes)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                connections_.emplace_back();
                index = connections_.size() - 1;
            }
            const std::size_t limit = closeAfter_.exchange(0);
            std::size_t got = 0;
            while (!stop_) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 20) <= 0) {
                    // Another connection waiting means the client gave this one up.
                    pollfd other{fd_, POLLIN, 0};
                    if (::poll(&other, 1, 0) > 0)
                        break;
                    continue;
                }
                char buffer[4096];
                const ssize_t n =
                    ::read(c, buffer, limit ? std::min(sizeof buffer, limit - got) : sizeof buffer);
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
                std::lock_guard lock(mutex_);
                connections_[index].append(buffer, static_cast<std::size_t>(n));
                if (limit && got >= limit)
                    break;
            }
            ::close(c);
        }
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> closeAfter_{0};
    std::mutex mutex_;
    std::vector<std::string> connections_;
};

// A trace viewer that stopped reading: connections are completed by the system and left
// unread, with a small receive buffer, so the link's sends soon block.
class StalledViewer {
public:
    StalledViewer() { fd_ = listenOnLoopback(port_, 16, 4096); }
    ~StalledViewer() {
        for (int c : held_)
            ::close(c);
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }
    // The connections made to it so far (taken off the backlog, still unread).
    std::size_t connections() {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                break;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                break;
            held_.push_back(c);
        }
        return held_.size();
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> held_;
};

TEST(TraceViewerMessages, ByteLayout) {
    TBufferMessagePacker text;
    text.WriteString("\xC3\xA9"); // U+00E9
    EXPECT_EQ(text.Bytes(), std::string("\0\0\0\x02\xC3\xA9", 6));
    EXPECT_EQ(be(-2), std::string("\xFF\xFF\xFF\xFE", 4));

    const std::string finish = bytesOf(TEventMessage(7, 1, "Nuvo monitoring is finished"));
    EXPECT_EQ(finish, be(1) + be(7) + be(1) + be(27) + "Nuvo monitoring is finished");
    const std::string startup = bytesOf(TStartupMessage(7, "Nuvo monitoring is started", "c.exe"));
    EXPECT_EQ(startup.substr(0, 12), be(2) + be(7) + be(0));
    EXPECT_EQ(startup.substr(startup.size() - 9), be(5) + "c.exe");

    TMonitorEvent e;
    e.EventNumber = 3;
    e.EventType = 10;
    e.Description = "SQL Execute: select 1";
    e.ObjectID = 0x1234;
    e.ObjectName = "MSQuery1";
    e.ObjectKind = 4;
    e.ObjectTypeName = "TMSQuery";
    e.SQL = "select :p";
    e.Params = {{"p", "Integer", "IN", "5"}};
    e.RowsAffected = 1;
    // Start and end events read back field for field.
    const auto start = decodeAll(bytesOf(TEventStartMessage(9, e, 1000)));
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0].Type, mtEventStart);
    EXPECT_EQ(start[0].ProcessID, 9u);
    EXPECT_EQ(start[0].Time, 1000u);
    EXPECT_EQ(start[0].Event.EventNumber, 3u);
    EXPECT_EQ(start[0].Event.ObjectName, "MSQuery1");
    EXPECT_EQ(start[0].Event.ObjectKind, 4);
    EXPECT_EQ(start[0].Event.SQL, "select :p");
    ASSERT_EQ(start[0].Event.Params.size(), 1u);
    EXPECT_EQ(start[0].Event.Params[0].Value, "5");
    e.Failed = true;
    e.ErrorText = "boom";
    const auto end = decodeAll(bytesOf(TEventEndMessage(9, e, 1005)));
    ASSERT_EQ(end.size(), 1u);
    EXPECT_TRUE(end[0].Event.Failed);
    EXPECT_EQ(end[0].Event.ErrorText, "boom");
    EXPECT_EQ(end[0].Event.RowsAffected, 1);
}

// The link's queue encodes events in place, over whatever its slot held before: the bytes are
// those of the field-by-field writers, whatever the earlier message's size.
TEST(TraceViewerMessages, EncodedInPlaceAsWritten) {
    TMonitorEvent e;
    e.EventNumber = 41;
    e.EventType = 10;
    e.Description = "SQL Execute [MSQuery1$0000BEEF]: select :p, :q";
    e.ObjectID = -7;
    e.ObjectName = "MSQuery1";
    e.ObjectKind = 4;
    e.ObjectTypeName = "TMSQuery";
    e.ParentID = 0x1234;
    e.ParentName = "TMSConnection ($00001234)";
    e.ParentKind = 1;
    e.ParentTypeName = "TMSConnection";
    e.SQL = "select :p, :q";
    e.Params = {{"p", "Integer", "IN", "5"}, {"q", "String", "IN", std::string("\0a\xC3\xA9", 4)}};
    e.CallStack = {"Form1.Button1Click", ""};
    e.Failed = true;
    e.ErrorText = "Invalid object name 'x'.";
    e.RowsAffected = -1;
    std::string slot(5000, 'x'); // an earlier, larger message
    for (const auto time : {0u, 1000u, 0xFFFFFFFFu}) {
        TBufferMessagePacker start;
        WriteEventStartMessage(start, 77, e, time);
        EncodeEventStartMessage(slot, 77, e, time);
        EXPECT_EQ(slot, start.Bytes());
        TBufferMessagePacker end;
        WriteEventEndMessage(end, 77, e, time);
        EncodeEventEndMessage(slot, 77, e, time);
        EXPECT_EQ(slot, end.Bytes());
    }
    // An event with nothing in it, after one with everything.
    const TMonitorEvent empty;
    TBufferMessagePacker bare;
    WriteEventStartMessage(bare, 1, empty, 2);
    EncodeEventStartMessage(slot, 1, empty, 2);
    EXPECT_EQ(slot, bare.Bytes());
    EXPECT_EQ(decodeAll(slot).size(), 1u);
}

// The viewer's reader: partial messages ask for more, broken counts and types end the stream,
// and nothing is read beyond the bytes given.
TEST(TraceViewerMessages, ReaderOnPartialAndBrokenStreams) {
    const std::string startup = bytesOf(TStartupMessage(1, "x", "y"));
    for (std::size_t n = 0; n < startup.size(); ++n) {
        TDecodedMessage m;
        std::size_t used = 0;
        std::string error;
        EXPECT_EQ(DecodeMonitorMessage(std::string_view(startup).substr(0, n), m, used, error),
                  TDecodeResult::NeedMore)
            << n;
    }
    TDecodedMessage m;
    std::size_t used = 0;
    std::string error;
    EXPECT_EQ(DecodeMonitorMessage(be(3), m, used, error), TDecodeResult::Malformed);
    EXPECT_EQ(DecodeMonitorMessage(be(2) + be(1) + be(0) + be(-5), m, used, error),
              TDecodeResult::Malformed);
    EXPECT_EQ(DecodeMonitorMessage(be(2) + be(1) + be(0) + be(0x7fffffff), m, used, error),
              TDecodeResult::Malformed);
    EXPECT_EQ(DecodeMonitorMessage(be(6) + "rest", m, used, error), TDecodeResult::Message);
    EXPECT_EQ(used, 4u);
}

class TraceViewerLink : public ::testing::Test {
protected:
    TMonitorEvent statement(const std::string& sql) {
        TMonitorEvent e;
        e.EventType = 10;
        e.Description = "SQL Execute: " + sql;
        e.SQL = sql;
        return e;
    }
};

// Every connection starts with the start-up message; probes come only on an open link; an end
// event without its number carries the last start number.
TEST_F(TraceViewerLink, StartupFirstThenProbedEvents) {
    Listener viewer;
    TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", viewer.port(), 5000, 1000);
    client.Start();
    TMonitorEvent first = statement("select 1");
    EXPECT_EQ(client.EventStart(first), 1u);
    TMonitorEvent end = statement("select 1");
    client.EventEnd(end);
    EXPECT_EQ(end.EventNumber, 1u);
    client.WaitUntilSent();
    ASSERT_TRUE(viewer.waitFor(1, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto connections = viewer.connections();
    ASSERT_EQ(connections.size(), 1u);
    const auto messages = decodeAll(connections[0]);
    EXPECT_EQ(typesOf(messages),
              (std::vector<std::int32_t>{mtStartup, mtProbe, mtProbe, mtEventStart, mtProbe,
                                         mtProbe, mtEventEnd}));
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[0].Description, "Nuvo monitoring is started");
    EXPECT_EQ(messages[6].Event.EventNumber, 1u);
}

// The sending thread sleeps while nothing is queued and lets a burst gather once woken: a lone
// event after a quiet spell still leaves on its own, nobody flushing, and so does the next one.
TEST_F(TraceViewerLink, EventsLeaveWithoutAFlush) {
    Listener viewer;
    TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", viewer.port(), 5000, 1000);
    const auto received = [&](std::size_t count) {
        for (int i = 0; i < 500; ++i) {
            const auto connections = viewer.connections();
            if (!connections.empty() && decodeAll(connections[0]).size() >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    client.Start();
    TMonitorEvent first = statement("select 1");
    client.EventStart(first);
    ASSERT_TRUE(received(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the thread sleeps again
    TMonitorEvent second = statement("select 2");
    client.EventStart(second);
    ASSERT_TRUE(received(7));
    const auto messages = decodeAll(viewer.connections().at(0));
    EXPECT_EQ(typesOf(messages),
              (std::vector<std::int32_t>{mtStartup, mtProbe, mtProbe, mtEventStart, mtProbe,
                                         mtProbe, mtEventStart}));
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[6].Event.SQL, "select 2");
}

// A burst that fills the ring past its half is sent as it comes, not at the end of the gathering
// window: 1200 events in about 12 ms (more than the ring holds, in less than the window) all
// reach the viewer.
TEST_F(TraceViewerLink, BurstPastHalfTheRingIsSentWithoutLoss) {
    Listener viewer;
    TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", viewer.port(), 5000, 1000);
    client.Start();
    const int count = 1200;
    static_assert(count > static_cast<int>(TTraceViewerClient::Slots));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        TMonitorEvent e = statement("select " + std::to_string(i));
        client.EventStart(e);
        // About 10 microseconds apart, without sleeping (a sleep lasts far longer).
        while (std::chrono::steady_clock::now() - start < std::chrono::microseconds(10 * (i + 1))) {
        }
    }
    ASSERT_LT(std::chrono::steady_clock::now() - start, TTraceViewerClient::GatherWindow);
    client.WaitUntilSent();
    std::vector<TDecodedMessage> messages;
    for (int i = 0; i < 500; ++i) {
        const auto connections = viewer.connections();
        if (!connections.empty())
            messages = decodeAll(connections[0]);
        if (messages.size() >= 1 + 3 * static_cast<std::size_t>(count))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::string> statements;
    for (const auto& m : messages)
        if (m.Type == mtEventStart)
            statements.push_back(m.Event.SQL);
    ASSERT_EQ(statements.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(statements.front(), "select 0");
    EXPECT_EQ(statements.back(), "select 1199");
}

// A finish message never opens a link.
TEST_F(TraceViewerLink, FinishAloneOpensNoLink) {
    Listener viewer;
    {
        TTraceViewerClient client;
        client.Configure("Nuvo", "127.0.0.1", viewer.port(), 5000, 1000);
        client.Finish();
        client.WaitUntilSent();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(viewer.connections().empty());
}

// Nothing listens: events are dropped at once; a viewer started later gets a start-up message,
// then the next events.
TEST_F(TraceViewerLink, ViewerStartedLaterGetsTheStartupMessageFirst) {
    std::uint16_t port = 0;
    {
        Listener probe; // a free port, closed again
        port = probe.port();
    }
    TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", port, 0, 1000);
    client.Start();
    for (int i = 0; i < 1000; ++i) {
        TMonitorEvent e = statement("select " + std::to_string(i));
        client.EventStart(e);
    }
    client.WaitUntilSent();
    Listener viewer(port);
    TMonitorEvent later = statement("select later");
    client.EventStart(later);
    client.WaitUntilSent();
    ASSERT_TRUE(viewer.waitFor(1, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto messages = decodeAll(viewer.connections().at(0));
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].Type, mtStartup);
    EXPECT_EQ(messages.back().Type, mtEventStart);
    EXPECT_EQ(messages.back().Event.SQL, "select later");
    EXPECT_EQ(messages.back().Event.EventNumber, 1001u);
}

// The viewer goes away in the middle of a message: a later message reconnects and the new
// connection starts with the start-up message again.
TEST_F(TraceViewerLink, ViewerClosingMidMessageMakesTheNextMessageReconnect) {
    Listener viewer;
    viewer.closeAfter(10);
    TTraceViewerClient client;
    client.Configure("Nuvo", "127.0.0.1", viewer.port(), 0, 1000);
    client.Start();
    for (int i = 0; i < 200 && viewer.connections().size() < 2; ++i) {
        TMonitorEvent e = statement("select " + std::to_string(i));
        client.EventStart(e);
        client.WaitUntilSent();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(viewer.waitFor(2, 14));
    const auto connections = viewer.connections();
    EXPECT_EQ(connections[0].size(), 10u);
    EXPECT_EQ(connections[1].substr(0, 4), be(mtStartup));
}

// A viewer that stops reading holds nothing up. The statement thread goes on queueing (what the
// full ring cannot take is dropped) while the sending thread is stuck in a send; and ending the
// client drops what is left once that send fails, instead of opening connection after connection
// to push megabytes into a viewer that takes none of them.
TEST_F(TraceViewerLink, ViewerThatStopsReadingHoldsNothingUp) {
    StalledViewer viewer;
    std::size_t before = 0;
    {
        TTraceViewerClient client;
        client.Configure("Nuvo", "127.0.0.1", viewer.port(), 0, 1000);
        client.Start();
        // Far more than the socket buffers hold: the sending thread blocks early on, and the
        // ring holds about twelve megabytes when the client ends.
        const std::string sql(8 * 1024, 'x');
        for (int i = 0; i < 5000; ++i) {
            TMonitorEvent e = statement(sql);
            client.EventStart(e);
            client.EventEnd(e);
        }
        for (int i = 0; i < 500 && viewer.connections() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        before = viewer.connections();
        ASSERT_GE(before, 1u);
    }
    // Any connection the ending made has completed by now, accepted or not.
    EXPECT_EQ(viewer.connections(), before);
}

// The SQL Server monitor feeds the process-wide client: its activation sends the start-up
// message with the monitor's caption, and an info message travels as a start and an end event.
TEST_F(TraceViewerLink, MonitorActivationReachesTheViewer) {
    Listener viewer;
    // Made in code, the monitor goes live at once, before it knows the viewer's address: keep
    // that first activation away from the link.
    const TMonitorOutlets installed = MonitorOutlets();
    MonitorOutlets().ViewerStart = nullptr;
    TMSSQLMonitor monitor(nullptr);
    EXPECT_TRUE(monitor.ActualActive());
    monitor.SetActive(false);
    MonitorOutlets() = installed;
    monitor.TraceViewerOptions()->Host = "127.0.0.1";
    monitor.TraceViewerOptions()->Port = viewer.port();
    monitor.SetActive(true);
    TCustomDASQLMonitor::InfoMessage(&monitor, nullptr, "hello");
    TTraceViewerClient::Get().WaitUntilSent();
    ASSERT_TRUE(viewer.waitFor(1, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto messages = decodeAll(viewer.connections().at(0));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].Description, "Nuvo monitoring is started");
    const auto types = typesOf(messages);
    EXPECT_NE(std::find(types.begin(), types.end(), mtEventStart), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), mtEventEnd), types.end());
}

} // namespace
} // namespace kv::dataaccess
