// Which refusals of an attach let the 2005 rebuild give up the old log for a new one: only those
// where the server blames the log and nothing blames the data file.

#include "console/server_errors.h"

#include <gtest/gtest.h>

namespace {

using kv::console::attachRefusedForTheLog;
using kv::console::ServerMessage;
using Messages = std::vector<ServerMessage>;

constexpr const char* Data = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* Log = "C:\\Kelvora\\Data\\kelvora_log.ldf";

bool forTheLog(const Messages& messages) {
    return attachRefusedForTheLog(messages, Data, Log);
}

const ServerMessage Aborted{1813, "Could not open new database 'kelvora'. CREATE DATABASE is "
                                  "aborted."};
const ServerMessage CreateFailed{1802, "CREATE DATABASE failed. Some file names listed could not "
                                       "be created. Check related errors."};

ServerMessage unableToOpen(const std::string& file, const std::string& os) {
    return {5120, "Unable to open the physical file \"" + file + "\". Operating system error " +
                      os + "."};
}

// The log is missing, held, damaged or from another database: a new log may take its place.
TEST(AttachRefusal, TheLogsOwnRefusalsBlameTheLog) {
    EXPECT_TRUE(forTheLog({unableToOpen("c:\\kelvora\\data\\kelvora_log.ldf",
                                        "2(The system cannot find the file specified.)"),
                           CreateFailed}));
    EXPECT_TRUE(forTheLog({{5173, "One or more files do not match the primary file of the "
                                  "database."},
                           Aborted}));
    EXPECT_TRUE(forTheLog({{5173, "Cannot associate files with different databases."}, Aborted}));
    EXPECT_TRUE(forTheLog({{5111, "File activation failure. The physical file name "
                                  "\"C:\\KELVORA\\DATA\\KELVORA_LOG.LDF\" may be incorrect."},
                           {5113, "The log cannot be rebuilt because there were open "
                                  "transactions/users when the database was shutdown."},
                           Aborted}));
    EXPECT_TRUE(forTheLog({{9004, "An error occurred while processing the log for database "
                                  "'kelvora'."}}));
    EXPECT_TRUE(forTheLog({{824, "SQL Server detected a logical consistency-based I/O error: "
                                 "incorrect checksum. It occurred during a read of page (2:0) in "
                                 "file 'c:\\kelvora\\data\\kelvora_log.ldf'."}}));
    EXPECT_TRUE(forTheLog({{5123, "CREATE FILE encountered operating system error 5(Access is "
                                  "denied.) while attempting to open or create the physical file "
                                  "'c:\\kelvora\\data\\kelvora_log.ldf'."}}));
}

// The data file is damaged, not a database file, too new or missing: the log is not the problem,
// even when the follow-up or another message speaks of the log as well.
TEST(AttachRefusal, ARefusalOfTheDataFileNeverBlamesTheLog) {
    EXPECT_FALSE(forTheLog({{5172, "The header for file 'c:\\kelvora\\data\\kelvora_data.mdf' is "
                                   "not a valid database file header. The FILE SIZE property is "
                                   "incorrect."}}));
    EXPECT_FALSE(forTheLog({unableToOpen("c:\\kelvora\\data\\kelvora_data.mdf",
                                         "2(The system cannot find the file specified.)"),
                            CreateFailed}));
    EXPECT_FALSE(forTheLog({{824, "SQL Server detected a logical consistency-based I/O error: "
                                  "incorrect checksum. It occurred during a read of page (1:9) "
                                  "in file 'c:\\kelvora\\data\\kelvora_data.mdf'."}}));
    EXPECT_FALSE(forTheLog({{5171, "c:\\kelvora\\data\\kelvora_data.mdf is not a primary database "
                                   "file."}}));
    EXPECT_FALSE(forTheLog({{948, "The database 'kelvora' cannot be opened because it is version "
                                  "661."}}));
    // Both files refused: the data file's refusal wins, whatever the order.
    EXPECT_FALSE(forTheLog({{5173, "Cannot associate files with different databases."},
                            {5172, "The header for file 'c:\\kelvora\\data\\kelvora_data.mdf' is "
                                   "not a valid database file header."}}));
    EXPECT_FALSE(forTheLog({{5105, "Device activation error. The physical file name "
                                   "'c:\\kelvora\\data\\kelvora_data.mdf' may be incorrect."},
                            {5105, "Device activation error. The physical file name "
                                   "'c:\\kelvora\\data\\kelvora_log.ldf' may be incorrect."}}));
}

// Nothing said, only follow-ups, or errors about neither file: no reason to give up the log.
TEST(AttachRefusal, UnknownOrEmptyRefusalsBlameNeither) {
    EXPECT_FALSE(forTheLog({}));
    EXPECT_FALSE(forTheLog({Aborted}));
    EXPECT_FALSE(forTheLog({CreateFailed}));
    EXPECT_FALSE(forTheLog({{1801, "Database 'kelvora' already exists. Choose a different database "
                                   "name."}}));
    EXPECT_FALSE(forTheLog({unableToOpen("c:\\other\\file.ndf", "5(Access is denied.)")}));
    EXPECT_FALSE(forTheLog({{11, "General network error. Check your network documentation."}}));
}

} // namespace
