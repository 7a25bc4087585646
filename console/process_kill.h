#pragma once
// Ending the product's other programs before the console touches the service or the database.

#include "platform/ProcessTable.h"

#include <array>
#include <string_view>

namespace kv::console {

// The product's programs, in the order the start-up sequence ends them. The last one has no
// ".exe" ending and is matched like the others.
inline constexpr std::array<std::string_view, 9> SiblingPrograms = {
    "Brenvastik.exe", "Dolmerin.exe", "Fusqetan.exe", "Lunta33.exe", "Lunta34.exe",
    "Morvisk.exe",    "Morvisk2.exe", "Pelvanto.exe", "Kelvora.BL1",
};

// Upper-cases only the letters a to z; every other byte (Turkish letters in UTF-8 included) is
// kept, so the comparison does not depend on the locale.
std::string asciiUpper(std::string_view text);

// Whether a process entry's executable name means `wanted`: its file-name part (after the last
// '\', '/' or drive colon) or the whole name equals it, letter case of a to z ignored.
bool exeNameMatches(std::string_view exeFile, std::string_view wanted);

// Ends every process whose executable matches `name`. The result is whether the last termination
// attempt succeeded (false when nothing matched). A process that cannot be opened or ended is
// skipped; nothing is reported.
bool killProcessesNamed(platform::ProcessTable& processes, std::string_view name);

} // namespace kv::console
