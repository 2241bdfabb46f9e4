#include "com/Regional.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <optional>
#include <random>
#include <string>
#include <thread>

namespace crv {
namespace {

using Negative = RegionalSettings::NegativeStyle;
constexpr std::nullopt_t kNone = std::nullopt;
constexpr double kInf = std::numeric_limits<double>::infinity();

RegionalSettings Make(const char* dec, const char* group, std::vector<int> grouping = {3},
                      bool leading_zero = true, Negative negative = Negative::Minus) {
    return {dec, group, std::move(grouping), leading_zero, negative};
}
const RegionalSettings kPoint = RegionalSettings::Invariant();
const RegionalSettings kComma = Make(",", ".");
const RegionalSettings kNarrow = Make(",", "\u202F");  // narrow no-break space groups
const RegionalSettings kNoBreak = Make(",", "\u00A0");
const RegionalSettings kQuote = Make(".", "'");
const RegionalSettings kArabic = Make("\u066B", "\u066C");  // both multi-byte
const RegionalSettings kIndian = Make(".", ",", {3, 2});

bool HasLocale(const char* name) {
    locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (loc != static_cast<locale_t>(nullptr)) freelocale(loc);
    return loc != static_cast<locale_t>(nullptr);
}

TEST(ParseNumber, ReadsNumbersAndRejectsEverythingElse) {
    const struct {
        std::string text;
        const RegionalSettings& rs;
        std::optional<double> expected;
    } cases[] = {
        {"12.50", kPoint, 12.5}, {"0.1", kPoint, 0.1}, {" 42 ", kPoint, 42}, {"\t-3\t", kPoint, -3},
        {"+7", kPoint, 7}, {"000123", kPoint, 123}, {".5", kPoint, 0.5}, {"5.", kPoint, 5},
        {"1,234,567.25", kPoint, 1234567.25}, {"1,2", kPoint, 12},  // sizes are not checked
        {"1e3", kPoint, 1000}, {"1.5E-2", kPoint, 0.015}, {"2e+2", kPoint, 200},
        {"(5)", kPoint, -5}, {" ( 1,234.5 ) ", kPoint, -1234.5},
        // Not numbers.
        {"", kPoint, kNone}, {" \t ", kPoint, kNone}, {"abc", kPoint, kNone}, {"12abc", kPoint, kNone},
        {".", kPoint, kNone}, {"-", kPoint, kNone}, {"+-1", kPoint, kNone}, {"1-", kPoint, kNone},
        {"- 1", kPoint, kNone}, {"1.2.3", kPoint, kNone}, {"1e", kPoint, kNone}, {"1e+", kPoint, kNone},
        {"e5", kPoint, kNone}, {"1e3.5", kPoint, kNone}, {"0x10", kPoint, kNone}, {"1,", kPoint, kNone},
        {",1", kPoint, kNone}, {"1,,2", kPoint, kNone}, {"1,.5", kPoint, kNone},
        {"1.5,0", kPoint, kNone}, {"1 2", kPoint, kNone}, {"(5", kPoint, kNone}, {"5)", kPoint, kNone},
        {"()", kPoint, kNone}, {"(-5)", kPoint, kNone}, {"-(5)", kPoint, kNone},
        {"Infinity", kPoint, kNone}, {"NaN", kPoint, kNone}, {"1\n", kPoint, kNone},
        {"\xEF\xBC\x91", kPoint, kNone},  // fullwidth one
        // Decimal comma; '.' then groups, so "12.50" reads 1250 as the platform does.
        {"12,50", kComma, 12.5}, {"12.50", kComma, 1250}, {"1.234.567,89", kComma, 1234567.89},
        {"(0,5e1)", kComma, -5}, {"1,2,3", kComma, kNone}, {"1.", kComma, kNone},
        {"1 234", kComma, kNone},
        // Multi-byte separators; where groups are spaced, a plain space is typed too.
        {"1\u202F234,5", kNarrow, 1234.5}, {"1 234 567,5", kNarrow, 1234567.5},
        {"1\u00A0234", kNarrow, 1234}, {" -1 234 ", kNoBreak, -1234}, {"1 ,5", kNarrow, kNone},
        {"1  234", kNarrow, kNone}, {"1\xE2\x80", kNarrow, kNone}, {"1'234.5", kQuote, 1234.5},
        {"1\u066C234\u066B5", kArabic, 1234.5}, {"3.14", kArabic, kNone}, {"3\xD9", kArabic, kNone},
        // Range.
        {"1e400", kPoint, kNone}, {"-1e400", kPoint, kNone}, {"1.8e308", kPoint, kNone},
        {"1.7976931348623157e308", kPoint, std::numeric_limits<double>::max()},
        {"4.9e-324", kPoint, std::numeric_limits<double>::denorm_min()},
        {"1e-400", kPoint, 0}, {"1e99999999999999999999999", kPoint, kNone},
        {"1e-99999999999999999999999", kPoint, 0}, {"0e99999999999999999999999", kPoint, 0},
        {"0.000000000000000000000000000001e30", kPoint, 1},
        {"1" + std::string(400, '0'), kPoint, kNone},
        {"1" + std::string(1000, '0') + "e-1000", kPoint, 1},
        {"0." + std::string(1000, '0') + "1e1001", kPoint, 1},
    };
    for (const auto& c : cases) {
        const std::optional<double> got = ParseNumber(c.text, c.rs);
        EXPECT_EQ(got, c.expected) << '"' << c.text << '"';
        if (got) {
            EXPECT_TRUE(IsNumeric(c.text, c.rs)) << c.text;
        }
    }
}

TEST(ParseNumber, RoundsLongMantissasCorrectly) {
    // Exactly halfway between 1 and the next double: ties go to even, but any nonzero
    // digit however far out lifts it above the half.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    const double next = std::nextafter(1.0, 2.0);
    EXPECT_EQ(ParseNumber(half, kPoint), 1.0);
    EXPECT_EQ(ParseNumber(half + std::string(900, '0'), kPoint), 1.0);
    EXPECT_EQ(ParseNumber(half + std::string(900, '0') + "1", kPoint), next);
    EXPECT_EQ(ParseNumber(half + std::string(2000, '0') + "1e0", kPoint), next);

    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        char buffer[64];
        const std::string text(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
        ASSERT_EQ(ParseNumber(text, kPoint), value) << text;
    }
}

TEST(ParseNumber, SurvivesArbitraryBytes) {
    const std::string alphabet = "0123456789.,eE+-() \t\xC2\xA0\xE2\x80\xAF'x";
    const RegionalSettings degenerate = Make("", "");
    std::mt19937 rng(7);
    for (int i = 0; i < 50000; ++i) {
        std::string text(rng() % 24, '\0');
        for (char& c : text) {
            c = rng() % 4 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        }
        for (const RegionalSettings* rs : {&kPoint, &kComma, &kNarrow, &kArabic, &degenerate}) {
            const std::optional<double> got = ParseNumber(text, *rs);
            ASSERT_TRUE(!got || (std::isfinite(*got) && IsNumeric(text, *rs))) << text;
        }
    }
}

TEST(ParseNumber, DegenerateSettingsStillWork) {
    EXPECT_EQ(ParseNumber("1234", Make("", "")), 1234.0);
    EXPECT_EQ(ParseNumber("1.5", Make("", "")), kNone);
    EXPECT_EQ(ParseNumber("1,5", Make(",", ",")), 1.5);  // the decimal reading wins
}

TEST(IsNumeric, JudgesTheFormNotTheRange) {
    EXPECT_TRUE(IsNumeric("1e400", kPoint));
    EXPECT_TRUE(IsNumeric("12,5", kComma));
    EXPECT_FALSE(IsNumeric("12,5,", kComma));
    EXPECT_FALSE(IsNumeric("True", kPoint));
}

TEST(FormatGeneral, Writes) {
    const struct {
        double value;
        const RegionalSettings& rs;
        const char* expected;
    } cases[] = {
        {0.0, kPoint, "0"}, {-0.0, kPoint, "0"}, {12.5, kPoint, "12.5"}, {-1.5, kPoint, "-1.5"},
        {0.5, kPoint, "0.5"}, {100.0, kPoint, "100"}, {0.1 + 0.2, kPoint, "0.3"},
        {1.0 / 3.0, kPoint, "0.333333333333333"}, {-2.0 / 3.0, kPoint, "-0.666666666666667"},
        {123456789012345.0, kPoint, "123456789012345"}, {999999999999999.9, kPoint, "1E+15"},
        {1e15, kPoint, "1E+15"}, {1e20, kPoint, "1E+20"}, {-1.5e-7, kPoint, "-1.5E-07"},
        {0.00001, kPoint, "0.00001"}, {0.000012345, kPoint, "0.000012345"},
        {0.000001, kPoint, "1E-06"}, {9.999999999999999e-6, kPoint, "0.00001"},
        {1.7976931348623157e308, kPoint, "1.79769313486232E+308"},
        {5e-324, kPoint, "4.94065645841247E-324"}, {1234.5, kComma, "1234,5"},
        {-1.5e-7, kComma, "-1,5E-07"}, {3.25, kArabic, "3\u066B25"},
        {-1234567.5, Make(".", ",", {3}, false, Negative::Parentheses), "-1234567.5"},
        {std::nan(""), kPoint, "NaN"}, {kInf, kPoint, "Infinity"}, {-kInf, kPoint, "-Infinity"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatGeneral(c.value, c.rs), c.expected);
}

TEST(FormatGeneral, ReadsBackWithinFifteenDigits) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    for (const RegionalSettings* rs : {&kPoint, &kComma, &kNarrow}) {
        for (int i = 0; i < 5000; ++i) {
            const double value = mantissa(rng) * std::pow(10.0, exponent(rng));
            const std::string text = FormatGeneral(value, *rs);
            const std::optional<double> back = ParseNumber(text, *rs);
            ASSERT_TRUE(back.has_value()) << text;
            ASSERT_NEAR(*back, value, std::fabs(value) * 1e-14) << text;
        }
    }
}

TEST(FormatFixed, Writes) {
    const RegionalSettings no_zero = Make(".", ",", {3}, false);
    const RegionalSettings parens = Make(".", ",", {3}, true, Negative::Parentheses);
    const RegionalSettings parens_no_zero = Make(".", ",", {3}, false, Negative::Parentheses);
    const struct {
        double value;
        int decimals;
        const RegionalSettings& rs;
        const char* expected;
    } cases[] = {
        {1234.567, 2, kPoint, "1,234.57"}, {2.5, 0, kPoint, "3"}, {-2.5, 0, kPoint, "-3"},
        {0.4, 0, kPoint, "0"}, {9.5, 0, kPoint, "10"}, {999.995, 2, kPoint, "1,000.00"},
        // Rounded as written, although these doubles lie just below the half.
        {1.005, 2, kPoint, "1.01"}, {2.675, 2, kPoint, "2.68"}, {-1.005, 2, kPoint, "-1.01"},
        {1.004999, 2, kPoint, "1.00"}, {0.0005, 3, kPoint, "0.001"}, {0.0004999, 3, kPoint, "0.000"},
        {0.1, 20, kPoint, "0.10000000000000000000"},
        {1e20, 2, kPoint, "100,000,000,000,000,000,000.00"}, {5e-324, 0, kPoint, "0"},
        // Leading zero and negative styles; what rounds to zero carries no sign.
        {0.5, 2, kPoint, "0.50"}, {0.5, 2, no_zero, ".50"}, {-0.5, 2, no_zero, "-.50"},
        {0.4, 0, no_zero, "0"}, {-2.5, 2, kPoint, "-2.50"}, {-2.5, 2, parens, "(2.50)"},
        {-0.5, 2, parens_no_zero, "(.50)"}, {-1234.5, 1, parens, "(1,234.5)"},
        {-0.001, 2, kPoint, "0.00"}, {-0.001, 2, parens, "0.00"}, {-0.0, 2, kPoint, "0.00"},
        // Grouping.
        {123.0, 0, kPoint, "123"}, {123456.0, 0, kPoint, "123,456"},
        {-1234567.0, 0, kPoint, "-1,234,567"}, {1234567.891, 2, kIndian, "12,34,567.89"},
        {123456789.0, 0, kIndian, "12,34,56,789"}, {12345.0, 0, kIndian, "12,345"},
        {1234567.0, 0, Make(".", ",", {3, INT_MAX}), "1234,567"},  // POSIX "\3\177"
        {1234567.0, 2, Make(".", ",", {}), "1234567.00"}, {1234.567, 2, kComma, "1.234,57"},
        {1234567.5, 1, kNarrow, "1\u202F234\u202F567,5"}, {-1234.5, 2, kArabic, "-1\u066C234\u066B50"},
        {std::nan(""), 2, kPoint, "NaN"}, {-kInf, 2, parens, "-Infinity"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFixed(c.value, c.decimals, c.rs), c.expected) << c.value;
    }
}

TEST(FormatFixed, AgreesWithExactRoundingAwayFromHalves) {
    // Away from a half, rounding the written digits and the binary value must agree.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    for (int i = 0; i < 5000; ++i) {
        const double value = dist(rng);
        for (int decimals = 0; decimals <= 6; ++decimals) {
            const double scaled = std::fabs(value) * std::pow(10.0, decimals);
            if (std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-3) continue;
            char buffer[64];
            std::string expected(buffer, std::to_chars(buffer, buffer + sizeof buffer, value,
                                                       std::chars_format::fixed, decimals).ptr);
            if (expected.find_first_not_of("-0.") == std::string::npos && expected[0] == '-') {
                expected.erase(0, 1);
            }
            ASSERT_EQ(FormatFixed(value, decimals, Make(".", ",", {})), expected) << value;
        }
    }
}

TEST(FromLocale, CLocaleAndUnknownNames) {
    for (const char* name : {"C", "POSIX"}) {
        const std::optional<RegionalSettings> rs = RegionalSettings::FromLocale(name);
        ASSERT_TRUE(rs.has_value()) << name;
        EXPECT_EQ(rs->decimal_separator, ".");
        EXPECT_TRUE(rs->grouping.empty());
        EXPECT_TRUE(rs->leading_zero);
        EXPECT_EQ(rs->negative, Negative::Minus);
    }
    EXPECT_FALSE(RegionalSettings::FromLocale("xx_NOWHERE.UTF-8").has_value());
}

TEST(FromLocale, EmptyNameReadsTheEnvironment) {
    const char* old = std::getenv("LC_ALL");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : kNone;
    setenv("LC_ALL", "C", 1);
    const std::optional<RegionalSettings> c = RegionalSettings::FromLocale("");
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    const std::optional<RegionalSettings> missing = RegionalSettings::FromLocale("");
    saved ? setenv("LC_ALL", saved->c_str(), 1) : unsetenv("LC_ALL");
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->decimal_separator, ".");
    EXPECT_FALSE(missing.has_value());
}

