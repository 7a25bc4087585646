// The console's stored skin: the layout holds exactly what skin-build makes from the sources in
// resources/skins/xpblue, and that skin is the "XP Blue" the console's buttons are painted with.
#include "skin/store/SkinBody.h"
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinSource.h"
#include "skin/store/SkinZlib.h"
#include "skin_sources.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace kv::skin;

namespace {

std::string readFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kLayout = KELVORA_SOURCE_DIR "/resources/layouts/Unit1.layout";
const std::string kBuiltBody = KELVORA_SKIN_OUT "/xpblue.uskn";

} // namespace

// Fails when resources/skins/xpblue changed without "cmake --build build --target
// update-layout-skin" (or the layout was edited by hand).
TEST(StoredSkin, LayoutMatchesTheSkinBuiltFromItsSources) {
    const std::string built = readFile(kBuiltBody);
    ASSERT_FALSE(built.empty()) << kBuiltBody;
    const std::string stream = kv::skinbuild::ExtractLayoutSkinStream(readFile(kLayout));
    ASSERT_GT(stream.size(), 5u);
    EXPECT_EQ(stream[0], 2);
    EXPECT_EQ(stream.substr(1, 4), "QVLZ");
    const SkinBytes body = ZlibDecompress(std::string_view(stream).substr(5));
    ASSERT_TRUE(body.Ok()) << body.Error;
    EXPECT_TRUE(body.Data == built) << "the stored skin differs from a fresh build of its sources";
}

TEST(StoredSkin, XpBlueHasItsBitmapsObjectsAndButton) {
    TSkinSource s;
    const SkinStatus st = ReadSkinBody(readFile(kBuiltBody), s);
    ASSERT_TRUE(st.Ok()) << st.Error;
    EXPECT_EQ(s.Header.SkinName, "XP Blue");
    EXPECT_EQ(s.Header.SkinVersion, "2.0.0");
    EXPECT_EQ(s.Bitmaps.size(), 59u);
    ASSERT_EQ(s.Objects.size(), 26u);
    const char* names[] = {"Button",      "Form",      "MenuBar",     "PopupMenu",  "CheckBox",
                           "RadioButton", "ScrollBar", "SpeedButton", "GroupBox",   "ProgressBar",
                           "TrackBar",    "ListBox",   "Edit",        "ComboBox",   "SpinButton",
                           "Panel",       "Tabs",      "Grid",        "ControlBar", "Toolbar",
                           "Header",      "StatusBar", "ScrollBox",   "ToolWindow", "Container",
                           "Splitter"};
    for (size_t i = 0; i < 26; ++i)
        EXPECT_EQ(s.Objects[i]->Name(), names[i]);
    EXPECT_EQ(s.Objects[25]->ClassName(), "TSkinBitmapObject");
    // Every bitmap link of every object names a bitmap of the skin.
    std::function<void(TSkinObject*)> checkLinks = [&](TSkinObject* o) {
        if (auto* b = dynamic_cast<TSkinBitmapObject*>(o)) {
            EXPECT_TRUE(b->Bitmap()->Name.empty() || b->Bitmap()->Valid()) << o->Name();
        }
        for (int i = 0; i < o->ChildCount(); ++i)
            checkLinks(o->Child(i));
    };
    for (auto& o : s.Objects)
        checkLinks(o.get());

    const TSkinBitmap* bmp = s.FindBitmap("BUTTON.bmp");
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Width, 20);
    EXPECT_EQ(bmp->Height, 115);
    TSkinObject* button = s.FindObject("Button");
    ASSERT_EQ(button->ClassName(), "TSkinObject");
    ASSERT_EQ(button->ChildCount(), 2);
    auto* face = dynamic_cast<TSkinButtonObject*>(button->Child(0));
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->Name(), "Face");
    EXPECT_EQ(face->MarginLeft + face->MarginTop + face->MarginRight + face->MarginBottom, 20);
    EXPECT_EQ(face->TileStyle, tsStretch);
    EXPECT_EQ(face->BorderTileStyle, tsStretch);
    EXPECT_FALSE(face->AnyMasked());
    const std::pair<TSkinBitmapLink*, int> links[] = {{face->Bitmap(), 0},
                                                      {face->BitmapHot(), 23},
                                                      {face->BitmapPressed(), 46},
                                                      {face->BitmapDisabled(), 69},
                                                      {face->BitmapFocused(), 92}};
    for (auto [link, top] : links) {
        EXPECT_EQ(link->Name, "BUTTON.bmp");
        EXPECT_EQ(link->Rect(), (TSkinRect{0, top, 20, top + 23}));
    }
    auto* text = dynamic_cast<TSkinTextObject*>(button->Child(1));
    ASSERT_NE(text, nullptr);
    for (TFont* f : {text->Font(), text->FontHot(), text->FontFocused(), text->FontPressed(),
                     text->FontDisabled()}) {
        EXPECT_EQ(f->Name(), "Tahoma");
        EXPECT_EQ(f->Height(), -11);
    }
    EXPECT_EQ(text->Font()->Color(), clWindowText);
    EXPECT_EQ(text->FontPressed()->Color(), clWindowText);
    EXPECT_EQ(text->FontHot()->Color(), clBlack);
    EXPECT_EQ(text->FontDisabled()->Color(), clGray);
    // The form's client object was stored masked and is unmasked on loading.
    EXPECT_FALSE(s.FindObject("Form")->FindObject("Client")->Masked);
}

// Writing the stored skin again gives byte 2, the marker and a zlib stream, and reading that back
// gives the same header, 59 bitmaps and 26 objects.
TEST(StoredSkin, WritingTheFormAgainRoundTrips) {
    TSkinSource s;
    ASSERT_TRUE(ReadSkinBody(readFile(kBuiltBody), s).Ok());
    const std::string stream = WriteSkinStream(&s);
    EXPECT_EQ(stream[0], 2);
    EXPECT_EQ(stream.substr(1, 4), "QVLZ");
    EXPECT_EQ(static_cast<unsigned char>(stream[5]), 0x78);
    TSkinSource back;
    ASSERT_TRUE(ReadSkinStream(stream, back).Ok());
    EXPECT_EQ(back.Header.SkinName, "XP Blue");
    EXPECT_EQ(back.Header.AuthorWeb, s.Header.AuthorWeb);
    EXPECT_EQ(back.Bitmaps.size(), 59u);
    EXPECT_EQ(back.Objects.size(), 26u);
    for (size_t i = 0; i < s.Bitmaps.size(); ++i)
        EXPECT_EQ(back.Bitmaps[i]->Pixels, s.Bitmaps[i]->Pixels) << s.Bitmaps[i]->Name;
}
