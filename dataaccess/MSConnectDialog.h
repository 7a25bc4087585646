#pragma once
// TMSConnectDialog: the SQL Server connect dialog. Adds the database (label, stored value), the
// library's registry path and a server list from discovery (MSServices.h) that is kept for the
// dialog's lifetime once a discovery has found a server.

#include "dataaccess/DBAccess.h"

namespace kv::dataaccess {

class TMSConnectDialog : public TCustomConnectDialog {
public:
    explicit TMSConnectDialog(TComponent* AOwner);
    ~TMSConnectDialog() override;
    std::string ClassName() const override { return "TMSConnectDialog"; }

    const std::string& DatabaseLabel() const { return FDatabaseLabel; }
    void SetDatabaseLabel(const std::string& Value) { FDatabaseLabel = Value; }

    void GetServerList(TStrings* List) override;
    std::string KeyPath() const override { return "\\SOFTWARE\\Quorix\\Nuvo\\"; }
    std::string DefaultDialogClass() const override { return "TMSConnectForm"; }
    void LoadLoginInfo(kv::platform::RegistryKey& Key) override;
    void SaveLoginInfo(kv::platform::RegistryKey& Key) override;

    // The servers discovered so far (empty until a discovery found one).
    const TStringList& ServerCache() const { return FServerCache; }

protected:
    void RememberConnection() override;
    void RestoreConnection() override;

private:
    TStringList FServerCache;
    std::string FDatabaseLabel;
    std::string FOldDatabase;
};

} // namespace kv::dataaccess
