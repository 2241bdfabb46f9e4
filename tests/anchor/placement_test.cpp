// Selecting an element and placing it page by page.
#include "Fixture.h"

#include "anchor/PlacementPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>

namespace crv::testing {
namespace {

using standalone::HostEvent;

class PlacementTest : public EngineTest {
protected:
    Rect ExtentOf(const ComPtr<LayoutElement>& e) { return StandaloneHost::ExtentOf(e); }
};

TEST_F(PlacementTest, WorkedPageAndElementExamples) {
    struct Case {
        const char* what;
        std::map<std::string, Variant> keys;
        Rect expected;
    };
    auto reference = host_.AddText("Scale", {2, 3, 6, 4});
    const Case cases[] = {
        {"top left to top left", {}, {0, 10, 2, 11}},
        {"centre to centre", {{key::AnchorFromAll, int16_t{4}}, {key::AnchorToAll, int16_t{4}}}, {3.25, 5, 5.25, 6}},
        {"bottom right, in by one",
         {{key::AnchorFromAll, int16_t{8}},
          {key::AnchorToAll, int16_t{8}},
          {key::HDistanceAll, -1.0},
          {key::VDistanceAll, 1.0}},
         {5.5, 1, 7.5, 2}},
        {"below the scale bar",
         {{key::AnchorType, "NamedElement"},
          {key::ElementName, "Scale"},
          {key::AnchorToAll, int16_t{6}},
          {key::VDistanceAll, -0.25}},
         {2, 1.75, 4, 2.75}},
    };
    for (const auto& c : cases) {
        auto e = host_.AddText(c.what, {1, 1, 3, 2});
        GiveRecord(e, Anchored(c.keys));
        Place(e, 1);
        EXPECT_EQ(ExtentOf(e), c.expected) << c.what;
    }
    (void)reference;
    EXPECT_TRUE(sink_.reports.empty());
}

// Each of the nine points of a 2 x 1 element put on the same point of the 8.5 x 11 page.
TEST_F(PlacementTest, EachPointOfThePageTakesTheSamePointOfTheElement) {
    const Rect expected[9] = {{0, 10, 2, 11}, {3.25, 10, 5.25, 11}, {6.5, 10, 8.5, 11},
                              {0, 5, 2, 6},   {3.25, 5, 5.25, 6},   {6.5, 5, 8.5, 6},
                              {0, 0, 2, 1},   {3.25, 0, 5.25, 1},   {6.5, 0, 8.5, 1}};
    for (int16_t code = 0; code < 9; ++code) {
        auto e = host_.AddText("Folio", {1, 1, 3, 2});
        GiveRecord(e, Anchored({{key::AnchorFromAll, code}, {key::AnchorToAll, code}}));
        Place(e, 1);
        EXPECT_EQ(ExtentOf(e), expected[code]) << "point " << code;
    }
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(PlacementTest, MapFramesAreMeasuredByOutlineNotBounds) {
    host_.AddMapFrame("Map", {1, 1, 5, 5}, 0.5);  // bounds 0.5..5.5
    auto moving_frame = host_.AddMapFrame("Inset", {0, 0, 2, 2}, 0.25);
    GiveRecord(moving_frame, Anchored({{key::AnchorType, "NamedElement"},
                                       {key::ElementName, "Map"},
                                       {key::AnchorFromAll, int16_t{6}},
                                       {key::AnchorToAll, int16_t{0}}}));
    Place(moving_frame, 1);
    // The inset's outline bottom-left sits on the map's outline top-left.
    EXPECT_EQ(ExtentOf(moving_frame), (Rect{1, 5, 3, 7}));
}

TEST_F(PlacementTest, MovesThenUpdatesThenRedrawsOnlyTheElement) {
    host_.AddText("Scale", {2, 3, 6, 4});
    struct Case {
        const char* type;
        double dx;
        double dy;
    };
    // Top left onto the page's top left, or onto the scale bar's.
    const Case cases[] = {{"Layout", -1, 9}, {"NamedElement", 1, 2}};
    for (const auto& c : cases) {
        auto e = host_.AddText("Title", {1, 1, 3, 2});
        GiveRecord(e, Anchored({{key::AnchorType, c.type}, {key::ElementName, "Scale"}}));
        host_.State().log_events = true;
        host_.State().events.clear();
        auto m = NewManager();
        m->SetAnchorElement(e);
        m->AnchorElement(1);
        m->AnchorElement(2);  // already in place: still moved by zero, updated and redrawn
        const auto& ev = host_.State().events;
        ASSERT_EQ(ev.size(), 6u) << c.type;
        for (size_t call = 0; call < 2; ++call) {
            const HostEvent& move = ev[3 * call];
            EXPECT_EQ(move.kind, HostEvent::Kind::Move) << c.type;
            EXPECT_EQ(move.element, "Title") << c.type;
            EXPECT_DOUBLE_EQ(move.dx, call == 0 ? c.dx : 0) << c.type;
            EXPECT_DOUBLE_EQ(move.dy, call == 0 ? c.dy : 0) << c.type;
            EXPECT_EQ(ev[3 * call + 1].kind, HostEvent::Kind::Update) << c.type;
            EXPECT_EQ(ev[3 * call + 1].element, "Title") << c.type;
            const HostEvent& redraw = ev[3 * call + 2];
            EXPECT_EQ(redraw.kind, HostEvent::Kind::Refresh) << c.type;
            EXPECT_EQ(redraw.phase, 8) << c.type;
            EXPECT_FALSE(redraw.had_area) << c.type;
            EXPECT_EQ(redraw.element, "Title") << c.type;
        }
    }
    EXPECT_TRUE(sink_.reports.empty());
}

// Which rule set a page takes, seen from where the element lands: the primary rule puts it
// at the page's left edge, the alternate one at its right edge.
class AlternateTest : public PlacementTest {
protected:
    ComPtr<LayoutElement> Mirrored(std::map<std::string, Variant> keys) {
        auto e = host_.AddText("Folio", {1, 1, 2, 2});
        keys.emplace(key::UseAltAnchoring, true);
        keys.emplace(key::AnchorFromAlt, int16_t{2});
        keys.emplace(key::AnchorToAlt, int16_t{2});
        GiveRecord(e, Anchored(keys));
        return e;
    }
    bool AlternateOn(const ComPtr<_CRVAnchorManager>& m, const ComPtr<LayoutElement>& e, int32_t page) {
        m->AnchorElement(page);
        return ExtentOf(e).xmax == 8.5;
    }
};

TEST_F(AlternateTest, EvenOddAndListedPages) {
    struct Case {
        Variant type;
        const char* range;
        std::vector<int32_t> alternate;
        std::vector<int32_t> primary;
    };
    const Case cases[] = {
        {int16_t{0}, "", {4, 0, -2, 2147483646}, {3, 1, -1, -2147483647}},
        {int16_t{1}, "", {3, -1, 1}, {4, 0, 2}},
        {int16_t{2}, " 1-3, 7 ,10-10", {1, 2, 3, 7, 10}, {4, 0, 6, 8, 11}},
        {int16_t{2}, "4-3,3-,-3,1-2-3,a,5", {5}, {3, 4, 1, 2}},
        {int16_t{2}, "2.5,3.5", {2, 4}, {3}},
        {int16_t{2}, "1-32000", {1, 16000, 32000}, {0, 32001}},
        {int16_t{2}, "32767,00009", {32767, 9}, {32766, 10}},
        {int16_t{2}, "7-5,9", {9}, {5, 6, 7}},
        // Parentheses are no sign, and only the blank is dropped: a tab spoils its piece.
        {int16_t{2}, "(2)-5,9", {9}, {-2, 0, 2, 5}},
        {int16_t{2}, "\t4,9, 1 2", {9, 12}, {4}},
        {int16_t{2}, "+3-1e1", {3, 10}, {2, 11}},
        {int16_t{3}, "", {}, {1, 2, 3}},
        {int16_t{-1}, "", {}, {1, 2}},
        {"1", "", {3}, {2}},  // a numeric text converts like the number
    };
    for (const auto& c : cases) {
        auto e = Mirrored({{key::AltAnchorType, c.type}, {key::AltAnchorPageRange, c.range}});
        auto m = NewManager();
        m->SetAnchorElement(e);
        for (int32_t p : c.alternate) EXPECT_TRUE(AlternateOn(m, e, p)) << c.range << " page " << p;
        for (int32_t p : c.primary) EXPECT_FALSE(AlternateOn(m, e, p)) << c.range << " page " << p;
    }
    EXPECT_TRUE(sink_.reports.empty()) << sink_.reports[0].text;
}

TEST_F(AlternateTest, PageTestsThatCannotBeMadeMoveNothing) {
    struct Case {
        const char* range;
        int32_t page;
        const char* description;
        const char* innermost;
    };
    const Case cases[] = {
        {"", 1, "The alternate page range lists no page number.", "ExistsInCollection"},
        {"a, b-c, 4-", 1, "The alternate page range lists no page number.", "ExistsInCollection"},
        {"1-40000", 1, "Overflow", "ParseOutPages"},
        {"32768", 1, "Overflow", "ParseOutPages"},
        {"32767.5", 1, "Overflow", "ParseOutPages"},
        {"1", 2147483647, "Overflow", "Anchor"},  // the page arithmetic is 32-bit
    };
    for (const auto& c : cases) {
        sink_.reports.clear();
        auto e = Mirrored({{key::AltAnchorType, int16_t{2}}, {key::AltAnchorPageRange, c.range}});
        auto m = NewManager();
        m->SetAnchorElement(e);
        const Rect before = ExtentOf(e);
        m->AnchorElement(c.page);
        EXPECT_EQ(ExtentOf(e), before) << c.range;
        ASSERT_EQ(Descriptions(), std::vector<std::string>{c.description}) << c.range;
        const std::string stack =
            "\tAnchorElement CRVAnchor:CRVAnchorManager \r\n\tAnchor CRVAnchor:CRVAnchorManager \r\n" +
            (std::string(c.innermost) == "Anchor"
                 ? std::string()
                 : "\t" + std::string(c.innermost) + " CRVAnchor:CRVAnchorManager \r\n") +
            "\r\nError Number ";
        EXPECT_NE(sink_.reports[0].text.find(stack), std::string::npos) << sink_.reports[0].text;
    }
}

// One manager placing page after page reads the page range as it stands at each placement:
// after the record's text changed and the element was selected again, under the regional
// settings of the moment, and with the same report each time a text names no page.
TEST_F(AlternateTest, EveryPlacementTestsThePageRangeInForce) {
    auto e = Mirrored({{key::AltAnchorType, int16_t{2}}, {key::AltAnchorPageRange, "1-3"}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    EXPECT_TRUE(AlternateOn(m, e, 2));
    EXPECT_FALSE(AlternateOn(m, e, 7));

    struct Step {
        const char* range;  // the record's new text, the element selected again
        std::vector<int32_t> alternate;
        std::vector<int32_t> primary;
    };
    const Step steps[] = {{"7", {7}, {2, 3}}, {"2-3 , 9", {2, 3, 9}, {1, 7}}, {" 1-3", {2}, {9}}};
    for (const auto& step : steps) {
        GiveRecord(e, Anchored({{key::UseAltAnchoring, true},
                                {key::AnchorFromAlt, int16_t{2}},
                                {key::AnchorToAlt, int16_t{2}},
                                {key::AltAnchorType, int16_t{2}},
                                {key::AltAnchorPageRange, step.range}}));
        m->SetAnchorElement(e);
        for (int32_t p : step.alternate) EXPECT_TRUE(AlternateOn(m, e, p)) << step.range << " page " << p;
        for (int32_t p : step.primary) EXPECT_FALSE(AlternateOn(m, e, p)) << step.range << " page " << p;
    }

    // "2.5" is a number where the decimal separator is "." and none where it is ",".
    GiveRecord(e, Anchored({{key::UseAltAnchoring, true},
                            {key::AnchorFromAlt, int16_t{2}},
                            {key::AnchorToAlt, int16_t{2}},
                            {key::AltAnchorType, int16_t{2}},
                            {key::AltAnchorPageRange, "2.5, 9"}}));
    m->SetAnchorElement(e);
    {
        ScopedRegionalSettings dot(RegionalSettings::Invariant());
        EXPECT_TRUE(AlternateOn(m, e, 2));
    }
    {
        RegionalSettings comma = RegionalSettings::Invariant();
        comma.decimal_separator = ",";
        comma.group_separator = ".";
        ScopedRegionalSettings scoped(comma);
        EXPECT_FALSE(AlternateOn(m, e, 2));
        EXPECT_TRUE(AlternateOn(m, e, 9));
    }
    EXPECT_TRUE(sink_.reports.empty()) << sink_.reports[0].text;

    GiveRecord(
        e,
        Anchored({{key::UseAltAnchoring, true}, {key::AltAnchorType, int16_t{2}}, {key::AltAnchorPageRange, "6-5"}}));
    m->SetAnchorElement(e);
    m->AnchorElement(1);
    m->AnchorElement(1);
    EXPECT_EQ(Descriptions(), (std::vector<std::string>(2, "The alternate page range lists no page number.")));
    for (const auto& report : sink_.reports) {
        EXPECT_NE(report.text.find("\tAnchor CRVAnchor:CRVAnchorManager \r\n\tExistsInCollection "
                                   "CRVAnchor:CRVAnchorManager \r\n\r\n"),
                  std::string::npos)
            << report.text;
    }
}

// Both readers give the same pages whatever the order of the pieces, overlapping or touching,
// and the plain reader declines what only the regional one reads.
TEST(PageListReaders, PiecesInAnyOrderNameTheSamePages) {
    struct Case {
        std::string text;
        std::vector<int32_t> pages;  // of 0..20
        bool plain;
    };
    const std::vector<Case> cases = {
        {"1-3, 7, 10-12", {1, 2, 3, 7, 10, 11, 12}, true},
        {"10-12,7,1-3", {1, 2, 3, 7, 10, 11, 12}, true},
        {"5-9,1-6", {1, 2, 3, 4, 5, 6, 7, 8, 9}, true},
        {"4,3,2,1,2", {1, 2, 3, 4}, true},
        {"9-9,8-8,20,0", {0, 8, 9, 20}, true},
        {"6-5,2", {2}, true},
        {"+3,1.6", {2, 3}, false},
        {"-2--1,4", {4}, true},
        // Rounded as written, not as the nearest double: only an exact half goes to the even page.
        {"0.50000000000000001", {1}, false},
        {"0.5,2.5", {0, 2}, false},
        {"1.4999999999999999999", {1}, false},
        {"2.5000000000000000000000000001-4", {3, 4}, false},
        {"1.5E0,0.165e2", {2, 16}, false},
        {"-0.5,0.0000000000000000000000000009", {0}, false},
        {"6.50000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000001",
         {7}, false},
    };
    for (const Case& c : cases) {
        const auto regional = ReadPageList(c.text, RegionalSettings::Invariant());
        ASSERT_TRUE(regional) << c.text;
        EXPECT_EQ(regional->Count(), c.pages.size()) << c.text;
        const auto plain = ReadPlainPageList(c.text);
        EXPECT_EQ(plain.has_value(), c.plain) << c.text;
        for (int32_t p = -3; p <= 21; ++p) {
            const bool listed = std::count(c.pages.begin(), c.pages.end(), p) == 1;
            EXPECT_EQ(regional->Contains(p), listed) << c.text << " page " << p;
            if (plain) {
                EXPECT_EQ(plain->Contains(p), listed) << c.text << " page " << p;
            }
        }
        // Kept as ascending ranges that neither overlap nor touch.
        const auto& ranges = regional->Ranges();
        for (size_t i = 1; i < ranges.size(); ++i) EXPECT_GT(ranges[i].first, ranges[i - 1].last + 1) << c.text;
    }
    PageList extremes(INT32_MIN, INT32_MIN + 1);
    extremes.Add(INT32_MAX - 1, INT32_MAX);
    extremes.Add(0, 0);
    EXPECT_EQ(extremes.Count(), 5u);
    EXPECT_TRUE(extremes.Contains(INT32_MIN) && extremes.Contains(INT32_MAX) && extremes.Contains(0));
    EXPECT_FALSE(extremes.Contains(1) || extremes.Contains(-1));
}

// A tool checks a page-range text with ReadPageList, which raises a plain error: the next
// report of the engine is whole all the same.
TEST_F(AlternateTest, AToolsFailedPageListLeavesTheNextReportWhole) {
    EXPECT_THROW(ReadPageList("1-40000", RegionalSettings::Invariant()), ComError);
    auto m = NewManager();
    m->AnchorElement(1);
    ASSERT_EQ(Descriptions(), std::vector<std::string>{"AnchorElement has not been set."});
    EXPECT_NE(
        sink_.reports[0].text.find("\tAnchorElement CRVAnchor:CRVAnchorManager \r\n\r\nError Number \r\n\t-2147220991"),
        std::string::npos);
}

TEST_F(AlternateTest, UndefinedPointCodesAreReportedAndMoveNothing) {
    for (const auto& [from, to] : std::vector<std::pair<int16_t, int16_t>>{{0, 9}, {-1, 0}, {12, 4}}) {
        sink_.reports.clear();
        auto e = host_.AddText("Odd code", {1, 1, 2, 2});
        GiveRecord(e, Anchored({{key::AnchorFromAll, from}, {key::AnchorToAll, to}}));
        Place(e, 1);
        EXPECT_EQ(ExtentOf(e), (Rect{1, 1, 2, 2}));
        ASSERT_EQ(sink_.reports.size(), 1u);
        const int16_t bad = IsPointCode(to) ? from : to;
        EXPECT_NE(Descriptions()[0].find("Undefined anchor point code " + std::to_string(bad)), std::string::npos);
        EXPECT_NE(sink_.reports[0].text.find("\tAnchorElementToPage CRVAnchor:CRVAnchorManager \r\n"),
                  std::string::npos);
    }
}

TEST_F(AlternateTest, AlternateRulesAreIgnoredUnlessInUse) {
    auto e = host_.AddText("Folio", {1, 1, 2, 2});
    GiveRecord(e, Anchored({{key::UseAltAnchoring, false},
                            {key::AltAnchorType, int16_t{0}},
                            {key::AnchorToAlt, int16_t{2}},
                            {key::AnchorFromAlt, int16_t{2}}}));
    auto m = NewManager();
    m->SetAnchorElement(e);
    EXPECT_FALSE(AlternateOn(m, e, 2));
}

TEST_F(AlternateTest, SectionTemplatesOffsetThePageTested) {
    // Another template with a section of the same name, at a page of the other parity: the
    // offset is the page of the section of the template in force.
    standalone::SectionTemplate other;
    other.current_section = "Index";
    other.section_pages["Index"] = int32_t{4};
    host_.SetSectionTemplate("Atlas", other);
    standalone::SectionTemplate t;
    t.starting_page = int32_t{1};
    t.current_section = "Index";
    t.section_pages["Index"] = int32_t{5};
    host_.SetSectionTemplate("Book", t);
    auto e = Mirrored({{key::AltAnchorType, int16_t{1}}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    EXPECT_TRUE(AlternateOn(m, e, 3));  // effective page 7
    EXPECT_FALSE(AlternateOn(m, e, 4));  // effective page 8
    // A series layout in force is no section template: no offset.
    host_.SetSeriesLayout("Atlas", int32_t{9});
    EXPECT_FALSE(AlternateOn(m, e, 4));
    EXPECT_TRUE(AlternateOn(m, e, 3));
}

TEST_F(AlternateTest, ASectionStartingOnAnEvenPageFlipsWhichPagesAreOdd) {
    standalone::SectionTemplate t;
    t.starting_page = int32_t{1};
    t.current_section = "Maps";
    t.section_pages["Maps"] = int32_t{2};
    host_.SetSectionTemplate("Atlas", t);
    auto e = Mirrored({{key::AltAnchorType, int16_t{1}}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    EXPECT_FALSE(AlternateOn(m, e, 3));  // effective page 4
    EXPECT_TRUE(AlternateOn(m, e, 4));  // effective page 5
    EXPECT_TRUE(sink_.reports.empty());
}

class SeriesTest : public PlacementTest {
protected:
    SeriesTest() {
        frame_ = host_.AddMapFrame("Map", {1, 1, 7, 9});
        objects::SeriesData data;
        data.fields = {{"OBJECTID", fieldtype::kObjectId}, {"Label", fieldtype::kString}, {"Dx", fieldtype::kDouble},
                       {"Dy", fieldtype::kSmallInteger},   {"When", fieldtype::kDate},    {"dx", fieldtype::kDouble}};
        data.features = {{int32_t{1}, "A", 0.5, int16_t{1}, "2020-01-01", 9.0},
                         {int32_t{2}, "B", Variant::Null(), int16_t{2}, "2020-01-02", 9.0},
                         {int32_t{3}, "C", 1.5, Variant::Null(), "2020-01-03", 9.0}};
        data.first_page_number = 5;
        series_ = host_.AttachSeries(frame_, data);
    }
    ComPtr<LayoutElement> Arrow(std::map<std::string, Variant> keys) {
        auto e = host_.AddText("North Arrow", {0, 0, 1, 1});
        keys.emplace(key::AnchorType, "NamedElement");
        keys.emplace(key::ElementName, "Map");
        keys.emplace(key::AnchorFromAll, int16_t{2});
        keys.emplace(key::AnchorToAll, int16_t{2});
        GiveRecord(e, Anchored(keys));
        return e;
    }
    ComPtr<LayoutElement> frame_;
    std::shared_ptr<objects::SeriesData> series_;
};

TEST_F(SeriesTest, FieldDistancesPerPageWithNullFallingBack) {
    auto e = Arrow({{key::HFromFieldAll, true},
                    {key::HFieldNameAll, "Dx"},
                    {key::HDistanceAll, -0.25},
                    {key::VFromFieldAll, true},
                    {key::VFieldNameAll, "Dy"},
                    {key::VDistanceAll, 0.125}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    ASSERT_TRUE(m->CurrentState().UseFieldDistances);
    struct Case {
        int32_t page;
        double right;
        double top;
        int32_t position;
    };
    // First page number 5: page 6 is the feature at position 2.
    const Case cases[] = {{5, 7.5, 10, 1}, {6, 6.75, 11, 2}, {7, 8.5, 9.125, 3}};
    for (const auto& c : cases) {
        m->AnchorElement(c.page);
        EXPECT_DOUBLE_EQ(ExtentOf(e).xmax, c.right) << c.page;
        EXPECT_DOUBLE_EQ(ExtentOf(e).ymax, c.top) << c.page;
        EXPECT_EQ(series_->current_position, c.position);
    }
    EXPECT_TRUE(sink_.reports.empty());
}

// A tool's plan of a placement is the move the engine then makes, or the engine reports and
// moves nothing where the plan cannot be made: every kind of rule, on pages inside and outside
// the series, with and without a section template in force, from a place the element was
// pushed away from first.
TEST_F(SeriesTest, ThePlanOfAPlacementIsTheMoveTheEngineMakes) {
    const std::vector<std::pair<std::string, std::map<std::string, Variant>>> records = {
        {"page, default", {}},
        {"page, odd and even",
         {{key::UseAltAnchoring, true},
          {key::AltAnchorType, int16_t{1}},
          {key::AnchorFromAlt, int16_t{2}},
          {key::AnchorToAlt, int16_t{2}},
          {key::HDistanceAll, 0.5}}},
        {"page, listed pages",
         {{key::UseAltAnchoring, true},
          {key::AltAnchorType, int16_t{2}},
          {key::AltAnchorPageRange, "8, 4-5"},
          {key::AnchorFromAlt, int16_t{8}},
          {key::AnchorToAlt, int16_t{8}}}},
        {"page, out of reach", {{key::HDistanceAll, 5e6}}},
        {"page, a list naming no page",
         {{key::UseAltAnchoring, true}, {key::AltAnchorType, int16_t{2}}, {key::AltAnchorPageRange, "x"}}},
        {"map, fixed", {{key::AnchorType, "NamedElement"}, {key::ElementName, "Map"}, {key::VDistanceAll, -1.5}}},
        {"map, fields",
         {{key::AnchorType, "NamedElement"},
          {key::ElementName, "Map"},
          {key::HFromFieldAll, true},
          {key::HFieldNameAll, "Dx"},
          {key::VFromFieldAll, true},
          {key::VFieldNameAll, "Dy"},
          {key::VDistanceAll, 0.25}}},
        {"map, fields on odd pages only",
         {{key::AnchorType, "NamedElement"},
          {key::ElementName, "Map"},
          {key::UseAltAnchoring, true},
          {key::AltAnchorType, int16_t{1}},
          {key::HFromFieldAlt, true},
          {key::HFieldNameAlt, "Dx"},
          {key::AnchorFromAlt, int16_t{4}},
          {key::AnchorToAlt, int16_t{6}}}},
        {"map, an undefined point code",
         {{key::AnchorType, "NamedElement"}, {key::ElementName, "Map"}, {key::AnchorToAll, int16_t{9}}}},
    };
    // An even first page: the position in the series, which the alternate rule of a record with
    // distance fields tests, then has the other parity than the page.
    series_->first_page_number = 4;
    const PlanHost find{[](const std::string& name) {
        return GeneralFunctions::FindElementByName(RunningApplication()->Document(), name);
    }};
    for (const bool sections : {false, true}) {
        if (sections) {
            standalone::SectionTemplate t;
            t.starting_page = int32_t{1};
            t.current_section = "Maps";
            t.section_pages["Maps"] = int32_t{2};
            host_.SetSectionTemplate("Atlas", t);
        }
        for (const auto& [what, keys] : records) {
            auto e = host_.AddText("Label " + what, {1, 1, 2, 1.5});
            GiveRecord(e, Anchored(keys));
            AnchorRecord r;
            r.Read(GeneralFunctions::GetAnchorProperties(e), kEveryKey);
            auto m = NewManager();
            m->SetAnchorElement(e);
            for (int32_t page = 3; page <= 9; ++page) {
                const std::string at = what + ", page " + std::to_string(page) + (sections ? ", sections" : "");
                e->Move(0.75, -0.5);
                const Rect before = ExtentOf(e);
                const int32_t position = series_->current_position;
                std::optional<PlacementPlan> plan;
                try {
                    plan = PlanPlacement(r, e, page, find);
                } catch (const ComError&) {}
                EXPECT_EQ(series_->current_position, position) << at << ": the plan hands no page back";
                sink_.reports.clear();
                m->AnchorElement(page);
                if (!plan || !plan->displacement) {
                    EXPECT_EQ(sink_.reports.size(), 1u) << at;
                    EXPECT_EQ(ExtentOf(e), before) << at;
                    continue;
                }
                EXPECT_TRUE(sink_.reports.empty()) << at;
                EXPECT_EQ(ExtentOf(e), before.Moved(plan->displacement->x, plan->displacement->y)) << at;
            }
        }
    }
}

TEST_F(SeriesTest, TheAlternateRuleReadsItsOwnFields) {
    // The primary rule reads no field; the alternate one, on odd positions, reads both.
    auto e = Arrow({{key::UseAltAnchoring, true},
                    {key::AltAnchorType, int16_t{1}},
                    {key::AnchorFromAlt, int16_t{2}},
                    {key::AnchorToAlt, int16_t{2}},
                    {key::HFromFieldAlt, true},
                    {key::HFieldNameAlt, "Dx"},
                    {key::HDistanceAlt, -0.25},
                    {key::VFromFieldAlt, true},
                    {key::VFieldNameAlt, "Dy"},
                    {key::VDistanceAlt, 0.125}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    ASSERT_TRUE(m->CurrentState().UseFieldDistances);
    struct Case {
        int32_t page;
        double right;
        double top;
    };
    const Case cases[] = {{5, 7.5, 10}, {6, 7, 9}, {7, 8.5, 9.125}};
    for (const auto& c : cases) {
        m->AnchorElement(c.page);
        EXPECT_DOUBLE_EQ(ExtentOf(e).xmax, c.right) << c.page;
        EXPECT_DOUBLE_EQ(ExtentOf(e).ymax, c.top) << c.page;
    }
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(SeriesTest, PositionInTheSeriesIsThePageTested) {
    auto e = Arrow({{key::HFromFieldAll, true},
                    {key::HFieldNameAll, "Dx"},
                    {key::UseAltAnchoring, true},
                    {key::AltAnchorType, int16_t{0}},
                    {key::AnchorFromAlt, int16_t{0}},
                    {key::AnchorToAlt, int16_t{0}}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    m->AnchorElement(6);  // position 2: even, the alternate rule
    EXPECT_DOUBLE_EQ(ExtentOf(e).xmin, 1);
    m->AnchorElement(7);  // position 3: odd, the primary rule, field distance 1.5
    EXPECT_DOUBLE_EQ(ExtentOf(e).xmax, 8.5);
}

TEST_F(SeriesTest, APageOutsideTheSeriesCannotReadAField) {
    auto e = Arrow({{key::HFromFieldAll, true}, {key::HFieldNameAll, "Dx"}});
    auto m = NewManager();
    m->SetAnchorElement(e);
    m->AnchorElement(5);
    const Rect before = ExtentOf(e);
    m->AnchorElement(8);
    EXPECT_EQ(ExtentOf(e), before);
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_NE(sink_.reports[0].text.find(
                  "\tAnchorElement CRVAnchor:CRVAnchorManager \r\n\tAnchor CRVAnchor:CRVAnchorManager \r\n"),
              std::string::npos);
    EXPECT_FALSE(m->CurrentState().CurrentPageFeature);
    // A page outside the series is fine when no field is read for it.
    auto fixed = Arrow({{key::HFromFieldAll, true},
                        {key::HFieldNameAll, "<None>"},
                        {key::VFromFieldAll, true},
                        {key::VFieldNameAll, "Dy"}});
    auto m2 = NewManager();
    m2->SetAnchorElement(fixed);
    ASSERT_TRUE(m2->CurrentState().UseFieldDistances);
    m2->AnchorElement(5);
    EXPECT_EQ(sink_.reports.size(), 1u);
}

TEST_F(SeriesTest, FieldCheckAtSelection) {
    struct Case {
        const char* what;
        std::map<std::string, Variant> keys;
        bool set;
    };
    const Case cases[] = {
        {"numeric field", {{key::HFromFieldAll, true}, {key::HFieldNameAll, "Dx"}}, true},
        {"flag with <None>", {{key::VFromFieldAlt, true}}, true},
        {"text field", {{key::HFromFieldAll, true}, {key::HFieldNameAll, "Label"}}, false},
        {"date field", {{key::HFromFieldAll, true}, {key::HFieldNameAll, "When"}}, false},
        {"object id", {{key::HFromFieldAll, true}, {key::HFieldNameAll, "OBJECTID"}}, true},
        {"other case only", {{key::HFromFieldAll, true}, {key::HFieldNameAll, "DX"}}, false},
        {"unflagged name must exist too", {{key::HFromFieldAll, true}, {key::VFieldNameAlt, "Missing"}}, false},
    };
    for (const auto& c : cases) {
        sink_.reports.clear();
        auto e = Arrow(c.keys);
        auto m = NewManager();
        m->SetAnchorElement(e);
        EXPECT_EQ(m->CurrentState().ElementIsSet, c.set) << c.what;
        if (!c.set) {
            EXPECT_EQ(Descriptions(), std::vector<std::string>{"Error accessing parent Map Series Frame fields."})
                << c.what;
            EXPECT_FALSE(m->CurrentState().SeriesFrame);
            EXPECT_FALSE(m->CurrentState().IndexFields);
            EXPECT_FALSE(m->CurrentState().SeriesIndexLayer);
            EXPECT_FALSE(m->CurrentState().ReferenceMapFrame);
        }
    }
}

TEST_F(SeriesTest, DistancesThatWouldTakeTheElementOutOfReachAreRefused) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        Variant field;  // Dx on page 5
        double fixed;
        const char* description;
    };
    const Case cases[] = {
        {"no-data value", -3.4e38, -0.25,
         "Moving the element by (-3.4E+38, 8) would put it more than 1000000 page units"},
        {"huge field value", 1e300, -0.25,
         "Moving the element by (1E+300, 8) would put it more than 1000000 page units"},
        {"huge fixed distance", Variant::Null(), 2e6, "Moving the element by (2000006, 8) would put it more than"},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), 0, "Overflow"},
        {"infinite", -kInf, 0, "Overflow"},
        {"infinite text", "1e400", 0, "Overflow"},
    };
    for (const auto& c : cases) {
        sink_.reports.clear();
        series_->features[0][2] = c.field;
        auto e = Arrow({{key::HFromFieldAll, true}, {key::HFieldNameAll, "Dx"}, {key::HDistanceAll, c.fixed}});
        auto m = NewManager();
        m->SetAnchorElement(e);
        const Rect before = ExtentOf(e);
        m->AnchorElement(5);
        EXPECT_EQ(ExtentOf(e), before) << c.what;
        ASSERT_EQ(sink_.reports.size(), 1u) << c.what;
        EXPECT_EQ(Descriptions()[0].rfind(c.description, 0), 0u) << c.what << ": " << Descriptions()[0];
        // The element keeps its size and is placed on the next page as ever.
        m->AnchorElement(7);
        EXPECT_EQ(ExtentOf(e), (Rect{7.5, 8, 8.5, 9})) << c.what;
    }
}

TEST_F(SeriesTest, LayoutRecordsNeverReadFields) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    GiveRecord(e, Anchored({{key::HFromFieldAll, true}, {key::HFieldNameAll, "Dx"}, {key::HDistanceAll, 2.0}}));
    auto m = NewManager();
    m->SetAnchorElement(e);
    EXPECT_FALSE(m->CurrentState().UseFieldDistances);
    EXPECT_FALSE(m->CurrentState().SeriesFrame);
    m->AnchorElement(5);
    EXPECT_DOUBLE_EQ(ExtentOf(e).xmin, 2);
}

}  // namespace
}  // namespace crv::testing
