// The console's statement sequences against the engine, in both profiles: attach and
// provisioning, refused attaches, detach, the consistency check, and the legacy emergency
// rebuild (which works on SQL Server 2000 and fails step by step on 2005).

#include "StandinTestHost.h"
#include "platform/FileHold.h"
#include "platform/FileSystem.h"

#include <ctime>
#include <fstream>
#include <gmock/gmock.h>

using namespace kv::standin;
using namespace kv::standin::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string Attach =
    "use master\r\ncreate database kelvora ON (FILENAME = 'c:\\kelvora\\data\\kelvora_data.mdf')  "
    "LOG ON (FILENAME = 'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH";
const std::vector<std::string> Provisioning = {
    "exec sp_addlogin 'kelvora','1234','kelvora','turkish'",
    "exec sp_defaultdb 'kelvora','kelvora'", "exec sp_addsrvrolemember 'kelvora','sysadmin'",
    "exec sp_grantdbaccess 'kelvora'"};
const std::string Detach = "EXEC sp_detach_db 'kelvora','true'";
const std::string Check = "dbcc checkdb('kelvora') with no_infomsgs";

class ScenarioTest : public ::testing::TestWithParam<Profile> {
protected:
    bool is2000() const { return GetParam() == Profile::Sql2000; }
    TestHost host;
};

std::string profileName(const ::testing::TestParamInfo<Profile>& info) {
    return info.param == Profile::Sql2000 ? "Sql2000" : "Sql2005";
}

// Attach of a detached database, then the four provisioning statements: the product login
// exists afterwards with its default database and can log in.
TEST_P(ScenarioTest, AttachAndProvisioningOnADetachedDatabase) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    ASSERT_EQ(rig.lookup("kelvora"), 0u);
    auto attach = rig.run(Attach);
    EXPECT_THAT(attach.errors(), IsEmpty());
    if (is2000())
        EXPECT_THAT(numbers(attach.messages()), ElementsAre(5701));
    else // a 2000 database is converted on the way in
        EXPECT_EQ(numbers(attach.messages()).at(1), 944);
    EXPECT_EQ(rig.lookup("kelvora"), 1u);
    for (const auto& statement : Provisioning)
        EXPECT_THAT(rig.run(statement).errors(), IsEmpty()) << statement;
    // A second provisioning: the login exists and the user too; the first and last fail.
    EXPECT_EQ(rig.run(Provisioning[0]).errors().at(0).number, 15025);
    EXPECT_EQ(rig.run(Provisioning[3]).errors().at(0).number, 15023);

    auto session = rig.engine().openSession();
    auto login = rig.engine().login(*session, "kelvora", "1234", "");
    EXPECT_TRUE(login.ok);
    EXPECT_EQ(login.database, "kelvora");
    EXPECT_EQ(login.language, "Turkish");
    EXPECT_FALSE(rig.engine().login(*session, "kelvora", "4321", "").ok);
    rig.engine().closeSession(*session);
}

struct Refusal {
    const char* name;
    std::vector<int> sql2000, sql2005;
};

// Each way the attach is refused gives the profile's pair of errors and leaves the database
// unattached.
TEST_P(ScenarioTest, AttachRefusedCases) {
    {
        SCOPED_TRACE("already attached");
        host.writeDatabase(ProductData, ProductLog);
        EngineRig rig(host.host(), GetParam());
        ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
        auto again = rig.run(Attach).errors();
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(again[0].number, 1801);
        EXPECT_EQ(again[0].state, 3);
        EXPECT_EQ(again[0].severity, 16);
        ASSERT_THAT(rig.run(Detach).errors(), IsEmpty());
    }
    auto refused = [&](const char* what, std::vector<int> expected) {
        SCOPED_TRACE(what);
        EngineRig rig(host.host(), GetParam());
        auto sink = rig.run(Attach);
        EXPECT_EQ(numbers(sink.errors()), expected);
        EXPECT_EQ(rig.lookup("kelvora"), 0u);
        EXPECT_TRUE(sink.ends().back().error);
    };
    std::filesystem::remove(host.path(ProductLog));
    refused("log missing", is2000() ? std::vector<int>{5105, 1813} : std::vector<int>{5120, 1802});

    host.writeDatabase("C:\\Other\\other.mdf", "C:\\Other\\other.ldf", 0, 539, "other");
    std::filesystem::copy_file(host.path("C:\\Other\\other.ldf"), host.path(ProductLog));
    refused("foreign log", {5173, 1813});

    std::filesystem::remove(host.path(ProductData));
    refused("data file missing",
            is2000() ? std::vector<int>{5105, 1813} : std::vector<int>{5120, 1802});
}

