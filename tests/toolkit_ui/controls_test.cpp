// Controls: modal results, the event boundary, timers, the memo's lines, pictures, labels and
// the painted bevels.
#include "toolkit/DB.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"
#include "toolkit/ui/qt_graphics.h"
#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>

namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override { uitest::ensureApplication(); }
};

// A small login dialog: two edits, a combo, a default and a cancel button.
const char* const kDialogLayout = R"(object Dialog: TTestDialog
  BorderStyle = bsDialog
  BorderIcons = []
  Caption = 'Connect'
  ClientHeight = 175
  ClientWidth = 291
  Font.Height = -11
  Font.Name = 'Tahoma'
  Position = poScreenCenter
  object edUser: TEdit
    Left = 104
    Top = 16
    Width = 153
    Height = 21
    AutoSelect = False
    MaxLength = 32767
    TabOrder = 0
  end
  object edPassword: TEdit
    Left = 104
    Top = 50
    Width = 153
    Height = 21
    PasswordChar = '*'
    TabOrder = 1
  end
  object edServer: TComboBox
    Left = 104
    Top = 84
    Width = 153
    Height = 21
    DropDownCount = 10
    Items.Strings = (
      'ALPHA'
      'BETA')
    TabOrder = 2
  end
  object btOk: TButton
    Left = 52
    Top = 141
    Width = 89
    Height = 25
    Caption = 'Connect'
    Default = True
    TabOrder = 3
    OnClick = btOkClick
  end
  object btCancel: TButton
    Left = 148
    Top = 141
    Width = 89
    Height = 25
    Cancel = True
    Caption = 'Cancel'
    ModalResult = 2
    TabOrder = 4
  end
end
)";

class TTestDialog : public TForm {
public:
    explicit TTestDialog(TComponent* Owner) : TForm(Owner) {
        Handler("btOkClick", &TTestDialog::btOkClick);
        Bind(edUser, "edUser");
        Bind(edPassword, "edPassword");
        Bind(edServer, "edServer");
        Bind(btOk, "btOk");
        Bind(btCancel, "btCancel");
        LoadLayoutData(kDialogLayout);
    }
    std::string ClassName() const override { return "TTestDialog"; }
    void btOkClick(TObject*) {
        ++OkClicks;
        if (Accept)
            SetModalResult(mrOk);
    }
    TEdit* edUser = nullptr;
    TEdit* edPassword = nullptr;
    TComboBox* edServer = nullptr;
    TButton* btOk = nullptr;
    TButton* btCancel = nullptr;
    int OkClicks = 0;
    bool Accept = true;
};

// Runs Action on the dialog once its modal loop is running.
TModalResult runModal(TTestDialog& Dialog, std::function<void()> Action) {
    QTimer::singleShot(0, [&Dialog, Action] {
        if (!Dialog.Modal())
            return;
        Action();
    });
    return Dialog.ShowModal();
}

// The modal loop ends with the result that a button, the keyboard or the close box gives;
// a handler that sets no result leaves the dialog open.
TEST_F(ControlsTest, ModalResultEndsTheModalLoop) {
    TTestDialog dialog(nullptr);
    EXPECT_EQ(dialog.edPassword->PasswordChar(), '*');
    EXPECT_EQ(dialog.edPassword->Edit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.edServer->Items()->Count(), 2);
    EXPECT_EQ(dialog.edServer->Text(), ""); // items do not fill the edit text
    EXPECT_EQ(dialog.edServer->Combo()->maxVisibleItems(), 10);

    EXPECT_EQ(runModal(dialog, [&] { dialog.btOk->Button()->click(); }), mrOk);
    EXPECT_FALSE(dialog.Widget()->isVisible());
    EXPECT_EQ(runModal(dialog, [&] { dialog.btCancel->Click(); }), mrCancel);

    // Enter in an edit field clicks the default button; Esc clicks the cancel button.
    EXPECT_EQ(runModal(dialog,
                       [&] {
                           dialog.edUser->SetFocus();
                           QTest::keyClick(dialog.edUser->Edit(), Qt::Key_Return);
                       }),
              mrOk);
    EXPECT_EQ(runModal(dialog,
                       [&] {
                           dialog.edPassword->SetFocus();
                           QTest::keyClick(dialog.edPassword->Edit(), Qt::Key_Escape);
                       }),
              mrCancel);

    // The close box cancels.
    EXPECT_EQ(runModal(dialog, [&] { dialog.Widget()->close(); }), mrCancel);

    // A click whose handler sets nothing keeps the loop running until a result arrives.
    dialog.Accept = false;
    const int before = dialog.OkClicks;
    EXPECT_EQ(runModal(dialog,
                       [&] {
                           dialog.btOk->Click();
                           QTimer::singleShot(0, [&] { dialog.SetModalResult(mrAbort); });
                       }),
              mrAbort);
    EXPECT_EQ(dialog.OkClicks, before + 1);
}

