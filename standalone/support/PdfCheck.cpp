#include "standalone/support/PdfCheck.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace crv::standalone {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

size_t SkipSpace(const std::string& s, size_t at) {
    while (at < s.size() && IsSpace(s[at])) ++at;
    return at;
}

// A whole number at `at`, with `at` moved past it.
std::optional<uint64_t> Number(const std::string& s, size_t& at) {
    uint64_t n = 0;
    const auto [end, ec] = std::from_chars(s.data() + at, s.data() + s.size(), n);
    if (ec != std::errc() || end == s.data() + at) return std::nullopt;
    at = static_cast<size_t>(end - s.data());
    return n;
}

bool StartsAt(const std::string& s, size_t at, std::string_view word) { return s.compare(at, word.size(), word) == 0; }

}  // namespace

std::optional<std::string> PdfDefect(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "it cannot be read back";
    const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return "it cannot be read back";
    if (s.rfind("%PDF-", 0) != 0) return "it does not start as a PDF does";
    // The end: "startxref", the table's offset, "%%EOF", perhaps a line break.
    size_t end = s.size();
    while (end > 0 && IsSpace(s[end - 1])) --end;
    if (end < 5 || s.compare(end - 5, 5, "%%EOF") != 0) return "it is cut short (no end of file mark)";
    const size_t startxref = s.rfind("startxref", end);
    if (startxref == std::string::npos) return "it is cut short (no cross-reference offset)";
    size_t at = SkipSpace(s, startxref + 9);
    const auto offset = Number(s, at);
    if (!offset || *offset >= s.size()) return "its cross-reference offset lies outside the file";
    at = static_cast<size_t>(*offset);
    if (!StartsAt(s, at, "xref")) {
        // A cross-reference stream: at least an object must start there.
        size_t obj = at;
        if (!Number(s, obj)) return "its cross-reference offset points at nothing";
        return std::nullopt;
    }
    at += 4;
    // Sections of "first count" followed by count entries "offset generation n|f".
    while (true) {
        at = SkipSpace(s, at);
        if (StartsAt(s, at, "trailer")) return std::nullopt;
        const auto first = Number(s, at);
        at = SkipSpace(s, at);
        const auto count = Number(s, at);
        if (!first || !count) return "its cross-reference table is damaged";
        for (uint64_t i = 0; i < *count; ++i) {
            at = SkipSpace(s, at);
            const auto objectAt = Number(s, at);
            at = SkipSpace(s, at);
            const auto generation = Number(s, at);
            at = SkipSpace(s, at);
            if (!objectAt || !generation || at >= s.size()) return "its cross-reference table is damaged";
            const char kind = s[at++];
            if (kind == 'f') continue;
            if (kind != 'n') return "its cross-reference table is damaged";
            size_t o = static_cast<size_t>(*objectAt);
            const auto number = o < s.size() ? Number(s, o) : std::nullopt;
            if (!number || *number != *first + i) return "object " + std::to_string(*first + i) + " is missing";
        }
    }
}

}  // namespace crv::standalone
