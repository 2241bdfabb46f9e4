// The regional settings come from the platform's locales.
#include "com/Regional.h"

#include <gtest/gtest.h>

namespace crv {
namespace {

TEST(WindowsRegional, LocalesGiveTheirSeparatorsAndGrouping) {
    struct Case {
        const char* locale;
        const char* decimal;
        const char* group;
        std::vector<int> grouping;
    };
    for (const Case& c :
         {Case{"en-US", ".", ",", {3}}, Case{"de-DE", ",", ".", {3}}, Case{"en-IN", ".", ",", {3, 2}}}) {
        SCOPED_TRACE(c.locale);
        const auto rs = RegionalSettings::FromLocale(c.locale);
        ASSERT_TRUE(rs.has_value());
        EXPECT_EQ(rs->decimal_separator, c.decimal);
        EXPECT_EQ(rs->group_separator, c.group);
        EXPECT_EQ(rs->grouping, c.grouping);
        EXPECT_EQ(FormatFixed(1234567.5, 2, *rs), std::string(c.locale) == "en-IN"   ? "12,34,567.50"
                                                  : std::string(c.locale) == "de-DE" ? "1.234.567,50"
                                                                                     : "1,234,567.50");
    }
}

TEST(WindowsRegional, TheUsersOwnLocaleIsReadAndAnUnknownOneIsNot) {
    EXPECT_TRUE(RegionalSettings::FromLocale("").has_value());
    EXPECT_FALSE(RegionalSettings::FromLocale("xx-NOWHERE").has_value());
}

}  // namespace
}  // namespace crv
