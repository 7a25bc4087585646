// The COM-lite runtime and the helpers of the OLE DB seam: initialisation per thread, the
// class table, reference counting, the thread's error object and error records, BSTR/VARIANT
// and text conversion.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"

#include <gtest/gtest.h>
#include <thread>

using namespace kv::oledb;

namespace {

inline constexpr CLSID kFakeClass = {
    0x6B1D0C11, 0x1111, 0x4A4A, {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};

int g_liveCommands = 0;

class FakeCommand final : public ComObject<ICommandText, ICommandPrepare> {
public:
    FakeCommand() { ++g_liveCommands; }
    ~FakeCommand() override { --g_liveCommands; }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Execute(IUnknown*, REFIID, DBPARAMS*, DBROWCOUNT*,
                                      IUnknown**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDBSession(REFIID, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCommandText(GUID*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCommandText(REFGUID, LPCOLESTR text) override {
        text_ = fromOle(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Prepare(ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Unprepare() override { return S_OK; }
    std::string text_;
};

HRESULT createFake(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    auto object = makeObject<FakeCommand>();
    return object->QueryInterface(riid, ppv);
}

} // namespace

// Without CoInitialize on the calling thread nothing can be created; with it, unknown classes
// answer REGDB_E_CLASSNOTREG and registered ones are created, also after a second init.
TEST(ComLiteRuntime, CreationNeedsInitialisationAndARegisteredClass) {
    IUnknown* unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(unknown, nullptr);

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              REGDB_E_CLASSNOTREG);
    {
        ScopedClassRegistration reg(kFakeClass, createFake);
        ComPtr<ICommandText> text;
        ASSERT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_INPROC_SERVER, IID_ICommandText,
                                   text.putVoid()),
                  S_OK);
        EXPECT_EQ(g_liveCommands, 1);
        // Not an in-process caller: nothing to offer.
        ComPtr<IUnknown> remote;
        EXPECT_EQ(CoCreateInstance(kFakeClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   remote.putVoid()),
                  REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(g_liveCommands, 0);
    EXPECT_FALSE(isClassRegistered(kFakeClass));
    {
        ScopedClassRemoval hidden(CLSID_SQLOLEDB);
        EXPECT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)),
                  REGDB_E_CLASSNOTREG);
    }
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)),
              CO_E_NOTINITIALIZED);
}

// QueryInterface: identity through IUnknown, a derived interface also answers for its base,
// unlisted interfaces give E_NOINTERFACE and a null pointer; the object dies with its last
// reference.
TEST(ComLiteRuntime, QueryInterfaceAndReferenceCounting) {
    {
        auto object = makeObject<FakeCommand>();
        ComPtr<ICommand> command;
        ASSERT_EQ(object.as(IID_ICommand, command), S_OK);
        ComPtr<ICommandPrepare> prepare;
        ASSERT_EQ(command.as(IID_ICommandPrepare, prepare), S_OK);
        ComPtr<IUnknown> a, b;
        ASSERT_EQ(command.as(IID_IUnknown, a), S_OK);
        ASSERT_EQ(prepare.as(IID_IUnknown, b), S_OK);
        EXPECT_EQ(a.get(), b.get());
        ComPtr<IRowset> rowset;
        EXPECT_EQ(command.as(IID_IRowset, rowset), E_NOINTERFACE);
        EXPECT_FALSE(rowset);
        object.reset();
        EXPECT_EQ(g_liveCommands, 1);
        EXPECT_EQ(a->AddRef(), 5u); // command, prepare, a, b, and this one
        a->Release();
    }
    EXPECT_EQ(g_liveCommands, 0);
}

