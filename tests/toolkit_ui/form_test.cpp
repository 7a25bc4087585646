// Forms read from layouts: the widgets they produce, alignment, handlers and field binding.
#include "toolkit/Filer.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"
#include "ui_test_support.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A cut-down main window: banner, one status panel with a title bar, a button bar and a
// status bar at the bottom, a hidden memo placed outside the client area.
const char* const kMainLayout = R"(object TestMain: TTestMainForm
  Left = 192
  Top = 152
  BorderIcons = [biSystemMenu]
  BorderStyle = bsSingle
  Caption = 'Data '#304#351'lemleri'
  ClientHeight = 424
  ClientWidth = 290
  Color = clBtnFace
  Font.Charset = TURKISH_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'Tahoma'
  Font.Style = []
  OnCreate = FormCreate
  PixelsPerInch = 96
  TextHeight = 13
  object Banner: TPanel
    Left = 0
    Top = 0
    Width = 290
    Height = 60
    Align = alTop
    BevelOuter = bvLowered
    Color = clWhite
    TabOrder = 0
    object Title: TLabel
      Left = 87
      Top = 11
      Width = 159
      Height = 38
      Alignment = taCenter
      AutoSize = False
      Caption = 'Kelvora Database '#13#10'Onarma Sistemi'
      Font.Charset = TURKISH_CHARSET
      Font.Color = clGreen
      Font.Height = -16
      Font.Name = 'Tahoma'
      Font.Style = [fsBold]
      ParentFont = False
      Transparent = True
    end
  end
  object Status: TPanel
    Left = 0
    Top = 60
    Width = 290
    Height = 102
    Align = alTop
    BevelInner = bvRaised
    BevelOuter = bvLowered
    TabOrder = 1
    object StatusTitle: TPanel
      Left = 2
      Top = 2
      Width = 286
      Height = 16
      Align = alTop
      BevelOuter = bvNone
      Caption = 'MS-SQL Server'
      Color = 1541892
      Font.Charset = TURKISH_CHARSET
      Font.Color = clWhite
      Font.Height = -11
      Font.Name = 'Tahoma'
      Font.Style = [fsBold]
      ParentFont = False
      TabOrder = 0
    end
    object StateLabel: TLabel
      Left = 83
      Top = 56
      Width = 51
      Height = 13
      Alignment = taRightJustify
      Caption = 'Durumu :'
      Font.Charset = TURKISH_CHARSET
      Font.Color = clGreen
      Font.Height = -11
      Font.Name = 'Tahoma'
      Font.Style = [fsBold]
      ParentFont = False
    end
    object StartBtn: TButton
      Left = 136
      Top = 72
      Width = 65
      Height = 25
      Caption = 'Ba'#351'lat'
      Enabled = False
      TabOrder = 1
      OnClick = StartBtnClick
    end
  end
  object Log: TMemoControl
    Left = 296
    Top = 62
    Width = 289
    Height = 310
    Lines.Strings = (
      'Memo1')
    ScrollBars = ssBoth
    TabOrder = 2
    Visible = False
  end
  object Buttons: TPanel
    Left = 0
    Top = 372
    Width = 290
    Height = 33
    Align = alBottom
    BevelInner = bvRaised
    BevelOuter = bvLowered
    TabOrder = 3
    object CloseBtn: TButton
      Left = 220
      Top = 4
      Width = 65
      Height = 25
      Caption = 'Kapat'
      TabOrder = 0
      OnClick = CloseBtnClick
    end
  end
  object Bar: TStatusBar
    Left = 0
    Top = 405
    Width = 290
    Height = 19
    Panels = <>
  end
  object Ticker: TTimer
    Enabled = False
    Interval = 200
  end
end
)";

class TTestMainForm : public TForm {
public:
    explicit TTestMainForm(TComponent* Owner, const char* Layout = kMainLayout) : TForm(Owner) {
        Handler("FormCreate", &TTestMainForm::FormCreate);
        Handler("StartBtnClick", &TTestMainForm::StartBtnClick);
        Handler("CloseBtnClick", &TTestMainForm::CloseBtnClick);
        Bind(Banner, "Banner");
        Bind(Title, "Title");
        Bind(Status, "Status");
        Bind(StatusTitle, "StatusTitle");
        Bind(StateLabel, "StateLabel");
        Bind(StartBtn, "StartBtn");
        Bind(Log, "Log");
        Bind(Buttons, "Buttons");
        Bind(CloseBtn, "CloseBtn");
        Bind(Bar, "Bar");
        Bind(Ticker, "Ticker");
        LoadLayoutData(Layout);
    }
    std::string ClassName() const override { return "TTestMainForm"; }

