#include "dataaccess/DAParams.h"

#include "dataaccess/DAConsts.h"
#include "toolkit/DB.h"
#include "toolkit/SysUtils.h"

#include <array>
#include <cstdio>

namespace kv::dataaccess {

std::string FieldTypeName(TFieldType Type) {
    static constexpr std::array<const char*, ftUDT + 1> kNames = {
        "Unknown",    "String",     "SmallInt",      "Integer",     "Word",      "Boolean",
        "Float",      "Currency",   "BCD",           "Date",        "Time",      "DateTime",
        "Bytes",      "VarBytes",   "AutoInc",       "Blob",        "Memo",      "Graphic",
        "FmtMemo",    "ParadoxOle", "DBaseOle",      "TypedBinary", "Cursor",    "FixedChar",
        "WideString", "Largeint",   "ADT",           "Array",       "Reference", "DataSet",
        "OraBlob",    "OraClob",    "Variant",       "Interface",   "IDispatch", "Guid",
        "TimeStamp",  "FMTBcd",     "FixedWideChar", "XML",         "UDT"};
    const auto i = static_cast<std::size_t>(Type);
    return i < kNames.size() ? kNames[i] : "Unknown";
}

void TDAParam::SetAsInteger(std::int64_t V) {
    if (FDataType == ftUnknown)
        FDataType = ftInteger;
    FValue = V;
}

void TDAParam::SetAsFloat(double V) {
    if (FDataType == ftUnknown)
        FDataType = ftFloat;
    FValue = V;
}

void TDAParam::SetAsBoolean(bool V) {
    if (FDataType == ftUnknown)
        FDataType = ftBoolean;
    FValue = V;
}

void TDAParam::SetAsString(std::string V) {
    if (FDataType == ftUnknown)
        FDataType = ftString;
    FValue = std::move(V);
}

std::string TDAParam::AsString() const {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(std::int64_t v) const { return IntToStr(v); }
        std::string operator()(double v) const {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", v);
            return buf;
        }
        std::string operator()(bool v) const { return v ? "True" : "False"; }
        std::string operator()(const std::string& v) const { return v; }
    };
    return std::visit(Visitor{}, FValue);
}

TDAParam* TDAParams::FindParam(std::string_view Name) {
    for (auto& p : FItems)
        if (SameText(p->Name(), Name))
            return p.get();
    return nullptr;
}

TDAParam& TDAParams::ParamByName(std::string_view Name) {
    if (TDAParam* p = FindParam(Name))
        return *p;
    DatabaseError(SParamNotFound + std::string(Name) + "' not found");
}

TDAParam& TDAParams::Add(std::string Name) {
    FItems.push_back(std::make_unique<TDAParam>(std::move(Name)));
    return *FItems.back();
}

void TDAParams::Rebuild(const std::vector<std::string>& Names) {
    std::vector<std::unique_ptr<TDAParam>> items;
    for (const std::string& n : Names) {
        bool seen = false; // a name used twice in the text is one parameter
        for (const auto& p : items)
            seen = seen || SameText(p->Name(), n);
        if (seen)
            continue;
        std::unique_ptr<TDAParam> kept;
        for (auto& old : FItems)
            if (old && SameText(old->Name(), n)) {
                kept = std::move(old);
                break;
            }
        items.push_back(kept ? std::move(kept) : std::make_unique<TDAParam>(n));
    }
    FItems = std::move(items);
}

} // namespace kv::dataaccess
