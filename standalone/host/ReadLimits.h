#pragma once
// What a layout read from a file may hold, and the words that refuse the rest: the map
// document's reader and writer and the Windows test host's snapshot reader keep to the same
// rules, so a file one of them refuses is refused by all with the same reason. Walking groups
// and property bags recurses: their depth is what keeps a hostile file from the stack.

#include <cstdint>
#include <string>

namespace crv::standalone {

inline constexpr int kMaxGroupNesting = 64;  // groups inside one another
inline constexpr int kMaxBagNesting = 64;  // property bags inside one another

inline std::string GroupsTooDeep() { return "groups nested more than " + std::to_string(kMaxGroupNesting) + " deep"; }
inline std::string BagsTooDeep() { return "property bags nested too deeply"; }

// What a reader found where it expected another kind of value, for "expected ..., found ...";
// over any JSON tree type, so that the host itself reads no JSON.
template <class Json>
const char* FoundKind(const Json& j) {
    if (j.is_null()) return "null";
    if (j.is_object()) return "an object";
    if (j.is_array()) return "an array";
    if (j.is_string()) return "a string";
    if (j.is_boolean()) return "a boolean";
    if (j.is_number()) return "a number";
    return "an unusable value";
}

// A tagged value (documents and snapshots tag them alike) of a kind there is none of, before the
// kind found; a double's text that names no number JSON lacks.
inline std::string ValueKindExpected() {
    return R"(expected one of "empty", "null", "boolean", "int16", "int32", "double", "string", "bag"; found )";
}
inline std::string DoubleExpected() { return R"(expected a number, "NaN", "Infinity" or "-Infinity")"; }

// The start of the refusal of a number that is no whole number from lo to hi, before ", found ...".
inline std::string WholeNumberExpected(int64_t lo, int64_t hi) {
    return "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

}  // namespace crv::standalone
