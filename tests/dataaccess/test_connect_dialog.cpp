// The connect dialog's Execute against the stand-in and the simulated host's registry: what the
// form is shown, what is stored after a login, and that a cancelled or failed login leaves
// neither the connection nor the registry changed.
#include "tests/dataaccess/login_fixture.h"
#include "toolkit/DB.h"
#include "toolkit/Registry.h"

using namespace kv::dataaccess;
using kv::dataaccess::testing::LoginTest;

// A successful login stores user name, server and database, and puts the server first in the
// history, dropping an older entry that differs from it only in letter case.
TEST_F(LoginTest, SuccessStoresLoginAndMovesServerToTopOfHistory) {
    auto& history = key(kHistoryKey);
    ASSERT_TRUE(history.writeString("Server 1", "A"));
    ASSERT_TRUE(history.writeString("Server 2", "kelvora-pc"));
    ASSERT_TRUE(history.writeString("Server 3", "C"));
    form = typing("sa", "k", "KELVORA-PC");

    ASSERT_TRUE(dialog.Execute());
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(value(kHistoryKey, "Server 1"), "KELVORA-PC");
    EXPECT_EQ(value(kHistoryKey, "Server 2"), "A");
    EXPECT_EQ(value(kHistoryKey, "Server 3"), "C");
    EXPECT_EQ(value(kHistoryKey, "Server 4"), std::nullopt);
    EXPECT_EQ(value(kLoginKey, "Username"), "sa");
    EXPECT_EQ(value(kLoginKey, "Server"), "KELVORA-PC");
    EXPECT_EQ(value(kLoginKey, "Database"), "master");
    EXPECT_EQ(value(kLoginKey, "Password"), std::nullopt);
}

// Cancel, a wrong password and a form that reports OK without a connection: the connection
// gets its values back and the registry stays empty.
TEST_F(LoginTest, CancelledOrFailedLoginLeavesNoTrace) {
    con.SetUsername("before");
    con.SetPassword("secret");
    con.SetServer("OLD");
    for (auto script :
         {std::function<bool(TCustomConnectDialog*)>{}, typing("sa", "wrong", "KELVORA-PC"),
          std::function<bool(TCustomConnectDialog*)>([](TCustomConnectDialog* D) {
              D->Connection()->SetUsername("typed");
              return false;
          })}) {
        form = script;
        EXPECT_FALSE(dialog.Execute());
        EXPECT_EQ(con.Username(), "before");
        EXPECT_EQ(con.Password(), "secret");
        EXPECT_EQ(con.Server(), "OLD");
        EXPECT_EQ(con.Database(), "master");
        EXPECT_FALSE(con.Connected());
    }
    EXPECT_EQ(value(kHistoryKey, "Server 1"), std::nullopt);
    EXPECT_EQ(value(kLoginKey, "Username"), std::nullopt);
}

// The stored values are what the form opens with; the password is cleared unless SavePassword
// is set (and then only when the stored user differs); StoreLogInfo false reads nothing and
// keeps the password.
TEST_F(LoginTest, StoredValuesAndPasswordRules) {
    auto& login = key(kLoginKey);
    ASSERT_TRUE(login.writeString("Username", "sa"));
    ASSERT_TRUE(login.writeString("Server", "KELVORA-PC"));
    ASSERT_TRUE(login.writeString("Database", "tempdb"));

    struct Case {
        bool SavePassword;
        bool StoreLogInfo;
        const char* Username; // the connection's before Execute
        const char* ShownUser;
        const char* ShownPassword;
        const char* ShownServer;
    };
    const Case cases[] = {
        {false, true, "other", "sa", "", "KELVORA-PC"}, {false, true, "sa", "sa", "", "KELVORA-PC"},
        {true, true, "SA", "sa", "pw", "KELVORA-PC"},  // same user ignoring case: kept
        {true, true, "other", "sa", "", "KELVORA-PC"}, // another user: cleared
        {false, false, "other", "other", "pw", "OLD"}, // nothing read, nothing cleared
        {true, false, "other", "other", "pw", "OLD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Username) + " save=" + std::to_string(c.SavePassword) +
                     " store=" + std::to_string(c.StoreLogInfo));
        dialog.SetSavePassword(c.SavePassword);
        dialog.SetStoreLogInfo(c.StoreLogInfo);
        con.SetUsername(c.Username);
        con.SetPassword("pw");
        con.SetServer("OLD");
        form = nullptr;
        EXPECT_FALSE(dialog.Execute());
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->Username, c.ShownUser);
        EXPECT_EQ(seen->Password, c.ShownPassword);
        EXPECT_EQ(seen->Server, c.ShownServer);
    }
}

