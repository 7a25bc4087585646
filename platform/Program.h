#pragma once
// The running program itself.

#include <string>

namespace kv::platform {

// The full path of the running program's executable, UTF-8: GetModuleFileNameW on Windows
// ("C:\Program Files\Kelvora\kelvora-console.exe"), /proc/self/exe elsewhere. Empty when the
// system cannot tell.
std::string programPath();

// The file-name part of programPath() ("kelvora-console.exe"; no extension on POSIX systems).
std::string programFileName();

} // namespace kv::platform
