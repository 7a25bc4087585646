#include "platform/oledb/rowset.h"

#include "platform/oledb/error_records.h"
#include "platform/oledb/properties.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

namespace kv::oledb {

HRESULT MemoryRowSource::fetch(std::size_t count, std::vector<RowData>& out) {
    while (count > 0 && next_ < rows_.size()) {
        out.push_back(rows_[next_++]);
        --count;
    }
    return next_ < rows_.size() ? S_OK : DB_S_ENDOFROWSET;
}

// ---------------------------------------------------------------------------------------------
// Conversions.

namespace {

DBTYPE baseType(DBTYPE t) {
    return static_cast<DBTYPE>(t & ~DBTYPE_BYREF);
}

bool isIntegerType(DBTYPE t) {
    switch (t) {
    case DBTYPE_I1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_UI8:
        return true;
    default:
        return false;
    }
}

bool isNumberType(DBTYPE t) {
    return isIntegerType(t) || t == DBTYPE_R4 || t == DBTYPE_R8;
}

std::string formatTimestamp(const DBTIMESTAMP& ts) {
    char buffer[48];
    const unsigned ms = ts.fraction / 1000000;
    if (ms) {
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u.%03u", ts.year,
                      ts.month, ts.day, ts.hour, ts.minute, ts.second, ms);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", ts.year, ts.month,
                      ts.day, ts.hour, ts.minute, ts.second);
    }
    return buffer;
}

} // namespace

