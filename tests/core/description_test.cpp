// What a host may describe beyond rectangles, through the core's C interface: an element that is
// not a rectangle, the layout page an element stands on, and a map series whose features the
// host gives page by page instead of all at once.
#include "tests/core/CoreTestSupport.h"

#include <string>
#include <tuple>

namespace {

using namespace crv::coretest;

// A record anchoring an element's top left corner to the page's, with no distance.
json TopLeftRecord() {
    auto e = [](const char* key, const char* kind, const json& value) { return json{{"key", key}, {"kind", kind}, {"value", value}}; };
    const json entries = json::array({e("AnchorElement", "boolean", true), e("AnchorType", "string", "Layout"),
                                      e("AnchorFromAll", "int16", 0), e("AnchorToAll", "int16", 0),
                                      e("HDistanceAll", "double", 0), e("VDistanceAll", "double", 0)});
    return {{"kind", "bag"},
            {"entries", json::array({{{"key", "CorvaneProperties"},
                                      {"kind", "bag"},
                                      {"entries", json::array({{{"key", "AnchorProperties"}, {"kind", "bag"}, {"entries", entries}}})}}})}};
}

std::string Layout(const json& elements) {
    return json{{"format", "crvanchor-snapshot"}, {"version", 1}, {"document", "d.json"}, {"units", "inches"},
                {"page", {8.5, 11}}, {"elements", elements}, {"series_layouts", json::array()},
                {"section_templates", json::array()}, {"active_layout", {{"name", ""}, {"kind", ""}}}}
        .dump();
}

json Text(const char* name, const json& shape, const char* shapeKey = "rect") {
    return {{"kind", "text"}, {"name", name}, {shapeKey, shape}, {"border", 0}, {"text", ""}, {"custom", TopLeftRecord()}};
}

// A rotated element, described by its corners, is placed by their envelope, which moves whole;
// each move says which layout page the element stands on.
TEST(CoreDescription, PlacesAnOutlineByItsEnvelopeOnItsOwnLayoutPage) {
    json diamond = Text("Arrow", json::array({{2, 9}, {3, 10}, {4, 9}, {3, 8}}), "outline");
    json second = Text("Note", {5, 5, 6, 6});
    second["layout_page"] = 1;
    const Mirror m = Open(Layout(json::array({diamond, second})));
    ASSERT_TRUE(m);
    const json page = PlacePage(m.get(), 1);
    EXPECT_EQ(page["error_reports"], json::array());
    EXPECT_EQ(page["moves"], json::parse(R"([{"element": "Arrow", "rect": [0, 9, 2, 11], "layout_page": 0},
                                              {"element": "Note", "rect": [0, 10, 1, 11], "layout_page": 1}])"));
}

// Two anchored items at the same place of different layout pages do not overlap; on one page
// they do.
TEST(CoreDescription, OverlapsAreFoundOnOneLayoutPageAlone) {
    for (const int second : {0, 1}) {
        json a = Text("A", {5, 5, 6, 6});
        json b = Text("B", {5, 5, 6, 6});
        b["layout_page"] = second;
        const Mirror m = Open(Layout(json::array({a, b})));
        ASSERT_TRUE(m);
        const json checks = PlacePage(m.get(), 1, true)["record"].value("checks", json::array());
        bool overlap = false;
        for (const json& c : checks) overlap = overlap || c["kind"] == "overlap";
        EXPECT_EQ(overlap, second == 0) << checks;
    }
}

// A layout page of another size than the first gives its size: an element low on a taller
// second page is on it, and past its top it is off it.
TEST(CoreDescription, AnElementIsCheckedOnItsOwnPagesSize) {
    const struct {
        double y;  // the element's bottom edge, on the second page (8.5 x 14)
        bool sized;  // the description gives the page's size
        bool off;
    } cases[] = {{12, true, false}, {13.8, true, true}, {12, false, true}};
    for (const auto& c : cases) {
        json on = Text("Low", {1, c.y, 2, c.y + 0.5});
        on["layout_page"] = 1;
        if (c.sized) on["page_size"] = {8.5, 14};
        // Anchored where it stands: its bottom left corner at its distance from the page's.
        json& entries = on["custom"]["entries"][0]["entries"][0]["entries"];
        entries[2]["value"] = 6;
        entries[3]["value"] = 6;
        entries[4]["value"] = 1;
        entries[5]["value"] = c.y;
        const Mirror m = Open(Layout(json::array({on})));
        ASSERT_TRUE(m);
        const json checks = PlacePage(m.get(), 1)["record"].value("checks", json::array());
        EXPECT_EQ(!checks.empty(), c.off) << c.y << (c.sized ? " sized " : " unsized ") << checks;
    }
}

// An element the host places itself ("held") keeps its record but is left out with the host's
// reason, never moved, and is a finding of every page.
TEST(CoreDescription, AnElementTheHostPlacesItselfIsLeftOutAndReported) {
    json held = Text("Title", {3, 3, 4, 4});
    held["held"] = "QGIS sets its position from data (data-defined X), so a move would not hold";
    const Mirror m = Open(Layout(json::array({held, Text("Note", {5, 5, 6, 6})})));
    ASSERT_TRUE(m);
    char* out = nullptr;
    ASSERT_EQ(crv_mirror_selection(m.get(), &out), CRV_OK);
    const json selection = Taken(out);
    EXPECT_EQ(selection["anchor_order"], json::array({"Note"}));
    EXPECT_EQ(selection["left_out"], json::parse(R"([{"element": "Title", "reason":
        "QGIS sets its position from data (data-defined X), so a move would not hold"}])"));
    for (const int32_t page : {1, 1}) {
        const json result = PlacePage(m.get(), page);
        for (const json& move : result["moves"]) EXPECT_NE(move["element"], "Title");
        EXPECT_EQ(result["record"]["checks"], json::parse(R"([{"kind": "data_defined", "element": "Title"}])"));
    }
}

