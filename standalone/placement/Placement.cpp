#include "standalone/placement/Placement.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "standalone/placement/RecordEdit.h"
#include "standalone/support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <span>
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

std::string_view Trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

using TreeVisit = std::function<void(const ComPtr<LayoutElement>&, const std::string& group, size_t depth)>;

void WalkMembers(const ComPtr<LayoutElement>& e, const std::string& group, size_t depth, const TreeVisit& visit) {
    visit(e, group, depth);
    auto sequence = ComPtr<ElementSequence>::Query(e);
    auto indexed = sequence ? ComPtr<ElementGroup>() : ComPtr<ElementGroup>::Query(e);
    if (!sequence && !indexed) return;
    const std::string name = e->Name();
    const std::string inner = group.empty() ? name : group + " / " + name;
    if (sequence) {
        sequence->ResetMembers();
        for (ComPtr<LayoutElement> m = sequence->NextMember(); m; m = sequence->NextMember()) {
            WalkMembers(m, inner, depth + 1, visit);
        }
        return;
    }
    const int32_t n = indexed->MemberCount();
    for (int32_t i = 0; i < n; ++i) WalkMembers(indexed->Member(i), inner, depth + 1, visit);
}

void WalkTree(const ComPtr<ElementContainer>& layout, const TreeVisit& visit) {
    layout->Reset();
    for (ComPtr<LayoutElement> e = layout->Next(); e; e = layout->Next()) WalkMembers(e, "", 0, visit);
}

// Every element of the layout with the group that holds it, so that "moves" and "changes the
// extent of" can be told apart from the structure alone.
class LayoutTree {
public:
    explicit LayoutTree(const ComPtr<ElementContainer>& layout) {
        std::vector<size_t> open;  // the groups enclosing the element walked last, outermost first
        WalkTree(layout, [&](const ComPtr<LayoutElement>& e, const std::string&, size_t depth) {
            open.resize(depth);
            parent_.push_back(open.empty() ? kNone : open.back());
            open.push_back(nodes_.size());
            nodes_.push_back(e);
        });
    }
    std::optional<size_t> IndexOf(const ComPtr<LayoutElement>& e) const {
        for (size_t i = 0; i < nodes_.size(); ++i) {
            if (SameObject(nodes_[i], e)) return i;
        }
        return std::nullopt;
    }
    // True when `outer` is `inner` or one of the groups that hold it.
    bool Holds(size_t outer, size_t inner) const {
        for (size_t at = inner; at != kNone; at = parent_[at]) {
            if (at == outer) return true;
        }
        return false;
    }
    std::string NameOf(size_t i) const { return nodes_[i]->Name(); }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    std::vector<ComPtr<LayoutElement>> nodes_;
    std::vector<size_t> parent_;
};

// The element an anchored element is placed against, found the way the engine finds it; none
// for an element anchored to the page or whose record does not read.
ComPtr<LayoutElement> TargetOf(const ComPtr<LayoutElement>& element, const ComPtr<ElementContainer>& layout) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    if (!record) return {};
    try {
        if (CStr(record->GetProperty(key::AnchorType)) != kAnchorTypeNamedElement) return {};
        const std::string name = CStr(record->GetProperty(key::ElementName));
        if (name == kNone) return {};
        return gf::WalkElementNames(layout, gf::GroupMembers::WalkedOrIndexed,
                                    [&](const ComPtr<LayoutElement>&, const std::string& n) { return n == name; });
    } catch (const ComError&) {
        return {};
    }
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

