#include "toolkit/ui/Forms.h"

#include "toolkit/Filer.h"
#include "toolkit/TypInfo.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/StdCtrls.h"
#include "toolkit/ui/qt_graphics.h"
#include "toolkit/ui/ui_registration_p.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <mutex>

using namespace kv::ui;

namespace {

// Window frame of each border style in the classic scheme: side width and caption height.
struct FrameMetrics {
    int Side;
    int Caption;
};
FrameMetrics frameOf(TFormBorderStyle Style) {
    switch (Style) {
    case bsNone:
        return {0, 0};
    case bsSingle:
    case bsDialog:
        return {3, 19};
    case bsSizeable:
        return {4, 19};
    case bsToolWindow:
        return {3, 15};
    case bsSizeToolWin:
        return {4, 15};
    }
    return {0, 0};
}

std::mutex& layoutPathMutex() {
    static std::mutex m;
    return m;
}
std::vector<QString>& layoutPaths() {
    static std::vector<QString> paths;
    return paths;
}

bool isFixedSize(TFormBorderStyle Style) {
    return Style != bsSizeable && Style != bsSizeToolWin;
}

void collectButtons(const TWinControl* Parent, std::vector<TButton*>& Out) {
    for (int i = 0; i < Parent->ControlCount(); ++i) {
        TControl* c = Parent->Controls(i);
        if (auto* b = dynamic_cast<TButton*>(c))
            Out.push_back(b);
        if (auto* w = dynamic_cast<TWinControl*>(c))
            collectButtons(w, Out);
    }
}

} // namespace

std::string ReadLayoutFile(const std::string& LayoutName) {
    const QString name = QString::fromStdString(LayoutName);
    QStringList candidates;
    if (QFileInfo(name).suffix().isEmpty())
        candidates << QStringLiteral(":/layouts/") + name + QStringLiteral(".layout");
    candidates << QStringLiteral(":/layouts/") + name;
    {
        const std::lock_guard lock(layoutPathMutex());
        for (const QString& dir : layoutPaths()) {
            if (QFileInfo(name).suffix().isEmpty())
                candidates << QDir(dir).filePath(name + QStringLiteral(".layout"));
            candidates << QDir(dir).filePath(name);
        }
    }
    candidates << name;
    for (const QString& candidate : candidates) {
        QFile file(candidate);
        if (QFileInfo(candidate).isFile() && file.open(QIODevice::ReadOnly))
            return file.readAll().toStdString();
    }
    throw EFilerError("Layout " + LayoutName + " not found");
}

void TForm::AddLayoutSearchPath(const std::string& Directory) {
    const std::lock_guard lock(layoutPathMutex());
    layoutPaths().push_back(QString::fromStdString(Directory));
}

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
    Application->Initialize();
    FForm = new internal::PaintedWidget(this, nullptr, Qt::Window);
    FForm->setAttribute(Qt::WA_DeleteOnClose, false);
    SetWidget(FForm);
    TControl::SetVisible(false);
    SetParentFont(false);
    SetColor(clBtnFace);
    SetBounds(0, 0, 320 + 2 * frameOf(FBorderStyle).Side,
              240 + frameOf(FBorderStyle).Caption + 2 * frameOf(FBorderStyle).Side);
    applyWindowFlags();
}

TForm::~TForm() {
    if (FModalLoop)
        FModalLoop->exit();
    // The bound fields belong to the derived form, which is already gone.
    FBindings.clear();
    DestroyComponents();
    FForm->detach();
    if (Application->MainForm() == this)
        Application->SetMainForm(nullptr);
}

// ----- layout --------------------------------------------------------------------------------

void TForm::LoadLayout(const std::string& LayoutName) {
    LoadLayoutData(ReadLayoutFile(LayoutName));
}

void TForm::LoadLayoutData(std::string_view Data) {
    registerUIClasses();
    if (!GetClassInfo(this))
        RegisterClass(ClassName(), "TForm", nullptr, true);
    ReadRootComponent(this, Data);
    FLayoutRead = true;
    for (const Binding& b : FBindings)
        resolveBinding(b);
    UpdateTabChain();
    DoCreate();
}

std::any TForm::MethodAddress(const std::string& Name) const {
    return FMethods.Find(Name);
}

void TForm::bindField(const std::string& Name, std::function<bool(TComponent*)> Assign,
                      std::function<void(TComponent*)> Clear) {
    FBindings.push_back({Name, std::move(Assign), std::move(Clear)});
    if (FLayoutRead)
        resolveBinding(FBindings.back());
}

void TForm::resolveBinding(const Binding& B) {
    TComponent* component = FindComponent(B.Name);
    if (!component)
        throw EComponentError("Component " + B.Name + " of " + ClassName() +
                              " is missing from its layout");
    if (!B.Assign(component))
        throw EComponentError("Component " + B.Name + " of " + ClassName() + " is a " +
                              component->ClassName() + ", not the class of its field");
}

