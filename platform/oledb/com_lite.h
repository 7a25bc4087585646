// Helpers around COM for code on both sides of the OLE DB seam: an owning interface pointer,
// a base for implementing reference-counted objects, UTF-8 <-> OLE text conversion, and the
// table of in-process classes that CoCreateInstance consults (tests register fake providers
// there under their own class ids).
#pragma once

#include "platform/oledb/oledb.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace kv::oledb {

// ---------------------------------------------------------------------------------------------
// Owning interface pointer: releases on destruction, AddRefs on copy.

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over one reference the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own.
    static ComPtr share(T* p) {
        if (p) {
            p->AddRef();
        }
        return adopt(p);
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) {
            p_->AddRef();
        }
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases what is held and gives the address for an out-parameter.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    IUnknown** putUnknown() { return reinterpret_cast<IUnknown**>(put()); }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }

    // QueryInterface into another pointer type; empty on failure.
    template <class U>
    HRESULT as(REFIID iid, ComPtr<U>& out) const {
        if (!p_) {
            out.reset();
            return E_POINTER;
        }
        return p_->QueryInterface(iid, out.putVoid());
    }

private:
    T* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Interface ids by type, so that ComObject<...> can answer QueryInterface.

template <class I>
struct InterfaceTraits; // specialised below: static bool matches(REFIID)

#define KV_OLEDB_INTERFACE(I)                                                                      \
    template <>                                                                                    \
    struct InterfaceTraits<I> {                                                                    \
        static bool matches(REFIID iid) { return IsEqualIID(iid, IID_##I); }                       \
    };
KV_OLEDB_INTERFACE(IUnknown)
KV_OLEDB_INTERFACE(IClassFactory)
KV_OLEDB_INTERFACE(IMalloc)
KV_OLEDB_INTERFACE(IErrorInfo)
KV_OLEDB_INTERFACE(ISupportErrorInfo)
KV_OLEDB_INTERFACE(IErrorRecords)
KV_OLEDB_INTERFACE(ISQLServerErrorInfo)
KV_OLEDB_INTERFACE(IDBInitialize)
KV_OLEDB_INTERFACE(IDBProperties)
KV_OLEDB_INTERFACE(IDBCreateSession)
KV_OLEDB_INTERFACE(ISessionProperties)
KV_OLEDB_INTERFACE(IDBCreateCommand)
KV_OLEDB_INTERFACE(IDBSchemaRowset)
KV_OLEDB_INTERFACE(ICommand)
KV_OLEDB_INTERFACE(ICommandProperties)
KV_OLEDB_INTERFACE(ICommandPrepare)
KV_OLEDB_INTERFACE(IAccessor)
KV_OLEDB_INTERFACE(IMultipleResults)
KV_OLEDB_INTERFACE(IColumnsInfo)
KV_OLEDB_INTERFACE(IRowset)
KV_OLEDB_INTERFACE(IRowsetInfo)
KV_OLEDB_INTERFACE(ISourcesRowset)
#undef KV_OLEDB_INTERFACE

// ICommandText is also the object's ICommand.
template <>
struct InterfaceTraits<ICommandText> {
    static bool matches(REFIID iid) {
        return IsEqualIID(iid, IID_ICommandText) || IsEqualIID(iid, IID_ICommand);
    }
};

// ---------------------------------------------------------------------------------------------
// Base for objects implementing one or more interfaces. The object starts with one reference
// (the creator's) and deletes itself when the last one goes. QueryInterface answers IUnknown
// and every listed interface; a derived class may add more by overriding queryExtra.

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

template <class... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0);
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = unknown();
        } else {
            (void)((InterfaceTraits<Interfaces>::matches(riid)
                        ? (*ppv = static_cast<Interfaces*>(this), true)
                        : false) ||
                   ...);
        }
        if (!*ppv) {
            *ppv = queryExtra(riid);
        }
        if (!*ppv) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // The object's identity.
    IUnknown* unknown() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

protected:
    virtual ~ComObject() = default;
    // Further interfaces (without the reference; QueryInterface adds it). Null: not supported.
    virtual void* queryExtra(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> refs_{1};
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Creates an object with its first reference owned by the returned pointer.
template <class T, class... Args>
ComPtr<T> makeObject(Args&&... args) {
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

// ---------------------------------------------------------------------------------------------
// Text at the seam.

using OleString = std::basic_string<OLECHAR>;

OleString toOle(std::string_view utf8);
std::string fromOle(const OLECHAR* text); // null-terminated; null gives ""
std::string fromOle(const OLECHAR* text, std::size_t length);
// A copy in memory from the COM task allocator (for strings the caller frees).
OLECHAR* taskStrDup(std::string_view utf8);
// A BSTR copy (for property values and descriptions).
BSTR toBstr(std::string_view utf8);

// Formats a GUID as Windows does: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string guidToString(REFGUID guid);

// ---------------------------------------------------------------------------------------------
// The table of in-process classes (POSIX). On Windows the system registry plays this part and
// these calls register a class object for the running process only.

using ClassFactoryFunction = std::function<HRESULT(IUnknown* outer, REFIID riid, void** ppv)>;

// Adds or replaces the class. Tests use their own class ids, or the real ones to shadow the
// built-in provider for a while.
void registerClass(REFCLSID clsid, ClassFactoryFunction factory);
// Removes the class; afterwards CoCreateInstance answers REGDB_E_CLASSNOTREG for it.
void unregisterClass(REFCLSID clsid);
bool isClassRegistered(REFCLSID clsid);
// Puts the built-in classes back (the portable provider and its enumerator), dropping every
// other registration.
void resetClassTable();

// Registers a class for the lifetime of the object, then restores what was there before.
class ScopedClassRegistration {
public:
    ScopedClassRegistration(REFCLSID clsid, ClassFactoryFunction factory);
    ~ScopedClassRegistration();
    ScopedClassRegistration(const ScopedClassRegistration&) = delete;
    ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

private:
    CLSID clsid_;
    ClassFactoryFunction previous_;
};

// Hides a class (for example the built-in provider) for the lifetime of the object.
class ScopedClassRemoval {
public:
    explicit ScopedClassRemoval(REFCLSID clsid);
    ~ScopedClassRemoval();
    ScopedClassRemoval(const ScopedClassRemoval&) = delete;
    ScopedClassRemoval& operator=(const ScopedClassRemoval&) = delete;

private:
    CLSID clsid_;
    ClassFactoryFunction previous_;
};

// COM initialisation for the lifetime of the object (tests, tools, the benchmark).
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

} // namespace kv::oledb
