// Page-range texts: parsing and testing pages must never crash, hang or cost per page.
#include "anchor/PageList.h"
#include "errors/ComError.h"

#include <cstdint>
#include <cstring>
#include <string>

using namespace crv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t page = 0;
    std::memcpy(&page, data, sizeof page);
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    try {
        const auto pages = ReadPageList(text, RegionalSettings::Invariant());
        if (pages) {
            for (const PageRange& r : *pages) {
                if (r.lo > r.hi || r.lo < -32768 || r.hi > 32767) __builtin_trap();  // 16-bit ends, never reversed
            }
            const bool in = InPageList(*pages, page);
            bool expected = false;
            for (const PageRange& r : *pages) expected = expected || (page >= r.lo && page <= r.hi);
            if (in != expected) __builtin_trap();
        }
    } catch (const ComError&) {
        // Overflowing numbers are reported errors, not crashes.
    }
    return 0;
}
