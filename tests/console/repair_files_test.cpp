// The rebuild's file steps on a simulated host's drive: a kept copy is verified before its
// source may go, a short copy is never taken for a backup, the host's injected faults (with and
// without a path, and the full disk) reach the steps as Windows errors, and the lines that name
// the user's files.

#include "console/repair_files.h"
#include "product_drive.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
namespace win = kv::platform::win;
using namespace kv::console;

constexpr const char* Data = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* Kept = "C:\\Kelvora\\Data\\kelvora_Data.MDF7";

// The host's files, except that every copy comes out one byte short (a failing disk).
class ShortCopies final : public kv::platform::FileSystem {
public:
    ShortCopies(kv::platform::FileSystem& real, kv::platform::sim::SimHost& host)
        : real_(real), host_(host) {}
    bool fileExists(std::string_view p) override { return real_.fileExists(p); }
    bool folderExists(std::string_view p) override { return real_.folderExists(p); }
    kv::platform::Result<std::uint64_t> fileSize(std::string_view p) override {
        return real_.fileSize(p);
    }
    kv::platform::Result<void> copyFile(std::string_view from, std::string_view to,
                                        bool failIfExists) override {
        auto copied = real_.copyFile(from, to, failIfExists);
        if (copied)
            shorten(to);
        return copied;
    }
    kv::platform::Result<void> deleteFile(std::string_view p) override {
        return real_.deleteFile(p);
    }
    kv::platform::Result<void> renameFile(std::string_view from, std::string_view to) override {
        return real_.renameFile(from, to);
    }
    kv::platform::Result<void> createFolder(std::string_view p) override {
        return real_.createFolder(p);
    }
    kv::platform::Result<void> clearReadOnly(std::string_view p) override {
        return real_.clearReadOnly(p);
    }
    kv::platform::Result<std::string> readFile(std::string_view p) override {
        return real_.readFile(p);
    }
    kv::platform::Result<void> writeFile(std::string_view p, std::string_view c) override {
        return real_.writeFile(p, c);
    }
    int shellCopy(std::string_view from, std::string_view to,
                  const kv::platform::CopyProgress& progress) override {
        const int result = real_.shellCopy(from, to, progress);
        if (result == 0)
            shorten(to);
        return result;
    }

private:
    void shorten(std::string_view path) {
        auto real = host_.resolve(path);
        fs::resize_file(*real, fs::file_size(*real) - 1);
    }
    kv::platform::FileSystem& real_;
    kv::platform::sim::SimHost& host_;
};

class RepairFileSteps : public kv::console::testing::ProductDrive {
protected:
    void SetUp() override {
        ProductDrive::SetUp();
        ASSERT_TRUE(files().writeFile(Data, std::string(100000, 'd')).ok());
    }
    std::string contents(const char* path) { return files().readFile(path).valueOr(""); }
    void setting(const char* key, const std::string& value) {
        ASSERT_TRUE(host_->setSetting(key, value).ok());
    }
};

TEST_F(RepairFileSteps, VerifiedCopyNeverOverwritesAndRejectsAShortCopy) {
    ASSERT_TRUE(copyVerified(files(), Data, Kept, false).ok());
    EXPECT_EQ(contents(Kept), contents(Data));
    // An existing target stays as it is unless replacing was asked for.
    ASSERT_TRUE(files().writeFile(Kept, "earlier").ok());
    EXPECT_EQ(copyVerified(files(), Data, Kept, false).code(), win::FileExists);
    EXPECT_EQ(contents(Kept), "earlier");

    ShortCopies failing(files(), *host_);
    ASSERT_TRUE(failing.deleteFile(Kept).ok());
    EXPECT_EQ(copyVerified(failing, Data, Kept, false).code(), win::ReadFault);
    EXPECT_FALSE(files().fileExists(Kept)); // the short copy is gone
    EXPECT_NE(shellCopyVerified(failing, Data, Kept, {}), 0);
    EXPECT_FALSE(files().fileExists(Kept));
}