TEST_P(ScenarioTest, DetachAttachedNotAttachedAndInUse) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());

    // Another session inside the database keeps it from being detached.
    auto other = rig.engine().openSession();
    ASSERT_TRUE(rig.engine().login(*other, "sa", "k", "kelvora").ok);
    auto busy = rig.run(Detach).errors();
    ASSERT_EQ(busy.size(), 1u);
    EXPECT_EQ(busy[0].number, 3703);
    rig.engine().closeSession(*other);

    EXPECT_THAT(rig.run(Detach).errors(), IsEmpty());
    EXPECT_EQ(rig.lookup("kelvora"), 0u);
    auto missing = rig.run(Detach);
    ASSERT_EQ(missing.errors().size(), 1u);
    EXPECT_EQ(missing.errors()[0].number, 15010);
    EXPECT_EQ(missing.errors()[0].procedure, "sp_detach_db");
    EXPECT_EQ(missing.ends().back().kind, DoneKind::Procedure);
    EXPECT_EQ(missing.ends().back().returnStatus, 1);
    // Detached files are free again.
    auto platform = kv::platform::sim::createSimulatedPlatform(host.host());
    EXPECT_TRUE(platform->files().renameFile(ProductData, std::string(ProductData) + "1").ok());
}

TEST_P(ScenarioTest, CheckHealthyAndDamaged) {
    host.writeDatabase(ProductData, ProductLog, 2);
    host.writeDatabase("C:\\Healthy\\h.mdf", "C:\\Healthy\\h.ldf", 0, 539, "healthy");
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    ASSERT_THAT(rig.run("create database healthy ON (FILENAME = 'C:\\Healthy\\h.mdf') LOG ON "
                        "(FILENAME = 'C:\\Healthy\\h.ldf') FOR ATTACH")
                    .errors(),
                IsEmpty());

    auto healthy = rig.run("dbcc checkdb('healthy') with no_infomsgs");
    EXPECT_THAT(healthy.messages(), IsEmpty());
    EXPECT_FALSE(healthy.ends().back().error);

    auto damaged = rig.run(Check);
    const auto n = numbers(damaged.messages());
    // Per damaged page 8928 and 8939, then per table 8990, then 8989 and 8958.
    const auto tables = std::count(n.begin(), n.end(), 8990);
    EXPECT_GE(tables, 1);
    ASSERT_EQ(n.size(), 4u + static_cast<std::size_t>(tables) + 2u);
    EXPECT_EQ(std::count(n.begin(), n.end(), 8928), 2);
    EXPECT_EQ(std::count(n.begin(), n.end(), 8939), 2);
    EXPECT_EQ(n[n.size() - 2], 8989);
    EXPECT_EQ(n.back(), 8958);
    const auto last = damaged.messages().back();
    EXPECT_EQ(last.severity, 10);
    EXPECT_EQ(last.text, std::string("repair_allow_data_loss is the minimum repair level for the "
                                     "errors found by DBCC CHECKDB (kelvora") +
                             (is2000() ? " )." : ")."));
    EXPECT_EQ(damaged.messages()[n.size() - 2].text,
              "CHECKDB found 0 allocation errors and 4 consistency errors in database "
              "'kelvora'.");
    EXPECT_TRUE(damaged.ends().back().error);

    // Without NO_INFOMSGS a healthy check reports its objects and the completion line.
    auto verbose = rig.run("dbcc checkdb('healthy')");
    EXPECT_EQ(numbers(verbose.messages()).front(), 2536);
    EXPECT_EQ(numbers(verbose.messages()).back(), 2528);
}

// The files of an attached database: free to copy between statements on 2000 (the desktop
// engine closes unused databases), held on 2005.
TEST_P(ScenarioTest, AttachedFilesHeldPerProfile) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    auto platform = kv::platform::sim::createSimulatedPlatform(host.host());
    auto copy = platform->files().copyFile(ProductData, "C:\\copy.mdf", false);
    if (is2000()) {
        EXPECT_TRUE(copy.ok());
        // ...but held while a session uses the database.
        ASSERT_THAT(rig.run("use kelvora").errors(), IsEmpty());
        EXPECT_EQ(platform->files().deleteFile(ProductData).code(), 32u);
        ASSERT_THAT(rig.run("use master").errors(), IsEmpty());
        EXPECT_TRUE(platform->files().copyFile(ProductData, "C:\\copy2.mdf", false).ok());
    } else {
        EXPECT_EQ(copy.code(), 32u);
    }
    // A restart keeps the catalog.
    rig.restart();
    EXPECT_EQ(rig.lookup("kelvora"), 1u);
}

// The console's emergency rebuild, statement by statement, with its file operations.
class LegacyRebuild {
public:
    LegacyRebuild(TestHost& host, EngineRig& rig)
        : host_(host), rig_(rig),
          platform_(kv::platform::sim::createSimulatedPlatform(host.host())) {}

    // Runs one statement; returns its errors.
    std::vector<Message> step(const std::string& sql) {
        auto sink = rig_.run(sql);
        trace.push_back({sql, sink});
        return sink.errors();
    }

