#include "console/server_errors.h"

#include <algorithm>

namespace kv::console {

namespace {

std::string folded(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

// The file name of a Windows path, folded for comparison.
std::string nameOf(std::string_view path) {
    const auto sep = path.find_last_of("\\/");
    return folded(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

bool namesFile(const ServerMessage& message, const std::string& name) {
    return !name.empty() && folded(message.text).find(name) != std::string::npos;
}

enum class Blames { Nothing, Data, Log };

Blames blamed(const ServerMessage& message, const std::string& dataName,
              const std::string& logName) {
    switch (message.number) {
    case 5173: // Cannot associate files with different databases / files do not match
    case 5108: // Log file does not match the primary file
    case 5113: // The log cannot be rebuilt
    case 9001: // The log for database is not available
    case 9004: // An error occurred while processing the log
        return Blames::Log;
    case 5171: // not a primary database file
    case 5172: // not a valid database file header
    case 948:  // a newer version than the server supports
        return Blames::Data;
    case 5105: // Device activation error (2000)
    case 5111: // File activation failure
    case 5120: // Unable to open the physical file
    case 5123: // CREATE FILE encountered operating system error
    case 823:  // operating system error on a read or write
    case 824:  // logical consistency-based I/O error
        // The data file first: a message that quotes both names is about the data file too.
        if (namesFile(message, dataName))
            return Blames::Data;
        if (namesFile(message, logName))
            return Blames::Log;
        return Blames::Nothing;
    default:
        return Blames::Nothing;
    }
}

} // namespace

bool attachRefusedForTheLog(const std::vector<ServerMessage>& messages, std::string_view dataFile,
                            std::string_view logFile) {
    const std::string dataName = nameOf(dataFile);
    const std::string logName = nameOf(logFile);
    bool log = false;
    for (const auto& message : messages) {
        switch (blamed(message, dataName, logName)) {
        case Blames::Data:
            return false;
        case Blames::Log:
            log = true;
            break;
        case Blames::Nothing:
            break;
        }
    }
    return log;
}

} // namespace kv::console
