#include "com/Guid.h"

#include "errors/ComError.h"

#include <cstdio>

namespace crv {
namespace {

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex(std::string_view s, size_t pos, size_t n, uint64_t& out) {
    out = 0;
    for (size_t i = 0; i < n; ++i) {
        const int h = Hex(s[pos + i]);
        if (h < 0) return false;
        out = (out << 4) | static_cast<uint64_t>(h);
    }
    return true;
}

}  // namespace

std::string Guid::ToString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3, data4[0],
                  data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return buf;
}

std::optional<Guid> Guid::Parse(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    const std::string_view s = text.substr(1, 36);
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return std::nullopt;
    Guid g;
    uint64_t v = 0;
    if (!ReadHex(s, 0, 8, v)) return std::nullopt;
    g.data1 = static_cast<uint32_t>(v);
    if (!ReadHex(s, 9, 4, v)) return std::nullopt;
    g.data2 = static_cast<uint16_t>(v);
    if (!ReadHex(s, 14, 4, v)) return std::nullopt;
    g.data3 = static_cast<uint16_t>(v);
    const size_t offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (size_t i = 0; i < 8; ++i) {
        if (!ReadHex(s, offsets[i], 2, v)) return std::nullopt;
        g.data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

Guid Guid::FromString(std::string_view text) {
    if (auto g = Parse(text)) return *g;
    Raise(hresult::kInvalidArg, "CRVAnchor", "Not a GUID: " + std::string(text));
}

size_t GuidHash::operator()(const Guid& g) const noexcept {
    uint64_t h = (uint64_t{g.data1} << 32) ^ (uint64_t{g.data2} << 16) ^ g.data3;
    for (uint8_t b : g.data4) h = h * 1099511628211ULL ^ b;
    return static_cast<size_t>(h);
}

}  // namespace crv
