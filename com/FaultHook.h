#pragma once
// A point where a test host may make the runtime's own operations fail (registry reads and
// writes, library loading), the way it makes its host operations fail.

namespace crv {

using FaultHook = void (*)(const char* operation);

// Installs the hook (nullptr removes it) and returns the former one.
FaultHook SetFaultHook(FaultHook hook);

// Calls the hook, which throws to make the operation fail.
void FaultPoint(const char* operation);

}  // namespace crv
