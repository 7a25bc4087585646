// Visual controls: the common base TControl and the container TWinControl.
//
// Every control is a TComponent (owned, named, streamed) with one Qt widget behind it. A control
// is placed in its Parent's client area in pixels (Left, Top, Width, Height); Align stacks
// controls against the parent's edges in the classic order: all alTop controls from the top
// (ordered by their Top), then alBottom from the bottom (the lowest first), then alLeft,
// alRight, and alClient takes what is left. A panel's bevels and border narrow the area that
// alignment uses; the coordinates of Left/Top stay relative to the parent's whole client area.
//
// Font and Color follow the parent while ParentFont / ParentColor are true; setting either
// (from code or a layout) makes it the control's own.
//
// Events raised by the user (clicks, timer ticks, ...) run through the application's event
// boundary (TApplication::HandleEvent): an exception leaving a handler never reaches Qt.
#pragma once

#include "toolkit/Component.h"
#include "toolkit/Graphics.h"
#include "toolkit/UITypes.h"

#include <memory>
#include <string>
#include <vector>

class QWidget;
class QPainter;
class QRect;
class TWinControl;
class TForm;

class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;
    std::string ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* AParent);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
    void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
    void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
    void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    virtual int ClientWidth() const { return FWidth; }
    virtual int ClientHeight() const { return FHeight; }

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign Value);

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool Value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool Value);

    // Caption and Text are one value (a label's or button's caption, an edit's text).
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& Value) { SetText(Value); }
    std::string Text() const { return GetText(); }
    void SetText(const std::string& Value);

    TFont* Font() const { return FFont.get(); }
    void SetFont(TFont* Value);
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool Value);

    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& Value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value) { FShowHint = Value; }

    TNotifyEvent OnClick;
    // Runs OnClick (from code: whatever the control's state).
    virtual void Click();

    // The form this control sits on (walking up the parents), or nullptr.
    TForm* GetParentForm() const;
    QWidget* Widget() const { return FWidget; }
    void Invalidate();
    void Repaint();
    void BringToFront();
    void SendToBack();

    // Stream hooks: a nested clause makes the enclosing control the parent.
    TComponent* GetParentComponent() const override;
    bool HasParent() const override { return true; }
    void SetParentComponent(TComponent* Value) override;

protected:
    // Derived constructors create their widget (parentless) and hand it over.
    void SetWidget(QWidget* Widget);
    virtual std::string GetText() const { return FText; }
    virtual void TextChanged() { Invalidate(); }
    // The font or colour in effect changed (own or inherited): update the widget.
    virtual void FontChanged();
    virtual void ColorChanged() { Invalidate(); }
    virtual void BoundsChanged() {}
    void Loaded() override;
    // The rectangle a control of AutoSize wants; the default keeps the current size.
    void RequestAlign();
    bool IsLoading() const;
    // True for a control whose widget is a window of its own (a form): its bounds are the
    // window frame's, so they are not copied onto the widget.
    virtual bool OwnsWindow() const { return false; }

    std::string FText;

private:
    friend class TWinControl;
    void applyGeometry();
    void applyVisibility();
    void parentFontChanged();
    void parentColorChanged();
    void fontObjectChanged();

    TWinControl* FParent = nullptr;
    QWidget* FWidget = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    TAlign FAlign = alNone;
    bool FVisible = true;
    bool FEnabled = true;
    std::unique_ptr<TFont> FFont;
    bool FParentFont = true;
    bool FFontSync = false;
    TColor FColor = clWindow;
    bool FParentColor = false;
    std::string FHint;
    bool FShowHint = false;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;
    std::string ClassName() const override { return "TWinControl"; }

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int Index) const { return FControls.at(static_cast<size_t>(Index)); }

    int TabOrder() const { return FTabOrder; }
    void SetTabOrder(int Value);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool Value);
    bool CanFocus() const;
    bool Focused() const;
    virtual void SetFocus();

    // Places the aligned children (normally automatic).
    void Realign();
    void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) override;

protected:
    // The part of the client area that aligned children share.
    virtual void AdjustClientRect(int& ALeft, int& ATop, int& ARight, int& ABottom) const;
    void BoundsChanged() override;
    void FontChanged() override;
    void ColorChanged() override;
    void Loaded() override;
    // Updates the Qt focus chain of the whole form from the TabOrder values.
    void UpdateTabChain();

private:
    friend class TControl;
    void insertControl(TControl* Control);
    void removeControl(TControl* Control);
    void alignControls();

    std::vector<TControl*> FControls;
    int FTabOrder = -1;
    bool FTabStop = false;
    bool FAligning = false;
};
