// The SQL Server lexer: character classes at their edges, comments, literals, quotes, symbols.
#include "dataaccess/MSParser.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace kv::dataaccess;

namespace {

std::vector<std::pair<TLexemKind, std::string>> lex(std::string_view text, bool omitBlank = false) {
    TMSParser p(text);
    p.OmitBlank = omitBlank;
    std::vector<std::pair<TLexemKind, std::string>> out;
    for (TLexem lx = p.GetNext(); lx.Kind != lkEnd; lx = p.GetNext())
        out.emplace_back(lx.Kind, lx.Text);
    return out;
}

using Lexems = std::vector<std::pair<TLexemKind, std::string>>;

} // namespace

// Every printable byte that the table calls a symbol is one, and its neighbours are not.
TEST(MSParser, SymbolRangesAtTheirEdges) {
    for (int c : {33, 37, 38, 40, 41, 42, 43, 44,  46,  58,  59, 60,
                  61, 63, 64, 92, 93, 94, 96, 123, 124, 125, 126}) {
        std::string s(1, static_cast<char>(c));
        auto l = lex(s);
        ASSERT_EQ(l.size(), 1u) << c;
        EXPECT_EQ(l[0].first, lkSymbol) << c;
        EXPECT_EQ(l[0].second, s);
    }
    EXPECT_EQ(lex("0")[0].first, lkNumber);   // 48, just after 47
    EXPECT_EQ(lex("9")[0].first, lkNumber);   // 57, just before 58
    EXPECT_EQ(lex("A")[0].first, lkIdent);    // 65, just after 64
    EXPECT_EQ(lex("Z")[0].first, lkIdent);    // 90, just before 91
    EXPECT_EQ(lex("_")[0].first, lkIdent);    // 95, between 94 and 96
    EXPECT_EQ(lex("a")[0].first, lkIdent);    // 97, just after 96
    EXPECT_EQ(lex("z")[0].first, lkIdent);    // 122, just before 123
    EXPECT_EQ(lex("\x80")[0].first, lkIdent); // 128 and above are letters
    EXPECT_EQ(lex("\xff")[0].first, lkIdent);
}

// Bytes outside every class raise the lexer's message with the code in four hex digits.
TEST(MSParser, UnknownSymbolMessage) {
    struct Case {
        char ch;
        const char* message;
    };
    for (Case c : {Case{'\x01', "Parser: The unknown symbol '\x01'  $0001"},
                   Case{'\x7f', "Parser: The unknown symbol '\x7f'  $007F"},
                   Case{'\x0b', "Parser: The unknown symbol '\x0b'  $000B"}}) {
        std::string text = std::string("select ") + c.ch;
        try {
            lex(text);
            FAIL() << "no error for " << int(c.ch);
        } catch (const EParserError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    std::string nul("a\0b", 3);
    EXPECT_THROW(lex(nul), EParserError);
}

TEST(MSParser, BlanksAreOneLexemAndCountLines) {
    TMSParser p("a \t\r\n\r\nb\nc\rd");
    EXPECT_EQ(p.GetNext().Text, "a");
    TLexem blank = p.GetNext();
    EXPECT_EQ(blank.Kind, lkBlank);
    EXPECT_EQ(blank.Text, " \t\r\n\r\n");
    EXPECT_EQ(p.CurrentLine(), 3); // CR LF counts once
    p.GetNext();
    p.GetNext();
    EXPECT_EQ(p.CurrentLine(), 4);
    p.GetNext();
    p.GetNext();
    EXPECT_EQ(p.CurrentLine(), 5); // a lone CR ends a line too
}

TEST(MSParser, CommentsAreSkippedOrReported) {
    EXPECT_EQ(lex("a--x:y\r\nb", true), (Lexems{{lkIdent, "a"}, {lkIdent, "b"}}));
    EXPECT_EQ(lex("a/*x\r\n:y*/b", true), (Lexems{{lkIdent, "a"}, {lkIdent, "b"}}));
    EXPECT_EQ(lex("a/* never closed :y", true), (Lexems{{lkIdent, "a"}}));
    EXPECT_EQ(
        lex("a-b/c", true),
        (Lexems{{lkIdent, "a"}, {lkSymbol, "-"}, {lkIdent, "b"}, {lkSymbol, "/"}, {lkIdent, "c"}}));
    TMSParser p("--c\nx");
    p.OmitComment = false;
    TLexem c = p.GetNext();
    EXPECT_EQ(c.Kind, lkComment);
    EXPECT_EQ(c.Text, "--c");
}

TEST(MSParser, LiteralsAndQuotedIdentifiers) {
    EXPECT_EQ(lex("'c:\\x'"), (Lexems{{lkString, "'c:\\x'"}}));
    // A doubled quote starts a second literal right after the first.
    EXPECT_EQ(lex("'it''s'"), (Lexems{{lkString, "'it'"}, {lkString, "'s'"}}));
    EXPECT_EQ(lex("'open"), (Lexems{{lkString, "'open"}}));
    EXPECT_EQ(lex("\"a b\""), (Lexems{{lkQuotedIdent, "\"a b\""}}));
    EXPECT_EQ(lex("s.[name]"),
              (Lexems{{lkIdent, "s"}, {lkSymbol, "."}, {lkQuotedIdent, "[name]"}}));
    TMSParser p("[x]'y'");
    p.QuotedString = false;
    EXPECT_EQ(p.GetNext().Text, "x");
    EXPECT_EQ(p.GetNext().Text, "y");
}

TEST(MSParser, IdentifiersKeywordsNumbersAndSymbols) {
    EXPECT_EQ(lex("a1#$ _b", true), (Lexems{{lkIdent, "a1#$"}, {lkIdent, "_b"}}));
    EXPECT_EQ(lex("#t", true), (Lexems{{lkSymbol, "#"}, {lkIdent, "t"}}));
    EXPECT_EQ(
        lex("select Procedure GO x", true),
        (Lexems{
            {lkKeyword, "select"}, {lkKeyword, "Procedure"}, {lkKeyword, "GO"}, {lkIdent, "x"}}));
    EXPECT_EQ(lex("12.50 3. 7", true),
              (Lexems{{lkNumber, "12.50"}, {lkNumber, "3."}, {lkNumber, "7"}}));
    EXPECT_EQ(lex("a<>b>=c!<d", true), (Lexems{{lkIdent, "a"},
                                               {lkSymbol, "<>"},
                                               {lkIdent, "b"},
                                               {lkSymbol, ">="},
                                               {lkIdent, "c"},
                                               {lkSymbol, "!<"},
                                               {lkIdent, "d"}}));
    TMSParser up("select x");
    up.Uppered = true;
    EXPECT_EQ(up.GetNext().Text, "SELECT");
}
