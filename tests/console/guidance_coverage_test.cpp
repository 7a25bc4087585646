// Every error the console's own statements can end with has a guidance sentence: the statements
// of the start-up, "Data Bağla", "Data Kopar", "Onar" and both rebuilds, sent as the console
// sends them to the stand-in SQL Server (in process, on a simulated host) under the faults a
// pharmacy's machine meets, in both profiles. A new refusal of the server, or a new statement of
// the console, that the table does not know fails here.

#include "console/guidance.h"
#include "console/repair_statements.h"
#include "platform/FileHold.h"
#include "platform/posix/FileHold.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/DbFile.h"
#include "simulator/standin/Engine.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kv::console::repair;
using kv::standin::Profile;

constexpr const char* DataFile = "C:\\Kelvora\\Data\\kelvora_Data.MDF";
constexpr const char* LogFile = "C:\\Kelvora\\Data\\kelvora_Log.LDF";
const std::string AttachBatch = std::string("use master\r\n") + Attach;

class GuidanceCoverage : public ::testing::TestWithParam<Profile> {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kelvora-guidance-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        auto host = kv::platform::sim::SimHost::create(folder_ / "host");
        ASSERT_TRUE(host) << host.error().message;
        host_.emplace(std::move(host).value());
        start();
    }
    void TearDown() override {
        stop();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    bool is2000() const { return GetParam() == Profile::Sql2000; }
    fs::path real(const std::string& path) { return host_->resolve(path).value(); }

    void start() {
        kv::standin::Engine::Options options;
        options.profile = GetParam();
        engine_ = std::make_unique<kv::standin::Engine>(*host_, options);
        session_ = engine_->openSession();
        ASSERT_TRUE(engine_->login(*session_, "sa", kv::standin::DefaultSaPassword, "master").ok);
    }
    void stop() {
        if (!engine_)
            return;
        engine_->closeSession(*session_);
        session_.reset();
        engine_.reset();
    }

    // The product's two files, as the demo writes them, with `damaged` damaged pages.
    void writeDatabase(int damaged = 0, const std::string& name = "kelvora",
                       const std::string& data = DataFile, const std::string& log = LogFile) {
        fs::create_directories(real(data).parent_path());
        kv::standin::dbfile::Header header;
        header.database = name;
        header.id = kv::standin::dbfile::newFileId();
        std::string why;
        auto d = kv::platform::FileHold::openShared(real(data),
                                                    kv::platform::FileHold::Open::CreateIfMissing);
        ASSERT_TRUE(d) << d.error().message;
        auto written = kv::standin::dbfile::writeDataFile(*d, header,
                                                          kv::standin::dbfile::demoTables(200), 64);
        ASSERT_TRUE(written) << written.error().message;
        if (damaged > 0) {
            ASSERT_EQ(kv::standin::dbfile::damage(*d, header, damaged, why), damaged);
        }
        auto l = kv::platform::FileHold::openShared(real(log),
                                                    kv::platform::FileHold::Open::CreateIfMissing);
        ASSERT_TRUE(l) << l.error().message;
        written = kv::standin::dbfile::writeLogFile(*l, name, header.id, header.version, 63);
        ASSERT_TRUE(written) << written.error().message;
    }

    // Runs a statement as the console does and checks every error it ends with.
    std::vector<kv::standin::Message> run(const std::string& statement,
                                          kv::standin::Session* session = nullptr) {
        kv::standin::RecordingSink sink;
        (void)engine_->execute(session ? *session : *session_, statement, sink);
        expectGuided(sink.errors(), statement);
        return sink.errors();
    }
    void expectGuided(const std::vector<kv::standin::Message>& errors, const std::string& what) {
        std::vector<kv::console::ServerMessage> messages;
        for (const auto& error : errors) {
            messages.push_back({error.number, error.text});
            seen_.insert(error.number);
            EXPECT_TRUE(kv::console::guidanceForMessage(messages.back()))
                << "no guidance for " << error.number << " (" << error.text << ") after " << what;
        }
        if (!messages.empty()) {
            const auto guidance = kv::console::guidanceFor(messages);
            ASSERT_TRUE(guidance);
            EXPECT_NE(guidance->key, "other") << what;
        }
    }
    void setting(const std::string& key, const std::string& value) {
        ASSERT_TRUE(host_->setSetting(key, value));
    }
    void removeFiles() {
        std::error_code ignored;
        fs::remove(real(DataFile), ignored);
        fs::remove(real(LogFile), ignored);
    }

    fs::path folder_;
    std::optional<kv::platform::sim::SimHost> host_;
    std::unique_ptr<kv::standin::Engine> engine_;
    std::shared_ptr<kv::standin::Session> session_;
    std::set<int> seen_;
};

