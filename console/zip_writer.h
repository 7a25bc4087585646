#pragma once
// A small zip writer for the support bundle: every entry whole in memory, compressed with
// zlib's deflate (stored when deflate would not make it smaller), names in UTF-8 (general
// purpose flag bit 11), one modification time for all entries. No zip64: an archive of 4 GiB or
// more, or more than 65535 entries, is refused.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::console {

struct ZipEntry {
    std::string name; // with "/" between folders
    std::string data;
};

// The archive's bytes; nullopt (with the reason in `error`) when it cannot be made.
std::optional<std::string> makeZip(const std::vector<ZipEntry>& entries,
                                   std::chrono::system_clock::time_point modified,
                                   std::string& error);

} // namespace kv::console
