// The skinned push button and the skin engine, offscreen: state choice, mouse and keyboard
// rules, glyph cells, skin changes and the plain caption, checked on the painted pixels.
#include "skin/SkinButton.h"
#include "skin/SkinEngine.h"
#include "skin/store/SkinHue.h"
#include "skin/store/SkinObjectClasses.h"
#include "toolkit/Filer.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string kGreenSkin = KELVORA_SKIN_OUT "/testgreen.cskn";
const std::string kBlueStream = KELVORA_SKIN_OUT "/xpblue.stream";

// The flat colours of the test skin's five states (see resources/skins/testgreen).
const QRgb kNormal = qRgb(0x20, 0xA0, 0x40);
const QRgb kHot = qRgb(0x60, 0xD0, 0x70);
const QRgb kPressed = qRgb(0x10, 0x70, 0x20);
const QRgb kDisabled = qRgb(0xC0, 0xD0, 0xC0);
const QRgb kFocused = qRgb(0x30, 0xB0, 0xA0);

std::string readFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        Application->Initialize();
        Form = new TForm(nullptr);
        Form->SetBounds(0, 0, 300, 200);
        Engine = new TSkinEngine(Form);
        ASSERT_TRUE(Engine->LoadFromFile(kGreenSkin)) << Engine->LastError();
        Button = new TSkinButton(Form);
        Button->SetParent(Form);
        Button->SetBounds(10, 10, 75, 25);
        Button->OnClick = [this](TObject*) { ++Clicks; };
        Button->SetSkinEngine(Engine);
    }
    void TearDown() override {
        Form->DoDestroy();
        delete Form;
    }
    // The painted colour at a point of the left edge piece, away from caption and glyph.
    QRgb edge() { return Button->RenderImage().pixel(2, 12); }
    QWidget* widget() { return Button->Widget(); }
    void mouse(QEvent::Type Type, int X, int Y, Qt::MouseButtons Held) {
        QMouseEvent e(Type, QPointF(X, Y), widget()->mapToGlobal(QPointF(X, Y)),
                      Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Held,
                      Qt::NoModifier);
        QApplication::sendEvent(widget(), &e);
    }
    void key(QEvent::Type Type, int Key, bool AutoRepeat = false, QObject* To = nullptr) {
        QKeyEvent e(Type, Key, Qt::NoModifier,
                    Key == Qt::Key_Space ? QStringLiteral(" ") : QString(), AutoRepeat);
        QApplication::sendEvent(To != nullptr ? To : widget(), &e);
    }
    void enter() {
        QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(widget(), &e);
    }

    TForm* Form = nullptr;
    TSkinEngine* Engine = nullptr;
    TSkinButton* Button = nullptr;
    int Clicks = 0;
};

} // namespace

