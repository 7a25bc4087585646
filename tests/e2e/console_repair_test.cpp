// The check and the emergency rebuild under the faults a pharmacy's machine meets: refused
// renames, failed and short copies, a full disk, files held by another program, and the server
// dying in the middle. After each, every byte of the user's old data and log files must still
// exist under a name that the log states, and no line may report a success that did not happen.

#include "console_db_fixture.h"
#include "dataaccess/MSSQLMonitor.h"

#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace kv::e2e {
namespace {

const char* const LogFile = "C:\\Kelvora\\Data\\kelvora_Log.LDF";
const char* const ScratchData = "C:\\Kelvora1_DATA.MDF";

// The user's content of a database file: everything after its header page, whose clean flag
// and version the server rewrites whenever it opens the file.
std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.size() > 8192 ? bytes.substr(8192) : std::string();
}

// The file functions of the host with a hook before each call that names a path; the hook may
// fail the call with a Windows error number, claim success without doing anything (0), or act
// (end the server) and let the call run.
class HookedFiles final : public platform::FileSystem {
public:
    using Hook = std::function<std::optional<platform::ErrorCode>(
        const std::string& call, const std::string& from, const std::string& to)>;
    HookedFiles(platform::FileSystem& real, Hook hook) : real_(real), hook_(std::move(hook)) {}

    bool fileExists(std::string_view path) override { return real_.fileExists(path); }
    bool folderExists(std::string_view path) override { return real_.folderExists(path); }
    platform::Result<std::uint64_t> fileSize(std::string_view path) override {
        return real_.fileSize(path);
    }
    platform::Result<void> copyFile(std::string_view from, std::string_view to,
                                    bool failIfExists) override {
        if (auto code = hook_("copyFile", std::string(from), std::string(to)))
            return outcome(*code);
        return real_.copyFile(from, to, failIfExists);
    }
    platform::Result<void> deleteFile(std::string_view path) override {
        if (auto code = hook_("deleteFile", std::string(path), ""))
            return outcome(*code);
        return real_.deleteFile(path);
    }
    platform::Result<void> renameFile(std::string_view from, std::string_view to) override {
        if (auto code = hook_("renameFile", std::string(from), std::string(to)))
            return outcome(*code);
        return real_.renameFile(from, to);
    }
    platform::Result<void> createFolder(std::string_view path) override {
        return real_.createFolder(path);
    }
    platform::Result<void> clearReadOnly(std::string_view path) override {
        return real_.clearReadOnly(path);
    }
    platform::Result<std::string> readFile(std::string_view path) override {
        return real_.readFile(path);
    }
    platform::Result<void> writeFile(std::string_view path, std::string_view contents) override {
        return real_.writeFile(path, contents);
    }
    int shellCopy(std::string_view from, std::string_view to,
                  const platform::CopyProgress& progress) override {
        if (auto code = hook_("shellCopy", std::string(from), std::string(to)))
            return static_cast<int>(*code);
        return real_.shellCopy(from, to, progress);
    }
    // The questions of the check before the rebuild go to the host unhooked.
    platform::Result<platform::FileInfo> fileInfo(std::string_view path) override {
        return real_.fileInfo(path);
    }
    platform::Result<std::uint64_t> freeSpace(std::string_view folder) override {
        return real_.freeSpace(folder);
    }
    platform::Result<std::vector<platform::FileHolder>>
    fileHolders(std::string_view path) override {
        return real_.fileHolders(path);
    }

private:
    static platform::Result<void> outcome(platform::ErrorCode code) {
        if (code == 0)
            return platform::success();
        return platform::Error{code, "hooked"};
    }

    platform::FileSystem& real_;
    Hook hook_;
};

