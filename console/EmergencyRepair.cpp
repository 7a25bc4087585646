// "Onar": the consistency check of the product database and, when it fails, the emergency
// rebuild from the data file alone (a scratch database kelvora1 in the root of drive C, a new
// transaction log, a repair that may lose data, and the attach of the result as kelvora).
//
// Beyond the classic procedure the rebuild keeps what it would otherwise destroy: the old data
// file goes to a numbered name that no earlier rebuild used, the product log file is copied to
// the same numbered name before it is deleted, and when the rename is refused the data file is
// copied there instead, so the copy of the rebuilt file never lands on the only copy of the old
// one.

#include "console/Unit1.h"
#include "console/copy_progress.h"
#include "console/database_names.h"
#include "dataaccess/MSQuery.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

namespace {

constexpr const char* CheckStatement = "dbcc checkdb('kelvora') with no_infomsgs";
constexpr const char* ScratchDetach = "EXEC sp_detach_db 'kelvora1','true'";
constexpr const char* ScratchCreate =
    "CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME ='c:\\kelvora1_Data.MDF') "
    "LOG ON (NAME = 'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')";
constexpr const char* AllowUpdatesOn = "Sp_configure 'allow updates', 1";
constexpr const char* Reconfigure = "Reconfigure with override";
constexpr const char* EmergencyMode =
    "Update sysdatabases set status = 32768 where name = 'KELVORA1'";
constexpr const char* AllowUpdatesOff = "Sp_configure 'allow updates', 0";
constexpr const char* LogRebuild =
    "DBCC REBUILD_LOG(KELVORA1, 'c:\\kelvora\\data\\kelvora_log.ldf')";
constexpr const char* ScratchCheck = "dbcc checkdb('kelvora1') with no_infomsgs";
constexpr const char* SingleUser =
    "ALTER DATABASE kelvora1 SET SINGLE_USER WITH ROLLBACK IMMEDIATE";
constexpr const char* Repair = "DBCC CHECKDB ('kelvora1',REPAIR_ALLOW_DATA_LOSS)";

constexpr const char* ProductDataCopyPath = "C:\\Kelvora\\Data\\Kelvora_DATA.MDF";
constexpr const char* ProductDataRenamePath = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* ProductLogPath = "C:\\Kelvora\\Data\\kelvora_log.ldf";
constexpr const char* ScratchDataLeftover = "C:\\kelvora1_data.mdf";
constexpr const char* ScratchLogLeftover = "C:\\kelvora1_log.ldf";
constexpr const char* ScratchDataPath = "C:\\Kelvora1_DATA.MDF";

} // namespace

void TForm1::OnarBTNClick(TObject* /*Sender*/) {
    const bool userAction = FActionDepth == 0;
    if (userAction)
        FRebuildsInAction = 0;
    ++FActionDepth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{FActionDepth};

    LastTraceText.clear();
    AddLog("--------------------------------");
    AddLog("Data Onarma işlemine başlanıldı.");
    if (!MSCon->Connected()) {
        AddLog("Bağlantı yok.");
        return;
    }
    LastTraceText.clear();
    MSQuery1->Close();
    MSQuery1->SQL()->Clear();
    MSQuery1->SQL()->Add(CheckStatement);
    try {
        MSQuery1->Execute();
        AddLog("Kelvora Veritabanında hata yoktur.");
    } catch (...) {
        if (!LastTraceText.empty()) {
            AddLog("Hata mesajı: " + LastTraceText);
            LogBTN->Click();
            ++FRebuildsInAction;
            EmergencyRepair();
        }
    }
    LogBTN->Click();
}

