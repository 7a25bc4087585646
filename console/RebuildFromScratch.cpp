// The rebuild for SQL Server 2000: a scratch database kelvora1 in the root of drive C is put in
// emergency ("bypass") mode through the system catalog, its data file is replaced by a copy of
// the product data file, a new log is built for it at the product log path, it is checked and,
// when needed, repaired allowing data loss; then it is detached and its data file copied to the
// product path, where the final attach finds it.
//
// Each step is checked before the next one runs. The product log file is put aside (renamed, or
// copied and verified) before the new log takes its path, the old data file likewise before the
// rebuilt one takes its place, and nothing that was not checked clean after the repair is ever
// copied to the product path.

#include "console/Unit1.h"
#include "console/copy_progress.h"
#include "console/repair_files.h"
#include "console/repair_statements.h"
#include "dataaccess/MSAccess.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

#include <iterator>
#include <utility>

using namespace kv::console::repair;

void TForm1::RebuildFromScratch(kv::console::RepairFiles& Files, const std::string& Digits) {
    auto& files = FPlatform.files();
    const auto lost = [&] {
        AddLog("Server bağlantısı koptu.");
        StopRepair(Files);
    };

    // 7. The leftover scratch files are gone already (EmergencyRepair removes them before the
    // product database leaves the server).

    // 8.-9. The scratch database.
    if (!RequiredRepairStep(ScratchCreate, "Data oluşturulamadı.", nullptr, Files))
        return;
    AddLog("Kelvora Oluşduruldu.Düzenleme modu başlıyor");

    // 10.-14. Emergency mode through a direct update of the catalog. Their errors say nothing
    // the log rebuild below does not say better, but a lost server ends the rebuild.
    for (const char* statement :
         {AllowUpdatesOn, Reconfigure, EmergencyMode, AllowUpdatesOff, Reconfigure})
        if (RunRepairStatement(statement) == StatementEnd::LinkLost) {
            lost();
            return;
        }

    // 15.-16. The product data file over the scratch data file.
    AddLog("Dosya kopyalanıyor. Disk hatası verirse disk onarma yapınız...");
    {
        kv::console::CopyProgressBar progress(*this);
        if (const int copied = kv::console::shellCopyVerified(files, ProductDataCopyPath,
                                                              ScratchDataPath, progress.callback());
            copied != 0) {
            AddLog("Dosya kopyalanamadı: " +
                   kv::console::fileErrorText(static_cast<kv::platform::ErrorCode>(copied)) + ".");
            StopRepair(Files);
            return;
        }
    }

    // 17. The product log file makes way for the new log; it is kept under the numbered name.
    if (files.fileExists(ProductLogPath)) {
        const std::string kept = std::string(ProductLogPath) + Digits;
        bool copied = false;
        auto moved = kv::console::moveAside(files, ProductLogPath, kept, true, copied);
        if (!moved) {
            if (copied)
                Files.logCopy = kept;
            AddLog("Log dosyası yedeklenemedi: " + kv::console::fileErrorText(moved.code()) + ".");
            StopRepair(Files);
            return;
        }
        Files.log = kept;
        AddLog("Yedek alındı: " + kept);
    }

    // 18.-19. A new log for the scratch database at the product log file's path.
    LastTraceText.clear();
    if (!RequiredRepairStep(LogRebuild, "Log oluşturulamadı.", nullptr, Files))
        return;
    // The product log path now holds the scratch database's log, next to the old data file.
    Files.scratchLog = ProductLogPath;

    // 20.-21. Check, and repair allowing data loss when the check fails.
    LastTraceText.clear();
    switch (RunRepairStatement(ScratchCheck)) {
    case StatementEnd::Done:
        NoteCheckOutcome(true);
        AddLog("Kelvora Veritabanında hata yoktur.");
        break;
    case StatementEnd::LinkLost:
        lost();
        return;
    case StatementEnd::Failed: {
        AddLog("Hata mesajı: " + LastTraceText);
        ShowGuidance();
        AddLog("Onarma başladı.");
        AddLog("---------------");
        // A repair prints every error it repaired as an error of its own, so its outcome is
        // read from the check after it, not from these statements.
        // Single user, repair, twice; a 20 ms pause after each but the last.
        const char* const steps[] = {SingleUser, Repair, SingleUser, Repair};
        for (std::size_t i = 0; i < std::size(steps); ++i) {
            const StatementEnd end = RunRepairStatement(steps[i]);
            if (end == StatementEnd::LinkLost) {
                lost();
                return;
            }
            if (end == StatementEnd::Failed) {
                AddLog(LastTraceText);
                ShowRepairStepGuidance();
            }
            if (i + 1 < std::size(steps))
                FPlatform.clock().sleep(20);
        }
        AddLog("Onarma bitti.");
        LastTraceText.clear();
        if (!RequiredRepairStep(ScratchCheck, "Onarılan veritabanında hâlâ hata var.",
                                "Kelvora Veritabanında hata yoktur.", Files))
            return;
        NoteCheckOutcome(true);
        break;
    }
    }

    // 22. The scratch database off the server; its files stay, and are free to copy.
    if (!RequiredRepairStep(ScratchDetach, "Geçici data koparılamadı.", nullptr, Files))
        return;
    Files.rebuilt = ScratchDataPath;

    // 23. The old data file under its numbered name, or a verified copy there when the rename
    // is refused; without either the rebuilt file must not take its place.
    if (files.fileExists(ProductDataRenamePath)) {
        const std::string kept = std::string(ProductDataRenamePath) + Digits;
        bool copied = false;
        kv::console::CopyProgressBar progress(*this);
        auto moved = kv::console::moveAside(files, ProductDataRenamePath, kept, false, copied,
                                            progress.callback());
        if (!moved) {
            AddLog("Eski data dosyası yedeklenemedi: " + kv::console::fileErrorText(moved.code()) +
                   ".");
            StopRepair(Files);
            return;
        }
        if (copied)
            Files.dataCopy = kept;
        else
            Files.data = kept;
        AddLog("Yedek alındı: " + kept);
    }

    // 24. The rebuilt data file to the product path; the scratch file stays in C:\.
    if (!ShellCopyFile(ScratchDataPath, ProductDataCopyPath)) {
        AddLog(std::string("Dosya başarısız. Data C sürücüsünde kaldı. \"") + ScratchDataPath +
               "\"");
        // The product path holds the old data (its copy was kept) or nothing (it was renamed).
        if (Files.data == ProductDataRenamePath && !files.fileExists(ProductDataRenamePath))
            Files.data.clear();
        StopRepair(Files);
        return;
    }
    AddLog("Dosya kopyalandı.");
    // The product path now holds the rebuilt data, beside the log built for it: a pair. The old
    // data is under its number (moved there, or a verified copy).
    if (Files.data == ProductDataRenamePath)
        Files.data.clear();
    Files.repairedData = ProductDataRenamePath;
    Files.repairedLog = std::exchange(Files.scratchLog, {});

    // 25. Attach the result. A server that goes before the attach is confirmed leaves the files
    // where they are, and the lines say where.
    AttBtn->Click();
    if (!LinkAlive())
        lost();
}
