// The console's main window on a fresh simulated host: the start-up sequence, the service and
// data file panels, the two views of the activity log, the log file, and the sibling programs.
// Messages are compared without their time stamps.

#include "console/Unit1.h"
#include "console_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace kv::e2e {
namespace {

// A user's click: press and release of the left mouse button inside the control.
void userClick(TControl* Control) {
    QWidget* w = Control->Widget();
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

namespace fs = std::filesystem;
namespace ss = platform::ServiceState;
using Lines = std::vector<std::string>;

const Lines StartupOpening = {"Program Açıldı.", "Çalışan programlar kapatılıyor...",
                              "Çalışan programlar kapatıldı.", "Server Kontrol Ediliyor."};

Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ConsoleWindow : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        previousHook_ = TApplication::SetMessageBoxHook([this](const TMessageBoxRequest& box) {
            errorBoxes.push_back(box.Text);
            return mrOk;
        });
    }
    void TearDown() override {
        form.reset();
        TApplication::SetMessageBoxHook(previousHook_);
    }

    // Creates the window, shows it and lets the timer run the start-up sequence.
    void openConsole(const std::string& startupNote = {}) {
        form = std::make_unique<TForm1>(nullptr, host.platform());
        form->SetStartupNote(startupNote);
        form->Show();
        ASSERT_TRUE(waitUntil([&] {
            return !messages().empty() && messages().back().starts_with("Kelvora Datasına");
        })) << "the start-up sequence did not finish";
    }

    Lines logLines() const {
        Lines lines;
        for (int i = 0; i < form->Memo1->Lines()->Count(); ++i)
            lines.push_back(form->Memo1->Lines()->Get(i));
        return lines;
    }
    Lines messages() const {
        Lines result;
        for (const auto& line : logLines())
            result.push_back(messageOf(line));
        return result;
    }
    Lines messagesFrom(size_t first) const {
        const Lines all = messages();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())),
                     all.end());
    }
    std::string srvImgPicture() const { return form->SrvImg->Picture()->Name(); }

    ConsoleHost host;
    std::unique_ptr<TForm1> form;
    std::vector<std::string> errorBoxes;

private:
    TMessageBoxHook previousHook_;
};

// Service running, folder and both files present: the whole sequence and what the panels show.
TEST_F(ConsoleWindow, StartupWithRunningServiceAndAllFiles) {
    host.installService(ServiceKind::Starts);
    host.openStartGate();
    host.openStopGate();
    host.startServiceNow();
    host.makeDataFiles();
    openConsole();

    EXPECT_EQ(messages(),
              concat(StartupOpening,
                     {"Server durumu: Çalışıyor", "Kelvora dosyaları kontrol ediliyor.",
                      "Klasör:Var", "MDF:Var", "LDF:Var", "MsSql Servera bağlanılıyor.",
                      "MsSql Server bağlantı başarısız.", "Kelvora Datasına bağlanılamadı."}));
    EXPECT_EQ(form->Label5->Caption(), "SQL Server");
    EXPECT_EQ(form->SrvNameLB->Caption(), "KELVORA-PC");
    EXPECT_EQ(LocalServerName, "KELVORA-PC");
    EXPECT_EQ(form->SrvDurLB->Caption(), "Çalışıyor");
    EXPECT_EQ(srvImgPicture(), "server_running.svg");
    EXPECT_FALSE(form->SrvBaslatBtn->Enabled());
    EXPECT_TRUE(form->SrvDurdurBtn->Enabled());
    for (TLabel* label : {form->DSklasor, form->DSMdf, form->DSLdf}) {
        EXPECT_EQ(label->Caption(), "Var") << label->Name();
        EXPECT_EQ(label->Font()->Color(), clBlack) << label->Name();
    }
    // This host has no server to answer: the connect fails, so only "Bağlan" is offered.
    EXPECT_TRUE(form->BaglanBTN->Enabled());
    EXPECT_FALSE(form->AttBtn->Enabled());
    EXPECT_FALSE(form->DeattBTN->Enabled());
    EXPECT_FALSE(form->OnarBTN->Enabled());
    EXPECT_TRUE(form->LogBTN->Enabled());
    EXPECT_TRUE(form->KapatBTN->Enabled());
    EXPECT_TRUE(form->DSYenileBtn->Enabled());
    EXPECT_TRUE(host.clock().sleeps().empty());

    // The timer is off: more ticks' worth of time runs nothing again.
    EXPECT_FALSE(form->Timer1->Enabled());
    const size_t count = logLines().size();
    waitUntil([] { return false; }, std::chrono::milliseconds(700));
    EXPECT_EQ(logLines().size(), count);
}

