#pragma once
// TMSConnectForm: the data-access layer's default login form (user name, password, server,
// database), used by a TMSConnectDialog whose DialogClass is empty. The server list is fetched
// on the first opening of the server box, the database list on every opening of the database
// box, both under the SQL wait cursor.

#include "toolkit/ui/Forms.h"

class TPanel;
class TLabel;
class TEdit;
class TComboBox;
class TButton;

namespace kv::dataaccess {
class TCustomConnectDialog;
}

class TMSConnectForm : public TForm {
public:
    explicit TMSConnectForm(TComponent* AOwner);
    ~TMSConnectForm() override;
    std::string ClassName() const override { return "TMSConnectForm"; }

    kv::dataaccess::TCustomConnectDialog* ConnectDialog() const { return FConnectDialog; }
    void SetConnectDialog(kv::dataaccess::TCustomConnectDialog* Value);

    virtual void ApplyDialog();
    virtual void TryConnect();
    void btConnectClick(TObject* Sender);
    void edServerDropDown(TObject* Sender);
    void edDatabaseDropDown(TObject* Sender);

    TPanel* Panel = nullptr;
    TLabel* lbUsername = nullptr;
    TLabel* lbPassword = nullptr;
    TLabel* lbServer = nullptr;
    TLabel* lbDatabase = nullptr;
    TEdit* edUsername = nullptr;
    TEdit* edPassword = nullptr;
    TComboBox* edServer = nullptr;
    TComboBox* edDatabase = nullptr;
    TButton* btConnect = nullptr;
    TButton* btCancel = nullptr;

private:
    kv::dataaccess::TCustomConnectDialog* FConnectDialog = nullptr;
    int FRetries = 0;
    bool FRetry = false;
    bool FListGot = false;
};
