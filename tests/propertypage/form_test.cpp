// Filling the anchor form from a record, and what each edit writes back.
#include "PageFixture.h"

#include <QApplication>

namespace crv::testing {
namespace {

const RegionalSettings kPoint = RegionalSettings::Invariant();

const RegionalSettings kComma{",", ".", {3}, true, RegionalSettings::NegativeStyle::Minus};

class FormTest : public PageTest {
protected:
    FormTest() {
        edited_ = host_.AddText("Title", {1, 2, 3, 4});
        host_.AddText("Legend", {5, 5, 7, 9});
        map_ = host_.AddMapFrame("Main Map", {0.5, 0.5, 8, 10});
        host_.AttachSeries(map_, SeriesWith({{"PageName", fieldtype::kString},
                                             {"XOffset", fieldtype::kDouble},
                                             {"Created", fieldtype::kDate},
                                             {"YOffset", fieldtype::kSmallInteger}}));
    }
    ComPtr<LayoutElement> edited_;
    ComPtr<LayoutElement> map_;
};

TEST_F(FormTest, FillingShowsTheRecordAndStoresNothing) {
    ScopedRegionalSettings point(kPoint);
    GiveRecord(edited_, {{key::AnchorElement, true},
                         {key::AnchorType, "NamedElement"},
                         {key::ElementName, "Main Map"},
                         {key::UseAltAnchoring, true},
                         {key::AltAnchorType, int16_t{1}},
                         {key::AltAnchorPageRange, "1,3,5-12"},
                         {key::AnchorFromAll, int16_t{4}},
                         {key::AnchorToAll, int16_t{8}},
                         {key::HDistanceAll, "12.50"},
                         {key::VDistanceAll, -0.25},
                         {key::VFromFieldAll, true},
                         {key::VFieldNameAll, "YOffset"},
                         {key::HFieldNameAlt, "xoffset"},
                         {key::AnchorPriority, int16_t{0}}});
    const auto before = Entries(GeneralFunctions::GetAnchorProperties(edited_));
    Open(edited_);

    EXPECT_EQ(Notifications(), 0);
    EXPECT_FALSE(page_->IsPageDirty());
    EXPECT_TRUE(Entries(Working()) == before);

    EXPECT_TRUE(Check("chkAnchor")->isChecked());
    EXPECT_TRUE(Option("OptAnchorTo_1")->isChecked());
    EXPECT_EQ(ChosenName(), "Main Map");
    EXPECT_TRUE(Option("optMultiPage_1")->isChecked());
    EXPECT_EQ(S(Combo("cmbAlternateType")->currentText()), "Odd Pages");
    EXPECT_EQ(S(Text("txtPageRange")->text()), "1,3,5-12");
    EXPECT_EQ(S(Combo("cmbAnchorFromAll")->currentText()), "Center");
    EXPECT_EQ(S(Combo("cmbAnchorToAll")->currentText()), "Bottom Right");
    EXPECT_EQ(S(Text("txtHDistanceAll")->text()), "12.5");
    EXPECT_EQ(S(Text("txtVDistanceAll")->text()), "-0.25");
    EXPECT_EQ(S(Text("txtHDistanceAlt")->text()), "0");
    EXPECT_EQ(S(Combo("cmbAnchorPriority")->currentText()), "LOW");
    EXPECT_EQ(Items("cmbAnchorPriority"), (std::vector<std::string>{"LOW", "MEDIUM", "HIGH"}));
    EXPECT_EQ(Items("cmbAlternateType"), (std::vector<std::string>{"Even Pages", "Odd Pages", "Page Range"}));

    // Only the numeric fields are offered, in the layer's order; a loaded name is found
    // only with its exact case.
    for (const char* list : {"cmdHFieldAll", "cmdVFieldAll", "cmdHFieldAlt", "cmdVFieldAlt"}) {
        EXPECT_EQ(Items(list), (std::vector<std::string>{"<None>", "XOffset", "YOffset"})) << list;
        EXPECT_TRUE(Combo(list)->isEnabled()) << list;
    }
    EXPECT_EQ(S(Combo("cmdVFieldAll")->currentText()), "YOffset");
    EXPECT_EQ(S(Combo("cmdHFieldAlt")->currentText()), "<None>");
    EXPECT_TRUE(Check("chkVDistanceFieldAll")->isChecked());
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(FormTest, OneKeystrokeRewritesAllKeysAndTellsTheSiteOnce) {
    ScopedRegionalSettings point(kPoint);
    GiveRecord(edited_, {{key::AnchorElement, true}});
    Open(edited_);
    const std::pair<const char*, const char*> cases[] = {{"txtHDistanceAll", key::HDistanceAll},
                                                         {"txtVDistanceAll", key::VDistanceAll},
                                                         {"txtHDistanceAlt", key::HDistanceAlt},
                                                         {"txtVDistanceAlt", key::VDistanceAlt},
                                                         {"txtPageRange", key::AltAnchorPageRange}};
    Click("optMultiPage_1");  // the alternate rule is editable only with alternate anchoring on
    for (const auto& [box, key] : cases) {
        Type(box, "");
        const int before = Notifications();
        QTest::keyClick(Text(box), Qt::Key_7);
        EXPECT_EQ(Notifications(), before + 1) << box;
        EXPECT_TRUE(Working(key) == Variant("7")) << box;
    }
    EXPECT_TRUE(page_->IsPageDirty());

    const auto entries = Entries(Working());
    ASSERT_EQ(entries.size(), kRecordKeyCount);
    for (size_t i = 0; i < kRecordKeyCount; ++i) {
        const RecordKey& k = RecordKeys()[i];
        EXPECT_EQ(entries[i].first, k.name);
        const VariantType expected = k.kind == KeyKind::Boolean   ? VariantType::Boolean
                                     : k.kind == KeyKind::Integer ? VariantType::Integer
                                                                  : VariantType::String;
        EXPECT_EQ(entries[i].second.Type(), expected) << k.name;
    }
    EXPECT_TRUE(Working(key::Version) == Variant(int16_t{1}));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(FormTest, DistancesAreStoredAsTypedAndReadBackInTheUsersFormat) {
    ScopedRegionalSettings comma(kComma);
    GiveRecord(edited_, {{key::AnchorElement, true}});
    Open(edited_);
    Type("txtHDistanceAll", "1,5");
    Type("txtVDistanceAll", " 12,50");
    EXPECT_TRUE(Working(key::HDistanceAll) == Variant("1,5"));
    EXPECT_TRUE(Working(key::VDistanceAll) == Variant(" 12,50"));

    // Showing the page again rebuilds it from the working record.
    page_->Hide();
    page_->Show();
    EXPECT_EQ(S(Text("txtHDistanceAll")->text()), "1,5");
    EXPECT_EQ(S(Text("txtVDistanceAll")->text()), "12,5");
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(FormTest, StoredCanAnchorFollowsTheCheckBoxTheTargetAndTheName) {
    const struct {
        bool check;
        const char* option;
        int row;  // -1: no element chosen
        bool expected;
    } cases[] = {
        {false, "OptAnchorTo_0", 0, false}, {true, "OptAnchorTo_0", -1, true}, {true, "OptAnchorTo_0", 1, true},
        {true, "OptAnchorTo_1", -1, false}, {true, "OptAnchorTo_1", 1, true},  {false, "OptAnchorTo_1", 1, false},
    };
    for (const auto& c : cases) {
        GiveRecord(edited_, {{key::AnchorElement, !c.check}});
        Open(edited_);
        Click("chkAnchor");
        Click(c.option);
        if (c.row >= 0) ChooseName(c.row);
        EXPECT_TRUE(Working(key::CanAnchor) == Variant(c.expected)) << c.check << " " << c.option << " " << c.row;
        EXPECT_TRUE(Working(key::AnchorElement) == Variant(c.check));
    }
}

TEST_F(FormTest, ElementListShowsNamedElementsOneGroupDeep) {
    StandaloneHost host;
    auto edited = host.AddText("Title", {1, 2, 3, 4});
    host.AddText("", {0, 0, 1, 1});
    host.AddText("xCrvAdjacentPageListing_left", {0, 0, 1, 1});
    host.AddText("page 3 CRVADJACENTPAGELISTING", {0, 0, 1, 1});
    auto inner = host.Make(ElementKind::Group, "Inner", {});
    StandaloneHost::ElementOf(inner).AddMember(host.Make(ElementKind::Text, "Deep", {0, 0, 1, 1}));
    host.AddGroup(
        "Block", ElementKind::Group,
        {host.Make(ElementKind::Text, "North Arrow", {0, 0, 1, 1}), host.Make(ElementKind::Text, "", {0, 0, 1, 1}),
         inner, host.Make(ElementKind::Text, "adjacentpage", {0, 0, 1, 1})});
    host.AddText("Legend", {0, 0, 1, 1});
    host.AddText("legend", {0, 0, 1, 1});
    GiveRecord(edited, {{key::AnchorType, "NamedElement"}, {key::ElementName, "LEGEND"}});
    Open(edited);
    EXPECT_EQ(NameItems(),
              (std::vector<std::string>{"Title", "Block", "North Arrow", "Inner", "adjacentpage", "Legend", "legend"}));
    // Of two entries matching without regard to case, the later one is chosen.
    EXPECT_EQ(ChosenRow(), 6);
}

TEST_F(FormTest, EmptyLayoutOffersNoElement) {
    StandaloneHost host;
    auto edited = host.Make(ElementKind::Text, "", {1, 2, 3, 4});
    for (const char* type : {"Layout", "NamedElement"}) {
        GiveRecord(edited, {{key::AnchorType, type}});
        Open(edited);
        EXPECT_EQ(Names()->count(), 0);
        EXPECT_FALSE(Option("OptAnchorTo_1")->isEnabled());
        // The record's target decides whether the list is on, even when it is empty.
        EXPECT_EQ(Names()->isEnabled(), std::string(type) == "NamedElement") << type;
    }
}

TEST_F(FormTest, ChoosingTheReferenceSwitchesTheFieldControls) {
    GiveRecord(edited_, {{key::AnchorElement, true},
                         {key::UseAltAnchoring, true},
                         {key::HFromFieldAll, true},
                         {key::HFieldNameAll, "XOffset"},
                         {key::VFieldNameAlt, "YOffset"}});
    Open(edited_);
    auto fieldsOn = [&] {
        bool on = true;
        for (const char* name : {"cmdHFieldAll", "cmdVFieldAll", "cmdHFieldAlt", "cmdVFieldAlt", "chkHDistanceFieldAll",
                                 "chkVDistanceFieldAll", "chkHDistanceFieldAlt", "chkVDistanceFieldAlt"}) {
            on = on && Find<QWidget>(name)->isEnabled();
        }
        return on;
    };
    // Anchored to the page: no map series, so the field controls are off and unchecked.
    EXPECT_FALSE(fieldsOn());
    EXPECT_FALSE(Check("chkHDistanceFieldAll")->isChecked());
    EXPECT_EQ(Items("cmdHFieldAll"), std::vector<std::string>{"<None>"});

    Click("OptAnchorTo_1");
    EXPECT_FALSE(fieldsOn());
    // Tabbing into the list chooses nothing.
    QApplication::setActiveWindow(page_->Form().Window());
    Names()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(Names()->hasFocus());
    EXPECT_EQ(ChosenRow(), -1);
    EXPECT_TRUE(Working(key::ElementName) == Variant("<None>"));

    ChooseName(2);  // Main Map
    EXPECT_TRUE(fieldsOn());
    EXPECT_EQ(S(Combo("cmdHFieldAll")->currentText()), "XOffset");
    EXPECT_FALSE(Check("chkHDistanceFieldAll")->isChecked());
    EXPECT_TRUE(Working(key::ElementName) == Variant("Main Map"));

    Click("chkVDistanceFieldAlt");
    Choose("cmdVFieldAll", "YOffset");
    EXPECT_TRUE(Working(key::VFromFieldAlt) == Variant(true));
    EXPECT_TRUE(Working(key::VFieldNameAll) == Variant("YOffset"));

    ChooseName(1);  // Legend, an ordinary graphic
    EXPECT_FALSE(fieldsOn());
    EXPECT_TRUE(Working(key::VFromFieldAlt) == Variant(false));
    EXPECT_TRUE(Working(key::VFieldNameAll) == Variant("<None>"));

    ChooseName(2);
    Click("chkHDistanceFieldAll");
    Click("OptAnchorTo_0");
    EXPECT_FALSE(Names()->isEnabled());
    EXPECT_FALSE(fieldsOn());
    EXPECT_TRUE(Working(key::AnchorType) == Variant("Layout"));
    // The chosen element stays chosen, and stored, while anchored to the page.
    EXPECT_EQ(ChosenRow(), 2);
    EXPECT_TRUE(Working(key::ElementName) == Variant("Main Map"));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(FormTest, SeriesWithoutNumericFieldsOffersNone) {
    auto frame = host_.AddMapFrame("Text Only", {1, 1, 2, 2});
    host_.AttachSeries(frame, SeriesWith({{"Name", fieldtype::kString}, {"Shape", fieldtype::kGeometry}}));
    GiveRecord(edited_,
               {{key::AnchorType, "NamedElement"}, {key::ElementName, "Text Only"}, {key::HFromFieldAll, true}});
    Open(edited_);
    EXPECT_EQ(Items("cmdVFieldAlt"), std::vector<std::string>{"<None>"});
    EXPECT_FALSE(Combo("cmdHFieldAll")->isEnabled());
    EXPECT_FALSE(Check("chkHDistanceFieldAll")->isChecked());
}

TEST_F(FormTest, MultiPageChoicesSwitchTheAlternateRule) {
    GiveRecord(edited_, {{key::AltAnchorType, int16_t{0}}});
    Open(edited_);
    // Alternate tab, type list and page range box enabled.
    auto state = [&] {
        return std::tuple(Tabs()->isTabEnabled(2), Combo("cmbAlternateType")->isEnabled(),
                          Text("txtPageRange")->isEnabled());
    };
    EXPECT_EQ(state(), std::tuple(false, false, false));
    Click("optMultiPage_1");
    EXPECT_EQ(state(), std::tuple(true, true, true));  // the range box is on with the option, whatever the type
    EXPECT_TRUE(Working(key::UseAltAnchoring) == Variant(true));
    Choose("cmbAlternateType", "Page Range");
    EXPECT_TRUE(Working(key::AltAnchorType) == Variant(int16_t{2}));
    Choose("cmbAlternateType", "Odd Pages");
    EXPECT_EQ(state(), std::tuple(true, true, false));
    Choose("cmbAlternateType", "Even Pages");
    EXPECT_TRUE(Working(key::AltAnchorType) == Variant(int16_t{0}));
    Click("optMultiPage_0");
    EXPECT_EQ(state(), std::tuple(false, false, false));
    EXPECT_TRUE(Working(key::UseAltAnchoring) == Variant(false));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(FormTest, ListChoicesAreStoredAsCodes) {
    GiveRecord(edited_, {});
    Open(edited_);
    Click("optMultiPage_1");
    const std::tuple<const char*, const char*, const char*, int16_t> cases[] = {
        {"cmbAnchorFromAll", "Bottom Center", key::AnchorFromAll, 7},
        {"cmbAnchorToAll", "Center Left", key::AnchorToAll, 3},
        {"cmbAnchorToAlt", "Bottom Right", key::AnchorToAlt, 8},
        {"cmbAnchorPriority", "HIGH", key::AnchorPriority, 2}};
    for (const auto& [list, entry, stored, code] : cases) {
        Choose(list, entry);
        EXPECT_TRUE(Working(stored) == Variant(code)) << entry;
    }
    // A list without a choice stores -1.
    GiveRecord(edited_, {{key::AnchorFromAlt, int16_t{-1}}});
    Open(edited_);
    Click("chkAnchor");
    EXPECT_EQ(Combo("cmbAnchorFromAlt")->currentIndex(), -1);
    EXPECT_TRUE(Working(key::AnchorFromAlt) == Variant(int16_t{-1}));
}

TEST_F(FormTest, UnreadableRecordIsReportedAndLeavesTheFormInert) {
    const struct {
        const char* key;
        Variant value;
        const char* description;
        const char* stack;
    } cases[] = {
        {key::HDistanceAll, Variant(""), "Type mismatch", ""},
        {key::AnchorToAll, Variant(int16_t{9}), "Invalid property value",
         "\tPopulateForm CRVAnchor:frmAnchorPropertyPage \r\n"},
        {key::AnchorPriority, Variant(int16_t{3}), "Invalid property value",
         "\tPopulateForm CRVAnchor:frmAnchorPropertyPage \r\n"},
    };
    for (const auto& c : cases) {
        sink_.reports.clear();
        GiveRecord(edited_, {{c.key, c.value}});
        Open(edited_);
        ASSERT_EQ(sink_.reports.size(), 1u) << c.key;
        const std::string& text = sink_.reports[0].text;
        EXPECT_TRUE(Contains(text, "\tForm_Activate CRVAnchor:frmAnchorPropertyPage \r\n" + std::string(c.stack)))
            << text;
        EXPECT_TRUE(Contains(text, c.description)) << text;
        // Until an activation succeeds, edits are not written back.
        Click("chkAnchor");
        Type("txtVDistanceAll", "3");
        EXPECT_EQ(Notifications(), 0) << c.key;
        EXPECT_FALSE(page_->IsPageDirty());
    }
}

TEST_F(FormTest, ClearedDistanceIsStoredEmptyAndRefusedOnTheNextActivation) {
    GiveRecord(edited_, {});
    Open(edited_);
    Type("txtHDistanceAll", "");
    EXPECT_TRUE(Working(key::HDistanceAll) == Variant(""));
    EXPECT_TRUE(sink_.reports.empty());
    page_->Show();
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "Form_Activate"));
}

TEST_F(FormTest, HostFailuresShowTheCallStackFromTheHandlerDown) {
    const std::string module = " CRVAnchor:frmAnchorPropertyPage \r\n";
    // Filling: the field query of the series fails two levels below the activation.
    GiveRecord(edited_, {{key::AnchorType, "NamedElement"}, {key::ElementName, "Main Map"}});
    {
        support::ScopedFault fault("FieldSet.FieldAt", 2);
        Open(edited_);
    }
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "\tForm_Activate" + module + "\tPopulateForm" + module +
                                                    "\tPopulateFieldCombos" + module + "\r\nError Number "))
        << sink_.reports[0].text;
    // The lists stay as far as they were filled.
    EXPECT_EQ(Items("cmdHFieldAll"), (std::vector<std::string>{"<None>"}));

    // Storing: the third key cannot be written. The first two are, the page is not marked.
    sink_.reports.clear();
    GiveRecord(edited_, {});
    Open(edited_);
    {
        support::ScopedFault fault("PropertyBag.SetProperty", 3);
        Click("chkAnchor");
    }
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "\tchkAnchor_Click" + module + "\tUpdateProperties" + module))
        << sink_.reports[0].text;
    EXPECT_TRUE(Working(key::AnchorElement) == Variant(true));
    EXPECT_FALSE(page_->IsPageDirty());
    EXPECT_EQ(Notifications(), 0);
}

}  // namespace
}  // namespace crv::testing