// 8 when disabled, even hot and focused; 6 pressed; 5 hot; 7 focused or active default; 0.
TEST_F(ButtonTest, StateChoiceDisabledBeatsHotAndFocus) {
    ASSERT_TRUE(Button->Skinned());
    EXPECT_EQ(edge(), kNormal);
    Button->SetDefault(true);
    EXPECT_TRUE(Button->ActiveDefault());
    EXPECT_EQ(Button->SkinState(), 7);
    EXPECT_EQ(edge(), kFocused);
    enter();
    EXPECT_TRUE(Button->Hot());
    EXPECT_EQ(edge(), kHot);
    Button->SetState(wbsPressed);
    EXPECT_EQ(edge(), kPressed);
    Button->SetEnabled(false);
    EXPECT_EQ(Button->SkinState(), 8);
    EXPECT_EQ(edge(), kDisabled);
    // "Text" follows the state: the disabled font.
    auto* text = dynamic_cast<TSkinTextObject*>(Button->SkinCopy()->FindObject("Text"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->State(), 8);
    EXPECT_EQ(text->StateFont(), text->FontDisabled());
    EXPECT_EQ(text->StateFont()->Color(), clGray);
}

// Press, drag out and back in, release inside: one click. Release outside: none, and normal.
TEST_F(ButtonTest, DragOutAndBackInClicksOnce) {
    mouse(QEvent::MouseButtonPress, 10, 10, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsPressed);
    EXPECT_EQ(edge(), kPressed);
    mouse(QEvent::MouseMove, 80, 10, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsNormal);
    mouse(QEvent::MouseMove, 40, 12, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsPressed);
    mouse(QEvent::MouseButtonRelease, 40, 12, Qt::NoButton);
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(Button->State(), wbsNormal);
    EXPECT_FALSE(Button->Tracking());

    mouse(QEvent::MouseButtonPress, 10, 10, Qt::LeftButton);
    mouse(QEvent::MouseMove, 10, 40, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, 10, 40, Qt::NoButton);
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(Button->State(), wbsNormal);
}

// The bottom row of pixels is inside; one pixel below is outside.
TEST_F(ButtonTest, BottomRowInsideOneBelowOutside) {
    mouse(QEvent::MouseButtonPress, 5, 5, Qt::LeftButton);
    mouse(QEvent::MouseMove, 5, 24, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsPressed);
    mouse(QEvent::MouseMove, 5, 25, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsNormal);
    mouse(QEvent::MouseMove, 74, 24, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsPressed);
    mouse(QEvent::MouseMove, 75, 24, Qt::LeftButton);
    EXPECT_EQ(Button->State(), wbsNormal);
    mouse(QEvent::MouseButtonRelease, 5, 24, Qt::NoButton);
    EXPECT_EQ(Clicks, 1);
    mouse(QEvent::MouseButtonPress, 5, 5, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, 5, 25, Qt::NoButton);
    EXPECT_EQ(Clicks, 1);
}

// Holding Space shows the pressed face; auto-repeat neither releases nor clicks; the release
// clicks once.
TEST_F(ButtonTest, SpaceHeldThenReleasedClicksOnce) {
    key(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(edge(), kPressed);
    for (int i = 0; i < 3; ++i) {
        key(QEvent::KeyRelease, Qt::Key_Space, true);
        key(QEvent::KeyPress, Qt::Key_Space, true);
    }
    EXPECT_EQ(Clicks, 0);
    EXPECT_EQ(edge(), kPressed);
    key(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(edge(), kNormal);
}

// A 32 x 16 glyph has two cells; a disabled button draws the second.
TEST_F(ButtonTest, TwoCellGlyphDrawsSecondCellWhenDisabled) {
    QTemporaryDir dir;
    QImage glyph(32, 16, QImage::Format_ARGB32);
    glyph.fill(qRgb(255, 255, 255));
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 32; ++x)
            glyph.setPixel(x, y, x < 16 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    const QString path = dir.filePath(QStringLiteral("two.png"));
    ASSERT_TRUE(glyph.save(path));
    Button->Glyph()->LoadFromFile(path.toStdString());
    EXPECT_EQ(Button->NumGlyphs(), 2);
    // No caption: the 16 x 16 cell is centred at (29, 4).
    EXPECT_EQ(Button->RenderImage().pixel(37, 10), qRgb(255, 0, 0));
    EXPECT_EQ(Button->RenderImage().pixel(37, 19), kNormal) << "transparent colour not drawn";
    Button->SetEnabled(false);
    EXPECT_EQ(Button->RenderImage().pixel(37, 10), qRgb(0, 0, 255));
    // A glyph five times as wide as high counts as one cell.
    QImage wide(80, 16, QImage::Format_ARGB32);
    wide.fill(qRgb(1, 2, 3));
    const QString widePath = dir.filePath(QStringLiteral("wide.png"));
    ASSERT_TRUE(wide.save(widePath));
    Button->Glyph()->LoadFromFile(widePath.toStdString());
    EXPECT_EQ(Button->NumGlyphs(), 1);
}

// After the skin-changed notice each button shows the new skin; the buttons stay the same.
TEST_F(ButtonTest, SkinChangeRepaintsWithoutRecreating) {
    std::vector<std::string> events;
    Engine->OnBeforeChange = [&](TObject*) {
        events.push_back("before");
        EXPECT_TRUE(Engine->Changing());
    };
    Engine->OnAfterChange = [&](TObject*) {
        events.push_back("after");
        EXPECT_FALSE(Engine->Changing());
    };
    TSkinButton* same = Button;
    TSkinObject* oldCopy = Button->SkinCopy();
    ASSERT_TRUE(Engine->LoadFromStream(readFile(kBlueStream))) << Engine->LastError();
    EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(Engine->Source().Header.SkinName, "XP Blue");
    EXPECT_EQ(Button, same);
    EXPECT_TRUE(Button->Skinned());
    EXPECT_NE(Button->SkinCopy(), nullptr);
    (void)oldCopy;
    // XP Blue's normal face: the frame blue in the corner ring, a light face inside.
    const QImage blue = Button->RenderImage();
    EXPECT_EQ(blue.pixel(0, 12), qRgb(0x00, 0x3C, 0x74));
    EXPECT_EQ(qAlpha(blue.pixel(0, 0)), 0) << "rounded corner shows what lies below";
    ASSERT_TRUE(Engine->LoadFromFile(kGreenSkin));
    EXPECT_EQ(edge(), kNormal);
    // A file that does not exist changes nothing.
    EXPECT_FALSE(Engine->LoadFromFile("no-such-skin.cskn"));
    EXPECT_FALSE(Engine->LoadFromFile(kGreenSkin + ".zip"));
    EXPECT_EQ(edge(), kNormal);
    EXPECT_EQ(events.size(), 4u);
}

// DeltaHue turns every bitmap's hue and repaints the buttons.
TEST_F(ButtonTest, DeltaHueRotatesTheSkin) {
    const QRgb before = edge();
    Engine->SetDeltaHue(120);
    const std::uint32_t expected = kv::skin::RotatePixelHue(before, 120);
    EXPECT_EQ(edge(), expected | 0xFF000000u);
    Engine->SetDeltaHue(0);
    EXPECT_EQ(edge(), before);
    // A new skin gets the engine's hue too.
    Engine->SetDeltaHue(240);
    ASSERT_TRUE(Engine->LoadFromFile(kGreenSkin));
    EXPECT_EQ(edge(), kv::skin::RotatePixelHue(before, 240) | 0xFF000000u);
}

// ShowCaption false on a skinned button: the caption is still drawn, the plain way (the
// button's own font colour instead of the skin's).
TEST_F(ButtonTest, ShowCaptionFalseDrawsThePlainCaption) {
    Button->Font()->SetColor(clRed);
    Button->SetCaption("MMMM");
    const auto redPixels = [this] {
        const QImage img = Button->RenderImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                n += qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90 ? 1 : 0;
            }
        return n;
    };
    EXPECT_EQ(redPixels(), 0) << "skinned caption uses the skin's Text font";
    Button->SetShowCaption(false);
    EXPECT_GT(redPixels(), 10);
    EXPECT_TRUE(Button->Skinned());
}

// Without an engine, or with a skin lacking the object, the plain look is painted.
TEST_F(ButtonTest, PlainLookWithoutUsableSkin) {
    Button->SetSkinObject("NoSuchObject");
    Button->SetSkinEngine(Engine);
    EXPECT_FALSE(Button->Skinned());
    EXPECT_EQ(Button->SkinCopy(), nullptr);
    const QImage plain = Button->RenderImage();
    EXPECT_NE(plain.pixel(2, 12), kNormal);
    EXPECT_EQ(qAlpha(plain.pixel(2, 12)), 255);
    Button->SetSkinObject("button");
    Button->SetSkinEngine(Engine);
    EXPECT_TRUE(Button->Skinned());
    delete Engine;
    EXPECT_EQ(Button->SkinEngine(), nullptr);
    EXPECT_FALSE(Button->Skinned());
    Button->SetBounds(10, 10, 0, 25);
    EXPECT_TRUE(Button->RenderImage().isNull());
}

// Enter clicks the active default button, Esc the Cancel button, from anywhere in the window;
// Kind presets set caption, modal result, Default and the two-cell glyph.
TEST_F(ButtonTest, DialogKeysAndKindPresets) {
    Form->Show();
    auto* other = new TSkinButton(Form);
    other->SetParent(Form);
    other->SetBounds(100, 10, 75, 25);
    other->SetCancel(true);
    int cancelled = 0;
    other->OnClick = [&](TObject*) { ++cancelled; };
    Button->SetDefault(true);
    Button->RenderImage();
    other->RenderImage();
    QWidget* window = Form->Widget()->window();
    key(QEvent::KeyPress, Qt::Key_Return, false, window);
    EXPECT_EQ(Clicks, 1);
    key(QEvent::KeyPress, Qt::Key_Escape, false, window);
    EXPECT_EQ(cancelled, 1);
    Button->SetCaption("&Tamam");
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_T, Qt::AltModifier, QStringLiteral("t"));
    QApplication::sendEvent(window, &alt);
    EXPECT_EQ(Clicks, 2);

    auto* ok = new TSkinButton(Form);
    ok->SetParent(Form);
    ok->SetKind(bkOK);
    EXPECT_EQ(ok->Caption(), "OK");
    EXPECT_EQ(ok->ModalResult(), mrOk);
    EXPECT_TRUE(ok->Default());
    EXPECT_EQ(ok->NumGlyphs(), 2);
    ok->SetKind(bkNo);
    EXPECT_FALSE(ok->Default());
    EXPECT_EQ(ok->ModalResult(), mrNo);
    ok->Click();
    EXPECT_EQ(Form->ModalResult(), mrNo);
}

namespace {

std::string hexOf(const std::string& Bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : Bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

} // namespace

// A layout's stored skin fills the engine while the layout is read: SkinFile is cleared, the
// buttons bound to the engine are skinned at once, OnAfterChange runs once; a DeltaHue in the
// same layout is applied after reading.
TEST(SkinEngineLayout, StoredSkinIsReadFromTheLayout) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();
    const std::string stream = readFile(KELVORA_SKIN_OUT "/testgreen.stream");
    ASSERT_FALSE(stream.empty());
    for (int hue : {0, 120}) {
        TForm form(nullptr);
        int after = 0;
        form.Method<void(TObject*)>("EngineAfterChange", [&](TObject*) { ++after; });
        form.LoadLayoutData("object F: TForm\n"
                            "  object Engine: TSkinEngine\n"
                            "    DeltaHue = " +
                            std::to_string(hue) +
                            "\n"
                            "    SkinFile = 'elsewhere.cskn'\n"
                            "    OnAfterChange = EngineAfterChange\n"
                            "    SkinStream = {" +
                            hexOf(stream) +
                            "}\n"
                            "  end\n"
                            "  object B: TSkinButton\n"
                            "    Left = 1\n    Top = 1\n    Width = 75\n    Height = 25\n"
                            "    SkinEngine = Engine\n"
                            "  end\n"
                            "end\n");
        auto* engine = dynamic_cast<TSkinEngine*>(form.FindComponent("Engine"));
        auto* button = dynamic_cast<TSkinButton*>(form.FindComponent("B"));
        ASSERT_NE(engine, nullptr);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(engine->SkinFile(), "");
        EXPECT_EQ(engine->SkinStore(), "(none)");
        EXPECT_EQ(engine->Source().Header.SkinName, "Test Green");
        EXPECT_EQ(after, 1);
        EXPECT_TRUE(button->Skinned());
        EXPECT_EQ(button->RenderImage().pixel(2, 12) | 0xFF000000u,
                  kv::skin::RotatePixelHue(kNormal, hue) | 0xFF000000u);
        // Writing the layout again writes the stored skin again.
        const std::string written = WriteComponentText(engine);
        EXPECT_NE(written.find("SkinStream = {"), std::string::npos);
        form.DoDestroy();
    }
    // A stored skin byte of 0 leaves the engine without a skin and the button plain.
    TForm form(nullptr);
    form.LoadLayoutData("object F: TForm\n  object Engine: TSkinEngine\n    SkinStream = {00}\n"
                        "  end\n  object B: TSkinButton\n    SkinEngine = Engine\n  end\nend\n");
    auto* engine = dynamic_cast<TSkinEngine*>(form.FindComponent("Engine"));
    EXPECT_FALSE(engine->HasSkin());
    EXPECT_FALSE(dynamic_cast<TSkinButton*>(form.FindComponent("B"))->Skinned());
    form.DoDestroy();
}

// Saving picks the filter by extension (the compressed one otherwise); loading looks a bare name
// up in the program's folder when it is not found where it is.
TEST_F(ButtonTest, EngineSavesAndFindsSkinFiles) {
    QTemporaryDir dir;
    for (const char* name : {"s.uskn", "s.cskn", "s.xskn", "s.mskn"}) {
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        ASSERT_TRUE(Engine->SaveToFile(path)) << name;
        TSkinEngine other(nullptr);
        ASSERT_TRUE(other.LoadFromFile(path)) << name << ": " << other.LastError();
        EXPECT_EQ(other.Source().Header.SkinName, "Test Green");
        EXPECT_EQ(other.Source().Bitmaps.size(), 1u);
    }
    const std::string odd = dir.filePath(QStringLiteral("s.skin")).toStdString();
    ASSERT_TRUE(Engine->SaveToFile(odd));
    EXPECT_EQ(readFile(odd).substr(0, 4), "QVLZ");

    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("zz-skin-test.cskn"));
    QFile::remove(beside);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(kGreenSkin), beside));
    TSkinEngine other(nullptr);
    EXPECT_TRUE(other.LoadFromFile("zz-skin-test.cskn")) << other.LastError();
    EXPECT_FALSE(other.LoadFromFile("C:\\zz-skin-test.cskn"));
    QFile::remove(beside);
    EXPECT_TRUE(other.HasSkin());
}

