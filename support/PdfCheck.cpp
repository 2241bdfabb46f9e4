#include "support/PdfCheck.h"

#include <charconv>
#include <cstdint>
#include <algorithm>
#include <fstream>
#include <vector>

namespace crv::support {

namespace {

struct Unreadable {};

// The file a block at a time: what is kept in memory does not grow with the PDF, which may
// run to gigabytes. The objects a table lists lie mostly in the order of their offsets, so the
// block at hand is mostly the one wanted.
class Bytes {
public:
    explicit Bytes(const std::filesystem::path& path) : in_(path, std::ios::binary) {
        if (!in_ || !in_.seekg(0, std::ios::end)) throw Unreadable{};
        const std::streamoff size = in_.tellg();
        if (size < 0) throw Unreadable{};
        size_ = static_cast<uint64_t>(size);
    }
    uint64_t Size() const { return size_; }
    // The byte at `at`, which lies inside the file.
    char At(uint64_t at) {
        if (at < start_ || at >= start_ + block_.size()) Load(at);
        return block_[static_cast<size_t>(at - start_)];
    }

private:
    static constexpr uint64_t kBlock = 64 * 1024;
    void Load(uint64_t at) {
        start_ = at - at % kBlock;
        block_.resize(static_cast<size_t>(std::min(kBlock, size_ - start_)));
        in_.clear();
        if (!in_.seekg(static_cast<std::streamoff>(start_)) ||
            !in_.read(block_.data(), static_cast<std::streamsize>(block_.size())))
            throw Unreadable{};
    }

    std::ifstream in_;
    uint64_t size_ = 0;
    uint64_t start_ = 0;
    std::vector<char> block_;
};

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

uint64_t SkipSpace(Bytes& s, uint64_t at) {
    while (at < s.Size() && IsSpace(s.At(at))) ++at;
    return at;
}

// A whole number at `at`, with `at` moved past it.
std::optional<uint64_t> Number(Bytes& s, uint64_t& at) {
    std::string digits;
    for (uint64_t i = at; i < s.Size() && s.At(i) >= '0' && s.At(i) <= '9'; ++i) digits += s.At(i);
    uint64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end == digits.data()) return std::nullopt;
    at += static_cast<uint64_t>(end - digits.data());
    return n;
}

bool StartsAt(Bytes& s, uint64_t at, std::string_view word) {
    if (at > s.Size() || s.Size() - at < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (s.At(at + i) != word[i]) return false;
    }
    return true;
}

// Where the last `word` starts that starts at or before `before`; nothing when there is none.
std::optional<uint64_t> LastAt(Bytes& s, uint64_t before, std::string_view word) {
    if (s.Size() < word.size()) return std::nullopt;
    for (uint64_t at = std::min(before, s.Size() - word.size()) + 1; at-- > 0;) {
        if (StartsAt(s, at, word)) return at;
    }
    return std::nullopt;
}

std::optional<std::string> Defect(Bytes& s) {
    if (!StartsAt(s, 0, "%PDF-")) return "it does not start as a PDF does";
    // The end: "startxref", the table's offset, "%%EOF", perhaps a line break.
    uint64_t end = s.Size();
    while (end > 0 && IsSpace(s.At(end - 1))) --end;
    if (end < 5 || !StartsAt(s, end - 5, "%%EOF")) return "it is cut short (no end of file mark)";
    const auto startxref = LastAt(s, end, "startxref");
    if (!startxref) return "it is cut short (no cross-reference offset)";
    uint64_t at = SkipSpace(s, *startxref + 9);
    const auto offset = Number(s, at);
    if (!offset || *offset >= s.Size()) return "its cross-reference offset lies outside the file";
    at = *offset;
    if (!StartsAt(s, at, "xref")) {
        // A cross-reference stream: at least an object must start there.
        uint64_t obj = at;
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
            if (!objectAt || !generation || at >= s.Size()) return "its cross-reference table is damaged";
            const char kind = s.At(at++);
            if (kind == 'f') continue;
            if (kind != 'n') return "its cross-reference table is damaged";
            uint64_t o = *objectAt;
            const auto number = o < s.Size() ? Number(s, o) : std::nullopt;
            if (!number || *number != *first + i) return "object " + std::to_string(*first + i) + " is missing";
        }
    }
}

}  // namespace

std::optional<std::string> PdfDefect(const std::filesystem::path& path) {
    try {
        Bytes bytes(path);
        return Defect(bytes);
    } catch (const Unreadable&) {
        return "it cannot be read back";
    }
}

}  // namespace crv::support