bool samePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class ConsoleRepair : public ConsoleDatabase {
protected:
    // Opens the console on a damaged host and remembers the user's files as they are.
    void openDamaged(const std::string& profile, int damaged = 3) {
        open(hostWith("running", "attached", damaged, profile));
        originalData = contentOf(host->onDisk(DataFile));
        originalLog = contentOf(host->onDisk(LogFile));
        ASSERT_FALSE(originalData.empty());
        ASSERT_FALSE(originalLog.empty());
    }
    void hookFiles(HookedFiles::Hook hook) {
        hooked = std::make_unique<HookedFiles>(host->simulated().files(), std::move(hook));
        host->platform().setFiles(hooked.get());
    }
    // Runs `action` once, before the first statement whose text contains `statement` is sent.
    // From then on every text the monitor reports is in `traced`.
    void beforeStatement(const std::string& statement, std::function<void()> action) {
        form->MSSQLMonitor1->OnSQL = [this, statement, action,
                                      done = false](TObject* sender, const std::string& text,
                                                    dataaccess::TDATraceFlag flag) mutable {
            form->MSSQLMonitor1SQL(sender, text, flag);
            traced.push_back(text);
            if (!done && action && text.find(statement) != std::string::npos) {
                done = true;
                action();
            }
        };
    }
    std::vector<std::string> rebuild() {
        const size_t from = mark();
        form->OnarBTN->Click();
        return messagesFrom(from);
    }

    // The paths the log gives for the user's files.
    static std::vector<std::string> statedPaths(const Lines& lines) {
        static const char* const prefixes[] = {
            "Yedek alındı: ", "Eski data dosyası: ", "Eski data dosyasının kopyası: ",
            "Eski log dosyası: ", "Eski log dosyasının kopyası: "};
        std::vector<std::string> paths;
        for (const auto& line : lines)
            for (const char* prefix : prefixes)
                if (line.starts_with(prefix))
                    paths.push_back(line.substr(std::string(prefix).size()));
        return paths;
    }
    // Every byte of the old data file and of the old log file is in a file the log names.
    void expectUserDataStated(const Lines& lines) {
        const auto paths = statedPaths(lines);
        const auto heldIn = [&](const std::string& content) {
            for (const auto& p : paths)
                if (host->fileExists(p) && contentOf(host->onDisk(p)) == content)
                    return true;
            return false;
        };
        EXPECT_TRUE(heldIn(originalData)) << "old data not found under a stated name\n"
                                          << joined(lines);
        EXPECT_TRUE(heldIn(originalLog)) << "old log not found under a stated name\n"
                                         << joined(lines);
    }
    // A rebuild that stopped: the stop lines, and no success after the first failure.
    void expectStopped(const Lines& lines) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Onarma durduruldu."), lines.end())
            << joined(lines);
        // After the product database went off the server, nothing claims it is back and sound.
        const auto detached = std::find(lines.begin(), lines.end(), "Data Koparıldı");
        for (const char* success : {"Dosya kopyalandı.", "Data Bağla işlemine başlanıldı.",
                                    "Kelvora Datasına bağlanıldı."})
            EXPECT_EQ(std::count(detached, lines.end(), success), 0) << success << "\n"
                                                                     << joined(lines);
        EXPECT_EQ(lines.back(), "Dosyaları yedekleyip teknik servise başvurun.") << joined(lines);
        expectFilesNamedByContent(lines);
        // The product path holds the old data or nothing (never an empty or unrepaired copy),
        // unless the lines name it as the file the repair ran on.
        if (host->fileExists(DataFile) &&
            std::count(lines.begin(), lines.end(),
                       "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF") == 0) {
            EXPECT_EQ(contentOf(host->onDisk(DataFile)), originalData) << joined(lines);
        }
        expectUserDataStated(lines);
        EXPECT_TRUE(errorBoxes.empty());
    }
    // After a stop that follows the log rebuild of SQL Server 2000, the log built for the scratch
    // database has left the product log path (which holds the old log or nothing, so the
    // product's pair of files never mixes two databases), and the line `label` names where it is.
    void expectScratchLogApart(const Lines& lines, const std::string& label) {
        if (host->fileExists(LogFile)) {
            EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog) << joined(lines);
        }
        const auto at = std::find_if(lines.begin(), lines.end(),
                                     [&](const std::string& l) { return l.starts_with(label); });
        ASSERT_NE(at, lines.end()) << label << "\n" << joined(lines);
        const std::string path = at->substr(label.size());
        EXPECT_TRUE(path.starts_with("C:\\kelvora1_log.ldf")) << path;
        EXPECT_TRUE(host->fileExists(path)) << path;
    }
    // Every file a line names as the old data or log file, or as a copy of one, holds exactly
    // that.
    void expectFilesNamedByContent(const Lines& lines) {
        const std::pair<const char*, const std::string*> named[] = {
            {"Eski data dosyası: ", &originalData},
            {"Eski data dosyasının kopyası: ", &originalData},
            {"Eski log dosyası: ", &originalLog},
            {"Eski log dosyasının kopyası: ", &originalLog}};
        for (const auto& line : lines)
            for (const auto& [prefix, content] : named)
                if (line.starts_with(prefix)) {
                    const std::string path = line.substr(std::string(prefix).size());
                    ASSERT_TRUE(host->fileExists(path)) << line << "\n" << joined(lines);
                    EXPECT_TRUE(contentOf(host->onDisk(path)) == *content)
                        << line << " does not hold what it is named for\n"
                        << joined(lines);
                }
    }

    // Only `traced`, no action.
    void traceStatements() { beforeStatement({}, {}); }
    // Overwrites the header page of a database file with bytes that are no header at all.
    void garbleHeader(const std::string& windowsPath) {
        std::fstream file(host->onDisk(windowsPath),
                          std::ios::binary | std::ios::in | std::ios::out);
        const std::string garbage(8192, '\xEE');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
        ASSERT_TRUE(file.good()) << windowsPath;
    }
    bool sent(const std::string& statement) const {
        return std::any_of(traced.begin(), traced.end(), [&](const std::string& text) {
            return text.find(statement) != std::string::npos;
        });
    }
    // The line right after the first line `first`, or "" when there is none.
    static std::string lineAfter(const Lines& lines, const std::string& first) {
        const auto at = std::find(lines.begin(), lines.end(), first);
        return at == lines.end() || at + 1 == lines.end() ? std::string() : *(at + 1);
    }

    std::string originalData;
    std::string originalLog;
    std::unique_ptr<HookedFiles> hooked;
    std::vector<std::string> traced;
};

class ConsoleRepairProfiles : public ConsoleRepair,
                              public ::testing::WithParamInterface<std::string> {};

