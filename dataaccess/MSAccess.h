#pragma once
// The SQL Server connection component: TCustomMSConnection (database, isolation level, the
// session object over OLE DB) and TMSConnection (authentication, login time-out, the full
// option set, information messages), with their options classes.

#include "dataaccess/DBAccess.h"
#include "dataaccess/OLEDBAccess.h"

namespace kv::dataaccess {

class TCustomMSConnection;

class TCustomMSConnectionOptions : public TDAConnectionOptions {
public:
    explicit TCustomMSConnectionOptions(TCustomMSConnection* Owner);
    std::string ClassName() const override { return "TCustomMSConnectionOptions"; }
    void Assign(TPersistent* Source) override;

    bool QuotedIdentifier() const { return FQuotedIdentifier; }
    void SetQuotedIdentifier(bool Value);
    const std::string& Language() const { return FLanguage; }
    void SetLanguage(const std::string& Value);
    TNumericType NumericType() const { return FNumericType; }
    void SetNumericType(TNumericType Value) { FNumericType = Value; }
    bool Encrypt() const { return FEncrypt; }
    void SetEncrypt(bool Value);
    TOLEDBProvider Provider() const { return FProvider; }
    void SetProvider(TOLEDBProvider Value);
    int DefaultLockTimeout() const { return FDefaultLockTimeout; }
    void SetDefaultLockTimeout(int Value);

protected:
    // Stores through Assign-free setters: refuses on an open connection, then hands over.
    template <class V>
    void Change(V& Field, const V& Value, TSessionOption Option);
    TCustomMSConnection* MSOwner() const;

private:
    bool FQuotedIdentifier = true;
    std::string FLanguage;
    TNumericType FNumericType = ntFloat;
    bool FEncrypt = false;
    TOLEDBProvider FProvider = prAuto;
    int FDefaultLockTimeout = 2000;
};

class TMSConnectionOptions : public TCustomMSConnectionOptions {
public:
    explicit TMSConnectionOptions(TCustomMSConnection* Owner) : TCustomMSConnectionOptions(Owner) {}
    std::string ClassName() const override { return "TMSConnectionOptions"; }
    void Assign(TPersistent* Source) override;

    bool PersistSecurityInfo() const { return FPersistSecurityInfo; }
    void SetPersistSecurityInfo(bool Value);
    bool AutoTranslate() const { return FAutoTranslate; }
    void SetAutoTranslate(bool Value);
    const std::string& NetworkLibrary() const { return FNetworkLibrary; }
    void SetNetworkLibrary(const std::string& Value);
    const std::string& ApplicationName() const { return FApplicationName; }
    void SetApplicationName(const std::string& Value);
    const std::string& WorkstationID() const { return FWorkstationID; }
    void SetWorkstationID(const std::string& Value);
    int PacketSize() const { return FPacketSize; }
    void SetPacketSize(int Value);
    const std::string& InitialFileName() const { return FInitialFileName; }
    void SetInitialFileName(const std::string& Value);
    bool MultipleActiveResultSets() const { return FMultipleActiveResultSets; }
    void SetMultipleActiveResultSets(bool Value);
    const std::string& FailoverPartner() const { return FFailoverPartner; }
    void SetFailoverPartner(const std::string& Value);
    bool TrustServerCertificate() const { return FTrustServerCertificate; }
    void SetTrustServerCertificate(bool Value);

private:
    bool FPersistSecurityInfo = false;
    bool FAutoTranslate = true;
    std::string FNetworkLibrary;
    std::string FApplicationName;
    std::string FWorkstationID;
    int FPacketSize = 4096;
    std::string FInitialFileName;
    bool FMultipleActiveResultSets = false;
    std::string FFailoverPartner;
    bool FTrustServerCertificate = false;
};

class TCustomMSConnection : public TCustomDAConnection {
public:
    explicit TCustomMSConnection(TComponent* AOwner);
    ~TCustomMSConnection() override;
    std::string ClassName() const override { return "TCustomMSConnection"; }
    void Assign(TPersistent* Source) override;

    const std::string& Database() const { return FDatabase; }
    void SetDatabase(const std::string& Value);
    TIsolationLevel IsolationLevel() const;
    void SetIsolationLevel(TIsolationLevel Value);
    TCustomMSConnectionOptions* MSOptions() const;

    // The session object (created on first connect).
    TOLEDBConnection* OLEDBSession() const;
    // Hands one option to the session object, when there is one.
    void ApplySessionOption(TSessionOption Option, const TSessionValue& Value);

    TCustomDASQLMonitor* SQLMonitor() const override;

    // Clears List and appends the names of the server's databases (MSDatabaseNames.cpp).
    // Connects for the duration when not connected.
    void GetDatabaseNames(TStrings* List);

protected:
    std::unique_ptr<TPVConnection> CreateSessionObject() override;
    void AttachSessionObject(std::unique_ptr<TPVConnection> Session) override;
    TConnectDialogClass ConnectDialogClass() const override;
    std::unique_ptr<TDAConnectionOptions> CreateOptions() override;
    void PushSessionOptions() override;
    std::string PoolKey() const override;
    void OpenLink() override;
    bool ClientsAllowReconnect(TConnLostCause Cause, TComponent* ErrorComponent) const override;

private:
    std::string FDatabase;
};

class TMSConnection : public TCustomMSConnection {
public:
    explicit TMSConnection(TComponent* AOwner);
    ~TMSConnection() override;
    std::string ClassName() const override { return "TMSConnection"; }
    void Assign(TPersistent* Source) override;

    TMSAuthentication Authentication() const { return FAuthentication; }
    void SetAuthentication(TMSAuthentication Value);
    int ConnectionTimeout() const { return FConnectionTimeout; }
    void SetConnectionTimeout(int Value);
    TMSConnectionOptions* Options() const;
    // Computed from the login values; never stored.
    std::string ConnectString() const;

    std::function<void(TObject* Sender, EMSError& E)> OnInfoMessage;

protected:
    bool NeedsLoginPrompt() const override;
    std::unique_ptr<TDAConnectionOptions> CreateOptions() override;
    void PushSessionOptions() override;
    void AttachSessionObject(std::unique_ptr<TPVConnection> Session) override;
    std::string PoolKey() const override;

private:
    TMSAuthentication FAuthentication = auServer;
    int FConnectionTimeout = 15;
};

} // namespace kv::dataaccess