// The three Performance modes paint the same button; blending scales the opacity of buffered
// paints; Transparent shows the parent's colour where masked drawing leaves the key undrawn. The
// hot flag fires OnMouseEnter and OnMouseLeave.
TEST_F(ButtonTest, PerformanceBlendingTransparentAndHotEvents) {
    ASSERT_TRUE(Engine->LoadFromStream(readFile(kBlueStream)));
    Button->SetCaption("Yenile");
    const QImage doubleBuffered = Button->RenderImage();
    Button->SetPerformance(wspSharedBuffer);
    EXPECT_EQ(Button->RenderImage(), doubleBuffered);
    Button->SetPerformance(wspNoBuffer);
    EXPECT_EQ(Button->RenderImage(), doubleBuffered);

    Button->SetPerformance(wspDoubleBuffer);
    Button->Blending()->Enabled = true;
    Button->Blending()->Opacity = 128;
    EXPECT_EQ(qAlpha(Button->RenderImage().pixel(2, 12)), 128);
    Button->SetPerformance(wspNoBuffer);
    EXPECT_EQ(qAlpha(Button->RenderImage().pixel(2, 12)), 255) << "no blending unbuffered";
    Button->Blending()->Enabled = false;

    EXPECT_EQ(qAlpha(Button->RenderImage().pixel(0, 0)), 0);
    // With masked corners the key is left undrawn, so the parent's colour stays there.
    auto* face = dynamic_cast<TSkinBitmapObject*>(Button->SkinCopy()->FindObject("Face"));
    ASSERT_NE(face, nullptr);
    face->MaskedAngles = true;
    EXPECT_EQ(qAlpha(Button->RenderImage().pixel(0, 0)), 0);
    Button->SetTransparent(true);
    Form->SetColor(clYellow);
    EXPECT_EQ(Button->RenderImage().pixel(0, 0), qRgb(255, 255, 0));
    EXPECT_EQ(Button->RenderImage().pixel(0, 12), qRgb(0x00, 0x3C, 0x74));

    std::vector<std::string> events;
    Button->OnMouseEnter = [&](TObject*) { events.push_back("enter"); };
    Button->OnMouseLeave = [&](TObject*) { events.push_back("leave"); };
    enter();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget(), &leave);
    EXPECT_EQ(events, (std::vector<std::string>{"enter", "leave"}));
    EXPECT_FALSE(Button->Hot());
}

