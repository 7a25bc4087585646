#include "dataaccess/OLEDBParamBuffer.h"

#include "platform/oledb/com_lite.h"
#include "toolkit/SysUtils.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kv::dataaccess {

namespace {

constexpr std::size_t kHeader = 16; // status (padded to 8), then the length

std::size_t align8(std::size_t n) {
    return (n + 7) & ~std::size_t{7};
}

bool isOutput(const TDAParam& p) {
    return p.ParamType() == ptOutput || p.ParamType() == ptInputOutput || p.ParamType() == ptResult;
}

bool isInput(const TDAParam& p) {
    return p.ParamType() != ptOutput && p.ParamType() != ptResult;
}

DBPARAMIO directionOf(const TDAParam& p) {
    DBPARAMIO io = 0;
    if (isInput(p))
        io |= DBPARAMIO_INPUT;
    if (isOutput(p))
        io |= DBPARAMIO_OUTPUT;
    return io;
}

DBTYPE typeOfValue(const TParamValue& v) {
    if (std::holds_alternative<std::int64_t>(v))
        return DBTYPE_I8;
    if (std::holds_alternative<double>(v))
        return DBTYPE_R8;
    if (std::holds_alternative<bool>(v))
        return DBTYPE_BOOL;
    return DBTYPE_WSTR;
}

// The value as a number, or false when it has none (a text that is not a number).
bool asInteger(const TParamValue& v, std::int64_t& out) {
    if (auto* i = std::get_if<std::int64_t>(&v))
        out = *i;
    else if (auto* d = std::get_if<double>(&v))
        out = std::llround(*d);
    else if (auto* b = std::get_if<bool>(&v))
        out = *b ? 1 : 0;
    else if (auto* s = std::get_if<std::string>(&v))
        return TryStrToInt(Trim(*s), out);
    return true;
}

bool asFloat(const TParamValue& v, double& out) {
    if (auto* i = std::get_if<std::int64_t>(&v))
        out = static_cast<double>(*i);
    else if (auto* d = std::get_if<double>(&v))
        out = *d;
    else if (auto* b = std::get_if<bool>(&v))
        out = *b ? 1 : 0;
    else if (auto* s = std::get_if<std::string>(&v)) {
        const std::string t = Trim(*s);
        char* end = nullptr;
        out = std::strtod(t.c_str(), &end);
        return !t.empty() && end != nullptr && *end == '\0';
    }
    return true;
}

bool asBoolean(const TParamValue& v, bool& out) {
    if (auto* b = std::get_if<bool>(&v)) {
        out = *b;
        return true;
    }
    if (auto* s = std::get_if<std::string>(&v)) {
        if (SameText(*s, "True") || *s == "1") {
            out = true;
            return true;
        }
        if (SameText(*s, "False") || *s == "0") {
            out = false;
            return true;
        }
        return false;
    }
    double d = 0;
    asFloat(v, d);
    out = d != 0;
    return true;
}

template <class T>
void put(std::vector<unsigned char>& data, std::size_t offset, const T& value) {
    std::memcpy(data.data() + offset, &value, sizeof value);
}

template <class T>
T get(const std::vector<unsigned char>& data, std::size_t offset) {
    T value{};
    std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

} // namespace

DBTYPE ParamBindType(const TDAParam& Param) {
    switch (Param.DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
        return DBTYPE_I8;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
        return DBTYPE_R8;
    case ftBoolean:
        return DBTYPE_BOOL;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
        return DBTYPE_BYTES;
    case ftUnknown:
        return typeOfValue(Param.Value());
    default:
        return DBTYPE_WSTR;
    }
}

TOLEDBParamBuffer::~TOLEDBParamBuffer() {
    ReleaseOutputs();
}

TOLEDBParamBuffer::TOLEDBParamBuffer(TOLEDBParamBuffer&& Other) noexcept {
    *this = std::move(Other);
}

TOLEDBParamBuffer& TOLEDBParamBuffer::operator=(TOLEDBParamBuffer&& Other) noexcept {
    if (this != &Other) {
        ReleaseOutputs();
        FBindings = std::move(Other.FBindings);
        FParams = std::move(Other.FParams);
        FData = std::move(Other.FData);
        FTexts = std::move(Other.FTexts);
        FBytes = std::move(Other.FBytes);
        FInputs = std::move(Other.FInputs);
        Other.FBindings.clear();
        Other.FInputs.clear();
    }
    return *this;
}

void TOLEDBParamBuffer::ReleaseOutputs() {
    for (std::size_t i = 0; i < FBindings.size() && i < FInputs.size(); ++i) {
        const DBBINDING& b = FBindings[i];
        if (!(b.eParamIO & DBPARAMIO_OUTPUT) || !(b.wType & DBTYPE_BYREF))
            continue;
        void* at = get<void*>(FData, b.obValue);
        if (at != nullptr && at != FInputs[i])
            CoTaskMemFree(at);
        put(FData, b.obValue, FInputs[i]);
    }
}

void TOLEDBParamBuffer::Bind(const TParamDescs& Descs, TDAParams& Params) {
    ReleaseOutputs();
    FInputs.clear();
    FBindings.clear();
    FParams.clear();
    FTexts.clear();
    FBytes.clear();
    FTexts.reserve(Descs.size()); // pointers into these stay valid
    FBytes.reserve(Descs.size());

    std::size_t offset = 0;
    for (std::size_t i = 0; i < Descs.size(); ++i) {
        TDAParam* p = Params.FindParam(Descs[i]->GetName());
        if (p == nullptr && i < static_cast<std::size_t>(Params.Count()))
            p = &Params[static_cast<int>(i)];
        if (p == nullptr)
            break;
        DBBINDING b{};
        b.iOrdinal = i + 1;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = directionOf(*p);
        b.wType = ParamBindType(*p);
        b.obStatus = offset;
        b.obLength = offset + 8;
        b.obValue = offset + kHeader;
        const std::size_t room = 8; // a value, or the address of one
        if (b.wType == DBTYPE_WSTR || b.wType == DBTYPE_BYTES)
            b.wType |= DBTYPE_BYREF; // the buffer holds a pointer to the whole value
        else
            b.cbMaxLen = room;
        offset = align8(b.obValue + room);
        FBindings.push_back(b);
        FParams.push_back(p);
    }
    FData.assign(std::max<std::size_t>(offset, 1), 0);
    FInputs.assign(FBindings.size(), nullptr);

    for (std::size_t i = 0; i < FBindings.size(); ++i) {
        DBBINDING& b = FBindings[i];
        const TDAParam& p = *FParams[i];
        DBSTATUS status = DBSTATUS_S_OK;
        DBLENGTH length = 0;
        if (!(b.eParamIO & DBPARAMIO_INPUT)) {
            // Output only: nothing to send.
        } else if (p.IsNull()) {
            status = DBSTATUS_S_ISNULL;
        } else {
            switch (b.wType & ~DBTYPE_BYREF) {
            case DBTYPE_I8: {
                std::int64_t v = 0;
                if (!asInteger(p.Value(), v))
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                put(FData, b.obValue, v);
                length = sizeof v;
                break;
            }
            case DBTYPE_R8: {
                double v = 0;
                if (!asFloat(p.Value(), v))
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                put(FData, b.obValue, v);
                length = sizeof v;
                break;
            }
            case DBTYPE_BOOL: {
                bool v = false;
                if (!asBoolean(p.Value(), v))
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                put(FData, b.obValue, static_cast<VARIANT_BOOL>(v ? VARIANT_TRUE : VARIANT_FALSE));
                length = sizeof(VARIANT_BOOL);
                break;
            }
            case DBTYPE_WSTR: {
                kv::oledb::OleString text = kv::oledb::toOle(p.AsString());
                length = text.size() * sizeof(OLECHAR);
                if (b.wType & DBTYPE_BYREF) {
                    FTexts.push_back(std::move(text));
                    const OLECHAR* at = FTexts.back().c_str();
                    put(FData, b.obValue, at);
                    FInputs[i] = at;
                    b.cbMaxLen = length + sizeof(OLECHAR);
                } else {
                    std::memcpy(FData.data() + b.obValue, text.c_str(), length);
                }
                break;
            }
            case DBTYPE_BYTES: {
                std::string bytes = p.AsString();
                length = bytes.size();
                if (b.wType & DBTYPE_BYREF) {
                    FBytes.push_back(std::move(bytes));
                    const char* at = FBytes.back().data();
                    put(FData, b.obValue, at);
                    FInputs[i] = at;
                    b.cbMaxLen = length;
                } else {
                    std::memcpy(FData.data() + b.obValue, bytes.data(), length);
                }
                break;
            }
            default:
                break;
            }
        }
        put(FData, b.obStatus, status);
        put(FData, b.obLength, length);
    }
}

DBSTATUS TOLEDBParamBuffer::Status(std::size_t Index) const {
    return get<DBSTATUS>(FData, FBindings.at(Index).obStatus);
}

void TOLEDBParamBuffer::ReadOutput() {
    for (std::size_t i = 0; i < FBindings.size(); ++i) {
        const DBBINDING& b = FBindings[i];
        if (!(b.eParamIO & DBPARAMIO_OUTPUT))
            continue;
        TDAParam& p = *FParams[i];
        const DBSTATUS status = Status(i);
        if (status == DBSTATUS_S_ISNULL) {
            p.Clear();
            continue;
        }
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED)
            continue;
        const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
        DBLENGTH length = get<DBLENGTH>(FData, b.obLength);
        const unsigned char* value = FData.data() + b.obValue;
        if (byRef) {
            value = static_cast<const unsigned char*>(get<const void*>(FData, b.obValue));
            if (value == nullptr)
                continue;
        } else {
            length = std::min<DBLENGTH>(length, b.cbMaxLen);
        }
        switch (b.wType & ~DBTYPE_BYREF) {
        case DBTYPE_I8:
            p.SetValue(get<std::int64_t>(FData, b.obValue));
            break;
        case DBTYPE_R8:
            p.SetValue(get<double>(FData, b.obValue));
            break;
        case DBTYPE_BOOL:
            p.SetValue(get<VARIANT_BOOL>(FData, b.obValue) != VARIANT_FALSE);
            break;
        case DBTYPE_WSTR: {
            const std::size_t units =
                (byRef ? length : std::min<std::size_t>(length, b.cbMaxLen - sizeof(OLECHAR))) /
                sizeof(OLECHAR);
            kv::oledb::OleString text(units, OLECHAR{});
            std::memcpy(text.data(), value, units * sizeof(OLECHAR));
            p.SetValue(kv::oledb::fromOle(text.data(), text.size()));
            break;
        }
        case DBTYPE_BYTES:
            p.SetValue(std::string(reinterpret_cast<const char*>(value), length));
            break;
        default:
            break;
        }
    }
    ReleaseOutputs();
}

} // namespace kv::dataaccess