// The value as text, for the string bindings.
bool asText(const CellValue& v, std::string& out) {
    char buffer[64];
    switch (v.kind) {
    case CellValue::Kind::Text:
        out = v.s;
        return true;
    case CellValue::Kind::Int:
        out = std::to_string(v.i);
        return true;
    case CellValue::Kind::Real:
        std::snprintf(buffer, sizeof buffer, "%.15g", v.d);
        out = buffer;
        return true;
    case CellValue::Kind::Bool:
        out = v.i ? "True" : "False";
        return true;
    case CellValue::Kind::Timestamp:
        out = formatTimestamp(v.ts);
        return true;
    case CellValue::Kind::Guid:
        out = guidToString(v.g);
        return true;
    case CellValue::Kind::Bytes: {
        static const char digits[] = "0123456789ABCDEF";
        out.clear();
        for (unsigned char c : v.s) {
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
        return true;
    }
    case CellValue::Kind::Null:
        break;
    }
    return false;
}

namespace {

enum class NumberResult { Ok, CantConvert };

bool asDouble(const CellValue& v, double& out) {
    switch (v.kind) {
    case CellValue::Kind::Int:
    case CellValue::Kind::Bool:
        out = static_cast<double>(v.i);
        return true;
    case CellValue::Kind::Real:
        out = v.d;
        return true;
    case CellValue::Kind::Text: {
        char* end = nullptr;
        const std::string s = v.s;
        out = std::strtod(s.c_str(), &end);
        while (end && *end == ' ') {
            ++end;
        }
        return end && end != s.c_str() && *end == 0;
    }
    default:
        return false;
    }
}

template <class T>
DBSTATUS putInteger(const CellValue& v, void* target) {
    long double value = 0;
    if (v.kind == CellValue::Kind::Int) {
        value = static_cast<long double>(v.i);
    } else if (v.kind == CellValue::Kind::Bool) {
        // OLE DB's true is all bits set.
        value = v.i ? -1 : 0;
        if (std::is_unsigned_v<T>) {
            value = v.i ? 1 : 0;
        }
    } else {
        double d = 0;
        // Not a number (a text "nan", a floating-point NaN) has no integer to stand for it.
        if (!asDouble(v, d) || std::isnan(d)) {
            return DBSTATUS_E_CANTCONVERTVALUE;
        }
        value = std::trunc(static_cast<long double>(d));
    }
    if (value < static_cast<long double>(std::numeric_limits<T>::min()) ||
        value > static_cast<long double>(std::numeric_limits<T>::max())) {
        return value < 0 && std::is_unsigned_v<T> ? DBSTATUS_E_SIGNMISMATCH
                                                  : DBSTATUS_E_DATAOVERFLOW;
    }
    const T t = v.kind == CellValue::Kind::Int ? static_cast<T>(v.i) : static_cast<T>(value);
    std::memcpy(target, &t, sizeof t);
    return DBSTATUS_S_OK;
}

void setLength(const DBBINDING& b, BYTE* data, DBLENGTH length) {
    if (b.dwPart & DBPART_LENGTH) {
        std::memcpy(data + b.obLength, &length, sizeof length);
    }
}

} // namespace

bool canConvert(DBTYPE from, DBTYPE to) {
    to = baseType(to);
    switch (to) {
    case DBTYPE_WSTR:
    case DBTYPE_STR:
    case DBTYPE_BSTR:
    case DBTYPE_VARIANT:
        return true;
    case DBTYPE_BOOL:
        return from == DBTYPE_BOOL || isNumberType(from) || from == DBTYPE_WSTR;
    case DBTYPE_DBTIMESTAMP:
        return from == DBTYPE_DBTIMESTAMP;
    case DBTYPE_BYTES:
        return from == DBTYPE_BYTES || from == DBTYPE_GUID;
    case DBTYPE_GUID:
        return from == DBTYPE_GUID;
    default:
        if (isNumberType(to)) {
            return isNumberType(from) || from == DBTYPE_BOOL || from == DBTYPE_WSTR ||
                   from == DBTYPE_STR;
        }
        return false;
    }
}

DBSTATUS writeBinding(const DBBINDING& b, const CellValue& v, BYTE* data) {
    DBSTATUS status = DBSTATUS_S_OK;
    void* target = data + b.obValue;
    const bool wantValue = (b.dwPart & DBPART_VALUE) != 0;
    const DBTYPE type = baseType(b.wType);
    if (v.kind == CellValue::Kind::Null) {
        status = DBSTATUS_S_ISNULL;
        setLength(b, data, 0);
    } else {
        switch (type) {
        case DBTYPE_WSTR: {
            std::string text;
            asText(v, text);
            const OleString wide = toOle(text);
            DBLENGTH bytes = wide.size() * sizeof(OLECHAR);
            setLength(b, data, bytes);
            if (wantValue) {
                const DBLENGTH room = b.cbMaxLen >= sizeof(OLECHAR)
                                          ? (b.cbMaxLen / sizeof(OLECHAR) - 1) * sizeof(OLECHAR)
                                          : 0;
                if (bytes > room) {
                    bytes = room;
                    status = DBSTATUS_S_TRUNCATED;
                }
                if (b.cbMaxLen >= sizeof(OLECHAR)) {
                    std::memcpy(target, wide.data(), bytes);
                    OLECHAR zero = 0;
                    std::memcpy(static_cast<BYTE*>(target) + bytes, &zero, sizeof zero);
                }
            }
            break;
        }
        case DBTYPE_STR: {
            std::string text;
            asText(v, text);
            DBLENGTH bytes = text.size();
            setLength(b, data, bytes);
            if (wantValue) {
                const DBLENGTH room = b.cbMaxLen > 0 ? b.cbMaxLen - 1 : 0;
                if (bytes > room) {
                    bytes = room;
                    status = DBSTATUS_S_TRUNCATED;
                }
                if (b.cbMaxLen > 0) {
                    std::memcpy(target, text.data(), bytes);
                    static_cast<char*>(target)[bytes] = 0;
                }
            }
            break;
        }
        case DBTYPE_BSTR: {
            std::string text;
            asText(v, text);
            setLength(b, data, sizeof(BSTR));
            if (wantValue) {
                BSTR bstr = toBstr(text);
                std::memcpy(target, &bstr, sizeof bstr);
            }
            break;
        }
        case DBTYPE_BYTES: {
            std::string bytes = v.s;
            if (v.kind == CellValue::Kind::Guid) {
                bytes.assign(reinterpret_cast<const char*>(&v.g), sizeof(GUID));
            } else if (v.kind != CellValue::Kind::Bytes) {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
            }
            DBLENGTH n = bytes.size();
            setLength(b, data, n);
            if (wantValue) {
                if (n > b.cbMaxLen) {
                    n = b.cbMaxLen;
                    status = DBSTATUS_S_TRUNCATED;
                }
                std::memcpy(target, bytes.data(), n);
            }
            break;
        }
        case DBTYPE_GUID:
            if (v.kind != CellValue::Kind::Guid) {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
            }
            setLength(b, data, sizeof(GUID));
            if (wantValue) {
                std::memcpy(target, &v.g, sizeof(GUID));
            }
            break;
        case DBTYPE_DBTIMESTAMP:
            if (v.kind != CellValue::Kind::Timestamp) {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
            }
            setLength(b, data, sizeof(DBTIMESTAMP));
            if (wantValue) {
                std::memcpy(target, &v.ts, sizeof(DBTIMESTAMP));
            }
            break;
        case DBTYPE_BOOL: {
            double d = 0;
            VARIANT_BOOL flag = VARIANT_FALSE;
            if (v.kind == CellValue::Kind::Bool || v.kind == CellValue::Kind::Int) {
                flag = v.i ? VARIANT_TRUE : VARIANT_FALSE;
            } else if (asDouble(v, d)) {
                flag = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            } else {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
            }
            setLength(b, data, sizeof flag);
            if (wantValue) {
                std::memcpy(target, &flag, sizeof flag);
            }
            break;
        }
        case DBTYPE_R8:
        case DBTYPE_R4: {
            double d = 0;
            if (!asDouble(v, d)) {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                break;
            }
            if (type == DBTYPE_R4) {
                const float f = static_cast<float>(d);
                setLength(b, data, sizeof f);
                if (wantValue) {
                    std::memcpy(target, &f, sizeof f);
                }
            } else {
                setLength(b, data, sizeof d);
                if (wantValue) {
                    std::memcpy(target, &d, sizeof d);
                }
            }
            break;
        }
        case DBTYPE_VARIANT: {
            VARIANT var;
            VariantInit(&var);
            switch (v.kind) {
            case CellValue::Kind::Int:
                if (v.i >= INT32_MIN && v.i <= INT32_MAX) {
                    var.vt = VT_I4;
                    var.lVal = static_cast<LONG>(v.i);
                } else {
                    var.vt = VT_I8;
                    var.llVal = v.i;
                }
                break;
            case CellValue::Kind::Real:
                var.vt = VT_R8;
                var.dblVal = v.d;
                break;
            case CellValue::Kind::Bool:
                var.vt = VT_BOOL;
                var.boolVal = v.i ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            default: {
                std::string text;
                asText(v, text);
                var.vt = VT_BSTR;
                var.bstrVal = toBstr(text);
                break;
            }
            }
            setLength(b, data, sizeof(VARIANT));
            if (wantValue) {
                std::memcpy(target, &var, sizeof var);
            } else {
                VariantClear(&var);
            }
            break;
        }
        default: {
            DBSTATUS s = DBSTATUS_E_CANTCONVERTVALUE;
            BYTE scratch[8];
            void* to = wantValue ? target : scratch;
            switch (type) {
            case DBTYPE_I1:
                s = putInteger<std::int8_t>(v, to);
                break;
            case DBTYPE_I2:
                s = putInteger<std::int16_t>(v, to);
                break;
            case DBTYPE_I4:
                s = putInteger<std::int32_t>(v, to);
                break;
            case DBTYPE_I8:
                s = putInteger<std::int64_t>(v, to);
                break;
            case DBTYPE_UI1:
                s = putInteger<std::uint8_t>(v, to);
                break;
            case DBTYPE_UI2:
                s = putInteger<std::uint16_t>(v, to);
                break;
            case DBTYPE_UI4:
                s = putInteger<std::uint32_t>(v, to);
                break;
            case DBTYPE_UI8:
                s = putInteger<std::uint64_t>(v, to);
                break;
            default:
                break;
            }
            status = s;
            if (s == DBSTATUS_S_OK) {
                static const std::map<DBTYPE, DBLENGTH> sizes = {
                    {DBTYPE_I1, 1},  {DBTYPE_I2, 2},  {DBTYPE_I4, 4},  {DBTYPE_I8, 8},
                    {DBTYPE_UI1, 1}, {DBTYPE_UI2, 2}, {DBTYPE_UI4, 4}, {DBTYPE_UI8, 8}};
                setLength(b, data, sizes.at(type));
            }
            break;
        }
        }
    }
    if (b.dwPart & DBPART_STATUS) {
        std::memcpy(data + b.obStatus, &status, sizeof status);
    }
    return status;
}

bool readBinding(const DBBINDING& b, const BYTE* data, CellValue& value) {
    DBSTATUS status = DBSTATUS_S_OK;
    if (b.dwPart & DBPART_STATUS) {
        std::memcpy(&status, data + b.obStatus, sizeof status);
    }
    if (status == DBSTATUS_S_ISNULL) {
        value = CellValue::null();
        return true;
    }
    if (status != DBSTATUS_S_OK || !(b.dwPart & DBPART_VALUE)) {
        return false;
    }
    DBLENGTH length = 0;
    const bool hasLength = (b.dwPart & DBPART_LENGTH) != 0;
    if (hasLength) {
        std::memcpy(&length, data + b.obLength, sizeof length);
    }
    const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
    const BYTE* source = data + b.obValue;
    if (byRef) {
        std::memcpy(&source, data + b.obValue, sizeof source);
        if (!source) {
            return false;
        }
    }
    switch (baseType(b.wType)) {
    case DBTYPE_WSTR: {
        const auto* text = reinterpret_cast<const OLECHAR*>(source);
        std::size_t n = 0;
        if (hasLength) {
            n = length / sizeof(OLECHAR);
        } else {
            const std::size_t limit = byRef ? SIZE_MAX : b.cbMaxLen / sizeof(OLECHAR);
            while (n < limit && text[n]) {
                ++n;
            }
        }
        value = CellValue::text(fromOle(text, n));
        return true;
    }
    case DBTYPE_STR: {
        const auto* text = reinterpret_cast<const char*>(source);
        const std::size_t n = hasLength ? length : std::strlen(text);
        value = CellValue::text(std::string(text, n));
        return true;
    }
    case DBTYPE_BSTR: {
        BSTR bstr = nullptr;
        std::memcpy(&bstr, source, sizeof bstr);
        value = CellValue::text(fromOle(bstr, SysStringLen(bstr)));
        return true;
    }
    case DBTYPE_BYTES:
        value = CellValue::bytes(
            std::string(reinterpret_cast<const char*>(source), hasLength ? length : b.cbMaxLen));
        return true;
    case DBTYPE_BOOL: {
        VARIANT_BOOL flag = 0;
        std::memcpy(&flag, source, sizeof flag);
        value = CellValue::boolean(flag != 0);
        return true;
    }
    case DBTYPE_R8: {
        double d = 0;
        std::memcpy(&d, source, sizeof d);
        value = CellValue::real(d);
        return true;
    }
    case DBTYPE_R4: {
        float f = 0;
        std::memcpy(&f, source, sizeof f);
        value = CellValue::real(f);
        return true;
    }
    case DBTYPE_DBTIMESTAMP: {
        CellValue c;
        c.kind = CellValue::Kind::Timestamp;
        std::memcpy(&c.ts, source, sizeof c.ts);
        value = c;
        return true;
    }
    case DBTYPE_GUID: {
        CellValue c;
        c.kind = CellValue::Kind::Guid;
        std::memcpy(&c.g, source, sizeof c.g);
        value = c;
        return true;
    }
    default:
        break;
    }
    std::int64_t n = 0;
    switch (baseType(b.wType)) {
    case DBTYPE_I1: {
        std::int8_t x;
        std::memcpy(&x, source, 1);
        n = x;
        break;
    }
    case DBTYPE_UI1:
        n = *source;
        break;
    case DBTYPE_I2: {
        std::int16_t x;
        std::memcpy(&x, source, 2);
        n = x;
        break;
    }
    case DBTYPE_UI2: {
        std::uint16_t x;
        std::memcpy(&x, source, 2);
        n = x;
        break;
    }
    case DBTYPE_I4: {
        std::int32_t x;
        std::memcpy(&x, source, 4);
        n = x;
        break;
    }
    case DBTYPE_UI4: {
        std::uint32_t x;
        std::memcpy(&x, source, 4);
        n = x;
        break;
    }
    case DBTYPE_I8:
    case DBTYPE_UI8:
        std::memcpy(&n, source, 8);
        break;
    default:
        return false;
    }
    value = CellValue::integer(n);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Accessors.

HRESULT AccessorTable::create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                              DBLENGTH rowSize, HACCESSOR* handle, DBBINDSTATUS status[],
                              const std::vector<ColumnDesc>* columns) {
    if (!handle) {
        return E_INVALIDARG;
    }
    *handle = DB_NULL_HACCESSOR;
    if (count > 0 && !bindings) {
        return E_INVALIDARG;
    }
    if (flags & DBACCESSOR_PASSBYREF) {
        return DB_E_BYREFACCESSORNOTSUPPORTED;
    }
    const bool rows = (flags & DBACCESSOR_ROWDATA) != 0;
    const bool params = (flags & DBACCESSOR_PARAMETERDATA) != 0;
    if (!rows && !params) {
        return DB_E_BADACCESSORFLAGS;
    }
    if (rows && count == 0) {
        return DB_E_NULLACCESSORNOTSUPPORTED;
    }
    bool failed = false;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        const DBBINDING& b = bindings[i];
        DBBINDSTATUS s = DBBINDSTATUS_OK;
        if ((b.dwPart & (DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) == 0 ||
            (b.dwPart & ~(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) != 0 ||
            b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED || (rows && (b.wType & DBTYPE_BYREF) != 0)) {
            s = DBBINDSTATUS_BADBINDINFO;
        } else if (rows && columns && (b.iOrdinal == 0 || b.iOrdinal > columns->size())) {
            // No bookmarks here: ordinal 0 does not exist.
            s = DBBINDSTATUS_BADORDINAL;
        } else if (rows && columns && (b.dwPart & DBPART_VALUE) &&
                   !canConvert((*columns)[b.iOrdinal - 1].type, b.wType)) {
            s = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
        } else if (rowSize > 0 && (((b.dwPart & DBPART_VALUE) && b.obValue >= rowSize) ||
                                   ((b.dwPart & DBPART_LENGTH) && b.obLength >= rowSize) ||
                                   ((b.dwPart & DBPART_STATUS) && b.obStatus >= rowSize))) {
            s = DBBINDSTATUS_BADBINDINFO;
        }
        if (status) {
            status[i] = s;
        }
        failed = failed || s != DBBINDSTATUS_OK;
    }
    if (failed) {
        return DB_E_ERRORSOCCURRED;
    }
    Accessor a;
    a.flags = flags;
    a.bindings.assign(bindings, bindings + count);
    a.refs = 1;
    *handle = next_++;
    accessors_.emplace_back(*handle, std::move(a));
    return S_OK;
}

const AccessorTable::Accessor* AccessorTable::find(HACCESSOR handle) const {
    for (const auto& [h, a] : accessors_) {
        if (h == handle) {
            return &a;
        }
    }
    return nullptr;
}

HRESULT AccessorTable::addRef(HACCESSOR handle, DBREFCOUNT* refs) {
    for (auto& [h, a] : accessors_) {
        if (h == handle) {
            ++a.refs;
            if (refs) {
                *refs = a.refs;
            }
            return S_OK;
        }
    }
    return DB_E_BADACCESSORHANDLE;
}

HRESULT AccessorTable::release(HACCESSOR handle, DBREFCOUNT* refs) {
    for (auto it = accessors_.begin(); it != accessors_.end(); ++it) {
        if (it->first == handle) {
            const DBREFCOUNT left = --it->second.refs;
            if (refs) {
                *refs = left;
            }
            if (left == 0) {
                accessors_.erase(it);
            }
            return S_OK;
        }
    }
    return DB_E_BADACCESSORHANDLE;
}

HRESULT AccessorTable::bindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                DBBINDING** out) const {
    if (!flags || !count || !out) {
        return E_INVALIDARG;
    }
    *count = 0;
    *out = nullptr;
    const Accessor* a = find(handle);
    if (!a) {
        return DB_E_BADACCESSORHANDLE;
    }
    *flags = a->flags;
    *count = a->bindings.size();
    if (!a->bindings.empty()) {
        *out = static_cast<DBBINDING*>(CoTaskMemAlloc(sizeof(DBBINDING) * a->bindings.size()));
        if (!*out) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(*out, a->bindings.data(), sizeof(DBBINDING) * a->bindings.size());
    }
    return S_OK;
}

void AccessorTable::inheritFrom(const AccessorTable& other) {
    for (const auto& [h, a] : other.accessors_) {
        if (a.flags & DBACCESSOR_ROWDATA) {
            Accessor copy = a;
            copy.flags |= DBACCESSOR_INHERITED;
            copy.refs = 1;
            accessors_.emplace_back(h, std::move(copy));
            next_ = std::max(next_, h + 1);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The rowset.

namespace {

class Rowset final : public ComObject<IRowset, IAccessor, IColumnsInfo, IRowsetInfo> {
public:
    explicit Rowset(std::shared_ptr<RowSource> source) : source_(std::move(source)) {}
    ~Rowset() override {
        if (!ended_) {
            source_->abandon();
        }
    }

    // IRowset
    HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[],
                                         DBREFCOUNT rgRefCounts[],
                                         DBROWSTATUS rgRowStatus[]) override {
        return changeRefs(cRows, rghRows, rgRefCounts, rgRowStatus, +1);
    }

    HRESULT STDMETHODCALLTYPE GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override {
        SetErrorInfo(0, nullptr);
        auto row = rows_.find(hRow);
        if (row == rows_.end()) {
            return DB_E_BADROWHANDLE;
        }
        const auto* accessor = accessors_.find(hAccessor);
        if (!accessor) {
            return DB_E_BADACCESSORHANDLE;
        }
        if (!(accessor->flags & DBACCESSOR_ROWDATA)) {
            return DB_E_BADACCESSORTYPE;
        }
        if (!pData && !accessor->bindings.empty()) {
            return E_INVALIDARG;
        }
        std::size_t failed = 0;
        for (const auto& b : accessor->bindings) {
            const CellValue& v = row->second.data[b.iOrdinal - 1];
            const DBSTATUS s = writeBinding(b, v, static_cast<BYTE*>(pData));
            if (s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL && s != DBSTATUS_S_TRUNCATED) {
                ++failed;
            }
        }
        if (failed == 0) {
            return S_OK;
        }
        return failed == accessor->bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                          DBCOUNTITEM* pcRowsObtained, HROW** prghRows) override {
        SetErrorInfo(0, nullptr);
        if (!pcRowsObtained || !prghRows) {
            return E_INVALIDARG;
        }
        *pcRowsObtained = 0;
        if (lRowsOffset < 0) {
            return DB_E_CANTSCROLLBACKWARDS;
        }
        if (cRows < 0) {
            return DB_E_CANTFETCHBACKWARDS;
        }
        if (cRows == 0) {
            return S_OK;
        }
        // An error met after rows were obtained is reported on the next call.
        if (pendingFailure_) {
            const HRESULT hr = *pendingFailure_;
            pendingFailure_.reset();
            postErrorRecords(pendingRecords_);
            pendingRecords_.clear();
            return hr;
        }
        std::vector<RowData> fetched;
        const auto wanted = static_cast<std::size_t>(cRows);
        HRESULT hr = S_OK;
        if (!ended_) {
            // Skipped rows are read and dropped.
            if (lRowsOffset > 0) {
                std::vector<RowData> skipped;
                hr = source_->fetch(static_cast<std::size_t>(lRowsOffset), skipped);
            }
            if (hr == S_OK) {
                hr = source_->fetch(wanted, fetched);
            }
            if (hr == DB_S_ENDOFROWSET || FAILED(hr)) {
                ended_ = true;
            }
        }
        if (FAILED(hr) && !fetched.empty()) {
            // Keep the error for the next call; these rows are good.
            pendingFailure_ = hr;
            auto error = takeErrorObject();
            for (auto& r : error.records) {
                ErrorRecordData d;
                d.result = r.basic.hrError;
                d.interfaceId = r.basic.iid;
                d.minor = r.basic.dwMinor;
                d.description = r.description;
                d.sqlServer = r.sqlServer;
                pendingRecords_.push_back(std::move(d));
            }
            hr = S_OK;
        }
        if (FAILED(hr)) {
            return hr;
        }
        if (fetched.empty()) {
            return DB_S_ENDOFROWSET;
        }
        HROW* handles = *prghRows;
        if (!handles) {
            handles = static_cast<HROW*>(CoTaskMemAlloc(sizeof(HROW) * fetched.size()));
            if (!handles) {
                return E_OUTOFMEMORY;
            }
            *prghRows = handles;
        }
        fetchedAny_ = true;
        for (std::size_t i = 0; i < fetched.size(); ++i) {
            const HROW h = nextRow_++;
            rows_.emplace(h, HeldRow{std::move(fetched[i]), 1});
            handles[i] = h;
        }
        *pcRowsObtained = fetched.size();
        // With a failure waiting, the short block must not look like the end: the caller would stop
        // and never learn that the rows are incomplete.
        return fetched.size() < wanted && !pendingFailure_ ? DB_S_ENDOFROWSET : S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS[],
                                          DBREFCOUNT rgRefCounts[],
                                          DBROWSTATUS rgRowStatus[]) override {
        return changeRefs(cRows, rghRows, rgRefCounts, rgRowStatus, -1);
    }

    HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER) override {
        return fetchedAny_ ? DB_E_CANNOTRESTART : S_OK;
    }

    // IAccessor
    HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override {
        return accessors_.addRef(hAccessor, pcRefCount);
    }
    HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                             const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                             HACCESSOR* phAccessor,
                                             DBBINDSTATUS rgStatus[]) override {
        SetErrorInfo(0, nullptr);
        if (dwAccessorFlags & DBACCESSOR_PARAMETERDATA) {
            return DB_E_BADACCESSORFLAGS;
        }
        return accessors_.create(dwAccessorFlags, cBindings, rgBindings, cbRowSize, phAccessor,
                                 rgStatus, &source_->columns());
    }
    HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                          DBCOUNTITEM* pcBindings,
                                          DBBINDING** prgBindings) override {
        return accessors_.bindings(hAccessor, pdwAccessorFlags, pcBindings, prgBindings);
    }
    HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor,
                                              DBREFCOUNT* pcRefCount) override {
        return accessors_.release(hAccessor, pcRefCount);
    }

    // IColumnsInfo
    HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                            OLECHAR** ppStringsBuffer) override {
        if (!pcColumns || !prgInfo || !ppStringsBuffer) {
            return E_INVALIDARG;
        }
        const auto& columns = source_->columns();
        *pcColumns = 0;
        *prgInfo = nullptr;
        *ppStringsBuffer = nullptr;
        if (columns.empty()) {
            return S_OK;
        }
        std::vector<OleString> names;
        std::size_t units = 0;
        for (const auto& c : columns) {
            names.push_back(toOle(c.name));
            units += names.back().size() + 1;
        }
        auto* info =
            static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * columns.size()));
        auto* strings = static_cast<OLECHAR*>(CoTaskMemAlloc(units * sizeof(OLECHAR)));
        if (!info || !strings) {
            CoTaskMemFree(info);
            CoTaskMemFree(strings);
            return E_OUTOFMEMORY;
        }
        OLECHAR* at = strings;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto& c = columns[i];
            std::memcpy(at, names[i].c_str(), (names[i].size() + 1) * sizeof(OLECHAR));
            DBCOLUMNINFO& ci = info[i];
            ci.pwszName = at;
            ci.pTypeInfo = nullptr;
            ci.iOrdinal = i + 1;
            ci.dwFlags = c.flags;
            ci.ulColumnSize = c.size;
            ci.wType = c.type;
            ci.bPrecision = c.precision;
            ci.bScale = c.scale;
            ci.columnid.eKind = DBKIND_NAME;
            ci.columnid.uGuid.guid = GUID_NULL;
            ci.columnid.uName.pwszName = at;
            at += names[i].size() + 1;
        }
        *pcColumns = columns.size();
        *prgInfo = info;
        *ppStringsBuffer = strings;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                           DBORDINAL rgColumns[]) override {
        if (cColumnIDs > 0 && (!rgColumnIDs || !rgColumns)) {
            return E_INVALIDARG;
        }
        const auto& columns = source_->columns();
        DBORDINAL failed = 0;
        for (DBORDINAL i = 0; i < cColumnIDs; ++i) {
            rgColumns[i] = static_cast<DBORDINAL>(-1);
            const DBID& id = rgColumnIDs[i];
            if (id.eKind == DBKIND_NAME && id.uName.pwszName) {
                const std::string name = fromOle(id.uName.pwszName);
                for (std::size_t k = 0; k < columns.size(); ++k) {
                    if (columns[k].name == name) {
                        rgColumns[i] = k + 1;
                        break;
                    }
                }
            }
            if (rgColumns[i] == static_cast<DBORDINAL>(-1)) {
                ++failed;
            }
        }
        if (failed == 0) {
            return S_OK;
        }
        return failed == cColumnIDs ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    // IRowsetInfo
    HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cPropertyIDSets,
                                            const DBPROPIDSET rgPropertyIDSets[],
                                            ULONG* pcPropertySets,
                                            DBPROPSET** prgPropertySets) override {
        PropertyStore store;
        for (DBPROPID id :
             {DBPROP_IRowset, DBPROP_IAccessor, DBPROP_IColumnsInfo, DBPROP_IRowsetInfo}) {
            store.define({DBPROPSET_ROWSET, id, VT_BOOL, false}, variantOfBool(true));
        }
        for (DBPROPID id : {DBPROP_CANSCROLLBACKWARDS, DBPROP_CANFETCHBACKWARDS,
                            DBPROP_IRowsetLocate, DBPROP_IRowsetChange, DBPROP_SERVERCURSOR}) {
            store.define({DBPROPSET_ROWSET, id, VT_BOOL, false}, variantOfBool(false));
        }
        store.define({DBPROPSET_ROWSET, DBPROP_CANHOLDROWS, VT_BOOL, false}, variantOfBool(true));
        return store.getProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets,
                                   prgPropertySets);
    }
    HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL, REFIID, IUnknown** pp) override {
        if (pp) {
            *pp = nullptr;
        }
        return DB_E_BADORDINAL;
    }
    HRESULT STDMETHODCALLTYPE GetSpecification(REFIID, IUnknown** pp) override {
        if (pp) {
            *pp = nullptr;
        }
        return S_FALSE;
    }