// The thread's error object: GetErrorInfo hands it over once and answers S_FALSE afterwards;
// another thread has its own.
TEST(ComLiteRuntime, ErrorObjectIsPerThreadAndTakenOnce) {
    postErrorRecords({{E_FAIL, IID_ICommand, 0, "first", std::nullopt}});
    std::thread other([] {
        IErrorInfo* info = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
        EXPECT_EQ(info, nullptr);
    });
    other.join();
    auto read = takeErrorObject();
    ASSERT_TRUE(read.present);
    EXPECT_EQ(read.description, "first");
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
    EXPECT_EQ(info, nullptr);
}

// Records keep their order and every SQL Server field; a record without server information has
// no custom object; out-of-range indexes are refused.
TEST(ComLiteRuntime, ErrorRecordsCarrySqlServerFields) {
    SqlServerMessage a{208, 1, 16, "PC1", "proc_a", 7, "Invalid object name 'x'."};
    SqlServerMessage c{3621, 0, 10, "PC1", "", 1, "The statement has been terminated."};
    postErrorRecords({{E_FAIL, IID_ICommand, 208, "A", a},
                      {DB_E_ERRORSINCOMMAND, IID_ICommand, 0, "B", std::nullopt},
                      {E_FAIL, IID_ICommandText, 3621, "C", c}},
                     "whole call");
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    ComPtr<IErrorRecords> records;
    ASSERT_EQ(info.as(IID_IErrorRecords, records), S_OK);
    ERRORINFO basic{};
    EXPECT_EQ(records->GetBasicErrorInfo(3, &basic), DB_E_BADRECORDNUM);
    ComPtr<IUnknown> none;
    EXPECT_EQ(records->GetCustomErrorObject(1, IID_ISQLServerErrorInfo, none.put()), S_OK);
    EXPECT_FALSE(none);
    SetErrorInfo(0, info.get());

    auto read = takeErrorObject();
    ASSERT_EQ(read.records.size(), 3u);
    EXPECT_EQ(read.description, "whole call");
    EXPECT_EQ(read.records[1].basic.hrError, DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(read.records[2].basic.iid, IID_ICommandText);
    EXPECT_EQ(read.records[0].description, "A");
    EXPECT_FALSE(read.records[1].sqlServer);
    ASSERT_TRUE(read.records[0].sqlServer);
    const auto& m = *read.records[0].sqlServer;
    EXPECT_EQ(m.number, 208);
    EXPECT_EQ(m.state, 1);
    EXPECT_EQ(m.severityClass, 16);
    EXPECT_EQ(m.server, "PC1");
    EXPECT_EQ(m.procedure, "proc_a");
    EXPECT_EQ(m.line, 7);
    EXPECT_EQ(m.message, "Invalid object name 'x'.");
    EXPECT_EQ(read.records[2].sqlServer->severityClass, 10);
}

// Strings and values crossing the seam.
TEST(ComLiteRuntime, TextBstrVariantAndTaskMemory) {
    const std::string text = "Kelvora \xC3\xA7\xC4\xB1\xC4\x9F \xF0\x9F\x98\x80";
    const OleString wide = toOle(text);
    EXPECT_EQ(wide.size(), 14u); // the emoji takes two units
    EXPECT_EQ(fromOle(wide.c_str()), text);
    EXPECT_EQ(fromOle(toOle("a\xFFz").c_str()), "a\xEF\xBF\xBDz");

    BSTR b = toBstr("abc");
    EXPECT_EQ(SysStringLen(b), 3u);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = b;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.bstrVal, v.bstrVal);
    EXPECT_EQ(fromOle(copy.bstrVal), "abc");
    VariantClear(&v);
    VariantClear(&copy);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    IMalloc* malloc = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &malloc), S_OK);
    void* block = CoTaskMemAlloc(16);
    malloc->Free(block);
    malloc->Release();

    EXPECT_EQ(guidToString(DBPROPSET_SQLSERVERDBINIT), "{5CF4CA10-EF21-11D0-97E7-00C04FC2AD98}");
    EXPECT_EQ(guidToString(CLSID_SQLOLEDB), "{0C7FF16C-38E3-11D0-97AB-00C04FC2AD98}");
}
