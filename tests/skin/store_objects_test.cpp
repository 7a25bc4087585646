// Skin objects: copying, states, per-state links and fonts, nine-piece painting, hue rotation.
#include "skin/store/SkinBody.h"
#include "skin/store/SkinHue.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinPaint.h"
#include "skin/store/SkinSource.h"
#include "skin_test_support.h"

#include <gtest/gtest.h>

using namespace kv::skin;
using kv::skin::test::ButtonFrameColor;
using kv::skin::test::ButtonStateColor;

namespace {

class ButtonSkin : public ::testing::Test {
protected:
    void SetUp() override {
        const SkinStatus st = ReadSkinBody(test::ButtonSkinBody(), Source);
        ASSERT_TRUE(st.Ok()) << st.Error;
        Button = Source.FindObject("Button");
        ASSERT_NE(Button, nullptr);
    }
    TSkinSource Source;
    TSkinObject* Button = nullptr;
};

} // namespace

// A copy is a separate tree of the same classes; changing it leaves the source alone.
TEST_F(ButtonSkin, CopyIsDeepAndIndependent) {
    std::unique_ptr<TSkinObject> copy(Button->CopyObject(nullptr));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->ClassName(), "TSkinObject");
    auto* face = dynamic_cast<TSkinButtonObject*>(copy->FindObject("Face"));
    ASSERT_NE(face, nullptr);
    EXPECT_NE(face, Button->FindObject("Face"));
    EXPECT_EQ(face->BitmapPressed()->Top, 46);
    EXPECT_TRUE(face->BitmapPressed()->Valid());
    face->MarginLeft = 1;
    EXPECT_EQ(dynamic_cast<TSkinBitmapObject*>(Button->FindObject("Face"))->MarginLeft, 5);
    auto* text = dynamic_cast<TSkinTextObject*>(copy->FindObject("Text"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->FontHot()->Color(), clBlack);
}

TEST_F(ButtonSkin, StateReachesEveryChildAndPicksLinksAndFonts) {
    auto* face = dynamic_cast<TSkinButtonObject*>(Button->FindObject("Face"));
    auto* text = dynamic_cast<TSkinTextObject*>(Button->FindObject("Text"));
    const std::pair<int, int> expected[] = {{ssNormal, 0},    {ssHot, 23},     {ssPressed, 46},
                                            {ssDisabled, 69}, {ssFocused, 92}, {3, 0}};
    for (auto [state, top] : expected) {
        Button->SetState(state);
        EXPECT_EQ(face->State(), state);
        EXPECT_EQ(text->State(), state);
        EXPECT_EQ(face->StateLink().Top, top) << "state " << state;
    }
    Button->SetState(ssDisabled);
    EXPECT_EQ(text->StateFont(), text->FontDisabled());
    Button->SetState(ssNormal);
    EXPECT_EQ(text->StateFont(), text->Font());
    // A state link that names no bitmap falls back to Bitmap.
    face->BitmapHot()->Name = "NOPE.bmp";
    face->ResolveLinks(Source);
    Button->SetState(ssHot);
    EXPECT_EQ(face->StateLink().Top, 0);
}

// Nine pieces: the 5-pixel corners stay unscaled, edges and centre stretch to the object size.
TEST_F(ButtonSkin, NinePiecePaintsCornersUnscaledAndStretchesTheRest) {
    TSkinBitmap target("t", 65, 25, 0);
    TSkinCanvas canvas(target);
    Button->SetState(ssPressed);
    Button->FindObject("Face")->Paint(canvas, {0, 0, 65, 25});
    EXPECT_EQ(target.Pixel(0, 0), ButtonFrameColor(2));
    EXPECT_EQ(target.Pixel(64, 24), ButtonFrameColor(2));
    EXPECT_EQ(target.Pixel(64, 0), ButtonFrameColor(2));
    EXPECT_EQ(target.Pixel(32, 0), ButtonFrameColor(2));  // top edge
    EXPECT_EQ(target.Pixel(0, 12), ButtonFrameColor(2));  // left edge
    EXPECT_EQ(target.Pixel(32, 24), ButtonFrameColor(2)); // bottom edge
    EXPECT_EQ(target.Pixel(1, 1), ButtonStateColor(2));
    EXPECT_EQ(target.Pixel(32, 12), ButtonStateColor(2));
    EXPECT_EQ(target.Pixel(63, 23), ButtonStateColor(2));
    // Painting at an offset leaves everything outside the bounds alone.
    TSkinBitmap big("b", 80, 40, 0);
    TSkinCanvas c2(big);
    Button->FindObject("Face")->Paint(c2, {10, 10, 30, 20});
    EXPECT_EQ(big.Pixel(9, 9), 0u);
    EXPECT_EQ(big.Pixel(10, 10), ButtonFrameColor(2));
    EXPECT_EQ(big.Pixel(30, 20), 0u);
}

