// The map book command on the bundled sample, checked against positions worked out here from
// the sample's layout rules and from the index layer read directly with the GIS library.

#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/Activation.h"
#include "standalone/tools/Registration.h"

#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"

#include "TempDir.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QImage>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using standalone::Rect;

const fs::path kSamples = fs::path(CRV_SOURCE_DIR) / "samples";
const fs::path kSample = kSamples / "lakes_atlas.json";

struct CommandRun {
    int status;
    std::string out;
    std::string err;      // what the command wrote to its error stream
    std::string stderr_;  // what the component's error reports wrote to standard error
};

// The command finds the engine through the registry: register the component library in a
// registry of this test process's own, once.
void RegisterComponentOnce() {
    static const fs::path path = fs::temp_directory_path() / ("crv-book-registry-" + std::to_string(::getpid()) + ".db");
    static const bool registered = [] {
        ::setenv("CRVANCHOR_REGISTRY", path.c_str(), 1);
        std::atexit([] { for (const char* end : {"", "-wal", "-shm"}) fs::remove(path.string() + end); });
        return tools::RegisterServer(CRV_LIBRARY_PATH, false).code == 0;
    }();
    ASSERT_TRUE(registered);
}

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
                u = {std::min(u.xmin, r.xmin), std::min(u.ymin, r.ymin), std::max(u.xmax, r.xmax), std::max(u.ymax, r.ymax)};
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
            {"Survey Note", mid, listed ? map.ymin - 0.15 : map.ymax + 0.1, 1, listed ? 0 : 2},  // below on listed pages
        };
        for (const auto& [name, x, y, column, row] : rules) ExpectRect(at[name], Place(size[name], x, y, column, row), where + name);
        ExpectRect(at["Legend Title"], {at["Legend"].xmin, at["Legend"].ymax - 0.24, at["Legend"].xmin + 2.2, at["Legend"].ymax},
                   where + "legend members move with their group");
        ExpectRect(at["Main Map"], map, where + "the map frame is not anchored");
    }
    EXPECT_GT(nullPages, 0) << "the sample has pages whose arrow offsets are null";
}

TEST(MapBook, SavesTheDocumentAsLeftOnItsLastPage) {
    TempDir dir;
    const CommandRun run = Crv({"book", kSample.string(), "--pages", "2,5-6", "--report", (dir / "r.json").string(), "--save",
                         (dir / "saved.json").string()});
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
    EXPECT_EQ(saved["elements"][0]["series"]["dataset"], "../" + fs::relative(kSamples / "sheets.gpkg", dir.Path().parent_path()).generic_string());
    EXPECT_EQ(saved["series_layouts"][0]["current_page"]["value"], 6);
    // The saved book opens and runs again from its new place.
    EXPECT_EQ(Crv({"book", (dir / "saved.json").string(), "--pages", "1"}).status, 0);
}

TEST(MapBook, RendersPdfAndPngPagesThatMirror) {
    TempDir dir;
    const CommandRun run = Crv({"book", kSample.string(), "--pages", "1-2", "--pdf", (dir / "book.pdf").string(), "--png",
                         (dir / "png").string(), "--dpi", "50"});
    ASSERT_EQ(run.status, 0) << run.err << run.stderr_;
    const std::string pdf = ReadText(dir / "book.pdf");
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
    const QImage odd(QString::fromStdString((dir / "png" / "page-001.png").string()));
    const QImage even(QString::fromStdString((dir / "png" / "page-002.png").string()));
    ASSERT_EQ(odd.size(), QSize(425, 550));
    ASSERT_EQ(even.size(), QSize(425, 550));
    EXPECT_GT(darkIn(odd, 7.4, 8.0), 0);
    EXPECT_EQ(darkIn(odd, 0.5, 1.1), 0);
    EXPECT_GT(darkIn(even, 0.5, 1.1), 0);
    EXPECT_EQ(darkIn(even, 7.4, 8.0), 0);
}

TEST(Crvanchor, BadArgumentsAndDocumentsGiveOneLineAndStatusTwo) {
    TempDir dir;
    WriteText(dir / "broken.json", "{\n  \"format\": \"crvanchor-document\",\n  \"version\": 1\n  \"page\": {}\n}\n");
    const std::string doc = kSample.string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "crvanchor: which command? (book, show or anchor; crvanchor --help tells more)\n"},
        {{"book", doc, "--pages"}, "crvanchor: --pages needs a value\n"},
        {{"book", doc, "--pages", "40"}, "crvanchor: --pages: 40 is not in the map book (pages 1 to 16)\n"},
        {{"book", doc, "--pages", "1,,2"}, "crvanchor: --pages: expected a page or a range such as 3-5, found \"\"\n"},
        {{"book", doc, "--dpi", "5"}, "crvanchor: --dpi: expected a number from 10 to 1200, found \"5\"\n"},
        {{"book", doc, "--pdf", (dir / "no" / "such" / "b.pdf").string()},
         "crvanchor: cannot write the PDF " + (dir / "no" / "such" / "b.pdf").string() + "\n"},
        {{"book", (dir / "broken.json").string()},
         "crvanchor: " + (dir / "broken.json").string() + ":4:8: syntax error while parsing object - unexpected string literal; expected '}'\n"},
        {{"show", (dir / "missing.json").string()},
         "crvanchor: " + (dir / "missing.json").string() + ": cannot open: No such file or directory\n"},
        {{"anchor", doc, "Title", "Height=2"}, "crvanchor: anchor: \"Height\" is not a key of the anchor record\n"},
        {{"anchor", doc, "Title", "AnchorToAll=Middle"},
         "crvanchor: AnchorToAll=Middle: expected a whole number from -32768 to 32767 or one of the key's labels\n"},
        {{"anchor", doc, "Title", "HDistanceAll=1,5"}, "crvanchor: HDistanceAll=1,5: expected a number such as -0.25\n"},
        {{"anchor", doc, "title", "VDistanceAll=1"}, "crvanchor: anchor: no element named \"title\" in " + doc + "\n"},
    };
    const std::string before = ReadText(kSample);
    for (const auto& [args, message] : cases) {
        const CommandRun run = Crv(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err, message);
    }
    EXPECT_EQ(ReadText(kSample), before) << "no failed command changed the sample";
}