    void run(int suffix) {
        auto& files = platform_->files();
        step("EXEC sp_detach_db 'kelvora1','true'");
        rig_.restart(); // service stop and start, then connect
        step(Detach);
        (void)files.deleteFileIfPresent("C:\\kelvora1_log.ldf");
        (void)files.deleteFileIfPresent("C:\\kelvora1_data.mdf");
        createErrors = step("CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME "
                            "='c:\\kelvora1_Data.MDF') LOG ON (NAME = "
                            "'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')");
        allowErrors = step("Sp_configure 'allow updates', 1");
        reconfigureErrors = step("Reconfigure with override");
        emergencyErrors = step("Update sysdatabases set status = 32768 where name = 'KELVORA1'");
        step("Sp_configure 'allow updates', 0");
        step("Reconfigure with override");
        copyResult =
            files.copyFile("C:\\Kelvora\\Data\\Kelvora_DATA.MDF", "C:\\Kelvora1_DATA.MDF", false)
                .code();
        (void)files.deleteFileIfPresent("C:\\Kelvora\\Data\\kelvora_log.ldf");
        rebuildErrors = step("DBCC REBUILD_LOG(KELVORA1, 'c:\\kelvora\\data\\kelvora_log.ldf')");
        scratchCheckErrors = step("dbcc checkdb('kelvora1') with no_infomsgs");
        if (!scratchCheckErrors.empty()) {
            for (int i = 0; i < 2; ++i) {
                singleUserErrors = step("ALTER DATABASE kelvora1 SET SINGLE_USER WITH ROLLBACK "
                                        "IMMEDIATE");
                repairErrors.push_back(step("DBCC CHECKDB ('kelvora1',REPAIR_ALLOW_DATA_LOSS)"));
            }
        }
        step("EXEC sp_detach_db 'kelvora1','true'");
        const std::string kept = "C:\\Kelvora\\Data\\kelvora_Data.MDF" + std::to_string(suffix);
        if (files.fileExists("C:\\Kelvora\\Data\\kelvora_Data.MDF"))
            (void)files.renameFile("C:\\Kelvora\\Data\\kelvora_Data.MDF", kept);
        shellCopy =
            files.shellCopy("C:\\Kelvora1_DATA.MDF", "C:\\Kelvora\\Data\\Kelvora_DATA.MDF", {});
        attachErrors = step(Attach);
    }

    struct Step {
        std::string sql;
        RecordingSink sink;
    };
    std::vector<Step> trace;
    std::vector<Message> createErrors, allowErrors, reconfigureErrors, emergencyErrors,
        rebuildErrors, scratchCheckErrors, singleUserErrors, attachErrors;
    std::vector<std::vector<Message>> repairErrors;
    kv::platform::ErrorCode copyResult = 0;
    int shellCopy = -1;

private:
    TestHost& host_;
    EngineRig& rig_;
    std::unique_ptr<kv::platform::Platform> platform_;
};

TEST(LegacyRebuildTest, Sql2000RebuildsADamagedDatabase) {
    TestHost host;
    host.writeDatabase(ProductData, ProductLog, 3);
    EngineRig rig(host.host(), Profile::Sql2000);
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    ASSERT_FALSE(rig.run(Check).errors().empty());

    LegacyRebuild rebuild(host, rig);
    rebuild.run(37);

    EXPECT_THAT(rebuild.createErrors, IsEmpty());
    EXPECT_THAT(numbers(rebuild.trace[2].sink.messages()), ElementsAre(1805, 1805));
    EXPECT_EQ(rebuild.trace[2].sink.messages()[0].text,
              "The CREATE DATABASE process is allocating 0.63 MB on disk 'kelvora1_data'.");
    EXPECT_EQ(rebuild.trace[2].sink.messages()[1].text,
              "The CREATE DATABASE process is allocating 0.49 MB on disk 'kelvora1_log'.");
    EXPECT_THAT(numbers(rebuild.trace[3].sink.messages()), ElementsAre(15457));
    EXPECT_THAT(rebuild.reconfigureErrors, IsEmpty());
    EXPECT_THAT(rebuild.emergencyErrors, IsEmpty());
    EXPECT_EQ(rebuild.trace[5].sink.ends().back().count, 1u);
    EXPECT_EQ(rebuild.copyResult, 0u);
    EXPECT_THAT(rebuild.rebuildErrors, IsEmpty());
    EXPECT_EQ(std::count_if(rebuild.scratchCheckErrors.begin(), rebuild.scratchCheckErrors.end(),
                            [](const Message& m) { return m.number == 8928; }),
              3);
    EXPECT_THAT(rebuild.singleUserErrors, IsEmpty());
    ASSERT_EQ(rebuild.repairErrors.size(), 2u);
    EXPECT_EQ(rebuild.repairErrors[0].size(), 6u); // reported, each followed by 8911
    EXPECT_THAT(rebuild.repairErrors[1], IsEmpty());
    EXPECT_EQ(rebuild.shellCopy, 0);
    EXPECT_THAT(rebuild.attachErrors, IsEmpty());

    // The end: "kelvora" attached, consistent, its damaged pages emptied; the old file kept.
    EXPECT_EQ(rig.lookup("kelvora"), 1u);
    EXPECT_EQ(rig.lookup("kelvora1"), 0u);
    EXPECT_THAT(rig.run(Check).messages(), IsEmpty());
    EXPECT_EQ(host.damagedPages(ProductData), 0);
    EXPECT_EQ(host.damagedPages("C:\\Kelvora\\Data\\kelvora_Data.MDF37"), 3);
    EXPECT_TRUE(std::filesystem::exists(host.path("C:\\Kelvora1_DATA.MDF")));
}