void TForm::Notification(TComponent* AComponent, TOperation Operation) {
    TWinControl::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    for (const Binding& b : FBindings)
        b.Clear(AComponent);
    if (AComponent == FActiveControl)
        FActiveControl = nullptr;
}

void TForm::DoDestroy() {
    if (FDestroyDone)
        return;
    FDestroyDone = true;
    if (OnDestroy)
        Application->HandleEvent(this, [this] { OnDestroy(this); });
}

void TForm::DoCreate() {
    if (OnCreate)
        Application->HandleEvent(this, [this] { OnCreate(this); });
}

void TForm::Loaded() {
    TWinControl::Loaded();
    applyWindowFlags();
    applyFormGeometry();
}

// ----- geometry and window kind --------------------------------------------------------------

int TForm::ClientWidth() const {
    const FrameMetrics f = frameOf(FBorderStyle);
    return std::max(0, Width() - 2 * f.Side);
}

int TForm::ClientHeight() const {
    const FrameMetrics f = frameOf(FBorderStyle);
    return std::max(0, Height() - 2 * f.Side - f.Caption);
}

void TForm::SetClientWidth(int Value) {
    SetBounds(Left(), Top(), Value + 2 * frameOf(FBorderStyle).Side, Height());
}

void TForm::SetClientHeight(int Value) {
    const FrameMetrics f = frameOf(FBorderStyle);
    SetBounds(Left(), Top(), Width(), Value + 2 * f.Side + f.Caption);
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
    if (Value == FBorderStyle)
        return;
    const int cw = ClientWidth(), ch = ClientHeight();
    FBorderStyle = Value;
    const FrameMetrics f = frameOf(Value);
    SetBounds(Left(), Top(), cw + 2 * f.Side, ch + 2 * f.Side + f.Caption);
    applyWindowFlags();
    applyFormGeometry();
}

void TForm::SetBorderIcons(TBorderIcons Value) {
    FBorderIcons = Value;
    applyWindowFlags();
}

void TForm::applyWindowFlags() {
    if (IsLoading())
        return;
    Qt::WindowFlags flags;
    if (FBorderStyle == bsNone) {
        flags = Qt::Window | Qt::FramelessWindowHint;
    } else {
        flags = (FBorderStyle == bsDialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint |
                Qt::WindowTitleHint;
        if (FBorderIcons.Contains(biSystemMenu)) {
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            if (FBorderStyle != bsDialog && FBorderStyle != bsToolWindow &&
                FBorderStyle != bsSizeToolWin) {
                if (FBorderIcons.Contains(biMinimize))
                    flags |= Qt::WindowMinimizeButtonHint;
                if (FBorderIcons.Contains(biMaximize))
                    flags |= Qt::WindowMaximizeButtonHint;
            }
            if (FBorderIcons.Contains(biHelp))
                flags |= Qt::WindowContextHelpButtonHint;
        }
        if (FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin)
            flags |= Qt::Tool;
    }
    if (FForm->windowFlags() == flags)
        return;
    const bool shown = FForm->isVisible();
    FForm->setWindowFlags(flags);
    if (shown)
        FForm->show();
}

void TForm::applyFormGeometry() {
    const int cw = ClientWidth(), ch = ClientHeight();
    FSyncingSize = true;
    if (isFixedSize(FBorderStyle)) {
        FForm->setFixedSize(cw, ch);
    } else {
        FForm->setMinimumSize(0, 0);
        FForm->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        FForm->resize(cw, ch);
    }
    if (FPosition == poDesigned || FPosition == poDefaultSizeOnly)
        FForm->move(Left(), Top());
    FSyncingSize = false;
}

void TForm::BoundsChanged() {
    applyFormGeometry();
    TWinControl::BoundsChanged();
}

void TForm::hostResized() {
    if (FSyncingSize)
        return;
    const QSize size = FForm->size();
    if (size.width() == ClientWidth() && size.height() == ClientHeight())
        return;
    const FrameMetrics f = frameOf(FBorderStyle);
    FSyncingSize = true;
    SetBounds(Left(), Top(), size.width() + 2 * f.Side, size.height() + 2 * f.Side + f.Caption);
    FSyncingSize = false;
}

void TForm::placeOnShow() {
    QRect area;
    if (FPosition == poScreenCenter || FPosition == poDesktopCenter) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            area = screen->availableGeometry();
    } else if (FPosition == poMainFormCenter || FPosition == poOwnerFormCenter) {
        TForm* other = FPosition == poOwnerFormCenter ? dynamic_cast<TForm*>(Owner()) : nullptr;
        if (!other)
            other = Application->MainForm();
        if (other && other != this && other->FForm->isVisible())
            area = other->FForm->frameGeometry();
        else if (QScreen* screen = QGuiApplication::primaryScreen())
            area = screen->availableGeometry();
    }
    if (!area.isValid())
        return;
    const int x = area.left() + (area.width() - Width()) / 2;
    const int y = area.top() + (area.height() - Height()) / 2;
    FSyncingSize = true;
    SetBounds(x, y, Width(), Height());
    FForm->move(x, y);
    FSyncingSize = false;
}

