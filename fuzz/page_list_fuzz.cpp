// Page-range texts: parsing and testing pages must never crash, hang or cost per page, and a
// list read is ascending ranges that neither overlap nor touch, whichever reader read it.
#include "anchor/PageList.h"
#include "errors/ComError.h"

#include <cstdint>
#include <cstring>
#include <string>

using namespace crv;

namespace {

void CheckList(const PageList& pages, int32_t page) {
    const auto& ranges = pages.Ranges();
    bool expected = false;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const PageList::Range& r = ranges[i];
        if (r.first > r.last || r.first < -32768 || r.last > 32767) __builtin_trap();  // 16-bit ends, never reversed
        if (i > 0 && int64_t{r.first} <= int64_t{ranges[i - 1].last} + 1) __builtin_trap();  // sorted, apart
        expected = expected || (page >= r.first && page <= r.last);
    }
    if (pages.Contains(page) != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t page = 0;
    std::memcpy(&page, data, sizeof page);
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    try {
        const auto pages = ReadPageList(text, RegionalSettings::Invariant());
        if (pages) CheckList(*pages, page);
        // Where the plain reader reads a text, it reads the pages the regional one does.
        if (const auto plain = ReadPlainPageList(text)) {
            CheckList(*plain, page);
            if (plain->Contains(page) != (pages && pages->Contains(page))) __builtin_trap();
        }
    } catch (const ComError&) {
        // Overflowing numbers are reported errors, not crashes.
    }
    return 0;
}
