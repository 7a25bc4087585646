#include "skin/SkinButton.h"

#include "skin/SkinGlyph.h"
#include "skin/SkinRegistration.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinPaint.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/SysUtils.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/StdCtrls.h"
#include "toolkit/ui/qt_graphics.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

namespace {

const TEnumInfo ButtonStateInfo{"TSkinButtonState", {"wbsNormal", "wbsPressed"}};
const TEnumInfo ButtonKindInfo{"TSkinButtonKind",
                               {"bkCustom", "bkOK", "bkCancel", "bkHelp", "bkYes", "bkNo",
                                "bkClose", "bkAbort", "bkRetry", "bkIgnore", "bkAll"}};
const TEnumInfo ButtonLayoutInfo{"TSkinButtonLayout",
                                 {"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"}};

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TSkinCustomButton>("TSkinCustomButton", "TSkinCustomControl")
        .Component("Action", &TSkinCustomButton::Action, &TSkinCustomButton::SetAction)
        .Set("Anchors", &kv::toolkit::AnchorKindInfo, &TSkinCustomButton::Anchors,
             &TSkinCustomButton::SetAnchors)
        .Default(TAnchors{akLeft, akTop})
        .Bool("ActiveDefault", &TSkinCustomButton::ActiveDefault,
              &TSkinCustomButton::SetActiveDefault)
        .Default(false)
        .Bool("BlackAndWhiteGlyph", &TSkinCustomButton::BlackAndWhiteGlyph,
              &TSkinCustomButton::SetBlackAndWhiteGlyph)
        .Default(false)
        .Bool("Cancel", &TSkinCustomButton::Cancel, &TSkinCustomButton::SetCancel)
        .Default(false)
        .String("Caption", &TSkinCustomButton::Caption, &TSkinCustomButton::SetCaption)
        .Bool("Default", &TSkinCustomButton::Default, &TSkinCustomButton::SetDefault)
        .Default(false)
        .Enum("Kind", &ButtonKindInfo, &TSkinCustomButton::Kind, &TSkinCustomButton::SetKind)
        .Default(bkCustom)
        .Integer("ModalResult", &TSkinCustomButton::ModalResult, &TSkinCustomButton::SetModalResult)
        .Idents(ModalResultIdents())
        .Default(mrNone)
        .Integer("NumGlyphs", &TSkinCustomButton::NumGlyphs, &TSkinCustomButton::SetNumGlyphs)
        .Default(1)
        .Integer("Spacing", &TSkinCustomButton::Spacing, &TSkinCustomButton::SetSpacing)
        .Default(4)
        .Enum("State", &ButtonStateInfo, &TSkinCustomButton::State, &TSkinCustomButton::SetState)
        .Default(wbsNormal)
        .Object("Glyph", &TSkinCustomButton::Glyph)
        .Enum("Layout", &ButtonLayoutInfo, &TSkinCustomButton::Layout,
              &TSkinCustomButton::SetLayout)
        .Default(blGlyphLeft)
        .Bool("ParentShowHint", &TSkinCustomButton::ParentShowHint,
              &TSkinCustomButton::SetParentShowHint)
        .Default(true)
        .Bool("WordWrap", &TSkinCustomButton::WordWrap, &TSkinCustomButton::SetWordWrap)
        .Default(false)
        .Bool("Transparent", &TSkinCustomButton::Transparent, &TSkinCustomButton::SetTransparent)
        .Default(false);
    ClassBuilder<TSkinButton>("TSkinButton", "TSkinCustomButton")
        .Bool("ShowCaption", &TSkinButton::ShowCaption, &TSkinButton::SetShowCaption)
        .Default(true)
        .Bool("ShowGlyph", &TSkinButton::ShowGlyph, &TSkinButton::SetShowGlyph)
        .Default(true)
        .Component("SkinEngine", &TSkinButton::SkinEngine, &TSkinButton::SetSkinEngine)
        .String("SkinObject", &TSkinButton::SkinObject, &TSkinButton::SetSkinObject)
        .Default("Button")
        .String("Version", &TSkinButton::Version, &TSkinButton::SetVersion)
        .NotStored();
    return true;
}();