// Where the portable provider stands in for a missing SQL Server provider (a Windows without
// one), the start-up sequence says so once, right after its first line.
TEST_F(ConsoleWindow, StartupTellsTheProviderChoiceOnce) {
    host.installService(ServiceKind::Starts);
    openConsole("MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak.");
    Lines expected = concat(
        StartupOpening, {"Server durumu: Durdurulmuş", "Kelvora dosyaları kontrol ediliyor.",
                         "Klasör:Yok", "MDF:Yok", "LDF:Yok", "Kelvora Datasına bağlanılamadı."});
    expected.insert(expected.begin() + 1, "MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak.");
    EXPECT_EQ(messages(), expected);
    const size_t before = messages().size();
    form->DSYenileBtn->Click();
    for (const auto& line : messagesFrom(before))
        EXPECT_NE(line, "MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak.");
}

// Service stopped and the data folder missing: the sequence still checks everything.
TEST_F(ConsoleWindow, StartupWithStoppedServiceAndMissingFolder) {
    host.installService(ServiceKind::Starts);
    openConsole();

    EXPECT_EQ(messages(),
              concat(StartupOpening,
                     {"Server durumu: Durdurulmuş", "Kelvora dosyaları kontrol ediliyor.",
                      "Klasör:Yok", "MDF:Yok", "LDF:Yok", "Kelvora Datasına bağlanılamadı."}));
    EXPECT_EQ(form->SrvDurLB->Caption(), "Durdurulmuş");
    EXPECT_EQ(srvImgPicture(), "server_stopped.svg");
    EXPECT_TRUE(form->SrvBaslatBtn->Enabled());
    EXPECT_FALSE(form->SrvDurdurBtn->Enabled());
    for (TLabel* label : {form->DSklasor, form->DSMdf, form->DSLdf}) {
        EXPECT_EQ(label->Caption(), "Yok") << label->Name();
        EXPECT_EQ(label->Font()->Color(), clRed) << label->Name();
    }

    // A click from code runs the handler even on a disabled button; stopping a stopped service
    // is refused, so nothing is waited for.
    ASSERT_FALSE(form->SrvDurdurBtn->Enabled());
    const size_t before = messages().size();
    form->SrvDurdurBtn->Click();
    EXPECT_EQ(messagesFrom(before), (Lines{"Server Duruluyor.", "Server Kontrol Ediliyor.",
                                           "Server durumu: Durdurulmuş"}));
    EXPECT_TRUE(host.clock().sleeps().empty());
}

// No service at all, or one stuck in a pending state: "Server Yok", picture 0, both disabled.
TEST_F(ConsoleWindow, MissingOrPendingServiceShowsServerYok) {
    openConsole();
    EXPECT_EQ(form->SrvDurLB->Caption(), "Server Yok");
    EXPECT_EQ(srvImgPicture(), "server_none.svg");
    EXPECT_FALSE(form->SrvBaslatBtn->Enabled());
    EXPECT_FALSE(form->SrvDurdurBtn->Enabled());
    EXPECT_EQ(messages()[4], "Server durumu: Server Yok");

    host.installService(ServiceKind::Hangs);
    host.openStopGate();
    auto& services = host.simulated().services();
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    auto service = services.openService(*manager, "MSSQLSERVER", platform::ServiceAccess::Start);
    ASSERT_TRUE(service && services.start(*service).ok());
    (void)services.close(*service);
    (void)services.close(*manager);
    ASSERT_TRUE(waitUntil([&] { return host.serviceStatus().checkPoint == 1; }));

    form->CheckServiceState();
    EXPECT_EQ(form->SrvDurLB->Caption(), "Server Yok");
    EXPECT_EQ(srvImgPicture(), "server_none.svg");
    EXPECT_FALSE(form->SrvBaslatBtn->Enabled());
    EXPECT_FALSE(form->SrvDurdurBtn->Enabled());
}

