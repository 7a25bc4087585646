// POSIX builds without unixODBC: the provider has no ODBC transport, and its class factory
// answers as COM does for a class that is not there.
#include "platform/oledb/provider.h"

namespace kv::oledb {

HRESULT createOdbcDataSource(IUnknown* /*outer*/, REFIID /*riid*/, void** ppv) {
    if (ppv) {
        *ppv = nullptr;
    }
    return REGDB_E_CLASSNOTREG;
}

} // namespace kv::oledb