// ----- painting and texts --------------------------------------------------------------------

void TForm::TextChanged() {
    FForm->setWindowTitle(QString::fromStdString(FText));
}

void TForm::ColorChanged() {
    TWinControl::ColorChanged();
    FForm->update();
}

void TForm::hostPaint(QPainter& Painter) {
    Painter.fillRect(FForm->rect(), colorToQColor(Color()));
}

// ----- showing and closing -------------------------------------------------------------------

void TForm::SetVisible(bool Value) {
    if (IsLoading()) {
        return; // a layout's Visible never shows a form while it is being read
    }
    if (Value)
        Show();
    else
        Hide();
}

void TForm::Show() {
    if (TUIHooks::FormShowing)
        TUIHooks::FormShowing(this);
    TControl::SetVisible(true);
    applyWindowFlags();
    applyFormGeometry();
    placeOnShow();
    FForm->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        FForm->raise(); // the offscreen platform cannot stack windows and says so
    FForm->activateWindow();
    focusFirst();
}

void TForm::Hide() {
    TControl::SetVisible(false);
    FForm->hide();
}

void TForm::focusFirst() {
    if (FActiveControl && FActiveControl->CanFocus()) {
        FActiveControl->SetFocus();
        return;
    }
    if (FForm->focusWidget() && FForm->isAncestorOf(FForm->focusWidget()))
        return;
    for (QWidget* w = FForm->nextInFocusChain(); w && w != FForm; w = w->nextInFocusChain()) {
        if (FForm->isAncestorOf(w) && w->isVisibleTo(FForm) && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void TForm::SetActiveControl(TWinControl* Value) {
    FActiveControl = Value;
    if (Value)
        Value->FreeNotification(this);
    if (Value && FForm->isVisible() && Value->CanFocus())
        Value->SetFocus();
}

void TForm::hostShown() {
    TControl::SetVisible(true);
    if (OnShow)
        Application->HandleEvent(this, [this] { OnShow(this); });
}

void TForm::hostHidden() {
    TControl::SetVisible(false);
    if (OnHide)
        Application->HandleEvent(this, [this] { OnHide(this); });
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    return canClose;
}

bool TForm::closeRequested() {
    if (Modal()) {
        SetModalResult(mrCancel);
        return false; // the modal loop hides the form
    }
    if (!CloseQuery())
        return false;
    TCloseAction action = Application->MainForm() == this ? caFree : caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return false;
    if (Application->MainForm() == this)
        Application->mainFormClosed();
    return action != caMinimize;
}

void TForm::Close() {
    if (FClosing)
        return;
    FClosing = true;
    bool close = false;
    try {
        close = closeRequested();
    } catch (...) {
        FClosing = false;
        throw;
    }
    FClosing = false;
    if (close)
        Hide();
}

bool TForm::hostCloseRequested() {
    bool close = false;
    Application->HandleEvent(this, [this, &close] { close = closeRequested(); });
    return close;
}

void TForm::SetModalResult(TModalResult Value) {
    FModalResult = Value;
    if (Value != mrNone && FModalLoop)
        FModalLoop->exit();
}

TModalResult TForm::ShowModal() {
    if (Modal() || FForm->isVisible())
        throw Exception("Cannot make a visible window modal");
    FModalResult = mrNone;
    FInModal = true;
    FForm->setWindowModality(Qt::ApplicationModal);
    Show();
    for (;;) {
        if (FModalResult == mrNone && !Application->Terminated()) {
            QEventLoop loop;
            FModalLoop = &loop;
            loop.exec(QEventLoop::DialogExec);
            FModalLoop = nullptr;
        }
        if (Application->Terminated() && FModalResult == mrNone)
            FModalResult = mrCancel;
        if (FModalResult == mrNone)
            continue;
        bool canClose = true;
        TCloseAction action = caHide;
        Application->HandleEvent(this, [&] {
            canClose = CloseQuery();
            if (canClose && OnClose)
                OnClose(this, action);
        });
        if (!canClose || action == caNone) {
            FModalResult = mrNone;
            continue;
        }
        break;
    }
    FInModal = false;
    Hide();
    FForm->setWindowModality(Qt::NonModal);
    return FModalResult;
}

bool TForm::hostKey(int Key, Qt::KeyboardModifiers Modifiers) {
    if (Modifiers & (Qt::AltModifier | Qt::ControlModifier))
        return false;
    const bool enter = Key == Qt::Key_Return || Key == Qt::Key_Enter;
    const bool escape = Key == Qt::Key_Escape;
    if (!enter && !escape)
        return false;
    std::vector<TButton*> buttons;
    collectButtons(this, buttons);
    for (TButton* b : buttons) {
        if ((enter ? b->Default() : b->Cancel()) && b->CanFocus()) {
            Application->HandleEvent(b, [b] { b->Click(); });
            return true;
        }
    }
    return false;
}
