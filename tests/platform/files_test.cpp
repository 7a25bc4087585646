// Windows paths on the simulated host and the file functions on them.

#include "TestHost.h"
#include "platform/posix/FileHold.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::platform::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class FilesTest : public ::testing::Test {
protected:
    TestHost host;
    FileSystem& files = host.platform().files();
};

// Every component is found without regard to case; the name on disk keeps its own case.
TEST_F(FilesTest, NamesResolveWithoutRegardToCase) {
    host.writeReal(host.drive() / "Kelvora" / "Data" / "Kelvora_DATA.MDF", "mdf");
    EXPECT_TRUE(files.fileExists("C:\\Kelvora\\Data\\kelvora_data.mdf"));
    EXPECT_TRUE(files.fileExists("C:\\KELVORA\\Data\\KELVORA_DATA.MDF"));
    EXPECT_TRUE(files.fileExists("c:/kelvora/DATA/Kelvora_Data.mdf"));
    EXPECT_TRUE(files.folderExists("C:\\kelvora\\data"));
    EXPECT_TRUE(files.folderExists("C:\\"));
    auto real = host.host().resolve("C:\\KELVORA\\data\\kelvora_data.MDF");
    ASSERT_TRUE(real) << real.error().message;
    EXPECT_EQ(*real, host.drive() / "Kelvora" / "Data" / "Kelvora_DATA.MDF");
}

// A new name is created with the case it is given, below the existing folders' own names.
TEST_F(FilesTest, NewNamesKeepTheGivenCase) {
    ASSERT_TRUE(files.createFolder("C:\\Kelvora"));
    ASSERT_TRUE(files.writeFile("C:\\KELVORA\\Halvetor.Log", "log"));
    EXPECT_EQ(host.readReal(host.drive() / "Kelvora" / "Halvetor.Log"), "log");
    EXPECT_EQ(files.createFolder("C:\\kelvora").code(), win::AlreadyExists);
    EXPECT_EQ(files.createFolder("C:\\Missing\\Sub").code(), win::PathNotFound);
}

// Turkish letters fold like ASCII ones (ç/Ç, ş/Ş), but dotless ı and dotted İ stay apart.
TEST_F(FilesTest, LatinLettersFoldButDottedIStaysApart) {
    host.writeReal(host.drive() / "Veri Çalışma" / "şema.txt", "x");
    EXPECT_FALSE(files.fileExists("C:\\VERİ çALıŞMA\\ŞEMA.TXT"));
    EXPECT_TRUE(files.fileExists("C:\\veri ÇALıŞMA\\ŞEMA.TXT"));
}

TEST_F(FilesTest, AFolderNamedLikeAFileIsNoFile) {
    fs::create_directories(host.drive() / "Kelvora" / "Data" / "kelvora_Data.MDF");
    EXPECT_FALSE(files.fileExists("C:\\Kelvora\\Data\\kelvora_Data.MDF"));
    EXPECT_TRUE(files.folderExists("C:\\Kelvora\\Data\\kelvora_Data.MDF"));
    EXPECT_FALSE(files.folderExists("C:\\Kelvora\\Data\\nothing"));
    EXPECT_EQ(files.deleteFile("C:\\Kelvora\\Data\\kelvora_Data.MDF").code(), win::AccessDenied);
}

TEST_F(FilesTest, CopyHonoursFailIfExists) {
    host.writeReal(host.drive() / "a.mdf", "new");
    host.writeReal(host.drive() / "B.mdf", "old");
    auto refused = files.copyFile("C:\\a.mdf", "C:\\b.MDF", true);
    EXPECT_EQ(refused.code(), win::FileExists) << refused.error().message;
    EXPECT_EQ(host.readReal(host.drive() / "B.mdf"), "old");

    ASSERT_TRUE(files.copyFile("C:\\a.mdf", "C:\\b.MDF", false));
    EXPECT_EQ(host.readReal(host.drive() / "B.mdf"), "new");
    ASSERT_TRUE(files.copyFile("C:\\a.mdf", "C:\\C.mdf", true));
    EXPECT_EQ(host.readReal(host.drive() / "C.mdf"), "new");

    EXPECT_EQ(files.copyFile("C:\\none.mdf", "C:\\d.mdf", false).code(), win::FileNotFound);
    EXPECT_EQ(files.copyFile("C:\\a.mdf", "C:\\NoFolder\\d.mdf", false).code(), win::PathNotFound);
    EXPECT_EQ(files.copyFile("C:\\a.mdf", "C:\\a.MDF", false).code(), win::SharingViolation);
    // No temporary copy is left behind by any of the failures.
    for (const auto& entry : fs::directory_iterator(host.drive()))
        EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr("kvcopy")));
}

