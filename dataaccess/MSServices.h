#pragma once
// Server discovery: the names of the SQL Server instances a user may type into a login form.
//
// TMSServerEnumerator collects, in this order, the provider's OLE DB enumerator, the client's
// registry aliases and the local instances, and the answers to the resolution protocol's
// discovery request (sent to the platform's discovery target, DAPlatform.h), then sorts the
// names ignoring case and drops duplicates. A missing enumerator or registry key adds nothing;
// a socket failure ("Socket error: %i") or a malformed answer ("invalid Value") ends the whole
// list operation with nothing appended.

#include "toolkit/Strings.h"

#include <cstdint>
#include <string>
#include <variant>

namespace kv::dataaccess {

// The one setting of the SQL Server enumerator: the provider (3: the compact edition, which
// has no servers to list).
inline constexpr int prProvider = 1028;

using TEnumeratorValue = std::variant<bool, int, std::string>;

class TPVServerEnumerator {
public:
    TPVServerEnumerator() = default;
    virtual ~TPVServerEnumerator() = default;
    TPVServerEnumerator(const TPVServerEnumerator&) = delete;
    TPVServerEnumerator& operator=(const TPVServerEnumerator&) = delete;

    // True when the setting is known; an unknown number is a programming error (assertion
    // naming the number).
    virtual bool SetProp(int Prop, const TEnumeratorValue& Value);
    virtual bool GetProp(int Prop, TEnumeratorValue& Value) const;
    // Clears List and appends the servers found (none for the generic class).
    virtual void GetServerList(TStrings* List);
};

class TMSServerEnumerator : public TPVServerEnumerator {
public:
    // The receive time-out of the discovery request, in milliseconds.
    static constexpr int ReceiveTimeout = 500;

    bool SetProp(int Prop, const TEnumeratorValue& Value) override;
    bool GetProp(int Prop, TEnumeratorValue& Value) const override;
    void GetServerList(TStrings* List) override;

    // The single sources, each appending to List (exposed for tests and the benchmark).
    static void AddOLEDBSources(TStrings* List);
    static void AddRegistryServers(TStrings* List);
    static void AddBroadcastAnswers(TStrings* List);
    // Case-insensitive sort, then equal neighbours (ignoring case) removed.
    static void SortAndRemoveDuplicates(TStringList& List);

private:
    std::uint8_t FProvider = 0;
};

} // namespace kv::dataaccess
