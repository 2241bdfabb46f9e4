#include "book/RecordText.h"

#include "anchor/AnchorRecord.h"
#include "support/MessageText.h"

#include <array>
#include <set>
#include <string_view>

namespace crv::book {

using support::Fixed;

// Built by appending: prepending to a temporary string trips a false overlap warning of the
// optimiser.
std::string Quoted(const std::string& text) {
    std::string q;
    q += '"';
    q += text;
    q += '"';
    return q;
}

std::string RecordValueText(const Variant& v) {
    if (v.IsEmpty()) return "(missing)";
    if (v.IsNull()) return "Null";
    if (v.IsObject()) return "(object)";
    if (v.Type() == VariantType::Boolean) return v.AsBoolean() ? "true" : "false";
    if (v.Type() == VariantType::String) return "\"" + v.AsString() + "\"";
    return CStr(v, RegionalSettings::Invariant());
}

std::string RecordSummary(const ComPtr<PropertyBag>& bag) {
    AnchorRecord r;
    std::set<std::string_view> unreadable;
    const auto& keys = RecordKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        try {
            r.Read(bag, AnchorRecord::KeySet{1} << i);
        } catch (const ComError&) {
            unreadable.insert(keys[i].name);
        }
    }
    auto ok = [&](std::initializer_list<const char*> names) {
        for (const char* n : names) {
            if (unreadable.count(n) != 0) return false;
        }
        return true;
    };
    auto label = [](const char* name, int32_t code) {
        const char* l = FindRecordKey(name)->Label(code);
        return l != nullptr ? std::string(l) : "code " + std::to_string(code);
    };
    const std::string priority = ok({key::AnchorPriority}) ? label(key::AnchorPriority, r.AnchorPriority) : "?";
    const bool on = ok({key::AnchorElement}) && r.AnchorElement;
    const bool named = ok({key::AnchorType}) && r.AnchorType == kAnchorTypeNamedElement;
    const bool targetKnown = ok({key::AnchorType}) && (!named || ok({key::ElementName}));
    const std::string target = named ? Quoted(r.ElementName) : std::string("page");
    auto rule = [&](const AnchorRule& rs, const std::array<const char*, 8>& names) {
        for (const char* n : names) {
            if (!ok({n})) return std::string("?");
        }
        if (!targetKnown) return std::string("?");
        auto dist = [](double d, bool fromField, const std::string& field) {
            std::string s = Fixed(d, 3);
            if (fromField) s += " or field " + field;
            return s;
        };
        return label(names[0], rs.AnchorFrom) + " to " + label(names[1], rs.AnchorTo) + " of " + target + ", h " +
               dist(rs.HDistance, rs.HFromField, rs.HFieldName) + ", v " +
               dist(rs.VDistance, rs.VFromField, rs.VFieldName);
    };
    std::string s = priority + (on ? "" : " (off)") + ": " +
                    rule(r.All, {key::AnchorFromAll, key::AnchorToAll, key::HDistanceAll, key::HFromFieldAll,
                                 key::HFieldNameAll, key::VDistanceAll, key::VFromFieldAll, key::VFieldNameAll});
    if (ok({key::UseAltAnchoring}) && r.UseAltAnchoring) {
        std::string when = "?";
        if (ok({key::AltAnchorType})) {
            if (r.AltAnchorType != kAltPageRange)
                when = label(key::AltAnchorType, r.AltAnchorType);
            else if (ok({key::AltAnchorPageRange}))
                when = "pages " + r.AltAnchorPageRange;
        }
        s += "; on " + when + ": " +
             rule(r.Alt, {key::AnchorFromAlt, key::AnchorToAlt, key::HDistanceAlt, key::HFromFieldAlt,
                          key::HFieldNameAlt, key::VDistanceAlt, key::VFromFieldAlt, key::VFieldNameAlt});
    }
    return s;
}

}  // namespace crv::book