TEST_F(FilesTest, RenameRefusesAnExistingName) {
    host.writeReal(host.drive() / "Data.MDF", "data");
    host.writeReal(host.drive() / "Data.MDF37", "older");
    auto refused = files.renameFile("C:\\data.mdf", "C:\\DATA.mdf37");
    EXPECT_EQ(refused.code(), win::AlreadyExists) << refused.error().message;
    EXPECT_EQ(host.readReal(host.drive() / "Data.MDF37"), "older");

    ASSERT_TRUE(files.renameFile("C:\\data.mdf", "C:\\Data.MDF12"));
    EXPECT_EQ(host.readReal(host.drive() / "Data.MDF12"), "data");
    EXPECT_EQ(files.renameFile("C:\\data.mdf", "C:\\x").code(), win::FileNotFound);
    // A change of letter case only renames the file itself.
    ASSERT_TRUE(files.renameFile("C:\\data.mdf12", "C:\\DATA.MDF12"));
    EXPECT_TRUE(fs::exists(host.drive() / "DATA.MDF12"));
}

TEST_F(FilesTest, DeleteAndDeleteIfPresent) {
    host.writeReal(host.drive() / "kelvora1_log.ldf", "x");
    EXPECT_TRUE(files.deleteFileIfPresent("C:\\KELVORA1_LOG.LDF"));
    EXPECT_FALSE(fs::exists(host.drive() / "kelvora1_log.ldf"));
    EXPECT_EQ(files.deleteFile("C:\\kelvora1_log.ldf").code(), win::FileNotFound);
    EXPECT_EQ(files.deleteFile("C:\\NoFolder\\x").code(), win::PathNotFound);
    EXPECT_TRUE(files.deleteFileIfPresent("C:\\kelvora1_log.ldf"));
    EXPECT_TRUE(files.deleteFileIfPresent("C:\\NoFolder\\x"));
}

// The shell copy replaces the target, makes missing folders, copies into an existing folder and
// reports progress from 0 to the file's size.
TEST_F(FilesTest, ShellCopyReportsProgressAndReplaces) {
    const auto source = host.drive() / "Kelvora1_DATA.MDF";
    host.writeReal(source, "");
    const std::uint64_t size = (70ull << 20) + 123; // three chunks
    ASSERT_EQ(::truncate(source.c_str(), static_cast<off_t>(size)), 0);
    host.writeReal(host.drive() / "Kelvora" / "Data" / "Kelvora_DATA.MDF", "old");

    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const auto progress = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
    };
    EXPECT_EQ(
        files.shellCopy("C:\\kelvora1_data.mdf", "C:\\Kelvora\\Data\\Kelvora_DATA.MDF", progress),
        0);
    EXPECT_EQ(fs::file_size(host.drive() / "Kelvora" / "Data" / "Kelvora_DATA.MDF"), size);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), std::make_pair(std::uint64_t{0}, size));
    EXPECT_EQ(calls.back(), std::make_pair(size, size));
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_GE(calls[i].first, calls[i - 1].first);

    EXPECT_EQ(files.shellCopy("C:\\kelvora1_data.mdf", "C:\\New\\Folder\\copy.mdf", {}), 0);
    EXPECT_TRUE(files.fileExists("C:\\new\\folder\\COPY.MDF"));
    // Into an existing folder: a file there of the same name in other letters is replaced.
    host.writeReal(host.drive() / "New" / "kelvora1_data.mdf", "old");
    EXPECT_EQ(files.shellCopy("C:\\kelvora1_data.mdf", "C:\\New", {}), 0);
    EXPECT_EQ(fs::file_size(host.drive() / "New" / "kelvora1_data.mdf"), size);
    EXPECT_EQ(std::distance(fs::directory_iterator(host.drive() / "New"), {}), 2);
    EXPECT_EQ(files.shellCopy("C:\\missing.mdf", "C:\\x.mdf", {}),
              static_cast<int>(win::FileNotFound));
}