// What the map-book command's show lists: every element in layout order, a group's members
// under it, each record in one line, and the cycles of anchors.
TEST(CoreDescription, ShowsTheRecordsAndTheCycles) {
    json a = Text("A", {0, 0, 1, 1});
    json b = Text("B", {2, 2, 3, 3});
    json c = Text("C", {4, 4, 5, 5});
    const auto anchorTo = [](json& e, const char* target) {
        json& entries = e["custom"]["entries"][0]["entries"][0]["entries"];
        entries[1]["value"] = "NamedElement";
        entries.push_back({{"key", "ElementName"}, {"kind", "string"}, {"value", target}});
    };
    anchorTo(b, "C");
    anchorTo(c, "B");
    json plain = Text("Plain", {6, 6, 7, 7});
    plain["custom"] = {{"kind", "empty"}};
    const json group = {{"kind", "group"}, {"name", "G"}, {"rect", {6, 6, 7, 7}}, {"border", 0}, {"text", ""},
                        {"custom", {{"kind", "empty"}}}, {"members", json::array({plain})}};
    const Mirror m = Open(Layout(json::array({a, group, b, c})));
    ASSERT_TRUE(m);
    char* out = nullptr;
    ASSERT_EQ(crv_mirror_show(m.get(), &out), CRV_OK) << crv_last_error();
    const json shown = Taken(out);
    std::vector<std::string> lines;
    for (const json& e : shown["elements"])
        lines.push_back(std::string(2 * e["depth"].get<size_t>(), ' ') + e["element"].get<std::string>() + ": " +
                        e["summary"].get<std::string>());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "A: LOW: Top Left to Top Left of page, h 0.000, v 0.000", "G: ", "  Plain: ",
                         "B: LOW: Top Left to Top Left of \"C\", h 0.000, v 0.000",
                         "C: LOW: Top Left to Top Left of \"B\", h 0.000, v 0.000"}));
    EXPECT_EQ(shown["cycles"], json::parse(R"(["\"B\" is in a cycle of anchors: \"B\" \u2192 \"C\" \u2192 \"B\"",
                                             "\"C\" is in the same cycle of anchors as \"B\""])"));
}