// Why the engine refused to select an element whose record it can anchor, where its own report
// does not name the cause: a distance field that its target's map series lacks or that holds no
// numbers (the engine checks all four names, whether used or not); "" when that is not it.
std::string WhyFieldsRefused(const ComPtr<LayoutElement>& element, const ComPtr<ElementContainer>& layout) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    const ComPtr<LayoutElement> target = TargetOf(element, layout);
    const auto frame = target ? ComPtr<MapFrame>::Query(target) : ComPtr<MapFrame>();
    if (!record || !frame) return "";
    try {
        AnchorRecord r;
        r.Read(record, Without(kEveryKey, {key::Version}));
        if (!r.All.AnyFromField() && !r.Alt.AnyFromField()) return "";
        const ComPtr<MapSeriesFrame> series = CompanionOrNothing(&NewMapSeriesFrame);
        if (!series) return "";
        series->Bind(frame);
        const ComPtr<FieldSet> fields = series->IndexLayer()->Table()->Fields();
        const std::string where = " the map series on " + QuotedValue(target->Name());
        for (const std::string* name : {&r.All.HFieldName, &r.All.VFieldName, &r.Alt.HFieldName, &r.Alt.VFieldName}) {
            if (*name == kNone) continue;
            std::optional<int32_t> type;
            for (int32_t i = 0, n = fields->FieldCount(); i < n && !type; ++i) {
                const ComPtr<Field> f = fields->FieldAt(i);
                if (f->Name() == *name) type = f->Type();
            }
            if (!type) return where.substr(1) + " has no field " + QuotedValue(*name);
            if (!gf::IsDistanceFieldType(*type)) {
                return "its field " + QuotedValue(*name) + " of" + where + " holds " +
                       (*type == fieldtype::kString ? "text"
                        : *type == fieldtype::kDate ? "dates"
                                                    : "other values") +
                       ", not numbers";
            }
        }
    } catch (const ComError&) {}
    return "";
}

std::string CodeList(std::span<const char* const> labels) {
    std::string list;
    for (size_t i = 0; i < labels.size(); ++i) list += (i == 0 ? "" : ", ") + std::to_string(i) + " " + labels[i];
    return list;
}

// The values of a selected element's record that the record editor would refuse but the
// engine takes as they are, each with what comes of it; "" when there are none.
std::string UnusedValues(const ComPtr<LayoutElement>& element, int16_t priority) {
    std::vector<std::string> said;
    if (PriorityRank(priority) > PriorityRank(kPriorityLow)) {
        said.push_back(std::string(key::AnchorPriority) + " " + std::to_string(priority) +
                       ", which is not a priority (" + CodeList(kPriorityLabels) +
                       "): it is placed after the LOW elements");
    }
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    if (!record) return "";
    try {
        // The engine read it when the element was selected: it converts.
        const int16_t alt = CInt(record->GetProperty(key::AltAnchorType));
        if (alt < 0 || static_cast<size_t>(alt) >= kAltPageLabels.size()) {
            said.push_back(std::string(key::AltAnchorType) + " " + std::to_string(alt) +
                           ", which is not an alternate-page code (" + CodeList(kAltPageLabels) +
                           "): the alternate rule applies on no page");
        }
    } catch (const ComError&) {}
    // The engine never reads the version.
    const Variant version = record->GetProperty(key::Version);
    bool current = version.IsEmpty();
    try {
        current = current || CLng(version) == kRecordVersion;
    } catch (const ComError&) {}
    if (!current) {
        said.push_back(std::string(key::Version) + " " + RecordValueText(version) +
                       ", which is not the record version (" + std::to_string(kRecordVersion) +
                       "): the engine reads the record as version " + std::to_string(kRecordVersion) + " all the same");
    }
    std::string text;
    for (const std::string& s : said) text += (text.empty() ? "" : "; ") + s;
    return text;
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
    WalkTree(layout, [&](const ComPtr<LayoutElement>& e, const std::string& group, size_t) { visit(e, group); });
}

int PriorityRank(int16_t code) {
    switch (code) {
        case kPriorityHigh: return 0;
        case kPriorityMedium: return 1;
        case kPriorityLow: return 2;
        default: return 3;
    }
}

