#include "LayoutFixture.h"

#include "errors/ErrorHandling.h"
#include "qgis/host/AtlasAnchoring.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/QgisHost.h"
#include "objects/StoredProperties.h"
#include "standalone/document/SeriesSource.h"
#include "support/Activation.h"
#include "book/Placement.h"
#include "support/TempDir.h"

#include <qgsapplication.h>
#include <qgsfeedback.h>
#include <qgsvaliditycheckcontext.h>
#include <qgsvaliditycheckregistry.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QUndoStack>

#include <qgscategorizedsymbolrenderer.h>
#include <qgslayoutexporter.h>
#include <qgslayoutitemlegend.h>
#include <qgslayoutundostack.h>
#include <qgsproperty.h>
#include <qgssymbol.h>
#include <qgsvectorfilewriter.h>

#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <tuple>
#include <cstdio>
#include <fstream>

namespace crv::testing {

namespace {

namespace fs = std::filesystem;

ComPtr<_CRVAnchorManager> NewManager() {
    return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
}

ComPtr<LayoutElement> FindByName(const std::string& name) {
    ComPtr<LayoutElement> found;
    book::WalkLayout(RunningApplication()->Document()->PageLayout(),
                     [&](const ComPtr<LayoutElement>& e, const std::string&) {
                         if (!found && e->Name() == name) found = e;
                     });
    return found;
}

struct Extent {
    std::string name;
    Rect outline;
    Rect bounds;
};

// Every element's outline and bounds through the host interfaces of the running host.
std::vector<Extent> Extents() {
    std::vector<Extent> out;
    const auto display = MakeCom<Display, objects::DisplayImpl>();
    book::WalkLayout(RunningApplication()->Document()->PageLayout(), [&](const ComPtr<LayoutElement>& e,
                                                                         const std::string&) {
        auto polygon = NewPolygon();
        e->QueryOutline(display, polygon);
        auto o = polygon->GetEnvelope();
        auto b = NewEnvelope();
        e->QueryBounds(display, b);
        out.push_back(
            {e->Name(), {o->XMin(), o->YMin(), o->XMax(), o->YMax()}, {b->XMin(), b->YMin(), b->XMax(), b->YMax()}});
    });
    return out;
}

using Pages = std::vector<std::vector<Extent>>;

Pages RunStandalone(const std::vector<ItemSpec>& items, RecordingErrorSink& sink) {
    standalone::StandaloneHost host;
    std::shared_ptr<objects::SeriesData> series;
    for (const auto& s : items) {
        auto e = BuildStandalone(host, s, DefaultSheets(), true);
        if (s.kind == ItemSpec::Map) series = standalone::StandaloneHost::ElementOf(e).series;
    }
    WriteRecords(items, FindByName, NewManager);
    book::AnchorSelection selection(NewManager, [&] { return static_cast<int>(sink.reports.size()); });
    Pages pages;
    for (int32_t page = 1; page <= 3; ++page) {
        if (series) series->current_position = page;
        selection.PlacePage(page);
        pages.push_back(Extents());
    }
    return pages;
}

Pages RunQgis(const std::vector<ItemSpec>& items, RecordingErrorSink& sink, const std::vector<PageSpec>& layoutPages) {
    QgisLayout q;
    BuildQgis(q, items, DefaultSheets(), QStringLiteral("Atlas"), layoutPages);
    qgis::QgisHost host(q.layout);
    WriteRecords(items, FindByName, NewManager);
    QgsLayoutAtlas* atlas = q.layout->atlas();
    EXPECT_TRUE(atlas->beginRender());
    EXPECT_EQ(atlas->count(), 3);
    book::AnchorSelection selection(NewManager, [&] { return static_cast<int>(sink.reports.size()); });
    Pages pages;
    for (int32_t page = 1; page <= 3; ++page) {
        EXPECT_TRUE(atlas->seekTo(page - 1));
        selection.PlacePage(page);
        // As the designer does when it draws the page: QGIS moves the items of a group by the
        // group's own rectangle.
        q.layout->refresh();
        pages.push_back(Extents());
    }
    atlas->endRender();
    return pages;
}

void ExpectNear(const Rect& a, const Rect& b, const std::string& what) {
    EXPECT_NEAR(a.xmin, b.xmin, 1e-9) << what;
    EXPECT_NEAR(a.ymin, b.ymin, 1e-9) << what;
    EXPECT_NEAR(a.xmax, b.xmax, 1e-9) << what;
    EXPECT_NEAR(a.ymax, b.ymax, 1e-9) << what;
}

const ItemSpec kMap{ItemSpec::Map, "Map", {1, 2, 7.5, 9}, 0, {}, {}};

// Both hosts, then every element of every page compared; the number of error reports the two
// showed together.
size_t ExpectSamePages(const char* what, const std::vector<ItemSpec>& items, const std::vector<PageSpec>& layoutPages) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const Pages expected = RunStandalone(items, sink);
    const Pages actual = RunQgis(items, sink, layoutPages);
    const size_t reports = sink.reports.size();
    EXPECT_EQ(actual.size(), expected.size()) << what;
    for (size_t p = 0; p < std::min(expected.size(), actual.size()); ++p) {
        EXPECT_EQ(actual[p].size(), expected[p].size()) << what;
        for (size_t i = 0; i < std::min(expected[p].size(), actual[p].size()); ++i) {
            const std::string where =
                std::string(what) + ", page " + std::to_string(p + 1) + ", " + expected[p][i].name;
            EXPECT_EQ(actual[p][i].name, expected[p][i].name) << where;
            ExpectNear(actual[p][i].outline, expected[p][i].outline, where + " outline");
            ExpectNear(actual[p][i].bounds, expected[p][i].bounds, where + " bounds");
        }
    }
    return reports;
}

ItemSpec Text(const std::string& name, Rect r, std::vector<std::string> record = {}, int page = 0) {
    return {ItemSpec::Text, name, r, 0, {}, std::move(record), page};
}

}  // namespace

