// Measuring the element's present distances, and mirroring the primary rule.
#include "PageFixture.h"

namespace crv::testing {
namespace {

using Boxes2 = std::pair<std::string, std::string>;
const RegionalSettings kComma{",", ".", {3}, true, RegionalSettings::NegativeStyle::Minus};

class CommandTest : public PageTest {
protected:
    CommandTest() {
        edited_ = host_.AddText("Title", {1, 2, 3, 4});
        host_.AddText("Legend", {5, 5, 7, 9});
    }
    void OpenWith(const std::map<std::string, Variant>& keys) {
        std::map<std::string, Variant> all = keys;
        all.emplace(key::UseAltAnchoring, true);
        GiveRecord(edited_, all);
        Open(edited_);
    }
    std::pair<std::string, std::string> Boxes(bool primary) {
        return {S(Text(primary ? "txtHDistanceAll" : "txtHDistanceAlt")->text()),
                S(Text(primary ? "txtVDistanceAll" : "txtVDistanceAlt")->text())};
    }
    ComPtr<LayoutElement> edited_;
};

TEST_F(CommandTest, CurrentDistancesOfTheWorkedExampleInBothDecimalStyles) {
    const struct {
        const char* target;  // "Layout" or an element name
        int16_t from, to;
        const char *x, *y;  // with a decimal point; the comma style swaps in a comma
    } cases[] = {
        {"Layout", 0, 0, "1.00", "-7.00"}, {"Layout", 4, 4, "-2.25", "-2.50"}, {"Layout", 8, 8, "-5.50", "2.00"},
        {"Layout", 2, 6, "3.00", "4.00"},  {"Legend", 0, 7, "-5.00", "-1.00"}, {"Legend", 5, 3, "-2.00", "-4.00"},
    };
    auto styled = [](std::string text, bool comma) {
        if (comma) text[text.find('.')] = ',';
        return text;
    };
    for (const bool comma : {false, true}) {
        ScopedRegionalSettings rs(comma ? kComma : RegionalSettings::Invariant());
        for (const bool primary : {true, false}) {
            for (const auto& c : cases) {
                const bool page = std::string(c.target) == "Layout";
                const char* suffix = primary ? "All" : "Alt";
                OpenWith({{key::ElementName, page ? "<None>" : c.target},
                          {key::AnchorType, page ? "Layout" : "NamedElement"},
                          {std::string("AnchorFrom") + suffix, c.from},
                          {std::string("AnchorTo") + suffix, c.to}});
                const int before = Notifications();
                Click(primary ? "cmdGetCurrentXYPrimary" : "cmdGetCurrentXYAlternate");
                const auto [x, y] = Boxes(primary);
                const std::string what = std::string(c.target) + " " + std::to_string(c.from) + "->" +
                                         std::to_string(c.to) + (primary ? " primary" : " alternate");
                EXPECT_EQ(Boxes2(x, y), Boxes2(styled(c.x, comma), styled(c.y, comma))) << what;
                EXPECT_TRUE(Working(primary ? key::HDistanceAll : key::HDistanceAlt) == Variant(x)) << what;
                EXPECT_TRUE(Working(primary ? key::VDistanceAll : key::VDistanceAlt) == Variant(y)) << what;
                EXPECT_GT(Notifications(), before) << what;
                // The other rule's boxes are left alone.
                EXPECT_EQ(Boxes(!primary), (Boxes2{"0", "0"})) << what;
            }
        }
    }
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(CommandTest, MeasuredTextFollowsGroupingAndNegativeStyle) {
    RegionalSettings rs;
    rs.negative = RegionalSettings::NegativeStyle::Parentheses;
    rs.leading_zero = false;
    ScopedRegionalSettings scope(rs);
    StandaloneHost::ElementOf(edited_).SetRect({1234.567, 10.85, 1236, 11.05});
    OpenWith({});
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"1,234.57", ".05"}));
    StandaloneHost::ElementOf(edited_).SetRect({-0.5, 11.25, 0, 11.5});
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"(.50)", ".50"}));
}

TEST_F(CommandTest, MapFramesAreMeasuredByTheirOutlineAndNoFromPointIsTheTopLeft) {
    auto frame = host_.AddMapFrame("Inset", {1, 2, 3, 4}, 0.5);
    // The frame measured against itself: outline to outline.
    for (const auto& [from, expected] :
         {std::pair{int16_t{8}, Boxes2{"2.00", "-2.00"}}, {int16_t{0}, {"1.00", "-7.00"}}}) {
        GiveRecord(frame, {{key::AnchorType, from == 8 ? "NamedElement" : "Layout"},
                           {key::ElementName, "Inset"},
                           {key::AnchorFromAll, from}});
        Open(frame);
        Click("cmdGetCurrentXYPrimary");
        EXPECT_EQ(Boxes(true), expected);
    }
    OpenWith({{key::AnchorFromAll, int16_t{-1}}, {key::AnchorToAll, int16_t{4}}});
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"-3.25", "-1.50"}));
}

TEST_F(CommandTest, WithoutAReferenceElementNothingChanges) {
    OpenWith({{key::AnchorType, "NamedElement"}, {key::HDistanceAll, 0.5}});
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"0.5", "0"}));
    EXPECT_EQ(Notifications(), 0);
    EXPECT_TRUE(sink_.reports.empty());

    // A reference that has left the layout: the lookup reports it, the command changes nothing.
    OpenWith({{key::AnchorType, "NamedElement"}, {key::ElementName, "Gone"}, {key::HDistanceAll, 0.5}});
    sink_.reports.clear();
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"0.5", "0"}));
    EXPECT_EQ(Notifications(), 0);
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "Dlement Not found."));
}

