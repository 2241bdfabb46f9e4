#include "commands/RecordEdit.h"

#include "anchor/AnchorRecord.h"
#include "anchor/PageList.h"
#include "book/Order.h"
#include "book/RecordText.h"
#include "support/MessageText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>

namespace crv::commands {

using namespace crv::book;

using namespace crv::support;

namespace {

// The editor writes only what a record may hold: each key's kind and, where the record gives
// them, its allowed values. The engine has its own rules for what a stored record does.
constexpr double kDistanceLimit = 1e6;  // page units either way; beyond it no page is meant

std::string LabelList(std::span<const char* const> labels) {
    std::string list;
    for (const char* l : labels) list += (list.empty() ? "" : ", ") + Quoted(l);
    return list;
}

}  // namespace

Variant ConvertRecordValue(const RecordKey& k, const std::string& text) {
    const std::string name = k.name;
    const std::string where = name + "=" + QuotedValue(text) + ": ";
    if (!IsValidUtf8(text)) throw RecordEditError(where + "not UTF-8 text");
    if (!k.labels.empty()) {
        // A code: by its label or its number.
        for (size_t i = 0; i < k.labels.size(); ++i) {
            if (text == k.labels[i]) return Variant(static_cast<int16_t>(i));
        }
        int16_t v = -1;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec == std::errc() && end == text.data() + text.size() && !text.empty() && v >= 0 &&
            static_cast<size_t>(v) < k.labels.size()) {
            return Variant(v);
        }
        const char* what = k.labels.data() == kPointLabels.data()     ? "a point code"
                           : k.labels.data() == kAltPageLabels.data() ? "an alternate-page code"
                                                                      : "a priority code";
        throw RecordEditError(where + "expected " + what + " 0 to " + std::to_string(k.labels.size() - 1) +
                              " or its label: " + LabelList(k.labels));
    }
    switch (k.kind) {
        case KeyKind::Boolean:
            if (text == "true" || text == "1") return Variant(true);
            if (text == "false" || text == "0") return Variant(false);
            throw RecordEditError(where + "expected true or false");
        case KeyKind::Integer:
            if (text == std::to_string(kRecordVersion)) return k.Default();
            throw RecordEditError(where + "expected " + std::to_string(kRecordVersion) + ", the record format version");
        case KeyKind::Distance: {
            double d = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
            if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(d) ||
                std::fabs(d) > kDistanceLimit) {
                throw RecordEditError(where + "expected a number from -1000000 to 1000000 page units, such as -0.25");
            }
            return Variant(d);
        }
        case KeyKind::String:
            if (name == key::AnchorType) {
                if (text == kAnchorTypeLayout || text == kAnchorTypeNamedElement) return Variant(text);
                throw RecordEditError(where + "expected " + Quoted(kAnchorTypeLayout) + " or " +
                                      Quoted(kAnchorTypeNamedElement));
            }
            if (name == key::AltAnchorPageRange && !text.empty()) {
                bool pages = false;
                try {
                    pages = ReadPageList(text, RegionalSettings::Current()).has_value();
                } catch (const ComError&) {}
                if (!pages) throw RecordEditError(where + "expected a page list such as 1-3, 7 (or nothing)");
            }
            if (text.empty() && name != key::AltAnchorPageRange) {
                throw RecordEditError(where + "expected a name or " + Quoted(kNone));
            }
            return Variant(text);
    }
    throw RecordEditError(where + "unknown kind");
}

RecordChanges ParseRecordChanges(const std::vector<std::string>& texts) {
    RecordChanges changes;
    for (const std::string& text : texts) {
        const size_t eq = text.find('=');
        if (eq == std::string::npos) throw RecordEditError("anchor: expected KEY=VALUE, found " + QuotedValue(text));
        const std::string k = text.substr(0, eq);
        const RecordKey* found = FindRecordKey(k);
        if (found == nullptr) {
            std::string keys;
            for (const RecordKey& r : RecordKeys()) keys += std::string(keys.empty() ? "" : ", ") + r.name;
            throw RecordEditError("anchor: " + QuotedValue(k) +
                                  " is not a key of the anchor record (its keys: " + keys + ")");
        }
        changes.can_anchor_given = changes.can_anchor_given || k == key::CanAnchor;
        changes.items.emplace_back(found, ConvertRecordValue(*found, text.substr(eq + 1)));
    }
    return changes;
}