// Exceptions that leave an event handler stop at the toolkit's boundary: the silent abort
// shows nothing, any other error reaches the error box with the application's title.
TEST_F(ControlsTest, HandlerExceptionsReachTheErrorBoxExceptTheSilentAbort) {
    uitest::MessageBoxRecorder boxes;
    TTestDialog dialog(nullptr);
    dialog.Show();
    dialog.btCancel->OnClick = [](TObject*) { Abort(); };
    dialog.btCancel->Button()->click();
    EXPECT_TRUE(boxes.Boxes.empty());

    dialog.btCancel->OnClick = [](TObject*) { throw EDatabaseError("Table not found"); };
    dialog.btCancel->Button()->click();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "Table not found.");
    EXPECT_EQ(boxes.Boxes[0].Type, mtError);
    EXPECT_EQ(boxes.Boxes[0].Caption, Application->Title());
    EXPECT_EQ(Application->Title(), "toolkit_ui_tests");

    // A message that already ends in a full stop keeps it; foreign exceptions are shown too.
    Application->HandleEvent(nullptr, [] { throw Exception("Cannot open file."); });
    Application->HandleEvent(nullptr, [] { throw std::runtime_error("bad thing"); });
    ASSERT_EQ(boxes.Boxes.size(), 3u);
    EXPECT_EQ(boxes.Boxes[1].Text, "Cannot open file.");
    EXPECT_EQ(boxes.Boxes[2].Text, "bad thing.");

    // From code, a click's exception reaches the caller.
    EXPECT_THROW(dialog.btCancel->Click(), EDatabaseError);

    // OnException replaces the box.
    std::string seen;
    Application->OnException = [&](TObject*, const std::exception& E) { seen = E.what(); };
    Application->HandleEvent(nullptr, [] { throw Exception("routed"); });
    Application->OnException = nullptr;
    EXPECT_EQ(seen, "routed");
    EXPECT_EQ(boxes.Boxes.size(), 3u);
}

// A timer ticks while enabled, through the same boundary, and a layout's timer waits until
// the layout is read.
TEST_F(ControlsTest, TimerFiresOnTimerWhileEnabled) {
    uitest::MessageBoxRecorder boxes;
    TTimer timer(nullptr);
    timer.SetInterval(5);
    int ticks = 0;
    timer.OnTimer = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &timer);
        if (++ticks == 2)
            timer.SetEnabled(false);
        throw Exception("tick failed");
    };
    EXPECT_TRUE(uitest::pumpUntil([&] { return ticks == 2; }));
    QTest::qWait(30);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(boxes.Boxes.size(), 2u);
}

