// The map book command on the bundled sample, checked against positions worked out here from
// the sample's layout rules and from the index layer read directly with the GIS library.

#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "support/Activation.h"
#include "standalone/tools/Registration.h"

#include "book/BookDriver.h"
#include "commands/PagesOption.h"
#include "standalone/mapbook/Book.h"
#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"
#include "support/Edge.h"
#include "support/Faults.h"

#include "ComponentRegistry.h"
#include "support/TempDir.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QImage>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <map>
#include <optional>
#include <regex>
#include <functional>
#include <set>
#include <sstream>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using objects::Rect;

const fs::path kSamples = fs::path(CRV_SOURCE_DIR) / "samples";
const fs::path kSample = kSamples / "lakes_atlas.json";

struct CommandRun {
    int status;
    std::string out;
    std::string err;  // what the command wrote to its error stream
    std::string stderr_;  // what the component's error reports wrote to standard error
};

CommandRun Crv(std::vector<std::string> args) {
    RegisterComponentOnce();
    std::ostringstream out, err;
    ::testing::internal::CaptureStderr();
    const int status = standalone::RunCrvAnchor(args, out, err);
    const std::string reports = ::testing::internal::GetCapturedStderr();
    return {status, out.str(), err.str(), reports};
}

// A copy of the sample to change.
fs::path CopySample(const TempDir& dir) {
    for (const char* f : {"lakes_atlas.json", "sheets.gpkg", "north_arrow.xpm"}) fs::copy_file(kSamples / f, dir / f);
    return dir / "lakes_atlas.json";
}

// Every name in a folder, to show that a refused or failed command left nothing behind.
std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.insert(fs::relative(e.path(), dir).string());
    return names;
}

// A one-frame document over a GeoJSON index layer whose features are given; a text "Note"
// beside the frame.
fs::path SeriesBook(const fs::path& dir, const std::string& features,
                    const std::string& page = R"({"width": 8, "height": 6})") {
    fs::create_directories(dir);
    WriteText(dir / "sheets.geojson", R"({"type": "FeatureCollection", "features": [)" + features + "]}");
    WriteText(dir / "book.json", R"({"format": "crvanchor-document", "version": 1, "page": )" + page + R"(,
      "elements": [{"type": "map_frame", "name": "Map", "outline": [1, 1, 7, 5], "series": {"dataset": "sheets.geojson"}},
                   {"type": "text", "name": "Note", "rect": [0, 0, 2, 0.5], "text": "{page}"}]})");
    return dir / "book.json";
}

// A sheet from (x0, y0) to (x1, y1), numbers as written in the dataset, with a field DX.
std::string Sheet(const std::string& x0, const std::string& y0, const std::string& x1, const std::string& y1,
                  const std::string& dx = "0") {
    const std::string ring = "[[" + x0 + ", " + y0 + "], [" + x1 + ", " + y0 + "], [" + x1 + ", " + y1 + "], [" + x0 +
                             ", " + y1 + "], [" + x0 + ", " + y0 + "]]";
    return R"({"type": "Feature", "properties": {"DX": )" + dx +
           R"(}, "geometry": {"type": "Polygon", "coordinates": [)" + ring + "]}}";
}

Rect RectOf(const json& a) { return {a[0].get<double>(), a[1].get<double>(), a[2].get<double>(), a[3].get<double>()}; }

