// The check before the rebuild on a simulated host's drive: the server's version, files held by
// other programs, an earlier run's scratch files, and the room the rebuild writes into.

#include "console/preflight.h"
#include "platform/posix/FileHold.h"
#include "product_drive.h"

#include <filesystem>

namespace kv::console::testing {
namespace {

constexpr const char* DataFile = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* LogFile = "C:\\Kelvora\\Data\\kelvora_Log.LDF";
constexpr std::uint64_t MiB = 1ull << 20;

class Preflight : public ProductDrive {
protected:
    void SetUp() override {
        ProductDrive::SetUp();
        sized(DataFile, 40 * MiB);
        sized(LogFile, 10 * MiB);
    }
    // A file of `bytes` that takes no room (the check reads sizes only).
    void sized(const char* path, std::uint64_t bytes) {
        ASSERT_TRUE(files().writeFile(path, ""));
        std::filesystem::resize_file(real(path), bytes);
    }
    std::filesystem::path real(const char* path) { return host_->resolve(path).value(); }
    void diskFree(std::uint64_t bytes) {
        ASSERT_TRUE(host_->setSetting("disk_free", std::to_string(bytes)));
    }
    std::uint64_t needed(RebuildPath path) {
        const auto needs = spaceNeeded(files(), path);
        EXPECT_EQ(needs.size(), 1u); // both folders are on drive C
        return needs.empty() ? 0 : needs[0].bytes;
    }
};

// What each rebuild writes: from scratch the data file twice (over the scratch file, then back
// to the product path), the log and the scratch database; in place a copy of each file and a
// new log; on top of either a margin of a tenth, at least 64 MiB.
TEST_F(Preflight, SpaceNeededFollowsTheRebuildsPath) {
    EXPECT_EQ(needed(RebuildPath::FromScratch),
              2 * 40 * MiB + 10 * MiB + ScratchDatabaseBytes + MinimumMarginBytes);
    EXPECT_EQ(needed(RebuildPath::InPlace), 40 * MiB + 10 * MiB + NewLogBytes + MinimumMarginBytes);

    sized(DataFile, 4096 * MiB);
    const std::uint64_t inPlace = 4096 * MiB + 10 * MiB + NewLogBytes;
    EXPECT_EQ(needed(RebuildPath::InPlace), inPlace + inPlace / 10);
    // No log file: the new log still needs its room.
    std::filesystem::remove(real(LogFile));
    EXPECT_EQ(needed(RebuildPath::FromScratch),
              2 * 4096 * MiB + NewLogBytes + ScratchDatabaseBytes +
                  (2 * 4096 * MiB + NewLogBytes + ScratchDatabaseBytes) / 10);
}

// Too little room refuses with one line that says how much is needed and how much there is,
// needed rounded up and free rounded down; exactly enough passes.
TEST_F(Preflight, TooLittleRoomRefusesWithTheAmounts) {
    const std::uint64_t need = needed(RebuildPath::InPlace);
    ASSERT_EQ(need, 122 * MiB);
    diskFree(100 * MiB + 1);
    auto refused = checkBeforeRebuild(files(), 9);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->reason, Refusal::DiskSpace);
    EXPECT_EQ(refused->line, "Diskte 122 MB boş yer gerekiyor, 100 MB var.");
    diskFree(need - 1);
    EXPECT_TRUE(checkBeforeRebuild(files(), 9));
    diskFree(need);
    EXPECT_FALSE(checkBeforeRebuild(files(), 9));

    // The rebuild from scratch writes more than the repair in place.
    EXPECT_TRUE(checkBeforeRebuild(files(), 8));
    diskFree(needed(RebuildPath::FromScratch));
    EXPECT_FALSE(checkBeforeRebuild(files(), 8));
}

TEST_F(Preflight, UnknownServerVersionRefuses) {
    const auto refused = checkBeforeRebuild(files(), 0);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->reason, Refusal::ServerVersion);
    EXPECT_EQ(refused->line, "Server sürümü okunamadı.");
}

// A product file another program holds refuses with the file and the program; the hold of the
// SQL Server service itself (MSSQLSERVER) is the server's and ends with the detach.
TEST_F(Preflight, AProductFileHeldByAnotherProgramRefuses) {
    {
        auto held = platform::sim::FileHold::hold(real(LogFile));
        ASSERT_TRUE(held);
        const auto refused = checkBeforeRebuild(files(), 9);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->reason, Refusal::FileHeld);
        EXPECT_EQ(refused->line,
                  "C:\\Kelvora\\Data\\kelvora_log.ldf dosyası başka bir programda açık: "
                  "console_repair_tests.");
    }
    EXPECT_FALSE(checkBeforeRebuild(files(), 9));
}

