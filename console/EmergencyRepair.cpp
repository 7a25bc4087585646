// "Onar": the consistency check of the product database and, when it fails, the emergency
// rebuild: the service restarted, the product database detached, and then the rebuild that
// the server's version allows (RebuildFromScratch.cpp for SQL Server 2000, RepairInPlace.cpp
// for 2005 and later), ending with the database attached again.
//
// The rebuild never destroys or replaces the only copy of a file: the old data and log files go
// to numbered names (or verified copies) before anything takes their place, every file step and
// every statement is checked, and a step that fails ends the rebuild with lines that say where
// each file with the user's data now is. Only a check that fails on a live link starts it.

#include "console/Unit1.h"
#include "console/copy_progress.h"
#include "console/database_names.h"
#include "console/guidance.h"
#include "console/repair_files.h"
#include "console/repair_statements.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/OLEDBAccess.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

using namespace kv::console::repair;

namespace {

// SQL Server 2005 reports major version 9.
constexpr int FirstInPlaceRepairVersion = 9;

// Whether the product database is in emergency or single-user mode (sysdatabases.status 32768
// and 4096): where an in-place repair that the server's end interrupted leaves it, consistent
// but closed to the product's own connections.
bool leftInRepairModes(kv::dataaccess::TMSQuery* query) {
    try {
        query->Close();
        query->SQL()->Clear();
        query->SQL()->Add("select status from master..sysdatabases where name = 'kelvora'");
        query->Open();
        const bool closed = query->RecordCount() > 0 &&
                            (std::stoi(query->FieldText(0, "status")) & (32768 | 4096)) != 0;
        query->Close();
        return closed;
    } catch (...) {
        return false;
    }
}

} // namespace

void TForm1::OnarBTNClick(TObject* /*Sender*/) {
    const OperationScope operation(*this);
    const bool userAction = FActionDepth == 0;
    if (userAction) {
        FRebuildsInAction = 0;
        FCleanCheckInAction = false;
    }
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
    // The check; a failure counts only when the link survived it.
    const auto check = [this] {
        LastTraceText.clear();
        const StatementEnd end = RunRepairStatement(CheckStatement);
        NoteCheckOutcome(end == StatementEnd::Done);
        if (end == StatementEnd::Done)
            AddLog("Kelvora Veritabanında hata yoktur.");
        if (end == StatementEnd::Failed && !LinkAlive())
            return StatementEnd::LinkLost;
        return end;
    };
    StatementEnd outcome = check();
    if (outcome == StatementEnd::LinkLost) {
        // A link that died (the server stopped or restarted) says nothing about the database:
        // open a fresh one and check again, once.
        try {
            MSCon->SetConnected(false);
        } catch (...) {
        }
        try {
            MSCon->SetConnected(true);
        } catch (...) {
        }
        if (MSCon->Connected()) {
            AddLog("Bağlantı yenilendi.");
            outcome = check();
        }
    }
    const auto rebuild = [this] {
        LogBTN->Click();
        // Nothing is touched unless the rebuild can run to its end.
        if (!RebuildPreflight())
            return;
        ++FRebuildsInAction;
        FRebuildInOperation = true;
        EmergencyRepair();
    };
    if (outcome == StatementEnd::LinkLost) {
        AddLog("Bağlantı yok.");
    } else if (outcome == StatementEnd::Failed && !LastTraceText.empty()) {
        // The check's own error text (the link probe keeps it).
        AddLog("Hata mesajı: " + LastTraceText);
        ShowGuidance();
        rebuild();
    } else if (outcome == StatementEnd::Done && leftInRepairModes(MSQuery2)) {
        // A sound database that an interrupted repair left closed to the product: the rebuild
        // goes through the repair's steps again, to their end.
        AddLog("Kelvora Datası acil durum veya tek kullanıcı modunda kalmış.");
        rebuild();
    }
    // A damage found on the way was repaired: the status bar says so instead of the advice.
    if (userAction && FCleanCheckInAction && MSCon->Connected() && DBKel->Caption() == "Başarılı")
        ShowStatusText(kv::console::CleanDatabaseStatusText);
    LogBTN->Click();
}

TForm1::StatementEnd TForm1::RunRepairStatement(const std::string& Statement) {
    FLastErrorFatal = false;
    FLastServerMessages.clear();
    MSQuery1->Close();
    MSQuery1->SQL()->Clear();
    MSQuery1->SQL()->Add(Statement);
    try {
        MSQuery1->Execute();
        return StatementEnd::Done;
    } catch (...) {
        return FLastErrorFatal || !MSCon->Connected() ? StatementEnd::LinkLost
                                                      : StatementEnd::Failed;
    }
}

bool TForm1::LinkAlive() {
    if (!MSCon->Connected())
        return false;
    // The probe's trace replaces the failure text the caller may still want.
    const std::string kept = LastTraceText;
    FLastErrorFatal = false;
    bool alive = false;
    try {
        MSQuery2->Close();
        MSQuery2->SQL()->Clear();
        MSQuery2->SQL()->Add("select 1");
        MSQuery2->Execute();
        alive = true;
    } catch (...) {
    }
    LastTraceText = kept;
    return alive && !FLastErrorFatal && MSCon->Connected();
}

