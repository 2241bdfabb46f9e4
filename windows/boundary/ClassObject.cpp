#include "windows/boundary/ClassObject.h"

#include "windows/boundary/Marshal.h"

#include <atomic>

namespace crv::win {

namespace {

std::atomic<int64_t> g_alive{0};

class ClassObject final : public IClassFactory {
public:
    ClassObject(const Guid& clsid, std::function<ComPtr<Unknown>()> maker) : clsid_(clsid), maker_(std::move(maker)) {
        ++g_alive;
    }
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
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        g_alive += lock ? 1 : -1;
        return S_OK;
    }

private:
    ~ClassObject() { --g_alive; }

    Guid clsid_;
    std::function<ComPtr<Unknown>()> maker_;
    std::atomic<ULONG> refs_{0};
};

}  // namespace

IClassFactory* NewClassObject(const Guid& clsid, std::function<ComPtr<Unknown>()> maker) {
    auto* object = new ClassObject(clsid, std::move(maker));
    object->AddRef();
    return object;
}

int64_t LiveClassObjects() { return g_alive.load(); }

}  // namespace crv::win
