// The rebuild for SQL Server 2005 and later, which refuse direct updates of the system catalog
// (error 259) and no longer know DBCC REBUILD_LOG (error 2526). The product database is
// repaired where it is: both files are first copied to their numbered names and the copies
// verified; then the database is attached again (with a new log when its own cannot be used),
// put in emergency mode and single-user mode, repaired allowing data loss, opened to every user
// again and checked. Nothing is ever copied over the product files; the verified copies keep
// what the repair may throw away.

#include "console/Unit1.h"
#include "console/copy_progress.h"
#include "console/repair_files.h"
#include "console/repair_statements.h"
#include "console/server_errors.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

#include <utility>

using namespace kv::console::repair;

void TForm1::RepairInPlace(kv::console::RepairFiles& Files, const std::string& Digits) {
    auto& files = FPlatform.files();
    const auto lost = [&] {
        AddLog("Server bağlantısı koptu.");
        StopRepair(Files);
    };

    // Copies of both files under the numbered names, verified before anything else happens.
    const auto keepCopy = [&](const char* From, const char* What, std::string& Kept,
                              const kv::platform::CopyProgress& Progress) {
        const std::string copy = std::string(From) + Digits;
        if (auto made = kv::console::copyVerified(files, From, copy, false, Progress); !made) {
            AddLog(std::string(What) +
                   " dosyası yedeklenemedi: " + kv::console::fileErrorText(made.code()) + ".");
            StopRepair(Files);
            return false;
        }
        Kept = copy;
        AddLog("Yedek alındı: " + copy);
        return true;
    };
    AddLog("Dosyalar yedekleniyor. Disk hatası verirse disk onarma yapınız...");
    {
        kv::console::CopyProgressBar progress(*this);
        if (!keepCopy(ProductDataRenamePath, "Data", Files.dataCopy, progress.callback()))
            return;
    }
    if (!Files.log.empty() && !keepCopy(ProductLogPath, "Log", Files.logCopy, {}))
        return;

    // The database back on the server from its own files. A log that the server refuses (missing,
    // unreadable, damaged, or belonging to another data file) is replaced by a new one; its
    // content is in the copy above. Any other refusal stops here with both files as they are.
    LastTraceText.clear();
    switch (RunRepairStatement(Attach)) {
    case StatementEnd::Done:
        break;
    case StatementEnd::LinkLost:
        lost();
        return;
    case StatementEnd::Failed: {
        const bool logRefused = kv::console::attachRefusedForTheLog(
            FLastServerMessages, ProductDataRenamePath, ProductLogPath);
        AddLog("Data bağlanamadı.");
        LogTraceError();
        if (!logRefused) {
            StopRepair(Files);
            return;
        }
        if (files.fileExists(ProductLogPath)) {
            if (auto removed = files.deleteFile(ProductLogPath); !removed) {
                AddLog("Log dosyası silinemedi: " + kv::console::fileErrorText(removed.code()) +
                       ".");
                StopRepair(Files);
                return;
            }
            Files.log.clear();
        }
        AddLog("Log dosyası yeniden oluşturuluyor.");
        LastTraceText.clear();
        if (!RequiredRepairStep(AttachRebuildingLog, "Data bağlanamadı.", nullptr, Files))
            return;
        break;
    }
    }
    AddLog("Data Bağlandı");

    // Emergency mode lets the repair work on a database that recovery would refuse.
    AddLog("Kelvora acil durum moduna alınıyor.");
    LastTraceText.clear();
    if (!RequiredRepairStep(ProductEmergency, nullptr, nullptr, Files))
        return;

    AddLog("Onarma başladı.");
    AddLog("---------------");
    // The repair prints every error it repaired as an error of its own; its outcome is read
    // from the check after it.
    for (const char* statement :
         {ProductSingleUser, ProductRepair, ProductMultiUser, ProductOnline}) {
        if (statement == ProductRepair) {
            // From the repair on, the product files hold its work (all of it, part of it if the
            // server goes while it runs); the old bytes are only in the copies.
            Files.repairedData = std::exchange(Files.data, {});
            Files.log.clear();
            if (files.fileExists(ProductLogPath))
                Files.repairedLog = ProductLogPath;
        }
        LastTraceText.clear();
        const StatementEnd end = RunRepairStatement(statement);
        if (end == StatementEnd::LinkLost) {
            lost();
            return;
        }
        // Setting ONLINE is only a safety net for servers that leave the repaired database
        // in emergency mode; it has nothing to report.
        if (end == StatementEnd::Failed && statement != ProductOnline) {
            AddLog(LastTraceText);
            ShowRepairStepGuidance();
        }
        if (statement == ProductSingleUser)
            FPlatform.clock().sleep(20);
    }
    AddLog("Onarma bitti.");

    LastTraceText.clear();
    if (!RequiredRepairStep(CheckStatement, "Onarılan veritabanında hâlâ hata var.",
                            "Kelvora Veritabanında hata yoktur.", Files))
        return;
    NoteCheckOutcome(true);

    // The panel and the buttons show the attached database. A server that goes before it can
    // tell leaves the repaired files where they are, and the lines say so.
    try {
        CheckDatabase();
    } catch (...) {
        if (LinkAlive()) {
            LogTraceError();
            StopRepair(Files);
        } else {
            lost();
        }
    }
}
