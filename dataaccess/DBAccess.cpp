#include "dataaccess/DBAccess.h"

#include "dataaccess/ConnectionPool.h"
#include "dataaccess/DAConsts.h"
#include "dataaccess/DARegistration.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/DB.h"

#include <algorithm>
#include <map>

namespace kv::dataaccess {

// ---------------------------------------------------------------------------------------------
// Hooks

TWaitCursorHooks& WaitCursorHooks() {
    static TWaitCursorHooks hooks;
    return hooks;
}

void StartWait() {
    if (WaitCursorHooks().StartWait)
        WaitCursorHooks().StartWait();
}

void StopWait() {
    if (WaitCursorHooks().StopWait)
        WaitCursorHooks().StopWait();
}

// ---------------------------------------------------------------------------------------------
// Options

TPersistent* TDAConnectionOptions::GetOwner() const {
    return FOwner;
}

void TDAConnectionOptions::Assign(TPersistent* Source) {
    if (auto* o = dynamic_cast<TDAConnectionOptions*>(Source)) {
        FKeepDesignConnected = o->FKeepDesignConnected;
        SetDisconnectedMode(o->FDisconnectedMode);
        FLocalFailover = o->FLocalFailover;
        FDefaultSortType = o->FDefaultSortType;
        return;
    }
    TPersistent::Assign(Source);
}

void TDAConnectionOptions::SetDisconnectedMode(bool Value) {
    if (Value == FDisconnectedMode)
        return;
    if (FOwner != nullptr)
        FOwner->SetConnected(false);
    FDisconnectedMode = Value;
    if (FOwner != nullptr)
        FOwner->PushSessionOptions();
}

bool TDAConnectionOptions::OwnerAllowsChange(bool Differs) {
    return FOwner != nullptr ? FOwner->BeforeOptionChange(Differs) : Differs;
}

void TPoolingOptions::Assign(TPersistent* Source) {
    if (auto* o = dynamic_cast<TPoolingOptions*>(Source)) {
        MaxPoolSize = o->MaxPoolSize;
        MinPoolSize = o->MinPoolSize;
        ConnectionLifetime = o->ConnectionLifetime;
        Validate = o->Validate;
        return;
    }
    TPersistent::Assign(Source);
}

IDAConnectionClient::~IDAConnectionClient() = default;

// ---------------------------------------------------------------------------------------------
// The connection

TCustomDAConnection::TCustomDAConnection(TComponent* AOwner) : TComponent(AOwner) {
    InitOptions();
}

// Virtual calls in a constructor reach only the class being built, so every constructor of
// the chain calls this again and the most derived one's options stay.
void TCustomDAConnection::InitOptions() {
    FOptions = CreateOptions();
}

std::unique_ptr<TDAConnectionOptions> TCustomDAConnection::CreateOptions() {
    return std::make_unique<TDAConnectionOptions>(this);
}

TCustomDAConnection::~TCustomDAConnection() {
    try {
        SetConnected(false);
    } catch (...) { // the link goes with the component either way
    }
    {
        std::lock_guard lock(FClientLock);
        for (IDAConnectionClient* c : FSQLs)
            c->SessionChanged(nullptr);
        for (IDAConnectionClient* c : FDataSets)
            c->SessionChanged(nullptr);
    }
    TCustomDASQLMonitor::ObjectDestroyed(SQLMonitor(), this);
    if (FConnectDialog != nullptr && FConnectDialog->Connection() == this)
        FConnectDialog->SetConnection(nullptr);
    DropSessionObject();
}

void TCustomDAConnection::DropSessionObject() {
    if (!FSession)
        return;
    if (FSessionFromPool && FSession->IsValid())
        TDAConnectionPool::Instance().Return(FSessionPoolKey, std::move(FSession));
    FSession.reset();
    FSessionFromPool = false;
}

void TCustomDAConnection::Loaded() {
    TComponent::Loaded();
    if (!FPendingConnect)
        return;
    try {
        SetConnected(true);
    } catch (...) {
        FPendingConnect = false;
        if (!Designing())
            throw;
        // a design environment shows the error instead; there is none in this program
    }
    FPendingConnect = false;
}

void TCustomDAConnection::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent == FConnectDialog)
        FConnectDialog = nullptr;
    TComponent::Notification(AComponent, Operation);
}

