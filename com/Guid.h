#pragma once
// Globally unique identifiers of classes and interfaces, in registry text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include <array>
#include <bit>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace crv {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // Asked on every object creation and interface query: compared as two words, not byte
    // by byte.
    friend constexpr bool operator==(const Guid& a, const Guid& b) {
        return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
               std::bit_cast<uint64_t>(a.data4) == std::bit_cast<uint64_t>(b.data4);
    }
    friend constexpr auto operator<=>(const Guid&, const Guid&) = default;

    std::string ToString() const;
    static std::optional<Guid> Parse(std::string_view text);
    // Throws ComError for text that is not a GUID.
    static Guid FromString(std::string_view text);
};

struct GuidHash {
    size_t operator()(const Guid& g) const noexcept;
};

namespace detail {
constexpr uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    throw "invalid hex digit in GUID literal";
}
constexpr uint64_t HexRun(const char* s, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 4) | HexValue(s[i]);
    return v;
}
}  // namespace detail

// Compile-time GUID from "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (no braces).
consteval Guid MakeGuid(const char (&s)[37]) {
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID literal";
    Guid g;
    g.data1 = static_cast<uint32_t>(detail::HexRun(s, 8));
    g.data2 = static_cast<uint16_t>(detail::HexRun(s + 9, 4));
    g.data3 = static_cast<uint16_t>(detail::HexRun(s + 14, 4));
    g.data4[0] = static_cast<uint8_t>(detail::HexRun(s + 19, 2));
    g.data4[1] = static_cast<uint8_t>(detail::HexRun(s + 21, 2));
    for (int i = 0; i < 6; ++i)
        g.data4[static_cast<size_t>(2 + i)] = static_cast<uint8_t>(detail::HexRun(s + 24 + 2 * i, 2));
    return g;
}

}  // namespace crv