struct KindPreset {
    const char* Caption;
    TModalResult Result;
};
const KindPreset kKinds[] = {{"", mrNone},          {"OK", mrOk},       {"Cancel", mrCancel},
                             {"&Help", mrNone},     {"&Yes", mrYes},    {"&No", mrNo},
                             {"&Close", mrNone},    {"Abort", mrAbort}, {"&Retry", mrRetry},
                             {"&Ignore", mrIgnore}, {"&All", mrAll}};

// The caption as shown: "&&" is an ampersand, a single "&" marks the accelerator.
QString displayCaption(const std::string& Caption) {
    return kv::ui::stripAccelerator(QString::fromStdString(Caption));
}

QFont qfontOf(const TFont& F) {
    return kv::ui::makeQFont(F.Name(), F.Height(), F.Style().Contains(fsBold),
                             F.Style().Contains(fsItalic), F.Style().Contains(fsUnderline),
                             F.Style().Contains(fsStrikeOut));
}

bool isPushButtonWidget(QWidget* W) {
    if (W == nullptr)
        return false;
    if (qobject_cast<QPushButton*>(W) != nullptr)
        return true;
    auto* skin = dynamic_cast<kv::skin::internal::SkinWidget*>(W);
    return skin != nullptr && dynamic_cast<TSkinCustomButton*>(skin->host()) != nullptr;
}

} // namespace

// Enter, Esc and accelerator keys that reach the button's window unhandled.
class SkinButtonKeys : public QObject {
public:
    SkinButtonKeys(TSkinCustomButton* Button, QObject* Parent) : QObject(Parent), FButton(Button) {}
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() != QEvent::KeyPress || FButton == nullptr)
            return false;
        auto* key = static_cast<QKeyEvent*>(Event);
        bool handled = false;
        Application->HandleEvent(FButton, [&] {
            handled = FButton->windowKey(key->key(), key->modifiers(), key->text());
        });
        (void)Watched;
        return handled;
    }
    TSkinCustomButton* FButton;
};

// ----- TSkinCustomButton -----------------------------------------------------------------------

TSkinCustomButton::TSkinCustomButton(TComponent* AOwner)
    : TSkinCustomControl(AOwner), FGlyph(std::make_unique<TPicture>()) {
    (void)registered;
    SkinWidget()->setFocusPolicy(Qt::StrongFocus);
    SetColor(clBtnFace);
    SetTabStop(true);
    SetBounds(0, 0, 75, 25);
    FGlyph->OnChange = [this](TObject*) { glyphChanged(); };
    QObject::connect(qApp, &QApplication::focusChanged, SkinWidget(),
                     [this](QWidget*, QWidget* now) { focusMoved(now); });
}

TSkinCustomButton::~TSkinCustomButton() {
    if (FWindowFilter != nullptr)
        static_cast<SkinButtonKeys*>(FWindowFilter)->FButton = nullptr;
    QObject::disconnect(qApp, &QApplication::focusChanged, SkinWidget(), nullptr);
}

void TSkinCustomButton::watchWindow() {
    if (FWindowFilter != nullptr)
        return;
    QWidget* window = SkinWidget()->window();
    if (window == SkinWidget())
        return;
    FWindowFilter = new SkinButtonKeys(this, SkinWidget());
    window->installEventFilter(FWindowFilter);
}

void TSkinCustomButton::Loaded() {
    TSkinCustomControl::Loaded();
    Invalidate();
}

void TSkinCustomButton::TextChanged() {
    if (ComponentState().Contains(csReading))
        FCaptionFromStream = true;
    Invalidate();
}

void TSkinCustomButton::SetActiveDefault(bool Value) {
    if (FActiveDefault == Value)
        return;
    FActiveDefault = Value;
    Invalidate();
}

void TSkinCustomButton::SetBlackAndWhiteGlyph(bool Value) {
    if (FBlackAndWhiteGlyph == Value)
        return;
    FBlackAndWhiteGlyph = Value;
    Invalidate();
}

void TSkinCustomButton::SetDefault(bool Value) {
    FDefault = Value;
    focusMoved(QApplication::focusWidget());
    if (QApplication::focusWidget() == nullptr)
        SetActiveDefault(Value);
    Invalidate();
}

void TSkinCustomButton::focusMoved(QWidget* Now) {
    if (Now != nullptr && Now->window() != SkinWidget()->window())
        return;
    SetActiveDefault(isPushButtonWidget(Now) ? false : FDefault);
}

