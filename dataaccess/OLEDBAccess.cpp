#include "dataaccess/OLEDBAccess.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/OLEDBProperties.h"
#include "platform/Clock.h"
#include "platform/Program.h"
#include "toolkit/DB.h"

#include <vector>

namespace kv::dataaccess {

namespace {

std::string& exeNameSlot() {
    static std::string name;
    return name;
}

// The integer before the first "." of a version text ("08.00.2039" -> 8).
int majorVersionOf(const std::string& version) {
    std::int64_t v = 0;
    std::string head = version.substr(0, version.find('.'));
    return TryStrToInt(head, v) ? static_cast<int>(v) : 0;
}

// Removes the identifier quotes around a database name: [name] or "name".
std::string unquoteName(const std::string& name) {
    if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') ||
                             (name.front() == '"' && name.back() == '"')))
        return name.substr(1, name.size() - 2);
    return name;
}

std::vector<CLSID> candidatesFor(TOLEDBProvider kind, int compactVersion) {
    switch (kind) {
    case prAuto:
        return {CLSID_SQLNCLI10, CLSID_SQLNCLI, CLSID_SQLOLEDB};
    case prSQL:
        return {CLSID_SQLOLEDB};
    case prNativeClient:
        return {CLSID_SQLNCLI10, CLSID_SQLNCLI};
    case prCompact:
        if (compactVersion == 35)
            return {CLSID_SQLSERVERCE_3_5};
        if (compactVersion == 30)
            return {CLSID_SQLSERVERCE_3_0};
        return {CLSID_SQLSERVERCE_3_5, CLSID_SQLSERVERCE_3_0};
    }
    DatabaseError(SWrongProviderName);
}

} // namespace

std::int32_t OLEDBIsolationLevel(TIsolationLevel Level) {
    switch (Level) {
    case ilReadCommitted:
        return 0x1000;
    case ilReadUnCommitted:
        return 0x100;
    case ilRepeatableRead:
        return 0x10000;
    case ilIsolated:
        return 0x100000;
    case ilSnapshot:
        return 0x1000000;
    }
    throw Exception(SUnsupportedIsolationLevel);
}

std::string ApplicationExeName() {
    if (!exeNameSlot().empty())
        return exeNameSlot();
    return kv::platform::programFileName();
}

void SetApplicationExeName(std::string Name) {
    exeNameSlot() = std::move(Name);
}

TOLEDBConnection::TOLEDBConnection() = default;

TOLEDBConnection::~TOLEDBConnection() {
    try {
        CloseSession();
    } catch (...) { // a destructor must not throw; the link is gone either way
    }
    FInternalCommand.reset();
}

// ---------------------------------------------------------------------------------------------
// Options

void TOLEDBConnection::SetSessionOption(TSessionOption Option, const TSessionValue& Value) {
    auto b = [&] { return std::get<bool>(Value); };
    auto i = [&] { return std::get<int>(Value); };
    auto s = [&] { return std::get<std::string>(Value); };
    switch (Option) {
    case soDatabase: {
        std::string name = s();
        if (GetConnected())
            SetDatabaseOnLink(name);
        FDatabase = name;
        break;
    }
    case soAuthentication:
        FAuthentication = static_cast<TMSAuthentication>(i());
        break;
    case soProvider:
        FProvider = static_cast<TOLEDBProvider>(i());
        break;
    case soConnectionTimeout:
        FConnectionTimeout = i();
        break;
    case soQuotedIdentifier:
        if (b() != FQuotedIdentifier && GetConnected())
            RunInternalStatement(b() ? "SET QUOTED_IDENTIFIER ON" : "SET QUOTED_IDENTIFIER OFF");
        FQuotedIdentifier = b();
        break;
    case soLanguage:
        FLanguage = s();
        break;
    case soEncrypt:
        FEncrypt = b();
        break;
    case soPersistSecurityInfo:
        FPersistSecurityInfo = b();
        break;
    case soAutoTranslate:
        FAutoTranslate = b();
        break;
    case soNetworkLibrary:
        FNetworkLibrary = s();
        break;
    case soPacketSize:
        FPacketSize = i();
        break;
    case soApplicationName:
        FApplicationName = s();
        break;
    case soWorkstationID:
        FWorkstationID = s();
        break;
    case soInitialFileName:
        FInitialFileName = s();
        break;
    case soFailoverPartner:
        FFailoverPartner = s();
        break;
    case soMultipleActiveResultSets:
        FMultipleActiveResultSets = b();
        break;
    case soTrustServerCertificate:
        FTrustServerCertificate = b();
        break;
    case soDefaultLockTimeout:
        FLockTimeoutEnabled = i() > 0;
        if (FLockTimeoutEnabled)
            FLockTimeout = i();
        break;
    case soNativeClientVersion:
        FNativeClientVersion = i();
        break;
    case soCompactVersion:
        FCompactVersion = i();
        break;
    case soNumericType:
        FNumericType = static_cast<TNumericType>(i());
        break;
    case soDisconnectedMode:
        FDisconnectedMode = b();
        break;
    case soIsolationLevel:
        OwnTransaction().IsolationLevel = static_cast<TIsolationLevel>(i());
        break;
    }
}

