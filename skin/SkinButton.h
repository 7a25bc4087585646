// The skinned push button: TSkinCustomButton (behaviour, plain look, glyph and caption layout)
// and TSkinButton (painting from a skin object of a TSkinEngine).
//
// State: the pressed look is State == wbsPressed. The skin state number is 8 when disabled,
// 6 when pressed, 5 when the mouse is over the button, 7 when it has the focus or is the active
// default button, 0 otherwise.
//
// Mouse: a left press takes the focus and presses the button; while the mouse is held the
// button is pressed exactly when the pointer is inside the client area (0 <= x < width,
// 0 <= y < height); releasing any button ends the tracking and clicks when the pointer is inside.
// Keyboard: Space presses and its release clicks (auto-repeat neither clicks nor releases);
// Enter clicks the focused or active default button, Esc the Cancel button (no shift key held);
// Alt plus the caption's accelerator character focuses the button and clicks.
//
// Glyph: NumGlyphs cells of equal width; cell 2 when disabled (NumGlyphs > 1), cell 3 when
// pressed (NumGlyphs > 2), else cell 1. The glyph's bottom-left pixel is its transparent colour.
// Loading a glyph whose width is a multiple of its height sets NumGlyphs to that quotient (1
// when it is 5 or more).
#pragma once

#include "skin/SkinControl.h"
#include "toolkit/UITypes.h"
#include "toolkit/ui/Pictures.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <memory>

class QObject;
class TSkinObject;
class TSkinTextObject;

enum TSkinButtonState { wbsNormal, wbsPressed };
enum TSkinButtonKind {
    bkCustom,
    bkOK,
    bkCancel,
    bkHelp,
    bkYes,
    bkNo,
    bkClose,
    bkAbort,
    bkRetry,
    bkIgnore,
    bkAll
};
enum TSkinButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TSkinCustomButton : public TSkinCustomControl {
public:
    explicit TSkinCustomButton(TComponent* AOwner);
    ~TSkinCustomButton() override;
    std::string ClassName() const override { return "TSkinCustomButton"; }

    // Kept for layouts; the toolkit has no actions.
    TComponent* Action() const { return FAction; }
    void SetAction(TComponent* Value) { FAction = Value; }
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors Value) { FAnchors = Value; }
    bool ActiveDefault() const { return FActiveDefault; }
    void SetActiveDefault(bool Value);
    bool BlackAndWhiteGlyph() const { return FBlackAndWhiteGlyph; }
    void SetBlackAndWhiteGlyph(bool Value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    TSkinButtonKind Kind() const { return FKind; }
    void SetKind(TSkinButtonKind Value);
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value) { FModalResult = Value; }
    int NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int Value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int Value);
    TSkinButtonState State() const { return FState; }
    void SetState(TSkinButtonState Value);
    TPicture* Glyph() const { return FGlyph.get(); }
    void SetGlyph(TPicture* Value) { FGlyph->Assign(Value); }
    TSkinButtonLayout Layout() const { return FLayout; }
    void SetLayout(TSkinButtonLayout Value);
    bool ParentShowHint() const { return FParentShowHint; }
    void SetParentShowHint(bool Value) { FParentShowHint = Value; }
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    void SetEnabled(bool Value) override;

    // Copies ModalResult to the parent form, then runs OnClick (from code: whatever the state).
    void Click() override;
    // The skin state number for the current state (8, 6, 5, 7 or 0).
    int SkinState() const;
    // The accelerator character of Caption in lower case ("&x"), 0 when none.
    char16_t Accelerator() const;
    // Whether the mouse is being tracked after a left press.
    bool Tracking() const { return FTracking; }