// A held file refuses copying from and onto it, deletion and renaming, whether the holder is
// this process or another one; the refusals end with the hold.
TEST_F(FilesTest, AHeldFileRefusesCopyDeleteAndRename) {
    const auto data = host.drive() / "Kelvora" / "Data" / "kelvora_Data.MDF";
    host.writeReal(data, "attached");
    host.writeReal(host.drive() / "scratch.mdf", "scratch");
    auto hold = sim::FileHold::hold(data);
    ASSERT_TRUE(hold) << hold.error().message;
    EXPECT_TRUE(sim::isHeld(data));

    const char* path = "C:\\Kelvora\\Data\\KELVORA_DATA.MDF";
    EXPECT_EQ(files.copyFile("C:\\scratch.mdf", path, false).code(), win::SharingViolation);
    EXPECT_EQ(files.copyFile(path, "C:\\copy.mdf", false).code(), win::SharingViolation);
    EXPECT_EQ(files.shellCopy("C:\\scratch.mdf", path, {}),
              static_cast<int>(win::SharingViolation));
    EXPECT_EQ(files.deleteFile(path).code(), win::SharingViolation);
    EXPECT_EQ(files.deleteFileIfPresent(path).code(), win::SharingViolation);
    EXPECT_EQ(files.renameFile(path, "C:\\Kelvora\\Data\\kelvora_Data.MDF37").code(),
              win::SharingViolation);
    EXPECT_EQ(host.readReal(data), "attached");
    EXPECT_EQ(sim::FileHold::hold(data).code(), win::SharingViolation);

    hold->release();
    EXPECT_FALSE(sim::isHeld(data));
    EXPECT_TRUE(files.renameFile(path, "C:\\Kelvora\\Data\\kelvora_Data.MDF37"));
}