// Lines and the editor are one text: changes through Lines show at once, typed text is in
// Lines at once, and typed text without a final line break still counts as a line.
TEST_F(ControlsTest, MemoLinesAndEditorStayInSync) {
    TMemoControl memo(nullptr);
    TStrings* lines = memo.Lines();
    QPlainTextEdit* editor = memo.Editor();
    EXPECT_EQ(lines->Count(), 0);
    lines->Add("first");
    lines->Add("");
    lines->Add("third");
    EXPECT_EQ(lines->Count(), 3);
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("first\n\nthird\n"));
    EXPECT_EQ(lines->Text(), "first\r\n\r\nthird\r\n");

    lines->Put(1, "second");
    lines->Insert(0, "zero");
    lines->Delete(3);
    EXPECT_EQ(lines->Text(), "zero\r\nfirst\r\nsecond\r\n");
    EXPECT_THROW(lines->Get(3), EStringListError);

    // Typing at the end adds a line; Enter and more typing add another.
    memo.Show();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, "typed");
    EXPECT_EQ(lines->Count(), 4);
    EXPECT_EQ(lines->Get(3), "typed");
    QTest::keyClick(editor, Qt::Key_Return);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("ş"));
    QApplication::sendEvent(editor, &press);
    EXPECT_EQ(lines->Count(), 5);
    EXPECT_EQ(lines->Get(4), "ş");
    // Appending after typed text keeps the typed line whole.
    lines->Add("after");
    EXPECT_EQ(lines->Text(), "zero\r\nfirst\r\nsecond\r\ntyped\r\nş\r\nafter\r\n");
    lines->Delete(5);
    lines->Delete(4);
    EXPECT_EQ(lines->Count(), 4);

    // SetText splits on any line break; Clear empties.
    lines->SetText("a\r\nb\nc");
    EXPECT_EQ(lines->Count(), 3);
    EXPECT_EQ(lines->Get(2), "c");
    memo.Clear();
    EXPECT_EQ(lines->Count(), 0);
    EXPECT_TRUE(editor->toPlainText().isEmpty());

    // Thousands of lines, each at once visible by index.
    lines->BeginUpdate();
    for (int i = 0; i < 5000; ++i)
        lines->Add("line " + std::to_string(i));
    lines->EndUpdate();
    EXPECT_EQ(lines->Count(), 5000);
    EXPECT_EQ(lines->Get(4321), "line 4321");
    EXPECT_EQ(editor->document()->blockCount(), 5001);

    // Scroll bars and saving.
    memo.SetScrollBars(ssBoth);
    EXPECT_EQ(editor->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(editor->lineWrapMode(), QPlainTextEdit::NoWrap);
    QTemporaryDir dir;
    const std::string file = QDir(dir.path()).filePath("log.txt").toStdString();
    lines->SetText("x\ny");
    memo.SaveToFile(file);
    QFile saved(QString::fromStdString(file));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("x\r\ny\r\n"));
}

// Image lists render picture N at the list's size into an image; pictures from layouts are
// looked up by name and an image of AutoSize takes its picture's size.
TEST_F(ControlsTest, ImageListCopiesPictureIntoImage) {
    uitest::pictureFolder();
    TImageList list(nullptr);
    list.SetWidth(70);
    list.SetHeight(70);
    list.Pictures()->SetText("red16.svg\nblue70.svg\ngreen8.png");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_THROW(list.Add("missing.svg"), EFilerError);

    TImage image(nullptr);
    image.SetBounds(5, 23, 70, 70);
    EXPECT_TRUE(list.GetBitmap(1, &image));
    EXPECT_EQ(image.Picture()->Name(), "blue70.svg");
    EXPECT_EQ(image.Picture()->Width(), 70);
    QImage pixels = image.Widget()->grab().toImage();
    EXPECT_EQ(pixels.pixelColor(35, 35), QColor(0, 0, 255));
    // A 16 x 16 vector picture is rendered at 70 x 70, not scaled up from pixels.
    EXPECT_TRUE(list.GetBitmap(0, &image));
    pixels = image.Widget()->grab().toImage();
    EXPECT_EQ(pixels.pixelColor(69, 69), QColor(255, 0, 0));
    EXPECT_FALSE(list.GetBitmap(3, &image));
    EXPECT_EQ(image.Picture()->Name(), "red16.svg");

    image.SetAutoSize(true);
    image.Picture()->SetName("green8.png");
    EXPECT_EQ(image.Width(), 8);
    EXPECT_EQ(image.Height(), 8);
    EXPECT_THROW(image.Picture()->SetName("nowhere.png"), EFilerError);
}

