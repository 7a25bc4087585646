// What the window tells a technician beyond the log lines of its operations: the plain Turkish
// guidance after a failure (guidance.h), the check before the rebuild (preflight.h), the health
// of the database after the start-up connect (health.h) and the support bundle on Ctrl+Shift+D
// (support_bundle.h).
//
// The support bundle's key is Ctrl+Shift+D ("D" for "destek"): the letter sits on the same key
// of the Turkish Q and F keyboards, it needs no Fn key on a laptop as F12 does, and neither
// Windows nor the log view gives it a meaning. The bundle goes to drive C beside the activity
// log, under a name with the date and time, which the log line and the status bar give.

#include "console/Unit1.h"
#include "console/guidance.h"
#include "console/health.h"
#include "console/preflight.h"
#include "console/support_bundle.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "dataaccess/OLEDBAccess.h"
#include "platform/Platform.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <QDateTime>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <chrono>

void TForm1::ShowStatusText(const std::string& Text) {
    StatusBar1->SetSimplePanel(true);
    StatusBar1->SetSimpleText(Text);
    // The whole sentence also as the bar's tooltip, where a long one does not fit.
    StatusBar1->SetHint(Text);
    StatusBar1->SetShowHint(!Text.empty());
}

void TForm1::ShowGuidance(const kv::console::Guidance& Guidance) {
    ShowStatusText(Guidance.text);
    AddLog(std::string(kv::console::GuidanceLinePrefix) + Guidance.text);
}

void TForm1::ShowGuidance() {
    if (const auto guidance = kv::console::guidanceFor(FLastServerMessages))
        ShowGuidance(*guidance);
}

void TForm1::ShowRepairStepGuidance() {
    if (const auto guidance = kv::console::guidanceForRepairStep(FLastServerMessages))
        ShowGuidance(*guidance);
}

bool TForm1::RebuildPreflight() {
    const auto* session = MSCon->OLEDBSession();
    const int version = session != nullptr ? session->ServerMajorVersion() : 0;
    const auto refused = kv::console::checkBeforeRebuild(FPlatform.files(), version);
    if (!refused)
        return true;
    AddLog(refused->line);
    ShowGuidance(kv::console::guidanceFor(refused->reason));
    return false;
}

void TForm1::NoteCheckOutcome(bool Clean) {
    kv::console::CheckRecord record;
    record.when = QDateTime::currentDateTime().toString("dd.MM.yyyy HH:mm:ss").toStdString();
    record.clean = Clean;
    FCleanCheckInAction = Clean;
    record.errors = FLastServerMessages;
    record.traceText = LastTraceText;
    FLastCheck = std::move(record);
}

void TForm1::ShowDatabaseHealth() {
    // Only with the product database on a server that keeps the time (2005 and later).
    const auto* session = MSCon->Connected() ? MSCon->OLEDBSession() : nullptr;
    if (session == nullptr ||
        session->ServerMajorVersion() < kv::console::FirstInPlaceRebuildVersion ||
        !OnarBTN->Enabled())
        return;
    std::optional<std::string> lastKnownGood;
    try {
        MSQuery2->Close();
        MSQuery2->SQL()->Clear();
        MSQuery2->SQL()->Add(kv::console::DatabaseInfoStatement);
        MSQuery2->Open();
        for (int row = 0; row < MSQuery2->RecordCount(); ++row)
            if (MSQuery2->FieldText(row, "Field") == kv::console::LastKnownGoodField)
                lastKnownGood = MSQuery2->FieldText(row, "VALUE");
        MSQuery2->Close();
    } catch (...) {
        // A server that refuses the statement gives no time: reported as not known.
    }
    const QDate today = QDate::currentDate();
    const auto report = kv::console::healthReport(
        lastKnownGood,
        std::chrono::year_month_day{std::chrono::year(today.year()),
                                    std::chrono::month(static_cast<unsigned>(today.month())),
                                    std::chrono::day(static_cast<unsigned>(today.day()))});
    AddLog(report.logLine);
    ShowStatusText(report.statusText);
}

std::string TForm1::WriteSupportBundle() {
    kv::console::WindowFacts facts;
    for (int i = 0; i < Memo1->Lines()->Count(); ++i)
        facts.logLines.push_back(Memo1->Lines()->Get(i));
    facts.shownFacts = {"Server adı: " + SrvNameLB->Caption(),
                        "Server durumu: " + SrvDurLB->Caption(),
                        "Klasör: " + DSklasor->Caption(),
                        "MDF: " + DSMdf->Caption(),
                        "LDF: " + DSLdf->Caption(),
                        "Database bağlantı: " + DBAna->Caption(),
                        "Kelvora datası: " + DBKel->Caption(),
                        "Durum çubuğu: " + StatusBar1->SimpleText()};
    if (const auto* session = MSCon->Connected() ? MSCon->OLEDBSession() : nullptr)
        facts.serverVersion = session->ServerVersionFull();
    facts.lastCheck = FLastCheck;

    const QDateTime now = QDateTime::currentDateTime();
    const std::string path =
        kv::console::windowBundlePath(now.date().year(), now.date().month(), now.date().day(),
                                      now.time().hour(), now.time().minute(), now.time().second());
    const std::string failed =
        kv::console::writeSupportBundle(FPlatform, &facts, path, std::chrono::system_clock::now());
    if (!failed.empty()) {
        AddLog("Destek paketi yazılamadı: " + failed);
        ShowStatusText("Destek paketi yazılamadı.");
        return {};
    }
    AddLog("Destek paketi yazıldı: " + path);
    // The file name: the whole path does not fit into the bar (the log line has it).
    ShowStatusText("Destek paketi: " + path.substr(path.find_last_of('\\') + 1));
    return path;
}

void TForm1::InstallSupportBundleKey() {
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), Widget());
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, Widget(), [this] {
        // Not in the middle of an operation: the bundle would catch it half-way, and its
        // reads would run inside the operation's log lines.
        if (!OperationRunning())
            (void)WriteSupportBundle();
    });
}
