// The service steps against a scripted service manager and the fake clock: which rights are
// asked for, when the wait loops sleep and when they end, and that every handle is closed.

#include "console/service_wait.h"
#include "fakes.h"
#include "platform/Clock.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kv::console {
namespace {

using platform::ManualClock;
using platform::ServiceStatus;
using testing::FakeServiceManager;
namespace ss = platform::ServiceState;

struct StateRow {
    const char* name;
    std::uint32_t state;
    ServiceView view;
};

class ServiceViewMapping : public ::testing::TestWithParam<StateRow> {};

// Pending states have no picture of their own and read as a missing service.
TEST_P(ServiceViewMapping, MapsEveryWindowsState) {
    FakeServiceManager scm;
    scm.statuses = {ServiceStatus{GetParam().state, 0, 0}};
    EXPECT_EQ(queryServiceView(scm, "", "MSSQLSERVER"), GetParam().view);
    EXPECT_TRUE(scm.openHandles.empty());
}

INSTANTIATE_TEST_SUITE_P(AllStates, ServiceViewMapping,
                         ::testing::Values(StateRow{"stopped", ss::Stopped, svcStopped},
                                           StateRow{"startPending", ss::StartPending, svcMissing},
                                           StateRow{"stopPending", ss::StopPending, svcMissing},
                                           StateRow{"running", ss::Running, svcRunning},
                                           StateRow{"continuePending", ss::ContinuePending,
                                                    svcMissing},
                                           StateRow{"pausePending", ss::PausePending, svcMissing},
                                           StateRow{"paused", ss::Paused, svcStopped}),
                         [](const auto& row) { return std::string(row.param.name); });

// The query asks for connect on the manager and query-status-and-start (0x14) on the service,
// and closes the service handle before the manager handle.
TEST(QueryServiceView, AsksForQueryAndStartRightsAndClosesInOrder) {
    FakeServiceManager scm;
    scm.statuses = {ServiceStatus{ss::Running, 0, 0}};
    EXPECT_EQ(queryServiceView(scm, "", "MSSQLSERVER"), svcRunning);
    EXPECT_EQ(scm.calls,
              (std::vector<std::string>{"openManager(,1)", "openService(MSSQLSERVER)",
                                        "queryStatus", "close(service)", "close(manager)"}));
    EXPECT_EQ(scm.serviceRightsAsked, (std::vector<std::uint32_t>{0x14}));
}

// Missing manager, missing service, refused "start" right and a failed query all read as missing.
TEST(QueryServiceView, EveryFailureReadsAsMissing) {
    FakeServiceManager noManager;
    noManager.managerOpens = false;
    EXPECT_EQ(queryServiceView(noManager, "", "MSSQLSERVER"), svcMissing);

    FakeServiceManager noService;
    noService.serviceExists = false;
    EXPECT_EQ(queryServiceView(noService, "", "MSSQLSERVER"), svcMissing);
    EXPECT_TRUE(noService.openHandles.empty());

    FakeServiceManager queryOnly; // may query, may not start
    queryOnly.grantedRights = platform::ServiceAccess::QueryStatus;
    queryOnly.statuses = {ServiceStatus{ss::Running, 0, 0}};
    EXPECT_EQ(queryServiceView(queryOnly, "", "MSSQLSERVER"), svcMissing);

    FakeServiceManager queryFails;
    queryFails.statuses = {ServiceStatus{0, 0, 0}};
    EXPECT_EQ(queryServiceView(queryFails, "", "MSSQLSERVER"), svcMissing);
    EXPECT_TRUE(queryFails.openHandles.empty());
}

class ServiceWait : public ::testing::Test {
protected:
    FakeServiceManager scm;
    ManualClock clock;
};

// A start that completes at once is still noticed only after the first sleep.
TEST_F(ServiceWait, QuickStartIsNoticedAfterTheFirstSleep) {
    scm.statuses = {ServiceStatus{ss::StartPending, 1, 0}, ServiceStatus{ss::Running, 0, 0}};
    startServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{8000}));
    EXPECT_EQ(scm.serviceRightsAsked, (std::vector<std::uint32_t>{0x14}));
    EXPECT_TRUE(scm.openHandles.empty());
}

// Only a first status that already reports running avoids the sleep.
TEST_F(ServiceWait, FirstStatusRunningNeedsNoSleep) {
    scm.statuses = {ServiceStatus{ss::Running, 0, 0}};
    startServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_TRUE(clock.sleeps().empty());
}

