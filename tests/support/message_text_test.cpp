#include "support/MessageText.h"

#include <gtest/gtest.h>

#include <string>

namespace crv::support {
namespace {

TEST(MessageText, ValidUtf8) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"Main Map", true},
        {"Keswick \xE2\x80\x93 Derwent Water", true},  // en dash
        {"\xF0\x9F\x97\xBA", true},  // a four-byte character
        {"\xFF\xFE", false},
        {"caf\xE9", false},  // Latin-1
        {"\xC0\xAF", false},  // overlong '/'
        {"\xED\xA0\x80", false},  // a surrogate
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\xE2\x80", false},  // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << QuotedValue(c.text);
}

TEST(MessageText, QuotedValueIsOneSafeLine) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string shown;
    };
    const Case cases[] = {
        {"North Arrow", 60, "\"North Arrow\""},
        {"two\nlines\tand\rmore", 60, "\"two\\nlines\\tand\\rmore\""},
        {"\x1B[2Jcleared", 60, "\"\\x1B[2Jcleared\""},
        {"say \"hi\" \\ bye", 60, "\"say \\\"hi\\\" \\\\ bye\""},
        {"\xFF\xFE", 60, "\"\\xFF\\xFE\""},
        {"\xC2\x9B"
         "31m",
         60, "\"\\u009B31m\""},
        {"Derwent \xE2\x80\x93 Water", 60, "\"Derwent \xE2\x80\x93 Water\""},
        {"abcdefghij", 4, "\"abcd\"... (10 bytes)"},
        {std::string(1'000'000, 'x'), 3, "\"xxx\"... (1000000 bytes)"},
    };
    for (const auto& c : cases) EXPECT_EQ(QuotedValue(c.text, c.limit), c.shown);
}

}  // namespace
}  // namespace crv::support
