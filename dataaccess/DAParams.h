#pragma once
// Statement parameters: TDAParam / TDAParams, with the field types and directions the trace
// monitor names.
//
// A parameter holds a name, a data type, a direction and a value (null, integer, float,
// Boolean or text). Dates and times are kept as their text; the layer only passes them on.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kv::dataaccess {

// The toolkit's field types in their order, then the layer's own three.
enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
    ftFixedWideChar, // the layer's own types
    ftXML,
    ftUDT
};

// "Unknown", "String", "SmallInt", ... "FixedWideChar", "XML", "UDT".
std::string FieldTypeName(TFieldType Type);

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

using TParamValue = std::variant<std::monostate, std::int64_t, double, bool, std::string>;

class TDAParam {
public:
    explicit TDAParam(std::string Name, TFieldType DataType = ftUnknown,
                      TParamType ParamType = ptInput)
        : FName(std::move(Name)), FDataType(DataType), FParamType(ParamType) {}

    const std::string& Name() const { return FName; }
    void SetName(std::string Value) { FName = std::move(Value); }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    TParamType ParamType() const { return FParamType; }
    void SetParamType(TParamType Value) { FParamType = Value; }

    const TParamValue& Value() const { return FValue; }
    bool IsNull() const { return std::holds_alternative<std::monostate>(FValue); }
    void Clear() { FValue = std::monostate{}; }
    // Setting a value also gives an untyped parameter the value's type.
    void SetAsInteger(std::int64_t V);
    void SetAsFloat(double V);
    void SetAsBoolean(bool V);
    void SetAsString(std::string V);
    void SetValue(TParamValue V) { FValue = std::move(V); }
    std::string AsString() const;

private:
    std::string FName;
    TFieldType FDataType;
    TParamType FParamType;
    TParamValue FValue;
};

class TDAParams {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TDAParam& operator[](int Index) { return *FItems.at(static_cast<std::size_t>(Index)); }
    const TDAParam& operator[](int Index) const {
        return *FItems.at(static_cast<std::size_t>(Index));
    }
    TDAParam* FindParam(std::string_view Name);
    // EDatabaseError "Parameter '%s' not found" when missing.
    TDAParam& ParamByName(std::string_view Name);
    TDAParam& Add(std::string Name);
    void Clear() { FItems.clear(); }
    // Rebuilds the list from names in order (a repeated name once), keeping the parameters (type,
    // direction, value) of names that were there before.
    void Rebuild(const std::vector<std::string>& Names);

private:
    std::vector<std::unique_ptr<TDAParam>> FItems;
};

} // namespace kv::dataaccess
