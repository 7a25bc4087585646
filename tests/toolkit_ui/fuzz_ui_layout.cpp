// Fuzz target: a window layout (textual or binary component form) read into a form of the real
// controls, as a window reads its layout when it is created: the toolkit's controls, the skin
// engine and the skinned buttons. The form is then laid out and painted offscreen. The
// data-access components a layout may hold are stood in for by plain components with the same
// published properties, so that no read can open a connection.
#include "skin/SkinButton.h"
#include "skin/SkinEngine.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/Pictures.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// The handlers the product's layouts name; each does nothing.
const char* const kHandlers[] = {
    "AttBtnClick",      "BaglanBTNClick", "DSYenileBtnClick",   "DeattBTNClick",
    "FormCreate",       "KapatBTNClick",  "LogBTNClick",        "MSConError",
    "MSSQLMonitor1SQL", "OnarBTNClick",   "SrvBaslatBtnClick",  "SrvDurdurBtnClick",
    "Timer1Timer",      "btConnectClick", "edDatabaseDropDown", "edServerDropDown",
    "FormShow",         "FormClose",      "FormDestroy"};

class TFuzzForm : public TForm {
public:
    explicit TFuzzForm(TComponent* Owner) : TForm(Owner) {
        for (const char* name : kHandlers)
            Method<void(TObject*)>(name, [](TObject*) {});
    }
    std::string ClassName() const override { return "TFuzzForm"; }
};

// Stand-ins for the data-access components of the main window and the login forms.
class TFuzzConnectionOptions : public TPersistent {
public:
    std::string ClassName() const override { return "TFuzzConnectionOptions"; }
    bool DisconnectedMode = false;
};

class TFuzzConnection : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TMSConnection"; }
    TFuzzConnectionOptions Options;
    bool LoginPrompt = true;
    bool Connected = false;
    std::string Server, Database, Username, Password;
    TComponent* ConnectDialog = nullptr;
    TNotifyEvent OnError;
    TComponent* GetConnectDialog() const { return ConnectDialog; }
    void SetConnectDialog(TComponent* c) { ConnectDialog = c; }
};

class TFuzzQuery : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TMSQuery"; }
    TComponent* Connection = nullptr;
    std::string SQL;
    TComponent* GetConnection() const { return Connection; }
    void SetConnection(TComponent* c) { Connection = c; }
};

class TFuzzMonitor : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TMSSQLMonitor"; }
    bool Active = true;
    TNotifyEvent OnSQL;
};

const TEnumInfo kLabelSets{"TLabelSet",
                           {"lsCustom", "lsEnglish", "lsFrench", "lsGerman", "lsItalian",
                            "lsPolish", "lsPortuguese", "lsRussian", "lsSpanish"}};

class TFuzzConnectDialog : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TMSConnectDialog"; }
    std::string DialogClass, Caption, UsernameLabel, PasswordLabel, ServerLabel, DatabaseLabel,
        ConnectButton, CancelButton;
    int LabelSet = 1;
    bool StoreLogInfo = true;
    int GetLabelSet() const { return LabelSet; }
    void SetLabelSet(int v) { LabelSet = v; }
};

void registerStandIns() {
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TFuzzConnectionOptions>("TFuzzConnectionOptions", "TPersistent")
        .Bool("DisconnectedMode", &TFuzzConnectionOptions::DisconnectedMode);
    using C = TFuzzConnection;
    ClassBuilder<C>("TMSConnection", "TComponent")
        .Object("Options", &C::Options)
        .Bool("LoginPrompt", &C::LoginPrompt)
        .Bool("Connected", &C::Connected)
        .String("Server", &C::Server)
        .String("Database", &C::Database)
        .String("Username", &C::Username)
        .String("Password", &C::Password)
        .Component("ConnectDialog", &C::GetConnectDialog, &C::SetConnectDialog)
        .Event("OnError", &C::OnError);
    ClassBuilder<TFuzzQuery>("TMSQuery", "TComponent")
        .Component("Connection", &TFuzzQuery::GetConnection, &TFuzzQuery::SetConnection)
        .String("SQL", &TFuzzQuery::SQL);
    ClassBuilder<TFuzzMonitor>("TMSSQLMonitor", "TComponent")
        .Bool("Active", &TFuzzMonitor::Active)
        .Event("OnSQL", &TFuzzMonitor::OnSQL);
    using D = TFuzzConnectDialog;
    ClassBuilder<D>("TMSConnectDialog", "TComponent")
        .String("DialogClass", &D::DialogClass)
        .String("Caption", &D::Caption)
        .String("UsernameLabel", &D::UsernameLabel)
        .String("PasswordLabel", &D::PasswordLabel)
        .String("ServerLabel", &D::ServerLabel)
        .String("DatabaseLabel", &D::DatabaseLabel)
        .String("ConnectButton", &D::ConnectButton)
        .String("CancelButton", &D::CancelButton)
        .Enum("LabelSet", &kLabelSets, &D::GetLabelSet, &D::SetLabelSet)
        .Bool("StoreLogInfo", &D::StoreLogInfo);
}

} // namespace

// fontconfig keeps its configuration caches for the life of the process (as in the offscreen
// tests, lsan.supp); the leak check would report them after the first font look-up.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(*argc, *argv);
    Application->Initialize();
    AddPictureSearchPath(KELVORA_FUZZ_PICTURES);
    // Linking the skinned controls registers them; these references keep their code linked.
    delete new TSkinEngine(nullptr);
    delete new TSkinButton(nullptr);
    registerStandIns();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view layout(reinterpret_cast<const char*>(data), size);
    auto* form = new TFuzzForm(nullptr);
    try {
        form->LoadLayoutData(layout);
        if (QWidget* widget = form->Widget()) {
            // The form and its controls at their layout size, painted once.
            (void)widget->grab();
        }
    } catch (const Exception& e) {
        // Why a layout was refused, when asked for (reading the seeds by hand).
        if (std::getenv("KELVORA_FUZZ_VERBOSE"))
            std::fprintf(stderr, "layout refused: %s\n", e.Message().c_str());
    }
    form->DoDestroy();
    delete form;
    QApplication::processEvents();
    return 0;
}
