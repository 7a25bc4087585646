// The console's login form where the connection's error event keeps Fail, so failed attempts
// arrive as EMSError: the attempt counter, the focus rules and the retry flag.

#include "console/ConnectForm.h"
#include "console/database_names.h"
#include "console_db_fixture.h"
#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSConnectDialog.h"
#include "platform/CompositePlatform.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

namespace kv::e2e {
namespace {

// A malformed discovery answer (here from a loopback responder standing in for some machine on
// the network) is shown once; the form still opens, with an empty server list, and connects.
TEST_F(LoginFormErrors, MalformedDiscoveryAnswerDoesNotBlockTheLogin) {
    prepare();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::thread responder([fd] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return;
        char request[16];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if (::recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                       &fromLength) <= 0)
            return;
        const std::string broken = std::string("\x05\x0a\x00", 3) + "ServerName";
        (void)::sendto(fd, broken.data(), broken.size(), 0, reinterpret_cast<sockaddr*>(&from),
                       fromLength);
    });
    platform::CompositePlatform network(&host->platform());
    network.setDiscoveryTarget({"127.0.0.1", ntohs(a.sin_port), false});
    dataaccess::SetDataAccessPlatform(&network);

    makeForm();
    responder.join();
    ::close(fd);
    dataaccess::SetDataAccessPlatform(nullptr);
    // The standard error box ends the message with a full stop.
    EXPECT_EQ(errorBoxes, (std::vector<std::string>{"invalid Value."}));
    EXPECT_EQ(login->edServer->Items()->Count(), 0);
    EXPECT_EQ(login->edServer->Text(), LocalServerName);
    attempt(kv::console::AdministratorPassword);
    EXPECT_EQ(login->ModalResult(), mrOk);
}

} // namespace
} // namespace kv::e2e

namespace kv::e2e {
namespace {

// The login form's server list opens as on Windows: whole rows one Tahoma line (13 pixels) high,
// the first inside the list's viewport, and the row of the server in the box highlighted.
TEST_F(LoginFormErrors, ServerListOpensOnTheServerInTheBox) {
    prepare();
    makeForm();
    login->Show();
    auto* combo = qobject_cast<QComboBox*>(login->edServer->Widget());
    ASSERT_NE(combo, nullptr);
    const int row = login->edServer->Items()->IndexOf(LocalServerName);
    ASSERT_GE(row, 0) << "discovery lists the local server";
    ASSERT_GT(login->edServer->Items()->Count(), 1);
    ASSERT_NE(row, combo->currentIndex()) << "the highlight must come from the text";
    EXPECT_EQ(login->edServer->Text(), LocalServerName);
    combo->showPopup();
    QApplication::processEvents();
    QAbstractItemView* view = combo->view();
    EXPECT_EQ(view->currentIndex().row(), row);
    EXPECT_TRUE(view->selectionModel()->isSelected(view->currentIndex()));
    const QRect first = view->visualRect(view->model()->index(0, 0));
    EXPECT_EQ(first.height(), 13);
    EXPECT_TRUE(view->viewport()->rect().contains(first));
    combo->hidePopup();
    login->Hide();
}

} // namespace
} // namespace kv::e2e