// Logins stored under the product's former name are found when the current key is missing;
// writing always goes to the current key.
TEST_F(LoginTest, ReadFallsBackToFormerProductKey) {
    auto& former = key("SOFTWARE\\Parvelt\\Nuvo\\Connect\\KelvoraTest");
    ASSERT_TRUE(former.writeString("Username", "sa"));
    ASSERT_TRUE(former.writeString("Server", "KELVORA-PC"));
    form = [](TCustomConnectDialog* D) {
        D->Connection()->SetPassword("k");
        D->Connection()->ConnectWithEvents(false);
        return true;
    };
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(value(kLoginKey, "Username"), "sa");
    EXPECT_EQ(value(kHistoryKey, "Server 1"), "KELVORA-PC");
}

// A stored value of another type is the registry read error; the connection is restored.
TEST_F(LoginTest, WrongValueTypeRaisesAndRestores) {
    ASSERT_TRUE(key(kLoginKey).writeInteger("Server", 7));
    con.SetUsername("before");
    con.SetPassword("secret");
    con.SetServer("OLD");
    form = [](TCustomConnectDialog*) { return true; };
    EXPECT_THROW(dialog.Execute(), ERegistryException);
    EXPECT_EQ(con.Username(), "before");
    EXPECT_EQ(con.Password(), "secret");
    EXPECT_EQ(con.Server(), "OLD");
    EXPECT_FALSE(seen);
}

// No connection: the database error, before anything is read or shown.
TEST_F(LoginTest, NoConnectionIsAnError) {
    TMSConnectDialog lonely(nullptr);
    try {
        lonely.Execute();
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Connection is not defined");
    }
    EXPECT_FALSE(seen);
}

// The server list offered by the SQL Server dialog comes from discovery: the host's
// configuration and the stand-in's answer to the resolution request, each name once; the
// result is kept for the dialog's lifetime.
TEST_F(LoginTest, ServerListFromDiscoveryIsCached) {
    TStringList list;
    dialog.GetServerList(&list);
    EXPECT_EQ(list.IndexOf("KELVORA-PC"), list.Count() - 1);
    int count = 0;
    for (int i = 0; i < list.Count(); ++i)
        count += SameText(list[i], "KELVORA-PC") ? 1 : 0;
    EXPECT_EQ(count, 1);
    EXPECT_EQ(dialog.ServerCache().Count(), list.Count());
    standin.server().stop();
    TStringList again;
    dialog.GetServerList(&again);
    EXPECT_EQ(again.Text(), list.Text());
}

// The database list comes from the catalogs schema rowset; a closed connection is opened for
// it and closed again; a wrong password leaves the list empty and the connection as it was.
TEST_F(LoginTest, DatabaseNamesFromCatalogs) {
    con.SetUsername("sa");
    con.SetPassword("k");
    con.SetServer("KELVORA-PC");
    TStringList names;
    names.Add("stale");
    con.GetDatabaseNames(&names);
    EXPECT_EQ(names.Text(), "master\r\nmodel\r\nmsdb\r\ntempdb\r\n");
    EXPECT_FALSE(con.Connected());

    con.SetPassword("wrong");
    TStringList none;
    EXPECT_ANY_THROW(con.GetDatabaseNames(&none));
    EXPECT_EQ(none.Count(), 0);
    EXPECT_FALSE(con.Connected());
    EXPECT_EQ(con.Password(), "wrong");
}
