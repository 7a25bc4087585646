#include "dataaccess/MSAccess.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/DARegistration.h"
#include "dataaccess/MSSQLMonitor.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/DB.h"

namespace kv::dataaccess {

// ---------------------------------------------------------------------------------------------
// Options

TCustomMSConnectionOptions::TCustomMSConnectionOptions(TCustomMSConnection* Owner)
    : TDAConnectionOptions(Owner) {}

TCustomMSConnection* TCustomMSConnectionOptions::MSOwner() const {
    return static_cast<TCustomMSConnection*>(FOwner);
}

template <class V>
void TCustomMSConnectionOptions::Change(V& Field, const V& Value, TSessionOption Option) {
    if (!OwnerAllowsChange(!(Field == Value)))
        return;
    Field = Value;
    if (MSOwner() == nullptr)
        return;
    if constexpr (std::is_enum_v<V>)
        MSOwner()->ApplySessionOption(Option, static_cast<int>(Value));
    else
        MSOwner()->ApplySessionOption(Option, Value);
}

void TCustomMSConnectionOptions::Assign(TPersistent* Source) {
    TDAConnectionOptions::Assign(Source);
    if (auto* o = dynamic_cast<TCustomMSConnectionOptions*>(Source)) {
        SetQuotedIdentifier(o->FQuotedIdentifier);
        SetLanguage(o->FLanguage);
        SetNumericType(o->FNumericType);
        SetEncrypt(o->FEncrypt);
        SetProvider(o->FProvider);
        SetDefaultLockTimeout(o->FDefaultLockTimeout);
    }
}

// Handed over even while open: the session switches the setting on the live link.
void TCustomMSConnectionOptions::SetQuotedIdentifier(bool Value) {
    if (Value == FQuotedIdentifier)
        return;
    FQuotedIdentifier = Value;
    if (MSOwner() != nullptr)
        MSOwner()->ApplySessionOption(soQuotedIdentifier, Value);
}

void TCustomMSConnectionOptions::SetLanguage(const std::string& Value) {
    Change(FLanguage, Value, soLanguage);
}

void TCustomMSConnectionOptions::SetEncrypt(bool Value) {
    Change(FEncrypt, Value, soEncrypt);
}

void TCustomMSConnectionOptions::SetProvider(TOLEDBProvider Value) {
    Change(FProvider, Value, soProvider);
}

void TCustomMSConnectionOptions::SetDefaultLockTimeout(int Value) {
    Change(FDefaultLockTimeout, Value, soDefaultLockTimeout);
}

void TMSConnectionOptions::Assign(TPersistent* Source) {
    TCustomMSConnectionOptions::Assign(Source);
    if (auto* o = dynamic_cast<TMSConnectionOptions*>(Source)) {
        SetPersistSecurityInfo(o->FPersistSecurityInfo);
        SetAutoTranslate(o->FAutoTranslate);
        SetNetworkLibrary(o->FNetworkLibrary);
        SetApplicationName(o->FApplicationName);
        SetWorkstationID(o->FWorkstationID);
        SetPacketSize(o->FPacketSize);
        SetInitialFileName(o->FInitialFileName);
        SetMultipleActiveResultSets(o->FMultipleActiveResultSets);
        SetFailoverPartner(o->FFailoverPartner);
        SetTrustServerCertificate(o->FTrustServerCertificate);
    }
}

void TMSConnectionOptions::SetPersistSecurityInfo(bool Value) {
    Change(FPersistSecurityInfo, Value, soPersistSecurityInfo);
}
void TMSConnectionOptions::SetAutoTranslate(bool Value) {
    Change(FAutoTranslate, Value, soAutoTranslate);
}
void TMSConnectionOptions::SetNetworkLibrary(const std::string& Value) {
    Change(FNetworkLibrary, Value, soNetworkLibrary);
}
void TMSConnectionOptions::SetApplicationName(const std::string& Value) {
    Change(FApplicationName, Value, soApplicationName);
}
void TMSConnectionOptions::SetWorkstationID(const std::string& Value) {
    Change(FWorkstationID, Value, soWorkstationID);
}
void TMSConnectionOptions::SetPacketSize(int Value) {
    Change(FPacketSize, Value, soPacketSize);
}
void TMSConnectionOptions::SetInitialFileName(const std::string& Value) {
    Change(FInitialFileName, Value, soInitialFileName);
}
void TMSConnectionOptions::SetMultipleActiveResultSets(bool Value) {
    Change(FMultipleActiveResultSets, Value, soMultipleActiveResultSets);
}
void TMSConnectionOptions::SetFailoverPartner(const std::string& Value) {
    Change(FFailoverPartner, Value, soFailoverPartner);
}
void TMSConnectionOptions::SetTrustServerCertificate(bool Value) {
    Change(FTrustServerCertificate, Value, soTrustServerCertificate);
}

// ---------------------------------------------------------------------------------------------
// TCustomMSConnection

TCustomMSConnection::TCustomMSConnection(TComponent* AOwner) : TCustomDAConnection(AOwner) {
    InitOptions();
}

// The base destructor can no longer reach this class's monitor, so the link is closed (with
// its disconnect notification) and the destruction reported here.
TCustomMSConnection::~TCustomMSConnection() {
    Destroying();
    try {
        SetConnected(false);
    } catch (...) {
    }
    TCustomDASQLMonitor::ObjectDestroyed(SQLMonitor(), this);
}

TCustomMSConnectionOptions* TCustomMSConnection::MSOptions() const {
    return static_cast<TCustomMSConnectionOptions*>(TCustomDAConnection::Options());
}

TOLEDBConnection* TCustomMSConnection::OLEDBSession() const {
    return static_cast<TOLEDBConnection*>(SessionObject());
}

void TCustomMSConnection::ApplySessionOption(TSessionOption Option, const TSessionValue& Value) {
    if (TOLEDBConnection* s = OLEDBSession())
        s->SetSessionOption(Option, Value);
}

void TCustomMSConnection::Assign(TPersistent* Source) {
    TCustomDAConnection::Assign(Source);
    if (auto* src = dynamic_cast<TCustomMSConnection*>(Source); src != nullptr && src != this) {
        SetDatabase(src->FDatabase);
        SetIsolationLevel(src->IsolationLevel());
    }
}

void TCustomMSConnection::SetDatabase(const std::string& Value) {
    if (Value == FDatabase)
        return;
    FDatabase = Value;
    ApplySessionOption(soDatabase, Value);
}

TIsolationLevel TCustomMSConnection::IsolationLevel() const {
    return const_cast<TCustomMSConnection*>(this)->Transaction().IsolationLevel;
}

void TCustomMSConnection::SetIsolationLevel(TIsolationLevel Value) {
    Transaction().IsolationLevel = Value;
    ApplySessionOption(soIsolationLevel, static_cast<int>(Value));
}

TCustomDASQLMonitor* TCustomMSConnection::SQLMonitor() const {
    return TMSSQLMonitor::Instance();
}

std::unique_ptr<TPVConnection> TCustomMSConnection::CreateSessionObject() {
    auto session = std::make_unique<TOLEDBConnection>();
    session->SetSessionOption(soNumericType, static_cast<int>(MSOptions()->NumericType()));
    return session;
}

void TCustomMSConnection::AttachSessionObject(std::unique_ptr<TPVConnection> Session) {
    TCustomDAConnection::AttachSessionObject(std::move(Session));
    if (TOLEDBConnection* s = OLEDBSession(); s != nullptr && !s->GetConnected())
        s->SetSessionOption(soDatabase, FDatabase);
}

TConnectDialogClass TCustomMSConnection::ConnectDialogClass() const {
    return GetConnectDialogClass("TMSConnectDialog");
}

std::unique_ptr<TDAConnectionOptions> TCustomMSConnection::CreateOptions() {
    return std::make_unique<TCustomMSConnectionOptions>(this);
}

void TCustomMSConnection::PushSessionOptions() {
    TOLEDBConnection* s = OLEDBSession();
    if (s == nullptr)
        return;
    const TCustomMSConnectionOptions* o = MSOptions();
    s->SetSessionOption(soDatabase, FDatabase);
    s->SetSessionOption(soIsolationLevel, static_cast<int>(IsolationLevel()));
    s->SetSessionOption(soQuotedIdentifier, o->QuotedIdentifier());
    s->SetSessionOption(soLanguage, o->Language());
    s->SetSessionOption(soEncrypt, o->Encrypt());
    s->SetSessionOption(soProvider, static_cast<int>(o->Provider()));
    s->SetSessionOption(soDefaultLockTimeout, o->DefaultLockTimeout());
    s->SetSessionOption(soDisconnectedMode, o->DisconnectedMode());
}

std::string TCustomMSConnection::PoolKey() const {
    const TCustomMSConnectionOptions* o = MSOptions();
    return TCustomDAConnection::PoolKey() + "\x1f" + FDatabase + "\x1f" +
           IntToStr(static_cast<int>(IsolationLevel())) + "\x1f" +
           (o->QuotedIdentifier() ? "1" : "0") + (o->Encrypt() ? "1" : "0") +
           IntToStr(static_cast<int>(o->Provider()));
}

void TCustomMSConnection::OpenLink() {
    TCustomDAConnection::OpenLink();
    if (FDatabase.empty())
        if (TOLEDBConnection* s = OLEDBSession())
            FDatabase = std::get<std::string>(s->GetSessionOption(soDatabase));
}

// A SQL Server dataset with unread results of a batch forbids re-opening the link under it:
// those results would be lost without a word. The statement that failed and will run again
// does not count.
bool TCustomMSConnection::ClientsAllowReconnect(TConnLostCause Cause,
                                                TComponent* ErrorComponent) const {
    return TCustomDAConnection::ClientsAllowReconnect(Cause, ErrorComponent) &&
           !ClientsHoldPendingResults(Cause == clExecute ? ErrorComponent : nullptr);
}

// ---------------------------------------------------------------------------------------------
// TMSConnection

TMSConnection::TMSConnection(TComponent* AOwner) : TCustomMSConnection(AOwner) {
    InitOptions();
}

TMSConnection::~TMSConnection() = default;

TMSConnectionOptions* TMSConnection::Options() const {
    return static_cast<TMSConnectionOptions*>(TCustomDAConnection::Options());
}

std::unique_ptr<TDAConnectionOptions> TMSConnection::CreateOptions() {
    return std::make_unique<TMSConnectionOptions>(this);
}

void TMSConnection::Assign(TPersistent* Source) {
    TCustomMSConnection::Assign(Source);
    if (auto* src = dynamic_cast<TMSConnection*>(Source); src != nullptr && src != this) {
        SetAuthentication(src->FAuthentication);
        SetConnectionTimeout(src->FConnectionTimeout);
        OnInfoMessage = src->OnInfoMessage;
    }
}

void TMSConnection::SetAuthentication(TMSAuthentication Value) {
    if (Value == FAuthentication)
        return;
    SetConnected(false);
    FAuthentication = Value;
    ApplySessionOption(soAuthentication, static_cast<int>(Value));
}

void TMSConnection::SetConnectionTimeout(int Value) {
    FConnectionTimeout = Value;
    ApplySessionOption(soConnectionTimeout, Value);
}

bool TMSConnection::NeedsLoginPrompt() const {
    return FAuthentication != auWindows && TCustomMSConnection::NeedsLoginPrompt();
}

void TMSConnection::PushSessionOptions() {
    TCustomMSConnection::PushSessionOptions();
    TOLEDBConnection* s = OLEDBSession();
    if (s == nullptr)
        return;
    const TMSConnectionOptions* o = Options();
    s->SetSessionOption(soAuthentication, static_cast<int>(FAuthentication));
    s->SetSessionOption(soConnectionTimeout, FConnectionTimeout);
    s->SetSessionOption(soPersistSecurityInfo, o->PersistSecurityInfo());
    s->SetSessionOption(soAutoTranslate, o->AutoTranslate());
    s->SetSessionOption(soNetworkLibrary, o->NetworkLibrary());
    s->SetSessionOption(soApplicationName, o->ApplicationName());
    s->SetSessionOption(soWorkstationID, o->WorkstationID());
    s->SetSessionOption(soPacketSize, o->PacketSize());
    s->SetSessionOption(soInitialFileName, o->InitialFileName());
    s->SetSessionOption(soMultipleActiveResultSets, o->MultipleActiveResultSets());
    s->SetSessionOption(soFailoverPartner, o->FailoverPartner());
    s->SetSessionOption(soTrustServerCertificate, o->TrustServerCertificate());
}

void TMSConnection::AttachSessionObject(std::unique_ptr<TPVConnection> Session) {
    TCustomMSConnection::AttachSessionObject(std::move(Session));
    if (TOLEDBConnection* s = OLEDBSession())
        s->SetInfoMessageHook([this](EMSError& E) {
            TCustomDASQLMonitor::InfoMessage(SQLMonitor(), this, E.Message());
            if (OnInfoMessage)
                OnInfoMessage(this, E);
        });
}

std::string TMSConnection::PoolKey() const {
    const TMSConnectionOptions* o = Options();
    return TCustomMSConnection::PoolKey() + "\x1f" + o->Language() + "\x1f" +
           (o->PersistSecurityInfo() ? "1" : "0") + (o->AutoTranslate() ? "1" : "0") +
           IntToStr(static_cast<int>(FAuthentication)) + "\x1f" + o->NetworkLibrary() + "\x1f" +
           o->ApplicationName() + "\x1f" + o->WorkstationID() + "\x1f" + IntToStr(o->PacketSize());
}

std::string TMSConnection::ConnectString() const {
    std::string s = "Provider=SQLOLEDB.1;Data Source=" + Server();
    if (!Database().empty())
        s += ";Initial Catalog=" + Database();
    if (FAuthentication == auWindows)
        s += ";Integrated Security=SSPI";
    else
        s += ";User ID=" + Username();
    return s;
}

// ---------------------------------------------------------------------------------------------
// Published properties

namespace {

const TEnumInfo kIsolationInfo{
    "TIsolationLevel",
    {"ilReadCommitted", "ilReadUnCommitted", "ilRepeatableRead", "ilIsolated", "ilSnapshot"}};
const TEnumInfo kAuthenticationInfo{"TMSAuthentication", {"auWindows", "auServer"}};
const TEnumInfo kProviderInfo{"TOLEDBProvider", {"prAuto", "prSQL", "prNativeClient", "prCompact"}};
const TEnumInfo kNumericTypeInfo{"TNumericType", {"ntFloat", "ntBCD", "ntFmtBCD"}};
const TEnumInfo kSortTypeInfo{"TSortType", {"stCaseSensitive", "stCaseInsensitive", "stBinary"}};

template <class F>
auto asMS(F TCustomDAConnection::*Field) {
    return static_cast<F TMSConnection::*>(Field);
}

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    using O = TMSConnectionOptions;
    ClassBuilder<TDAConnectionOptions>("TDAConnectionOptions", "TPersistent").Abstract();
    ClassBuilder<TCustomMSConnectionOptions>("TCustomMSConnectionOptions", "TDAConnectionOptions")
        .Abstract();
    ClassBuilder<O>("TMSConnectionOptions", "TCustomMSConnectionOptions")
        .Abstract()
        .Bool("QuotedIdentifier", &O::QuotedIdentifier, &O::SetQuotedIdentifier)
        .Default(true)
        .String("Language", &O::Language, &O::SetLanguage)
        .Enum("NumericType", &kNumericTypeInfo, &O::NumericType, &O::SetNumericType)
        .Default(ntFloat)
        .Bool("Encrypt", &O::Encrypt, &O::SetEncrypt)
        .Default(false)
        .Bool("PersistSecurityInfo", &O::PersistSecurityInfo, &O::SetPersistSecurityInfo)
        .Default(false)
        .Bool("AutoTranslate", &O::AutoTranslate, &O::SetAutoTranslate)
        .Default(true)
        .String("NetworkLibrary", &O::NetworkLibrary, &O::SetNetworkLibrary)
        .String("ApplicationName", &O::ApplicationName, &O::SetApplicationName)
        .String("WorkstationID", &O::WorkstationID, &O::SetWorkstationID)
        .Integer("PacketSize", &O::PacketSize, &O::SetPacketSize)
        .Default(4096)
        .String("InitialFileName", &O::InitialFileName, &O::SetInitialFileName)
        .Bool("MultipleActiveResultSets", &O::MultipleActiveResultSets,
              &O::SetMultipleActiveResultSets)
        .Default(false)
        .String("FailoverPartner", &O::FailoverPartner, &O::SetFailoverPartner)
        .Bool("TrustServerCertificate", &O::TrustServerCertificate, &O::SetTrustServerCertificate)
        .Default(false)
        .Integer("DefaultLockTimeout", &O::DefaultLockTimeout, &O::SetDefaultLockTimeout)
        .Default(2000)
        .Enum("Provider", &kProviderInfo, &O::Provider, &O::SetProvider)
        .Default(prAuto)
        .Bool("KeepDesignConnected", &O::KeepDesignConnected, &O::SetKeepDesignConnected)
        .Default(true)
        .Bool("DisconnectedMode", &O::DisconnectedMode, &O::SetDisconnectedMode)
        .Default(false)
        .Bool("LocalFailover", &O::LocalFailover, &O::SetLocalFailover)
        .Default(false)
        .Enum("DefaultSortType", &kSortTypeInfo, &O::DefaultSortType, &O::SetDefaultSortType)
        .Default(stCaseSensitive);

