// A map document's text: read from its file, refusing what is no regular file or too large, and
// parsed into a tree that keeps every number as written.
#include "standalone/document/DocumentInternal.h"

#include "standalone/document/JsonPositions.h"
#include "support/MessageText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace crv::standalone::document_internal {

namespace {

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxDocumentBytes >> 20) + " MiB, the most a document may hold";
}

// What a file that is not a regular one is, for the message that refuses it.
const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// The parse error's own text after its "line L, column C: " prefix, with the text it last read
// quoted and cut: that is the document's, and may hold anything.
std::string ParseMessage(const std::string& what) {
    std::string message = what;
    const std::string marker = "column ";
    size_t at = what.find(marker);
    if (at != std::string::npos) at = what.find(": ", at);
    if (at != std::string::npos) {
        message = what.substr(at + 2);
    } else if (at = what.find("] "); at != std::string::npos) {
        message = what.substr(at + 2);
    }
    const std::string lastRead = "; last read: '";
    const size_t read = message.find(lastRead);
    if (read == std::string::npos) return message;
    const size_t from = read + lastRead.size();
    const size_t whole = message.size() - (message.back() == '\'' ? 1 : 0);
    size_t to = message.rfind("'; expected ");
    if (to == std::string::npos || to < from) to = whole;
    std::string rest = to < message.size() ? message.substr(to + 1) : std::string();
    // The parser's expectation is a few printable words; text that only looks like one came
    // from the document itself, and is the last read's to quote and cut.
    const bool printable = std::all_of(rest.begin(), rest.end(), [](char c) { return c >= ' ' && c <= '~'; });
    if (rest.size() > 120 || !printable) {
        to = whole;
        rest.clear();
    }
    return message.substr(0, read) + "; last read: " + QuotedValue(message.substr(from, to - from)) + rest;
}

// Sign, significant digits and exponent of a JSON number's text, so that texts that name the
// same number ("1.50", "15e-1", "1.5") compare equal.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading or trailing zeros; empty for zero
    int64_t exponent = 0;
    bool operator==(const Decimal&) const = default;
};

Decimal DecimalOf(std::string_view s) {
    Decimal d;
    size_t i = 0;
    if (i < s.size() && s[i] == '-') {
        d.negative = true;
        ++i;
    }
    bool fraction = false;
    for (; i < s.size() && s[i] != 'e' && s[i] != 'E'; ++i) {
        if (s[i] == '.') {
            fraction = true;
            continue;
        }
        d.digits += s[i];
        if (fraction) --d.exponent;
    }
    if (i < s.size()) {
        ++i;
        bool minus = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
        int64_t e = 0;
        for (; i < s.size(); ++i) e = std::min<int64_t>(e * 10 + (s[i] - '0'), int64_t{1} << 40);
        d.exponent += minus ? -e : e;
    }
    const size_t first = d.digits.find_first_not_of('0');
    if (first == std::string::npos) return {d.negative, {}, 0};
    d.digits.erase(0, first);
    while (d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exponent;
    }
    return d;
}

// Builds the document's tree as the parser reads it. A number that a double cannot hold as
// written stays its text, so that a member this version does not use goes back out unchanged.
class DomBuilder {
public:
    explicit DomBuilder(json& root) : dom_(root) {}

    bool null() { return dom_.null(); }
    bool boolean(bool v) { return dom_.boolean(v); }
    bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
    bool number_float(json::number_float_t v, const std::string& text) {
        if (DecimalOf(text) == DecimalOf(json(v).dump())) return dom_.number_float(v, text);
        json::binary_t raw(std::vector<std::uint8_t>(text.begin(), text.end()), kRawNumber);
        return dom_.binary(raw);
    }
    bool string(std::string& v) { return dom_.string(v); }
    bool binary(json::binary_t& v) { return dom_.binary(v); }
    bool start_object(size_t n) { return dom_.start_object(n); }
    bool key(std::string& k) { return dom_.key(k); }
    bool end_object() { return dom_.end_object(); }
    bool start_array(size_t n) { return dom_.start_array(n); }
    bool end_array() { return dom_.end_array(); }
    template <class Exception>
    bool parse_error(size_t position, const std::string& token, const Exception& e) {
        error_at = position;
        error_token = token;
        return dom_.parse_error(position, token, e);
    }

    size_t error_at = 0;  // bytes read when the parser gave up
    std::string error_token;

private:
    nlohmann::detail::json_sax_dom_parser<json> dom_;
};

}  // namespace

// A number's text in a message: numbers hold no unsafe characters, but may be long.
std::string NumberShown(const std::string& text) {
    if (text.size() <= 40) return text;
    return text.substr(0, 40) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string ReadDocumentFile(const fs::path& path) {
    const std::string name = FileName(path);
    const auto fail = [&](const std::string& why) { throw DocumentError(name + ": " + why); };
    // A pipe or a device would block the open or never end: look before opening.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(std::string("cannot open: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail(std::string(FileKind(st.st_mode)) + ", not a document file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail(std::string("cannot open: ") + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // Replaced by something else between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail(std::string(FileKind(st.st_mode)) + ", not a document file");
    const std::string tooLarge = TooLarge();
    if (static_cast<uint64_t>(st.st_size) > kMaxDocumentBytes) fail(tooLarge);
    std::string text;
    text.resize(static_cast<size_t>(st.st_size));
    size_t have = 0;
    while (true) {
        // A file that grows while read is read up to the limit and one byte more.
        if (have == text.size()) {
            if (have > kMaxDocumentBytes) fail(tooLarge);
            text.resize(std::min(kMaxDocumentBytes + 1, std::max<size_t>(have * 2, 4096)));
        }
        const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(std::string("cannot read: ") + std::strerror(errno));
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    if (have > kMaxDocumentBytes) fail(tooLarge);
    text.resize(have);
    return text;
}

json ParseDocumentText(const std::string& text, const std::string& name) {
    if (text.size() > kMaxDocumentBytes) {
        throw DocumentError(name + ": " + TooLarge());
    }
    const auto located = [&](size_t offset, const std::string& message) {
        const auto [line, column] = LineColumnAt(text, offset);
        return DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message);
    };
    const JsonTextShape shape = LookOverJson(text, kMaxJsonNesting);
    if (shape.too_deep) {
        throw located(*shape.too_deep,
                      "arrays and objects nested more than " + std::to_string(kMaxJsonNesting) + " deep");
    }
    json root;
    DomBuilder builder(root);
    try {
        json::sax_parse(text, &builder);
    } catch (const json::out_of_range&) {
        // A number beyond the range of a double; the parser stopped right after it.
        const size_t at = builder.error_at - std::min(builder.error_at, builder.error_token.size());
        throw located(at, "number out of range: " + NumberShown(builder.error_token));
    } catch (const json::exception& e) {
        throw located(builder.error_at > 0 ? builder.error_at - 1 : 0, ParseMessage(e.what()));
    }
    if (shape.repeated)
        throw located(*shape.repeated, "duplicate key " + QuotedValue(shape.repeated_key) + " in an object");

    return root;
}

}  // namespace crv::standalone::document_internal
