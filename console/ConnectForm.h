#pragma once
// TConnectForm: the console's own login form, shown by the connect dialog MSConnectDialog1
// (its DialogClass names this class). User name, password and server only: the connection keeps
// its database.
//
// The dialog creates the form by class name, hands itself over through the published property
// ConnectDialog (which fills the form, ApplyDialog), shows it modally and frees it. The connect
// button runs TryConnect; an error leaves the click handler for the application's standard
// error handling, so the form stays open unless the attempts ran out.

#include "toolkit/ui/Forms.h"

class TPanel;
class TLabel;
class TEdit;
class TComboBox;
class TButton;

namespace kv::dataaccess {
class TCustomConnectDialog;
}

class TConnectForm : public TForm {
public:
    explicit TConnectForm(TComponent* AOwner);
    ~TConnectForm() override;
    std::string ClassName() const override { return "TConnectForm"; }

    kv::dataaccess::TCustomConnectDialog* ConnectDialog() const { return FConnectDialog; }
    void SetConnectDialog(kv::dataaccess::TCustomConnectDialog* Value);

    virtual void ApplyDialog();
    virtual void TryConnect();
    void btConnectClick(TObject* Sender);

    int Attempts() const { return FRetries; }
    bool RetryFlag() const { return FRetry; }

    TPanel* Panel = nullptr;
    TLabel* lbUsername = nullptr;
    TLabel* lbPassword = nullptr;
    TLabel* lbServer = nullptr;
    TEdit* edUsername = nullptr;
    TEdit* edPassword = nullptr;
    TComboBox* edServer = nullptr;
    TButton* btConnect = nullptr;
    TButton* btCancel = nullptr;

private:
    kv::dataaccess::TCustomConnectDialog* FConnectDialog = nullptr;
    int FRetries = 0;
    bool FRetry = false;
};

namespace kv::console {
// Registers TConnectForm under its class name unless a class of that name is registered.
void RegisterConnectForm();
} // namespace kv::console