// The same layouts and records in both hosts put every element at the same place on every page.
// An item on another page of a QGIS layout is measured on, and anchored to, the page it stands
// on, as if that page were the standalone host's one page.
TEST(QgisHost, PlacesEveryElementAsTheStandaloneHostDoes) {
    struct Case {
        const char* what;
        std::vector<ItemSpec> items;
        std::vector<PageSpec> pages = kOnePage;  // of the QGIS layout
    };
    const std::vector<PageSpec> tallFirstPage = {{kPageWidth, 14}, {kPageWidth, kPageHeight}, {kPageWidth, 14}};
    const std::vector<Case> cases = {
        {"page anchors",
         {kMap,
          Text("Title", {3, 3, 5, 3.5},
               {"AnchorElement=true", "AnchorFromAll=Top Left", "AnchorToAll=Top Left", "HDistanceAll=0.5",
                "VDistanceAll=-0.25"}),
          Text("Footer", {0, 0, 2, 0.4},
               {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right", "HDistanceAll=-0.5",
                "VDistanceAll=0.5", "AnchorPriority=LOW"})}},
        {"element to element, in priority order",
         {kMap,
          Text("Note", {0, 0, 1, 0.5},
               {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Scale", "AnchorFromAll=Top Left",
                "AnchorToAll=Bottom Left", "VDistanceAll=-0.1", "AnchorPriority=LOW"}),
          Text("Scale", {4, 4, 6, 4.5},
               {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Top Right",
                "AnchorToAll=Bottom Right", "HDistanceAll=-0.1", "AnchorPriority=HIGH"})}},
        {"groups",
         {kMap, ItemSpec{ItemSpec::Group,
                         "Legend",
                         {},
                         0,
                         {Text("Key 1", {1, 1, 2, 1.5}), Text("Key 2", {1.2, 0.5, 2.5, 0.9})},
                         {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right",
                          "HDistanceAll=-0.25", "VDistanceAll=0.25"}}}},
        {"distances from the atlas's fields",
         {kMap, Text("Arrow", {0, 0, 0.5, 0.5},
                     {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Center",
                      "AnchorToAll=Top Left", "HFromFieldAll=true", "HFieldNameAll=HD", "VFromFieldAll=true",
                      "VFieldNameAll=VD"})}},
        {"the alternate rule on even pages",
         {kMap,
          Text("Folio", {0, 0, 1, 0.3},
               {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right", "HDistanceAll=-0.5",
                "VDistanceAll=0.5", "UseAltAnchoring=true", "AltAnchorType=Even Pages", "AnchorFromAlt=Bottom Left",
                "AnchorToAlt=Bottom Left", "HDistanceAlt=0.5", "VDistanceAlt=0.5"})}},
        {"a map frame with a frame border",
         {ItemSpec{ItemSpec::Map, "Map", {1, 2, 7.5, 9}, 0.05, {}, {}},
          Text("Caption", {0, 0, 3, 0.4},
               {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Top Left",
                "AnchorToAll=Bottom Left"})}},
        {"items on the second page, the first one taller",
         {kMap,
          Text("Folio", {0, 0, 1, 0.3},
               {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right", "HDistanceAll=-0.5",
                "VDistanceAll=0.5"},
               1),
          Text("Caption", {2, 2, 4, 2.5},
               {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Top Left",
                "AnchorToAll=Bottom Left", "VDistanceAll=-0.1"},
               1),
          ItemSpec{ItemSpec::Group,
                   "Legend",
                   {},
                   0,
                   {Text("Key 1", {1, 1, 2, 1.5}, {}, 1), Text("Key 2", {1.2, 0.5, 2.5, 0.9}, {}, 1)},
                   {"AnchorElement=true", "AnchorFromAll=Top Left", "AnchorToAll=Top Left", "HDistanceAll=0.25",
                    "VDistanceAll=-0.25"}},
          Text("Untouched", {5, 5, 6, 6}, {}, 2)},
         tallFirstPage},
        {"members anchored inside a group inside a group, the groups anchored too",
         {kMap,
          ItemSpec{ItemSpec::Group,
                   "Panel",
                   {},
                   0,
                   {ItemSpec{ItemSpec::Group,
                             "Legend",
                             {},
                             0,
                             {Text("Key 1", {1, 1, 2, 1.5},
                                   {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right",
                                    "HFromFieldAll=true", "HFieldNameAll=HD", "VFromFieldAll=true", "VFieldNameAll=VD",
                                    "AnchorPriority=HIGH"}),
                              Text("Key 2", {1.2, 0.5, 2.5, 0.9})},
                             {"AnchorElement=true", "AnchorFromAll=Top Left", "AnchorToAll=Top Left", "HDistanceAll=1",
                              "VDistanceAll=-1"}},
                    Text("Note", {3, 0.5, 4, 1})},
                   {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "AnchorFromAll=Top Left",
                    "AnchorToAll=Bottom Left", "HDistanceAll=-0.25", "VDistanceAll=0.25", "AnchorPriority=LOW"}},
          Text("Follower", {5, 5, 6, 6},
               {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Panel", "AnchorFromAll=Top Left",
                "AnchorToAll=Top Right"})}},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpectSamePages(c.what, c.items, c.pages), 0u) << c.what;
}

