// The default login form through the real form-showing hook, against the stand-in: the
// database list on a closed connection, a wrong password while listing, the server list asked
// once, and an unregistered form class.
#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSConnectDialog.h"
#include "dataaccess/ui/DAUIHooks.h"
#include "dataaccess/ui/MSConnectForm.h"
#include "platform/posix/SimHost.h"
#include "tests/support/standin_fixture.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/StdCtrls.h"

#include <QComboBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kv::dataaccess;

namespace {

class DefaultForm : public testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        kv::dataaccess::ui::InstallDataAccessUI();
        auto host = kv::platform::sim::SimHost::open(standin.folder());
        ASSERT_TRUE(host);
        platform = kv::platform::sim::createSimulatedPlatform(*host);
        SetDataAccessPlatform(platform.get());
        previousBox = TApplication::SetMessageBoxHook([this](const TMessageBoxRequest& box) {
            boxes.push_back(box.Text);
            return mrOk;
        });
        previousShowing = TUIHooks::FormShowing;
        TUIHooks::FormShowing = [this](TForm* shown) {
            if (auto* form = dynamic_cast<TMSConnectForm*>(shown))
                QTimer::singleShot(0, [this, form] { script(*form); });
        };
        con.SetLoginPrompt(true);
        con.SetDatabase("master");
        con.SetUsername("sa");
        con.SetServer("KELVORA-PC");
        con.SetConnectDialog(&dialog);
        dialog.SetStoreLogInfo(false);
    }
    void TearDown() override {
        TUIHooks::FormShowing = previousShowing;
        TApplication::SetMessageBoxHook(previousBox);
        SetDataAccessPlatform(nullptr);
    }
    static void click(TButton* button) {
        Application->HandleEvent(button, [button] { button->Click(); });
    }

    kv::oledb::ComScope com;
    kv::oledb::testing::StandinHost standin;
    std::unique_ptr<kv::platform::Platform> platform;
    TMSConnection con{nullptr};
    TMSConnectDialog dialog{nullptr};
    std::function<void(TMSConnectForm&)> script;
    std::vector<std::string> boxes;
    TMessageBoxHook previousBox;
    std::function<void(TForm*)> previousShowing;
};

TEST_F(DefaultForm, DatabaseListLeavesTheConnectionAsItWas) {
    script = [this](TMSConnectForm& form) {
        EXPECT_EQ(form.lbDatabase->Caption(), "Database");
        EXPECT_EQ(form.edDatabase->Text(), "master");
        EXPECT_EQ(form.ActiveControl(), form.edPassword);

        form.edPassword->SetText("wrong");
        form.edDatabase->Combo()->showPopup();
        form.edDatabase->Combo()->hidePopup();
        EXPECT_EQ(form.edDatabase->Items()->Count(), 0);
        EXPECT_FALSE(con.Connected());
        EXPECT_TRUE(con.LoginPrompt());
        EXPECT_EQ(boxes.size(), 1u); // the connection's error, shown by the application

        form.edPassword->SetText("k");
        form.edDatabase->Combo()->showPopup();
        form.edDatabase->Combo()->hidePopup();
        EXPECT_EQ(form.edDatabase->Items()->Text(), "master\r\nmodel\r\nmsdb\r\ntempdb\r\n");
        EXPECT_FALSE(con.Connected());
        EXPECT_EQ(Screen->Cursor(), crDefault);

        form.edServer->Combo()->showPopup();
        form.edServer->Combo()->hidePopup();
        EXPECT_GE(form.edServer->Items()->IndexOf("KELVORA-PC"), 0);
        standin.server().stop(); // a second opening asks nobody
        form.edServer->Items()->Clear();
        form.edServer->Combo()->showPopup();
        form.edServer->Combo()->hidePopup();
        EXPECT_EQ(form.edServer->Items()->Count(), 0);
        click(form.btCancel);
    };
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(con.Password(), "");
}

TEST_F(DefaultForm, ConnectsWithTheTypedDatabase) {
    script = [](TMSConnectForm& form) {
        form.edPassword->SetText("k");
        form.edDatabase->SetText("tempdb");
        click(form.btConnect);
    };
    EXPECT_TRUE(dialog.Execute());
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(con.Database(), "tempdb");
}

// An unregistered form class is an error that changes nothing; no form is shown.
TEST_F(DefaultForm, UnregisteredDialogClass) {
    dialog.SetDialogClass("TNoSuchForm");
    bool shown = false;
    script = [&](TMSConnectForm&) { shown = true; };
    con.SetPassword("kept");
    try {
        dialog.Execute();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Class TNoSuchForm not found");
    }
    EXPECT_FALSE(shown);
    EXPECT_EQ(con.Password(), "kept");
    EXPECT_EQ(con.Username(), "sa");
}

} // namespace
