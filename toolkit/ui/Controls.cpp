#include "toolkit/ui/Controls.h"

#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/qt_graphics.h"

#include <QPalette>
#include <QWidget>
#include <algorithm>

using namespace kv::ui;

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
    FFont->OnChange = [this](TObject*) { fontObjectChanged(); };
}

TControl::~TControl() {
    if (FParent)
        FParent->removeControl(this);
    FParent = nullptr;
    delete FWidget;
    FWidget = nullptr;
}

void TControl::SetWidget(QWidget* Widget) {
    FWidget = Widget;
    FWidget->hide();
    FontChanged();
    applyGeometry();
}

bool TControl::IsLoading() const {
    return ComponentState().Contains(csLoading);
}

void TControl::SetParent(TWinControl* AParent) {
    if (AParent == FParent)
        return;
    if (AParent == this)
        throw EComponentError("A control cannot have itself as its parent");
    if (FParent)
        FParent->removeControl(this);
    FParent = AParent;
    if (FParent) {
        FParent->insertControl(this);
        if (FParentFont)
            parentFontChanged();
        if (FParentColor)
            parentColorChanged();
    }
    if (FWidget) {
        FWidget->setParent(FParent ? FParent->Widget() : nullptr);
        applyGeometry();
        applyVisibility();
    }
    if (FParent && FAlign != alNone)
        FParent->Realign();
}

TComponent* TControl::GetParentComponent() const {
    return FParent;
}

void TControl::SetParentComponent(TComponent* Value) {
    if (auto* parent = dynamic_cast<TWinControl*>(Value))
        SetParent(parent);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    AWidth = std::max(0, AWidth);
    AHeight = std::max(0, AHeight);
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight)
        return;
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    applyGeometry();
    BoundsChanged();
    RequestAlign();
}

void TControl::RequestAlign() {
    if (FParent && FAlign != alNone)
        FParent->Realign();
}

void TControl::applyGeometry() {
    if (FWidget && !OwnsWindow())
        FWidget->setGeometry(FLeft, FTop, FWidth, FHeight);
}

void TControl::applyVisibility() {
    if (FWidget && FWidget->parentWidget())
        FWidget->setVisible(FVisible);
}

void TControl::SetAlign(TAlign Value) {
    if (Value == FAlign)
        return;
    FAlign = Value;
    if (FParent)
        FParent->Realign();
}

void TControl::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    applyVisibility();
    if (FParent && FAlign != alNone)
        FParent->Realign();
}

void TControl::SetEnabled(bool Value) {
    FEnabled = Value;
    if (FWidget)
        FWidget->setEnabled(Value);
}

void TControl::SetText(const std::string& Value) {
    if (Value == GetText())
        return;
    FText = Value;
    TextChanged();
}

void TControl::SetFont(TFont* Value) {
    if (Value)
        FFont->Assign(Value);
}

void TControl::fontObjectChanged() {
    if (!FFontSync)
        FParentFont = false;
    FontChanged();
}

void TControl::SetParentFont(bool Value) {
    FParentFont = Value;
    if (Value)
        parentFontChanged();
}

void TControl::parentFontChanged() {
    if (!FParentFont || !FParent)
        return;
    FFontSync = true;
    try {
        FFont->Assign(FParent->Font());
    } catch (...) {
        FFontSync = false;
        throw;
    }
    FFontSync = false;
}

void TControl::FontChanged() {
    if (!FWidget)
        return;
    FWidget->setFont(makeQFont(FFont->Name(), FFont->Height(), FFont->Style().Contains(fsBold),
                               FFont->Style().Contains(fsItalic),
                               FFont->Style().Contains(fsUnderline),
                               FFont->Style().Contains(fsStrikeOut)));
    // The font colour is the text colour of an enabled control; disabled ones keep the grey.
    QPalette palette = FWidget->palette();
    const QColor text = colorToQColor(FFont->Color());
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
    }
    FWidget->setPalette(palette);
    FWidget->update();
}

void TControl::SetColor(TColor Value) {
    FParentColor = false;
    if (Value == FColor)
        return;
    FColor = Value;
    ColorChanged();
}

void TControl::SetParentColor(bool Value) {
    FParentColor = Value;
    if (Value)
        parentColorChanged();
}

void TControl::parentColorChanged() {
    if (!FParentColor || !FParent || FParent->Color() == FColor)
        return;
    FColor = FParent->Color();
    ColorChanged();
}

void TControl::SetHint(const std::string& Value) {
    FHint = Value;
    if (FWidget)
        FWidget->setToolTip(QString::fromStdString(Value));
}

void TControl::Click() {
    if (OnClick)
        OnClick(this);
}

TForm* TControl::GetParentForm() const {
    const TControl* control = this;
    while (control->FParent)
        control = control->FParent;
    return dynamic_cast<TForm*>(const_cast<TControl*>(control));
}

void TControl::Invalidate() {
    if (FWidget)
        FWidget->update();
}

void TControl::Repaint() {
    if (FWidget)
        FWidget->repaint();
}

void TControl::BringToFront() {
    if (FWidget)
        FWidget->raise();
}

void TControl::SendToBack() {
    if (FWidget)
        FWidget->lower();
}