// An SVG's natural size is its width and height, else its view box; a size too large to draw
// (or a view box far off the origin) gives no natural size instead of an overflowing one.
TEST_F(ControlsTest, SvgNaturalSizeStaysWithinDrawableBounds) {
    const auto natural = [](const char* svg) {
        const auto data = kv::ui::PictureData::fromBytes(QByteArray(svg), "picture.svg");
        return data ? data->naturalSize() : QSize(-1, -1);
    };
    const char* rect = "><rect width='2' height='1' fill='red'/></svg>";
    const auto svg = [&](const char* attributes) {
        return std::string("<svg xmlns='http://www.w3.org/2000/svg' ") + attributes + rect;
    };
    EXPECT_EQ(natural(svg("width='16' height='12'").c_str()), QSize(16, 12));
    EXPECT_EQ(natural(svg("viewBox='0 0 20 10'").c_str()), QSize(20, 10));
    EXPECT_EQ(natural(svg("viewBox='100000000000000000000000000000000000 0 20 10'").c_str()),
              QSize(20, 10));
    EXPECT_EQ(natural(svg("viewBox='0 0 1000000000 10'").c_str()), QSize(0, 0));
    EXPECT_EQ(natural(svg("width='100000' height='10'").c_str()), QSize(0, 0));
}

// Right-justified auto-size labels keep their right edge; right-to-left reading mirrors the
// alignment; accelerator marks and line breaks are shown as the classic label shows them.
TEST_F(ControlsTest, LabelAutoSizeAlignmentAndReadingOrder) {
    TPanel panel(nullptr);
    TLabel label(nullptr);
    label.SetParent(&panel);
    label.Font()->SetName("Tahoma");
    label.Font()->SetHeight(-11);
    label.SetBounds(83, 56, 51, 13);
    label.SetAlignment(taRightJustify);
    label.SetCaption("Durumu :");
    EXPECT_EQ(label.Left() + label.Width(), 134);
    EXPECT_GT(label.Width(), 20);
    const int oneLine = label.Height();
    label.SetCaption("a\r\nb");
    EXPECT_EQ(label.Height(), 2 * oneLine);
    EXPECT_EQ(label.DisplayText(), "a\nb");
    label.SetCaption("");
    EXPECT_GT(label.Width(), 0); // an empty caption is as wide as a blank
    EXPECT_EQ(label.Height(), oneLine);

    label.SetCaption("&Save && go");
    EXPECT_EQ(label.DisplayText(), "Save & go");

    label.SetAlignment(taLeftJustify);
    label.SetBiDiMode(bdRightToLeft);
    EXPECT_EQ(label.EffectiveAlignment(), taRightJustify);
    label.SetBiDiMode(bdRightToLeftNoAlign);
    EXPECT_EQ(label.EffectiveAlignment(), taLeftJustify);

    // A label follows its parent's colour and font until it has its own.
    panel.SetColor(clWhite);
    EXPECT_EQ(label.Color(), clWhite);
    EXPECT_FALSE(label.ParentFont());
    label.SetParentFont(true);
    panel.Font()->SetStyle({fsBold});
    EXPECT_TRUE(label.Font()->Style().Contains(fsBold));
    EXPECT_TRUE(label.ParentFont());
}

// The bevel combinations of the layouts paint the classic highlight and shadow lines, and the
// system colours map to fixed classic values.
TEST_F(ControlsTest, PanelBevelsPaintClassicFrames) {
    using kv::ui::colorToQColor;
    EXPECT_EQ(colorToQColor(clBtnFace), QColor(0xD4, 0xD0, 0xC8));
    EXPECT_EQ(colorToQColor(clWindowText), QColor(0, 0, 0));
    EXPECT_EQ(colorToQColor(RGBColor(4, 135, 23)), QColor(4, 135, 23));
    EXPECT_EQ(colorToQColor(clGray), QColor(128, 128, 128));

    const QColor shadow(128, 128, 128), highlight(255, 255, 255);
    TPanel panel(nullptr);
    panel.SetBounds(0, 0, 40, 20);
    panel.SetBevelOuter(bvLowered);
    panel.SetBevelInner(bvRaised);
    QImage pixels = panel.Widget()->grab().toImage();
    EXPECT_EQ(pixels.pixelColor(0, 0), shadow);      // outer lowered: dark top-left
    EXPECT_EQ(pixels.pixelColor(39, 19), highlight); // ... light bottom-right
    EXPECT_EQ(pixels.pixelColor(39, 0), highlight);  // the top-right corner is bottom-right's
    EXPECT_EQ(pixels.pixelColor(1, 1), highlight);   // inner raised: light top-left
    EXPECT_EQ(pixels.pixelColor(38, 18), shadow);
    EXPECT_EQ(pixels.pixelColor(10, 10), QColor(0xD4, 0xD0, 0xC8));

    panel.SetBevelInner(bvNone);
    panel.SetBevelOuter(bvNone);
    panel.SetColor(RGBColor(4, 135, 23));
    pixels = panel.Widget()->grab().toImage();
    EXPECT_EQ(pixels.pixelColor(0, 0), QColor(4, 135, 23));
}

} // namespace