private:
    struct HeldRow {
        RowData data;
        DBREFCOUNT refs;
    };

    HRESULT changeRefs(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT refCounts[],
                       DBROWSTATUS rowStatus[], int delta) {
        if (cRows > 0 && !rghRows) {
            return E_INVALIDARG;
        }
        DBCOUNTITEM failed = 0;
        for (DBCOUNTITEM i = 0; i < cRows; ++i) {
            auto it = rows_.find(rghRows[i]);
            DBROWSTATUS status = DBROWSTATUS_S_OK;
            DBREFCOUNT refs = 0;
            if (it == rows_.end()) {
                status = DBROWSTATUS_E_INVALID;
                ++failed;
            } else {
                it->second.refs = static_cast<DBREFCOUNT>(it->second.refs + delta);
                refs = it->second.refs;
                if (refs == 0) {
                    rows_.erase(it);
                }
            }
            if (refCounts) {
                refCounts[i] = refs;
            }
            if (rowStatus) {
                rowStatus[i] = status;
            }
        }
        if (failed == 0) {
            return S_OK;
        }
        return failed == cRows ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    std::shared_ptr<RowSource> source_;
    AccessorTable accessors_;
    std::map<HROW, HeldRow> rows_;
    HROW nextRow_ = 1;
    bool ended_ = false;
    bool fetchedAny_ = false;
    std::optional<HRESULT> pendingFailure_;
    std::vector<ErrorRecordData> pendingRecords_;
};

} // namespace

HRESULT createRowset(std::shared_ptr<RowSource> source, REFIID riid, IUnknown** ppRowset) {
    if (!ppRowset) {
        return E_INVALIDARG;
    }
    *ppRowset = nullptr;
    auto rowset = makeObject<Rowset>(std::move(source));
    return rowset->QueryInterface(riid, reinterpret_cast<void**>(ppRowset));
}

} // namespace kv::oledb
