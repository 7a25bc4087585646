// The SQL Server connect dialog: "Database" joins the stored login values, and the server list
// comes from discovery, cached for the dialog's lifetime.
//
// The stored database is loaded through the connection's database setter, so a cancelled or
// failed Execute also puts the database back as it was: otherwise the value of an older login
// would stay in the connection although the user never confirmed it.

#include "dataaccess/MSConnectDialog.h"

#include "dataaccess/DARegistration.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSServices.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/DB.h"

namespace kv::dataaccess {

TMSConnectDialog::TMSConnectDialog(TComponent* AOwner) : TCustomConnectDialog(AOwner) {
    FDatabaseLabel = "Database";
}

TMSConnectDialog::~TMSConnectDialog() = default;

void TMSConnectDialog::GetServerList(TStrings* List) {
    if (FServerCache.Count() > 0) {
        List->Assign(&FServerCache);
        return;
    }
    TMSServerEnumerator enumerator;
    enumerator.GetServerList(List);
    FServerCache.Assign(List);
}

void TMSConnectDialog::LoadLoginInfo(kv::platform::RegistryKey& Key) {
    TCustomConnectDialog::LoadLoginInfo(Key);
    if (auto database = ReadRegistryText(Key, "Database"))
        if (auto* ms = dynamic_cast<TCustomMSConnection*>(Connection()))
            ms->SetDatabase(*database);
}

void TMSConnectDialog::SaveLoginInfo(kv::platform::RegistryKey& Key) {
    TCustomConnectDialog::SaveLoginInfo(Key);
    auto* ms = dynamic_cast<TCustomMSConnection*>(Connection());
    if (ms == nullptr)
        DatabaseError("Connection is not a SQL Server connection");
    (void)Key.writeString("Database", ms->Database());
}

void TMSConnectDialog::RememberConnection() {
    if (auto* ms = dynamic_cast<TCustomMSConnection*>(Connection()))
        FOldDatabase = ms->Database();
}

void TMSConnectDialog::RestoreConnection() {
    if (auto* ms = dynamic_cast<TCustomMSConnection*>(Connection()))
        if (ms->Database() != FOldDatabase)
            ms->SetDatabase(FOldDatabase);
}

namespace {

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    using D = TMSConnectDialog;
    ClassBuilder<TCustomConnectDialog>("TCustomConnectDialog", "TComponent").Abstract();
    // Stream order: the six texts come before LabelSet, so a stored lsCustom keeps them.
    ClassBuilder<D>("TMSConnectDialog", "TCustomConnectDialog")
        .Integer("Retries", &D::Retries, &D::SetRetries)
        .Default(3)
        .Bool("SavePassword", &D::SavePassword, &D::SetSavePassword)
        .Default(false)
        .String("DialogClass", &D::DialogClass, &D::SetDialogClass)
        .String("Caption", &D::Caption, &D::SetCaption)
        .String("UsernameLabel", &D::UsernameLabel, &D::SetUsernameLabel)
        .String("PasswordLabel", &D::PasswordLabel, &D::SetPasswordLabel)
        .String("ServerLabel", &D::ServerLabel, &D::SetServerLabel)
        .String("DatabaseLabel", &D::DatabaseLabel, &D::SetDatabaseLabel)
        .String("ConnectButton", &D::ConnectButton, &D::SetConnectButton)
        .String("CancelButton", &D::CancelButton, &D::SetCancelButton)
        .Enum("LabelSet", &LabelSetInfo, &D::LabelSet, &D::SetLabelSet)
        .Default(lsEnglish)
        .Bool("StoreLogInfo", &D::StoreLogInfo, &D::SetStoreLogInfo)
        .Default(true);
    RegisterConnectDialogClass("TMSConnectDialog",
                               [](TComponent* Owner) { return new TMSConnectDialog(Owner); });
    return true;
}();

} // namespace

bool detail::msConnectDialogClassesRegistered() {
    return registered;
}

} // namespace kv::dataaccess
