#pragma once
// Property sets handed to and read from an OLE DB provider.
//
// TOLEDBPropertiesSet builds one DBPROPSET of at most 20 properties, each with a null column
// id, an option (required or optional) and a value; it owns the values (strings are BSTRs) and
// frees them. After SetProperties the provider has written a status into every property, which
// StatusReport turns into the text appended to the error of a refused set.
//
// TOLEDBPropertiesGet asks one property set for a list of property ids and keeps the answers.

#include "platform/oledb/oledb.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::dataaccess {

class TOLEDBPropertiesSet {
public:
    static constexpr int MaxProperties = 20;

    explicit TOLEDBPropertiesSet(const GUID& PropertySet);
    ~TOLEDBPropertiesSet();
    TOLEDBPropertiesSet(const TOLEDBPropertiesSet&) = delete;
    TOLEDBPropertiesSet& operator=(const TOLEDBPropertiesSet&) = delete;

    void AddPropSmallInt(DBPROPID Id, std::int16_t Value, bool Required = false);
    void AddPropInt(DBPROPID Id, std::int32_t Value, bool Required = false);
    void AddPropUInt(DBPROPID Id, std::uint32_t Value, bool Required = false);
    void AddPropBool(DBPROPID Id, bool Value, bool Required = false);
    void AddPropStr(DBPROPID Id, const std::string& Value, bool Required = false);
    void AddPropIntf(DBPROPID Id, IUnknown* Value, bool Required = false);

    DBPROPSET* Set() { return &FSet; }
    const GUID& PropertySet() const { return FSet.guidPropertySet; }
    int Count() const { return static_cast<int>(FSet.cProperties); }
    const DBPROP& Prop(int Index) const { return FProps[Index]; }

    // The set's GUID in braces, then one "\r\n[index] := $status. PropId := id" line for every
    // property whose status is not zero.
    std::string StatusReport() const;

private:
    DBPROP& Add(DBPROPID Id, bool Required, VARTYPE Type);

    DBPROP FProps[MaxProperties];
    DBPROPSET FSet;
};

// The values of some properties of one set. Property ids the provider did not return (or
// returned with a non-zero status) read as empty.
class TOLEDBPropertiesGet {
public:
    // Calls GetProperties through one of the provider's property interfaces.
    template <class TPropertiesInterface>
    HRESULT Read(TPropertiesInterface* Props, const GUID& PropertySet,
                 const std::vector<DBPROPID>& Ids) {
        std::vector<DBPROPID> ids(Ids);
        DBPROPIDSET idSet{ids.data(), static_cast<ULONG>(ids.size()), PropertySet};
        ULONG count = 0;
        DBPROPSET* sets = nullptr;
        HRESULT hr = Props->GetProperties(1, &idSet, &count, &sets);
        Take(count, sets);
        return hr;
    }

    bool Has(DBPROPID Id) const;
    std::string GetString(DBPROPID Id) const;
    std::int64_t GetInt(DBPROPID Id) const;
    bool GetBool(DBPROPID Id) const;

private:
    struct Value {
        DBPROPID Id;
        VARTYPE Type;
        std::string Text;
        std::int64_t Int = 0;
    };
    // Copies the answers and frees the provider's buffers.
    void Take(ULONG Count, DBPROPSET* Sets);
    const Value* Find(DBPROPID Id) const;

    std::vector<Value> FValues;
};

} // namespace kv::dataaccess
