// The SQL Server service: its state in the "MS-SQL Server" panel and the start and stop buttons.
// The enabled states of the two buttons are also the console's record of whether the server
// runs; the connection step reads them.

#include "console/Unit1.h"
#include "console/service_wait.h"
#include "platform/Platform.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/StdCtrls.h"

namespace {

constexpr const char* ServiceName = "MSSQLSERVER";

} // namespace

int TForm1::GetServiceState(const std::string& Machine, const std::string& Service) {
    return kv::console::queryServiceView(FPlatform.services(), Machine, Service);
}

void TForm1::StartNamedService(const std::string& Machine, const std::string& Service) {
    kv::console::startServiceAndWait(FPlatform.services(), FPlatform.clock(), Machine, Service);
}

void TForm1::StopNamedService(const std::string& Machine, const std::string& Service) {
    kv::console::stopServiceAndWait(FPlatform.services(), FPlatform.clock(), Machine, Service);
}

void TForm1::CheckServiceState() {
    AddLog("Server Kontrol Ediliyor.");
    const int State = GetServiceState("", ServiceName);
    Label5->SetCaption("SQL Server");
    SrvNameLB->SetCaption(LocalServerName);
    ImageList1->GetBitmap(State, SrvImg);
    switch (State) {
    case kv::console::svcStopped:
        SrvBaslatBtn->SetEnabled(true);
        SrvDurdurBtn->SetEnabled(false);
        SrvDurLB->SetCaption("Durdurulmuş");
        break;
    case kv::console::svcRunning:
        SrvBaslatBtn->SetEnabled(false);
        SrvDurdurBtn->SetEnabled(true);
        SrvDurLB->SetCaption("Çalışıyor");
        break;
    default:
        SrvBaslatBtn->SetEnabled(false);
        SrvDurdurBtn->SetEnabled(false);
        SrvDurLB->SetCaption("Server Yok");
        break;
    }
    AddLog("Server durumu: " + SrvDurLB->Caption());
}

void TForm1::SrvBaslatBtnClick(TObject* /*Sender*/) {
    AddLog("Server Başlatılıyor.");
    StartNamedService("", ServiceName);
    CheckServiceState();
    ConnectServer();
}

void TForm1::SrvDurdurBtnClick(TObject* /*Sender*/) {
    // Stopping leaves the connection and the database panel as they are.
    AddLog("Server Duruluyor.");
    StopNamedService("", ServiceName);
    CheckServiceState();
}
