#pragma once
// The SQL lexer: TParser plus SQL comments, the general keyword list and the
// multi-character comparison and assignment symbols.
//
// Comments: "--" runs to the end of the line (the line end itself is a blank lexem);
// "/*" runs to the next "*/", or to the end of the text when it is never closed. Comments do
// not nest, as in SQL Server.

#include "dataaccess/Parser.h"

namespace kv::dataaccess {

class TSQLParser : public TParser {
public:
    explicit TSQLParser(std::string_view text);
    ~TSQLParser() override;

protected:
    std::size_t CommentLength(std::size_t pos) const override;
    bool IsKeyword(std::string_view upperWord) const override;
    std::size_t MultiSymbolLength(std::size_t pos) const override;
};

} // namespace kv::dataaccess