TSessionValue TOLEDBConnection::GetSessionOption(TSessionOption Option) const {
    switch (Option) {
    case soDatabase:
        return FDatabase;
    case soAuthentication:
        return static_cast<int>(FAuthentication);
    case soProvider:
        return static_cast<int>(FProvider);
    case soConnectionTimeout:
        return FConnectionTimeout;
    case soQuotedIdentifier:
        return FQuotedIdentifier;
    case soLanguage:
        return FLanguage;
    case soEncrypt:
        return FEncrypt;
    case soPersistSecurityInfo:
        return FPersistSecurityInfo;
    case soAutoTranslate:
        return FAutoTranslate;
    case soNetworkLibrary:
        return FNetworkLibrary;
    case soPacketSize:
        return FPacketSize;
    case soApplicationName:
        return FApplicationName;
    case soWorkstationID:
        return FWorkstationID;
    case soInitialFileName:
        return FInitialFileName;
    case soFailoverPartner:
        return FFailoverPartner;
    case soMultipleActiveResultSets:
        return FMultipleActiveResultSets;
    case soTrustServerCertificate:
        return FTrustServerCertificate;
    case soDefaultLockTimeout:
        return FLockTimeoutEnabled ? FLockTimeout : 0;
    case soNativeClientVersion:
        return FNativeClientVersion;
    case soCompactVersion:
        return FCompactVersion;
    case soNumericType:
        return static_cast<int>(FNumericType);
    case soDisconnectedMode:
        return FDisconnectedMode;
    case soIsolationLevel:
        return static_cast<int>(OwnTransactionLevel());
    }
    return false;
}

bool TOLEDBConnection::IsNativeClient() const {
    return FProviderClsid == CLSID_SQLNCLI10 || FProviderClsid == CLSID_SQLNCLI;
}

// ---------------------------------------------------------------------------------------------
// Errors

void TOLEDBConnection::CheckResult(HRESULT hr, TComponent* Component,
                                   const TStatusCallback& Status) {
    if (hr == S_OK || hr == DB_S_ERRORSOCCURRED)
        return;
    RaiseProviderError(hr, Component, Status);
}

void TOLEDBConnection::RaiseProviderError(HRESULT hr, TComponent* Component,
                                          const TStatusCallback& Status) {
    if (hr == S_OK && !FInfoMessageHook) {
        // Nothing will be reported; still take the error object off the thread so that it
        // cannot be mistaken for the error of a later call.
        kv::oledb::ComPtr<IErrorInfo> stale;
        GetErrorInfo(0, stale.put());
        return;
    }
    std::unique_ptr<EOLEDBError> error = BuildProviderError(hr, Component, Status);
    if (!error)
        return;
    if (hr == S_OK) {
        if (auto* ms = dynamic_cast<EMSError*>(error.get()))
            FInfoMessageHook(*ms);
        return;
    }
    RaiseThroughHandler(std::move(error));
}

void TOLEDBConnection::RaiseLayerError(HRESULT hr, const std::string& Message,
                                       TComponent* Component) {
    kv::oledb::ComPtr<IErrorInfo> stale;
    GetErrorInfo(0, stale.put());
    auto error =
        std::make_unique<EOLEDBError>(static_cast<std::int32_t>(hr), kv::oledb::toOle(Message));
    error->SetComponent(Component);
    error->SetProviderResult(hr);
    RaiseThroughHandler(std::move(error));
}