// -- login values -----------------------------------------------------------------------------

void TCustomDAConnection::Assign(TPersistent* Source) {
    auto* src = dynamic_cast<TCustomDAConnection*>(Source);
    if (src == nullptr) {
        TComponent::Assign(Source);
        return;
    }
    if (src == this)
        return;
    SetUsername(src->FUsername);
    SetPassword(src->FPassword);
    SetServer(src->FServer);
    SetLoginPrompt(src->FLoginPrompt);
    SetPooling(src->FPooling);
    FPoolingOptions.Assign(&src->FPoolingOptions);
    FOptions->Assign(src->FOptions.get());
    AfterConnect = src->AfterConnect;
    BeforeConnect = src->BeforeConnect;
    AfterDisconnect = src->AfterDisconnect;
    BeforeDisconnect = src->BeforeDisconnect;
    OnLogin = src->OnLogin;
    OnError = src->OnError;
    OnConnectionLost = src->OnConnectionLost;
}

void TCustomDAConnection::SetUsername(const std::string& Value) {
    if (Value == FUsername)
        return;
    SetConnected(false);
    FUsername = Value;
}

void TCustomDAConnection::SetPassword(const std::string& Value) {
    if (Value == FPassword)
        return;
    SetConnected(false);
    FPassword = Value;
}

void TCustomDAConnection::SetServer(const std::string& Value) {
    if (Value == FServer)
        return;
    SetConnected(false);
    FServer = Value;
}

void TCustomDAConnection::SetPooling(bool Value) {
    if (Value == FPooling)
        return;
    SetConnected(false);
    FPooling = Value;
    AttachSessionObject(nullptr); // a new session object comes from the new source
}

void TCustomDAConnection::SetConnectDialog(TCustomConnectDialog* Value) {
    if (Value == FConnectDialog)
        return;
    if (FConnectDialog != nullptr) {
        FConnectDialog->RemoveFreeNotification(this);
        if (FConnectDialog->Connection() == this)
            FConnectDialog->SetConnection(nullptr);
    }
    FConnectDialog = Value;
    if (FConnectDialog != nullptr) {
        FConnectDialog->FreeNotification(this);
        FConnectDialog->SetConnection(this);
    }
}

bool TCustomDAConnection::BeforeOptionChange(bool Differs) {
    if (!Differs)
        return false;
    if (Connected()) {
        if (Designing() || ComponentState().Contains(csUpdating))
            SetConnected(false);
        else
            DatabaseError(SConnectionOpen);
    }
    return true;
}

// -- the session object -----------------------------------------------------------------------

std::unique_ptr<TPVConnection> TCustomDAConnection::CreateSessionObject() {
    return nullptr;
}

std::string TCustomDAConnection::PoolKey() const {
    return IntToStr(FPoolingOptions.MinPoolSize) + "\x1f" + IntToStr(FPoolingOptions.MaxPoolSize) +
           "\x1f" + IntToStr(FPoolingOptions.ConnectionLifetime) + "\x1f" +
           (FPoolingOptions.Validate ? "1" : "0") + "\x1f" + FUsername + "\x1f" + FServer + "\x1f" +
           FPassword;
}

void TCustomDAConnection::EnsureSessionObject() {
    if (FSession)
        return;
    std::unique_ptr<TPVConnection> session;
    if (FPooling) {
        FSessionPoolKey = PoolKey();
        session = TDAConnectionPool::Instance().Take(FSessionPoolKey);
        FSessionFromPool = true;
    }
    const bool fresh = !session;
    if (fresh)
        session = CreateSessionObject();
    AttachSessionObject(std::move(session));
    if (fresh)
        PushSessionOptions();
}

