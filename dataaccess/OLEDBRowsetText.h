#pragma once
// Reads one text column of a whole rowset: the server enumerator's source names and the
// catalogs schema rowset's database names. Values arrive as wide text and leave as the
// program's UTF-8; null values are skipped.

#include "platform/oledb/oledb.h"

#include <functional>
#include <string>
#include <vector>

namespace kv::dataaccess {

// Check is called with every provider result that is not a success and must raise; without
// one, a failure ends the reading and keeps what was read. Ordinal counts from 1.
std::vector<std::string> ReadRowsetTexts(IRowset* Rowset, DBORDINAL Ordinal,
                                         const std::function<void(HRESULT)>& Check = {});

} // namespace kv::dataaccess