TEST_F(RepairFileSteps, MoveAsideRenamesOrCopiesAndKeepsTheSourceWhenItCannot) {
    bool copied = true;
    ASSERT_TRUE(moveAside(files(), Data, Kept, true, copied).ok());
    EXPECT_FALSE(copied);
    EXPECT_FALSE(files().fileExists(Data));
    ASSERT_TRUE(files().renameFile(Kept, Data).ok());

    // A refused rename: a verified copy, and the source deleted only when asked to.
    setting("fail_rename_file", "5");
    ASSERT_TRUE(moveAside(files(), Data, Kept, false, copied).ok());
    EXPECT_TRUE(copied);
    EXPECT_TRUE(files().fileExists(Data));
    ASSERT_TRUE(files().deleteFile(Kept).ok());

    // A refused rename and a copy that cannot be made: nothing moves, the source stays.
    setting("fail_copy_file", std::string("112 ") + Kept);
    EXPECT_EQ(moveAside(files(), Data, Kept, true, copied).code(), win::DiskFull);
    EXPECT_TRUE(files().fileExists(Data));
    EXPECT_FALSE(files().fileExists(Kept));

    // The copy succeeds but the source cannot be deleted: an error, and both stay.
    setting("fail_copy_file", "0");
    setting("fail_delete_file", "32");
    EXPECT_EQ(moveAside(files(), Data, Kept, true, copied).code(), win::SharingViolation);
    EXPECT_TRUE(copied);
    EXPECT_EQ(contents(Kept), contents(Data));
}

// host.conf's faults: a path after the number limits the fault to calls that name it, on either
// side, in any letter case; disk_free fails copies of larger files.
TEST_F(RepairFileSteps, InjectedFaultsNameTheirPathAndTheDiskFills) {
    setting("fail_shell_copy", "112 c:\\kelvora\\data\\KELVORA_DATA.mdf7");
    EXPECT_EQ(files().shellCopy(Data, Kept, {}), 112);
    EXPECT_EQ(files().shellCopy(Data, "C:\\Kelvora\\other.MDF", {}), 0);
    setting("fail_shell_copy", "0");

    setting("disk_free", "99999");
    EXPECT_EQ(files().copyFile(Data, Kept, true).code(), win::DiskFull);
    EXPECT_FALSE(files().fileExists(Kept));
    setting("disk_free", "100000");
    EXPECT_TRUE(files().copyFile(Data, Kept, true).ok());
}

TEST(RepairFileLines, NameEveryFileThatHoldsData) {
    RepairFiles where;
    where.data = "C:\\a.MDF";
    where.logCopy = "C:\\b.ldf3";
    where.rebuilt = "C:\\Kelvora1_DATA.MDF";
    EXPECT_EQ(dataLocationLines(where),
              (std::vector<std::string>{"Eski data dosyası: C:\\a.MDF",
                                        "Eski log dosyasının kopyası: C:\\b.ldf3",
                                        "Onarılmış data dosyası: C:\\Kelvora1_DATA.MDF"}));
    // The product files after the repair ran on them are named for that, not as the old ones.
    RepairFiles repaired;
    repaired.dataCopy = "C:\\a.MDF3";
    repaired.logCopy = "C:\\b.ldf3";
    repaired.repairedData = "C:\\a.MDF";
    repaired.repairedLog = "C:\\b.ldf";
    EXPECT_EQ(dataLocationLines(repaired),
              (std::vector<std::string>{"Eski data dosyasının kopyası: C:\\a.MDF3",
                                        "Eski log dosyasının kopyası: C:\\b.ldf3",
                                        "Onarılan data dosyası: C:\\a.MDF",
                                        "Onarılan log dosyası: C:\\b.ldf"}));
    // The log built for the scratch database: the rebuilt file's once there is one.
    RepairFiles scratch;
    scratch.data = "C:\\a.MDF";
    scratch.scratchLog = "C:\\kelvora1_log.ldf4";
    EXPECT_EQ(dataLocationLines(scratch),
              (std::vector<std::string>{"Eski data dosyası: C:\\a.MDF",
                                        "Geçici datanın log dosyası: C:\\kelvora1_log.ldf4"}));
    scratch.rebuilt = "C:\\Kelvora1_DATA.MDF";
    EXPECT_EQ(dataLocationLines(scratch).back(),
              "Onarılmış data dosyasının log dosyası: C:\\kelvora1_log.ldf4");
    EXPECT_EQ(fileErrorText(win::DiskFull), "disk dolu");
    EXPECT_EQ(fileErrorText(1234), "Windows hata kodu 1234");
}

} // namespace
