#include "toolkit/ui/Application.h"

#include "toolkit/ui/Forms.h"
#include "toolkit/ui/qt_graphics.h"
#include "toolkit/ui/ui_registration_p.h"

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>
#include <QStyleFactory>
#include <filesystem>
#include <mutex>

using namespace kv::ui;

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = new TScreen();

std::function<void()> TUIHooks::StartWait;
std::function<void()> TUIHooks::StopWait;
std::function<void(TForm*)> TUIHooks::FormShowing;

namespace {

TMessageBoxHook& messageBoxHook() {
    static TMessageBoxHook hook;
    return hook;
}

int defaultMessageBox(const TMessageBoxRequest& Request) {
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(Request.Caption));
    box.setText(QString::fromStdString(Request.Text));
    switch (Request.Type) {
    case mtWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    case mtError:
        box.setIcon(QMessageBox::Critical);
        break;
    case mtInformation:
        box.setIcon(QMessageBox::Information);
        break;
    case mtConfirmation:
        box.setIcon(QMessageBox::Question);
        break;
    case mtCustom:
        break;
    }
    if (Request.Type == mtConfirmation) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? mrYes : mrNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return mrOk;
}

// The classic look: Qt's Windows style with the Windows classic scheme's colours.
void applyClassicLook(QApplication& app) {
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
        app.setStyle(style);
    QPalette palette;
    auto sys = [](int index) {
        return colorToQColor(static_cast<std::int32_t>(0x80000000u | index));
    };
    palette.setColor(QPalette::Window, sys(15));
    palette.setColor(QPalette::WindowText, sys(8));
    palette.setColor(QPalette::Base, sys(5));
    palette.setColor(QPalette::AlternateBase, sys(15));
    palette.setColor(QPalette::Text, sys(8));
    palette.setColor(QPalette::Button, sys(15));
    palette.setColor(QPalette::ButtonText, sys(18));
    palette.setColor(QPalette::Light, sys(20));
    palette.setColor(QPalette::Midlight, sys(22));
    palette.setColor(QPalette::Mid, sys(16));
    palette.setColor(QPalette::Dark, sys(16));
    palette.setColor(QPalette::Shadow, sys(21));
    palette.setColor(QPalette::Highlight, sys(13));
    palette.setColor(QPalette::HighlightedText, sys(14));
    palette.setColor(QPalette::ToolTipBase, sys(24));
    palette.setColor(QPalette::ToolTipText, sys(23));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, sys(17));
    palette.setColor(QPalette::Disabled, QPalette::Text, sys(17));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, sys(17));
    app.setPalette(palette);
    app.setFont(makeQFont("Tahoma", -11, false, false, false, false));
}

// Messages end with a full stop in the error box unless they already end in punctuation.
std::string withFullStop(std::string Text) {
    if (!Text.empty() && static_cast<unsigned char>(Text.back()) > '.')
        Text += '.';
    return Text;
}

} // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() = default;

bool TApplication::Initialized() const {
    return QApplication::instance() != nullptr;
}

void TApplication::Initialize() {
    static int argc = 1;
    static char name[] = "kelvora";
    static char* argv[] = {name, nullptr};
    Initialize(argc, argv);
}

void TApplication::Initialize(int& Argc, char** Argv) {
    registerUIClasses();
    if (QApplication::instance())
        return;
    FQtApp = std::make_unique<QApplication>(Argc, Argv);
    QApplication::setQuitOnLastWindowClosed(false);
    applyClassicLook(*FQtApp);
    registerToolkitFonts();
}

std::string TApplication::ExeName() const {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath().toStdString();
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

std::string TApplication::Title() const {
    if (!FTitle.empty())
        return FTitle;
    return QFileInfo(QString::fromStdString(ExeName())).completeBaseName().toStdString();
}

void TApplication::Run() {
    Initialize();
    FTerminated = false;
    if (FMainForm)
        HandleEvent(FMainForm, [this] { FMainForm->Show(); });
    if (!FTerminated && FMainForm) {
        FRunning = true;
        QApplication::exec();
        FRunning = false;
    }
    FMainForm = nullptr;
    for (int i = ComponentCount() - 1; i >= 0; --i)
        if (auto* form = dynamic_cast<TForm*>(Components(i)))
            form->DoDestroy();
    DestroyComponents();
    FTerminated = false; // a later Run() (tests) starts afresh
}

void TApplication::ProcessMessages() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Terminate() {
    FTerminated = true;
    if (FRunning)
        QCoreApplication::quit();
}

void TApplication::mainFormClosed() {
    Terminate();
}

void TApplication::HandleEvent(TObject* Sender, const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (...) {
        HandleException(Sender, std::current_exception());
    }
}

void TApplication::HandleException(TObject* Sender, std::exception_ptr Error) {
    try {
        try {
            std::rethrow_exception(Error);
        } catch (const EAbort&) {
            return;
        } catch (const std::exception& e) {
            if (OnException)
                OnException(Sender, e);
            else
                ShowException(e);
        } catch (...) {
            ShowException(Exception("Unknown exception"));
        }
    } catch (...) {
        // A failing error handler must not take the message loop down with it.
    }
}

void TApplication::ShowException(const std::exception& E) {
    const auto* ex = dynamic_cast<const Exception*>(&E);
    MessageBox(withFullStop(ex ? ex->Message() : std::string(E.what())), Title(), mtError);
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption,
                             TMsgDlgType Type) {
    const TMessageBoxRequest request{Caption.empty() ? Title() : Caption, Text, Type};
    if (const TMessageBoxHook& hook = messageBoxHook())
        return hook(request);
    Initialize();
    return defaultMessageBox(request);
}

TMessageBoxHook TApplication::SetMessageBoxHook(TMessageBoxHook Hook) {
    TMessageBoxHook previous = std::move(messageBoxHook());
    messageBoxHook() = std::move(Hook);
    return previous;
}

void TScreen::SetCursor(TCursor Value) {
    if (Value == FCursor)
        return;
    const bool hadOverride = FCursor != crDefault;
    FCursor = Value;
    if (!QApplication::instance())
        return;
    if (Value == crDefault) {
        if (hadOverride)
            QApplication::restoreOverrideCursor();
        return;
    }
    const QCursor cursor(Value == crSQLWait     ? Qt::BusyCursor
                         : Value == crHourGlass ? Qt::WaitCursor
                                                : Qt::ArrowCursor);
    if (hadOverride)
        QApplication::changeOverrideCursor(cursor);
    else
        QApplication::setOverrideCursor(cursor);
}

void StartWait() {
    if (TUIHooks::StartWait)
        TUIHooks::StartWait();
}

void StopWait() {
    if (TUIHooks::StopWait)
        TUIHooks::StopWait();
}

void ShowMessage(const std::string& Text) {
    Application->MessageBox(Text, {}, mtInformation);
}
