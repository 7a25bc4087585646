#pragma once
// The connection component's provider-neutral part (TCustomDAConnection), its options, the
// connect dialog base with its class registry, and the process-wide wait-cursor hooks.
//
// A connection owns one session object (PVConnection.h) that does the physical work, keeps a
// use count so that statements can open the link on demand (AcquireLink / ReleaseLink) and, in
// disconnected mode, close it again when nobody holds it; it turns every provider error into
// its error event (HandleProviderError). The SQL Server classes are in MSAccess.h.

#include "dataaccess/DAError.h"
#include "dataaccess/DASQLMonitor.h"
#include "dataaccess/PVConnection.h"
#include "platform/Registry.h"
#include "toolkit/Component.h"
#include "toolkit/Strings.h"
#include "toolkit/TypInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv::dataaccess {

class TCustomDAConnection;
class TCustomConnectDialog;

// ---------------------------------------------------------------------------------------------
// Process-wide hooks of the visual part. Absent hooks do nothing.

struct TWaitCursorHooks {
    std::function<void()> StartWait; // a database call begins (SQL wait cursor)
    std::function<void()> StopWait;  // it ended
};
TWaitCursorHooks& WaitCursorHooks();
void StartWait();
void StopWait();

// ---------------------------------------------------------------------------------------------
// Connect dialogs
//
// A connect dialog asks for the login values of its connection through a login form, lets the
// form connect, and keeps user name, server and a server history in the current user's registry
// (DAConnectDialog.cpp). The form is shown through ShowConnectFormHook(), which the
// user-interface module installs; without it Execute shows nothing and returns false.

// The built-in text sets, in this order (lsCustom: the texts as they were set).
enum TLabelSet {
    lsCustom,
    lsEnglish,
    lsFrench,
    lsGerman,
    lsItalian,
    lsPolish,
    lsPortuguese,
    lsRussian,
    lsSpanish
};
extern const TEnumInfo LabelSetInfo;
// The first string table entry of a built-in set (lsRussian: 0); -1 for lsCustom.
int LabelSetBase(TLabelSet Set);

class TCustomConnectDialog : public TComponent {
public:
    explicit TCustomConnectDialog(TComponent* AOwner);
    ~TCustomConnectDialog() override;
    std::string ClassName() const override { return "TCustomConnectDialog"; }

    TCustomDAConnection* Connection() const { return FConnection; }
    void SetConnection(TCustomDAConnection* Value);

    // Shows the login form; true when it closed with OK and the connection is connected.
    // Stores user name, server and history after a success; a cancel or failure restores the
    // connection's user name, password and server and writes nothing.
    virtual bool Execute();
    // The servers offered in the server box (base: the stored history).
    virtual void GetServerList(TStrings* List);

    int Retries() const { return FRetries; }
    void SetRetries(int Value) { FRetries = static_cast<std::uint16_t>(Value); }
    const std::string& DialogClass() const { return FDialogClass; }
    void SetDialogClass(const std::string& Value) { FDialogClass = Value; }
    bool SavePassword() const { return FSavePassword; }
    void SetSavePassword(bool Value) { FSavePassword = Value; }
    bool StoreLogInfo() const { return FStoreLogInfo; }
    void SetStoreLogInfo(bool Value) { FStoreLogInfo = Value; }
    bool UseServerHistory() const { return FUseServerHistory; }
    bool RequireConnected() const { return FRequireConnected; }

    TLabelSet LabelSet() const { return FLabelSet; }
    void SetLabelSet(TLabelSet Value);
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    const std::string& UsernameLabel() const { return FUsernameLabel; }
    void SetUsernameLabel(const std::string& Value);
    const std::string& PasswordLabel() const { return FPasswordLabel; }
    void SetPasswordLabel(const std::string& Value);
    const std::string& ServerLabel() const { return FServerLabel; }
    void SetServerLabel(const std::string& Value);
    const std::string& ConnectButton() const { return FConnectButton; }
    void SetConnectButton(const std::string& Value);
    const std::string& CancelButton() const { return FCancelButton; }
    void SetCancelButton(const std::string& Value);