void TCustomDAConnection::AttachSessionObject(std::unique_ptr<TPVConnection> Session) {
    if (!Session) {
        if (!ComponentState().Contains(csDestroying)) {
            std::lock_guard lock(FClientLock);
            for (IDAConnectionClient* c : FSQLs)
                c->SessionChanged(nullptr);
            for (IDAConnectionClient* c : FDataSets)
                c->SessionChanged(nullptr);
        }
        DropSessionObject();
        return;
    }
    FSession = std::move(Session);
    FSession->SetErrorHandler([this](EDAError& E, bool& Fail, bool& Reconnect, bool& Reexecute,
                                     int Attempt, TConnLostCause& Cause) {
        HandleProviderError(E, Fail, Reconnect, Reexecute, Attempt, Cause);
    });
    FSession->SetCloseHook([this] { SetConnected(false); });
    FSession->SetReconnectedHook([this] {
        if (AfterConnect)
            AfterConnect(this);
    });
    FSession->SetOwner(this);
    std::lock_guard lock(FClientLock);
    for (IDAConnectionClient* c : FSQLs)
        c->SessionChanged(FSession.get());
    for (IDAConnectionClient* c : FDataSets)
        c->SessionChanged(FSession.get());
}

// -- connecting -------------------------------------------------------------------------------

bool TCustomDAConnection::Connected() const {
    return FSession && FSession->GetConnected();
}

bool TCustomDAConnection::NeedsLoginPrompt() const {
    if (FLoginPrompt)
        return true;
    return Designing() && FUsername.empty() && FPassword.empty() && !Loading() && !FPendingConnect;
}

void TCustomDAConnection::SetConnected(bool Value) {
    if (!Value) {
        Disconnect();
        return;
    }
    if (Loading()) {
        if (FOptions->KeepDesignConnected() || Designing())
            FPendingConnect = true;
        return;
    }
    if (Connected())
        return;
    if (!FPendingConnect)
        ++FUseCount;
    const int counted = FUseCount;

    if (NeedsLoginPrompt()) {
        if (TConnectDialogClass dialogClass = ConnectDialogClass()) {
            std::unique_ptr<TCustomConnectDialog> temporary;
            TCustomConnectDialog* dialog = FConnectDialog;
            if (dialog == nullptr) {
                temporary.reset(dialogClass(nullptr));
                dialog = temporary.get();
            }
            dialog->SetConnection(this);
            bool ok = false;
            try {
                ok = dialog->Execute();
            } catch (...) {
                FUseCount = counted - (Connected() ? 0 : 1);
                throw;
            }
            FUseCount = counted - (ok ? 0 : 1);
            temporary.reset();
            if (!ok) {
                if (FPendingConnect || Designing())
                    DatabaseError(SCannotConnect);
                Abort();
            }
            return;
        }
    }
    try {
        ConnectWithEvents(false);
    } catch (...) {
        FUseCount = counted - (Connected() ? 0 : 1);
        throw;
    }
    FUseCount = counted;
}

void TCustomDAConnection::ConnectWithEvents(bool isRetry) {
    if (Loading()) {
        FPendingConnect = true;
        return;
    }
    if (Connected())
        return;
    if (!isRetry && BeforeConnect)
        BeforeConnect(this);
    OpenLink();
    ++FUseCount;
    SendConnectEvent(true);
    if (AfterConnect)
        AfterConnect(this);
}

void TCustomDAConnection::OpenLink() {
    std::uint32_t msgId = 0;
    TCustomDASQLMonitor::DBConnect(SQLMonitor(), this, msgId, true);
    EnsureSessionObject();
    PushOperation(clConnect, this);
    StartWait();
    try {
        FTransaction.SetConnection(FSession.get());
        FSession->SetTransaction(&FTransaction);
        FSession->Username = FUsername;
        FSession->Password = FPassword;
        FSession->Server = FServer;
        FSession->OpenSession();
    } catch (...) {
        StopWait();
        PopOperation();
        throw;
    }
    StopWait();
    PopOperation();
    TCustomDASQLMonitor::DBConnect(SQLMonitor(), this, msgId, false);
}

void TCustomDAConnection::SendConnectEvent(bool Connecting) {
    std::vector<IDAConnectionClient*> clients;
    {
        std::lock_guard lock(FClientLock);
        clients = FSQLs;
        clients.insert(clients.end(), FDataSets.begin(), FDataSets.end());
    }
    for (IDAConnectionClient* c : clients)
        c->ConnectChange(Connecting);
}

