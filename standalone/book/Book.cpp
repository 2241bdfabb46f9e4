#include "standalone/book/Book.h"

#include "anchor/AnchorRecord.h"
#include "standalone/host/Activation.h"
#include "standalone/support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace crv::standalone {

namespace {

int PriorityRank(int16_t code) {
    switch (code) {
        case kPriorityHigh: return 0;
        case kPriorityMedium: return 1;
        case kPriorityLow: return 2;
        default: return 3;
    }
}

void Walk(const ComPtr<LayoutElement>& e, const std::string& group,
          const std::function<void(const ComPtr<LayoutElement>&, const std::string&)>& visit) {
    visit(e, group);
    ElementImpl& impl = StandaloneHost::Impl(e);
    if (!impl.IsGroup()) return;
    const std::string inner = group.empty() ? impl.name() : group + " / " + impl.name();
    for (const auto& m : impl.Members()) Walk(m, inner, visit);
}

std::optional<int32_t> WholeNumber(std::string_view s) {
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

// Why the engine would not anchor an element, told from its record the way the engine's own
// test reads it; "" when the record does not say.
std::string WhyNotAnchored(const ComPtr<LayoutElement>& element, const std::vector<ComPtr<LayoutElement>>& top) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    if (!record) return "";
    try {
        auto get = [&](const char* k) { return record->GetProperty(k); };
        if (!CBool(get(key::AnchorElement))) return "its record is switched off (AnchorElement is false)";
        const std::string type = CStr(get(key::AnchorType));
        if (type == kAnchorTypeLayout) return "";
        if (type != kAnchorTypeNamedElement) {
            return "its AnchorType " + QuotedValue(type) + " is neither \"Layout\" nor \"NamedElement\"";
        }
        const std::string name = CStr(get(key::ElementName));
        if (name == kNone) return "it is to be anchored to another element but names none (ElementName is \"<None>\")";
        const ComPtr<LayoutElement> target = FindTarget(top, name);
        if (!target) return "its target " + QuotedValue(name) + " is not in the layout";
        bool fromFields = false;
        for (const char* k : {key::HFromFieldAll, key::VFromFieldAll, key::HFromFieldAlt, key::VFromFieldAlt}) {
            fromFields = fromFields || CBool(get(k));
        }
        const ElementImpl& impl = StandaloneHost::Impl(target);
        if (fromFields && (impl.Kind() != ElementKind::MapFrame || !impl.series || !impl.series->enabled)) {
            return "its distances come from fields, but its target " + QuotedValue(name) +
                   " is not a map frame with an enabled map series";
        }
    } catch (const ComError&) {
        return "a value of its record does not convert to its key's kind";
    }
    return "";
}

}  // namespace

ComPtr<PropertyBag> AnchorRecordOf(const ComPtr<LayoutElement>& e) {
    auto outer = e->CustomProperty().ObjectAs<PropertyBag>();
    if (!outer) return {};
    auto family = outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    if (!family) return {};
    return family->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>();
}

ComPtr<LayoutElement> FindTarget(const std::vector<ComPtr<LayoutElement>>& top, const std::string& name) {
    for (const auto& e : top) {
        ElementImpl& impl = StandaloneHost::Impl(e);
        if (impl.name() == name) return e;
        if (!impl.IsGroup()) continue;
        for (const auto& m : impl.Members()) {
            if (StandaloneHost::Impl(m).name() == name) return m;
        }
    }
    return {};
}

void WalkElements(const std::vector<ComPtr<LayoutElement>>& top,
                  const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit) {
    for (const auto& e : top) Walk(e, "", visit);
}

const char* ElementTypeName(ElementKind kind) {
    switch (kind) {
        case ElementKind::Text: return "text";
        case ElementKind::Picture: return "picture";
        case ElementKind::MapFrame: return "map_frame";
        default: return "group";
    }
}

std::string RectText(const Rect& r) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << "(" << r.xmin << ", " << r.ymin << ")-(" << r.xmax << ", " << r.ymax
      << ")";
    return s.str();
}

