#include "windows/boundary/Identity.h"

#include "Boundary.h"

#include <unordered_map>
#include <unordered_set>

namespace crv::win {

namespace {

// Asked of a COM pointer to learn whether it is one of our own wrappers.
constexpr Guid kCcwMarker = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a00f1");
// Asked of our pointer to learn whether it is a proxy of a COM object.
constexpr Guid kProxyMarker = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a00f2");

std::atomic<int64_t> g_wrappers{0};

std::mutex& MapMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<const void*, CcwIdentity*>& Ccws() {
    static std::unordered_map<const void*, CcwIdentity*> map;
    return map;
}
// The wrappers of this module alive: another module's wrapper answers the same marker.
std::unordered_set<const void*>& LiveCcws() {
    static std::unordered_set<const void*> set;
    return set;
}
std::unordered_map<const void*, ProxyIdentity*>& Proxies() {
    static std::unordered_map<const void*, ProxyIdentity*> map;
    return map;
}

// A new reference to a counted object unless its count has already reached 0.
template <class Count>
bool TryAddRef(Count& refs) {
    auto n = refs.load();
    while (n != 0) {
        if (refs.compare_exchange_weak(n, n + 1)) return true;
    }
    return false;
}

const InterfaceEntry* EntryOf(const Guid& iid, size_t* index = nullptr) {
    for (size_t i = 0; i < kInterfaceCount; ++i) {
        if (kInterfaces[i].iid == iid) {
            if (index != nullptr) *index = i;
            return &kInterfaces[i];
        }
    }
    return nullptr;
}

}  // namespace

CcwIdentity::CcwIdentity(ComPtr<Unknown> object)
    : object_(std::move(object)), tearoffs_(kInterfaceCount), tried_(kInterfaceCount, false) {
    ++g_wrappers;
}

CcwIdentity::~CcwIdentity() { --g_wrappers; }

CcwIdentity* CcwIdentity::For(const ComPtr<Unknown>& object) {
    ComPtr<Unknown> identity = ComPtr<Unknown>::Query(object);
    std::lock_guard lock(MapMutex());
    auto& map = Ccws();
    auto it = map.find(identity.Get());
    // One whose count has reached 0 is being deleted by its last releaser: never revived.
    if (it != map.end() && TryAddRef(it->second->refs_)) return it->second;
    auto* created = new CcwIdentity(identity);
    created->AddRef();
    map[identity.Get()] = created;
    LiveCcws().insert(created);
    return created;
}

ULONG CcwIdentity::Release() {
    const ULONG r = --refs_;
    if (r != 0) return r;
    {
        std::lock_guard lock(MapMutex());
        auto it = Ccws().find(object_.Get());
        if (it != Ccws().end() && it->second == this) Ccws().erase(it);
        LiveCcws().erase(this);
    }
    delete this;
    return 0;
}

IUnknown* CcwIdentity::TearOff(size_t index) {
    std::lock_guard lock(mutex_);
    if (!tried_[index]) {
        tried_[index] = true;
        tearoffs_[index].reset(kInterfaces[index].make_ccw(*this, kInterfaces[index], object_.Get()));
    }
    return tearoffs_[index] ? tearoffs_[index]->Com() : nullptr;
}

IUnknown* CcwIdentity::DefaultDispatch() {
    // The library's own interface first: a class's default interface is what a script calls.
    for (bool component : {true, false}) {
        for (size_t i = 0; i < kInterfaceCount; ++i) {
            if (kInterfaces[i].component != component) continue;
            if (IUnknown* p = TearOff(i)) return p;
        }
    }
    return nullptr;
}

HRESULT CcwIdentity::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    IUnknown* found = nullptr;
    const Guid iid = FromGUID(riid);
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISupportErrorInfo) || iid == kCcwMarker) {
        found = this;
    } else if (IsEqualIID(riid, IID_IDispatch)) {
        found = DefaultDispatch();
    } else {
        size_t index = 0;
        if (EntryOf(iid, &index) != nullptr) found = TearOff(index);
    }
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    *out = found;
    return S_OK;
}

