#pragma once
// Values taken from documents, data and command lines, made safe to show in a one-line message.

#include <cstddef>
#include <string>
#include <string_view>

namespace crv::support {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` in double quotes, fit for one line on a terminal: control characters and bytes that are
// not UTF-8 written as escapes (\n, \t, \x1B, \xFF), a quote or backslash escaped, and the value
// cut after `limit` characters with "..." and its full length in bytes.
std::string QuotedValue(std::string_view text, std::size_t limit = 60);

// `text` as it stands when it is one plain line (a file name, a message from a library), else
// as QuotedValue shows it.
std::string PlainOrQuoted(std::string_view text, std::size_t limit = 300);

// A number with a fixed count of decimals, as the summaries show it: "2.500".
std::string Fixed(double v, int decimals);

}  // namespace crv::support
