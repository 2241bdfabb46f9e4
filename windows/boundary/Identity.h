#pragma once
// Object identity across the boundary, both ways: our object goes out as one COM-callable
// wrapper whatever interface is asked for, and comes back in as itself; a COM object comes in as
// one proxy, and goes back out as itself. Each identity hands out a tear-off per interface, made
// by the generated code (Boundary.h) from the interface's entry.

#include "com/Unknown.h"
#include "windows/platform/Guids.h"

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace crv::win {

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
// The identities and what they hand out

class CcwIdentity;
class ProxyIdentity;

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
    bool component;  // the library's own: named in our type information, called by its wrapper
    CcwTearOffBase* (*make_ccw)(CcwIdentity&, const InterfaceEntry&, Unknown*);
    ProxyTearOffBase* (*make_proxy)(ProxyIdentity&, IUnknown*, const Guid&);
};

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

}  // namespace crv::win
