#include "standalone/host/StandaloneHost.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace crv::standalone {
namespace {

TEST(StandaloneHost, FaultInjectionOnceFromNthAndForEver) {
    StandaloneHost host;
    auto bag = NewPropertyBag();
    struct Case {
        int nth;
        int times;
        std::vector<bool> fails;  // for the next five calls
    };
    const Case cases[] = {
        {1, 1, {true, false, false, false, false}},
        {3, 1, {false, false, true, false, false}},
        {2, 2, {false, true, true, false, false}},
        {4, 0, {false, false, false, true, true}},
    };
    for (const auto& c : cases) {
        ScopedFault fault("PropertyBag.GetProperty", c.nth, c.times);
        for (size_t i = 0; i < c.fails.size(); ++i) {
            bool failed = false;
            try {
                bag->GetProperty("x");
            } catch (const ComError& e) {
                failed = true;
                EXPECT_EQ(e.Number(), kInjectedFailure);
                EXPECT_EQ(e.Source(), "PropertyBag.GetProperty");
            }
            EXPECT_EQ(failed, c.fails[i]) << "nth " << c.nth << " call " << i;
        }
    }
    // Creation by class id can fail too.
    ScopedFault fault("Create.Envelope");
    EXPECT_THROW(NewEnvelope(), ComError);
    EXPECT_NO_THROW(NewEnvelope());
}

TEST(StandaloneHost, AccountsForEveryLiveObject) {
    const int64_t before = Tracked::Alive();
    {
        StandaloneHost host;
        auto frame = host.AddMapFrame("Map", {1, 1, 5, 5}, 0.1);
        const int64_t with_frame = Tracked::Alive();
        {
            auto env = NewEnvelope();
            auto doc = RunningApplication()->Document();
            EXPECT_GT(Tracked::Alive(), with_frame);
        }
        EXPECT_EQ(Tracked::Alive(), with_frame);
    }
    EXPECT_EQ(Tracked::Alive(), before);
}

TEST(StandaloneHost, GroupKindsOfferTheirWalksAndMoveTheirMembers) {
    StandaloneHost host;
    struct Case {
        ElementKind kind;
        bool sequence;
        bool indexed;
    };
    const Case cases[] = {{ElementKind::Group, true, false},
                          {ElementKind::IndexedGroup, false, true},
                          {ElementKind::SequenceAndIndexedGroup, true, true},
                          {ElementKind::Text, false, false}};
    for (const auto& c : cases) {
        auto a = host.Make(ElementKind::Text, "a", {0, 0, 1, 1});
        auto b = host.Make(ElementKind::Picture, "b", {2, 2, 3, 4});
        auto g = c.kind == ElementKind::Text ? host.AddText("g", {0, 0, 1, 1}) : host.AddGroup("g", c.kind, {a, b});
        EXPECT_EQ(static_cast<bool>(ComPtr<ElementSequence>::Query(g)), c.sequence);
        EXPECT_EQ(static_cast<bool>(ComPtr<ElementGroup>::Query(g)), c.indexed);
        if (auto seq = ComPtr<ElementSequence>::Query(g)) {
            seq->ResetMembers();
            EXPECT_EQ(seq->NextMember()->Name(), "a");
            EXPECT_EQ(seq->NextMember()->Name(), "b");
            EXPECT_FALSE(seq->NextMember());
        }
        if (auto grp = ComPtr<ElementGroup>::Query(g)) {
            EXPECT_EQ(grp->MemberCount(), 2);
            EXPECT_EQ(grp->Member(1)->Name(), "b");
            EXPECT_THROW(grp->Member(2), ComError);
        }
        if (c.kind != ElementKind::Text) {
            EXPECT_EQ(StandaloneHost::BoundsOf(g), (Rect{0, 0, 3, 4}));
            g->Move(1, -1);
            EXPECT_EQ(StandaloneHost::BoundsOf(b), (Rect{3, 1, 4, 3}));
            EXPECT_EQ(StandaloneHost::BoundsOf(g), (Rect{1, -1, 4, 3}));
        }
    }
}

TEST(StandaloneHost, PropertyBagsAndTheirDeepCopies) {
    StandaloneHost host;
    auto outer = NewPropertyBag();
    auto inner = NewPropertyBag();
    inner->SetProperty("n", int16_t{3});
    outer->SetProperty("inner", Variant(inner));
    outer->SetProperty("text", "12.50");
    EXPECT_TRUE(outer->GetProperty("missing").IsEmpty());

    auto copy = ComPtr<PropertyBag>::Query(NewObjectCopier()->Copy(ComPtr<Unknown>(outer)));
    ASSERT_TRUE(copy);
    auto inner_copy = copy->GetProperty("inner").ObjectAs<PropertyBag>();
    ASSERT_TRUE(inner_copy);
    EXPECT_FALSE(SameObject(inner, inner_copy));
    inner_copy->SetProperty("n", int16_t{4});
    EXPECT_EQ(inner->GetProperty("n"), Variant(int16_t{3}));
    EXPECT_EQ(copy->GetProperty("text"), Variant("12.50"));

    outer->RemoveProperty("text");
    EXPECT_TRUE(outer->GetProperty("text").IsEmpty());
    EXPECT_EQ(copy->GetProperty("text"), Variant("12.50"));

    // A bag that holds itself cannot be copied without end.
    outer->SetProperty("self", Variant(outer));
    EXPECT_THROW(NewObjectCopier()->Copy(ComPtr<Unknown>(outer)), ComError);
    outer->RemoveProperty("self");
}

// Bags of any size keep their entries in the order first set, a value set again in its place, a
// removed entry gone and set anew at the end; large bags (a project's many custom properties)
// find their entries through an index, which must follow every change.
TEST(StandaloneHost, PropertyBagsOfAnySizeKeepTheirEntriesInOrder) {
    StandaloneHost host;
    for (const int size : {3, 63, 64, 65, 200}) {
        SCOPED_TRACE("size " + std::to_string(size));
        auto bag = NewPropertyBag();
        std::vector<std::pair<std::string, Variant>> want;
        auto set = [&](const std::string& k, int32_t v) {
            bag->SetProperty(k, Variant(v));
            auto it = std::find_if(want.begin(), want.end(), [&](const auto& e) { return e.first == k; });
            if (it != want.end())
                it->second = Variant(v);
            else
                want.emplace_back(k, Variant(v));
        };
        auto remove = [&](const std::string& k) {
            bag->RemoveProperty(k);
            std::erase_if(want, [&](const auto& e) { return e.first == k; });
        };
        for (int i = 0; i < size; ++i) set(std::string("k") + std::to_string(i), i);
        for (int i = 0; i < size; i += 3) set(std::string("k") + std::to_string(i), -i);
        for (int i = 0; i < size; i += 5) remove(std::string("k") + std::to_string(i));
        remove("missing");
        for (int i = 0; i < size; i += 10) set(std::string("k") + std::to_string(i), 1000 + i);
        set("new", 7);
        EXPECT_EQ(ComPtr<BagContents>::Query(bag)->Entries(), want);
        for (int i = 0; i <= size; ++i) {
            const std::string k = std::string("k") + std::to_string(i);
            auto it = std::find_if(want.begin(), want.end(), [&](const auto& e) { return e.first == k; });
            EXPECT_EQ(bag->GetProperty(k), it != want.end() ? it->second : Variant()) << k;
        }
    }
}
TEST(StandaloneHost, WithoutCompanionsTheirClassesAreNotRegistered) {
    StandaloneHost bare(HostOptions{8.5, 11, false});
    EXPECT_THROW(NewActiveLayoutInfo(), ComError);
    EXPECT_THROW(NewMapSeriesFrame(), ComError);
    EXPECT_NO_THROW(NewPropertyBag());
}

TEST(StandaloneHost, MapSeriesOnAFrame) {
    StandaloneHost host;
    auto frame = host.AddMapFrame("Map", {1, 1, 7, 9});
    auto text = host.AddText("Title", {0, 0, 1, 1});
    SeriesData data;
    data.fields = {{"OBJECTID", fieldtype::kObjectId}, {"Name", fieldtype::kString}, {"Offset", fieldtype::kDouble}};
    data.features = {{int32_t{1}, "A", 0.5}, {int32_t{2}, "B", Variant::Null()}};
    data.first_page_number = 5;
    host.AttachSeries(frame, data);

    auto msf = NewMapSeriesFrame();
    EXPECT_TRUE(msf->HasSeries(ComPtr<MapFrame>::Query(frame)));
    EXPECT_TRUE(msf->IsSeriesEnabled(ComPtr<MapFrame>::Query(frame)));
    EXPECT_FALSE(msf->HasSeries(ComPtr<MapFrame>::Query(text)));
    EXPECT_THROW(msf->PageCount(), ComError);  // not bound yet
    msf->Bind(ComPtr<MapFrame>::Query(frame));
    EXPECT_EQ(msf->PageCount(), Variant(int32_t{2}));
    EXPECT_EQ(msf->FirstPageNumber(), Variant(int32_t{5}));
    auto table = msf->IndexLayer()->Table();
    EXPECT_EQ(table->FindField("Offset"), 2);
    EXPECT_EQ(table->FindField("offset"), -1);
    EXPECT_EQ(table->Fields()->FieldAt(1)->Type(), fieldtype::kString);
    EXPECT_EQ(msf->FeatureAt(1)->Value(2), Variant(0.5));
    EXPECT_TRUE(msf->FeatureAt(2)->Value(2).IsNull());
    EXPECT_THROW(msf->FeatureAt(3), ComError);
}

}  // namespace
}  // namespace crv::standalone
