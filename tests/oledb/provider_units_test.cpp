// Parts of the portable provider that need no server: server names on the simulated host, the
// failure mapping and the provider's registration. The property sets and rowsets that both builds
// share: provider_seam_test.cpp.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"
#include "platform/oledb/properties.h"
#include "platform/oledb/rowset.h"
#include "platform/oledb/server_names.h"
#include "platform/oledb/tds_link.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

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
    EXPECT_FALSE(tds::DbLibLink::open(settings, failure, information));
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

// Values of the fixed-size server types as db-lib hands them over: whole ones keep their kind,
// a damaged one shorter than its type reads as null instead of being read past its end.
TEST(RowValues, FixedSizeTypesAreReadWithinTheirBytes) {
    // db-lib's type codes (sybdb.h).
    constexpr int kInt1 = 48, kBit = 50, kInt2 = 52, kInt4 = 56, kReal = 59, kDateTime = 61,
                  kFloat8 = 62, kIntN = 38, kDateTimeN = 111, kInt8 = 127;
    const ColumnDesc column;
    const auto cell = [&](int type, std::vector<BYTE> bytes) {
        // Exactly as many bytes as given, so that a read past them would be caught.
        auto heap = std::make_unique<BYTE[]>(bytes.size() + (bytes.empty() ? 1 : 0));
        if (!bytes.empty())
            std::memcpy(heap.get(), bytes.data(), bytes.size());
        return tds::cellFromRowData(nullptr, type, heap.get(),
                                    static_cast<std::int32_t>(bytes.size()), column);
    };
    EXPECT_EQ(cell(kInt4, {0x2A, 0, 0, 0}).i, 42);
    EXPECT_EQ(cell(kIntN, {0xFE, 0xFF}).i, -2);
    EXPECT_EQ(cell(kIntN, {1, 0, 0, 0, 0, 0, 0, 0}).i, 1);
    EXPECT_EQ(cell(kDateTimeN, {0, 0, 0, 0, 0, 0}).kind, CellValue::Kind::Null);
    EXPECT_EQ(cell(kDateTime, {0, 0, 0, 0, 0, 0, 0, 0}).ts.year, 1900);
    for (const int type : {kInt1, kBit, kInt2, kInt4, kReal, kFloat8, kInt8, kIntN, kDateTime})
        EXPECT_EQ(cell(type, {}).kind, CellValue::Kind::Null) << "type " << type;
    for (const int type : {kInt2, kInt4, kReal, kFloat8, kInt8})
        EXPECT_EQ(cell(type, {1}).kind, CellValue::Kind::Null) << "type " << type;
    EXPECT_EQ(cell(kIntN, {1, 2, 3}).kind, CellValue::Kind::Null);
    EXPECT_EQ(tds::cellFromRowData(nullptr, kInt4, nullptr, 4, column).kind, CellValue::Kind::Null);
}

// A value that is not a number (a text "nan", a floating-point NaN from the server) bound as an
// integer cannot be converted; infinities overflow.
TEST(RowValues, NotANumberBoundAsAnIntegerCannotBeConverted) {
    struct Slot {
        std::uint64_t value = 0;
        DBLENGTH length = 0;
        DBSTATUS status = 0;
    };
    const auto write = [](DBTYPE type, const CellValue& cell) {
        DBBINDING b{};
        b.wType = type;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.obValue = offsetof(Slot, value);
        b.obLength = offsetof(Slot, length);
        b.obStatus = offsetof(Slot, status);
        b.cbMaxLen = sizeof(std::uint64_t);
        Slot slot;
        writeBinding(b, cell, reinterpret_cast<BYTE*>(&slot));
        return slot.status;
    };
    for (const DBTYPE type : {DBTYPE_I1, DBTYPE_I4, DBTYPE_I8, DBTYPE_UI2, DBTYPE_UI4}) {
        EXPECT_EQ(write(type, CellValue::text("nan")), DBSTATUS_E_CANTCONVERTVALUE) << type;
        EXPECT_EQ(write(type, CellValue::real(std::nan(""))), DBSTATUS_E_CANTCONVERTVALUE) << type;
        EXPECT_EQ(write(type, CellValue::real(HUGE_VAL)), DBSTATUS_E_DATAOVERFLOW) << type;
    }
    EXPECT_EQ(write(DBTYPE_I4, CellValue::text(" -42")), DBSTATUS_S_OK);
}
