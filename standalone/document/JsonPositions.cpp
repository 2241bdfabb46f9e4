// Places in a JSON text, found by a scanner of our own: the parsed tree keeps no positions.
#include "standalone/document/JsonPositions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace crv::standalone {

std::pair<size_t, size_t> LineColumnAt(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

namespace {

struct Scanner {
    const std::string& t;
    size_t i = 0;

    void Ws() {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
    }
    bool StringToken(std::string* out) {
        if (i >= t.size() || t[i] != '"') return false;
        ++i;
        while (i < t.size() && t[i] != '"') {
            if (t[i] == '\\' && i + 1 < t.size()) {
                const char c = t[i + 1];
                i += 2;
                if (out == nullptr) continue;
                switch (c) {
                    case 'n': *out += '\n'; break;
                    case 't': *out += '\t'; break;
                    case 'r': *out += '\r'; break;
                    case 'b': *out += '\b'; break;
                    case 'f': *out += '\f'; break;
                    case 'u': AppendUtf8(*out, CodePoint()); break;
                    default: *out += c;
                }
                continue;
            }
            if (out != nullptr) *out += t[i];
            ++i;
        }
        if (i >= t.size()) return false;
        ++i;
        return true;
    }
    // The character of a \u escape whose backslash and u were just read, surrogate pairs joined.
    uint32_t CodePoint() {
        uint32_t cp = Hex4();
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < t.size() && t[i] == '\\' && t[i + 1] == 'u') {
            const size_t back = i;
            i += 2;
            const uint32_t low = Hex4();
            if (low >= 0xDC00 && low < 0xE000) return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i = back;
        }
        return cp;
    }
    uint32_t Hex4() {
        uint32_t v = 0;
        for (int k = 0; k < 4 && i < t.size(); ++k, ++i) {
            const char c = t[i];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return 0xFFFD;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        return v;
    }
    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool Skip() {
        Ws();
        if (i >= t.size()) return false;
        if (t[i] == '"') return StringToken(nullptr);
        if (t[i] == '{' || t[i] == '[') {
            const char close = t[i] == '{' ? '}' : ']';
            ++i;
            Ws();
            if (i < t.size() && t[i] == close) {
                ++i;
                return true;
            }
            while (i < t.size()) {
                if (close == '}') {
                    Ws();
                    if (!StringToken(nullptr)) return false;
                    Ws();
                    if (i >= t.size() || t[i] != ':') return false;
                    ++i;
                }
                if (!Skip()) return false;
                Ws();
                if (i < t.size() && t[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < t.size() && t[i] == close) {
                    ++i;
                    return true;
                }
                return false;
            }
            return false;
        }
        while (i < t.size() && std::strchr(",]} \t\r\n", t[i]) == nullptr) ++i;
        return true;
    }
};

std::vector<std::string> PointerTokens(const std::string& pointer) {
    std::vector<std::string> tokens;
    size_t at = 0;
    while (at < pointer.size()) {
        const size_t from = at + 1;
        size_t to = pointer.find('/', from);
        if (to == std::string::npos) to = pointer.size();
        std::string tok;
        for (size_t k = from; k < to; ++k) {
            if (pointer[k] == '~' && k + 1 < to) {
                tok += pointer[k + 1] == '1' ? '/' : '~';
                ++k;
            } else {
                tok += pointer[k];
            }
        }
        tokens.push_back(tok);
        at = to;
    }
    return tokens;
}

}  // namespace

std::string EscapePointerToken(const std::string& token) {
    std::string out;
    for (char c : token) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

JsonTextShape LookOverJson(const std::string& text, int max_nesting) {
    struct Open {
        bool object;
        std::set<std::string> keys;
    };
    JsonTextShape shape;
    std::vector<Open> open;
    Scanner s{text};
    bool keyNext = false;  // a string here is a key
    std::optional<std::pair<std::string, size_t>> key;  // read, waiting for its colon
    while (s.i < text.size()) {
        const char c = text[s.i];
        if (c == '"') {
            const size_t at = s.i;
            std::string k;
            const bool wanted = keyNext && !shape.repeated;
            if (!s.StringToken(wanted ? &k : nullptr)) break;  // unterminated: the parser tells
            if (wanted)
                key.emplace(std::move(k), at);
            else
                key.reset();
            keyNext = false;
            continue;
        }
        if (c == '{' || c == '[') {
            if (open.size() >= static_cast<size_t>(max_nesting)) {
                shape.too_deep = s.i;
                return shape;
            }
            open.push_back({c == '{', {}});
            keyNext = c == '{';
            key.reset();
        } else if (c == '}' || c == ']') {
            if (!open.empty()) open.pop_back();
            keyNext = false;
            key.reset();
        } else if (c == ':') {
            if (key && !open.empty() && open.back().object && !open.back().keys.insert(key->first).second) {
                shape.repeated = key->second;
                shape.repeated_key = key->first;
            }
            keyNext = false;
            key.reset();
        } else if (c == ',') {
            keyNext = !open.empty() && open.back().object;
            key.reset();
        } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            keyNext = false;
            key.reset();
        }
        ++s.i;
    }
    return shape;
}

std::optional<size_t> LocateJsonPointer(const std::string& text, const std::string& pointer) {
    Scanner s{text};
    s.Ws();
    for (const std::string& tok : PointerTokens(pointer)) {
        s.Ws();
        if (s.i >= text.size()) return std::nullopt;
        if (text[s.i] == '{') {
            ++s.i;
            bool found = false;
            while (true) {
                s.Ws();
                std::string key;
                if (!s.StringToken(&key)) return std::nullopt;
                s.Ws();
                if (s.i >= text.size() || text[s.i] != ':') return std::nullopt;
                ++s.i;
                s.Ws();
                if (key == tok) {
                    found = true;
                    break;
                }
                if (!s.Skip()) return std::nullopt;
                s.Ws();
                if (s.i < text.size() && text[s.i] == ',') {
                    ++s.i;
                    continue;
                }
                return std::nullopt;
            }
            if (!found) return std::nullopt;
        } else if (text[s.i] == '[') {
            size_t index = 0;
            try {
                index = std::stoul(tok);
            } catch (...) {
                return std::nullopt;
            }
            ++s.i;
            for (size_t k = 0; k < index; ++k) {
                if (!s.Skip()) return std::nullopt;
                s.Ws();
                if (s.i >= text.size() || text[s.i] != ',') return std::nullopt;
                ++s.i;
            }
            s.Ws();
        } else {
            return std::nullopt;
        }
    }
    s.Ws();
    return s.i;
}

}  // namespace crv::standalone