// A refused start (the service already runs) means no status query and no wait.
TEST_F(ServiceWait, RefusedStartDoesNotWait) {
    scm.startError = platform::win::ServiceAlreadyRunning;
    EXPECT_EQ(startServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::NoWait);
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_EQ(std::count(scm.calls.begin(), scm.calls.end(), "queryStatus"), 0);
    EXPECT_TRUE(scm.openHandles.empty());
}

// An equal or rising checkpoint keeps waiting; a falling one ends the wait.
TEST_F(ServiceWait, FallingCheckpointEndsTheWait) {
    scm.statuses = {ServiceStatus{ss::StartPending, 1, 0}, ServiceStatus{ss::StartPending, 1, 0},
                    ServiceStatus{ss::StartPending, 3, 0}, ServiceStatus{ss::Stopped, 0, 0},
                    ServiceStatus{ss::Running, 0, 0}};
    startServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_EQ(clock.sleeps().size(), 3u);
}

// A service that dies during its start rests stopped with its checkpoint unchanged: the wait
// ends after the sleep that saw it, not ten minutes later. A stop the service refuses (it goes
// back to running) ends the same way; a pending state with a steady checkpoint keeps waiting.
TEST_F(ServiceWait, ServiceAtRestInAnotherStateEndsTheWait) {
    scm.statuses = {ServiceStatus{ss::StartPending, 0, 0}, ServiceStatus{ss::StartPending, 0, 0},
                    ServiceStatus{ss::Stopped, 0, 0}};
    EXPECT_EQ(startServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::Settled);
    EXPECT_EQ(clock.sleeps().size(), 2u);

    clock.clearSleeps();
    scm.statuses = {ServiceStatus{ss::StopPending, 1, 0}, ServiceStatus{ss::Running, 1, 0}};
    EXPECT_EQ(stopServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::Settled);
    EXPECT_EQ(clock.sleeps().size(), 1u);

    clock.clearSleeps();
    scm.statuses = {ServiceStatus{ss::StartPending, 1, 0}, ServiceStatus{ss::Running, 0, 0}};
    EXPECT_EQ(startServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::Reached);
    EXPECT_TRUE(scm.openHandles.empty());
}

// A status query that fails inside the loop ends the wait.
TEST_F(ServiceWait, FailedQueryEndsTheWait) {
    scm.statuses = {ServiceStatus{ss::StartPending, 1, 0}, ServiceStatus{ss::StartPending, 2, 0},
                    ServiceStatus{0, 0, 0}, ServiceStatus{ss::Running, 0, 0}};
    EXPECT_EQ(startServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::Vanished);
    EXPECT_EQ(clock.sleeps().size(), 2u);
}

// A service stuck in start pending with a steady checkpoint is given up after ten minutes.
TEST_F(ServiceWait, StuckServiceIsGivenUpAfterTenMinutes) {
    scm.statuses = {ServiceStatus{ss::StartPending, 4, 0}};
    EXPECT_EQ(startServiceAndWait(scm, clock, "", "MSSQLSERVER"), ServiceWaitEnd::TimedOut);
    EXPECT_EQ(clock.totalSlept(), 600000u);
    EXPECT_EQ(clock.sleeps().size(), 75u);

    clock.clearSleeps();
    stopServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_EQ(clock.totalSlept(), 600000u);
}

// The stop asks for query-status-and-stop (0x24) and waits until the service is stopped.
TEST_F(ServiceWait, StopWaitsUntilStopped) {
    scm.statuses = {ServiceStatus{ss::StopPending, 1, 0}, ServiceStatus{ss::StopPending, 2, 0},
                    ServiceStatus{ss::Stopped, 0, 0}};
    stopServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_EQ(scm.serviceRightsAsked, (std::vector<std::uint32_t>{0x24}));
    EXPECT_EQ(clock.sleeps().size(), 2u);
    EXPECT_TRUE(scm.openHandles.empty());
}

// A stop request that is refused (not running) or a service that is missing does nothing.
TEST_F(ServiceWait, RefusedStopOrMissingServiceDoesNothing) {
    scm.stopError = platform::win::ServiceNotActive;
    stopServiceAndWait(scm, clock, "", "MSSQLSERVER");
    scm.stopError = platform::win::Success;
    scm.serviceExists = false;
    stopServiceAndWait(scm, clock, "", "MSSQLSERVER");
    startServiceAndWait(scm, clock, "", "MSSQLSERVER");
    EXPECT_TRUE(clock.sleeps().empty());
    EXPECT_TRUE(scm.openHandles.empty());
}

} // namespace
} // namespace kv::console
