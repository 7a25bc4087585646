// The SQL Server service: its state in the "MS-SQL Server" panel and the start and stop buttons.
// The enabled states of the two buttons are also the console's record of whether the server
// runs; the connection step reads them.

#include "console/Unit1.h"
#include "console/service_wait.h"
#include "dataaccess/MSAccess.h"
#include "platform/Platform.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/StdCtrls.h"

namespace {

constexpr const char* ServiceName = "MSSQLSERVER";

} // namespace

int TForm1::GetServiceState(const std::string& Machine, const std::string& Service) {
    return kv::console::queryServiceView(FPlatform.services(), Machine, Service);
}

// A wait that ended without the awaited state says why; a refused request (the service already
// in that state, or no rights) leaves the reading to CheckServiceState as before.
void TForm1::StartNamedService(const std::string& Machine, const std::string& Service) {
    using End = kv::console::ServiceWaitEnd;
    switch (kv::console::startServiceAndWait(FPlatform.services(), FPlatform.clock(), Machine,
                                             Service)) {
    case End::CheckpointFell:
    case End::Settled:
        AddLog("Server başlatılamadı, servis durdu.");
        break;
    case End::Vanished:
        AddLog("Server başlatılamadı, servis durumu okunamıyor.");
        break;
    case End::TimedOut:
        AddLog("Server 10 dakikada başlamadı, bekleme bırakıldı.");
        break;
    case End::NoWait:
    case End::Reached:
        break;
    }
}

void TForm1::StopNamedService(const std::string& Machine, const std::string& Service) {
    using End = kv::console::ServiceWaitEnd;
    switch (kv::console::stopServiceAndWait(FPlatform.services(), FPlatform.clock(), Machine,
                                            Service)) {
    case End::CheckpointFell:
    case End::Settled:
        AddLog("Server durdurulamadı, servis çalışmaya devam ediyor.");
        break;
    case End::Vanished:
        AddLog("Server durdurulamadı, servis durumu okunamıyor.");
        break;
    case End::TimedOut:
        AddLog("Server 10 dakikada durmadı, bekleme bırakıldı.");
        break;
    case End::NoWait:
    case End::Reached:
        break;
    }
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
    const OperationScope operation(*this);
    AddLog("Server Başlatılıyor.");
    StartNamedService("", ServiceName);
    CheckServiceState();
    // A connection left open by "Durdur" (or by a server that stopped on its own) belongs to
    // the server process that ended: it is closed, so that the connect below makes a new one
    // instead of reporting the dead one as connected.
    if (MSCon->Connected()) {
        try {
            MSCon->SetConnected(false);
        } catch (...) {
        }
    }
    ConnectServer();
    // The database panel tells the truth about the server that now runs, as at start-up. A
    // look-up that fails leaves the panel as it was, as the start-up's does.
    try {
        CheckDatabase();
    } catch (...) {
    }
}

void TForm1::SrvDurdurBtnClick(TObject* /*Sender*/) {
    // Stopping leaves the connection and the database panel as they are.
    const OperationScope operation(*this);
    AddLog("Server Duruluyor.");
    StopNamedService("", ServiceName);
    CheckServiceState();
}