TEST(LegacyRebuildTest, Sql2005RefusesTheLegacyStepsAndKeepsTheFiles) {
    TestHost host;
    host.writeDatabase(ProductData, ProductLog, 3);
    EngineRig rig(host.host(), Profile::Sql2005);
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    LegacyRebuild rebuild(host, rig);
    rebuild.run(12);

    EXPECT_THAT(rebuild.createErrors, IsEmpty());
    EXPECT_THAT(rebuild.trace[2].sink.messages(), IsEmpty());
    EXPECT_THAT(numbers(rebuild.trace[3].sink.messages()), ElementsAre(15457));
    ASSERT_EQ(rebuild.emergencyErrors.size(), 1u);
    EXPECT_EQ(rebuild.emergencyErrors[0].number, 259);
    EXPECT_EQ(rebuild.emergencyErrors[0].text,
              "Ad hoc updates to system catalogs are not allowed.");
    EXPECT_EQ(rebuild.copyResult, 32u); // the scratch file is held by the server
    ASSERT_EQ(rebuild.rebuildErrors.size(), 1u);
    EXPECT_EQ(rebuild.rebuildErrors[0].number, 2526);
    EXPECT_EQ(rebuild.rebuildErrors[0].state, 3);
    EXPECT_THAT(rebuild.scratchCheckErrors, IsEmpty()); // the fresh scratch database is healthy
    // The product data file survives under its numbered name, as damaged as before.
    EXPECT_EQ(host.damagedPages("C:\\Kelvora\\Data\\kelvora_Data.MDF12"), 3);
    // The final attach finds the copied scratch file with the product log deleted.
    EXPECT_THAT(numbers(rebuild.attachErrors), ElementsAre(5120, 1802));
    EXPECT_EQ(rig.lookup("kelvora"), 0u);
}

TEST(LegacyRebuildTest, Sql2000LegacyStepsCheckTheirPreconditions) {
    TestHost host;
    host.writeDatabase(ProductData, ProductLog, 1);
    EngineRig rig(host.host(), Profile::Sql2000);
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    auto updates = rig.run("Update sysdatabases set status = 32768 where name = 'kelvora'");
    ASSERT_EQ(updates.errors().size(), 1u);
    EXPECT_EQ(updates.errors()[0].number, 259);
    EXPECT_EQ(numbers(rig.run("DBCC REBUILD_LOG(kelvora, 'c:\\x.ldf')").errors()),
              std::vector<int>{5023});
    EXPECT_EQ(numbers(rig.run("Sp_configure 'allow updates', 1\r\nReconfigure").errors()),
              std::vector<int>{5808});
    EXPECT_EQ(numbers(rig.run("DBCC CHECKDB ('kelvora',REPAIR_ALLOW_DATA_LOSS)").errors()),
              std::vector<int>{7919});
    // Turkish collation: the dotless capital I does not find the procedure's 'i'.
    EXPECT_EQ(numbers(rig.run("SP_CONFIGURE 'allow updates', 0").errors()), std::vector<int>{2812});
}

INSTANTIATE_TEST_SUITE_P(Profiles, ScenarioTest,
                         ::testing::Values(Profile::Sql2000, Profile::Sql2005), profileName);

} // namespace

