// The COM-lite runtime: what COM itself provides to the data-access layer on Windows, reduced
// to one process and in-process classes. Initialisation is counted per thread; calls that need
// it answer CO_E_NOTINITIALIZED without it, as COM does. The class table is process-wide and
// holds the portable SQL Server provider and its enumerator from the start.
#include "platform/oledb/com_lite.h"
#include "platform/oledb/provider.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace kv::oledb {
namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct ClassTable {
    std::mutex mutex;
    std::map<GUID, ClassFactoryFunction, GuidLess> classes;

    ClassTable() { addBuiltIns(); }
    void addBuiltIns() {
        classes[CLSID_SQLOLEDB] = createTdsDataSource;
        classes[CLSID_SQLOLEDB_ENUMERATOR] = createTdsEnumerator;
    }
};

ClassTable& classTable() {
    static ClassTable table;
    return table;
}

struct ThreadState {
    int initCount = 0;
    DWORD mode = COINIT_APARTMENTTHREADED;
    IErrorInfo* errorInfo = nullptr;

    ~ThreadState() {
        if (errorInfo) {
            errorInfo->Release();
        }
    }
};

ThreadState& threadState() {
    thread_local ThreadState state;
    return state;
}

// The task allocator: plain malloc, so that memory from CoTaskMemAlloc and from IMalloc::Alloc
// can be freed by either.
class TaskAllocator final : public IMalloc {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMalloc)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override { return CoTaskMemAlloc(cb); }
    void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override {
        return CoTaskMemRealloc(pv, cb);
    }
    void STDMETHODCALLTYPE Free(void* pv) override { CoTaskMemFree(pv); }
    SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return static_cast<SIZE_T>(-1); }
    int STDMETHODCALLTYPE DidAlloc(void*) override { return -1; }
    void STDMETHODCALLTYPE HeapMinimize() override {}
};

TaskAllocator& taskAllocator() {
    static TaskAllocator allocator;
    return allocator;
}

} // namespace

void registerClass(REFCLSID clsid, ClassFactoryFunction factory) {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    table.classes[clsid] = std::move(factory);
}

void unregisterClass(REFCLSID clsid) {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    table.classes.erase(clsid);
}

bool isClassRegistered(REFCLSID clsid) {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    return table.classes.count(clsid) != 0;
}

void resetClassTable() {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    table.classes.clear();
    table.addBuiltIns();
}

namespace {
ClassFactoryFunction lookUp(REFCLSID clsid) {
    auto& table = classTable();
    std::lock_guard lock(table.mutex);
    auto it = table.classes.find(clsid);
    return it == table.classes.end() ? ClassFactoryFunction{} : it->second;
}
void restore(REFCLSID clsid, ClassFactoryFunction previous) {
    if (previous) {
        registerClass(clsid, std::move(previous));
    } else {
        unregisterClass(clsid);
    }
}
} // namespace

ScopedClassRegistration::ScopedClassRegistration(REFCLSID clsid, ClassFactoryFunction factory)
    : clsid_(clsid), previous_(lookUp(clsid)) {
    registerClass(clsid, std::move(factory));
}
ScopedClassRegistration::~ScopedClassRegistration() {
    restore(clsid_, std::move(previous_));
}

ScopedClassRemoval::ScopedClassRemoval(REFCLSID clsid) : clsid_(clsid), previous_(lookUp(clsid)) {
    unregisterClass(clsid);
}
ScopedClassRemoval::~ScopedClassRemoval() {
    restore(clsid_, std::move(previous_));
}

} // namespace kv::oledb

using kv::oledb::threadState;

HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
    auto& state = threadState();
    const DWORD mode = dwCoInit & COINIT_APARTMENTTHREADED;
    if (state.initCount > 0) {
        if (state.mode != mode) {
            return RPC_E_CHANGED_MODE;
        }
        ++state.initCount;
        return S_FALSE;
    }
    state.mode = mode;
    state.initCount = 1;
    return S_OK;
}

void CoUninitialize() {
    auto& state = threadState();
    if (state.initCount > 0) {
        --state.initCount;
    }
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (threadState().initCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    auto factory = kv::oledb::lookUp(rclsid);
    if (!factory) {
        return REGDB_E_CLASSNOTREG;
    }
    // Every class here lives in the process; a caller that will not take an in-process server
    // finds nothing it may use.
    if ((dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    return factory(pUnkOuter, riid, ppv);
}

void* CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

void* CoTaskMemRealloc(void* pv, SIZE_T cb) {
    return std::realloc(pv, cb == 0 ? 1 : cb);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}

HRESULT CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc) {
    if (!ppMalloc) {
        return E_POINTER;
    }
    *ppMalloc = nullptr;
    if (dwMemContext != MEMCTX_TASK) {
        return E_INVALIDARG;
    }
    *ppMalloc = &kv::oledb::taskAllocator();
    return S_OK;
}

// The thread's error object: SetErrorInfo replaces it (null clears it), GetErrorInfo hands it
// over and clears it, answering S_FALSE when there is none. Neither needs CoInitialize, so that
// a provider can post errors from any call.
HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
    if (!pperrinfo) {
        return E_POINTER;
    }
    auto& state = threadState();
    *pperrinfo = std::exchange(state.errorInfo, nullptr);
    return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) {
    auto& state = threadState();
    if (perrinfo) {
        perrinfo->AddRef();
    }
    if (IErrorInfo* old = std::exchange(state.errorInfo, perrinfo)) {
        old->Release();
    }
    return S_OK;
}

// BSTR: a 32-bit byte count in front of the text, the text, a terminating zero. The pointer
// handed out points at the text.
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    const std::size_t bytes = static_cast<std::size_t>(ui) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(
        CoTaskMemAlloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) {
        return nullptr;
    }
    const auto count = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    if (strIn) {
        std::memcpy(text, strIn, bytes);
    } else {
        std::memset(text, 0, bytes);
    }
    text[ui] = 0;
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) {
        return nullptr;
    }
    UINT n = 0;
    while (psz[n]) {
        ++n;
    }
    return SysAllocStringLen(psz, n);
}

void SysFreeString(BSTR bstrString) {
    if (bstrString) {
        CoTaskMemFree(reinterpret_cast<unsigned char*>(bstrString) - sizeof(std::uint32_t));
    }
}

UINT SysStringLen(BSTR pbstr) {
    if (!pbstr) {
        return 0;
    }
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(pbstr) - sizeof(std::uint32_t),
                sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) {
        std::memset(pvarg, 0, sizeof *pvarg);
        pvarg->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) {
        return E_INVALIDARG;
    }
    switch (pvarg->vt) {
    case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
    case VT_UNKNOWN:
        if (pvarg->punkVal) {
            pvarg->punkVal->Release();
        }
        break;
    default:
        break;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) {
        return E_INVALIDARG;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    VARIANT copy = *pvargSrc;
    switch (pvargSrc->vt) {
    case VT_BSTR:
        if (pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
            if (!copy.bstrVal) {
                return E_OUTOFMEMORY;
            }
        }
        break;
    case VT_UNKNOWN:
        if (copy.punkVal) {
            copy.punkVal->AddRef();
        }
        break;
    default:
        break;
    }
    VariantClear(pvargDest);
    *pvargDest = copy;
    return S_OK;
}
