// Where the report says an element stands: measured through the host interfaces, the engine's
// way, for every host alike (the core and the Windows book measure with the same function and
// are compared with the map-book command's report in their own suites).

#include "anchor/AnchorRecord.h"
#include "book/Measure.h"
#include "book/Order.h"
#include "standalone/ComponentRegistry.h"
#include "standalone/host/HostSurface.h"
#include "support/Activation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace crv::testing {
namespace {

using standalone::ElementKind;
using standalone::StandaloneHost;
using objects::Rect;

struct Expected {
    std::string name, group, type;
    Rect rect;
    int layout_page = 0;
};

// A layout holding every kind of element, with what makes bounds and outline differ: frame
// borders, a map frame whose outline is no rectangle, groups nested and of each kind.
std::vector<Expected> BuildLayout(StandaloneHost& host) {
    host.AddText("Title", {1, 9, 3, 9.5});
    StandaloneHost::ElementOf(host.AddPicture("Logo", {6, 9, 7, 10})).SetFrameBorder(0.25);
    host.AddMapFrame("Main Map", {1, 1, 7, 8}, 0.5);
    const auto inset = host.AddMapFrame("Inset", {0, 0, 1, 1}, 0.1);
    StandaloneHost::ElementOf(inset).SetOutline({{5, 1}, {7, 2}, {6, 4}});
    const auto swatch = host.Make(ElementKind::Picture, "Swatch", {2, 0.5, 2.5, 1});
    StandaloneHost::ElementOf(swatch).SetFrameBorder(0.125);
    const auto label = host.Make(ElementKind::Text, "Label", {3, 0.25, 4, 0.75});
    const auto inner = host.Make(ElementKind::IndexedGroup, "Inner", {0, 0, 0, 0});
    StandaloneHost::ElementOf(inner).AddMember(swatch);
    StandaloneHost::ElementOf(inner).AddMember(label);
    const auto note = host.Make(ElementKind::Text, "Note", {4.5, 0, 5, 0.5});
    StandaloneHost::ElementOf(note).layout_page = 1;
    host.AddGroup("Legend", ElementKind::Group, {inner, note});
    return {
        {"Title", "", "text", {1, 9, 3, 9.5}},
        {"Logo", "", "picture", {5.75, 8.75, 7.25, 10.25}},
        // A map frame stands where its outline is, without its border.
        {"Main Map", "", "map_frame", {1, 1, 7, 8}},
        {"Inset", "", "map_frame", {5, 1, 7, 4}},
        // A group is the union of its members' bounds.
        {"Legend", "", "group", {1.875, 0, 5, 1.125}},
        {"Inner", "Legend", "group", {1.875, 0.25, 4, 1.125}},
        {"Swatch", "Legend / Inner", "picture", {1.875, 0.375, 2.625, 1.125}},
        {"Label", "Legend / Inner", "text", {3, 0.25, 4, 0.75}},
        {"Note", "Legend", "text", {4.5, 0, 5, 0.5}, 1},
    };
}

ComPtr<_CRVAnchorManager> NewEngine() {
    RegisterComponentOnce();
    return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
}

TEST(Measure, TheReportGivesEachElementWhereItsHostSaysItStands) {
    StandaloneHost host;
    const std::vector<Expected> expected = BuildLayout(host);
    book::AnchorSelection selection(NewEngine);
    standalone::HostSurface surface(host, "inches");
    const std::vector<book::Placement> measured = surface.Measure(selection);
    ASSERT_EQ(measured.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        const book::Placement& p = measured[i];
        EXPECT_EQ(p.name, e.name) << i;
        EXPECT_EQ(p.group, e.group) << e.name;
        EXPECT_EQ(p.type, e.type) << e.name;
        EXPECT_EQ(p.rect, e.rect) << e.name;
        EXPECT_EQ(p.layout_page, e.layout_page) << e.name;
        EXPECT_FALSE(p.anchored) << e.name;
    }
    // The host's own objects agree, and one element alone is measured the same.
    const auto page = RunningApplication()->Document()->PageLayout();
    size_t i = 0;
    book::WalkLayout(page, [&](const ComPtr<LayoutElement>& element, const std::string&) {
        EXPECT_EQ(StandaloneHost::ExtentOf(element), expected[i].rect) << expected[i].name;
        EXPECT_EQ(surface.RectOf(element), expected[i].rect) << expected[i].name;
        ++i;
    });
    EXPECT_EQ(i, expected.size());
}

// Without a finer word from the host, a type is what the interfaces tell apart.
TEST(Measure, WithoutTheHostsWordATypeIsWhatTheInterfacesTell) {
    StandaloneHost host;
    const std::vector<Expected> expected = BuildLayout(host);
    book::AnchorSelection selection(NewEngine);
    const auto document = RunningApplication()->Document();
    const std::vector<book::Placement> measured =
        book::MeasureLayout(document->PageLayout(), document->ActiveView()->ScreenDisplay(), selection);
    ASSERT_EQ(measured.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string type = expected[i].type == "text" || expected[i].type == "picture" ? "element" : expected[i].type;
        EXPECT_EQ(measured[i].type, type) << expected[i].name;
        EXPECT_EQ(measured[i].rect, expected[i].rect) << expected[i].name;
        EXPECT_EQ(measured[i].layout_page, 0) << expected[i].name;
    }
}

// An anchored element's entry carries its priority and what it is anchored to, the chain of its
// targets; an element without a record carries neither.
TEST(Measure, AnAnchoredElementsEntryTellsItsPriorityAndTargets) {
    StandaloneHost host;
    BuildLayout(host);
    const auto layout = RunningApplication()->Document()->PageLayout();
    std::map<std::string, ComPtr<LayoutElement>> named;
    book::WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) { named[e->Name()] = e; });
    auto give = [&](const std::string& name, const std::map<std::string, Variant>& keys) {
        const auto manager = NewEngine();
        const ComPtr<PropertyBag> record = manager->MakeAnchorProperties();
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        manager->AddAnchorProperties(named.at(name), record);
    };
    give("Logo", {{key::AnchorElement, true}, {key::AnchorType, std::string(kAnchorTypeLayout)},
                  {key::AnchorPriority, int16_t{1}}});
    give("Title", {{key::AnchorElement, true}, {key::AnchorType, std::string(kAnchorTypeNamedElement)},
                   {key::ElementName, std::string("Logo")}, {key::AnchorPriority, int16_t{3}}});
    give("Label", {{key::AnchorElement, true}, {key::AnchorType, std::string(kAnchorTypeNamedElement)},
                   {key::ElementName, std::string("Title")}, {key::AnchorPriority, int16_t{2}}});
    book::AnchorSelection selection(NewEngine);
    standalone::HostSurface surface(host, "inches");
    const struct {
        const char* name;
        std::optional<int16_t> priority;
        std::vector<std::string> anchored_to;
    } cases[] = {
        {"Logo", 1, {}},
        {"Title", 3, {"Logo"}},
        {"Label", 2, {"Title", "Logo"}},
        {"Main Map", std::nullopt, {}},
        {"Legend", std::nullopt, {}},
    };
    const std::vector<book::Placement> measured = surface.Measure(selection);
    for (const auto& c : cases) {
        const auto p = std::find_if(measured.begin(), measured.end(), [&](const auto& m) { return m.name == c.name; });
        ASSERT_NE(p, measured.end()) << c.name;
        EXPECT_EQ(p->anchored, c.priority.has_value()) << c.name;
        EXPECT_EQ(p->priority, c.priority) << c.name;
        EXPECT_EQ(p->anchored_to, c.anchored_to) << c.name;
    }
}

}  // namespace
}  // namespace crv::testing
