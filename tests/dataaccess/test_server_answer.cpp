// Server discovery: the enumerator's sources on a simulated host (registry keys of the local
// machine, a loopback responder in place of the network, the host's empty client configuration
// for the OLE DB enumerator). The answer parser: test_server_answer_parse.cpp.
#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSServerAnswer.h"
#include "dataaccess/MSServices.h"
#include "platform/CompositePlatform.h"
#include "platform/posix/SimHost.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kv::dataaccess;

namespace {

// A UDP responder on loopback that answers every request with the given datagrams.
class Responder {
public:
    explicit Responder(std::vector<std::string> Answers) : answers_(std::move(Answers)) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { loop(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }
    int requests() const { return requests_; }

private:
    void loop() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &len) != 1 ||
                buffer[0] != 0x03)
                continue;
            ++requests_;
            for (const std::string& a : answers_)
                (void)::sendto(fd_, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    std::vector<std::string> answers_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

std::string answer(const std::string& Text) {
    return std::string("\x05", 1) + static_cast<char>(Text.size() & 0xFF) +
           static_cast<char>(Text.size() >> 8) + Text;
}

class Discovery : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv-disc-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        auto host = kv::platform::sim::SimHost::create(folder_);
        ASSERT_TRUE(host) << host.error().message;
        // The OLE DB enumerator reads this host's (missing) client configuration.
        ::setenv("KELVORA_HOST", folder_.c_str(), 1);
        simulated_ = kv::platform::sim::createSimulatedPlatform(*host);
        platform_ = std::make_unique<kv::platform::CompositePlatform>(simulated_.get());
        platform_->setComputerName("PC1");
        SetDataAccessPlatform(platform_.get());
    }
    void TearDown() override {
        SetDataAccessPlatform(nullptr);
        ::unsetenv("KELVORA_HOST");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    void answering(Responder& R) { platform_->setDiscoveryTarget({"127.0.0.1", R.port(), false}); }
    void machineValue(const std::string& Key, const std::string& Name, const std::string& Value) {
        auto key = simulated_->registry().createKey(kv::platform::RegistryRoot::LocalMachine, Key);
        ASSERT_TRUE(key);
        ASSERT_TRUE((*key)->writeString(Name, Value));
    }

    std::filesystem::path folder_;
    std::unique_ptr<kv::platform::Platform> simulated_;
    std::unique_ptr<kv::platform::CompositePlatform> platform_;
};

constexpr const char* kInstances = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
constexpr const char* kAliases = "SOFTWARE\\Microsoft\\MSSQLServer\\Client\\ConnectTo";

// PC1 and PC1\SQLEXPRESS come from the registry and again from the network: each once. An
// alias with a protocol, address and port is listed by its name; one without a comma is not.
TEST_F(Discovery, RegistryAndBroadcastListEachServerOnce) {
    machineValue(kInstances, "MSSQLSERVER", "MSSQL.1");
    machineValue(kInstances, "SQLEXPRESS", "MSSQL.2");
    machineValue(kAliases, "ZALIAS", "DBMSSOCN,127.0.0.1,1433");
    machineValue(kAliases, "NOTALIAS", "nocomma");
    Responder responder({answer("ServerName;PC1;InstanceName;MSSQLSERVER;IsClustered;No;;"
                                "ServerName;PC1;InstanceName;SQLEXPRESS;IsClustered;No;;")});
    answering(responder);
    TStringList list;
    list.Add("old");
    TMSServerEnumerator().GetServerList(&list);
    EXPECT_EQ(list.Text(), "PC1\r\nPC1\\SQLEXPRESS\r\nZALIAS\r\n");
    EXPECT_EQ(responder.requests(), 1);
}

// A malformed answer among good ones ends the whole operation: nothing is listed, and the
// error reaches the caller.
TEST_F(Discovery, MalformedAnswerListsNothing) {
    machineValue(kInstances, "MSSQLSERVER", "MSSQL.1");
    Responder responder(
        {answer("ServerName;GOOD;InstanceName;MSSQLSERVER;;"), answer("ServerName;BROKEN")});
    answering(responder);
    TStringList list;
    list.Add("old");
    try {
        TMSServerEnumerator().GetServerList(&list);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "invalid Value");
    }
    EXPECT_EQ(list.Count(), 0);
}

// Nobody answers: the request ends after one receive time-out with the other sources only.
// The compact-edition provider lists nothing and asks nobody.
TEST_F(Discovery, NoAnswerAndCompactProvider) {
    Responder silent({});
    answering(silent);
    machineValue(kInstances, "MSSQLSERVER", "MSSQL.1");
    TStringList list;
    TMSServerEnumerator().GetServerList(&list);
    EXPECT_EQ(list.Text(), "PC1\r\n");

    TMSServerEnumerator compact;
    EXPECT_TRUE(compact.SetProp(prProvider, 3));
    TEnumeratorValue value;
    EXPECT_TRUE(compact.GetProp(prProvider, value));
    EXPECT_EQ(std::get<int>(value), 3);
    const int before = silent.requests();
    compact.GetServerList(&list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(silent.requests(), before);
}

// A target outside loopback is never asked.
TEST_F(Discovery, NonLoopbackTargetIsNotAsked) {
    platform_->setDiscoveryTarget({"192.0.2.1", 1434, true});
    TStringList list;
    TMSServerEnumerator().GetServerList(&list);
    EXPECT_EQ(list.Count(), 0);
}

TEST(ServerEnumeratorDeathTest, UnknownSettingStops) {
    EXPECT_DEATH(
        {
            TMSServerEnumerator e;
            e.SetProp(77, 1);
        },
        "setting 77");
}

} // namespace