    using C = TMSConnection;
    ClassBuilder<TCustomDAConnection>("TCustomDAConnection", "TComponent").Abstract();
    ClassBuilder<TCustomMSConnection>("TCustomMSConnection", "TCustomDAConnection").Abstract();
    ClassBuilder<C>("TMSConnection", "TCustomMSConnection")
        .String("Database", &C::Database, &C::SetDatabase)
        .Enum("IsolationLevel", &kIsolationInfo, &C::IsolationLevel, &C::SetIsolationLevel)
        .Default(ilReadCommitted)
        .Enum("Authentication", &kAuthenticationInfo, &C::Authentication, &C::SetAuthentication)
        .Default(auServer)
        .Integer("ConnectionTimeout", &C::ConnectionTimeout, &C::SetConnectionTimeout)
        .Default(15)
        .Object("Options", &C::Options)
        .Object("PoolingOptions", &C::PoolingOptions)
        .Bool("Pooling", &C::Pooling, &C::SetPooling)
        .Default(false)
        .String("Username", &C::Username, &C::SetUsername)
        .String("Password", &C::Password, &C::SetPassword)
        .String("Server", &C::Server, &C::SetServer)
        .Bool("Connected", &C::Connected, &C::SetConnected)
        .StoredIf([](const C& c) { return c.Connected() && !c.Options()->DisconnectedMode(); })
        .Event("AfterConnect", asMS(&TCustomDAConnection::AfterConnect))
        .Event("BeforeConnect", asMS(&TCustomDAConnection::BeforeConnect))
        .Event("AfterDisconnect", asMS(&TCustomDAConnection::AfterDisconnect))
        .Event("BeforeDisconnect", asMS(&TCustomDAConnection::BeforeDisconnect))
        .Event("OnLogin", asMS(&TCustomDAConnection::OnLogin))
        .Event("OnError", asMS(&TCustomDAConnection::OnError))
        .Component("ConnectDialog", &C::ConnectDialog, &C::SetConnectDialog)
        .Bool("LoginPrompt", &C::LoginPrompt, &C::SetLoginPrompt)
        .Default(true)
        .Event("OnInfoMessage", &C::OnInfoMessage)
        .Event("OnConnectionLost", asMS(&TCustomDAConnection::OnConnectionLost));
    return true;
}();

} // namespace

bool detail::msAccessClassesRegistered() {
    return registered;
}

} // namespace kv::dataaccess