namespace {

// The catalog queries and session statements the data-access layer sends, and how other
// statements fail.
TEST_P(ScenarioTest, CatalogQueriesSessionSettingsAndFailures) {
    EngineRig rig(host.host(), GetParam());
    auto rows = rig.run("SELECT * FROM sysdatabases WHERE name = 'MASTER'").rowSets();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].rows.size(), 1u);
    EXPECT_EQ(rows[0].columns.size(), 12u);
    EXPECT_EQ(std::get<std::int64_t>(rows[0].rows[0][9]), is2000() ? 80 : 90);
    auto names = rig.run("SELECT name FROM master.dbo.sysdatabases ORDER BY name DESC").rowSets();
    ASSERT_EQ(names.at(0).rows.size(), 4u);
    EXPECT_EQ(std::get<std::string>(names[0].rows[0][0]), "tempdb");

    auto settings = rig.run("SET LOCK_TIMEOUT 2000\r\nSET QUOTED_IDENTIFIER OFF");
    EXPECT_THAT(settings.messages(), IsEmpty());
    EXPECT_EQ(settings.ends().size(), 2u);
    EXPECT_EQ(rig.session().lockTimeout, 2000);
    EXPECT_FALSE(rig.session().quotedIdentifier);
    EXPECT_THAT(rig.run("/* Check connection */").events, IsEmpty());

    auto syntax = rig.run("SELECT 1\r\nSELEC 2").errors();
    ASSERT_EQ(syntax.size(), 1u);
    EXPECT_EQ(syntax[0].number, is2000() ? 170 : 102);
    EXPECT_EQ(syntax[0].severity, 15);
    EXPECT_EQ(syntax[0].line, 2);
    EXPECT_EQ(syntax[0].text,
              is2000() ? "Line 2: Incorrect syntax near '2'." : "Incorrect syntax near '2'.");

    // A failing statement does not stop the batch; each statement ends on its own.
    auto mixed = rig.run("select nope from sysdatabases\r\nexec sp_nothere\r\nSELECT 7");
    EXPECT_EQ(numbers(mixed.errors()), (std::vector<int>{207, 2812}));
    EXPECT_EQ(mixed.errors()[1].state, 62);
    ASSERT_EQ(mixed.ends().size(), 3u);
    EXPECT_TRUE(mixed.ends()[0].error);
    EXPECT_FALSE(mixed.ends()[2].error);
    EXPECT_EQ(mixed.rowSets().size(), 1u);

    EXPECT_EQ(numbers(rig.run("use nothere").errors()), std::vector<int>{911});
    EXPECT_EQ(numbers(rig.run("use msdb SELECT * FROM sysdatabases").errors()),
              is2000() ? std::vector<int>{208} : std::vector<int>{});
    auto raised = rig.run("RAISERROR('boom', 16, 5) PRINT 'after'").messages();
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0].number, 50000);
    EXPECT_EQ(raised[0].state, 5);
    EXPECT_EQ(raised[1].text, "after");
    RecordingSink fatal;
    EXPECT_EQ(rig.engine().execute(rig.session(), "RAISERROR('bye', 20, 1) SELECT 1", fatal),
              BatchOutcome::Fatal);
    EXPECT_TRUE(fatal.rowSets().empty());
}

// Constants as SQL Server types them: numeric for a point or an integer beyond int, float
// with an exponent, varbinary for 0x; COUNT over a table and over a derived table, and the
// derived tables SQL Server refuses.
TEST_P(ScenarioTest, LiteralsCountsAndDerivedTables) {
    EngineRig rig(host.host(), GetParam());
    auto literals =
        rig.run("select 0.5, 2147483647, 2147483648, 1234567890123, -12.25, 1.5e3, 0x0A1B, "
                "0x123, @@MAX_PRECISION")
            .rowSets();
    ASSERT_EQ(literals.size(), 1u);
    const auto& c = literals[0].columns;
    const auto& r = literals[0].rows.at(0);
    EXPECT_EQ(c[0].type, ColumnType::Numeric);
    EXPECT_EQ(c[0].precision, 1);
    EXPECT_EQ(c[0].scale, 1);
    EXPECT_EQ(std::get<Decimal>(r[0]), (Decimal{"5", false}));
    EXPECT_EQ(c[1].type, ColumnType::Int);
    EXPECT_EQ(std::get<std::int64_t>(r[1]), 2147483647);
    EXPECT_EQ(c[2].type, ColumnType::Numeric);
    EXPECT_EQ(c[2].precision, 10);
    EXPECT_EQ(c[2].scale, 0);
    EXPECT_EQ(std::get<Decimal>(r[2]), (Decimal{"2147483648", false}));
    EXPECT_EQ(c[3].precision, 13);
    EXPECT_EQ(std::get<Decimal>(r[4]), (Decimal{"1225", true}));
    EXPECT_EQ(c[4].scale, 2);
    EXPECT_EQ(c[5].type, ColumnType::Float);
    EXPECT_EQ(std::get<double>(r[5]), 1500.0);
    EXPECT_EQ(c[6].type, ColumnType::VarBinary);
    EXPECT_EQ(std::get<Bytes>(r[6]), (Bytes{0x0A, 0x1B}));
    EXPECT_EQ(std::get<Bytes>(r[7]), (Bytes{0x01, 0x23}));
    EXPECT_EQ(c[8].type, ColumnType::TinyInt);
    EXPECT_EQ(std::get<std::int64_t>(r[8]), 38);

    auto count = [&](const std::string& sql) {
        auto sets = rig.run(sql).rowSets();
        return sets.size() == 1 && sets[0].rows.size() == 1
                   ? std::get<std::int64_t>(sets[0].rows[0][0])
                   : -1;
    };
    EXPECT_EQ(count("select count(*) from master.dbo.sysdatabases"), 4);
    EXPECT_EQ(count("SELECT COUNT(*) FROM (select name from master.dbo.sysdatabases where dbid "
                    "= 2) AS counted"),
              1);
    EXPECT_EQ(count("select count(*) from (select 1 as a) t"), 1);
    auto unnamed =
        rig.run("SELECT COUNT(*) FROM (select count(*) from master.dbo.sysdatabases) AS counted")
            .errors();
    ASSERT_EQ(unnamed.size(), 1u);
    EXPECT_EQ(unnamed[0].number, 8155);
    EXPECT_EQ(unnamed[0].text,
              std::string(is2000() ? "No column was specified" : "No column name was specified") +
                  " for column 1 of 'counted'.");
    auto twice = rig.run("SELECT COUNT(*) FROM (select name, name from "
                         "master.dbo.sysdatabases) AS counted")
                     .errors();
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].number, 8156);
    EXPECT_EQ(twice[0].text, "The column 'name' was specified multiple times for 'counted'.");
    EXPECT_EQ(numbers(rig.run("select name, count(*) from master.dbo.sysdatabases").errors()),
              std::vector<int>{is2000() ? 8118 : 8120});
    // A derived table needs its name.
    EXPECT_EQ(numbers(rig.run("select count(*) from (select 1 as a)").errors()),
              std::vector<int>{is2000() ? 170 : 102});
}

} // namespace

