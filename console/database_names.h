#pragma once
// The fixed logins and the numbered names the console uses on the server and on drive C.

#include "platform/FileSystem.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace kv::console {

// The administrator login of the local server.
inline constexpr const char* AdministratorLogin = "sa";
inline constexpr const char* AdministratorPassword = "k";
// The product's own login, created when the database is attached.
inline constexpr const char* ProductLoginPassword = "4729";

inline constexpr int RepairSuffixMin = 1;
inline constexpr int RepairSuffixMax = 80;

// The number to keep the old data file (and the log files) under: the drawn number when
// "<name><n>" is free for every one of `names`, otherwise the next free number after it
// (wrapping inside 1..80, then going on above 80), so that an earlier rebuild's kept files are
// never overwritten.
int freeRepairSuffix(platform::FileSystem& files, int drawn,
                     std::initializer_list<std::string_view> names);

// A number in 1..80, different from run to run of the program.
int drawRepairSuffix();

} // namespace kv::console
