#pragma once
// The console's main window, Form1.
//
// Everything the window shows comes from its layout (resources/layouts/Unit1.layout, embedded as
// the Qt resource ":/layouts/Unit1.layout"): the controls, the timer and the image list are
// created while the layout is read, the members below are bound to them by name, and the layout's
// OnCreate runs FormCreate at the end of the read.
//
// The window keeps the handler and operation names the console has always had, but each family
// lives in its own source file and reaches the machine only through the platform object handed
// to the constructor:
//   StartupAndLog.cpp    FormCreate, Timer1Timer, AddLog, SaveLog, LogBTNClick, KapatBTNClick
//   SiblingPrograms.cpp  KillProcessByName
//   ServiceControl.cpp   GetServiceState, StartNamedService, StopNamedService, CheckServiceState,
//                        SrvBaslatBtnClick, SrvDurdurBtnClick
//   DataFiles.cpp        CheckDataFiles, DSYenileBtnClick
//   ServerConnection.cpp MSConError, MSSQLMonitor1SQL, ConnectServer, CheckDatabase
//   ManualLogin.cpp      BaglanBTNClick (the login form, ConnectForm.h)
//   AttachDetach.cpp     AttBtnClick, DeattBTNClick, ExecuteIgnoringErrors
//   EmergencyRepair.cpp  OnarBTNClick, EmergencyRepair, ShellCopyFile
//   Diagnostics.cpp      ShowGuidance, RebuildPreflight, ShowDatabaseHealth, WriteSupportBundle
// The machine work itself (wait loops, process matching, file tests) sits in widget-free helpers
// (service_wait.h, process_kill.h, data_files.h, log_file.h, repair_files.h, server_errors.h,
// guidance.h, preflight.h, health.h, support_bundle.h).

#include "console/server_errors.h"
#include "console/support_bundle.h"
#include "dataaccess/DASQLMonitor.h"
#include "skin/SkinButton.h"
#include "toolkit/ui/Forms.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TPanel;
class TLabel;
class TImage;
class TImageList;
class TTimer;
class TStatusBar;
class TMemoControl;
class TButton;

namespace kv::platform {
class Platform;
}
namespace kv::console {
class UserInputGuard;
struct RepairFiles;
struct Guidance;
} // namespace kv::console
namespace kv::dataaccess {
class TMSConnection;
class TMSQuery;
class TMSSQLMonitor;
class TMSConnectDialog;
class EDAError;
} // namespace kv::dataaccess

class TForm1 : public TForm {
public:
    // Reads the layout; FormCreate runs at its end. The platform must outlive the window.
    TForm1(TComponent* AOwner, kv::platform::Platform& Platform);
    ~TForm1() override;
    std::string ClassName() const override { return "TForm1"; }

    // The layout's components.
    TPanel* Panel8 = nullptr;
    TLabel* Label15 = nullptr;
    TImage* Image1 = nullptr;
    TPanel* Panel3 = nullptr;
    TPanel* Panel2 = nullptr;
    TImage* SrvImg = nullptr;
    TLabel* Label2 = nullptr;
    TLabel* SrvNameLB = nullptr;
    TLabel* Label4 = nullptr;
    TLabel* Label5 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* SrvDurLB = nullptr;
    TSkinButton* SrvBaslatBtn = nullptr;
    TSkinButton* SrvDurdurBtn = nullptr;
    TPanel* Panel4 = nullptr;
    TPanel* Panel5 = nullptr;
    TImage* Image2 = nullptr;
    TLabel* Label7 = nullptr;
    TLabel* Label6 = nullptr;
    TLabel* Label8 = nullptr;
    TLabel* DSklasor = nullptr;
    TLabel* DSMdf = nullptr;
    TLabel* DSLdf = nullptr;
    TSkinButton* DSYenileBtn = nullptr;
    TPanel* Panel1 = nullptr;
    TPanel* Panel6 = nullptr;
    TImage* Image3 = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* DBAna = nullptr;
    TSkinButton* BaglanBTN = nullptr;
    TLabel* Label9 = nullptr;
    TLabel* DBKel = nullptr;
    TSkinButton* AttBtn = nullptr;
    TSkinButton* DeattBTN = nullptr;
    TMemoControl* Memo1 = nullptr;
    TPanel* Panel7 = nullptr;
    TSkinButton* OnarBTN = nullptr;
    TSkinButton* LogBTN = nullptr;
    TSkinButton* KapatBTN = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TTimer* Timer1 = nullptr;
    TImageList* ImageList1 = nullptr;
    kv::dataaccess::TMSConnection* MSCon = nullptr;
    kv::dataaccess::TMSQuery* MSQuery1 = nullptr;
    kv::dataaccess::TMSQuery* MSQuery2 = nullptr;
    kv::dataaccess::TMSSQLMonitor* MSSQLMonitor1 = nullptr;
    kv::dataaccess::TMSConnectDialog* MSConnectDialog1 = nullptr;

