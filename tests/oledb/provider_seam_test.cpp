// Parts of the OLE DB seam that both builds share (properties.cpp, rowset.cpp): property sets
// with their per-property statuses, rowsets fetched in blocks, accessors and value conversions.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"
#include "platform/oledb/properties.h"
#include "platform/oledb/rowset.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kv::oledb;
namespace {

DBPROP prop(DBPROPID id, VARIANT value, DBPROPOPTIONS options = DBPROPOPTIONS_REQUIRED) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = options;
    p.colid = DB_NULLID;
    p.vValue = value;
    return p;
}

void fillStore(PropertyStore& store, bool& locked) {
    store.define({DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, VT_I4, true}, variantOfI4(15));
    store.define({DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, VT_BSTR, true}, variantOfText(""));
    store.define({DBPROPSET_DBINIT, DBPROP_INIT_HWND, VT_I8, true}, variantOfI4(0));
    store.define({DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, VT_BOOL, true},
                 variantOfBool(false));
    store.define({DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME, VT_BSTR, false},
                 variantOfText("Microsoft SQL Server"));
    store.onCheck([](const GUID&, DBPROPID id, const VARIANT& v) {
        return id == DBPROP_INIT_TIMEOUT && v.lVal < 0 ? DBPROPSTATUS_BADVALUE : DBPROPSTATUS_OK;
    });
    store.writableSets(
        [&locked](const GUID& set) { return !(locked && IsEqualGUID(set, DBPROPSET_DBINIT)); });
}

} // namespace

