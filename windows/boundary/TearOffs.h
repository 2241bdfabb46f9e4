#pragma once
// The two tear-offs the generated wrappers (Boundary.cpp) derive from: a COM-callable one, which
// a COM client calls and which calls our object, and a proxy, which our code calls and which
// calls a COM object. Both count and answer queries through their identity.

#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"
#include "windows/boundary/LateBinding.h"

#include <windows.h>
#include <oaidl.h>

#include <utility>

namespace crv::win {

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
        if (!entry_.component) {
            return TypeLibraryInvoke(entry_, this, id, flags, params, result, exception, badArgument);
        }
        LateCall call(params, badArgument);
        if (const HRESULT refused = call.Read(flags); refused != S_OK) return refused;
        try {
            return call.Return(LateBoundMember(id, call), result);
        } catch (...) {
            return call.Failed(std::current_exception(), exception);
        }
    }
    IUnknown* Com() override { return static_cast<C*>(this); }

protected:
    I* Object() const { return object_.Get(); }
    // The member of one of the library's own interfaces with dispatch id id, called: the
    // generated wrapper's switch. A host's interface has none of ours.
    virtual Variant LateBoundMember(DISPID, LateCall& call) { call.NoMember(); }
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
