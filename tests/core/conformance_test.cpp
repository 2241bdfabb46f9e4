// The portable core as a host sees it, through its C interface alone: the same suite runs
// against the Linux library and, under Wine, the Windows one. The sample book through the mirror
// must give the map-book command's report rectangle for rectangle.
//
// Environment: CRV_CORE_WORK, a folder to write in that holds snapshot.json, the sample book's
// layout as crvanchor-snapshot writes it, and book-report.json, `crvanchor book --report` of it.
#include "tests/core/CoreTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace crv::coretest;

// A layout of one page with a text element carrying the given anchor record entries.
std::string OneAnchoredText(const json& entries) {
    json record = {{"kind", "bag"},
                   {"entries", json::array({{{"key", "CorvaneProperties"},
                                             {"kind", "bag"},
                                             {"entries", json::array({{{"key", "AnchorProperties"},
                                                                       {"kind", "bag"},
                                                                       {"entries", entries}}})}}})}};
    json element = {{"kind", "text"}, {"name", "Title"}, {"rect", {1, 9, 3, 9.5}}, {"border", 0}, {"text", "T"},
                    {"custom", record}};
    return json{{"format", "crvanchor-snapshot"}, {"version", 1}, {"document", "one.json"}, {"units", "inches"},
                {"page", {8.5, 11}}, {"elements", json::array({element})}, {"series_layouts", json::array()},
                {"section_templates", json::array()}, {"active_layout", {{"name", ""}, {"kind", ""}}}}
        .dump();
}

json Entry(const char* key, const char* kind, const json& value) {
    return {{"key", key}, {"kind", kind}, {"value", value}};
}

TEST(CoreInterface, SaysItsVersion) { EXPECT_EQ(crv_core_version(), CRV_CORE_VERSION); }

// Every page of the sample book placed through the mirror: the report the core writes is the
// map-book command's, and each page's moves are what its record shows.
TEST(CoreInterface, PlacesTheSampleBookAsTheMapBookCommandDoes) {
    const std::string snapshot = ReadText(Env("CRV_CORE_WORK") + "/snapshot.json");
    ASSERT_FALSE(snapshot.empty()) << "no snapshot.json in CRV_CORE_WORK";
    json expected = json::parse(ReadText(Env("CRV_CORE_WORK") + "/book-report.json"));
    const Mirror m = Open(snapshot, "lakes_atlas.json");
    ASSERT_TRUE(m);
    int32_t first = 0, last = 0;
    ASSERT_EQ(crv_mirror_pages(m.get(), &first, &last), CRV_OK);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 16);

    char* selectionText = nullptr;
    ASSERT_EQ(crv_mirror_selection(m.get(), &selectionText), CRV_OK);
    const json selection = Taken(selectionText);
    EXPECT_EQ(selection["anchor_order"], expected["anchor_order"]);
    EXPECT_EQ(selection["left_out"], json::array());
    EXPECT_EQ(selection["error_reports"], json::array());

    const std::string report = Env("CRV_CORE_WORK") + "/core-report.json";
    ASSERT_EQ(crv_mirror_start_report(m.get(), report.c_str()), CRV_OK) << crv_last_error();
    int moved = 0;
    for (int32_t page = first; page <= last; ++page) {
        const json result = PlacePage(m.get(), page);
        EXPECT_EQ(result["page"], page);
        EXPECT_EQ(result["error_reports"], json::array());
        EXPECT_EQ(result["record"], expected["pages"][static_cast<size_t>(page - first)]) << "page " << page;
        for (const json& move : result["moves"]) {
            ++moved;
            bool shown = false;
            for (const json& e : result["record"]["elements"]) {
                if (e["name"] == move["element"]) shown = e["rect"] == move["rect"];
            }
            EXPECT_TRUE(shown) << "page " << page << ": " << move;
        }
    }
    EXPECT_GT(moved, 16);  // the page number alone moves on every page
    ASSERT_EQ(crv_mirror_finish_report(m.get()), CRV_OK) << crv_last_error();
    json written = json::parse(ReadText(report));
    EXPECT_EQ(written["document"], "lakes_atlas.json");
    written.erase("document");
    expected.erase("document");
    EXPECT_EQ(written, expected);
}

