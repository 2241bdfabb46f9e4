#include "com/ClassTable.h"

#include "com/FaultHook.h"

#include <algorithm>
#include <bit>

namespace crv {

void* FunctionClassFactory::CreateInstance(const Guid& iid) {
    ComPtr<Unknown> object = maker_();
    if (!object) Raise(hresult::kFail, "CRVAnchor", "The class factory made no object");
    void* p = object->QueryInterface(iid);
    if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    return p;
}

ClassTable& ClassTable::Instance() {
    static ClassTable table;
    return table;
}

struct ClassTable::Snapshot {
    struct Class {
        Guid clsid;
        ComPtr<ClassFactory> factory;
    };
    // Open addressing over a power-of-two table at most half full: a lookup is a hash, a
    // compare or two, and no walk over the registrations.
    std::vector<Class> slots;
    size_t mask = 0;

    explicit Snapshot(size_t count) {
        size_t size = 4;
        while (size < 2 * count) size *= 2;
        slots.resize(size);
        mask = size - 1;
    }
    static size_t Hash(const Guid& g) {
        const uint64_t tail = std::bit_cast<uint64_t>(g.data4);
        return static_cast<size_t>((g.data1 ^ tail ^ (tail >> 29)) * 0x9E3779B97F4A7C15ull >> 32);
    }
    // Adds clsid unless it is in already (an older registration of a class in force).
    void Add(const Guid& clsid, const ComPtr<ClassFactory>& factory) {
        for (size_t i = Hash(clsid);; ++i) {
            Class& c = slots[i & mask];
            if (!c.factory) {
                c = {clsid, factory};
                return;
            }
            if (c.clsid == clsid) return;
        }
    }
    ClassFactory* Find(const Guid& clsid) const {
        for (size_t i = Hash(clsid);; ++i) {
            const Class& c = slots[i & mask];
            if (!c.factory) return nullptr;
            if (c.clsid == clsid) return c.factory.Get();
        }
    }
};

namespace {
// What this thread last read of the table: a snapshot, and the table's count of changes when
// it was read. Plain data, so that reading it costs one thread-local access; the reference
// that keeps the snapshot alive is in t_held.
struct SnapshotCache {
    uint64_t generation = 0;
    const void* snapshot = nullptr;
    bool gone = false;  // the thread is ending: look under the lock
};
// Read with one instruction rather than a call into the loader: this library is loaded with
// the program or with the component that needs it, and the few bytes fit the loader's
// reserve for libraries loaded later.
__attribute__((tls_model("initial-exec"))) thread_local SnapshotCache t_classes;
struct HeldSnapshot {
    std::shared_ptr<const void> snapshot;
    ~HeldSnapshot() {
        t_classes = {};
        t_classes.gone = true;
    }
};
thread_local HeldSnapshot t_held;
}  // namespace

void ClassTable::Republish() {
    auto next = std::make_shared<Snapshot>(entries_.size());
    // The newest registration of each class id wins.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) next->Add(it->second.clsid, it->second.factory);
    snapshot_ = std::move(next);
    generation_.fetch_add(1, std::memory_order_release);
}

// Reads the table's snapshot into this thread's cache; the snapshot in force, or nothing when
// the thread is ending (the caller then looks under the lock).
const void* ClassTable::RefreshSnapshot() {
    SnapshotCache& cache = t_classes;
    if (cache.gone) return nullptr;
    HeldSnapshot& held = t_held;
    // The snapshot let go of may hold the last reference to a revoked class object, whose
    // release must not run under the lock.
    std::shared_ptr<const void> previous = std::move(held.snapshot);
    std::lock_guard lock(mutex_);
    held.snapshot = snapshot_;
    cache.snapshot = snapshot_.get();
    cache.generation = generation_.load(std::memory_order_relaxed);
    return cache.snapshot;
}

ComPtr<ClassFactory> ClassTable::RegisteredFactory(const Guid& clsid) {
    const SnapshotCache& cache = t_classes;
    const void* snapshot = cache.snapshot;
    if (cache.generation != generation_.load(std::memory_order_acquire)) {
        snapshot = RefreshSnapshot();
        if (snapshot == nullptr && t_classes.gone) {
            std::lock_guard lock(mutex_);
            return ComPtr<ClassFactory>(snapshot_ ? snapshot_->Find(clsid) : nullptr);
        }
    }
    if (snapshot == nullptr) return {};
    // Counted before it is used: the factory may register or revoke classes itself, which
    // makes this thread let go of the snapshot that holds it.
    return ComPtr<ClassFactory>(static_cast<const Snapshot*>(snapshot)->Find(clsid));
}

uint32_t ClassTable::RegisterClassObject(const Guid& clsid, ComPtr<ClassFactory> factory) {
    return RegisterClassObject(clsid, std::string(), std::move(factory));
}

uint32_t ClassTable::RegisterClassObject(const Guid& clsid, const std::string& progid, ComPtr<ClassFactory> factory) {
    std::lock_guard lock(mutex_);
    const uint32_t cookie = next_cookie_++;
    entries_.emplace_back(cookie, Entry{clsid, progid, std::move(factory)});
    Republish();
    return cookie;
}

Guid ClassTable::ClsidFromProgId(const std::string& progid) const {
    {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (!progid.empty() && it->second.progid == progid) return it->second.clsid;
        }
    }
    if (auto clsid = ProgIdFromRegistry(progid)) return *clsid;
    Raise(hresult::kInvalidClassString, "CRVAnchor", "Invalid class string: " + progid);
}

void ClassTable::RevokeClassObject(uint32_t cookie) {
    ComPtr<ClassFactory> released;
    std::shared_ptr<const void> dropped;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == cookie; });
        if (it == entries_.end()) return;
        released = std::move(it->second.factory);
        entries_.erase(it);
        Republish();
        // The revoking thread lets go of the class object at once; any other thread does on
        // its next creation.
        if (!t_classes.gone) {
            dropped = std::move(t_held.snapshot);
            t_classes = {};
        }
    }
}

bool ClassTable::IsRegistered(const Guid& clsid) const {
    std::lock_guard lock(mutex_);
    for (const auto& [cookie, entry] : entries_) {
        if (entry.clsid == clsid) return true;
    }
    return false;
}

void* ClassTable::CreateInstance(const Guid& clsid, const Guid& iid) {
    ComPtr<ClassFactory> factory = RegisteredFactory(clsid);
    if (!factory) factory = FactoryFromRegistry(clsid);
    return factory->CreateInstance(iid);
}

ScopedClassRegistration::ScopedClassRegistration(const Guid& clsid, FunctionClassFactory::Maker maker)
    : cookie_(ClassTable::Instance().RegisterClassObject(
          clsid, MakeCom<ClassFactory, FunctionClassFactory>(std::move(maker)))) {}

ScopedClassRegistration::ScopedClassRegistration(const Guid& clsid, const std::string& progid,
                                                 FunctionClassFactory::Maker maker)
    : cookie_(ClassTable::Instance().RegisterClassObject(
          clsid, progid, MakeCom<ClassFactory, FunctionClassFactory>(std::move(maker)))) {}

ScopedClassRegistration::~ScopedClassRegistration() { ClassTable::Instance().RevokeClassObject(cookie_); }

}  // namespace crv
