// Windows: the machine's SQL Server OLE DB providers serve where there is one, exactly as the
// data-access layer chooses among them. Only where COM knows none of their class ids (Wine has
// no SQL Server provider) the portable provider over ODBC is registered for this process under
// the classic provider's class id, which the automatic choice tries last.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/provider.h"

namespace kv::oledb {

ProviderChoice usePortableProviderWhereNoneInstalled() {
    for (const CLSID* clsid : {&CLSID_SQLNCLI10, &CLSID_SQLNCLI, &CLSID_SQLOLEDB}) {
        ComPtr<IDBInitialize> source;
        const HRESULT hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IDBInitialize, source.putVoid());
        if (hr != REGDB_E_CLASSNOTREG) {
            return {};
        }
    }
    registerClass(CLSID_SQLOLEDB, createOdbcDataSource);
    if (!isClassRegistered(CLSID_SQLOLEDB)) {
        return {}; // COM refused the registration (not initialised on this thread)
    }
    return {true, kPortableProviderLogLine};
}

} // namespace kv::oledb
