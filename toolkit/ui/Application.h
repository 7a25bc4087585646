// The application object, the screen (cursor) and the standard message boxes.
//
// `Application` exists from program start; Initialize() creates Qt's application object (if the
// program has not made one), registers the layouts' fonts and selects the classic look. Any
// control created before Initialize() initialises the application itself.
//
// Event boundary: every handler that Qt calls on the toolkit's behalf (clicks, timer ticks,
// key presses of forms) runs inside HandleEvent(). An exception that leaves a handler ends
// there: EAbort is dropped silently, any other exception goes to HandleException(), which calls
// OnException when set and otherwise ShowException(): the standard error box with the message.
//
// The error box itself goes through a replaceable hook (SetMessageBoxHook), so tests and
// headless runs can observe it instead of blocking on a modal box.
#pragma once

#include "toolkit/Component.h"
#include "toolkit/SysUtils.h"
#include "toolkit/UITypes.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QApplication;
class TForm;

// Message box kinds.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// What a message box shows: the caption (window title), the text and its kind.
struct TMessageBoxRequest {
    std::string Caption;
    std::string Text;
    TMsgDlgType Type = mtError;
};
// Shows a message box and returns the button pressed (mrOk for the error box).
using TMessageBoxHook = std::function<int(const TMessageBoxRequest&)>;

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* AOwner);
    ~TApplication() override;
    std::string ClassName() const override { return "TApplication"; }

    // Creates the Qt application (once), registers the fonts, sets the classic style.
    void Initialize();
    void Initialize(int& Argc, char** Argv);
    bool Initialized() const;

    // Creates a form owned by the application; the first one becomes the main form.
    template <class T>
    T* CreateForm(T** Reference = nullptr) {
        Initialize();
        T* form = new T(this);
        if (Reference)
            *Reference = form;
        if (!FMainForm)
            FMainForm = form;
        return form;
    }

    // Shows the main form and runs the message loop until the main form closes (or
    // Terminate()); then destroys the forms the application owns.
    void Run();
    // Handles every pending event, then returns.
    void ProcessMessages();
    // Ends the message loop of Run().
    void Terminate();
    bool Terminated() const { return FTerminated; }

    TForm* MainForm() const { return FMainForm; }
    void SetMainForm(TForm* Form) { FMainForm = Form; }
    // Default: the executable's file name without its extension.
    std::string Title() const;
    void SetTitle(const std::string& Value) { FTitle = Value; }
    std::string ExeName() const;

    // Runs Handler as an event of Sender: nothing escapes (see the header comment).
    void HandleEvent(TObject* Sender, const std::function<void()>& Handler);
    // Called from a catch block (or with the exception at hand): shows or drops it.
    void HandleException(TObject* Sender, std::exception_ptr Error);
    // The standard error box for E (EAbort too, when called directly).
    void ShowException(const std::exception& E);
    // A message box with Application's title.
    int MessageBox(const std::string& Text, const std::string& Caption = std::string(),
                   TMsgDlgType Type = mtInformation);

    TExceptionEvent OnException;

    // Replaces the message box (returns the previous hook; an empty hook restores the modal
    // QMessageBox).
    static TMessageBoxHook SetMessageBoxHook(TMessageBoxHook Hook);

private:
    friend class TForm;
    void mainFormClosed();

    std::unique_ptr<QApplication> FQtApp;
    TForm* FMainForm = nullptr;
    std::string FTitle;
    bool FTerminated = false;
    bool FRunning = false;
};

extern TApplication* Application;

// Screen cursors (Windows values of the original toolkit).
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crSQLWait = -17;

// The screen: the cursor shown over all windows of the application.
class TScreen {
public:
    TCursor Cursor() const { return FCursor; }
    // crDefault restores the windows' own cursors; crHourGlass and crSQLWait show the busy
    // cursor everywhere.
    void SetCursor(TCursor Value);

private:
    TCursor FCursor = crDefault;
};

extern TScreen* Screen;

// Process-wide hooks that other layers install (the data-access layer's busy cursor and its
// notice before a form of its own is shown). Empty slots do nothing.
struct TUIHooks {
    // Called when a long operation starts / ends (default: no hook; the data-access layer
    // installs Screen->SetCursor(crSQLWait) / crDefault).
    static std::function<void()> StartWait;
    static std::function<void()> StopWait;
    // Called with every form right before it is shown (Show or ShowModal).
    static std::function<void(TForm*)> FormShowing;
};

// Runs TUIHooks::StartWait / StopWait when installed.
void StartWait();
void StopWait();

// A message box with the application's title (ShowMessage: information, OK).
void ShowMessage(const std::string& Text);
