// crvanchor-qgis as a user runs it: its own process, a project on disk.
#include "LayoutFixture.h"
#include "qgsziputils.h"

#include "standalone/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace crv::testing {

namespace {

namespace fs = std::filesystem;

struct CommandRun {
    int status;
    std::string err;
    std::string out;
};

CommandRun Command(const std::string& args, const fs::path& dir) {
    // Under the leak checker the program's standard error would end with the list of
    // suppressions used; the command's own lines are what is checked.
    const std::string cmd = "LSAN_OPTIONS=\"$LSAN_OPTIONS:print_suppressions=0\" \"" CRV_QGIS_CLI_PATH "\" " + args +
                            " 2>\"" + (dir / "err.txt").string() + "\" >\"" + (dir / "out.txt").string() + "\"";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(dir / "err.txt"), ReadText(dir / "out.txt")};
}

// The command's own lines of its standard error: QGIS and PROJ write theirs there too.
std::string OwnLines(const std::string& err) {
    std::istringstream in(err);
    std::string own;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("crvanchor-qgis: ", 0) == 0) own += line + "\n";
    return own;
}

// Gives the title a record from the command line: its top left corner to the map's point
// `mapPoint`, moved right by the coverage field HD.
CommandRun AnchorTitleToMap(const std::string& project, const std::string& mapPoint, const fs::path& dir) {
    return Command("anchor " + project +
                       " --layout Atlas Title AnchorElement=true AnchorType=NamedElement ElementName=Map "
                       "AnchorFromAll=Top\\ Left AnchorToAll=" +
                       mapPoint + " HFromFieldAll=true HFieldNameAll=HD",
                   dir);
}

// A project whose coverage layer is a GeoJSON file beside it, with an atlas of three pages.
fs::path WriteProject(const fs::path& dir) {
    std::ofstream(dir / "sheets.geojson")
        << R"({"type":"FeatureCollection","features":[)"
        << R"({"type":"Feature","properties":{"HD":0.25},"geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]}},)"
        << R"({"type":"Feature","properties":{"HD":0.5},"geometry":{"type":"Polygon","coordinates":[[[1,0],[2,0],[2,1],[1,0]]]}},)"
        << R"({"type":"Feature","properties":{"HD":0.75},"geometry":{"type":"Polygon","coordinates":[[[2,0],[3,0],[3,1],[2,0]]]}}]})";
    QgsProject project;
    auto* layer = new QgsVectorLayer(QString::fromStdString((dir / "sheets.geojson").string()), "sheets", "ogr");
    project.addMapLayer(layer);
    auto* layout = new QgsPrintLayout(&project);
    layout->setName("Atlas");
    layout->setUnits(QgsUnitTypes::LayoutInches);
    auto* page = new QgsLayoutItemPage(layout);
    page->setPageSize(QgsLayoutSize(kPageWidth, kPageHeight, QgsUnitTypes::LayoutInches));
    layout->pageCollection()->addPage(page);
    project.layoutManager()->addLayout(layout);
    BuildQgisItem(*layout, {ItemSpec::Map, "Map", {1, 2, 7.5, 9}, 0, {}, {}});
    BuildQgisItem(*layout, {ItemSpec::Text, "Title", {3, 3, 5, 3.5}, 0, {}, {}});
    layout->atlas()->setCoverageLayer(layer);
    layout->atlas()->setEnabled(true);
    const fs::path file = dir / "book.qgz";
    EXPECT_TRUE(project.write(QString::fromStdString(file.string())));
    return file;
}

}  // namespace

TEST(CrvAnchorQgis, RefusesBadInputInOneLineWithStatusTwo) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    struct Case {
        std::string args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {p + " --layout Nope", "crvanchor-qgis: --layout \"Nope\": no print layout of that name in " +
                                   project.string() + " (it has \"Atlas\")\n"},
        {p + " --layout Atlas --pages 4", "crvanchor-qgis: --pages: 4 is not in the map book (pages 1 to 3)\n"},
        {p + " --layout Atlas --pages 3-1", "crvanchor-qgis: --pages: the range 3-1 runs backwards\n"},
        {p + " --layout Atlas --pages x",
         "crvanchor-qgis: --pages: expected a page or a range such as 3-5, found \"x\"\n"},
        {"\"" + (dir.Path() / "missing.qgz").string() + "\" --layout Atlas",
         "crvanchor-qgis: " + (dir.Path() / "missing.qgz").string() + ": no such project file\n"},
        {p + " --layout Atlas --pdf " + p,
         "crvanchor-qgis: --pdf \"" + project.string() + "\": that is the project being read; nothing was written\n"},
        {p + " --layout Atlas --report " + p, "crvanchor-qgis: --report \"" + project.string() +
                                                  "\": that is the project being read; nothing was written\n"},
        {p + " --layout Atlas --pdf \"" + (dir.Path() / "sheets.geojson").string() + "\"",
         "crvanchor-qgis: --pdf \"" + (dir.Path() / "sheets.geojson").string() +
             "\": that is the data of the layer \"sheets\"; nothing was written\n"},
        {p + " --layout Atlas --save \"" + (dir.Path() / "sheets.geojson").string() + "\"",
         "crvanchor-qgis: --save \"" + (dir.Path() / "sheets.geojson").string() +
             "\": that is the data of the layer \"sheets\"; nothing was written\n"},
        {"anchor " + p + " --layout Atlas Title Colour=red",
         "crvanchor-qgis: anchor: \"Colour\" is not a key of the anchor record\n"},
        {"anchor " + p + " --layout Atlas Nobody AnchorElement=true",
         "crvanchor-qgis: anchor: no item named \"Nobody\" in the layout \"Atlas\"\n"},
    };
    for (const auto& c : cases) {
        const CommandRun run = Command(c.args, dir.Path());
        EXPECT_EQ(run.status, 2) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    std::ifstream data(dir.Path() / "sheets.geojson");
    std::string first;
    std::getline(data, first);
    EXPECT_EQ(first.rfind(R"({"type":"FeatureCollection")", 0), 0u) << "the layer's data was overwritten";
}

