#include "support/Faults.h"

#include "com/FaultHook.h"
#include "errors/ComError.h"

#include <atomic>
#include <new>
#include <utility>

namespace crv::support {

namespace {
std::atomic<int64_t> g_alive{0};

// Per thread, a free list of blocks for each size up to kLargest bytes in steps of kStep, at
// most kKept blocks each. Under the address sanitizer every block goes back to the general
// allocator, so that a use after release is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRecycle = false;
#else
constexpr bool kRecycle = true;
#endif
constexpr size_t kStep = 16;
constexpr size_t kLargest = 512;
constexpr int kKept = 64;

struct FreeBlock {
    FreeBlock* next;
};

struct BlockPool {
    FreeBlock* head[kLargest / kStep] = {};
    int kept[kLargest / kStep] = {};
    ~BlockPool();
};

// Set once the thread's pool is gone: objects released later (at exit) go straight back.
thread_local bool t_poolGone = false;
thread_local BlockPool t_pool;

BlockPool::~BlockPool() {
    t_poolGone = true;
    for (FreeBlock*& h : head) {
        while (h != nullptr) ::operator delete(std::exchange(h, h->next));
    }
}

size_t Bucket(size_t size) { return (size + kStep - 1) / kStep - 1; }
}  // namespace

FaultInjector& FaultInjector::Instance() {
    // The runtime's own operations (registry, library loading) fail through the same injector.
    static FaultInjector injector = [] {
        SetFaultHook([](const char* op) { FaultInjector::Hit(op); });
        return FaultInjector();
    }();
    return injector;
}

void FaultInjector::Fail(const std::string& op, int nth, int times) {
    Armed a;
    a.at = nth < 1 ? 1 : nth;
    a.until = times <= 0 ? 0 : a.at + times - 1;
    armed_[op] = a;
    UpdateWatching();
}

void FaultInjector::Clear() {
    armed_.clear();
    UpdateWatching();
}

void FaultInjector::SetLogging(bool on) {
    logging_ = on;
    UpdateWatching();
}

void FaultInjector::UpdateWatching() {
    watching_.store(!armed_.empty() || logging_ ? 1 : 0, std::memory_order_relaxed);
}

void FaultInjector::Watch(const char* op) {
    const std::string_view name(op);
    if (logging_) log_.emplace_back(name);
    auto it = armed_.find(name);
    if (it == armed_.end()) return;
    Armed& a = it->second;
    const int64_t n = ++a.calls;
    if (n >= a.at && (a.until == 0 || n <= a.until)) {
        const std::string text(name);
        Raise(kInjectedFailure, text, "Injected failure in " + text + ".");
    }
}

Tracked::Tracked() { ++g_alive; }
Tracked::Tracked(const Tracked&) { ++g_alive; }
Tracked::~Tracked() { --g_alive; }
int64_t Tracked::Alive() { return g_alive.load(); }

void* Tracked::operator new(size_t size) {
    if (kRecycle && size <= kLargest) {
        const size_t b = Bucket(size);
        if (!t_poolGone) {
            BlockPool& pool = t_pool;
            if (FreeBlock* block = pool.head[b]) {
                pool.head[b] = block->next;
                --pool.kept[b];
                return block;
            }
        }
        // Blocks of one bucket are all of the bucket's largest size, so any of them fits.
        return ::operator new((b + 1) * kStep);
    }
    return ::operator new(size);
}

void Tracked::operator delete(void* p, size_t size) noexcept {
    if (kRecycle && size <= kLargest) {
        const size_t b = Bucket(size);
        if (!t_poolGone) {
            BlockPool& pool = t_pool;
            if (pool.kept[b] < kKept) {
                pool.head[b] = new (p) FreeBlock{pool.head[b]};
                ++pool.kept[b];
                return;
            }
        }
        ::operator delete(p);
        return;
    }
    ::operator delete(p);
}

}  // namespace crv::support