MapBook::MapBook(Document& document, std::function<int()> reportsShown) : document_(document) {
    HostState& state = document_.Host().State();
    WalkElements(state.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (series_frame_) return;
        ElementImpl& impl = StandaloneHost::Impl(e);
        if (impl.Kind() == ElementKind::MapFrame && impl.series && impl.series->enabled) series_frame_ = e;
    });
    if (series_frame_) {
        const SeriesData& s = *StandaloneHost::Impl(series_frame_).series;
        first_ = s.first_page_number;
        last_ = s.first_page_number + static_cast<int32_t>(s.PageCount()) - 1;
    }

    std::vector<Selected> candidates;
    WalkElements(state.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        auto manager = CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId);
        if (!manager->IsAnchorElement(e)) return;
        candidates.push_back({e, manager, manager->AnchorPriority(e)});
    });
    std::stable_sort(candidates.begin(), candidates.end(), [](const Selected& a, const Selected& b) {
        return PriorityRank(a.priority) < PriorityRank(b.priority);
    });
    for (auto& c : candidates) {
        const std::string name = StandaloneHost::Impl(c.element).name();
        if (!c.manager->CanAnchor(c.element)) {
            const std::string why = WhyNotAnchored(c.element, state.elements);
            left_out_.push_back({name, why.empty() ? "the engine cannot anchor it now" : why});
            continue;
        }
        const int before = reportsShown ? reportsShown() : 0;
        c.manager->SetAnchorElement(c.element);
        if (reportsShown && reportsShown() != before) {
            left_out_.push_back({name, "selecting it gave the error report shown"});
            continue;
        }
        order_.push_back(c.element);
        selected_.push_back(std::move(c));
    }
}

MapBook::~MapBook() {
    for (auto& s : selected_) s.manager->Reset();
}

void PageList::Add(int32_t first, int32_t last) {
    if (last < first) return;
    ranges_.push_back({first, last});
    std::sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    std::vector<Range> merged;
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
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [&](const Range& r) { return page >= r.first && page <= r.last; });
}

PageList MapBook::ParsePages(const std::string& text) const {
    PageList pages;
    const std::string range = "pages " + std::to_string(first_) + " to " + std::to_string(last_);
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string piece = text.substr(at, comma - at);
        // A leading minus belongs to the first number, not to a range.
        const size_t dash = piece.find('-', 1);
        std::optional<int32_t> lo, hi;
        if (dash == std::string::npos) {
            lo = hi = WholeNumber(piece);
        } else {
            lo = WholeNumber(std::string_view(piece).substr(0, dash));
            hi = WholeNumber(std::string_view(piece).substr(dash + 1));
        }
        if (!lo || !hi)
            throw std::invalid_argument("--pages: expected a page or a range such as 3-5, found \"" + piece + "\"");
        if (*lo > *hi) throw std::invalid_argument("--pages: the range " + piece + " runs backwards");
        if (*lo < first_ || *hi > last_) {
            throw std::invalid_argument("--pages: " + piece + " is not in the map book (" + range + ")");
        }
        pages.Add(*lo, *hi);
        at = comma + 1;
    }
    return pages;
}

void MapBook::ShowPage(int32_t page) {
    HostState& state = document_.Host().State();
    if (series_frame_) {
        SeriesData& s = *StandaloneHost::Impl(series_frame_).series;
        const int64_t position = int64_t{page} - s.first_page_number + 1;
        if (position >= 1 && position <= static_cast<int64_t>(s.PageCount())) {
            s.current_position = static_cast<int32_t>(position);
        }
    }
    if (state.active_layout_kind == ActiveLayoutInfo::kSeriesLayout) {
        state.series_layouts[state.active_layout_name] = Variant(page);
    }
    for (auto& s : selected_) s.manager->AnchorElement(page);
}

std::vector<Placement> MapBook::Placements() const {
    std::vector<Placement> out;
    WalkElements(document_.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string& group) {
        ElementImpl& impl = StandaloneHost::Impl(e);
        Placement p;
        p.name = impl.name();
        p.group = group;
        p.type = ElementTypeName(impl.Kind());
        for (const auto& s : selected_) {
            if (SameObject(s.element, e)) {
                p.anchored = true;
                p.priority = s.priority;
            }
        }
        p.rect = StandaloneHost::ExtentOf(e);
        out.push_back(std::move(p));
    });
    return out;
}

}  // namespace crv::standalone
