// crvanchor-qgis as a user runs it: its own process, a project on disk.
#include "LayoutFixture.h"
#include "qgsziputils.h"

#include <QDomDocument>
#include <QFile>
#include <QImage>
#include <qgslayoutitempicture.h>
#include <qgsproperty.h>
#include <qgssinglesymbolrenderer.h>
#include <qgssymbol.h>

#include "support/TempDir.h"
#include "support/PdfCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
    // Run in `dir`, so that relative paths are the user's; a command that hangs is stopped.
    const std::string cmd = "cd \"" + dir.string() +
                            "\" && LSAN_OPTIONS=\"$LSAN_OPTIONS:print_suppressions=0\" timeout 600 \"" CRV_QGIS_CLI_PATH
                            "\" " +
                            args + " 2>\"" + (dir / "err.txt").string() + "\" >\"" + (dir / "out.txt").string() + "\"";
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

// A project whose coverage layer is a GeoJSON file beside it, with an atlas of three pages;
// `change` alters it before it is written.
fs::path WriteProject(const fs::path& dir, const std::function<void(QgsProject&, QgsPrintLayout&)>& change = {},
                      const std::string& name = "book.qgz") {
    std::ofstream(dir / "sheets.geojson")
        << R"({"type":"FeatureCollection","features":[)"
        << R"({"type":"Feature","properties":{"HD":0.25},"geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]}},)"
        << R"({"type":"Feature","properties":{"HD":0.5},"geometry":{"type":"Polygon","coordinates":[[[1,0],[2,0],[2,1],[1,0]]]}},)"
        << R"({"type":"Feature","properties":{"HD":0.75},"geometry":{"type":"Polygon","coordinates":[[[2,0],[3,0],[3,1],[2,0]]]}}]})";
    QgsProject project;
    auto* layer = new QgsVectorLayer(QString::fromStdString((dir / "sheets.geojson").string()), "sheets", "ogr");
    // QGIS gives a new layer a random colour, now and then close to the outlines' magenta: grey.
    if (auto* renderer = dynamic_cast<QgsSingleSymbolRenderer*>(layer->renderer()))
        renderer->symbol()->setColor(QColor(200, 200, 200));
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
    if (change) change(project, *layout);
    const fs::path file = dir / name;
    EXPECT_TRUE(project.write(QString::fromStdString(file.string())));
    return file;
}

// The test project with a second page, 14 inches tall, and on it an item "Low" standing where
// the first page's Title does.
fs::path WriteTwoPageProject(const fs::path& dir) {
    return WriteProject(dir, [](QgsProject&, QgsPrintLayout& layout) {
        auto* second = new QgsLayoutItemPage(&layout);
        second->setPageSize(QgsLayoutSize(kPageWidth, 14, QgsUnitTypes::LayoutInches));
        layout.pageCollection()->addPage(second);
        ItemSpec low{ItemSpec::Text, "Low", {3, 3, 5, 3.5}, 0, {}, {}};
        low.page = 1;
        BuildQgisItem(layout, low);
    });
}

// Magenta pixels of a page picture, in the rows y0..y1 and columns x0..x1 (all by default).
int MagentaPixels(const fs::path& file, int x0 = 0, int x1 = 1 << 20, int y0 = 0, int y1 = 1 << 20) {
    const QImage image(QString::fromStdString(file.string()));
    int n = 0;
    for (int y = std::max(0, y0); y < image.height() && y <= y1; ++y) {
        for (int x = std::max(0, x0); x < image.width() && x <= x1; ++x) {
            // Thin lines blend with the page: magenta is red and blue well above green.
            const QRgb c = image.pixel(x, y);
            if (qRed(c) > 150 && qBlue(c) > 150 && qGreen(c) + 60 < std::min(qRed(c), qBlue(c))) ++n;
        }
    }
    return n;
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
        {p + " --layout Atlas --dpi 5", "crvanchor-qgis: --dpi: expected a number from 10 to 1200, found \"5\"\n"},
        {p + " --layout Atlas --outline", "crvanchor-qgis: book: --outline draws on the PNG pages; add --png DIR\n"},
        {p + " --layout Atlas --png out --pdf out/page-002.png",
         "crvanchor-qgis: --png \"out\": its page picture page-002.png would replace the --pdf file; nothing was "
         "written\n"},
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
         "crvanchor-qgis: anchor: \"Colour\" is not a key of the anchor record (its keys: AnchorElement, "
         "AnchorType, ElementName, UseAltAnchoring, AltAnchorType, AltAnchorPageRange, AnchorFromAll, AnchorToAll, "
         "HDistanceAll, HFromFieldAll, HFieldNameAll, VDistanceAll, VFromFieldAll, VFieldNameAll, AnchorFromAlt, "
         "AnchorToAlt, HDistanceAlt, HFromFieldAlt, HFieldNameAlt, VDistanceAlt, VFromFieldAlt, VFieldNameAlt, "
         "AnchorPriority, CanAnchor, Version)\n"},
        {"anchor " + p + " --layout Atlas Title HFromFieldAll=true HFieldNameAll=HDX",
         "crvanchor-qgis: HFieldNameAll=\"HDX\": the atlas's coverage layer \"sheets\" has no field of that name (it "
         "has \"HD\"), nor is it \"<None>\"\n"},
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