// A damaged database is rebuilt in either profile: attached at the end, consistent, and the old
// files kept under the names the log gives.
TEST_P(ConsoleRepairProfiles, RebuildEndsAttachedConsistentAndNamesTheOldFiles) {
    openDamaged(GetParam());
    const Lines m = rebuild();
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Onarma durduruldu."), 0) << joined(m);
    expectUserDataStated(m);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
    // The advice given for the damage gave way to the outcome.
    EXPECT_EQ(form->StatusBar1->SimpleText(), "Veritabanında hata yok.");
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// "Durdur", then "Onar": the check fails only because the link is dead. Nothing is rebuilt.
TEST_P(ConsoleRepairProfiles, CheckOnADeadLinkNeverStartsTheRebuild) {
    openDamaged(GetParam(), 0);
    form->SrvDurdurBtn->Click();
    const Lines m = rebuild();
    EXPECT_EQ(m, (Lines{"--------------------------------", "Data Onarma işlemine başlanıldı.",
                        "Bağlantı yok."}))
        << joined(m);
    EXPECT_TRUE(form->Memo1->Visible());
    EXPECT_EQ(contentOf(host->onDisk(DataFile)), originalData);
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog);
}

// The server restarted behind the console's back: a fresh link, the check again, no rebuild.
TEST_P(ConsoleRepairProfiles, CheckAfterAServerRestartReconnectsAndChecksAgain) {
    openDamaged(GetParam(), 0);
    host->simhost({"service", "stop", "MSSQLSERVER", "--wait", "20000"});
    host->simhost({"service", "start", "MSSQLSERVER", "--wait", "20000"});
    const Lines m = rebuild();
    EXPECT_EQ(m, (Lines{"--------------------------------", "Data Onarma işlemine başlanıldı.",
                        "Bağlantı yenilendi.", "Kelvora Veritabanında hata yoktur."}))
        << joined(m);
}

