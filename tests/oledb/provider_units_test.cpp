// Parts of the portable provider that need no server: server names on the simulated host, the
// failure mapping and the provider's registration. The property sets and rowsets that both builds
// share: provider_seam_test.cpp.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"
#include "platform/oledb/properties.h"
#include "platform/oledb/rowset.h"
#include "platform/oledb/server_names.h"
#include "platform/oledb/tds_link.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kv::oledb;

namespace {

const char* kConf = "# Written by the stand-in\n"
                    "[global]\n"
                    "\ttds version = auto\n"
                    "[KELVORA-PC]\n"
                    "\thost = 127.0.0.1\n"
                    "\tport = 40001\n"
                    "\ttds version = 7.1\n"
                    "\n"
                    "[(local)]\n"
                    "\thost = 127.0.0.1\n"
                    "\tport = 40001\n"
                    "[KELVORA-PC\\SQLEXPRESS]\n"
                    "host = 127.0.0.2\n"
                    "port = 40002\n"
                    "; a server elsewhere on the network: never followed\n"
                    "[FARAWAY]\n"
                    "host = faraway.example.com\n"
                    "port = 1433\n"
                    "[NEEDSLOOKUP]\n"
                    "host = 127.0.0.1\n"
                    "instance = OTHER\n";

struct NameCase {
    const char* name;
    const char* input;
    const char* expected; // "" = unknown
};

class ServerNames : public ::testing::TestWithParam<NameCase> {};

} // namespace