namespace {

// A shown form puts the focus on its ActiveControl, else on the first control in tab order;
// Tab follows TabOrder.
TEST_F(ControlsTest, ShownFormFocusesByTabOrder) {
    {
        TTestDialog dialog(nullptr);
        dialog.Show();
        EXPECT_TRUE(uitest::pumpUntil([&] { return dialog.edUser->Focused(); }));
        QTest::keyClick(dialog.edUser->Edit(), Qt::Key_Tab);
        EXPECT_TRUE(dialog.edPassword->Focused());
        dialog.Hide();
    }
    TTestDialog dialog(nullptr);
    dialog.SetActiveControl(dialog.edPassword);
    dialog.Show();
    EXPECT_TRUE(uitest::pumpUntil([&] { return dialog.edPassword->Focused(); }));
    EXPECT_EQ(dialog.ActiveControl(), dialog.edPassword);
    delete dialog.edPassword;
    EXPECT_EQ(dialog.ActiveControl(), nullptr);
}

} // namespace

// A log written line by line shows its newest line: each added line scrolls into view.
TEST_F(ControlsTest, MemoAddScrollsToTheNewestLine) {
    TMemoControl memo(nullptr);
    memo.SetBounds(0, 0, 289, 120);
    memo.SetScrollBars(ssBoth);
    memo.Show();
    QPlainTextEdit* editor = memo.Editor();
    for (int i = 0; i < 100; ++i) {
        memo.Lines()->Add("line " + std::to_string(i));
        QApplication::processEvents();
    }
    EXPECT_GT(editor->verticalScrollBar()->maximum(), 0);
    const QTextCursor newest(editor->document()->findBlockByNumber(99));
    EXPECT_EQ(newest.block().text(), QStringLiteral("line 99"));
    EXPECT_TRUE(editor->viewport()->rect().contains(editor->cursorRect(newest)));
}

// Every face the layouts name gives a baseline inside an 11-pixel label's 13-pixel line, also a
// face that Qt renders from bitmap strikes (Wine's MS Sans Serif), whose grid is not the
// strike's size.
TEST_F(ControlsTest, ClassicMetricsKeepTheBaselineInsideTheLine) {
    for (const char* face : {"Tahoma", "MS Sans Serif", "Courier New"}) {
        SCOPED_TRACE(face);
        const QFont font = kv::ui::makeQFont(face, -11, false, false, false, false);
        const kv::ui::ClassicMetrics m = kv::ui::classicMetrics(font);
        EXPECT_GT(m.Ascent, 0);
        EXPECT_LE(m.Ascent, 13);
        EXPECT_LE(m.Height(), 2 * QFontMetrics(font).height());
    }
}

