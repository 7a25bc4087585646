#include "toolkit/Filer.h"
#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string wrap(const std::string& value) {
    return "object A: T\n  P = " + value + "\nend\n";
}

// Offset of the property value's kind byte in wrap()'s binary form: "TPF0", "T", "A", "P".
constexpr size_t kValueOffset = 10;

struct KindCase {
    std::string text;
    TValueType kind;
};

TEST(ObjectText, EveryValueKindSurvivesBothTrips) {
    const std::string longAscii(300, 'x');
    const KindCase cases[] = {
        {"Null", vaNull},
        {"(\n    1\n    'a'\n    (\n      True))", vaList},
        {"()", vaList},
        {"-5", vaInt8},
        {"300", vaInt16},
        {"-70000", vaInt32},
        {"1.5", vaExtended},
        {"-0.1", vaExtended},
        {"3.4e+100", vaExtended},
        {"'abc'", vaString},
        {"''", vaString},
        {"alClient", vaIdent},
        {"Form1.Button1", vaIdent},
        {"False", vaFalse},
        {"True", vaTrue},
        {"{\n    0102FF}", vaBinary},
        {"{}", vaBinary},
        {"[akLeft, akTop]", vaSet},
        {"[]", vaSet},
        {"'" + longAscii + "'", vaLString},
        {"'short'L", vaLString},
        {"nil", vaNil},
        {"<\n    item\n      X = 1\n      Y.Z = 'q'\n    end\n    item\n    end>", vaCollection},
        {"<>", vaCollection},
        {"0.5s", vaSingle},
        {"-12.34c", vaCurrency},
        {"922337203685477.5807c", vaCurrency},
        {"45000.5d", vaDate},
        {"'wide'W", vaWString},
        {"'Data İşlemleri'W", vaWString},
        {"'😀'W", vaWString},
        {"#55296'x'W", vaWString}, // a lone surrogate survives in a UTF-16 string
        {"5000000000", vaInt64},
        {"-9223372036854775808", vaInt64},
        {"'Data İşlemleri'", vaUTF8String},
        {"'ascii only'U", vaUTF8String},
        {"'é'A", vaString},
        {"#13#10'x'#9", vaString},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string text = wrap(c.text);
        const std::string binary = ObjectTextToBinary(text);
        ASSERT_GT(binary.size(), kValueOffset);
        EXPECT_EQ(static_cast<int>(static_cast<std::uint8_t>(binary[kValueOffset])), c.kind);
        EXPECT_EQ(ObjectBinaryToText(binary), text);
        EXPECT_EQ(ObjectTextToBinary(ObjectBinaryToText(binary)), binary);
    }
}

TEST(ObjectText, ValuesWrittenByTheWriterSurviveTheTripThroughText) {
    // Each value as TWriter stores it, inside a hand-built stream.
    struct Writer : TWriter {};
    const std::vector<std::function<void(TWriter&)>> values = {
        [](TWriter& w) { w.WriteInteger(-128); },
        [](TWriter& w) { w.WriteInteger(1LL << 40); },
        [](TWriter& w) { w.WriteFloat(0.1); },
        [](TWriter& w) { w.WriteSingle(0.1f); },
        [](TWriter& w) { w.WriteCurrency(-5); },
        [](TWriter& w) { w.WriteDate(1e-300); },
        [](TWriter& w) { w.WriteString("O'Brien"); },
        [](TWriter& w) { w.WriteString("Şifre"); },
        [](TWriter& w) { w.WriteString(std::string(256, 'y')); },
        [](TWriter& w) { w.WriteWideString("İptal"); },
        [](TWriter& w) { w.WriteBinary(std::string("\0\1\2\xff", 4)); },
        [](TWriter& w) {
            w.WriteSet({"fsBold", "fsItalic"});
        },
        [](TWriter& w) { w.WriteIdent("nil"); },
        [](TWriter& w) {
            w.WriteListBegin();
            w.WriteString("a");
            w.WriteListBegin();
            w.WriteListEnd();
            w.WriteListEnd();
        },
    };
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        TWriter w;
        values[i](w);
        const std::string binary = std::string("TPF0\1T\1A\1P", 10) + w.Data() + '\0' + '\0';
        const std::string text = ObjectBinaryToText(binary);
        EXPECT_EQ(ObjectTextToBinary(text), binary) << text;
    }
}

TEST(ObjectText, QuotesAndCharacterCodes) {
    const std::string binary = ObjectTextToBinary(wrap("'Data '#304'şlemleri'"));
    EXPECT_EQ(ObjectBinaryToText(binary), wrap("'Data İşlemleri'"));
    EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(wrap("'It'#39's'"))), wrap("'It''s'"));
    EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(wrap("'a' +\n    'b'#$41"))), wrap("'abA'"));
    // A doubled quote is one character in the stored string.
    const std::string b = ObjectTextToBinary(wrap("''''"));
    EXPECT_EQ(b.substr(kValueOffset, 3), std::string("\x06\x01'", 3));
}