// The arrow offsets of each page, straight from the index layer.
std::map<int, std::pair<std::optional<double>, std::optional<double>>> ArrowOffsets() {
    GDALAllRegister();
    std::map<int, std::pair<std::optional<double>, std::optional<double>>> out;
    GDALDatasetUniquePtr ds(GDALDataset::Open((kSamples / "sheets.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) return out;
    for (const auto& f : *ds->GetLayerByName("sheets")) {
        auto get = [&](const char* name) -> std::optional<double> {
            const int i = f->GetFieldIndex(name);
            return f->IsFieldSetAndNotNull(i) ? std::optional(f->GetFieldAsDouble(i)) : std::nullopt;
        };
        out[f->GetFieldAsInteger("PAGE_NO")] = {get("ARROW_DX"), get("ARROW_DY")};
    }
    return out;
}

// An element's size and its place, given the corner or centre that the rule fixes.
Rect Place(std::pair<double, double> size, double x, double y, int column, int row) {
    const auto [w, h] = size;
    const double xmin = column == 0 ? x : column == 1 ? x - w / 2 : x - w;
    const double ymax = row == 0 ? y : row == 1 ? y + h / 2 : y + h;
    return {xmin, ymax - h, xmin + w, ymax};
}

void ExpectRect(const Rect& got, const Rect& want, const std::string& what) {
    const double worst = std::max({std::fabs(got.xmin - want.xmin), std::fabs(got.ymin - want.ymin),
                                   std::fabs(got.xmax - want.xmax), std::fabs(got.ymax - want.ymax)});
    EXPECT_LT(worst, 1e-9) << what << ": got " << got.xmin << ", " << got.ymin << ", " << got.xmax << ", " << got.ymax;
}

TEST(MapBook, PlacesEverySampleElementByItsRulesOnEveryPage) {
    TempDir dir;
    const CommandRun run = Crv({"book", kSample.string(), "--report", (dir / "report.json").string()});
    ASSERT_EQ(run.status, 0) << run.err << run.stderr_;
    const json report = json::parse(ReadText(dir / "report.json"));
    const json doc = json::parse(ReadText(kSample));

    const double W = 8.5, H = 11;
    const Rect map{0.75, 1.6, 7.75, 9.4};
    std::map<std::string, std::pair<double, double>> size;
    for (const auto& e : doc["elements"]) {
        if (e["type"] == "group") {
            Rect u = RectOf(e["members"][0]["rect"]);
            for (const auto& m : e["members"]) {
                const Rect r = RectOf(m["rect"]);
                u = {std::min(u.xmin, r.xmin), std::min(u.ymin, r.ymin), std::max(u.xmax, r.xmax),
                     std::max(u.ymax, r.ymax)};
            }
            size[e["name"]] = {u.Width(), u.Height()};
        } else if (e.contains("rect")) {
            size[e["name"]] = {RectOf(e["rect"]).Width(), RectOf(e["rect"]).Height()};
        }
    }
    const auto offsets = ArrowOffsets();
    ASSERT_EQ(offsets.size(), 16u);
    int nullPages = 0;

    ASSERT_EQ(report["pages"].size(), 16u);
    EXPECT_EQ(report["anchor_order"], json({"Title", "North Arrow", "Page Number", "Survey Note", "Legend"}));
    for (const auto& page : report["pages"]) {
        const int p = page["page"];
        const bool even = p % 2 == 0;
        std::map<std::string, Rect> at;
        for (const auto& e : page["elements"]) at[e["name"]] = RectOf(e["rect"]);
        const std::string where = "page " + std::to_string(p) + " ";

        const auto& [dx, dy] = offsets.at(p);
        if (!dx || !dy) ++nullPages;
        const bool listed = std::set<int>{2, 5, 6, 7, 12}.count(p) != 0;
        const double mid = (map.xmin + map.xmax) / 2;
        // Each element's point fixed by its rule: x, y, then column and row of the element's own point.
        const std::tuple<const char*, double, double, int, int> rules[] = {
            {"Title", W / 2, H - 0.45, 1, 0},  // top centre, 0.45 below the page top
            {"Page Number", even ? 0.5 : W - 0.5, 0.35, even ? 0 : 2, 2},  // outer bottom corner
            // The map's top right; offsets from the page's fields, or fixed where they are null.
            {"North Arrow", map.xmax + dx.value_or(-0.15), map.ymax + dy.value_or(-0.15), 2, 0},
            {"Legend", even ? map.xmax : map.xmin, map.ymin - 0.15, even ? 2 : 0, 0},  // below the map, inner side
            {"Survey Note", mid, listed ? map.ymin - 0.15 : map.ymax + 0.1, 1,
             listed ? 0 : 2},  // below on listed pages
        };
        for (const auto& [name, x, y, column, row] : rules)
            ExpectRect(at[name], Place(size[name], x, y, column, row), where + name);
        ExpectRect(at["Legend Title"],
                   {at["Legend"].xmin, at["Legend"].ymax - 0.24, at["Legend"].xmin + 2.2, at["Legend"].ymax},
                   where + "legend members move with their group");
        ExpectRect(at["Main Map"], map, where + "the map frame is not anchored");
    }
    EXPECT_GT(nullPages, 0) << "the sample has pages whose arrow offsets are null";
}

TEST(MapBook, SavesTheDocumentAsLeftOnItsLastPage) {
    TempDir dir;
    const CommandRun run = Crv({"book", kSample.string(), "--pages", "2,5-6", "--report", (dir / "r.json").string(),
                                "--save", (dir / "saved.json").string()});
    ASSERT_EQ(run.status, 0) << run.err << run.stderr_;
    const json report = json::parse(ReadText(dir / "r.json"));
    ASSERT_EQ(report["pages"].size(), 3u);
    EXPECT_EQ(report["pages"][2]["page"], 6);

    const json saved = json::parse(ReadText(dir / "saved.json"));
    std::map<std::string, json> last;
    for (const auto& e : report["pages"][2]["elements"]) last[e["name"]] = e["rect"];
    for (const auto& e : saved["elements"]) {
        if (e.contains("rect")) {
            EXPECT_EQ(e["rect"], last[e["name"]]) << e["name"];
        }
    }
    EXPECT_EQ(saved["elements"][0]["series"]["current_page"], 6);
    EXPECT_EQ(saved["elements"][0]["series"]["dataset"],
              "../" + fs::relative(kSamples / "sheets.gpkg", dir.Path().parent_path()).generic_string());
    EXPECT_EQ(saved["series_layouts"][0]["current_page"]["value"], 6);
    // The saved book opens and runs again from its new place.
    EXPECT_EQ(Crv({"book", (dir / "saved.json").string(), "--pages", "1"}).status, 0);
}

TEST(MapBook, RendersPdfAndPngPagesThatMirror) {
    TempDir dir;
    // Each output into a folder not made yet: the folders are made, the PDF's as the pictures'.
    const CommandRun run = Crv({"book", kSample.string(), "--pages", "1-2", "--pdf", (dir / "out" / "book.pdf").string(),
                                "--png", (dir / "png" / "pages").string(), "--report",
                                (dir / "reports" / "book.json").string(), "--dpi", "50"});
    ASSERT_EQ(run.status, 0) << run.err << run.stderr_;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "reports" / "book.json"));
    const std::string pdf = ReadText(dir / "out" / "book.pdf");
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    const std::regex pageObject("/Type\\s*/Page[^s]");
    EXPECT_EQ(std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), pageObject), std::sregex_iterator()), 2);

    // Letter size at 50 dots per inch; the page number sits in the outer bottom corner, in the
    // band from 0.37 to 0.52 inch above the bottom edge, below the legend.
    auto darkIn = [](const QImage& img, double x0, double x1) {
        int dark = 0;
        for (int y = img.height() - 26; y < img.height() - 18; ++y) {
            for (int x = static_cast<int>(x0 * 50); x < static_cast<int>(x1 * 50); ++x) {
                if (qGray(img.pixel(x, y)) < 128) ++dark;
            }
        }
        return dark;
    };
    const QImage odd(QString::fromStdString((dir / "png" / "pages" / "page-001.png").string()));
    const QImage even(QString::fromStdString((dir / "png" / "pages" / "page-002.png").string()));
    ASSERT_EQ(odd.size(), QSize(425, 550));
    ASSERT_EQ(even.size(), QSize(425, 550));
    EXPECT_GT(darkIn(odd, 7.4, 8.0), 0);
    EXPECT_EQ(darkIn(odd, 0.5, 1.1), 0);
    EXPECT_GT(darkIn(even, 0.5, 1.1), 0);
    EXPECT_EQ(darkIn(even, 7.4, 8.0), 0);
}