// What --outline draws of the page placed last, in a picture's pixels (y down): the element's
// box and the arrow of its rule, here a point reached at no distance, so a ring; and which rule
// placed each element, whatever is drawn (a ring has no dashes).
TEST(CoreDescription, OutlinesThePagePlacedInPixels) {
    json odd = Text("B", {6, 3, 7, 4});
    auto& entries = odd["custom"]["entries"][0]["entries"][0]["entries"];
    for (const auto& [key, kind, value] : {std::tuple{"UseAltAnchoring", "boolean", json(true)},
                                           {"AltAnchorType", "int16", json(1)},  // odd pages
                                           {"AnchorFromAlt", "int16", json(0)},
                                           {"AnchorToAlt", "int16", json(0)},
                                           {"HDistanceAlt", "double", json(0)},
                                           {"VDistanceAlt", "double", json(0)}}) {
        entries.push_back({{"key", key}, {"kind", kind}, {"value", value}});
    }
    const Mirror m = Open(Layout(json::array({Text("A", {3, 3, 5, 4}), odd})));
    ASSERT_TRUE(m);
    PlacePage(m.get(), 1);
    char* out = nullptr;
    ASSERT_EQ(crv_mirror_outlines(m.get(), 1, 10, 11, &out), CRV_OK) << crv_last_error();
    const json drawn = Taken(out);
    EXPECT_EQ(drawn["rgb"], json::array({255, 0, 255}));
    ASSERT_EQ(drawn["outlines"].size(), 2u);
    const json& a = drawn["outlines"][0];
    EXPECT_EQ(a["element"], "A");
    EXPECT_EQ(a["layout_page"], 0);
    // Top left at (0, 11) after the placement: 2 x 1 inches, 10 pixels an inch, from the top.
    EXPECT_EQ(a["box"], json::array({0, 0, 20, 10}));
    EXPECT_TRUE(a["dot"].is_array()) << a;
    EXPECT_EQ(a["alternate"], false);
    const json& b = drawn["outlines"][1];
    EXPECT_EQ(b["element"], "B");
    EXPECT_TRUE(b["dot"].is_array()) << b;
    EXPECT_EQ(b["dashed"], false);
    EXPECT_EQ(b["alternate"], true);
    EXPECT_EQ(crv_mirror_outlines(m.get(), 1, 0, 11, &out), CRV_REFUSED);
}

TEST(CoreDescription, RefusesAShapeItCannotHold) {
    const struct {
        const char* what;
        json element;
        const char* message;
    } cases[] = {
        {"a rectangle and an outline", [] { json e = Text("A", {0, 0, 1, 1}); e["outline"] = json::array({{0, 0}, {1, 0}, {0, 1}}); return e; }(),
         "/elements/0: give \"rect\" or \"outline\", not both"},
        {"two corners", Text("A", json::array({{0, 0}, {1, 1}}), "outline"),
         "/elements/0/outline: expected an array of three corners or more, each [x, y]"},
        {"a corner of three numbers", Text("A", json::array({{0, 0}, {1, 1, 1}, {0, 1}}), "outline"),
         "/elements/0/outline/1: expected a corner [x, y]"},
        {"a page before the first", [] { json e = Text("A", {0, 0, 1, 1}); e["layout_page"] = -1; return e; }(),
         "/elements/0/layout_page: expected 0 or more, the layout's first page being 0"},
        {"a group's own outline",
         json{{"kind", "group"}, {"name", "G"}, {"outline", json::array({{0, 0}, {1, 0}, {0, 1}})}, {"border", 0}, {"text", ""},
              {"custom", {{"kind", "empty"}}}, {"members", json::array()}},
         "/elements/0/outline: a group's outline is its members'"},
    };
    for (const auto& c : cases) {
        crv_mirror* m = nullptr;
        EXPECT_EQ(crv_mirror_open(Layout(json::array({c.element})).c_str(), "bad", &m), CRV_REFUSED) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
        crv_mirror_close(m);
    }
}