// The copies of the old files fail on a full disk: the rebuild stops before anything is
// replaced, and says where the files are. (The disk fills up after the check before the
// rebuild found room; a disk that is full before it is refused by that check.)
TEST_P(ConsoleRepairProfiles, FullDiskStopsTheRebuildWithTheFilesInPlace) {
    openDamaged(GetParam());
    beforeStatement("sp_detach_db 'kelvora1'", [this] {
        host->setSetting("disk_free", std::to_string(originalLog.size() / 2));
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(form->StatusBar1->SimpleText(), "Veritabanında hata yok.");
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog) << joined(m);
}

// The old log file can be neither renamed nor copied (held by another program): it stays, and
// nothing after that failure runs.
TEST_P(ConsoleRepairProfiles, HeldLogFileStopsTheRebuild) {
    openDamaged(GetParam());
    hookFiles([](const std::string& call, const std::string& from,
                 const std::string&) -> std::optional<platform::ErrorCode> {
        if ((call == "renameFile" || call == "copyFile") && samePath(from, LogFile))
            return platform::win::SharingViolation;
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog);
    EXPECT_TRUE(std::any_of(m.begin(), m.end(), [](const std::string& l) {
        return l == "Log dosyası yedeklenemedi: dosya başka bir program tarafından kullanılıyor.";
    })) << joined(m);
}

// The server dies before the statement that would repair the database.
TEST_P(ConsoleRepairProfiles, ServerDyingBeforeTheRepairStopsTheRebuild) {
    openDamaged(GetParam());
    beforeStatement("REPAIR_ALLOW_DATA_LOSS", [this] { host->killService(); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Server bağlantısı koptu."), m.end()) << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Onarma bitti."), 0) << joined(m);
    if (GetParam() == "2000")
        expectScratchLogApart(m, "Geçici datanın log dosyası: ");
}

INSTANTIATE_TEST_SUITE_P(Profiles, ConsoleRepairProfiles, ::testing::Values("2000", "2005"));

// SQL Server 2000: the scratch database's create, the step-16 copy, the log rebuild and the
// final copy each fail in turn.
TEST_F(ConsoleRepair, ServerDyingAtTheScratchCreateStopsBeforeAnyFileIsTouched) {
    openDamaged("2000");
    beforeStatement("CREATE DATABASE kelvora1", [this] { host->killService(); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Kelvora Oluşduruldu.Düzenleme modu başlıyor"), 0)
        << joined(m);
}

// The scratch database does not fit on the disk: the server refuses the create with the full
// disk as its reason and leaves no scratch file; the rebuild stops there with the user's files
// untouched where the log says they are.
TEST_F(ConsoleRepair, FullDiskAtTheScratchCreateStopsWithTheReason) {
    openDamaged("2000");
    // The disk fills up after the check before the rebuild found room.
    beforeStatement("sp_detach_db 'kelvora1'", [this] { host->setSetting("disk_free", "100000"); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Data oluşturulamadı."), m.end()) << joined(m);
    EXPECT_TRUE(std::any_of(m.begin(), m.end(), [](const std::string& l) {
        return l.find("There is not enough space on the disk.") != std::string::npos;
    })) << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Kelvora Oluşduruldu.Düzenleme modu başlıyor"), 0)
        << joined(m);
    EXPECT_FALSE(host->fileExists(ScratchData));
    EXPECT_FALSE(host->fileExists("C:\\kelvora1_log.ldf"));
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog) << joined(m);
}

TEST_F(ConsoleRepair, FailedCopyOverTheScratchFileStops) {
    openDamaged("2000");
    host->setSetting("fail_shell_copy", std::string("112 ") + ScratchData);
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Dosya kopyalanamadı: disk dolu."), m.end())
        << joined(m);
    // No check ran on the empty scratch database.
    EXPECT_EQ(std::count(m.begin(), m.end(), "Kelvora Veritabanında hata yoktur."), 0) << joined(m);
}

TEST_F(ConsoleRepair, ServerDyingAtTheLogStepsStopsWithTheLogKept) {
    openDamaged("2000");
    // The server ends while the old log is put aside; the log rebuild then finds no server.
    hookFiles([this](const std::string& call, const std::string& from,
                     const std::string&) -> std::optional<platform::ErrorCode> {
        if (call == "renameFile" && samePath(from, "C:\\Kelvora\\Data\\kelvora_log.ldf"))
            host->killService();
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Server bağlantısı koptu."), m.end()) << joined(m);
}

// The old log is copied aside but stays at its path (a rename that claims success and does
// nothing): the server refuses to build the new log over it, and the rebuild says why.
TEST_F(ConsoleRepair, RefusedLogRebuildIsReportedWithItsReason) {
    openDamaged("2000");
    hookFiles([this](const std::string& call, const std::string& from,
                     const std::string& to) -> std::optional<platform::ErrorCode> {
        if (call == "renameFile" && samePath(from, "C:\\Kelvora\\Data\\kelvora_log.ldf")) {
            (void)host->simulated().files().copyFile(from, to, true);
            return 0;
        }
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    const auto at = std::find(m.begin(), m.end(), "Log oluşturulamadı.");
    ASSERT_NE(at, m.end()) << joined(m);
    ASSERT_NE(at + 1, m.end());
    EXPECT_TRUE((at + 1)->starts_with("Hata mesajı: Error: ")) << *(at + 1);
}

// The old data file can be neither renamed nor copied: the rebuilt file stays in C:\ and the old
// one at the product path, and the log names both.
TEST_F(ConsoleRepair, OldDataFileThatCannotBeKeptIsNeverReplaced) {
    openDamaged("2000");
    host->setSetting("fail_rename_file", std::string("5 ") + DataFile);
    // Every copy of the old data file fails, except the one onto the scratch file.
    hookFiles([](const std::string& call, const std::string& from,
                 const std::string& to) -> std::optional<platform::ErrorCode> {
        if ((call == "copyFile" || call == "shellCopy") && samePath(from, DataFile) &&
            !samePath(to, ScratchData))
            return platform::win::DiskFull;
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_EQ(contentOf(host->onDisk(DataFile)), originalData);
    EXPECT_NE(std::find(m.begin(), m.end(), std::string("Onarılmış data dosyası: ") + ScratchData),
              m.end())
        << joined(m);
    EXPECT_EQ(host->check(ScratchData), "consistent");
    expectScratchLogApart(m, "Onarılmış data dosyasının log dosyası: ");
}

// A refused rename is made up for by a verified copy, and the rebuild goes on to the end.
TEST_F(ConsoleRepair, RefusedRenamesAreMadeUpForByVerifiedCopies) {
    openDamaged("2000");
    host->setSetting("fail_rename_file", "5");
    const Lines m = rebuild();
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    expectUserDataStated(m);
}

// The copy of the rebuilt file to the product path fails after the old file was renamed.
TEST_F(ConsoleRepair, FailedFinalCopyNamesTheRebuiltAndTheOldFile) {
    openDamaged("2000");
    hookFiles([](const std::string& call, const std::string&,
                 const std::string& to) -> std::optional<platform::ErrorCode> {
        if (call == "shellCopy" && samePath(to, "C:\\Kelvora\\Data\\Kelvora_DATA.MDF"))
            return platform::win::DiskFull;
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(),
                        "Dosya başarısız. Data C sürücüsünde kaldı. \"C:\\Kelvora1_DATA.MDF\""),
              m.end())
        << joined(m);
    EXPECT_FALSE(host->fileExists(DataFile));
    expectScratchLogApart(m, "Onarılmış data dosyasının log dosyası: ");
}

// The log built for the scratch database cannot leave the product log path: the stop lines say
// so and name it there for what it is.
TEST_F(ConsoleRepair, ScratchLogThatCannotBeMovedIsNamedWhereItIs) {
    openDamaged("2000");
    hookFiles([](const std::string& call, const std::string&,
                 const std::string& to) -> std::optional<platform::ErrorCode> {
        if (call == "shellCopy" && samePath(to, "C:\\Kelvora\\Data\\Kelvora_DATA.MDF"))
            return platform::win::DiskFull;
        if ((call == "renameFile" || call == "copyFile") && to.starts_with("C:\\kelvora1_log"))
            return platform::win::SharingViolation;
        return std::nullopt;
    });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_TRUE(inOrder(m, {"Log dosyası taşınamadı: dosya başka bir program tarafından "
                            "kullanılıyor.",
                            "Onarma durduruldu.",
                            "Onarılmış data dosyasının log dosyası: "
                            "C:\\Kelvora\\Data\\kelvora_log.ldf"}))
        << joined(m);
}

// SQL Server 2005: the emergency statement fails with the server gone.
TEST_F(ConsoleRepair, ServerDyingAtTheEmergencyStepStopsIn2005) {
    openDamaged("2005");
    beforeStatement("SET EMERGENCY", [this] { host->killService(); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Onarma başladı."), 0) << joined(m);
}

// SQL Server 2005: the attach after the backups is refused because the data file's header is
// no database header. Nothing blames the log, so no new log is built: the rebuild stops with the
// server's own error, and both product files stay where and as they are.
TEST_F(ConsoleRepair, AttachRefusedForTheDataFileStopsWithBothFilesInPlaceIn2005) {
    openDamaged("2005");
    beforeStatement("FOR ATTACH", [this] { garbleHeader(DataFile); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_TRUE(lineAfter(m, "Data bağlanamadı.")
                    .starts_with("Hata mesajı: Error: The header for file "
                                 "'c:\\kelvora\\data\\kelvora_data.mdf' is not a valid database "
                                 "file header."))
        << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Log dosyası yeniden oluşturuluyor."), 0) << joined(m);
    EXPECT_FALSE(sent("ATTACH_REBUILD_LOG"));
    ASSERT_TRUE(host->fileExists(LogFile)) << joined(m);
    EXPECT_EQ(contentOf(host->onDisk(LogFile)), originalLog);
    EXPECT_EQ(contentOf(host->onDisk(DataFile)), originalData);
    EXPECT_NE(std::find(m.begin(), m.end(), "Eski log dosyası: C:\\Kelvora\\Data\\kelvora_log.ldf"),
              m.end())
        << joined(m);
}

// SQL Server 2005: the attach is refused because the log is not the data file's (its header is
// unreadable). The refusal is logged, then the log is rebuilt and the rebuild ends attached, with
// the old log in its verified copy.
TEST_F(ConsoleRepair, AttachRefusedForTheLogLogsTheRefusalAndBuildsANewLogIn2005) {
    openDamaged("2005");
    beforeStatement("FOR ATTACH", [this] { garbleHeader(LogFile); });
    const Lines m = rebuild();
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_TRUE(lineAfter(m, "Data bağlanamadı.")
                    .starts_with("Hata mesajı: Error: One or more files do not match the primary "
                                 "file of the database."))
        << joined(m);
    EXPECT_TRUE(
        inOrder(m, {"Data bağlanamadı.", "Log dosyası yeniden oluşturuluyor.", "Data Bağlandı",
                    "Onarma bitti.", "Kelvora Veritabanında hata yoktur."}))
        << joined(m);
    expectUserDataStated(m);
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// SQL Server 2005 repairs the product files where they are: once the repair has run, the stop
// lines name them as the repaired files (the old bytes are only in the copies), whether the
// server dies after the repair or the file is found damaged again by the check after it.
TEST_F(ConsoleRepair, ServerDyingAfterTheRepairNamesTheProductFilesAsRepairedIn2005) {
    openDamaged("2005");
    beforeStatement("SET MULTI_USER", [this] { host->killService(); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Server bağlantısı koptu."), m.end()) << joined(m);
    EXPECT_TRUE(inOrder(m, {"Onarma durduruldu.",
                            "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF",
                            "Onarılan log dosyası: C:\\Kelvora\\Data\\kelvora_log.ldf"}))
        << joined(m);
    EXPECT_FALSE(std::any_of(m.begin(), m.end(), [](const std::string& l) {
        return l.starts_with("Eski data dosyası: ") || l.starts_with("Eski log dosyası: ");
    })) << joined(m);
    // The repair did rewrite the product data file.
    EXPECT_NE(contentOf(host->onDisk(DataFile)), originalData);
}

TEST_F(ConsoleRepair, DamageFoundAfterTheRepairNamesTheProductFilesAsRepairedIn2005) {
    openDamaged("2005");
    beforeStatement("SET ONLINE", [this] { host->simhost({"damage", DataFile, "2"}); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_TRUE(
        inOrder(m, {"Onarma bitti.", "Onarılan veritabanında hâlâ hata var.", "Onarma durduruldu.",
                    "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF",
                    "Onarılan log dosyası: C:\\Kelvora\\Data\\kelvora_log.ldf"}))
        << joined(m);
    EXPECT_FALSE(std::any_of(m.begin(), m.end(), [](const std::string& l) {
        return l.starts_with("Eski data dosyası: ") || l.starts_with("Eski log dosyası: ");
    })) << joined(m);
}

// SQL Server 2000 with a read-only product data file: the scratch file and the rebuilt file are
// the rebuild's own and come out writable, so the next "Onar" removes the leftover scratch file
// and rebuilds again.
TEST_F(ConsoleRepair, ReadOnlyDataFilePassesItsAttributeToNoFileTheRebuildMakes) {
    openDamaged("2000");
    const auto writable = [this](const std::string& windowsPath) {
        return (std::filesystem::status(host->onDisk(windowsPath)).permissions() &
                std::filesystem::perms::owner_write) != std::filesystem::perms::none;
    };
    host->simhost({"attrib", DataFile, "+r"});
    ASSERT_FALSE(writable(DataFile));
    const Lines first = rebuild();
    EXPECT_EQ(first.back(), "Kelvora Datasına bağlanıldı.") << joined(first);
    EXPECT_TRUE(writable(ScratchData));
    EXPECT_TRUE(writable(DataFile));

    host->simhost({"damage", DataFile, "2"});
    const Lines second = rebuild();
    EXPECT_EQ(second.back(), "Kelvora Datasına bağlanıldı.") << joined(second);
    EXPECT_EQ(std::count(second.begin(), second.end(), "Onarma durduruldu."), 0) << joined(second);
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// A leftover scratch file that cannot be removed stops the rebuild before the product database
// leaves the server, with a line that names the file.
TEST_F(ConsoleRepair, LeftoverScratchFileThatCannotBeRemovedStopsBeforeTheDetach) {
    openDamaged("2000");
    const std::string leftover = "C:\\kelvora1_data.mdf";
    { std::ofstream(host->onDisk(leftover)) << "an earlier run's scratch file"; }
    // It becomes read-only after the check before the rebuild, which refuses such a file.
    beforeStatement("sp_detach_db 'kelvora1'", [&] { host->simhost({"attrib", leftover, "+r"}); });
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_TRUE(inOrder(m, {"Geçici dosya silinemedi: C:\\kelvora1_data.mdf (erişim engellendi).",
                            "Onarma durduruldu."}))
        << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Data Koparma işlemine başlanıldı."), 0) << joined(m);
    EXPECT_FALSE(sent("sp_detach_db 'kelvora','true'"));
    EXPECT_FALSE(sent("CREATE DATABASE kelvora1"));
    EXPECT_EQ(row("select name from master..sysdatabases where name = 'kelvora'", {"name"}),
              (std::vector<std::string>{"kelvora"}));
    EXPECT_TRUE(host->fileExists(leftover));
}

// While the rebuild runs, the user's clicks on the action buttons and "Kapat" do nothing and
// the title bar's close waits for the end; the log holds every line of the rebuild.
TEST_F(ConsoleRepair, UserInputWaitsForTheRebuild) {
    openDamaged("2000");
    bool clicked = false;
    beforeStatement("CREATE DATABASE kelvora1", [&] {
        clicked = true;
        QTest::mouseClick(form->KapatBTN->Widget(), Qt::LeftButton);
        QTest::mouseClick(form->OnarBTN->Widget(), Qt::LeftButton);
        QTest::mouseClick(form->SrvDurdurBtn->Widget(), Qt::LeftButton);
        form->SrvDurdurBtn->Widget()->setFocus();
        QTest::keyClick(form->SrvDurdurBtn->Widget(), Qt::Key_Space);
        form->Widget()->close();
    });
    const Lines m = rebuild();
    ASSERT_TRUE(clicked);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Data Onarma işlemine başlanıldı."), 1) << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Server Duruluyor."), 1) << joined(m);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_EQ(form->KapatBTN->Caption(), "Geri"); // the log view is still open
    // The close that waited runs now. It was asked for during a rebuild, so it saves the log
    // first: the log alone tells which numbered file holds what.
    EXPECT_TRUE(form->Widget()->isVisible());
    std::string expected;
    for (int i = 0; i < form->Memo1->Lines()->Count(); ++i)
        expected += toWindows1254(form->Memo1->Lines()->Get(i)) + "\r\n";
    waitUntil([&] { return !form->Widget()->isVisible(); });
    EXPECT_FALSE(form->Widget()->isVisible());
    ASSERT_TRUE(host->fileExists("C:\\Halvetor.Log"));
    EXPECT_EQ(host->simulated().files().readFile("C:\\Halvetor.Log").valueOr(""), expected);
    EXPECT_TRUE(errorBoxes.empty());
}

// The log cannot be written when that close comes: the error box names the file and the window
// stays open with the log, as after "Kapat".
TEST_F(ConsoleRepair, TitleBarCloseAfterARebuildWithAnUnwritableLogKeepsTheWindow) {
    openDamaged("2000");
    std::filesystem::create_directories(host->onDisk("C:\\Halvetor.Log"));
    beforeStatement("CREATE DATABASE kelvora1", [&] { form->Widget()->close(); });
    const Lines m = rebuild();
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_TRUE(waitUntil([&] { return !errorBoxes.empty(); }));
    ASSERT_EQ(errorBoxes.size(), 1u);
    EXPECT_NE(errorBoxes[0].find("Halvetor.Log"), std::string::npos) << errorBoxes[0];
    EXPECT_TRUE(form->Widget()->isVisible());
}

// Keys typed into the log view while the rebuild writes it never become part of the log (a
// Return would split a line); once the rebuild is over, the log view takes typing again.
TEST_F(ConsoleRepair, LogViewTakesNoTypingDuringTheRebuild) {
    openDamaged("2000");
    auto* editor = form->Memo1->Editor();
    bool typed = false;
    beforeStatement("Sp_configure 'allow updates', 1", [&] {
        typed = true;
        editor->setFocus();
        QTest::keyClicks(editor, "xyz");
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClicks(editor, "qw");
    });
    const Lines m = rebuild();
    ASSERT_TRUE(typed);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    // Every line is a time stamp, one blank and a message the console wrote.
    for (int i = 0; i < form->Memo1->Lines()->Count(); ++i) {
        const std::string line = form->Memo1->Lines()->Get(i);
        EXPECT_EQ(line.find("xyz"), std::string::npos) << line;
        EXPECT_EQ(line.find("qw"), std::string::npos) << line;
        EXPECT_NE(messageOf(line), line) << line;
    }
    EXPECT_TRUE(inOrder(m, {"Kelvora Oluşduruldu.Düzenleme modu başlıyor",
                            "Dosya kopyalanıyor. Disk hatası verirse disk onarma yapınız..."}))
        << joined(m);

    const int before = form->Memo1->Lines()->Count();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, "not");
    ASSERT_EQ(form->Memo1->Lines()->Count(), before + 1);
    EXPECT_EQ(form->Memo1->Lines()->Get(before), "not");
}

// A close from the title bar during a check that finds nothing to rebuild waits for the check
// and closes without writing the log, as any close from the title bar does.
TEST_F(ConsoleRepair, TitleBarCloseDuringAHealthyCheckSavesNoLog) {
    openDamaged("2000", 0);
    beforeStatement("dbcc checkdb('kelvora')", [&] { form->Widget()->close(); });
    const Lines m = rebuild();
    EXPECT_EQ(m.back(), "Kelvora Veritabanında hata yoktur.") << joined(m);
    waitUntil([&] { return !form->Widget()->isVisible(); });
    EXPECT_FALSE(form->Widget()->isVisible());
    EXPECT_FALSE(host->fileExists("C:\\Halvetor.Log"));
}

// SQL Server 2005 refuses the attach of a data file whose log is missing; the repair attaches it
// with a new log and ends with the database on the server.
TEST_F(ConsoleRepair, RefusedAttachIn2005EndsAttachedWithANewLog) {
    open(hostWith("running", "detached", 0, "2005"));
    std::filesystem::remove(host->onDisk(LogFile));
    const size_t from = mark();
    form->AttBtn->Click();
    const Lines m = messagesFrom(from);
    EXPECT_TRUE(
        inOrder(m, {"Yeni veri bağlanılamadı.", "Data Onarma işlemine başlanıldı.",
                    "Data bağlanamadı.", "Log dosyası yeniden oluşturuluyor.", "Data Bağlandı",
                    "Onarma bitti.", "Kelvora Veritabanında hata yoktur."}))
        << joined(m);
    // The refusal that made the rebuild give up the log names the missing log.
    EXPECT_TRUE(lineAfter(m, "Data bağlanamadı.")
                    .starts_with("Hata mesajı: Error: Unable to open the physical file "
                                 "\"c:\\kelvora\\data\\kelvora_log.ldf\"."))
        << joined(m);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(host->fileExists(LogFile));
}

// "Başlat" connects and then checks the database, so the panel tells the truth.
TEST_F(ConsoleRepair, StartingTheServiceChecksTheDatabase) {
    open(hostWith("stopped", "attached"));
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, false, false}));
    const size_t from = mark();
    form->SrvBaslatBtn->Click();
    const Lines m = messagesFrom(from);
    EXPECT_EQ(Lines(m.end() - 4, m.end()),
              (Lines{"MsSql Servera bağlanılıyor.", "MsSql Server bağlanıldı.",
                     "Kelvora Datası Kontrol ediliyor.", "Kelvora Datasına bağlanıldı."}))
        << joined(m);
    expectLabel(form->DBKel, "Başarılı", clBlack);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
}

// Faults the fault campaign found (tools/fault-campaign.sh), each as the scenario it found.

// SQL Server 2000: the copy of the rebuilt file to the product path fails after the old data
// file went to its numbered name, so no data file is left at the product path. The next "Onar"
// stops as well, and its lines name no file that is not there.
TEST_F(ConsoleRepair, RebuildAfterAFailedFinalCopyNamesOnlyFilesThatExist) {
    openDamaged("2000");
    bool failFinalCopy = true;
    hookFiles([&](const std::string& call, const std::string&,
                  const std::string& to) -> std::optional<platform::ErrorCode> {
        if (failFinalCopy && call == "shellCopy" &&
            samePath(to, "C:\\Kelvora\\Data\\Kelvora_DATA.MDF"))
            return platform::win::DiskFull;
        return std::nullopt;
    });
    const Lines first = rebuild();
    expectStopped(first);
    ASSERT_FALSE(host->fileExists(DataFile));

    failFinalCopy = false;
    const Lines second = rebuild();
    EXPECT_EQ(second.back(), "Dosyaları yedekleyip teknik servise başvurun.") << joined(second);
    for (const auto& line : second)
        for (const char* prefix : {"Eski data dosyası: ", "Eski log dosyası: "})
            if (line.starts_with(prefix)) {
                EXPECT_TRUE(host->fileExists(line.substr(std::string(prefix).size())))
                    << line << "\n"
                    << joined(second);
            }
    Lines both = first;
    both.insert(both.end(), second.begin(), second.end());
    expectUserDataStated(both);
}

// The same start: the next "Onar" finds no data file to rebuild from. It stops before it
// touches anything, so the rebuilt file that the first run named in the scratch file's place is
// not removed as a leftover of an earlier run.
TEST_F(ConsoleRepair, RebuildWithoutADataFileKeepsTheEarlierRebuiltFile) {
    openDamaged("2000");
    bool failFinalCopy = true;
    hookFiles([&](const std::string& call, const std::string&,
                  const std::string& to) -> std::optional<platform::ErrorCode> {
        if (failFinalCopy && call == "shellCopy" &&
            samePath(to, "C:\\Kelvora\\Data\\Kelvora_DATA.MDF"))
            return platform::win::DiskFull;
        return std::nullopt;
    });
    const Lines first = rebuild();
    ASSERT_NE(std::find(first.begin(), first.end(),
                        std::string("Onarılmış data dosyası: ") + ScratchData),
              first.end())
        << joined(first);
    const std::string rebuilt = contentOf(host->onDisk(ScratchData));

    failFinalCopy = false;
    const Lines second = rebuild();
    EXPECT_TRUE(
        inOrder(second, {"Data dosyası bulunamadı: C:\\Kelvora\\Data\\kelvora_Data.MDF",
                         "Onarma durduruldu.", "Dosyaları yedekleyip teknik servise başvurun."}))
        << joined(second);
    EXPECT_EQ(std::count(second.begin(), second.end(), "Server Duruluyor."), 0) << joined(second);
    ASSERT_TRUE(host->fileExists(ScratchData));
    EXPECT_EQ(contentOf(host->onDisk(ScratchData)), rebuilt);
    EXPECT_EQ(host->check(ScratchData), "consistent");
}

// SQL Server 2000: the server ends right after the rebuilt database was attached, before the
// login of the product is made and the panel shows the database. The last lines say the link
// went and name the rebuilt pair of files at the product paths and the kept old files, instead
// of ending on "Kelvora Datasına bağlanılamadı.".
TEST_F(ConsoleRepair, ServerEndingAfterTheFinalAttachIn2000StopsWithTheFilesNamed) {
    openDamaged("2000");
    beforeStatement("sp_addlogin", [this] { host->killService(); });
    const Lines m = rebuild();
    EXPECT_TRUE(inOrder(m, {"Dosya kopyalandı.", "Data Bağlandı", "Server bağlantısı koptu.",
                            "Onarma durduruldu.",
                            "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF",
                            "Onarılan log dosyası: C:\\Kelvora\\Data\\kelvora_log.ldf"}))
        << joined(m);
    EXPECT_EQ(m.back(), "Dosyaları yedekleyip teknik servise başvurun.") << joined(m);
    expectFilesNamedByContent(m);
    expectUserDataStated(m);
    // The pair stayed together at the product paths.
    EXPECT_TRUE(host->fileExists(LogFile));
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// The same, when the old data file could not be renamed and went to its number as a verified
// copy: the product path holds the rebuilt file, so no line names it as the old data.
TEST_F(ConsoleRepair, ServerEndingAfterTheFinalAttachNeverNamesTheRebuiltFileAsTheOldData) {
    openDamaged("2000");
    host->setSetting("fail_rename_file", std::string("32 ") + DataFile);
    beforeStatement("sp_addlogin", [this] { host->killService(); });
    const Lines m = rebuild();
    EXPECT_TRUE(inOrder(m, {"Dosya kopyalandı.", "Server bağlantısı koptu.", "Onarma durduruldu.",
                            "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF"}))
        << joined(m);
    EXPECT_EQ(
        std::count(m.begin(), m.end(), "Eski data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF"), 0)
        << joined(m);
    expectFilesNamedByContent(m);
    expectUserDataStated(m);
}

// SQL Server 2005: the server ends right after the repaired database passed its check, before
// the panel could show it. The last lines say the link went and name the repaired files and the
// copies of the old ones, instead of ending on a check that never answered.
TEST_F(ConsoleRepair, ServerEndingAfterTheFinalCheckIn2005StopsWithTheFilesNamed) {
    openDamaged("2005");
    form->MSSQLMonitor1->OnSQL = [this, done = false](TObject* sender, const std::string& text,
                                                      dataaccess::TDATraceFlag flag) mutable {
        form->MSSQLMonitor1SQL(sender, text, flag);
        const Lines m = messages();
        if (!done && text.find("FROM sysdatabases s") != std::string::npos &&
            std::find(m.begin(), m.end(), "Onarma bitti.") != m.end()) {
            done = true;
            host->killService();
        }
    };
    const Lines m = rebuild();
    expectStopped(m);
    EXPECT_TRUE(inOrder(m, {"Onarma bitti.", "Kelvora Veritabanında hata yoktur.",
                            "Kelvora Datası Kontrol ediliyor.", "Server bağlantısı koptu.",
                            "Onarma durduruldu.",
                            "Onarılan data dosyası: C:\\Kelvora\\Data\\kelvora_Data.MDF"}))
        << joined(m);
}

// SQL Server 2005: the server ends after the repair, before the database is opened to every
// user again; it stays in emergency and single-user mode. The next "Onar" finds it consistent
// but does not stop at "no errors": it takes the database through the repair's steps again and
// ends with it open to the product.
TEST_F(ConsoleRepair, DatabaseLeftInEmergencyModeIsOpenedAgainByTheNextRepairIn2005) {
    openDamaged("2005");
    beforeStatement("SET MULTI_USER", [this] { host->killService(); });
    const Lines first = rebuild();
    expectStopped(first);
    form->SrvBaslatBtn->Click();
    ASSERT_EQ(row("select name from master..sysdatabases where name = 'kelvora'", {"name"}),
              (std::vector<std::string>{"kelvora"}));
    const Lines second = rebuild();
    EXPECT_TRUE(inOrder(second, {"Kelvora Veritabanında hata yoktur.",
                                 "Kelvora Datası acil durum veya tek kullanıcı modunda kalmış.",
                                 "Onarma bitti."}))
        << joined(second);
    EXPECT_EQ(second.back(), "Kelvora Datasına bağlanıldı.") << joined(second);
    const auto status =
        row("select status from master..sysdatabases where name = 'kelvora'", {"status"});
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(std::stoi(status[0]) & (32768 | 4096), 0) << status[0];
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

} // namespace
} // namespace kv::e2e
