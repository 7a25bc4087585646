#include "platform/oledb/properties.h"

#include <cstring>
#include <new>

namespace kv::oledb {

VARIANT variantEmpty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

VARIANT variantOfText(std::string_view utf8) {
    VARIANT v = variantEmpty();
    v.vt = VT_BSTR;
    v.bstrVal = toBstr(utf8);
    return v;
}

VARIANT variantOfI4(LONG value) {
    VARIANT v = variantEmpty();
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT variantOfI2(SHORT value) {
    VARIANT v = variantEmpty();
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}

VARIANT variantOfBool(bool value) {
    VARIANT v = variantEmpty();
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

PropertyStore::PropertyStore(std::vector<PropertyDef> defs) {
    for (const auto& d : defs) {
        define(d, variantEmpty());
    }
}

PropertyStore::~PropertyStore() {
    for (auto& e : entries_) {
        VariantClear(&e.value);
    }
}

void PropertyStore::define(const PropertyDef& def, VARIANT initial) {
    if (Entry* existing = find(def.set, def.id)) {
        VariantClear(&existing->value);
        existing->def = def;
        existing->value = initial;
        return;
    }
    entries_.push_back(Entry{def, initial, false});
}

PropertyStore::Entry* PropertyStore::find(const GUID& set, DBPROPID id) {
    for (auto& e : entries_) {
        if (e.def.id == id && IsEqualGUID(e.def.set, set)) {
            return &e;
        }
    }
    return nullptr;
}

const PropertyStore::Entry* PropertyStore::find(const GUID& set, DBPROPID id) const {
    return const_cast<PropertyStore*>(this)->find(set, id);
}

bool PropertyStore::knowsSet(const GUID& set) const {
    for (const auto& e : entries_) {
        if (IsEqualGUID(e.def.set, set)) {
            return true;
        }
    }
    return false;
}

bool PropertyStore::isDefined(const GUID& set, DBPROPID id) const {
    return find(set, id) != nullptr;
}

const VARIANT* PropertyStore::stored(const GUID& set, DBPROPID id) const {
    const Entry* e = find(set, id);
    return e ? &e->value : nullptr;
}

void PropertyStore::store(const GUID& set, DBPROPID id, VARIANT value) {
    if (Entry* e = find(set, id)) {
        VariantClear(&e->value);
        e->value = value;
    } else {
        VariantClear(&value);
    }
}

bool PropertyStore::wasSet(const GUID& set, DBPROPID id) const {
    const Entry* e = find(set, id);
    return e && e->set;
}

std::string PropertyStore::text(const GUID& set, DBPROPID id) const {
    const VARIANT* v = stored(set, id);
    if (!v || v->vt != VT_BSTR || !v->bstrVal) {
        return {};
    }
    return fromOle(v->bstrVal, SysStringLen(v->bstrVal));
}

long long PropertyStore::integer(const GUID& set, DBPROPID id, long long fallback) const {
    const VARIANT* v = stored(set, id);
    if (!v) {
        return fallback;
    }
    switch (v->vt) {
    case VT_I2:
        return v->iVal;
    case VT_I4:
    case VT_INT:
        return v->lVal;
    case VT_UI4:
    case VT_UINT:
        return v->ulVal;
    case VT_I8:
        return v->llVal;
    case VT_UI2:
        return v->uiVal;
    case VT_BOOL:
        return v->boolVal ? 1 : 0;
    default:
        return fallback;
    }
}

bool PropertyStore::flag(const GUID& set, DBPROPID id, bool fallback) const {
    const VARIANT* v = stored(set, id);
    if (!v || v->vt != VT_BOOL) {
        return fallback;
    }
    return v->boolVal != VARIANT_FALSE;
}

namespace {

// Integer properties also accept the other integer widths (a 64-bit client sends the window
// handle as VT_I8, older code sends 16-bit values as VT_I4); the value is stored in the
// property's own type when it fits.
bool convertInteger(const VARIANT& in, VARTYPE type, VARIANT& out) {
    long long value = 0;
    switch (in.vt) {
    case VT_I2:
        value = in.iVal;
        break;
    case VT_I4:
    case VT_INT:
        value = in.lVal;
        break;
    case VT_UI4:
    case VT_UINT:
        value = in.ulVal;
        break;
    case VT_I8:
        value = in.llVal;
        break;
    case VT_UI2:
        value = in.uiVal;
        break;
    case VT_UI1:
        value = in.bVal;
        break;
    default:
        return false;
    }
    out = variantEmpty();
    out.vt = type;
    switch (type) {
    case VT_I2:
        if (value < -32768 || value > 32767) {
            return false;
        }
        out.iVal = static_cast<SHORT>(value);
        return true;
    case VT_I4:
        if (value < INT32_MIN || value > INT32_MAX) {
            return false;
        }
        out.lVal = static_cast<LONG>(value);
        return true;
    case VT_UI4:
        if (value < 0 || value > static_cast<long long>(UINT32_MAX)) {
            return false;
        }
        out.ulVal = static_cast<ULONG>(value);
        return true;
    case VT_I8:
        out.llVal = value;
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT PropertyStore::setProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) {
    if (cPropertySets > 0 && !rgPropertySets) {
        return E_INVALIDARG;
    }
    for (ULONG s = 0; s < cPropertySets; ++s) {
        if (rgPropertySets[s].cProperties > 0 && !rgPropertySets[s].rgProperties) {
            return E_INVALIDARG;
        }
    }
    ULONG total = 0;
    ULONG failed = 0;
    for (ULONG s = 0; s < cPropertySets; ++s) {
        DBPROPSET& set = rgPropertySets[s];
        const bool setKnown = knowsSet(set.guidPropertySet);
        const bool setWritable = !writable_ || writable_(set.guidPropertySet);
        for (ULONG p = 0; p < set.cProperties; ++p) {
            DBPROP& prop = set.rgProperties[p];
            ++total;
            prop.dwStatus = DBPROPSTATUS_OK;
            Entry* e = setKnown ? find(set.guidPropertySet, prop.dwPropertyID) : nullptr;
            if (prop.dwOptions != DBPROPOPTIONS_REQUIRED &&
                prop.dwOptions != DBPROPOPTIONS_OPTIONAL) {
                prop.dwStatus = DBPROPSTATUS_BADOPTION;
            } else if (!e) {
                prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
            } else if (!e->def.writable || !setWritable) {
                // A read-only property set to the value it already has is no error.
                prop.dwStatus = DBPROPSTATUS_NOTSETTABLE;
            } else if (prop.vValue.vt == VT_EMPTY) {
                // VT_EMPTY asks for the default; the defaults are the initial values, which
                // this store does not keep apart, so the value simply stays.
                e->set = false;
            } else {
                VARIANT value = variantEmpty();
                bool typeOk = false;
                if (prop.vValue.vt == e->def.type) {
                    typeOk = SUCCEEDED(VariantCopy(&value, &prop.vValue));
                } else if (e->def.type != VT_BSTR && e->def.type != VT_BOOL) {
                    typeOk = convertInteger(prop.vValue, e->def.type, value);
                }
                if (!typeOk) {
                    prop.dwStatus = DBPROPSTATUS_BADVALUE;
                } else if (e->def.type == VT_BOOL && value.boolVal != VARIANT_TRUE &&
                           value.boolVal != VARIANT_FALSE) {
                    prop.dwStatus = DBPROPSTATUS_BADVALUE;
                } else if (check_) {
                    prop.dwStatus = check_(set.guidPropertySet, prop.dwPropertyID, value);
                }
                if (prop.dwStatus == DBPROPSTATUS_OK) {
                    VariantCopy(&e->value, &value);
                    e->set = true;
                }
                VariantClear(&value);
            }
            // An optional property that could not be set is reported as not set, unless the
            // provider does not know it at all.
            if (prop.dwStatus != DBPROPSTATUS_OK && prop.dwOptions == DBPROPOPTIONS_OPTIONAL &&
                prop.dwStatus != DBPROPSTATUS_NOTSUPPORTED &&
                prop.dwStatus != DBPROPSTATUS_BADOPTION) {
                prop.dwStatus = DBPROPSTATUS_NOTSET;
            }
            if (prop.dwStatus != DBPROPSTATUS_OK) {
                ++failed;
            }
        }
    }
    if (failed == 0) {
        return S_OK;
    }
    return failed == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

void PropertyStore::fill(const Entry& e, DBPROP& out) {
    out.dwPropertyID = e.def.id;
    out.dwOptions = DBPROPOPTIONS_REQUIRED;
    out.dwStatus = DBPROPSTATUS_OK;
    out.colid = DB_NULLID;
    VariantInit(&out.vValue);
    VARIANT live = variantEmpty();
    if (live_ && live_(e.def.set, e.def.id, live)) {
        out.vValue = live; // ownership moves to the caller
    } else {
        VariantCopy(&out.vValue, const_cast<VARIANT*>(&e.value));
    }
}

HRESULT PropertyStore::getProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                     ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
    if (pcPropertySets) {
        *pcPropertySets = 0;
    }
    if (prgPropertySets) {
        *prgPropertySets = nullptr;
    }
    if (!pcPropertySets || !prgPropertySets || (cPropertyIDSets > 0 && !rgPropertyIDSets)) {
        return E_INVALIDARG;
    }
    for (ULONG s = 0; s < cPropertyIDSets; ++s) {
        if (rgPropertyIDSets[s].cPropertyIDs > 0 && !rgPropertyIDSets[s].rgPropertyIDs) {
            return E_INVALIDARG;
        }
    }
    // What is asked: either the given sets, or every readable set this object has.
    struct Request {
        GUID set;
        std::vector<DBPROPID> ids; // empty: all of the set
        bool all;
    };
    std::vector<Request> requests;
    if (cPropertyIDSets == 0) {
        for (const auto& e : entries_) {
            if (readable_ && !readable_(e.def.set)) {
                continue;
            }
            bool seen = false;
            for (const auto& r : requests) {
                seen = seen || IsEqualGUID(r.set, e.def.set);
            }
            if (!seen) {
                requests.push_back({e.def.set, {}, true});
            }
        }
    } else {
        for (ULONG s = 0; s < cPropertyIDSets; ++s) {
            const DBPROPIDSET& ids = rgPropertyIDSets[s];
            Request r{ids.guidPropertySet, {}, ids.cPropertyIDs == 0};
            r.ids.assign(ids.rgPropertyIDs, ids.rgPropertyIDs + ids.cPropertyIDs);
            requests.push_back(std::move(r));
        }
    }

    auto* sets = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET) * requests.size()));
    if (!sets) {
        return E_OUTOFMEMORY;
    }
    ULONG total = 0;
    ULONG failed = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        const bool readable = !readable_ || readable_(r.set);
        std::vector<const Entry*> chosen;
        if (r.all) {
            if (readable) {
                for (const auto& e : entries_) {
                    if (IsEqualGUID(e.def.set, r.set)) {
                        chosen.push_back(&e);
                    }
                }
            }
        }
        DBPROPSET& out = sets[i];
        out.guidPropertySet = r.set;
        const std::size_t count = r.all ? chosen.size() : r.ids.size();
        out.cProperties = static_cast<ULONG>(count);
        out.rgProperties =
            count ? static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP) * count)) : nullptr;
        if (r.all) {
            for (std::size_t k = 0; k < chosen.size(); ++k) {
                fill(*chosen[k], out.rgProperties[k]);
                ++total;
            }
            if (chosen.empty()) {
                // A whole set this object does not have counts as one failure.
                ++total;
                ++failed;
            }
        } else {
            for (std::size_t k = 0; k < r.ids.size(); ++k) {
                DBPROP& p = out.rgProperties[k];
                ++total;
                const Entry* e = readable ? find(r.set, r.ids[k]) : nullptr;
                if (e) {
                    fill(*e, p);
                } else {
                    p.dwPropertyID = r.ids[k];
                    p.dwOptions = DBPROPOPTIONS_REQUIRED;
                    p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
                    p.colid = DB_NULLID;
                    VariantInit(&p.vValue);
                    ++failed;
                }
            }
        }
    }
    *pcPropertySets = static_cast<ULONG>(requests.size());
    *prgPropertySets = sets;
    if (failed == 0) {
        return S_OK;
    }
    return failed == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

} // namespace kv::oledb
