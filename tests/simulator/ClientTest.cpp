// Real clients against the stand-in on an ephemeral loopback port: FreeTDS's tsql and db-lib
// (login, rowsets, messages with number, class, state, server, procedure and line, failed
// logins, attention), malformed input on one connection while another keeps working, and a
// server killed in the middle of a batch.

#include "StandinTestHost.h"
#include "simulator/standin/Discovery.h"
#include "simulator/standin/Server.h"
#include "simulator/standin/Tds.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <sybdb.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kv::standin;
using namespace kv::standin::testing;
using ::testing::HasSubstr;

namespace {

struct Captured {
    int number = 0, severity = -1, state = -1, line = -1;
    std::string text, server, procedure;
};
std::vector<Captured> messages;
std::vector<int> errors;
int timeoutAnswer = INT_CANCEL;

int onMessage(DBPROCESS*, DBINT number, int state, int severity, char* text, char* server,
              char* procedure, int line) {
    messages.push_back({static_cast<int>(number), severity, state, line, text ? text : "",
                        server ? server : "", procedure ? procedure : ""});
    return 0;
}

int onError(DBPROCESS*, int, int dberr, int, char*, char*) {
    errors.push_back(dberr);
    return dberr == SYBETIME ? timeoutAnswer : INT_CANCEL;
}

class ClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dbinit();
        dbmsghandle(onMessage);
        dberrhandle(onError);
    }

    void startServer(Profile profile = Profile::Sql2000) {
        Server::Options options;
        options.profile = profile;
        server = std::make_unique<Server>(host.host(), options);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        ASSERT_TRUE(writeFreetdsConf(host.host(), server->port(), profile, error)) << error;
        setenv("FREETDSCONF", host.host().freetdsConf().c_str(), 1);
        messages.clear();
        errors.clear();
    }

    DBPROCESS* open(const char* user = "sa", const char* password = "k", int packet = 0) {
        LOGINREC* login = dblogin();
        DBSETLUSER(login, user);
        DBSETLPWD(login, password);
        DBSETLAPP(login, "standin-test");
        if (packet)
            DBSETLPACKET(login, packet);
        DBPROCESS* p = dbopen(login, "KELVORA-PC");
        dbloginfree(login);
        return p;
    }

    // Runs a batch and returns the first column of every row of every result.
    std::vector<std::string> query(DBPROCESS* p, const std::string& sql, RETCODE* exec = nullptr) {
        std::vector<std::string> out;
        dbcmd(p, sql.c_str());
        RETCODE rc = dbsqlexec(p);
        if (exec)
            *exec = rc;
        while (dbresults(p) != NO_MORE_RESULTS) {
            while (dbnextrow(p) != NO_MORE_ROWS) {
                const int len = dbdatlen(p, 1);
                BYTE* data = dbdata(p, 1);
                char buf[1024] = {};
                if (data && len < 400)
                    dbconvert(p, dbcoltype(p, 1), data, len, SYBCHAR, reinterpret_cast<BYTE*>(buf),
                              -1);
                out.emplace_back(data ? buf : "NULL");
            }
        }
        return out;
    }

    TestHost host;
    std::unique_ptr<Server> server;
};

// tsql logs in through the host's freetds.conf, selects from sysdatabases and shows the
// server's number, class and state for a failing statement.
TEST_F(ClientTest, TsqlSelectsAndReportsErrors) {
    if (std::system("command -v tsql > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "tsql (freetds-bin) is not installed";
    startServer();
    const std::string command = "printf 'SELECT name FROM master.dbo.sysdatabases\\ngo\\n"
                                "select * from nothere\\ngo\\n' | tsql -S KELVORA-PC -U sa -P k "
                                "2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe))
        output += buf;
    ::pclose(pipe);
    EXPECT_THAT(output, HasSubstr("msdb"));
    EXPECT_THAT(output, HasSubstr("(4 rows affected)"));
    EXPECT_THAT(output, HasSubstr("Msg 208 (severity 16, state 1) from KELVORA-PC"));
    EXPECT_THAT(output, HasSubstr("Invalid object name 'nothere'."));
}

// db-lib's message handler sees every field of an error and of an informational message.
TEST_F(ClientTest, DbLibMessageFieldsAndRowsets) {
    startServer();
    DBPROCESS* p = open();
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(dbname(p), "master");
    ASSERT_EQ(messages.size(), 2u); // 5701 and 5703 at login
    EXPECT_EQ(messages[0].number, 5701);
    EXPECT_EQ(messages[0].severity, 0);

    messages.clear();
    RETCODE rc;
    query(p, "select 1\r\nselect * from nothere", &rc);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, 208);
    EXPECT_EQ(messages[0].severity, 16);
    EXPECT_EQ(messages[0].state, 1);
    EXPECT_EQ(messages[0].line, 2);
    EXPECT_EQ(messages[0].server, "KELVORA-PC");

    messages.clear();
    query(p, "exec sp_configure 'allow updates', 1", &rc);
    EXPECT_EQ(rc, SUCCEED);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, 15457);
    EXPECT_EQ(messages[0].severity, 0);
    EXPECT_EQ(messages[0].procedure, "sp_configure");
    EXPECT_GT(messages[0].line, 0);

    auto names = query(p, "use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='msdb'");
    EXPECT_EQ(names, std::vector<std::string>{"msdb"});
    EXPECT_EQ(DBCOUNT(p), 1);
    auto version = query(p, "SELECT @@VERSION");
    ASSERT_EQ(version.size(), 1u);
    EXPECT_THAT(version[0], HasSubstr("8.00.2039"));
    dbclose(p);
}

