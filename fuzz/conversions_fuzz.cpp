// Value conversions under several regional formats: no crash, no undefined behaviour, and
// what is read as a number writes back as text that reads as the same number.
#include "com/Variant.h"

#include <cmath>
#include <cstdint>
#include <string>

using namespace crv;

namespace {

RegionalSettings Settings(uint8_t which) {
    RegionalSettings rs;
    switch (which % 5) {
        case 1:
            rs.decimal_separator = ",";
            rs.group_separator = ".";
            break;
        case 2:
            rs.decimal_separator = ",";
            rs.group_separator = "\u202f";
            break;
        case 3:
            rs.grouping = {3, 2};
            rs.negative = RegionalSettings::NegativeStyle::Parentheses;
            break;
        case 4:
            rs.leading_zero = false;
            rs.grouping.clear();
            rs.group_separator = "'";
            break;
        default: break;
    }
    return rs;
}

template <class F>
void Tolerant(F&& f) {
    try {
        f();
    } catch (const ComError&) {}
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const RegionalSettings rs = Settings(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const Variant v(text);
    Tolerant([&] { CBool(v, rs); });
    Tolerant([&] { CInt(v, rs); });
    Tolerant([&] { CLng(v, rs); });
    Tolerant([&] { CStr(v, rs); });
    const auto parsed = ParseNumber(text, rs);
    if (parsed.has_value() != IsNumeric(text, rs) && parsed.has_value()) __builtin_trap();
    if (parsed) {
        const double d = *parsed;
        if (!std::isfinite(d)) __builtin_trap();
        // The general form keeps 15 significant digits; reading it back must land close.
        const auto back = ParseNumber(FormatGeneral(d, rs), rs);
        if (!back || std::fabs(*back - d) > std::fabs(d) * 1e-14 + 1e-300) __builtin_trap();
        const std::string fixed = FormatFixed(d, 2, rs);
        if (fixed.empty()) __builtin_trap();
        if (std::fabs(d) < 1e15 && !ParseNumber(fixed, rs)) __builtin_trap();
        Tolerant([&] { CInt(Variant(d), rs); });
        Tolerant([&] { CLng(Variant(d), rs); });
    }
    return 0;
}
