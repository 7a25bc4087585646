// The Turkish guidance for the server's errors and the refusals of the check before the
// rebuild: which row a failure gets, and that the documentation's table says the same.

#include "console/guidance.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

using kv::console::guidanceFor;
using kv::console::guidanceForMessage;
using kv::console::guidanceTable;
using kv::console::quotedOsError;
using kv::console::Refusal;
using kv::console::ServerMessage;

std::string keyFor(const std::vector<ServerMessage>& messages) {
    auto found = guidanceFor(messages);
    return found ? found->key : "<none>";
}

ServerMessage unableToOpen(const std::string& os) {
    return {5120, "Unable to open the physical file \"c:\\kelvora\\data\\kelvora_data.mdf\". "
                  "Operating system error " +
                      os + "."};
}

// Every number the console meets on its connects, checks, attaches, detaches and rebuilds has a
// sentence of its own, never the fallback.
TEST(Guidance, EveryNumberTheConsoleMeetsHasItsOwnRow) {
    for (int number : {17,   233,  823,  824,  1105, 1813, 2526, 259,  3702,  3703,  5120,  5171,
                       5172, 5173, 5123, 5149, 8928, 8939, 8946, 9002, 15010, 18456, 18452, 1801,
                       2520, 5105, 945,  1802, 5069, 926,  5170, 5133, 5025,  5023,  7919,  911}) {
        const auto found = guidanceForMessage({number, "some text"});
        ASSERT_TRUE(found) << number;
        EXPECT_FALSE(found->text.empty()) << number;
    }
    // 5120 has a row for each operating-system error the files meet.
    EXPECT_EQ(keyFor({unableToOpen("2(The system cannot find the file specified.)")}), "5120/2");
    EXPECT_EQ(keyFor({unableToOpen("5(Access is denied.)")}), "5120/5");
    EXPECT_EQ(keyFor({unableToOpen("32(The process cannot access the file because it is being "
                                   "used by another process.)")}),
              "5120/32");
    EXPECT_EQ(keyFor({unableToOpen("1117(The request could not be performed because of an I/O "
                                   "device error.)")}),
              "5120");
    // SQL Server 2005's own wording: `Operating system error 32: "32(...)"`.
    EXPECT_EQ(keyFor({{5120, "Unable to open the physical file \"x.mdf\". Operating system error "
                             "32: \"32(The process cannot access the file.)\"."}}),
              "5120/32");
    EXPECT_EQ(keyFor({{5123, "CREATE FILE encountered operating system error 112(There is not "
                             "enough space on the disk.) while attempting to open or create the "
                             "physical file 'c:\\kelvora1_Data.MDF'."}}),
              "5123/112");
}

// A closing error (1802, 1813, 945, 5069) only sums up the errors before it: the first error
// with a sentence of its own speaks, the closing one only when it is alone.
TEST(Guidance, TheFirstSpecificErrorSpeaksBeforeAClosingOne) {
    const ServerMessage createFailed{1802, "CREATE DATABASE failed."};
    const ServerMessage aborted{1813, "Could not open new database 'kelvora'."};
    EXPECT_EQ(keyFor({{5123, "operating system error 112(There is not enough space on the "
                             "disk.)"},
                      createFailed}),
              "5123/112");
    EXPECT_EQ(keyFor({{5173, "One or more files do not match the primary file."}, aborted}),
              "5173");
    EXPECT_EQ(keyFor({aborted, {5173, "Cannot associate files with different databases."}}),
              "5173");
    EXPECT_EQ(keyFor({createFailed}), "1802");
    EXPECT_EQ(keyFor({{5105, "Device activation error."}, aborted}), "5105");
    // The first specific one wins: the check's first damaged page.
    EXPECT_EQ(keyFor({{8928, "Page (1:9) could not be processed."}, {8939, "Test failed."}}),
              "8928");
}

