#include "dataaccess/OLEDBProperties.h"

#include "dataaccess/DAConsts.h"
#include "platform/oledb/com_lite.h"

#include <cstdio>
#include <stdexcept>

namespace kv::dataaccess {

TOLEDBPropertiesSet::TOLEDBPropertiesSet(const GUID& PropertySet) : FProps{} {
    FSet.rgProperties = FProps;
    FSet.cProperties = 0;
    FSet.guidPropertySet = PropertySet;
}

TOLEDBPropertiesSet::~TOLEDBPropertiesSet() {
    for (ULONG i = 0; i < FSet.cProperties; ++i)
        VariantClear(&FProps[i].vValue);
}

DBPROP& TOLEDBPropertiesSet::Add(DBPROPID Id, bool Required, VARTYPE Type) {
    if (FSet.cProperties >= static_cast<ULONG>(MaxProperties))
        throw std::length_error("a property set holds at most 20 properties");
    DBPROP& p = FProps[FSet.cProperties++];
    p.dwPropertyID = Id;
    p.dwOptions = Required ? DBPROPOPTIONS_REQUIRED : DBPROPOPTIONS_OPTIONAL;
    p.dwStatus = DBPROPSTATUS_OK;
    p.colid = DB_NULLID;
    VariantInit(&p.vValue);
    p.vValue.vt = Type;
    return p;
}

void TOLEDBPropertiesSet::AddPropSmallInt(DBPROPID Id, std::int16_t Value, bool Required) {
    Add(Id, Required, VT_I2).vValue.iVal = Value;
}

void TOLEDBPropertiesSet::AddPropInt(DBPROPID Id, std::int32_t Value, bool Required) {
    Add(Id, Required, VT_I4).vValue.lVal = Value;
}

void TOLEDBPropertiesSet::AddPropUInt(DBPROPID Id, std::uint32_t Value, bool Required) {
    Add(Id, Required, VT_UI4).vValue.ulVal = Value;
}

void TOLEDBPropertiesSet::AddPropBool(DBPROPID Id, bool Value, bool Required) {
    Add(Id, Required, VT_BOOL).vValue.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
}

void TOLEDBPropertiesSet::AddPropStr(DBPROPID Id, const std::string& Value, bool Required) {
    kv::oledb::OleString w = kv::oledb::toOle(Value);
    Add(Id, Required, VT_BSTR).vValue.bstrVal =
        SysAllocStringLen(w.c_str(), static_cast<UINT>(w.size()));
}

void TOLEDBPropertiesSet::AddPropIntf(DBPROPID Id, IUnknown* Value, bool Required) {
    if (Value != nullptr)
        Value->AddRef();
    Add(Id, Required, VT_UNKNOWN).vValue.punkVal = Value;
}

std::string TOLEDBPropertiesSet::StatusReport() const {
    std::string report = kv::oledb::guidToString(FSet.guidPropertySet);
    for (ULONG i = 0; i < FSet.cProperties; ++i) {
        const DBPROP& p = FProps[i];
        if (p.dwStatus == 0)
            continue;
        std::vector<char> buf(report.size() + 64);
        std::snprintf(buf.data(), buf.size(), SPropertyStatusLine, report.c_str(),
                      static_cast<int>(i), static_cast<unsigned>(p.dwStatus),
                      static_cast<int>(p.dwPropertyID));
        report = buf.data();
    }
    return report;
}

void TOLEDBPropertiesGet::Take(ULONG Count, DBPROPSET* Sets) {
    for (ULONG s = 0; s < Count && Sets != nullptr; ++s) {
        DBPROPSET& set = Sets[s];
        for (ULONG i = 0; i < set.cProperties; ++i) {
            DBPROP& p = set.rgProperties[i];
            if (p.dwStatus == DBPROPSTATUS_OK) {
                Value v{p.dwPropertyID, p.vValue.vt, {}, 0};
                switch (p.vValue.vt) {
                case VT_BSTR:
                    v.Text = kv::oledb::fromOle(p.vValue.bstrVal);
                    break;
                case VT_BOOL:
                    v.Int = p.vValue.boolVal != VARIANT_FALSE ? 1 : 0;
                    break;
                case VT_I2:
                    v.Int = p.vValue.iVal;
                    break;
                case VT_I4:
                case VT_INT:
                    v.Int = p.vValue.lVal;
                    break;
                case VT_UI4:
                case VT_UINT:
                    v.Int = p.vValue.ulVal;
                    break;
                case VT_I8:
                    v.Int = p.vValue.llVal;
                    break;
                default:
                    break;
                }
                FValues.push_back(std::move(v));
            }
            VariantClear(&p.vValue);
        }
        CoTaskMemFree(set.rgProperties);
    }
    CoTaskMemFree(Sets);
}

const TOLEDBPropertiesGet::Value* TOLEDBPropertiesGet::Find(DBPROPID Id) const {
    for (const Value& v : FValues)
        if (v.Id == Id)
            return &v;
    return nullptr;
}

bool TOLEDBPropertiesGet::Has(DBPROPID Id) const {
    return Find(Id) != nullptr;
}

std::string TOLEDBPropertiesGet::GetString(DBPROPID Id) const {
    const Value* v = Find(Id);
    return v != nullptr ? v->Text : std::string();
}

std::int64_t TOLEDBPropertiesGet::GetInt(DBPROPID Id) const {
    const Value* v = Find(Id);
    return v != nullptr ? v->Int : 0;
}

bool TOLEDBPropertiesGet::GetBool(DBPROPID Id) const {
    return GetInt(Id) != 0;
}

} // namespace kv::dataaccess
