// The "Kelvora Database Dosyaları" panel: whether the data folder and the two database files
// exist. It only looks; nothing on disk changes.

#include "console/Unit1.h"
#include "console/data_files.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

namespace {

void showPresence(TLabel* Label, bool Present) {
    Label->SetCaption(Present ? "Var" : "Yok");
    Label->Font()->SetColor(Present ? clBlack : clRed);
}

} // namespace

void TForm1::CheckDataFiles() {
    // The labels are set before the first log line, so the panel shows the result while the
    // log is written.
    const auto presence = kv::console::checkDataFilesPresence(FPlatform.files());
    showPresence(DSklasor, presence.folder);
    showPresence(DSMdf, presence.dataFile);
    showPresence(DSLdf, presence.logFile);
    AddLog("Kelvora dosyaları kontrol ediliyor.");
    AddLog("Klasör:" + DSklasor->Caption());
    AddLog("MDF:" + DSMdf->Caption());
    AddLog("LDF:" + DSLdf->Caption());
}

void TForm1::DSYenileBtnClick(TObject* /*Sender*/) {
    const OperationScope operation(*this);
    CheckDataFiles();
}