// A number the table does not know still gets a sentence that names it; a failure that brought
// no message gets none, so that no line is written without a reason.
TEST(Guidance, UnknownNumbersNameThemselvesAndNoMessagesGiveNothing) {
    const auto unknown =
        guidanceFor({{30123, "Something new."}, {1802, "CREATE DATABASE failed."}});
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->key, "1802");
    const auto other = guidanceFor({{30123, "Something new."}});
    ASSERT_TRUE(other);
    EXPECT_EQ(other->key, "other");
    EXPECT_NE(other->text.find("30123"), std::string::npos) << other->text;
    EXPECT_FALSE(guidanceFor(std::vector<ServerMessage>{}));
    EXPECT_FALSE(guidanceForMessage({30123, "Something new."}));
}

// A repair reports the pages it rewrote as errors; a repair step speaks only of what else went
// wrong, and says nothing when that was all.
TEST(Guidance, ARepairStepIgnoresTheDamageItRepaired) {
    using kv::console::guidanceForRepairStep;
    const ServerMessage page{8928, "Page (1:9) could not be processed."};
    const ServerMessage test{8939, "Table error: page (1:9). Test failed."};
    EXPECT_FALSE(guidanceForRepairStep({page, test, page}));
    const auto full = guidanceForRepairStep(
        {page, test, {9002, "The transaction log for database 'kelvora1' is full."}});
    ASSERT_TRUE(full);
    EXPECT_EQ(full->key, "9002");
    EXPECT_EQ(guidanceForRepairStep({{7919, "Repair statement not processed."}})->key, "7919");
    // A repair that worked ends with informational lines only: nothing to advise.
    EXPECT_FALSE(guidanceForRepairStep({page,
                                        {2536, "DBCC results for 'kelvora'.", 10},
                                        {8989, "CHECKDB found 0 allocation errors", 10},
                                        {2528, "DBCC execution completed.", 10}}));
    // Nor is an informational line in front of an error the one to explain.
    EXPECT_EQ(keyFor({{5701, "Changed database context to 'master'.", 0},
                      {18456, "Login failed for user 'sa'.", 14}}),
              "18456");
    // The check itself does speak of the damage.
    EXPECT_EQ(keyFor({page, test}), "8928");
}

// The operating-system error in the shapes the server quotes it, and none where it quotes none.
TEST(Guidance, QuotedOperatingSystemError) {
    EXPECT_EQ(quotedOsError("Operating system error 32(The process cannot access the file.)."), 32);
    EXPECT_EQ(quotedOsError("CREATE FILE encountered operating system error 112(There is not)"),
              112);
    EXPECT_EQ(quotedOsError("The operating system returned error 1117(The request could not be "
                            "performed) to SQL Server during a read at offset 0x0000"),
              1117);
    EXPECT_EQ(quotedOsError("Operating system error : no number"), 0);
    EXPECT_EQ(quotedOsError("Device activation error. The physical file name 'x' may be "
                            "incorrect."),
              0);
    EXPECT_EQ(quotedOsError(""), 0);
}

// Each refusal of the check before the rebuild has its own sentence.
TEST(Guidance, EveryRefusalHasASentence) {
    std::set<std::string> keys;
    for (Refusal refusal :
         {Refusal::DiskSpace, Refusal::FileHeld, Refusal::ServerVersion, Refusal::ScratchName}) {
        const auto guidance = guidanceFor(refusal);
        EXPECT_TRUE(guidance.key.starts_with("preflight.")) << guidance.key;
        EXPECT_FALSE(guidance.text.empty()) << guidance.key;
        keys.insert(guidance.key);
    }
    EXPECT_EQ(keys.size(), 4u);
}

// The table's keys are unique, and console/README.md lists every row with its sentence.
TEST(Guidance, TheDocumentationListsEveryRow) {
    std::ifstream in(std::string(KELVORA_SOURCE_DIR) + "/console/README.md");
    ASSERT_TRUE(in) << "console/README.md";
    std::stringstream text;
    text << in.rdbuf();
    const std::string doc = text.str();
    std::set<std::string> keys;
    for (const auto& row : guidanceTable()) {
        EXPECT_TRUE(keys.insert(row.key).second) << "twice: " << row.key;
        const std::string line = "| `" + row.key + "` | " + row.text + " |";
        EXPECT_NE(doc.find(line), std::string::npos) << "missing in console/README.md: " << line;
    }
}

} // namespace
