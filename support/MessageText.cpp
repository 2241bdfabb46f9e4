#include "support/MessageText.h"

#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace crv::support {

namespace {

// Length of the well-formed UTF-8 sequence at `at`, or 0 when the byte there starts none.
std::size_t SequenceLength(std::string_view s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(at);
    if (b0 < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t min = 0;
    std::uint32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
        cp = b0 & 0x1Fu;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
        cp = b0 & 0x0Fu;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
        cp = b0 & 0x07u;
    } else
        return 0;
    if (at + n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        const unsigned char b = byte(at + i);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void AppendHex(std::string& out, unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(b));
    out += buf;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceLength(text, at);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string QuotedValue(std::string_view text, std::size_t limit) {
    std::string out = "\"";
    std::size_t shown = 0;
    std::size_t at = 0;
    while (at < text.size() && shown < limit) {
        const unsigned char b = static_cast<unsigned char>(text[at]);
        const std::size_t n = SequenceLength(text, at);
        if (n == 0) {
            AppendHex(out, b);
            at += 1;
        } else if (n == 2 && b == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            // C1 controls: some terminals act on them as on escape sequences.
            char buf[12];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(static_cast<unsigned char>(text[at + 1])));
            out += buf;
            at += 2;
        } else if (n > 1) {
            out.append(text.substr(at, n));
            at += n;
        } else if (b == '\n') {
            out += "\\n";
            at += 1;
        } else if (b == '\t') {
            out += "\\t";
            at += 1;
        } else if (b == '\r') {
            out += "\\r";
            at += 1;
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
            at += 1;
        } else if (b < 0x20 || b == 0x7F) {
            AppendHex(out, b);
            at += 1;
        } else {
            out += static_cast<char>(b);
            at += 1;
        }
        ++shown;
    }
    out += '"';
    if (at < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string PlainOrQuoted(std::string_view text, std::size_t limit) {
    std::string quoted = QuotedValue(text, limit);
    return quoted.size() == text.size() + 2 ? std::string(text) : quoted;
}

std::string Fixed(double v, int decimals) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

}  // namespace crv::support