void TCustomDAConnection::Disconnect() {
    // A client that closes while the link closes may release its hold or report a fatal
    // error, both of which ask for a disconnect again; the running one finishes the job.
    if (!Connected() || FDisconnecting)
        return;
    FDisconnecting = true;
    try {
        RunDisconnect();
    } catch (...) {
        FDisconnecting = false;
        throw;
    }
    FDisconnecting = false;
}

void TCustomDAConnection::RunDisconnect() {
    FUseCount = 0;
    FPromptAllowed = true;
    if (BeforeDisconnect && !FMaskBeforeDisconnect)
        BeforeDisconnect(this);
    // The clients close; a client that fails because the link is dead is told again.
    for (;;) {
        try {
            SendConnectEvent(false);
            break;
        } catch (const EDAError& e) {
            if (!e.IsFatal())
                throw;
        }
    }
    const bool masked = FMaskBeforeDisconnect;
    FMaskBeforeDisconnect = true;
    try {
        SendConnectEvent(false);
        CloseLink();
        if (AfterDisconnect)
            AfterDisconnect(this);
    } catch (...) {
        FMaskBeforeDisconnect = masked;
        throw;
    }
    FMaskBeforeDisconnect = masked;
}

void TCustomDAConnection::CloseLink() {
    try {
        if (FTransaction.GetInTransaction())
            FTransaction.Reset(); // the close action of the built-in transaction: roll back
    } catch (...) {
        FTransaction.Reset();
    }
    if (FSession)
        FSession->SetTransaction(nullptr);
    FTransaction.SetConnection(nullptr);

    if (!FSession || !FSession->GetConnected())
        return;
    try {
        std::uint32_t msgId = 0;
        TCustomDASQLMonitor::DBDisconnect(SQLMonitor(), this, msgId, true);
        if (FSessionFromPool && FSession->IsValid()) {
            TDAConnectionPool::Instance().Return(FSessionPoolKey, std::move(FSession));
            FSessionFromPool = false;
            AttachSessionObject(nullptr);
        } else {
            FSession->CloseSession();
        }
        TCustomDASQLMonitor::DBDisconnect(SQLMonitor(), this, msgId, false);
    } catch (const EDAError& e) {
        if (!(ComponentState().Contains(csDestroying) && e.IsFatal()))
            throw;
    }
}

void TCustomDAConnection::AcquireLink() {
    const int count = ++FUseCount;
    const bool loginPrompt = FLoginPrompt;
    FLoginPrompt = FLoginPrompt && FPromptAllowed;
    int restored = count;
    try {
        SetConnected(true);
    } catch (const EFailOver&) {
        // the link was re-opened by the error handling; the caller goes on
    } catch (...) {
        if (!Connected())
            --restored;
        FUseCount = restored;
        FLoginPrompt = loginPrompt;
        FPromptAllowed = !Connected();
        throw;
    }
    FUseCount = restored;
    FLoginPrompt = loginPrompt;
    FPromptAllowed = !Connected();
}

void TCustomDAConnection::ReleaseLink() {
    if (FUseCount > 0)
        --FUseCount;
    if (FUseCount == 0 && FOptions->DisconnectedMode() && !InTransaction())
        SetConnected(false);
    FPromptAllowed = false;
}

// -- clients ----------------------------------------------------------------------------------

void TCustomDAConnection::RegisterClient(IDAConnectionClient* Client, bool StatementObject) {
    std::lock_guard lock(FClientLock);
    auto& list = StatementObject ? FSQLs : FDataSets;
    if (std::find(list.begin(), list.end(), Client) == list.end())
        list.push_back(Client);
}

void TCustomDAConnection::UnRegisterClient(IDAConnectionClient* Client) {
    std::lock_guard lock(FClientLock);
    std::erase(FSQLs, Client);
    std::erase(FDataSets, Client);
}

int TCustomDAConnection::ClientCount() const {
    std::lock_guard lock(FClientLock);
    return static_cast<int>(FSQLs.size() + FDataSets.size());
}

// -- fail-over bookkeeping --------------------------------------------------------------------

void TCustomDAConnection::PushOperation(TConnLostCause Cause, TComponent* Component) {
    if (FOptions->LocalFailover())
        FOperations.emplace_back(Cause, Component);
}

