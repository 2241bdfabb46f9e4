#include "com/Regional.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace crv {
namespace {

using Negative = RegionalSettings::NegativeStyle;
constexpr std::nullopt_t kNone = std::nullopt;
constexpr double kInf = std::numeric_limits<double>::infinity();

RegionalSettings Make(const char* dec, const char* group, std::vector<int> grouping = {3}, bool leading_zero = true,
                      Negative negative = Negative::Minus) {
    return {dec, group, std::move(grouping), leading_zero, negative};
}
const RegionalSettings kPoint = RegionalSettings::Invariant();
const RegionalSettings kComma = Make(",", ".");
const RegionalSettings kNarrow = Make(",", "\u202F");  // narrow no-break space groups
const RegionalSettings kArabic = Make("\u066B", "\u066C");  // both multi-byte
const RegionalSettings kIndian = Make(".", ",", {3, 2});

TEST(ParseNumber, ReadsNumbersAndRejectsEverythingElse) {
    const struct {
        std::string text;
        const RegionalSettings& rs;
        std::optional<double> expected;
    } cases[] = {
        {"12.50", kPoint, 12.5},
        {"\t-3 ", kPoint, -3},
        {"+7", kPoint, 7},
        {".5", kPoint, 0.5},
        {"1,234,567.25", kPoint, 1234567.25},
        {"1.5E-2", kPoint, 0.015},
        {" ( 1,234.5 ) ", kPoint, -1234.5},
        {"", kPoint, kNone},
        {"12abc", kPoint, kNone},
        {".", kPoint, kNone},
        {"1-", kPoint, kNone},
        {"- 1", kPoint, kNone},
        {"1.2.3", kPoint, kNone},
        {"1e+", kPoint, kNone},
        {"0x10", kPoint, kNone},
        {"1,", kPoint, kNone},
        {"1,,2", kPoint, kNone},
        {"1.5,0", kPoint, kNone},
        {"(5", kPoint, kNone},
        {"(-5)", kPoint, kNone},
        {"NaN", kPoint, kNone},
        {"1\n", kPoint, kNone},
        // Decimal comma; '.' then groups, so "12.50" reads 1250 as the platform does.
        {"12,50", kComma, 12.5},
        {"12.50", kComma, 1250},
        {"1.234.567,89", kComma, 1234567.89},
        {"(0,5e1)", kComma, -5},
        {"1,2,3", kComma, kNone},
        {"1 234", kComma, kNone},
        // Multi-byte separators; where groups are spaced, a plain space is typed too.
        {"1\u202F234,5", kNarrow, 1234.5},
        {"1 234 567,5", kNarrow, 1234567.5},
        {"1\u00A0234", kNarrow, 1234},
        {"1  234", kNarrow, kNone},
        {"1\xE2\x80", kNarrow, kNone},
        {"1\u066C234\u066B5", kArabic, 1234.5},
        {"3.14", kArabic, kNone},
        {"3\xD9", kArabic, kNone},
        // Range.
        {"1e400", kPoint, kNone},
        {"1.8e308", kPoint, kNone},
        {"1.7976931348623157e308", kPoint, std::numeric_limits<double>::max()},
        {"4.9e-324", kPoint, std::numeric_limits<double>::denorm_min()},
        {"1e-400", kPoint, 0},
        {"1e99999999999999999999999", kPoint, kNone},
        {"0e99999999999999999999999", kPoint, 0},
        {"1" + std::string(1000, '0') + "e-1000", kPoint, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text, c.rs), c.expected) << '"' << c.text << '"';
    EXPECT_TRUE(IsNumeric("1e400", kPoint));  // the form, not the range
    EXPECT_FALSE(IsNumeric("12,5,", kComma));
}

TEST(IsPlainNumber, TakesSignDigitsFractionAndExponentOnly) {
    const struct {
        const char* text;
        const RegionalSettings& rs;
        bool plain;
    } cases[] = {
        {"12", kPoint, true},     {"-3", kPoint, true},     {"+7", kPoint, true},      {"2.5", kPoint, true},
        {".5", kPoint, true},     {"1.5E-2", kPoint, true}, {"2,5", kComma, true},     {"1e400", kPoint, true},
        {"(2)", kPoint, false},   {"\t4", kPoint, false},   {" 4", kPoint, false},     {"4 ", kPoint, false},
        {"1,234", kPoint, false}, {"1.234", kComma, false}, {"1 234", kNarrow, false}, {"", kPoint, false},
        {"-", kPoint, false},     {"--1", kPoint, false},   {"2.5", kComma, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsPlainNumber(c.text, c.rs), c.plain) << '"' << c.text << '"';
}

TEST(ParseNumber, RoundsLongMantissasCorrectly) {
    // Exactly halfway between 1 and the next double: ties go to even, but any nonzero
    // digit however far out lifts it above the half.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(ParseNumber(half + std::string(900, '0'), kPoint), 1.0);
    EXPECT_EQ(ParseNumber(half + std::string(2000, '0') + "1e0", kPoint), std::nextafter(1.0, 2.0));
}

TEST(FormatGeneral, Writes) {
    const struct {
        double value;
        const RegionalSettings& rs;
        const char* expected;
    } cases[] = {
        {-0.0, kPoint, "0"},
        {-1.5, kPoint, "-1.5"},
        {0.1 + 0.2, kPoint, "0.3"},
        {-2.0 / 3.0, kPoint, "-0.666666666666667"},
        {123456789012345.0, kPoint, "123456789012345"},
        {999999999999999.9, kPoint, "1E+15"},
        {-1.5e-7, kPoint, "-1.5E-07"},
        {0.000012345, kPoint, "0.000012345"},
        {0.000001, kPoint, "1E-06"},
        {1.7976931348623157e308, kPoint, "1.79769313486232E+308"},
        {-1.5e-7, kComma, "-1,5E-07"},
        {3.25, kArabic, "3\u066B25"},
        {-1234567.5, Make(".", ",", {3}, false, Negative::Parentheses), "-1234567.5"},
        {std::nan(""), kPoint, "NaN"},
        {-kInf, kPoint, "-Infinity"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatGeneral(c.value, c.rs), c.expected);
}

TEST(FormatFixed, Writes) {
    const RegionalSettings no_zero = Make(".", ",", {3}, false);
    const RegionalSettings parens = Make(".", ",", {3}, true, Negative::Parentheses);
    const struct {
        double value;
        int decimals;
        const RegionalSettings& rs;
        const char* expected;
    } cases[] = {
        {1234.567, 2, kPoint, "1,234.57"},
        {2.5, 0, kPoint, "3"},
        {-2.5, 0, kPoint, "-3"},
        {999.995, 2, kPoint, "1,000.00"},
        // Rounded as written, although these doubles lie just below the half.
        {1.005, 2, kPoint, "1.01"},
        {-1.005, 2, kPoint, "-1.01"},
        {1.004999, 2, kPoint, "1.00"},
        {1e20, 2, kPoint, "100,000,000,000,000,000,000.00"},
        // Leading zero and negative styles; what rounds to zero carries no sign.
        {0.5, 2, no_zero, ".50"},
        {-0.5, 2, no_zero, "-.50"},
        {0.4, 0, no_zero, "0"},
        {-2.5, 2, parens, "(2.50)"},
        {-1234.5, 1, parens, "(1,234.5)"},
        {-0.001, 2, kPoint, "0.00"},
        {-0.001, 2, parens, "0.00"},
        // Grouping.
        {123.0, 0, kPoint, "123"},
        {-1234567.0, 0, kPoint, "-1,234,567"},
        {123456789.0, 0, kIndian, "12,34,56,789"},
        {1234567.0, 0, Make(".", ",", {3, INT_MAX}), "1234,567"},  // POSIX "\3\177"
        {1234567.0, 2, Make(".", ",", {}), "1234567.00"},
        {1234.567, 2, kComma, "1.234,57"},
        {1234567.5, 1, kNarrow, "1\u202F234\u202F567,5"},
        {-1234.5, 2, kArabic, "-1\u066C234\u066B50"},
        {std::nan(""), 2, kPoint, "NaN"},
        {-kInf, 2, parens, "-Infinity"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFixed(c.value, c.decimals, c.rs), c.expected) << c.value;
}

TEST(FromLocale, ReadsTheCLocaleTheEnvironmentAndInstalledLocales) {
    const std::optional<RegionalSettings> posix = RegionalSettings::FromLocale("POSIX");
    ASSERT_TRUE(posix.has_value());
    EXPECT_EQ(FormatFixed(-1234.5, 1, *posix), "-1234.5");
    EXPECT_FALSE(RegionalSettings::FromLocale("xx_NOWHERE.UTF-8").has_value());

    const char* old = std::getenv("LC_ALL");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : kNone;
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    const bool missing = RegionalSettings::FromLocale("").has_value();
    saved ? setenv("LC_ALL", saved->c_str(), 1) : unsetenv("LC_ALL");
    EXPECT_FALSE(missing);

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
    for (const auto& c : cases) {
        locale_t loc = newlocale(LC_ALL_MASK, c.name, static_cast<locale_t>(nullptr));
        if (loc == static_cast<locale_t>(nullptr)) continue;
        freelocale(loc);
        const RegionalSettings rs = *RegionalSettings::FromLocale(c.name);
        EXPECT_EQ(FormatFixed(1234567.891, 2, rs), c.fixed) << c.name;
        EXPECT_EQ(ParseNumber(c.typed, rs), 1234.5) << c.name;
    }
}

// Sets locale variables for its lifetime (nullptr unsets one) and puts the old values back.
class ScopedLocaleEnvironment {
public:
    explicit ScopedLocaleEnvironment(std::vector<std::pair<const char*, const char*>> values) {
        for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LC_CTYPE", "LANG"}) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : kNone);
            ::unsetenv(name);
        }
        for (const auto& [name, value] : values) ::setenv(name, value, 1);
    }
    ~ScopedLocaleEnvironment() {
        for (const auto& [name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(FromLocale, TheEnvironmentsNumberFormatComesFromTheNumericCategoryAlone) {
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (german == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "the German locale is not installed";
    freelocale(german);
    const struct {
        std::vector<std::pair<const char*, const char*>> env;
        const char* decimal;  // nullptr: no format from the environment
    } cases[] = {
        {{{"LC_NUMERIC", "de_DE.UTF-8"}, {"LC_TIME", "xx_XX.UTF-8"}}, ","},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_TIME", "xx_XX.UTF-8"}, {"LC_CTYPE", "xx_XX.UTF-8"}}, ","},
        {{{"LANG", "xx_XX.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}}, ","},
        {{{"LC_NUMERIC", "C"}, {"LANG", "de_DE.UTF-8"}}, "."},
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LC_NUMERIC", "C"}}, ","},
        {{}, "."},
        {{{"LC_NUMERIC", "xx_XX.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, nullptr},
    };
    for (const auto& c : cases) {
        std::optional<RegionalSettings> rs;
        {
            ScopedLocaleEnvironment env(c.env);
            rs = RegionalSettings::FromLocale("");
        }
        const std::string what = c.env.empty() ? "empty" : std::string(c.env[0].first) + "=" + c.env[0].second;
        if (c.decimal == nullptr) {
            EXPECT_FALSE(rs.has_value()) << what;
            continue;
        }
        ASSERT_TRUE(rs.has_value()) << what;
        EXPECT_EQ(rs->decimal_separator, c.decimal) << what;
        // The distance a user typed as 0,5 under a German number format is a half, not 5.
        if (std::string(c.decimal) == ",") {
            EXPECT_EQ(ParseNumber("0,5", *rs), 0.5) << what;
        }
    }
}

TEST(CurrentSettings, ScopesNestAndRestoreAndHeldReferencesStayPut) {
    const std::string before = RegionalSettings::Current().decimal_separator;
    {
        ScopedRegionalSettings comma(kComma);
        {
            ScopedRegionalSettings arabic(kArabic);
            EXPECT_EQ(RegionalSettings::Current().decimal_separator, "\u066B");
        }
        EXPECT_EQ(RegionalSettings::Current().decimal_separator, ",");
    }
    EXPECT_EQ(RegionalSettings::Current().decimal_separator, before);

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