TEST_P(GuidanceCoverage, EveryErrorOfTheConsolesStatementsHasASentence) {
    // Logins: the administrator's password refused.
    {
        auto other = engine_->openSession();
        const auto refused = engine_->login(*other, "sa", "wrong", "master");
        EXPECT_FALSE(refused.ok);
        expectGuided(refused.messages, "a refused login");
        engine_->closeSession(*other);
    }

    // "Data Bağla" with the files missing, then each refusal of the files.
    run(AttachBatch);
    writeDatabase();
    fs::remove(real(LogFile));
    run(AttachBatch);
    writeDatabase();
    {
        auto held = kv::platform::sim::FileHold::hold(real(DataFile));
        ASSERT_TRUE(held);
        run(AttachBatch);
    }
    writeDatabase(0, "kelvora");
    {
        // A log that belongs to another data file.
        const fs::path log = real(LogFile);
        writeDatabase(0, "other", "C:\\Other\\o.mdf", "C:\\Other\\o.ldf");
        fs::copy_file(real("C:\\Other\\o.ldf"), log, fs::copy_options::overwrite_existing);
        run(AttachBatch);
    }
    writeDatabase();
    fs::copy_file(real(LogFile), real(DataFile), fs::copy_options::overwrite_existing);
    run(AttachBatch); // a log file where the data file should be
    writeDatabase();
    {
        std::fstream file(real(DataFile), std::ios::binary | std::ios::in | std::ios::out);
        const std::string garbage(8192, '\xEE');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    run(AttachBatch); // no database header

    // "Data Kopar" and "Onar" on a database that is not there.
    run("EXEC sp_detach_db 'kelvora','true'");
    run(CheckStatement);

    // Attached and damaged: the check, a detach while it is in use, the repair refused outside
    // single-user mode and without room for its log, a second attach.
    writeDatabase(3);
    EXPECT_TRUE(run(AttachBatch).empty());
    run(AttachBatch);
    run(CheckStatement);
    {
        auto user = engine_->openSession();
        ASSERT_TRUE(engine_->login(*user, "sa", kv::standin::DefaultSaPassword, "master").ok);
        kv::standin::RecordingSink ignored;
        (void)engine_->execute(*user, "use kelvora", ignored);
        run("EXEC sp_detach_db 'kelvora','true'");
        engine_->closeSession(*user);
    }
    run(ProductRepair);
    EXPECT_TRUE(run(ProductSingleUser).empty());
    setting("disk_free", "8192");
    run(ProductRepair);
    setting("disk_free", "100000000");
    EXPECT_TRUE(run(ProductMultiUser).empty());
    if (is2000()) {
        // The desktop engine closes the unused database: another program may take its files.
        auto held = kv::platform::sim::FileHold::hold(real(DataFile));
        ASSERT_TRUE(held);
        run(CheckStatement);
    }

    // The rebuild's statements in turn, with the faults that stop them.
    run(ScratchDetach);
    run(EmergencyMode);
    run(LogRebuild);
    run(SingleUser);
    run(Repair);
    setting("disk_free", "100000");
    run(ScratchCreate);
    setting("disk_free", "100000000");
    { std::ofstream(real(ScratchDataLeftover)) << "an earlier run's scratch file"; }
    run(ScratchCreate);
    fs::remove(real(ScratchDataLeftover));
    EXPECT_TRUE(run(ScratchCreate).empty());
    if (is2000()) {
        run(LogRebuild); // not in emergency mode
        for (const char* statement :
             {AllowUpdatesOn, Reconfigure, EmergencyMode, AllowUpdatesOff, Reconfigure})
            EXPECT_TRUE(run(statement).empty()) << statement;
        run(LogRebuild); // the target file is there
    } else {
        run(ProductEmergency);
        run(AttachRebuildingLog);
    }

    // The scenarios met the families of errors they are about.
    for (int number :
         {18456, 1801, 8928, 8939, 7919, 9002, 3703, 15010, 2520, 5123, 1802, 5170, 5172})
        EXPECT_TRUE(seen_.count(number)) << number << " never came up";
    if (is2000()) {
        for (int number : {5105, 1813, 5173, 5023, 5025})
            EXPECT_TRUE(seen_.count(number)) << number << " never came up";
    } else {
        for (int number : {5120, 5171, 5173, 1813, 259, 2526})
            EXPECT_TRUE(seen_.count(number)) << number << " never came up";
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, GuidanceCoverage,
                         ::testing::Values(Profile::Sql2000, Profile::Sql2005),
                         [](const ::testing::TestParamInfo<Profile>& row) {
                             return row.param == Profile::Sql2000 ? "Sql2000" : "Sql2005";
                         });

} // namespace
