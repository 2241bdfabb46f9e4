#include "standalone/document/Document.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>

namespace crv::testing {
namespace {

using standalone::Document;
using standalone::DocumentError;
using standalone::ElementKind;
using standalone::Rect;
using standalone::StandaloneHost;
using json = nlohmann::json;

ComPtr<PropertyBag> Bag(std::initializer_list<std::pair<const char*, Variant>> entries) {
    ComPtr<PropertyBag> bag = MakeCom<PropertyBag, standalone::PropertyBagImpl>();
    for (const auto& [k, v] : entries) bag->SetProperty(k, v);
    return bag;
}

ComPtr<LayoutElement> Named(StandaloneHost& host, const std::string& name) {
    for (const auto& e : host.State().elements) {
        if (StandaloneHost::Impl(e).name() == name) return e;
    }
    return {};
}

// Same kind, same value; NaN equals NaN and the sign of zero counts.
bool SameValue(const Variant& a, const Variant& b) {
    if (a.Type() != b.Type()) return false;
    if (a.Type() == VariantType::Double) {
        const double x = a.AsDouble(), y = b.AsDouble();
        if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
        return x == y && std::signbit(x) == std::signbit(y);
    }
    if (a.Type() == VariantType::Object) return true;  // compared entry by entry by the caller
    return a == b;
}

const std::string kMinimal = R"({
  "format": "crvanchor-document",
  "version": 1,
  "page": {"width": 8.5, "height": 11, "units": "inches"},
  "elements": [
    {"type": "text", "name": "Title", "rect": [1, 9, 7.5, 10], "text": "Atlas"}
  ]
})";

TEST(Document, KeepsEveryValueKindExactly) {
    const std::vector<std::pair<const char*, Variant>> values = {
        {"empty", Variant()},
        {"null", Variant::Null()},
        {"true", Variant(true)},
        {"false", Variant(false)},
        {"int16 low", Variant(int16_t{-32768})},
        {"int16 one", Variant(int16_t{1})},
        {"int32 one", Variant(int32_t{1})},
        {"int32 low", Variant(std::numeric_limits<int32_t>::min())},
        {"double whole", Variant(2.0)},
        {"double tenth", Variant(0.1)},
        {"double tiny", Variant(4.9406564584124654e-324)},
        {"double huge", Variant(1.7976931348623157e308)},
        {"double minus zero", Variant(-0.0)},
        {"double nan", Variant(std::numeric_limits<double>::quiet_NaN())},
        {"double -inf", Variant(-std::numeric_limits<double>::infinity())},
        {"distance text", Variant("12,50")},
        {"empty string", Variant("")},
        {"unicode", Variant("Nord\xc3\xa9st \xe2\x86\x97 \"quoted\"\n\ttab")},
    };
    StandaloneHost host;
    auto outer = Bag({});
    for (const auto& [k, v] : values) outer->SetProperty(k, v);
    outer->SetProperty("nested", Variant(Bag({{"deeper", Variant(Bag({{"x", Variant(1.5)}}))}})));
    auto title = host.AddText("Title", {1, 9, 7.5, 10}, "Atlas");
    title->SetCustomProperty(Variant(outer));
    auto plain = host.AddText("Plain", {1, 1, 2, 2});
    plain->SetCustomProperty(Variant(int16_t{5}));

    TempDir dir;
    Document doc(host);
    doc.Save(dir / "doc.json");

    StandaloneHost again;
    Document loaded(again);
    loaded.Load(dir / "doc.json");
    auto back = Named(again, "Title")->CustomProperty().ObjectAs<PropertyBag>();
    for (const auto& [k, v] : values) {
        const Variant got = back->GetProperty(k);
        EXPECT_TRUE(SameValue(got, v)) << k << ": " << Variant::TypeName(got.Type());
    }
    auto deeper = back->GetProperty("nested").ObjectAs<PropertyBag>()->GetProperty("deeper").ObjectAs<PropertyBag>();
    EXPECT_TRUE(SameValue(deeper->GetProperty("x"), Variant(1.5)));
    // A bag keeps its entries in the order they were set.
    auto entries = ComPtr<standalone::BagContents>::Query(back)->Entries();
    ASSERT_EQ(entries.size(), values.size() + 1);
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(entries[i].first, values[i].first);
    EXPECT_TRUE(SameValue(Named(again, "Plain")->CustomProperty(), Variant(int16_t{5})));
    // A second save of what was loaded writes the same text.
    EXPECT_EQ(loaded.Text(dir.Path()), ReadText(dir / "doc.json"));
}