// Every refusal of the command: status 2, one line naming what was wrong and what is allowed,
// nothing written to standard output, no file made or changed.
TEST(Crvanchor, EveryRefusalIsOneLineWithStatusTwoAndChangesNothing) {
    TempDir dir;
    const std::string doc = CopySample(dir).string();
    const std::string d = dir.Path().string();
    WriteText(dir / "broken.json", "{\n  \"format\": \"crvanchor-document\",\n  \"version\": 1\n  \"page\": {}\n}\n");
    fs::create_symlink(doc, dir / "link.json");
    fs::create_directory(dir / "png");
    // One floating-point step wide and high.
    const std::string tiny = Sheet("1000000.0", "1000000.0", "1000000.0000000001", "1000000.0000000001");
    const std::string empty = SeriesBook(dir / "empty", "").string();
    // Its selection would show a report (no field DX without features): a book without pages
    // is refused before anything is anchored.
    ASSERT_EQ(Crv({"anchor", empty, "Note", "AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                   "HFromFieldAll=true", "HFieldNameAll=DX"})
                  .status,
              0);
    const std::string big = SeriesBook(dir / "big", tiny, R"({"width": 30, "height": 20})").string();
    const std::string wide = SeriesBook(dir / "wide", tiny, R"({"width": 250, "height": 2})").string();

    const auto page2 = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {"book", doc, "--pages", "2"});
        return options;
    };
    const auto anchor = [&](const std::string& change) {
        return std::vector<std::string>{"anchor", doc, "Page Number", "AnchorElement=true", change};
    };
    const std::string unwritten = "; nothing was written";
    const std::string points = R"("Top Left", "Top Center", "Top Right", "Center Left", "Center", "Center Right", )"
                               R"("Bottom Left", "Bottom Center", "Bottom Right")";
    const std::string pointCode = ": expected a point code 0 to 8 or its label: " + points;
    // A key not of the record lists the keys there are.
    const std::string kKeys =
        " (its keys: AnchorElement, AnchorType, ElementName, UseAltAnchoring, AltAnchorType, AltAnchorPageRange, "
        "AnchorFromAll, AnchorToAll, HDistanceAll, HFromFieldAll, HFieldNameAll, VDistanceAll, VFromFieldAll, "
        "VFieldNameAll, AnchorFromAlt, AnchorToAlt, HDistanceAlt, HFromFieldAlt, HFieldNameAlt, VDistanceAlt, "
        "VFromFieldAlt, VFieldNameAlt, AnchorPriority, CanAnchor, Version)";
    const std::string distance = ": expected a number from -1000000 to 1000000 page units, such as -0.25";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        // Arguments.
        {{}, "which command? (book, show or anchor; crvanchor --help tells more)"},
        {{"book", doc, "--pages"}, "--pages needs a value"},
        {{"book", doc, "--pages", "40"}, "--pages: 40 is not in the map book (pages 1 to 16)"},
        {{"book", doc, "--pages", "1,,2"}, "--pages: expected a page or a range such as 3-5, found \"\""},
        {{"book", doc, "--pages", "1,2\n3"}, "--pages: expected a page or a range such as 3-5, found \"2\\n3\""},
        {{"book", doc, "--dpi", "5"}, "--dpi: expected a number from 10 to 1200, found \"5\""},
        // A folder that cannot be made for an output (a file stands in its way).
        {{"book", doc, "--pdf", doc + "/b.pdf"},
         "--pdf \"" + doc + "\": cannot create the folder: Not a directory"},
        // Documents and books that cannot be made.
        {{"book", d + "/broken.json"},
         d + "/broken.json:4:8: syntax error while parsing object - unexpected string literal; expected '}'"},
        {{"show", d + "/missing.json"}, d + "/missing.json: cannot open: No such file or directory"},
        {{"book", empty, "--pdf", d + "/b.pdf"},
         empty + ": no pages: the map series \"sheets\" on \"Map\" has no features"},
        {{"book", big, "--png", d + "/big", "--dpi", "1200"},
         "--png: a page of 30 x 20 inches at 1200 dots per inch would be 36000 x 24000 pixels; a page picture is 1 to "
         "32767 pixels a side"},
        {{"book", wide, "--pdf", d + "/big.pdf"},
         d + "/big.pdf: a page of 18000 x 144 points cannot be drawn: a PDF page is 3 to 14400 points a side"},
        // Outputs that would replace an input or each other.
        {page2({"--report", doc}), "--report \"" + doc + "\": that is the map document being read" + unwritten},
        {page2({"--pdf", d + "/./lakes_atlas.json"}),
         "--pdf \"" + d + "/./lakes_atlas.json\": that is the map document being read" + unwritten},
        {page2({"--report", d + "/link.json"}),
         "--report \"" + d + "/link.json\": that is the map document being read" + unwritten},
        {page2({"--pdf", d + "/sheets.gpkg"}),
         "--pdf \"" + d + "/sheets.gpkg\": that is the map series dataset of the document" + unwritten},
        {page2({"--save", d + "/north_arrow.xpm"}),
         "--save \"" + d + "/north_arrow.xpm\": that is a picture of the layout" + unwritten},
        {page2({"--pdf", d + "/out.x", "--save", d + "/png/../out.x"}),
         "--save \"" + d + "/png/../out.x\": the same file as --pdf" + unwritten},
        {page2({"--report", "/dev/full"}), "--report \"/dev/full\": not a regular file" + unwritten},
        {page2({"--pdf", d + "/png"}), "--pdf \"" + d + "/png\": not a regular file" + unwritten},
        {page2({"--png", doc}), "--png \"" + doc + "\": not a folder" + unwritten},
        {page2({"--png", doc + "/png"}), "--png \"" + doc + "/png\": cannot create the folder: Not a directory"},
        {page2({"--png", d + "/png/", "--report", d + "/png/page-002.png"}),
         "--png \"" + d + "/png/\": its page picture page-002.png would replace the --report file" + unwritten},
        // Anchor records: the key and the values it allows.
        {anchor("Height=2"), "anchor: \"Height\" is not a key of the anchor record" + kKeys},
        {anchor("HFieldNameAll=\xff\xfe"), "HFieldNameAll=\"\\xFF\\xFE\": not UTF-8 text"},
        {anchor("AnchorToAll=Middle"), "AnchorToAll=\"Middle\"" + pointCode},
        {anchor("AnchorFromAll=9"), "AnchorFromAll=\"9\"" + pointCode},
        {anchor("AnchorToAlt=-1"), "AnchorToAlt=\"-1\"" + pointCode},
        {anchor("AltAnchorType=3"),
         "AltAnchorType=\"3\": expected an alternate-page code 0 to 2 or its label: \"Even Pages\", \"Odd Pages\", "
         "\"Page Range\""},
        {anchor("AnchorPriority=7"),
         "AnchorPriority=\"7\": expected a priority code 0 to 2 or its label: \"LOW\", \"MEDIUM\", \"HIGH\""},
        {anchor("Version=2"), "Version=\"2\": expected 1, the record format version"},
        {anchor("HDistanceAll=1,5"), "HDistanceAll=\"1,5\"" + distance},
        {anchor("HDistanceAll=nan"), "HDistanceAll=\"nan\"" + distance},
        {anchor("VDistanceAlt=inf"), "VDistanceAlt=\"inf\"" + distance},
        {anchor("VDistanceAll=-3.4e38"), "VDistanceAll=\"-3.4e38\"" + distance},
        {anchor("AnchorType=Bogus"), "AnchorType=\"Bogus\": expected \"Layout\" or \"NamedElement\""},
        {anchor("AltAnchorPageRange=odd"),
         "AltAnchorPageRange=\"odd\": expected a page list such as 1-3, 7 (or nothing)"},
        {anchor("VFieldNameAlt="), "VFieldNameAlt=\"\": expected a name or \"<None>\""},
        {anchor("UseAltAnchoring=yes"), "UseAltAnchoring=\"yes\": expected true or false"},
        {anchor("ElementName=Inset Map"),
         "ElementName=\"Inset Map\": no element of that name in " + doc +
             " (a target is a top-level element or a member of a top-level group), or \"<None>\""},
        {{"anchor", doc, "Title\xff", "VDistanceAll=1"}, "anchor: the element name \"Title\\xFF\" is not UTF-8 text"},
        {{"anchor", doc, "title", "VDistanceAll=1"}, "anchor: no element named \"title\" in " + doc},
    };
    const auto before = Listing(dir.Path());
    const std::string text = ReadText(doc);
    for (const auto& [args, message] : cases) {
        const CommandRun run = Crv(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err, "crvanchor: " + message + "\n");
        EXPECT_EQ(run.stderr_, "") << message;
        EXPECT_EQ(run.out, "") << message;
        EXPECT_EQ(Listing(dir.Path()), before) << message;
        EXPECT_TRUE(ReadText(doc) == text) << message << ": the document changed";
    }

    // What comes close to a refusal still goes: page pictures beside the document where none is
    // in the way, what a record may hold (labels, codes, a target that the lookup finds, a page
    // list), and the document saved in place, which is what --save of the document asks.
    const CommandRun png = Crv(page2({"--png", d, "--pages", "3"}));
    EXPECT_EQ(png.status, 0) << png.err;
    EXPECT_NE(Crv({"book", doc, "--pages", " 1, 2 - 3 ,5"}).out.find(": 4 pages,"), std::string::npos);
    const CommandRun ok =
        Crv({"anchor", doc, "Page Number", "AnchorType=NamedElement", "ElementName=Legend Title", "AnchorToAll=8",
             "AnchorFromAll=Bottom Right", "AltAnchorType=Page Range", "AltAnchorPageRange=1-3, 7", "AnchorPriority=0",
             "HDistanceAll=-1e6", "Version=1", "ElementName=<None>"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(Crv(page2({"--save", doc})).status, 0);
}

TEST(Crvanchor, ErrorReportsGoToStandardErrorAndAreCounted) {
    TempDir dir;
    const auto doc = CopySample(dir);
    // Aim the legend at an element the layout does not hold (as a document edited by hand
    // may), and give the arrow a field that the index layer does not have.
    {
        json edited = json::parse(ReadText(doc));
        for (auto& entry : edited["elements"][4]["custom"]["entries"][0]["entries"][0]["entries"]) {
            if (entry["key"] == "ElementName") entry["value"] = "Inset Map";
        }
        WriteText(doc, edited.dump(1));
    }
    ASSERT_EQ(Crv({"anchor", doc.string(), "North Arrow", "HFieldNameAll=ARROW_DZ"}).status, 0);
    const CommandRun run = Crv({"book", doc.string(), "--report", (dir / "r.json").string()});
    EXPECT_EQ(run.status, 1);
    // Each element left out is named once, with the reason.
    EXPECT_EQ(run.err,
              "crvanchor: \"North Arrow\" is left out of the book: selecting it gave the error report shown: the "
              "map series on \"Main Map\" has no field \"ARROW_DZ\"\n"
              "crvanchor: \"Legend\" is left out of the book: its target \"Inset Map\" is not in the layout\n"
              "crvanchor: 2 error reports shown\n");
    EXPECT_NE(run.stderr_.find("Dlement Not found."), std::string::npos) << run.stderr_;
    EXPECT_NE(run.stderr_.find("Error accessing parent Map Series Frame fields."), std::string::npos) << run.stderr_;
    // The rest of the book was still made, without the two elements that could not be placed.
    const json report = json::parse(ReadText(dir / "r.json"));
    EXPECT_EQ(report["anchor_order"], json({"Title", "Page Number", "Survey Note"}));
    EXPECT_EQ(report["error_reports"], 2);
    EXPECT_EQ(report["pages"].size(), 16u);
}

// Values that `anchor` refuses but a document edited by hand may hold: the book uses them as the
// engine does and names each element holding them once, with what comes of each value.
TEST(Crvanchor, BookNamesRecordValuesThatAnchorWouldRefuse) {
    TempDir dir;
    const auto doc = CopySample(dir);
    const std::string original = ReadText(doc);
    const std::string title = "crvanchor: \"Title\" has ";
    const std::string priority =
        "AnchorPriority 7, which is not a priority (0 LOW, 1 MEDIUM, 2 HIGH): it is placed after the LOW elements";
    const std::string alt =
        "AltAnchorType 9, which is not an alternate-page code (0 Even Pages, 1 Odd Pages, 2 Page "
        "Range): the alternate rule applies on no page";
    const std::string version =
        "Version 99, which is not the record version (1): the engine reads the record as version 1 all the same";
    const std::vector<std::pair<std::map<std::string, int>, std::string>> cases = {
        {{{"AnchorPriority", 7}}, title + priority + "\n"},
        {{{"AltAnchorType", 9}}, title + alt + "\n"},
        {{{"Version", 99}}, title + version + "\n"},
        {{{"AnchorPriority", 7}, {"AltAnchorType", 9}, {"Version", 99}},
         title + priority + "; " + alt + "; " + version + "\n"},
        {{{"Version", 1}, {"AltAnchorType", 2}}, ""},
    };
    for (const auto& [values, line] : cases) {
        json edited = json::parse(original);
        for (auto& entry : edited["elements"][1]["custom"]["entries"][0]["entries"][0]["entries"]) {
            if (values.count(entry["key"])) entry["value"] = values.at(entry["key"]);
        }
        WriteText(doc, edited.dump(1));
        const CommandRun run = Crv({"book", doc.string(), "--report", (dir / "r.json").string()});
        EXPECT_EQ(run.status, 0) << line;
        EXPECT_EQ(run.err, line);
        const json order = json::parse(ReadText(dir / "r.json"))["anchor_order"];
        EXPECT_EQ(order.back() == "Title", values.count("AnchorPriority") == 1) << order;
    }
}

TEST(Crvanchor, AnchorGivesAndChangesRecordsInTheirKinds) {
    TempDir dir;
    const auto doc = CopySample(dir);
    {
        // What this version does not use, where only a document with a real series can hold it.
        json edited = json::parse(ReadText(doc));
        edited["elements"][0]["series"]["x-series"] = {{"tiles", 4}};
        edited["elements"][4]["members"][3]["x-member"] = "kept";
        WriteText(doc, edited.dump(1));
    }
    const CommandRun first =
        Crv({"anchor", doc.string(), "Legend Grid", "AnchorElement=true", "AnchorToAll=Bottom Right", "AnchorFromAll=8",
             "HDistanceAll=-0.25", "AltAnchorPageRange=1-3, 7", "AnchorPriority=HIGH"});
    ASSERT_EQ(first.status, 0) << first.err << first.stderr_;
    EXPECT_EQ(first.out.rfind("Gave \"Legend Grid\" a default anchor record with", 0), 0u) << first.out;
    const CommandRun second = Crv({"anchor", doc.string(), "Title", "VDistanceAll=-0.6"});
    ASSERT_EQ(second.status, 0);
    EXPECT_EQ(second.out.rfind("Changed the anchor record of \"Title\" with", 0), 0u) << second.out;

    const json saved = json::parse(ReadText(doc));
    auto recordOf = [&](const json& element) {
        std::map<std::string, json> r;
        for (const auto& e : element["custom"]["entries"][0]["entries"][0]["entries"]) r[e["key"]] = e;
        return r;
    };
    const auto grid = recordOf(saved["elements"][4]["members"][3]);
    EXPECT_EQ(grid.size(), 25u);
    const std::vector<std::tuple<std::string, std::string, json>> expected = {
        {"AnchorElement", "boolean", true},         {"AnchorToAll", "int16", 8},    {"HDistanceAll", "double", -0.25},
        {"AltAnchorPageRange", "string", "1-3, 7"}, {"AnchorPriority", "int16", 2}, {"VDistanceAll", "double", 0.0},
        {"ElementName", "string", "<None>"},        {"Version", "int16", 1},
    };
    for (const auto& [k, kind, value] : expected) {
        EXPECT_EQ(grid.count(k) ? json({grid.at(k)["kind"], grid.at(k)["value"]}) : json(), json({kind, value})) << k;
    }
    EXPECT_EQ(saved["elements"][0]["series"].value("x-series", json()), json({{"tiles", 4}}));
    EXPECT_EQ(saved["elements"][4]["members"][3].value("x-member", json()), "kept");
    const auto title = recordOf(saved["elements"][1]);
    EXPECT_EQ(title.at("VDistanceAll")["value"], -0.6);
    EXPECT_EQ(title.at("AnchorFromAll")["value"], 1);  // the rest is left as it was
}

// A CSV dataset without a .csvt file beside it types every field as text: the element whose
// distances come from such a field is left out, and the line says which field and why.
TEST(Crvanchor, AnElementLeftOutForItsDistanceFieldNamesTheField) {
    TempDir dir;
    WriteText(dir / "sheets.csv", "WKT,DX\n\"POLYGON((0 0,1 0,1 1,0 1,0 0))\",0.5\n");
    const fs::path doc = SeriesBook(dir.Path(), "");
    WriteText(doc, std::regex_replace(ReadText(doc), std::regex("sheets.geojson"), "sheets.csv"));
    ASSERT_EQ(Crv({"anchor", doc.string(), "Note", "AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                   "HFromFieldAll=true", "HFieldNameAll=DX"})
                  .status,
              0);
    const CommandRun run = Crv({"book", doc.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "crvanchor: \"Note\" is left out of the book: selecting it gave the error report shown: its field \"DX\" "
              "of the map series on \"Map\" holds text, not numbers\ncrvanchor: 1 error report shown\n");
}

TEST(Crvanchor, ShowListsElementsGroupsAndRecords) {
    const std::string out = Crv({"show", kSample.string()}).out;
    EXPECT_NE(out.find("Map series \"Lake District sheets\" on \"Main Map\": 16 pages from 1, layer sheets of "
                       "sheets.gpkg, current page 1\nLayout in force: SeriesLayout \"Lakes Atlas\"\n"),
              std::string::npos)
        << out;
    const std::vector<std::regex> rows = {
        std::regex("\nTitle +text +\\(0\\.000, 0\\.000\\)-\\(7\\.000, 0\\.450\\) +HIGH: Top Center to Top Center of "
                   "page, h 0\\.000, v -0\\.450\n"),
        std::regex("\nNorth Arrow .*MEDIUM: Top Right to Top Right of \"Main Map\", h -0\\.150 or field ARROW_DX, v "
                   "-0\\.150 or field ARROW_DY\n"),
        std::regex("\nAnchor record of \"Page Number\":\n  AnchorElement +Boolean +true\n"),
        std::regex("\n  VDistanceAlt +Double +0\\.35\n"),
    };
    for (const auto& r : rows) EXPECT_TRUE(std::regex_search(out, r)) << out;
}

TEST(MapBook, WithoutAMapSeriesIsOnePageNumberedOne) {
    TempDir dir;
    WriteText(dir / "plain.json", R"({"format": "crvanchor-document", "version": 1,
      "page": {"width": 20, "height": 10, "units": "centimeters"},
      "elements": [{"type": "text", "name": "Note", "rect": [0, 0, 4, 1], "text": "page {page}"}]})");
    const std::string doc = (dir / "plain.json").string();
    ASSERT_EQ(Crv({"anchor", doc, "Note", "AnchorElement=true", "AnchorFromAll=Center", "AnchorToAll=Center",
                   "UseAltAnchoring=true", "AltAnchorType=Odd Pages", "AnchorFromAlt=Bottom Right",
                   "AnchorToAlt=Bottom Right", "HDistanceAlt=-1"})
                  .status,
              0);
    const CommandRun run = Crv({"book", doc, "--report", (dir / "r.json").string()});
    ASSERT_EQ(run.status, 0) << run.err << run.stderr_;
    const json report = json::parse(ReadText(dir / "r.json"));
    EXPECT_EQ(report["series"], nullptr);
    ASSERT_EQ(report["pages"].size(), 1u);
    EXPECT_EQ(report["pages"][0]["page"], 1);
    // Page 1 is odd: the alternate rule puts the note in the bottom right corner, 1 cm in.
    ExpectRect(RectOf(report["pages"][0]["elements"][0]["rect"]), {15, 0, 19, 1}, "note");
    EXPECT_EQ(Crv({"book", doc, "--pages", "2"}).err, "crvanchor: --pages: 2 is not in the map book (pages 1 to 1)\n");
}

TEST(Crvanchor, AnyFailureAtTheEdgeIsOneLineAndStatusTwo) {
    const std::vector<std::pair<std::function<int()>, std::string>> cases = {
        {[]() -> int { throw support::FileWriteError("out.pdf: cannot write: No space left on device"); },
         "out.pdf: cannot write: No space left on device"},
        {[]() -> int { throw ComError(-1, "Host", "Injected"); }, "Injected"},
        {[]() -> int { return json(1).get<std::string>().empty() ? 3 : 4; },
         "unexpected failure: [json.exception.type_error.302] type must be string, but is number"},
        {[]() -> int { throw std::runtime_error("two\nlines"); }, "unexpected failure: two lines"},
        {[]() -> int { throw std::bad_alloc(); }, "out of memory"},
        {[]() -> int { throw 42; }, "unexpected failure of an unknown kind"},
    };
    for (const auto& [body, message] : cases) {
        std::ostringstream err;
        EXPECT_EQ(support::RunAtEdge("crvanchor", err, body), 2) << message;
        EXPECT_EQ(err.str(), "crvanchor: " + message + "\n");
    }
    std::ostringstream quiet;
    EXPECT_EQ(support::RunAtEdge("crvanchor", quiet, [] { return 1; }), 1);
    EXPECT_EQ(quiet.str(), "");
}

TEST(MapBook, AReportOfADocumentWhosePathIsNotUtf8IsStillWritten) {
    TempDir dir;
    CopySample(dir);
    fs::rename(dir / "lakes_atlas.json", dir / "atlas-\xff.json");
    const CommandRun run =
        Crv({"book", (dir / "atlas-\xff.json").string(), "--pages", "1", "--report", (dir / "r.json").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const json report = json::parse(ReadText(dir / "r.json"));
    EXPECT_EQ(report["document"], (dir / "atlas-\xef\xbf\xbd.json").string());
}

TEST(MapBook, AFailedWriteLeavesNoFileAndGivesStatusTwo) {
    TempDir dir;
    const fs::path doc = CopySample(dir);
    struct Case {
        std::string fault;
        int nth;
        std::vector<std::string> options;
        std::string message;
    };
    const std::string d = dir.Path().string();
    const std::vector<Case> cases = {
        {"Book.Write", 1, {"--pdf", d + "/b.pdf"}, d + "/b.pdf: cannot write: Injected failure in Book.Write."},
        {"Book.Write", 3, {"--pdf", d + "/b.pdf"}, d + "/b.pdf: cannot write: Injected failure in Book.Write."},
        {"Book.Rename",
         1,
         {"--pdf", d + "/b.pdf", "--report", d + "/r.json"},
         d + "/b.pdf: cannot replace the file: Injected failure in Book.Rename."},
        {"Book.Write", 1, {"--report", d + "/r.json"}, d + "/r.json: cannot write: Injected failure in Book.Write."},
        {"Book.Write",
         2,
         {"--png", d + "/png"},
         d + "/png/page-002.png: cannot write: Injected failure in Book.Write."},
    };
    for (const auto& c : cases) {
        const auto before = Listing(dir.Path());
        std::vector<std::string> args = {"book", doc.string(), "--pages", "1-3"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CommandRun run{};
        {
            support::ScopedFault fault(c.fault, c.nth);
            run = Crv(args);
        }
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.err, "crvanchor: " + c.message + "\n");
        EXPECT_EQ(run.out, "");
        auto after = Listing(dir.Path());
        // The pages before the failing one stay, each whole.
        for (const char* kept : {"png", "png/page-001.png"}) {
            if (c.options[0] == "--png") {
                EXPECT_EQ(after.erase(kept), 1u) << kept;
            }
        }
        EXPECT_EQ(after, before) << c.message;
        fs::remove_all(dir / "png");
    }
    // A page picture's place taken by a folder, while the PDF is half drawn: the PDF is given
    // up and nothing of it is left.
    fs::create_directories(dir / "png" / "page-002.png");
    const CommandRun run =
        Crv({"book", doc.string(), "--pages", "1-3", "--pdf", d + "/b.pdf", "--png", (dir / "png").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "crvanchor: " + d + "/png/page-002.png: cannot replace it: not a regular file\n");
    EXPECT_EQ(Listing(dir / "png"), (std::set<std::string>{"page-001.png", "page-002.png"}));
    EXPECT_FALSE(fs::exists(dir / "b.pdf"));
}

TEST(MapBook, DrawsSheetsOfAnyWidth) {
    TempDir dir;
    // One floating-point step wide and high: stepping a grid line by line would never end.
    const std::string tiny = Sheet("1000000.0", "1000000.0", "1000000.0000000001", "1000000.0000000001");
    const fs::path doc = SeriesBook(dir.Path(), tiny + ", " + Sheet("0", "0", "0", "0"));
    const CommandRun run =
        Crv({"book", doc.string(), "--png", (dir / "png").string(), "--dpi", "10", "--pdf", (dir / "b.pdf").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir / "png" / "page-002.png"));
}

TEST(MapBook, NeverSavesAPlacementFromANoDataDistance) {
    TempDir dir;
    const fs::path doc =
        SeriesBook(dir.Path(), Sheet("0", "0", "10", "10", "0.5") + ", " + Sheet("10", "0", "20", "10", "-3.4e38"));
    ASSERT_EQ(Crv({"anchor", doc.string(), "Note", "AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                   "HFromFieldAll=true", "HFieldNameAll=DX"})
                  .status,
              0);
    const CommandRun run = Crv({"book", doc.string(), "--save", (dir / "saved.json").string()});
    EXPECT_NE(run.status, 0);
    // Either the placement was refused (and reported) or the document was not saved.
    if (fs::exists(dir / "saved.json")) {
        const json saved = json::parse(ReadText(dir / "saved.json"));
        for (const auto& e : saved["elements"]) {
            for (const auto& v : e.value("rect", json::array()))
                EXPECT_LE(std::fabs(v.get<double>()), 1e6) << e["name"];
        }
    } else {
        EXPECT_NE(run.err.find("--save \"" + (dir / "saved.json").string() + "\": \"Note\" would be stored at ("),
                  std::string::npos)
            << run.err;
    }
}

TEST(Activation, TheCommandFindsTheEngineOnlyWhileTheComponentIsRegistered) {
    RegisterComponentOnce();
    standalone::StandaloneHost host;
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    {
        auto engine = CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
        ASSERT_TRUE(engine);
        EXPECT_TRUE(engine->MakeAnchorProperties());
    }
    ClassTable::Instance().FreeUnusedLibraries();
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, true).code, 0);
    const CommandRun run = Crv({"book", kSample.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("the anchoring component is not registered"), std::string::npos) << run.err;
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    EXPECT_EQ(Crv({"show", kSample.string()}).status, 0);
    EXPECT_TRUE(sink.reports.empty());
}

TEST(MapBook, TheReportWrittenPageByPageIsTheWholeReportDumpedWithIndentTwo) {
    TempDir dir;
    WriteText(dir / "plain.json", R"({"format": "crvanchor-document", "version": 1, "page": {"width": 20, "height": 10},
      "elements": [{"type": "text", "name": "Note", "rect": [0, 0, 4, 1]}]})");
    const std::vector<std::vector<std::string>> runs = {{kSample.string()},
                                                        {kSample.string(), "--pages", "2,5-6"},
                                                        {kSample.string(), "--pages", "16"},
                                                        {(dir / "plain.json").string()}};
    for (const auto& run : runs) {
        std::vector<std::string> args = {"book"};
        args.insert(args.end(), run.begin(), run.end());
        args.insert(args.end(), {"--report", (dir / "r.json").string()});
        ASSERT_EQ(Crv(args).status, 0) << run.back();
        const std::string text = ReadText(dir / "r.json");
        EXPECT_EQ(text, nlohmann::ordered_json::parse(text).dump(2) + "\n") << run.back();
    }
}

// The book stepped page by page: each step puts its page in force in the one place the series
// keeps it, and drawing reads the page's values from there.
TEST(MapBook, PagesAreSteppedInOrderEachPutInForceWithoutAnEventLog) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    standalone::StandaloneHost host;
    standalone::Document doc(host);
    doc.Load(kSample);
    standalone::DocumentBook book(doc);
    const objects::SeriesData& series = *standalone::StandaloneHost::ElementOf(book.surface.Range().series_frame).series;
    struct Case {
        std::string text;
        std::vector<int32_t> shown;
    };
    const std::vector<Case> cases = {{"3", {3}},
                                     {"7,1-2", {1, 2, 7}},
                                     {"2-4,3-6,8", {2, 3, 4, 5, 6, 8}},
                                     {"15-16,14", {14, 15, 16}},
                                     {"5,5,5", {5}}};
    for (const auto& c : cases) {
        PageList list = commands::ParseBookPages(c.text, book.surface.Range().first, book.surface.Range().last);
        EXPECT_EQ(list.Count(), c.shown.size()) << c.text;
        for (int32_t p = 0; p <= 17; ++p) {
            EXPECT_EQ(list.Contains(p), std::count(c.shown.begin(), c.shown.end(), p) == 1) << c.text << " page " << p;
        }
        book::BookDriver& pages = book.driver;
        EXPECT_FALSE(pages.Next()) << "no step before Begin";
        std::vector<int32_t> shown;
        for (bool more = pages.Begin(list); more && pages.Next();) {
            shown.push_back(pages.Cursor().Page());
            EXPECT_EQ(series.current_position, pages.Cursor().Page()) << c.text;
            EXPECT_EQ(CLng(series.CurrentValue("PAGE_NO")), pages.Cursor().Page()) << c.text;
            EXPECT_EQ(pages.Cursor().Done(), shown.size());
        }
        EXPECT_EQ(shown, c.shown) << c.text;
        EXPECT_FALSE(pages.Next()) << "no step after the last";
    }
    EXPECT_TRUE(series.CurrentValue("NO_SUCH_FIELD").IsNull());
    EXPECT_EQ(book.surface.Range().last - book.surface.Range().first + 1, 16);
    // The host's event log is kept only when asked for: move, update, redraw a placement.
    EXPECT_TRUE(host.State().events.empty());
    host.State().log_events = true;
    book.driver.PlacePage(3);
    EXPECT_EQ(host.State().events.size(), 3 * book.driver.Selection().Elements().size());
    EXPECT_TRUE(sink.reports.empty());
}

}  // namespace
}  // namespace crv::testing

namespace crv::testing {
namespace {

TEST(Crvanchor, LayoutChecksListOffPageElementsOnceWithTheirPagesAndStrictMakesThemFail) {
    TempDir dir;
    const std::string doc = SeriesBook(dir / "b", Sheet("0", "0", "1", "1") + "," + Sheet("1", "0", "2", "1") + "," +
                                                      Sheet("2", "0", "3", "1") + "," + Sheet("3", "0", "4", "1") +
                                                      "," + Sheet("4", "0", "5", "1"))
                                .string();
    // One unit out past the left edge on every page but the odd ones, which put it back in.
    ASSERT_EQ(Crv({"anchor", doc, "Note", "AnchorElement=true", "AnchorFromAll=Bottom Left", "AnchorToAll=Bottom Left",
                   "HDistanceAll=-1", "UseAltAnchoring=true", "AltAnchorType=Odd Pages", "AnchorFromAlt=Bottom Left",
                   "AnchorToAlt=Bottom Left"})
                  .status,
              0);
    const std::string report = (dir / "r.json").string();
    CommandRun run = Crv({"book", doc, "--report", report});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "crvanchor: \"Note\" off the page on pages 2, 4\n");
    const json r = json::parse(ReadText(report));
    EXPECT_FALSE(r["pages"][0].contains("checks"));
    EXPECT_EQ(r["pages"][1]["checks"], json::parse(R"([{"kind": "off_page", "element": "Note"}])"));
    run = Crv({"book", doc, "--strict", "--pages", "1-4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "crvanchor: \"Note\" off the page on pages 2, 4\n");
    run = Crv({"book", doc, "--strict", "--pages", "3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    run = Crv({"book", doc, "--outline", "--pdf", (dir / "o.pdf").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "crvanchor: book: --outline draws on the PNG pages; add --png DIR\n");
    EXPECT_FALSE(fs::exists(dir / "o.pdf"));
    EXPECT_EQ(Crv({"book", kSample.string(), "--check-overlap", "--strict"}).err, "");
}

TEST(MapBook, OutlineDrawsTheAnchoringInMagentaOnlyWhenAsked) {
    TempDir dir;
    auto magenta = [](const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                if (qRed(p) > 200 && qBlue(p) > 200 && qGreen(p) < 80) ++n;
            }
        }
        return n;
    };
    for (const bool outline : {false, true}) {
        std::vector<std::string> args{
            "book", kSample.string(), "--pages", "2", "--png", (dir / (outline ? "on" : "off")).string(), "--dpi",
            "40"};
        if (outline) args.push_back("--outline");
        ASSERT_EQ(Crv(args).status, 0);
    }
    const QImage off(QString::fromStdString((dir / "off" / "page-002.png").string()));
    const QImage on(QString::fromStdString((dir / "on" / "page-002.png").string()));
    EXPECT_EQ(magenta(off), 0);
    EXPECT_GT(magenta(on), 0);
    // The page number's box, bottom left on an even page, is outlined: its top edge runs at
    // 0.4 inch above the bottom.
    int edge = 0;
    for (int x = 20; x < 50; ++x) {
        for (int y = on.height() - 18; y < on.height() - 14; ++y) {
            const QRgb p = on.pixel(x, y);
            if (qRed(p) > 200 && qBlue(p) > 200 && qGreen(p) < 80) ++edge;
        }
    }
    EXPECT_GT(edge, 0);
}

}  // namespace
}  // namespace crv::testing
