// Property sets as OLE DB defines them for data sources, sessions and commands: a table of the
// properties an object supports (set, id, VARIANT type, default, whether it can be written),
// SetProperties with one status per property and DB_S_ERRORSOCCURRED / DB_E_ERRORSOCCURRED,
// GetProperties with task-allocated results. Objects hook in where a value is live (the current
// catalog) or needs checking beyond its type (packet size, network library).
#pragma once

#include "platform/oledb/com_lite.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::oledb {

struct PropertyDef {
    GUID set;
    DBPROPID id;
    VARTYPE type;
    bool writable = true;
};

class PropertyStore {
public:
    // Checks a value before it is stored: DBPROPSTATUS_OK or the status to report.
    using Check = std::function<DBPROPSTATUS(const GUID& set, DBPROPID id, const VARIANT& value)>;
    // Answers with a live value (return true and fill `out`), or false for the stored one.
    using Live = std::function<bool(const GUID& set, DBPROPID id, VARIANT& out)>;
    // Whether a property set may be read or written now (for example the initialisation sets
    // only before initialisation).
    using SetFilter = std::function<bool(const GUID& set)>;

    PropertyStore() = default;
    explicit PropertyStore(std::vector<PropertyDef> defs);
    ~PropertyStore();
    PropertyStore(const PropertyStore&) = delete;
    PropertyStore& operator=(const PropertyStore&) = delete;

    // Both take over the VARIANT (its string or interface belongs to the store afterwards).
    void define(const PropertyDef& def, VARIANT initial);
    void onCheck(Check check) { check_ = std::move(check); }
    void onLive(Live live) { live_ = std::move(live); }
    void writableSets(SetFilter filter) { writable_ = std::move(filter); }
    void readableSets(SetFilter filter) { readable_ = std::move(filter); }

    HRESULT setProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]);
    HRESULT getProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                          ULONG* pcPropertySets, DBPROPSET** prgPropertySets);

    // The stored value (not the live one); null when the property is not defined.
    const VARIANT* stored(const GUID& set, DBPROPID id) const;
    void store(const GUID& set, DBPROPID id, VARIANT value);
    bool isDefined(const GUID& set, DBPROPID id) const;

    std::string text(const GUID& set, DBPROPID id) const;
    long long integer(const GUID& set, DBPROPID id, long long fallback = 0) const;
    bool flag(const GUID& set, DBPROPID id, bool fallback = false) const;
    // Whether the client has set the property (to anything but VT_EMPTY) since creation.
    bool wasSet(const GUID& set, DBPROPID id) const;

private:
    struct Entry {
        PropertyDef def;
        VARIANT value;
        bool set = false;
    };
    Entry* find(const GUID& set, DBPROPID id);
    const Entry* find(const GUID& set, DBPROPID id) const;
    bool knowsSet(const GUID& set) const;
    void fill(const Entry& e, DBPROP& out);

    std::vector<Entry> entries_;
    Check check_;
    Live live_;
    SetFilter writable_;
    SetFilter readable_;
};

// VARIANT builders for defaults and live values.
VARIANT variantOfText(std::string_view utf8);
VARIANT variantOfI4(LONG value);
VARIANT variantOfI2(SHORT value);
VARIANT variantOfBool(bool value);
VARIANT variantEmpty();

} // namespace kv::oledb
