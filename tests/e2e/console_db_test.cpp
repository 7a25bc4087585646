// The console's database work on a simulated host whose MSSQLSERVER service is the stand-in SQL
// Server: connecting at start-up, the database check, attach and detach with the product login,
// and the consistency check with its emergency rebuild. Messages are compared without their time
// stamps.

#include "console_db_fixture.h"

#include <fstream>

namespace kv::e2e {
namespace {

TEST_F(ConsoleDatabase, StartupConnectsAndFindsTheAttachedDatabase) {
    open();
    EXPECT_EQ(messages(), StartupWithDatabase);
    expectLabel(form->DBAna, "Başarılı", clBlack);
    expectLabel(form->DBKel, "Başarılı", clBlack);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(form->MSCon->Connected());
    EXPECT_EQ(form->MSCon->Database(), "master");
    EXPECT_EQ(form->MSCon->Username(), "sa");
    EXPECT_EQ(form->MSCon->Server(), LocalServerName);
    EXPECT_TRUE(errorBoxes.empty());

    // A second connect on the open connection logs the attempt and the success again.
    const size_t from = mark();
    form->ConnectServer();
    form->ConnectServer();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"MsSql Servera bağlanılıyor.", "MsSql Server bağlanıldı.",
                     "MsSql Servera bağlanılıyor.", "MsSql Server bağlanıldı."}));
    expectLabel(form->DBAna, "Başarılı", clBlack);
    EXPECT_FALSE(form->BaglanBTN->Enabled());
}

TEST_F(ConsoleDatabase, StartupWithTheServiceStoppedMakesNoConnectAttempt) {
    open(hostWith("stopped", "attached"));
    const Lines m = messages();
    EXPECT_EQ(std::count(m.begin(), m.end(), "MsSql Servera bağlanılıyor."), 0) << joined(m);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanılamadı.");
    expectLabel(form->DBAna, "Başarısız", clRed);
    expectLabel(form->DBKel, "Başarısız", clRed);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, false, false}));
}

TEST_F(ConsoleDatabase, WrongAdministratorPasswordEnablesTheConnectButton) {
    open(hostWith("running", "attached", 0, "2000", "other"));
    const Lines m = messages();
    ASSERT_GE(m.size(), 4u);
    // The refused login (18456) is explained in plain Turkish after the failure line.
    EXPECT_EQ(Lines(m.end() - 4, m.end()),
              (Lines{"MsSql Servera bağlanılıyor.", "MsSql Server bağlantı başarısız.",
                     "Öneri: Sunucu girişi reddetti. Teknik servise başvurun.",
                     "Kelvora Datasına bağlanılamadı."}));
    expectLabel(form->DBAna, "Başarısız", clRed);
    expectLabel(form->DBKel, "Başarısız", clRed);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(errorBoxes.empty());
}

TEST_F(ConsoleDatabase, AttachProvisionsTheProductLoginAndDetachUndoesTheAttach) {
    open(hostWith("running", "detached"));
    EXPECT_EQ(messages().back(), "Kelvora Datasına bağlanılamadı.");
    expectLabel(form->DBKel, "Başarısız", clRed);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, true, false, false}));

    size_t from = mark();
    form->AttBtn->Click();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"Data Bağla işlemine başlanıldı.", "Data Bağlandı",
                     "Kelvora Datası Kontrol ediliyor.", "Kelvora Datasına bağlanıldı."}));
    expectLabel(form->DBKel, "Başarılı", clBlack);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(row("select name, dbname, sysadmin from syslogins where name = 'kelvora'",
                  {"name", "dbname", "sysadmin"}),
              (std::vector<std::string>{"kelvora", "kelvora", "1"}));

    from = mark();
    form->DeattBTN->Click();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"Data Koparma işlemine başlanıldı.", "Data Koparıldı",
                     "Kelvora Datası Kontrol ediliyor.", "Kelvora Datasına bağlanılamadı."}));
    expectLabel(form->DBKel, "Başarısız", clRed);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, true, false, false}));

    // A second detach is refused by the server: the error line carries the trace text.
    from = mark();
    form->DeattBTN->Click();
    const Lines refused = messagesFrom(from);
    ASSERT_EQ(refused.size(), 4u) << joined(refused);
    EXPECT_EQ(refused[1], "Koparılamadı.");
    EXPECT_TRUE(refused[2].starts_with("Hata mesajı: Error: ")) << refused[2];
    // The server's 15010 explained after its own text.
    EXPECT_EQ(refused[3], "Öneri: Veritabanı sunucuda yok. Data Bağla'ya basın.");
    EXPECT_TRUE(errorBoxes.empty());
}

