#include "toolkit/Graphics.h"
#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>

namespace {

TEST(Colors, NamesAndValues) {
    EXPECT_EQ(static_cast<std::uint32_t>(clBtnFace), 0x8000000Fu);
    EXPECT_EQ(static_cast<std::uint32_t>(clWindowText), 0x80000008u);
    EXPECT_EQ(ColorToString(clWindowText), "clWindowText");
    EXPECT_EQ(ColorToString(clGreen), "clGreen");
    EXPECT_EQ(ColorToString(RGBColor(4, 135, 23)), "$00178704");
    EXPECT_EQ(StringToColor("clwhite"), clWhite);
    EXPECT_EQ(StringToColor("$00178704"), RGBColor(4, 135, 23));
    EXPECT_EQ(StringToColor("-2147483633"), clBtnFace);
    EXPECT_EQ(StringToColor("$8000000F"), clBtnFace);
    EXPECT_THROW(StringToColor("clPlaid"), EConvertError);
    TColor c = 0;
    EXPECT_TRUE(IdentToColor("clGray", c));
    EXPECT_EQ(c, 0x808080);
    EXPECT_EQ(RGBColor(255, 0, 0), clRed);
}

TEST(Charsets, Names) {
    std::string ident;
    EXPECT_TRUE(CharsetToIdent(TURKISH_CHARSET, ident));
    EXPECT_EQ(ident, "TURKISH_CHARSET");
    std::int64_t v = 0;
    EXPECT_TRUE(IdentToCharset("default_charset", v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(IdentToCharset("KLINGON_CHARSET", v));
}

TEST(Font, SizeAndHeightAt96Dpi) {
    TFont f;
    int changes = 0;
    f.OnChange = [&](TObject*) { ++changes; };
    EXPECT_EQ(f.Height(), -11);
    EXPECT_EQ(f.Size(), 8);
    f.SetSize(12);
    EXPECT_EQ(f.Height(), -16);
    f.SetHeight(-11);
    EXPECT_EQ(f.Size(), 8);
    f.SetHeight(-11); // no change, no event
    EXPECT_EQ(changes, 2);
    f.SetStyle({fsBold});
    TFont g;
    g.Assign(&f);
    EXPECT_TRUE(g == f);
    EXPECT_TRUE(g.Style().Contains(fsBold));
    EXPECT_EQ(changes, 3);
}

} // namespace
