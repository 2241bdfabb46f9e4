#pragma once
// Two things every test of the component needs from its host: making a named host
// operation fail, and counting the host objects still alive.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace crv::support {

class FaultInjector {
public:
    static FaultInjector& Instance();

    // Operation `op` ("LayoutElement.Move", "Create.PropertyBag", ...) fails on its nth call
    // from now (1 = the next one), and on the `times - 1` calls after it; times 0 means for
    // ever.
    void Fail(const std::string& op, int nth = 1, int times = 1);
    void Clear();

    // Every host operation passes here first; throws the injected error when armed. With
    // nothing armed and no log kept this is one load and a branch, so that the host's own
    // cost is not buried under its test bookkeeping.
    static void Hit(const char* op) {
        if (watching_.load(std::memory_order_relaxed) != 0) Instance().Watch(op);
    }

    // What was called, in order, since the last ClearLog (for sweeps over every call).
    const std::vector<std::string>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    void SetLogging(bool on);

private:
    struct Armed {
        int64_t calls = 0;  // calls since it was armed
        int64_t at = 0;  // the call at which failing starts
        int64_t until = 0;  // 0: for ever
    };
    void Watch(const char* op);
    void UpdateWatching();

    // Whether any operation is armed or the log is kept.
    static inline std::atomic<int> watching_{0};
    std::map<std::string, Armed, std::less<>> armed_;
    std::vector<std::string> log_;
    bool logging_ = false;
};

inline void HostCall(const char* op) { FaultInjector::Hit(op); }

// Arms a failure for the lifetime of the guard.
class ScopedFault {
public:
    ScopedFault(const std::string& op, int nth = 1, int times = 1) { FaultInjector::Instance().Fail(op, nth, times); }
    ~ScopedFault() { FaultInjector::Instance().Clear(); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;
};

// The error number an injected failure carries.
inline constexpr int32_t kInjectedFailure = static_cast<int32_t>(0x80004005u);

// Counts the host objects alive: every object the standalone host hands out derives from it.
// Their memory is also recycled: a placement makes and drops a dozen small host objects
// (envelopes, polygons, the document and its view), and a freed block of the same size is
// handed out again without a trip through the general allocator.
class Tracked {
public:
    static int64_t Alive();

    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size) noexcept;

protected:
    Tracked();
    Tracked(const Tracked&);
    ~Tracked();
};

}  // namespace crv::support