    // The registry path the keys are built from, ending in a backslash ("" for the base).
    virtual std::string KeyPath() const { return std::string(); }
    virtual std::string ServerValueName() const { return "Server"; }
    // The class name of the form used when DialogClass is empty ("" for the base: none).
    virtual std::string DefaultDialogClass() const { return std::string(); }
    // The application runs inside one of the two design environments.
    static bool InDesignEnvironment();

    // Registry operations (the key is open; the history ones open their own key).
    virtual void LoadLoginInfo(kv::platform::RegistryKey& Key);
    virtual void SaveLoginInfo(kv::platform::RegistryKey& Key);
    void LoadServerHistory(TStrings* List);
    void SaveServerHistory();

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // The connection's state that a cancelled Execute puts back (beyond the three login values).
    virtual void RememberConnection() {}
    virtual void RestoreConnection() {}

private:
    void SetText(std::string& Field, const std::string& Value);

    TCustomDAConnection* FConnection = nullptr;
    std::uint16_t FRetries = 3;
    std::string FDialogClass;
    bool FSavePassword = false;
    bool FStoreLogInfo = true;
    bool FUseServerHistory = true;
    bool FRequireConnected = true;
    TLabelSet FLabelSet = lsCustom;
    std::string FCaption;
    std::string FUsernameLabel;
    std::string FPasswordLabel;
    std::string FServerLabel;
    std::string FConnectButton;
    std::string FCancelButton;
};

// Shows the login form of a dialog modally; true when it closed with OK and the connection is
// connected. Installed by the user-interface module.
// A stored string value of an open key: nullopt when the key has none; a value of another type
// than a plain or expandable string raises the toolkit's registry read error.
std::optional<std::string> ReadRegistryText(kv::platform::RegistryKey& Key,
                                            const std::string& Name);

using TShowConnectFormHook = std::function<bool(TCustomConnectDialog* Dialog)>;
TShowConnectFormHook& ShowConnectFormHook();
// Runs the installed hook; false without one.
bool ShowConnectForm(TCustomConnectDialog* Dialog);

// A connect dialog class: creates an instance owned by Owner.
using TConnectDialogClass = std::function<TCustomConnectDialog*(TComponent* Owner)>;
// The dialog's unit registers its class by name at start-up.
void RegisterConnectDialogClass(const std::string& Name, TConnectDialogClass Class);
void UnregisterConnectDialogClass(const std::string& Name);
// The registered class, or an empty function when none is registered.
TConnectDialogClass GetConnectDialogClass(const std::string& Name);

// ---------------------------------------------------------------------------------------------
// Options

enum TSortType { stCaseSensitive, stCaseInsensitive, stBinary };

class TDAConnectionOptions : public TPersistent {
public:
    explicit TDAConnectionOptions(TCustomDAConnection* Owner) : FOwner(Owner) {}
    std::string ClassName() const override { return "TDAConnectionOptions"; }
    TPersistent* GetOwner() const override;
    void Assign(TPersistent* Source) override;

    bool KeepDesignConnected() const { return FKeepDesignConnected; }
    void SetKeepDesignConnected(bool Value) { FKeepDesignConnected = Value; }
    bool DisconnectedMode() const { return FDisconnectedMode; }
    void SetDisconnectedMode(bool Value);
    bool LocalFailover() const { return FLocalFailover; }
    void SetLocalFailover(bool Value) { FLocalFailover = Value; }
    TSortType DefaultSortType() const { return FDefaultSortType; }
    void SetDefaultSortType(TSortType Value) { FDefaultSortType = Value; }

protected:
    // For option setters: fails on an open connection at run time; false when the value does
    // not change.
    bool OwnerAllowsChange(bool Differs);