// A folder that carries the data file's name is not the data file; "Yenile" after the files
// were restored shows them and logs the four lines again.
TEST_F(ConsoleWindow, RefreshShowsRestoredFiles) {
    fs::create_directories(host.onDisk("C:\\Kelvora\\Data\\kelvora_Data.MDF"));
    openConsole();
    EXPECT_EQ(form->DSklasor->Caption(), "Var");
    EXPECT_EQ(form->DSMdf->Caption(), "Yok");
    EXPECT_EQ(form->DSLdf->Caption(), "Yok");

    fs::remove(host.onDisk("C:\\Kelvora\\Data\\kelvora_Data.MDF"));
    host.makeDataFiles();
    const size_t before = messages().size();
    form->DSYenileBtn->Click();
    EXPECT_EQ(messagesFrom(before),
              (Lines{"Kelvora dosyaları kontrol ediliyor.", "Klasör:Var", "MDF:Var", "LDF:Var"}));
    for (TLabel* label : {form->DSklasor, form->DSMdf, form->DSLdf}) {
        EXPECT_EQ(label->Caption(), "Var") << label->Name();
        EXPECT_EQ(label->Font()->Color(), clBlack) << label->Name();
    }
}

// The log view covers the status panels; "Geri" goes back without saving or clearing anything.
TEST_F(ConsoleWindow, LogViewAndBack) {
    openConsole();
    const Lines before = logLines();
    EXPECT_FALSE(form->Memo1->Visible());
    EXPECT_EQ(form->Memo1->Left(), 296);

    form->LogBTN->Click();
    EXPECT_TRUE(form->Memo1->Visible());
    EXPECT_EQ(form->Memo1->Left(), 0);
    EXPECT_EQ(form->Memo1->Top(), 62);
    EXPECT_EQ(form->Memo1->Width(), 289);
    EXPECT_EQ(form->Memo1->Height(), 310);
    EXPECT_EQ(form->KapatBTN->Caption(), "Geri");
    EXPECT_FALSE(form->OnarBTN->Visible());
    EXPECT_FALSE(form->LogBTN->Visible());

    // Clicking the hidden button from code repeats the same settings.
    form->LogBTN->Click();
    EXPECT_EQ(form->KapatBTN->Caption(), "Geri");
    EXPECT_TRUE(form->Memo1->Visible());

    form->KapatBTN->Click();
    EXPECT_FALSE(form->Memo1->Visible());
    EXPECT_EQ(form->Memo1->Left(), 0);
    EXPECT_EQ(form->KapatBTN->Caption(), "Kapat");
    EXPECT_TRUE(form->OnarBTN->Visible());
    EXPECT_TRUE(form->LogBTN->Visible());
    EXPECT_EQ(logLines(), before);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(fs::exists(host.onDisk("C:\\Halvetor.Log")));
}

// "Kapat" in the status view writes every memo line, typed ones included, in Windows-1254 with
// CR LF, replacing an older file, and closes the window.
TEST_F(ConsoleWindow, KapatSavesTheLogInTheAnsiCodePage) {
    host.makeDataFiles();
    {
        std::ofstream old(host.onDisk("C:\\Halvetor.Log"), std::ios::binary);
        old << "an older run's log that is much longer than nothing\r\n";
    }
    openConsole();
    form->Memo1->Lines()->Add("Kullanıcı notu: İĞÜŞÖÇ ığüşöç");

    std::string expected;
    for (const auto& line : logLines())
        expected += toWindows1254(line) + "\r\n";
    userClick(form->KapatBTN);
    EXPECT_TRUE(errorBoxes.empty());
    EXPECT_FALSE(form->Visible());
    const std::string written = readBytes(host.onDisk("C:\\Halvetor.Log"));
    EXPECT_EQ(written, expected);
    EXPECT_NE(written.find("Program A\xE7\xFDld\xFD.\r\n"), std::string::npos);
}

// Closing through the title bar writes no log file.
TEST_F(ConsoleWindow, TitleBarCloseWritesNothing) {
    openConsole();
    form->Widget()->close();
    EXPECT_TRUE(waitUntil([&] { return !form->Visible(); }));
    EXPECT_FALSE(fs::exists(host.onDisk("C:\\Halvetor.Log")));
}