void TSkinCustomButton::SetKind(TSkinButtonKind Value) {
    FKind = Value;
    if (Value == bkCustom || Value > bkAll)
        return;
    const KindPreset& preset = kKinds[Value];
    SetDefault(Value == bkOK || Value == bkYes);
    if (!FCaptionFromStream)
        SetCaption(preset.Caption);
    FModalResult = preset.Result;
    FGlyph->SetGraphic(kv::ui::PictureData::fromPixmap(
                           QPixmap::fromImage(kv::skin::KindGlyph(static_cast<int>(Value)))),
                       "");
    FNumGlyphs = 2;
}

void TSkinCustomButton::SetNumGlyphs(int Value) {
    Value = std::clamp(Value, 1, 4);
    if (FNumGlyphs == Value)
        return;
    FNumGlyphs = Value;
    Invalidate();
}

void TSkinCustomButton::SetSpacing(int Value) {
    if (FSpacing == Value)
        return;
    FSpacing = Value;
    Invalidate();
}

void TSkinCustomButton::SetState(TSkinButtonState Value) {
    if (FState == Value)
        return;
    FState = Value;
    Invalidate();
}

void TSkinCustomButton::SetLayout(TSkinButtonLayout Value) {
    if (FLayout == Value)
        return;
    FLayout = Value;
    Invalidate();
}

void TSkinCustomButton::SetWordWrap(bool Value) {
    if (FWordWrap == Value)
        return;
    FWordWrap = Value;
    Invalidate();
}

void TSkinCustomButton::SetEnabled(bool Value) {
    TSkinCustomControl::SetEnabled(Value);
    if (!Value)
        FTracking = false;
    Invalidate();
}

void TSkinCustomButton::glyphChanged() {
    FGlyphImage = QImage();
    const int w = FGlyph->Width();
    const int h = FGlyph->Height();
    if (w > 0 && h > 0 && w % h == 0) {
        const int n = w / h;
        FNumGlyphs = n < 5 ? n : 1;
    }
    Invalidate();
}

void TSkinCustomButton::Click() {
    if (TForm* form = GetParentForm())
        form->SetModalResult(FModalResult);
    TSkinCustomControl::Click();
}

int TSkinCustomButton::SkinState() const {
    if (!Enabled())
        return ssDisabled;
    if (FState == wbsPressed)
        return ssPressed;
    if (Hot())
        return ssHot;
    if (FocusedFlag() || Focused() || FActiveDefault)
        return ssFocused;
    return ssNormal;
}

char16_t TSkinCustomButton::Accelerator() const {
    const QString text = QString::fromStdString(Caption());
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return text[i + 1].toLower().unicode();
    }
    return 0;
}

// ----- mouse and keys --------------------------------------------------------------------------

void TSkinCustomButton::hostMouseDown(Qt::MouseButton Button, int, int) {
    watchWindow();
    if (Button != Qt::LeftButton || !Enabled())
        return;
    if (!ComponentState().Contains(csDesigning) && CanFocus())
        SetFocus();
    FState = wbsPressed;
    FTracking = true;
    Invalidate();
}

void TSkinCustomButton::hostMouseMove(int X, int Y) {
    if (!FTracking)
        return;
    const bool inside = X >= 0 && Y >= 0 && X < ClientWidth() && Y < ClientHeight();
    SetState(inside ? wbsPressed : wbsNormal);
}

void TSkinCustomButton::hostMouseUp(Qt::MouseButton, int X, int Y) {
    if (!FTracking)
        return;
    FTracking = false;
    FState = wbsNormal;
    const bool inside = X >= 0 && Y >= 0 && X < Width() && Y < Height();
    Invalidate();
    if (inside)
        Application->HandleEvent(this, [this] { Click(); });
}

bool TSkinCustomButton::hostKeyDown(int Key, Qt::KeyboardModifiers Modifiers, bool AutoRepeat) {
    watchWindow();
    if (Key == Qt::Key_Space && !(Modifiers & Qt::AltModifier)) {
        if (!AutoRepeat)
            SetState(wbsPressed);
        return true;
    }
    return windowKey(Key, Modifiers, {});
}

bool TSkinCustomButton::hostKeyUp(int Key, Qt::KeyboardModifiers, bool AutoRepeat) {
    if (Key != Qt::Key_Space)
        return false;
    // Auto-repeat sends releases while the key is held: they neither release nor click.
    if (AutoRepeat)
        return true;
    if (FState != wbsPressed || FTracking)
        return true;
    SetState(wbsNormal);
    Application->HandleEvent(this, [this] { Click(); });
    return true;
}

