#include "windows/boundary/ClassObject.h"

#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"

#include <atomic>

namespace crv::win {

namespace {

std::atomic<long> g_objects{0};  // live class objects
std::atomic<long> g_locks{0};  // server locks held

class ClassObject final : public IClassFactory {
public:
    ClassObject(const Guid& clsid, ObjectMaker maker) : clsid_(clsid), maker_(std::move(maker)) { ++g_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return Guard(clsid_, [&] {
            IUnknown* object = Outgoing(maker_(), Unknown::IID);
            if (object == nullptr) Raise(hresult::kFail, "CRVAnchor", "The class object made no object");
            const HRESULT hr = object->QueryInterface(riid, out);
            object->Release();
            if (FAILED(hr)) Raise(hr, "CRVAnchor", "No such interface supported");
        });
    }
    // An unlock without its lock is ignored: it must not keep the library loaded for good.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            long held = g_locks.load();
            while (held > 0 && !g_locks.compare_exchange_weak(held, held - 1)) {}
        }
        return S_OK;
    }

private:
    ~ClassObject() { --g_objects; }
    Guid clsid_;
    ObjectMaker maker_;
    std::atomic<ULONG> refs_{0};
};

}  // namespace

IClassFactory* NewClassObject(const Guid& clsid, ObjectMaker maker) {
    auto* object = new ClassObject(clsid, std::move(maker));
    object->AddRef();
    return object;
}

HRESULT GetClassObject(const Guid& clsid, ObjectMaker maker, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    IClassFactory* object = NewClassObject(clsid, std::move(maker));
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

bool ClassObjectsInUse() { return g_objects != 0 || g_locks != 0; }

}  // namespace crv::win
