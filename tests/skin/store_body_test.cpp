// The skin body reader and writer, the file filters and the stored-skin stream.
#include "skin/store/SkinBody.h"
#include "skin/store/SkinBytes.h"
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinSource.h"
#include "skin/store/SkinZlib.h"
#include "skin_test_support.h"

#include <gtest/gtest.h>

using namespace kv::skin;
using kv::skin::test::BodyBuilder;

namespace {

const std::vector<std::uint32_t> kTwoByTwo = {SkinPixel(1, 2, 3), SkinPixel(4, 5, 6),
                                              SkinPixel(7, 8, 9), SkinPixel(10, 11, 12)};

std::string bodyWithBitmap(int Height, const std::vector<std::uint32_t>& Pixels, int Width = 2) {
    BodyBuilder b;
    b.Header().U32(1).Bitmap("A.bmp", Width, Height, Pixels).U32(0);
    return b.Data;
}

} // namespace

// A bitmap stored bottom to top (negative height) reads the same way up as one stored top down.
TEST(SkinBody, NegativeHeightIsTurnedTheRightWayUp) {
    TSkinSource up, down;
    ASSERT_TRUE(ReadSkinBody(bodyWithBitmap(2, kTwoByTwo), up).Ok());
    ASSERT_TRUE(ReadSkinBody(bodyWithBitmap(-2, kTwoByTwo), down).Ok());
    ASSERT_EQ(down.Bitmaps.size(), 1u);
    EXPECT_EQ(down.Bitmaps[0]->Height, 2);
    EXPECT_EQ(down.Bitmaps[0]->Pixels, up.Bitmaps[0]->Pixels);
    EXPECT_EQ(up.Bitmaps[0]->Pixel(0, 0), SkinPixel(1, 2, 3));
    EXPECT_EQ(up.Bitmaps[0]->Pixel(1, 1), SkinPixel(10, 11, 12));
}

// Colours within 5 of magenta or of (127, 0, 127) on every channel become the key; 6 away do not.
TEST(SkinBody, KeyReplacementAtDistanceSixBothWays) {
    const std::vector<std::uint32_t> px = {SkinPixel(250, 4, 252), SkinPixel(249, 0, 255),
                                           SkinPixel(122, 5, 132), SkinPixel(127, 6, 127)};
    TSkinSource s;
    ASSERT_TRUE(ReadSkinBody(bodyWithBitmap(1, px, 4), s).Ok());
    const TSkinBitmap& b = *s.Bitmaps[0];
    EXPECT_EQ(b.Pixel(0, 0), kSkinTransparentKey);
    EXPECT_EQ(b.Pixel(1, 0), SkinPixel(249, 0, 255));
    EXPECT_EQ(b.Pixel(2, 0), kSkinTransparentKey);
    EXPECT_EQ(b.Pixel(3, 0), SkinPixel(127, 6, 127));
    EXPECT_TRUE(b.HasKey);
    EXPECT_FALSE(b.HasAlpha);

    TSkinSource plain;
    ASSERT_TRUE(
        ReadSkinBody(bodyWithBitmap(1, {SkinPixel(1, 1, 1), SkinPixel(1, 1, 1, 128)}), plain).Ok());
    EXPECT_FALSE(plain.Bitmaps[0]->HasKey);
    EXPECT_TRUE(plain.Bitmaps[0]->HasAlpha);
}

TEST(SkinBody, ButtonSkinReadsWithChildrenAndResolvedLinks) {
    TSkinSource s;
    const SkinStatus st = ReadSkinBody(test::ButtonSkinBody(), s);
    ASSERT_TRUE(st.Ok()) << st.Error;
    EXPECT_EQ(s.Header.SkinName, "Button Skin");
    TSkinObject* button = s.FindObject("button");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Name(), "Button");
    ASSERT_EQ(button->ChildCount(), 2);
    auto* face = dynamic_cast<TSkinButtonObject*>(button->FindObject("FACE"));
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->MarginLeft, 5);
    EXPECT_EQ(face->TileStyle, tsStretch);
    EXPECT_EQ(face->BitmapFocused()->Top, 92);
    EXPECT_EQ(face->Bitmap()->Bitmap(), s.Bitmaps[0].get());
    auto* text = dynamic_cast<TSkinTextObject*>(button->FindObject("text"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->FontDisabled()->Color(), clGray);
    EXPECT_EQ(text->FontHot()->Name(), "Tahoma");
    EXPECT_EQ(s.FindObject("Missing"), nullptr);
    s.Changing = true;
    EXPECT_EQ(s.FindObject("Button"), nullptr);
}