// Projects, layers and outputs the command cannot use as asked are refused in one line with
// status 2 before anything is written, where they used to crash it, hang it, or write
// something else than was asked.
TEST(CrvAnchorQgis, RefusesWhatItCannotReadOrWriteFaithfully) {
    TempDir dir;
    struct Case {
        std::string name;
        std::function<void(QgsProject&, QgsPrintLayout&)> change;
        std::function<void(const fs::path& folder)> after;  // once the project is written
        std::string options;
        std::string err;  // the end of the one line
        std::string file = "book.qgz";
        // The commands that refuse the project too, with the book's own line, writing nothing.
        std::vector<std::string> also = {};
    };
    const std::vector<std::string> bakes = {"bake", "unbake"};
    const std::vector<Case> cases = {
        {"deep",
         [](QgsProject&, QgsPrintLayout& layout) {
             std::string key = "crvanchor";
             for (int i = 0; i < 100000; ++i) key += "/a";
             layout.itemById("Title")->setCustomProperty(QString::fromStdString(key), "int16:1");
         },
         {},
         "",
         "the item \"Title\": the custom property",
         "book.qgz",
         bakes},
        {"nopage",
         [](QgsProject&, QgsPrintLayout& layout) { layout.pageCollection()->deletePage(0); },
         {},
         "",
         "--layout \"Atlas\": the layout has no page\n",
         "book.qgz",
         bakes},
        {"twice",
         [](QgsProject& project, QgsPrintLayout&) {
             auto* other = new QgsPrintLayout(&project);
             other->initializeDefaults();
             other->setName("Other");
             project.layoutManager()->addLayout(other);
         },
         [](const fs::path& folder) {
             // QGIS itself never makes two of one name, but a project edited by hand can have them.
             std::string text = ReadText(folder / "book.qgs");
             text.replace(text.find("name=\"Other\""), 12, "name=\"Atlas\"");
             WriteText(folder / "book.qgs", text);
         },
         "", "has 2 print layouts of that name; rename all but one in QGIS\n", "book.qgs", bakes},
        {"fifo",
         {},
         [](const fs::path& folder) {
             fs::remove(folder / "sheets.geojson");
             ASSERT_EQ(::mkfifo((folder / "sheets.geojson").c_str(), 0600), 0);
         },
         "",
         "sheets.geojson\", which is not a regular file\n",
         "book.qgz",
         bakes},
        {"gone",
         {},
         [](const fs::path& folder) { fs::remove(folder / "sheets.geojson"); },
         "",
         "the atlas's coverage layer \"sheets\" cannot be read from",
         "book.qgz",
         {"bake"}},
        {"pngfile",
         {},
         [](const fs::path& folder) { WriteText(folder / "taken", "x"); },
         "--pdf book.pdf --png taken",
         "--png \"taken\": not a folder; nothing was written\n"},
        {"utf8", {}, {}, "--pdf caf\xE9.pdf", "QGIS writes a PDF to only a path that is UTF-8 text\n"},
        {"layer",
         [&dir](QgsProject& project, QgsPrintLayout&) {
             const fs::path roads = dir.Path() / "layer" / "roads.geojson";
             WriteText(roads, ReadText(roads.parent_path() / "sheets.geojson"));
             project.addMapLayer(new QgsVectorLayer(QString::fromStdString(roads.string()), "roads", "ogr"));
         },
         [](const fs::path& folder) { fs::remove(folder / "roads.geojson"); }, "--pdf book.pdf",
         "the layer \"roads\" cannot be read from"},
        {"picture",  // and none of QGIS's own warnings about it is hidden
         [](QgsProject&, QgsPrintLayout& layout) {
             auto* picture = new QgsLayoutItemPicture(&layout);
             layout.addLayoutItem(picture);
             picture->setId("Arrow");
             picture->setPicturePath("/nowhere/arrow.svg");
         },
         {},
         "--pdf book.pdf",
         "the picture \"Arrow\" cannot find \"/nowhere/arrow.svg\" on page 1; the export was stopped"},
    };
    for (const auto& c : cases) {
        const fs::path folder = dir.Path() / c.name;
        fs::create_directory(folder);
        const fs::path project = WriteProject(folder, c.change, c.file);
        if (c.after) c.after(folder);
        // A command that hangs is stopped, and fails the case.
        const CommandRun run = Command("--layout Atlas \"" + project.string() + "\" " + c.options, folder);
        EXPECT_EQ(run.status, 2) << c.name << ": " << run.err;
        const std::string own = OwnLines(run.err);
        EXPECT_NE(own.find(c.err), std::string::npos) << c.name << ": " << own;
        EXPECT_EQ(std::count(own.begin(), own.end(), '\n'), 1) << c.name << ": " << own;
        EXPECT_FALSE(fs::exists(folder / "book.pdf")) << c.name;
        const std::string before = ReadText(project);
        for (const std::string& command : c.also) {
            const CommandRun other = Command(command + " --layout Atlas \"" + project.string() + "\"", folder);
            EXPECT_EQ(other.status, 2) << c.name << ", " << command << ": " << other.err;
            EXPECT_EQ(OwnLines(other.err), own) << c.name << ", " << command;
            EXPECT_EQ(ReadText(project), before) << c.name << ", " << command << " wrote the project";
        }
    }
    // What is not a project file is called what it is.
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe.qgz").c_str(), 0600), 0);
    for (const auto& [path, err] : {std::pair{dir.Path().string(), "a folder, not a project file"},
                                    {(dir.Path() / "pipe.qgz").string(), "not a regular file (a device or a pipe)"},
                                    {(dir.Path() / "caf\xE9.qgz").string(), "QGIS reads only a path that is UTF-8"}}) {
        const CommandRun run = Command("\"" + path + "\" --layout Atlas", dir.Path());
        EXPECT_EQ(run.status, 2) << path;
        EXPECT_NE(OwnLines(run.err).find(err), std::string::npos) << run.err;
    }
}