// What the host moved itself is where the engine measures it from: the north arrow anchored to
// the map frame's corner follows the frame the host moved.
TEST(CoreInterface, AnElementTheHostMovedIsWhereTheEngineFindsIt) {
    const std::string snapshot = ReadText(Env("CRV_CORE_WORK") + "/snapshot.json");
    ASSERT_FALSE(snapshot.empty());
    const auto arrowOnPage1 = [&](bool moveMap) {
        const Mirror m = Open(snapshot);
        if (moveMap) {
            EXPECT_EQ(crv_mirror_set_rect(m.get(), "Main Map", 1.0, 1.5, 8.0, 9.5), CRV_OK) << crv_last_error();
        }
        const json page = PlacePage(m.get(), 1);
        for (const json& e : page["record"]["elements"]) {
            if (e["name"] == "North Arrow") return e["rect"];
        }
        return json();
    };
    const json still = arrowOnPage1(false);
    const json moved = arrowOnPage1(true);
    ASSERT_TRUE(still.is_array() && moved.is_array());
    // The map's top right corner moved by (0.25, 0.1): so did the arrow.
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(moved[i].get<double>() - still[i].get<double>(), i % 2 == 0 ? 0.25 : 0.1, 1e-9) << i;
    }
}

// The engine's error reports come back as values, with their numbers and call-stack lines;
// nothing reaches a console.
TEST(CoreInterface, ErrorReportsComeBackAsValues) {
    const Mirror m = Open(OneAnchoredText(json::array({Entry("AnchorElement", "boolean", true),
                                                       Entry("AnchorType", "string", "Layout"),
                                                       Entry("AnchorFromAll", "int16", 9)})));
    ASSERT_TRUE(m);
    ::testing::internal::CaptureStderr();
    char* selectionText = nullptr;
    ASSERT_EQ(crv_mirror_selection(m.get(), &selectionText), CRV_OK);
    const json selection = Taken(selectionText);
    json reports = selection["error_reports"];
    const json page = PlacePage(m.get(), 1);
    for (const json& r : page["error_reports"]) reports.push_back(r);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_FALSE(reports.empty()) << selection << page;
    for (const json& r : reports) {
        EXPECT_NE(r["number"], 0) << r;
        EXPECT_NE(r["text"].get<std::string>().find("Error Number"), std::string::npos) << r;
        EXPECT_NE(r["text"].get<std::string>().find("CRVAnchor:"), std::string::npos) << r;  // a call-stack line
    }
    EXPECT_EQ(page["moves"], json::array());  // nothing moved
}

// A record edited through the mirror as the map-book command's `anchor` edits it: the element
// gets a default record, the keys are converted and checked in the same words, the selection
// follows, and the custom property comes back for the host to store.
TEST(CoreInterface, EditsARecordAsTheAnchorCommandDoes) {
    const std::string snapshot = ReadText(Env("CRV_CORE_WORK") + "/snapshot.json");
    ASSERT_FALSE(snapshot.empty());
    const Mirror m = Open(snapshot, "lakes_atlas.json");
    ASSERT_TRUE(m);
    const json edited = EditRecord(m.get(), "Main Map",
                                   {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Title",
                                    "AnchorToAll=Bottom Left", "VDistanceAll=-0.5"});
    EXPECT_EQ(edited["outcome"], "created");
    EXPECT_EQ(edited["message"],
              "Gave \"Main Map\" a default anchor record with AnchorElement=true AnchorType=\"NamedElement\" "
              "ElementName=\"Title\" AnchorToAll=6 VDistanceAll=-0.5");
    EXPECT_EQ(edited["cycle"], "");
    EXPECT_EQ(edited["custom"]["kind"], "bag");
    EXPECT_NE(edited["custom"].dump().find("\"ElementName\""), std::string::npos);
    char* selectionText = nullptr;
    ASSERT_EQ(crv_mirror_selection(m.get(), &selectionText), CRV_OK);
    const json order = Taken(selectionText)["anchor_order"];
    EXPECT_NE(std::find(order.begin(), order.end(), "Main Map"), order.end()) << order;

    // The title anchored to the map in turn: a cycle, saved as asked and told.
    const json cycle = EditRecord(m.get(), "Title", {"AnchorType=NamedElement", "ElementName=Main Map"});
    EXPECT_EQ(cycle["outcome"], "changed");
    EXPECT_EQ(cycle["cycle"],
              "\"Title\" is in a cycle of anchors: \"Title\" → \"Main Map\" → \"Title\"; the book leaves it where it "
              "stands");

    const struct {
        const char* what;
        std::vector<const char*> changes;
        const char* element;
        const char* message;
    } refused[] = {
        {"an unknown key", {"Colour=red"}, "Title", "Colour"},
        {"a point code out of range", {"AnchorToAll=12"}, "Title", "AnchorToAll"},
        {"an element the layout lacks", {"ElementName=Inset"}, "Title", "Inset"},
        {"a field the series lacks", {"HFieldNameAll=NOPE"}, "Title", "NOPE"},
        {"no such element", {"AnchorElement=true"}, "Inset", "no element named \"Inset\""},
    };
    for (const auto& c : refused) {
        char* out = nullptr;
        EXPECT_EQ(crv_mirror_edit_record(m.get(), c.element, c.changes.data(), static_cast<int32_t>(c.changes.size()),
                                         &out),
                  CRV_REFUSED)
            << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
    }
}

