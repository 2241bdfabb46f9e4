#pragma once
// The COM boundary's hand-written half: values, strings, objects and errors carried between our
// object model and the platform's, and the two kinds of wrapper the generated code builds on.
//
// An object keeps one identity across the boundary both ways: our object goes out as one
// COM-callable wrapper whatever interface is asked for, and comes back in as itself; a COM
// object comes in as one proxy, and goes back out as itself.

#include "com/Dispatch.h"
#include "errors/ErrorHandling.h"
#include "windows/platform/Guids.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace crv::win {

// ---------------------------------------------------------------------------------------
// Strings and values

BSTR ToBstr(const std::string& text);  // a new string the receiver frees
std::string FromBstr(BSTR text);  // leaves the string to its owner
std::string TakeBstr(BSTR text);  // frees it
VARIANT ToVariant(const Variant& value);  // a new value the receiver clears
// Any value a client may pass, by reference or not; kinds we do not hold are converted to the
// nearest (integers to Long, other numbers to Double), the rest refused with "Type mismatch".
Variant FromVariant(const VARIANT& value);

// Owners of what a proxy passes into a call.
class BstrRef {
public:
    explicit BstrRef(BSTR s) : s_(s) {}
    ~BstrRef() { SysFreeString(s_); }
    BstrRef(const BstrRef&) = delete;
    BstrRef& operator=(const BstrRef&) = delete;
    BSTR Get() const { return s_; }

private:
    BSTR s_;
};

class VariantRef {
public:
    VariantRef() { VariantInit(&v_); }
    explicit VariantRef(const Variant& value) : v_(ToVariant(value)) {}
    ~VariantRef() { VariantClear(&v_); }
    VariantRef(const VariantRef&) = delete;
    VariantRef& operator=(const VariantRef&) = delete;
    VARIANT Get() const { return v_; }  // for a by-value argument, which the callee does not own
    const VARIANT& Ref() const { return v_; }
    VARIANT* Out() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};