// Generated layouts, the same in both hosts, give the same rectangles on every page: chains of
// anchors to the page and to other elements, groups nested up to three deep with anchored
// members, map frames with borders, alternate rules on even, odd and listed pages, and distances
// from the atlas's fields. Coordinates on a 0.001 grid, as a project file keeps them.
TEST(QgisHost, GeneratedLayoutsPlaceAsTheStandaloneHostDoes) {
    std::mt19937 random(20261207);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const auto grid = [&](double lo, double hi) {
        return std::round(std::uniform_real_distribution<double>(lo, hi)(random) * 1000) / 1000;
    };
    for (int layout = 0; layout < 30; ++layout) {
        std::vector<std::string> names{"Map"};
        std::vector<ItemSpec> items{kMap};
        items[0].border = pick(0, 1) == 0 ? 0 : grid(0.01, 0.1);
        int made = 0;
        // A record for element `name`, anchored to the page or to an element made before it.
        const auto record = [&](const std::string& name) -> std::vector<std::string> {
            if (pick(0, 3) == 0) return {};
            std::vector<std::string> r{"AnchorElement=true", "AnchorFromAll=" + std::to_string(pick(0, 8)),
                                       "AnchorToAll=" + std::to_string(pick(0, 8)),
                                       "HDistanceAll=" + std::to_string(grid(-1, 1)),
                                       "VDistanceAll=" + std::to_string(grid(-1, 1))};
            std::vector<std::string> targets;
            for (const auto& n : names) {
                if (n != name) targets.push_back(n);
            }
            if (pick(0, 2) != 0 && !targets.empty()) {
                const std::string target = targets[static_cast<size_t>(pick(0, static_cast<int>(targets.size()) - 1))];
                r.push_back("AnchorType=NamedElement");
                r.push_back("ElementName=" + target);
                if (target == "Map" && pick(0, 1) == 0) {
                    r.push_back("HFromFieldAll=true");
                    r.push_back("HFieldNameAll=HD");
                }
            }
            if (pick(0, 1) == 0) {
                const int alt = pick(0, 2);
                r.push_back("UseAltAnchoring=true");
                r.push_back("AltAnchorType=" + std::to_string(alt));
                if (alt == 2) r.push_back("AltAnchorPageRange=" + std::string(pick(0, 1) == 0 ? "2" : "1,3"));
                r.push_back("AnchorFromAlt=" + std::to_string(pick(0, 8)));
                r.push_back("AnchorToAlt=" + std::to_string(pick(0, 8)));
                r.push_back("HDistanceAlt=" + std::to_string(grid(-1, 1)));
            }
            return r;
        };
        const std::function<ItemSpec(int)> make = [&](int depth) {
            const std::string name = "E" + std::to_string(++made);
            ItemSpec shape;
            if (depth < 3 && pick(0, 3) == 0) {
                shape = {ItemSpec::Group, name, {}, 0, {}, {}};
                for (int m = pick(2, 3); m > 0; --m) shape.members.push_back(make(depth + 1));
            } else {
                const double x = grid(0.5, 6), y = grid(0.5, 9);
                shape = Text(name, {x, y, x + grid(0.2, 2), y + grid(0.2, 1.5)});
            }
            names.push_back(name);
            shape.record = record(name);
            return shape;
        };
        for (int top = pick(2, 5); top > 0; --top) items.push_back(make(1));
        // Whatever one host reports, the other reports too.
        const std::string what = "generated layout " + std::to_string(layout);
        EXPECT_EQ(ExpectSamePages(what.c_str(), items, kOnePage) % 2, 0u) << what;
    }
}