namespace {

// Single-file attach: 2005 builds a new log for a cleanly shut down database (5111, 5182) and
// refuses one that was not; 2000 prints its two lines and builds the log too.
TEST_P(ScenarioTest, SingleFileAttachRebuildsTheLogOfACleanDatabase) {
    host.writeDatabase(ProductData, ProductLog);
    std::filesystem::remove(host.path(ProductLog));
    EngineRig rig(host.host(), GetParam());
    auto attach = rig.run("create database kelvora ON (FILENAME = "
                          "'c:\\kelvora\\data\\kelvora_data.mdf') FOR ATTACH");
    EXPECT_THAT(attach.errors(), IsEmpty());
    const auto n = numbers(attach.messages());
    ASSERT_GE(n.size(), 2u);
    EXPECT_EQ(n[0], is2000() ? 5105 : 5111);
    EXPECT_EQ(n[1], 5182);
    EXPECT_EQ(attach.messages()[1].text,
              "New log file 'c:\\kelvora\\data\\kelvora_log.LDF' was created.");
    EXPECT_EQ(rig.lookup("kelvora"), 1u);
    EXPECT_THAT(rig.run(Check).messages(), IsEmpty());
}

// SINGLE_USER WITH ROLLBACK IMMEDIATE ends the other sessions inside the database; without a
// termination clause it is refused while they are there.
TEST_P(ScenarioTest, SingleUserEndsOtherSessions) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    auto other = rig.engine().openSession();
    int killed = 0;
    other->kill = [&] { ++killed; };
    ASSERT_TRUE(rig.engine().login(*other, "sa", "k", "kelvora").ok);
    EXPECT_EQ(numbers(rig.run("ALTER DATABASE kelvora SET SINGLE_USER").errors()),
              (std::vector<int>{5070, 5069}));
    auto alter = rig.run("ALTER DATABASE kelvora SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
    EXPECT_THAT(alter.errors(), IsEmpty());
    EXPECT_EQ(numbers(alter.messages()).back(), 5060);
    EXPECT_EQ(killed, 1);
    rig.engine().closeSession(*other);
    EXPECT_THAT(rig.run("DBCC CHECKDB ('kelvora',REPAIR_ALLOW_DATA_LOSS)").errors(), IsEmpty());
    EXPECT_THAT(rig.run("ALTER DATABASE kelvora SET MULTI_USER").errors(), IsEmpty());
}

} // namespace

namespace {

// Files that are not what the attach expects: a log given as the primary file, a file that is
// no database file at all, and files already in use by another attached database.
TEST_P(ScenarioTest, AttachRefusesWrongAndBusyFiles) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    auto logAsData =
        rig.run("create database x ON (FILENAME = 'c:\\kelvora\\data\\kelvora_log.ldf') "
                "LOG ON (FILENAME = 'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH");
    EXPECT_EQ(logAsData.errors().at(0).number, 5171);
    {
        std::ofstream junk(host.path("C:\\junk.mdf"));
        junk << "not a database";
    }
    auto junk = rig.run("create database x ON (FILENAME = 'C:\\junk.mdf') FOR ATTACH");
    EXPECT_EQ(junk.errors().at(0).number, 5172);
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    auto twice = rig.run("create database other ON (FILENAME = "
                         "'C:\\KELVORA\\DATA\\KELVORA_DATA.MDF') LOG ON (FILENAME = "
                         "'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH");
    const std::vector<int> expected =
        is2000() ? std::vector<int>{5105, 1813} : std::vector<int>{5120, 1802};
    EXPECT_EQ(numbers(twice.errors()), expected);
    if (!is2000()) {
        EXPECT_THAT(twice.errors()[0].text, ::testing::HasSubstr("32(The process cannot access"));
    }
    EXPECT_EQ(rig.lookup("other"), 0u);
}

} // namespace

