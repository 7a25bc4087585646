#include "dataaccess/OLEDBErrors.h"

#include "dataaccess/DAConsts.h"
#include "platform/oledb/com_lite.h"

#include <cstdio>
#include <optional>
#include <stdexcept>

namespace kv::dataaccess {

// ---------------------------------------------------------------------------------------------
// EOLEDBError

EOLEDBError::EOLEDBError(std::int32_t ErrorCode, kv::oledb::OleString WideMessage)
    : EDAError(ErrorCode, kv::oledb::fromOle(WideMessage.data(), WideMessage.size())),
      FWideMessage(std::move(WideMessage)) {}

EOLEDBError::EOLEDBError(const EOLEDBError& Other)
    : EDAError(Other), FProviderResult(Other.FProviderResult),
      FSourceInterfaceId(Other.FSourceInterfaceId), FWideMessage(Other.FWideMessage) {
    for (const auto& r : Other.FErrorRecords)
        FErrorRecords.emplace_back(static_cast<EOLEDBError*>(r->Clone().release()));
}

EOLEDBError::~EOLEDBError() = default;

const EOLEDBError& EOLEDBError::ErrorRecords(int Index) const {
    if (Index < 0 || Index >= ErrorRecordCount())
        throw std::out_of_range("error record index");
    return *FErrorRecords[static_cast<std::size_t>(Index)];
}

void EOLEDBError::AddErrorRecord(std::unique_ptr<EOLEDBError> Record) {
    FErrorRecords.push_back(std::move(Record));
}

void EOLEDBError::SetWideMessage(kv::oledb::OleString Value) {
    SetMessage(kv::oledb::fromOle(Value.data(), Value.size()));
    FWideMessage = std::move(Value);
}

void EOLEDBError::AssignFrom(const EOLEDBError& Source) {
    if (&Source == this)
        return;
    FProviderResult = Source.FProviderResult;
    FSourceInterfaceId = Source.FSourceInterfaceId;
    SetComponent(Source.Component());
    FErrorRecords.clear();
    for (const auto& r : Source.FErrorRecords)
        FErrorRecords.emplace_back(static_cast<EOLEDBError*>(r->Clone().release()));
}

std::unique_ptr<EDAError> EOLEDBError::Clone() const {
    return std::make_unique<EOLEDBError>(*this);
}

void EOLEDBError::Raise() const {
    throw EOLEDBError(*this);
}

// ---------------------------------------------------------------------------------------------
// EMSError

EMSError::EMSError(const TMSErrorFields& Fields, kv::oledb::OleString WideMessage)
    : EOLEDBError(Fields.ErrorNumber, std::move(WideMessage)), FFields(Fields) {}

EMSError::EMSError(const EMSError& Other) : EOLEDBError(Other), FFields(Other.FFields) {}

EMSError::~EMSError() = default;

bool EMSError::IsFatal() const {
    const int cls = FFields.SeverityClass;
    const int state = FFields.State;
    const std::int32_t n = FFields.ErrorNumber;
    if (cls >= 20)
        return true;
    if (state != 1)
        return false;
    if (cls == 16 && (n <= 17 || n == 233 || n == 64 || n == 10054))
        return true;
    return cls == 10 && n == 10054;
}

bool EMSError::IsDuplicateKey() const {
    return ErrorCode() == 2627;
}

void EMSError::AssignFrom(const EOLEDBError& Source) {
    EOLEDBError::AssignFrom(Source);
    if (auto* ms = dynamic_cast<const EMSError*>(&Source)) {
        FFields = ms->FFields;
        SetErrorCode(ms->ErrorCode());
    }
}

std::unique_ptr<EDAError> EMSError::Clone() const {
    return std::make_unique<EMSError>(*this);
}

void EMSError::Raise() const {
    throw EMSError(*this);
}

// ---------------------------------------------------------------------------------------------
// Building the error from the provider

namespace {

struct RecordInfo {
    std::optional<TMSErrorFields> Fields; // set when the record has SQL Server information
    kv::oledb::OleString Message;
};

kv::oledb::OleString wideOf(const OLECHAR* s) {
    return s == nullptr ? kv::oledb::OleString() : s;
}

// The SQL Server information of record i, when its custom error object offers it. The
// provider's buffers are given back to the task allocator here.
std::optional<RecordInfo> sqlServerInfo(IErrorRecords* records, ULONG i) {
    kv::oledb::ComPtr<IUnknown> custom;
    if (FAILED(records->GetCustomErrorObject(i, IID_ISQLServerErrorInfo, custom.put())) || !custom)
        return std::nullopt;
    kv::oledb::ComPtr<ISQLServerErrorInfo> ss;
    if (FAILED(custom.as(IID_ISQLServerErrorInfo, ss)) || !ss)
        return std::nullopt;
    SSERRORINFO* info = nullptr;
    OLECHAR* strings = nullptr;
    HRESULT hr = ss->GetErrorInfo(&info, &strings);
    std::optional<RecordInfo> result;
    if (SUCCEEDED(hr) && info != nullptr) {
        RecordInfo r;
        r.Message = wideOf(info->pwszMessage);
        TMSErrorFields f;
        f.ErrorNumber = info->lNative;
        f.ServerName = kv::oledb::fromOle(info->pwszServer);
        f.ProcedureName = kv::oledb::fromOle(info->pwszProcedure);
        f.State = info->bState;
        f.SeverityClass = info->bClass;
        f.LineNumber = info->wLineNumber;
        f.RecordMessage = kv::oledb::fromOle(r.Message.data(), r.Message.size());
        r.Fields = std::move(f);
        result = std::move(r);
    }
    CoTaskMemFree(info);
    CoTaskMemFree(strings);
    return result;
}

kv::oledb::OleString oledbErrorText(HRESULT hr) {
    char buf[64];
    std::snprintf(buf, sizeof buf, SOLEDBError, static_cast<unsigned>(hr));
    return kv::oledb::toOle(buf);
}

} // namespace

void AppendErrorText(EOLEDBError& E, const std::string& Text) {
    E.SetWideMessage(E.WideMessage() + kv::oledb::toOle("\n") + kv::oledb::toOle(Text));
}

std::unique_ptr<EOLEDBError> BuildProviderError(HRESULT hr, TComponent* Component,
                                                const TStatusCallback& StatusCallback) {
    // 1. The thread's error object: its description and its records.
    kv::oledb::ComPtr<IErrorInfo> errorInfo;
    kv::oledb::OleString description;
    kv::oledb::ComPtr<IErrorRecords> records;
    ULONG count = 0;
    if (GetErrorInfo(0, errorInfo.put()) == S_OK && errorInfo) {
        BSTR text = nullptr;
        if (SUCCEEDED(errorInfo->GetDescription(&text)))
            description = wideOf(text);
        SysFreeString(text);
        if (FAILED(errorInfo.as(IID_IErrorRecords, records)) || !records ||
            FAILED(records->GetRecordCount(&count)))
            count = 0;
    }

    // 2. Records from the last down to the first: the highest one with SQL Server information
    //    gives the main values; the messages end up in index order.
    std::vector<std::optional<RecordInfo>> infos(count);
    std::optional<TMSErrorFields> main;
    kv::oledb::OleString joined;
    for (ULONG i = count; i-- > 0;) {
        infos[i] = sqlServerInfo(records.get(), i);
        if (!infos[i])
            continue;
        if (!main)
            main = infos[i]->Fields;
        joined = joined.empty() ? infos[i]->Message
                                : infos[i]->Message + kv::oledb::toOle("\r\n") + joined;
    }

    // 3./4. The error object.
    std::unique_ptr<EOLEDBError> error;
    if (!joined.empty()) {
        error = std::make_unique<EMSError>(*main, joined);
    } else if (hr == S_OK) {
        return nullptr;
    } else {
        kv::oledb::OleString message = description.empty() ? oledbErrorText(hr) : description;
        if (hr == CO_E_NOTINITIALIZED)
            message += kv::oledb::toOle(SCoInitializeNotCalled);
        error = std::make_unique<EOLEDBError>(hr, message);
    }

    // 5. The caller's addition.
    if (StatusCallback) {
        std::string extra = StatusCallback(hr);
        if (!extra.empty())
            AppendErrorText(*error, extra);
    }

    // 6.
    error->SetComponent(Component);
    error->SetProviderResult(hr);

    // 7. One entry per record, index order.
    for (ULONG i = 0; i < count; ++i) {
        std::unique_ptr<EOLEDBError> entry;
        if (infos[i])
            entry = std::make_unique<EMSError>(*infos[i]->Fields, infos[i]->Message);
        else
            entry = std::make_unique<EOLEDBError>(hr, description);
        entry->SetComponent(Component);
        ERRORINFO basic{};
        if (SUCCEEDED(records->GetBasicErrorInfo(i, &basic))) {
            entry->SetProviderResult(basic.hrError);
            entry->SetSourceInterfaceId(basic.iid);
        }
        error->AddErrorRecord(std::move(entry));
    }
    return error;
}

} // namespace kv::dataaccess
