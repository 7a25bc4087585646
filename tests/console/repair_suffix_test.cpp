// The number a rebuild keeps the old data and log files under: never one an earlier rebuild used.

#include "console/database_names.h"
#include "product_drive.h"

#include <gtest/gtest.h>
#include <set>

namespace {

using kv::console::freeRepairSuffix;

constexpr const char* Data = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* Log = "C:\\Kelvora\\Data\\kelvora_log.ldf";

class RepairSuffix : public kv::console::testing::ProductDrive {
protected:
    void take(const std::string& path) { ASSERT_TRUE(files().writeFile(path, "kept").ok()); }
};

TEST_F(RepairSuffix, DrawnNumberWhenFree) {
    EXPECT_EQ(freeRepairSuffix(files(), 37, {Data, Log}), 37);
    EXPECT_EQ(freeRepairSuffix(files(), 80, {Data, Log}), 80);
    // Out of range draws start at the bottom of the range.
    EXPECT_EQ(freeRepairSuffix(files(), 0, {Data, Log}), 1);
}

TEST_F(RepairSuffix, TakenDataOrLogNameMovesOnAndWrapsInsideTheRange) {
    take(std::string(Data) + "37");
    take(std::string("C:\\Kelvora\\Data\\KELVORA_LOG.LDF") + "38"); // any letter case
    EXPECT_EQ(freeRepairSuffix(files(), 37, {Data, Log}), 39);
    take(std::string(Data) + "80");
    EXPECT_EQ(freeRepairSuffix(files(), 80, {Data, Log}), 1);
}

// Every name the rebuild may keep a file under counts, not only the first two.
TEST_F(RepairSuffix, TakenThirdNameMovesOn) {
    take("C:\\kelvora1_log.ldf12");
    EXPECT_EQ(freeRepairSuffix(files(), 12, {Data, Log, "C:\\kelvora1_log.ldf"}), 13);
    EXPECT_EQ(freeRepairSuffix(files(), 12, {Data, Log}), 12);
}

TEST_F(RepairSuffix, AllOfTheRangeTakenGoesAboveIt) {
    for (int n = 1; n <= 80; ++n)
        take(std::string(Data) + std::to_string(n));
    EXPECT_EQ(freeRepairSuffix(files(), 12, {Data, Log}), 81);
}

TEST_F(RepairSuffix, DrawsStayInTheRange) {
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int n = kv::console::drawRepairSuffix();
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 80);
        seen.insert(n);
    }
    EXPECT_GT(seen.size(), 40u);
}

} // namespace