// A read-only file (owner write permission missing) refuses deletion, being copied or written
// onto, also by root, and keeps its contents; it can be read, copied from and renamed, and its
// copies are read-only as on Windows.
TEST_F(FilesTest, AReadOnlyFileRefusesDeleteAndOverwrite) {
    const auto log = host.drive() / "Halvetor.Log";
    host.writeReal(log, "older run");
    host.writeReal(host.drive() / "other.txt", "other");
    fs::permissions(log, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    EXPECT_EQ(files.writeFile("C:\\HALVETOR.LOG", "new run").code(), win::AccessDenied);
    EXPECT_EQ(files.deleteFile("C:\\Halvetor.Log").code(), win::AccessDenied);
    EXPECT_EQ(files.deleteFileIfPresent("C:\\Halvetor.Log").code(), win::AccessDenied);
    EXPECT_EQ(files.copyFile("C:\\other.txt", "C:\\Halvetor.Log", false).code(), win::AccessDenied);
    EXPECT_EQ(files.shellCopy("C:\\other.txt", "C:\\Halvetor.Log", {}),
              static_cast<int>(win::AccessDenied));
    EXPECT_EQ(host.readReal(log), "older run");
    EXPECT_EQ(std::distance(fs::directory_iterator(host.drive()), {}), 2);

    auto read = files.readFile("C:\\Halvetor.Log");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, "older run");
    ASSERT_TRUE(files.copyFile("C:\\Halvetor.Log", "C:\\copy.log", true));
    EXPECT_EQ(files.deleteFile("C:\\copy.log").code(), win::AccessDenied);
    EXPECT_TRUE(files.renameFile("C:\\Halvetor.Log", "C:\\Halvetor.Log1"));
    EXPECT_EQ(host.readReal(host.drive() / "Halvetor.Log1"), "older run");

    fs::permissions(host.drive() / "Halvetor.Log1", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(files.deleteFile("C:\\Halvetor.Log1"));
}

// Faults named in host.conf make the file functions fail on purpose.
TEST_F(FilesTest, InjectedFaultsFailTheirFunction) {
    host.writeReal(host.drive() / "a.mdf", "a");
    ASSERT_TRUE(host.host().setSetting("fail_shell_copy", "112"));
    ASSERT_TRUE(host.host().setSetting("fail_rename_file", "5"));
    EXPECT_EQ(files.shellCopy("C:\\a.mdf", "C:\\b.mdf", {}), 112);
    EXPECT_EQ(files.renameFile("C:\\a.mdf", "C:\\b.mdf").code(), win::AccessDenied);
    EXPECT_TRUE(files.copyFile("C:\\a.mdf", "C:\\b.mdf", true));
    ASSERT_TRUE(host.host().setSetting("fail_shell_copy", "0"));
    EXPECT_EQ(files.shellCopy("C:\\a.mdf", "C:\\c.mdf", {}), 0);
}

// fail_copy_after interrupts a copy once that many bytes of it are written: the shell's
// progress has heard them, no target is left behind and a target it would replace stays as it
// was; a file no larger than the limit copies whole, and a path limits the fault to its copies.
TEST_F(FilesTest, InterruptedCopyLeavesNoPartAndKeepsTheOldTarget) {
    const std::string big(3 * 1024 * 1024 + 17, 'b');
    host.writeReal(host.drive() / "big.mdf", big);
    host.writeReal(host.drive() / "small.mdf", "small");
    host.writeReal(host.drive() / "old.mdf", "old target");
    ASSERT_TRUE(host.host().setSetting("fail_copy_after", "112 1048576"));

    std::uint64_t heard = 0;
    std::uint64_t total = 0;
    EXPECT_EQ(files.shellCopy("C:\\big.mdf", "C:\\old.mdf",
                              [&](std::uint64_t done, std::uint64_t all) {
                                  heard = done;
                                  total = all;
                              }),
              112);
    EXPECT_EQ(heard, 1048576u);
    EXPECT_EQ(total, big.size());
    EXPECT_EQ(host.readReal(host.drive() / "old.mdf"), "old target");
    EXPECT_EQ(files.copyFile("C:\\big.mdf", "C:\\new.mdf", true).code(), win::DiskFull);
    EXPECT_FALSE(files.fileExists("C:\\new.mdf"));
    EXPECT_EQ(std::distance(fs::directory_iterator(host.drive()), {}), 3);
    EXPECT_TRUE(files.copyFile("C:\\small.mdf", "C:\\small2.mdf", true));

    ASSERT_TRUE(host.host().setSetting("fail_copy_after", "23 0 c:\\OTHER.mdf"));
    EXPECT_TRUE(files.copyFile("C:\\big.mdf", "C:\\new.mdf", true));
    EXPECT_EQ(host.readReal(host.drive() / "new.mdf"), big);
    EXPECT_EQ(files.copyFile("C:\\big.mdf", "C:\\Other.mdf", true).code(), 23u);
    ASSERT_TRUE(host.host().setSetting("fail_copy_after", "112"));
    EXPECT_TRUE(files.copyFile("C:\\big.mdf", "C:\\Other.mdf", true));
}

// host.conf's disk_free is the free space of the drive, read at each call; without it the
// drive has what the real disk under the host has.
TEST_F(FilesTest, FreeSpaceIsTheHostsDiskFree) {
    fs::create_directories(host.drive() / "Kelvora" / "Data");
    const auto real = files.freeSpace("C:\\");
    ASSERT_TRUE(real) << real.error().message;
    EXPECT_GT(*real, 0u);
    ASSERT_TRUE(host.host().setSetting("disk_free", "300000"));
    EXPECT_EQ(files.freeSpace("C:\\").valueOr(0), 300000u);
    EXPECT_EQ(files.freeSpace("C:\\KELVORA\\data").valueOr(0), 300000u);
    EXPECT_EQ(files.freeSpace("C:\\Missing").code(), win::PathNotFound);
}

struct RefusedPath {
    const char* name;
    const char* path;
    ErrorCode code;
};

void PrintTo(const RefusedPath& row, std::ostream* out) {
    *out << row.path;
}

class RefusedPathTest : public ::testing::TestWithParam<RefusedPath> {};

// Paths that would leave drive_c/ or name devices are refused with a message; nothing is
// created anywhere.
TEST_P(RefusedPathTest, IsRefusedWithAClearError) {
    TestHost host;
    fs::create_directories(host.drive() / "Kelvora");
    ::symlink(host.scratch().c_str(), (host.drive() / "Kelvora" / "out").c_str());
    const auto& row = GetParam();
    auto real = host.host().resolve(row.path);
    ASSERT_FALSE(real) << row.path << " resolved to " << *real;
    EXPECT_EQ(real.code(), row.code);
    EXPECT_THAT(real.error().message, HasSubstr("refuses the path"));
    auto& files = host.platform().files();
    EXPECT_FALSE(files.writeFile(row.path, "x"));
    EXPECT_FALSE(files.fileExists(row.path));
    EXPECT_NE(files.shellCopy(row.path, "C:\\x", {}), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(host.scratch()), {}), 1); // only host/
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RefusedPathTest,
    ::testing::Values(RefusedPath{"DotDot", "C:\\Kelvora\\..\\..\\escape.txt", win::BadPathname},
                      RefusedPath{"DotDotAtRoot", "C:\\..\\escape.txt", win::BadPathname},
                      RefusedPath{"OtherDrive", "D:\\Kelvora\\x.txt", win::PathNotFound},
                      RefusedPath{"Unc", "\\\\server\\share\\x.txt", win::BadPathname},
                      RefusedPath{"DevicePath", "\\\\.\\PhysicalDrive0", win::BadPathname},
                      RefusedPath{"Relative", "Kelvora\\x.txt", win::BadPathname},
                      RefusedPath{"DriveRelative", "C:x.txt", win::BadPathname},
                      RefusedPath{"Nul", "C:\\NUL", win::InvalidName},
                      RefusedPath{"ConWithExtension", "C:\\Kelvora\\con.txt", win::InvalidName},
                      RefusedPath{"Com1", "C:\\com1", win::InvalidName},
                      RefusedPath{"Lpt1", "C:\\Kelvora\\LPT1.log", win::InvalidName},
                      RefusedPath{"ForbiddenCharacter", "C:\\a?b.txt", win::InvalidName},
                      RefusedPath{"SymbolicLinkOut", "C:\\Kelvora\\OUT\\x.txt", win::AccessDenied}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace kv::platform::test