// The atlas offers the fields that the standalone host reads from the same dataset, in the same
// order, of the same kinds and with the same values: the feature id first (under the layer's id
// column, else OBJECTID, where QGIS used to offer no field of a GeoJSON layer's ids), and a
// boolean as 1 or 0 (where QGIS used to give -1 for true).
TEST(QgisHost, OffersTheFieldsTheStandaloneHostReads) {
    TempDir dir;
    const fs::path geojson = dir.Path() / "sheets.geojson";
    std::ofstream(geojson) << R"({"type":"FeatureCollection","features":[)"
                           << R"({"type":"Feature","properties":{"HD":0.25,"VD":3,"FLIP":true,"NAME":"A"},)"
                           << R"("geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]}},)"
                           << R"({"type":"Feature","properties":{"HD":-0.5,"VD":null,"FLIP":false,"NAME":"B"},)"
                           << R"("geometry":{"type":"Polygon","coordinates":[[[1,0],[2,0],[2,1],[1,0]]]}}]})";
    // The same features in a GeoPackage, whose id column is a field of the layer in QGIS.
    const fs::path gpkg = dir.Path() / "sheets.gpkg";
    {
        QgsVectorLayer source(QString::fromStdString(geojson.string()), "sheets", "ogr");
        QgsVectorFileWriter::SaveVectorOptions options;
        options.driverName = "GPKG";
        options.layerName = "sheets";
        ASSERT_EQ(QgsVectorFileWriter::writeAsVectorFormatV3(&source, QString::fromStdString(gpkg.string()),
                                                             QgsCoordinateTransformContext(), options),
                  QgsVectorFileWriter::NoError);
    }
    for (const fs::path& path : {geojson, gpkg}) {
        SCOPED_TRACE(path.filename().string());
        const objects::SeriesData expected = standalone::ReadIndexLayer({path, "", "", true});
        QgisLayout q;
        BuildQgis(q, {kMap}, DefaultSheets());
        auto* layer = new QgsVectorLayer(QString::fromStdString(path.string()), "file", "ogr");
        ASSERT_TRUE(layer->isValid());
        q.project.addMapLayer(layer);
        q.layout->atlas()->setCoverageLayer(layer);
        qgis::QgisHost host(q.layout);
        auto series = NewMapSeriesFrame();
        series->Bind(ComPtr<MapFrame>::Query(FindByName("Map")));
        const auto fields = series->IndexLayer()->Table()->Fields();
        ASSERT_EQ(static_cast<size_t>(fields->FieldCount()), expected.fields.size());
        for (int32_t i = 0; i < fields->FieldCount(); ++i) {
            EXPECT_EQ(fields->FieldAt(i)->Name(), expected.fields[static_cast<size_t>(i)].name) << i;
            EXPECT_EQ(fields->FieldAt(i)->Type(), expected.fields[static_cast<size_t>(i)].type) << i;
        }
        QgsLayoutAtlas* atlas = q.layout->atlas();
        ASSERT_TRUE(atlas->beginRender());
        ASSERT_EQ(static_cast<size_t>(atlas->count()), expected.PageCount());
        for (int32_t page = 1; page <= atlas->count(); ++page) {
            ASSERT_TRUE(atlas->seekTo(page - 1));
            const auto feature = series->FeatureAt(page);
            for (int32_t i = 0; i < fields->FieldCount(); ++i) {
                const Variant want = expected.Value(static_cast<size_t>(page - 1), static_cast<size_t>(i));
                const Variant got = feature->Value(i);
                EXPECT_EQ(got.Type(), want.Type()) << "page " << page << ", " << fields->FieldAt(i)->Name();
                EXPECT_EQ(got, want) << "page " << page << ", " << fields->FieldAt(i)->Name();
            }
        }
        atlas->endRender();
    }
}

// The members of a group come in drawing order, as in the standalone host, also from a project
// read back from disk, where QGIS gives them in reverse.
TEST(QgisHost, ListsGroupMembersInDrawingOrderAfterAReload) {
    const std::vector<ItemSpec> items = {
        kMap, ItemSpec{ItemSpec::Group,
                       "Panel",
                       {},
                       0,
                       {ItemSpec{ItemSpec::Group,
                                 "Legend",
                                 {},
                                 0,
                                 {Text("Key 1", {1, 1, 2, 1.5}), Text("Key 2", {1.2, 0.5, 2.5, 0.9}),
                                  Text("Key 3", {1.2, 0.5, 2.5, 0.9})},
                                 {}},
                        Text("Note", {3, 0.5, 4, 1})},
                       {}}};
    const auto walked = [] {
        std::vector<std::string> names;
        book::WalkLayout(RunningApplication()->Document()->PageLayout(),
                         [&](const ComPtr<LayoutElement>& e, const std::string&) { names.push_back(e->Name()); });
        return names;
    };
    std::vector<std::string> expected;
    {
        standalone::StandaloneHost host;
        for (const auto& s : items) BuildStandalone(host, s, DefaultSheets(), true);
        expected = walked();
    }
    TempDir dir;
    const fs::path file = dir.Path() / "groups.qgz";
    {
        QgisLayout q;
        BuildQgis(q, items, DefaultSheets());
        qgis::QgisHost host(q.layout);
        EXPECT_EQ(walked(), expected) << "as built";
        ASSERT_TRUE(q.project.write(QString::fromStdString(file.string())));
    }
    QgsProject reloaded;
    ASSERT_TRUE(reloaded.read(QString::fromStdString(file.string())));
    qgis::QgisHost host(reloaded.layoutManager()->printLayouts().value(0));
    EXPECT_EQ(walked(), expected) << "read back";
}

// Records are item custom properties: a saved and reloaded project gives every value back in
// its kind.
TEST(QgisHost, RecordsSurviveASaveAndReloadWithTheirKinds) {
    TempDir dir;
    const fs::path file = dir.Path() / "records.qgz";
    objects::StoredProperties before;
    {
        QgisLayout q;
        BuildQgis(q, {kMap, Text("Title", {3, 3, 5, 3.5})}, DefaultSheets(), QStringLiteral("Book"));
        qgis::QgisHost host(q.layout);
        WriteRecords({Text("Title", {}, {"AnchorElement=true", "HDistanceAll=-0.1", "AnchorPriority=HIGH"})},
                     FindByName, NewManager);
        auto record = book::AnchorRecordOf(FindByName("Title"));
        ASSERT_TRUE(record);
        record->SetProperty("Text distance", Variant("0,25"));
        record->SetProperty("Whole", Variant(int32_t{-7}));
        record->SetProperty("Not a number", Variant(std::nan("")));
        record->SetProperty("Third", Variant(1.0 / 3));
        record->SetProperty("Nothing", Variant::Null());
        record->SetProperty("Empty bag", Variant(NewPropertyBag()));
        record->SetProperty("a/b", Variant(true));
        before = objects::FlattenCustomValue(FindByName("Title")->CustomProperty());
        host.StoreRecords();
        ASSERT_TRUE(q.project.write(QString::fromStdString(file.string())));
    }
    QgsProject reloaded;
    ASSERT_TRUE(reloaded.read(QString::fromStdString(file.string())));
    auto* layout = reloaded.layoutManager()->printLayouts().value(0);
    ASSERT_NE(layout, nullptr);
    qgis::QgisHost host(layout);
    const auto after = objects::FlattenCustomValue(FindByName("Title")->CustomProperty());
    EXPECT_EQ(after, before);
    EXPECT_EQ(after.at("crvanchor/CorvaneProperties/AnchorProperties/AnchorPriority"), "int16:2");
    EXPECT_EQ(after.at("crvanchor/CorvaneProperties/AnchorProperties/Third"), "double:0.33333333333333331");
    EXPECT_EQ(after.at("crvanchor/CorvaneProperties/AnchorProperties/Empty bag"), "bag:");
    EXPECT_EQ(after.at("crvanchor/CorvaneProperties/AnchorProperties/a%2Fb"), "boolean:true");
    const Variant nan = book::AnchorRecordOf(FindByName("Title"))->GetProperty("Not a number");
    EXPECT_EQ(nan.Type(), VariantType::Double);
    EXPECT_TRUE(std::isnan(nan.AsDouble()));
}