// An item given a record from the command line is placed on every page, and the report says
// where.
TEST(CrvAnchorQgis, AnchorsAnItemAndRunsTheAtlas) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    CommandRun run = AnchorTitleToMap(p, "Top\\ Left", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path report = dir.Path() / "report.json";
    run = Command(p + " --layout Atlas --pages 2-3 --report \"" + report.string() + "\" --pdf \"" +
                      (dir.Path() / "book.pdf").string() + "\" --png \"" + (dir.Path() / "png").string() +
                      "\" --save \"" + (dir.Path() / "saved.qgz").string() + "\"",
                  dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = ReadText(report);
    // Page 2: the map's top left corner (1, 9) moved right by the field's 0.5.
    EXPECT_NE(text.find("\"page\": 2"), std::string::npos) << text;
    EXPECT_NE(text.find("1.5,"), std::string::npos) << text;
    EXPECT_NE(text.find("1.75,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"error_reports\": 0"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "book.pdf"));
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "png" / "page-002.png"));
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "png" / "page-003.png"));
    EXPECT_FALSE(fs::exists(dir.Path() / "png" / "page-001.png"));

    // The saved project holds the item where the last page left it, and its record.
    QgsProject saved;
    ASSERT_TRUE(saved.read(QString::fromStdString((dir.Path() / "saved.qgz").string())));
    QgsLayoutItem* title = saved.layoutManager()->printLayouts().value(0)->itemById("Title");
    ASSERT_NE(title, nullptr);
    EXPECT_NEAR(title->pos().x(), 1.75, 1e-9);
    EXPECT_EQ(title->customProperty("crvanchor/CorvaneProperties/AnchorProperties/HFieldNameAll").toString(),
              "string:HD");
    // The project inside the archive is named after the file, as QGIS names it itself.
    QStringList files;
    fs::create_directory(dir.Path() / "unzipped");
    ASSERT_TRUE(QgsZipUtils::unzip(QString::fromStdString((dir.Path() / "saved.qgz").string()),
                                   QString::fromStdString((dir.Path() / "unzipped").string()), files));
    EXPECT_TRUE(fs::is_regular_file(dir.Path() / "unzipped" / "saved.qgs")) << files.join(", ").toStdString();
    EXPECT_EQ(std::count_if(fs::directory_iterator(dir.Path()), fs::directory_iterator(),
                            [](const fs::directory_entry& e) {
                                return e.path().string().find("crvanchor-save") != std::string::npos;
                            }),
              0);
}

// The layout checks and the cycle marks work on a QGIS atlas as on the standalone book: an item
// pushed off the page is named once with its pages, --strict makes that exit 1, and items
// anchored to each other are shown as a cycle and left where they stand.
TEST(CrvAnchorQgis, ChecksPagesAndMarksCycles) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    // The title's left edge goes to the map's right edge (7.5) plus the field: 2 wide, it ends
    // past the 8.5 page on every page.
    CommandRun run = AnchorTitleToMap(p, "Top\\ Right", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    struct Case {
        std::string options;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"--pages 2-3", 0, "crvanchor-qgis: \"Title\" off the page on pages 2-3\n"},
        {"--pages 1,3 --strict", 1, "crvanchor-qgis: \"Title\" off the page on pages 1, 3\n"},
        {"--pages 2 --check-overlap --strict", 1, "crvanchor-qgis: \"Title\" off the page on page 2\n"},
    };
    for (const auto& c : cases) {
        run = Command(p + " --layout Atlas " + c.options, dir.Path());
        EXPECT_EQ(run.status, c.status) << c.options << ": " << run.err;
        EXPECT_EQ(OwnLines(run.err), c.err) << c.options;
    }

    // The map anchored back to the title: neither can be placed first.
    run = Command("anchor " + p + " --layout Atlas Map AnchorElement=true AnchorType=NamedElement ElementName=Title",
                  dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    run = Command("show " + p + " --layout Atlas", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& shown = run.out;
    EXPECT_NE(shown.find("\"Map\" is in a cycle of anchors: \"Map\" → \"Title\" → \"Map\"; the atlas leaves it where "
                         "it stands\n"),
              std::string::npos)
        << shown;
    run = Command(p + " --layout Atlas --pages 1", dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("\"Title\" is left out of the book: it is in the same cycle of anchors as \"Map\""),
              std::string::npos)
        << run.err;
}

}  // namespace crv::testing
