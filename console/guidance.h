#pragma once
// Plain Turkish guidance for the failures a technician meets in the console: one short sentence
// that says what went wrong and what to do next, for every error number of SQL Server (and of
// its client library) that the console's statements and connects can end with, and for every
// refusal of the check before the rebuild (preflight.h).
//
// The console shows the sentence in the window's status bar when the failure happens and keeps
// it in the activity log as one line of its own, right after the line with the server's raw
// text: GuidanceLinePrefix followed by the sentence. The server's own text is never replaced.
//
// The table is in console/README.md; a test holds the two together.

#include "console/server_errors.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::console {

inline constexpr std::string_view GuidanceLinePrefix = "Öneri: ";
// The status bar after "Onar" when its last check found the database clean and the console
// works with it again: the guidance of a damage found on the way no longer holds.
inline constexpr const char* CleanDatabaseStatusText = "Veritabanında hata yok.";

// Why the check before the rebuild refused to start it.
enum class Refusal {
    DiskSpace,     // less free space than the rebuild writes
    FileHeld,      // a product file is open in another program
    ServerVersion, // the server's version is not known, so neither is the rebuild's path
    ScratchName,   // a scratch file of an earlier run cannot be removed
};

struct Guidance {
    // The row of the table: the error number, with "/N" for the operating-system error where
    // that decides the sentence ("5120/32"), "preflight.disk" and the like for the refusals,
    // "other" for a number the table does not know.
    std::string key;
    std::string text;
};

// One row of the table.
struct GuidanceRow {
    std::string key;
    int number = 0;  // 0 for the refusals
    int osError = 0; // the operating-system error the row is for; 0: any other
    // A closing error that only sums up the ones before it (1802 after 5123, 1813 after 5173,
    // 945, 5069): it speaks only when nothing before it has a sentence of its own.
    bool closing = false;
    std::string text;
};

// Every row, in the order of the documentation's table.
const std::vector<GuidanceRow>& guidanceTable();

// The operating-system error a server message quotes ("Operating system error 32(...)",
// "operating system error 112(...)", "returned error 1117(...)"); 0 when it quotes none.
int quotedOsError(std::string_view text);

// The row for one message, without the fallback: nullopt when the table has none.
std::optional<Guidance> guidanceForMessage(const ServerMessage& message);

// The sentence for a failed statement or connect, from the messages it ended with: the first
// message that has a row of its own, a closing error only when none has. A failure with no
// known number still gets a sentence (key "other") that names the first number; no messages at
// all (a failure that carried none) give nullopt.
std::optional<Guidance> guidanceFor(const std::vector<ServerMessage>& messages);

// The sentence for a failed step of a repair (single-user mode, REPAIR_ALLOW_DATA_LOSS): such a
// repair reports every damaged page it rewrote as an error of its own, which is its work and
// not a failure, so only the other errors count (a full log, a refused mode, a lost file).
std::optional<Guidance> guidanceForRepairStep(const std::vector<ServerMessage>& messages);

// Whether the number is one of the check's reports of a damaged page (8928, 8939, ...).
bool reportsDamage(int number);

Guidance guidanceFor(Refusal refusal);

} // namespace kv::console
