#include "com/FaultHook.h"

#include <atomic>

namespace crv {

namespace {
std::atomic<FaultHook> g_hook{nullptr};
}  // namespace

FaultHook SetFaultHook(FaultHook hook) { return g_hook.exchange(hook); }

void FaultPoint(const char* operation) {
    if (FaultHook hook = g_hook.load()) hook(operation);
}

}  // namespace crv
