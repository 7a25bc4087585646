// A simulated host with the stand-in SQL Server running in-process on an ephemeral loopback
// port, its freetds.conf written, and KELVORA_HOST pointing at it; the choice of the portable
// provider's transport (db-lib or ODBC); plus (provider_helpers.h) helpers that drive the
// provider the way the data-access layer does.
#pragma once

#include "platform/oledb/provider.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"
#include "tests/support/provider_helpers.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kv::oledb::testing {

class StandinHost {
public:
    explicit StandinHost(standin::Profile profile = standin::Profile::Sql2000,
                         std::string computerName = "KELVORA-PC")
        : profile_(profile) {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv-oledb-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        platform::sim::CreateOptions options;
        options.computerName = std::move(computerName);
        auto host = platform::sim::SimHost::create(folder_, options);
        if (!host) {
            ADD_FAILURE() << "host: " << host.error().message;
            return;
        }
        host_ = std::make_unique<platform::sim::SimHost>(std::move(host).value());
        ::setenv("KELVORA_HOST", folder_.c_str(), 1);
        start();
    }
    ~StandinHost() {
        if (server_) {
            server_->stop();
        }
        server_.reset();
        ::unsetenv("KELVORA_HOST");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    void start() {
        standin::Server::Options options;
        options.profile = profile_;
        server_ = std::make_unique<standin::Server>(*host_, options);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        ASSERT_TRUE(standin::writeFreetdsConf(*host_, server_->port(), profile_, error)) << error;
    }
    standin::Server& server() { return *server_; }
    std::uint16_t port() const { return server_->port(); }
    const std::filesystem::path& folder() const { return folder_; }

private:
    standin::Profile profile_;
    std::filesystem::path folder_;
    std::unique_ptr<platform::sim::SimHost> host_;
    std::unique_ptr<standin::Server> server_;
};

// The portable provider's transports. db-lib is the one registered from the start; ODBC goes
// through unixODBC and FreeTDS's ODBC driver, which CMake registers for the tests in the build
// folder (ODBCSYSINI in the tests' environment).
enum class Transport { DbLib, Odbc };

inline const char* transportName(Transport t) {
    return t == Transport::Odbc ? "Odbc" : "DbLib";
}

// Why the transport cannot be tested here; empty when it can.
inline std::string transportUnavailable(Transport t) {
    if (t == Transport::DbLib) {
        return {};
    }
    IUnknown* probe = nullptr;
    if (createOdbcDataSource(nullptr, IID_IUnknown, reinterpret_cast<void**>(&probe)) ==
        REGDB_E_CLASSNOTREG) {
        return "the provider was built without its ODBC transport (no unixODBC headers)";
    }
    if (probe) {
        probe->Release();
    }
    if (!std::getenv("ODBCSYSINI")) {
        return "no ODBC driver registered for the tests (FreeTDS's driver was not found when "
               "the build was configured, or the test runs outside CTest)";
    }
    return {};
}

// Makes the transport the one that answers under the classic provider's class id.
class ScopedTransport {
public:
    explicit ScopedTransport(Transport t)
        : registration_(CLSID_SQLOLEDB,
                        t == Transport::Odbc ? createOdbcDataSource : createTdsDataSource) {}

private:
    ScopedClassRegistration registration_;
};

} // namespace kv::oledb::testing