// Bags nested as deep as a record may hold come back; one deeper is refused by name, where it
// used to be read and then overflow the stack when the bags were let go.
TEST(QgisHost, RecordKeysDeeperThanARecordHoldsAreRefused) {
    const auto keyOf = [](size_t names) {
        std::string key = objects::kRecordPrefix;
        for (size_t i = 0; i < names; ++i) key += "/a";
        return key;
    };
    const size_t deepest = objects::kMaxRecordNesting + 1;
    const objects::StoredProperties fits{{keyOf(deepest), "int16:1"}};
    EXPECT_EQ(objects::FlattenCustomValue(objects::UnflattenCustomValue(fits)), fits);
    for (const size_t names : {deepest + 1, size_t{100000}}) {
        try {
            objects::UnflattenCustomValue({{keyOf(names), "int16:1"}});
            ADD_FAILURE() << names << " names were read";
        } catch (const objects::RecordKeyError& e) {
            EXPECT_NE(std::string(e.what()).find("nested " + std::to_string(names - 1) + " deep"), std::string::npos)
                << e.what();
        }
    }
}

// In a designer each placement is one step of the layout's undo history, and undoing it puts
// the item back, a group with its members; a headless run keeps no history, so its memory does
// not grow with the pages.
TEST(QgisHost, MovesAreUndoableOnlyInAnInteractiveSession) {
    const std::vector<std::string> record = {"AnchorElement=true", "AnchorFromAll=Top Left", "AnchorToAll=Top Left",
                                             "HDistanceAll=0.5", "VDistanceAll=-0.25"};
    const std::vector<ItemSpec> anchored = {
        Text("Title", {3, 3, 5, 3.5}, record),
        ItemSpec{
            ItemSpec::Group, "Title", {}, 0, {Text("Key 1", {3, 3, 5, 3.5}), Text("Key 2", {3, 2, 4, 2.5})}, record}};
    for (const ItemSpec& shape : anchored)
        for (const bool undoable : {true, false}) {
            SCOPED_TRACE(std::string(shape.kind == ItemSpec::Group ? "group, " : "text, ") +
                         (undoable ? "interactive" : "headless"));
            QgisLayout q;
            BuildQgis(q, {kMap, shape}, DefaultSheets());
            qgis::QgisHost host(q.layout, qgis::HostOptions{undoable});
            WriteRecords({shape}, FindByName, NewManager);
            // The item at the top left of the group or the text.
            QgsLayoutItem* title = q.layout->itemById(shape.kind == ItemSpec::Group ? "Key 1" : "Title");
            ASSERT_NE(title, nullptr);
            const QPointF before = title->pos();
            QUndoStack* history = q.layout->undoStack()->stack();
            const int steps = history->count();
            book::AnchorSelection selection(NewManager);
            selection.PlacePage(1);
            // Top left of the page, 0.5 in and 0.25 down (item positions run down the page).
            EXPECT_NEAR(title->pos().x(), 0.5, 1e-9);
            EXPECT_NEAR(title->pos().y(), 0.25, 1e-9);
            if (!undoable) {
                EXPECT_EQ(history->count(), steps);
                continue;
            }
            ASSERT_EQ(history->count(), steps + 1);
            EXPECT_EQ(history->text(history->count() - 1), "Anchor Title");
            history->undo();
            EXPECT_NEAR(title->pos().x(), before.x(), 1e-9);
            EXPECT_NEAR(title->pos().y(), before.y(), 1e-9);
        }
}

