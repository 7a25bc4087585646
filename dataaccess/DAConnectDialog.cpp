// The connect dialog base: label sets, the registry storage of the last login and the server
// history, and Execute around the login form.
//
// Registry layout (current user): KeyPath + "Connect\" + application title holds "Username" and
// "Server" of the last successful login; KeyPath + "Connect" holds the history "Server 1",
// "Server 2", ... (most recent first, no two equal ignoring case). The password is never stored.
// A key opened for reading that does not exist is tried again with the first "Quorix" of its
// path replaced by "Parvelt" (the name logins were stored under before); keys opened for
// writing are created and never use the replacement.

#include "dataaccess/DAConsts.h"
#include "dataaccess/DAPlatform.h"
#include "dataaccess/DAStringTable.h"
#include "dataaccess/DBAccess.h"
#include "platform/Platform.h"
#include "toolkit/DB.h"
#include "toolkit/Registry.h"

#include <map>

namespace kv::dataaccess {

using kv::platform::RegistryKey;
using kv::platform::RegistryRoot;

const TEnumInfo LabelSetInfo{"TLabelSet",
                             {"lsCustom", "lsEnglish", "lsFrench", "lsGerman", "lsItalian",
                              "lsPolish", "lsPortuguese", "lsRussian", "lsSpanish"}};

int LabelSetBase(TLabelSet Set) {
    switch (Set) {
    case lsCustom:
        return -1;
    case lsRussian:
        return 0;
    case lsSpanish:
        return 700;
    default:
        return static_cast<int>(Set) * 100;
    }
}

namespace {

// The title prefixes of the two design environments; an ordinary program never has them.
constexpr const char* kDesignTitles[] = {"Kelvora Designer", "Kelvora Form Designer"};
constexpr int kMaxLabelChars = 49;

// At most Count characters (not bytes) of a UTF-8 text.
std::string firstChars(const std::string& Text, int Count) {
    std::size_t i = 0;
    for (int n = 0; i < Text.size() && n < Count; ++n) {
        ++i;
        while (i < Text.size() && (static_cast<unsigned char>(Text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return Text.substr(0, i);
}

std::string withReplacement(const std::string& Path) {
    const std::string upper = UpperCase(Path);
    const auto at = upper.find("QUORIX");
    if (at == std::string::npos)
        return std::string();
    return Path.substr(0, at) + "Parvelt" + Path.substr(at + 6);
}

kv::platform::Registry* registry() {
    kv::platform::Platform* platform = DataAccessPlatform();
    return platform != nullptr ? &platform->registry() : nullptr;
}

std::unique_ptr<RegistryKey> openForReading(const std::string& Path) {
    kv::platform::Registry* reg = registry();
    if (reg == nullptr)
        return nullptr;
    auto key = reg->openKey(RegistryRoot::CurrentUser, Path);
    if (key)
        return std::move(key).value();
    const std::string other = withReplacement(Path);
    if (other.empty())
        return nullptr;
    auto second = reg->openKey(RegistryRoot::CurrentUser, other);
    return second ? std::move(second).value() : nullptr;
}

std::unique_ptr<RegistryKey> openForWriting(const std::string& Path) {
    kv::platform::Registry* reg = registry();
    if (reg == nullptr)
        return nullptr;
    auto key = reg->createKey(RegistryRoot::CurrentUser, Path);
    return key ? std::move(key).value() : nullptr;
}

std::map<std::string, TConnectDialogClass>& dialogClasses() {
    static std::map<std::string, TConnectDialogClass> classes;
    return classes;
}

} // namespace

void RegisterConnectDialogClass(const std::string& Name, TConnectDialogClass Class) {
    dialogClasses()[UpperCase(Name)] = std::move(Class);
}

void UnregisterConnectDialogClass(const std::string& Name) {
    dialogClasses().erase(UpperCase(Name));
}

TConnectDialogClass GetConnectDialogClass(const std::string& Name) {
    auto it = dialogClasses().find(UpperCase(Name));
    return it == dialogClasses().end() ? TConnectDialogClass{} : it->second;
}

// A stored string value: nullopt when the key has none; a value of another type than a plain
// or expandable string is the registry read error.
std::optional<std::string> ReadRegistryText(RegistryKey& Key, const std::string& Name) {
    auto type = Key.valueType(Name);
    if (!type)
        return std::nullopt;
    auto text = Key.readString(Name);
    if (!text)
        throw ERegistryException("Invalid data type for '" + Name + "'");
    return std::move(text).value();
}

TShowConnectFormHook& ShowConnectFormHook() {
    static TShowConnectFormHook hook;
    return hook;
}

bool ShowConnectForm(TCustomConnectDialog* Dialog) {
    return ShowConnectFormHook() ? ShowConnectFormHook()(Dialog) : false;
}

TCustomConnectDialog::TCustomConnectDialog(TComponent* AOwner) : TComponent(AOwner) {
    FRetries = 3;
    SetLabelSet(lsEnglish);
    FStoreLogInfo = true;
    FUseServerHistory = true;
    FRequireConnected = true;
}

TCustomConnectDialog::~TCustomConnectDialog() {
    if (FConnection != nullptr && FConnection->ConnectDialog() == this)
        FConnection->SetConnectDialog(nullptr);
}

void TCustomConnectDialog::SetConnection(TCustomDAConnection* Value) {
    if (Value == FConnection)
        return;
    if (FConnection != nullptr)
        FConnection->RemoveFreeNotification(this);
    FConnection = Value;
    if (FConnection != nullptr)
        FConnection->FreeNotification(this);
}

void TCustomConnectDialog::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent == FConnection)
        FConnection = nullptr;
    TComponent::Notification(AComponent, Operation);
}

void TCustomConnectDialog::SetLabelSet(TLabelSet Value) {
    FLabelSet = Value;
    const int base = LabelSetBase(Value);
    if (base < 0)
        return;
    FCaption = firstChars(LoadResString(base + 0), kMaxLabelChars);
    FUsernameLabel = firstChars(LoadResString(base + 1), kMaxLabelChars);
    FPasswordLabel = firstChars(LoadResString(base + 2), kMaxLabelChars);
    FServerLabel = firstChars(LoadResString(base + 3), kMaxLabelChars);
    FConnectButton = firstChars(LoadResString(base + 4), kMaxLabelChars);
    FCancelButton = firstChars(LoadResString(base + 5), kMaxLabelChars);
}

void TCustomConnectDialog::SetText(std::string& Field, const std::string& Value) {
    // A text set by hand makes the set custom; while loading, the stream's LabelSet (which
    // comes after the texts) decides.
    if (!ComponentState().Contains(csLoading))
        FLabelSet = lsCustom;
    Field = Value;
}

void TCustomConnectDialog::SetCaption(const std::string& Value) {
    SetText(FCaption, Value);
}
void TCustomConnectDialog::SetUsernameLabel(const std::string& Value) {
    SetText(FUsernameLabel, Value);
}
void TCustomConnectDialog::SetPasswordLabel(const std::string& Value) {
    SetText(FPasswordLabel, Value);
}
void TCustomConnectDialog::SetServerLabel(const std::string& Value) {
    SetText(FServerLabel, Value);
}
void TCustomConnectDialog::SetConnectButton(const std::string& Value) {
    SetText(FConnectButton, Value);
}
void TCustomConnectDialog::SetCancelButton(const std::string& Value) {
    SetText(FCancelButton, Value);
}

bool TCustomConnectDialog::InDesignEnvironment() {
    const std::string title = ApplicationTitle();
    for (const char* prefix : kDesignTitles)
        if (title.rfind(prefix, 0) == 0)
            return true;
    return false;
}

void TCustomConnectDialog::LoadLoginInfo(RegistryKey& Key) {
    using internal::LoginFieldsGate;
    if (auto user = ReadRegistryText(Key, "Username"))
        LoginFieldsGate::SetUsername(*FConnection, *user);
    if (auto server = ReadRegistryText(Key, "Server"))
        LoginFieldsGate::SetServer(*FConnection, *server);
}

void TCustomConnectDialog::SaveLoginInfo(RegistryKey& Key) {
    (void)Key.writeString("Username", FConnection->Username());
    (void)Key.writeString("Server", FConnection->Server());
}

void TCustomConnectDialog::LoadServerHistory(TStrings* List) {
    auto key = openForReading(KeyPath() + "Connect");
    if (!key)
        return;
    List->Clear();
    for (int n = 1;; ++n) {
        auto value = ReadRegistryText(*key, ServerValueName() + " " + std::to_string(n));
        if (!value)
            break;
        List->Add(*value);
    }
}

void TCustomConnectDialog::SaveServerHistory() {
    const std::string server = FConnection->Server();
    if (server.empty())
        return;
    TStringList old;
    LoadServerHistory(&old);
    auto key = openForWriting(KeyPath() + "Connect");
    if (!key)
        return;
    int n = 1;
    (void)key->writeString(ServerValueName() + " " + std::to_string(n++), server);
    for (int i = 0; i < old.Count(); ++i)
        if (!SameText(old[i], server))
            (void)key->writeString(ServerValueName() + " " + std::to_string(n++), old[i]);
}

void TCustomConnectDialog::GetServerList(TStrings* List) {
    LoadServerHistory(List);
}

bool TCustomConnectDialog::Execute() {
    using internal::LoginFieldsGate;
    if (FConnection == nullptr)
        DatabaseError(SConnectionNotDefined);
    TCustomDAConnection& connection = *FConnection;
    const std::string oldUsername = connection.Username();
    const std::string oldPassword = connection.Password();
    const std::string oldServer = connection.Server();
    RememberConnection();
    const std::string loginKey = KeyPath() + "Connect\\" + ApplicationTitle();

    bool result = false;
    try {
        if (FStoreLogInfo) {
            auto key = openForReading(loginKey);
            const bool designing = InDesignEnvironment();
            if (key && (!designing || connection.Username().empty()))
                LoadLoginInfo(*key);
            if (!FSavePassword && !designing)
                LoginFieldsGate::SetPassword(connection, std::string());
            else if (!SameText(connection.Username(), oldUsername))
                LoginFieldsGate::SetPassword(connection, std::string());
        }
        result = ShowConnectForm(this);
        if (result && FStoreLogInfo) {
            SaveServerHistory();
            if (auto key = openForWriting(loginKey))
                SaveLoginInfo(*key);
        }
    } catch (...) {
        LoginFieldsGate::SetUsername(connection, oldUsername);
        LoginFieldsGate::SetPassword(connection, oldPassword);
        LoginFieldsGate::SetServer(connection, oldServer);
        RestoreConnection();
        throw;
    }
    if (!result) {
        LoginFieldsGate::SetUsername(connection, oldUsername);
        LoginFieldsGate::SetPassword(connection, oldPassword);
        LoginFieldsGate::SetServer(connection, oldServer);
        RestoreConnection();
    }
    return result;
}

} // namespace kv::dataaccess
