#include "dataaccess/OLEDBRecordSet.h"

#include "dataaccess/DAConsts.h"
#include "dataaccess/OLEDBAccess.h"

#include <algorithm>
#include <cstring>

namespace kv::dataaccess {

namespace {

// Text buffer per column: enough for every scalar type as text; longer values are read again
// on their own (ReadLongValue).
constexpr DBLENGTH kMaxTextBytes = 8002;

} // namespace

TOLEDBRecordSet::TOLEDBRecordSet() = default;

TOLEDBRecordSet::~TOLEDBRecordSet() {
    ReleaseRowset();
}

void TOLEDBRecordSet::Open(kv::oledb::ComPtr<IRowset> Rowset, TOLEDBConnection* Session,
                           TComponent* Component) {
    ReleaseRowset();
    Clear();
    FSession = Session;
    FComponent = Component;
    FRowset = std::move(Rowset);

    kv::oledb::ComPtr<IColumnsInfo> info;
    FSession->CheckResult(FRowset.as(IID_IColumnsInfo, info), FComponent);
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    FSession->CheckResult(info->GetColumnInfo(&count, &columns, &strings), FComponent);
    std::vector<TFieldDesc> fields;
    FBindings.clear();
    std::size_t offset = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
        const DBCOLUMNINFO& c = columns[i];
        if (c.iOrdinal == 0)
            continue; // a bookmark column
        TFieldDesc f;
        f.Name = kv::oledb::fromOle(c.pwszName);
        f.ProviderType = c.wType;
        f.DataType = FieldTypeOf(c.wType);
        f.Size = static_cast<std::size_t>(c.ulColumnSize);
        f.Required = (c.dwFlags & DBCOLUMNFLAGS_MAYBENULL) == 0;
        fields.push_back(std::move(f));

        DBBINDING b{};
        b.iOrdinal = c.iOrdinal;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.wType = DBTYPE_WSTR;
        b.cbMaxLen = kMaxTextBytes;
        b.obStatus = offset;
        b.obLength = offset + sizeof(DBSTATUS) + 4;
        b.obValue = b.obLength + sizeof(DBLENGTH);
        offset = b.obValue + kMaxTextBytes;
        offset = (offset + 7) & ~std::size_t{7};
        FBindings.push_back(b);
    }
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
    SetFields(std::move(fields));
    FRowSize = offset;

    if (!FBindings.empty()) {
        FSession->CheckResult(FRowset.as(IID_IAccessor, FAccessor), FComponent);
        std::vector<DBBINDSTATUS> status(FBindings.size());
        FSession->CheckResult(FAccessor->CreateAccessor(DBACCESSOR_ROWDATA, FBindings.size(),
                                                        FBindings.data(), FRowSize, &FHAccessor,
                                                        status.data()),
                              FComponent);
    }
    FCommandType = ctResultSet;
}

int TOLEDBRecordSet::FetchRound(int FetchRows) {
    if (!FRowset)
        return 0;
    // The round works on its own references: a fatal error reported from inside it runs the
    // connection's error handling, which closes the dataset and releases FRowset and the
    // accessor while the round still holds row handles of that rowset.
    const kv::oledb::ComPtr<IRowset> rowset = FRowset;
    const HACCESSOR accessor = FHAccessor;
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    HRESULT hr = rowset->GetNextRows(0, 0, FetchRows, &obtained, &rows);
    if (hr != DB_S_ENDOFROWSET && hr != DB_S_ROWLIMITEXCEEDED) {
        try {
            FSession->CheckResult(hr, FComponent);
        } catch (...) {
            if (obtained > 0)
                rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
            CoTaskMemFree(rows);
            throw;
        }
    }
    std::vector<TRecord> block;
    block.reserve(obtained);
    const std::vector<DBBINDING> bindings = FBindings;
    std::vector<unsigned char> buffer(std::max<std::size_t>(FRowSize, 1));
    try {
        for (DBCOUNTITEM r = 0; r < obtained; ++r) {
            std::fill(buffer.begin(), buffer.end(), 0);
            if (!bindings.empty())
                FSession->CheckResult(rowset->GetData(rows[r], accessor, buffer.data()),
                                      FComponent);
            block.push_back(ReadRecord(rowset, rows[r], bindings, buffer));
        }
    } catch (...) {
        rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
        CoTaskMemFree(rows);
        throw;
    }
    if (obtained > 0)
        rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    CoTaskMemFree(rows);
    const int count = static_cast<int>(obtained);
    if (count > 0)
        AddBlock(std::move(block));
    else
        ReleaseRowset();
    return count;
}