TEST(Document, KeepsElementsGeometryAndCompanions) {
    StandaloneHost host;
    Document doc(host);
    doc.LoadText(R"({
  "format": "crvanchor-document", "version": 1,
  "page": {"width": 29.7, "height": 21, "units": "centimeters"},
  "elements": [
    {"type": "map_frame", "name": "Map", "outline": [1, 2, 20, 19], "border": 0.2},
    {"type": "group", "name": "Legend", "members_by": "index", "members": [
      {"type": "text", "name": "Legend Title", "rect": [21, 15, 28, 16], "text": "Legend", "font_size": 14},
      {"type": "group", "name": "Swatches", "members_by": "both", "members": [
        {"type": "picture", "name": "Swatch", "rect": [21, 13, 22, 14], "file": "swatch.png"}]}]},
    {"type": "group", "name": "Walked", "members": []}
  ],
  "series_layouts": [{"name": "Atlas", "current_page": {"kind": "int32", "value": 4}}],
  "section_templates": [{"name": "Book", "starting_page": {"kind": "int16", "value": 3},
    "current_section": "North", "sections": [{"name": "North", "page": {"kind": "int32", "value": 5}}]}],
  "active_layout": {"name": "Book", "kind": "SectionTemplate"}
})",
                 "/data/atlas/doc.json");
    const auto& s = host.State();
    EXPECT_EQ(s.page_width, 29.7);
    EXPECT_EQ(doc.Units(), "centimeters");
    ASSERT_EQ(s.elements.size(), 3u);
    auto& map = StandaloneHost::Impl(s.elements[0]);
    EXPECT_EQ(map.Kind(), ElementKind::MapFrame);
    EXPECT_EQ(map.BoundsRect(), (Rect{0.8, 1.8, 20.2, 19.2}));
    auto& legend = StandaloneHost::Impl(s.elements[1]);
    EXPECT_EQ(legend.Kind(), ElementKind::IndexedGroup);
    ASSERT_EQ(legend.Members().size(), 2u);
    EXPECT_EQ(StandaloneHost::Impl(legend.Members()[1]).Kind(), ElementKind::SequenceAndIndexedGroup);
    EXPECT_EQ(StandaloneHost::Impl(s.elements[2]).Kind(), ElementKind::Group);
    EXPECT_EQ(doc.StyleOf(legend.Members()[0]).font_size, 14);
    auto swatch = StandaloneHost::Impl(legend.Members()[1]).Members()[0];
    EXPECT_EQ(doc.StyleOf(swatch).picture, std::filesystem::path("/data/atlas/swatch.png"));
    EXPECT_EQ(s.series_layouts.at("Atlas"), Variant(int32_t{4}));
    EXPECT_EQ(s.section_templates.at("Book").starting_page, Variant(int16_t{3}));
    EXPECT_EQ(s.section_templates.at("Book").section_pages.at("North"), Variant(int32_t{5}));
    EXPECT_EQ(s.active_layout_kind, "SectionTemplate");

    // Saved into another folder, the picture is found from there.
    const json out = json::parse(doc.Text("/data"));
    EXPECT_EQ(out["elements"][1]["members"][1]["members"][0]["file"], "atlas/swatch.png");
    EXPECT_EQ(out["elements"][1]["members_by"], "index");
    EXPECT_EQ(out["section_templates"][0]["sections"][0]["page"]["kind"], "int32");
}

