// Error objects with records, built the way SQL Server's OLE DB providers build them: the
// object answers IErrorInfo (the call's description) and IErrorRecords; each record has basic
// information, its own IErrorInfo, and for server messages a custom error object answering
// ISQLServerErrorInfo with the message's fields.
#include "platform/oledb/error_records.h"

#include <cstring>

namespace kv::oledb {
namespace {

constexpr std::string_view kSource = "Kelvora OLE DB Provider for SQL Server";

class SqlServerErrorObject final : public ComObject<ISQLServerErrorInfo> {
public:
    explicit SqlServerErrorObject(SqlServerMessage message) : message_(std::move(message)) {}

    // One task-allocator block for the structure and one for the three strings; the caller
    // frees both.
    HRESULT STDMETHODCALLTYPE GetErrorInfo(SSERRORINFO** ppErrorInfo,
                                           OLECHAR** ppStringsBuffer) override {
        if (!ppErrorInfo || !ppStringsBuffer) {
            return E_INVALIDARG;
        }
        *ppErrorInfo = nullptr;
        *ppStringsBuffer = nullptr;
        const OleString message = toOle(message_.message);
        const OleString server = toOle(message_.server);
        const OleString procedure = toOle(message_.procedure);
        const std::size_t units = message.size() + server.size() + procedure.size() + 3;
        auto* info = static_cast<SSERRORINFO*>(CoTaskMemAlloc(sizeof(SSERRORINFO)));
        auto* strings = static_cast<OLECHAR*>(CoTaskMemAlloc(units * sizeof(OLECHAR)));
        if (!info || !strings) {
            CoTaskMemFree(info);
            CoTaskMemFree(strings);
            return E_OUTOFMEMORY;
        }
        OLECHAR* at = strings;
        auto put = [&at](const OleString& text) {
            OLECHAR* start = at;
            std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
            at += text.size() + 1;
            return start;
        };
        info->pwszMessage = put(message);
        info->pwszServer = put(server);
        info->pwszProcedure = put(procedure);
        info->lNative = message_.number;
        info->bState = message_.state;
        info->bClass = message_.severityClass;
        info->wLineNumber = message_.line;
        *ppErrorInfo = info;
        *ppStringsBuffer = strings;
        return S_OK;
    }

private:
    SqlServerMessage message_;
};

class RecordErrorInfo final : public ComObject<IErrorInfo> {
public:
    RecordErrorInfo(const IID& iid, std::string description)
        : iid_(iid), description_(std::move(description)) {}

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID) {
            return E_INVALIDARG;
        }
        *pGUID = iid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return give(out, kSource); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return give(out, description_); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return give(out, {}); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
        if (!out) {
            return E_INVALIDARG;
        }
        *out = 0;
        return S_OK;
    }

private:
    static HRESULT give(BSTR* out, std::string_view text) {
        if (!out) {
            return E_INVALIDARG;
        }
        *out = toBstr(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    IID iid_;
    std::string description_;
};

struct Record {
    ERRORINFO basic{};
    std::string description;
    ComPtr<IUnknown> custom;
};

class ErrorObject final : public ComObject<IErrorInfo, IErrorRecords> {
public:
    explicit ErrorObject(std::string description) : description_(std::move(description)) {}

    void add(const ErrorRecordData& data) {
        Record r;
        r.basic.hrError = data.result;
        r.basic.dwMinor = data.minor;
        r.basic.clsid = CLSID_SQLOLEDB;
        r.basic.iid = data.interfaceId;
        r.basic.dispid = 0;
        r.description = data.description;
        if (data.sqlServer) {
            auto custom = makeObject<SqlServerErrorObject>(*data.sqlServer);
            r.custom = ComPtr<IUnknown>::adopt(custom.detach()->unknown());
        }
        records_.push_back(std::move(r));
    }
    void setDescription(std::string text) { description_ = std::move(text); }

    // IErrorInfo: the description of the whole call.
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID) {
            return E_INVALIDARG;
        }
        *pGUID = records_.empty() ? GUID_NULL : records_.back().basic.iid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return give(out, kSource); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return give(out, description_); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return give(out, {}); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
        if (!out) {
            return E_INVALIDARG;
        }
        *out = 0;
        return S_OK;
    }

