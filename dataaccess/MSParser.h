#pragma once
// The SQL Server lexer used by the macro and parameter scans: TSQLParser plus SQL Server's
// own keywords and its two identifier quotes, "..." and [...].
//
// A bracket-quoted identifier closes at the first "]": "]]" is not treated as an escaped
// bracket, so "[a]]b]" reads as "[a]" followed by more text. That only matters for names after
// a colon or an ampersand, where such names do not occur.

#include "dataaccess/SQLParser.h"

namespace kv::dataaccess {

class TMSParser : public TSQLParser {
public:
    explicit TMSParser(std::string_view text);
    ~TMSParser() override;

protected:
    char IdentQuoteClose(char ch) const override;
    bool IsKeyword(std::string_view upperWord) const override;
};

} // namespace kv::dataaccess
