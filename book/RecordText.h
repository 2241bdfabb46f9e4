#pragma once
// An anchor record as the tools show it: a value, and the whole record in one line.

#include "com/Variant.h"
#include "host/Data.h"

#include <string>

namespace crv::book {

// A name or a text in double quotes, as the record's lines show it (not cut: see QuotedValue).
std::string Quoted(const std::string& text);

// A record value as the tools show it: strings quoted, kinds without a text named.
std::string RecordValueText(const Variant& v);

// The record as one line. Each key is read on its own, so one value that does not convert
// shows as "?" in its place instead of hiding the rest.
std::string RecordSummary(const ComPtr<PropertyBag>& bag);

}  // namespace crv::book
