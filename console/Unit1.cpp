// Form1: the handlers its layout names, the components it binds, and reading the layout.

#include "console/Unit1.h"

#include "console/input_guard.h"
#include "dataaccess/MSConnectDialog.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QTimer>

std::string LocalServerName;
std::string LastTraceText;
TForm1* Form1 = nullptr;

TForm1::TForm1(TComponent* AOwner, kv::platform::Platform& Platform)
    : TForm(AOwner), FPlatform(Platform),
      FInputGuard(std::make_unique<kv::console::UserInputGuard>()) {
    DeclareHandlers();
    BindComponents();
    LoadLayout("Unit1");
    GuardUserInput();
    InstallSupportBundleKey();
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::GuardUserInput() {
    // Every action button and "Kapat"; "Log Kaydı" only switches the view and stays live.
    for (TWinControl* control :
         std::initializer_list<TWinControl*>{SrvBaslatBtn, SrvDurdurBtn, DSYenileBtn, BaglanBTN,
                                             AttBtn, DeattBTN, OnarBTN, KapatBTN})
        if (control != nullptr)
            FInputGuard->guard(control->Widget());
    auto previous = OnCloseQuery;
    OnCloseQuery = [this, previous](TObject* Sender, bool& CanClose) {
        if (previous)
            previous(Sender, CanClose);
        if (CanClose)
            FormCloseQuery(Sender, CanClose);
    };
}

void TForm1::FormCloseQuery(TObject* /*Sender*/, bool& CanClose) {
    // The window closes when the running operation has written its last line.
    if (OperationRunning()) {
        FCloseWhenIdle = true;
        CanClose = false;
    }
}

TForm1::OperationScope::OperationScope(TForm1& Form) : FForm(Form) {
    if (FForm.FOperations++ == 0) {
        FForm.FRebuildInOperation = false;
        // The status bar speaks of the operation that runs now.
        FForm.ShowStatusText({});
        FForm.FInputGuard->engage();
        FForm.FLogWasReadOnly = FForm.Memo1->ReadOnly();
        FForm.Memo1->SetReadOnly(true);
    }
}

TForm1::OperationScope::~OperationScope() {
    if (--FForm.FOperations > 0)
        return;
    FForm.Memo1->SetReadOnly(FForm.FLogWasReadOnly);
    FForm.FInputGuard->release();
    if (FForm.FCloseWhenIdle) {
        FForm.FCloseWhenIdle = false;
        // After the handler has returned, as a close from the title bar would have run.
        QTimer::singleShot(0, FForm.Widget(), [form = &FForm, save = FForm.FRebuildInOperation] {
            form->CloseWhenIdle(save);
        });
    }
}

void TForm1::CloseWhenIdle(bool SaveLogFirst) {
    // A close asked for during a rebuild keeps the log, which alone says where each of the
    // user's files went. A log that cannot be written shows the error box and keeps the window,
    // as "Kapat" does.
    if (SaveLogFirst) {
        try {
            SaveLog();
        } catch (...) {
            Application->HandleException(this, std::current_exception());
            return;
        }
    }
    Close();
}

void TForm1::DeclareHandlers() {
    Handler("FormCreate", &TForm1::FormCreate);
    Handler("Timer1Timer", &TForm1::Timer1Timer);
    Handler("LogBTNClick", &TForm1::LogBTNClick);
    Handler("KapatBTNClick", &TForm1::KapatBTNClick);
    Handler("SrvBaslatBtnClick", &TForm1::SrvBaslatBtnClick);
    Handler("SrvDurdurBtnClick", &TForm1::SrvDurdurBtnClick);
    Handler("DSYenileBtnClick", &TForm1::DSYenileBtnClick);
    Handler("MSConError", &TForm1::MSConError);
    Handler("MSSQLMonitor1SQL", &TForm1::MSSQLMonitor1SQL);
    Handler("AttBtnClick", &TForm1::AttBtnClick);
    Handler("DeattBTNClick", &TForm1::DeattBTNClick);
    Handler("OnarBTNClick", &TForm1::OnarBTNClick);
    Handler("BaglanBTNClick", &TForm1::BaglanBTNClick);
}

void TForm1::BindComponents() {
    Bind(Panel8, "Panel8");
    Bind(Label15, "Label15");
    Bind(Image1, "Image1");
    Bind(Panel3, "Panel3");
    Bind(Panel2, "Panel2");
    Bind(SrvImg, "SrvImg");
    Bind(Label2, "Label2");
    Bind(SrvNameLB, "SrvNameLB");
    Bind(Label4, "Label4");
    Bind(Label5, "Label5");
    Bind(Label3, "Label3");
    Bind(SrvDurLB, "SrvDurLB");
    Bind(SrvBaslatBtn, "SrvBaslatBtn");
    Bind(SrvDurdurBtn, "SrvDurdurBtn");
    Bind(Panel4, "Panel4");
    Bind(Panel5, "Panel5");
    Bind(Image2, "Image2");
    Bind(Label7, "Label7");
    Bind(Label6, "Label6");
    Bind(Label8, "Label8");
    Bind(DSklasor, "DSklasor");
    Bind(DSMdf, "DSMdf");
    Bind(DSLdf, "DSLdf");
    Bind(DSYenileBtn, "DSYenileBtn");
    Bind(Panel1, "Panel1");
    Bind(Panel6, "Panel6");
    Bind(Image3, "Image3");
    Bind(Label1, "Label1");
    Bind(DBAna, "DBAna");
    Bind(BaglanBTN, "BaglanBTN");
    Bind(Label9, "Label9");
    Bind(DBKel, "DBKel");
    Bind(AttBtn, "AttBtn");
    Bind(DeattBTN, "DeattBTN");
    Bind(Memo1, "Memo1");
    Bind(Panel7, "Panel7");
    Bind(OnarBTN, "OnarBTN");
    Bind(LogBTN, "LogBTN");
    Bind(KapatBTN, "KapatBTN");
    Bind(StatusBar1, "StatusBar1");
    Bind(Timer1, "Timer1");
    Bind(ImageList1, "ImageList1");
    Bind(MSCon, "MSCon");
    Bind(MSQuery1, "MSQuery1");
    Bind(MSQuery2, "MSQuery2");
    Bind(MSSQLMonitor1, "MSSQLMonitor1");
    Bind(MSConnectDialog1, "MSConnectDialog1");
}
