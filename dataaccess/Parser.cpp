#include "dataaccess/Parser.h"

#include "dataaccess/DAConsts.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace kv::dataaccess {

namespace {

// Character classes. A table instead of a chain of comparisons: the lexer asks for the class of
// every byte, and the table also documents the classes in one place.
enum CharClass : unsigned char {
    ccInvalid, // belongs to no lexem: raises the unknown-symbol error
    ccBlank,   // space, tab, CR, LF
    ccLetter,  // A-Z, a-z, _ and every byte from 128 up
    ccDigit,   // 0-9
    ccSymbol,  // 33-47, 58-64, 91-94, 96, 123-126
    ccQuote    // the single quote of string literals
};

constexpr std::array<CharClass, 256> makeClasses() {
    std::array<CharClass, 256> t{};
    for (auto& c : t)
        c = ccInvalid;
    t[' '] = t['\t'] = t['\r'] = t['\n'] = ccBlank;
    for (int c = 33; c <= 47; ++c)
        t[c] = ccSymbol;
    for (int c = 58; c <= 64; ++c)
        t[c] = ccSymbol;
    for (int c = 91; c <= 94; ++c)
        t[c] = ccSymbol;
    t[96] = ccSymbol;
    for (int c = 123; c <= 126; ++c)
        t[c] = ccSymbol;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = ccDigit;
    for (int c = 'A'; c <= 'Z'; ++c)
        t[c] = ccLetter;
    for (int c = 'a'; c <= 'z'; ++c)
        t[c] = ccLetter;
    t['_'] = ccLetter;
    for (int c = 128; c <= 255; ++c)
        t[c] = ccLetter;
    t['\''] = ccQuote;
    return t;
}

constexpr std::array<CharClass, 256> kClasses = makeClasses();

CharClass classOf(char ch) {
    return kClasses[static_cast<unsigned char>(ch)];
}

bool isIdentTail(char ch) {
    CharClass c = classOf(ch);
    return c == ccLetter || c == ccDigit || ch == '#' || ch == '$';
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return r;
}

} // namespace

TParser::TParser(std::string_view text) : FText(text) {}

TParser::~TParser() = default;

void TParser::Reset() {
    FPos = 0;
    FLine = 1;
}

std::size_t TParser::CommentLength(std::size_t) const {
    return 0;
}

char TParser::IdentQuoteClose(char) const {
    return 0;
}

bool TParser::IsKeyword(std::string_view) const {
    return false;
}

std::size_t TParser::MultiSymbolLength(std::size_t) const {
    return 0;
}

// Length from an opening quote at pos up to and including the next closing character, or to
// the end of the text when it never comes. A doubled quote is not an escape here: it closes the
// first literal and opens a second one right after it.
std::size_t TParser::ReadQuoted(std::size_t pos, char close) const {
    std::size_t end = FText.find(close, pos + 1);
    return end == std::string_view::npos ? FText.size() - pos : end - pos + 1;
}

void TParser::Advance(std::size_t count) {
    for (std::size_t i = FPos; i < FPos + count; ++i) {
        char ch = FText[i];
        // CR LF is one line end; a lone CR or a lone LF is one too.
        if (ch == '\n' || (ch == '\r' && (i + 1 >= FText.size() || FText[i + 1] != '\n')))
            ++FLine;
    }
    FPos += count;
}

void TParser::RaiseUnknownSymbol(unsigned char ch) const {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(ch));
    std::size_t lineStart = FPos;
    while (lineStart > 0 && FText[lineStart - 1] != '\n' && FText[lineStart - 1] != '\r')
        --lineStart;
    const int column = static_cast<int>(FPos - lineStart + 1);
    throw ::EParserError(std::string(SParserUnknownSymbol) + static_cast<char>(ch) + "'  $" + code,
                         -1, FLine, column);
}

TLexem TParser::GetNext() {
    for (;;) {
        TLexem lx;
        lx.Pos = FPos;
        if (FPos >= FText.size()) {
            lx.Kind = lkEnd;
            return lx;
        }
        const char ch = FText[FPos];
        std::size_t len = 0;
        if (classOf(ch) == ccBlank) {
            len = 1;
            while (FPos + len < FText.size() && classOf(FText[FPos + len]) == ccBlank)
                ++len;
            lx.Kind = lkBlank;
        } else if ((len = CommentLength(FPos)) > 0) {
            lx.Kind = lkComment;
        } else if (classOf(ch) == ccQuote) {
            len = ReadQuoted(FPos, '\'');
            lx.Kind = lkString;
        } else if (char close = IdentQuoteClose(ch); close != 0) {
            len = ReadQuoted(FPos, close);
            lx.Kind = lkQuotedIdent;
        } else if (classOf(ch) == ccSymbol) {
            len = MultiSymbolLength(FPos);
            if (len == 0)
                len = 1;
            lx.Kind = lkSymbol;
        } else if (classOf(ch) == ccLetter) {
            len = 1;
            while (FPos + len < FText.size() && isIdentTail(FText[FPos + len]))
                ++len;
            lx.Kind = lkIdent;
        } else if (classOf(ch) == ccDigit) {
            len = 1;
            while (FPos + len < FText.size() && classOf(FText[FPos + len]) == ccDigit)
                ++len;
            if (FPos + len < FText.size() && FText[FPos + len] == DecSeparator) {
                ++len;
                while (FPos + len < FText.size() && classOf(FText[FPos + len]) == ccDigit)
                    ++len;
            }
            lx.Kind = lkNumber;
        } else {
            RaiseUnknownSymbol(static_cast<unsigned char>(ch));
        }

        std::string_view raw = FText.substr(FPos, len);
        Advance(len);
        lx.Size = len;
        if ((lx.Kind == lkBlank && OmitBlank) || (lx.Kind == lkComment && OmitComment))
            continue;

        if (lx.Kind == lkIdent) {
            std::string up = upper(raw);
            if (IsKeyword(up))
                lx.Kind = lkKeyword;
            lx.Text = Uppered ? std::move(up) : std::string(raw);
        } else if ((lx.Kind == lkString || lx.Kind == lkQuotedIdent) && !QuotedString) {
            // Strip the opening quote and, when it is there, the closing one.
            std::string_view inner = raw.substr(1);
            char close = lx.Kind == lkString ? '\'' : IdentQuoteClose(raw[0]);
            if (!inner.empty() && inner.back() == close)
                inner.remove_suffix(1);
            lx.Text = std::string(inner);
        } else {
            lx.Text = std::string(raw);
        }
        return lx;
    }
}

} // namespace kv::dataaccess
