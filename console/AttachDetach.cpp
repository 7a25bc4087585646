// "Data Bağla" and "Data Kopar": attaching the product's two files as the database kelvora (and
// making sure the product's own login exists), and detaching it again.

#include "console/Unit1.h"
#include "console/database_names.h"
#include "dataaccess/MSQuery.h"
#include "platform/Platform.h"
#include "toolkit/ui/StdCtrls.h"

void TForm1::AttBtnClick(TObject* /*Sender*/) {
    const OperationScope operation(*this);
    const bool userAction = FActionDepth == 0;
    if (userAction)
        FRebuildsInAction = 0;
    ++FActionDepth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{FActionDepth};

    AddLog("Data Bağla işlemine başlanıldı.");
    if (!MSCon->Connected()) {
        AddLog("Bağlantı yok.");
        return;
    }
    if (!FPlatform.files().fileExists("C:\\Kelvora\\data\\Kelvora_DATA.MDF")) {
        DBKel->SetCaption("Dosya eksik.");
        DBKel->Font()->SetColor(clRed);
        AddLog("Dosya eksik. Bağlamak için dosya tamamlayın.");
        return;
    }
    LastTraceText.clear();
    FLastServerMessages.clear();
    MSQuery1->Close();
    MSQuery1->SQL()->Clear();
    MSQuery1->SQL()->Add("use master");
    MSQuery1->SQL()->Add("create database kelvora ON (FILENAME = "
                         "'c:\\kelvora\\data\\kelvora_data.mdf')  LOG ON (FILENAME = "
                         "'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH");
    try {
        MSQuery1->Execute();
        AddLog("Data Bağlandı");
        ExecuteIgnoringErrors(std::string("exec sp_addlogin 'kelvora','") +
                              kv::console::ProductLoginPassword + "','kelvora','turkish'");
        ExecuteIgnoringErrors("exec sp_defaultdb 'kelvora','kelvora'");
        ExecuteIgnoringErrors("exec sp_addsrvrolemember 'kelvora','sysadmin'");
        ExecuteIgnoringErrors("exec sp_grantdbaccess 'kelvora'");
        CheckDatabase();
    } catch (...) {
        AddLog("Yeni veri bağlanılamadı.");
        AddLog("Hatası:" + LastTraceText);
        ShowGuidance();
        // The rebuild ends with this attach: once a rebuild has run for the action the user
        // started, a failing attach stops here instead of starting the next one.
        if (FRebuildsInAction > 0) {
            AddLog("Otomatik onarım başarısız oldu, Data bağlanamadı. Dosyaları yedekleyip "
                   "teknik servise başvurun.");
            return;
        }
        OnarBTN->Click();
    }
}

void TForm1::ExecuteIgnoringErrors(const std::string& Statement) {
    MSQuery2->Close();
    MSQuery2->SQL()->Clear();
    MSQuery2->SQL()->Add(Statement);
    try {
        MSQuery2->Execute();
    } catch (...) {
    }
}

void TForm1::DeattBTNClick(TObject* /*Sender*/) {
    const OperationScope operation(*this);
    AddLog("Data Koparma işlemine başlanıldı.");
    if (!MSCon->Connected()) {
        AddLog("Bağlantı yok.");
        return;
    }
    LastTraceText.clear();
    FLastServerMessages.clear();
    MSQuery1->Close();
    MSQuery1->SQL()->Clear();
    MSQuery1->SQL()->Add("EXEC sp_detach_db 'kelvora','true'");
    try {
        MSQuery1->Execute();
        AddLog("Data Koparıldı");
        CheckDatabase();
    } catch (...) {
        AddLog("Koparılamadı.");
        AddLog("Hata mesajı: " + LastTraceText);
        ShowGuidance();
    }
}
