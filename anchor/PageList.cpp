#include "anchor/PageList.h"

#include "com/Variant.h"

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
    return CInt(Variant(Unblanked(part.text)), rs);
}

}  // namespace page_list_detail

std::optional<PageList> ReadPageList(const std::string& text, const RegionalSettings& rs) {
    if (text.empty()) return std::nullopt;
    PageList list;
    ScanPageList(text, rs, [&](int32_t lo, int32_t hi) { list.push_back({lo, hi}); });
    if (list.empty()) return std::nullopt;
    return list;
}

std::optional<PageList> ReadPlainPageList(std::string_view text) {
    using page_list_detail::ShortPageNumber;
    PageList list;
    bool plain = true;
    SplitPageList(
        text,
        [&](std::string_view piece) {
            const auto n = ShortPageNumber(piece);
            if (!n)
                plain = false;
            else
                list.push_back({*n, *n});
        },
        [&](std::string_view lo_text, std::string_view hi_text) {
            const auto lo = ShortPageNumber(lo_text);
            const auto hi = ShortPageNumber(hi_text);
            if (!lo || !hi)
                plain = false;
            else if (*lo <= *hi)
                list.push_back({*lo, *hi});
        });
    if (!plain) return std::nullopt;
    return list;
}

bool InPageList(const PageList& pages, int32_t page) {
    for (const PageRange& r : pages) {
        if (page >= r.lo && page <= r.hi) return true;
    }
    return false;
}

}  // namespace crv
