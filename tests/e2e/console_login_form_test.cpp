// The console's login form where the connection's error event keeps Fail, so failed attempts
// arrive as EMSError: the attempt counter, the focus rules and the retry flag.

#include "console/ConnectForm.h"
#include "console/database_names.h"
#include "console_db_fixture.h"
#include "dataaccess/MSConnectDialog.h"

namespace kv::e2e {
namespace {

class LoginFormErrors : public ConsoleDatabase {
protected:
    void prepare() {
        open();
        con = std::make_unique<dataaccess::TMSConnection>(nullptr);
        dialog = std::make_unique<dataaccess::TMSConnectDialog>(nullptr);
        con->SetLoginPrompt(false);
        con->SetDatabase("master");
        con->SetUsername("sa");
        con->SetServer(LocalServerName);
        con->SetConnectDialog(dialog.get());
        con->BeforeConnect = [this](TObject*) { ++beforeConnect; };
        dialog->SetStoreLogInfo(false);
    }
    void TearDown() override {
        login.reset();
        dialog.reset();
        con.reset();
        ConsoleDatabase::TearDown();
    }
    void makeForm() {
        login = std::make_unique<TConnectForm>(nullptr);
        login->SetConnectDialog(dialog.get());
    }
    void attempt(const std::string& password, const std::string& server = "") {
        login->edPassword->SetText(password);
        login->edServer->SetText(server.empty() ? LocalServerName : server);
        Application->HandleEvent(login->btConnect, [this] { login->btConnect->Click(); });
    }

    std::unique_ptr<dataaccess::TMSConnection> con;
    std::unique_ptr<dataaccess::TMSConnectDialog> dialog;
    std::unique_ptr<TConnectForm> login;
    int beforeConnect = 0;
};

// Every failure is shown and counted; the third closes the form as cancelled. A refused login
// moves the focus to the password unless it is on the user name; an unknown server moves it to
// the server box.
TEST_F(LoginFormErrors, FailuresCountAndMoveTheFocus) {
    prepare();
    makeForm();
    EXPECT_EQ(login->ActiveControl(), login->edPassword);
    EXPECT_EQ(login->Attempts(), 3);

    login->SetActiveControl(login->edUsername);
    attempt("bad");
    EXPECT_EQ(login->ActiveControl(), login->edUsername);
    EXPECT_EQ(login->Attempts(), 2);
    EXPECT_EQ(login->ModalResult(), mrNone);

    attempt("bad", "NOSUCHSERVER");
    EXPECT_EQ(login->ActiveControl(), login->edServer);

    attempt("bad");
    EXPECT_EQ(login->ActiveControl(), login->edPassword);
    EXPECT_EQ(login->ModalResult(), mrCancel);
    EXPECT_EQ(errorBoxes.size(), 3u);
}

// Retries 0: the counter passes zero on the first failure and the form never closes by itself.
// The successful attempt after a failure is a retry: the before-connect event fired once.
TEST_F(LoginFormErrors, RetriesZeroNeverGivesUpAndTheRetryFlagSkipsBeforeConnect) {
    prepare();
    dialog->SetRetries(0);
    makeForm();
    for (int i = 0; i < 4; ++i) {
        attempt("bad");
        EXPECT_EQ(login->ModalResult(), mrNone);
    }
    EXPECT_TRUE(login->RetryFlag());
    EXPECT_EQ(beforeConnect, 1);
    attempt(kv::console::AdministratorPassword);
    EXPECT_EQ(login->ModalResult(), mrOk);
    EXPECT_TRUE(con->Connected());
    EXPECT_EQ(beforeConnect, 1);
}

// A form opened for a user without a password and with a stored password: focus rules.
TEST_F(LoginFormErrors, FocusStaysOnTheUserNameWhenThereIsNothingToAdd) {
    prepare();
    con->SetUsername("");
    makeForm();
    EXPECT_EQ(login->ActiveControl(), login->edUsername);
    dialog->SetSavePassword(true);
    con->SetUsername("sa");
    con->SetPassword("x");
    makeForm();
    EXPECT_EQ(login->ActiveControl(), login->edUsername);
    EXPECT_EQ(login->edPassword->Text(), "x");
}

} // namespace
} // namespace kv::e2e
