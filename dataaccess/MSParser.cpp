#include "dataaccess/MSParser.h"

#include <algorithm>
#include <array>

namespace kv::dataaccess {

namespace {

// Sorted, upper case.
constexpr std::array<std::string_view, 15> kMSKeywords = {
    "COMPUTE", "CREATE",    "CROSS",   "DECLARE", "DEFAULT", "END",  "FUNCTION", "GO",
    "OPTION",  "PROCEDURE", "REPLACE", "RULE",    "TABLE",   "VIEW", "WITH"};

} // namespace

TMSParser::TMSParser(std::string_view text) : TSQLParser(text) {}

TMSParser::~TMSParser() = default;

char TMSParser::IdentQuoteClose(char ch) const {
    if (ch == '"')
        return '"';
    if (ch == '[')
        return ']';
    return 0;
}

bool TMSParser::IsKeyword(std::string_view upperWord) const {
    return std::binary_search(kMSKeywords.begin(), kMSKeywords.end(), upperWord) ||
           TSQLParser::IsKeyword(upperWord);
}

} // namespace kv::dataaccess