TEST_F(ClientTest, FailedLoginIs18456Class14) {
    startServer(Profile::Sql2005);
    EXPECT_EQ(open("sa", "wrong"), nullptr);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].number, 18456);
    EXPECT_EQ(messages[0].severity, 14);
    EXPECT_EQ(messages[0].state, 1);
    EXPECT_EQ(messages[0].text, "Login failed for user 'sa'.");
    // The server keeps serving others.
    DBPROCESS* p = open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(query(p, "SELECT 1"), std::vector<std::string>{"1"});
    dbclose(p);
}

// A timed-out WAITFOR is cancelled with an attention; the connection stays usable, and a small
// negotiated packet size splits large responses.
TEST_F(ClientTest, AttentionAndSmallPackets) {
    startServer();
    DBPROCESS* p = open("sa", "k", 512);
    ASSERT_NE(p, nullptr);
    timeoutAnswer = INT_TIMEOUT;
    dbsettime(1);
    dbcmd(p, "WAITFOR DELAY '00:00:20'");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(dbsqlexec(p), FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(DBDEAD(p));
    dbsettime(0);
    timeoutAnswer = INT_CANCEL;
    auto version = query(p, "SELECT @@VERSION, @@VERSION, @@VERSION, @@VERSION");
    ASSERT_EQ(version.size(), 1u);
    EXPECT_THAT(version[0], HasSubstr("Desktop Engine"));
    // dbcancel after the first of several rows.
    dbcmd(p, "SELECT name FROM master.dbo.sysdatabases");
    ASSERT_EQ(dbsqlexec(p), SUCCEED);
    ASSERT_EQ(dbresults(p), SUCCEED);
    ASSERT_EQ(dbnextrow(p), REG_ROW);
    EXPECT_EQ(dbcancel(p), SUCCEED);
    EXPECT_EQ(query(p, "SELECT 2"), std::vector<std::string>{"2"});
    dbclose(p);
}

int rawConnect(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// True when the server closed the connection (after any answer it sent).
bool closedByServer(int fd) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
}

std::vector<std::uint8_t> packet(std::uint8_t type, std::vector<std::uint8_t> body,
                                 int lengthOverride = -1) {
    const std::size_t len =
        lengthOverride >= 0 ? static_cast<std::size_t>(lengthOverride) : body.size() + 8;
    std::vector<std::uint8_t> out(8 + body.size());
    out[0] = type;
    out[1] = 1;
    out[2] = static_cast<std::uint8_t>(len >> 8);
    out[3] = static_cast<std::uint8_t>(len & 0xFF);
    out[6] = 1;
    std::copy(body.begin(), body.end(), out.begin() + 8);
    return out;
}

// Truncated, oversized and garbage input ends only the connection that sent it.
TEST_F(ClientTest, MalformedPacketsEndOnlyTheirConnection) {
    startServer();
    DBPROCESS* good = open();
    ASSERT_NE(good, nullptr);
    const std::vector<std::uint8_t> validPrelogin = {0x00, 0x00, 0x06, 0x00, 0x00, 0xFF};
    const std::vector<std::vector<std::uint8_t>> attacks = {
        {0x12, 0x01, 0x00, 0x03, 0, 0, 0, 0},                      // shorter than a header
        packet(0x12, std::vector<std::uint8_t>(100, 0xEE), 60000), // longer than allowed
        packet(0x12, {0x00, 0x00, 0xFF, 0x00, 0x10}),              // option past the end
        packet(0x01, {'s', 0, 'e', 0}),                            // batch before login
        std::vector<std::uint8_t>(5000, 0xA7),                     // noise
    };
    for (std::size_t i = 0; i < attacks.size(); ++i) {
        SCOPED_TRACE(i);
        int fd = rawConnect(server->port());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, attacks[i].data(), attacks[i].size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(attacks[i].size()));
        EXPECT_TRUE(closedByServer(fd));
        ::close(fd);
        EXPECT_EQ(query(good, "SELECT " + std::to_string(i)),
                  std::vector<std::string>{std::to_string(i)});
    }
    // A LOGIN7 whose user name points outside the message.
    int fd = rawConnect(server->port());
    auto hello = packet(0x12, validPrelogin);
    ASSERT_GT(::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL), 0);
    std::uint8_t reply[256];
    ASSERT_GT(::recv(fd, reply, sizeof reply, 0), 0);
    std::vector<std::uint8_t> login(94, 0);
    login[0] = 94; // its own length, as the message has it
    login[4] = 0x04;
    login[7] = 0x74;
    login[40] = 90;  // ibUserName
    login[42] = 200; // cchUserName
    auto bad = packet(0x10, login);
    ASSERT_GT(::send(fd, bad.data(), bad.size(), MSG_NOSIGNAL), 0);
    EXPECT_TRUE(closedByServer(fd));
    ::close(fd);
    // A connection cut in the middle of a message.
    fd = rawConnect(server->port());
    auto half = packet(0x12, validPrelogin);
    half.resize(10);
    ASSERT_GT(::send(fd, half.data(), half.size(), MSG_NOSIGNAL), 0);
    ::close(fd);
    EXPECT_EQ(query(good, "SELECT 99"), std::vector<std::string>{"99"});
    dbclose(good);
    // Each malformed connection was logged to the server's own log.
    std::ifstream errorlog(
        host.path("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\LOG\\ERRORLOG"));
    std::string log((std::istreambuf_iterator<char>(errorlog)), {});
    EXPECT_THAT(log, HasSubstr("exceeds the packet size"));
    EXPECT_THAT(log, HasSubstr("LOGIN7 user name"));
}

