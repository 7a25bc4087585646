#pragma once
// Test helpers: a fresh simulated host per test, the product's demo database files, and an
// engine with one logged-in administrator session.

#include "platform/FileHold.h"
#include "platform/Platform.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/DbFile.h"
#include "simulator/standin/Engine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace kv::standin::testing {

inline constexpr const char* ProductData = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
inline constexpr const char* ProductLog = "C:\\Kelvora\\Data\\kelvora_Log.LDF";

class TestHost {
public:
    TestHost() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("standin-") + (info ? info->test_suite_name() : "x") + "-" +
                           (info ? info->name() : "y") + "-" + std::to_string(::getpid());
        for (auto& c : name)
            if (c == '/')
                c = '_';
        root_ = std::filesystem::path(::testing::TempDir()) / name;
        std::filesystem::remove_all(root_);
        auto host = platform::sim::SimHost::create(root_);
        if (!host)
            throw std::runtime_error(host.error().message);
        host_.emplace(std::move(host).value());
    }
    ~TestHost() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    platform::sim::SimHost& host() { return *host_; }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path path(const std::string& windowsPath) {
        return host_->resolve(windowsPath).value();
    }

    // Writes a data file and its log (sample tables), optionally with damaged pages.
    void writeDatabase(const std::string& data, const std::string& log, int damaged = 0,
                       std::uint16_t version = 539, const std::string& name = "kelvora") {
        std::filesystem::create_directories(path(data).parent_path());
        dbfile::Header header;
        header.database = name;
        header.id = dbfile::newFileId();
        header.version = version;
        std::string why;
        using platform::FileHold;
        {
            auto d = FileHold::openShared(path(data), FileHold::Open::CreateIfMissing);
            ASSERT_TRUE(d) << d.error().message;
            auto written = dbfile::writeDataFile(*d, header, dbfile::demoTables(200), 64);
            ASSERT_TRUE(written) << written.error().message;
            if (damaged > 0) {
                ASSERT_EQ(dbfile::damage(*d, header, damaged, why), damaged);
            }
        }
        if (!log.empty()) {
            std::filesystem::create_directories(path(log).parent_path());
            auto l = FileHold::openShared(path(log), FileHold::Open::CreateIfMissing);
            ASSERT_TRUE(l) << l.error().message;
            auto written = dbfile::writeLogFile(*l, name, header.id, version, 63);
            ASSERT_TRUE(written) << written.error().message;
        }
    }

    // Damaged pages of a data file, or -1 when it cannot be read.
    int damagedPages(const std::string& data) {
        auto file = platform::FileHold::openShared(path(data), platform::FileHold::Open::ReadOnly);
        if (!file)
            return -1;
        dbfile::ReadError kind;
        std::string why;
        auto header = dbfile::readHeader(*file, kind, why);
        return header ? static_cast<int>(dbfile::check(*file, *header).problems.size()) : -1;
    }

private:
    std::filesystem::path root_;
    std::optional<platform::sim::SimHost> host_;
};

// An engine on the host with one session logged in as sa in master.
class EngineRig {
public:
    EngineRig(platform::sim::SimHost& host, Profile profile) : host_(host), profile_(profile) {
        start();
    }
    ~EngineRig() { stop(); }

    void start() {
        Engine::Options options;
        options.profile = profile_;
        engine_ = std::make_unique<Engine>(host_, options);
        session_ = engine_->openSession();
        auto r = engine_->login(*session_, "sa", DefaultSaPassword, "master");
        EXPECT_TRUE(r.ok);
    }
    // A service stop: sessions end, databases close.
    void stop() {
        if (!engine_)
            return;
        engine_->closeSession(*session_);
        session_.reset();
        engine_.reset();
    }
    void restart() {
        stop();
        start();
    }

    RecordingSink run(const std::string& sql) {
        RecordingSink sink;
        (void)engine_->execute(*session_, sql, sink);
        return sink;
    }
    // Number of rows of the console's database check.
    std::size_t lookup(const std::string& name) {
        auto sink = run("use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='" + name + "'");
        auto sets = sink.rowSets();
        return sets.empty() ? 0 : sets.back().rows.size();
    }

    Engine& engine() { return *engine_; }
    Session& session() { return *session_; }

private:
    platform::sim::SimHost& host_;
    Profile profile_;
    std::unique_ptr<Engine> engine_;
    std::shared_ptr<Session> session_;
};

inline std::vector<int> numbers(const std::vector<Message>& messages) {
    std::vector<int> out;
    for (const auto& m : messages)
        out.push_back(m.number);
    return out;
}

} // namespace kv::standin::testing