void TControl::Loaded() {
    TComponent::Loaded();
    if (FParentFont)
        parentFontChanged();
    if (FParentColor)
        parentColorChanged();
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
    // Children owned elsewhere lose their parent; their widgets must not die with ours.
    while (!FControls.empty()) {
        TControl* child = FControls.back();
        FControls.pop_back();
        child->FParent = nullptr;
        if (child->FWidget)
            child->FWidget->setParent(nullptr);
    }
}

void TWinControl::insertControl(TControl* Control) {
    FControls.push_back(Control);
    if (auto* win = dynamic_cast<TWinControl*>(Control); win && win->FTabOrder < 0) {
        int count = 0;
        for (TControl* c : FControls)
            if (c != Control && dynamic_cast<TWinControl*>(c))
                ++count;
        win->FTabOrder = count;
    }
}

void TWinControl::removeControl(TControl* Control) {
    std::erase(FControls, Control);
    if (Control->FAlign != alNone)
        Realign();
}

void TWinControl::SetTabOrder(int Value) {
    FTabOrder = Value;
    if (!IsLoading())
        UpdateTabChain();
}

void TWinControl::SetTabStop(bool Value) {
    FTabStop = Value;
    if (Widget() && Widget()->focusPolicy() != Qt::NoFocus)
        Widget()->setFocusPolicy(Value ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TWinControl::CanFocus() const {
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Visible() || !c->Enabled())
            return false;
    return Widget() != nullptr;
}

bool TWinControl::Focused() const {
    return Widget() && Widget()->hasFocus();
}

void TWinControl::SetFocus() {
    if (Widget())
        Widget()->setFocus(Qt::OtherFocusReason);
}

void TWinControl::AdjustClientRect(int&, int&, int&, int&) const {}

void TWinControl::Realign() {
    if (IsLoading())
        return;
    alignControls();
}

void TWinControl::alignControls() {
    if (FAligning)
        return;
    FAligning = true;
    int left = 0, top = 0, right = ClientWidth(), bottom = ClientHeight();
    AdjustClientRect(left, top, right, bottom);
    auto collect = [this](TAlign align) {
        std::vector<TControl*> list;
        for (TControl* c : FControls)
            if (c->FAlign == align && c->FVisible)
                list.push_back(c);
        return list;
    };
    auto place = [](TControl* c, int x, int y, int w, int h) {
        if (c->FLeft == x && c->FTop == y && c->FWidth == w && c->FHeight == h)
            return;
        c->FLeft = x;
        c->FTop = y;
        c->FWidth = std::max(0, w);
        c->FHeight = std::max(0, h);
        c->applyGeometry();
        c->BoundsChanged();
    };
    auto tops = collect(alTop);
    std::stable_sort(tops.begin(), tops.end(),
                     [](TControl* a, TControl* b) { return a->FTop < b->FTop; });
    for (TControl* c : tops) {
        place(c, left, top, right - left, c->FHeight);
        top += c->FHeight;
    }
    auto bottoms = collect(alBottom);
    std::stable_sort(bottoms.begin(), bottoms.end(), [](TControl* a, TControl* b) {
        return a->FTop + a->FHeight > b->FTop + b->FHeight;
    });
    for (TControl* c : bottoms) {
        place(c, left, bottom - c->FHeight, right - left, c->FHeight);
        bottom -= c->FHeight;
    }
    auto lefts = collect(alLeft);
    std::stable_sort(lefts.begin(), lefts.end(),
                     [](TControl* a, TControl* b) { return a->FLeft < b->FLeft; });
    for (TControl* c : lefts) {
        place(c, left, top, c->FWidth, bottom - top);
        left += c->FWidth;
    }
    auto rights = collect(alRight);
    std::stable_sort(rights.begin(), rights.end(), [](TControl* a, TControl* b) {
        return a->FLeft + a->FWidth > b->FLeft + b->FWidth;
    });
    for (TControl* c : rights) {
        place(c, right - c->FWidth, top, c->FWidth, bottom - top);
        right -= c->FWidth;
    }
    for (TControl* c : collect(alClient))
        place(c, left, top, right - left, bottom - top);
    FAligning = false;
}

void TWinControl::BoundsChanged() {
    Realign();
}

void TWinControl::FontChanged() {
    TControl::FontChanged();
    for (TControl* c : FControls)
        c->parentFontChanged();
}

void TWinControl::ColorChanged() {
    TControl::ColorChanged();
    for (TControl* c : FControls)
        c->parentColorChanged();
}

void TWinControl::Loaded() {
    TControl::Loaded();
    alignControls();
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) {
    for (TControl* c : FControls)
        if (c->Owner() == Root)
            Proc(c);
}

void TWinControl::UpdateTabChain() {
    TForm* form = GetParentForm();
    TWinControl* top = form ? static_cast<TWinControl*>(form) : this;
    std::vector<QWidget*> chain;
    std::function<void(TWinControl*)> walk = [&](TWinControl* parent) {
        std::vector<TWinControl*> wins;
        for (TControl* c : parent->FControls)
            if (auto* w = dynamic_cast<TWinControl*>(c))
                wins.push_back(w);
        std::stable_sort(wins.begin(), wins.end(), [](TWinControl* a, TWinControl* b) {
            return a->FTabOrder < b->FTabOrder;
        });
        for (TWinControl* w : wins) {
            if (w->Widget() && w->Widget()->focusPolicy() != Qt::NoFocus)
                chain.push_back(w->Widget()->focusProxy() ? w->Widget()->focusProxy()
                                                          : w->Widget());
            walk(w);
        }
    };
    walk(top);
    for (size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}