// QGIS's own data is found where QGIS is installed: a layer on its bundled data is read and a
// picture of its SVG library drawn; a picture that is missing all the same is drawn without when
// the user allows it.
TEST(CrvAnchorQgis, FindsQgisOwnDataAndAllowsWhatIsMissingOnlyWhenAsked) {
    TempDir dir;
    const fs::path project = WriteProject(
        dir.Path(),
        [](QgsProject& p, QgsPrintLayout& layout) {
            p.addMapLayer(new QgsVectorLayer("inbuilt:/data/world_map.gpkg|layername=countries", "countries", "ogr"));
            auto* picture = new QgsLayoutItemPicture(&layout);
            layout.addLayoutItem(picture);
            picture->setId("Arrow");
            picture->setPicturePath("arrows/NorthArrow_02.svg");
            picture->attemptMove(QgsLayoutPoint(0, 0, QgsUnitTypes::LayoutInches));
            picture->attemptResize(QgsLayoutSize(1, 1, QgsUnitTypes::LayoutInches));
        },
        "book.qgs");
    // As QGIS writes them: the layer and the picture by their names inside QGIS's folder.
    const std::string text = ReadText(project);
    ASSERT_NE(text.find("inbuilt:/data/world_map.gpkg"), std::string::npos);
    ASSERT_NE(text.find("file=\"arrows/NorthArrow_02.svg\""), std::string::npos);
    CommandRun run = Command("\"" + project.string() + "\" --layout Atlas --pages 1 --png png", dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    const QImage page(QString::fromStdString((dir.Path() / "png" / "page-001.png").string()));
    ASSERT_FALSE(page.isNull());
    int dark = 0;  // in the picture's inch
    for (int y = 0; y < page.height() / 11; ++y)
        for (int x = 0; x < page.width() * 2 / 17; ++x) dark += qGray(page.pixel(x, y)) < 128 ? 1 : 0;
    EXPECT_GT(dark, 50) << "the north arrow is drawn";

    std::string moved = text;
    moved.replace(moved.find("arrows/NorthArrow_02.svg"), 24, "arrows/NoSuchArrow.svg");
    WriteText(project, moved);
    run = Command("\"" + project.string() + "\" --layout Atlas --pages 1 --png png --allow-missing", dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
}

// Items sharing an id are named once on standard error, by every command that reads the
// layout; an anchor to that id takes one.
TEST(CrvAnchorQgis, NamesItemsThatShareAnId) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path(), [](QgsProject&, QgsPrintLayout& layout) {
        BuildQgisItem(layout, {ItemSpec::Text, "Title", {1, 1, 2, 2}, 0, {}, {}});
    });
    for (const std::string command : {"show", "bake", "unbake"}) {
        const CommandRun run = Command(command + " \"" + project.string() + "\" --layout Atlas", dir.Path());
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_EQ(OwnLines(run.err),
                  "crvanchor-qgis: 2 items of the layout \"Atlas\" are named \"Title\"; an anchor to that name takes "
                  "only one of them\n")
            << command;
    }
}