// A column value longer than the row buffer's slot (long text, nvarchar(max), binary as
// text) is read again on its own, with a buffer of the length the provider reported, so
// that it arrives whole.
TRecord TOLEDBRecordSet::ReadRecord(const kv::oledb::ComPtr<IRowset>& Rowset, HROW Row,
                                    const std::vector<DBBINDING>& Bindings,
                                    const std::vector<unsigned char>& Buffer) {
    TRecord rec(Bindings.size());
    for (std::size_t c = 0; c < Bindings.size(); ++c) {
        const DBBINDING& b = Bindings[c];
        DBSTATUS status = 0;
        DBLENGTH length = 0;
        std::memcpy(&status, Buffer.data() + b.obStatus, sizeof status);
        std::memcpy(&length, Buffer.data() + b.obLength, sizeof length);
        if (status == DBSTATUS_S_ISNULL)
            continue;
        rec[c].IsNull = false;
        if (status == DBSTATUS_S_TRUNCATED && length + sizeof(OLECHAR) > b.cbMaxLen) {
            rec[c].Text = ReadLongValue(Rowset, Row, b, length);
            continue;
        }
        length = std::min<DBLENGTH>(length, b.cbMaxLen - sizeof(OLECHAR));
        kv::oledb::OleString text(length / 2, OLECHAR{});
        std::memcpy(text.data(), Buffer.data() + b.obValue, text.size() * 2);
        rec[c].Text = kv::oledb::fromOle(text.data(), text.size());
    }
    return rec;
}

std::string TOLEDBRecordSet::ReadLongValue(const kv::oledb::ComPtr<IRowset>& Rowset, HROW Row,
                                           const DBBINDING& Binding, DBLENGTH Length) {
    kv::oledb::ComPtr<IAccessor> accessors;
    FSession->CheckResult(Rowset.as(IID_IAccessor, accessors), FComponent);
    DBBINDING b = Binding;
    b.obStatus = 0;
    b.obLength = 8;
    b.obValue = 16;
    b.cbMaxLen = Length + sizeof(OLECHAR);
    HACCESSOR handle = 0;
    DBBINDSTATUS bindStatus = DBBINDSTATUS_OK;
    FSession->CheckResult(
        accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &handle, &bindStatus), FComponent);
    std::vector<unsigned char> buffer(16 + b.cbMaxLen);
    const HRESULT hr = Rowset->GetData(Row, handle, buffer.data());
    accessors->ReleaseAccessor(handle, nullptr);
    FSession->CheckResult(hr, FComponent);
    DBSTATUS status = 0;
    DBLENGTH length = 0;
    std::memcpy(&status, buffer.data(), sizeof status);
    std::memcpy(&length, buffer.data() + 8, sizeof length);
    if (status == DBSTATUS_S_TRUNCATED)
        FSession->RaiseLayerError(DB_E_ERRORSOCCURRED, SDataTruncated, FComponent);
    length = std::min<DBLENGTH>(length, b.cbMaxLen - sizeof(OLECHAR));
    kv::oledb::OleString text(length / 2, OLECHAR{});
    std::memcpy(text.data(), buffer.data() + 16, text.size() * 2);
    return kv::oledb::fromOle(text.data(), text.size());
}

void TOLEDBRecordSet::ReleaseRowset() {
    if (FAccessor && FHAccessor != 0)
        FAccessor->ReleaseAccessor(FHAccessor, nullptr);
    FHAccessor = 0;
    FAccessor.reset();
    FRowset.reset();
}

} // namespace kv::dataaccess
