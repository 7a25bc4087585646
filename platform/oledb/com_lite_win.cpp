// The class table of com_lite.h on Windows: COM itself creates the classes, and a class
// registered here becomes a class object of this process (CoRegisterClassObject), which
// CoCreateInstance finds before the registry. Removing a class that is not ours registers a
// class object that refuses with REGDB_E_CLASSNOTREG, so that tests can hide an installed
// provider. Registrations need COM initialised on the calling thread.
#include "platform/oledb/com_lite.h"

#include <cstring>
#include <map>
#include <mutex>

namespace kv::oledb {
namespace {

class FunctionClassFactory final : public ComObject<IClassFactory> {
public:
    explicit FunctionClassFactory(ClassFactoryFunction f) : function_(std::move(f)) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) {
            return E_POINTER;
        }
        *ppv = nullptr;
        return function_ ? function_(outer, riid, ppv) : REGDB_E_CLASSNOTREG;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    const ClassFactoryFunction& function() const { return function_; }

private:
    ClassFactoryFunction function_;
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct Registration {
    DWORD cookie = 0;
    ClassFactoryFunction function; // empty: a removal
};

std::mutex g_mutex;
std::map<GUID, Registration, GuidLess> g_registrations;

void revoke(const GUID& clsid) {
    auto it = g_registrations.find(clsid);
    if (it != g_registrations.end()) {
        CoRevokeClassObject(it->second.cookie);
        g_registrations.erase(it);
    }
}

void add(REFCLSID clsid, ClassFactoryFunction function) {
    revoke(clsid);
    auto factory = makeObject<FunctionClassFactory>(function);
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(clsid, factory->unknown(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie))) {
        g_registrations[clsid] = Registration{cookie, std::move(function)};
    }
}

ClassFactoryFunction current(REFCLSID clsid) {
    auto it = g_registrations.find(clsid);
    return it == g_registrations.end() ? ClassFactoryFunction{} : it->second.function;
}

} // namespace

void registerClass(REFCLSID clsid, ClassFactoryFunction factory) {
    std::lock_guard lock(g_mutex);
    add(clsid, std::move(factory));
}

void unregisterClass(REFCLSID clsid) {
    std::lock_guard lock(g_mutex);
    add(clsid, ClassFactoryFunction{});
}

bool isClassRegistered(REFCLSID clsid) {
    {
        std::lock_guard lock(g_mutex);
        auto it = g_registrations.find(clsid);
        if (it != g_registrations.end()) {
            return static_cast<bool>(it->second.function);
        }
    }
    IUnknown* object = nullptr;
    const HRESULT hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown,
                                        reinterpret_cast<void**>(&object));
    if (object) {
        object->Release();
    }
    return SUCCEEDED(hr);
}

void resetClassTable() {
    std::lock_guard lock(g_mutex);
    for (auto& [clsid, r] : g_registrations) {
        CoRevokeClassObject(r.cookie);
    }
    g_registrations.clear();
}

ScopedClassRegistration::ScopedClassRegistration(REFCLSID clsid, ClassFactoryFunction factory)
    : clsid_(clsid) {
    std::lock_guard lock(g_mutex);
    previous_ = current(clsid);
    add(clsid, std::move(factory));
}

ScopedClassRegistration::~ScopedClassRegistration() {
    std::lock_guard lock(g_mutex);
    if (previous_) {
        add(clsid_, std::move(previous_));
    } else {
        revoke(clsid_);
    }
}

ScopedClassRemoval::ScopedClassRemoval(REFCLSID clsid) : clsid_(clsid) {
    std::lock_guard lock(g_mutex);
    previous_ = current(clsid);
    add(clsid, ClassFactoryFunction{});
}

ScopedClassRemoval::~ScopedClassRemoval() {
    std::lock_guard lock(g_mutex);
    if (previous_) {
        add(clsid_, std::move(previous_));
    } else {
        revoke(clsid_);
    }
}

} // namespace kv::oledb
