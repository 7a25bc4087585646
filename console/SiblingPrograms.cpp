// Ending the product's other programs at start-up.

#include "console/Unit1.h"
#include "console/process_kill.h"
#include "platform/Platform.h"

bool TForm1::KillProcessByName(const std::string& Name) {
    return kv::console::killProcessesNamed(FPlatform.processes(), Name);
}

void TForm1::EndSiblingPrograms() {
    AddLog("Çalışan programlar kapatılıyor...");
    // One call per program, in this order; the results are not looked at.
    for (const auto name : kv::console::SiblingPrograms)
        KillProcessByName(std::string(name));
    AddLog("Çalışan programlar kapatıldı.");
}