    // Handlers named in the layout.
    void FormCreate(TObject* Sender);
    void Timer1Timer(TObject* Sender);
    void LogBTNClick(TObject* Sender);
    void KapatBTNClick(TObject* Sender);
    void SrvBaslatBtnClick(TObject* Sender);
    void SrvDurdurBtnClick(TObject* Sender);
    void DSYenileBtnClick(TObject* Sender);
    void MSConError(TObject* Sender, kv::dataaccess::EDAError& E, bool& Fail);
    void MSSQLMonitor1SQL(TObject* Sender, const std::string& Text,
                          kv::dataaccess::TDATraceFlag Flag);
    void AttBtnClick(TObject* Sender);
    void DeattBTNClick(TObject* Sender);
    void OnarBTNClick(TObject* Sender);
    void BaglanBTNClick(TObject* Sender);

    // The activity log.
    void AddLog(const std::string& Message);
    void SaveLog();
    // A line about the machine that the start-up sequence writes after its first line (which
    // SQL Server provider serves, where that is not the machine's own); empty: none.
    void SetStartupNote(std::string Line) { FStartupNote = std::move(Line); }

    // Sibling programs.
    bool KillProcessByName(const std::string& Name);
    // The start-up step around it: two log lines and the nine programs.
    void EndSiblingPrograms();

    // The database service.
    int GetServiceState(const std::string& Machine, const std::string& Service);
    void StartNamedService(const std::string& Machine, const std::string& Service);
    void StopNamedService(const std::string& Machine, const std::string& Service);
    void CheckServiceState();

    // The data files.
    void CheckDataFiles();

    // The server connection and the product database.
    void SetLoginValues();
    void ConnectServer();
    void CheckDatabase();
    void ExecuteIgnoringErrors(const std::string& Statement);

    // Check and emergency rebuild.
    void EmergencyRepair();
    bool ShellCopyFile(const std::string& Source, const std::string& Target);
    // The number the rebuild appends to the name of the old data file it keeps.
    int RepairSuffix = 0;

    kv::platform::Platform& Platform() const { return FPlatform; }

    // What the window tells beyond the operations' own lines (Diagnostics.cpp).
    // The guidance for the failure the connection reported last: its sentence in the status bar
    // and one log line after the raw text. Nothing when the failure carried no server message.
    void ShowGuidance();
    void ShowGuidance(const kv::console::Guidance& Guidance);
    // The same for a failed step of a repair, whose reports of the pages it repaired are its
    // work, not a failure (guidanceForRepairStep).
    void ShowRepairStepGuidance();
    // The check before the rebuild: true when it may start; a refusal writes its line and its
    // guidance and changes nothing else.
    bool RebuildPreflight();
    // After the start-up connect, on SQL Server 2005 and later with the product database
    // attached: when a check last found it clean, in the status bar and the log.
    void ShowDatabaseHealth();
    // The support bundle of Ctrl+Shift+D; its path, or empty when it could not be written (the
    // log says why).
    std::string WriteSupportBundle();

