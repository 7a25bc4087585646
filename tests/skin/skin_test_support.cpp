#include "skin_test_support.h"

#include "skin/store/SkinBody.h"
#include "skin/store/SkinBytes.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinSource.h"
#include "toolkit/Filer.h"

#include <memory>

namespace kv::skin::test {

BodyBuilder& BodyBuilder::U32(std::uint32_t V) {
    for (int i = 0; i < 4; ++i)
        Data.push_back(static_cast<char>((V >> (8 * i)) & 0xFF));
    return *this;
}

BodyBuilder& BodyBuilder::Str(const std::string& S) {
    U32(static_cast<std::uint32_t>(S.size()));
    Data += S;
    return *this;
}

BodyBuilder& BodyBuilder::Header(const std::string& Name) {
    return Str(Name).Str("1.0").Str("Tester").Str("t@example.invalid").Str("example.invalid");
}

BodyBuilder& BodyBuilder::Bitmap(const std::string& Name, int Width, int Height,
                                 const std::vector<std::uint32_t>& TopDown) {
    Str(Name).U32(static_cast<std::uint32_t>(Width)).U32(static_cast<std::uint32_t>(Height));
    const int rows = Height < 0 ? -Height : Height;
    for (int r = 0; r < rows; ++r) {
        const int src = Height < 0 ? rows - 1 - r : r;
        for (int x = 0; x < Width; ++x)
            U32(TopDown[static_cast<size_t>(src * Width + x)]);
    }
    return *this;
}

BodyBuilder& BodyBuilder::TextObject(const std::string& Class, const std::string& Text) {
    return Str(Class).Str(Text);
}

std::uint32_t ButtonStateColor(int Index) {
    static const std::uint32_t colors[5] = {SkinPixel(240, 240, 230), SkinPixel(255, 220, 120),
                                            SkinPixel(200, 200, 190), SkinPixel(230, 230, 230),
                                            SkinPixel(180, 210, 250)};
    return colors[Index];
}

std::uint32_t ButtonFrameColor(int Index) {
    static const std::uint32_t colors[5] = {SkinPixel(0, 60, 116), SkinPixel(0, 60, 117),
                                            SkinPixel(0, 60, 118), SkinPixel(200, 200, 200),
                                            SkinPixel(0, 60, 119)};
    return colors[Index];
}

std::string ButtonObjectText() {
    // Children built through the object classes so that "Objects" is written by the code under
    // test's writer only for the hex dump; the reader is what the tests exercise.
    RegisterSkinClasses();
    TSkinObject button(nullptr);
    button.SetName("Button");
    auto* face = new TSkinButtonObject(&button);
    face->SetName("Face");
    face->Align = saClient;
    face->MarginLeft = face->MarginTop = face->MarginRight = face->MarginBottom = 5;
    face->TileStyle = tsStretch;
    face->BorderTileStyle = tsStretch;
    TSkinBitmapLink* links[5] = {face->Bitmap(), face->BitmapHot(), face->BitmapPressed(),
                                 face->BitmapDisabled(), face->BitmapFocused()};
    for (int i = 0; i < 5; ++i) {
        links[i]->Name = "BUTTON.bmp";
        links[i]->Left = 0;
        links[i]->Top = 23 * i;
        links[i]->Right = 20;
        links[i]->Bottom = 23 * (i + 1);
    }
    auto* text = new TSkinTextObject(&button);
    text->SetName("Text");
    text->Align = saClient;
    for (TFont* f : {text->Font(), text->FontHot(), text->FontFocused(), text->FontPressed(),
                     text->FontDisabled()}) {
        f->SetName("Tahoma");
        f->SetHeight(-11);
        f->SetColor(clWindowText);
    }
    text->FontHot()->SetColor(clBlack);
    text->FontDisabled()->SetColor(clGray);
    return WriteComponentText(&button);
}

std::string ButtonSkinBody() {
    std::vector<std::uint32_t> px(20 * 115);
    for (int i = 0; i < 5; ++i)
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool frame = x == 0 || y == 0 || x == 19 || y == 22;
                px[static_cast<size_t>((23 * i + y) * 20 + x)] =
                    frame ? ButtonFrameColor(i) : ButtonStateColor(i);
            }
    BodyBuilder b;
    b.Header("Button Skin").U32(1).Bitmap("BUTTON.bmp", 20, 115, px).U32(1);
    b.TextObject("TSkinObject", ButtonObjectText());
    return b.Data;
}

} // namespace kv::skin::test
