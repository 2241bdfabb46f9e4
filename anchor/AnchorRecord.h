#pragma once
// The anchor record: the 25 keys, their kinds and defaults, and the codes the keys hold.

#include "com/Variant.h"

#include <array>
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

// How a reader converts a key's value.
enum class KeyKind { Boolean, Integer, Distance, String };

struct RecordKey {
    const char* name;
    KeyKind kind;
    Variant Default() const;

    // The default, in the kind the default record stores it.
    bool default_boolean = false;
    int16_t default_integer = 0;
    const char* default_string = "";
};

inline constexpr size_t kRecordKeyCount = 25;
// The keys in the order every writer writes them.
const std::array<RecordKey, kRecordKeyCount>& RecordKeys();

inline constexpr int16_t kRecordVersion = 1;

// Reference point codes 0..8: row = code div 3 (top, center, bottom), column = code mod 3
// (left, center, right).
inline constexpr std::array<const char*, 9> kPointLabels = {
    "Top Left",    "Top Center", "Top Right",     "Center Left", "Center",
    "Center Right", "Bottom Left", "Bottom Center", "Bottom Right"};
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

// The stored "CanAnchor" summary: anchored, and either not aimed at a named element or
// aimed at a chosen one.
bool StoredCanAnchor(bool anchorElement, std::string_view anchorType, std::string_view elementName);

}  // namespace crv