bool TSkinCustomButton::windowKey(int Key, Qt::KeyboardModifiers Modifiers, const QString&) {
    const bool shift = (Modifiers & Qt::ShiftModifier) != 0;
    if ((Key == Qt::Key_Return || Key == Qt::Key_Enter) && !shift &&
        (FActiveDefault || Focused()) && CanFocus()) {
        Click();
        return true;
    }
    if (Key == Qt::Key_Escape && !shift && FCancel && CanFocus()) {
        Click();
        return true;
    }
    const char16_t accel = Accelerator();
    if (accel != 0 && (Modifiers & Qt::AltModifier) && Key >= Qt::Key_A && Key <= Qt::Key_Z &&
        accel == static_cast<char16_t>(u'a' + (Key - Qt::Key_A)) && CanFocus()) {
        SetFocus();
        Click();
        return true;
    }
    return false;
}

// ----- painting --------------------------------------------------------------------------------

void TSkinCustomButton::PaintClient(TSkinPaintTarget& Target) {
    watchWindow();
    PaintBackground(Target);
    QRect captionArea, glyphArea;
    ContentLayout(CaptionFont(), captionArea, glyphArea);
    PaintCaption(Target, captionArea);
    PaintGlyph(Target, glyphArea);
}

const TFont& TSkinCustomButton::CaptionFont() {
    return *Font();
}

void TSkinCustomButton::ContentLayout(const TFont& TextFont, QRect& CaptionArea,
                                      QRect& GlyphArea) const {
    const QFont font = qfontOf(TextFont);
    const bool hasGlyph = !FGlyph->Empty();
    const int cellW = hasGlyph ? FGlyph->Width() / std::max(1, FNumGlyphs) : 0;
    const int cellH = hasGlyph ? FGlyph->Height() : 0;
    const bool sideways = FLayout == blGlyphLeft || FLayout == blGlyphRight;
    // The caption's width as Windows measures it (classicTextWidth): the captions that fit
    // their buttons on Windows fit here with the same clearance.
    int blockW = kv::ui::classicTextWidth(font, displayCaption(Caption()));
    int blockH = kv::ui::classicLineHeight(font);
    // As the toolkit does for its buttons and labels: a substitute face (where Tahoma is
    // missing) runs a little wider than the face the layouts were measured with, so a caption
    // up to 20 % too wide for the button is condensed to fit instead of running into the frame.
    FCaptionStretch = 100;
    const int room = Width() - 6 - (hasGlyph && sideways ? cellW + FSpacing : 0);
    if (!FWordWrap && blockW > room && room > 0 && blockW * 100 <= room * 120) {
        FCaptionStretch = std::max(1, room * 100 / blockW);
        blockW = room;
    }
    if (FWordWrap) {
        blockW = Width() - FSpacing - cellW - 10;
        blockH = Height() - FSpacing - cellH - 10;
    }
    if (hasGlyph) {
        if (sideways)
            blockW += cellW + FSpacing;
        else
            blockH += cellH + FSpacing;
    }
    blockW = std::max(blockW, cellW);
    blockH = std::max(blockH, cellH);
    int x = (Width() - blockW) / 2;
    int y = (Height() - blockH) / 2;
    if (FState == wbsPressed) {
        ++x;
        ++y;
    }
    const QRect block(x, y, blockW, blockH);
    if (!hasGlyph) {
        CaptionArea = block;
        GlyphArea = QRect();
        return;
    }
    const int part = sideways ? cellW + FSpacing : cellH + FSpacing;
    switch (FLayout) {
    case blGlyphLeft:
        GlyphArea = QRect(x, y, cellW, blockH);
        CaptionArea = QRect(x + part, y, blockW - part, blockH);
        break;
    case blGlyphRight:
        GlyphArea = QRect(x + blockW - cellW, y, cellW, blockH);
        CaptionArea = QRect(x, y, blockW - part, blockH);
        break;
    case blGlyphTop:
        GlyphArea = QRect(x, y, blockW, cellH);
        CaptionArea = QRect(x, y + part, blockW, blockH - part);
        break;
    case blGlyphBottom:
        GlyphArea = QRect(x, y + blockH - cellH, blockW, cellH);
        CaptionArea = QRect(x, y, blockW, blockH - part);
        break;
    }
}