// A series of three features over a layout that prints `perPage` pages for each: an element on
// layout page `layoutPage` follows its alternate rule (even pages: its top right corner at the
// page's or the map's) on the printed pages the book's odd and even count reaches. The engine counts the
// page's number, or its place in the series for an element whose distances come from fields.
TEST(CoreDescription, OddAndEvenCountPrintedPagesWhereAPagePrintsSeveral) {
    const struct {
        int32_t perPage;  // 0: not described, one printed page a page
        int32_t first;  // the series' first page number
        int32_t layoutPage;
        bool fields;  // distances from the series' fields
    } cases[] = {{0, 1, 0, false}, {0, 1, 1, false}, {1, 2, 1, false}, {2, 1, 0, false}, {2, 1, 1, false},
                 {2, 4, 1, false}, {3, 1, 1, false}, {3, 2, 2, false}, {2, 4, 1, true}, {3, 5, 2, true}};
    for (const auto& c : cases) {
        json note = Text("Note", {4, 4, 5, 5});
        note["layout_page"] = c.layoutPage;
        json& entries = note["custom"]["entries"][0]["entries"][0]["entries"];
        const auto add = [&entries](const char* key, const char* kind, const json& value) {
            entries.push_back({{"key", key}, {"kind", kind}, {"value", value}});
        };
        add("UseAltAnchoring", "boolean", true);
        add("AltAnchorType", "int16", 0);
        add("AnchorFromAlt", "int16", 2);
        add("AnchorToAlt", "int16", 2);
        if (c.fields) {
            // Field distances come from the series of the map frame it is anchored to.
            entries[1]["value"] = "NamedElement";
            add("ElementName", "string", "Map");
            add("HFromFieldAll", "boolean", true);
            for (const char* key : {"HFieldNameAll", "VFieldNameAll", "HFieldNameAlt", "VFieldNameAlt"}) add(key, "string", "DX");
        }
        json pages = json::array();
        json envelopes = json::array();
        for (int i = 0; i < 3; ++i) {
            pages.push_back(json::array({{{"kind", "int32"}, {"value", i + 1}}, {{"kind", "double"}, {"value", 0}}}));
            envelopes.push_back({0, 0, 1, 1});
        }
        json frame = {{"kind", "map_frame"}, {"name", "Map"}, {"rect", {1, 1, 3, 3}}, {"border", 0}, {"text", ""},
                      {"custom", {{"kind", "empty"}}},
                      {"series", {{"name", "sheets"}, {"fields", json::array({{{"name", "fid"}, {"type", 6}},
                                                                               {{"name", "DX"}, {"type", 3}}})},
                                  {"pages", pages}, {"first_page", c.first}, {"current_position", 1},
                                  {"enabled", true}, {"envelopes", envelopes}}}};
        json layout = json::parse(Layout(json::array({frame, note})));
        layout["active_layout"] = {{"name", "Atlas"}, {"kind", "SeriesLayout"}};
        layout["series_layouts"] = json::array({{{"name", "Atlas"}, {"current_page", {{"kind", "int32"}, {"value", 1}}}}});
        if (c.perPage > 0) layout["printed_pages_per_page"] = c.perPage;
        const Mirror m = Open(layout.dump());
        ASSERT_TRUE(m);
        char* chosen = nullptr;
        ASSERT_EQ(crv_mirror_selection(m.get(), &chosen), CRV_OK);
        EXPECT_EQ(Taken(chosen)["anchor_order"], json::array({"Note"}));
        const int32_t n = c.perPage > 1 ? c.perPage : 1;
        for (int32_t i = 0; i < 3; ++i) {
            const int32_t page = c.first + i;
            const json result = PlacePage(m.get(), page);
            EXPECT_EQ(result["error_reports"], json::array());
            const json& rect = result["record"]["elements"][1]["rect"];
            const int32_t printed = (c.fields ? 1 : c.first) + i * n + (n > 1 ? c.layoutPage : 0);
            const bool alternate = rect[0].get<double>() > (c.fields ? 1.5 : 4);  // the right of the map or the page
            EXPECT_EQ(alternate, printed % 2 == 0) << "per page " << c.perPage << ", first " << c.first
                                                   << ", layout page " << c.layoutPage << (c.fields ? ", fields" : "")
                                                   << ", page " << page << ": " << rect;
        }
    }
}

