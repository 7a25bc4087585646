#pragma once
// Private helpers of the simulated host: the small `key = value` files, atomic replacement of a
// file, and errno-to-Windows error mapping.

#include "platform/Result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform::sim::detail {

struct KeyValue {
    int line = 0;
    std::string key;
    std::string value;
};

// Parses `key = value` lines; blank lines and lines starting with # or ; are skipped. A line
// without "=" or with an empty key is reported as corrupt (file and line) and skipped; `corrupt`
// is set when that happened.
std::vector<KeyValue> parseKeyValues(std::string_view text, const std::filesystem::path& file,
                                     bool* corrupt = nullptr);

// Decimal or 0x-hexadecimal, 32 bits, nothing else on the line.
std::optional<std::uint32_t> parseNumber(std::string_view text);

std::string_view trim(std::string_view text);
std::string lowerAscii(std::string_view text);

// Windows error number for an errno value.
ErrorCode fromErrno(int err);
Error errnoError(int err, const std::string& what);

Result<std::string> readWholeFile(const std::filesystem::path& file);
// Writes `contents` to a temporary file beside `file` and renames it over `file`; with `sync` the
// data reaches the disk before the rename.
Result<void> writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                                 bool sync = true);

// Field 22 of /proc/PID/stat (start time in clock ticks after boot) and field 3 (the state
// letter); nullopt when the process does not exist.
struct ProcStat {
    char state = '?';
    std::uint64_t startTime = 0;
};
std::optional<ProcStat> readProcStat(int pid);
// The same from the text of a stat file (its first line counts); nullopt when it is malformed.
std::optional<ProcStat> parseProcStat(std::string_view text);

// The file name of a process's executable from its /proc folder ("/proc/123"): the target of
// its exe link, or for another user's process or a kernel thread its first argument, else its
// short name.
std::string executableName(const std::string& procDir);

} // namespace kv::platform::sim::detail