TEST_F(ConsoleDatabase, AttachWithoutConnectionOrDataFileSendsNothing) {
    open(hostWith("running", "detached"));
    // The data file missing: the panel says so in red.
    std::filesystem::rename(host->onDisk(DataFile), host->onDisk(DataFile).string() + ".away");
    size_t from = mark();
    form->AttBtn->Click();
    EXPECT_EQ(messagesFrom(from), (Lines{"Data Bağla işlemine başlanıldı.",
                                         "Dosya eksik. Bağlamak için dosya tamamlayın."}));
    expectLabel(form->DBKel, "Dosya eksik.", clRed);

    // Disconnected: one line and nothing else.
    form->MSCon->SetConnected(false);
    from = mark();
    form->AttBtn->Click();
    form->DeattBTN->Click();
    form->OnarBTN->Click();
    EXPECT_EQ(messagesFrom(from), (Lines{"Data Bağla işlemine başlanıldı.", "Bağlantı yok.",
                                         "Data Koparma işlemine başlanıldı.", "Bağlantı yok.",
                                         "--------------------------------",
                                         "Data Onarma işlemine başlanıldı.", "Bağlantı yok."}));
    expectLabel(form->DBKel, "Dosya eksik.", clRed);
    EXPECT_FALSE(form->Memo1->Visible()); // the log view stays closed
}

TEST_F(ConsoleDatabase, CheckOfAHealthyDatabase) {
    open();
    const size_t from = mark();
    form->OnarBTN->Click();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"--------------------------------", "Data Onarma işlemine başlanıldı.",
                     "Kelvora Veritabanında hata yoktur."}));
    EXPECT_TRUE(form->Memo1->Visible());
    EXPECT_EQ(form->KapatBTN->Caption(), "Geri");
    EXPECT_TRUE(host->clock().sleeps().empty());
}

TEST_F(ConsoleDatabase, DamagedDatabaseIsRebuiltAndAttachedAgain) {
    open(hostWith("running", "attached", 3));
    EXPECT_EQ(host->check(DataFile), "3 damaged pages");
    const size_t from = mark();
    form->OnarBTN->Click();
    const Lines m = messagesFrom(from);
    EXPECT_TRUE(inOrder(m, {"--------------------------------",
                            "Data Onarma işlemine başlanıldı.",
                            "Server Duruluyor.",
                            "Server durumu: Durdurulmuş",
                            "Server Başlatılıyor.",
                            "Server durumu: Çalışıyor",
                            "MsSql Server bağlanıldı.",
                            "MsSql Server bağlanıldı.",
                            "Data Koparma işlemine başlanıldı.",
                            "Data Koparıldı",
                            "Kelvora Datasına bağlanılamadı.",
                            "Kelvora Oluşduruldu.Düzenleme modu başlıyor",
                            "Dosya kopyalanıyor. Disk hatası verirse disk onarma yapınız...",
                            "Onarma başladı.",
                            "---------------",
                            "Onarma bitti.",
                            "Dosya kopyalandı.",
                            "Data Bağla işlemine başlanıldı.",
                            "Data Bağlandı",
                            "Kelvora Datası Kontrol ediliyor.",
                            "Kelvora Datasına bağlanıldı."}))
        << joined(m);
    ASSERT_GE(m.size(), 3u);
    EXPECT_TRUE(m[2].starts_with("Hata mesajı: Error: ")) << m[2];
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    expectLabel(form->DBKel, "Başarılı", clBlack);
    EXPECT_TRUE(form->Memo1->Visible());

    // The rebuilt database is consistent; the old data file is kept under a numbered name, the
    // old log file beside it, and the scratch data file stays in the root of drive C.
    form->MSCon->SetConnected(false);
    const std::string kept = std::string(DataFile) + std::to_string(form->RepairSuffix);
    EXPECT_GE(form->RepairSuffix, 1);
    EXPECT_LE(form->RepairSuffix, 80);
    EXPECT_EQ(host->check(kept), "3 damaged pages");
    EXPECT_TRUE(host->fileExists("C:\\Kelvora\\Data\\kelvora_log.ldf" +
                                 std::to_string(form->RepairSuffix)));
    EXPECT_TRUE(host->fileExists("C:\\Kelvora1_DATA.MDF"));
    // The 8000 ms service waits ran on the fake clock; the three 20 ms pauses of the repair too.
    EXPECT_EQ(std::count(host->clock().sleeps().begin(), host->clock().sleeps().end(), 20u), 3);
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// SQL Server 2005 refuses the catalog update and DBCC REBUILD_LOG: the database is repaired where
// it is, in emergency mode, after both files were copied to the numbered names.
TEST_F(ConsoleDatabase, RebuildInThe2005ProfileRepairsInPlace) {
    open(hostWith("running", "attached", 2, "2005"));
    const size_t from = mark();
    form->OnarBTN->Click();
    const Lines m = messagesFrom(from);
    const std::string digits = std::to_string(form->RepairSuffix);
    EXPECT_TRUE(
        inOrder(m, {"Data Koparıldı", "Yedek alındı: " + std::string(DataFile) + digits,
                    "Yedek alındı: C:\\Kelvora\\Data\\kelvora_log.ldf" + digits, "Data Bağlandı",
                    "Kelvora acil durum moduna alınıyor.", "Onarma başladı.", "Onarma bitti.",
                    "Kelvora Veritabanında hata yoktur.", "Kelvora Datasına bağlanıldı."}))
        << joined(m);
    EXPECT_EQ(std::count(m.begin(), m.end(), "Kelvora Oluşduruldu.Düzenleme modu başlıyor"), 0);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    expectLabel(form->DBKel, "Başarılı", clBlack);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(errorBoxes.empty());
    EXPECT_EQ(row("select name from sysdatabases where name = 'kelvora'", {"name"}),
              (std::vector<std::string>{"kelvora"}));
    form->MSCon->SetConnected(false);
    EXPECT_EQ(host->check(std::string(DataFile) + digits), "2 damaged pages");
    form.reset();
    EXPECT_EQ(host->check(DataFile), "consistent");
}

// The server refuses the attach (the log file is missing): the failure lines, then the repair,
// whose rebuild makes a new log and ends with the database attached.
TEST_F(ConsoleDatabase, RefusedAttachStartsTheRepair) {
    open(hostWith("running", "detached"));
    std::filesystem::remove(host->onDisk("C:\\Kelvora\\Data\\kelvora_Log.LDF"));
    const size_t from = mark();
    form->AttBtn->Click();
    const Lines m = messagesFrom(from);
    ASSERT_GE(m.size(), 4u) << joined(m);
    EXPECT_EQ(m[0], "Data Bağla işlemine başlanıldı.");
    EXPECT_EQ(m[1], "Yeni veri bağlanılamadı.");
    EXPECT_TRUE(m[2].starts_with("Hatası:Error: ")) << m[2];
    EXPECT_TRUE(
        inOrder(m, {"--------------------------------", "Data Onarma işlemine başlanıldı.",
                    "Server Duruluyor.", "Kelvora Oluşduruldu.Düzenleme modu başlıyor",
                    "Dosya kopyalandı.", "Data Bağla işlemine başlanıldı.", "Data Bağlandı"}))
        << joined(m);
    EXPECT_EQ(m.back(), "Kelvora Datasına bağlanıldı.") << joined(m);
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, true, true}));
}