TEST(Document, KeepsWhatThisVersionDoesNotUse) {
    const std::string text = R"({
  "format": "crvanchor-document", "version": 1, "x-top": {"a": [1, 2]},
  "page": {"width": 8.5, "height": 11, "x-paper": "A4-ish"},
  "elements": [
    {"type": "text", "name": "Title", "rect": [1, 9, 7.5, 10], "text": "Atlas", "x-style": {"color": "#123456"},
     "custom": {"kind": "bag", "x-bag": true, "entries": [
        {"key": "CorvaneProperties", "kind": "bag", "entries": [
          {"key": "Other", "kind": "string", "value": "kept", "x-entry": 42}]}]}},
    {"type": "group", "name": "G", "x-group": null, "members": [
      {"type": "picture", "name": "P", "rect": [0, 0, 1, 1], "x-member": "m"}]}
  ],
  "series_layouts": [{"name": "Atlas", "current_page": {"kind": "int32", "value": 2}, "x-layout": 1}],
  "section_templates": [{"name": "T", "starting_page": {"kind": "int32", "value": 1}, "x-template": 2,
     "sections": [{"name": "S", "page": {"kind": "int32", "value": 1}, "x-section": 3}]}],
  "active_layout": {"name": "Atlas", "kind": "SeriesLayout", "x-active": 4}
})";
    TempDir dir;
    WriteText(dir / "doc.json", text);
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "doc.json");
    // An edit through the host, as the engine makes them.
    StandaloneHost::Impl(Named(host, "Title")).Move(0.5, -1);
    auto family = Named(host, "Title")
                      ->CustomProperty()
                      .ObjectAs<PropertyBag>()
                      ->GetProperty("CorvaneProperties")
                      .ObjectAs<PropertyBag>();
    family->SetProperty("AnchorProperties", Variant(Bag({{"AnchorElement", Variant(true)}})));
    doc.Save(dir / "doc.json");

    const json out = json::parse(ReadText(dir / "doc.json"));
    const std::vector<std::pair<std::string, json>> kept = {
        {"/x-top", json{{"a", {1, 2}}}},
        {"/page/x-paper", "A4-ish"},
        {"/elements/0/x-style/color", "#123456"},
        {"/elements/0/custom/x-bag", true},
        {"/elements/0/custom/entries/0/entries/0/x-entry", 42},
        {"/elements/0/custom/entries/0/entries/0/value", "kept"},
        {"/elements/1/x-group", nullptr},
        {"/elements/1/members/0/x-member", "m"},
        {"/series_layouts/0/x-layout", 1},
        {"/section_templates/0/x-template", 2},
        {"/section_templates/0/sections/0/x-section", 3},
        {"/active_layout/x-active", 4},
    };
    for (const auto& [ptr, value] : kept) EXPECT_EQ(out.value(json::json_pointer(ptr), json("lost")), value) << ptr;
    EXPECT_EQ(out["elements"][0]["rect"], json({1.5, 8, 8, 9}));
    EXPECT_EQ(out["elements"][0]["custom"]["entries"][0]["entries"][1]["key"], "AnchorProperties");
}