// Two changes to one project at the same time both stay: each run holds the project from its
// read to its save. A project with a second name is not parted from it by a save.
TEST(CrvAnchorQgis, ChangesAProjectOneRunAtATimeAndKeepsItsOtherNames) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    fs::create_directory(dir.Path() / "a");
    fs::create_directory(dir.Path() / "b");
    for (int round = 0; round < 2; ++round) {
        const std::string h = std::to_string(round + 1), v = std::to_string(round + 3);
        CommandRun first{}, second{};
        std::thread a(
            [&] { first = Command("anchor " + p + " --layout Atlas Title HDistanceAll=" + h, dir.Path() / "a"); });
        std::thread b(
            [&] { second = Command("anchor " + p + " --layout Atlas Map VDistanceAll=" + v, dir.Path() / "b"); });
        a.join();
        b.join();
        ASSERT_EQ(first.status, 0) << first.err;
        ASSERT_EQ(second.status, 0) << second.err;
        QgsProject saved;
        ASSERT_TRUE(saved.read(QString::fromStdString(project.string())));
        auto* layout = dynamic_cast<QgsPrintLayout*>(saved.layoutManager()->layoutByName("Atlas"));
        ASSERT_NE(layout, nullptr);
        const QString key = "crvanchor/CorvaneProperties/AnchorProperties/";
        EXPECT_EQ(layout->itemById("Title")->customProperty(key + "HDistanceAll").toString(),
                  "double:" + QString::fromStdString(h));
        EXPECT_EQ(layout->itemById("Map")->customProperty(key + "VDistanceAll").toString(),
                  "double:" + QString::fromStdString(v));
    }

    fs::create_hard_link(project, dir.Path() / "second-name.qgz");
    const std::string before = ReadText(project);
    const CommandRun run = Command("anchor " + p + " --layout Atlas Title HDistanceAll=9", dir.Path());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(OwnLines(run.err).find("one of 2 hard links"), std::string::npos) << run.err;
    EXPECT_EQ(ReadText(project), before);
    EXPECT_EQ(ReadText(dir.Path() / "second-name.qgz"), before);
    // Saved at the end of a book, it is refused before any page is written.
    const CommandRun book = Command(p + " --layout Atlas --pdf book.pdf --report book.json --save " + p, dir.Path());
    EXPECT_EQ(book.status, 2);
    EXPECT_NE(OwnLines(book.err).find("one of 2 hard links"), std::string::npos) << book.err;
    EXPECT_FALSE(fs::exists(dir.Path() / "book.pdf"));
    EXPECT_FALSE(fs::exists(dir.Path() / "book.json"));
}