    // One operation (start-up, service start or stop, attach, detach, check, rebuild) from its
    // first line to its last. While any runs, the user's input on the action buttons and
    // "Kapat" is swallowed and a close from the title bar waits for the end; operations that
    // an operation starts by code nest inside it. A close that waited for an operation with a
    // rebuild in it saves the log first: the log is the only record of which numbered file
    // holds what. The log view takes no typing meanwhile (it can still be scrolled, selected
    // and copied), so that no keystroke ends up inside the lines the operation writes.
    class OperationScope {
    public:
        explicit OperationScope(TForm1& Form);
        ~OperationScope();
        OperationScope(const OperationScope&) = delete;
        OperationScope& operator=(const OperationScope&) = delete;

    private:
        TForm1& FForm;
    };
    bool OperationRunning() const { return FOperations > 0; }

private:
    void BindComponents();
    void DeclareHandlers();

    kv::platform::Platform& FPlatform;
    std::string FStartupNote;

    // The rebuild's own steps (EmergencyRepair.cpp, RebuildFromScratch.cpp, RepairInPlace.cpp).
    enum class StatementEnd { Done, Failed, LinkLost };
    // Runs one statement on MSQuery1; LinkLost when the failure took the link with it.
    StatementEnd RunRepairStatement(const std::string& Statement);
    // Whether the link still answers (a round trip on MSQuery2).
    bool LinkAlive();
    // Whether the product database is on the server; empty when the server cannot tell.
    std::optional<bool> ProductDatabaseAttached();
    // Runs a statement the rebuild cannot go on without. Success writes `SuccessLine` (if any);
    // a failure writes `FailureLine` (if any), the trace text and the stop lines; a lost link
    // says so and stops. Returns whether the statement ran.
    bool RequiredRepairStep(const std::string& Statement, const char* FailureLine,
                            const char* SuccessLine, kv::console::RepairFiles& Files);
    // "Hata mesajı: " with the trace text, never a bare prefix.
    void LogTraceError();
    // The last lines of a rebuild that cannot go on: where every file with the user's data is.
    // A log built for the scratch database leaves the product log path first, so that the
    // product's pair of files is never a data file with a log that is not its own.
    void StopRepair(kv::console::RepairFiles& Files);
    void RebuildFromScratch(kv::console::RepairFiles& Files, const std::string& Digits);
    void RepairInPlace(kv::console::RepairFiles& Files, const std::string& Digits);
    // Whether the last error the connection reported ended its link, and the server's messages
    // in it (number and text), which the rebuild reads where the number decides the next step.
    bool FLastErrorFatal = false;
    std::vector<kv::console::ServerMessage> FLastServerMessages;

    void ShowStatusText(const std::string& Text);
    // Keeps what the last consistency check of the product database said, for the bundle.
    void NoteCheckOutcome(bool Clean);
    std::optional<kv::console::CheckRecord> FLastCheck;
    // Whether the last check of the user's action that runs now found the database clean.
    bool FCleanCheckInAction = false;
    void InstallSupportBundleKey();

    void GuardUserInput();
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    std::unique_ptr<kv::console::UserInputGuard> FInputGuard;
    int FOperations = 0;
    bool FCloseWhenIdle = false;
    bool FLogWasReadOnly = false;
    // Whether the operation that runs now (the outermost one) has started a rebuild.
    bool FRebuildInOperation = false;
    void CloseWhenIdle(bool SaveLogFirst);

    // Automatic repair: a failed attach hands over to the repair, and the rebuild ends with an
    // attach. One rebuild per user action keeps a persistent failure from repeating for ever.
    int FActionDepth = 0;
    int FRebuildsInAction = 0;
};

// The computer name, read when the window is created: the server of every connection.
extern std::string LocalServerName;
// The last text the SQL trace monitor delivered.
extern std::string LastTraceText;
extern TForm1* Form1;