// SQL Server 2000's rebuild removes the scratch files an earlier run left in C:\: a read-only one
// or a folder in their place refuses; 2005 does not use them.
TEST_F(Preflight, ScratchLeftoversThatCannotBeRemovedRefuseOnlyTheRebuildFromScratch) {
    ASSERT_TRUE(files().writeFile("C:\\KELVORA1_DATA.MDF", "an earlier run's scratch file"));
    EXPECT_FALSE(checkBeforeRebuild(files(), 8));
    std::filesystem::permissions(real("C:\\kelvora1_data.mdf"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    auto refused = checkBeforeRebuild(files(), 8);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->reason, Refusal::ScratchName);
    EXPECT_EQ(refused->line, "Eski geçici dosya silinemiyor: C:\\kelvora1_data.mdf (salt okunur).");
    EXPECT_FALSE(checkBeforeRebuild(files(), 9));

    ASSERT_TRUE(files().createFolder("C:\\kelvora1_log.ldf"));
    std::filesystem::permissions(real("C:\\kelvora1_data.mdf"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    refused = checkBeforeRebuild(files(), 8);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->reason, Refusal::ScratchName);
    EXPECT_EQ(refused->line,
              "C:\\kelvora1_log.ldf adında bir klasör var; geçici dosya için yer açılamıyor.");
}

// The host's files without the three questions (as a decorator in a test that does not pass
// them on): every answer is unknown, and unknown is no objection.
class Unanswering final : public platform::FileSystem {
public:
    explicit Unanswering(platform::FileSystem& real) : real_(real) {}
    bool fileExists(std::string_view p) override { return real_.fileExists(p); }
    bool folderExists(std::string_view p) override { return real_.folderExists(p); }
    platform::Result<std::uint64_t> fileSize(std::string_view p) override {
        return real_.fileSize(p);
    }
    platform::Result<void> copyFile(std::string_view f, std::string_view t, bool x) override {
        return real_.copyFile(f, t, x);
    }
    platform::Result<void> deleteFile(std::string_view p) override { return real_.deleteFile(p); }
    platform::Result<void> renameFile(std::string_view f, std::string_view t) override {
        return real_.renameFile(f, t);
    }
    platform::Result<void> createFolder(std::string_view p) override {
        return real_.createFolder(p);
    }
    platform::Result<void> clearReadOnly(std::string_view p) override {
        return real_.clearReadOnly(p);
    }
    platform::Result<std::string> readFile(std::string_view p) override {
        return real_.readFile(p);
    }
    platform::Result<void> writeFile(std::string_view p, std::string_view c) override {
        return real_.writeFile(p, c);
    }
    int shellCopy(std::string_view f, std::string_view t,
                  const platform::CopyProgress& progress) override {
        return real_.shellCopy(f, t, progress);
    }

private:
    platform::FileSystem& real_;
};

TEST_F(Preflight, QuestionsTheFileSystemCannotAnswerDoNotRefuse) {
    diskFree(MiB);
    auto held = platform::sim::FileHold::hold(real(DataFile));
    ASSERT_TRUE(held);
    ASSERT_TRUE(checkBeforeRebuild(files(), 9));
    Unanswering unanswering(files());
    EXPECT_FALSE(checkBeforeRebuild(unanswering, 9));
    EXPECT_FALSE(checkBeforeRebuild(unanswering, 8));
    EXPECT_TRUE(checkBeforeRebuild(unanswering, 0)); // the version is not the file system's
}

// Sizes as the log writes them: a decimal comma below ten units, whole units above, needed
// amounts rounded up and free ones down.
TEST(PreflightSizeText, RoundsTheWayThatNeverPromisesTooMuch) {
    constexpr std::uint64_t GiB = 1ull << 30;
    EXPECT_EQ(sizeText(300 * MiB, false), "300 MB");
    EXPECT_EQ(sizeText(300 * MiB, true), "300 MB");
    EXPECT_EQ(sizeText(300 * MiB + 1, true), "301 MB");
    EXPECT_EQ(sizeText(300 * MiB - 1, false), "299 MB");
    EXPECT_EQ(sizeText(GiB + GiB / 4, false), "1,2 GB");
    EXPECT_EQ(sizeText(GiB + GiB / 4, true), "1,3 GB");
    EXPECT_EQ(sizeText(GiB + GiB / 5, true), "1,2 GB");
    EXPECT_EQ(sizeText(2 * GiB, true), "2 GB");
    EXPECT_EQ(sizeText(10 * GiB - 1, true), "10 GB");
    EXPECT_EQ(sizeText(5 * MiB + MiB / 2, false), "5,5 MB");
    EXPECT_EQ(sizeText(1536, true), "2 KB");
    EXPECT_EQ(sizeText(1536, false), "1 KB");
    EXPECT_EQ(sizeText(0, false), "0 KB");
}

} // namespace
} // namespace kv::console::testing
