#include "standalone/placement/Placement.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "standalone/support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace crv::standalone {

namespace gf = GeneralFunctions;

namespace {

std::optional<int32_t> WholeNumber(std::string_view s) {
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

void WalkMembers(const ComPtr<LayoutElement>& e, const std::string& group,
                 const std::function<void(const ComPtr<LayoutElement>&, const std::string&)>& visit) {
    visit(e, group);
    auto sequence = ComPtr<ElementSequence>::Query(e);
    auto indexed = sequence ? ComPtr<ElementGroup>() : ComPtr<ElementGroup>::Query(e);
    if (!sequence && !indexed) return;
    const std::string name = e->Name();
    const std::string inner = group.empty() ? name : group + " / " + name;
    if (sequence) {
        sequence->ResetMembers();
        for (ComPtr<LayoutElement> m = sequence->NextMember(); m; m = sequence->NextMember()) {
            WalkMembers(m, inner, visit);
        }
        return;
    }
    const int32_t n = indexed->MemberCount();
    for (int32_t i = 0; i < n; ++i) WalkMembers(indexed->Member(i), inner, visit);
}

// Why the engine would not anchor an element, told from its record the way the engine's own
// test reads it; "" when the record does not say.
std::string WhyNotAnchored(const ComPtr<LayoutElement>& element, const ComPtr<ElementContainer>& layout) {
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
        const ComPtr<LayoutElement> target =
            gf::WalkElementNames(layout, gf::GroupMembers::WalkedOrIndexed,
                                 [&](const ComPtr<LayoutElement>&, const std::string& n) { return n == name; });
        if (!target) return "its target " + QuotedValue(name) + " is not in the layout";
        bool fromFields = false;
        for (const char* k : {key::HFromFieldAll, key::VFromFieldAll, key::HFromFieldAlt, key::VFromFieldAlt}) {
            fromFields = fromFields || CBool(get(k));
        }
        if (fromFields) {
            const auto frame = ComPtr<MapFrame>::Query(target);
            const auto series = frame ? CompanionOrNothing(&NewMapSeriesFrame) : ComPtr<MapSeriesFrame>();
            if (!series || !series->HasSeries(frame) || !series->IsSeriesEnabled(frame)) {
                return "its distances come from fields, but its target " + QuotedValue(name) +
                       " is not a map frame with an enabled map series";
            }
        }
    } catch (const ComError&) {
        return "a value of its record does not convert to its key's kind";
    }
    return "";
}

}  // namespace

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

PageList ParseBookPages(const std::string& text, int32_t first, int32_t last) {
    PageList pages;
    const std::string range = "pages " + std::to_string(first) + " to " + std::to_string(last);
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
        if (*lo < first || *hi > last) {
            throw std::invalid_argument("--pages: " + piece + " is not in the map book (" + range + ")");
        }
        pages.Add(*lo, *hi);
        at = comma + 1;
    }
    return pages;
}

ComPtr<PropertyBag> AnchorRecordOf(const ComPtr<LayoutElement>& e) {
    auto outer = e->CustomProperty().ObjectAs<PropertyBag>();
    if (!outer) return {};
    auto family = outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    if (!family) return {};
    return family->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>();
}

void WalkLayout(const ComPtr<ElementContainer>& layout,
                const std::function<void(const ComPtr<LayoutElement>&, const std::string& group)>& visit) {
    layout->Reset();
    for (ComPtr<LayoutElement> e = layout->Next(); e; e = layout->Next()) WalkMembers(e, "", visit);
}

int PriorityRank(int16_t code) {
    switch (code) {
        case kPriorityHigh: return 0;
        case kPriorityMedium: return 1;
        case kPriorityLow: return 2;
        default: return 3;
    }
}

AnchorSelection::AnchorSelection(const ManagerFactory& newManager, const std::function<int()>& reportsShown) {
    const ComPtr<ElementContainer> layout = RunningApplication()->Document()->PageLayout();
    std::vector<Selected> candidates;
    WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        auto manager = newManager();
        if (!manager->IsAnchorElement(e)) return;
        candidates.push_back({e, manager, manager->AnchorPriority(e)});
    });
    std::stable_sort(candidates.begin(), candidates.end(), [](const Selected& a, const Selected& b) {
        return PriorityRank(a.priority) < PriorityRank(b.priority);
    });
    for (auto& c : candidates) {
        const std::string name = c.element->Name();
        if (!c.manager->CanAnchor(c.element)) {
            const std::string why = WhyNotAnchored(c.element, layout);
            left_out_.push_back({name, why.empty() ? "the engine cannot anchor it now" : why});
            continue;
        }
        const int before = reportsShown ? reportsShown() : 0;
        c.manager->SetAnchorElement(c.element);
        if (reportsShown && reportsShown() != before) {
            left_out_.push_back({name, "selecting it gave the error report shown"});
            continue;
        }
        selected_.push_back(std::move(c));
    }
}

AnchorSelection::~AnchorSelection() {
    for (auto& s : selected_) s.manager->Reset();
}

std::optional<int16_t> AnchorSelection::PriorityOf(const ComPtr<LayoutElement>& element) const {
    for (const auto& s : selected_) {
        if (SameObject(s.element, element)) return s.priority;
    }
    return std::nullopt;
}

void AnchorSelection::PlacePage(int32_t page) {
    for (auto& s : selected_) s.manager->AnchorElement(page);
}

}  // namespace crv::standalone