TEST_F(CommandTest, HostFailureWhileMeasuringIsReportedAndChangesNothing) {
    OpenWith({});
    support::ScopedFault fault("LayoutElement.QueryBounds");
    Click("cmdGetCurrentXYPrimary");
    EXPECT_EQ(Boxes(true), (Boxes2{"0", "0"}));
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "\tGetXYDistanceFromPage CRVAnchor:frmAnchorPropertyPage \r\n"));
    EXPECT_EQ(Notifications(), 0);
}

TEST_F(CommandTest, HorizontalOppositeMirrorsThePrimaryRule) {
    const struct {
        std::map<std::string, Variant> keys;
        const char *fromAlt, *toAlt, *h, *v;
    } cases[] = {
        {{{key::AnchorFromAll, int16_t{0}},
          {key::AnchorToAll, int16_t{5}},
          {key::HDistanceAll, 1.5},
          {key::VDistanceAll, 2.0}},
         "Top Right",
         "Center Left",
         "-1.5",
         "2"},
        {{{key::AnchorFromAll, int16_t{7}}, {key::AnchorToAll, int16_t{6}}, {key::HDistanceAll, -2.0}},
         "Bottom Center",
         "Bottom Right",
         "2",
         "0"},
        {{{key::AnchorFromAll, int16_t{4}}, {key::AnchorToAll, int16_t{3}}}, "Center", "Center Right", "0", "0"},
        // A primary list without a choice leaves the alternate one as it was.
        {{{key::AnchorFromAll, int16_t{-1}}, {key::AnchorFromAlt, int16_t{6}}, {key::AnchorToAll, int16_t{2}}},
         "Bottom Left",
         "Top Left",
         "0",
         "0"},
    };
    for (const auto& c : cases) {
        std::map<std::string, Variant> keys = c.keys;
        keys.insert({{key::HFromFieldAlt, true}, {key::AltAnchorType, int16_t{2}}});
        OpenWith(keys);
        Click("cmdMakeHorizontalOpposite");
        EXPECT_EQ(Boxes2(S(Combo("cmbAnchorFromAlt")->currentText()), S(Combo("cmbAnchorToAlt")->currentText())),
                  Boxes2(c.fromAlt, c.toAlt));
        EXPECT_EQ(Boxes(false), (Boxes2{c.h, c.v}));
        EXPECT_TRUE(Working(key::HDistanceAlt) == Variant(c.h));
        // The rest of the alternate rule is not touched.
        EXPECT_TRUE(Working(key::HFromFieldAlt) == Variant(false)) << "no series: the box was unchecked on filling";
        EXPECT_TRUE(Working(key::AltAnchorType) == Variant(int16_t{2}));
    }
    EXPECT_TRUE(sink_.reports.empty());

    // The vertical text is copied as it stands, in the user's own format.
    ScopedRegionalSettings comma(kComma);
    OpenWith({{key::HDistanceAll, 0.25}});
    Type("txtVDistanceAll", "abc");
    Click("cmdMakeHorizontalOpposite");
    EXPECT_EQ(Boxes(false), (Boxes2{"-0,25", "abc"}));
}

TEST_F(CommandTest, HorizontalOppositeOfATextThatIsNoNumberStopsAfterTheLists) {
    OpenWith({{key::AnchorFromAll, int16_t{3}},
              {key::AnchorToAlt, int16_t{2}},
              {key::HDistanceAlt, 4.0},
              {key::VDistanceAlt, 5.0}});
    Type("txtHDistanceAll", "left");
    const int before = Notifications();
    Click("cmdMakeHorizontalOpposite");
    EXPECT_EQ(S(Combo("cmbAnchorFromAlt")->currentText()), "Center Right");
    EXPECT_EQ(Boxes(false), (Boxes2{"4", "5"}));
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(
        Contains(sink_.reports[0].text, "\tcmdMakeHorizontalOpposite_Click CRVAnchor:frmAnchorPropertyPage \r\n"));
    EXPECT_TRUE(Contains(sink_.reports[0].text, "Type mismatch"));
    // Only the mirrored list's own notification stored the record.
    EXPECT_EQ(Notifications(), before + 1);
}

TEST_F(CommandTest, MeasuredDistancesKeepTheElementWhereItIsOnApply) {
    for (int16_t code = 0; code < 9; ++code) {
        StandaloneHost::ElementOf(edited_).SetRect({1.234, 2.345, 3.456, 4.567});
        OpenWith({{key::AnchorElement, true},
                  {key::AnchorFromAll, code},
                  {key::AnchorToAll, static_cast<int16_t>(8 - code)}});
        Click("cmdGetCurrentXYPrimary");
        page_->Apply();
        const Rect now = StandaloneHost::ExtentOf(edited_);
        // Each written distance is rounded to two decimals.
        EXPECT_NEAR(now.xmin, 1.234, 0.0051) << code;
        EXPECT_NEAR(now.ymax, 4.567, 0.0051) << code;
    }
    EXPECT_TRUE(sink_.reports.empty());
}

}  // namespace
}  // namespace crv::testing
