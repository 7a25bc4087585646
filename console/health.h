#pragma once
// The database's health as the console reports it after the start-up connect: when a
// consistency check last found the product database clean. SQL Server 2005 and later keep that
// time in the database's boot page (DBCC DBINFO ... WITH TABLERESULTS, field
// dbi_dbccLastKnownGood, "1900-01-01 00:00:00.000" when no check ever did); SQL Server 2000
// keeps nothing of the kind, so the console says nothing there.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kv::console {

// The statement that reads the boot page, and the row that holds the time.
inline constexpr const char* DatabaseInfoStatement = "DBCC DBINFO('kelvora') WITH TABLERESULTS";
inline constexpr const char* LastKnownGoodField = "dbi_dbccLastKnownGood";
// A clean check older than this many days is worth a warning.
inline constexpr int HealthyCheckDays = 30;

// The date of a dbi_dbccLastKnownGood value ("2010-05-04 10:11:12.123"); nullopt for the
// never-checked 1900-01-01 and for text that is no such time.
std::optional<std::chrono::year_month_day> lastKnownGoodDate(std::string_view value);

struct HealthReport {
    std::string logLine;    // for the activity log
    std::string statusText; // shorter, for the status bar
    bool warning = false;
};

// The report for the time the server gave (nullopt when it gave none or it could not be read),
// on the local date `today`: the date and how many days ago, with a warning when that is more
// than HealthyCheckDays or not known.
HealthReport healthReport(std::optional<std::string_view> lastKnownGood,
                          std::chrono::year_month_day today);

} // namespace kv::console
