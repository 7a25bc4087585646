// What the console tells a technician beyond its operations' lines, on a simulated host whose
// service is the stand-in SQL Server: the check before the rebuild that refuses a rebuild which
// cannot finish (and then touches nothing), the plain Turkish guidance after the server's
// errors, the last clean check after the start-up connect, and the support bundle.

#include "console/database_names.h"
#include "console_db_fixture.h"
#include "dataaccess/MSSQLMonitor.h"
#include "platform/ServiceManager.h"
#include "platform/posix/FileHold.h"

#include <QApplication>
#include <QDate>
#include <QTest>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace kv::e2e {
namespace {

namespace fs = std::filesystem;

const char* const LogFile = "C:\\Kelvora\\Data\\kelvora_log.ldf";

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string runCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "cannot run " + command;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    status = ::pclose(pipe);
    return output;
}

// The entries of a zip as Python's zipfile reads them, after it has checked every CRC; empty
// (with the reason in `problem`) when the file is no sound zip.
std::map<std::string, std::string> unzipped(const fs::path& zip, std::string& problem) {
    int status = 0;
    const std::string names = runCommand("python3 -c 'import sys, zipfile\n"
                                         "z = zipfile.ZipFile(sys.argv[1])\n"
                                         "bad = z.testzip()\n"
                                         "assert bad is None, bad\n"
                                         "print(\"\\n\".join(z.namelist()))' '" +
                                             zip.string() + "'",
                                         status);
    if (status != 0) {
        problem = names;
        return {};
    }
    const std::string tested = runCommand("unzip -t '" + zip.string() + "'", status);
    if (status != 0) {
        problem = tested;
        return {};
    }
    std::map<std::string, std::string> entries;
    std::size_t at = 0;
    while (at < names.size()) {
        const std::size_t end = names.find('\n', at);
        const std::string name = names.substr(at, end - at);
        at = end == std::string::npos ? names.size() : end + 1;
        if (!name.empty())
            entries[name] = runCommand("unzip -p '" + zip.string() + "' '" + name + "'", status);
    }
    return entries;
}

// The first line after `at` that the console wrote itself: a server's text of several messages
// goes into the log view as one line per message, the ones after the first without a time stamp.
Lines::const_iterator afterRawText(const Lines& lines, Lines::const_iterator at) {
    if (at == lines.end())
        return at;
    ++at;
    while (at != lines.end() && at->starts_with("<no time stamp> "))
        ++at;
    return at;
}

class ConsolePreflight : public ConsoleDatabase {
protected:
    // Every file of drive C outside the server's own folder, byte for byte.
    std::map<std::string, std::string> driveSnapshot() {
        std::map<std::string, std::string> files;
        const fs::path root = host->onDisk("C:\\");
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            if (it->is_directory() && it->path().filename() == "Program Files") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file())
                files[fs::relative(it->path(), root).string()] = readAll(it->path());
        }
        return files;
    }
    // Runs `action` once, before the first statement whose text contains `statement`; every text
    // the monitor reports from now on is in `traced`.
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
    // Whether `statement` went to the server after the last check of the product database.
    bool sentAfterTheCheck(const std::string& statement) const {
        auto from = std::find_if(traced.rbegin(), traced.rend(), [](const std::string& text) {
                        return text.find("dbcc checkdb('kelvora')") != std::string::npos;
                    }).base();
        return std::any_of(from, traced.end(), [&](const std::string& text) {
            return text.find(statement) != std::string::npos;
        });
    }
    Lines clickOnar() {
        const size_t from = mark();
        form->OnarBTN->Click();
        return messagesFrom(from);
    }
    std::string statusText() const { return form->StatusBar1->SimpleText(); }
    // The lines that name the check before the rebuild's refusal are the last two.
    void expectRefusedAtTheEnd(const Lines& m, const std::string& refusal,
                               const std::string& guidance) {
        ASSERT_GE(m.size(), 2u) << joined(m);
        EXPECT_EQ(m[m.size() - 2], refusal) << joined(m);
        EXPECT_EQ(m.back(), "Öneri: " + guidance) << joined(m);
        EXPECT_EQ(std::count(m.begin(), m.end(), refusal), 1) << joined(m);
        EXPECT_EQ(statusText(), guidance);
        // Nothing of the rebuild ran.
        ASSERT_TRUE(std::any_of(traced.begin(), traced.end(), [](const std::string& text) {
            return text.find("dbcc checkdb('kelvora')") != std::string::npos;
        }));
        for (const char* step :
             {"sp_detach_db", "CREATE DATABASE", "SET EMERGENCY", "Sp_configure", "FOR ATTACH"})
            EXPECT_FALSE(sentAfterTheCheck(step)) << step;
        EXPECT_EQ(std::count(m.begin(), m.end(), "Server Duruluyor."), 0) << joined(m);
        EXPECT_EQ(host->serviceState(), platform::ServiceState::Running);
        EXPECT_TRUE(errorBoxes.empty());
    }

    std::vector<std::string> traced;
};