// Black-and-white glyphs are grey until the mouse is over the button; a single-cell glyph on a
// disabled button is drawn in darker greys.
TEST_F(ButtonTest, BlackAndWhiteAndDisabledSingleCellGlyphs) {
    QTemporaryDir dir;
    QImage glyph(16, 16, QImage::Format_ARGB32);
    glyph.fill(qRgb(255, 255, 255));
    for (int y = 0; y < 15; ++y)
        for (int x = 1; x < 16; ++x)
            glyph.setPixel(x, y, qRgb(200, 40, 40));
    const QString path = dir.filePath(QStringLiteral("one.png"));
    ASSERT_TRUE(glyph.save(path));
    Button->Glyph()->LoadFromFile(path.toStdString());
    ASSERT_EQ(Button->NumGlyphs(), 1);
    const auto at = [this] { return Button->RenderImage().pixel(37, 10); };
    EXPECT_EQ(at(), qRgb(200, 40, 40));
    Button->SetBlackAndWhiteGlyph(true);
    EXPECT_EQ(at(), qRgb(120, 120, 120)); // lightness (200 + 40) / 2
    enter();
    EXPECT_EQ(at(), qRgb(200, 40, 40));
    Button->SetBlackAndWhiteGlyph(false);
    Button->SetEnabled(false);
    EXPECT_EQ(at(), qRgb(80, 80, 80));
}

