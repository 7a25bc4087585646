// The SQL Server OLE DB providers of a Windows machine, through COM itself: where one is
// registered it creates a data source that takes the login properties; where none is (Wine has
// none), the test says so and skips.

#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <gtest/gtest.h>

namespace {

struct Provider {
    const char* name;
    const CLSID* clsid;
};

class SqlServerProviders : public ::testing::TestWithParam<Provider> {};

TEST_P(SqlServerProviders, CreateADataSource) {
    kv::oledb::ComScope com;
    kv::oledb::ComPtr<IDBInitialize> source;
    const HRESULT hr = CoCreateInstance(*GetParam().clsid, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IDBInitialize, reinterpret_cast<void**>(source.put()));
    if (hr == REGDB_E_CLASSNOTREG)
        GTEST_SKIP() << GetParam().name
                     << " is not registered on this machine (no SQL Server client under Wine): "
                        "the provider's part of the session, query and error tests cannot run";
    ASSERT_EQ(hr, S_OK);
    kv::oledb::ComPtr<IDBProperties> properties;
    ASSERT_EQ(source.as(IID_IDBProperties, properties), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Windows, SqlServerProviders,
                         ::testing::Values(Provider{"SQLNCLI10", &CLSID_SQLNCLI10},
                                           Provider{"SQLNCLI", &CLSID_SQLNCLI},
                                           Provider{"SQLOLEDB", &CLSID_SQLOLEDB}),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