QFont TSkinCustomButton::CaptionQFont(const TFont& TextFont) const {
    QFont font = qfontOf(TextFont);
    if (FCaptionStretch != 100)
        font.setStretch(FCaptionStretch);
    return font;
}

void TSkinCustomButton::PaintBackground(TSkinPaintTarget& Target) {
    QPainter& p = Target.Painter();
    QStyleOptionButton option;
    option.initFrom(SkinWidget());
    option.rect = QRect(0, 0, Width(), Height());
    option.state = QStyle::State_None;
    if (Enabled())
        option.state |= QStyle::State_Enabled;
    option.state |= FState == wbsPressed ? QStyle::State_Sunken : QStyle::State_Raised;
    if (Hot())
        option.state |= QStyle::State_MouseOver;
    if (FActiveDefault)
        option.features |= QStyleOptionButton::DefaultButton;
    QStyle* style = QApplication::style();
    style->drawControl(QStyle::CE_PushButtonBevel, &option, &p, SkinWidget());
    if (FocusedFlag() || Focused()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(SkinWidget());
        focus.rect = option.rect.adjusted(4, 4, -4, -4);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, SkinWidget());
    }
}

void TSkinCustomButton::PaintCaption(TSkinPaintTarget& Target, const QRect& Area) {
    PaintPlainCaption(Target, Area);
}

namespace {

void drawCentredText(QPainter& P, const QRect& Area, const QString& Raw, bool WordWrap) {
    if (WordWrap) {
        P.drawText(Area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, Raw);
        return;
    }
    int accelerator = -1;
    const QString shown = kv::ui::stripAccelerator(Raw, &accelerator);
    const int w = kv::ui::classicTextWidth(P.font(), shown);
    const kv::ui::ClassicMetrics line = kv::ui::classicMetrics(P.font());
    const int x = Area.x() + (Area.width() - w) / 2;
    const int y = Area.y() + (Area.height() - line.Height()) / 2;
    P.save();
    P.setClipRect(QRect(x, y, w + 1, line.Height()), Qt::IntersectClip);
    kv::ui::drawClassicText(P, QPointF(x, y + line.Ascent), shown, accelerator);
    P.restore();
}

} // namespace

void TSkinCustomButton::PaintPlainCaption(TSkinPaintTarget& Target, const QRect& Area) {
    if (Caption().empty())
        return;
    QPainter& p = Target.Painter();
    p.setFont(CaptionQFont(*Font()));
    const QString text = QString::fromStdString(Caption());
    if (Enabled()) {
        p.setPen(kv::ui::colorToQColor(Font()->Color()));
        drawCentredText(p, Area, text, FWordWrap);
        return;
    }
    p.setPen(kv::ui::colorToQColor(clBtnHighlight));
    drawCentredText(p, Area.translated(1, 1), text, FWordWrap);
    p.setPen(kv::ui::colorToQColor(clBtnShadow));
    drawCentredText(p, Area, text, FWordWrap);
}

void TSkinCustomButton::PaintGlyph(TSkinPaintTarget& Target, const QRect& Area) {
    if (FGlyph->Empty() || Area.isEmpty())
        return;
    if (FGlyphImage.isNull())
        FGlyphImage = kv::skin::GlyphImage(*FGlyph);
    int index = 0;
    if (!Enabled() && FNumGlyphs > 1)
        index = 1;
    else if (FState == wbsPressed && FNumGlyphs > 2)
        index = 2;
    kv::skin::GlyphLook look = kv::skin::GlyphLook::Normal;
    if (!Enabled() && FNumGlyphs == 1)
        look = kv::skin::GlyphLook::DarkGreys;
    else if (FBlackAndWhiteGlyph && !Hot())
        look = kv::skin::GlyphLook::Greys;
    const QImage cell = kv::skin::GlyphCell(FGlyphImage, FNumGlyphs, index, look);
    if (cell.isNull())
        return;
    const int x = Area.x() + (Area.width() - cell.width()) / 2;
    const int y = Area.y() + (Area.height() - cell.height()) / 2;
    Target.Painter().drawImage(x, y, cell);
}

// ----- TSkinButton -----------------------------------------------------------------------------