// Children stored as binary streams (count | 0xF0000) and as text read to the same tree; records
// of unknown classes are skipped at both levels.
TEST(SkinBody, ChildrenInBothFormsAndUnknownClassesSkipped) {
    TSkinSource text;
    ASSERT_TRUE(ReadSkinBody(test::ButtonSkinBody(), text).Ok());
    for (bool binary : {false, true}) {
        TSkinSource copy;
        copy.Header = text.Header;
        TSkinBitmap* bmp = new TSkinBitmap(*text.Bitmaps[0]);
        copy.Bitmaps.emplace_back(bmp);
        copy.Objects.emplace_back(text.Objects[0]->CopyObject(nullptr));
        const std::string body = WriteSkinBody(copy, binary);
        TSkinSource back;
        const SkinStatus st = ReadSkinBody(body, back);
        ASSERT_TRUE(st.Ok()) << st.Error;
        ASSERT_EQ(back.Objects.size(), 1u);
        EXPECT_EQ(back.Objects[0]->ChildCount(), 2) << (binary ? "binary" : "text");
        EXPECT_NE(back.FindObject("Button")->FindObject("Face"), nullptr);
    }

    BodyBuilder kids;
    kids.U32(2).Str("TNoSuchSkinClass").Str("goof");
    kids.Str("TSkinObject").Str("object Kid: TSkinObject\r\nend\r\n");
    std::string hex;
    for (unsigned char c : kids.Data) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    BodyBuilder b;
    b.Header().U32(0).U32(3);
    b.TextObject("TNoSuchSkinClass", "object X: TNoSuchSkinClass\nend\n");
    b.TextObject("TSkinObject",
                 "object Panel: TSkinObject\n  Objects = {\n    " + hex + "}\nend\n");
    b.TextObject("TComponent", "object C: TComponent\nend\n");
    TSkinSource s;
    const SkinStatus st = ReadSkinBody(b.Data, s);
    ASSERT_TRUE(st.Ok()) << st.Error;
    ASSERT_EQ(s.Objects.size(), 1u);
    ASSERT_EQ(s.Objects[0]->ChildCount(), 1);
    EXPECT_EQ(s.Objects[0]->Child(0)->Name(), "Kid");
}

// Every filter and the stored-skin stream write and read back the same skin.
TEST(SkinFilters, EachFilterRoundTrips) {
    TSkinSource s;
    ASSERT_TRUE(ReadSkinBody(test::ButtonSkinBody(), s).Ok());
    ASSERT_EQ(SkinFilters().size(), 4u);
    EXPECT_STREQ(SkinFilters()[0].Extension, "uskn");
    EXPECT_STREQ(SkinFilters()[3].Description, "Maximum Compressed");
    for (const SkinFilter& f : SkinFilters()) {
        const std::string file = EncodeSkinFile(f, s);
        if (f.Compressed) {
            EXPECT_EQ(file.substr(0, 4), "QVLZ");
            EXPECT_EQ(static_cast<unsigned char>(file[4]), 0x78) << "zlib header";
        }
        TSkinSource back;
        const SkinStatus st = ReadSkinFile(f, file, back);
        ASSERT_TRUE(st.Ok()) << f.Extension << ": " << st.Error;
        EXPECT_EQ(back.Header.Author, "Tester");
        EXPECT_EQ(back.Bitmaps[0]->Pixels, s.Bitmaps[0]->Pixels);
        EXPECT_EQ(back.FindObject("Button")->ChildCount(), 2);
    }
    EXPECT_EQ(FindSkinFilter("c:\\skins\\Blue.XSKN")->Level, 9);
    EXPECT_EQ(FindSkinFilter("dir.cskn/file"), nullptr);
    EXPECT_EQ(FindSkinFilter("skin.zip"), nullptr);

    const std::string stream = WriteSkinStream(&s);
    EXPECT_EQ(stream[0], 2);
    EXPECT_EQ(stream.substr(1, 4), "QVLZ");
    TSkinSource back;
    ASSERT_TRUE(ReadSkinStream(stream, back).Ok());
    EXPECT_EQ(back.Objects.size(), 1u);
    // Any non-zero first byte means a skin follows; the marker is not checked.
    std::string other = stream;
    other[0] = 7;
    other[1] = 'x';
    ASSERT_TRUE(ReadSkinStream(other, back).Ok());
    EXPECT_EQ(back.Bitmaps.size(), 1u);
    EXPECT_EQ(WriteSkinStream(nullptr), std::string(1, '\0'));
    ASSERT_TRUE(ReadSkinStream(std::string(1, '\0'), back).Ok());
    EXPECT_TRUE(back.Empty());
}