TEST(FromLocale, InstalledLocales) {
    const struct {
        const char* name;
        const char* fixed;  // 1234567.891 with 2 decimals
        const char* typed;  // as a user types 1234.5
    } cases[] = {
        {"de_DE.UTF-8", "1.234.567,89", "1.234,5"},
        {"fr_FR.UTF-8", "1\u202F234\u202F567,89", "1 234,5"},
        {"fr_FR.ISO-8859-1", "1\u00A0234\u00A0567,89", "1 234,5"},  // bytes become UTF-8
        {"en_IN.UTF-8", "12,34,567.89", "1,234.5"},
    };
    int found = 0;
    for (const auto& c : cases) {
        if (!HasLocale(c.name)) continue;
        ++found;
        const RegionalSettings rs = *RegionalSettings::FromLocale(c.name);
        EXPECT_EQ(FormatFixed(1234567.891, 2, rs), c.fixed) << c.name;
        EXPECT_EQ(ParseNumber(c.typed, rs), 1234.5) << c.name;
    }
    if (found == 0) GTEST_SKIP() << "none of the locales is installed";
}

TEST(CurrentSettings, ScopesApplyAndRestore) {
    const std::string before = RegionalSettings::Current().decimal_separator;
    {
        ScopedRegionalSettings comma(kComma);
        EXPECT_EQ(RegionalSettings::Current().decimal_separator, ",");
        {
            ScopedRegionalSettings arabic(kArabic);
            EXPECT_EQ(RegionalSettings::Current().decimal_separator, "\u066B");
        }
        EXPECT_EQ(RegionalSettings::Current().group_separator, ".");
    }
    EXPECT_EQ(RegionalSettings::Current().decimal_separator, before);
}

TEST(CurrentSettings, AHeldReferenceIsNotChangedByAnotherThread) {
    ScopedRegionalSettings point(kPoint);
    std::string held_after, read_after;
    std::thread reader([&] {
        const RegionalSettings& held = RegionalSettings::Current();
        std::thread([] { RegionalSettings::SetCurrent(kComma); }).join();
        held_after = held.decimal_separator;
        read_after = RegionalSettings::Current().decimal_separator;
    });
    reader.join();
    EXPECT_EQ(held_after, ".");
    EXPECT_EQ(read_after, ",");
}

}  // namespace
}  // namespace crv