// QGIS's PDF writer reports success on a full disk; the PDF is read back, so the former file
// stays and the run fails, where it used to be replaced by a damaged one with status 0.
TEST(CrvAnchorQgis, AFullDiskLeavesTheFormerPdf) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\" --layout Atlas --pdf ";
    ASSERT_EQ(Command(p + "first.pdf", dir.Path()).status, 0);
    const std::string former = ReadText(dir.Path() / "first.pdf");
    const fs::path small = dir.Path() / "small";
    fs::create_directory(small);
    const std::string mount = "mount -t tmpfs -o size=" + std::to_string(former.size() + 65536) + " tmpfs \"" +
                              small.string() + "\" 2>/dev/null";
    if (std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "a full disk needs a small file system (mounting one needs root)";
    struct Unmount {
        fs::path at;
        ~Unmount() { std::system(("umount \"" + at.string() + "\"").c_str()); }
    } unmount{small};
    WriteText(small / "book.pdf", former);
    struct statvfs fsInfo {};
    ASSERT_EQ(::statvfs(small.c_str(), &fsInfo), 0);
    const size_t free = static_cast<size_t>(fsInfo.f_bavail) * fsInfo.f_frsize;
    WriteText(small / "filler", std::string(free, 'x'));

    const CommandRun run = Command(p + "small/book.pdf", dir.Path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(OwnLines(run.err).find("the PDF written is not whole"), std::string::npos) << run.err;
    EXPECT_TRUE(ReadText(small / "book.pdf") == former) << "the former PDF was replaced";
    EXPECT_EQ(std::distance(fs::directory_iterator(small), {}), 2);
}

// On a layout of two pages, each item is checked on its own page: one low on a taller second
// page is on it, and two at the same place of different pages do not overlap.
TEST(CrvAnchorQgis, ChecksEachItemOnTheLayoutPageItStandsOn) {
    TempDir dir;
    const fs::path project = WriteTwoPageProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    // Both 10 inches up their pages: the same place, on different pages.
    const auto anchor = [&](const std::string& item, const std::string& v) {
        return Command("anchor " + p + " --layout Atlas " + item +
                           " AnchorElement=true AnchorFromAll=Bottom\\ Left AnchorToAll=Bottom\\ Left HDistanceAll=3 "
                           "VDistanceAll=" +
                           v,
                       dir.Path())
            .status;
    };
    ASSERT_EQ(anchor("Title", "10"), 0);
    ASSERT_EQ(anchor("Low", "10"), 0);
    const std::string book = p + " --layout Atlas --pages 1 --check-overlap --strict";
    CommandRun run = Command(book, dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(OwnLines(run.err), "");
    // 12 inches up: past the first page's height, on the second page.
    ASSERT_EQ(anchor("Low", "12"), 0);
    run = Command(book, dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(OwnLines(run.err), "");
    // Past the top of its page.
    ASSERT_EQ(anchor("Low", "13.8"), 0);
    run = Command(book, dir.Path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(OwnLines(run.err), "crvanchor-qgis: \"Low\" off the page on page 1\n");
}

// An item given a record from the command line is placed on every page, and the report says
// where.
TEST(CrvAnchorQgis, AnchorsAnItemAndRunsTheAtlas) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path());
    const std::string p = "\"" + project.string() + "\"";
    CommandRun run = AnchorTitleToMap(p, "Top\\ Left", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    // Every output into a folder not made yet: each folder is made, as the PNG folder is.
    const fs::path report = dir.Path() / "out" / "reports" / "report.json";
    const fs::path bookPdf = dir.Path() / "out" / "pdf" / "book.pdf";
    run = Command(p + " --layout Atlas --pages 2-3 --report \"" + report.string() + "\" --pdf \"" +
                      bookPdf.string() + "\" --png \"" + (dir.Path() / "png").string() +
                      "\" --save \"" + (dir.Path() / "saved.qgz").string() + "\" --dpi 50 --timing",
                  dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    // Each page is anchored once, whatever outputs are drawn from it.
    EXPECT_NE(run.out.find("(2 placements, "), std::string::npos) << run.out;
    EXPECT_EQ(QImage(QString::fromStdString((dir.Path() / "png" / "page-002.png").string())).width(), 425);
    // The anchoring drawn over the page only when asked: the title's rectangle and its arrow.
    run =
        Command(p + " --layout Atlas --pages 2 --png \"" + (dir.Path() / "outlined").string() + "\" --dpi 50 --outline",
                dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(MagentaPixels(dir.Path() / "png" / "page-002.png"), 0);
    const fs::path outlined = dir.Path() / "outlined" / "page-002.png";
    EXPECT_GT(MagentaPixels(outlined), 100);
    // The title, 2 x 0.5 inches, stands at (1.5, 9) on page 2: at 50 dpi its box's top edge runs
    // along row 100 and its bottom edge along row 125, from column 75 to 175.
    EXPECT_GT(MagentaPixels(outlined, 90, 160, 99, 101), 50);
    EXPECT_GT(MagentaPixels(outlined, 90, 160, 124, 126), 50);
    EXPECT_EQ(MagentaPixels(outlined, 90, 160, 110, 115), 0);
    const std::string text = ReadText(report);
    // Page 2: the map's top left corner (1, 9) moved right by the field's 0.5.
    EXPECT_NE(text.find("\"page\": 2"), std::string::npos) << text;
    EXPECT_NE(text.find("1.5,"), std::string::npos) << text;
    EXPECT_NE(text.find("1.75,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"error_reports\": 0"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(bookPdf));
    // The PDF as QGIS writes it reads back whole; cut short anywhere, as on a full disk, it
    // does not.
    const std::string pdf = ReadText(bookPdf);
    EXPECT_EQ(support::PdfDefect(bookPdf), std::nullopt);
    for (const double part : {0.0, 0.03, 0.5, 0.9, 0.999}) {
        WriteText(dir.Path() / "cut.pdf", pdf.substr(0, static_cast<size_t>(static_cast<double>(pdf.size()) * part)));
        EXPECT_NE(support::PdfDefect(dir.Path() / "cut.pdf"), std::nullopt) << part;
    }
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
    EXPECT_EQ(OwnLines(run.err),
              "crvanchor-qgis: \"Map\" is in a cycle of anchors: \"Map\" → \"Title\" → \"Map\"; the book "
              "leaves it where it stands\n");
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

// QGIS puts an item with a data-defined position back after every move: such an item, or a
// group with one inside, is left out of the book and named once, and every page of the report
// lists it among its checks (--strict fails on it), where the book used to report it placed.
// A data-defined size is applied before the item is measured, so that item is placed.
TEST(CrvAnchorQgis, LeavesOutItemsQgisPlacesFromData) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path(), [](QgsProject&, QgsPrintLayout& layout) {
        const QgsProperty byPage = QgsProperty::fromExpression("1 + @atlas_featurenumber");
        layout.itemById("Title")->dataDefinedProperties().setProperty(QgsLayoutObject::PositionX, byPage);
        QgsLayoutItem* key = BuildQgisItem(layout, {ItemSpec::Text, "Key", {1, 1, 2, 1.5}, 0, {}, {}});
        key->dataDefinedProperties().setProperty(QgsLayoutObject::PositionY, QgsProperty::fromValue(2));
        layout.groupItems({key, BuildQgisItem(layout, {ItemSpec::Text, "Swatch", {1, 2, 1.5, 2.5}, 0, {}, {}})})
            ->setId("Legend");
        BuildQgisItem(layout, {ItemSpec::Text, "Scale", {4, 1, 6, 1.5}, 0, {}, {}})
            ->dataDefinedProperties()
            .setProperty(QgsLayoutObject::ItemWidth, byPage);
    });
    const std::string p = "\"" + project.string() + "\"";
    for (const std::string item : {"Title", "Legend", "Scale"}) {
        const CommandRun run = Command("anchor " + p + " --layout Atlas " + item +
                                           " AnchorElement=true AnchorFromAll=Bottom\\ Right "
                                           "AnchorToAll=Bottom\\ Right HDistanceAll=-0.5 VDistanceAll=0.5",
                                       dir.Path());
        ASSERT_EQ(run.status, 0) << item << ": " << run.err;
    }
    const fs::path report = dir.Path() / "report.json";
    const CommandRun run = Command(p + " --layout Atlas --strict --report \"" + report.string() + "\"", dir.Path());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(OwnLines(run.err),
              "crvanchor-qgis: \"Title\" is left out of the book: QGIS sets its position from data (data-defined X), "
              "so a move would not hold\n"
              "crvanchor-qgis: \"Legend\" is left out of the book: QGIS sets the position of its member \"Key\" from "
              "data (data-defined Y), so a move would not hold\n");
    // Every page lists both; the report names no other finding.
    const std::string text = ReadText(report);
    const auto count = [&text](const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("\"kind\""), 6u) << text;
    for (const std::string item : {"Title", "Legend"})
        EXPECT_EQ(count("\"kind\": \"data_defined\",\n          \"element\": \"" + item + "\""), 3u) << text;
    EXPECT_NE(text.find("\"anchor_order\": [\n    \"Scale\"\n  ]"), std::string::npos) << text;
    // The item of a data-defined width: the page number plus one wide, its right edge where the
    // record puts it.
    for (const std::string rect : {"6.0,\n", "5.0,\n", "4.0,\n"})
        EXPECT_EQ(count("\"rect\": [\n            " + rect + "            0.5,\n            8.0,\n            1.0\n"),
                  1u)
            << rect << text;
}

// anchor, --save and bake on a .qgs leave nothing beside the project but what was asked for,
// where QGIS's backup "~" of the temporary file it wrote used to stay after every run.
TEST(CrvAnchorQgis, LeavesNothingBesideTheProject) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path(), {}, "book.qgs");
    const std::string p = "\"" + project.string() + "\" --layout Atlas";
    const std::set<std::string> expected = {"book.qgs", "copy.qgs", "sheets.geojson", "err.txt", "out.txt"};
    for (const std::string& args : {"anchor " + p + " Title AnchorElement=true AnchorType=NamedElement ElementName=Map",
                                    p + " --pages 1 --save book.qgs", p + " --pages 1 --save copy.qgs",
                                    p + " --pages 1 --save copy.qgs", "bake " + p, "unbake " + p}) {
        const CommandRun run = Command(args, dir.Path());
        EXPECT_EQ(run.status, 0) << args << ": " << run.err;
        for (const auto& e : fs::directory_iterator(dir.Path()))
            EXPECT_EQ(expected.count(e.path().filename().string()), 1u) << args << " left " << e.path();
    }
}

// An element as text with its attributes in order of name: QGIS writes them in an order of its
// own from run to run.
QString CanonicalXml(const QDomElement& e) {
    QStringList attributes;
    const QDomNamedNodeMap map = e.attributes();
    for (int i = 0; i < map.count(); ++i) attributes << map.item(i).nodeName() + "=" + map.item(i).nodeValue();
    attributes.sort();
    QString text = "<" + e.tagName() + " " + attributes.join(' ') + ">";
    for (QDomNode n = e.firstChild(); !n.isNull(); n = n.nextSibling())
        text += n.isElement() ? CanonicalXml(n.toElement()) : n.nodeValue();
    return text + "</" + e.tagName() + ">";
}

// The print layout of a project written as .qgs, and its map frame's extent, as text.
std::pair<std::string, std::string> LayoutText(const fs::path& project) {
    QDomDocument doc;
    QFile file(QString::fromStdString(project.string()));
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file)) return {};
    const QDomElement layout = doc.elementsByTagName("Layout").at(0).toElement();
    const QDomElement extent = layout.elementsByTagName("Extent").at(0).toElement();
    return {CanonicalXml(layout).toStdString(), CanonicalXml(extent).toStdString()};
}

// bake and unbake give back exactly what they took: after both, the layout is as it was saved,
// where the map frame kept the last atlas page's extent and the user's own data-defined X and Y,
// switched off, were overwritten by the bake and deleted by the unbake.
TEST(CrvAnchorQgis, BakeAndUnbakeGiveBackWhatTheyTook) {
    TempDir dir;
    const fs::path project = WriteProject(
        dir.Path(),
        [](QgsProject&, QgsPrintLayout& layout) {
            QgsPropertyCollection& properties = layout.itemById("Title")->dataDefinedProperties();
            properties.setProperty(QgsLayoutObject::PositionX, QgsProperty::fromExpression("2 * \"HD\"", false));
            properties.setProperty(QgsLayoutObject::PositionY, QgsProperty::fromField("HD", false));
            qobject_cast<QgsLayoutItemMap*>(layout.itemById("Map"))->setExtent(QgsRectangle(-1, -1, 4, 2));
        },
        "book.qgs");
    ASSERT_EQ(AnchorTitleToMap("book.qgs", "Top\\ Left", dir.Path()).status, 0);
    const auto before = LayoutText(project);
    ASSERT_NE(before.first.find("2 * \"HD\""), std::string::npos) << before.first;
    ASSERT_EQ(before.second.find("nan"), std::string::npos) << before.second;

    CommandRun run = Command("bake book.qgs", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    QgsProject baked;
    ASSERT_TRUE(baked.read(QString::fromStdString(project.string())));
    const QgsLayoutItem* title = baked.layoutManager()->printLayouts().value(0)->itemById("Title");
    // The title's baked X follows the field HD from page to page; its Y stays.
    const QgsProperty x = title->dataDefinedProperties().property(QgsLayoutObject::PositionX);
    const QgsProperty y = title->dataDefinedProperties().property(QgsLayoutObject::PositionY);
    EXPECT_TRUE(x.isActive() && x.expressionString().contains("@atlas_featureid"))
        << x.expressionString().toStdString();
    EXPECT_TRUE(y.isActive() && y.propertyType() == QgsProperty::ExpressionBasedProperty)
        << y.expressionString().toStdString();
    // The map frame as it was saved, not on the atlas's last page.
    EXPECT_EQ(LayoutText(project).second, before.second);
    run = Command("unbake book.qgs", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(LayoutText(project), before);
}

// A bake during which the anchoring reported errors writes nothing: the places it would save are
// not the anchoring's.
TEST(CrvAnchorQgis, ABakeWithErrorReportsWritesNothing) {
    TempDir dir;
    const fs::path project = WriteProject(dir.Path(), {}, "book.qgs");
    ASSERT_EQ(AnchorTitleToMap("book.qgs", "Top\\ Left", dir.Path()).status, 0);
    // A field the coverage layer lacks, as a project edited elsewhere can have it.
    std::string text = ReadText(project);
    const size_t field = text.find("string:HD");
    ASSERT_NE(field, std::string::npos);
    WriteText(project, text.replace(field, 9, "string:HX"));
    const std::string before = ReadText(project);
    const CommandRun run = Command("bake book.qgs", dir.Path());
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string own = OwnLines(run.err);
    const std::string told =
        "crvanchor-qgis: bake: the anchoring reported errors; nothing was baked, the project is left as it was\n";
    EXPECT_NE(own.find(told), std::string::npos) << own;
    EXPECT_EQ(own.substr(own.size() - 20), "error reports shown\n") << own;
    EXPECT_EQ(ReadText(project), before);
}

// Every command takes the project's only print layout without --layout; with several, it asks
// which, naming them.
TEST(CrvAnchorQgis, TakesTheOnlyPrintLayout) {
    TempDir dir;
    fs::create_directory(dir.Path() / "one");
    fs::create_directory(dir.Path() / "two");
    const std::string one = "\"" + WriteProject(dir.Path() / "one").string() + "\"";
    const fs::path twoPath = WriteProject(dir.Path() / "two", [](QgsProject& project, QgsPrintLayout&) {
        auto* other = new QgsPrintLayout(&project);
        other->initializeDefaults();
        other->setName("Other");
        project.layoutManager()->addLayout(other);
    });
    const std::string two = "\"" + twoPath.string() + "\"";
    for (const std::string command : {"show ", "anchor ", "", "bake ", "unbake "}) {
        const std::string rest = command == "anchor " ? " Title AnchorElement=true"
                                 : command.empty()    ? " --pages 1"
                                                      : "";
        CommandRun run = Command(command + one + rest, dir.Path());
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        if (command == "show ") {
            EXPECT_EQ(run.out.rfind("Layout \"Atlas\" of ", 0), 0u) << run.out;
        }
        run = Command(command + two + rest, dir.Path());
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(OwnLines(run.err), "crvanchor-qgis: which print layout? " + twoPath.string() +
                                         " has \"Atlas\", \"Other\" (--layout NAME)\n")
            << command;
    }
}

// Every page of the layout is drawn, the first as page-NNN.png and the next as page-NNN-2.png
// and so on, where only the first used to be; the output check knows those names too.
TEST(CrvAnchorQgis, DrawsEveryLayoutPage) {
    TempDir dir;
    const fs::path project = WriteTwoPageProject(dir.Path());
    const std::string p = "\"" + project.string() + "\" --layout Atlas --pages 2 --dpi 50 ";
    CommandRun run = Command("anchor \"" + project.string() + "\" Low AnchorElement=true", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    run = Command(p + "--png png --outline", dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const auto size = [&dir](const std::string& name) {
        const QImage image(QString::fromStdString((dir.Path() / "png" / name).string()));
        return std::pair{image.width(), image.height()};
    };
    EXPECT_EQ(size("page-002.png"), (std::pair{425, 550}));
    EXPECT_EQ(size("page-002-2.png"), (std::pair{425, 700}));
    // The outline of the item on the second page is drawn on that page's picture alone.
    EXPECT_EQ(MagentaPixels(dir.Path() / "png" / "page-002.png"), 0);
    EXPECT_GT(MagentaPixels(dir.Path() / "png" / "page-002-2.png"), 100);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "png"), {}), 2);
    run = Command(p + "--png png --pdf png/page-002-2.png", dir.Path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(OwnLines(run.err),
              "crvanchor-qgis: --png \"png\": its page picture page-002-2.png would replace the --pdf file; nothing "
              "was written\n");
}

// The layout's custom property crvanchor/first_page numbers the atlas's pages after front
// matter: odd and even, --pages, the report and the pictures count from it, and the bake
// places by it. A value that is no whole number of 16 bits is refused in one line.
TEST(CrvAnchorQgis, CountsPagesFromTheLayoutsFirstPageNumber) {
    TempDir dir;
    const fs::path project = WriteProject(
        dir.Path(), [](QgsProject&, QgsPrintLayout& layout) { layout.setCustomProperty("crvanchor/first_page", 3); });
    const std::string p = "\"" + project.string() + "\" --layout Atlas";
    // The title at the map's left edge (1), on even pages at its right edge (7.5).
    CommandRun run = Command("anchor " + p +
                                 " Title AnchorElement=true AnchorType=NamedElement ElementName=Map "
                                 "AnchorFromAll=Top\\ Left AnchorToAll=Top\\ Left UseAltAnchoring=true "
                                 "AltAnchorType=Even\\ Pages AnchorFromAlt=Top\\ Right AnchorToAlt=Top\\ Right",
                             dir.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& [page, x] : {std::pair{"4", 5.5}, {"5", 1.0}}) {
        const std::string saved = std::string("saved-") + page + ".qgs";
        run = Command(p + " --pages " + page + " --png png --dpi 20 --report report.json --save " + saved, dir.Path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(fs::is_regular_file(dir.Path() / "png" / (std::string("page-00") + page + ".png")));
        const std::string report = ReadText(dir.Path() / "report.json");
        EXPECT_NE(report.find(std::string("\"page\": ") + page), std::string::npos) << report;
        EXPECT_NE(report.find("\"first_page\": 3"), std::string::npos) << report;
        QgsProject read;
        ASSERT_TRUE(read.read(QString::fromStdString((dir.Path() / saved).string())));
        EXPECT_NEAR(read.layoutManager()->printLayouts().value(0)->itemById("Title")->pos().x(), x, 1e-9) << page;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "png"), {}), 2);
    run = Command(p + " --pages 2", dir.Path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(OwnLines(run.err), "crvanchor-qgis: --pages: 2 is not in the map book (pages 3 to 5)\n");

    // The first page number is the atlas's: with the atlas switched off the lone page is 1, as
    // the map-book command numbers a layout without a map series.
    {
        const fs::path folder = dir.Path() / "off";
        fs::create_directory(folder);
        const fs::path file = WriteProject(folder, [](QgsProject&, QgsPrintLayout& layout) {
            layout.setCustomProperty("crvanchor/first_page", 3);
            layout.atlas()->setEnabled(false);
        });
        run = Command("\"" + file.string() + "\" --layout Atlas --report report.json", folder);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(ReadText(folder / "report.json").find("\"page\": 1"), std::string::npos);
        run = Command("\"" + file.string() + "\" --layout Atlas --pages 3", folder);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(OwnLines(run.err), "crvanchor-qgis: --pages: 3 is not in the map book (pages 1 to 1)\n");
    }

    for (const std::string bad : {"x", "2.5", "32768", "-32769", ""}) {
        const fs::path folder = dir.Path() / ("bad" + bad);
        fs::create_directory(folder);
        const fs::path file = WriteProject(folder, [&bad](QgsProject&, QgsPrintLayout& layout) {
            layout.setCustomProperty("crvanchor/first_page", QString::fromStdString(bad));
        });
        for (const std::string command : {"", "bake "}) {
            run = Command(command + "\"" + file.string() + "\" --layout Atlas", folder);
            EXPECT_EQ(run.status, 2) << bad;
            EXPECT_EQ(OwnLines(run.err), "crvanchor-qgis: " + file.string() +
                                             ": the layout \"Atlas\": its custom property crvanchor/first_page is \"" +
                                             bad + "\", not a whole number from -32768 to 32767\n")
                << command << bad;
        }
    }
}

}  // namespace crv::testing
