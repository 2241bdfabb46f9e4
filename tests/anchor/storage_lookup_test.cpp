// Records on elements, lookup by name, and the record queries.
#include "Fixture.h"

namespace crv::testing {
namespace {

namespace gf = GeneralFunctions;

class StorageTest : public EngineTest {};

TEST_F(StorageTest, EmptyCustomPropertyGetsOuterAndFamilyBagsAndTheVeryRecord) {
    auto e = host_.AddText("Title", {1, 1, 2, 2});
    EXPECT_FALSE(gf::HasCorvaneProperties(e));
    EXPECT_FALSE(gf::HasAnchorProperties(e));
    auto record = gf::NewAnchorProperties();
    EXPECT_TRUE(gf::SetAnchorProperties(e, record));
    EXPECT_TRUE(gf::HasCorvaneProperties(e));
    EXPECT_TRUE(gf::HasAnchorProperties(e));
    // Stored by reference: what comes back is the object that went in.
    EXPECT_TRUE(SameObject(gf::GetAnchorProperties(e), record));
    record->SetProperty(key::AnchorPriority, int16_t{2});
    auto m = NewManager();
    EXPECT_EQ(m->AnchorPriority(e), 2);
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(StorageTest, WhatElseTheCustomPropertyHoldsIsReplacedOrKept) {
    struct Case {
        const char* what;
        Variant custom;
        bool outer_kept;
    };
    auto foreign_outer = NewPropertyBag();
    foreign_outer->SetProperty("OtherTool", "keep me");
    const Case cases[] = {
        {"a number", Variant(int32_t{5}), false},
        {"a text", Variant("x"), false},
        {"an object that is not a bag", Variant(ComPtr<Unknown>(NewEnvelope())), false},
        {"a bag with other keys", Variant(foreign_outer), true},
    };
    for (const auto& c : cases) {
        auto e = host_.AddText(c.what, {0, 0, 1, 1});
        e->SetCustomProperty(c.custom);
        EXPECT_TRUE(gf::SetAnchorProperties(e, gf::NewAnchorProperties())) << c.what;
        auto outer = e->CustomProperty().ObjectAs<PropertyBag>();
        ASSERT_TRUE(outer) << c.what;
        EXPECT_EQ(SameObject(outer, foreign_outer), c.outer_kept) << c.what;
        EXPECT_TRUE(gf::HasAnchorProperties(e)) << c.what;
    }
    EXPECT_EQ(foreign_outer->GetProperty("OtherTool"), Variant("keep me"));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(StorageTest, DeleteRemovesOnlyTheRecordAndKeepsOtherToolsKeys) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    GiveRecord(e, {});
    auto family = e->CustomProperty().ObjectAs<PropertyBag>()->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    family->SetProperty("LabelProperties", "other tool");
    auto m = NewManager();
    m->RemoveAnchorProperties(e);
    EXPECT_TRUE(gf::HasCorvaneProperties(e));
    EXPECT_FALSE(gf::HasAnchorProperties(e));
    EXPECT_EQ(family->GetProperty("LabelProperties"), Variant("other tool"));
    // Removing again changes nothing and reports nothing.
    m->RemoveAnchorProperties(e);
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(StorageTest, AFailedReadInTheFamilyCheckNeverDropsTheFamilyBag) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    GiveRecord(e, {});
    auto family = e->CustomProperty().ObjectAs<PropertyBag>()->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    family->SetProperty("LabelProperties", "other tool");
    auto replacement = gf::NewAnchorProperties();
    {
        // The first read of the family bag runs with errors suppressed and so answers "none".
        support::ScopedFault fault("PropertyBag.GetProperty");
        EXPECT_TRUE(gf::SetAnchorProperties(e, replacement));
    }
    auto now = e->CustomProperty().ObjectAs<PropertyBag>()->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    EXPECT_TRUE(SameObject(now, family));
    EXPECT_EQ(family->GetProperty("LabelProperties"), Variant("other tool"));
    EXPECT_TRUE(SameObject(gf::GetAnchorProperties(e), replacement));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(StorageTest, ARecordKeyHoldingSomethingElseCountsAsAbsent) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    GiveRecord(e, {});
    auto family = e->CustomProperty().ObjectAs<PropertyBag>()->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    family->SetProperty(kAnchorProperties, int16_t{7});
    EXPECT_FALSE(gf::HasAnchorProperties(e));
    EXPECT_FALSE(gf::GetAnchorProperties(e));
    ASSERT_EQ(Descriptions(), std::vector<std::string>{"Element has no anchor properties."});
    EXPECT_NE(sink_.reports[0].text.find(
                  "\tGetAnchorProperties CRVAnchor:GeneralFunctions \r\n\r\nError Number \r\n\t-2147220991"),
              std::string::npos);
    // Storing overwrites the number.
    EXPECT_TRUE(gf::SetAnchorProperties(e, gf::NewAnchorProperties()));
    EXPECT_TRUE(gf::HasAnchorProperties(e));
}

TEST_F(StorageTest, AFailingStoreShowsTwoReportsInTurn) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    auto m = NewManager();
    auto record = m->MakeAnchorProperties();
    support::ScopedFault fault("LayoutElement.SetCustomProperty");
    m->AddAnchorProperties(e, record);
    ASSERT_EQ(sink_.reports.size(), 2u);
    EXPECT_NE(sink_.reports[0].text.find("\tSetAnchorProperties CRVAnchor:GeneralFunctions \r\n"), std::string::npos);
    EXPECT_NE(sink_.reports[0].text.find("Injected failure in LayoutElement.SetCustomProperty."), std::string::npos);
    EXPECT_NE(sink_.reports[1].text.find("\tAddAnchorProperties CRVAnchor:CRVAnchorManager \r\n"), std::string::npos);
    EXPECT_EQ(Descriptions()[1], "Error attempting to set Anchor properties.");
}

class LookupTest : public EngineTest {
protected:
    ComPtr<HostDocument> Doc() { return RunningApplication()->Document(); }
    std::string Found(const std::string& name) {
        auto e = gf::FindElementByName(Doc(), name);
        return e ? standalone::ElementImpl::From(ComPtr<Unknown>(e))->text : "(none)";
    }
    ComPtr<LayoutElement> Tagged(ElementKind kind, const std::string& name, const std::string& tag) {
        auto e = host_.Make(kind, name, {0, 0, 1, 1});
        StandaloneHost::ElementOf(e).text = tag;
        return e;
    }
};

TEST_F(LookupTest, ExactNamesFirstInContainerOrderOneGroupDeep) {
    host_.AddText("", {0, 0, 1, 1}, "first empty");
    host_.AddText("Title", {0, 0, 1, 1}, "Title");
    host_.AddText("title", {0, 0, 1, 1}, "title");
    host_.AddGroup("Legend", ElementKind::Group,
                   {Tagged(ElementKind::Text, "Legend", "legend member"), Tagged(ElementKind::Text, "Item", "seq item"),
                    Tagged(ElementKind::Text, "Third", "seq third")});
    auto inner = host_.Make(ElementKind::Group, "Inner", {});
    StandaloneHost::ElementOf(inner).AddMember(Tagged(ElementKind::Text, "Deep", "deep"));
    host_.AddGroup(
        "Indexed", ElementKind::IndexedGroup,
        {Tagged(ElementKind::Text, "A", "a"), inner, Tagged(ElementKind::Text, "IdxThird", "indexed third")});
    // Both kinds of walk: searched as a sequence only, which this group's members also are.
    host_.AddGroup("Both", ElementKind::SequenceAndIndexedGroup,
                   {Tagged(ElementKind::Text, "BothMember", "both member")});

    struct Case {
        const char* wanted;
        const char* found;
    };
    const Case cases[] = {
        {"title", "title"},     {"Title", "Title"},
        {"Legend", ""},  // the group itself
        {"Third", "seq third"}, {"IdxThird", "indexed third"},
        {"", "first empty"},    {"BothMember", "both member"},
        {"Inner", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Found(c.wanted), c.found) << c.wanted;
    EXPECT_TRUE(sink_.reports.empty());

    for (const char* missing : {"TITLE", "Deep", " Title", "Title "}) {
        sink_.reports.clear();
        EXPECT_EQ(Found(missing), "(none)") << missing;
        ASSERT_EQ(Descriptions(), std::vector<std::string>{"Dlement Not found."}) << missing;
        EXPECT_NE(sink_.reports[0].text.find("\tFindElementByName CRVAnchor:GeneralFunctions \r\n"), std::string::npos);
    }
}

TEST_F(LookupTest, CanAnchorAndPriority) {
    auto frame = host_.AddMapFrame("Map", {1, 1, 7, 9});
    auto plain_frame = host_.AddMapFrame("Inset", {1, 1, 2, 2});
    auto text = host_.AddText("Note", {0, 0, 1, 1});
    objects::SeriesData data;
    data.fields = {{"Dx", fieldtype::kDouble}};
    data.features = {{1.0}};
    host_.AttachSeries(frame, data);
    auto disabled = host_.AddMapFrame("Disabled", {1, 1, 2, 2});
    data.enabled = false;
    host_.AttachSeries(disabled, data);

    struct Case {
        const char* what;
        std::map<std::string, Variant> keys;
        bool has_record;
        bool expected;
    };
    const Case cases[] = {
        {"no record", {}, false, false},
        {"not anchored", {{key::AnchorType, "Layout"}}, true, false},
        {"layout", Anchored({{key::AnchorType, "Layout"}, {key::ElementName, "Nowhere"}}), true, true},
        {"named, none chosen", Anchored({{key::AnchorType, "NamedElement"}}), true, false},
        {"named text", Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Note"}}), true, true},
        {"alt field flag, target not a frame",
         Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Note"}, {key::HFromFieldAlt, true}}), true,
         false},
        {"alt field flag, frame without series",
         Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Inset"}, {key::HFromFieldAlt, true}}), true,
         false},
        {"alt field flag, disabled series",
         Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Disabled"}, {key::VFromFieldAll, true}}),
         true, false},
        {"alt field flag, series frame",
         Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Map"}, {key::HFromFieldAlt, true}}), true,
         true},
        {"unknown type", Anchored({{key::AnchorType, "Page"}}), true, false},
        {"bad distance text", Anchored({{key::HDistanceAlt, "1,5x"}}), true, false},
    };
    for (const auto& c : cases) {
        auto e = host_.AddPicture(c.what, {0, 0, 1, 1});
        if (c.has_record) GiveRecord(e, c.keys);
        EXPECT_EQ(NewManager()->CanAnchor(e), c.expected) << c.what;
    }
    (void)plain_frame;
    (void)text;
    // Only the unreadable record was reported.
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_EQ(Descriptions()[0], "Type mismatch");
    EXPECT_NE(sink_.reports[0].text.find("\tCanAnchor CRVAnchor:CRVAnchorManager \r\n"), std::string::npos);

    auto no_record = host_.AddText("plain", {0, 0, 1, 1});
    auto high = host_.AddText("high", {0, 0, 1, 1});
    GiveRecord(high, {{key::AnchorPriority, int16_t{2}}});
    EXPECT_EQ(NewManager()->AnchorPriority(no_record), 1);
    EXPECT_EQ(NewManager()->AnchorPriority(high), 2);
    EXPECT_FALSE(NewManager()->IsAnchorElement(no_record));
    EXPECT_TRUE(NewManager()->IsAnchorElement(high));
}

TEST_F(LookupTest, CanAnchorOnAMissingTargetShowsTheLookupReport) {
    auto e = host_.AddText("Title", {0, 0, 1, 1});
    GiveRecord(e, Anchored({{key::AnchorType, "NamedElement"}, {key::ElementName, "Gone"}}));
    EXPECT_FALSE(NewManager()->CanAnchor(e));
    EXPECT_EQ(Descriptions(), std::vector<std::string>{"Dlement Not found."});
}

}  // namespace
}  // namespace crv::testing
