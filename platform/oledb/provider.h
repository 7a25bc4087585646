// The portable SQL Server provider over FreeTDS db-lib (POSIX builds). It answers under the
// classic provider's class id (CLSID_SQLOLEDB) and the classic enumerator's class id, both
// entered in the COM-lite class table from the start; nothing else needs to call these.
#pragma once

#include "platform/oledb/oledb.h"

namespace kv::oledb {

// Class factories of the built-in classes (the COM-lite class table calls them).
HRESULT createTdsDataSource(IUnknown* outer, REFIID riid, void** ppv);
HRESULT createTdsEnumerator(IUnknown* outer, REFIID riid, void** ppv);

// Provider facts reported through DBPROPSET_DATASOURCEINFO.
inline constexpr const char* kProviderFriendlyName = "Kelvora OLE DB Provider for SQL Server";
inline constexpr const char* kProviderFileName = "kvtdsoledb";
inline constexpr const char* kProviderVersion = "01.00.0001";

} // namespace kv::oledb