protected:
    void PaintClient(TSkinPaintTarget& Target) override;
    virtual void PaintBackground(TSkinPaintTarget& Target);
    virtual void PaintCaption(TSkinPaintTarget& Target, const QRect& Area);
    void PaintPlainCaption(TSkinPaintTarget& Target, const QRect& Area);
    virtual void PaintGlyph(TSkinPaintTarget& Target, const QRect& Area);
    // The caption and glyph areas of the content block.
    void ContentLayout(const TFont& TextFont, QRect& CaptionArea, QRect& GlyphArea) const;
    // The font the caption is laid out and drawn with.
    virtual const TFont& CaptionFont();
    // The caption font as a Qt font, condensed when the last layout found the caption a little
    // too wide.
    QFont CaptionQFont(const TFont& TextFont) const;
    virtual bool Skinned() const { return false; }
    void TextChanged() override;
    void Loaded() override;

    void hostMouseDown(Qt::MouseButton Button, int X, int Y) override;
    void hostMouseMove(int X, int Y) override;
    void hostMouseUp(Qt::MouseButton Button, int X, int Y) override;
    bool hostKeyDown(int Key, Qt::KeyboardModifiers Modifiers, bool AutoRepeat) override;
    bool hostKeyUp(int Key, Qt::KeyboardModifiers Modifiers, bool AutoRepeat) override;

private:
    friend class SkinButtonKeys;
    void glyphChanged();
    // Enter, Esc and accelerators typed anywhere in this button's window.
    bool windowKey(int Key, Qt::KeyboardModifiers Modifiers, const QString& Text);
    void focusMoved(QWidget* Now);
    void watchWindow();

    TComponent* FAction = nullptr;
    TAnchors FAnchors{akLeft, akTop};
    bool FActiveDefault = false;
    bool FBlackAndWhiteGlyph = false;
    bool FCancel = false;
    bool FDefault = false;
    TSkinButtonKind FKind = bkCustom;
    TModalResult FModalResult = mrNone;
    int FNumGlyphs = 1;
    int FSpacing = 4;
    TSkinButtonState FState = wbsNormal;
    std::unique_ptr<TPicture> FGlyph;
    TSkinButtonLayout FLayout = blGlyphLeft;
    bool FParentShowHint = true;
    bool FWordWrap = false;
    bool FTracking = false;
    bool FCaptionFromStream = false;
    QObject* FWindowFilter = nullptr;
    QImage FGlyphImage;
    mutable int FCaptionStretch = 100;
};

class TSkinButton : public TSkinCustomButton {
public:
    explicit TSkinButton(TComponent* AOwner);
    ~TSkinButton() override;
    std::string ClassName() const override { return "TSkinButton"; }

    bool ShowCaption() const { return FShowCaption; }
    void SetShowCaption(bool Value) { FShowCaption = Value; }
    bool ShowGlyph() const { return FShowGlyph; }
    void SetShowGlyph(bool Value) { FShowGlyph = Value; }
    TSkinEngine* SkinEngine() const { return FSkinEngine; }
    void SetSkinEngine(TSkinEngine* Value);
    const std::string& SkinObject() const { return FSkinObject; }
    void SetSkinObject(const std::string& Value) { FSkinObject = Value; }
    std::string Version() const { return "3.4.7"; }
    void SetVersion(const std::string&) {}

    // The button's own copy of its skin object (nullptr when it has none).
    TSkinObject* SkinCopy() const { return FCopy.get(); }
    // Painted from the skin now (engine with a skin that is not changing, the object exists,
    // the copy is held, not loading or being destroyed).
    bool Skinned() const override;

    void SkinNotify(int Msg, TSkinEngine* Engine) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void PaintBackground(TSkinPaintTarget& Target) override;
    void PaintCaption(TSkinPaintTarget& Target, const QRect& Area) override;
    void PaintGlyph(TSkinPaintTarget& Target, const QRect& Area) override;
    const TFont& CaptionFont() override;

private:
    void bind();
    void unbind();
    TSkinObject* part(const char* Name) const;

    bool FShowCaption = true;
    bool FShowGlyph = true;
    TSkinEngine* FSkinEngine = nullptr;
    std::string FSkinObject = "Button";
    std::unique_ptr<TSkinObject> FCopy;
};
