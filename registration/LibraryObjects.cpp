// The library's count of live objects, kept beside the classes that count themselves so that
// any program linking them (the library, a test, a tool) has it too.
#include "CRVAnchorTypeLib.h"

#include <atomic>

namespace crv {

namespace {
std::atomic<int64_t> g_objects{0};
}  // namespace

void LibraryObjectCreated() { ++g_objects; }
void LibraryObjectDestroyed() { --g_objects; }
int64_t LiveLibraryObjects() { return g_objects.load(); }

}  // namespace crv
