#pragma once
// The anchor record: the 25 keys, their kinds and defaults, and the codes the keys hold.

#include "com/Variant.h"
#include "host/HostClasses.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace crv {

// Where a record lives: element custom property -> family bag -> record.
inline constexpr const char* kCorvaneProperties = "CorvaneProperties";
inline constexpr const char* kAnchorProperties = "AnchorProperties";

// No element or field chosen.
inline constexpr const char* kNone = "<None>";

inline constexpr const char* kAnchorTypeLayout = "Layout";
inline constexpr const char* kAnchorTypeNamedElement = "NamedElement";

namespace key {
inline constexpr const char* AnchorElement = "AnchorElement";
inline constexpr const char* AnchorType = "AnchorType";
inline constexpr const char* ElementName = "ElementName";
inline constexpr const char* UseAltAnchoring = "UseAltAnchoring";
inline constexpr const char* AltAnchorType = "AltAnchorType";
inline constexpr const char* AltAnchorPageRange = "AltAnchorPageRange";
inline constexpr const char* AnchorFromAll = "AnchorFromAll";
inline constexpr const char* AnchorToAll = "AnchorToAll";
inline constexpr const char* HDistanceAll = "HDistanceAll";
inline constexpr const char* HFromFieldAll = "HFromFieldAll";
inline constexpr const char* HFieldNameAll = "HFieldNameAll";
inline constexpr const char* VDistanceAll = "VDistanceAll";
inline constexpr const char* VFromFieldAll = "VFromFieldAll";
inline constexpr const char* VFieldNameAll = "VFieldNameAll";
inline constexpr const char* AnchorFromAlt = "AnchorFromAlt";
inline constexpr const char* AnchorToAlt = "AnchorToAlt";
inline constexpr const char* HDistanceAlt = "HDistanceAlt";
inline constexpr const char* HFromFieldAlt = "HFromFieldAlt";
inline constexpr const char* HFieldNameAlt = "HFieldNameAlt";
inline constexpr const char* VDistanceAlt = "VDistanceAlt";
inline constexpr const char* VFromFieldAlt = "VFromFieldAlt";
inline constexpr const char* VFieldNameAlt = "VFieldNameAlt";
inline constexpr const char* AnchorPriority = "AnchorPriority";
inline constexpr const char* CanAnchor = "CanAnchor";
inline constexpr const char* Version = "Version";
}  // namespace key

inline constexpr int16_t kRecordVersion = 1;

// Reference point codes 0..8: row = code div 3 (top, center, bottom), column = code mod 3
// (left, center, right).
inline constexpr std::array<const char*, 9> kPointLabels = {"Top Left",    "Top Center",    "Top Right",
                                                            "Center Left", "Center",        "Center Right",
                                                            "Bottom Left", "Bottom Center", "Bottom Right"};
inline constexpr bool IsPointCode(int32_t code) { return code >= 0 && code <= 8; }
inline constexpr int32_t PointRow(int32_t code) { return code / 3; }
inline constexpr int32_t PointColumn(int32_t code) { return code % 3; }

// Which pages take the alternate rule.
inline constexpr int16_t kAltEvenPages = 0;
inline constexpr int16_t kAltOddPages = 1;
inline constexpr int16_t kAltPageRange = 2;
inline constexpr std::array<const char*, 3> kAltPageLabels = {"Even Pages", "Odd Pages", "Page Range"};

inline constexpr int16_t kPriorityLow = 0;
inline constexpr int16_t kPriorityMedium = 1;
inline constexpr int16_t kPriorityHigh = 2;
inline constexpr std::array<const char*, 3> kPriorityLabels = {"LOW", "MEDIUM", "HIGH"};

// One rule set: the keys ending in "All" (primary) or in "Alt" (alternate).
struct AnchorRule {
    int16_t AnchorFrom = 0;
    int16_t AnchorTo = 0;
    double HDistance = 0;
    bool HFromField = false;
    std::string HFieldName = kNone;
    double VDistance = 0;
    bool VFromField = false;
    std::string VFieldName = kNone;

    bool AnyFromField() const { return HFromField || VFromField; }
};

// The record's values, converted to their kinds. A default-constructed record holds the
// defaults of a new record.
struct AnchorRecord {
    bool AnchorElement = false;
    std::string AnchorType = kAnchorTypeLayout;
    std::string ElementName = kNone;
    bool UseAltAnchoring = false;
    int16_t AltAnchorType = kAltEvenPages;
    std::string AltAnchorPageRange;
    AnchorRule All;
    AnchorRule Alt;
    int16_t AnchorPriority = kPriorityMedium;
    bool CanAnchor = false;
    int32_t Version = kRecordVersion;

    // A set of keys, one bit per position in RecordKeys().
    using KeySet = uint32_t;

    // Gets each key of `keys` from the bag, in the table's order, and converts it as every
    // reader does (a distance text in the user's number format included). The first value
    // that cannot be got or converted raises; the keys before it keep their new values.
    void Read(const ComPtr<PropertyBag>& bag, KeySet keys);
    // Sets every key in the table's order, each in the kind a new record stores it.
    void Write(const ComPtr<PropertyBag>& bag) const;
};

// Whether the alternate rule set governs the page the engine tests as `page` (the page's
// number, or its position in the map series when the distances come from fields, moved by
// the section's first page when a section template is in force). `isOdd(page)` and
// `inPageRange(page)` answer for the odd/even and page-range kinds; they may raise.
template <class IsOdd, class InPageRange>
bool UsesAlternateRule(const AnchorRecord& r, int32_t page, IsOdd&& isOdd, InPageRange&& inPageRange) {
    if (!r.UseAltAnchoring) return false;
    switch (r.AltAnchorType) {
        case kAltEvenPages: return !isOdd(page);
        case kAltOddPages: return isOdd(page);
        case kAltPageRange: return inPageRange(page);
        default: return false;
    }
}

// How a key's value is converted on reading and stored by a new record.
enum class KeyKind { Boolean, Integer, Distance, String };

struct RecordKey {
    const char* name;
    KeyKind kind;
    // For code keys, the label of each code in code order; empty for the others.
    std::span<const char* const> labels;
    // Converts a stored value into the record's field (raising when it does not convert).
    void (*read)(AnchorRecord&, const Variant&);
    // The record's field as a new record stores it.
    Variant (*value)(const AnchorRecord&);

    Variant Default() const { return value(AnchorRecord{}); }
    // The label of a code, or nothing for a key without labels or a code outside them.
    const char* Label(int32_t code) const;
};

inline constexpr size_t kRecordKeyCount = 25;
// The keys in the order every writer writes them.
const std::array<RecordKey, kRecordKeyCount>& RecordKeys();
// The key of that name (exact comparison), or nullptr.
const RecordKey* FindRecordKey(std::string_view name);

inline constexpr AnchorRecord::KeySet kEveryKey = (AnchorRecord::KeySet{1} << kRecordKeyCount) - 1;
// `keys` without the named ones.
AnchorRecord::KeySet Without(AnchorRecord::KeySet keys, std::initializer_list<const char*> names);

// The stored "CanAnchor" summary: anchored, and either not aimed at a named element or
// aimed at a chosen one.
bool StoredCanAnchor(bool anchorElement, std::string_view anchorType, std::string_view elementName);

}  // namespace crv
