// The Windows build of the console tests leaves out what needs the simulated Windows host; named
// here with its reason, so a run under Windows (or Wine) shows it as skipped.

#include <gtest/gtest.h>

namespace {

TEST(NotOnWindows, RebuildNamesOnAHostDrive) {
    GTEST_SKIP() << "console_repair_tests (repair_files_test.cpp, repair_suffix_test.cpp): the "
                    "rebuild's numbered names are checked on a simulated host's drive, which "
                    "exists only in the POSIX build; the file functions they use are checked on "
                    "Windows by platform_win32_tests";
}

} // namespace
