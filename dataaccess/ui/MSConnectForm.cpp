// The default login form. See MSConnectForm.h.

#include "dataaccess/ui/MSConnectForm.h"

#include "dataaccess/MSAccess.h"
#include "dataaccess/OLEDBErrors.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/StdCtrls.h"

#include <cstdint>

using kv::dataaccess::EMSError;
using kv::dataaccess::TCustomConnectDialog;
using kv::dataaccess::TCustomMSConnection;

namespace {

constexpr int kLastNetworkErrorNumber = 17;
constexpr std::uint32_t kAuthenticationFailed = 0x80040E4Du; // DB_SEC_E_AUTH_FAILED

// Restores the screen cursor on every way out.
class CursorScope {
public:
    CursorScope() : FOld(Screen->Cursor()) { Screen->SetCursor(crSQLWait); }
    ~CursorScope() { Screen->SetCursor(FOld); }
    CursorScope(const CursorScope&) = delete;
    CursorScope& operator=(const CursorScope&) = delete;

private:
    TCursor FOld;
};

} // namespace

TMSConnectForm::TMSConnectForm(TComponent* AOwner) : TForm(AOwner) {
    Handler("btConnectClick", &TMSConnectForm::btConnectClick);
    Handler("edServerDropDown", &TMSConnectForm::edServerDropDown);
    Handler("edDatabaseDropDown", &TMSConnectForm::edDatabaseDropDown);
    Bind(Panel, "Panel");
    Bind(lbUsername, "lbUsername");
    Bind(lbPassword, "lbPassword");
    Bind(lbServer, "lbServer");
    Bind(lbDatabase, "lbDatabase");
    Bind(edUsername, "edUsername");
    Bind(edPassword, "edPassword");
    Bind(edServer, "edServer");
    Bind(edDatabase, "edDatabase");
    Bind(btConnect, "btConnect");
    Bind(btCancel, "btCancel");
    LoadLayout("MSConnectForm");
}

TMSConnectForm::~TMSConnectForm() = default;

void TMSConnectForm::SetConnectDialog(TCustomConnectDialog* Value) {
    FConnectDialog = Value;
    ApplyDialog();
}

void TMSConnectForm::ApplyDialog() {
    FRetry = false;
    if (FConnectDialog == nullptr)
        return;
    FRetries = FConnectDialog->Retries();
    SetCaption(FConnectDialog->Caption());
    FListGot = false;
    lbUsername->SetCaption(FConnectDialog->UsernameLabel());
    lbPassword->SetCaption(FConnectDialog->PasswordLabel());
    lbServer->SetCaption(FConnectDialog->ServerLabel());
    btConnect->SetCaption(FConnectDialog->ConnectButton());
    btCancel->SetCaption(FConnectDialog->CancelButton());

    auto* connection = FConnectDialog->Connection();
    if (connection != nullptr) {
        edUsername->SetText(connection->Username());
        edPassword->SetText(connection->Password());
        edServer->SetText(connection->Server());
        if (!edUsername->Text().empty() && edPassword->Text().empty())
            SetActiveControl(edPassword);
    }
    if (PPropInfo label = GetPropInfo(FConnectDialog, "DatabaseLabel");
        label != nullptr && label->Kind == pkString)
        lbDatabase->SetCaption(GetStrProp(FConnectDialog, label));
    if (auto* ms = dynamic_cast<TCustomMSConnection*>(connection)) {
        edDatabase->SetText(ms->Database());
        if (ms->MSOptions()->Provider() == kv::dataaccess::prCompact) {
            lbUsername->SetEnabled(false);
            edUsername->SetText(std::string());
            edUsername->SetEnabled(false);
            lbServer->SetEnabled(false);
            edServer->SetText(std::string());
            edServer->SetEnabled(false);
            edDatabase->SetStyle(csSimple);
        }
    }
}

void TMSConnectForm::TryConnect() {
    auto* connection = FConnectDialog != nullptr ? FConnectDialog->Connection() : nullptr;
    if (connection == nullptr)
        return;
    connection->SetPassword(edPassword->Text());
    connection->SetServer(edServer->Text());
    connection->SetUsername(edUsername->Text());
    if (auto* ms = dynamic_cast<TCustomMSConnection*>(connection))
        ms->SetDatabase(edDatabase->Text());
    try {
        connection->ConnectWithEvents(FRetry);
        SetModalResult(mrOk);
    } catch (EMSError& E) {
        --FRetries;
        FRetry = true;
        if (FRetries == 0)
            SetModalResult(mrCancel);
        if (E.ErrorNumber() <= kLastNetworkErrorNumber)
            SetActiveControl(edServer);
        else if (static_cast<std::uint32_t>(E.ProviderResult()) == kAuthenticationFailed &&
                 ActiveControl() != edUsername)
            SetActiveControl(edPassword);
        throw;
    }
}

void TMSConnectForm::btConnectClick(TObject* /*Sender*/) {
    TryConnect();
}

void TMSConnectForm::edServerDropDown(TObject* /*Sender*/) {
    if (FListGot || FConnectDialog == nullptr)
        return;
    FListGot = true;
    CursorScope cursor;
    TStringList servers;
    FConnectDialog->GetServerList(&servers);
    edServer->Items()->Assign(&servers);
}

void TMSConnectForm::edDatabaseDropDown(TObject* /*Sender*/) {
    auto* connection =
        FConnectDialog != nullptr
            ? dynamic_cast<kv::dataaccess::TMSConnection*>(FConnectDialog->Connection())
            : nullptr;
    if (connection == nullptr)
        return;
    edDatabase->Items()->Clear();
    const bool oldLoginPrompt = connection->LoginPrompt();
    const bool wasConnected = connection->Connected();
    CursorScope cursor;
    auto restore = [&] {
        try {
            connection->SetConnected(wasConnected);
        } catch (...) {
            connection->SetLoginPrompt(oldLoginPrompt);
            throw;
        }
        connection->SetLoginPrompt(oldLoginPrompt);
    };
    try {
        connection->SetPassword(edPassword->Text());
        connection->SetServer(edServer->Text());
        connection->SetUsername(edUsername->Text());
        connection->SetLoginPrompt(false);
        TStringList names;
        connection->GetDatabaseNames(&names);
        edDatabase->Items()->Assign(&names);
    } catch (...) {
        // The connection's own error travels on; a failure of the restore cannot hide it.
        try {
            restore();
        } catch (...) {
        }
        throw;
    }
    restore();
}

namespace kv::dataaccess::ui {

void RegisterMSConnectForm() {
    if (GetClass("TMSConnectForm") != nullptr)
        return;
    kv::toolkit::ClassBuilder<TMSConnectForm>("TMSConnectForm", "TForm")
        .Component("ConnectDialog", &TMSConnectForm::ConnectDialog,
                   &TMSConnectForm::SetConnectDialog);
}

} // namespace kv::dataaccess::ui