// SetProperties: S_OK when all are set, DB_S_ERRORSOCCURRED when some are, DB_E_ERRORSOCCURRED
// when none are; each property gets its status; values that failed leave the old value.
TEST(PropertySets, StatusesAndResultCodes) {
    bool locked = false;
    PropertyStore store;
    fillStore(store, locked);
    {
        DBPROP props[] = {prop(DBPROP_INIT_TIMEOUT, variantOfI4(30)),
                          prop(DBPROP_INIT_HWND, variantOfI4(0)), // widened to VT_I8
                          prop(DBPROP_INIT_DATASOURCE, variantOfText("PC1"))};
        DBPROPSET set{props, 3, DBPROPSET_DBINIT};
        EXPECT_EQ(store.setProperties(1, &set), S_OK);
        for (auto& p : props) {
            EXPECT_EQ(p.dwStatus, DBPROPSTATUS_OK);
            VariantClear(&p.vValue);
        }
        EXPECT_EQ(store.integer(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT), 30);
        EXPECT_EQ(store.text(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE), "PC1");
    }
    {
        DBPROP props[] = {
            prop(DBPROP_INIT_TIMEOUT, variantOfI4(-1)),
            prop(0x4242, variantOfI4(1), DBPROPOPTIONS_OPTIONAL),
            prop(DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, variantOfI4(1)),
            prop(DBPROP_INIT_DATASOURCE, variantOfText("PC2"), DBPROPOPTIONS_OPTIONAL)};
        props[0].dwOptions = DBPROPOPTIONS_REQUIRED;
        DBPROPSET set{props, 4, DBPROPSET_DBINIT};
        EXPECT_EQ(store.setProperties(1, &set), DB_S_ERRORSOCCURRED);
        EXPECT_EQ(props[0].dwStatus, DBPROPSTATUS_BADVALUE);
        EXPECT_EQ(props[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
        EXPECT_EQ(props[2].dwStatus, DBPROPSTATUS_BADVALUE); // VT_I4 for a Boolean
        EXPECT_EQ(props[3].dwStatus, DBPROPSTATUS_OK);
        for (auto& p : props) {
            VariantClear(&p.vValue);
        }
        EXPECT_EQ(store.integer(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT), 30);
    }
    {
        // A whole set the object does not have, and a read-only property.
        DBPROP unknown = prop(DBPROP_INIT_TIMEOUT, variantOfI4(5), DBPROPOPTIONS_OPTIONAL);
        DBPROP readOnly = prop(DBPROP_DBMSNAME, variantOfText("x"));
        DBPROPSET sets[] = {{&unknown, 1, DBPROPSET_SQLSERVERDBINIT},
                            {&readOnly, 1, DBPROPSET_DATASOURCEINFO}};
        EXPECT_EQ(store.setProperties(2, sets), DB_E_ERRORSOCCURRED);
        EXPECT_EQ(unknown.dwStatus, DBPROPSTATUS_NOTSUPPORTED);
        EXPECT_EQ(readOnly.dwStatus, DBPROPSTATUS_NOTSETTABLE);
        VariantClear(&readOnly.vValue);
    }
    {
        // After initialisation the initialisation set is closed.
        locked = true;
        DBPROP p = prop(DBPROP_INIT_TIMEOUT, variantOfI4(9));
        DBPROPSET set{&p, 1, DBPROPSET_DBINIT};
        EXPECT_EQ(store.setProperties(1, &set), DB_E_ERRORSOCCURRED);
        EXPECT_EQ(p.dwStatus, DBPROPSTATUS_NOTSETTABLE);
    }
    DBPROPSET bad{nullptr, 2, DBPROPSET_DBINIT};
    EXPECT_EQ(store.setProperties(1, &bad), E_INVALIDARG);
}

// GetProperties: asked ids in order, unknown ones with NOTSUPPORTED and VT_EMPTY; no id sets
// means every readable set.
TEST(PropertySets, GetReturnsTaskAllocatedValues) {
    bool locked = false;
    PropertyStore store;
    fillStore(store, locked);
    DBPROPID ids[] = {DBPROP_INIT_TIMEOUT, 0x4242};
    DBPROPIDSET idSet{ids, 2, DBPROPSET_DBINIT};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    EXPECT_EQ(store.getProperties(1, &idSet, &count, &sets), DB_S_ERRORSOCCURRED);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(sets[0].cProperties, 2u);
    EXPECT_EQ(sets[0].rgProperties[0].vValue.vt, VT_I4);
    EXPECT_EQ(sets[0].rgProperties[0].vValue.lVal, 15);
    EXPECT_EQ(sets[0].rgProperties[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
    EXPECT_EQ(sets[0].rgProperties[1].vValue.vt, VT_EMPTY);
    CoTaskMemFree(sets[0].rgProperties);
    CoTaskMemFree(sets);

    store.readableSets([](const GUID& set) { return IsEqualGUID(set, DBPROPSET_DBINIT); });
    EXPECT_EQ(store.getProperties(0, nullptr, &count, &sets), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(sets[0].guidPropertySet, DBPROPSET_DBINIT);
    EXPECT_EQ(sets[0].cProperties, 4u);
    for (ULONG i = 0; i < sets[0].cProperties; ++i) {
        VariantClear(&sets[0].rgProperties[i].vValue);
    }
    CoTaskMemFree(sets[0].rgProperties);
    CoTaskMemFree(sets);
}

// ---------------------------------------------------------------------------------------------

namespace {

struct RowsetUnderTest {
    ComPtr<IRowset> rowset;
    ComPtr<IAccessor> accessor;

    explicit RowsetUnderTest(std::shared_ptr<RowSource> source) {
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(createRowset(std::move(source), IID_IRowset, unknown.put()), S_OK);
        unknown.as(IID_IRowset, rowset);
        unknown.as(IID_IAccessor, accessor);
    }
};

DBBINDING binding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET at, DBLENGTH maxLen = 0) {
    DBBINDING b{};
    b.iOrdinal = ordinal;
    b.obStatus = at;
    b.obLength = at + 8;
    b.obValue = at + 16;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.cbMaxLen = maxLen;
    b.wType = type;
    return b;
}

} // namespace

// A select of 1,000 rows read 25 at a time: 40 full blocks, then DB_S_ENDOFROWSET with no
// rows; every value arrives in order; handles are released after each block.
TEST(Rowsets, FetchesAThousandRowsInBlocksOf25) {
    std::vector<RowData> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back({CellValue::integer(i), CellValue::text("row " + std::to_string(i))});
    }
    auto source = std::make_shared<MemoryRowSource>(
        std::vector<ColumnDesc>{{"id", DBTYPE_I4, 4, DBCOLUMNFLAGS_ISFIXEDLENGTH},
                                {"label", DBTYPE_WSTR, 20, 0}},
        std::move(rows));
    RowsetUnderTest r(source);
    DBBINDING b[] = {binding(1, DBTYPE_I4, 0), binding(2, DBTYPE_WSTR, 32, 64)};
    HACCESSOR accessor = 0;
    ASSERT_EQ(r.accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, 0, &accessor, nullptr), S_OK);
    int blocks = 0;
    int expected = 0;
    HRESULT hr = S_OK;
    while (hr == S_OK) {
        DBCOUNTITEM obtained = 0;
        HROW* handles = nullptr;
        hr = r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 25, &obtained, &handles);
        if (obtained == 0) {
            break;
        }
        ++blocks;
        EXPECT_EQ(obtained, 25u);
        for (DBCOUNTITEM k = 0; k < obtained; ++k) {
            BYTE buffer[128] = {};
            ASSERT_EQ(r.rowset->GetData(handles[k], accessor, buffer), S_OK);
            std::int32_t id = 0;
            std::memcpy(&id, buffer + 16, 4);
            EXPECT_EQ(id, expected);
            EXPECT_EQ(fromOle(reinterpret_cast<const OLECHAR*>(buffer + 48)),
                      "row " + std::to_string(expected));
            ++expected;
        }
        EXPECT_EQ(r.rowset->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr), S_OK);
        // A released handle is gone.
        BYTE buffer[128];
        EXPECT_EQ(r.rowset->GetData(handles[0], accessor, buffer), DB_E_BADROWHANDLE);
        CoTaskMemFree(handles);
    }
    EXPECT_EQ(blocks, 40);
    EXPECT_EQ(expected, 1000);
    EXPECT_EQ(hr, DB_S_ENDOFROWSET);
    EXPECT_EQ(r.rowset->RestartPosition(DB_NULL_HCHAPTER), static_cast<HRESULT>(0x80040E18u));
}