namespace {

bool haveTahoma() {
    return QFontDatabase::families().contains(QStringLiteral("Tahoma"));
}

// A label as it paints itself.
QImage painted(TLabel& Label) {
    return Label.Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

// Auto-size labels are as wide as Windows makes them: Tahoma 8 pt (11 pixels) advances each
// glyph by its design width rounded to a whole pixel. The bold rows are the main window's
// labels, whose widths in its layout (44, 54, 51) are what Windows measured; the regular rows
// are the captions of its widest buttons.
TEST_F(ControlsTest, AutoSizeLabelsTakeWindowsTahomaWidths) {
    if (!haveTahoma())
        GTEST_SKIP() << "fonts-wine's Tahoma is not installed";
    struct Row {
        const char* Text;
        bool Bold;
        int Width;
    };
    for (const Row& row : {Row{"Server :", true, 44}, Row{"Services :", true, 54},
                           Row{"Durumu :", true, 51}, Row{"Data Kopar", false, 54},
                           Row{"Log Kaydı", false, 46}, Row{"Data Bağla", false, 53}}) {
        SCOPED_TRACE(row.Text);
        TLabel label(nullptr);
        label.Font()->SetName("Tahoma");
        label.Font()->SetHeight(-11);
        label.Font()->SetStyle(row.Bold ? TFontStyles{fsBold} : TFontStyles{});
        label.SetCaption(row.Text);
        EXPECT_EQ(label.Width(), row.Width);
        EXPECT_EQ(label.Height(), 13);
        EXPECT_EQ(kv::ui::classicTextWidth(label.Widget()->font(), QString::fromUtf8(row.Text)),
                  row.Width);
    }
}

// Windows reads right to left only with a Hebrew or Arabic font (DT_RTLREADING): the main
// window's "Services :" (bdRightToLeft, a Latin font) reads "Services :", painted exactly as a
// right-justified left-to-right label; the alignment is still mirrored.
TEST_F(ControlsTest, RightToLeftReadingOnlyWithAHebrewOrArabicFont) {
    auto make = [](TLabel& Label, TBiDiMode Mode, TAlignment Alignment, TFontCharset Charset) {
        Label.SetAutoSize(false);
        Label.SetBounds(0, 0, 80, 13);
        Label.Font()->SetName("Tahoma");
        Label.Font()->SetHeight(-11);
        Label.Font()->SetStyle({fsBold});
        Label.Font()->SetCharset(Charset);
        Label.SetAlignment(Alignment);
        Label.SetBiDiMode(Mode);
        Label.SetCaption("Services :");
    };
    TLabel rtl(nullptr), ltr(nullptr), hebrew(nullptr);
    make(rtl, bdRightToLeft, taLeftJustify, DEFAULT_CHARSET);
    make(ltr, bdLeftToRight, taRightJustify, DEFAULT_CHARSET);
    make(hebrew, bdRightToLeft, taLeftJustify, HEBREW_CHARSET);
    EXPECT_EQ(rtl.EffectiveAlignment(), taRightJustify);
    EXPECT_FALSE(rtl.ReadsRightToLeft());
    EXPECT_TRUE(hebrew.ReadsRightToLeft());
    const QImage expected = painted(ltr);
    EXPECT_TRUE(painted(rtl) == expected) << "the colon must end the text, as on Windows";
    EXPECT_FALSE(painted(hebrew) == expected) << "a Hebrew font reads right to left";
}

// The server list as the classic drop-down list box shows it: rows one classic line high (13
// pixels for Tahoma 8 pt), the first row whole inside the list's viewport, and the row that
// begins with the typed text (ignoring case) highlighted and current; nothing when none does.
TEST_F(ControlsTest, DropDownListRowsAndTheHighlightedRow) {
    if (!haveTahoma())
        GTEST_SKIP() << "fonts-wine's Tahoma is not installed";
    TTestDialog dialog(nullptr);
    dialog.Show();
    auto* combo = qobject_cast<QComboBox*>(dialog.edServer->Widget());
    ASSERT_NE(combo, nullptr);
    QAbstractItemView* view = combo->view();
    auto open = [&](const char* Typed) {
        combo->hidePopup();
        dialog.edServer->SetText(Typed);
        combo->showPopup();
        QApplication::processEvents();
    };

    open("beta");
    const QRect first = view->visualRect(view->model()->index(0, 0));
    EXPECT_EQ(first.height(), 13);
    EXPECT_EQ(view->visualRect(view->model()->index(1, 0)).top(), first.bottom() + 1);
    EXPECT_GE(first.top(), 0);
    EXPECT_TRUE(view->viewport()->rect().contains(first)) << "the first row is not cut";
    const QRect viewportInPopup(view->viewport()->mapTo(view->window(), QPoint(0, 0)),
                                view->viewport()->size());
    EXPECT_TRUE(view->window()->rect().contains(viewportInPopup));
    EXPECT_EQ(view->currentIndex().row(), 1);
    EXPECT_TRUE(view->selectionModel()->isSelected(view->currentIndex()));
    EXPECT_EQ(dialog.edServer->Text(), "beta") << "opening the list leaves the typed text";

    open("AL");
    EXPECT_EQ(view->currentIndex().row(), 0);
    open("GAMMA");
    EXPECT_FALSE(view->currentIndex().isValid());
    EXPECT_FALSE(view->selectionModel()->hasSelection());
    open("");
    EXPECT_FALSE(view->selectionModel()->hasSelection());
    combo->hidePopup();
}
