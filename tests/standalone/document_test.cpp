#include "standalone/document/Document.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <limits>

namespace crv::testing {
namespace {

using objects::Rect;
using standalone::Document;
using standalone::DocumentError;
using standalone::ElementKind;
using standalone::StandaloneHost;
using json = nlohmann::json;

ComPtr<PropertyBag> Bag(std::initializer_list<std::pair<const char*, Variant>> entries) {
    ComPtr<PropertyBag> bag = MakeCom<PropertyBag, objects::PropertyBagImpl>();
    for (const auto& [k, v] : entries) bag->SetProperty(k, v);
    return bag;
}

ComPtr<LayoutElement> Named(StandaloneHost& host, const std::string& name) {
    for (const auto& e : host.State().elements) {
        if (StandaloneHost::ElementOf(e).name() == name) return e;
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

const std::string kHead =
    "{\"format\": \"crvanchor-document\", \"version\": 1,\n \"page\": {\"width\": 8.5, \"height\": 11},\n";

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
    auto entries = ComPtr<objects::BagContents>::Query(back)->Entries();
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
    auto& map = StandaloneHost::ElementOf(s.elements[0]);
    EXPECT_EQ(map.Kind(), ElementKind::MapFrame);
    EXPECT_EQ(map.BoundsRect(), (Rect{0.8, 1.8, 20.2, 19.2}));
    auto& legend = StandaloneHost::ElementOf(s.elements[1]);
    EXPECT_EQ(legend.Kind(), ElementKind::IndexedGroup);
    ASSERT_EQ(legend.Members().size(), 2u);
    EXPECT_EQ(StandaloneHost::ElementOf(legend.Members()[1]).Kind(), ElementKind::SequenceAndIndexedGroup);
    EXPECT_EQ(StandaloneHost::ElementOf(s.elements[2]).Kind(), ElementKind::Group);
    EXPECT_EQ(doc.StyleOf(legend.Members()[0]).font_size, 14);
    auto swatch = StandaloneHost::ElementOf(legend.Members()[1]).Members()[0];
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
    StandaloneHost::ElementOf(Named(host, "Title")).Move(0.5, -1);
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

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

// What a load over a host holding kMinimal gives: "loaded" or the message. A refused load
// leaves the host and the document as they were.
std::string LoadMessage(const std::function<void(Document&)>& load) {
    StandaloneHost host;
    Document doc(host);
    doc.LoadText(kMinimal, "good.json");
    const std::string message = MessageOf<DocumentError>([&] { load(doc); }, "loaded");
    const auto& s = host.State();
    if (message != "loaded") {
        EXPECT_TRUE(s.elements.size() == 1 && StandaloneHost::ElementOf(s.elements[0]).name() == "Title" &&
                    s.page_width == 8.5 && doc.Path() == "good.json")
            << message << ": the refused document reached the host";
    }
    return message;
}

// Each document text refused in one line that says where (line:column and the JSON path) and
// what was expected; the file's folder and name are left out here.
TEST(Document, RefusesBadTextSayingWhereAndWhatWasExpected) {
    const std::string head = "{\n  \"format\": \"crvanchor-document\",\n  \"version\": 1,\n";
    const std::string page = "  \"page\": {\"width\": 8.5, \"height\": 11},\n";
    const auto groups = [](int n) {
        return kHead + " \"elements\": [" + Repeat("{\"type\": \"group\", \"members\": [", n) + Repeat("]}", n) + "]}";
    };
    const auto text = [](const std::string& element) {
        return R"({"type": "text", "rect": [0, 0, 1, 1])" + element + "}";
    };
    const auto elements = [](const std::string& list) { return kHead + " \"elements\": [" + list + "]}"; };
    const auto pageOf = [](const std::string& size) {
        return "{\"format\": \"crvanchor-document\", \"version\": 1,\n \"page\": " + size + ",\n \"elements\": []}";
    };
    const auto type = [](const std::string& t) { return kHead + " \"elements\": [{\"type\": \"" + t + "\"}]}"; };
    const std::string mega(1 << 20, 'x');
    const std::string one = R"({"kind": "int32", "value": 1})";
    const std::string typeFound =
        "3:24: /elements/0/type: expected \"text\", \"picture\", \"map_frame\" or \"group\", found ";
    const std::string coordinates = ": expected coordinates from -4000 to 4000 inches";
    const struct {
        const char* what;
        std::string text;
        std::string message;
    } cases[] = {
        // The JSON itself.
        {"empty file", "",
         "1:1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
        {"not an object", "[1, 2]", "1:1: /: expected an object, found an array"},
        {"number beyond a double", "{\"format\": \"crvanchor-document\",\n \"version\": 4e884}",
         "2:13: number out of range: 4e884"},
        {"larger than 64 MiB", std::string(standalone::kMaxDocumentBytes + 1, ' '),
         " larger than 64 MiB, the most a document may hold"},
        {"deep unknown member", kHead + " \"x\": " + Repeat("[", 20000) + Repeat("]", 20000) + ", \"elements\": []}",
         "3:518: arrays and objects nested more than 512 deep"},
        {"5000 groups", groups(5000), "3:7665: arrays and objects nested more than 512 deep"},
        {"repeated key", kHead + " \"elements\": [],\n \"page\": {}}", "4:2: duplicate key \"page\" in an object"},
        {"repeated key, escaped", elements(text(R"(, "text": "a", "te\u0078t": "b")")),
         "3:67: duplicate key \"text\" in an object"},
        {"same text, other key", elements(text(R"(, "x-a": "text", "x-b": "text")")), "loaded"},
        {"syntax before repeat", kHead + " \"elements\": [], \"elements\": [}",
         "3:31: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal"},
        {"value not UTF-8", kHead + " \"elements\": [{\"type\": \"text\", \"text\": \"caf\xE9\"}]}",
         "3:45: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
         "\"\\\"caf\\xE9\\\"\""},
        {"text like the parser's own", kHead + " \"x\": \"a'; expected " + Repeat("[", 300) + "\xE9\"}",
         "3:322: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
         "\"\\\"a'; expected " +
             Repeat("[", 46) + "\"... (316 bytes)"},
        {"key not UTF-8", kHead + " \"elements\": [], \"x-\xFF\": 1}",
         "3:21: syntax error while parsing object key - invalid string: ill-formed UTF-8 byte; last read: "
         "\"\\\"x-\\xFF\"; expected string literal"},
        // The document's frame.
        {"other format", "{\"format\": \"map\", \"version\": 1}",
         "1:12: /format: expected \"crvanchor-document\", found \"map\""},
        {"newer version", "{\"format\": \"crvanchor-document\",\n \"version\": 2}",
         "2:13: /version: expected format version 1 or lower, found 2 (written by a newer program)"},
        {"version beyond 64 bits", "{\"format\": \"crvanchor-document\", \"version\": 18446744073709551616}",
         "1:45: /version: expected a whole number from 1 to 1000000, found 18446744073709551616"},
        {"no page", head + "  \"elements\": []\n}", "1:1: /: missing \"page\""},
        {"width as text", head + "  \"page\": {\"width\": \"8.5\", \"height\": 11},\n  \"elements\": []\n}",
         "4:21: /page/width: expected a number, found a string"},
        {"zero height", head + "  \"page\": {\"width\": 8.5, \"height\": 0},\n  \"elements\": []\n}",
         "4:36: /page/height: expected a page height from 0.01 to 400 inches"},
        {"huge width", pageOf(R"({"width": 1e308, "height": 11})"),
         "2:20: /page/width: expected a page width from 0.01 to 400 inches"},
        {"tiny height", pageOf(R"({"width": 8.5, "height": 1e-9})"),
         "2:35: /page/height: expected a page height from 0.01 to 400 inches"},
        {"width in centimeters", pageOf(R"({"width": 1016.5, "height": 11, "units": "centimeters"})"),
         "2:20: /page/width: expected a page width from 0.0254 to 1016 centimeters"},
        {"400 by 0.01 inches in points", pageOf(R"({"width": 28800, "height": 0.72, "units": "points"})"), "loaded"},
        // Elements.
        {"unknown element type",
         head + page + "  \"elements\": [\n    {\"type\": \"arrow\", \"rect\": [0, 0, 1, 1]}\n  ]\n}",
         "6:14: /elements/0/type: expected \"text\", \"picture\", \"map_frame\" or \"group\", found \"arrow\""},
        {"inverted rect", head + page + "  \"elements\": [{\"type\": \"text\", \"rect\": [2, 0, 1, 1]}]\n}",
         "5:41: /elements/0/rect: expected xmin <= xmax and ymin <= ymax"},
        {"missing outline", head + page + "  \"elements\": [{\"type\": \"map_frame\", \"name\": \"M\"}]\n}",
         "5:16: /elements/0: missing \"outline\""},
        {"bad member",
         head + page + "  \"elements\": [{\"type\": \"group\", \"members\": [\n      {\"type\": \"text\"}]}]\n}",
         "6:7: /elements/0/members/0: missing \"rect\""},
        {"rect beyond any page", elements(R"({"type": "text", "rect": [0, 0, 1e308, 1]})"),
         "3:40: /elements/0/rect" + coordinates},
        {"outline beyond any page", elements(R"({"type": "map_frame", "outline": [-4001, 0, 1, 1]})"),
         "3:48: /elements/0/outline" + coordinates},
        {"border", elements(R"({"type": "map_frame", "outline": [0, 0, 1, 1], "border": 1e300})"),
         "3:72: /elements/0/border: expected a border width from 0 to 400 inches"},
        {"font size", elements(R"({"type": "text", "rect": [0, 0, 1, 1], "font_size": 1e9})"),
         "3:67: /elements/0/font_size: expected a size from 0 to 10000 points"},
        {"65 groups", groups(65),
         "3:1935: /elements/0" + Repeat("/members/0", 64) + ": groups nested more than 64 deep"},
        {"64 groups", groups(64), "loaded"},
        {"repeated element name",
         elements(text(R"(, "name": "A")") + ", {\"type\": \"group\", \"members\": [" + text(R"(, "name": "A")") +
                  "]}"),
         "3:145: /elements/1/members/0/name: another element is named \"A\" (/elements/0)"},
        {"unnamed elements", elements(text("") + ", " + text(R"(, "name": "")")), "loaded"},
        // Companions' layouts are looked up by name: a second of a name would be merged away.
        {"repeated series layout",
         kHead + " \"elements\": [], \"series_layouts\": [" + Repeat(R"({"name": "Atlas", "current_page": )" + one + "}, ", 2) + "{}]}",
         "3:112: /series_layouts/1/name: another map series layout is named \"Atlas\" (/series_layouts/0)"},
        {"repeated section template",
         kHead + " \"elements\": [], \"section_templates\": [" +
             Repeat(R"({"name": "T", "starting_page": )" + one + "}, ", 2) + "{}]}",
         "3:112: /section_templates/1/name: another section template is named \"T\" (/section_templates/0)"},
        {"repeated section",
         kHead + " \"elements\": [], \"section_templates\": [{\"name\": \"T\", \"starting_page\": " + one +
             ", \"sections\": [" + Repeat(R"({"name": "S", "page": )" + one + "}, ", 2) + "{}]}]}",
         "3:178: /section_templates/0/sections/1/name: another section is named \"S\" "
         "(/section_templates/0/sections/0)"},
        {"distinct layout names", kHead + " \"elements\": [], \"series_layouts\": [" +
             R"({"name": "A", "current_page": )" + one + R"(}, {"name": "B", "current_page": )" + one + "}]}",
         "loaded"},
        {"missing dataset",
         head + page +
             "  \"elements\": [{\"type\": \"map_frame\", \"outline\": [0, 0, 1, 1],\n    \"series\": {\"dataset\": "
             "\"nowhere.gpkg\"}}]\n}",
         "6:27: /elements/0/series/dataset: map series dataset not found: /tmp/crvbad/nowhere.gpkg"},
        // Values of custom properties.
        {"int16 too big",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"int16\", "
             "\"value\": 40000}}]\n}",
         "6:42: /elements/0/custom/value: expected a whole number from -32768 to 32767, found 40000"},
        {"unknown value kind",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"date\", "
             "\"value\": 1}}]\n}",
         "6:24: /elements/0/custom/kind: expected one of \"empty\", \"null\", \"boolean\", \"int16\", \"int32\", "
         "\"double\", \"string\", \"bag\"; found \"date\""},
        {"duplicate bag key",
         head + page +
             "  \"elements\": [{\"type\": \"text\", \"rect\": [0, 0, 1, 1],\n    \"custom\": {\"kind\": \"bag\", "
             "\"entries\": [\n      {\"key\": \"a\", \"kind\": \"null\"},\n      {\"key\": \"a\", \"kind\": "
             "\"null\"}]}}]\n}",
         "8:15: /elements/0/custom/entries/1/key: duplicate key \"a\" in a property bag"},
        // Document text shown in a message: quoted, escaped and cut.
        {"newline in a type", type("arr\\now"), typeFound + "\"arr\\now\""},
        {"escape sequence in a type", type("\\u001b[2Jarrow"), typeFound + "\"\\x1B[2Jarrow\""},
        {"a megabyte type", type(mega), typeFound + "\"" + mega.substr(0, 60) + "\"... (1048576 bytes)"},
        {"a megabyte string", kHead + " \"elements\": [], \"x\": \"" + mega + "\n\"}",
         "3:1048600: syntax error while parsing value - invalid string: control character U+000A (LF) must be escaped "
         "to \\u000A or \\n; last read: \"\\\"" +
             mega.substr(0, 59) + "\"... (1048585 bytes)"},
    };
    const std::string bad = "/tmp/crvbad/bad.json";
    for (const auto& c : cases) {
        std::string message = LoadMessage([&](Document& doc) { doc.LoadText(c.text, bad); });
        if (message.rfind(bad + ":", 0) == 0) message.erase(0, bad.size() + 1);
        EXPECT_EQ(message, c.message) << c.what;
    }
}

// A file that is no document is refused before it is read.
TEST(Document, RefusesWhatIsNoDocumentFile) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    WriteText(dir / "huge.json", "");
    std::filesystem::resize_file(dir / "huge.json", standalone::kMaxDocumentBytes + 1);
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {"/nonexistent/doc.json", ": cannot open: No such file or directory"},
        {"/dev/zero", ": a device, not a document file"},
        {dir / "pipe", ": a named pipe, not a document file"},
        {dir / "folder", ": a folder, not a document file"},
        {dir / "huge.json", ": larger than 64 MiB, the most a document may hold"},
    };
    for (const auto& [path, message] : cases) {
        EXPECT_EQ(LoadMessage([&](Document& doc) { doc.Load(path); }), path.string() + message);
    }
}

// What could not be loaded again is not saved either, and the file on disk stays as it was.
TEST(Document, RefusesToSaveWhatCouldNotBeLoadedAgain) {
    const struct {
        std::function<void(StandaloneHost&)> edit;
        std::string message;
    } cases[] = {
        {[](StandaloneHost& host) { StandaloneHost::ElementOf(host.State().elements[0]).Move(1e308, 0); },
         "/elements/0/rect: expected coordinates from -4000 to 4000 inches"},
        // A value set by a command, as the anchor command sets record values.
        {[](StandaloneHost& host) {
             host.State().elements[0]->SetCustomProperty(Variant(Bag({{"ElementName", Variant("caf\xE9\n")}})));
         },
         "/elements/0/custom/entries/0/value: text that is not UTF-8: \"caf\\xE9\\n\""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteText(dir / "doc.json", kMinimal);
        StandaloneHost host;
        Document doc(host);
        doc.Load(dir / "doc.json");
        c.edit(host);
        EXPECT_EQ(MessageOf<DocumentError>([&] { doc.Save(dir / "doc.json"); }),
                  (dir / "doc.json").string() + ": cannot save " + c.message);
        EXPECT_EQ(ReadText(dir / "doc.json"), kMinimal);
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
    StandaloneHost::ElementOf(host.State().elements[0]).Move(1, 1);
    const auto files = [&] { return std::distance(std::filesystem::directory_iterator(dir.Path()), {}); };

    for (const char* step : {"Document.Write", "Document.Rename"}) {
        support::ScopedFault fault(step);
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

TEST(Document, KeepsNumbersAsWrittenThatADoubleCannotHold) {
    const std::string kept[] = {"18446744073709551616", "-98765432109876543210987654321", "0.1000000000000000000001",
                                "1e-400", "123456789012345678901234567890e-10"};
    std::string members;
    for (size_t i = 0; i < std::size(kept); ++i) members += "\"x-" + std::to_string(i) + "\": " + kept[i] + ", ";
    TempDir dir;
    WriteText(dir / "doc.json", kHead + members + R"("elements": [{"type": "text", "name": "T", "rect": [0, 0, 1, 1],
      "custom": {"kind": "double", "value": 1.00000000000000000000001, "x-n": [18446744073709551617]}}]})");
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "doc.json");
    EXPECT_EQ(host.State().elements[0]->CustomProperty(), Variant(1.0));
    doc.Save(dir / "doc.json");
    const std::string saved = ReadText(dir / "doc.json");
    for (size_t i = 0; i < std::size(kept); ++i) {
        const char* after = i + 1 < std::size(kept) ? ",\n" : "\n";
        EXPECT_NE(saved.find("\"x-" + std::to_string(i) + "\": " + kept[i] + after), std::string::npos) << kept[i];
    }
    EXPECT_NE(saved.find("\"x-n\": [\n          18446744073709551617\n        ]"), std::string::npos) << saved;
    // Numbers a double holds are written as the JSON library writes them.
    EXPECT_NE(saved.find("\"width\": 8.5,"), std::string::npos);
}

TEST(Document, ADocumentInAFolderNamedInLatin1LoadsAndSaves) {
    TempDir dir;
    const auto folder = dir / "caf\xE9";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(dir / "out");
    WriteText(
        folder / "doc.json",
        kHead + R"( "elements": [{"type": "picture", "name": "P", "rect": [0, 0, 1, 1], "file": "swatch.png"}]})");
    StandaloneHost host;
    Document doc(host);
    doc.Load(folder / "doc.json");
    EXPECT_EQ(doc.StyleOf(host.State().elements[0]).picture, folder / "swatch.png");
    doc.Save(folder / "doc.json");
    EXPECT_NE(ReadText(folder / "doc.json").find("\"file\": \"swatch.png\""), std::string::npos);
    // From elsewhere the picture's path goes through the folder's name, which JSON cannot hold.
    EXPECT_EQ(MessageOf<DocumentError>([&] { doc.Save(dir / "out" / "doc.json"); }),
              (dir / "out" / "doc.json").string() +
                  ": cannot save /elements/0/file: text that is not UTF-8: \"../caf\\xE9/swatch.png\"");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "doc.json"));
    // A message names such a file with its stray bytes escaped.
    EXPECT_EQ(LoadMessage([&](Document& d) { d.Load(folder / "missing.json"); }),
              "\"" + dir.Path().string() + "/caf\\xE9/missing.json\": cannot open: No such file or directory");
}

TEST(Document, TwoUpdatesOfOneDocumentBothLand) {
    TempDir dir;
    const auto path = dir / "doc.json";
    WriteText(path, kMinimal);
    const auto append = [&](StandaloneHost& host, const std::string& more) {
        StandaloneHost::ElementOf(host.State().elements[0]).text += more;
    };
    // The second starts once the first holds the document, as a second command would.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 1;
        char byte = 0;
        try {
            if (::read(go[0], &byte, 1) == 1) {
                StandaloneHost other;
                Document second(other);
                second.LoadForUpdate(path);  // waits for the first
                append(other, "+second");
                second.Save(path);
                status = 0;
            }
        } catch (...) {}
        ::_exit(status);
    }
    StandaloneHost host;
    auto doc = std::make_unique<Document>(host);
    doc->LoadForUpdate(path);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    // Give the second every chance to go first, as it would without the lock.
    ::usleep(300 * 1000);
    append(host, "+first");
    doc->Save(path);
    doc.reset();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(go[0]);
    ::close(go[1]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    StandaloneHost after;
    Document loaded(after);
    loaded.Load(path);
    EXPECT_EQ(StandaloneHost::ElementOf(after.State().elements[0]).text, "Atlas+first+second");
}

}  // namespace
}  // namespace crv::testing
