#include "anchor/PageList.h"

#include "errors/ComError.h"

#include <algorithm>
#include <iterator>

namespace crv {

namespace page_list_detail {

// A page number of up to five digits within the 16-bit range, blanks skipped, read without
// the general conversion: it is always numeric and always in range, and it is what page lists
// mostly hold. Anything else takes the general road (and its overflow error).
std::optional<int16_t> ShortPageNumber(std::string_view part) {
    int digits = 0;
    int32_t n = 0;
    for (char c : part) {
        if (c == ' ') continue;
        if (c < '0' || c > '9' || ++digits > 5) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (digits == 0 || n > INT16_MAX) return std::nullopt;
    return static_cast<int16_t>(n);
}

namespace {

// Only the blank itself is dropped: a tab or another space-like character is no part of a number.
std::string Unblanked(std::string_view part) {
    std::string text;
    for (char c : part) {
        if (c != ' ') text += c;
    }
    return text;
}

}  // namespace

PagePart ReadPart(std::string_view text, const RegionalSettings& rs) {
    if (const auto n = ShortPageNumber(text)) return {text, n, true};
    return {text, std::nullopt, IsPlainNumber(Unblanked(text), rs)};
}

int32_t PageNumberOf(const PagePart& part, const RegionalSettings& rs) {
    if (part.value) return *part.value;
    // Rounded as written, then held to 16 bits as the platform's integer conversion holds it.
    const std::optional<int64_t> n = RoundPlainNumber(Unblanked(part.text), rs);
    if (!n || *n < INT16_MIN || *n > INT16_MAX) Raise(vberr::kOverflow, "CRVAnchor", "Overflow");
    return static_cast<int32_t>(*n);
}

}  // namespace page_list_detail

std::optional<PageList> ReadPageList(const std::string& text, const RegionalSettings& rs) {
    if (text.empty()) return std::nullopt;
    std::vector<PageList::Range> ranges;
    ScanPageList(text, rs, [&](int32_t lo, int32_t hi) { ranges.push_back({lo, hi}); });
    if (ranges.empty()) return std::nullopt;
    return PageList(std::move(ranges));
}

std::optional<PageList> ReadPlainPageList(std::string_view text) {
    using page_list_detail::ShortPageNumber;
    std::vector<PageList::Range> ranges;
    bool plain = true;
    SplitPageList(
        text,
        [&](std::string_view piece) {
            const auto n = ShortPageNumber(piece);
            if (!n)
                plain = false;
            else
                ranges.push_back({*n, *n});
        },
        [&](std::string_view lo_text, std::string_view hi_text) {
            const auto lo = ShortPageNumber(lo_text);
            const auto hi = ShortPageNumber(hi_text);
            if (!lo || !hi)
                plain = false;
            else if (*lo <= *hi)
                ranges.push_back({*lo, *hi});
        });
    if (!plain) return std::nullopt;
    return PageList(std::move(ranges));
}

PageList::PageList(std::vector<Range> ranges) : ranges_(std::move(ranges)) { Normalize(); }

void PageList::Add(int32_t first, int32_t last) {
    if (last < first) return;
    // Ranges added in ascending order join the last one or follow it, without sorting again.
    if (ranges_.empty() || int64_t{first} > int64_t{ranges_.back().last} + 1) {
        ranges_.push_back({first, last});
        return;
    }
    if (first >= ranges_.back().first) {
        ranges_.back().last = std::max(ranges_.back().last, last);
        return;
    }
    ranges_.push_back({first, last});
    Normalize();
}

void PageList::Normalize() {
    std::erase_if(ranges_, [](const Range& r) { return r.last < r.first; });
    std::sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    std::vector<Range> merged;
    merged.reserve(ranges_.size());
    for (const Range& r : ranges_) {
        if (!merged.empty() && int64_t{r.first} <= int64_t{merged.back().last} + 1) {
            merged.back().last = std::max(merged.back().last, r.last);
        } else {
            merged.push_back(r);
        }
    }
    ranges_ = std::move(merged);
}

size_t PageList::Count() const {
    size_t n = 0;
    for (const Range& r : ranges_) n += static_cast<size_t>(int64_t{r.last} - r.first + 1);
    return n;
}

bool PageList::Contains(int32_t page) const {
    // The first range that starts after the page; the one before it is the only candidate.
    const auto after =
        std::upper_bound(ranges_.begin(), ranges_.end(), page, [](int32_t p, const Range& r) { return p < r.first; });
    return after != ranges_.begin() && page <= std::prev(after)->last;
}

}  // namespace crv