// Every refusal: a status, one line naming what was wrong, and nothing changed.
// A host's page list read as the map-book command reads --pages, against the sample book's
// pages 1 to 16: each page once, in order; the command's own line for what it refuses.
TEST(CoreInterface, ReadsPageTextsAsTheMapBookCommand) {
    const Mirror m = Open(ReadText(Env("CRV_CORE_WORK") + "/snapshot.json"), "Lakes Atlas");
    ASSERT_TRUE(m);
    const struct {
        const char* text;
        std::vector<int> pages;  // empty: refused
        const char* message;
    } cases[] = {
        {"", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, ""},
        {"7", {7}, ""},
        {"9, 1 - 3,2", {1, 2, 3, 9}, ""},
        {"16-16", {16}, ""},
        {"0", {}, "--pages: 0 is not in the map book (pages 1 to 16)"},
        {"15-17", {}, "--pages: 15-17 is not in the map book (pages 1 to 16)"},
        {"5-3", {}, "--pages: the range 5-3 runs backwards"},
        {"1,,2", {}, "--pages: expected a page or a range such as 3-5, found \"\""},
        {"two", {}, "--pages: expected a page or a range such as 3-5, found \"two\""},
        {"2.5", {}, "--pages: expected a page or a range such as 3-5, found \"2.5\""},
    };
    for (const auto& c : cases) {
        char* out = nullptr;
        const crv_status status = crv_mirror_parse_pages(m.get(), c.text, &out);
        if (c.pages.empty()) {
            EXPECT_EQ(status, CRV_REFUSED) << c.text;
            EXPECT_EQ(out, nullptr) << c.text;
            EXPECT_EQ(std::string(crv_last_error()), c.message) << c.text;
        } else {
            ASSERT_EQ(status, CRV_OK) << c.text << ": " << crv_last_error();
            EXPECT_EQ(Taken(out)["pages"].get<std::vector<int>>(), c.pages) << c.text;
        }
    }
}

