#pragma once
// Private: letter-case folding of file and service names the way Windows compares them.

#include <string>
#include <string_view>

namespace kv::platform::sim::detail {

// The upper-case form of a UTF-8 name for comparisons: ASCII letters and the letters of Latin-1
// and Latin Extended-A (Turkish ç ğ ö ş ü among them) fold to their capitals; dotless ı and
// dotted İ fold only to themselves. Bytes that are not valid UTF-8 compare as they are.
std::string foldName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

} // namespace kv::platform::sim::detail