std::optional<bool> TForm1::ProductDatabaseAttached() {
    try {
        MSQuery2->Close();
        MSQuery2->SQL()->Clear();
        MSQuery2->SQL()->Add("select name from master..sysdatabases where name = 'kelvora'");
        MSQuery2->Open();
        const bool attached = MSQuery2->RecordCount() > 0;
        MSQuery2->Close();
        return attached;
    } catch (...) {
        return std::nullopt;
    }
}

void TForm1::LogTraceError() {
    AddLog("Hata mesajı: " +
           (LastTraceText.empty() ? std::string("(sunucu açıklama vermedi)") : LastTraceText));
    ShowGuidance();
}

bool TForm1::RequiredRepairStep(const std::string& Statement, const char* FailureLine,
                                const char* SuccessLine, kv::console::RepairFiles& Files) {
    switch (RunRepairStatement(Statement)) {
    case StatementEnd::Done:
        if (SuccessLine != nullptr)
            AddLog(SuccessLine);
        return true;
    case StatementEnd::Failed:
        if (FailureLine != nullptr)
            AddLog(FailureLine);
        LogTraceError();
        break;
    case StatementEnd::LinkLost:
        AddLog("Server bağlantısı koptu.");
        break;
    }
    StopRepair(Files);
    return false;
}

void TForm1::StopRepair(kv::console::RepairFiles& Files) {
    if (Files.scratchLog == ProductLogPath) {
        auto& files = FPlatform.files();
        const std::string kept = ScratchLogKeptPath + std::to_string(RepairSuffix);
        bool copied = false;
        if (auto moved = kv::console::moveAside(files, ProductLogPath, kept, true, copied); moved) {
            Files.scratchLog = kept;
        } else {
            // It stays at the product log path, named below for what it is.
            if (copied)
                (void)files.deleteFile(kept);
            AddLog("Log dosyası taşınamadı: " + kv::console::fileErrorText(moved.code()) + ".");
        }
    }
    AddLog("Onarma durduruldu.");
    FCleanCheckInAction = false; // whatever a check said before, the rebuild did not finish
    for (const auto& line : kv::console::dataLocationLines(Files))
        AddLog(line);
    AddLog("Dosyaları yedekleyip teknik servise başvurun.");
}

void TForm1::EmergencyRepair() {
    auto& files = FPlatform.files();

    // 1. The number for the old files, free of every earlier rebuild's kept files.
    RepairSuffix =
        kv::console::freeRepairSuffix(files, kv::console::drawRepairSuffix(),
                                      {ProductDataRenamePath, ProductLogPath, ScratchLogKeptPath});
    const std::string digits = std::to_string(RepairSuffix);
    kv::console::RepairFiles where;
    if (files.fileExists(ProductLogPath))
        where.log = ProductLogPath;
    // Without a data file there is nothing to rebuild from. An earlier rebuild that stopped
    // after its old data file went to its number leaves it so, with its rebuilt file in the
    // scratch file's place: nothing is touched, so that file stays where its lines said.
    if (!files.fileExists(ProductDataRenamePath)) {
        AddLog(std::string("Data dosyası bulunamadı: ") + ProductDataRenamePath);
        StopRepair(where);
        return;
    }
    where.data = ProductDataRenamePath;

    // 2. A scratch database left by an earlier run.
    (void)RunRepairStatement(ScratchDetach);

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
    if (!LinkAlive()) {
        AddLog("Bağlantı yok.");
        StopRepair(where);
        return;
    }
    const auto* session = MSCon->OLEDBSession();
    const bool inPlace =
        session != nullptr && session->ServerMajorVersion() >= FirstInPlaceRepairVersion;

    // 7. (SQL Server 2000) The scratch files an earlier run left in C:\ go while the product
    // database is still on the server: one that cannot be removed would make the scratch create
    // fail with the product database detached.
    if (!inPlace)
        for (const char* leftover : {ScratchLogLeftover, ScratchDataLeftover})
            if (auto removed = files.deleteFileIfPresent(leftover); !removed) {
                AddLog(std::string("Geçici dosya silinemedi: ") + leftover + " (" +
                       kv::console::fileErrorText(removed.code()) + ").");
                StopRepair(where);
                return;
            }

    // 6. The product database off the server, so that its files can be worked on.
    DeattBTN->Click();
    const auto attached = ProductDatabaseAttached();
    if (!attached) {
        AddLog(LinkAlive() ? "Kelvora Datasının durumu okunamadı." : "Server bağlantısı koptu.");
        StopRepair(where);
        return;
    }
    if (*attached) {
        AddLog("Data koparılamadı.");
        StopRepair(where);
        return;
    }

    if (inPlace)
        RepairInPlace(where, digits);
    else
        RebuildFromScratch(where, digits);
}

// The shell's copy with a progress bar; it counts as done only when the copy has the size of
// its source (a short copy is removed again).
bool TForm1::ShellCopyFile(const std::string& Source, const std::string& Target) {
    kv::console::CopyProgressBar progress(*this);
    return kv::console::shellCopyVerified(FPlatform.files(), Source, Target, progress.callback()) ==
           0;
}
