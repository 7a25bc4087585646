// The ODBC transport of the portable provider: a `tds::Link` over an ODBC driver for SQL Server
// (FreeTDS's driver under unixODBC, also through Wine's ODBC library; Microsoft's "SQL Server"
// driver on Windows), with the wide calls only. Internal to the provider.
//
// What ODBC drivers report is turned into what the db-lib transport reports, so that the
// provider's logic and the failure table stay one: diagnostic records become server messages
// with SQL Server's fields (through Microsoft's SQL_DIAG_SS_* fields where the driver has them)
// or client-side errors, and the SQLSTATEs of time-outs, cancels and lost connections become
// the same steps.
#pragma once

#include "platform/oledb/odbc_api.h"
#include "platform/oledb/tds_link.h"

#include <string>
#include <string_view>
#include <vector>

namespace kv::oledb::odbc {

// Logs in over ODBC (a `tds::LinkOpener`).
std::unique_ptr<tds::Link> openLink(const tds::LoginSettings& settings, tds::Failure& failure,
                                    tds::Messages& information);

// ---------------------------------------------------------------------------------------------
// What differs between the platforms (odbc_target_posix.cpp, odbc_target_win.cpp).

// Where a server name leads.
struct Target {
    enum class Kind {
        Endpoint, // a loopback address and a port
        AsGiven,  // the name goes to the driver unchanged (POSIX without a simulated host)
        Unknown,  // no such server here: reported as unreachable without asking anyone
    };
    Kind kind = Kind::Unknown;
    std::string server; // the address, or the name as given
    int port = 0;
    std::string tdsVersion; // "" when the server's version is not known
};
Target targetOf(std::string_view serverName);

// The ODBC drivers to try, in order, by the names they are registered under.
std::vector<std::string> driverNames();
// A list of driver names separated by ';' (braces around a name are dropped), blanks trimmed.
std::vector<std::string> splitDriverList(std::string_view list);

// The name this machine logs in as when the client gives none.
std::string workstationName();

// ---------------------------------------------------------------------------------------------
// The parts without ODBC calls (odbc_records.cpp).

// The two families of drivers: their connection keywords and their diagnostic fields differ.
enum class Dialect {
    FreeTds,   // FreeTDS's driver: SERVER + PORT + TDS_Version; see serverMessageOf
    Microsoft, // Microsoft's drivers: SERVER=address,port; every SQL_DIAG_SS_* field
};
Dialect dialectOf(std::string_view driverName);

std::u16string connectionString(std::string_view driver, Dialect dialect, const Target& target,
                                const tds::LoginSettings& settings, const std::string& workstation);

// A record's message without the driver's bracketed prefixes ("[FreeTDS][SQL Server]").
std::string messageText(std::string_view text);

// Whether a record is a message of the server, rather than the driver's or the driver
// manager's own (a lost connection, a time-out, a cancel, a missing driver).
bool isServerMessage(const DiagRecord& record, Dialect dialect);

// The record as a SQL Server message. Fields the driver does not give: the server is
// `serverName`, the class comes from SQL Server's documented class of the login messages the
// provider decides on or from the SQLSTATE (01xxx: 0, else 16), state and procedure stay empty.
SqlServerMessage serverMessageOf(const DiagRecord& record, Dialect dialect,
                                 const std::string& serverName);

// Adds the records to `messages`: server messages in order, the others as client errors.
void collect(const std::vector<DiagRecord>& records, Dialect dialect, const std::string& serverName,
             tds::Messages& messages);

// A failed connect that never reached a driver: the driver is not installed or cannot be loaded.
bool driverMissing(const std::vector<DiagRecord>& records);

// Why a connect failed.
tds::Situation loginSituation(const std::vector<DiagRecord>& records,
                              const tds::Messages& messages);

// What a failed (or warning) call means for the connection, from its records.
bool recordsSayConnectionLost(const std::vector<DiagRecord>& records);
bool recordsSayTimeout(const std::vector<DiagRecord>& records);
bool recordsSayCancelled(const std::vector<DiagRecord>& records);

// A batch is sent behind an empty PRINT on its first line, so that its first statement has a
// result before its own: under ODBC's rules a batch whose first statement fails ends there
// (SQLMoreResults answers SQL_NO_DATA), while SQL Server runs the rest and sends its results.
// Batches whose first statement must stay first (CREATE PROCEDURE, ALTER VIEW, SET SHOWPLAN_*,
// ...) go as they are.
inline constexpr std::string_view kBatchOpening = "PRINT '';";
bool mustStartTheBatch(std::string_view sql);
// Whether a record is the message of that PRINT.
bool isOpeningMessage(const DiagRecord& record);

} // namespace kv::oledb::odbc
