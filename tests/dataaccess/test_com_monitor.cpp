// The COM statement monitor outlet: with no such class registered (the simulated host) the
// monitor stays unregistered; with one, the process-wide monitor registers under its name,
// sends its texts, takes the trace flags the statement monitor asks for, and lets go again.

#include "dataaccess/ComStatementMonitor.h"
#include "dataaccess/MSSQLMonitor.h"
#include "platform/oledb/com_lite.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kv::oledb {
template <>
struct InterfaceTraits<dataaccess::IStatementMonitor> {
    static bool matches(REFIID iid) { return IsEqualIID(iid, dataaccess::IID_IStatementMonitor); }
};
} // namespace kv::oledb

namespace kv::dataaccess {
namespace {

struct Seen {
    std::string name;
    std::intptr_t client = 0;
    TStatementMonitorCallback callback = nullptr;
    std::vector<std::string> texts;
    int objects = 0;
};

class FakeStatementMonitor final : public oledb::ComObject<IStatementMonitor> {
public:
    explicit FakeStatementMonitor(Seen& seen) : seen_(seen) { ++seen_.objects; }
    ~FakeStatementMonitor() override { --seen_.objects; }
    HRESULT STDMETHODCALLTYPE RegisterClient(std::intptr_t ClientID, const char* ClientName,
                                             std::intptr_t,
                                             TStatementMonitorCallback Callback) override {
        seen_.client = ClientID;
        seen_.name = ClientName;
        seen_.callback = Callback;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendText(std::intptr_t, const char* Text,
                                       std::int32_t Length) override {
        seen_.texts.emplace_back(Text, static_cast<std::size_t>(Length));
        return S_OK;
    }

private:
    Seen& seen_;
};

TEST(ComStatementMonitor, AbsentClassLeavesTheMonitorUnregistered) {
    TMSSQLMonitor monitor(nullptr);
    monitor.SetActive(true);
    EXPECT_TRUE(monitor.ActualActive());
    EXPECT_FALSE(monitor.ComRegistered());
}

TEST(ComStatementMonitor, RegistersSendsAndTakesTheFlagsItIsGiven) {
    // A class of this process is registered with COM (on Windows CoRegisterClassObject), which
    // needs COM on the thread before the monitor initialises it for itself.
    oledb::ComScope com;
    Seen seen;
    oledb::ScopedClassRegistration registered(
        CLSID_StatementMonitor, [&seen](IUnknown*, REFIID riid, void** ppv) {
            auto object = oledb::makeObject<FakeStatementMonitor>(seen);
            return object->QueryInterface(riid, ppv);
        });
    {
        TMSSQLMonitor monitor(nullptr);
        monitor.SetActive(true);
        ASSERT_TRUE(monitor.ComRegistered());
        EXPECT_EQ(seen.client, reinterpret_cast<std::intptr_t>(&monitor));
        EXPECT_FALSE(seen.name.empty());
        TCustomDASQLMonitor::InfoMessage(&monitor, nullptr, "hello");
        ASSERT_EQ(seen.texts.size(), 1u);
        EXPECT_EQ(seen.texts[0], "Info Message: hello: ");

        // The statement monitor asks for errors only.
        ASSERT_NE(seen.callback, nullptr);
        seen.callback(seen.client, 1u << tfError);
        EXPECT_EQ(monitor.TraceFlags(), TDATraceFlags{tfError});
        TCustomDASQLMonitor::InfoMessage(&monitor, nullptr, "not wanted");
        EXPECT_EQ(seen.texts.size(), 1u);

        // A second monitor is not the process-wide one and never registers.
        TMSSQLMonitor second(nullptr);
        second.SetActive(true);
        EXPECT_FALSE(second.ComRegistered());
    }
    EXPECT_EQ(seen.objects, 0); // released when the monitor went
}

} // namespace
} // namespace kv::dataaccess
