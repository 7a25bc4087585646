// sp_executesql with parameters, byte for byte: the request as db-lib sends it (TDS 7.1, no
// headers), the statement the engine runs, and the RETURNVALUE tokens of the outputs.

#include "simulator/standin/RpcParams.h"

#include "platform/Unicode.h"
#include "simulator/standin/RpcDeclarations.h"
#include "simulator/standin/Tds.h"
#include "simulator/standin/Text.h"

#include <gmock/gmock.h>

using namespace kv::standin;
using namespace kv::standin::tds;

namespace {

constexpr std::uint32_t kTds71 = 0x71000001;

class RequestBuilder {
public:
    RequestBuilder() {
        u16(0xFFFF); // procedure by id
        u16(10);     // sp_executesql
        u16(0);      // option flags
    }
    void name(const std::string& n) {
        out.push_back(static_cast<std::uint8_t>(n.size()));
        appendUtf16le(out, kv::platform::utf8ToUtf16(n));
    }
    void ntext(const std::string& n, const std::string& text) {
        name(n);
        out.push_back(0);    // status
        out.push_back(0x63); // ntext
        u32(0x7FFFFFFF);
        out.insert(out.end(), {0x09, 0x04, 0xD0, 0x00, 0x34});
        std::vector<std::uint8_t> bytes;
        appendUtf16le(bytes, kv::platform::utf8ToUtf16(text));
        u32(static_cast<std::uint32_t>(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    void bigint(const std::string& n, bool output, std::optional<std::int64_t> v) {
        name(n);
        out.push_back(output ? 1 : 0);
        out.push_back(0x26);
        out.push_back(8);
        if (!v) {
            out.push_back(0);
            return;
        }
        out.push_back(8);
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(*v) >> (8 * i)));
    }
    void varchar(const std::string& n, bool output, const std::string& text) {
        name(n);
        out.push_back(output ? 1 : 0);
        out.push_back(0xA7);
        u16(8000);
        out.insert(out.end(), {0x09, 0x04, 0xD0, 0x00, 0x34});
        u16(static_cast<std::uint16_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> out;

private:
    void u16(std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

} // namespace

// The statement, the declaration list and the values arrive with their names, directions and
// types; inputs are bound as literals, assignment targets become the select's column names.
TEST(RpcParamsTest, ReadsTheCallAndBindsTheStatement) {
    RequestBuilder b;
    b.ntext("@stmt", "SET @P1 = @P2 select N'@P2', @P3 -- @P2");
    b.ntext("@params", "@P1 bigint OUTPUT, @P2 ntext, @P3 bigint");
    b.bigint("@P1", true, std::nullopt);
    b.varchar("@P2", false, "it's");
    b.bigint("@P3", false, -5);
    std::string error;
    auto request = parseRpc(b.out, kTds71, error);
    ASSERT_TRUE(request) << error;
    EXPECT_EQ(request->procedure, "sp_executesql");
    EXPECT_EQ(request->statement, "SET @P1 = @P2 select N'@P2', @P3 -- @P2");
    ASSERT_EQ(request->params.size(), 4u);
    EXPECT_EQ(request->params[1].name, "@P1");
    EXPECT_TRUE(request->params[1].output);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(request->params[1].value));
    EXPECT_EQ(std::get<std::string>(request->params[2].value), "it's");
    EXPECT_EQ(std::get<std::int64_t>(request->params[3].value), -5);
    EXPECT_EQ(bindRpcParams(*request->statement, request->params),
              "SELECT [@P1] = N'it''s' select N'@P2', -5 -- @P2");
}

// The assignment select's row becomes the output value, and only the outputs go back, as
// RETURNVALUE tokens in the layout of TDS 7.1, after RETURNSTATUS.
TEST(RpcParamsTest, AssignedValuesGoBackAsReturnValues) {
    RequestBuilder b;
    b.ntext("@stmt", "SET @P1 = 42");
    b.ntext("@params", "@P1 bigint OUTPUT, @P2 bigint");
    b.bigint("@P1", true, std::nullopt);
    b.bigint("@P2", false, 7);
    std::string error;
    auto request = parseRpc(b.out, kTds71, error);
    ASSERT_TRUE(request) << error;

    RecordingSink recorded;
    AssignmentSink sink(recorded, request->params);
    RowSet assigned;
    assigned.columns = {Column{"@P1", ColumnType::Int, 0, false}};
    assigned.rows = {Row{Value{std::int64_t{42}}}};
    sink.rowSet(assigned);
    StatementEnd end;
    end.hasCount = true;
    end.count = 1;
    sink.statementDone(end);
    EXPECT_TRUE(recorded.rowSets().empty());
    ASSERT_EQ(recorded.ends().size(), 1u);
    EXPECT_FALSE(recorded.ends()[0].hasCount);

    TokenWriter w(kTds71, {0x09, 0x04, 0xD0, 0x00, 0x34});
    writeReturnValues(w, request->params);
    const std::vector<std::uint8_t> expected = {
        0x79, 0,   0, 0,   0,                // RETURNSTATUS 0
        0xAC, 2,   0,                        // RETURNVALUE, ordinal 2 (after the declaration)
        3,    '@', 0, 'P', 0, '1', 0,        // name
        0x01,                                // output
        0,    0,                             // user type (7.1: two bytes)
        0x01, 0,                             // flags
        0x26, 8,                             // bigint
        8,    42,  0, 0,   0, 0,   0, 0, 0}; // the value
    EXPECT_EQ(w.bytes(), expected);
}

// A parameter of a type the stand-in does not read ends the request with a reason.
TEST(RpcParamsTest, UnknownParameterTypeIsReported) {
    RequestBuilder b;
    b.ntext("@stmt", "select 1");
    b.name("@x");
    b.out.push_back(0);
    b.out.push_back(0xF1); // xml
    std::string error;
    EXPECT_FALSE(parseRpc(b.out, kTds71, error));
    EXPECT_EQ(error, "RPC parameter @x of type 241");
}

// Declaration lists as clients write them: AS, sizes with a comma inside, (max), OUT and OUTPUT,
// sysname; an entry without a name is left out.
TEST(RpcParamsTest, DeclarationListsAreRead) {
    const auto d = parseRpcDeclarations(
        " @P1 AS int, @Amount decimal(10, 2) OUT,@P3 nvarchar(max) OUTPUT, @n sysname, x int, "
        "@v VarChar (20)");
    ASSERT_EQ(d.size(), 5u);
    EXPECT_EQ(d[0].name, "@P1");
    EXPECT_EQ(d[0].type, "int");
    EXPECT_FALSE(d[0].output);
    EXPECT_EQ(d[1].type, "decimal");
    EXPECT_TRUE(d[1].output);
    EXPECT_EQ(d[2].length, -1);
    EXPECT_TRUE(d[2].output);
    EXPECT_EQ(d[3].length, 128);
    EXPECT_EQ(d[4].name, "@v");
    EXPECT_EQ(d[4].type, "varchar");
    EXPECT_EQ(d[4].length, 20);
}
