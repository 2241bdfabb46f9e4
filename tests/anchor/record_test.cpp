#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"

#include <gtest/gtest.h>

namespace crv {
namespace {

using standalone::StandaloneHost;

TEST(AnchorRecord, DefaultRecordHoldsTheTwentyFiveKeysWithTheirKindsAndValues) {
    StandaloneHost host;
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
    ASSERT_TRUE(record);

    struct Expected {
        const char* key;
        Variant value;
    };
    const Expected expected[] = {
        {"AnchorElement", false},         {"AnchorType", "Layout"},        {"ElementName", "<None>"},
        {"UseAltAnchoring", false},       {"AltAnchorType", int16_t{0}},   {"AltAnchorPageRange", ""},
        {"AnchorFromAll", int16_t{0}},    {"AnchorToAll", int16_t{0}},     {"HDistanceAll", 0.0},
        {"HFromFieldAll", false},         {"HFieldNameAll", "<None>"},     {"VDistanceAll", 0.0},
        {"VFromFieldAll", false},         {"VFieldNameAll", "<None>"},     {"AnchorFromAlt", int16_t{0}},
        {"AnchorToAlt", int16_t{0}},      {"HDistanceAlt", 0.0},           {"HFromFieldAlt", false},
        {"HFieldNameAlt", "<None>"},      {"VDistanceAlt", 0.0},           {"VFromFieldAlt", false},
        {"VFieldNameAlt", "<None>"},      {"AnchorPriority", int16_t{1}},  {"CanAnchor", false},
        {"Version", int16_t{1}},
    };
    // Written in this order, exactly these keys.
    auto contents = ComPtr<standalone::BagContents>::Query(record);
    const auto entries = contents->Entries();
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].first, expected[i].key);
        const Variant got = record->GetProperty(expected[i].key);
        EXPECT_EQ(got.Type(), expected[i].value.Type()) << expected[i].key;
        EXPECT_EQ(got, expected[i].value) << expected[i].key;
    }
    EXPECT_TRUE(sink.reports.empty());

    // Two calls, two independent records.
    ComPtr<PropertyBag> other = GeneralFunctions::NewAnchorProperties();
    EXPECT_FALSE(SameObject(record, other));
}

TEST(AnchorRecord, StoredCanAnchorSummary) {
    struct Case {
        bool anchor;
        const char* type;
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {true, "NamedElement", "<None>", false}, {true, "NamedElement", "Map", true},
        {true, "Layout", "<None>", true},        {true, "Layout", "Anything", true},
        {false, "Layout", "<None>", false},      {true, "NamedElement", "<none>", true},
        {true, "Bogus", "<None>", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StoredCanAnchor(c.anchor, c.type, c.name), c.expected) << c.type << " " << c.name;
    }
}

TEST(AnchorRecord, PointCodesAreRowMajor) {
    EXPECT_EQ(PointRow(4), 1);
    EXPECT_EQ(PointColumn(4), 1);
    EXPECT_EQ(PointRow(6), 2);
    EXPECT_EQ(PointColumn(6), 0);
    EXPECT_STREQ(kPointLabels[6], "Bottom Left");
    EXPECT_FALSE(IsPointCode(9));
    EXPECT_FALSE(IsPointCode(-1));
}

TEST(AnchorRecord, FailingHostGivesOneReportAndNoRecord) {
    StandaloneHost host;
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const int64_t before = standalone::Tracked::Alive();
    {
        standalone::ScopedFault fault("PropertyBag.SetProperty", 7);
        EXPECT_FALSE(GeneralFunctions::NewAnchorProperties());
    }
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_NE(sink.reports[0].text.find("\tNewAnchorProperties CRVAnchor:GeneralFunctions \r\n"), std::string::npos);
    EXPECT_NE(sink.reports[0].text.find("Injected failure in PropertyBag.SetProperty."), std::string::npos);
    // The partly filled bag is gone.
    EXPECT_EQ(standalone::Tracked::Alive(), before);
}

}  // namespace
}  // namespace crv
