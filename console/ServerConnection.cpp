// The administrator connection to the local SQL Server and the look-up of the product database:
// the "Database Bağlantı" panel and the database buttons.
//
// MSCon comes from the layout (disconnected mode, no login prompt, MSConError as its error
// event). Its ConnectDialog is linked once the connect dialog component exists.

#include "console/Unit1.h"
#include "console/database_names.h"
#include "dataaccess/DAError.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/OLEDBErrors.h"
#include "toolkit/ui/StdCtrls.h"

namespace {

void showOutcome(TLabel* Label, bool Success) {
    Label->SetCaption(Success ? "Başarılı" : "Başarısız");
    Label->Font()->SetColor(Success ? clBlack : clRed);
}

} // namespace

void TForm1::MSConError(TObject* /*Sender*/, kv::dataaccess::EDAError& E, bool& Fail) {
    // Every provider error leaves the failing call as the silent abort; the handlers report it
    // in the log with the monitor's last text. The rebuild asks whether the link survived and,
    // where the server's numbers decide its next step, what the server said.
    FLastErrorFatal = E.IsFatal();
    FLastServerMessages.clear();
    if (const auto* provider = dynamic_cast<const kv::dataaccess::EOLEDBError*>(&E))
        for (int i = 0; i < provider->ErrorRecordCount(); ++i)
            if (const auto* server =
                    dynamic_cast<const kv::dataaccess::EMSError*>(&provider->ErrorRecords(i)))
                FLastServerMessages.push_back(
                    {server->ErrorNumber(), server->RecordMessage(), server->SeverityClass()});
    Fail = false;
}

void TForm1::MSSQLMonitor1SQL(TObject* /*Sender*/, const std::string& Text,
                              kv::dataaccess::TDATraceFlag /*Flag*/) {
    LastTraceText = Text;
}

void TForm1::SetLoginValues() {
    // In this order, through the setters (each one closes an open connection first).
    MSCon->SetDatabase("master");
    MSCon->SetUsername(kv::console::AdministratorLogin);
    MSCon->SetPassword(kv::console::AdministratorPassword);
    MSCon->SetServer(LocalServerName);
}

void TForm1::ConnectServer() {
    // The service buttons are the record of whether the server runs.
    if (!SrvBaslatBtn->Enabled() && SrvDurdurBtn->Enabled()) {
        AddLog("MsSql Servera bağlanılıyor.");
        FLastServerMessages.clear();
        try {
            MSCon->SetConnected(true);
        } catch (...) {
            BaglanBTN->SetEnabled(true);
            AddLog("MsSql Server bağlantı başarısız.");
            showOutcome(DBAna, false);
            ShowGuidance();
        }
        if (MSCon->Connected()) {
            AddLog("MsSql Server bağlanıldı.");
            showOutcome(DBAna, true);
            BaglanBTN->SetEnabled(false);
        }
        return;
    }
    showOutcome(DBAna, false);
    BaglanBTN->SetEnabled(false);
}

void TForm1::CheckDatabase() {
    if (!MSCon->Connected()) {
        OnarBTN->SetEnabled(false);
        DBKel->SetCaption("Başarısız");
        AddLog("Kelvora Datasına bağlanılamadı.");
        DBKel->Font()->SetColor(clRed);
        AttBtn->SetEnabled(false);
        DeattBTN->SetEnabled(false);
        return;
    }
    AddLog("Kelvora Datası Kontrol ediliyor.");
    // No trap here: an error leaves the check without touching the panel, and the caller's trap
    // (attach, detach) reports it.
    MSQuery1->Close();
    MSQuery1->SQL()->Clear();
    MSQuery1->SQL()->Add("use master SELECT * FROM sysdatabases s");
    MSQuery1->SQL()->Add("WHERE s.[name]='kelvora'");
    MSQuery1->Open();
    const bool attached = MSQuery1->RecordCount() > 0;
    if (attached) {
        showOutcome(DBKel, true);
        AddLog("Kelvora Datasına bağlanıldı.");
    } else {
        showOutcome(DBKel, false);
        AddLog("Kelvora Datasına bağlanılamadı.");
    }
    AttBtn->SetEnabled(!attached);
    OnarBTN->SetEnabled(attached);
    DeattBTN->SetEnabled(attached);
}
