#pragma once
// The fixture of the console's database scenarios: the main window on a simulated host whose
// MSSQLSERVER service is the stand-in SQL Server, with its log read without time stamps.

#include "console/Unit1.h"
#include "console_host.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSQuery.h"
#include "database_host.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kv::e2e {

using Lines = std::vector<std::string>;

inline const Lines StartupWithDatabase = {
    "Program Açıldı.",
    "Çalışan programlar kapatılıyor...",
    "Çalışan programlar kapatıldı.",
    "Server Kontrol Ediliyor.",
    "Server durumu: Çalışıyor",
    "Kelvora dosyaları kontrol ediliyor.",
    "Klasör:Var",
    "MDF:Var",
    "LDF:Var",
    "MsSql Servera bağlanılıyor.",
    "MsSql Server bağlanıldı.",
    "Kelvora Datası Kontrol ediliyor.",
    "Kelvora Datasına bağlanıldı.",
};

inline const char* const DataFile = "C:\\Kelvora\\Data\\kelvora_Data.MDF";

inline DatabaseHostOptions hostWith(const std::string& service, const std::string& database,
                                    int damaged = 0, const std::string& profile = "2000",
                                    const std::string& saPassword = "") {
    DatabaseHostOptions options;
    options.service = service;
    options.database = database;
    options.damaged = damaged;
    options.profile = profile;
    options.saPassword = saPassword;
    return options;
}

class ConsoleDatabase : public ::testing::Test {
protected:
    void open(const DatabaseHostOptions& options = {}) {
        Application->Initialize();
        previousHook_ = TApplication::SetMessageBoxHook([this](const TMessageBoxRequest& box) {
            errorBoxes.push_back(box.Text);
            return mrOk;
        });
        host = std::make_unique<DatabaseHost>(options);
        form = std::make_unique<TForm1>(nullptr, host->platform());
        form->Show();
        // The start-up sequence has written its lines and ended (its last line depends on the
        // host: the database check, or the health of the database on SQL Server 2005).
        ASSERT_TRUE(waitUntil([&] { return !messages().empty() && !form->OperationRunning(); }))
            << "the start-up sequence did not finish";
        waitUntil([] { return false; }, std::chrono::milliseconds(100));
    }
    void TearDown() override {
        form.reset();
        host.reset();
        TApplication::SetMessageBoxHook(previousHook_);
    }

    Lines messages() const {
        Lines result;
        for (int i = 0; i < form->Memo1->Lines()->Count(); ++i)
            result.push_back(messageOf(form->Memo1->Lines()->Get(i)));
        return result;
    }
    size_t mark() const { return static_cast<size_t>(form->Memo1->Lines()->Count()); }
    Lines messagesFrom(size_t first) const {
        const Lines all = messages();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())),
                     all.end());
    }
    // The buttons of the database panel: Bağlan, Data Bağla, Data Kopar, Onar.
    std::vector<bool> databaseButtons() const {
        return {form->BaglanBTN->Enabled(), form->AttBtn->Enabled(), form->DeattBTN->Enabled(),
                form->OnarBTN->Enabled()};
    }
    void expectLabel(TLabel* label, const std::string& text, TColor color) {
        EXPECT_EQ(label->Caption(), text) << label->Name();
        EXPECT_EQ(label->Font()->Color(), color) << label->Name();
    }
    // The rows of a statement run on the console's own connection.
    std::vector<std::string> row(const std::string& statement,
                                 const std::vector<std::string>& columns) {
        auto* q = form->MSQuery2;
        q->Close();
        q->SQL()->Clear();
        q->SQL()->Add(statement);
        q->Open();
        std::vector<std::string> values;
        if (q->RecordCount() > 0)
            for (const auto& c : columns)
                values.push_back(q->FieldText(0, c));
        q->Close();
        return values;
    }
    // Whether `wanted` appear in `all` in this order (other lines may come between).
    static bool inOrder(const Lines& all, const Lines& wanted) {
        auto at = all.begin();
        for (const auto& w : wanted) {
            at = std::find(at, all.end(), w);
            if (at == all.end())
                return false;
            ++at;
        }
        return true;
    }
    static std::string joined(const Lines& lines) {
        std::string out;
        for (const auto& l : lines)
            out += l + "\n";
        return out;
    }

    std::unique_ptr<DatabaseHost> host;
    std::unique_ptr<TForm1> form;
    std::vector<std::string> errorBoxes;

private:
    TMessageBoxHook previousHook_;
};

} // namespace kv::e2e
