#include "standalone/support/Faults.h"

#include "com/FaultHook.h"
#include "errors/ComError.h"

#include <atomic>

namespace crv::standalone {

namespace {
std::atomic<int64_t> g_alive{0};
}

FaultInjector& FaultInjector::Instance() {
    // The runtime's own operations (registry, library loading) fail through the same injector.
    static FaultInjector injector = [] {
        SetFaultHook([](const char* op) { FaultInjector::Instance().Hit(op); });
        return FaultInjector();
    }();
    return injector;
}

void FaultInjector::Fail(const std::string& op, int nth, int times) {
    const int64_t now = counts_[op];
    Armed a;
    a.at = now + (nth < 1 ? 1 : nth);
    a.until = times <= 0 ? 0 : a.at + times - 1;
    armed_[op] = a;
}

void FaultInjector::Clear() { armed_.clear(); }

int64_t FaultInjector::Calls(const std::string& op) const {
    auto it = counts_.find(op);
    return it == counts_.end() ? 0 : it->second;
}

void FaultInjector::Hit(const char* op) {
    const std::string name(op);
    const int64_t n = ++counts_[name];
    if (logging_) log_.push_back(name);
    auto it = armed_.find(name);
    if (it == armed_.end()) return;
    const Armed& a = it->second;
    if (n >= a.at && (a.until == 0 || n <= a.until)) {
        Raise(kInjectedFailure, name, "Injected failure in " + name + ".");
    }
}

Tracked::Tracked() { ++g_alive; }
Tracked::Tracked(const Tracked&) { ++g_alive; }
Tracked::~Tracked() { --g_alive; }
int64_t Tracked::Alive() { return g_alive.load(); }

}  // namespace crv::standalone