TEST_P(ServerNames, ResolveOnlyThroughTheHostsFile) {
    ServerNameResolver resolver(parseFreeTdsConf(kConf), "kelvora-pc");
    const auto endpoint = resolver.resolve(GetParam().input);
    if (std::strlen(GetParam().expected) == 0) {
        EXPECT_FALSE(endpoint) << endpoint->dblibName();
    } else {
        ASSERT_TRUE(endpoint);
        EXPECT_EQ(endpoint->dblibName(), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ServerNames,
    ::testing::Values(
        NameCase{"ComputerName", "KELVORA-PC", "127.0.0.1:40001"},
        NameCase{"ComputerNameAnyCase", "kelvora-pc", "127.0.0.1:40001"},
        NameCase{"Local", "(local)", "127.0.0.1:40001"}, NameCase{"Dot", ".", "127.0.0.1:40001"},
        NameCase{"Empty", "", "127.0.0.1:40001"},
        NameCase{"Localhost", "localhost", "127.0.0.1:40001"},
        NameCase{"TcpPrefix", "tcp:KELVORA-PC", "127.0.0.1:40001"},
        NameCase{"DefaultInstance", "KELVORA-PC\\MSSQLSERVER", "127.0.0.1:40001"},
        NameCase{"NamedInstanceSection", "kelvora-pc\\sqlexpress", "127.0.0.2:40002"},
        NameCase{"AddressAndPortColon", "127.0.0.1:5555", "127.0.0.1:5555"},
        NameCase{"AddressAndPortComma", "127.0.0.1,5555", "127.0.0.1:5555"},
        NameCase{"ComputerNameAndPort", "KELVORA-PC,5555", "127.0.0.1:5555"},
        NameCase{"UnknownName", "OTHERPC", ""}, NameCase{"UnknownInstance", "KELVORA-PC\\NOPE", ""},
        NameCase{"RemoteSection", "FARAWAY", ""},
        NameCase{"InstanceLookupSection", "NEEDSLOOKUP", ""},
        NameCase{"RemoteAddress", "10.0.0.1,1433", ""}, NameCase{"BadPort", "127.0.0.1:99999", ""},
        NameCase{"HostNameAndPort", "example.com:1433", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ServerNamesFile, ListsSectionsAndKnowsLoopback) {
    ServerNameResolver resolver(parseFreeTdsConf(kConf), "KELVORA-PC");
    const auto names = resolver.serverNames();
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], "KELVORA-PC");
    EXPECT_EQ(names[1], "(local)");
    EXPECT_EQ(resolver.resolve("KELVORA-PC")->tdsVersion, "7.1");
    EXPECT_TRUE(isLoopbackHost("127.255.0.9"));
    EXPECT_FALSE(isLoopbackHost("128.0.0.1"));
    EXPECT_FALSE(isLoopbackHost("127.0.0"));
    EXPECT_FALSE(isLoopbackHost("127.0.0.256"));
    EXPECT_FALSE(isLoopbackHost("127.0.0.1x"));
}

// ---------------------------------------------------------------------------------------------
// ---------------------------------------------------------------------------------------------

// The mapping table: what each client-side situation turns into.
TEST(FailureMapping, ClientSideFailuresAsTheClassicProviderReportsThem) {
    tds::Messages none;
    auto unreachable = tds::makeFailure(tds::Situation::ServerUnreachable, none, IID_NULL);
    EXPECT_EQ(unreachable.result, E_FAIL);
    ASSERT_EQ(unreachable.records.size(), 1u);
    EXPECT_EQ(unreachable.records[0].sqlServer->number, 17);

    tds::Messages refused;
    refused.server.push_back({18456, 1, 14, "PC", "", 1, "Login failed for user 'sa'."});
    auto login = tds::makeFailure(tds::Situation::LoginRefused, refused, IID_NULL);
    EXPECT_EQ(login.result, DB_SEC_E_AUTH_FAILED);
    ASSERT_EQ(login.records.size(), 1u);
    EXPECT_EQ(login.records[0].sqlServer->severityClass, 14);

    tds::Messages fatal;
    fatal.server.push_back({3624, 1, 20, "PC", "", 1, "A system assertion check has failed."});
    auto lost = tds::makeFailure(tds::Situation::ConnectionLost, fatal, IID_NULL);
    EXPECT_TRUE(lost.linkLost);
    ASSERT_EQ(lost.records.size(), 2u);
    EXPECT_EQ(lost.records[0].sqlServer->number, 3624);
    EXPECT_EQ(lost.records[1].sqlServer->number, 11);
    EXPECT_EQ(lost.records[1].sqlServer->severityClass, 16);

    auto timeout = tds::makeFailure(tds::Situation::CommandTimeout, none, IID_NULL);
    EXPECT_EQ(timeout.result, DB_E_ABORTLIMITREACHED);
    ASSERT_EQ(timeout.records.size(), 1u);
    EXPECT_FALSE(timeout.records[0].sqlServer);

    auto silent = tds::makeFailure(tds::Situation::SilentFailure, none, IID_NULL);
    EXPECT_EQ(silent.result, E_FAIL);
    EXPECT_EQ(silent.records.size(), 1u);
}

// Integrated security cannot be used here: the login is refused before any connection.
TEST(FailureMapping, IntegratedLoginIsRefusedWithoutConnecting) {
    tds::LoginSettings settings;
    settings.server = "NOWHERE";
    settings.integrated = true;
    tds::Failure failure;
    tds::Messages information;
    EXPECT_FALSE(tds::Link::open(settings, failure, information));
    EXPECT_EQ(failure.result, DB_SEC_E_AUTH_FAILED);
    EXPECT_EQ(failure.records.at(0).sqlServer->number, 18452);
}

// The portable provider is registered from the start under the classic provider's ids only, so
// a provider search that starts with the Native Client ids skips them.
TEST(PortableProvider, RegisteredUnderTheClassicIdsOnly) {
    EXPECT_TRUE(kv::oledb::isClassRegistered(CLSID_SQLOLEDB));
    EXPECT_TRUE(kv::oledb::isClassRegistered(CLSID_SQLOLEDB_ENUMERATOR));
    EXPECT_FALSE(kv::oledb::isClassRegistered(CLSID_SQLNCLI10));
    EXPECT_FALSE(kv::oledb::isClassRegistered(CLSID_SQLNCLI));
}
