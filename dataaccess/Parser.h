#pragma once
// The general lexer under the SQL scanners.
//
// TParser cuts a text into lexems with a character-class table, in the manner of a
// table-driven tokenizer: every byte maps to one class, and the class of the first byte decides
// which kind of lexem is read. It never looks back and never allocates more than the lexem it
// returns. Bytes of 128 and above are letters, so UTF-8 text passes through as identifiers.
//
// Odd input: an unterminated string literal or quoted identifier runs to the end of the text
// (so does an unclosed block comment, see TSQLParser); a byte that belongs to no class (control
// characters other than blanks, DEL) raises the toolkit's EParserError "Parser: The unknown
// symbol ..." with the line and column of the byte. Derived lexers add
// comments, identifier quotes, keywords and multi-character symbols through the virtual hooks.

#include "toolkit/SysUtils.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kv::dataaccess {

enum TLexemKind {
    lkEnd,         // no more text
    lkBlank,       // a run of spaces, tabs and line ends
    lkComment,     // only reported when OmitComment is false
    lkString,      // a single-quoted literal
    lkQuotedIdent, // an identifier in the lexer's identifier quotes
    lkSymbol,      // punctuation, the longest known multi-character symbol winning
    lkIdent,       // letters, digits, _ # $
    lkKeyword,     // an identifier found in the lexer's keyword list
    lkNumber       // digits with an optional decimal part
};

struct TLexem {
    TLexemKind Kind = lkEnd;
    std::string Text;     // the lexem (quotes kept when QuotedString, upper case when Uppered)
    std::size_t Pos = 0;  // byte offset in the source text
    std::size_t Size = 0; // byte length in the source text
};

class TParser {
public:
    explicit TParser(std::string_view text);
    virtual ~TParser();
    TParser(const TParser&) = delete;
    TParser& operator=(const TParser&) = delete;

    // Settings; the defaults are the ones the parameter scan uses.
    bool OmitBlank = false;   // skip blanks instead of reporting them
    bool OmitComment = true;  // skip comments instead of reporting them
    bool Uppered = false;     // report identifiers and keywords in upper case
    bool QuotedString = true; // keep the quotes of literals and quoted identifiers
    char DecSeparator = '.';  // decimal separator of numbers

    // The next lexem; lkEnd (repeatedly) at the end of the text.
    TLexem GetNext();
    // Start again from the beginning of the text.
    void Reset();

    std::string_view Text() const { return FText; }
    std::size_t Position() const { return FPos; }
    // 1-based line of the current position; CR LF counts as one line end.
    int CurrentLine() const { return FLine; }

protected:
    // Length of a comment that starts at pos, 0 when none starts there.
    virtual std::size_t CommentLength(std::size_t pos) const;
    // Closing character for an identifier quote, or 0 when ch does not open one.
    virtual char IdentQuoteClose(char ch) const;
    // True when the (upper-case) word is one of the lexer's keywords.
    virtual bool IsKeyword(std::string_view upperWord) const;
    // Length of the longest multi-character symbol at pos, 0 when none.
    virtual std::size_t MultiSymbolLength(std::size_t pos) const;

private:
    std::size_t ReadQuoted(std::size_t pos, char close) const;
    void Advance(std::size_t count);
    [[noreturn]] void RaiseUnknownSymbol(unsigned char ch) const;

    std::string_view FText;
    std::size_t FPos = 0;
    int FLine = 1;
};

} // namespace kv::dataaccess
