#include "anchor/PageList.h"

#include "com/Variant.h"

namespace crv {

namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

}  // namespace

std::optional<PageList> ReadPageList(const std::string& text, const RegionalSettings& rs) {
    if (text.empty()) return std::nullopt;
    // Only the blank itself: a tab or another space-like character is no part of a number.
    std::string compact;
    for (char c : text) {
        if (c != ' ') compact += c;
    }
    PageList list;
    for (const std::string& piece : Split(compact, ',')) {
        const std::vector<std::string> parts = Split(piece, '-');
        if (parts.size() == 2 && IsPlainNumber(parts[0], rs) && IsPlainNumber(parts[1], rs)) {
            const int32_t lo = CInt(Variant(parts[0]), rs);
            const int32_t hi = CInt(Variant(parts[1]), rs);
            // A reversed pair, 6-5 or 7-5 alike, names no page.
            if (lo <= hi) list.push_back({lo, hi});
        } else if (parts.size() == 1 && IsPlainNumber(parts[0], rs)) {
            const int32_t n = CInt(Variant(parts[0]), rs);
            list.push_back({n, n});
        }
    }
    if (list.empty()) return std::nullopt;
    return list;
}

bool InPageList(const PageList& pages, int32_t page) {
    for (const PageRange& r : pages) {
        if (page >= r.lo && page <= r.hi) return true;
    }
    return false;
}

}  // namespace crv
