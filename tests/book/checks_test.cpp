// The layout checks on small layouts whose findings are worked out by hand.

#include "book/Checks.h"

#include <gtest/gtest.h>

namespace crv::testing {
namespace {

using book::CheckFinding;
using book::CheckLog;
using book::Placement;

Placement P(const std::string& name, objects::Rect r, bool anchored = true, const std::string& group = "",
            const std::string& type = "text") {
    Placement p;
    p.name = name;
    p.group = group;
    p.type = type;
    p.anchored = anchored;
    p.rect = r;
    return p;
}

// `p` anchored to `chain`: its target first, then the target's target and so on.
Placement To(Placement p, std::vector<std::string> chain) {
    p.anchored_to = std::move(chain);
    return p;
}

// Findings as "off:Name" and "overlap:A/B", in order.
std::vector<std::string> Texts(const std::vector<CheckFinding>& found) {
    std::vector<std::string> out;
    for (const auto& f : found) {
        out.push_back(f.kind == CheckFinding::Kind::OffPage ? "off:" + f.element
                                                            : "overlap:" + f.element + "/" + f.other);
    }
    return out;
}

TEST(LayoutChecks, FindOffPageAndOverlappingAnchoredElementsOnAPage) {
    // The page is 10 x 8.
    struct Case {
        const char* what;
        std::vector<Placement> layout;
        bool overlap;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"inside, touching the edges", {P("A", {0, 0, 10, 8})}, false, {}},
        {"a rounding error past the edge", {P("A", {-1e-12, 0, 10 + 1e-12, 8})}, false, {}},
        {"partly off at each side",
         {P("L", {-0.1, 1, 2, 2}), P("B", {1, -0.5, 2, 2}), P("R", {9, 1, 10.01, 2}), P("T", {1, 7, 2, 8.2})},
         false,
         {"off:L", "off:B", "off:R", "off:T"}},
        {"wholly off", {P("Far", {20, 20, 21, 21})}, false, {"off:Far"}},
        {"an element left alone is not checked", {P("Loose", {-5, -5, -1, -1}, false)}, false, {}},
        {"overlap not asked", {P("A", {1, 1, 3, 3}), P("B", {2, 2, 4, 4})}, false, {}},
        {"overlap, each pair once in walk order",
         {P("A", {1, 1, 3, 3}), P("B", {2, 2, 4, 4}), P("C", {2.5, 2.5, 5, 5})},
         true,
         {"overlap:A/B", "overlap:A/C", "overlap:B/C"}},
        {"touching is no overlap", {P("A", {1, 1, 3, 3}), P("B", {3, 1, 5, 3}), P("C", {1, 3, 3, 5})}, true, {}},
        {"an element left alone overlaps nothing", {P("A", {1, 1, 3, 3}), P("Map", {0, 0, 10, 8}, false)}, true, {}},
        {"a group and its members do not overlap, a member and another element do",
         {P("G", {1, 1, 5, 5}, true, "", "group"), P("M", {1, 1, 2, 2}, true, "G"), P("N", {4, 4, 5, 5}, false, "G"),
          P("X", {1.5, 1.5, 3, 3})},
         true,
         {"overlap:G/X", "overlap:M/X"}},
        {"nested groups: the outer group holds the inner one's members",
         {P("Outer", {1, 1, 5, 5}, true, "", "group"), P("Inner", {1, 1, 3, 3}, true, "Outer", "group"),
          P("Deep", {1, 1, 2.5, 2.5}, true, "Outer / Inner"), P("Beside", {2, 2, 4, 4})},
         true,
         {"overlap:Outer/Beside", "overlap:Inner/Beside", "overlap:Deep/Beside"}},
        {"a group's namesake elsewhere is not its member",
         {P("G", {1, 1, 5, 5}, true, "", "group"), P("M", {1, 1, 2, 2}, true, "G"),
          P("Other", {1, 1, 2, 2}, true, "Gx")},
         true,
         {"overlap:G/Other", "overlap:M/Other"}},
        {"inside the element it is anchored to, either way round",
         {P("Map", {1, 1, 9, 7}), To(P("North Arrow", {8, 6, 8.5, 6.8}), {"Map"}),
          To(P("Inset", {1, 1, 3, 3}), {"Map"})},
         true,
         {}},
        {"inside an element along its chain of anchors",
         {P("Map", {1, 1, 9, 7}), To(P("Scale", {2, 2, 4, 2.5}), {"Note", "Map"}),
          To(P("Note", {2, 2.5, 4, 3}), {"Map"})},
         true,
         {}},
        {"partly outside what it is anchored to, or inside what it is not anchored to",
         {P("Map", {1, 1, 9, 7}), To(P("North Arrow", {8.5, 6, 9.5, 6.8}), {"Map"}),
          To(P("Note", {2, 2, 4, 3}), {"Title"})},
         true,
         {"overlap:Map/North Arrow", "overlap:Map/Note"}},
        {"off the page and overlapping", {P("A", {-1, 1, 3, 3}), P("B", {2, 2, 4, 4})}, true, {"off:A", "overlap:A/B"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Texts(book::CheckPage(c.layout, 10, 8, c.overlap)), c.want) << c.what;
    }
}

TEST(LayoutChecks, GatherOneLinePerElementAndKindWithThePagesAsRanges) {
    const CheckFinding arrow{CheckFinding::Kind::OffPage, "North Arrow", ""};
    const CheckFinding legend{CheckFinding::Kind::Overlap, "Legend", "Survey Note"};
    const CheckFinding note{CheckFinding::Kind::OffPage, "Survey Note", ""};
    CheckLog log;
    EXPECT_TRUE(log.Empty());
    EXPECT_TRUE(log.Lines().empty());
    log.AddPage(1, {});
    EXPECT_TRUE(log.Empty());
    log.AddPage(2, {legend});
    for (int32_t page : {3, 5, 6, 7}) log.AddPage(page, {arrow, legend});
    for (int32_t page : {8, 9, 10, 11, 12}) log.AddPage(page, {arrow});
    log.AddPage(20, {note});
    EXPECT_FALSE(log.Empty());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"\"Legend\" overlaps \"Survey Note\" on pages 2-3, 5-7",
                                                     "\"North Arrow\" off the page on pages 3, 5-12",
                                                     "\"Survey Note\" off the page on page 20"}));
    PageList pages;
    EXPECT_EQ(book::PageRangesText(pages), "");
    for (int32_t p : {-2, -1, 4, 9, 10, 11}) pages.Add(p, p);
    EXPECT_EQ(book::PageRangesText(pages), "-2--1, 4, 9-11");
}

}  // namespace
}  // namespace crv::testing
