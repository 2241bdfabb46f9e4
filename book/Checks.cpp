#include "book/Checks.h"

#include "support/MessageText.h"

#include <algorithm>

namespace crv::book {

using namespace crv::support;

namespace {

// Placement arithmetic leaves an element meant to sit on the page edge, or against another,
// a rounding error away from it: that is not a finding.
constexpr double kTolerance = 1e-9;

bool OffPage(const Rect& r, double width, double height) {
    return r.xmin < -kTolerance || r.ymin < -kTolerance || r.xmax > width + kTolerance || r.ymax > height + kTolerance;
}

bool Overlap(const Rect& a, const Rect& b) {
    return std::min(a.xmax, b.xmax) - std::max(a.xmin, b.xmin) > kTolerance &&
           std::min(a.ymax, b.ymax) - std::max(a.ymin, b.ymin) > kTolerance;
}

bool Inside(const Rect& inner, const Rect& outer) {
    return inner.xmin >= outer.xmin - kTolerance && inner.ymin >= outer.ymin - kTolerance &&
           inner.xmax <= outer.xmax + kTolerance && inner.ymax <= outer.ymax + kTolerance;
}

// Placed inside an element it is anchored to: standing there is what the record asks for.
bool InsideItsAnchor(const Placement& inner, const Placement& outer) {
    const auto& chain = inner.anchored_to;
    return std::find(chain.begin(), chain.end(), outer.name) != chain.end() && Inside(inner.rect, outer.rect);
}

// For each placement, one past the last placement inside it: the members of a group follow it
// in the walk, each naming the group's path at the start of its own.
std::vector<size_t> SubtreeEnds(const std::vector<Placement>& placements) {
    std::vector<size_t> ends(placements.size());
    for (size_t i = 0; i < placements.size(); ++i) {
        const Placement& p = placements[i];
        const std::string path = p.group.empty() ? p.name : p.group + " / " + p.name;
        size_t j = i + 1;
        if (p.type == "group") {
            for (; j < placements.size(); ++j) {
                const std::string& g = placements[j].group;
                const bool inside = g.compare(0, path.size(), path) == 0 &&
                                    (g.size() == path.size() || g.compare(path.size(), 3, " / ") == 0);
                if (!inside) break;
            }
        }
        ends[i] = j;
    }
    return ends;
}

}  // namespace

std::vector<CheckFinding> CheckPage(const std::vector<Placement>& placements, double pageWidth, double pageHeight,
                                    bool overlap) {
    std::vector<CheckFinding> found;
    const std::vector<size_t> ends = overlap ? SubtreeEnds(placements) : std::vector<size_t>();
    for (size_t i = 0; i < placements.size(); ++i) {
        const Placement& a = placements[i];
        if (!a.anchored) continue;
        const auto [width, height] = a.page_size.value_or(std::pair{pageWidth, pageHeight});
        if (OffPage(a.rect, width, height)) found.push_back({CheckFinding::Kind::OffPage, a.name, ""});
        if (!overlap) continue;
        // Everything after the element's own members; an element inside a group comes after it.
        // Rectangles of elements on different pages of a layout are measured on their own pages.
        for (size_t j = ends[i]; j < placements.size(); ++j) {
            const Placement& b = placements[j];
            if (b.anchored && b.layout_page == a.layout_page && Overlap(a.rect, b.rect) && !InsideItsAnchor(a, b) &&
                !InsideItsAnchor(b, a))
                found.push_back({CheckFinding::Kind::Overlap, a.name, b.name});
        }
    }
    return found;
}

std::string PageRangesText(const PageList& pages) {
    std::string text;
    for (const PageList::Range& r : pages.Ranges()) {
        if (!text.empty()) text += ", ";
        text += std::to_string(r.first);
        if (r.last != r.first) {
            text += '-';
            text += std::to_string(r.last);
        }
    }
    return text;
}

void CheckLog::AddPage(int32_t page, const std::vector<CheckFinding>& findings) {
    for (const CheckFinding& f : findings) {
        const auto [at, added] = index_.try_emplace(std::tuple(f.kind, f.element, f.other), entries_.size());
        if (added) entries_.push_back(Entry{f, {}});
        entries_[at->second].pages.Add(page, page);
    }
}

std::vector<std::string> CheckLog::Lines() const {
    std::vector<std::string> lines;
    for (const Entry& e : entries_) {
        if (e.finding.kind == CheckFinding::Kind::DataDefined) continue;
        std::string line = QuotedValue(e.finding.element);
        line += e.finding.kind == CheckFinding::Kind::OffPage ? " off the page"
                                                              : " overlaps " + QuotedValue(e.finding.other);
        line += e.pages.Count() == 1 ? " on page " : " on pages ";
        line += PageRangesText(e.pages);
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace crv::book
