#include "dataaccess/OLEDBRowsetText.h"

#include "platform/oledb/com_lite.h"

#include <algorithm>
#include <cstddef>

namespace kv::dataaccess {

namespace {

constexpr DBLENGTH kMaxTextBytes = 1024; // 511 characters and the terminator
constexpr DBCOUNTITEM kRowsPerRound = 32;

struct Slot {
    DBSTATUS Status;
    DBLENGTH Length;
    OLECHAR Value[kMaxTextBytes / sizeof(OLECHAR)];
};

bool failed(HRESULT hr, const std::function<void(HRESULT)>& Check) {
    if (SUCCEEDED(hr))
        return false;
    if (Check)
        Check(hr);
    return true;
}

} // namespace

std::vector<std::string> ReadRowsetTexts(IRowset* Rowset, DBORDINAL Ordinal,
                                         const std::function<void(HRESULT)>& Check) {
    std::vector<std::string> out;
    kv::oledb::ComPtr<IAccessor> accessors;
    if (failed(Rowset->QueryInterface(IID_IAccessor, reinterpret_cast<void**>(accessors.put())),
               Check))
        return out;
    DBBINDING b{};
    b.iOrdinal = Ordinal;
    b.obStatus = offsetof(Slot, Status);
    b.obLength = offsetof(Slot, Length);
    b.obValue = offsetof(Slot, Value);
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.cbMaxLen = kMaxTextBytes;
    b.wType = DBTYPE_WSTR;
    HACCESSOR accessor = 0;
    DBBINDSTATUS status = DBBINDSTATUS_OK;
    if (failed(
            accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, sizeof(Slot), &accessor, &status),
            Check))
        return out;
    struct AccessorRelease {
        IAccessor* A;
        HACCESSOR H;
        ~AccessorRelease() { A->ReleaseAccessor(H, nullptr); }
    } release{accessors.get(), accessor};

    for (;;) {
        DBCOUNTITEM obtained = 0;
        HROW* rows = nullptr;
        const HRESULT hr =
            Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, kRowsPerRound, &obtained, &rows);
        struct RowsRelease {
            IRowset* R;
            DBCOUNTITEM N;
            HROW* Rows;
            ~RowsRelease() {
                if (N > 0)
                    R->ReleaseRows(N, Rows, nullptr, nullptr, nullptr);
                CoTaskMemFree(Rows);
            }
        } rowsRelease{Rowset, obtained, rows};
        if (failed(hr, Check))
            return out;
        for (DBCOUNTITEM r = 0; r < obtained; ++r) {
            Slot slot{};
            if (failed(Rowset->GetData(rows[r], accessor, &slot), Check))
                return out;
            if (slot.Status == DBSTATUS_S_ISNULL)
                continue;
            const DBLENGTH bytes = std::min<DBLENGTH>(slot.Length, kMaxTextBytes - sizeof(OLECHAR));
            out.push_back(kv::oledb::fromOle(slot.Value, bytes / sizeof(OLECHAR)));
        }
        if (obtained == 0 || hr == DB_S_ENDOFROWSET)
            return out;
    }
}

} // namespace kv::dataaccess