namespace {

const std::string ScratchCreate =
    "CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME ='c:\\kelvora1_Data.MDF') "
    "LOG ON (NAME = 'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')";
const char* const ScratchData = "C:\\kelvora1_Data.MDF";
const char* const ScratchLog = "C:\\kelvora1_log.ldf";

// A CREATE DATABASE or a new log that cannot be written fails with the operating system's reason
// (112 on a full disk, never "access denied") and leaves no file of its own behind; a file that
// was there before is left alone.
TEST_P(ScenarioTest, FailedCreatesReportTheReasonAndLeaveNoFiles) {
    EngineRig rig(host.host(), GetParam());
    const std::string final = is2000() ? "CREATE DATABASE failed. Some file names listed could "
                                         "not be created. Check previous errors."
                                       : "CREATE DATABASE failed. Some file names listed could "
                                         "not be created. Check related errors.";
    const auto fullDisk = [&](const char* what, std::uint64_t free, const std::string& file) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(host.host().setSetting("disk_free", std::to_string(free)).ok());
        auto sink = rig.run(ScratchCreate);
        const auto errors = sink.errors();
        ASSERT_EQ(numbers(errors), (std::vector<int>{5123, 1802}));
        EXPECT_EQ(errors[0].severity, 16);
        EXPECT_EQ(errors[0].text,
                  "CREATE FILE encountered operating system error 112(There is not enough space "
                  "on the disk.) while attempting to open or create the physical file '" +
                      file + "'.");
        EXPECT_EQ(errors[1].text, final);
        EXPECT_TRUE(sink.ends().back().error);
        EXPECT_FALSE(std::filesystem::exists(host.path(ScratchData)));
        EXPECT_FALSE(std::filesystem::exists(host.path(ScratchLog)));
        EXPECT_EQ(rig.lookup("kelvora1"), 0u);
    };
    fullDisk("no room for the data file", 100000, "c:\\kelvora1_Data.MDF");
    // Room for the data file (80 pages) but not for the log after it.
    fullDisk("no room for the log file", 700000, "c:\\kelvora1_log.ldf");

    // With room again the same statement succeeds: nothing was left in its way, nor in the
    // catalog after a restart.
    ASSERT_TRUE(host.host().setSetting("disk_free", "2000000").ok());
    rig.restart();
    EXPECT_THAT(rig.run(ScratchCreate).errors(), IsEmpty());
    EXPECT_EQ(rig.lookup("kelvora1"), 1u);
    ASSERT_THAT(rig.run("EXEC sp_detach_db 'kelvora1','true'").errors(), IsEmpty());

    {
        SCOPED_TRACE("log file already there");
        std::filesystem::remove(host.path(ScratchData));
        const std::string before = "not a database file";
        { std::ofstream(host.path(ScratchLog), std::ios::binary | std::ios::trunc) << before; }
        auto errors = rig.run(ScratchCreate).errors();
        EXPECT_EQ(numbers(errors), (std::vector<int>{5170, 1802}));
        EXPECT_FALSE(std::filesystem::exists(host.path(ScratchData)));
        std::ifstream in(host.path(ScratchLog), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
        std::filesystem::remove(host.path(ScratchLog));
    }

    {
        SCOPED_TRACE("new log of a single-file attach on a full disk");
        host.writeDatabase(ProductData, ProductLog);
        std::filesystem::remove(host.path(ProductLog));
        ASSERT_TRUE(host.host().setSetting("disk_free", "100000").ok());
        auto attach = rig.run("create database kelvora ON (FILENAME = "
                              "'c:\\kelvora\\data\\kelvora_data.mdf') FOR ATTACH");
        ASSERT_EQ(numbers(attach.errors()), (std::vector<int>{5123, 1813}));
        EXPECT_NE(attach.errors()[0].text.find("112(There is not enough space on the disk.)"),
                  std::string::npos);
        EXPECT_EQ(rig.lookup("kelvora"), 0u);
        EXPECT_FALSE(std::filesystem::exists(host.path("C:\\Kelvora\\Data\\kelvora_log.LDF")));
    }
}

// DBCC REBUILD_LOG (2000) on a full disk: refused with 112, no half-written log, the database
// stays in emergency mode for another try.
TEST(LegacyRebuildTest, Sql2000LogRebuildOnAFullDiskLeavesNoLog) {
    TestHost host;
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), Profile::Sql2000);
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    for (const char* statement : {"Sp_configure 'allow updates', 1", "Reconfigure with override",
                                  "Update sysdatabases set status = 32768 where name = 'KELVORA'"})
        ASSERT_THAT(rig.run(statement).errors(), IsEmpty()) << statement;
    std::filesystem::rename(host.path(ProductLog), host.path(std::string(ProductLog) + "1"));
    ASSERT_TRUE(host.host().setSetting("disk_free", "1000").ok());
    const std::string rebuild = "DBCC REBUILD_LOG(KELVORA, 'c:\\kelvora\\data\\kelvora_log.ldf')";
    auto refused = rig.run(rebuild).errors();
    ASSERT_EQ(numbers(refused), std::vector<int>{5123});
    EXPECT_NE(refused[0].text.find("112(There is not enough space on the disk.)"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(host.path(ProductLog)));

    ASSERT_TRUE(host.host().setSetting("disk_free", "100000000").ok());
    EXPECT_THAT(rig.run(rebuild).errors(), IsEmpty());
    EXPECT_TRUE(std::filesystem::exists(host.path(ProductLog)));
}

} // namespace