TSkinButton::TSkinButton(TComponent* AOwner) : TSkinCustomButton(AOwner) {}

TSkinButton::~TSkinButton() {
    if (FSkinEngine != nullptr)
        FSkinEngine->RemoveFreeNotification(this);
}

TSkinObject* TSkinButton::part(const char* Name) const {
    if (!FCopy)
        return nullptr;
    for (int i = 0; i < FCopy->ChildCount(); ++i)
        if (SameText(FCopy->Child(i)->Name(), Name))
            return FCopy->Child(i);
    return nullptr;
}

bool TSkinButton::Skinned() const {
    const TComponentState s = ComponentState();
    return !s.Contains(csLoading) && !s.Contains(csDestroying) && FSkinEngine != nullptr &&
           FSkinEngine->HasSkin() && !FSkinEngine->Changing() &&
           FSkinEngine->Source().FindObject(FSkinObject) != nullptr && FCopy != nullptr;
}

void TSkinButton::unbind() {
    FCopy.reset();
}

void TSkinButton::bind() {
    if (FSkinEngine != nullptr && FSkinEngine->HasSkin() && !FSkinEngine->Changing()) {
        unbind();
        if (TSkinObject* found = FSkinEngine->Source().FindObject(FSkinObject)) {
            FCopy.reset(found->CopyObject(nullptr));
            FCopy->BindControl(this, [this](int Msg) {
                if (Msg == SKN_REPAINT)
                    Invalidate();
            });
            if (auto* face = dynamic_cast<TSkinBitmapObject*>(part("Face")))
                SetTransparent(face->AnyMasked());
        }
    } else {
        unbind();
    }
    Invalidate();
}

void TSkinButton::SetSkinEngine(TSkinEngine* Value) {
    if (FSkinEngine != Value) {
        if (FSkinEngine != nullptr)
            FSkinEngine->RemoveFreeNotification(this);
        FSkinEngine = Value;
        if (FSkinEngine != nullptr)
            FSkinEngine->FreeNotification(this);
    }
    bind();
}

void TSkinButton::SkinNotify(int Msg, TSkinEngine* Engine) {
    if (Engine == nullptr || Engine != FSkinEngine)
        return;
    if (Msg == CM_SKINCHANGING) {
        unbind();
        Invalidate();
    } else if (Msg == CM_SKINCHANGED) {
        bind();
    }
}

void TSkinButton::Notification(TComponent* AComponent, TOperation Operation) {
    TSkinCustomButton::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent != nullptr &&
        AComponent == static_cast<TComponent*>(FSkinEngine)) {
        FSkinEngine = nullptr;
        unbind();
        Invalidate();
    }
}

const TFont& TSkinButton::CaptionFont() {
    if (!Skinned() || !FShowCaption)
        return *Font();
    TSkinObject* text = part("Text");
    if (text == nullptr)
        return *FCopy->Font();
    text->SetState(SkinState());
    if (auto* t = dynamic_cast<TSkinTextObject*>(text))
        return *t->StateFont();
    return *text->Font();
}

void TSkinButton::PaintBackground(TSkinPaintTarget& Target) {
    if (!Skinned()) {
        TSkinCustomButton::PaintBackground(Target);
        return;
    }
    TSkinObject* face = part("Face");
    TSkinObject* target = face != nullptr ? face : FCopy.get();
    target->SetState(SkinState());
    TSkinCanvas canvas(Target.Pixels());
    target->Paint(canvas, {0, 0, Width(), Height()});
}

void TSkinButton::PaintCaption(TSkinPaintTarget& Target, const QRect& Area) {
    if (!Skinned() || !FShowCaption) {
        PaintPlainCaption(Target, Area);
        return;
    }
    if (Caption().empty())
        return;
    const TFont& font = CaptionFont();
    QPainter& p = Target.Painter();
    p.setFont(CaptionQFont(font));
    p.setPen(kv::ui::colorToQColor(font.Color()));
    drawCentredText(p, Area, QString::fromStdString(Caption()), WordWrap());
}

void TSkinButton::PaintGlyph(TSkinPaintTarget& Target, const QRect& Area) {
    if (Skinned() && !FShowGlyph)
        return;
    TSkinCustomButton::PaintGlyph(Target, Area);
}

bool kv::skin::detail::skinButtonClassesRegistered() {
    return registered;
}