HRESULT CcwIdentity::InterfaceSupportsErrorInfo(REFIID riid) {
    return EntryOf(FromGUID(riid)) != nullptr || IsEqualIID(riid, IID_IDispatch) ? S_OK : S_FALSE;
}

// ---------------------------------------------------------------------------------------

ProxyIdentity::ProxyIdentity(IUnknown* identity)
    : com_(identity), tearoffs_(kInterfaceCount), tried_(kInterfaceCount, false) {}

ProxyIdentity::~ProxyIdentity() {
    tearoffs_.clear();
    com_->Release();
}

ComPtr<Unknown> ProxyIdentity::For(IUnknown* identity) {
    std::lock_guard lock(MapMutex());
    auto& map = Proxies();
    auto it = map.find(identity);
    if (it != map.end() && TryAddRef(it->second->refs_)) {
        identity->Release();  // the proxy holds its own reference
        return ComPtr<Unknown>::Attach(static_cast<Unknown*>(it->second));
    }
    auto* created = new ProxyIdentity(identity);
    map[identity] = created;
    return ComPtr<Unknown>(static_cast<Unknown*>(created));
}

uint32_t ProxyIdentity::Release() {
    const uint32_t r = --refs_;
    if (r != 0) return r;
    {
        std::lock_guard lock(MapMutex());
        auto it = Proxies().find(com_);
        if (it != Proxies().end() && it->second == this) Proxies().erase(it);
    }
    delete this;
    return 0;
}

void* ProxyIdentity::QueryInterface(const Guid& iid) {
    if (iid == Unknown::IID || iid == kProxyMarker) {
        AddRef();
        return static_cast<Unknown*>(this);
    }
    size_t index = 0;
    if (EntryOf(iid, &index) == nullptr) return nullptr;
    std::lock_guard lock(mutex_);
    if (!tried_[index]) {
        tried_[index] = true;
        tearoffs_[index].reset(kInterfaces[index].make_proxy(*this, com_, iid));
    }
    if (!tearoffs_[index]) return nullptr;
    AddRef();
    return tearoffs_[index]->Crv();
}

// ---------------------------------------------------------------------------------------

IUnknown* Outgoing(const ComPtr<Unknown>& object, const Guid& iid) {
    if (!object) return nullptr;
    const GUID wanted = iid == Unknown::IID ? IID_IUnknown : ToGUID(iid);
    void* out = nullptr;
    if (void* proxy = object->QueryInterface(kProxyMarker)) {
        auto* identity = static_cast<ProxyIdentity*>(static_cast<Unknown*>(proxy));
        identity->Com()->QueryInterface(wanted, &out);
        identity->Release();
        return static_cast<IUnknown*>(out);
    }
    CcwIdentity* identity = CcwIdentity::For(object);
    identity->QueryInterface(wanted, &out);
    identity->Release();
    return static_cast<IUnknown*>(out);
}

ComPtr<Unknown> Incoming(IUnknown* object) {
    if (object == nullptr) return {};
    void* ours = nullptr;
    if (SUCCEEDED(object->QueryInterface(ToGUID(kCcwMarker), &ours)) && ours != nullptr) {
        bool mine = false;
        {
            std::lock_guard lock(MapMutex());
            mine = LiveCcws().count(ours) != 0;
        }
        if (mine) {
            auto* identity = static_cast<CcwIdentity*>(static_cast<ISupportErrorInfo*>(ours));
            ComPtr<Unknown> result = identity->Object();
            identity->Release();
            return result;
        }
        // Another module's wrapper: its object is as foreign here as any other.
        static_cast<IUnknown*>(ours)->Release();
    }
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))) || identity == nullptr) {
        Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    }
    return ProxyIdentity::For(identity);
}

int64_t LiveWrappers() { return g_wrappers.load(); }

}  // namespace crv::win
