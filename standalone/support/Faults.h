#pragma once
// Two things every test of the component needs from its host: making a named host
// operation fail, and counting the host objects still alive.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace crv::standalone {

class FaultInjector {
public:
    static FaultInjector& Instance();

    // Operation `op` ("LayoutElement.Move", "Create.PropertyBag", ...) fails on its nth call
    // from now (1 = the next one), and on the `times - 1` calls after it; times 0 means for
    // ever.
    void Fail(const std::string& op, int nth = 1, int times = 1);
    void Clear();

    // Every host operation passes here first; throws the injected error when armed.
    void Hit(const char* op);

    // What was called, in order, since the last ClearLog (for sweeps over every call).
    const std::vector<std::string>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    void SetLogging(bool on) { logging_ = on; }
    int64_t Calls(const std::string& op) const;

private:
    struct Armed {
        int64_t at = 0;    // the call count at which failing starts
        int64_t until = 0; // 0: for ever
    };
    std::map<std::string, Armed> armed_;
    std::map<std::string, int64_t> counts_;
    std::vector<std::string> log_;
    bool logging_ = false;
};

inline void HostCall(const char* op) { FaultInjector::Instance().Hit(op); }

// Arms a failure for the lifetime of the guard.
class ScopedFault {
public:
    ScopedFault(const std::string& op, int nth = 1, int times = 1) {
        FaultInjector::Instance().Fail(op, nth, times);
    }
    ~ScopedFault() { FaultInjector::Instance().Clear(); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;
};

// The error number an injected failure carries.
inline constexpr int32_t kInjectedFailure = static_cast<int32_t>(0x80004005u);

// Counts the host objects alive: every object the standalone host hands out derives from it.
class Tracked {
public:
    static int64_t Alive();

protected:
    Tracked();
    Tracked(const Tracked&);
    ~Tracked();
};

}  // namespace crv::standalone