void TCustomDAConnection::PopOperation() {
    if (FOptions->LocalFailover() && !FOperations.empty())
        FOperations.pop_back();
}

TConnLostCause TCustomDAConnection::CauseFor(TComponent* Component) const {
    // The outermost operation of the failing component decides; then any operation.
    for (const auto& [cause, comp] : FOperations)
        if (comp == Component)
            return cause;
    return FOperations.empty() ? clUnknown : FOperations.front().first;
}

// -- errors -----------------------------------------------------------------------------------

void TCustomDAConnection::HandleProviderError(EDAError& E, bool& Fail, bool& Reconnect,
                                              bool& Reexecute, int ReconnectAttempt,
                                              TConnLostCause& ConnLostCause) {
    ConnLostCause = clUnknown;
    TCustomDASQLMonitor::DBError(SQLMonitor(), &E, E.Message());
    const bool fatal = E.IsFatal();
    const bool failover = FOptions->LocalFailover();

    if (fatal) {
        ConnLostCause = CauseFor(E.Component());
        Reconnect = (Connected() || (ReconnectAttempt > 0 && failover) ||
                     (ConnLostCause == clConnect && FOptions->DisconnectedMode())) &&
                    (!InTransaction() || ConnLostCause == clConnectionApply);
        if (Reconnect)
            Reconnect = ClientsAllowReconnect(ConnLostCause, E.Component());
    }

    if (Reconnect && failover) {
        TRetryMode mode =
            ConnLostCause == clUnknown || ConnLostCause == clExecute ? rmRaise : rmReconnectExecute;
        if (OnConnectionLost)
            OnConnectionLost(this, E.Component(), ConnLostCause, mode);
        Reconnect = mode != rmRaise;
        Reexecute = (mode == rmReconnectExecute && ConnLostCause != clUnknown) ||
                    (ConnLostCause == clConnect && mode != rmRaise);
        Fail = !Reexecute;
    }

    if (!Reexecute && OnError)
        OnError(this, E, Fail);

    if (fatal && FSession) {
        FSession->SetIsValid(false);
        if (FSessionFromPool)
            TDAConnectionPool::Instance().Invalidate(FSession.get());
    }
    if (fatal && ReconnectAttempt == 0)
        FTransaction.Reset();
    if (fatal && ReconnectAttempt == 0 && !Reconnect && !FInErrorClose) {
        FInErrorClose = true;
        try {
            SetConnected(false);
        } catch (...) {
        }
        FInErrorClose = false;
    }
}

bool TCustomDAConnection::ClientsAllowReconnect(TConnLostCause Cause,
                                                TComponent* ErrorComponent) const {
    std::lock_guard lock(FClientLock);
    for (IDAConnectionClient* c : FDataSets)
        if (!c->CanReconnect(Cause, ErrorComponent))
            return false;
    for (IDAConnectionClient* c : FSQLs)
        if (!c->CanReconnect(Cause, ErrorComponent))
            return false;
    return true;
}

bool TCustomDAConnection::ClientsHoldPendingResults(const TComponent* Except) const {
    std::lock_guard lock(FClientLock);
    for (IDAConnectionClient* c : FDataSets)
        if ((Except == nullptr || dynamic_cast<const TComponent*>(c) != Except) &&
            c->HoldsPendingResults())
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------

namespace {

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    static const TEnumInfo sortTypes{"TSortType",
                                     {"stCaseSensitive", "stCaseInsensitive", "stBinary"}};
    (void)sortTypes;
    ClassBuilder<TPoolingOptions>("TPoolingOptions", "TPersistent")
        .Integer("MaxPoolSize", &TPoolingOptions::MaxPoolSize)
        .Default(100)
        .Integer("MinPoolSize", &TPoolingOptions::MinPoolSize)
        .Default(0)
        .Integer("ConnectionLifetime", &TPoolingOptions::ConnectionLifetime)
        .Default(0)
        .Bool("Validate", &TPoolingOptions::Validate)
        .Default(false);
    return true;
}();

} // namespace

bool detail::dbAccessClassesRegistered() {
    return registered;
}

} // namespace kv::dataaccess
