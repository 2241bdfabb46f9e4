#include "anchor/AnchorRecord.h"

namespace crv {

namespace {

// One entry of the key table: the field it fills, how a reader converts it, and the kind a
// new record stores it in.
#define CRV_RECORD_KEY(NAME, KIND, LABELS, FIELD, CONVERT, STORED)                                         \
    RecordKey {                                                                                            \
        key::NAME, KeyKind::KIND, LABELS, [](AnchorRecord& r, const Variant& v) { r.FIELD = CONVERT(v); }, \
            [](const AnchorRecord& r) { return Variant(static_cast<STORED>(r.FIELD)); }                    \
    }

bool ReadBoolean(const Variant& v) { return CBool(v); }
int16_t ReadInteger(const Variant& v) { return CInt(v); }
int32_t ReadLong(const Variant& v) { return CLng(v); }
double ReadDistance(const Variant& v) { return CDbl(v); }
std::string ReadString(const Variant& v) { return CStr(v); }

constexpr std::span<const char* const> kNoLabels;
constexpr std::span<const char* const> kPoints(kPointLabels);
constexpr std::span<const char* const> kAltPages(kAltPageLabels);
constexpr std::span<const char* const> kPriorities(kPriorityLabels);

}  // namespace

const std::array<RecordKey, kRecordKeyCount>& RecordKeys() {
    static const std::array<RecordKey, kRecordKeyCount> keys = {{
        CRV_RECORD_KEY(AnchorElement, Boolean, kNoLabels, AnchorElement, ReadBoolean, bool),
        CRV_RECORD_KEY(AnchorType, String, kNoLabels, AnchorType, ReadString, std::string),
        CRV_RECORD_KEY(ElementName, String, kNoLabels, ElementName, ReadString, std::string),
        CRV_RECORD_KEY(UseAltAnchoring, Boolean, kNoLabels, UseAltAnchoring, ReadBoolean, bool),
        CRV_RECORD_KEY(AltAnchorType, Integer, kAltPages, AltAnchorType, ReadInteger, int16_t),
        CRV_RECORD_KEY(AltAnchorPageRange, String, kNoLabels, AltAnchorPageRange, ReadString, std::string),
        CRV_RECORD_KEY(AnchorFromAll, Integer, kPoints, All.AnchorFrom, ReadInteger, int16_t),
        CRV_RECORD_KEY(AnchorToAll, Integer, kPoints, All.AnchorTo, ReadInteger, int16_t),
        CRV_RECORD_KEY(HDistanceAll, Distance, kNoLabels, All.HDistance, ReadDistance, double),
        CRV_RECORD_KEY(HFromFieldAll, Boolean, kNoLabels, All.HFromField, ReadBoolean, bool),
        CRV_RECORD_KEY(HFieldNameAll, String, kNoLabels, All.HFieldName, ReadString, std::string),
        CRV_RECORD_KEY(VDistanceAll, Distance, kNoLabels, All.VDistance, ReadDistance, double),
        CRV_RECORD_KEY(VFromFieldAll, Boolean, kNoLabels, All.VFromField, ReadBoolean, bool),
        CRV_RECORD_KEY(VFieldNameAll, String, kNoLabels, All.VFieldName, ReadString, std::string),
        CRV_RECORD_KEY(AnchorFromAlt, Integer, kPoints, Alt.AnchorFrom, ReadInteger, int16_t),
        CRV_RECORD_KEY(AnchorToAlt, Integer, kPoints, Alt.AnchorTo, ReadInteger, int16_t),
        CRV_RECORD_KEY(HDistanceAlt, Distance, kNoLabels, Alt.HDistance, ReadDistance, double),
        CRV_RECORD_KEY(HFromFieldAlt, Boolean, kNoLabels, Alt.HFromField, ReadBoolean, bool),
        CRV_RECORD_KEY(HFieldNameAlt, String, kNoLabels, Alt.HFieldName, ReadString, std::string),
        CRV_RECORD_KEY(VDistanceAlt, Distance, kNoLabels, Alt.VDistance, ReadDistance, double),
        CRV_RECORD_KEY(VFromFieldAlt, Boolean, kNoLabels, Alt.VFromField, ReadBoolean, bool),
        CRV_RECORD_KEY(VFieldNameAlt, String, kNoLabels, Alt.VFieldName, ReadString, std::string),
        CRV_RECORD_KEY(AnchorPriority, Integer, kPriorities, AnchorPriority, ReadInteger, int16_t),
        CRV_RECORD_KEY(CanAnchor, Boolean, kNoLabels, CanAnchor, ReadBoolean, bool),
        // Read as a 32-bit number, written as the 16-bit one every writer writes.
        CRV_RECORD_KEY(Version, Integer, kNoLabels, Version, ReadLong, int16_t),
    }};
    return keys;
}

#undef CRV_RECORD_KEY

const char* RecordKey::Label(int32_t code) const {
    if (code < 0 || static_cast<size_t>(code) >= labels.size()) return nullptr;
    return labels[static_cast<size_t>(code)];
}

const RecordKey* FindRecordKey(std::string_view name) {
    for (const RecordKey& k : RecordKeys()) {
        if (name == k.name) return &k;
    }
    return nullptr;
}

AnchorRecord::KeySet Without(AnchorRecord::KeySet keys, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const RecordKey* k = FindRecordKey(name);
        if (k != nullptr) keys &= ~(AnchorRecord::KeySet{1} << static_cast<size_t>(k - RecordKeys().data()));
    }
    return keys;
}

void AnchorRecord::Read(const ComPtr<PropertyBag>& bag, KeySet keys) {
    const auto& table = RecordKeys();
    for (size_t i = 0; i < table.size(); ++i) {
        if ((keys & (KeySet{1} << i)) != 0) table[i].read(*this, bag->GetProperty(table[i].name));
    }
}

void AnchorRecord::Write(const ComPtr<PropertyBag>& bag) const {
    for (const RecordKey& k : RecordKeys()) bag->SetProperty(k.name, k.value(*this));
}

bool StoredCanAnchor(bool anchorElement, std::string_view anchorType, std::string_view elementName) {
    return anchorElement && (anchorType != kAnchorTypeNamedElement || elementName != kNone);
}

}  // namespace crv
