#include "dataaccess/OLEDBRecordSet.h"

#include "dataaccess/OLEDBAccess.h"

#include <algorithm>
#include <cstring>

namespace kv::dataaccess {

namespace {

// Text buffer per column: enough for every scalar type as text; longer values are cut.
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
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    HRESULT hr = FRowset->GetNextRows(0, 0, FetchRows, &obtained, &rows);
    if (hr != DB_S_ENDOFROWSET && hr != DB_S_ROWLIMITEXCEEDED) {
        try {
            FSession->CheckResult(hr, FComponent);
        } catch (...) {
            CoTaskMemFree(rows);
            throw;
        }
    }
    std::vector<TRecord> block;
    block.reserve(obtained);
    std::vector<unsigned char> buffer(std::max<std::size_t>(FRowSize, 1));
    try {
        for (DBCOUNTITEM r = 0; r < obtained; ++r) {
            std::fill(buffer.begin(), buffer.end(), 0);
            if (!FBindings.empty())
                FSession->CheckResult(FRowset->GetData(rows[r], FHAccessor, buffer.data()),
                                      FComponent);
            TRecord rec(FBindings.size());
            for (std::size_t c = 0; c < FBindings.size(); ++c) {
                const DBBINDING& b = FBindings[c];
                DBSTATUS status = 0;
                DBLENGTH length = 0;
                std::memcpy(&status, buffer.data() + b.obStatus, sizeof status);
                std::memcpy(&length, buffer.data() + b.obLength, sizeof length);
                if (status == DBSTATUS_S_ISNULL)
                    continue;
                length = std::min<DBLENGTH>(length, kMaxTextBytes - 2);
                std::u16string text(length / 2, u'\0');
                std::memcpy(text.data(), buffer.data() + b.obValue, text.size() * 2);
                rec[c].IsNull = false;
                rec[c].Text = kv::oledb::fromOle(text.data(), text.size());
            }
            block.push_back(std::move(rec));
        }
    } catch (...) {
        FRowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
        CoTaskMemFree(rows);
        throw;
    }
    if (obtained > 0)
        FRowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    CoTaskMemFree(rows);
    const int count = static_cast<int>(obtained);
    if (count > 0)
        AddBlock(std::move(block));
    else
        ReleaseRowset();
    return count;
}

void TOLEDBRecordSet::ReleaseRowset() {
    if (FAccessor && FHAccessor != 0)
        FAccessor->ReleaseAccessor(FHAccessor, nullptr);
    FHAccessor = 0;
    FAccessor.reset();
    FRowset.reset();
}

} // namespace kv::dataaccess
