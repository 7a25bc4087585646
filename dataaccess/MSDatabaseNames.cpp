// GetDatabaseNames: the database list of a SQL Server connection, read through the session's
// catalogs schema rowset. A connection that was closed is opened for the listing and closed
// again afterwards, also when the listing fails.

#include "dataaccess/DAConsts.h"
#include "dataaccess/MSAccess.h"

namespace kv::dataaccess {

void TCustomMSConnection::GetDatabaseNames(TStrings* List) {
    const bool wasConnected = Connected();
    if (!wasConnected)
        SetConnected(true);
    std::vector<std::string> names;
    try {
        if (MSOptions()->Provider() != prCompact)
            names = OLEDBSession()->GetCatalogNames(this);
    } catch (...) {
        if (!wasConnected && Connected())
            SetConnected(false);
        throw;
    }
    if (!wasConnected)
        SetConnected(false);
    List->Clear();
    for (const std::string& name : names)
        List->Add(name);
}

} // namespace kv::dataaccess
