#include "anchor/AnchorRecord.h"
#include "anchor/ReferenceGeometry.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
        {"AnchorElement", false},      {"AnchorType", "Layout"},       {"ElementName", "<None>"},
        {"UseAltAnchoring", false},    {"AltAnchorType", int16_t{0}},  {"AltAnchorPageRange", ""},
        {"AnchorFromAll", int16_t{0}}, {"AnchorToAll", int16_t{0}},    {"HDistanceAll", 0.0},
        {"HFromFieldAll", false},      {"HFieldNameAll", "<None>"},    {"VDistanceAll", 0.0},
        {"VFromFieldAll", false},      {"VFieldNameAll", "<None>"},    {"AnchorFromAlt", int16_t{0}},
        {"AnchorToAlt", int16_t{0}},   {"HDistanceAlt", 0.0},          {"HFromFieldAlt", false},
        {"HFieldNameAlt", "<None>"},   {"VDistanceAlt", 0.0},          {"VFromFieldAlt", false},
        {"VFieldNameAlt", "<None>"},   {"AnchorPriority", int16_t{1}}, {"CanAnchor", false},
        {"Version", int16_t{1}},
    };
    // Written in this order, exactly these keys.
    auto contents = ComPtr<objects::BagContents>::Query(record);
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

TEST(AnchorRecord, ReadConvertsTheChosenKeysInOrderAndStopsAtTheFirstThatDoesNot) {
    StandaloneHost host;
    ScopedRegionalSettings invariant(RegionalSettings::Invariant());
    ComPtr<PropertyBag> bag = NewPropertyBag();
    AnchorRecord().Write(bag);
    bag->SetProperty(key::AnchorElement, "True");
    bag->SetProperty(key::AnchorType, "NamedElement");
    bag->SetProperty(key::AnchorFromAlt, "7");
    bag->SetProperty(key::HDistanceAll, "12.50");
    bag->SetProperty(key::VDistanceAlt, 2.25);
    bag->SetProperty(key::Version, 70000);

    AnchorRecord r;
    r.Read(bag, Without(kEveryKey, {key::AnchorType}));
    EXPECT_TRUE(r.AnchorElement);
    EXPECT_EQ(r.AnchorType, "Layout");  // not read
    EXPECT_EQ(r.Alt.AnchorFrom, 7);
    EXPECT_EQ(r.All.HDistance, 12.5);
    EXPECT_EQ(r.Alt.VDistance, 2.25);
    EXPECT_EQ(r.Version, 70000);  // read as a 32-bit number

    // The keys before a value that does not convert keep their new values, the rest their old.
    bag->SetProperty(key::AnchorType, "NamedElement");
    bag->SetProperty(key::HDistanceAll, "");
    bag->SetProperty(key::AnchorPriority, int16_t{2});
    AnchorRecord partly;
    EXPECT_THROW(partly.Read(bag, kEveryKey), ComError);
    EXPECT_EQ(partly.AnchorType, "NamedElement");
    EXPECT_EQ(partly.AnchorPriority, kPriorityMedium);
}

TEST(AnchorRecord, KeyTableLabelsAndLookup) {
    struct Case {
        const char* key;
        int32_t code;
        const char* label;  // nullptr: none
    };
    const Case cases[] = {
        {"AnchorToAlt", 8, "Bottom Right"}, {"AnchorFromAll", 9, nullptr},   {"AltAnchorType", 2, "Page Range"},
        {"AnchorPriority", 0, "LOW"},       {"AnchorPriority", -1, nullptr}, {"Version", 1, nullptr},
    };
    for (const auto& c : cases) {
        const RecordKey* k = FindRecordKey(c.key);
        ASSERT_NE(k, nullptr) << c.key;
        const char* label = k->Label(c.code);
        EXPECT_EQ(label == nullptr ? std::string("(none)") : std::string(label),
                  c.label == nullptr ? std::string("(none)") : std::string(c.label))
            << c.key << " " << c.code;
    }
    EXPECT_EQ(FindRecordKey("anchorelement"), nullptr);
}

TEST(ReferenceGeometry, MeasuringThenPlacingMovesByNothingAtAllEightyOnePairs) {
    const Extent target{1.5, 2, 7, 9.5, 5.5, 7.5};
    const Extent e{0.3, 0.4, 1.9, 1.2, 1.6, 0.8};
    for (int from = 0; from < 9; ++from) {
        for (int to = 0; to < 9; ++to) {
            const Point measured = MeasuredDistance(from, to, target, e);
            const Point d = Displacement(from, to, target, e, measured.x, measured.y);
            EXPECT_NEAR(d.x, 0, 1e-12) << from << "->" << to;
            EXPECT_NEAR(d.y, 0, 1e-12) << from << "->" << to;
        }
    }
    for (int code = 0; code < 9; ++code) {
        const int16_t mirrored = kHorizontalMirror[static_cast<size_t>(code)];
        EXPECT_EQ(PointRow(mirrored), PointRow(code));
        EXPECT_EQ(PointColumn(mirrored), 2 - PointColumn(code));
    }
}

TEST(AnchorRecord, FailingHostGivesOneReportAndNoRecord) {
    StandaloneHost host;
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const int64_t before = support::Tracked::Alive();
    {
        support::ScopedFault fault("PropertyBag.SetProperty", 7);
        EXPECT_FALSE(GeneralFunctions::NewAnchorProperties());
    }
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_NE(sink.reports[0].text.find("\tNewAnchorProperties CRVAnchor:GeneralFunctions \r\n"), std::string::npos);
    EXPECT_NE(sink.reports[0].text.find("Injected failure in PropertyBag.SetProperty."), std::string::npos);
    // The partly filled bag is gone.
    EXPECT_EQ(support::Tracked::Alive(), before);
}

// docs/record-keys.md lists the key table as it is: every key in order, with its kind and the
// labels of its codes, and an example.
TEST(AnchorRecord, TheRecordKeysDocumentFollowsTheKeyTable) {
    std::ifstream doc(CRV_SOURCE_DIR "/docs/record-keys.md");
    ASSERT_TRUE(doc) << "docs/record-keys.md";
    std::vector<std::string> rows;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("| ", 0) == 0 && line.rfind("| Key ", 0) != 0) rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), kRecordKeyCount);
    for (size_t i = 0; i < kRecordKeyCount; ++i) {
        const RecordKey& k = RecordKeys()[i];
        const char* kind = k.kind == KeyKind::Boolean    ? "boolean"
                           : k.kind == KeyKind::Integer  ? "integer"
                           : k.kind == KeyKind::Distance ? "distance"
                                                         : "text";
        std::string labels;
        for (size_t code = 0; code < k.labels.size(); ++code)
            labels += (code == 0 ? "" : ", ") + std::to_string(code) + " " + k.labels[code];
        const std::string start =
            "| " + std::string(k.name) + " | " + kind + " | " + labels + (labels.empty() ? "| " : " | ");
        EXPECT_EQ(rows[i].substr(0, start.size()), start);
        EXPECT_GT(rows[i].size(), start.size() + 2) << k.name << " has no example";
    }
}

}  // namespace
}  // namespace crv
