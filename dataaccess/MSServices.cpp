// The SQL Server enumerator and its four sources. See MSServices.h for the order and the
// failure rules.

#include "dataaccess/MSServices.h"

#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSServerAnswer.h"
#include "dataaccess/OLEDBRowsetText.h"
#include "platform/Datagram.h"
#include "platform/Platform.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kv::dataaccess {

namespace {

constexpr std::uint8_t kCompactProvider = 3;
constexpr std::size_t kAnswerBufferSize = 8192;
constexpr std::uint8_t kAllInstancesRequest = 0x03;
constexpr const char* kAliasKey = "SOFTWARE\\Microsoft\\MSSQLServer\\Client\\ConnectTo";
constexpr const char* kInstancesKey =
    "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

[[noreturn]] void unknownSetting(int Prop) {
    std::fprintf(stderr, "Unknown server enumerator setting %d\n", Prop);
    assert(false && "unknown server enumerator setting");
    std::abort();
}

[[noreturn]] void socketError(long long Code) {
    throw Exception("Socket error: " + std::to_string(Code));
}

} // namespace

bool TPVServerEnumerator::SetProp(int Prop, const TEnumeratorValue&) {
    unknownSetting(Prop);
}

bool TPVServerEnumerator::GetProp(int Prop, TEnumeratorValue&) const {
    unknownSetting(Prop);
}

void TPVServerEnumerator::GetServerList(TStrings* List) {
    List->Clear();
}

bool TMSServerEnumerator::SetProp(int Prop, const TEnumeratorValue& Value) {
    if (Prop != prProvider)
        return TPVServerEnumerator::SetProp(Prop, Value);
    FProvider = static_cast<std::uint8_t>(std::get<int>(Value));
    return true;
}

bool TMSServerEnumerator::GetProp(int Prop, TEnumeratorValue& Value) const {
    if (Prop != prProvider)
        return TPVServerEnumerator::GetProp(Prop, Value);
    Value = static_cast<int>(FProvider);
    return true;
}

void TMSServerEnumerator::GetServerList(TStrings* List) {
    List->Clear();
    if (FProvider == kCompactProvider)
        return;
    TStringList found;
    AddOLEDBSources(&found);
    AddRegistryServers(&found);
    AddBroadcastAnswers(&found);
    SortAndRemoveDuplicates(found);
    List->AddStrings(found);
}

void TMSServerEnumerator::AddOLEDBSources(TStrings* List) {
    kv::oledb::ComPtr<ISourcesRowset> sources;
    if (FAILED(CoCreateInstance(CLSID_SQLOLEDB_ENUMERATOR, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ISourcesRowset, sources.putVoid())))
        return;
    kv::oledb::ComPtr<IUnknown> unknown;
    if (FAILED(sources->GetSourcesRowset(nullptr, IID_IRowset, 0, nullptr, unknown.put())) ||
        !unknown)
        return;
    auto* rowset = static_cast<IRowset*>(static_cast<void*>(unknown.get()));
    for (const std::string& name : ReadRowsetTexts(rowset, 1))
        List->Add(name);
}

void TMSServerEnumerator::AddRegistryServers(TStrings* List) {
    kv::platform::Platform* platform = DataAccessPlatform();
    if (platform == nullptr)
        return;
    using kv::platform::RegistryRoot;
    kv::platform::Registry& registry = platform->registry();

    // Aliases: "protocol,server,port" definitions; a value without a comma is no alias.
    if (auto key = registry.openKey(RegistryRoot::LocalMachine, kAliasKey)) {
        if (auto names = (*key)->valueNames()) {
            std::vector<std::string> aliases = *names;
            for (std::size_t i = aliases.size(); i-- > 0;) {
                auto text = (*key)->readString(aliases[i]);
                if (!text || text->find(',') == std::string::npos)
                    aliases.erase(aliases.begin() + static_cast<std::ptrdiff_t>(i));
            }
            TStringList sorted;
            for (const std::string& alias : aliases)
                sorted.Add(alias);
            sorted.Sort();
            List->AddStrings(sorted);
        }
    }

    // Local instances: MSSQLSERVER is the default instance, named by the computer alone.
    if (auto key = registry.openKey(RegistryRoot::LocalMachine, kInstancesKey)) {
        if (auto names = (*key)->valueNames()) {
            const std::string computer = platform->computerName();
            for (const std::string& name : *names)
                List->Add(UpperCase(name) == "MSSQLSERVER" ? computer : computer + "\\" + name);
        }
    }
}

void TMSServerEnumerator::AddBroadcastAnswers(TStrings* List) {
    kv::platform::Platform* platform = DataAccessPlatform();
    if (platform == nullptr)
        return;
    auto socket = kv::platform::openDiscoverySocket(platform->discoveryTarget(), ReceiveTimeout);
    if (!socket) {
        if (socket.code() == kv::platform::socketerr::SocketCreateFailed)
            socketError(-1);
        if (socket.code() == kv::platform::win::InvalidParameter)
            return; // a target the platform refuses: nobody to ask
        socketError(socket.code());
    }
    // The socket closes when it goes out of scope, also when an answer is refused.
    const std::uint8_t request = kAllInstancesRequest;
    if (!(*socket)->send(&request, 1))
        return;
    std::vector<std::uint8_t> buffer(kAnswerBufferSize);
    TStringList answers;
    for (;;) {
        auto received = (*socket)->receive(buffer.data(), buffer.size());
        if (!received || *received == 0)
            break;
        for (const std::string& name : ParseServerAnswer(buffer.data(), *received))
            answers.Add(name);
    }
    List->AddStrings(answers);
}

void TMSServerEnumerator::SortAndRemoveDuplicates(TStringList& List) {
    List.Sort();
    int i = 0;
    while (i + 1 < List.Count()) {
        if (UpperCase(List[i]) == UpperCase(List[i + 1]))
            List.Delete(i + 1);
        else
            ++i;
    }
}

} // namespace kv::dataaccess
