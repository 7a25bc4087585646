// "Bağlan" on a host whose sa password is not the console's: the console's own login form, its
// Turkish texts and server list, a wrong password that keeps the form open without a message,
// the right one that connects, and what the registry holds afterwards.

#include "console/ConnectForm.h"
#include "console_db_fixture.h"
#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSConnectDialog.h"
#include "dataaccess/ui/DAUIHooks.h"

#include <QTimer>
#include <functional>
#include <optional>

namespace kv::e2e {
namespace {

class ConsoleLogin : public ConsoleDatabase {
protected:
    void SetUp() override {
        kv::console::RegisterConnectForm();
        kv::dataaccess::ui::InstallDataAccessUI();
        previousShowing_ = TUIHooks::FormShowing;
        TUIHooks::FormShowing = [this](TForm* shown) {
            auto* login = dynamic_cast<TConnectForm*>(shown);
            if (login == nullptr || !script)
                return;
            // Once the modal loop runs.
            QTimer::singleShot(0, [this, login] { script(*login); });
        };
    }
    void TearDown() override {
        TUIHooks::FormShowing = previousShowing_;
        kv::dataaccess::SetDataAccessPlatform(nullptr);
        ConsoleDatabase::TearDown();
    }
    void openWrongPassword() {
        open(hostWith("running", "attached", 0, "2000", "other"));
        kv::dataaccess::SetDataAccessPlatform(&host->platform());
        ASSERT_TRUE(form->BaglanBTN->Enabled());
    }
    // A plain button of the login form or a skinned one of the main window.
    template <class Button>
    static void click(Button* button) {
        Application->HandleEvent(button, [button] { button->Click(); });
    }
    std::optional<std::string> stored(const std::string& path, const std::string& name) {
        auto key =
            host->platform().registry().openKey(kv::platform::RegistryRoot::CurrentUser, path);
        if (!key)
            return std::nullopt;
        auto value = (*key)->readString(name);
        return value ? std::optional<std::string>(*value) : std::nullopt;
    }
    std::string loginKey() const {
        return "SOFTWARE\\Quorix\\Nuvo\\Connect\\" + Application->Title();
    }

    std::function<void(TConnectForm&)> script;

private:
    std::function<void(TForm*)> previousShowing_;
};

TEST_F(ConsoleLogin, WrongThenRightPasswordConnects) {
    openWrongPassword();
    const size_t from = mark();
    bool ran = false;
    script = [&](TConnectForm& login) {
        ran = true;
        EXPECT_EQ(login.Caption(), "Bağlan");
        EXPECT_EQ(login.lbUsername->Caption(), "Kullanıcı Adı");
        EXPECT_EQ(login.lbPassword->Caption(), "Şifre");
        EXPECT_EQ(login.lbServer->Caption(), "Server");
        EXPECT_EQ(login.btConnect->Caption(), "Bağlan");
        EXPECT_EQ(login.btCancel->Caption(), "İptal");
        // The user name is known and the password is not: the password box has the focus.
        EXPECT_EQ(login.edUsername->Text(), "sa");
        EXPECT_EQ(login.edPassword->Text(), "");
        EXPECT_EQ(login.ActiveControl(), login.edPassword);
        int listed = 0;
        for (int i = 0; i < login.edServer->Items()->Count(); ++i)
            listed += login.edServer->Items()->Get(i) == LocalServerName ? 1 : 0;
        EXPECT_EQ(listed, 1) << login.edServer->Items()->Text();
        EXPECT_EQ(login.edServer->Text(), LocalServerName);

        // Three wrong passwords: no message, the form stays, the counter is untouched.
        for (int attempt = 0; attempt < 3; ++attempt) {
            login.edPassword->SetText("bad");
            click(login.btConnect);
            EXPECT_EQ(login.ModalResult(), mrNone);
        }
        EXPECT_TRUE(errorBoxes.empty());
        EXPECT_EQ(login.Attempts(), 3);
        login.edPassword->SetText("other");
        click(login.btConnect);
        EXPECT_EQ(login.ModalResult(), mrOk);
    };
    click(form->BaglanBTN);
    ASSERT_TRUE(ran);
    EXPECT_EQ(messagesFrom(from),
              (Lines{"MsSql Servera bağlanılıyor.", "MsSql Server bağlanıldı."}));
    expectLabel(form->DBAna, "Başarılı", clBlack);
    EXPECT_FALSE(form->BaglanBTN->Enabled());
    // The database buttons keep the state of the last database check.
    EXPECT_EQ(databaseButtons(), (std::vector<bool>{false, false, false, false}));
    EXPECT_TRUE(form->MSCon->Connected());
    EXPECT_EQ(form->MSCon->Database(), "master");
    EXPECT_EQ(stored(loginKey(), "Username"), "sa");
    EXPECT_EQ(stored(loginKey(), "Server"), LocalServerName);
    EXPECT_EQ(stored("SOFTWARE\\Quorix\\Nuvo\\Connect", "Server 1"), LocalServerName);
    EXPECT_TRUE(errorBoxes.empty());
}

TEST_F(ConsoleLogin, CancelChangesNothing) {
    openWrongPassword();
    const size_t from = mark();
    script = [&](TConnectForm& login) {
        login.edUsername->SetText("someone");
        login.edPassword->SetText("bad");
        click(login.btConnect);
        click(login.btCancel);
    };
    click(form->BaglanBTN);
    EXPECT_EQ(messagesFrom(from), Lines{});
    expectLabel(form->DBAna, "Başarısız", clRed);
    EXPECT_TRUE(form->BaglanBTN->Enabled());
    EXPECT_EQ(form->MSCon->Username(), "sa");
    EXPECT_FALSE(form->MSCon->Connected());
    EXPECT_EQ(stored(loginKey(), "Username"), std::nullopt);
    EXPECT_EQ(stored("SOFTWARE\\Quorix\\Nuvo\\Connect", "Server 1"), std::nullopt);
}

} // namespace
} // namespace kv::e2e