void TForm1::EmergencyRepair() {
    auto& files = FPlatform.files();
    // Runs one statement on MSQuery1; the text is set outside the trap, only Execute inside.
    const auto prepare = [this](const char* Statement) {
        MSQuery1->Close();
        MSQuery1->SQL()->Clear();
        MSQuery1->SQL()->Add(Statement);
    };
    const auto execute = [this] {
        try {
            MSQuery1->Execute();
            return true;
        } catch (...) {
            return false;
        }
    };
    const auto ignoring = [&](const char* Statement) {
        try {
            prepare(Statement);
            MSQuery1->Execute();
        } catch (...) {
        }
    };

    // 1. The number for the old files, free of every earlier rebuild's kept files.
    RepairSuffix = kv::console::freeRepairSuffix(files, kv::console::drawRepairSuffix(),
                                                 ProductDataRenamePath, ProductLogPath);
    const std::string digits = std::to_string(RepairSuffix);

    // 2. A scratch database left by an earlier run.
    prepare(ScratchDetach);
    execute();

    // 3.-5. Service restart and reconnect.
    SrvDurdurBtn->Click();
    // The stopped server has ended every link to it; closing our end here makes the connects
    // after the start open a fresh link instead of keeping the dead one.
    try {
        MSCon->SetConnected(false);
    } catch (...) {
    }
    SrvBaslatBtn->Click();
    ConnectServer();

    // 6. The product database off the server.
    DeattBTN->Click();

    // 7. Leftover scratch files.
    if (files.fileExists(ScratchLogLeftover))
        (void)files.deleteFile(ScratchLogLeftover);
    if (files.fileExists(ScratchDataLeftover))
        (void)files.deleteFile(ScratchDataLeftover);

    // 8.-9. The scratch database.
    prepare(ScratchCreate);
    if (!execute() && !LastTraceText.empty()) {
        AddLog("Data oluşturulamadı.");
        AddLog("Hata mesajı: " + LastTraceText);
    }
    AddLog("Kelvora Oluşduruldu.Düzenleme modu başlıyor");

    // 10.-14. Emergency mode through a direct update of the catalog.
    ignoring(AllowUpdatesOn);
    ignoring(Reconfigure);
    ignoring(EmergencyMode);
    ignoring(AllowUpdatesOff);
    ignoring(Reconfigure);

    // 15.-16. The product data file over the scratch data file.
    AddLog("Dosya kopyalanıyor. Disk hatası verirse disk onarma yapınız...");
    {
        kv::console::CopyProgressBar progress(*this);
        (void)files.shellCopy(ProductDataCopyPath, ScratchDataPath, progress.callback());
    }

    // 17. The product log file makes way for the new log; its content is kept first.
    if (files.fileExists(ProductLogPath)) {
        (void)files.copyFile(ProductLogPath, std::string(ProductLogPath) + digits, true);
        (void)files.deleteFile(ProductLogPath);
    }

    // 18.-19. A new log for the scratch database at the product log file's path.
    LastTraceText.clear();
    try {
        prepare(LogRebuild);
        MSQuery1->Execute();
    } catch (...) {
        if (!LastTraceText.empty()) {
            AddLog("Log oluşturulamadı.");
            AddLog("Hata mesajı: " + LastTraceText);
        }
    }

    // 20.-21. Check, and repair allowing data loss when the check fails.
    LastTraceText.clear();
    prepare(ScratchCheck);
    try {
        MSQuery1->Execute();
        AddLog("Kelvora Veritabanında hata yoktur.");
    } catch (...) {
        if (!LastTraceText.empty()) {
            AddLog("Hata mesajı: " + LastTraceText);
            AddLog("Onarma başladı.");
            AddLog("---------------");
            const auto step = [&](const char* Statement) {
                prepare(Statement);
                if (!execute())
                    AddLog(LastTraceText);
            };
            step(SingleUser);
            FPlatform.clock().sleep(20);
            step(Repair);
            FPlatform.clock().sleep(20);
            step(SingleUser);
            FPlatform.clock().sleep(20);
            step(Repair);
            AddLog("Onarma bitti.");
        }
    }

    // 22. The scratch database off the server; its files stay.
    prepare(ScratchDetach);
    execute();

    // 23. The old data file under its numbered name. When the rename is refused, a copy under
    // that name keeps it before the copy below replaces it.
    const std::string keptData = ProductDataRenamePath + digits;
    try {
        if (files.fileExists(ProductDataRenamePath) &&
            !files.renameFile(ProductDataRenamePath, keptData) && !files.fileExists(keptData))
            (void)files.copyFile(ProductDataRenamePath, keptData, true);
    } catch (...) {
    }

    // 24. The rebuilt data file to the product path; the scratch file stays in C:\.
    if (ShellCopyFile(ScratchDataPath, ProductDataCopyPath))
        AddLog("Dosya kopyalandı.");
    else
        AddLog(std::string("Dosya başarısız. Data C sürücüsünde kaldı. \"") + ScratchDataPath +
               "\"");

    // 25. Attach the result.
    AttBtn->Click();
}

bool TForm1::ShellCopyFile(const std::string& Source, const std::string& Target) {
    kv::console::CopyProgressBar progress(*this);
    return FPlatform.files().shellCopy(Source, Target, progress.callback()) == 0;
}