TEST(CoreInterface, RefusesBadInputInOneLine) {
    const std::string good = OneAnchoredText(json::array({Entry("AnchorElement", "boolean", false)}));
    {
        const struct {
            const char* what;
            std::string description;
            const char* message;
        } cases[] = {
            {"empty", "", "The layout snapshot bad does not read: parse error at line 1"},
            {"not JSON", "{", "The layout snapshot bad does not read: parse error at line 1"},
            {"an array", "[1]", "The layout snapshot bad does not read: /: expected an object, found an array"},
            {"another format", R"({"format": "x", "version": 1})",
             "The layout snapshot bad does not read: /format: expected \"crvanchor-snapshot\", found \"x\""},
            {"a newer version", R"({"format": "crvanchor-snapshot", "version": 2})",
             "The layout snapshot bad does not read: /version: expected version 1, found 2"},
            {"no elements", R"({"format": "crvanchor-snapshot", "version": 1, "page": [8.5, 11]})",
             "The layout snapshot bad does not read: /: missing \"elements\""},
            {"no printed page a page", [&] { json d = json::parse(good); d["printed_pages_per_page"] = 0; return d.dump(); }(),
             "/printed_pages_per_page: expected a whole number from 1 to 1000, found 0"},
            {"printed pages in halves", [&] { json d = json::parse(good); d["printed_pages_per_page"] = 1.5; return d.dump(); }(),
             "/printed_pages_per_page: expected a whole number from 1 to 1000, found 1.5"},
            {"printed pages numbered past 32 bits",
             [&] {
                 json d = json::parse(good);
                 d["printed_pages_per_page"] = 2;
                 d["elements"][0]["layout_page"] = 2147483647;
                 return d.dump();
             }(),
             "/printed_pages_per_page: with 2 printed pages a page the book's pages 1 to 1 are numbered past 32 bits"},
            {"printed pages of a section template",
             [&] {
                 json d = json::parse(good);
                 d["printed_pages_per_page"] = 2;
                 d["active_layout"] = {{"name", "Sections"}, {"kind", "SectionTemplate"}};
                 return d.dump();
             }(),
             "/printed_pages_per_page: a section template numbers its own pages"},
            {"a rectangle turned inside out",
             [&] {
                 json d = json::parse(good);
                 d["elements"][0]["rect"] = {2, 0, 1, 1};
                 return d.dump();
             }(),
             "/elements/0/rect: expected xmin <= xmax and ymin <= ymax"},
        };
        for (const auto& c : cases) {
            int sentinel = 0;
            crv_mirror* m = reinterpret_cast<crv_mirror*>(&sentinel);  // overwritten with NULL
            EXPECT_EQ(crv_mirror_open(c.description.c_str(), "bad", &m), CRV_REFUSED) << c.what;
            EXPECT_EQ(m, nullptr) << c.what;
            EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos)
                << c.what << ": " << crv_last_error();
            EXPECT_EQ(std::string(crv_last_error()).find('\n'), std::string::npos) << c.what;
        }
    }
    const Mirror m = Open(good);
    ASSERT_TRUE(m);
    crv_mirror* second = nullptr;
    char* out = nullptr;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        std::function<crv_status()> call;
        const char* message;
    } calls[] = {
        {"a second mirror", [&] { return crv_mirror_open(good.c_str(), "second", &second); },
         "crv_mirror_open: a mirror is open already; close it first"},
        {"page 0", [&] { return crv_mirror_place_page(m.get(), 0, 0, &out); },
         "crv_mirror_place_page: page 0 is not in the book (pages 1 to 1)"},
        {"page 2", [&] { return crv_mirror_place_page(m.get(), 2, 0, &out); },
         "crv_mirror_place_page: page 2 is not in the book (pages 1 to 1)"},
        {"no result", [&] { return crv_mirror_place_page(m.get(), 1, 0, nullptr); },
         "crv_mirror_place_page: the mirror and the result must be given"},
        {"an unknown element", [&] { return crv_mirror_set_rect(m.get(), "Legend", 0, 0, 1, 1); },
         "crv_mirror_set_rect: no element named \"Legend\""},
        {"an inverted rectangle", [&] { return crv_mirror_set_rect(m.get(), "Title", 2, 0, 1, 1); },
         "crv_mirror_set_rect: expected xmin <= xmax and ymin <= ymax"},
        {"not a number", [&] { return crv_mirror_set_rect(m.get(), "Title", nan, 0, 1, 1); },
         "crv_mirror_set_rect: every coordinate must be a finite number"},
        {"no report started", [&] { return crv_mirror_finish_report(m.get()); },
         "crv_mirror_finish_report: no report was started"},
        {"no mirror", [&] { return crv_mirror_pages(nullptr, nullptr, nullptr); },
         "crv_mirror_pages: the mirror and both page numbers must be given"},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(c.call(), CRV_REFUSED) << c.what;
        EXPECT_STREQ(crv_last_error(), c.message) << c.what;
    }
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(out, nullptr);
    // The title was not moved by any refused call.
    const json page = PlacePage(m.get(), 1);
    EXPECT_EQ(page["record"]["elements"][0]["rect"], json::array({1, 9, 3, 9.5}));
    EXPECT_STREQ(crv_last_error(), "");
}

}  // namespace