// The resolution protocol answers the host's loopback discovery port.
TEST_F(ClientTest, DiscoveryAnswersOnLoopback) {
    InstanceInfo instance{"KELVORA-PC", "MSSQLSERVER", "8.00.2039", 1433};
    const std::uint8_t all[] = {0x03};
    auto answer = discoveryAnswer(all, 1, instance);
    ASSERT_TRUE(answer);
    const std::string text(answer->begin() + 3, answer->end());
    EXPECT_EQ(text, "ServerName;KELVORA-PC;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00."
                    "2039;tcp;1433;;");
    EXPECT_EQ((*answer)[1] | ((*answer)[2] << 8), static_cast<int>(text.size()));
    const std::uint8_t other[] = {0x04, 'S', 'Q', 'L', 'E', 'X', 'P', 'R', 'E', 'S', 'S', 0};
    EXPECT_FALSE(discoveryAnswer(other, sizeof other, instance));
    const std::uint8_t ours[] = {0x04, 'M', 'S', 'S', 'Q', 'L', 'S', 'E', 'R', 'V', 'E', 'R', 0};
    EXPECT_TRUE(discoveryAnswer(ours, sizeof ours, instance));

    DiscoveryResponder responder;
    std::string error;
    EXPECT_FALSE(responder.start("10.0.0.1", 0, instance, error));
    const auto target = host.host().discoveryTarget();
    ASSERT_TRUE(responder.start(target.address, target.port, instance, error)) << error;
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(target.port);
    inet_pton(AF_INET, target.address.c_str(), &addr.sin_addr);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::sendto(fd, all, 1, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    ASSERT_GT(n, 3);
    EXPECT_EQ(std::string(buf + 3, static_cast<std::size_t>(n) - 3), text);
}

// The executable, killed with SIGKILL in the middle of a batch, leaves consistent files and a
// catalog that the next start reads back.
TEST_F(ClientTest, ServerKilledMidBatchLeavesFilesConsistent) {
    host.writeDatabase(ProductData, ProductLog);
    auto spawn = [&](pid_t& pid) -> std::uint16_t {
        int out[2];
        if (::pipe(out) != 0)
            return 0;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::execl(STANDIN_EXECUTABLE, "sqlserver-standin", "--host", host.root().c_str(),
                    "--port", "0", "--profile", "2005", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        char line[128] = {};
        std::size_t used = 0;
        while (used < sizeof line - 1) {
            ssize_t n = ::read(out[0], line + used, 1);
            if (n <= 0 || line[used] == '\n')
                break;
            ++used;
        }
        ::close(out[0]);
        unsigned port = 0;
        std::sscanf(line, "listening 127.0.0.1:%u", &port);
        return static_cast<std::uint16_t>(port);
    };
    pid_t pid = 0;
    ASSERT_NE(spawn(pid), 0);
    setenv("FREETDSCONF", host.host().freetdsConf().c_str(), 1);
    DBPROCESS* p = open();
    ASSERT_NE(p, nullptr);
    query(p, "use master\r\ncreate database kelvora ON (FILENAME = "
             "'c:\\kelvora\\data\\kelvora_data.mdf')  LOG ON (FILENAME = "
             "'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH");
    dbcmd(p, "use kelvora dbcc checkdb('kelvora') WAITFOR DELAY '00:00:30'");
    ASSERT_EQ(dbsqlsend(p), SUCCEED);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    dbclose(p);

    EXPECT_EQ(host.damagedPages(ProductData), 0);
    ASSERT_NE(spawn(pid), 0);
    p = open();
    ASSERT_NE(p, nullptr);
    messages.clear();
    EXPECT_EQ(query(p, "SELECT name FROM master.dbo.sysdatabases WHERE name = 'kelvora'"),
              std::vector<std::string>{"kelvora"});
    RETCODE rc;
    query(p, "dbcc checkdb('kelvora') with no_infomsgs", &rc);
    EXPECT_EQ(rc, SUCCEED);
    EXPECT_TRUE(messages.empty());
    dbclose(p);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace

#ifdef SIMHOST_EXECUTABLE
std::string runCommand(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buf[1024];
    while (pipe && std::fgets(buf, sizeof buf, pipe))
        output += buf;
    if (pipe)
        ::pclose(pipe);
    return output;
}

// simhost's demo host: the MSSQLSERVER service runs the stand-in in service mode, which
// reports running, writes freetds.conf and answers under the computer name and "(local)";
// damage and check work on its data file; a stop request ends the service.
TEST_F(ClientTest, SimhostDemoHostRunsTheStandinAsAService) {
    const std::filesystem::path dir = host.root().string() + "-demo";
    std::filesystem::remove_all(dir);
    const std::string simhost = SIMHOST_EXECUTABLE;
    const std::string env = std::string("KELVORA_STANDIN=") + STANDIN_EXECUTABLE + " ";
    ASSERT_EQ(runCommand(env + simhost + " create " + dir.string() +
                         " --standin --profile 2005 --damaged 2 --sa-password 'x y'"),
              dir.string() + "\n");
    auto demo = kv::platform::sim::SimHost::open(dir);
    ASSERT_TRUE(demo);
    std::ifstream status(demo->statusFile("MSSQLSERVER"));
    std::string statusText((std::istreambuf_iterator<char>(status)), {});
    EXPECT_THAT(statusText, HasSubstr("state = 4"));
    setenv("FREETDSCONF", demo->freetdsConf().c_str(), 1);

    messages.clear();
    DBPROCESS* p = open("sa", "x y");
    ASSERT_NE(p, nullptr);
    EXPECT_THAT(query(p, "SELECT @@VERSION"), ::testing::ElementsAre(HasSubstr("9.00.5000")));
    messages.clear();
    query(p, "dbcc checkdb('kelvora') with no_infomsgs");
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const Captured& m) { return m.number == 8928; }),
              2);
    dbclose(p);
    LOGINREC* login = dblogin();
    DBSETLUSER(login, "sa");
    DBSETLPWD(login, "x y");
    DBPROCESS* local = dbopen(login, "(local)");
    dbloginfree(login);
    EXPECT_NE(local, nullptr);
    if (local)
        dbclose(local);

    const std::string data = "'C:\\Kelvora\\Data\\kelvora_Data.MDF'";
    EXPECT_EQ(runCommand(simhost + " check " + dir.string() + " " + data), "2 damaged pages\n");
    EXPECT_EQ(runCommand(simhost + " damage " + dir.string() + " " + data + " 1"),
              "damaged 1 pages\n");
    EXPECT_EQ(runCommand(simhost + " check " + dir.string() + " " + data), "3 damaged pages\n");
    EXPECT_THAT(runCommand(simhost + " service " + dir.string() + " stop MSSQLSERVER --wait"),
                HasSubstr("stopped"));
    std::filesystem::remove_all(dir);
}
#endif
