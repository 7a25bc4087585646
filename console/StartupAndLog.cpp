// Window creation, the start-up sequence, the activity log and its two views.

#include "console/Unit1.h"
#include "console/log_file.h"
#include "console/time_text.h"
#include "platform/Platform.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <vector>

namespace {

// The shape of the toolkit's file creation error; the error box shows its message.
class ELogFileError : public EStreamError {
public:
    using EStreamError::EStreamError;
    std::string ClassName() const override { return "EFCreateError"; }
};

} // namespace

void TForm1::FormCreate(TObject* /*Sender*/) {
    // GetComputerNameA into a 256-byte buffer: the characters up to the first NUL, at most 256.
    std::string name = FPlatform.computerName();
    name = name.substr(0, name.find('\0'));
    if (name.size() > 256)
        name.resize(256);
    LocalServerName = name;
    Memo1->Lines()->Clear();
    Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer(TObject* /*Sender*/) {
    // Off before the first log line: a tick that arrives while the sequence is processing
    // messages cannot start it a second time.
    Timer1->SetEnabled(false);
    const OperationScope operation(*this);
    AddLog("Program Açıldı.");
    if (!FStartupNote.empty())
        AddLog(FStartupNote);
    EndSiblingPrograms();
    CheckServiceState();
    CheckDataFiles();
    SetLoginValues();
    ConnectServer();
    CheckDatabase();
    ShowDatabaseHealth();
}

void TForm1::AddLog(const std::string& Message) {
    Memo1->Lines()->Add(
        kv::console::logLine(kv::console::longTimeText(QTime::currentTime()), Message));
    // Paints the line at once during long operations; queued clicks run here too.
    Application->ProcessMessages();
}

void TForm1::SaveLog() {
    TStrings* lines = Memo1->Lines();
    std::vector<std::string> text;
    text.reserve(static_cast<size_t>(lines->Count()));
    for (int i = 0; i < lines->Count(); ++i)
        text.push_back(lines->Get(i));
    const std::string path(kv::console::LogFilePathOnDisk);
    auto written =
        FPlatform.files().writeFile(path, kv::console::encodeLogLines(text, FPlatform.codePage()));
    if (!written)
        throw ELogFileError("Cannot create file \"" + path + "\". " + written.error().message);
}

void TForm1::LogBTNClick(TObject* /*Sender*/) {
    OnarBTN->Hide();
    LogBTN->Hide();
    KapatBTN->SetCaption("Geri");
    Memo1->SetLeft(0);
    Memo1->Show();
}

void TForm1::KapatBTNClick(TObject* /*Sender*/) {
    // The caption is the only record of the view.
    if (KapatBTN->Caption() == "Geri") {
        OnarBTN->Show();
        LogBTN->Show();
        KapatBTN->SetCaption("Kapat");
        Memo1->Hide();
        return;
    }
    // A log that cannot be written leaves through the error box before the window closes, so a
    // later click tries again.
    SaveLog();
    Close();
}