namespace {

// dbi_dbccLastKnownGood of DBCC DBINFO ... WITH TABLERESULTS, or "" when there is no such row.
std::string lastKnownGood(EngineRig& rig, const std::string& database) {
    auto sink = rig.run("DBCC DBINFO('" + database + "') WITH TABLERESULTS");
    EXPECT_THAT(sink.errors(), IsEmpty());
    const auto sets = sink.rowSets();
    if (sets.empty())
        return {};
    EXPECT_EQ(sets[0].columns.size(), 4u);
    EXPECT_EQ(sets[0].columns[2].name, "Field");
    for (const auto& row : sets[0].rows)
        if (std::get<std::string>(row[2]) == "dbi_dbccLastKnownGood")
            return std::get<std::string>(row[3]);
    return {};
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return text;
}

// SQL Server 2005 keeps the time of the last check that found the database clean in its boot
// page: never at first, now after a clean check, unchanged by a check that finds damage, and
// still there after the server restarts. 2000 has no such field.
TEST_P(ScenarioTest, LastKnownGoodCheckInDbinfo) {
    host.writeDatabase(ProductData, ProductLog);
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    if (is2000()) {
        EXPECT_EQ(lastKnownGood(rig, "kelvora"), "");
        EXPECT_THAT(rig.run(Check).errors(), IsEmpty());
        EXPECT_EQ(lastKnownGood(rig, "kelvora"), "");
        return;
    }
    EXPECT_EQ(lastKnownGood(rig, "kelvora"), "1900-01-01 00:00:00.000");
    ASSERT_THAT(rig.run(Check).errors(), IsEmpty());
    const std::string checked = lastKnownGood(rig, "kelvora");
    EXPECT_TRUE(checked.starts_with(today())) << checked;
    EXPECT_EQ(checked.size(), 23u) << checked;

    rig.restart();
    EXPECT_EQ(lastKnownGood(rig, "kelvora"), checked);
    rig.stop();
    ASSERT_EQ(host.damagedPages(ProductData), 0);
    {
        auto file = kv::platform::FileHold::openShared(host.path(ProductData));
        ASSERT_TRUE(file) << file.error().message;
        dbfile::ReadError kind;
        std::string why;
        auto header = dbfile::readHeader(*file, kind, why);
        ASSERT_TRUE(header) << why;
        EXPECT_EQ(dbfile::damage(*file, *header, 1, why), 1);
    }
    rig.start();
    EXPECT_FALSE(rig.run(Check).errors().empty());
    EXPECT_EQ(lastKnownGood(rig, "kelvora"), checked);

    EXPECT_EQ(numbers(rig.run("DBCC DBINFO('nothere') WITH TABLERESULTS").errors()),
              std::vector<int>{2520});
    // Without TABLERESULTS the fields go to the server's own log.
    auto plain = rig.run("DBCC DBINFO('kelvora')");
    EXPECT_TRUE(plain.rowSets().empty());
    EXPECT_EQ(numbers(plain.messages()), std::vector<int>{2528});
}

// A repair whose log finds no room on the disk stops with 9002 (class 17, the connection lives
// on) and repairs nothing; with room it repairs.
TEST_P(ScenarioTest, RepairWithoutRoomForItsLogStopsWith9002) {
    host.writeDatabase(ProductData, ProductLog, 2);
    EngineRig rig(host.host(), GetParam());
    ASSERT_THAT(rig.run(Attach).errors(), IsEmpty());
    ASSERT_THAT(rig.run("ALTER DATABASE kelvora SET SINGLE_USER WITH ROLLBACK IMMEDIATE").errors(),
                IsEmpty());
    ASSERT_TRUE(host.host().setSetting("disk_free", "8192").ok());
    auto full = rig.run("DBCC CHECKDB ('kelvora',REPAIR_ALLOW_DATA_LOSS)");
    const auto errors = full.errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().number, 9002);
    EXPECT_EQ(errors.back().severity, 17);
    EXPECT_NE(errors.back().text.find("'kelvora' is full"), std::string::npos)
        << errors.back().text;
    const auto fullNumbers = numbers(full.messages());
    EXPECT_EQ(std::count(fullNumbers.begin(), fullNumbers.end(), 8911), 0);
    rig.stop();
    EXPECT_EQ(host.damagedPages(ProductData), 2);

    rig.start();
    ASSERT_TRUE(host.host().setSetting("disk_free", "100000000").ok());
    (void)rig.run("ALTER DATABASE kelvora SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
    auto repaired = rig.run("DBCC CHECKDB ('kelvora',REPAIR_ALLOW_DATA_LOSS)");
    const auto repairedNumbers = numbers(repaired.errors());
    EXPECT_EQ(std::count(repairedNumbers.begin(), repairedNumbers.end(), 9002), 0);
    rig.stop();
    EXPECT_EQ(host.damagedPages(ProductData), 0);
}

} // namespace