    void FormCreate(TObject*) { ++Created; }
    void StartBtnClick(TObject* Sender) { Clicks.push_back(Sender); }
    void CloseBtnClick(TObject* Sender) { Clicks.push_back(Sender); }

    TPanel* Banner = nullptr;
    TLabel* Title = nullptr;
    TPanel* Status = nullptr;
    TPanel* StatusTitle = nullptr;
    TLabel* StateLabel = nullptr;
    TButton* StartBtn = nullptr;
    TMemoControl* Log = nullptr;
    TPanel* Buttons = nullptr;
    TButton* CloseBtn = nullptr;
    TStatusBar* Bar = nullptr;
    TTimer* Ticker = nullptr;
    int Created = 0;
    std::vector<TObject*> Clicks;
};

QRect geometry(const TControl* c) {
    return c->Widget()->geometry();
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override { uitest::ensureApplication(); }
};

// The layout's root clause sets the window; nested clauses become child widgets in place.
TEST_F(FormTest, LayoutBuildsTheWindowAndItsControls) {
    TTestMainForm form(nullptr);
    EXPECT_EQ(form.Created, 1);
    QWidget* window = form.Widget();
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Data İşlemleri"));
    EXPECT_EQ(form.ClientWidth(), 290);
    EXPECT_EQ(form.ClientHeight(), 424);
    EXPECT_EQ(window->size(), QSize(290, 424));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // fixed single border
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.Left(), 192);
    EXPECT_EQ(form.Top(), 152);

    EXPECT_EQ(geometry(form.Banner), QRect(0, 0, 290, 60));
    EXPECT_EQ(form.Banner->Widget()->parentWidget(), window);
    EXPECT_EQ(form.Title->Widget()->parentWidget(), form.Banner->Widget());
    EXPECT_EQ(geometry(form.Title), QRect(87, 11, 159, 38));
    EXPECT_EQ(form.Title->Caption(), "Kelvora Database \r\nOnarma Sistemi");
    EXPECT_EQ(form.Title->DisplayText(), "Kelvora Database \nOnarma Sistemi");

    // Fonts: Tahoma by pixel height, bold where the layout says so, colours from the font.
    const QFont titleFont = form.Title->Widget()->font();
    EXPECT_EQ(titleFont.pixelSize(), 16);
    EXPECT_TRUE(titleFont.bold());
    EXPECT_EQ(titleFont.family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(form.Title->Font()->Color(), clGreen);
    EXPECT_EQ(form.StateLabel->Widget()->font().pixelSize(), 11);
    EXPECT_EQ(form.CloseBtn->Widget()->font().pixelSize(), 11); // inherited from the form
    EXPECT_FALSE(form.CloseBtn->Widget()->font().bold());
    EXPECT_TRUE(form.CloseBtn->ParentFont());

    EXPECT_EQ(form.StatusTitle->Color(), RGBColor(4, 135, 23));
    EXPECT_EQ(form.StatusTitle->Caption(), "MS-SQL Server");
    EXPECT_EQ(form.Banner->Color(), clWhite);
    EXPECT_EQ(form.Status->Color(), clBtnFace);

    EXPECT_EQ(form.StartBtn->Caption(), "Başlat");
    EXPECT_EQ(form.StartBtn->Button()->text(), QString::fromUtf8("Başlat"));
    EXPECT_FALSE(form.StartBtn->Enabled());
    EXPECT_FALSE(form.StartBtn->Widget()->isEnabled());
    EXPECT_TRUE(form.CloseBtn->Widget()->isEnabled());

    EXPECT_FALSE(form.Log->Visible());
    EXPECT_FALSE(form.Log->Widget()->isVisibleTo(window));
    EXPECT_EQ(geometry(form.Log), QRect(296, 62, 289, 310));
    EXPECT_EQ(form.Log->Lines()->Count(), 1);
    EXPECT_EQ(form.Log->Lines()->Get(0), "Memo1");

    EXPECT_FALSE(form.Ticker->Enabled());
    EXPECT_EQ(form.Ticker->Interval(), 200);
    EXPECT_EQ(form.Ticker->Owner(), &form);
}

