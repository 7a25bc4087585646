// The portable SQL Server provider: one provider (data source, session, command, results,
// rowsets, error records) over two transports, FreeTDS db-lib and ODBC. On POSIX systems it
// answers under the classic provider's class id (CLSID_SQLOLEDB) and the classic enumerator's
// class id, both entered in the COM-lite class table from the start, over db-lib. On Windows it
// is registered only where the machine has no SQL Server OLE DB provider of its own
// (usePortableProviderWhereNoneInstalled), over ODBC.
#pragma once

#include "platform/oledb/oledb.h"

#include <string>

namespace kv::oledb {

// Class factories (the COM-lite class table calls them; tests register them under the classic
// provider's class id to choose a transport). The db-lib one exists in POSIX builds, the ODBC
// one in the Windows build and in POSIX builds that have unixODBC.
HRESULT createTdsDataSource(IUnknown* outer, REFIID riid, void** ppv);
HRESULT createOdbcDataSource(IUnknown* outer, REFIID riid, void** ppv);
HRESULT createTdsEnumerator(IUnknown* outer, REFIID riid, void** ppv);

// Provider facts reported through DBPROPSET_DATASOURCEINFO.
inline constexpr const char* kProviderFriendlyName = "Kelvora OLE DB Provider for SQL Server";
inline constexpr const char* kProviderFileName = "kvtdsoledb";
inline constexpr const char* kProviderVersion = "01.00.0001";

// Which provider serves SQL Server in this process.
struct ProviderChoice {
    // True when the portable provider over ODBC was registered in this process under
    // CLSID_SQLOLEDB because CoCreateInstance answered REGDB_E_CLASSNOTREG for every SQL Server
    // provider class id (classic, both Native Client).
    bool portableOverOdbc = false;
    // The activity-log line that tells the choice (Turkish, as the console's lines); empty when
    // there is nothing to tell (the machine's own providers serve).
    std::string logLine;
};

// Windows: keeps the machine's SQL Server OLE DB providers; where there is none (Wine), registers
// the portable provider over ODBC for this process. Call once at start-up, after COM was
// initialised on the calling thread. POSIX: the portable provider is registered already; nothing
// to do.
ProviderChoice usePortableProviderWhereNoneInstalled();

// The log line of a choice of the portable provider.
inline constexpr const char* kPortableProviderLogLine =
    "MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak.";

} // namespace kv::oledb