// A host without undo holds the layout's history back around its own moves alone: placing an
// anchored group page after page leaves no step (QGIS would record a move of each member),
// and a user's edit while the host lives is one step, as without it, where the host used to
// hold every edit back until it went.
TEST(QgisHost, AHostWithoutUndoHoldsBackItsOwnMovesAlone) {
    QgisLayout q;
    const std::vector<ItemSpec> items = {
        kMap,
        ItemSpec{ItemSpec::Group,
                 "Legend",
                 {},
                 0,
                 {Text("Key 1", {1, 1, 2, 1.5}), Text("Key 2", {1.2, 0.5, 2.5, 0.9})},
                 {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right", "HDistanceAll=-0.25",
                  "VDistanceAll=0.25"}},
        Text("Title", {3, 3, 5, 3.5})};
    BuildQgis(q, items, DefaultSheets());
    QUndoStack* history = q.layout->undoStack()->stack();
    qgis::QgisHost host(q.layout);
    WriteRecords(items, FindByName, NewManager);
    QgsLayoutAtlas* atlas = q.layout->atlas();
    ASSERT_TRUE(atlas->beginRender());
    book::AnchorSelection selection(NewManager);
    for (int32_t page = 1; page <= 3; ++page) {
        ASSERT_TRUE(atlas->seekTo(page - 1));
        const int steps = history->count();
        selection.PlacePage(page);
        EXPECT_EQ(history->count(), steps) << "page " << page;
    }
    EXPECT_NEAR(q.layout->itemById("Key 2")->pos().x(), kPageWidth - 0.25 - 1.3, 1e-9);
    for (const bool previewing : {true, false}) {
        if (!previewing) atlas->endRender();
        SCOPED_TRACE(previewing ? "atlas preview on" : "atlas preview off");
        EXPECT_FALSE(q.layout->undoStack()->isBlocked());
        QgsLayoutItem* title = q.layout->itemById("Title");
        const int steps = history->count();
        q.layout->undoStack()->beginCommand(title, QStringLiteral("Move Title"));
        title->attemptMove(QgsLayoutPoint(title->pos().x() + 0.5, title->pos().y(), QgsUnitTypes::LayoutInches));
        q.layout->undoStack()->endCommand();
        EXPECT_EQ(history->count(), steps + 1);
    }
}