void CheckTargets(const RecordChanges& changes, const std::function<bool(const std::string&)>& targetExists,
                  const std::string& in) {
    for (const auto& [k, v] : changes.items) {
        if (std::string(k->name) != key::ElementName || v.AsString() == kNone || targetExists(v.AsString())) continue;
        throw RecordEditError(std::string(k->name) + "=" + QuotedValue(v.AsString()) + ": no element of that name in " +
                              in + " (a target is a top-level element or a member of a top-level group), or " +
                              Quoted(kNone));
    }
}

namespace {

bool IsFieldKey(const std::string& name) {
    return name == key::HFieldNameAll || name == key::VFieldNameAll || name == key::HFieldNameAlt ||
           name == key::VFieldNameAlt;
}

}  // namespace

bool NamesAField(const RecordChanges& changes) {
    return std::ranges::any_of(changes.items, [](const auto& item) {
        return IsFieldKey(item.first->name) && item.second.AsString() != kNone;
    });
}

void CheckFieldNames(const RecordChanges& changes, const std::vector<std::string>& fields, const std::string& in) {
    for (const auto& [k, v] : changes.items) {
        const std::string name = k->name;
        if (!IsFieldKey(name) || v.AsString() == kNone || std::find(fields.begin(), fields.end(), v.AsString()) != fields.end())
            continue;
        std::string listed;
        for (const std::string& f : fields) listed += (listed.empty() ? "" : ", ") + QuotedValue(f);
        throw RecordEditError(name + "=" + QuotedValue(v.AsString()) + ": " + in + " has no field of that name (" +
                              (listed.empty() ? "it has none" : "it has " + listed) + "), nor is it " + Quoted(kNone));
    }
}

RecordEditOutcome ApplyRecordChanges(_CRVAnchorManager& manager, const ComPtr<LayoutElement>& element,
                                     const RecordChanges& changes) {
    const bool created = !manager.IsAnchorElement(element);
    if (created) manager.AddAnchorProperties(element, manager.MakeAnchorProperties());
    auto outer = element->CustomProperty().ObjectAs<PropertyBag>();
    auto family = outer ? outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>() : ComPtr<PropertyBag>();
    ComPtr<PropertyBag> record =
        family ? family->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>() : ComPtr<PropertyBag>();
    if (!record) return RecordEditOutcome::Reported;
    for (const auto& [k, v] : changes.items) record->SetProperty(k->name, v);
    if (!changes.can_anchor_given) {
        // Keep the stored summary true to the record, as the property page does on every save.
        try {
            record->SetProperty(key::CanAnchor, StoredCanAnchor(CBool(record->GetProperty(key::AnchorElement)),
                                                                CStr(record->GetProperty(key::AnchorType)),
                                                                CStr(record->GetProperty(key::ElementName))));
        } catch (const ComError&) {
            record->SetProperty(key::CanAnchor, false);
        }
    }
    return created ? RecordEditOutcome::Created : RecordEditOutcome::Changed;
}

std::string RecordCycleWarning(const ComPtr<LayoutElement>& element) {
    for (const auto& [e, cycle] : AnchorCycles(RunningApplication()->Document()->PageLayout())) {
        if (SameObject(e, element)) return CycleLine(e->Name(), cycle) + "; the book leaves it where it stands";
    }
    return "";
}

std::string RecordEditMessage(RecordEditOutcome outcome, const std::string& element, const RecordChanges& changes,
                              const std::string& saved) {
    const bool created = outcome == RecordEditOutcome::Created;
    std::string s = created ? "Gave \"" + element + "\" a default anchor record"
                            : "Changed the anchor record of \"" + element + "\"";
    if (!changes.items.empty()) {
        s += " with";
        for (const auto& [k, v] : changes.items) s += std::string(" ") + k->name + "=" + RecordValueText(v);
    }
    return s + (saved.empty() ? "" : "; saved " + saved) + "\n";
}

}  // namespace crv::commands