    TCustomDAConnection* FOwner;

private:
    bool FKeepDesignConnected = true;
    bool FDisconnectedMode = false;
    bool FLocalFailover = false;
    TSortType FDefaultSortType = stCaseSensitive;
};

class TPoolingOptions : public TPersistent {
public:
    std::string ClassName() const override { return "TPoolingOptions"; }
    void Assign(TPersistent* Source) override;
    int MaxPoolSize = 100;
    int MinPoolSize = 0;
    int ConnectionLifetime = 0;
    bool Validate = false;
};

// ---------------------------------------------------------------------------------------------
// Clients: datasets and statement objects bound to a connection

class IDAConnectionClient {
public:
    virtual ~IDAConnectionClient();
    // The connection opened (true) or is closing (false; the client closes).
    virtual void ConnectChange(bool Connecting) = 0;
    // The connection's session object was attached or detached (null).
    virtual void SessionChanged(TPVConnection* Session) = 0;
    // Whether the link may be closed and re-opened under this client after a fatal error.
    virtual bool CanReconnect(TConnLostCause Cause, TComponent* ErrorComponent) const = 0;
    // True while the client holds unread results of a batch on the session.
    virtual bool HoldsPendingResults() const = 0;
};

// ---------------------------------------------------------------------------------------------

using TDAConnectionErrorEvent = std::function<void(TObject* Sender, EDAError& E, bool& Fail)>;
using TConnectionLostEvent = std::function<void(
    TObject* Sender, TComponent* Component, TConnLostCause ConnLostCause, TRetryMode& RetryMode)>;
using TLoginEvent =
    std::function<void(TObject* Sender, std::string& Username, std::string& Password)>;

namespace internal {
class ConnectionGate;
class LoginFieldsGate;
} // namespace internal

class TCustomDAConnection : public TComponent, public IMonitoredConnection {
public:
    explicit TCustomDAConnection(TComponent* AOwner);
    ~TCustomDAConnection() override;
    std::string ClassName() const override { return "TCustomDAConnection"; }
    // From another connection: login values, LoginPrompt, pooling, options and events.
    void Assign(TPersistent* Source) override;

