#pragma once
// TOLEDBConnection: the physical link of one connection component to SQL Server through an
// OLE DB provider.
//
// It picks an installed provider, hands it the initialisation properties, initialises the data
// source, opens one session, reads a few server facts back and runs the statements the link
// itself needs. Every failing provider call goes through CheckResult, which builds the error
// object (OLEDBErrors.h) and runs the connection's error handling (PVConnection.h).
//
// Options are stored with SetSessionOption; only the database and the quoted-identifier
// option act on an open link, all others take effect at the next open.

#include "dataaccess/OLEDBErrors.h"
#include "dataaccess/PVConnection.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace kv::dataaccess {

class TOLEDBPropertiesSet;

enum TOLEDBProvider : int { prAuto, prSQL, prNativeClient, prCompact };
enum TMSAuthentication : int { auWindows, auServer };
enum TNumericType : int { ntFloat, ntBCD, ntFmtBCD };

enum TSessionOption {
    soDatabase,
    soAuthentication,
    soProvider,
    soConnectionTimeout,
    soQuotedIdentifier,
    soLanguage,
    soEncrypt,
    soPersistSecurityInfo,
    soAutoTranslate,
    soNetworkLibrary,
    soPacketSize,
    soApplicationName,
    soWorkstationID,
    soInitialFileName,
    soFailoverPartner,
    soMultipleActiveResultSets,
    soTrustServerCertificate,
    soDefaultLockTimeout, // > 0 enables the lock time-out statement with that value
    soNativeClientVersion,
    soCompactVersion,
    soNumericType,
    soDisconnectedMode,
    soIsolationLevel
};

using TSessionValue = std::variant<bool, int, std::string>;

// The OLE DB constant of DBPROP_SESS_AUTOCOMMITISOLEVELS for a level; a plain Exception
// "Unsupported transaction isolation level" for any other value.
std::int32_t OLEDBIsolationLevel(TIsolationLevel Level);

// The file name (without folder) of the running executable; the application name sent to the
// server when none is set. The program may set it at start-up; otherwise it is looked up.
std::string ApplicationExeName();
void SetApplicationExeName(std::string Name);

class TOLEDBConnection : public TPVConnection {
public:
    TOLEDBConnection();
    ~TOLEDBConnection() override;

    void SetSessionOption(TSessionOption Option, const TSessionValue& Value);
    TSessionValue GetSessionOption(TSessionOption Option) const;

    void OpenSession() override;
    void CloseSession() override;

    // Returns for S_OK and DB_S_ERRORSOCCURRED; every other result is reported through
    // RaiseProviderError.
    void CheckResult(HRESULT hr, TComponent* Component, const TStatusCallback& Status = {});
    // Builds the error object of hr and raises it (or the silent abort when the error handler
    // cleared Fail). With S_OK it only delivers information messages to the hook.
    void RaiseProviderError(HRESULT hr, TComponent* Component, const TStatusCallback& Status = {});
    // Raises a failure of hr that the layer words itself (another result set still open, a
    // parameter the provider refused) as an EOLEDBError with Message, through the same error
    // handling as a provider error: the monitor's "Error: ", OnError, the fatal-error close.
    // Whatever error object the provider left on the thread is dropped.
    [[noreturn]] void RaiseLayerError(HRESULT hr, const std::string& Message,
                                      TComponent* Component);

    // Receives the server's informational messages that came with a successful call.
    void SetInfoMessageHook(std::function<void(EMSError&)> Hook) {
        FInfoMessageHook = std::move(Hook);
    }
    bool HasInfoMessageHook() const { return static_cast<bool>(FInfoMessageHook); }

    // Runs one statement without results on the link's own command; not traced.
    void RunInternalStatement(const std::string& Text);
    // Marks the object valid when its data source answers a comment-only statement.
    void CheckAlive();

    // The database names of the server, from the session's catalogs schema rowset (every
    // catalog, in the order the provider delivers them, at most 128 characters each). Provider
    // failures go through CheckResult with Component as the failing object.
    std::vector<std::string> GetCatalogNames(TComponent* Component);

    // Facts read after opening.
    const std::string& DBMSName() const { return FDBMSName; }
    const std::string& DBMSVer() const { return FDBMSVer; }
    std::string ServerVersionFull() const { return FDBMSName + " " + FDBMSVer; }
    int ServerMajorVersion() const { return FServerMajorVersion; }
    const std::string& ProviderFriendlyName() const { return FProviderFriendlyName; }
    const std::string& ProviderVer() const { return FProviderVer; }
    int ProviderMajorVersion() const { return FProviderMajorVersion; }
    // The class id of the provider that was created.
    const CLSID& ProviderClsid() const { return FProviderClsid; }
    bool IsNativeClient() const;

    // The OLE DB objects of the open link (null while closed).
    IDBInitialize* DBInitialize() const { return FDBInitialize.get(); }
    IDBProperties* DBProperties() const { return FDBProperties.get(); }
    IDBCreateSession* DBCreateSession() const { return FDBCreateSession.get(); }
    ISessionProperties* SessionProperties() const { return FSessionProperties.get(); }

    // Shares the open link of another object taken from a pool; this object will not release
    // the shared interfaces on close.
    void AssignLink(TOLEDBConnection* Source);

private:
    // The error path shared by provider and layer errors: the handler decides, then the error
    // object (or the silent abort) is raised.
    [[noreturn]] void RaiseThroughHandler(std::unique_ptr<EOLEDBError> Error);
    void CreateDataSource();
    void SetInitProperties();
    // Applies one property set; a failure is re-raised with the status report (and Extra,
    // when given) appended to its message.
    template <class TProps>
    void ApplyPropertySet(TProps* Props, TOLEDBPropertiesSet& Set, const char* Extra = nullptr);
    void ReadServerFacts();
    void SetDatabaseOnLink(const std::string& Name);
    void ReleaseInterfaces();
    TIsolationLevel OwnTransactionLevel() const;

    // Options
    std::string FDatabase;
    TMSAuthentication FAuthentication = auServer;
    TOLEDBProvider FProvider = prSQL;
    int FConnectionTimeout = 15;
    bool FQuotedIdentifier = true;
    std::string FLanguage;
    bool FEncrypt = false;
    bool FPersistSecurityInfo = false;
    bool FAutoTranslate = true;
    std::string FNetworkLibrary;
    int FPacketSize = 4096;
    std::string FApplicationName;
    std::string FWorkstationID;
    std::string FInitialFileName;
    std::string FFailoverPartner;
    bool FMultipleActiveResultSets = false;
    bool FTrustServerCertificate = false;
    bool FLockTimeoutEnabled = false;
    int FLockTimeout = 2000;
    int FNativeClientVersion = 0;
    int FCompactVersion = 0;
    TNumericType FNumericType = ntFloat;
    bool FDisconnectedMode = false;

    // The open link
    kv::oledb::ComPtr<IDBInitialize> FDBInitialize;
    kv::oledb::ComPtr<IDBProperties> FDBProperties;
    kv::oledb::ComPtr<IDBCreateSession> FDBCreateSession;
    kv::oledb::ComPtr<ISessionProperties> FSessionProperties;
    kv::oledb::ComPtr<ICommandText> FInternalCommand;
    bool FOwnLink = true;
    CLSID FProviderClsid = GUID_NULL;

    std::string FDBMSName;
    std::string FDBMSVer;
    int FServerMajorVersion = 0;
    std::string FProviderFriendlyName;
    std::string FProviderVer;
    int FProviderMajorVersion = 0;

    std::function<void(EMSError&)> FInfoMessageHook;
};

} // namespace kv::dataaccess