// A counted COM pointer released at the end of its scope.
template <class C>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(C* p) : p_(p) {}
    ~ComRef() {
        if (p_ != nullptr) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    C* Get() const { return p_; }
    C* operator->() const { return p_; }
    // For a call that hands out a counted pointer.
    void** Out() { return reinterpret_cast<void**>(&p_); }

private:
    C* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------
// Objects

// A counted COM pointer to interface iid of our object (nullptr for none, or when it lacks it).
IUnknown* Outgoing(const ComPtr<Unknown>& object, const Guid& iid);
// Our object behind a COM pointer: the object itself when it went out from here, else a proxy.
ComPtr<Unknown> Incoming(IUnknown* object);

template <class C, class I>
C* ToCom(const ComPtr<I>& object) {
    return static_cast<C*>(Outgoing(ComPtr<Unknown>(object), I::IID));
}
template <class I, class C>
ComPtr<I> FromCom(C* object) {
    if (object == nullptr) return {};
    ComPtr<I> p = ComPtr<I>::Query(Incoming(object));
    if (!p) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    return p;
}
template <class I, class C>
ComPtr<I> TakeCom(C* object) {
    const ComRef<C> owned(object);
    return FromCom<I>(object);
}

// Objects of ours alive on the COM side, for the library's unload check.
int64_t LiveWrappers();

// ---------------------------------------------------------------------------------------
// Errors

// The result code of an error, with the error object set for the caller: our positive numbers
// in the control facility, as the platform's scripts show them.
HRESULT ResultOf(std::exception_ptr error, const Guid& iid);
template <class Body>
HRESULT Guard(const Guid& iid, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (...) {
        return ResultOf(std::current_exception(), iid);
    }
}
// Raises the error of a failed call, as its object described it.
void Check(HRESULT hr, const char* call);

// ---------------------------------------------------------------------------------------
// The two wrappers

class CcwIdentity;
class ProxyIdentity;
struct InterfaceEntry;

struct CcwTearOffBase {
    virtual ~CcwTearOffBase() = default;
    virtual IUnknown* Com() = 0;
};

struct ProxyTearOffBase {
    virtual ~ProxyTearOffBase() = default;
    virtual Unknown* Crv() = 0;
};

struct InterfaceEntry {
    Guid iid;  // the same for our interface and its COM twin
    const char* name;
    bool component;  // the library's own, whose late-bound calls go to our Dispatch
    CcwTearOffBase* (*make_ccw)(CcwIdentity&, const InterfaceEntry&, Unknown*);
    ProxyTearOffBase* (*make_proxy)(ProxyIdentity&, IUnknown*, const Guid&);
};

// Late-bound calls of a COM-callable wrapper.
HRESULT DispatchTypeInfo(const InterfaceEntry& entry, UINT index, ITypeInfo** out);
HRESULT DispatchIdsOfNames(const InterfaceEntry& entry, Unknown* object, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispatchInvoke(const InterfaceEntry& entry, IDispatch* self, Unknown* object, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* badArgument);

class CcwIdentity final : public ISupportErrorInfo {
public:
    static CcwIdentity* For(const ComPtr<Unknown>& object);  // counted
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;
    const ComPtr<Unknown>& Object() const { return object_; }

private:
    explicit CcwIdentity(ComPtr<Unknown> object);
    ~CcwIdentity();
    IUnknown* TearOff(size_t index);
    IUnknown* DefaultDispatch();

    ComPtr<Unknown> object_;
    std::atomic<ULONG> refs_{0};
    std::mutex mutex_;
    std::vector<std::unique_ptr<CcwTearOffBase>> tearoffs_;
    std::vector<bool> tried_;
};

class ProxyIdentity final : public Unknown {
public:
    static ComPtr<Unknown> For(IUnknown* identity);
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override;
    void* QueryInterface(const Guid& iid) override;
    IUnknown* Com() const { return com_; }

private:
    explicit ProxyIdentity(IUnknown* identity);
    ~ProxyIdentity();

    IUnknown* com_;
    std::atomic<uint32_t> refs_{0};
    std::mutex mutex_;
    std::vector<std::unique_ptr<ProxyTearOffBase>> tearoffs_;
    std::vector<bool> tried_;
};

template <class C, class I>
class CcwTearOff : public C, public CcwTearOffBase {
public:
    CcwTearOff(CcwIdentity& identity, const InterfaceEntry& entry, ComPtr<I> object)
        : identity_(identity), entry_(entry), object_(std::move(object)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return identity_.QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return identity_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return identity_.Release(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        return DispatchTypeInfo(entry_, index, out);
    }
    // The interface id of both is reserved: anything but IID_NULL is refused, as the platform's
    // own dispatch refuses it.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return DispatchIdsOfNames(entry_, object_.Get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* badArgument) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return DispatchInvoke(entry_, this, object_.Get(), id, flags, params, result, exception, badArgument);
    }
    IUnknown* Com() override { return static_cast<C*>(this); }

protected:
    I* Object() const { return object_.Get(); }
    template <class Body>
    HRESULT Guard(Body&& body) noexcept {
        return win::Guard(entry_.iid, std::forward<Body>(body));
    }

private:
    CcwIdentity& identity_;
    const InterfaceEntry& entry_;
    ComPtr<I> object_;
};

template <class C, class I>
class ProxyTearOff : public I, public ProxyTearOffBase {
public:
    ProxyTearOff(ProxyIdentity& identity, C* com) : identity_(identity), com_(com) {}
    ~ProxyTearOff() override { com_->Release(); }
    ProxyTearOff(const ProxyTearOff&) = delete;
    ProxyTearOff& operator=(const ProxyTearOff&) = delete;
    uint32_t AddRef() override { return identity_.AddRef(); }
    uint32_t Release() override { return identity_.Release(); }
    void* QueryInterface(const Guid& iid) override { return identity_.QueryInterface(iid); }
    Unknown* Crv() override { return static_cast<I*>(this); }

protected:
    C* Com() const { return com_; }

private:
    ProxyIdentity& identity_;
    C* com_;
};

template <class T, class I>
CcwTearOffBase* MakeCcw(CcwIdentity& identity, const InterfaceEntry& entry, Unknown* object) {
    ComPtr<I> p = ComPtr<I>::Attach(static_cast<I*>(object->QueryInterface(I::IID)));
    if (!p) return nullptr;
    return new T(identity, entry, std::move(p));
}

template <class T, class C>
ProxyTearOffBase* MakeProxy(ProxyIdentity& identity, IUnknown* object, const Guid& iid) {
    const GUID wanted = ToGUID(iid);
    void* p = nullptr;
    if (FAILED(object->QueryInterface(wanted, &p)) || p == nullptr) return nullptr;
    return new T(identity, static_cast<C*>(p));
}

}  // namespace crv::win