// The engine and the property page change a record inside the value they were handed: the
// next container update writes the change into the item's properties, at any depth.
TEST(QgisHost, ARecordChangedInPlaceIsStoredOnTheNextUpdate) {
    using Bags = std::pair<ComPtr<PropertyBag>, ComPtr<PropertyBag>>;  // the value, a bag inside it
    struct Case {
        const char* what;
        std::function<void(const Bags&)> change;
        objects::StoredProperties expected;
    };
    const std::vector<Case> cases = {
        {"an entry set",
         [](const Bags& b) { b.first->SetProperty("Note", Variant(std::string("b"))); },
         {{"crvanchor/Note", "string:b"}, {"crvanchor/Gone", "int32:1"}, {"crvanchor/Inner/Depth", "int32:1"}}},
        {"an entry removed",
         [](const Bags& b) { b.first->RemoveProperty("Gone"); },
         {{"crvanchor/Note", "string:a"}, {"crvanchor/Inner/Depth", "int32:1"}}},
        {"an entry of a bag inside set",
         [](const Bags& b) { b.second->SetProperty("Depth", Variant(int32_t{2})); },
         {{"crvanchor/Note", "string:a"}, {"crvanchor/Gone", "int32:1"}, {"crvanchor/Inner/Depth", "int32:2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QgisLayout q;
        BuildQgis(q, {kMap, Text("Title", {3, 3, 5, 3.5})}, DefaultSheets());
        qgis::QgisHost host(q.layout);
        const ComPtr<LayoutElement> title = FindByName("Title");
        const Bags bags{NewPropertyBag(), NewPropertyBag()};
        bags.first->SetProperty("Note", Variant(std::string("a")));
        bags.first->SetProperty("Gone", Variant(int32_t{1}));
        bags.second->SetProperty("Depth", Variant(int32_t{1}));
        bags.first->SetProperty("Inner", Variant(bags.second));
        title->SetCustomProperty(Variant(bags.first));
        c.change(bags);
        RunningApplication()->Document()->PageLayout()->UpdateElement(title);
        EXPECT_EQ(qgis::RecordPropertiesOf(*q.layout->itemById("Title")), c.expected);
    }
}

// Items changed behind the engine's back after selection: a report, never a crash.
TEST(QgisHost, ItemsDeletedRenamedOrRegroupedAfterSelectionGiveAReport) {
    const std::vector<ItemSpec> items = {kMap, Text("Note", {0, 0, 1, 0.5},
                                                    {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                                                     "AnchorFromAll=Top Left", "AnchorToAll=Bottom Left"})};
    struct Case {
        const char* what;
        std::function<void(QgsPrintLayout&)> change;
        bool reported;
    };
    const std::vector<Case> cases = {
        {"target deleted", [](QgsPrintLayout& l) { l.removeLayoutItem(l.itemById("Map")); }, true},
        {"anchored item deleted", [](QgsPrintLayout& l) { l.removeLayoutItem(l.itemById("Note")); }, true},
        {"target renamed", [](QgsPrintLayout& l) { l.itemById("Map")->setId("Other"); }, false},
        {"anchored item grouped", [](QgsPrintLayout& l) { l.groupItems({l.itemById("Note")}); }, false},
    };
    for (const auto& c : cases) {
        RecordingErrorSink sink;
        ScopedErrorSink scope(sink);
        QgisLayout q;
        BuildQgis(q, items, DefaultSheets());
        qgis::QgisHost host(q.layout);
        WriteRecords(items, FindByName, NewManager);
        q.layout->atlas()->beginRender();
        q.layout->atlas()->seekTo(0);
        book::AnchorSelection selection(NewManager);
        ASSERT_EQ(selection.Elements().size(), 1u) << c.what;
        c.change(*q.layout);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        selection.PlacePage(1);
        if (c.reported) {
            ASSERT_EQ(sink.reports.size(), 1u) << c.what;
            EXPECT_NE(sink.reports[0].text.find("is no longer in the layout"), std::string::npos)
                << c.what << ": " << sink.reports[0].text;
        } else {
            EXPECT_TRUE(sink.reports.empty()) << c.what;
        }
        q.layout->atlas()->endRender();
    }
}

// Stepping through the atlas chooses the anchored items once, so that a page costs its
// placements alone; a record changed through the engine (the dock's Apply) is taken at the next
// page.
TEST(QgisHost, AtlasStepsChooseTheAnchoredItemsOnceUntilARecordChanges) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    QgisLayout q;
    BuildQgis(q, {kMap, Text("Title", {3, 3, 5, 3.5})}, DefaultSheets());
    qgis::QgisHost host(q.layout);
    WriteRecords({Text("Title", {}, {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map"})}, FindByName,
                 NewManager);
    qgis::AtlasAnchoring anchoring(host, NewManager);
    QgsLayoutAtlas* atlas = q.layout->atlas();
    ASSERT_TRUE(atlas->beginRender());
    for (int32_t page = 1; page <= 3; ++page) {
        ASSERT_TRUE(atlas->seekTo(page - 1));
        anchoring.PlacePage(page);
    }
    EXPECT_EQ(anchoring.Selections(), 1);

    WriteRecords({Text("Title", {}, {"HFromFieldAll=true", "HFieldNameAll=HD"})}, FindByName, NewManager);
    ASSERT_TRUE(atlas->seekTo(1));
    anchoring.PlacePage(2);
    EXPECT_EQ(anchoring.Selections(), 2);
    // The map's left edge (1) moved right by page 2's HD (-0.5).
    EXPECT_NEAR(q.layout->itemById("Title")->pos().x(), 0.5, 1e-9);
    EXPECT_TRUE(sink.reports.empty());

    // A position QGIS takes from data leaves the item out until it is cleared again.
    QgsLayoutItem* title = q.layout->itemById("Title");
    title->dataDefinedProperties().setProperty(QgsLayoutObject::PositionX, QgsProperty::fromValue(4));
    ASSERT_TRUE(atlas->seekTo(2));
    anchoring.PlacePage(3);
    EXPECT_EQ(anchoring.Selections(), 3);
    title->dataDefinedProperties().setProperty(QgsLayoutObject::PositionX, QgsProperty());
    title->attemptMove(QgsLayoutPoint(4, 1, QgsUnitTypes::LayoutInches));
    anchoring.PlacePage(3);
    EXPECT_EQ(anchoring.Selections(), 4);
    // The map's left edge (1) moved right by page 3's HD (1.5).
    EXPECT_NEAR(title->pos().x(), 2.5, 1e-9);
    atlas->endRender();
}

// The layout's first page number (crvanchor/first_page) numbers the atlas's pages in the
// designer as in the command: the engine is given the page number, odd and even follow it, and
// distance fields are read from the feature the atlas shows.
TEST(QgisHost, AtlasPagesCountFromTheLayoutsFirstPageNumber) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    QgisLayout q;
    BuildQgis(q, {kMap, Text("Title", {3, 3, 5, 3.5}), Text("Note", {3, 5, 5, 5.5})}, DefaultSheets());
    q.layout->setCustomProperty("crvanchor/first_page", 2);
    qgis::QgisHost host(q.layout);
    WriteRecords({Text("Title", {},
                       {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "UseAltAnchoring=true",
                        "AltAnchorType=Even Pages", "AnchorFromAlt=Top Right", "AnchorToAlt=Top Right"}),
                  Text("Note", {},
                       {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map", "HFromFieldAll=true",
                        "HFieldNameAll=HD"})},
                 FindByName, NewManager);
    qgis::AtlasAnchoring anchoring(host, NewManager);
    QgsLayoutAtlas* atlas = q.layout->atlas();
    ASSERT_TRUE(atlas->beginRender());
    // Pages 2 and 4 even: the title's right edge on the map's (7.5), else its left edge on the
    // map's (1). The note's left edge on the map's moved by the feature's HD.
    for (const auto& [feature, title, note] : {std::tuple{0, 5.5, 1.25}, {1, 1.0, 0.5}, {2, 5.5, 2.5}}) {
        ASSERT_TRUE(atlas->seekTo(feature));
        anchoring.PlaceFeatureInForce();
        EXPECT_NEAR(q.layout->itemById("Title")->pos().x(), title, 1e-9) << feature;
        EXPECT_NEAR(q.layout->itemById("Note")->pos().x(), note, 1e-9) << feature;
    }
    atlas->endRender();
    EXPECT_TRUE(sink.reports.empty()) << sink.reports.front().text;
    // A first page number that is no whole number stops the designer's anchoring with its reason.
    q.layout->setCustomProperty("crvanchor/first_page", "two");
    try {
        anchoring.PlaceFeatureInForce();
        ADD_FAILURE() << "placed with an unreadable first page number";
    } catch (const ComError& e) {
        EXPECT_NE(e.Description().find("crvanchor/first_page is \"two\""), std::string::npos) << e.Description();
    }
}

// A designer's atlas preview and its exports step through the features: the anchoring of each
// step is no edit of the user's, so it pushes nothing on the undo history ("Anchor ...", "Move
// group"), where it used to push a step for every item on every page. (QGIS's own refresh of a
// group before each step is QGIS's.)
TEST(QgisHost, AtlasStepsInADesignerKeepNoHistory) {
    const std::vector<std::string> record = {"AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                                             "HFromFieldAll=true", "HFieldNameAll=HD"};
    const std::vector<ItemSpec> items = {kMap, Text("Title", {3, 3, 5, 3.5}, record),
                                         ItemSpec{ItemSpec::Group,
                                                  "Legend",
                                                  {},
                                                  0,
                                                  {Text("Key 1", {1, 1, 2, 1.5}), Text("Key 2", {1.2, 0.5, 2.5, 0.9})},
                                                  record}};
    QgisLayout q;
    BuildQgis(q, items, DefaultSheets());
    qgis::QgisHost host(q.layout, qgis::HostOptions{true});
    WriteRecords(items, FindByName, NewManager);
    qgis::AtlasAnchoring anchoring(host, NewManager);
    QUndoStack* history = q.layout->undoStack()->stack();
    QStringList pushed;
    QgsLayoutAtlas* atlas = q.layout->atlas();
    QObject::connect(atlas, &QgsLayoutAtlas::featureChanged, [&] {
        const int before = history->count();
        anchoring.PlacePage(atlas->currentFeatureNumber() + 1);
        for (int i = before; i < history->count(); ++i) pushed << history->text(i);
    });
    // The preview, then an export of every page by QGIS's own exporter.
    ASSERT_EQ(atlas->updateFeatures(), 3);
    for (const int feature : {1, 2, 0}) ASSERT_TRUE(atlas->seekTo(feature));
    // Page 1: the map's left edge (1) moved right by its HD (0.25).
    EXPECT_NEAR(q.layout->itemById("Title")->pos().x(), 1.25, 1e-9);
    TempDir dir;
    QString error;
    EXPECT_EQ(QgsLayoutExporter::exportToImage(atlas, QString::fromStdString((dir.Path() / "page").string()),
                                               QStringLiteral("png"), QgsLayoutExporter::ImageExportSettings(), error),
              QgsLayoutExporter::Success)
        << error.toStdString();
    EXPECT_EQ(pushed.join(", ").toStdString(), "");
    EXPECT_FALSE(q.layout->undoStack()->isBlocked());
}

}  // namespace crv::testing

namespace crv::testing {

// A legend filtered by the atlas feature is fitted to the feature's entries when QGIS draws the
// page: it is anchored at that size, in a designer following its atlas and in the commands, and
// stays where it was anchored once the page is drawn.
TEST(QgisHost, AnchorsALegendAtTheSizeTheFeatureGivesIt) {
    for (const bool designer : {true, false}) {
        RecordingErrorSink sink;
        ScopedErrorSink scope(sink);
        QgisLayout q;
        BuildQgis(q, {kMap}, DefaultSheets());
        // One class of places on the first sheet, three on the second, two on the third.
        auto* places = new QgsVectorLayer(QStringLiteral("Point?crs=EPSG:3857&field=K:string(5)"),
                                          QStringLiteral("places"), QStringLiteral("memory"));
        QgsFeatureList features;
        for (const auto& [sheet, classes] : std::vector<std::pair<int, QString>>{{0, "a"}, {1, "abc"}, {2, "bc"}}) {
            for (int i = 0; i < classes.size(); ++i) {
                QgsFeature f(places->fields());
                f.setAttributes(QgsAttributes() << QVariant(QString(classes[i])));
                f.setGeometry(QgsGeometry::fromPointXY(QgsPointXY(sheet * 650 + 100 + 150 * i, 350)));
                features.append(f);
            }
        }
        places->dataProvider()->addFeatures(features);
        QgsCategoryList categories;
        for (const QString k : {"a", "b", "c"})
            categories << QgsRendererCategory(k, QgsSymbol::defaultSymbol(QgsWkbTypes::PointGeometry), "class " + k);
        places->setRenderer(new QgsCategorizedSymbolRenderer(QStringLiteral("K"), categories));
        q.project.addMapLayer(places);
        auto* legend = new QgsLayoutItemLegend(q.layout);
        q.layout->addLayoutItem(legend);
        legend->setId(QStringLiteral("Legend"));
        legend->setLinkedMap(qobject_cast<QgsLayoutItemMap*>(q.layout->itemById(QStringLiteral("Map"))));
        legend->setLegendFilterOutAtlas(true);
        legend->attemptMove(QgsLayoutPoint(1, 1, QgsUnitTypes::LayoutInches));

        qgis::QgisHost host(q.layout);
        WriteRecords({Text("Legend", {},
                           {"AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right",
                            "HDistanceAll=-0.5", "VDistanceAll=0.5"})},
                     FindByName, NewManager);
        QgsLayoutAtlas* atlas = q.layout->atlas();
        ASSERT_TRUE(atlas->beginRender());
        qgis::AtlasAnchoring anchoring(host, NewManager);
        qgis::AtlasSurface surface(host, *q.layout, atlas, qgis::AtlasSurface::Seek::ToPage);
        book::BookDriver driver(surface, NewManager);
        driver.Begin(PageList(1, 3));
        std::set<double> heights;
        for (int32_t page = 1; page <= 3; ++page) {
            const std::string what = (designer ? "designer, page " : "command, page ") + std::to_string(page);
            if (designer) {
                ASSERT_TRUE(atlas->seekTo(page - 1));
                anchoring.PlacePage(page);
            } else {
                ASSERT_TRUE(driver.Next());
            }
            QgsLayoutExporter(q.layout).renderPageToImage(0, QSize(), 50);
            const QRectF drawn = legend->mapRectToScene(legend->rect());
            EXPECT_NEAR(drawn.right(), kPageWidth - 0.5, 1e-6) << what;
            EXPECT_NEAR(drawn.bottom(), kPageHeight - 0.5, 1e-6) << what;
            heights.insert(std::round(drawn.height() * 1000));
        }
        EXPECT_EQ(heights.size(), 3u) << "the legend is fitted to each sheet's classes";
        atlas->endRender();
        EXPECT_TRUE(sink.reports.empty());
    }
}

}  // namespace crv::testing
