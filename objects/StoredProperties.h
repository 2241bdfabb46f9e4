#pragma once
// An element's custom value as a layout item's custom properties, so that records are saved
// with the project: one property per value, keyed "crvanchor/<bag>/.../<key>" (the path of
// nested bags down to the entry), valued "<kind>:<text>" with the kinds of the map-document
// format, so that kinds survive whatever the project file does to property types. An empty bag
// is the key of its path valued "bag:". Or, for a host that prefers one property, the compact
// form: the whole value as the one property "crvanchor", valued "json:" and a JSON object of the
// same texts, a bag an object of its entries in their order. Either form reads the same value.
// No Qt here: a map of texts either way.

#include "com/Variant.h"

#include <map>
#include <stdexcept>
#include <string>

namespace crv::objects {

inline constexpr const char* kRecordPrefix = "crvanchor";
// Bags inside bags below the prefix. Deeper keys are refused when read, so a record read from
// a project is never cut when written back.
inline constexpr int kMaxRecordNesting = 64;

// A stored key that no record can hold.
class RecordKeyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using StoredProperties = std::map<std::string, std::string>;

// "<kind>:<text>": empty, null, boolean (true/false), int16, int32, double (%.17g, or NaN,
// Infinity, -Infinity), string; objects other than bags are not stored ("" for them).
std::string EncodeValue(const Variant& value);
// The value of an encoded text; a text of no known kind is read back as that text, a string.
Variant DecodeValue(const std::string& text);

// Every property of the value (a bag of bags of values, or a plain value under the prefix).
StoredProperties FlattenCustomValue(const Variant& value);
// The value as its one compact property (a plain value is one property either way); none for
// an empty value.
StoredProperties CompactCustomValue(const Variant& value);
// The value again, from either form (the compact property first, when there is one): nested
// property bags in key order, or in the compact text's order; Empty when there is no property.
// Throws RecordKeyError for bags nested deeper than kMaxRecordNesting, or a compact text that
// does not read, naming where in it.
Variant UnflattenCustomValue(const StoredProperties& stored);

}  // namespace crv::objects