// An element anchored to the page is anchored to its own page: on a taller second page, to its
// top.
TEST(CoreDescription, AnElementIsAnchoredToItsOwnPagesSize) {
    for (const bool sized : {false, true}) {
        json on = Text("Low", {1, 1, 2, 2});
        on["layout_page"] = 1;
        if (sized) on["page_size"] = {8.5, 14};
        const Mirror m = Open(Layout(json::array({on})));
        ASSERT_TRUE(m);
        const json rect = PlacePage(m.get(), 1)["record"]["elements"][0]["rect"];
        EXPECT_EQ(rect, json::array({0, sized ? 13 : 10, 1, sized ? 14 : 11})) << sized;
    }
}

// The sample book with its series' features given one page at a time, as a host that reads
// them as it goes gives them: the same report as the map-book command's, page for page.
TEST(CoreDescription, FeaturesGivenPageByPagePlaceTheBookAsAllAtOnce) {
    json snapshot = json::parse(ReadText(Env("CRV_CORE_WORK") + "/snapshot.json"));
    const json expected = json::parse(ReadText(Env("CRV_CORE_WORK") + "/book-report.json"));
    json& series = snapshot["elements"][0]["series"];
    const json pages = series["pages"];
    series.erase("pages");
    series["page_count"] = pages.size();
    const Mirror m = Open(snapshot.dump(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    char* out = nullptr;
    EXPECT_EQ(crv_mirror_place_page(m.get(), 2, 0, &out), CRV_REFUSED);
    EXPECT_STREQ(crv_last_error(),
                 "crv_mirror_place_page: the feature of page 2 was not given; give it with crv_mirror_set_feature first");
    for (int32_t page = 1; page <= static_cast<int32_t>(pages.size()); ++page) {
        const std::string values = pages[static_cast<size_t>(page - 1)].dump();
        ASSERT_EQ(crv_mirror_set_feature(m.get(), nullptr, page, values.c_str()), CRV_OK) << crv_last_error();
        const json result = PlacePage(m.get(), page);
        EXPECT_EQ(result["record"], expected["pages"][static_cast<size_t>(page - 1)]) << "page " << page;
    }
    // The last feature given is the one kept: a page placed again is given again.
    EXPECT_EQ(crv_mirror_place_page(m.get(), 1, 0, &out), CRV_REFUSED);
    EXPECT_STREQ(crv_last_error(),
                 "crv_mirror_place_page: the feature of page 1 was not given; give it with crv_mirror_set_feature first");

    const std::string row = pages[0].dump();
    const struct {
        const char* what;
        const char* frame;
        int32_t page;
        std::string values;
        const char* message;
    } refused[] = {
        {"a page past the series", nullptr, 17, row, "crv_mirror_set_feature: page 17 is not in the map series (pages 1 to 16)"},
        {"a frame without a series", "Title", 1, row, "crv_mirror_set_feature: \"Title\" has no map series"},
        {"no such frame", "Inset", 1, row, "crv_mirror_set_feature: no element named \"Inset\""},
        {"one value short", nullptr, 1, [&] { json r = pages[0]; r.erase(r.size() - 1); return r.dump(); }(),
         "crv_mirror_set_feature: expected 8 values, one for each field of the series, found 7"},
        {"a value of no kind", nullptr, 1, R"([{"kind": "colour"}])",
         "crv_mirror_set_feature: the values does not read: /0/kind: "},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(crv_mirror_set_feature(m.get(), c.frame, c.page, c.values.c_str()), CRV_REFUSED) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
    }
}

}  // namespace
