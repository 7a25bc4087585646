// The portable provider against the stand-in SQL Server over loopback.
#include "standin_fixture.h"

using namespace kv::oledb;
using namespace kv::oledb::testing;

TEST(ProviderStandin, LogsInAndReportsServerFacts) {
    ComScope com;
    StandinHost host;
    ComPtr<IDBInitialize> source;
    ASSERT_EQ(openDataSource({}, source), S_OK) << takeErrorObject().description;
    ComPtr<IDBProperties> props;
    ASSERT_EQ(source.as(IID_IDBProperties, props), S_OK);
    auto facts = readProperties(
        props.get(), DBPROPSET_DATASOURCEINFO,
        {DBPROP_DBMSNAME, DBPROP_DBMSVER, DBPROP_PROVIDERFRIENDLYNAME, DBPROP_PROVIDERVER});
    ASSERT_EQ(facts.size(), 4u);
    EXPECT_EQ(facts[0], "Microsoft SQL Server");
    EXPECT_EQ(facts[1], "08.00.2039");
    EXPECT_EQ(facts[2], kProviderFriendlyName);
    EXPECT_EQ(facts[3], kProviderVersion);
    auto catalog = readProperties(props.get(), DBPROPSET_DATASOURCE, {DBPROP_CURRENTCATALOG});
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(catalog[0], "master");
    EXPECT_EQ(source->Uninitialize(), S_OK);
}