void TOLEDBConnection::RaiseThroughHandler(std::unique_ptr<EOLEDBError> Error) {
    bool fail = true;
    if (HasErrorHandler())
        RunErrorHandler(*Error, fail);
    if (fail)
        Error->Raise();
    Error.reset();
    throw EAbort(SOperationAborted);
}

// ---------------------------------------------------------------------------------------------
// Opening

void TOLEDBConnection::CreateDataSource() {
    std::vector<CLSID> candidates = candidatesFor(FProvider, FCompactVersion);
    HRESULT hr = REGDB_E_CLASSNOTREG;
    for (const CLSID& clsid : candidates) {
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                              FDBInitialize.putVoid());
        if (hr != REGDB_E_CLASSNOTREG) {
            FProviderClsid = clsid;
            break;
        }
    }
    if (hr == REGDB_E_CLASSNOTREG)
        DatabaseError(SRequiredProviderNotInstalled);
    CheckResult(hr, Owner());
}

template <class TProps>
void TOLEDBConnection::ApplyPropertySet(TProps* Props, TOLEDBPropertiesSet& Set,
                                        const char* Extra) {
    try {
        CheckResult(Props->SetProperties(1, Set.Set()), Owner());
    } catch (const EFailOver&) {
        throw;
    } catch (const Exception& e) {
        std::string addition = Set.StatusReport();
        if (Extra != nullptr)
            addition += std::string("\n") + Extra;
        if (auto* ole = dynamic_cast<const EOLEDBError*>(&e)) {
            std::unique_ptr<EDAError> copy = ole->Clone();
            AppendErrorText(static_cast<EOLEDBError&>(*copy), addition);
            copy->Raise();
        }
        if (auto* da = dynamic_cast<const EDAError*>(&e)) {
            std::unique_ptr<EDAError> copy = da->Clone();
            copy->SetMessage(da->Message() + "\n" + addition);
            copy->Raise();
        }
        throw Exception(e.Message() + "\n" + addition);
    }
}

void TOLEDBConnection::SetInitProperties() {
    {
        TOLEDBPropertiesSet set(DBPROPSET_DBINIT);
        set.AddPropStr(DBPROP_INIT_DATASOURCE, Server.empty() ? "(local)" : Server);
        set.AddPropStr(DBPROP_INIT_CATALOG, FDatabase);
        set.AddPropInt(DBPROP_INIT_TIMEOUT, FConnectionTimeout, true);
        if (FAuthentication == auWindows) {
            set.AddPropStr(DBPROP_AUTH_INTEGRATED, "");
        } else if (!Username.empty() || !Password.empty()) {
            set.AddPropStr(DBPROP_AUTH_USERID, Username);
            set.AddPropStr(DBPROP_AUTH_PASSWORD, Password);
        } else {
            set.AddPropStr(DBPROP_AUTH_USERID, "sa");
        }
        if (FPersistSecurityInfo)
            set.AddPropBool(DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, true);
        set.AddPropSmallInt(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);
        set.AddPropInt(DBPROP_INIT_HWND, 0, true);
        ApplyPropertySet(FDBProperties.get(), set);
    }
    if (FProvider == prCompact)
        return; // the compact edition has property sets of its own, not used here
    {
        TOLEDBPropertiesSet set(DBPROPSET_SQLSERVERDBINIT);
        if (!FWorkstationID.empty())
            set.AddPropStr(SSPROP_INIT_WSID, FWorkstationID);
        set.AddPropStr(SSPROP_INIT_APPNAME,
                       FApplicationName.empty() ? ApplicationExeName() : FApplicationName);
        if (!FLanguage.empty())
            set.AddPropStr(SSPROP_INIT_CURRENTLANGUAGE, FLanguage, true);
        set.AddPropBool(SSPROP_INIT_AUTOTRANSLATE, FAutoTranslate, true);
        if (IsNativeClient()) {
            if (FMultipleActiveResultSets)
                set.AddPropBool(SSPROP_INIT_MARSCONNECTION, true);
            if (FTrustServerCertificate)
                set.AddPropBool(SSPROP_INIT_TRUST_SERVER_CERTIFICATE, true);
        }
        if (!FInitialFileName.empty())
            set.AddPropStr(SSPROP_INIT_FILENAME, FInitialFileName);
        if (!FFailoverPartner.empty())
            set.AddPropStr(SSPROP_INIT_FAILOVERPARTNER, FFailoverPartner);
        ApplyPropertySet(FDBProperties.get(), set);
    }
    if (FEncrypt) {
        TOLEDBPropertiesSet set(DBPROPSET_SQLSERVERDBINIT);
        set.AddPropBool(SSPROP_INIT_ENCRYPT, true);
        ApplyPropertySet(FDBProperties.get(), set, SWrongEncrypt);
    }
    if (!FNetworkLibrary.empty()) {
        TOLEDBPropertiesSet set(DBPROPSET_SQLSERVERDBINIT);
        set.AddPropStr(SSPROP_INIT_NETWORKLIBRARY, FNetworkLibrary, true);
        ApplyPropertySet(FDBProperties.get(), set, SWrongNetworkLibrary);
    }
    {
        TOLEDBPropertiesSet set(DBPROPSET_SQLSERVERDBINIT);
        set.AddPropInt(SSPROP_INIT_PACKETSIZE, FPacketSize, true);
        ApplyPropertySet(FDBProperties.get(), set, SWrongPacketSize);
    }
}

