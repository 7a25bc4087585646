#include "console/log_file.h"

namespace kv::console {

std::string logLine(std::string_view timeText, std::string_view message) {
    std::string line;
    line.reserve(timeText.size() + 1 + message.size());
    line.append(timeText);
    line.push_back(' ');
    line.append(message);
    return line;
}

std::string encodeLogLines(const std::vector<std::string>& lines,
                           const platform::CodePage& codePage) {
    std::string bytes;
    for (const auto& line : lines) {
        bytes += codePage.fromUtf8(line);
        bytes += "\r\n";
    }
    return bytes;
}

} // namespace kv::console