AnchorDependencies OrderByDependency(const ComPtr<ElementContainer>& layout,
                                     const std::vector<ComPtr<LayoutElement>>& elements) {
    const size_t n = elements.size();
    const LayoutTree tree(layout);
    std::vector<std::optional<size_t>> node(n), target(n);
    for (size_t i = 0; i < n; ++i) {
        node[i] = tree.IndexOf(elements[i]);
        if (const ComPtr<LayoutElement> t = TargetOf(elements[i], layout)) target[i] = tree.IndexOf(t);
    }
    // depends[i]: the elements whose placement moves i's target or changes its extent, and
    // the groups holding i, whose placement would carry i off the place it was given.
    auto throughTarget = [&](size_t i, size_t j) {
        return target[i] && node[j] && (tree.Holds(*node[j], *target[i]) || tree.Holds(*target[i], *node[j]));
    };
    auto heldBy = [&](size_t i, size_t j) { return i != j && node[i] && node[j] && tree.Holds(*node[j], *node[i]); };
    std::vector<std::vector<size_t>> depends(n);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            if (throughTarget(i, j) || heldBy(i, j)) depends[i].push_back(j);
        }
    }

    AnchorDependencies out;
    out.cycle.resize(n);
    out.same_cycle_as.resize(n);
    std::map<std::vector<size_t>, size_t> rings;  // each ring found, and the first element found in it
    // The shortest way back to i, if any, by a breadth-first walk of the dependencies.
    for (size_t i = 0; i < n; ++i) {
        std::vector<size_t> from(n, n);
        std::vector<size_t> queue{i};
        bool closed = false;
        size_t last = i;
        for (size_t q = 0; q < queue.size() && !closed; ++q) {
            for (size_t j : depends[queue[q]]) {
                if (j == i) {
                    closed = true;
                    last = queue[q];
                    break;
                }
                if (from[j] != n) continue;
                from[j] = queue[q];
                queue.push_back(j);
            }
        }
        if (!closed) continue;
        std::vector<size_t> ring;  // i, then what i depends on, and so on round to i
        for (size_t at = last; at != i; at = from[at]) ring.push_back(at);
        ring.push_back(i);
        std::reverse(ring.begin(), ring.end());
        std::rotate(ring.begin(), std::min_element(ring.begin(), ring.end()), ring.end());
        const auto [known, added] = rings.try_emplace(ring, i);
        out.same_cycle_as[i] = added ? i : known->second;
        if (!added) {
            out.cycle[i] = out.cycle[known->second];
            continue;
        }
        // Each step arrives at the next element of the ring: straight to the target, or through
        // it to the group that moves it or the member that sizes it; or from a member to the
        // group that carries it.
        std::vector<std::string> steps;
        for (size_t k = 0; k < ring.size(); ++k) {
            const size_t nextIndex = ring[(k + 1) % ring.size()];
            const size_t next = *node[nextIndex];
            const std::string name = QuotedValue(tree.NameOf(next));
            if (!throughTarget(ring[k], nextIndex)) {
                steps.push_back(" → its group " + name);
                continue;
            }
            const size_t t = *target[ring[k]];
            if (t == next) {
                steps.push_back(" → " + name);
            } else {
                steps.push_back(" → " + QuotedValue(tree.NameOf(t)) +
                                (tree.Holds(next, t) ? " → its group " : " → its member ") + name);
            }
        }
        // A long cycle is shown by its ends: its first elements, then its last ones back to the first.
        constexpr size_t kLongest = 30, kHead = 10, kTail = 2;
        std::string text = QuotedValue(elements[ring.front()]->Name());
        const size_t size = ring.size();
        for (size_t k = 0; k < size; ++k) {
            if (size > kLongest && k == kHead - 1) {
                text += " → …";
                k = size - kTail - 2;
                continue;
            }
            text += steps[k];
        }
        if (size > kLongest) text += " (" + std::to_string(size) + " elements)";
        out.cycle[i] = text;
    }

    std::vector<bool> placed(n, false);
    for (size_t i = 0; i < n; ++i) placed[i] = !out.cycle[i].empty();  // stays where it stands
    for (bool found = true; found;) {
        found = false;
        for (size_t i = 0; i < n && !found; ++i) {
            if (placed[i]) continue;
            if (std::all_of(depends[i].begin(), depends[i].end(), [&](size_t j) { return placed[j]; })) {
                placed[i] = found = true;
                out.order.push_back(i);
            }
        }
    }
    return out;
}