class ConsolePreflightProfiles : public ConsolePreflight,
                                 public ::testing::WithParamInterface<std::string> {};

// A drive too small for the rebuild: after the check's own lines, one line says how much room
// is needed and how much there is, then its guidance; no file changes by a byte, the database
// stays on the server and the buttons stay as they were.
TEST_P(ConsolePreflightProfiles, TooSmallADriveRefusesTheRebuildAndTouchesNothing) {
    open(hostWith("running", "attached", 3, GetParam()));
    const auto buttons = databaseButtons();
    host->setSetting("disk_free", std::to_string(1 << 20));
    const auto before = driveSnapshot();
    beforeStatement({}, {});
    const Lines m = clickOnar();
    ASSERT_GE(m.size(), 6u) << joined(m);
    EXPECT_EQ(Lines(m.begin(), m.begin() + 2),
              (Lines{"--------------------------------", "Data Onarma işlemine başlanıldı."}));
    EXPECT_TRUE(m[2].starts_with("Hata mesajı: Error: ")) << joined(m);
    // The check's own text (a line per message), its guidance, the refusal and its guidance.
    const auto guidance = afterRawText(m, m.begin() + 2);
    ASSERT_EQ(m.end() - guidance, 3) << joined(m);
    EXPECT_EQ(*guidance, "Öneri: Veritabanında bozuk sayfa var. Onarım gerekiyor.") << joined(m);
    const std::string& refusal = *(guidance + 1);
    EXPECT_TRUE(refusal.starts_with("Diskte ") &&
                refusal.ends_with(" boş yer gerekiyor, 1 MB var."))
        << refusal;
    expectRefusedAtTheEnd(m, refusal, "Diskte yer açıp Onar'a yeniden basın.");
    EXPECT_EQ(driveSnapshot(), before);
    EXPECT_EQ(databaseButtons(), buttons);
    EXPECT_EQ(row("select name from master..sysdatabases where name = 'kelvora'", {"name"}),
              (std::vector<std::string>{"kelvora"}));
    // The log view is open, as after every check.
    EXPECT_EQ(form->KapatBTN->Caption(), "Geri");

    // With room again the same click rebuilds.
    host->setSetting("disk_free", std::to_string(1ull << 40));
    const Lines again = clickOnar();
    EXPECT_EQ(again.back(), "Kelvora Datasına bağlanıldı.") << joined(again);
}