    // IErrorRecords.
    HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO* pErrorInfo, DWORD dwLookupID, DISPPARAMS*,
                                             IUnknown* punkCustomError, DWORD) override {
        if (!pErrorInfo) {
            return E_INVALIDARG;
        }
        Record r;
        r.basic = *pErrorInfo;
        r.basic.dwMinor = pErrorInfo->dwMinor ? pErrorInfo->dwMinor : dwLookupID;
        r.custom = ComPtr<IUnknown>::share(punkCustomError);
        records_.push_back(std::move(r));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO* pErrorInfo) override {
        if (!pErrorInfo) {
            return E_INVALIDARG;
        }
        if (ulRecordNum >= records_.size()) {
            return DB_E_BADRECORDNUM;
        }
        *pErrorInfo = records_[ulRecordNum].basic;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG ulRecordNum, REFIID riid,
                                                   IUnknown** ppObject) override {
        if (!ppObject) {
            return E_INVALIDARG;
        }
        *ppObject = nullptr;
        if (ulRecordNum >= records_.size()) {
            return DB_E_BADRECORDNUM;
        }
        const auto& custom = records_[ulRecordNum].custom;
        if (!custom) {
            return S_OK; // no custom object: success with a null pointer, as OLE DB defines
        }
        const HRESULT hr = custom->QueryInterface(riid, reinterpret_cast<void**>(ppObject));
        return hr == E_NOINTERFACE ? S_OK : hr;
    }
    HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG ulRecordNum, LCID,
                                           IErrorInfo** ppErrorInfo) override {
        if (!ppErrorInfo) {
            return E_INVALIDARG;
        }
        *ppErrorInfo = nullptr;
        if (ulRecordNum >= records_.size()) {
            return DB_E_BADRECORDNUM;
        }
        const auto& r = records_[ulRecordNum];
        *ppErrorInfo = makeObject<RecordErrorInfo>(r.basic.iid, r.description).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG ulRecordNum,
                                                 DISPPARAMS* pdispparams) override {
        if (!pdispparams) {
            return E_INVALIDARG;
        }
        if (ulRecordNum >= records_.size()) {
            return DB_E_BADRECORDNUM;
        }
        *pdispparams = DISPPARAMS{nullptr, nullptr, 0, 0};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* pcRecords) override {
        if (!pcRecords) {
            return E_INVALIDARG;
        }
        *pcRecords = static_cast<ULONG>(records_.size());
        return S_OK;
    }

private:
    static HRESULT give(BSTR* out, std::string_view text) {
        if (!out) {
            return E_INVALIDARG;
        }
        *out = toBstr(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    std::string description_;
    std::vector<Record> records_;
};

std::string bstrText(BSTR b) {
    std::string s = fromOle(b, SysStringLen(b));
    SysFreeString(b);
    return s;
}

} // namespace

ComPtr<IErrorInfo> makeErrorObject(const std::vector<ErrorRecordData>& records,
                                   std::string_view description) {
    std::string text(description);
    if (text.empty() && !records.empty()) {
        text = records.back().description;
    }
    auto object = makeObject<ErrorObject>(std::move(text));
    for (const auto& r : records) {
        object->add(r);
    }
    return ComPtr<IErrorInfo>::adopt(object.detach());
}

void postErrorRecords(const std::vector<ErrorRecordData>& records, std::string_view description) {
    if (records.empty() && description.empty()) {
        SetErrorInfo(0, nullptr);
        return;
    }
    auto object = makeErrorObject(records, description);
    SetErrorInfo(0, object.get());
}

ReadErrorObject takeErrorObject() {
    ReadErrorObject out;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) {
        return out;
    }
    out.present = true;
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description))) {
        out.description = bstrText(description);
    }
    ComPtr<IErrorRecords> records;
    if (FAILED(info.as(IID_IErrorRecords, records))) {
        return out;
    }
    ULONG count = 0;
    records->GetRecordCount(&count);
    for (ULONG i = 0; i < count; ++i) {
        ReadErrorRecord r;
        records->GetBasicErrorInfo(i, &r.basic);
        ComPtr<IErrorInfo> recordInfo;
        if (SUCCEEDED(records->GetErrorInfo(i, 0, recordInfo.put())) && recordInfo) {
            BSTR text = nullptr;
            if (SUCCEEDED(recordInfo->GetDescription(&text))) {
                r.description = bstrText(text);
            }
        }
        ComPtr<ISQLServerErrorInfo> sql;
        if (SUCCEEDED(records->GetCustomErrorObject(i, IID_ISQLServerErrorInfo,
                                                    reinterpret_cast<IUnknown**>(sql.put()))) &&
            sql) {
            SSERRORINFO* ss = nullptr;
            OLECHAR* strings = nullptr;
            if (SUCCEEDED(sql->GetErrorInfo(&ss, &strings)) && ss) {
                SqlServerMessage m;
                m.message = fromOle(ss->pwszMessage);
                m.server = fromOle(ss->pwszServer);
                m.procedure = fromOle(ss->pwszProcedure);
                m.number = ss->lNative;
                m.state = ss->bState;
                m.severityClass = ss->bClass;
                m.line = ss->wLineNumber;
                r.sqlServer = std::move(m);
            }
            CoTaskMemFree(ss);
            CoTaskMemFree(strings);
        }
        out.records.push_back(std::move(r));
    }
    return out;
}

} // namespace kv::oledb
