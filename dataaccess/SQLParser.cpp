#include "dataaccess/SQLParser.h"

#include <algorithm>
#include <array>

namespace kv::dataaccess {

namespace {

// Sorted, upper case: looked up by binary search.
constexpr std::array<std::string_view, 58> kSQLKeywords = {
    "ALL",    "ALTER",     "AND",      "ANY",        "AS",      "ASC",    "BEGIN",    "BETWEEN",
    "BY",     "CASE",      "COMMIT",   "CONSTRAINT", "DELETE",  "DESC",   "DISTINCT", "DROP",
    "ELSE",   "ESCAPE",    "EXCEPT",   "EXEC",       "EXECUTE", "EXISTS", "FOR",      "FOREIGN",
    "FROM",   "FULL",      "GRANT",    "GROUP",      "HAVING",  "IN",     "INDEX",    "INNER",
    "INSERT", "INTERSECT", "INTO",     "IS",         "JOIN",    "KEY",    "LEFT",     "LIKE",
    "NOT",    "NULL",      "ON",       "OR",         "ORDER",   "OUTER",  "PRIMARY",  "REFERENCES",
    "REVOKE", "RIGHT",     "ROLLBACK", "SELECT",     "SET",     "THEN",   "UNION",    "UPDATE",
    "VALUES", "WHERE"};

// Longest first, so that the first match is the longest one.
constexpr std::array<std::string_view, 13> kMultiSymbols = {
    "<>", "<=", ">=", "!=", "!<", "!>", "+=", "-=", "*=", "/=", "%=", "&=", "|="};

} // namespace

TSQLParser::TSQLParser(std::string_view text) : TParser(text) {}

TSQLParser::~TSQLParser() = default;

std::size_t TSQLParser::CommentLength(std::size_t pos) const {
    std::string_view t = Text();
    if (pos + 1 >= t.size())
        return 0;
    if (t[pos] == '-' && t[pos + 1] == '-') {
        std::size_t end = t.find_first_of("\r\n", pos);
        return (end == std::string_view::npos ? t.size() : end) - pos;
    }
    if (t[pos] == '/' && t[pos + 1] == '*') {
        std::size_t end = t.find("*/", pos + 2);
        return end == std::string_view::npos ? t.size() - pos : end + 2 - pos;
    }
    return 0;
}

bool TSQLParser::IsKeyword(std::string_view upperWord) const {
    return std::binary_search(kSQLKeywords.begin(), kSQLKeywords.end(), upperWord);
}

std::size_t TSQLParser::MultiSymbolLength(std::size_t pos) const {
    std::string_view rest = Text().substr(pos);
    for (std::string_view s : kMultiSymbols)
        if (rest.starts_with(s))
            return s.size();
    return 0;
}

} // namespace kv::dataaccess