// Entering and leaving set and clear the hot flag, also while the left button is held
// after a press. Dragged off, the button looks neither pressed nor hot; dragged back, pressed.
TEST_F(ButtonTest, DraggedOffWhilePressedLosesTheHotLook) {
    int leaves = 0;
    Button->OnMouseLeave = [&](TObject*) { ++leaves; };
    enter();
    ASSERT_TRUE(Button->Hot());
    mouse(QEvent::MouseButtonPress, 10, 10, Qt::LeftButton);
    EXPECT_EQ(edge(), kPressed);
    mouse(QEvent::MouseMove, 80, 10, Qt::LeftButton); // right of the 75-pixel button
    EXPECT_EQ(Button->State(), wbsNormal);
    EXPECT_FALSE(Button->Hot());
    EXPECT_NE(Button->SkinState(), 5);
    EXPECT_NE(edge(), kHot);
    EXPECT_EQ(leaves, 1);
    mouse(QEvent::MouseMove, 40, 12, Qt::LeftButton);
    EXPECT_TRUE(Button->Hot());
    EXPECT_EQ(edge(), kPressed);
    mouse(QEvent::MouseMove, 40, 25, Qt::LeftButton); // one row below
    EXPECT_FALSE(Button->Hot());
    mouse(QEvent::MouseButtonRelease, 40, 25, Qt::NoButton);
    EXPECT_EQ(Clicks, 0);
    EXPECT_EQ(Button->State(), wbsNormal);
    EXPECT_FALSE(Button->Hot());
    EXPECT_NE(edge(), kHot);
    EXPECT_EQ(leaves, 2);
}