// The transaction log fills up while the repair runs (the disk filled after the check before
// the rebuild): the server's 9002 is followed by its guidance, and the rebuild stops safely.
TEST_P(ConsolePreflightProfiles, FullLogDuringTheRepairIsExplained) {
    open(hostWith("running", "attached", 3, GetParam()));
    beforeStatement("REPAIR_ALLOW_DATA_LOSS", [this] { host->setSetting("disk_free", "8192"); });
    const Lines m = clickOnar();
    // The repair's text: the pages it found, then the full log, each on a line of its own.
    const auto full = std::find_if(m.begin(), m.end(), [](const std::string& line) {
        return line.find("is full") != std::string::npos;
    });
    ASSERT_NE(full, m.end()) << joined(m);
    const auto guidance = afterRawText(m, full);
    ASSERT_NE(guidance, m.end()) << joined(m);
    EXPECT_EQ(*guidance, "Öneri: İşlem günlüğü doldu. Yer açıp Onar'a basın.") << joined(m);
    EXPECT_NE(std::find(m.begin(), m.end(), "Onarma durduruldu."), m.end()) << joined(m);
    EXPECT_TRUE(errorBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Profiles, ConsolePreflightProfiles, ::testing::Values("2000", "2005"));

// SQL Server 2000 closes the unused database, so another program can take its log file: the
// check fails on it, and the rebuild is refused with the file and the program named.
TEST_F(ConsolePreflight, LogFileHeldByAnotherProgramRefusesTheRebuild) {
    open(hostWith("running", "attached", 0, "2000"));
    const auto before = driveSnapshot();
    auto held = platform::sim::FileHold::hold(host->onDisk(LogFile));
    ASSERT_TRUE(held) << held.error().message;
    beforeStatement({}, {});
    const Lines m = clickOnar();
    expectRefusedAtTheEnd(
        m, std::string(LogFile) + " dosyası başka bir programda açık: console_db_e2e_tests.",
        "Dosyayı açan programı kapatıp Onar'a basın.");
    held->release();
    EXPECT_EQ(driveSnapshot(), before);
}

// SQL Server 2005 refuses to attach a data file another program holds (5120 with the sharing
// violation): the refusal is explained after its raw text, and the repair that follows is
// refused before it touches anything.
TEST_F(ConsolePreflight, HeldDataFileIsExplainedAfter5120AndRefusesTheRebuild) {
    open(hostWith("running", "detached", 0, "2005"));
    const auto before = driveSnapshot();
    auto held = platform::sim::FileHold::hold(host->onDisk(DataFile));
    ASSERT_TRUE(held) << held.error().message;
    beforeStatement({}, {});
    const size_t from = mark();
    form->AttBtn->Click();
    const Lines m = messagesFrom(from);
    const auto refused = std::find(m.begin(), m.end(), "Yeni veri bağlanılamadı.");
    ASSERT_NE(refused, m.end()) << joined(m);
    ASSERT_GE(m.end() - refused, 4);
    EXPECT_TRUE((refused + 1)->starts_with("Hatası:Error: Unable to open the physical file "))
        << joined(m);
    EXPECT_NE((refused + 1)->find("32(The process cannot access the file"), std::string::npos)
        << *(refused + 1);
    // The server's text goes on with its closing 1802 on a line of its own; the guidance comes
    // right after the text, before the repair starts.
    EXPECT_EQ(*(refused + 2), "<no time stamp> CREATE DATABASE failed. Some file names listed "
                              "could not be created. Check related errors.");
    const auto guidance = afterRawText(m, refused + 1);
    ASSERT_LT(guidance + 1, m.end()) << joined(m);
    EXPECT_EQ(*guidance, "Öneri: Dosya başka programda açık. Programı kapatın.");
    EXPECT_EQ(*(guidance + 1), "--------------------------------");
    expectRefusedAtTheEnd(m,
                          "C:\\Kelvora\\Data\\kelvora_Data.MDF dosyası başka bir programda açık: "
                          "console_db_e2e_tests.",
                          "Dosyayı açan programı kapatıp Onar'a basın.");
    held->release();
    EXPECT_EQ(driveSnapshot(), before);
}

// A refused administrator login: the guidance line after the failure line, and the sentence in
// the status bar, which the window shows at the bottom.
TEST_F(ConsolePreflight, RefusedLoginIsExplainedInTheStatusBar) {
    open(hostWith("running", "attached", 0, "2005", "other"));
    const Lines m = messages();
    const auto failed = std::find(m.begin(), m.end(), "MsSql Server bağlantı başarısız.");
    ASSERT_NE(failed, m.end()) << joined(m);
    ASSERT_NE(failed + 1, m.end());
    EXPECT_EQ(*(failed + 1), "Öneri: Sunucu girişi reddetti. Teknik servise başvurun.");
    EXPECT_EQ(statusText(), "Sunucu girişi reddetti. Teknik servise başvurun.");
    EXPECT_TRUE(form->StatusBar1->SimplePanel());
    EXPECT_TRUE(form->StatusBar1->Visible());
    // The next operation clears what the last one said.
    form->DSYenileBtn->Click();
    EXPECT_EQ(statusText(), "");
}

// SQL Server 2005 keeps when a check last found the database clean: the start-up connect reports
// it in the log and the status bar, with a warning when there never was one or it is more than 30
// days old. SQL Server 2000 keeps nothing: no line, nothing in the status bar.
TEST_F(ConsolePreflight, HealthAfterTheStartupConnect) {
    open(hostWith("running", "attached", 0, "2005"));
    Lines expected = StartupWithDatabase;
    expected.push_back("Uyarı: Veritabanının sağlam bulunduğu bir kontrol kaydı yok. Onar ile "
                       "kontrol edin.");
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(statusText(), "Uyarı: sağlam kontrol kaydı yok. Onar'a basın.");

    // A clean check is recorded; the next start reads it.
    EXPECT_EQ(clickOnar().back(), "Kelvora Veritabanında hata yoktur.");
    form.reset();
    form = std::make_unique<TForm1>(nullptr, host->platform());
    form->Show();
    ASSERT_TRUE(waitUntil([&] { return !messages().empty() && !form->OperationRunning(); }));
    const std::string today = QDate::currentDate().toString("dd.MM.yyyy").toStdString();
    EXPECT_EQ(messages().back(), "Son sağlam veritabanı kontrolü: " + today + " (bugün).");
    EXPECT_EQ(statusText(), "Son sağlam kontrol: " + today + " (bugün).");
}

TEST_F(ConsolePreflight, HealthWarnsAboutAnOldCheck) {
    const QDate old = QDate::currentDate().addDays(-45);
    DatabaseHostOptions options = hostWith("running", "attached", 0, "2005");
    options.lastGoodCheck = old.toString("yyyy-MM-dd").toStdString() + " 09:30:00";
    open(options);
    EXPECT_EQ(messages().back(), "Uyarı: Son sağlam veritabanı kontrolü 45 gün önce (" +
                                     old.toString("dd.MM.yyyy").toStdString() +
                                     "). Onar ile kontrol edin.");
    EXPECT_EQ(statusText(), "Uyarı: sağlam kontrol 45 gün önce. Onar'a basın.");
}

TEST_F(ConsolePreflight, NoHealthLineOnSqlServer2000) {
    DatabaseHostOptions options = hostWith("running", "attached", 0, "2000");
    open(options);
    EXPECT_EQ(messages(), StartupWithDatabase);
    EXPECT_EQ(statusText(), "");
}

// The support bundle from the command line of a machine whose server is stopped: the facts, the
// saved log, its last check and the server's ERRORLOG, in a zip other tools read, and no
// password.
TEST_F(ConsolePreflight, CommandLineBundleOfAStoppedServer) {
    open(hostWith("running", "attached", 0, "2005"));
    EXPECT_EQ(clickOnar().back(), "Kelvora Veritabanında hata yoktur.");
    form->KapatBTN->Click(); // back to the status view
    form->KapatBTN->Click(); // saves the log and closes
    ASSERT_TRUE(host->fileExists("C:\\Halvetor.Log"));
    const std::string savedLog = readAll(host->onDisk("C:\\Halvetor.Log"));
    host->simhost({"service", "stop", "MSSQLSERVER", "--wait", "20000"});
    ASSERT_EQ(host->serviceState(), platform::ServiceState::Stopped);

    const fs::path console =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "kelvora-console";
    int status = 0;
    const std::string output =
        runCommand("'" + console.string() + "' --support-bundle 'C:\\destek.zip'", status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(output, "Destek paketi yazıldı: C:\\destek.zip\n");
    std::string problem;
    const auto entries = unzipped(host->onDisk("C:\\destek.zip"), problem);
    ASSERT_FALSE(entries.empty()) << problem;
    for (const char* name : {"bilgi.txt", "Halvetor.Log", "son-kontrol.txt", "ERRORLOG"})
        EXPECT_EQ(entries.count(name), 1u) << name;
    const std::string& facts = entries.at("bilgi.txt");
    for (const char* fact :
         {"Program: kelvora-console ", "Nereden: komut satırı", "Bilgisayar adı: KELVORA-PC",
          "Servis MSSQLSERVER: durdu", "Sunucu sürümü (kayıt defteri): 9.00.5000.00",
          "ERRORLOG: C:\\Program Files\\Microsoft SQL Server\\MSSQL\\LOG\\ERRORLOG, ",
          "Boş yer C:\\: ", "C:\\Kelvora\\Data\\kelvora_Data.MDF: ",
          "C:\\Kelvora\\Data\\kelvora_log.ldf: ", "C:\\Halvetor.Log: "})
        EXPECT_NE(facts.find(fact), std::string::npos) << fact << "\n" << facts;
    EXPECT_EQ(entries.at("Halvetor.Log"), savedLog);
    EXPECT_NE(entries.at("son-kontrol.txt").find("Data Onarma işlemine başlanıldı."),
              std::string::npos);
    EXPECT_NE(entries.at("ERRORLOG").find("terminating in response to a stop request"),
              std::string::npos);
    for (const auto& [name, data] : entries) {
        EXPECT_EQ(data.find(console::ProductLoginPassword), std::string::npos) << name;
        EXPECT_EQ(data.find("Password=k"), std::string::npos) << name;
        EXPECT_EQ(data.find("PWD=k"), std::string::npos) << name;
    }

    // Without a file name the option says what it wants.
    const std::string usage = runCommand("'" + console.string() + "' --support-bundle", status);
    EXPECT_EQ(WEXITSTATUS(status), 2) << usage;
}

// Ctrl+Shift+D in the window writes the bundle beside the log and says where; it also holds the
// window's log and its record of the last check.
TEST_F(ConsolePreflight, KeyInTheWindowWritesTheBundle) {
    open(hostWith("running", "attached", 2, "2005"));
    host->setSetting("disk_free", "1000");
    (void)clickOnar(); // refused by the check before the rebuild
    form->Widget()->activateWindow();
    QApplication::setActiveWindow(form->Widget());
    const size_t from = mark();
    QTest::keyClick(form->Widget(), Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    const Lines m = messagesFrom(from);
    ASSERT_EQ(m.size(), 1u) << joined(m);
    const std::string prefix = "Destek paketi yazıldı: ";
    ASSERT_TRUE(m[0].starts_with(prefix + "C:\\Kelvora_Destek_")) << m[0];
    const std::string path = m[0].substr(prefix.size());
    EXPECT_EQ(statusText(), "Destek paketi: " + path.substr(3));
    std::string problem;
    const auto entries = unzipped(host->onDisk(path), problem);
    ASSERT_FALSE(entries.empty()) << problem;
    EXPECT_NE(entries.at("bilgi.txt").find("Nereden: pencere (Ctrl+Shift+D)"), std::string::npos);
    EXPECT_NE(entries.at("bilgi.txt").find("Servis MSSQLSERVER: çalışıyor"), std::string::npos);
    EXPECT_NE(entries.at("bilgi.txt").find("Sunucu sürümü (bağlantı): "), std::string::npos);
    EXPECT_NE(entries.at("ekran-gunlugu.txt").find("Diskte "), std::string::npos);
    const std::string& check = entries.at("son-kontrol.txt");
    EXPECT_NE(check.find("Sonuç: hata bulundu"), std::string::npos) << check;
    EXPECT_NE(check.find("Msg 8928: "), std::string::npos) << check;
}

} // namespace
} // namespace kv::e2e
