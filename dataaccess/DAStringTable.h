#pragma once
// The data-access layer's string table: numbered texts, as the label sets of the connect dialog
// read them (one block of consecutive entries per language, DBAccess.h).

#include <string>

namespace kv::dataaccess {

// The text of entry Ident, or "" when the table has no such entry.
std::string LoadResString(int Ident);

} // namespace kv::dataaccess
