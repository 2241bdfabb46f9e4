#pragma once
// Page lists of the alternate rules, read from a page-range text such as "1-3, 7, 10-12".
// These raise plain errors and never touch the error path's state, so a tool may call them
// directly; the engine calls them through its own procedures, which add the call stack.

#include "com/Regional.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crv {

// Page numbers as ascending ranges that neither overlap nor touch: a list of any length is a
// few numbers, and a page is looked up by a binary search over the ranges. The one page-list
// type: alternate rules, the pages a book is asked for and the pages a finding was seen on.
class PageList {
public:
    struct Range {
        int32_t first;
        int32_t last;
    };
    PageList() = default;
    PageList(int32_t first, int32_t last) { Add(first, last); }
    // The pages of ranges in any order, overlapping or not, sorted once.
    explicit PageList(std::vector<Range> ranges);
    // Adds first to last, both included; nothing when last < first. Cheap for ranges added in
    // ascending order, as a book adds them.
    void Add(int32_t first, int32_t last);
    bool Empty() const { return ranges_.empty(); }
    size_t Count() const;
    bool Contains(int32_t page) const;
    const std::vector<Range>& Ranges() const { return ranges_; }

private:
    void Normalize();
    std::vector<Range> ranges_;
};

// Pieces separated by ",", each a number or two numbers joined by "-"; blanks (' ') anywhere
// are ignored. A number is an optional sign, digits, an optional decimal part and exponent,
// rounded as written (halves to the even neighbour) to a 16-bit page number ("Overflow" beyond). A piece that is not of
// that form adds nothing; nothing when no piece adds a page.
std::optional<PageList> ReadPageList(const std::string& text, const RegionalSettings& rs);

namespace page_list_detail {
// One side of a piece: whether it reads as a number, and its value when it was read at once.
struct PagePart {
    std::string_view text;
    std::optional<int16_t> value;
    bool numeric;
};
PagePart ReadPart(std::string_view text, const RegionalSettings& rs);
// A page number of up to five digits within 16 bits, blanks skipped; nothing for other text.
std::optional<int16_t> ShortPageNumber(std::string_view part);
// A part that reads as a number, converted to a page number ("Overflow" beyond 16 bits).
int32_t PageNumberOf(const PagePart& part, const RegionalSettings& rs);
}  // namespace page_list_detail

// Hands each piece of a page-range text, in the order of the text, to `single` (a piece
// without "-") or to `pair` (its two sides around the one "-"); a piece with more than one
// "-" names nothing.
template <class Single, class Pair>
void SplitPageList(std::string_view all, Single&& single, Pair&& pair) {
    for (size_t start = 0;;) {
        const size_t comma = all.find(',', start);
        const std::string_view piece =
            all.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const size_t dash = piece.find('-');
        if (dash == std::string_view::npos) {
            single(piece);
        } else if (piece.find('-', dash + 1) == std::string_view::npos) {
            pair(piece.substr(0, dash), piece.substr(dash + 1));
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
}

// Hands each range lo..hi that a page-range text names to `add`, in the order of the text,
// without copying the text or building a list. ReadPageList is this scan collected.
template <class Add>
void ScanPageList(std::string_view all, const RegionalSettings& rs, Add&& add) {
    using namespace page_list_detail;
    SplitPageList(
        all,
        [&](std::string_view piece) {
            const PagePart only = ReadPart(piece, rs);
            if (only.numeric) {
                const int32_t n = PageNumberOf(only, rs);
                add(n, n);
            }
        },
        [&](std::string_view lo_text, std::string_view hi_text) {
            const PagePart first = ReadPart(lo_text, rs);
            const PagePart second = ReadPart(hi_text, rs);
            if (first.numeric && second.numeric) {
                const int32_t lo = PageNumberOf(first, rs);
                const int32_t hi = PageNumberOf(second, rs);
                // A reversed pair, 6-5 or 7-5 alike, names no page.
                if (lo <= hi) add(lo, hi);
            }
        });
}

// The pages of a text whose every number is a plain page number (digits and blanks, within
// 16 bits): what ScanPageList names, under any regional settings. Nothing for any other text,
// which only ScanPageList reads.
std::optional<PageList> ReadPlainPageList(std::string_view text);

}  // namespace crv
