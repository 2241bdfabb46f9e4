#include "commands/PagesOption.h"

#include "support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace crv::commands {

using namespace crv::support;

namespace {

std::optional<int32_t> WholeNumber(std::string_view s) {
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

std::string_view Trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

PageList ParseBookPages(const std::string& text, int32_t first, int32_t last) {
    // Gathered, then sorted once: pieces in any order cost one sort, not one each.
    std::vector<PageList::Range> ranges;
    const std::string range = "pages " + std::to_string(first) + " to " + std::to_string(last);
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        // Blanks around a piece and its dash are allowed: "1, 3 - 5".
        const std::string piece(Trimmed(std::string_view(text).substr(at, comma - at)));
        // A leading minus belongs to the first number, not to a range.
        const size_t dash = piece.find('-', 1);
        std::optional<int32_t> lo, hi;
        if (dash == std::string::npos) {
            lo = hi = WholeNumber(piece);
        } else {
            lo = WholeNumber(Trimmed(std::string_view(piece).substr(0, dash)));
            hi = WholeNumber(Trimmed(std::string_view(piece).substr(dash + 1)));
        }
        if (!lo || !hi)
            throw std::invalid_argument("--pages: expected a page or a range such as 3-5, found " + QuotedValue(piece));
        if (*lo > *hi) throw std::invalid_argument("--pages: the range " + piece + " runs backwards");
        if (*lo < first || *hi > last) {
            throw std::invalid_argument("--pages: " + piece + " is not in the map book (" + range + ")");
        }
        ranges.push_back({*lo, *hi});
        at = comma + 1;
    }
    return PageList(std::move(ranges));
}

}  // namespace crv::commands
