// TForm: a top-level window whose components come from a textual layout file.
//
// A form class derived from TForm declares its handlers and component fields in its constructor,
// then reads its layout:
//
//   TForm1::TForm1(TComponent* Owner) : TForm(Owner) {
//       Handler("KapatBTNClick", &TForm1::KapatBTNClick);   // named in the layout
//       Handler("FormCreate", &TForm1::FormCreate);
//       Bind(KapatBTN, "KapatBTN");                           // TButton* KapatBTN;
//       LoadLayout("Unit1");                                  // :/layouts/Unit1.layout
//   }
//
// LoadLayout reads the layout into the form (its root clause sets the form's own properties;
// nested clauses create components owned by the form, parented by the clause they sit in),
// resolves "OnClick = KapatBTNClick" through the handlers declared so far, binds the declared
// fields, and finally runs OnCreate. A field whose component is destroyed is reset to nullptr.
// The form's class is registered under ClassName() automatically when it is not registered yet,
// so override ClassName() in every form class.
//
// Layout names: "Unit1" means the resource ":/layouts/Unit1.layout"; otherwise the name is
// looked up as ":/layouts/NAME", then in the directories given to AddLayoutSearchPath(), then as
// a file path.
//
// Showing: Show()/Hide()/Close(); ShowModal() runs a nested message loop until ModalResult
// becomes non-zero (a button with a ModalResult, the close box (mrCancel) or code) and returns
// it. Enter clicks the visible, enabled Default button unless a button has the focus; Esc clicks
// the Cancel button.
#pragma once

#include "toolkit/Methods.h"
#include "toolkit/ui/Controls.h"
#include "toolkit/ui/qt_widgets_p.h"

#include <any>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QEventLoop;
class TButton;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TForm : public TWinControl, private kv::ui::internal::WidgetHost {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;
    std::string ClassName() const override { return "TForm"; }

    // Reads the named layout (see the header comment); EReadError and friends on bad layouts,
    // EFilerError when the layout does not exist.
    void LoadLayout(const std::string& LayoutName);
    // Reads a layout given as text (or binary stream data).
    void LoadLayoutData(std::string_view Data);
    static void AddLayoutSearchPath(const std::string& Directory);

    // Declares a handler that layouts can name: any std::function type of an event.
    template <class F>
    void Method(const std::string& Name, std::function<F> Handler) {
        FMethods.Add(Name, std::any(std::move(Handler)));
    }
    // Declares a member function of the derived form as a handler; its parameter list gives the
    // event type (void(TObject*) is a TNotifyEvent).
    template <class T, class... A>
    void Handler(const std::string& Name, void (T::*Fn)(A...)) {
        FMethods.Add(Name, std::any(kv::toolkit::Handler(static_cast<T*>(this), Fn)));
    }
    std::any MethodAddress(const std::string& Name) const override;

    // Binds a component field to the component of that name (after LoadLayout, or at once when
    // the layout is already read). A missing component or one of another class is an
    // EComponentError when the layout is read.
    template <class C>
    void Bind(C*& Field, const std::string& Name) {
        bindField(
            Name,
            [&Field](TComponent* Component) {
                C* typed = dynamic_cast<C*>(Component);
                if (Component && !typed)
                    return false;
                Field = typed;
                return true;
            },
            [&Field](TComponent* Component) {
                if (Field && static_cast<TComponent*>(Field) == Component)
                    Field = nullptr;
            });
    }

    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientWidth(int Value);
    void SetClientHeight(int Value);
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle Value);
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons Value);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition Value) { FPosition = Value; }
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool Value) { FKeyPreview = Value; }
    TWinControl* ActiveControl() const { return FActiveControl; }
    void SetActiveControl(TWinControl* Value);

    void SetVisible(bool Value) override;
    void Show();
    void Hide();
    void Close();
    TModalResult ShowModal();
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value);
    bool Modal() const { return FModalLoop != nullptr || FInModal; }
    // Kept for layouts written by the classic designer; they change nothing.
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int Value) { FPixelsPerInch = Value; }
    int TextHeight() const { return FTextHeight; }
    void SetTextHeight(int Value) { FTextHeight = Value; }
    bool OldCreateOrder() const { return FOldCreateOrder; }
    void SetOldCreateOrder(bool Value) { FOldCreateOrder = Value; }
    // Runs OnDestroy once. The application does this for the forms it owns before it destroys
    // them at the end of Run(); code that deletes a form itself calls it first (the destructor
    // cannot: the derived form's handlers are gone by then).
    void DoDestroy();
    // Runs OnCloseQuery; true when the form may close.
    virtual bool CloseQuery();

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void TextChanged() override;
    void ColorChanged() override;
    void BoundsChanged() override;
    void Loaded() override;
    bool OwnsWindow() const override { return true; }
    // Runs OnCreate (inside the event boundary).
    virtual void DoCreate();

private:
    friend class TButton;
    struct Binding {
        std::string Name;
        std::function<bool(TComponent*)> Assign;
        std::function<void(TComponent*)> Clear;
    };
    void bindField(const std::string& Name, std::function<bool(TComponent*)> Assign,
                   std::function<void(TComponent*)> Clear);
    void resolveBinding(const Binding& B);
    void applyWindowFlags();
    void applyFormGeometry();
    void placeOnShow();
    bool closeRequested(); // true: the window goes away
    void focusFirst();

    // WidgetHost
    void hostPaint(QPainter& Painter) override;
    void hostResized() override;
    bool hostCloseRequested() override;
    bool hostKey(int Key, Qt::KeyboardModifiers Modifiers) override;
    void hostShown() override;
    void hostHidden() override;

    kv::ui::internal::PaintedWidget* FForm = nullptr;
    kv::toolkit::MethodTable FMethods;
    std::vector<Binding> FBindings;
    bool FLayoutRead = false;
    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
    TPosition FPosition = poDesigned;
    bool FKeyPreview = false;
    TWinControl* FActiveControl = nullptr;
    TModalResult FModalResult = mrNone;
    QEventLoop* FModalLoop = nullptr;
    bool FInModal = false;
    bool FDestroyDone = false;
    bool FClosing = false;
    bool FSyncingSize = false;
    int FPixelsPerInch = 96;
    int FTextHeight = 13;
    bool FOldCreateOrder = false;
};

// Looks a layout up (see TForm) and returns its bytes; EFilerError "Layout %s not found".
std::string ReadLayoutFile(const std::string& LayoutName);