// A log file that cannot be written: the error box, the window stays, a later click succeeds.
TEST_F(ConsoleWindow, UnwritableLogKeepsTheWindowOpen) {
    fs::create_directories(host.onDisk("C:\\Halvetor.Log"));
    openConsole();
    userClick(form->KapatBTN);
    ASSERT_EQ(errorBoxes.size(), 1u);
    EXPECT_NE(errorBoxes[0].find("Halvetor.Log"), std::string::npos) << errorBoxes[0];
    EXPECT_TRUE(form->Visible());

    fs::remove(host.onDisk("C:\\Halvetor.Log"));
    userClick(form->KapatBTN);
    EXPECT_EQ(errorBoxes.size(), 1u);
    EXPECT_FALSE(form->Visible());
    EXPECT_TRUE(fs::is_regular_file(host.onDisk("C:\\Halvetor.Log")));
}

// A read-only log file from an earlier run is refused as Windows refuses it: the error box names
// the file, the old log stays as it was and the window stays; once writable, a click saves.
TEST_F(ConsoleWindow, ReadOnlyLogIsNotReplaced) {
    const auto log = host.onDisk("C:\\Halvetor.Log");
    {
        std::ofstream old(log, std::ios::binary);
        old << "an older run's log\r\n";
    }
    fs::permissions(log, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    openConsole();
    userClick(form->KapatBTN);
    ASSERT_EQ(errorBoxes.size(), 1u);
    EXPECT_NE(errorBoxes[0].find("Halvetor.Log"), std::string::npos) << errorBoxes[0];
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(readBytes(log), "an older run's log\r\n");

    fs::permissions(log, fs::perms::owner_write, fs::perm_options::add);
    userClick(form->KapatBTN);
    EXPECT_EQ(errorBoxes.size(), 1u);
    EXPECT_FALSE(form->Visible());
    EXPECT_NE(readBytes(log).find("Program A\xE7\xFDld\xFD.\r\n"), std::string::npos);
}

// "Başlat" and "Durdur" on a real service process: the outcome is read only after the first
// 8000 ms sleep, even though the service reaches its state while the console sleeps.
TEST_F(ConsoleWindow, StartAndStopThroughTheButtons) {
    host.installService(ServiceKind::Starts);
    openConsole();
    ASSERT_EQ(form->SrvDurLB->Caption(), "Durdurulmuş");

    host.clock().setOnSleep([&](std::uint32_t) {
        host.openStartGate();
        ASSERT_TRUE(host.waitForServiceState(ss::Running));
    });
    size_t before = messages().size();
    form->SrvBaslatBtn->Click();
    EXPECT_EQ(host.clock().sleeps(), (std::vector<std::uint32_t>{8000}));
    EXPECT_EQ(messagesFrom(before),
              (Lines{"Server Başlatılıyor.", "Server Kontrol Ediliyor.", "Server durumu: Çalışıyor",
                     "MsSql Servera bağlanılıyor.", "MsSql Server bağlantı başarısız.",
                     "Kelvora Datasına bağlanılamadı."}));
    EXPECT_EQ(srvImgPicture(), "server_running.svg");
    EXPECT_FALSE(form->SrvBaslatBtn->Enabled());
    EXPECT_TRUE(form->SrvDurdurBtn->Enabled());

    host.clock().clearSleeps();
    host.clock().setOnSleep([&](std::uint32_t) {
        host.openStopGate();
        ASSERT_TRUE(host.waitForServiceState(ss::Stopped));
    });
    before = messages().size();
    form->SrvDurdurBtn->Click();
    EXPECT_EQ(host.clock().sleeps(), (std::vector<std::uint32_t>{8000}));
    EXPECT_EQ(messagesFrom(before), (Lines{"Server Duruluyor.", "Server Kontrol Ediliyor.",
                                           "Server durumu: Durdurulmuş"}));
    EXPECT_EQ(srvImgPicture(), "server_stopped.svg");
    EXPECT_TRUE(form->SrvBaslatBtn->Enabled());
    EXPECT_FALSE(form->SrvDurdurBtn->Enabled());
}

// The host's service manager, waiting after a start until the service has made its first
// report, so the console's first status query sees the service's own checkpoint.
class SettlingServices final : public platform::ServiceManager {
public:
    SettlingServices(platform::ServiceManager& inner, std::function<void()> settle)
        : inner_(inner), settle_(std::move(settle)) {}
    platform::Result<platform::ServiceHandle> openManager(std::string_view m,
                                                          std::uint32_t a) override {
        return inner_.openManager(m, a);
    }
    platform::Result<platform::ServiceHandle>
    openService(platform::ServiceHandle h, std::string_view n, std::uint32_t a) override {
        return inner_.openService(h, n, a);
    }
    platform::Result<platform::ServiceStatus> queryStatus(platform::ServiceHandle h) override {
        return inner_.queryStatus(h);
    }
    platform::Result<void> start(platform::ServiceHandle h) override {
        auto started = inner_.start(h);
        if (started)
            settle_();
        return started;
    }
    platform::Result<platform::ServiceStatus> controlStop(platform::ServiceHandle h) override {
        return inner_.controlStop(h);
    }
    platform::Result<void> close(platform::ServiceHandle h) override { return inner_.close(h); }

private:
    platform::ServiceManager& inner_;
    std::function<void()> settle_;
};

// A service that gives up its start reports a checkpoint lower than before: the wait ends after
// that one sleep and the panel shows the service stopped.
TEST_F(ConsoleWindow, FallingCheckpointEndsTheStartWait) {
    host.installService(ServiceKind::FailsToStart);
    SettlingServices settling(host.simulated().services(), [&] {
        ASSERT_TRUE(waitUntil([&] { return host.serviceStatus().checkPoint == 5; }));
    });
    host.platform().setServices(&settling);
    openConsole();

    host.clock().setOnSleep([&](std::uint32_t) {
        host.openStartGate();
        ASSERT_TRUE(host.waitForServiceState(ss::Stopped));
    });
    const size_t before = messages().size();
    form->SrvBaslatBtn->Click();
    EXPECT_EQ(host.clock().sleeps(), (std::vector<std::uint32_t>{8000}));
    EXPECT_EQ(form->SrvDurLB->Caption(), "Durdurulmuş");
    EXPECT_EQ(srvImgPicture(), "server_stopped.svg");
    EXPECT_EQ(messagesFrom(before)[1], "Server başlatılamadı, servis durdu.");
}

// A service that dies during its start rests stopped with its checkpoint unchanged: the wait ends
// after the sleep that saw it, with a line that says so, instead of going on for ten minutes.
TEST_F(ConsoleWindow, ServiceDyingDuringItsStartEndsTheWait) {
    host.installService(ServiceKind::Dies);
    openConsole();
    host.clock().setOnSleep([&](std::uint32_t) {
        host.openStartGate();
        ASSERT_TRUE(host.waitForServiceState(ss::Stopped));
    });
    const size_t before = messages().size();
    form->SrvBaslatBtn->Click();
    EXPECT_EQ(host.clock().sleeps(), (std::vector<std::uint32_t>{8000}));
    const Lines m = messagesFrom(before);
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(Lines(m.begin(), m.begin() + 4),
              (Lines{"Server Başlatılıyor.", "Server başlatılamadı, servis durdu.",
                     "Server Kontrol Ediliyor.", "Server durumu: Durdurulmuş"}));
    EXPECT_EQ(form->SrvDurLB->Caption(), "Durdurulmuş");
}

// Real processes named like the product's programs are ended at start-up, every instance and
// whatever the letter case; a program with a similar name is left alone.
TEST_F(ConsoleWindow, StartupEndsTheSiblingPrograms) {
    const pid_t lunta1 = host.startProgramNamed("Lunta33.exe");
    const pid_t lunta2 = host.startProgramNamed("Lunta33.exe");
    const pid_t morvisk2 = host.startProgramNamed("MORVISK2.EXE");
    const pid_t bl1 = host.startProgramNamed("Kelvora.BL1");
    const pid_t similar = host.startProgramNamed("Morvisk3.exe");
    openConsole();

    EXPECT_TRUE(host.endedByKill(lunta1));
    EXPECT_TRUE(host.endedByKill(lunta2));
    EXPECT_TRUE(host.endedByKill(morvisk2));
    EXPECT_TRUE(host.endedByKill(bl1));
    EXPECT_TRUE(host.stillRunning(similar));
    EXPECT_EQ(messages()[1], "Çalışan programlar kapatılıyor...");
    EXPECT_EQ(messages()[2], "Çalışan programlar kapatıldı.");
}

} // namespace
} // namespace kv::e2e
