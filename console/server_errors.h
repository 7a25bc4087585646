#pragma once
// What SQL Server's messages say about the product's two database files when it refuses to
// attach them. The 2005 rebuild builds a new log (and so gives up the old one) only when the
// server blames the log; every other refusal stops the rebuild with both files as they are.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::console {

// One message of a failed statement: the server's number and its text.
struct ServerMessage {
    std::int32_t number = 0;
    std::string text;
    // The message's class: 10 and below are informational (a check's summary, a changed
    // database context), not errors.
    int severity = 16;
};

// True when the messages say the log is what the attach could not use and nothing in them blames
// the data file. The log is blamed by 5173 and 5108 (files that do not belong together), 5113
// (the log cannot be used or rebuilt), 9001 and 9004 (the log is unavailable or damaged), and by
// a file error (5105, 5111, 5120, 5123, 823, 824) whose text names `logFile`. The data file is
// blamed by 5171 and 5172 (not a primary file, not a database file header), 948 (a newer
// version) and by a file error that names `dataFile`. Follow-up messages (1802, 1813) and
// anything else blame neither, so an empty or unknown refusal is never taken for the log's.
// Files are recognised by their names (the last part of each path) without regard to letter
// case, wherever the server's text quotes them.
bool attachRefusedForTheLog(const std::vector<ServerMessage>& messages, std::string_view dataFile,
                            std::string_view logFile);

} // namespace kv::console