void TOLEDBConnection::ReadServerFacts() {
    if (FDatabase.empty()) {
        TOLEDBPropertiesGet get;
        CheckResult(get.Read(FDBProperties.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG}),
                    Owner());
        FDatabase = get.GetString(DBPROP_CURRENTCATALOG);
    }
    TOLEDBPropertiesGet info;
    CheckResult(info.Read(FDBProperties.get(), DBPROPSET_DATASOURCEINFO,
                          {DBPROP_DBMSNAME, DBPROP_DBMSVER, DBPROP_PROVIDERFRIENDLYNAME,
                           DBPROP_PROVIDERVER}),
                Owner());
    FDBMSName = info.GetString(DBPROP_DBMSNAME);
    FDBMSVer = info.GetString(DBPROP_DBMSVER);
    FProviderFriendlyName = info.GetString(DBPROP_PROVIDERFRIENDLYNAME);
    FProviderVer = info.GetString(DBPROP_PROVIDERVER);
    FServerMajorVersion = majorVersionOf(FDBMSVer);
    FProviderMajorVersion = majorVersionOf(FProviderVer);
}

TIsolationLevel TOLEDBConnection::OwnTransactionLevel() const {
    const TPVTransaction* t = Transaction();
    return t != nullptr ? t->IsolationLevel : OwnTransaction().IsolationLevel;
}

void TOLEDBConnection::OpenSession() {
    if (GetConnected())
        return;
    try {
        CreateDataSource();
        CheckResult(FDBInitialize.as(IID_IDBProperties, FDBProperties), Owner());
        SetInitProperties();
        CheckResult(FDBInitialize->Initialize(), Owner());
        {
            TOLEDBPropertiesSet set(DBPROPSET_DATASOURCE);
            set.AddPropBool(DBPROP_MULTIPLECONNECTIONS, true);
            ApplyPropertySet(FDBProperties.get(), set);
        }
        CheckResult(FDBInitialize.as(IID_IDBCreateSession, FDBCreateSession), Owner());
        CheckResult(FDBCreateSession->CreateSession(nullptr, IID_ISessionProperties,
                                                    FSessionProperties.putUnknown()),
                    Owner());
        {
            TOLEDBPropertiesSet set(DBPROPSET_SESSION);
            set.AddPropInt(DBPROP_SESS_AUTOCOMMITISOLEVELS,
                           OLEDBIsolationLevel(OwnTransactionLevel()), true);
            ApplyPropertySet(FSessionProperties.get(), set);
        }
        ReadServerFacts();
    } catch (const EFailOver&) {
        throw;
    } catch (...) {
        ReleaseInterfaces();
        throw;
    }
    FOwnLink = true;
    MarkOpened(kv::platform::SystemClock().tickCount());

    // The link's own statements. A failure here leaves the link closed like any other
    // failure of the open (unless the error handling already re-opened or closed it).
    try {
        if (!FQuotedIdentifier)
            RunInternalStatement("SET QUOTED_IDENTIFIER OFF");
        if (FLockTimeoutEnabled)
            RunInternalStatement("SET LOCK_TIMEOUT " + std::to_string(FLockTimeout));
    } catch (const EFailOver&) {
        throw;
    } catch (...) {
        try {
            CloseSession();
        } catch (...) {
        }
        throw;
    }
}

