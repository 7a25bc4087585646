// Ending the sibling programs against a fake process table.

#include "console/process_kill.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace kv::console {
namespace {

using testing::FakeProcessTable;

// Two instances of one program are both ended, other programs are left alone.
TEST(KillProcessesNamed, EndsEveryInstanceAndNothingElse) {
    FakeProcessTable table;
    table.processes = {{10, "Lunta33.exe"}, {11, "bash"}, {12, "Lunta33.exe"}, {13, "Lunta34.exe"}};
    EXPECT_TRUE(killProcessesNamed(table, "Lunta33.exe"));
    EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{10, 12}));
    EXPECT_EQ(table.openCount, 0);
}

// Letter case of a to z is ignored, the file-name part of a full path counts, and the whole name
// must match: "Morvisk.exe" never ends "Morvisk2.exe" and the other way round.
TEST(KillProcessesNamed, MatchesWholeNameIgnoringAsciiCase) {
    FakeProcessTable table;
    table.processes = {{20, "MORVISK2.EXE"},
                       {21, "C:\\Program Files\\Kelvora\\morvisk.exe"},
                       {22, "/opt/kelvora/Kelvora.bl1"},
                       {23, "Morvisk.exe.bak"}};
    EXPECT_TRUE(killProcessesNamed(table, "Morvisk.exe"));
    EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{21}));
    EXPECT_TRUE(killProcessesNamed(table, "Morvisk2.exe"));
    EXPECT_TRUE(killProcessesNamed(table, "Kelvora.BL1"));
    EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{21, 20, 22}));
}

// Only a to z are folded: the Turkish dotless and dotted i stay different from I.
TEST(KillProcessesNamed, TurkishLettersAreNotFolded) {
    EXPECT_TRUE(exeNameMatches("lunta33.EXE", "Lunta33.exe"));
    EXPECT_FALSE(exeNameMatches("MORVİSK.EXE", "Morvisk.exe"));
    EXPECT_FALSE(exeNameMatches("morvısk.exe", "Morvisk.exe"));
    EXPECT_EQ(asciiUpper("ıiğ"), "ıIğ");
}

// A process that cannot be opened is skipped; the result is that of the last attempt.
TEST(KillProcessesNamed, SkipsProcessesThatCannotBeEnded) {
    FakeProcessTable table;
    table.processes = {{30, "Pelvanto.exe"}, {31, "Pelvanto.exe"}, {32, "Pelvanto.exe"}};
    table.refuseOpen = {30};
    table.refuseTerminate = {32};
    EXPECT_FALSE(killProcessesNamed(table, "Pelvanto.exe"));
    EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{31}));

    table.refuseTerminate.clear();
    table.processes = {{32, "Pelvanto.exe"}, {30, "Pelvanto.exe"}};
    EXPECT_FALSE(killProcessesNamed(table, "Pelvanto.exe")) << "last attempt failed";
}

// Nothing running, or no snapshot at all: nothing is ended and the result is false.
TEST(KillProcessesNamed, NothingToEnd) {
    FakeProcessTable table;
    table.processes = {{40, "Dolmerin.exe"}};
    EXPECT_FALSE(killProcessesNamed(table, "Fusqetan.exe"));
    table.snapshotFails = true;
    EXPECT_FALSE(killProcessesNamed(table, "Dolmerin.exe"));
    EXPECT_TRUE(table.terminated.empty());
}

} // namespace
} // namespace kv::console