// Accessors are checked against the columns; GetData converts, marks NULLs and truncation.
TEST(Rowsets, AccessorsAndConversions) {
    DBTIMESTAMP when{2024, 5, 17, 13, 45, 30, 500000000};
    CellValue stamp;
    stamp.kind = CellValue::Kind::Timestamp;
    stamp.ts = when;
    auto source = std::make_shared<MemoryRowSource>(
        std::vector<ColumnDesc>{{"n", DBTYPE_I8, 8, 0},
                                {"t", DBTYPE_WSTR, 50, 0},
                                {"d", DBTYPE_DBTIMESTAMP, 16, 0},
                                {"b", DBTYPE_BYTES, 4, 0},
                                {"z", DBTYPE_WSTR, 10, DBCOLUMNFLAGS_ISNULLABLE}},
        std::vector<RowData>{{CellValue::integer(70000), CellValue::text("Kelvora \xC4\xB1"), stamp,
                              CellValue::bytes(std::string("\x01\xAB", 2)), CellValue::null()}});
    RowsetUnderTest r(source);

    DBBINDING bad[] = {binding(0, DBTYPE_I4, 0), binding(9, DBTYPE_I4, 64),
                       binding(3, DBTYPE_GUID, 128)};
    DBBINDSTATUS status[3] = {};
    HACCESSOR h = 0;
    EXPECT_EQ(r.accessor->CreateAccessor(DBACCESSOR_ROWDATA, 3, bad, 0, &h, status),
              DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status[0], DBBINDSTATUS_BADORDINAL);
    EXPECT_EQ(status[1], DBBINDSTATUS_BADORDINAL);
    EXPECT_EQ(status[2], DBBINDSTATUS_UNSUPPORTEDCONVERSION);
    EXPECT_EQ(r.accessor->CreateAccessor(DBACCESSOR_PASSBYREF | DBACCESSOR_ROWDATA, 1, bad, 0, &h,
                                         nullptr),
              static_cast<HRESULT>(0x80040E48u));

    DBBINDING good[] = {binding(1, DBTYPE_I2, 0),         binding(1, DBTYPE_WSTR, 64, 40),
                        binding(2, DBTYPE_WSTR, 128, 10), binding(3, DBTYPE_DBTIMESTAMP, 192),
                        binding(3, DBTYPE_WSTR, 256, 80), binding(4, DBTYPE_WSTR, 384, 20),
                        binding(5, DBTYPE_I4, 448)};
    ASSERT_EQ(r.accessor->CreateAccessor(DBACCESSOR_ROWDATA, 7, good, 0, &h, nullptr), S_OK);
    DBCOUNTITEM obtained = 0;
    HROW handles[1];
    HROW* ph = handles;
    EXPECT_EQ(r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 5, &obtained, &ph), DB_S_ENDOFROWSET);
    ASSERT_EQ(obtained, 1u);
    std::vector<BYTE> buffer(512);
    EXPECT_EQ(r.rowset->GetData(handles[0], h, buffer.data()), DB_S_ERRORSOCCURRED);
    auto statusAt = [&](const DBBINDING& b) {
        DBSTATUS s;
        std::memcpy(&s, buffer.data() + b.obStatus, sizeof s);
        return s;
    };
    auto textAt = [&](const DBBINDING& b) {
        return fromOle(reinterpret_cast<const OLECHAR*>(buffer.data() + b.obValue));
    };
    EXPECT_EQ(statusAt(good[0]), DBSTATUS_E_DATAOVERFLOW); // 70000 does not fit 16 bits
    EXPECT_EQ(textAt(good[1]), "70000");
    EXPECT_EQ(statusAt(good[2]), DBSTATUS_S_TRUNCATED); // 10 bytes hold 4 characters
    EXPECT_EQ(textAt(good[2]), "Kelv");
    DBLENGTH fullLength = 0;
    std::memcpy(&fullLength, buffer.data() + good[2].obLength, sizeof fullLength);
    EXPECT_EQ(fullLength, 9u * sizeof(OLECHAR));
    DBTIMESTAMP got{};
    std::memcpy(&got, buffer.data() + good[3].obValue, sizeof got);
    EXPECT_EQ(got.year, 2024);
    EXPECT_EQ(got.fraction, 500000000u);
    EXPECT_EQ(textAt(good[4]), "2024-05-17 13:45:30.500");
    EXPECT_EQ(textAt(good[5]), "01AB");
    EXPECT_EQ(statusAt(good[6]), DBSTATUS_S_ISNULL);
    EXPECT_EQ(r.rowset->ReleaseRows(1, handles, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(r.rowset->ReleaseRows(1, handles, nullptr, nullptr, nullptr), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(r.accessor->ReleaseAccessor(h, nullptr), S_OK);
    EXPECT_EQ(r.accessor->ReleaseAccessor(h, nullptr), DB_E_BADACCESSORHANDLE);
}

namespace {

// Three rows, then the connection breaks.
class BreakingSource final : public RowSource {
public:
    const std::vector<ColumnDesc>& columns() const override { return columns_; }
    HRESULT fetch(std::size_t count, std::vector<RowData>& out) override {
        while (count > 0 && given_ < 3) {
            out.push_back({CellValue::integer(given_++)});
            --count;
        }
        if (count == 0) {
            return S_OK;
        }
        postErrorRecords({{E_FAIL, IID_IRowset, 11, "General network error.", std::nullopt}});
        return E_FAIL;
    }

private:
    std::vector<ColumnDesc> columns_{{"n", DBTYPE_I4, 4, 0}};
    int given_ = 0;
};

} // namespace

// Rows read before a failure are delivered; the failure and its records come with the next
// call, and the rowset is at its end afterwards.
TEST(Rowsets, FailureAfterSomeRowsComesWithTheNextCall) {
    RowsetUnderTest r(std::make_shared<BreakingSource>());
    DBCOUNTITEM obtained = 0;
    HROW* handles = nullptr;
    EXPECT_EQ(r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &handles), S_OK);
    EXPECT_EQ(obtained, 2u);
    r.rowset->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
    EXPECT_EQ(r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &handles), S_OK);
    EXPECT_EQ(obtained, 1u);
    EXPECT_FALSE(takeErrorObject().present);
    r.rowset->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
    EXPECT_EQ(r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &handles), E_FAIL);
    EXPECT_EQ(obtained, 0u);
    auto error = takeErrorObject();
    ASSERT_EQ(error.records.size(), 1u);
    EXPECT_EQ(error.records[0].basic.dwMinor, 11u);
    EXPECT_EQ(r.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 2, &obtained, &handles), DB_S_ENDOFROWSET);
    CoTaskMemFree(handles);
}
