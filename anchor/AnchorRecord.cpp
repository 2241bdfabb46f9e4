#include "anchor/AnchorRecord.h"

namespace crv {

Variant RecordKey::Default() const {
    switch (kind) {
        case KeyKind::Boolean: return Variant(default_boolean);
        case KeyKind::Integer: return Variant(default_integer);
        case KeyKind::Distance: return Variant(0.0);
        case KeyKind::String: return Variant(std::string(default_string));
    }
    return {};
}

const std::array<RecordKey, kRecordKeyCount>& RecordKeys() {
    using K = KeyKind;
    static const std::array<RecordKey, kRecordKeyCount> keys = {{
        {key::AnchorElement, K::Boolean},
        {key::AnchorType, K::String, false, 0, kAnchorTypeLayout},
        {key::ElementName, K::String, false, 0, kNone},
        {key::UseAltAnchoring, K::Boolean},
        {key::AltAnchorType, K::Integer, false, kAltEvenPages},
        {key::AltAnchorPageRange, K::String, false, 0, ""},
        {key::AnchorFromAll, K::Integer},
        {key::AnchorToAll, K::Integer},
        {key::HDistanceAll, K::Distance},
        {key::HFromFieldAll, K::Boolean},
        {key::HFieldNameAll, K::String, false, 0, kNone},
        {key::VDistanceAll, K::Distance},
        {key::VFromFieldAll, K::Boolean},
        {key::VFieldNameAll, K::String, false, 0, kNone},
        {key::AnchorFromAlt, K::Integer},
        {key::AnchorToAlt, K::Integer},
        {key::HDistanceAlt, K::Distance},
        {key::HFromFieldAlt, K::Boolean},
        {key::HFieldNameAlt, K::String, false, 0, kNone},
        {key::VDistanceAlt, K::Distance},
        {key::VFromFieldAlt, K::Boolean},
        {key::VFieldNameAlt, K::String, false, 0, kNone},
        {key::AnchorPriority, K::Integer, false, kPriorityMedium},
        {key::CanAnchor, K::Boolean},
        {key::Version, K::Integer, false, kRecordVersion},
    }};
    return keys;
}

bool StoredCanAnchor(bool anchorElement, std::string_view anchorType, std::string_view elementName) {
    return anchorElement && (anchorType != kAnchorTypeNamedElement || elementName != kNone);
}

}  // namespace crv