TEST(Crvanchor, ErrorReportsGoToStandardErrorAndAreCounted) {
    TempDir dir;
    const auto doc = CopySample(dir);
    // Aim the legend at an element the layout does not hold, and give the arrow a field that
    // the index layer does not have.
    ASSERT_EQ(Crv({"anchor", doc.string(), "Legend", "ElementName=Inset Map"}).status, 0);
    ASSERT_EQ(Crv({"anchor", doc.string(), "North Arrow", "HFieldNameAll=ARROW_DZ"}).status, 0);
    const CommandRun run = Crv({"book", doc.string(), "--report", (dir / "r.json").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "crvanchor: 2 error reports shown\n");
    EXPECT_NE(run.stderr_.find("Dlement Not found."), std::string::npos) << run.stderr_;
    EXPECT_NE(run.stderr_.find("Error accessing parent Map Series Frame fields."), std::string::npos) << run.stderr_;
    // The rest of the book was still made, without the two elements that could not be placed.
    const json report = json::parse(ReadText(dir / "r.json"));
    EXPECT_EQ(report["anchor_order"], json({"Title", "Page Number", "Survey Note"}));
    EXPECT_EQ(report["error_reports"], 2);
    EXPECT_EQ(report["pages"].size(), 16u);
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
    const CommandRun first = Crv({"anchor", doc.string(), "Legend Grid", "AnchorElement=true", "AnchorToAll=Bottom Right",
                           "AnchorFromAll=8", "HDistanceAll=-0.25", "AltAnchorPageRange=1-3, 7", "AnchorPriority=HIGH"});
    ASSERT_EQ(first.status, 0) << first.err << first.stderr_;
    EXPECT_EQ(first.out.rfind("Gave \"Legend Grid\" a default anchor record with", 0), 0u) << first.out;
    const CommandRun second = Crv({"anchor", doc.string(), "Title", "VDistanceAll=-0.6"});
    ASSERT_EQ(second.status, 0);
    EXPECT_EQ(second.out.rfind("Changed \"Title\" its anchor record", 0), 0u) << second.out;

    const json saved = json::parse(ReadText(doc));
    auto recordOf = [&](const json& element) {
        std::map<std::string, json> r;
        for (const auto& e : element["custom"]["entries"][0]["entries"][0]["entries"]) r[e["key"]] = e;
        return r;
    };
    const auto grid = recordOf(saved["elements"][4]["members"][3]);
    EXPECT_EQ(grid.size(), 25u);
    const std::vector<std::tuple<std::string, std::string, json>> expected = {
        {"AnchorElement", "boolean", true}, {"AnchorToAll", "int16", 8}, {"HDistanceAll", "double", -0.25},
        {"AltAnchorPageRange", "string", "1-3, 7"}, {"AnchorPriority", "int16", 2}, {"VDistanceAll", "double", 0.0},
        {"ElementName", "string", "<None>"}, {"Version", "int16", 1},
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

TEST(Crvanchor, ShowListsElementsGroupsAndRecords) {
    const std::string out = Crv({"show", kSample.string()}).out;
    EXPECT_NE(out.find("Map series \"Lake District sheets\" on \"Main Map\": 16 pages from 1, layer sheets of "
                       "sheets.gpkg, current page 1\nLayout in force: SeriesLayout \"Lakes Atlas\"\n"), std::string::npos) << out;
    const std::vector<std::regex> rows = {
        std::regex("\nTitle +text +\\(0\\.000, 0\\.000\\)-\\(7\\.000, 0\\.450\\) +HIGH: Top Center to Top Center of page, h 0\\.000, v -0\\.450\n"),
        std::regex("\nNorth Arrow .*MEDIUM: Top Right to Top Right of \"Main Map\", h -0\\.150 or field ARROW_DX, v -0\\.150 or field ARROW_DY\n"),
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
                   "AnchorToAlt=Bottom Right", "HDistanceAlt=-1"}).status, 0);
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

TEST(Activation, TheCommandFindsTheEngineOnlyWhileTheComponentIsRegistered) {
    RegisterComponentOnce();
    standalone::StandaloneHost host;
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    {
        auto engine = CreateObjectByProgId<_CRVAnchorManager>(standalone::kAnchorManagerProgId);
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

}  // namespace
}  // namespace crv::testing
