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
#include <vector>

namespace crv {
namespace {

using NegativeStyle = RegionalSettings::NegativeStyle;

RegionalSettings Point() { return RegionalSettings::Invariant(); }

RegionalSettings Comma() {
    RegionalSettings rs;
    rs.decimal_separator = ",";
    rs.group_separator = ".";
    return rs;
}

// Decimal comma with a narrow no-break space between groups.
RegionalSettings NarrowSpace() {
    RegionalSettings rs;
    rs.decimal_separator = ",";
    rs.group_separator = "\u202F";
    return rs;
}

RegionalSettings NoBreakSpace() {
    RegionalSettings rs = NarrowSpace();
    rs.group_separator = "\u00A0";
    return rs;
}

RegionalSettings Apostrophe() {
    RegionalSettings rs;
    rs.group_separator = "'";
    return rs;
}

// Multi-byte decimal separator (U+066B) and group separator (U+066C).
RegionalSettings Arabic() {
    RegionalSettings rs;
    rs.decimal_separator = "\u066B";
    rs.group_separator = "\u066C";
    return rs;
}

RegionalSettings Indian() {
    RegionalSettings rs;
    rs.grouping = {3, 2};
    return rs;
}

bool HasLocale(const char* name) {
    locale_t loc = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return false;
    freelocale(loc);
    return true;
}

bool IsUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

// --- ParseNumber ----------------------------------------------------------------------

struct ParseCase {
    const char* text;
    RegionalSettings rs;
    std::optional<double> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ParseNumberTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseNumberTest, ReadsTheValueOrRejects) {
    const ParseCase& c = GetParam();
    const std::optional<double> got = ParseNumber(c.text, c.rs);
    if (!c.expected) {
        EXPECT_FALSE(got.has_value()) << "got " << *got;
        return;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, *c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    PointDecimal, ParseNumberTest,
    testing::Values(ParseCase{"12.50", Point(), 12.5}, ParseCase{"0.1", Point(), 0.1},
                    ParseCase{" 42 ", Point(), 42.0}, ParseCase{"\t-3\t", Point(), -3.0},
                    ParseCase{"+7", Point(), 7.0}, ParseCase{"000123", Point(), 123.0},
                    ParseCase{".5", Point(), 0.5}, ParseCase{"5.", Point(), 5.0},
                    ParseCase{"-.25", Point(), -0.25}, ParseCase{"0", Point(), 0.0},
                    ParseCase{"1,234,567.25", Point(), 1234567.25},
                    // Group sizes are not checked when reading.
                    ParseCase{"1,2", Point(), 12.0}, ParseCase{"12,34,567", Point(), 1234567.0},
                    ParseCase{"1e3", Point(), 1000.0}, ParseCase{"1.5E-2", Point(), 0.015},
                    ParseCase{"2e+2", Point(), 200.0}, ParseCase{"1,000e3", Point(), 1e6},
                    ParseCase{"(5)", Point(), -5.0}, ParseCase{" ( 1,234.5 ) ", Point(), -1234.5},
                    ParseCase{"(.5e1)", Point(), -5.0}));

INSTANTIATE_TEST_SUITE_P(
    Garbage, ParseNumberTest,
    testing::Values(ParseCase{"", Point(), std::nullopt}, ParseCase{"  \t ", Point(), std::nullopt},
                    ParseCase{"abc", Point(), std::nullopt}, ParseCase{"12abc", Point(), std::nullopt},
                    ParseCase{".", Point(), std::nullopt}, ParseCase{"-", Point(), std::nullopt},
                    ParseCase{"+-1", Point(), std::nullopt}, ParseCase{"--1", Point(), std::nullopt},
                    ParseCase{"1-", Point(), std::nullopt}, ParseCase{"- 1", Point(), std::nullopt},
                    ParseCase{"1.2.3", Point(), std::nullopt}, ParseCase{"1e", Point(), std::nullopt},
                    ParseCase{"1e+", Point(), std::nullopt}, ParseCase{"e5", Point(), std::nullopt},
                    ParseCase{"1e3.5", Point(), std::nullopt}, ParseCase{"0x10", Point(), std::nullopt},
                    ParseCase{"1,", Point(), std::nullopt}, ParseCase{",1", Point(), std::nullopt},
                    ParseCase{"1,,2", Point(), std::nullopt}, ParseCase{"1,.5", Point(), std::nullopt},
                    ParseCase{"1.5,0", Point(), std::nullopt}, ParseCase{"1 2", Point(), std::nullopt},
                    ParseCase{"(5", Point(), std::nullopt}, ParseCase{"5)", Point(), std::nullopt},
                    ParseCase{"()", Point(), std::nullopt}, ParseCase{"(-5)", Point(), std::nullopt},
                    ParseCase{"-(5)", Point(), std::nullopt}, ParseCase{"Infinity", Point(), std::nullopt},
                    ParseCase{"NaN", Point(), std::nullopt}, ParseCase{"1\n", Point(), std::nullopt},
                    ParseCase{"\xEF\xBC\x91", Point(), std::nullopt}));  // fullwidth digit one

INSTANTIATE_TEST_SUITE_P(
    CommaDecimal, ParseNumberTest,
    testing::Values(ParseCase{"12,50", Comma(), 12.5},
                    // '.' groups here, as the platform reads it.
                    ParseCase{"12.50", Comma(), 1250.0},
                    ParseCase{"1.234.567,89", Comma(), 1234567.89},
                    ParseCase{"1,5e3", Comma(), 1500.0}, ParseCase{"(0,5)", Comma(), -0.5},
                    ParseCase{"1,2,3", Comma(), std::nullopt}, ParseCase{"1.", Comma(), std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    MultiByteSeparators, ParseNumberTest,
    testing::Values(ParseCase{"1\u202F234,5", NarrowSpace(), 1234.5},
                    // A no-break space in the locale means users may type a plain space.
                    ParseCase{"1 234 567,5", NarrowSpace(), 1234567.5},
                    ParseCase{"1\u00A0234", NarrowSpace(), 1234.0},
                    ParseCase{"1 234,5", NoBreakSpace(), 1234.5},
                    ParseCase{" -1 234 ", NoBreakSpace(), -1234.0},
                    ParseCase{"1 ,5", NarrowSpace(), std::nullopt},
                    ParseCase{"1  234", NarrowSpace(), std::nullopt},
                    // A plain space is no separator for locales that do not space groups.
                    ParseCase{"1 234", Comma(), std::nullopt},
                    ParseCase{"1'234.5", Apostrophe(), 1234.5},
                    ParseCase{"3\u066B14", Arabic(), 3.14},
                    ParseCase{"1\u066C234\u066B5", Arabic(), 1234.5},
                    ParseCase{"3.14", Arabic(), std::nullopt},
                    ParseCase{"3\xD9", Arabic(), std::nullopt},       // cut-off separator
                    ParseCase{"1\xE2\x80", NarrowSpace(), std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    Range, ParseNumberTest,
    testing::Values(ParseCase{"1e400", Point(), std::nullopt},
                    ParseCase{"-1e400", Point(), std::nullopt},
                    ParseCase{"1.8e308", Point(), std::nullopt},
                    ParseCase{"1.7976931348623157e308", Point(), std::numeric_limits<double>::max()},
                    ParseCase{"4.9e-324", Point(), std::numeric_limits<double>::denorm_min()},
                    ParseCase{"2.2250738585072014E-308", Point(), std::numeric_limits<double>::min()},
                    ParseCase{"1e-400", Point(), 0.0},
                    ParseCase{"1e99999999999999999999999", Point(), std::nullopt},
                    ParseCase{"1e-99999999999999999999999", Point(), 0.0},
                    ParseCase{"0e99999999999999999999999", Point(), 0.0},
                    ParseCase{"0.000000000000000000000000000001e30", Point(), 1.0}));

TEST(ParseNumber, LongMantissasRoundCorrectly) {
    // Exactly halfway between 1 and the next double: ties go to even.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    const double next = std::nextafter(1.0, 2.0);
    EXPECT_EQ(ParseNumber(half, Point()), 1.0);
    EXPECT_EQ(ParseNumber(half + std::string(900, '0'), Point()), 1.0);
    // Any nonzero digit, however far out, lifts it above halfway.
    EXPECT_EQ(ParseNumber(half + std::string(900, '0') + "1", Point()), next);
    EXPECT_EQ(ParseNumber(half + std::string(2000, '0') + "1e0", Point()), next);

    EXPECT_EQ(ParseNumber("1" + std::string(1000, '0') + "e-1000", Point()), 1.0);
    EXPECT_EQ(ParseNumber("0." + std::string(1000, '0') + "1e1001", Point()), 1.0);
    EXPECT_FALSE(ParseNumber("1" + std::string(400, '0'), Point()).has_value());
    std::string grouped = "1";
    for (int i = 0; i < 400; ++i) grouped += ",000";
    EXPECT_EQ(ParseNumber(grouped + "e-1200", Point()), 1.0);
}

TEST(ParseNumber, ReadsBackEveryShortestRepresentation) {
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        const std::string text(buffer, end);
        const std::optional<double> got = ParseNumber(text, Point());
        ASSERT_TRUE(got.has_value()) << text;
        ASSERT_EQ(*got, value) << text;
    }
}

TEST(ParseNumber, SurvivesArbitraryBytes) {
    // Bytes drawn mostly from the number alphabet so that many inputs get deep into the scan.
    const std::string alphabet = "0123456789.,eE+-() \t\xC2\xA0\xE2\x80\xAF'x";
    const RegionalSettings settings[] = {Point(), Comma(), NarrowSpace(), Arabic(), Apostrophe()};
    std::mt19937 rng(7);
    for (int i = 0; i < 50000; ++i) {
        std::string text(rng() % 24, '\0');
        for (char& c : text) {
            c = rng() % 4 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        }
        for (const RegionalSettings& rs : settings) {
            const std::optional<double> got = ParseNumber(text, rs);
            if (got) {
                ASSERT_TRUE(std::isfinite(*got)) << text;
                ASSERT_TRUE(IsNumeric(text, rs)) << text;
            }
        }
    }
}

TEST(ParseNumber, DegenerateSettingsAreHarmless) {
    RegionalSettings empty;
    empty.decimal_separator = "";
    empty.group_separator = "";
    EXPECT_EQ(ParseNumber("1234", empty), 1234.0);
    EXPECT_FALSE(ParseNumber("1.5", empty).has_value());

    RegionalSettings same;
    same.decimal_separator = ",";
    same.group_separator = ",";
    EXPECT_EQ(ParseNumber("1,5", same), 1.5);
}

TEST(IsNumeric, JudgesTheFormNotTheRange) {
    EXPECT_TRUE(IsNumeric("1e400", Point()));
    EXPECT_TRUE(IsNumeric(" (1,234.5) ", Point()));
    EXPECT_TRUE(IsNumeric("12,5", Comma()));
    EXPECT_FALSE(IsNumeric("12,5,", Comma()));
    EXPECT_FALSE(IsNumeric("True", Point()));
    EXPECT_FALSE(IsNumeric("", Point()));
}

// --- FormatGeneral ----------------------------------------------------------------------

struct GeneralCase {
    double value;
    RegionalSettings rs;
    const char* expected;
};

void PrintTo(const GeneralCase& c, std::ostream* os) { *os << c.expected; }

class FormatGeneralTest : public testing::TestWithParam<GeneralCase> {};

TEST_P(FormatGeneralTest, Writes) {
    EXPECT_EQ(FormatGeneral(GetParam().value, GetParam().rs), GetParam().expected);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatGeneralTest,
    testing::Values(
        GeneralCase{0.0, Point(), "0"}, GeneralCase{-0.0, Point(), "0"},
        GeneralCase{12.5, Point(), "12.5"}, GeneralCase{-1.5, Point(), "-1.5"},
        GeneralCase{0.5, Point(), "0.5"}, GeneralCase{100.0, Point(), "100"},
        GeneralCase{1234567.0, Point(), "1234567"}, GeneralCase{0.1 + 0.2, Point(), "0.3"},
        GeneralCase{1.0 / 3.0, Point(), "0.333333333333333"},
        GeneralCase{-2.0 / 3.0, Point(), "-0.666666666666667"},
        GeneralCase{123456789012345.0, Point(), "123456789012345"},
        GeneralCase{999999999999999.9, Point(), "1E+15"}, GeneralCase{1e15, Point(), "1E+15"},
        GeneralCase{1e20, Point(), "1E+20"}, GeneralCase{-1.5e-7, Point(), "-1.5E-07"},
        GeneralCase{0.00001, Point(), "0.00001"}, GeneralCase{0.000012345, Point(), "0.000012345"},
        GeneralCase{0.000001, Point(), "1E-06"}, GeneralCase{9.999999999999999e-6, Point(), "0.00001"},
        GeneralCase{1.7976931348623157e308, Point(), "1.79769313486232E+308"},
        GeneralCase{5e-324, Point(), "4.94065645841247E-324"},
        GeneralCase{12.5, Comma(), "12,5"}, GeneralCase{1234.5, Comma(), "1234,5"},
        GeneralCase{-1.5e-7, Comma(), "-1,5E-07"}, GeneralCase{3.25, Arabic(), "3\u066B25"},
        GeneralCase{std::nan(""), Point(), "NaN"}, GeneralCase{kInf, Point(), "Infinity"},
        GeneralCase{-kInf, Point(), "-Infinity"}));

TEST(FormatGeneral, NeverUsesParenthesesOrGrouping) {
    RegionalSettings rs = Indian();
    rs.negative = NegativeStyle::Parentheses;
    rs.leading_zero = false;
    EXPECT_EQ(FormatGeneral(-1234567.5, rs), "-1234567.5");
    EXPECT_EQ(FormatGeneral(0.5, rs), "0.5");
}

TEST(FormatGeneral, ReadsBackWithinFifteenDigits) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    for (const RegionalSettings& rs : {Point(), Comma(), NarrowSpace()}) {
        for (int i = 0; i < 5000; ++i) {
            const double value = mantissa(rng) * std::pow(10.0, exponent(rng));
            const std::string text = FormatGeneral(value, rs);
            const std::optional<double> back = ParseNumber(text, rs);
            ASSERT_TRUE(back.has_value()) << text;
            ASSERT_NEAR(*back, value, std::fabs(value) * 1e-14) << text;
        }
    }
}

// --- FormatFixed ------------------------------------------------------------------------

struct FixedCase {
    double value;
    int decimals;
    RegionalSettings rs;
    const char* expected;
};

void PrintTo(const FixedCase& c, std::ostream* os) { *os << c.expected; }

class FormatFixedTest : public testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixedTest, Writes) {
    const FixedCase& c = GetParam();
    EXPECT_EQ(FormatFixed(c.value, c.decimals, c.rs), c.expected);
}

RegionalSettings NoLeadingZero() {
    RegionalSettings rs;
    rs.leading_zero = false;
    return rs;
}

RegionalSettings Parens() {
    RegionalSettings rs;
    rs.negative = NegativeStyle::Parentheses;
    return rs;
}

RegionalSettings ParensNoLeadingZero() {
    RegionalSettings rs = Parens();
    rs.leading_zero = false;
    return rs;
}

RegionalSettings NoGrouping() {
    RegionalSettings rs;
    rs.grouping.clear();
    return rs;
}

// Grouping that stops after the first group, as POSIX grouping "\3\177" reads.
RegionalSettings FirstGroupOnly() {
    RegionalSettings rs;
    rs.grouping = {3, INT_MAX};
    return rs;
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, FormatFixedTest,
    testing::Values(FixedCase{1234.567, 2, Point(), "1,234.57"}, FixedCase{2.5, 0, Point(), "3"},
                    FixedCase{-2.5, 0, Point(), "-3"}, FixedCase{3.5, 0, Point(), "4"},
                    FixedCase{0.4, 0, Point(), "0"}, FixedCase{0.5, 0, Point(), "1"},
                    FixedCase{9.5, 0, Point(), "10"},
                    // Rounded as written, although the doubles lie just below the half.
                    FixedCase{1.005, 2, Point(), "1.01"}, FixedCase{2.675, 2, Point(), "2.68"},
                    FixedCase{-1.005, 2, Point(), "-1.01"}, FixedCase{0.125, 2, Point(), "0.13"},
                    FixedCase{1.004999, 2, Point(), "1.00"},
                    FixedCase{999.995, 2, Point(), "1,000.00"},
                    FixedCase{99999.5, 0, Point(), "100,000"}, FixedCase{0.1, 20, Point(), "0.10000000000000000000"},
                    FixedCase{1e20, 2, Point(), "100,000,000,000,000,000,000.00"},
                    FixedCase{1e-10, 3, Point(), "0.000"}, FixedCase{0.0005, 3, Point(), "0.001"},
                    FixedCase{0.0004999, 3, Point(), "0.000"}, FixedCase{0.00051, 3, Point(), "0.001"},
                    FixedCase{5e-324, 0, Point(), "0"}, FixedCase{0.0, 2, Point(), "0.00"},
                    FixedCase{-0.0, 2, Point(), "0.00"}));

INSTANTIATE_TEST_SUITE_P(
    Styles, FormatFixedTest,
    testing::Values(FixedCase{0.5, 2, Point(), "0.50"}, FixedCase{0.5, 2, NoLeadingZero(), ".50"},
                    FixedCase{-0.5, 2, NoLeadingZero(), "-.50"},
                    FixedCase{0.4, 0, NoLeadingZero(), "0"},
                    FixedCase{1.5, 2, NoLeadingZero(), "1.50"},
                    FixedCase{-2.5, 2, Point(), "-2.50"}, FixedCase{-2.5, 2, Parens(), "(2.50)"},
                    FixedCase{-0.5, 2, ParensNoLeadingZero(), "(.50)"},
                    FixedCase{-1234.5, 1, Parens(), "(1,234.5)"},
                    // Rounds to zero: no sign either way.
                    FixedCase{-0.001, 2, Point(), "0.00"}, FixedCase{-0.001, 2, Parens(), "0.00"},
                    FixedCase{-0.4, 0, Parens(), "0"}));

INSTANTIATE_TEST_SUITE_P(
    Grouping, FormatFixedTest,
    testing::Values(FixedCase{123.0, 0, Point(), "123"}, FixedCase{1234.0, 0, Point(), "1,234"},
                    FixedCase{123456.0, 0, Point(), "123,456"},
                    FixedCase{1234567.0, 0, Point(), "1,234,567"},
                    FixedCase{-1234567.0, 0, Point(), "-1,234,567"},
                    FixedCase{1234567.891, 2, Indian(), "12,34,567.89"},
                    FixedCase{123456789.0, 0, Indian(), "12,34,56,789"},
                    FixedCase{12345.0, 0, Indian(), "12,345"}, FixedCase{999.0, 0, Indian(), "999"},
                    FixedCase{1234567.0, 0, FirstGroupOnly(), "1234,567"},
                    FixedCase{1234567.0, 2, NoGrouping(), "1234567.00"},
                    FixedCase{1234.567, 2, Comma(), "1.234,57"},
                    FixedCase{1234567.5, 1, NarrowSpace(), "1\u202F234\u202F567,5"},
                    FixedCase{-1234.5, 2, Arabic(), "-1\u066C234\u066B50"}));

INSTANTIATE_TEST_SUITE_P(
    NonFinite, FormatFixedTest,
    testing::Values(FixedCase{std::nan(""), 2, Point(), "NaN"}, FixedCase{kInf, 2, Point(), "Infinity"},
                    FixedCase{-kInf, 2, Parens(), "-Infinity"}));

TEST(FormatFixed, AgreesWithExactRoundingAwayFromHalves) {
    // For values whose decimal digits are not near a half, rounding the written digits and
    // rounding the binary value must agree; compare against the C library on those.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> dist(-1e6, 1e6);
    for (int i = 0; i < 5000; ++i) {
        const double value = dist(rng);
        for (int decimals = 0; decimals <= 6; ++decimals) {
            const double scaled = std::fabs(value) * std::pow(10.0, decimals);
            const double fraction = scaled - std::floor(scaled);
            if (std::fabs(fraction - 0.5) < 1e-3) continue;
            char buffer[64];
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                           std::chars_format::fixed, decimals).ptr;
            std::string expected(buffer, end);
            if (expected.find_first_not_of("-0.") == std::string::npos && expected[0] == '-') {
                expected.erase(0, 1);  // rounds to zero: unsigned
            }
            ASSERT_EQ(FormatFixed(value, decimals, NoGrouping()), expected) << value;
        }
    }
}

// --- Locales ----------------------------------------------------------------------------

TEST(FromLocale, CLocaleHasPointAndNoGrouping) {
    for (const char* name : {"C", "POSIX"}) {
        const std::optional<RegionalSettings> rs = RegionalSettings::FromLocale(name);
        ASSERT_TRUE(rs.has_value()) << name;
        EXPECT_EQ(rs->decimal_separator, ".");
        EXPECT_TRUE(rs->grouping.empty());
        EXPECT_TRUE(rs->leading_zero);
        EXPECT_EQ(rs->negative, NegativeStyle::Minus);
        EXPECT_EQ(FormatFixed(1234567.5, 1, *rs), "1234567.5");
    }
}

TEST(FromLocale, UnknownLocaleIsNullopt) {
    EXPECT_FALSE(RegionalSettings::FromLocale("xx_NOWHERE.UTF-8").has_value());
}

TEST(FromLocale, EmptyNameReadsTheEnvironment) {
    const char* old = std::getenv("LC_ALL");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("LC_ALL", "C", 1);
    const std::optional<RegionalSettings> rs = RegionalSettings::FromLocale("");
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    const std::optional<RegionalSettings> missing = RegionalSettings::FromLocale("");
    if (saved) {
        setenv("LC_ALL", saved->c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    ASSERT_TRUE(rs.has_value());
    EXPECT_EQ(rs->decimal_separator, ".");
    EXPECT_FALSE(missing.has_value());
}

TEST(FromLocale, GermanUsesDecimalComma) {
    if (!HasLocale("de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    const RegionalSettings rs = *RegionalSettings::FromLocale("de_DE.UTF-8");
    EXPECT_EQ(rs.decimal_separator, ",");
    EXPECT_EQ(rs.group_separator, ".");
    ASSERT_FALSE(rs.grouping.empty());
    EXPECT_EQ(rs.grouping[0], 3);
    EXPECT_EQ(ParseNumber("1.234,5", rs), 1234.5);
    EXPECT_EQ(FormatFixed(1234.5, 2, rs), "1.234,50");
}

TEST(FromLocale, FrenchAcceptsAPlainSpaceBetweenGroups) {
    if (!HasLocale("fr_FR.UTF-8")) GTEST_SKIP() << "fr_FR.UTF-8 not installed";
    const RegionalSettings rs = *RegionalSettings::FromLocale("fr_FR.UTF-8");
    EXPECT_EQ(rs.decimal_separator, ",");
    EXPECT_EQ(ParseNumber("1 234,5", rs), 1234.5);
    EXPECT_EQ(ParseNumber(FormatFixed(1234567.25, 2, rs), rs), 1234567.25);
}

TEST(FromLocale, IndianGroupsByThreeThenTwo) {
    if (!HasLocale("en_IN.UTF-8")) GTEST_SKIP() << "en_IN.UTF-8 not installed";
    const RegionalSettings rs = *RegionalSettings::FromLocale("en_IN.UTF-8");
    EXPECT_EQ(FormatFixed(123456789.0, 0, rs), "12,34,56,789");
}

TEST(FromLocale, Latin1LocaleYieldsUtf8Separators) {
    if (!HasLocale("fr_FR.ISO-8859-1") && !HasLocale("fr_FR")) GTEST_SKIP() << "no Latin-1 French locale";
    const char* name = HasLocale("fr_FR.ISO-8859-1") ? "fr_FR.ISO-8859-1" : "fr_FR";
    const RegionalSettings rs = *RegionalSettings::FromLocale(name);
    EXPECT_TRUE(IsUtf8(rs.decimal_separator));
    EXPECT_TRUE(IsUtf8(rs.group_separator)) << rs.group_separator;
    EXPECT_EQ(ParseNumber(FormatFixed(1234567.0, 0, rs), rs), 1234567.0);
}

// --- Current settings -------------------------------------------------------------------

TEST(CurrentSettings, ScopedSettingsApplyAndRestore) {
    const std::string before = RegionalSettings::Current().decimal_separator;
    {
        ScopedRegionalSettings comma(Comma());
        EXPECT_EQ(RegionalSettings::Current().decimal_separator, ",");
        {
            ScopedRegionalSettings arabic(Arabic());
            EXPECT_EQ(RegionalSettings::Current().decimal_separator, "\u066B");
        }
        EXPECT_EQ(RegionalSettings::Current().decimal_separator, ",");
        EXPECT_EQ(RegionalSettings::Current().group_separator, ".");
    }
    EXPECT_EQ(RegionalSettings::Current().decimal_separator, before);
}

TEST(CurrentSettings, OtherThreadsSeeTheChangeOnTheirNextRead) {
    ScopedRegionalSettings point(Point());
    std::string held_after_change;
    std::string read_after_change;
    std::thread reader([&] {
        const RegionalSettings& held = RegionalSettings::Current();
        std::thread writer([] { RegionalSettings::SetCurrent(Comma()); });
        writer.join();
        held_after_change = held.decimal_separator;
        read_after_change = RegionalSettings::Current().decimal_separator;
    });
    reader.join();
    EXPECT_EQ(held_after_change, ".");
    EXPECT_EQ(read_after_change, ",");
    EXPECT_EQ(RegionalSettings::Current().decimal_separator, ",");
}

}  // namespace
}  // namespace crv
