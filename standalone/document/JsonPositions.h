#pragma once
// Places in a JSON text: the line and column of an offset, where a pointer's value stands, and
// a look over the text's shape before a parser builds anything from it.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace crv::standalone {

// Line and column (both from 1) of a byte offset in a text.
std::pair<size_t, size_t> LineColumnAt(const std::string& text, size_t offset);

// Byte offset of the value a JSON pointer names in a JSON text, if it is there.
std::optional<size_t> LocateJsonPointer(const std::string& text, const std::string& pointer);

// A member name as one token of a JSON pointer.
std::string EscapePointerToken(const std::string& token);

// What a look over a document's text finds before the parser builds anything from it.
struct JsonTextShape {
    std::optional<size_t> too_deep;  // where the nesting passes the limit
    std::optional<size_t> repeated;  // where an object's key repeats an earlier one of it
    std::string repeated_key;
};

// Counts brackets outside strings, since the parser and everything after it go as deep as the
// text does, and notes the first key an object holds twice, of which the parser would keep one.
JsonTextShape LookOverJson(const std::string& text, int max_nesting);

}  // namespace crv::standalone
