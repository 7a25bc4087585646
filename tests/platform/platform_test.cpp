// The platform object: creation from KELVORA_HOST, the host's settings, the code page, and the
// test doubles other targets use (ManualClock, CompositePlatform).

#include "TestHost.h"
#include "platform/CompositePlatform.h"

#include <cstdlib>
#include <gmock/gmock.h>

namespace kv::platform::test {
namespace {

using ::testing::HasSubstr;

class EnvironmentGuard {
public:
    EnvironmentGuard() {
        if (const char* value = std::getenv(sim::HostVariable))
            saved_ = value;
    }
    ~EnvironmentGuard() {
        if (saved_)
            ::setenv(sim::HostVariable, saved_->c_str(), 1);
        else
            ::unsetenv(sim::HostVariable);
    }

private:
    std::optional<std::string> saved_;
};

TEST(CreatePlatformTest, NamesTheVariableAndTheFolderWhenTheHostIsMissing) {
    EnvironmentGuard guard;
    ::unsetenv(sim::HostVariable);
    try {
        (void)createPlatform();
        FAIL() << "no PlatformError without KELVORA_HOST";
    } catch (const PlatformError& e) {
        EXPECT_THAT(e.what(), HasSubstr("KELVORA_HOST"));
    }
    ::setenv(sim::HostVariable, "/nonexistent/kelvora-host", 1);
    try {
        (void)createPlatform();
        FAIL() << "no PlatformError for a missing folder";
    } catch (const PlatformError& e) {
        EXPECT_THAT(e.what(), HasSubstr("KELVORA_HOST"));
        EXPECT_THAT(e.what(), HasSubstr("/nonexistent/kelvora-host"));
    }
    TestHost host;
    std::filesystem::remove(host.host().hostConf());
    ::setenv(sim::HostVariable, host.host().root().c_str(), 1);
    EXPECT_THROW((void)createPlatform(), PlatformError);
}

TEST(CreatePlatformTest, ReadsTheHostSettings) {
    EnvironmentGuard guard;
    TestHost host;
    ::setenv(sim::HostVariable, host.host().root().c_str(), 1);
    auto platform = createPlatform();
    EXPECT_EQ(platform->computerName(), "KELVORA-TEST");
    EXPECT_EQ(platform->codePage().number(), 1254u);
    const auto target = platform->discoveryTarget();
    EXPECT_EQ(target.address, "127.0.0.1");
    EXPECT_FALSE(target.broadcast);
    EXPECT_EQ(std::to_string(target.port), host.host().setting("discovery_port").value_or(""));
    EXPECT_EQ(sim::SimHost::create(host.host().root()).code(), win::AlreadyExists);

    // A non-loopback discovery address is never used.
    DiagnosticCapture diagnostics;
    ASSERT_TRUE(host.host().setSetting("discovery_address", "192.168.1.255"));
    EXPECT_EQ(host.host().discoveryTarget().address, "127.0.0.1");
    EXPECT_FALSE(diagnostics.messages.empty());
}

// Turkish letters map to their Windows-1254 bytes and back; what 1254 lacks becomes "?".
TEST(CodePageTest, Windows1254CarriesTurkishText) {
    TestHost host;
    const auto& codePage = host.platform().codePage();
    EXPECT_EQ(codePage.fromUtf8("ç ğ ı İ ö ş ü"), "\xE7 \xF0 \xFD \xDD \xF6 \xFE \xFC");
    EXPECT_EQ(codePage.fromUtf8("Ç Ğ I İ Ö Ş Ü"), "\xC7 \xD0 I \xDD \xD6 \xDE \xDC");
    EXPECT_EQ(codePage.fromUtf8("Data İşlemleri"), "Data \xDD\xFEleml\x65ri");
    EXPECT_EQ(codePage.toUtf8("\xE7\xF0\xFD\xDD\xF6\xFE\xFC \xC7\xD0\xD6\xDE\xDC"),
              "çğıİöşü ÇĞÖŞÜ");
    EXPECT_EQ(codePage.fromUtf8("a日b€cĀ"), "a?b\x80"
                                            "c?");
    EXPECT_EQ(codePage.fromUtf8("x\xFFy\xC3"), "x?y?"); // not UTF-8
    EXPECT_EQ(codePage.toUtf8("a\x81"
                              "b"),
              "a?b"); // undefined in 1254
    EXPECT_EQ(codePage.fromUtf8(""), "");
}

TEST(ManualClockTest, SleepsCostNothingAndAreRecorded) {
    ManualClock clock(0xFFFFF000u);
    int hooks = 0;
    clock.setOnSleep([&](std::uint32_t ms) {
        EXPECT_EQ(ms, 8000u);
        ++hooks;
    });
    clock.sleep(8000);
    clock.sleep(8000);
    EXPECT_EQ(clock.tickCount(), 0xFFFFF000u + 16000u); // wraps like GetTickCount
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{8000, 8000}));
    EXPECT_EQ(clock.totalSlept(), 16000u);
    EXPECT_EQ(hooks, 2);
}

// The coarse tick count is the system clock's count, a timer tick behind at most, and never
// goes back.
TEST(SystemClockTest, CoarseTickCountFollowsTheTickCount) {
    SystemClock clock;
    std::uint32_t last = coarseTickCount();
    for (int i = 0; i < 50; ++i) {
        const std::uint32_t before = clock.tickCount();
        const std::uint32_t coarse = coarseTickCount();
        const std::uint32_t after = clock.tickCount();
        // Counted modulo 2^32, as the counts wrap: a step back would be a huge step forward.
        EXPECT_LE(coarse - (before - 50u), after - (before - 50u)); // within [before-50, after]
        EXPECT_LT(coarse - last, 1000u);                            // never back
        last = coarse;
        clock.sleep(1);
    }
}

// A composite platform takes the parts it is given and the rest from its base.
TEST(CompositePlatformTest, MixesFakesWithABase) {
    TestHost host;
    ManualClock clock;
    CompositePlatform composite(&host.platform());
    composite.setClock(&clock);
    composite.setComputerName("PC1");
    EXPECT_EQ(&composite.clock(), &clock);
    EXPECT_EQ(composite.computerName(), "PC1");
    EXPECT_EQ(&composite.files(), &host.platform().files());

    CompositePlatform empty;
    EXPECT_THROW(empty.registry(), PlatformError);
}

} // namespace
} // namespace kv::platform::test