namespace {

// The columns of a button's caption ink (near-black pixels), right of its glyph and inside the
// test skin's one-pixel frame.
std::pair<int, int> captionColumns(const QImage& Image, int FromX) {
    int first = -1, last = -1;
    for (int x = FromX; x < Image.width() - 1; ++x)
        for (int y = 1; y < Image.height() - 1; ++y) {
            const QRgb p = Image.pixel(x, y);
            if (qAlpha(p) > 0 && qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
        }
    return {first, last};
}

} // namespace

// The main window's widest captions keep the clearance they have on Windows: caption and 16 x 16
// glyph are one block centred in the button, the caption as wide as Tahoma 8 pt makes it there
// ("Data Kopar" 54 pixels, "Log Kaydı" 46), not condensed and not run into the frame.
TEST_F(ButtonTest, CaptionsKeepTheirWindowsClearance) {
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        GTEST_SKIP() << "fonts-wine's Tahoma is not installed";
    QTemporaryDir dir;
    QImage glyph(16, 16, QImage::Format_ARGB32);
    glyph.fill(qRgb(255, 255, 255)); // the bottom-left colour: transparent
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x)
            glyph.setPixel(x, y, qRgb(255, 0, 0));
    const QString path = dir.filePath(QStringLiteral("glyph.png"));
    ASSERT_TRUE(glyph.save(path));
    Button->Glyph()->LoadFromFile(path.toStdString());
    struct Row {
        const char* Caption;
        int Width, TextWidth;
    };
    for (const Row& row : {Row{"Data Kopar", 83, 54}, Row{"Log Kaydı", 76, 46}}) {
        SCOPED_TRACE(row.Caption);
        Button->SetCaption(row.Caption);
        Button->SetBounds(10, 10, row.Width, 25);
        const int block = 16 + 4 + row.TextWidth;
        const int captionLeft = (row.Width - block) / 2 + 16 + 4;
        const auto [first, last] = captionColumns(Button->RenderImage(), captionLeft - 2);
        ASSERT_GE(first, 0);
        EXPECT_GE(first, captionLeft) << "the caption starts after the glyph and the spacing";
        EXPECT_LT(last, captionLeft + row.TextWidth) << "the caption ends where Windows ends it";
        EXPECT_GE(row.Width - 1 - last, 4) << "clearance to the right edge";
        EXPECT_GE(last - first + 1, row.TextWidth - 3) << "not condensed";
    }
}