TEST(SkinPaint, TileCentreAndMasking) {
    TSkinBitmap src("s", 2, 1);
    src.SetPixel(0, 0, SkinPixel(255, 0, 0));
    src.SetPixel(1, 0, kSkinTransparentKey);
    TSkinBitmap t("t", 5, 3, SkinPixel(0, 0, 255));
    DrawPiece(t, src, {0, 0, 2, 1}, {0, 0, 5, 1}, tsTile, true, {0, 0, 5, 3});
    EXPECT_EQ(t.Pixel(0, 0), SkinPixel(255, 0, 0));
    EXPECT_EQ(t.Pixel(1, 0), SkinPixel(0, 0, 255)); // masked: left undrawn
    EXPECT_EQ(t.Pixel(2, 0), SkinPixel(255, 0, 0));
    DrawPiece(t, src, {0, 0, 2, 1}, {0, 1, 5, 2}, tsTile, false, {0, 0, 5, 3});
    EXPECT_EQ(t.Pixel(1, 1), kSkinTransparentKey); // unmasked: the key is copied
    TSkinBitmap c("c", 5, 3, 0);
    DrawPiece(c, src, {0, 0, 1, 1}, {0, 0, 5, 3}, tsCenter, false, {0, 0, 5, 3});
    EXPECT_EQ(c.Pixel(2, 1), SkinPixel(255, 0, 0));
    EXPECT_EQ(c.Pixel(1, 1), 0u);
    // Source rectangles outside the bitmap draw nothing and do not read out of bounds.
    TSkinBitmap d("d", 4, 4, 0);
    DrawPiece(d, src, {5, 5, 50, 50}, {0, 0, 4, 4}, tsStretch, false, {0, 0, 4, 4});
    DrawPiece(d, src, {-10, -10, 1, 1}, {-3, -3, 400, 400}, tsStretch, false, {0, 0, 4, 4});
    EXPECT_EQ(d.Pixel(3, 3), SkinPixel(255, 0, 0));
}

TEST(SkinSource, FirstClientObjectIsUnmasked) {
    kv::skin::test::BodyBuilder b;
    b.Header().U32(0).U32(1).TextObject("TSkinObject",
                                        "object Form: TSkinObject\n  Kind = skClient\n"
                                        "  Masked = True\nend\n");
    TSkinSource s;
    ASSERT_TRUE(ReadSkinBody(b.Data, s).Ok());
    EXPECT_FALSE(s.Objects[0]->Masked);
}

// Hue rotation on known colours: the primaries move round, greys and system colours stay.
TEST(SkinHue, RotatesKnownColours) {
    EXPECT_EQ(RotatePixelHue(SkinPixel(255, 0, 0), 120), SkinPixel(0, 255, 0));
    EXPECT_EQ(RotatePixelHue(SkinPixel(255, 0, 0), 240), SkinPixel(0, 0, 255));
    EXPECT_EQ(RotatePixelHue(SkinPixel(255, 0, 0, 77), -120), SkinPixel(0, 0, 255, 77));
    EXPECT_EQ(RotatePixelHue(SkinPixel(255, 255, 0), 60), SkinPixel(0, 255, 0));
    EXPECT_EQ(RotatePixelHue(SkinPixel(10, 100, 200), 360), SkinPixel(10, 100, 200));
    EXPECT_EQ(RotatePixelHue(SkinPixel(90, 90, 90), 123), SkinPixel(90, 90, 90));
    EXPECT_EQ(RotateColorHue(clRed, 120), clLime);
    EXPECT_EQ(RotateColorHue(clWindowText, 120), clWindowText);
    EXPECT_EQ(RotateColorHue(clNone, 120), clNone);
}
