#pragma once
// The user's regional number format: how numbers are read from and written as text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crv {

struct RegionalSettings {
    enum class NegativeStyle { Minus, Parentheses };

    std::string decimal_separator = ".";
    std::string group_separator = ",";
    // Group sizes from the decimal separator leftwards; the last size repeats. {3} is
    // 1,234,567; {3, 2} is 12,34,567; empty means no grouping.
    std::vector<int> grouping = {3};
    bool leading_zero = true;
    NegativeStyle negative = NegativeStyle::Minus;

    // The settings of a POSIX locale name ("" for the user's environment: LC_ALL,
    // LC_NUMERIC, LANG). Returns nullopt when the locale is not available.
    static std::optional<RegionalSettings> FromLocale(const std::string& name);
    static RegionalSettings Invariant() { return {}; }

    // The settings conversions use; initialised from the user's environment on first use.
    static const RegionalSettings& Current();
    static void SetCurrent(const RegionalSettings& settings);
};

// Installs regional settings for the lifetime of the guard.
class ScopedRegionalSettings {
public:
    explicit ScopedRegionalSettings(const RegionalSettings& settings);
    ~ScopedRegionalSettings();
    ScopedRegionalSettings(const ScopedRegionalSettings&) = delete;
    ScopedRegionalSettings& operator=(const ScopedRegionalSettings&) = delete;

private:
    RegionalSettings previous_;
};

// Reads a numeric text in the given format: blanks around it, an optional sign (or the
// whole number in parentheses), digits with group separators, an optional decimal
// separator and fraction, an optional exponent. nullopt when the text is not a number or
// its value is beyond the range of a double.
std::optional<double> ParseNumber(std::string_view text, const RegionalSettings& rs);
bool IsNumeric(std::string_view text, const RegionalSettings& rs);
// The plain form of a number: an optional sign, digits, an optional decimal separator and
// fraction, an optional exponent; no blanks, parentheses or group separators.
bool IsPlainNumber(std::string_view text, const RegionalSettings& rs);
// The number a plain numeric text writes, rounded to the nearest whole number, halves to the
// even neighbour, from its decimal digits as written: no double in between, which would make
// 0.50000000000000001 a half. Nothing when the text is not a plain number or the whole number
// would reach 10^18.
std::optional<int64_t> RoundPlainNumber(std::string_view text, const RegionalSettings& rs);

// The general form: at most 15 significant digits, no trailing zeros, no grouping, the
// regional decimal separator, a leading minus: 12.5, -1.5, 0, 1E+20.
std::string FormatGeneral(double value, const RegionalSettings& rs);

// The fixed form with exactly `decimals` decimals, grouping, the leading-zero rule and the
// negative style: 1,234.57, 0.50 (or .50), -2.50 (or (2.50)).
std::string FormatFixed(double value, int decimals, const RegionalSettings& rs);

}  // namespace crv
