// The program's one UTF-8 <-> UTF-16 conversion: every length of sequence both ways, and what
// becomes of ill-formed input on either side (U+FFFD, one per offending byte or unit).

#include "platform/Unicode.h"

#include <gtest/gtest.h>

namespace kv::platform {
namespace {

const std::string Fffd = "\xEF\xBF\xBD";

TEST(UnicodeTest, WellFormedTextRoundTripsAtEveryLengthBoundary) {
    const std::u16string units = u"A\u007F\u0080\u00E7\u011F\u0131\u07FF\u0800\u20AC\uFFFD\uFFFF"
                                 u"\U00010000\U0001F600\U0010FFFF";
    const std::string bytes = "A\x7F\xC2\x80\xC3\xA7\xC4\x9F\xC4\xB1\xDF\xBF\xE0\xA0\x80\xE2\x82"
                              "\xAC\xEF\xBF\xBD\xEF\xBF\xBF\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4"
                              "\x8F\xBF\xBF";
    EXPECT_EQ(utf8ToUtf16(bytes), units);
    EXPECT_EQ(utf16ToUtf8(units), bytes);
    EXPECT_TRUE(isValidUtf8(bytes));
    EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(utf8ToUtf16(""), u"");
    EXPECT_EQ(utf16ToUtf8(u""), "");

    std::size_t pos = 1;
    char32_t cp = 0;
    const std::string text = "x\xF0\x9F\x98\x80y";
    ASSERT_TRUE(decodeUtf8(text, pos, cp));
    EXPECT_EQ(cp, U'\U0001F600');
    EXPECT_EQ(pos, 5u);
}

TEST(UnicodeTest, IllFormedUtf8BecomesOneReplacementPerByte) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
        {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong two-byte form", "\xC1\xBF", u"\uFFFD\uFFFD"},
        {"overlong three-byte form", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong four-byte form", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"encoded high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded low surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lead bytes that never start a sequence", "\xF5\xF8\xFE\xFF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"sequence cut short by the end", "ok\xE2\x82", u"ok\uFFFD\uFFFD"},
        {"sequence cut short by the next character",
         "\xE2\x82"
         "A\xF0\x9F"
         "B",
         u"\uFFFD\uFFFDA\uFFFD\uFFFDB"},
        {"good text after a bad byte", "\xFF\xC3\xA7", u"\uFFFD\u00E7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(utf8ToUtf16(c.bytes), c.expected);
        EXPECT_FALSE(isValidUtf8(c.bytes));
        // Back to UTF-8 the replacements are well-formed.
        EXPECT_TRUE(isValidUtf8(utf16ToUtf8(utf8ToUtf16(c.bytes))));
    }
    // A failed read leaves the position where it was.
    std::size_t pos = 2;
    char32_t cp = U'?';
    EXPECT_FALSE(decodeUtf8("ok\xE2\x82", pos, cp));
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(cp, U'?');
    pos = 2;
    EXPECT_FALSE(decodeUtf8("ok", pos, cp));
}

TEST(UnicodeTest, UnpairedSurrogatesBecomeReplacements) {
    struct Case {
        const char* what;
        std::u16string units;
        std::string expected;
    };
    const Case cases[] = {
        {"high surrogate at the end", u"a\xD83D", "a" + Fffd},
        {"high surrogate before a letter", u"\xD83Dz", Fffd + "z"},
        {"two high surrogates, the second paired", u"\xD83D\xD83D\xDE00",
         Fffd + "\xF0\x9F\x98\x80"},
        {"low surrogate alone", u"a\xDE00z", "a" + Fffd + "z"},
        {"low before high", u"\xDE00\xD83D", Fffd + Fffd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(utf16ToUtf8(c.units), c.expected);
    }
    std::string out;
    appendUtf8(out, 0xD800);
    appendUtf8(out, 0x110000);
    appendUtf8(out, U'ş');
    EXPECT_EQ(out, Fffd + Fffd + "\xC5\x9F");
}

} // namespace
} // namespace kv::platform