// Top-aligned panels stack from the top in layout order, bottom-aligned ones from the bottom
// (the lowest first), and a panel's bevels narrow the area its own aligned children share.
TEST_F(FormTest, AlignmentStacksLikeTheClassicToolkit) {
    TTestMainForm form(nullptr);
    EXPECT_EQ(geometry(form.Banner), QRect(0, 0, 290, 60));
    EXPECT_EQ(geometry(form.Status), QRect(0, 60, 290, 102));
    EXPECT_EQ(geometry(form.StatusTitle), QRect(2, 2, 286, 16));
    EXPECT_EQ(geometry(form.Bar), QRect(0, 405, 290, 19));
    EXPECT_EQ(geometry(form.Buttons), QRect(0, 372, 290, 33));

    // Hiding an aligned control closes the gap; showing it restores the order.
    form.Banner->Hide();
    EXPECT_EQ(geometry(form.Status), QRect(0, 0, 290, 102));
    form.Banner->Show();
    EXPECT_EQ(geometry(form.Banner), QRect(0, 0, 290, 60));
    EXPECT_EQ(geometry(form.Status), QRect(0, 60, 290, 102));

    // A bigger window keeps top panels at the top and moves bottom ones down.
    form.SetClientHeight(500);
    EXPECT_EQ(geometry(form.Bar), QRect(0, 481, 290, 19));
    EXPECT_EQ(geometry(form.Buttons), QRect(0, 448, 290, 33));
    EXPECT_EQ(geometry(form.Status), QRect(0, 60, 290, 102));

    // alClient takes what is left between them.
    form.Status->SetAlign(alClient);
    EXPECT_EQ(geometry(form.Status), QRect(0, 60, 290, 448 - 60));
}

// Handlers named in the layout run for user clicks and for clicks from code, whatever state
// the button is in; a click from code first copies the button's modal result to the form.
TEST_F(FormTest, ClickFromCodeRunsTheHandlerInEveryState) {
    TTestMainForm form(nullptr);
    form.StartBtn->Click(); // disabled in the layout
    form.StartBtn->Hide();
    form.StartBtn->Click();
    form.StartBtn->SetEnabled(true);
    form.StartBtn->Show();
    form.StartBtn->Click();
    ASSERT_EQ(form.Clicks.size(), 3u);
    EXPECT_EQ(form.Clicks[0], form.StartBtn);

    form.SetModalResult(mrRetry);
    form.CloseBtn->Click(); // no modal result of its own: copies mrNone
    EXPECT_EQ(form.ModalResult(), mrNone);
    form.CloseBtn->SetModalResult(mrOk);
    form.CloseBtn->Click();
    EXPECT_EQ(form.ModalResult(), mrOk);
    EXPECT_EQ(form.Clicks.size(), 5u);

    // A user's click reaches the same handler through Qt.
    form.Show();
    form.CloseBtn->Button()->click();
    EXPECT_EQ(form.Clicks.size(), 6u);
    EXPECT_EQ(form.Clicks.back(), form.CloseBtn);
}

// A field is reset when its component goes away; layouts that lack a bound component or give
// it another class are rejected with the component's name.
TEST_F(FormTest, BoundFieldsFollowTheirComponents) {
    TTestMainForm form(nullptr);
    delete form.Title;
    EXPECT_EQ(form.Title, nullptr);
    delete form.Ticker;
    EXPECT_EQ(form.Ticker, nullptr);

    class TWrongForm : public TForm {
    public:
        explicit TWrongForm(TComponent* Owner) : TForm(Owner) {
            Bind(Field, "Label1");
            LoadLayoutData("object WrongForm: TWrongForm\n"
                           "  object Label1: TPanel\n  end\nend\n");
        }
        std::string ClassName() const override { return "TWrongForm"; }
        TLabel* Field = nullptr;
    };
    try {
        TWrongForm wrong(nullptr);
        FAIL() << "a panel was bound to a label field";
    } catch (const EComponentError& e) {
        EXPECT_NE(std::string(e.Message()).find("Label1"), std::string::npos) << e.Message();
    }
}

// A handler the form does not declare is an error of the layout, not a silent no-op.
TEST_F(FormTest, UnknownHandlerOrClassFailsTheRead) {
    class TPlainForm : public TForm {
    public:
        explicit TPlainForm(TComponent* Owner, const char* Layout) : TForm(Owner) {
            LoadLayoutData(Layout);
        }
        std::string ClassName() const override { return "TPlainForm"; }
    };
    EXPECT_THROW(TPlainForm(nullptr, "object F: TPlainForm\n  object B: TButton\n"
                                     "    OnClick = NoSuchHandler\n  end\nend\n"),
                 EReadError);
    EXPECT_THROW(TPlainForm(nullptr, "object F: TPlainForm\n  object B: TNoSuchControl\n"
                                     "  end\nend\n"),
                 EFilerError);
}

} // namespace

