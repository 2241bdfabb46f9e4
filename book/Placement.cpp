#include "book/Placement.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "book/RecordText.h"
#include "support/MessageText.h"

#include <algorithm>
#include <optional>
#include <span>

namespace crv::book {

using namespace crv::support;

namespace gf = GeneralFunctions;

namespace {

// Why the engine refused to select an element whose record it can anchor, where its own report
// does not name the cause: a distance field that its target's map series lacks or that holds no
// numbers (the engine checks all four names, whether used or not); "" when that is not it.
std::string WhyFieldsRefused(const ComPtr<LayoutElement>& element, const ElementNames& targets) {
    const ComPtr<PropertyBag> record = AnchorRecordOf(element);
    const ComPtr<LayoutElement> target = TargetOf(element, targets);
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

AnchorSelection::AnchorSelection(const ManagerFactory& newManager, const std::function<int()>& reportsShown,
                                 const HostRefusal& refusal) {
    const ComPtr<ElementContainer> layout = RunningApplication()->Document()->PageLayout();
    std::vector<Selected> candidates;
    WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        auto manager = newManager();
        if (!manager->IsAnchorElement(e)) return;
        candidates.push_back({e, manager, manager->AnchorPriority(e), {}});
    });
    std::stable_sort(candidates.begin(), candidates.end(), [](const Selected& a, const Selected& b) {
        return PriorityRank(a.priority) < PriorityRank(b.priority);
    });
    std::optional<ElementNames> targets;  // read when an element is left out
    for (auto& c : candidates) {
        const std::string name = c.element->Name();
        if (!c.manager->CanAnchor(c.element)) {
            if (!targets) targets.emplace(layout);
            const std::string why = WhyNotAnchored(c.element, *targets);
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
            if (!targets) targets.emplace(layout);
            const std::string why = WhyFieldsRefused(c.element, *targets);
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
    for (size_t i = 0; i < selected_.size(); ++i) position_.try_emplace(Identity(selected_[i].element), i);
    if (!selected_.empty() && !targets) targets.emplace(layout);
    for (Selected& s : selected_) {
        std::vector<const void*> met{Identity(s.element)};
        for (auto t = TargetOf(s.element, *targets); t && std::find(met.begin(), met.end(), Identity(t)) == met.end();
             t = TargetOf(t, *targets)) {
            met.push_back(Identity(t));
            s.anchored_to.push_back(t->Name());
        }
    }
}

AnchorSelection::~AnchorSelection() {
    for (auto& s : selected_) s.manager->Reset();
}

std::optional<int16_t> AnchorSelection::PriorityOf(const ComPtr<LayoutElement>& element) const {
    const auto it = position_.find(Identity(element));
    if (it == position_.end()) return std::nullopt;
    return selected_[it->second].priority;
}

std::vector<std::string> AnchorSelection::AnchoredTo(const ComPtr<LayoutElement>& element) const {
    const auto it = position_.find(Identity(element));
    if (it == position_.end()) return {};
    return selected_[it->second].anchored_to;
}

void AnchorSelection::PlacePage(int32_t page, const BeforeEach& before) {
    for (auto& s : selected_) {
        if (before) before(s.element);
        s.manager->AnchorElement(page);
    }
}

}  // namespace crv::book
