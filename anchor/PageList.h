#pragma once
// Page lists of the alternate rules, read from a page-range text such as "1-3, 7, 10-12".
// These raise plain errors and never touch the error path's state, so a tool may call them
// directly; the engine calls them through its own procedures, which add the call stack.

#include "com/Regional.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crv {

// A page list: the numbers lo..hi of each piece, in the order of the text. Kept as ranges
// so that testing a page costs one step per piece, however long the ranges.
struct PageRange {
    int32_t lo;
    int32_t hi;
};
using PageList = std::vector<PageRange>;

// Pieces separated by ",", each a number or two numbers joined by "-"; blanks (' ') anywhere
// are ignored. A number is an optional sign, digits, an optional decimal part and exponent,
// rounded half to even to a 16-bit page number ("Overflow" beyond). A piece that is not of
// that form adds nothing; nothing when no piece adds a page.
std::optional<PageList> ReadPageList(const std::string& text, const RegionalSettings& rs);

bool InPageList(const PageList& pages, int32_t page);

}  // namespace crv