namespace {

class TSmallForm : public TForm {
public:
    explicit TSmallForm(TComponent* Owner) : TForm(Owner) {
        Handler("SmallDestroy", &TSmallForm::SmallDestroy);
    }
    std::string ClassName() const override { return "TSmallForm"; }
    void SmallDestroy(TObject*) { ++*Destroyed; }
    int* Destroyed = nullptr;
};

// A layout found by name in a search folder reads like one given as text, and what the writer
// makes of the form reads back to the same controls.
TEST_F(FormTest, LayoutFileByNameAndWrittenFormReadBack) {
    QTemporaryDir dir;
    QFile file(QDir(dir.path()).filePath("Small.layout"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("object Small: TSmallForm\n"
               "  Caption = 'Small'\n  ClientHeight = 100\n  ClientWidth = 200\n"
               "  Font.Height = -11\n  Font.Name = 'Tahoma'\n"
               "  object P: TPanel\n    Left = 0\n    Top = 0\n    Width = 200\n"
               "    Height = 40\n    Align = alTop\n    BevelOuter = bvLowered\n"
               "    Caption = 'Title'\n    Color = clWhite\n"
               "    object L: TLabel\n      Left = 8\n      Top = 4\n      Caption = 'Hello'\n"
               "      Font.Color = clRed\n      Font.Style = [fsBold]\n      ParentFont = False\n"
               "    end\n  end\n  object E: TEdit\n    Left = 8\n    Top = 60\n"
               "    PasswordChar = '*'\n    TabOrder = 1\n  end\nend\n");
    file.close();
    TForm::AddLayoutSearchPath(dir.path().toStdString());
    EXPECT_THROW(ReadLayoutFile("NoSuchLayout"), EFilerError);

    TSmallForm first(nullptr);
    first.LoadLayout("Small");
    const std::string text = WriteComponentText(&first);

    TSmallForm second(nullptr);
    second.LoadLayoutData(text);
    for (TSmallForm* form : {&first, &second}) {
        SCOPED_TRACE(form == &first ? "from the file" : "written and read back");
        EXPECT_EQ(form->Caption(), "Small");
        EXPECT_EQ(form->ClientWidth(), 200);
        EXPECT_EQ(form->Font()->Name(), "Tahoma");
        auto* panel = dynamic_cast<TPanel*>(form->FindComponent("P"));
        auto* label = dynamic_cast<TLabel*>(form->FindComponent("L"));
        auto* edit = dynamic_cast<TEdit*>(form->FindComponent("E"));
        ASSERT_TRUE(panel && label && edit);
        EXPECT_EQ(label->Parent(), panel);
        EXPECT_EQ(panel->BevelOuter(), bvLowered);
        EXPECT_EQ(panel->Color(), clWhite);
        EXPECT_EQ(label->Color(), clWhite); // follows its parent
        EXPECT_TRUE(label->ParentColor());
        EXPECT_EQ(label->Font()->Color(), clRed);
        EXPECT_TRUE(label->Font()->Style().Contains(fsBold));
        EXPECT_EQ(label->Font()->Name(), "Tahoma");
        EXPECT_EQ(edit->PasswordChar(), '*');
        EXPECT_EQ(edit->Font()->Name(), "Tahoma");
        EXPECT_TRUE(edit->ParentFont());
    }
}

// Run() shows the main form, returns once it closes, and destroys the application's forms
// after their OnDestroy.
TEST_F(FormTest, RunEndsWhenTheMainFormCloses) {
    int destroyed = 0;
    TSmallForm* form = Application->CreateForm<TSmallForm>();
    form->Destroyed = &destroyed;
    form->LoadLayoutData("object Small: TSmallForm\n  OnDestroy = SmallDestroy\nend\n");
    Application->SetMainForm(form);
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = form->Widget()->isVisible();
        form->Close();
    });
    Application->Run();
    EXPECT_TRUE(shown);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(Application->ComponentCount(), 0);
    EXPECT_EQ(Application->MainForm(), nullptr);
}

} // namespace