TEST(ObjectText, ObjectHeadersNestingAndHex) {
    const std::string text = "object Form1: TForm1\n"
                             "  Left = $C0\n"
                             "  Font.Name = 'Tahoma'\n"
                             "  object Panel1: TPanel\n"
                             "    object Label1: TLabel\n"
                             "    end\n"
                             "  end\n"
                             "  inherited Base: TBase [2]\n"
                             "  end\n"
                             "  inline Frame: TFrame\n"
                             "  end\n"
                             "  object TNoName\n"
                             "  end\n"
                             "end\n";
    const std::string canonical = ObjectBinaryToText(ObjectTextToBinary(text));
    std::string expected = text;
    expected.replace(expected.find("$C0"), 3, "192");
    EXPECT_EQ(canonical, expected);
}

TEST(ObjectText, LongBinaryDataSpansLines) {
    std::string hex;
    for (int i = 0; i < 40; ++i)
        hex += "AB";
    const std::string text = wrap("{\n    " + hex.substr(0, 64) + "\n    " + hex.substr(64) + "}");
    EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(text)), text);
}

struct BadText {
    const char* text;
    int line;
    const char* what;
};

TEST(ObjectText, MalformedTextIsRejectedWithItsPosition) {
    const BadText cases[] = {
        {"", 1, "'object' expected"},
        {"object A: T\n  P = 'abc\nend\n", 2, "Unterminated string"},
        {"object A: T\n  P 5\nend\n", 2, "'=' expected"},
        {"object A: T\n  P = )\nend\n", 2, "Value expected"},
        {"object A: T\n  P = {12 3}\nend\n", 2, "Odd number"},
        {"object A: T\n  P = {12 xy}\nend\n", 2, "Invalid binary data"},
        {"object A: T\n  P = 5\n", 3, "'end' expected"},
        {"object A: T\n  P = 99999999999999999999\nend\n", 2, "Integer out of range"},
        {"object A: T\n  P = 1.5x\nend\n", 2, "Invalid number"},
        {"object A: T\n  P = [a b]\nend\n", 2, "']' expected"},
        {"object A: T\n  P = 'x'Q\nend\n", 2, "Invalid text after string"},
        {"object A: T\n  P = #1114112\nend\n", 2, "Invalid character code"},
        {"object A: T\n  P = '\xC3'\nend\n", 2, "Invalid UTF-8"},
        {"object A: T\n  P = (Null)\nend\n", 2, "Null cannot stand in a list"},
        {"object A: T\n  P = <x>\nend\n", 2, "'item' expected"},
        {"object A: T\n  P = 'Ş'A\nend\n", 2, "above 255"},
        {"object A: T\nend\nend\n", 3, "after the final 'end'"},
        {"object A: T\n  P = 1e99999\nend\n", 2, "Invalid floating-point"},
        {"object A: T\n  P = ~\nend\n", 2, "Invalid character"},
    };
    for (const BadText& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ObjectTextToBinary(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const EParserError& e) {
            EXPECT_EQ(e.Line(), c.line) << e.Message();
            EXPECT_NE(e.Message().find(c.what), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("line " + std::to_string(c.line)), std::string::npos);
        }
    }
}

TEST(ObjectText, DeepNestingIsRefused) {
    std::string deep = "object A: T\n  P = ";
    deep += std::string(100000, '(');
    EXPECT_THROW(ObjectTextToBinary(deep), EParserError);
    std::string objects;
    for (int i = 0; i < 1000; ++i)
        objects += "object A: T\n";
    EXPECT_THROW(ObjectTextToBinary(objects), EParserError);

    std::string binary = "TPF0\1T\1A\1P";
    binary += std::string(100000, '\1');
    EXPECT_THROW(ObjectBinaryToText(binary), EReadError);
}

TEST(ObjectText, MalformedBinaryIsRejectedWithItsOffset) {
    const std::string good = ObjectTextToBinary(
        "object A: T\n  P = (\n    'x'\n    1.5\n    {00}\n    [a]\n    <\n      item\n"
        "        Q = 'Data İşlemleri'W\n      end>)\nobject B: T\nend\nend\n");
    // Every truncation fails cleanly.
    for (size_t n = 0; n < good.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_THROW(ObjectBinaryToText(good.substr(0, n)), EReadError);
    }
    EXPECT_THROW(ObjectBinaryToText(good + "x"), EReadError);

    try {
        ObjectBinaryToText(std::string("TPF0\1T\1A\1P\x63", 11));
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Offset(), 10);
        EXPECT_NE(e.Message().find("Unknown value kind 99 at offset 10"), std::string::npos);
    }
    // A length beyond the end of the data.
    EXPECT_THROW(ObjectBinaryToText(std::string("TPF0\1T\1A\1P\x0C\xFF\xFF\xFF\x7F", 15)),
                 EReadError);
    EXPECT_THROW(ObjectBinaryToText("XPF0"), EReadError);
    // Names that the text form could not hold.
    EXPECT_THROW(ObjectBinaryToText(std::string("TPF0\1T\1A\3a b\2\0\0\0", 14)), EReadError);
}

} // namespace
