// A simulated host with the stand-in SQL Server (sa password "k") whose registry the connect
// dialog uses, a TMSConnection with the console's settings, and a scripted login form in place
// of the user-interface module's hook.
#pragma once

#include "dataaccess/DAPlatform.h"
#include "dataaccess/MSAccess.h"
#include "dataaccess/MSConnectDialog.h"
#include "platform/posix/SimHost.h"
#include "tests/support/standin_fixture.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace kv::dataaccess::testing {

// What the scripted form saw when it opened.
struct SeenByForm {
    std::string Username;
    std::string Password;
    std::string Server;
};

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto host = platform::sim::SimHost::open(standin.folder());
        ASSERT_TRUE(host) << host.error().message;
        platform = platform::sim::createSimulatedPlatform(*host);
        SetDataAccessPlatform(platform.get());
        ApplicationTitleHook() = [] { return std::string("KelvoraTest"); };
        con.SetLoginPrompt(false);
        con.Options()->SetDisconnectedMode(true);
        con.SetDatabase("master");
        con.SetConnectDialog(&dialog);
        ShowConnectFormHook() = [this](TCustomConnectDialog* D) {
            seen = SeenByForm{D->Connection()->Username(), D->Connection()->Password(),
                              D->Connection()->Server()};
            if (!form)
                return false;
            return form(D);
        };
    }
    void TearDown() override {
        ShowConnectFormHook() = nullptr;
        ApplicationTitleHook() = nullptr;
        SetDataAccessPlatform(nullptr);
    }

    // A form that types the values and presses "Connect" once; true when it connected.
    static std::function<bool(TCustomConnectDialog*)> typing(std::string User, std::string Password,
                                                             std::string Server) {
        return [=](TCustomConnectDialog* D) {
            auto* c = D->Connection();
            c->SetPassword(Password);
            c->SetServer(Server);
            c->SetUsername(User);
            try {
                c->ConnectWithEvents(false);
            } catch (...) {
                return false;
            }
            return c->Connected();
        };
    }

    kv::platform::RegistryKey& key(const std::string& Path) {
        auto k = platform->registry().createKey(kv::platform::RegistryRoot::CurrentUser, Path);
        EXPECT_TRUE(k) << k.error().message;
        keys.push_back(std::move(k).value());
        return *keys.back();
    }
    std::optional<std::string> value(const std::string& Path, const std::string& Name) {
        auto k = platform->registry().openKey(kv::platform::RegistryRoot::CurrentUser, Path);
        if (!k)
            return std::nullopt;
        auto v = (*k)->readString(Name);
        if (!v)
            return std::nullopt;
        return *v;
    }

    static constexpr const char* kLoginKey = "SOFTWARE\\Quorix\\Nuvo\\Connect\\KelvoraTest";
    static constexpr const char* kHistoryKey = "SOFTWARE\\Quorix\\Nuvo\\Connect";

    kv::oledb::ComScope com;
    kv::oledb::testing::StandinHost standin;
    std::unique_ptr<kv::platform::Platform> platform;
    std::vector<std::unique_ptr<kv::platform::RegistryKey>> keys;
    TMSConnection con{nullptr};
    TMSConnectDialog dialog{nullptr};
    std::function<bool(TCustomConnectDialog*)> form;
    std::optional<SeenByForm> seen;
};

} // namespace kv::dataaccess::testing