std::vector<std::pair<ComPtr<LayoutElement>, std::string>> AnchorCycles(const ComPtr<ElementContainer>& layout) {
    struct Candidate {
        ComPtr<LayoutElement> element;
        int rank;
    };
    // Collected first: telling whether an element can be anchored walks the layout again.
    std::vector<ComPtr<LayoutElement>> all;
    WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) { all.push_back(e); });
    std::vector<Candidate> candidates;
    for (const ComPtr<LayoutElement>& e : all) {
        const ComPtr<PropertyBag> record = AnchorRecordOf(e);
        if (!record || !WhyNotAnchored(e, layout).empty()) continue;
        try {
            if (!CBool(record->GetProperty(key::AnchorElement))) continue;
            candidates.push_back({e, PriorityRank(CInt(record->GetProperty(key::AnchorPriority)))});
        } catch (const ComError&) {}
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    std::vector<ComPtr<LayoutElement>> elements;
    for (const auto& c : candidates) elements.push_back(c.element);
    const AnchorDependencies dependencies = OrderByDependency(layout, elements);
    std::vector<std::pair<ComPtr<LayoutElement>, std::string>> out;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!dependencies.cycle[i].empty()) out.emplace_back(elements[i], dependencies.cycle[i]);
    }
    return out;
}

std::string CycleLine(const std::string& name, const std::string& cycle) {
    return QuotedValue(name) + " is in a cycle of anchors: " + cycle;
}

AnchorSelection::AnchorSelection(const ManagerFactory& newManager, const std::function<int()>& reportsShown,
                                 const HostRefusal& refusal) {
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
            left_out_.push_back({name, why.empty() ? "the engine cannot anchor it now" : why, c.element, ""});
            continue;
        }
        if (const std::string why = refusal ? refusal(c.element) : std::string(); !why.empty()) {
            left_out_.push_back({name, why, c.element, ""});
            continue;
        }
        const int before = reportsShown ? reportsShown() : 0;
        c.manager->SetAnchorElement(c.element);
        if (reportsShown && reportsShown() != before) {
            const std::string why = WhyFieldsRefused(c.element, layout);
            left_out_.push_back(
                {name, "selecting it gave the error report shown" + (why.empty() ? "" : ": " + why), c.element, ""});
            continue;
        }
        selected_.push_back(std::move(c));
    }
    std::vector<ComPtr<LayoutElement>> elements;
    for (const auto& s : selected_) elements.push_back(s.element);
    const AnchorDependencies dependencies = OrderByDependency(layout, elements);
    std::vector<Selected> ordered;
    for (size_t i : dependencies.order) ordered.push_back(std::move(selected_[i]));
    for (size_t i = 0; i < selected_.size(); ++i) {
        const std::string& cycle = dependencies.cycle[i];
        if (cycle.empty()) continue;
        selected_[i].manager->Reset();
        const size_t first = dependencies.same_cycle_as[i];
        const std::string reason =
            first == i ? "it is in a cycle of anchors: " + cycle
                       : "it is in the same cycle of anchors as " + QuotedValue(selected_[first].element->Name());
        left_out_.push_back({selected_[i].element->Name(), reason, selected_[i].element, cycle});
    }
    selected_ = std::move(ordered);
    for (const Selected& s : selected_) {
        const std::string note = UnusedValues(s.element, s.priority);
        if (!note.empty()) notes_.push_back(QuotedValue(s.element->Name()) + " has " + note);
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