TEST(Document, BadDocumentsSayWhereAndWhatWasExpected) {
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const std::string head = "{\n  \"format\": \"crvanchor-document\",\n  \"version\": 1,\n";
    const std::string page = "  \"page\": {\"width\": 8.5, \"height\": 11},\n";
    const Case cases[] = {
        {"unreadable", "", "/nonexistent/doc.json: cannot open: No such file or directory"},
        {"empty file", "",
         "bad.json:1:1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
        {"not an object", "[1, 2]", "bad.json:1:1: /: expected an object, found an array"},
        {"number beyond a double", "{\"format\": \"crvanchor-document\",\n \"version\": 4e884}",
         "bad.json:2:13: number out of range: 4e884"},
        {"other format", "{\"format\": \"map\", \"version\": 1}",
         "bad.json:1:12: /format: expected \"crvanchor-document\", found \"map\""},
        {"newer version", "{\"format\": \"crvanchor-document\",\n \"version\": 2}",
         "bad.json:2:13: /version: expected format version 1 or lower, found 2 (written by a newer program)"},
        {"no page", head + "  \"elements\": []\n}", "bad.json:1:1: /: missing \"page\""},
        {"width as text", head + "  \"page\": {\"width\": \"8.5\", \"height\": 11},\n  \"elements\": []\n}",
         "bad.json:4:21: /page/width: expected a number, found a string"},
        {"zero height", head + "  \"page\": {\"width\": 8.5, \"height\": 0},\n  \"elements\": []\n}",
         "bad.json:4:36: /page/height: expected a page height from 0.01 to 400 inches"},
        {"unknown element type",
         head + page + "  \"elements\": [\n    {\"type\": \"arrow\", \"rect\": [0, 0, 1, 1]}\n  ]\n}",
         "bad.json:6:14: /elements/0/type: expected \"text\", \"picture\", \"map_frame\" or \"group\", found "
         "\"arrow\""},
        {"inverted rect", head + page + "  \"elements\": [{\"type\": \"text\", \"rect\": [2, 0, 1, 1]}]\n}",
         "bad.json:5:41: /elements/0/rect: expected xmin <= xmax and ymin <= ymax"},
        {"missing outline", head + page + "  \"elements\": [{\"type\": \"map_frame\", \"name\": \"M\"}]\n}",
         "bad.json:5:16: /elements/0: missing \"outline\""},
        {"int16 too big",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"int16\", "
             "\"value\": 40000}}]\n}",
         "bad.json:6:42: /elements/0/custom/value: expected a whole number from -32768 to 32767, found 40000"},
        {"unknown value kind",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"date\", "
             "\"value\": 1}}]\n}",
         "bad.json:6:24: /elements/0/custom/kind: expected one of \"empty\", \"null\", \"boolean\", \"int16\", "
         "\"int32\", \"double\", \"string\", \"bag\"; found \"date\""},
        {"duplicate bag key",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"bag\", "
             "\"entries\": [\n"
             "      {\"key\": \"a\", \"kind\": \"null\"},\n      {\"key\": \"a\", \"kind\": \"null\"}]}}]\n}",
         "bad.json:8:15: /elements/0/custom/entries/1/key: duplicate key \"a\" in a property bag"},
        {"missing dataset",
         head + page +
             "  \"elements\": [{\"type\": \"map_frame\", \"outline\": [0, 0, 1, 1],\n    \"series\": {\"dataset\": "
             "\"nowhere.gpkg\"}}]\n}",
         "bad.json:6:27: /elements/0/series/dataset: map series dataset not found: /tmp/crvbad/nowhere.gpkg"},
        {"bad member",
         head + page + "  \"elements\": [{\"type\": \"group\", \"members\": [\n      {\"type\": \"text\"}]}]\n}",
         "bad.json:6:7: /elements/0/members/0: missing \"rect\""},
    };
    for (const auto& c : cases) {
        StandaloneHost host;
        Document doc(host);
        doc.LoadText(kMinimal, "good.json");
        try {
            c.text.empty() && c.message[0] == '/' ? doc.Load("/nonexistent/doc.json")
                                                  : doc.LoadText(c.text, "/tmp/crvbad/bad.json");
            ADD_FAILURE() << c.what << ": loaded";
        } catch (const DocumentError& e) {
            std::string got = e.what();
            const std::string prefix = "/tmp/crvbad/";
            if (got.rfind(prefix, 0) == 0) got = got.substr(prefix.size());
            EXPECT_EQ(got, c.message) << c.what;
        }
        // Nothing of the bad document reached the host.
        ASSERT_EQ(host.State().elements.size(), 1u) << c.what;
        EXPECT_EQ(StandaloneHost::Impl(host.State().elements[0]).name(), "Title") << c.what;
        EXPECT_EQ(host.State().page_width, 8.5) << c.what;
        EXPECT_EQ(doc.Path(), "good.json") << c.what;
    }
}

TEST(Document, AnInterruptedSaveLeavesTheOldDocument) {
    TempDir dir;
    const auto path = dir / "doc.json";
    StandaloneHost host;
    for (int i = 0; i < 400; ++i) host.AddText("Element " + std::to_string(i), {0, 0, 1, 1}, std::string(200, 'x'));
    Document doc(host);
    doc.Save(path);
    const std::string before = ReadText(path);
    StandaloneHost::Impl(host.State().elements[0]).Move(1, 1);
    const auto files = [&] { return std::distance(std::filesystem::directory_iterator(dir.Path()), {}); };

    for (const char* step : {"Document.Write", "Document.Rename"}) {
        standalone::ScopedFault fault(step);
        EXPECT_THROW(doc.Save(path), DocumentError) << step;
        EXPECT_EQ(ReadText(path), before) << step;
        EXPECT_EQ(files(), 1) << step;  // no half-written temporary file left beside it
    }
    EXPECT_THROW(doc.Save(dir / "missing-folder" / "doc.json"), DocumentError);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The system stops the process when its file grows past 16 KiB: mid-write.
        const rlimit limit{16 * 1024, 16 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        doc.Save(path);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    EXPECT_EQ(ReadText(path), before);
    EXPECT_EQ(files(), 2);  // the killed process's temporary file

    doc.Save(path);
    StandaloneHost again;
    Document reloaded(again);
    reloaded.Load(path);
    EXPECT_EQ(StandaloneHost::ExtentOf(again.State().elements[0]), (Rect{1, 1, 2, 2}));
}

}  // namespace
}  // namespace crv::testing