    // Login values
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& Value);
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value);
    const std::string& Server() const { return FServer; }
    void SetServer(const std::string& Value);

    // The physical state: a session object exists and reports itself open.
    bool Connected() const;
    void SetConnected(bool Value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
    bool Pooling() const { return FPooling; }
    void SetPooling(bool Value);
    TPoolingOptions* PoolingOptions() { return &FPoolingOptions; }
    TDAConnectionOptions* Options() const { return FOptions.get(); }
    TCustomConnectDialog* ConnectDialog() const { return FConnectDialog; }
    void SetConnectDialog(TCustomConnectDialog* Value);

    TNotifyEvent AfterConnect;
    TNotifyEvent BeforeConnect;
    TNotifyEvent AfterDisconnect;
    TNotifyEvent BeforeDisconnect;
    TLoginEvent OnLogin;
    TDAConnectionErrorEvent OnError;
    TConnectionLostEvent OnConnectionLost;

    // The connect step of the login forms.
    void ConnectWithEvents(bool isRetry);
    // Taken by statements around their work.
    void AcquireLink();
    void ReleaseLink();

    int UseCount() const { return FUseCount; }
    bool PromptAllowed() const { return FPromptAllowed; }
    bool PendingConnect() const { return FPendingConnect; }
    bool InErrorClose() const { return FInErrorClose; }
    TPVConnection* SessionObject() const { return FSession.get(); }
    TPVTransaction& Transaction() { return FTransaction; }
    bool InTransaction() const { return FTransaction.GetInTransaction(); }

    // Client registration (guarded by the client lock).
    void RegisterClient(IDAConnectionClient* Client, bool StatementObject);
    void UnRegisterClient(IDAConnectionClient* Client);
    int ClientCount() const;

    // The error handling every provider error runs through (the session's error handler).
    virtual void HandleProviderError(EDAError& E, bool& Fail, bool& Reconnect, bool& Reexecute,
                                     int ReconnectAttempt, TConnLostCause& ConnLostCause);

    // IMonitoredConnection
    std::string MonitorUser() const override { return FUsername; }
    std::string MonitorServer() const override { return FServer; }

    // The process-wide monitor of this connection's class (none for the base class).
    virtual TCustomDASQLMonitor* SQLMonitor() const { return nullptr; }

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // Virtual operations the SQL Server classes override, in slot order.
    virtual std::unique_ptr<TPVConnection> CreateSessionObject();
    virtual void EnsureSessionObject();
    virtual void AttachSessionObject(std::unique_ptr<TPVConnection> Session);
    virtual TConnectDialogClass ConnectDialogClass() const { return {}; }
    virtual bool NeedsLoginPrompt() const;
    virtual std::unique_ptr<TDAConnectionOptions> CreateOptions();
    virtual void PushSessionOptions() {}
    // The pool key of the current values.
    virtual std::string PoolKey() const;

    virtual void OpenLink();
    virtual void CloseLink();

    // Every registered dataset and statement object agrees to a re-open of the link.
    virtual bool ClientsAllowReconnect(TConnLostCause Cause, TComponent* ErrorComponent) const;
    // Except: a client left out of the question (the statement that will run again).
    bool ClientsHoldPendingResults(const TComponent* Except = nullptr) const;

    // Options: fails on an open connection at run time (closes it at design time); false when
    // the value does not change.
    bool BeforeOptionChange(bool Differs);

    bool Designing() const { return ComponentState().Contains(csDesigning); }
    bool Loading() const { return ComponentState().Contains(csLoading); }

    void InitOptions(); // called by every constructor of the chain

private:
    friend class internal::ConnectionGate;
    friend class internal::LoginFieldsGate;
    friend class TDAConnectionOptions;

    void Disconnect();
    void RunDisconnect();
    void SendConnectEvent(bool Connecting);
    void DropSessionObject();
    void PushOperation(TConnLostCause Cause, TComponent* Component);
    void PopOperation();
    TConnLostCause CauseFor(TComponent* Component) const;

    std::string FUsername;
    std::string FPassword;
    std::string FServer;
    bool FLoginPrompt = true;
    bool FPooling = false;
    TPoolingOptions FPoolingOptions;
    std::unique_ptr<TDAConnectionOptions> FOptions;
    TCustomConnectDialog* FConnectDialog = nullptr;

    std::unique_ptr<TPVConnection> FSession;
    bool FSessionFromPool = false;
    std::string FSessionPoolKey;
    int FUseCount = 0;
    bool FPromptAllowed = true;
    bool FPendingConnect = false;
    bool FInErrorClose = false;
    bool FMaskBeforeDisconnect = false;
    bool FDisconnecting = false; // inside Disconnect: a nested request does nothing
    TPVTransaction FTransaction;

    mutable std::mutex FClientLock;
    std::vector<IDAConnectionClient*> FDataSets;
    std::vector<IDAConnectionClient*> FSQLs;
    std::vector<std::pair<TConnLostCause, TComponent*>> FOperations;
};

namespace internal {

// The few connection internals that statements use.
class ConnectionGate {
public:
    static void PushOperation(TCustomDAConnection& C, TConnLostCause Cause, TComponent* Comp) {
        C.PushOperation(Cause, Comp);
    }
    static void PopOperation(TCustomDAConnection& C) { C.PopOperation(); }
};

// The connect dialog writes and restores login values without the setters' side effects.
class LoginFieldsGate {
public:
    static void SetUsername(TCustomDAConnection& C, const std::string& V) { C.FUsername = V; }
    static void SetPassword(TCustomDAConnection& C, const std::string& V) { C.FPassword = V; }
    static void SetServer(TCustomDAConnection& C, const std::string& V) { C.FServer = V; }
};

} // namespace internal

} // namespace kv::dataaccess
