// The main window as its layout builds it, before the start-up sequence runs: every control
// where the design puts it, with its texts, fonts, colours and states.

#include "console/Unit1.h"
#include "console_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QImage>
#include <gtest/gtest.h>

namespace kv::e2e {
namespace {

constexpr TColor Green = 0x008000;
constexpr TColor TitleGreen = 0x178704; // red 4, green 135, blue 23 as 0x00BBGGRR

// How a control's box is fixed: fully, or (labels that fit their text) by one edge only.
enum class Fit { Box, LeftEdge, RightEdge };

struct Place {
    const char* name;
    const char* parent;
    int left, top, width, height;
    Fit fit = Fit::Box;
};

class ConsoleLayout : public ::testing::TestWithParam<Place> {
protected:
    static void SetUpTestSuite() {
        Application->Initialize();
        host_ = new ConsoleHost;
        form_ = new TForm1(nullptr, host_->platform());
    }
    static void TearDownTestSuite() {
        delete form_;
        delete host_;
    }
    static TForm1& form() { return *form_; }
    static TControl* control(const char* name) {
        return dynamic_cast<TControl*>(form_->FindComponent(name));
    }

private:
    static inline ConsoleHost* host_ = nullptr;
    static inline TForm1* form_ = nullptr;
};

// Position, size and parent of every control, in pixels.
TEST_P(ConsoleLayout, ControlIsWhereTheDesignPutsIt) {
    const Place& p = GetParam();
    TControl* c = control(p.name);
    ASSERT_NE(c, nullptr) << p.name;
    ASSERT_NE(c->Parent(), nullptr);
    EXPECT_EQ(c->Parent()->Name(), p.parent);
    EXPECT_EQ(c->Top(), p.top);
    switch (p.fit) {
    case Fit::Box:
        EXPECT_EQ(c->Left(), p.left);
        EXPECT_EQ(c->Width(), p.width);
        EXPECT_EQ(c->Height(), p.height);
        break;
    case Fit::LeftEdge:
        EXPECT_EQ(c->Left(), p.left);
        break;
    case Fit::RightEdge:
        EXPECT_EQ(c->Left() + c->Width(), p.left + p.width);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, ConsoleLayout,
    ::testing::Values(
        Place{"Panel8", "Form1", 0, 0, 290, 60}, Place{"Label15", "Panel8", 87, 11, 159, 38},
        Place{"Image1", "Panel8", 10, 5, 50, 50}, Place{"Panel3", "Form1", 0, 60, 290, 102},
        Place{"Panel2", "Panel3", 2, 2, 286, 16}, Place{"SrvImg", "Panel3", 5, 23, 70, 70},
        // Auto-size labels in Tahoma as wide as Windows measured them (Windows' glyph widths).
        Place{"Label2", "Panel3", 90, 24, 44, 13}, Place{"Label4", "Panel3", 80, 40, 54, 13},
        Place{"Label3", "Panel3", 83, 56, 51, 13},
        Place{"SrvNameLB", "Panel3", 136, 24, 0, 0, Fit::LeftEdge},
        Place{"Label5", "Panel3", 136, 40, 0, 0, Fit::LeftEdge},
        Place{"SrvDurLB", "Panel3", 136, 56, 0, 0, Fit::LeftEdge},
        Place{"SrvBaslatBtn", "Panel3", 136, 72, 65, 25},
        Place{"SrvDurdurBtn", "Panel3", 208, 72, 65, 25},
        Place{"Panel4", "Form1", 0, 162, 290, 102}, Place{"Panel5", "Panel4", 2, 2, 286, 16},
        Place{"Image2", "Panel4", 5, 23, 70, 70},
        Place{"Label7", "Panel4", 101, 24, 105, 13, Fit::RightEdge},
        Place{"Label6", "Panel4", 89, 40, 117, 13, Fit::RightEdge},
        Place{"Label8", "Panel4", 100, 56, 106, 13, Fit::RightEdge},
        Place{"DSklasor", "Panel4", 208, 24, 0, 0, Fit::LeftEdge},
        Place{"DSMdf", "Panel4", 208, 40, 0, 0, Fit::LeftEdge},
        Place{"DSLdf", "Panel4", 208, 56, 0, 0, Fit::LeftEdge},
        Place{"DSYenileBtn", "Panel4", 136, 72, 65, 25}, Place{"Panel1", "Form1", 0, 264, 290, 111},
        Place{"Panel6", "Panel1", 2, 2, 286, 16}, Place{"Image3", "Panel1", 5, 23, 70, 70},
        Place{"Label1", "Panel1", 129, 23, 77, 13, Fit::RightEdge},
        Place{"DBAna", "Panel1", 208, 23, 0, 0, Fit::LeftEdge},
        Place{"BaglanBTN", "Panel1", 136, 39, 65, 25},
        Place{"Label9", "Panel1", 92, 64, 114, 13, Fit::RightEdge},
        Place{"DBKel", "Panel1", 208, 64, 0, 0, Fit::LeftEdge},
        Place{"AttBtn", "Panel1", 115, 80, 78, 25}, Place{"DeattBTN", "Panel1", 194, 80, 83, 25},
        Place{"Memo1", "Form1", 296, 62, 289, 310}, Place{"Panel7", "Form1", 0, 372, 290, 33},
        Place{"OnarBTN", "Panel7", 73, 4, 71, 25}, Place{"LogBTN", "Panel7", 144, 4, 76, 25},
        Place{"KapatBTN", "Panel7", 220, 4, 65, 25}, Place{"StatusBar1", "Form1", 0, 405, 290, 19}),
    [](const auto& row) { return std::string(row.param.name); });

// The window itself and its non-visual components.
TEST_F(ConsoleLayout, WindowAndComponents) {
    EXPECT_EQ(form().Caption(), "Data İşlemleri");
    EXPECT_EQ(form().ClientWidth(), 290);
    EXPECT_EQ(form().ClientHeight(), 424);
    EXPECT_EQ(form().Left(), 192);
    EXPECT_EQ(form().Top(), 152);
    EXPECT_EQ(form().BorderStyle(), bsSingle);
    EXPECT_TRUE(form().BorderIcons() == TBorderIcons{biSystemMenu});
    EXPECT_EQ(form().Color(), clBtnFace);
    EXPECT_EQ(form().Font()->Name(), "Tahoma");
    EXPECT_EQ(form().Font()->Height(), -11);

    EXPECT_EQ(form().Timer1->Interval(), 200);
    EXPECT_TRUE(form().Timer1->Enabled()) << "FormCreate starts the timer";
    EXPECT_EQ(form().ImageList1->Width(), 70);
    EXPECT_EQ(form().ImageList1->Height(), 70);
    EXPECT_EQ(form().ImageList1->Count(), 3);
    EXPECT_TRUE(form().Memo1->Lines()->Count() == 0) << "FormCreate clears the placeholder";
    EXPECT_FALSE(form().Memo1->Visible());
    EXPECT_EQ(form().Memo1->ScrollBars(), ssBoth);
    EXPECT_EQ(form().Panel8->Align(), alTop);
    EXPECT_EQ(form().Panel7->Align(), alBottom);
    EXPECT_EQ(form().StatusBar1->Align(), alBottom);
}

// Fixed texts, fonts and colours: the banner, the green bold captions, the title bars.
TEST_F(ConsoleLayout, TextsFontsAndColours) {
    TLabel* banner = form().Label15;
    EXPECT_EQ(banner->Caption(), "Kelvora Database \r\nOnarma Sistemi");
    EXPECT_EQ(banner->Alignment(), taCenter);
    EXPECT_EQ(banner->Font()->Height(), -16);
    EXPECT_TRUE(banner->Font()->Style().Contains(fsBold));
    EXPECT_EQ(banner->Font()->Color(), Green);
    EXPECT_EQ(banner->Font()->Charset(), TURKISH_CHARSET);
    EXPECT_TRUE(banner->Transparent());
    EXPECT_EQ(form().Panel8->Color(), clWhite);
    EXPECT_EQ(form().Panel8->BevelOuter(), bvLowered);

    const std::pair<TLabel*, const char*> captions[] = {
        {form().Label2, "Server :"},           {form().Label4, "Services :"},
        {form().Label3, "Durumu :"},           {form().Label7, "C:\\Kelvora\\Data :"},
        {form().Label6, "Kelvora_Data.MDF :"}, {form().Label8, "Kelvora_Log.LDF :"},
        {form().Label1, "Ana Bağlantı :"},     {form().Label9, "Kelvora Bağlantısı :"},
    };
    for (const auto& [label, text] : captions) {
        EXPECT_EQ(label->Caption(), text);
        EXPECT_EQ(label->Font()->Color(), Green) << text;
        EXPECT_TRUE(label->Font()->Style().Contains(fsBold)) << text;
        EXPECT_EQ(label->Font()->Height(), -11) << text;
    }
    EXPECT_EQ(form().Label4->BiDiMode(), bdRightToLeft);
    for (TLabel* label :
         {form().Label3, form().Label7, form().Label6, form().Label8, form().Label1, form().Label9})
        EXPECT_EQ(label->Alignment(), taRightJustify) << label->Name();
    for (TLabel* value : {form().SrvNameLB, form().Label5, form().SrvDurLB, form().DSklasor,
                          form().DSMdf, form().DSLdf, form().DBAna, form().DBKel}) {
        EXPECT_EQ(value->Caption(), "") << value->Name();
        EXPECT_TRUE(value->Font()->Style().Contains(fsBold)) << value->Name();
        EXPECT_EQ(value->Font()->Color(), clWindowText) << value->Name();
    }

    const std::pair<TPanel*, const char*> titles[] = {{form().Panel2, "MS-SQL Server"},
                                                      {form().Panel5, "Kelvora Database Dosyaları"},
                                                      {form().Panel6, "Database Bağlantı"}};
    for (const auto& [bar, text] : titles) {
        EXPECT_EQ(bar->Caption(), text);
        EXPECT_EQ(bar->Color(), TitleGreen) << text;
        EXPECT_EQ(bar->Font()->Color(), clWhite) << text;
        EXPECT_TRUE(bar->Font()->Style().Contains(fsBold)) << text;
        EXPECT_EQ(bar->BevelOuter(), bvNone) << text;
        EXPECT_EQ(bar->Align(), alTop) << text;
    }
    for (TPanel* panel : {form().Panel3, form().Panel4, form().Panel1, form().Panel7}) {
        EXPECT_EQ(panel->BevelInner(), bvRaised) << panel->Name();
        EXPECT_EQ(panel->BevelOuter(), bvLowered) << panel->Name();
    }
}

// The nine buttons: caption, glyph and state at creation.
TEST_F(ConsoleLayout, ButtonsAtCreation) {
    struct Row {
        TSkinButton* button;
        const char* caption;
        const char* glyph;
        bool enabled;
    };
    auto* engine = dynamic_cast<TSkinEngine*>(form().FindComponent("SkinEngine1"));
    ASSERT_NE(engine, nullptr);
    const Row rows[] = {
        {form().SrvBaslatBtn, "Başlat", "btn_start.svg", true},
        {form().SrvDurdurBtn, "Durdur", "btn_stop.svg", true},
        {form().DSYenileBtn, "Yenile", "btn_refresh.svg", true},
        {form().BaglanBTN, "Bağlan", "btn_connect.svg", false},
        {form().AttBtn, "Data Bağla", "btn_plus.svg", false},
        {form().DeattBTN, "Data Kopar", "btn_minus.svg", false},
        {form().OnarBTN, "Onar", "btn_repair.svg", false},
        {form().LogBTN, "Log Kaydı", "btn_log.svg", true},
        {form().KapatBTN, "Kapat", "btn_exit.svg", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.button->Caption(), row.caption);
        EXPECT_EQ(row.button->Glyph()->Name(), row.glyph) << row.caption;
        EXPECT_EQ(row.button->Glyph()->Width(), 16) << row.caption;
        EXPECT_EQ(row.button->Glyph()->Height(), 16) << row.caption;
        EXPECT_EQ(row.button->Enabled(), row.enabled) << row.caption;
        EXPECT_TRUE(row.button->Visible()) << row.caption;
        // Painted from the window's own skin engine, with the settings every button shares.
        EXPECT_EQ(row.button->SkinEngine(), engine) << row.caption;
        EXPECT_EQ(row.button->SkinObject(), "Button") << row.caption;
        EXPECT_TRUE(row.button->Skinned()) << row.caption;
        EXPECT_EQ(row.button->Performance(), wspDoubleBuffer) << row.caption;
        EXPECT_FALSE(row.button->Transparent()) << row.caption;
        EXPECT_EQ(row.button->State(), wbsNormal) << row.caption;
        EXPECT_FALSE(row.button->WordWrap()) << row.caption;
        EXPECT_TRUE(row.button->ShowCaption()) << row.caption;
        EXPECT_TRUE(row.button->ShowGlyph()) << row.caption;
        EXPECT_FALSE(row.button->BlackAndWhiteGlyph()) << row.caption;
        EXPECT_EQ(row.button->ModalResult(), mrNone) << row.caption;
    }
    EXPECT_EQ(engine->DeltaHue(), 0);
    EXPECT_EQ(engine->Version(), "3.4.7");
    EXPECT_EQ(engine->Source().Header.SkinName, "XP Blue");
    EXPECT_EQ(engine->Source().Bitmaps.size(), 59u);
    EXPECT_EQ(engine->Source().Objects.size(), 26u);
    EXPECT_EQ(form().Image1->Picture()->Width(), 50);
    EXPECT_EQ(form().Image2->Picture()->Width(), 70);
    EXPECT_EQ(form().Image3->Picture()->Height(), 70);
}

// The widest captions keep the clearance they have on Windows: glyph (16 pixels), spacing (4)
// and caption form one block centred in the button, the caption as wide as Tahoma 8 pt makes it
// on Windows ("Data Kopar" 54 pixels, "Log Kaydı" 46), neither condensed nor run into the frame.
TEST_F(ConsoleLayout, CaptionsKeepTheirWindowsClearance) {
    struct Row {
        TSkinButton* button;
        int textWidth;
    };
    for (const Row& row : {Row{form().DeattBTN, 54}, Row{form().LogBTN, 46}}) {
        TSkinButton* button = row.button;
        SCOPED_TRACE(button->Caption());
        const bool enabled = button->Enabled();
        button->SetEnabled(true); // black text on the normal face
        const QImage image = button->RenderImage();
        button->SetEnabled(enabled);
        const int captionLeft = (button->Width() - (16 + 4 + row.textWidth)) / 2 + 16 + 4;
        int first = -1, last = -1;
        for (int x = captionLeft - 2; x < image.width() - 3; ++x)
            for (int y = 3; y < image.height() - 3; ++y) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90) {
                    if (first < 0)
                        first = x;
                    last = x;
                    break;
                }
            }
        ASSERT_GE(first, 0);
        EXPECT_GE(first, captionLeft);
        EXPECT_LT(last, captionLeft + row.textWidth);
        EXPECT_GE(button->Width() - 1 - last, 4) << "clearance to the right edge";
        EXPECT_GE(last - first + 1, row.textWidth - 3) << "not condensed";
    }
}

} // namespace
} // namespace kv::e2e
