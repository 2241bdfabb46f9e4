// The property page from SetObjects through edits to Apply, with each host and companion call
// failing in turn: no crash, only whole reports, the element's record and the other tools'
// keys never lost, and no host object alive once the page is released.
#include "PageFixture.h"

namespace crv::testing {
namespace {

using support::FaultInjector;

class PageFaultSweep : public PageTest {
protected:
    PageFaultSweep() {
        map_ = host_.AddMapFrame("Main Map", {1, 1, 7, 9});
        SeriesData data = SeriesWith({{"XOffset", fieldtype::kDouble}, {"Name", fieldtype::kString}});
        data.features = {{0.5, "A"}, {Variant::Null(), "B"}};
        host_.AttachSeries(map_, data);
        host_.SetSeriesLayout("Atlas", int32_t{2});
        element_ = host_.AddText("North Arrow", {0, 0, 1, 1});
        GiveRecord(element_, {{key::AnchorElement, true},
                              {key::AnchorType, "NamedElement"},
                              {key::ElementName, "Main Map"},
                              {key::HFromFieldAll, true},
                              {key::HFieldNameAll, "XOffset"}});
        outer_ = element_->CustomProperty().ObjectAs<PropertyBag>();
        outer_->SetProperty("OtherTool", "outer key");
        family_ = outer_->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
        family_->SetProperty("LabelProperties", "family key");
        original_ = ComPtr<PropertyBag>::Query(NewObjectCopier()->Copy(ComPtr<Unknown>(Stored())));
    }

    // Every run starts from the same record and place, so it makes the same calls.
    void Restore() {
        family_->SetProperty(kAnchorProperties, Variant(NewObjectCopier()->Copy(ComPtr<Unknown>(original_))));
        const Rect r = StandaloneHost::ExtentOf(element_);
        element_->Move(-r.xmin, -r.ymin);
    }

    // Open the element's properties, edit three controls, apply, close.
    void Scenario() {
        Open(element_);
        Type("txtVDistanceAll", "-0.25");
        // A failure while the form filled its lists can leave this one empty: the user then
        // has nothing to choose.
        if (Combo("cmbAnchorFromAll")->findText("Top Right") >= 0) Choose("cmbAnchorFromAll", "Top Right");
        Click("cmdGetCurrentXYPrimary");
        page_->Apply();
        page_->Deactivate();
        page_.Reset();
        site_.Reset();
    }

    ComPtr<PropertyBag> Stored() { return family_->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>(); }

    ComPtr<LayoutElement> map_;
    ComPtr<LayoutElement> element_;
    ComPtr<PropertyBag> outer_;
    ComPtr<PropertyBag> family_;
    ComPtr<PropertyBag> original_;
};

TEST_F(PageFaultSweep, EveryHostCallFailingOnce) {
    auto& faults = FaultInjector::Instance();
    faults.ClearLog();
    Restore();
    faults.SetLogging(true);
    Scenario();
    faults.SetLogging(false);
    const std::vector<std::string> calls = faults.Log();
    ASSERT_GT(calls.size(), 50u);
    ASSERT_TRUE(sink_.reports.empty()) << sink_.reports[0].text;
    const int64_t baseline = support::Tracked::Alive();
    const auto clean_result = Entries(Stored());

    std::map<std::string, int> seen;
    for (const std::string& op : calls) {
        const int nth = ++seen[op];
        Restore();
        const auto before = Entries(Stored());
        sink_.reports.clear();
        {
            support::ScopedFault fault(op, nth);
            Scenario();
        }
        const std::string where = op + " #" + std::to_string(nth);
        // A failure in one of the two reads that run with errors suppressed shows nothing and
        // must then change nothing either.
        if (sink_.reports.empty()) {
            EXPECT_EQ(Entries(Stored()), clean_result) << where;
        }
        for (const auto& r : sink_.reports) {
            EXPECT_EQ(r.title, "Unexpected Program Error") << where;
            EXPECT_TRUE(Contains(r.text, "Error Call Stack Sequence \r\n\t")) << where;
        }
        // Nothing lost: the record is the old one or a whole new one, and the other tools'
        // keys stay where they were.
        ASSERT_TRUE(Stored()) << where;
        const auto after = Entries(Stored());
        EXPECT_TRUE(after == before || after.size() == kRecordKeyCount) << where;
        EXPECT_EQ(outer_->GetProperty("OtherTool"), Variant("outer key")) << where;
        EXPECT_EQ(family_->GetProperty("LabelProperties"), Variant("family key")) << where;
        EXPECT_EQ(support::Tracked::Alive(), baseline) << where;
        EXPECT_FALSE(FormattedErrorFlag()) << where;
    }
}

}  // namespace
}  // namespace crv::testing