// Truncation anywhere, lying sizes and damaged compression fail cleanly and leave nothing behind.
TEST(SkinBody, DamagedBodiesFailWithAMessage) {
    const std::string good = test::ButtonSkinBody();
    for (size_t n = 0; n < good.size(); n += (n < 200 ? 1 : 97)) {
        TSkinSource s;
        const SkinStatus st = ReadSkinBody(good.substr(0, n), s);
        EXPECT_FALSE(st.Ok()) << "prefix " << n;
        EXPECT_TRUE(s.Empty());
    }
    struct Case {
        const char* What;
        std::string Body;
    };
    BodyBuilder huge, negative, minInt, manyObjects, badText;
    huge.Header().U32(1).Str("X").U32(0x40000000).U32(0x40000000);
    negative.Header().U32(1).Str("X").U32(static_cast<std::uint32_t>(-5)).U32(1);
    minInt.Header().U32(1).Str("X").U32(1).U32(0x80000000u);
    manyObjects.Header()
        .U32(0)
        .U32(0xFFFFFFFFu)
        .TextObject("TSkinObject", "object A: TSkinObject\nend\n");
    badText.Header().U32(0).U32(1).TextObject("TSkinObject",
                                              "object A: TSkinObject\n  Kind = skWrong\nend\n");
    // Found by fuzzing: width x height x 4 overflowed 64 bits before the size check.
    BodyBuilder overflow;
    overflow.Header().U32(1).Str("X").U32(0x7FFFFFFFu).U32(0x80000001u);
    BodyBuilder longString;
    longString.U32(0xFFFFFFF0u);
    for (const Case& c :
         {Case{"huge", huge.Data}, Case{"negative width", negative.Data},
          Case{"INT_MIN height", minInt.Data}, Case{"object count", manyObjects.Data},
          Case{"object text", badText.Data}, Case{"string length", longString.Data}}) {
        TSkinSource s;
        const SkinStatus st = ReadSkinBody(c.Body, s);
        EXPECT_FALSE(st.Ok()) << c.What;
        EXPECT_FALSE(st.Error.empty());
        EXPECT_TRUE(s.Empty()) << c.What;
    }

    // Found by fuzzing: a zero-width bitmap two billion rows high read quickly but took every
    // row loop its full height. It reads as an empty bitmap.
    BodyBuilder tall;
    tall.Header().U32(1).Str("X").U32(0).U32(0x80000001u).U32(0);
    TSkinSource t;
    ASSERT_TRUE(ReadSkinBody(tall.Data, t).Ok());
    EXPECT_EQ(t.Bitmaps[0]->Width, 0);
    EXPECT_EQ(t.Bitmaps[0]->Height, 0);

    TSkinSource s;
    EXPECT_FALSE(ReadSkinStream("", s).Ok());
    EXPECT_FALSE(ReadSkinStream(std::string("\2QV", 3), s).Ok());
    EXPECT_FALSE(ReadSkinStream(std::string("\2QVLZ\x78\x9c garbage", 15), s).Ok());
    const std::string z = ZlibCompress(good, 1);
    EXPECT_FALSE(ReadSkinStream("\2QVLZ" + z.substr(0, z.size() / 2), s).Ok());
    // A stream that inflates beyond the cap is refused.
    const std::string zeros(1 << 20, '\0');
    const SkinBytes capped = ZlibDecompress(ZlibCompress(zeros, 9), 1000);
    EXPECT_FALSE(capped.Ok());
    EXPECT_TRUE(capped.Data.empty());
    EXPECT_EQ(ZlibDecompress(ZlibCompress(zeros, 9)).Data.size(), zeros.size());
}

namespace {

bool hasControlBytes(const std::string& Text) {
    for (const char c : Text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

} // namespace

// A damaged bitmap count is named in words: one bitmap too many makes the reader take the object
// count and the first object's class name for a bitmap name, whose bytes never reach the message;
// a count that the bytes left cannot hold is refused before any bitmap is read.
TEST(SkinBody, DamagedBitmapCountIsNamedInWords) {
    BodyBuilder oneTooMany;
    oneTooMany.Header()
        .U32(2)
        .Bitmap("A.bmp", 2, 2, kTwoByTwo)
        .U32(1)
        .TextObject("TSkinObject", "object A: TSkinObject\nend\n");
    BodyBuilder huge;
    huge.Header().U32(0x0B00003Bu).Bitmap("A.bmp", 2, 2, kTwoByTwo).U32(0);
    struct Case {
        const char* What;
        std::string Body;
        const char* Says;
    };
    for (const Case& c :
         {Case{"one too many", oneTooMany.Data, "Bitmap 2 of 2 has no readable name"},
          Case{"huge", huge.Data, "The bitmap count says 184549435 bitmaps"}}) {
        SCOPED_TRACE(c.What);
        TSkinSource s;
        const SkinStatus st = ReadSkinBody(c.Body, s);
        ASSERT_FALSE(st.Ok());
        EXPECT_FALSE(hasControlBytes(st.Error)) << st.Error;
        EXPECT_NE(st.Error.find(c.Says), std::string::npos) << st.Error;
        EXPECT_NE(st.Error.find("bitmap count"), std::string::npos) << st.Error;
        EXPECT_TRUE(s.Empty());
    }
    // Whatever bytes a message quotes are named, not copied.
    EXPECT_EQ(ReadableText(std::string("a\x0B\0b", 4)), "a(byte 0x0B)(byte 0x00)b");
    EXPECT_EQ(ReadableText("Bağlan \xFF"), "Bağlan (byte 0xFF)");
}
