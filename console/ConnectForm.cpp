// The console's login form. See ConnectForm.h.
//
// The server list is asked for once, when the form is filled. Discovery may fail (a socket that
// cannot be opened, a malformed answer from some machine on the network); that failure is shown
// in the standard error box and the form opens with an empty list, so that one bad answer does
// not keep the user from logging in.

#include "console/ConnectForm.h"

#include "dataaccess/DBAccess.h"
#include "dataaccess/OLEDBErrors.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/StdCtrls.h"

#include <cstdint>

using kv::dataaccess::EMSError;
using kv::dataaccess::TCustomConnectDialog;

namespace {
constexpr int kLastNetworkErrorNumber = 17; // "SQL Server does not exist or access denied."
constexpr std::uint32_t kAuthenticationFailed = 0x80040E4Du; // DB_SEC_E_AUTH_FAILED
} // namespace

TConnectForm::TConnectForm(TComponent* AOwner) : TForm(AOwner) {
    Handler("btConnectClick", &TConnectForm::btConnectClick);
    Bind(Panel, "Panel");
    Bind(lbUsername, "lbUsername");
    Bind(lbPassword, "lbPassword");
    Bind(lbServer, "lbServer");
    Bind(edUsername, "edUsername");
    Bind(edPassword, "edPassword");
    Bind(edServer, "edServer");
    Bind(btConnect, "btConnect");
    Bind(btCancel, "btCancel");
    LoadLayout("ConnectForm");
}

TConnectForm::~TConnectForm() = default;

void TConnectForm::SetConnectDialog(TCustomConnectDialog* Value) {
    FConnectDialog = Value;
    ApplyDialog();
}

void TConnectForm::ApplyDialog() {
    FRetry = false;
    if (FConnectDialog == nullptr)
        return;
    FRetries = FConnectDialog->Retries();
    SetCaption(FConnectDialog->Caption());
    lbUsername->SetCaption(FConnectDialog->UsernameLabel());
    lbPassword->SetCaption(FConnectDialog->PasswordLabel());
    lbServer->SetCaption(FConnectDialog->ServerLabel());
    btConnect->SetCaption(FConnectDialog->ConnectButton());
    btCancel->SetCaption(FConnectDialog->CancelButton());

    TStringList servers;
    try {
        FConnectDialog->GetServerList(&servers);
    } catch (...) {
        servers.Clear();
        Application->HandleException(this, std::current_exception());
    }
    edServer->Items()->Assign(&servers);

    if (auto* connection = FConnectDialog->Connection()) {
        edUsername->SetText(connection->Username());
        edPassword->SetText(connection->Password());
        edServer->SetText(connection->Server());
    }
    if (!edUsername->Text().empty() && edPassword->Text().empty())
        SetActiveControl(edPassword);
    else
        SetActiveControl(edUsername);
}

void TConnectForm::TryConnect() {
    auto* connection = FConnectDialog != nullptr ? FConnectDialog->Connection() : nullptr;
    if (connection == nullptr)
        return;
    // This order: each changed value closes an open link.
    connection->SetPassword(edPassword->Text());
    connection->SetServer(edServer->Text());
    connection->SetUsername(edUsername->Text());
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

void TConnectForm::btConnectClick(TObject* /*Sender*/) {
    TryConnect();
}

namespace kv::console {

void RegisterConnectForm() {
    if (GetClass("TConnectForm") != nullptr)
        return;
    kv::toolkit::ClassBuilder<TConnectForm>("TConnectForm", "TForm")
        .Component("ConnectDialog", &TConnectForm::ConnectDialog, &TConnectForm::SetConnectDialog);
}

} // namespace kv::console
