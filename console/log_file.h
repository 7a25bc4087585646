#pragma once
// The activity log file: where it goes and the bytes written into it.

#include "platform/CodePage.h"

#include <string>
#include <string_view>
#include <vector>

namespace kv::console {

inline constexpr std::string_view LogFilePathOnDisk = "C:\\Halvetor.Log";

// One log line: the time text, one blank, the message.
std::string logLine(std::string_view timeText, std::string_view message);

// Every line converted from UTF-8 to the machine's 8-bit code page and followed by CR LF; nothing
// else (no header, no final empty line beyond the last CR LF).
std::string encodeLogLines(const std::vector<std::string>& lines,
                           const platform::CodePage& codePage);

} // namespace kv::console