// Every numbered name of 1..80 is taken by earlier rebuilds: the old data file goes to a free
// number above them and none of the earlier files is overwritten.
TEST_F(ConsoleDatabase, RebuildNeverOverwritesAnEarlierKeptDataFile) {
    open(hostWith("running", "attached", 1));
    const std::string kept = host->onDisk(DataFile).string();
    for (int n = 1; n <= 80; ++n) {
        std::ofstream out(kept + std::to_string(n));
        out << "earlier " << n;
    }
    form->OnarBTN->Click();
    EXPECT_EQ(form->RepairSuffix, 81);
    EXPECT_EQ(host->check(std::string(DataFile) + "81"), "1 damaged pages");
    for (int n = 1; n <= 80; ++n) {
        std::ifstream in(kept + std::to_string(n));
        std::string word, number;
        in >> word >> number;
        EXPECT_EQ(number, std::to_string(n));
    }
    EXPECT_EQ(messages().back(), "Kelvora Datasına bağlanıldı.");
}

} // namespace
} // namespace kv::e2e

namespace kv::e2e {
namespace {

// "Durdur" leaves the connection as it is; the server that "Başlat" starts is a new process, so
// that connection is dead. The start connects anew instead of reporting the dead one as connected
// and then losing it at the database check (which left "Başarılı" on the panel and had "Data
// Kopar" answer "Bağlantı yok.").
TEST_F(ConsoleDatabase, StartAfterStopConnectsAnewAndFindsTheDatabase) {
    open();
    form->SrvDurdurBtn->Click();
    ASSERT_EQ(form->SrvDurLB->Caption(), "Durdurulmuş");
    size_t from = mark();
    form->SrvBaslatBtn->Click();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"Server Başlatılıyor.", "Server Kontrol Ediliyor.", "Server durumu: Çalışıyor",
                     "MsSql Servera bağlanılıyor.", "MsSql Server bağlanıldı.",
                     "Kelvora Datası Kontrol ediliyor.", "Kelvora Datasına bağlanıldı."}));
    EXPECT_TRUE(form->MSCon->Connected());
    expectLabel(form->DBKel, "Başarılı", clBlack);

    from = mark();
    form->DeattBTN->Click();
    EXPECT_EQ(messagesFrom(from),
              (Lines{"Data Koparma işlemine başlanıldı.", "Data Koparıldı",
                     "Kelvora Datası Kontrol ediliyor.", "Kelvora Datasına bağlanılamadı."}));
}

} // namespace
} // namespace kv::e2e
