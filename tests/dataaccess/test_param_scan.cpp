// The parameter scan: which colons are markers and what the provider receives.
#include "dataaccess/ParamScan.h"
#include "dataaccess/Parser.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;

namespace {

struct ScanCase {
    const char* name;
    const char* text;
    std::vector<std::string> params;
    const char* command;
};

class ParamScanTable : public testing::TestWithParam<ScanCase> {};

} // namespace

TEST_P(ParamScanTable, FindsMarkers) {
    const ScanCase& c = GetParam();
    TParamScanResult r = ScanParams(c.text);
    EXPECT_EQ(r.Names, c.params);
    EXPECT_EQ(r.CommandText, c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParamScanTable,
    testing::Values(
        ScanCase{"plain", "select :x", {"x"}, "select ?"},
        ScanCase{"number", "select :1, :2", {"1", "2"}, "select ?, ?"},
        ScanCase{"at_prefix", "exec p :@x", {"@x"}, "exec p ?"},
        ScanCase{"keyword_name", "where a=:select", {"select"}, "where a=?"},
        ScanCase{"bracket_name", "where a=:[my p]", {"my p"}, "where a=?"},
        ScanCase{"no_space_around", "a=:x+:y", {"x", "y"}, "a=?+?"},
        ScanCase{"line_comment", "select 1 -- :x\r\n", {}, "select 1 -- :x\r\n"},
        ScanCase{"block_comment", "select /* :x */ 1", {}, "select /* :x */ 1"},
        ScanCase{"comment_then_marker", "/* :x */ :y", {"y"}, "/* :x */ ?"},
        ScanCase{"single_quotes", "select ':x'", {}, "select ':x'"},
        ScanCase{"double_quotes", "select \":x\"", {}, "select \":x\""},
        ScanCase{"brackets", "select [:x]", {}, "select [:x]"},
        ScanCase{"spaced_colon", "a : b", {}, "a : b"},
        ScanCase{"double_colon", "a::b", {}, "a::b"}, ScanCase{"colon_at_end", "a:", {}, "a:"},
        ScanCase{"colon_at_blank", "a:@ b", {}, "a:@ b"},
        ScanCase{"colon_string", "a:'x'", {}, "a:'x'"},
        ScanCase{"windows_path",
                 "create database kelvora ON (FILENAME = 'c:\\kelvora\\data\\kelvora_data.mdf') "
                 "FOR ATTACH",
                 {},
                 "create database kelvora ON (FILENAME = 'c:\\kelvora\\data\\kelvora_data.mdf') "
                 "FOR ATTACH"},
        ScanCase{"console_select",
                 "use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='kelvora'",
                 {},
                 "use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='kelvora'"}),
    [](const testing::TestParamInfo<ScanCase>& i) { return std::string(i.param.name); });

// A text without a colon never reaches the lexer, so bytes it would refuse pass through.
TEST(ParamScan, TextWithoutColonIsNotLexed) {
    std::string text("select 1\x01");
    EXPECT_EQ(ScanParams(text).CommandText, text);
    EXPECT_THROW(ScanParams(text + ":x"), EParserError);
}
