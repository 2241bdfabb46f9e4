// The page as the host's property sheet sees it.
#include "PageFixture.h"

#include "propertypage/QtErrorSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace crv::testing {
namespace {

class AdapterTest : public PageTest {
protected:
    AdapterTest() { edited_ = host_.AddText("Title", {1, 2, 3, 4}); }
    ComPtr<LayoutElement> edited_;
};

TEST_F(AdapterTest, OfferedOnlyWhenASelectedElementHasARecord) {
    auto plain = host_.AddText("Plain", {0, 0, 1, 1});
    auto other = host_.AddPicture("Logo", {0, 0, 1, 1});
    ComPtr<PropertyBag> notAnElement = NewPropertyBag();
    auto page = ComPtr<AnchorPropertyPage>(new AnchorPropertyPage());
    EXPECT_FALSE(page->Applies(
        host_.Selection({ComPtr<Unknown>(plain), ComPtr<Unknown>(notAnElement), ComPtr<Unknown>(other)})));
    GiveRecord(other, {});
    EXPECT_TRUE(page->Applies(
        host_.Selection({ComPtr<Unknown>(notAnElement), ComPtr<Unknown>(plain), ComPtr<Unknown>(other)})));
    EXPECT_FALSE(page->Applies(host_.Selection({})));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(AdapterTest, FixedAnswersAndTheSizeOfTheWholeTabControl) {
    Open(edited_);
    page_->SetTitle("Something else");
    page_->SetPriority(7);
    EXPECT_EQ(page_->Title(), "Anchor");
    EXPECT_EQ(page_->Priority(), 1);
    const QRect tab = Tabs()->geometry();
    // A margin of 100 twips right and below, and no part of the tab control cut off.
    QWidget* window = page_->Form().Window();
    EXPECT_EQ(page_->Width(), tab.x() + tab.width() + qRound(100 * window->logicalDpiX() / 1440.0));
    EXPECT_EQ(page_->Height(), tab.y() + tab.height() + qRound(100 * window->logicalDpiY() / 1440.0));
    EXPECT_GE(tab.width(), Tabs()->minimumSizeHint().width());
    EXPECT_GE(tab.height(), Tabs()->minimumSizeHint().height());
}

TEST_F(AdapterTest, TheLastAnchoredElementOfTheSelectionIsEdited) {
    auto first = host_.AddText("First", {0, 0, 1, 1});
    auto plain = host_.AddText("Plain", {0, 0, 1, 1});
    GiveRecord(first, {{key::AnchorPriority, int16_t{0}}});
    GiveRecord(edited_, {{key::AnchorPriority, int16_t{2}}});
    Open({ComPtr<Unknown>(first), ComPtr<Unknown>(edited_), ComPtr<Unknown>(plain)});
    EXPECT_EQ(S(Combo("cmbAnchorPriority")->currentText()), "HIGH");
    EXPECT_TRUE(SameObject(page_->Form().TargetElement, edited_));
    // The form works on a copy, not on the stored record.
    EXPECT_FALSE(SameObject(Working(), GeneralFunctions::GetAnchorProperties(edited_)));
}

TEST_F(AdapterTest, ApplyStoresACopyAndCancelStoresNothing) {
    const ComPtr<PropertyBag> original = GiveRecord(edited_, {{key::HDistanceAll, 0.5}});
    Open(edited_);
    EXPECT_FALSE(page_->IsPageDirty());
    Type("txtHDistanceAll", "2");
    EXPECT_TRUE(page_->IsPageDirty());
    EXPECT_EQ(Notifications(), 1);
    page_->Cancel();
    EXPECT_TRUE(SameObject(GeneralFunctions::GetAnchorProperties(edited_), original));
    EXPECT_TRUE(original->GetProperty(key::HDistanceAll) == Variant(0.5));
    EXPECT_EQ(Entries(original).size(), kRecordKeyCount);

    page_->Apply();
    const ComPtr<PropertyBag> stored = GeneralFunctions::GetAnchorProperties(edited_);
    EXPECT_FALSE(SameObject(stored, original));
    EXPECT_FALSE(SameObject(stored, Working()));
    EXPECT_TRUE(stored->GetProperty(key::HDistanceAll) == Variant("2"));
    EXPECT_TRUE(page_->IsPageDirty());  // dirty from the first edit on, even after Apply
    // Later edits stay in the form until the next Apply.
    Type("txtHDistanceAll", "3");
    EXPECT_TRUE(stored->GetProperty(key::HDistanceAll) == Variant("2"));
    page_->Apply();
    EXPECT_TRUE(GeneralFunctions::GetAnchorProperties(edited_)->GetProperty(key::HDistanceAll) == Variant("3"));
    // Not anchored: stored, but the element stays where it is.
    EXPECT_EQ(StandaloneHost::ExtentOf(edited_), (Rect{1, 2, 3, 4}));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(AdapterTest, ApplyPlacesTheElementForThePageInForce) {
    // Primary rule: top left of the page. Alternate rule, on the listed pages only: one inch in.
    const auto section = [](StandaloneHost& h) {
        h.SetSectionTemplate("Atlas", {Variant(int32_t{4}), "South", {{"South", Variant(int32_t{2})}}});
    };
    const struct {
        const char* what;
        std::function<void(StandaloneHost&)> layout;
        const char* pages;
        bool alternate;
    } cases[] = {
        {"series layout on page 7", [](StandaloneHost& h) { h.SetSeriesLayout("Book", Variant(int32_t{7})); }, "7",
         true},
        {"series layout on page 6", [](StandaloneHost& h) { h.SetSeriesLayout("Book", Variant(int32_t{6})); }, "7",
         false},
        // The template starts at page 4 and its section is on page 2: page 5 is in force,
        // which the engine offsets by the section page again.
        {"section template", section, "6", true},
        {"section template, other page", section, "2", false},
        {"no multi-page layout", [](StandaloneHost& h) { h.ClearActiveLayout(); }, "1", true},
        {"another kind of layout",
         [](StandaloneHost& h) {
             h.SetSeriesLayout("Book", Variant(int32_t{3}));
             h.State().active_layout_kind = "seriesLayout";
         },
         "1", true},
    };
    for (const auto& c : cases) {
        c.layout(host_);
        StandaloneHost::ElementOf(edited_).SetRect({1, 2, 3, 4});
        GiveRecord(edited_, {{key::AnchorElement, true},
                             {key::UseAltAnchoring, true},
                             {key::AltAnchorType, int16_t{2}},
                             {key::AltAnchorPageRange, c.pages},
                             {key::HDistanceAlt, 1.0},
                             {key::VDistanceAlt, -1.0}});
        Open(edited_);
        page_->Apply();
        EXPECT_EQ(StandaloneHost::ExtentOf(edited_), (c.alternate ? Rect{1, 8, 3, 10} : Rect{0, 9, 2, 11})) << c.what;
    }
    EXPECT_TRUE(sink_.reports.empty());
}

TEST(AdapterWithoutCompanions, ApplyPlacesForPageOne) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    StandaloneHost bare(standalone::HostOptions{.companions = false});
    auto element = bare.AddText("Alone", {1, 2, 3, 4});
    ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
    for (const auto& [k, v] : {std::pair<const char*, Variant>{key::AnchorElement, true},
                               {key::UseAltAnchoring, true},
                               {key::AltAnchorType, int16_t{1}},
                               {key::HDistanceAlt, 2.0}}) {
        record->SetProperty(k, v);
    }
    GeneralFunctions::SetAnchorProperties(element, record);
    auto page = ComPtr<AnchorPropertyPage>(new AnchorPropertyPage());
    page->SetPageSite(MakeCom<PropertyPageSite, objects::PageSiteImpl>());
    page->SetObjects(bare.Selection({ComPtr<Unknown>(element)}));
    page->Activate();
    page->Show();
    page->Apply();
    EXPECT_EQ(StandaloneHost::ExtentOf(element), (Rect{2, 9, 4, 11}));
    EXPECT_TRUE(sink.reports.empty());
}

TEST_F(AdapterTest, FailuresAreShownAndTheHostCarriesOn) {
    // No anchored element selected: the copy of nothing fails.
    Open(edited_);
    ASSERT_FALSE(sink_.reports.empty());
    EXPECT_TRUE(Contains(sink_.reports[0].text, "\tIComPropertyPage_SetObjects CRVAnchor:AnchorPropertyPage \r\n"));

    // A placement that fails after the record was stored keeps the stored record.
    sink_.reports.clear();
    GiveRecord(edited_, {{key::AnchorElement, true}});
    Open(edited_);
    Type("txtVDistanceAll", "-1");
    {
        support::ScopedFault fault("LayoutElement.Move");
        page_->Apply();
    }
    EXPECT_TRUE(GeneralFunctions::GetAnchorProperties(edited_)->GetProperty(key::VDistanceAll) == Variant("-1"));
    ASSERT_EQ(sink_.reports.size(), 1u);
    EXPECT_TRUE(Contains(sink_.reports[0].text, "AnchorElement CRVAnchor:CRVAnchorManager"));
}

TEST_F(AdapterTest, DeactivatingKeepsTheEditsAndReleasingThePageReleasesEveryHostObject) {
    auto map = host_.AddMapFrame("Map", {0, 0, 5, 5});
    host_.AttachSeries(map, SeriesWith({{"X", fieldtype::kDouble}}));
    GiveRecord(edited_, {{key::AnchorType, "NamedElement"}, {key::ElementName, "Map"}});
    const int64_t before = support::Tracked::Alive();
    Open(edited_);
    Click("cmdGetCurrentXYPrimary");
    Type("txtVDistanceAll", "25");
    page_->Deactivate();
    EXPECT_FALSE(page_->Form().IsLoaded());
    page_->Activate();
    page_->Show();
    EXPECT_EQ(S(Text("txtVDistanceAll")->text()), "25");  // loaded again with the edits kept
    page_->Apply();
    page_.Reset();
    site_.Reset();
    EXPECT_EQ(support::Tracked::Alive(), before);
}

TEST(QtErrorSinkTest, ShowsAWarningWithOneOkButton) {
    QtErrorSink sink;
    ScopedErrorSink scope(sink);
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        std::tie(text, title, icon, buttons) =
            std::tuple(box->text(), box->windowTitle(), box->icon(), box->standardButtons());
        box->accept();
    });
    TopLevel(ProcedureId("IComPropertyPage_Apply", "AnchorPropertyPage"),
             [] { Raise(kAnchorErrorNumber, "AnchorPropertyPage", "Broken."); });
    EXPECT_EQ(title, "Unexpected Program Error");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(text.contains("\tIComPropertyPage_Apply CRVAnchor:AnchorPropertyPage \r\n"));
}

}  // namespace
}  // namespace crv::testing