void TOLEDBConnection::ReleaseInterfaces() {
    FInternalCommand.reset();
    FSessionProperties.reset();
    FDBCreateSession.reset();
    FDBProperties.reset();
    FDBInitialize.reset();
}

void TOLEDBConnection::CloseSession() {
    if (!GetConnected())
        return;
    if (FOwnLink) {
        if (Transaction() != nullptr)
            Transaction()->SetConnection(nullptr);
        FInternalCommand.reset();
        FSessionProperties.reset();
        if (FDBInitialize)
            FDBInitialize->Uninitialize();
        ReleaseInterfaces();
    } else {
        ReleaseInterfaces(); // our references only; the owner of the link closes it
    }
    MarkClosed();
}

void TOLEDBConnection::AssignLink(TOLEDBConnection* Source) {
    FDBInitialize = Source->FDBInitialize;
    FDBProperties = Source->FDBProperties;
    FDBCreateSession = Source->FDBCreateSession;
    FSessionProperties = Source->FSessionProperties;
    FProviderClsid = Source->FProviderClsid;
    FOwnLink = false;
    MarkOpened(Source->LastOpenTime());
}

// ---------------------------------------------------------------------------------------------
// The link's own statements

void TOLEDBConnection::RunInternalStatement(const std::string& Text) {
    if (!FInternalCommand) {
        kv::oledb::ComPtr<IDBCreateCommand> factory;
        CheckResult(FSessionProperties.as(IID_IDBCreateCommand, factory), Owner());
        CheckResult(
            factory->CreateCommand(nullptr, IID_ICommandText, FInternalCommand.putUnknown()),
            Owner());
    }
    kv::oledb::OleString w = kv::oledb::toOle(Text);
    CheckResult(FInternalCommand->SetCommandText(DBGUID_DEFAULT, w.c_str()), Owner());
    DBROWCOUNT rows = 0;
    kv::oledb::ComPtr<IUnknown> result;
    CheckResult(FInternalCommand->Execute(nullptr, IID_NULL, nullptr, &rows, result.put()),
                Owner());
}

void TOLEDBConnection::CheckAlive() {
    bool alive = false;
    if (FDBInitialize && FSessionProperties) {
        kv::oledb::ComPtr<IDBCreateCommand> factory;
        kv::oledb::ComPtr<ICommandText> command;
        if (SUCCEEDED(FSessionProperties.as(IID_IDBCreateCommand, factory)) && factory &&
            SUCCEEDED(factory->CreateCommand(nullptr, IID_ICommandText, command.putUnknown())) &&
            command &&
            SUCCEEDED(command->SetCommandText(
                DBGUID_DEFAULT, kv::oledb::toOle("/* Check connection */").c_str()))) {
            DBROWCOUNT rows = 0;
            kv::oledb::ComPtr<IUnknown> result;
            alive = SUCCEEDED(command->Execute(nullptr, IID_NULL, nullptr, &rows, result.put()));
        }
        kv::oledb::ComPtr<IErrorInfo> stale; // a refusal here is an answer, not an error to report
        GetErrorInfo(0, stale.put());
    }
    SetIsValid(alive);
}

// ---------------------------------------------------------------------------------------------
// Changing the database on an open link

void TOLEDBConnection::SetDatabaseOnLink(const std::string& Name) {
    if (Name.empty())
        DatabaseError(SChangingDatabaseToDefault);
    if (FDBProperties) {
        TOLEDBPropertiesSet set(DBPROPSET_DATASOURCE);
        set.AddPropStr(DBPROP_CURRENTCATALOG, unquoteName(Name));
        ApplyPropertySet(FDBProperties.get(), set);
    }
}

} // namespace kv::dataaccess
