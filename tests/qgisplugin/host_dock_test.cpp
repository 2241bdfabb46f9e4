// The dock over the GIS host, as the plugin opens it: records read from the items' custom
// properties, applied edits written back there.
#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "qgis/host/QgisHost.h"
#include "qgis/plugin/AnchorDock.h"

#include <qgsfeature.h>
#include <qgsgeometry.h>
#include <qgslayout.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutundostack.h>
#include <qgsprintlayout.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>
#include <qgslayoutitemshape.h>
#include <qgsproject.h>
#include <qgsproperty.h>

#include <QLineEdit>
#include <QUndoStack>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

namespace crv::qgis {
namespace {

const QString kRecord = QStringLiteral("crvanchor/CorvaneProperties/AnchorProperties/");

TEST(HostDock, ShowsAndStoresTheItemsRecord) {
    LoadComponent(CRV_COMPONENT_PATH);
    QgsProject project;
    QgsLayout layout(&project);
    layout.initializeDefaults();
    auto* a = new QgsLayoutItemShape(&layout);
    a->setId("A");
    a->setCustomProperty(kRecord + "AnchorElement", "boolean:true");
    a->setCustomProperty(kRecord + "HDistanceAll", "string:4");
    layout.addLayoutItem(a);
    auto* plain = new QgsLayoutItemShape(&layout);
    plain->setId("Plain");
    layout.addLayoutItem(plain);

    QgisHost host(&layout, HostOptions{true});
    AnchorDock dock(&layout, [&host](QgsLayoutItem* item) { return host.ElementFor(item); });
    layout.setSelectedItem(a);
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    auto* box = dock.PageWindow()->findChild<QLineEdit*>("txtHDistanceAll");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "4");
    box->selectAll();
    QTest::keyClicks(box, "6");
    dock.ApplyButton()->click();
    host.StoreRecords();
    EXPECT_EQ(a->customProperty(kRecord + "HDistanceAll").toString(), "string:6");

    layout.setSelectedItem(plain);
    EXPECT_EQ(dock.PageWindow(), nullptr);
    EXPECT_EQ(dock.Note(), "This item is not anchored.");
    EXPECT_FALSE(dock.GiveRecordButton()->isHidden());
    layout.deselectAll();
    EXPECT_EQ(dock.Subject(), "No item selected.");
    EXPECT_TRUE(dock.GiveRecordButton()->isHidden());

    // An item without a record is given one, switched off, kept in its custom properties.
    layout.setSelectedItem(plain);
    dock.GiveRecordButton()->click();
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    EXPECT_TRUE(dock.GiveRecordButton()->isHidden());
    host.StoreRecords();
    EXPECT_EQ(plain->customProperty(kRecord + "AnchorElement").toString(), "boolean:false");
    EXPECT_EQ(plain->customProperty(kRecord + "AnchorType").toString(), "string:Layout");

    // Anchored to each other, neither can be placed: the dock says so above the page.
    a->setCustomProperty(kRecord + "AnchorType", "string:NamedElement");
    a->setCustomProperty(kRecord + "ElementName", "string:Plain");
    plain->setCustomProperty(kRecord + "AnchorElement", "boolean:true");
    plain->setCustomProperty(kRecord + "AnchorType", "string:NamedElement");
    plain->setCustomProperty(kRecord + "ElementName", "string:A");
    layout.setSelectedItem(plain);
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    EXPECT_EQ(dock.Note().toStdString(),
              "\"Plain\" is in a cycle of anchors: \"Plain\" → \"A\" → \"Plain\". The atlas leaves it where it "
              "stands; anchor one of the cycle elsewhere to place it.");
    layout.setSelectedItem(a);
    EXPECT_NE(dock.Note().toStdString().find("\"A\" is in a cycle"), std::string::npos) << dock.Note().toStdString();

    // QGIS puts an item of a data-defined position back after every move: the dock says so first.
    a->dataDefinedProperties().setProperty(QgsLayoutObject::PositionX, QgsProperty::fromValue(10));
    layout.deselectAll();
    layout.setSelectedItem(a);
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    EXPECT_EQ(dock.Note().toStdString().rfind("\"A\": QGIS sets its position from data (data-defined X), so a move "
                                              "would not hold; the atlas leaves it where QGIS puts it. Clear the "
                                              "data-defined position to anchor it.\n\"A\" is in a cycle",
                                              0),
              0u)
        << dock.Note().toStdString();
}

// Apply places the item for the atlas page the designer shows, where it used to place it for
// page 1 whatever the atlas showed: its alternate rule on even pages and the distance read from
// the feature shown.
TEST(HostDock, ApplyPlacesForTheAtlasPageShown) {
    LoadComponent(CRV_COMPONENT_PATH);
    QgsProject project;
    auto* sheets = new QgsVectorLayer(QStringLiteral("Polygon?field=HD:double"), QStringLiteral("sheets"),
                                      QStringLiteral("memory"));
    project.addMapLayer(sheets);
    for (const double hd : {10.0, 20.0, 30.0}) {
        QgsFeature f(sheets->fields());
        f.setAttribute(0, hd);
        f.setGeometry(QgsGeometry::fromWkt(QStringLiteral("POLYGON((0 0,1 0,1 1,0 0))")));
        sheets->dataProvider()->addFeature(f);
    }
    QgsPrintLayout layout(&project);
    layout.initializeDefaults();
    layout.setName(QStringLiteral("Book"));
    auto* map = new QgsLayoutItemMap(&layout);
    map->setId("Map");
    map->attemptSetSceneRect(QRectF(20, 20, 100, 100));
    map->setAtlasDriven(true);
    layout.addLayoutItem(map);
    layout.atlas()->setCoverageLayer(sheets);
    layout.atlas()->setEnabled(true);
    auto* item = new QgsLayoutItemShape(&layout);
    item->setId("Note");
    item->attemptSetSceneRect(QRectF(50, 150, 10, 10));
    layout.addLayoutItem(item);
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    QgisHost host(&layout, HostOptions{true});
    // Its top left corner to the map's, the feature's HD to the right; on even pages a fixed
    // distance, typed in the dock before each Apply.
    const ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
    record->SetProperty(key::AnchorElement, true);
    record->SetProperty(key::AnchorType, kAnchorTypeNamedElement);
    record->SetProperty(key::ElementName, "Map");
    record->SetProperty(key::HFromFieldAll, true);
    record->SetProperty(key::HFieldNameAll, "HD");
    record->SetProperty(key::UseAltAnchoring, true);
    record->SetProperty(key::AltAnchorType, kAltEvenPages);
    ASSERT_TRUE(GeneralFunctions::SetAnchorProperties(host.ElementFor(item), record));
    AnchorDock dock(&layout, [&host](QgsLayoutItem* i) { return host.ElementFor(i); });
    ASSERT_TRUE(layout.atlas()->beginRender());
    for (const int feature : {1, 2}) {
        ASSERT_TRUE(layout.atlas()->seekTo(feature));
        layout.setSelectedItem(item);
        ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
        item->attemptMove(QgsLayoutPoint(90, 150));
        auto* box = dock.PageWindow()->findChild<QLineEdit*>("txtHDistanceAlt");
        ASSERT_NE(box, nullptr);
        box->selectAll();
        QTest::keyClicks(box, "7");
        ASSERT_TRUE(dock.ApplyButton()->isEnabled()) << dock.Note().toStdString();
        dock.ApplyButton()->click();
        EXPECT_NEAR(item->mapRectToScene(item->rectWithFrame()).left(), feature == 1 ? 27.0 : 50.0, 1e-9)
            << "atlas page " << feature + 1;
        EXPECT_EQ(sink.Count(), 0);
    }
    layout.atlas()->endRender();
}

// With two designers open, each dock works on its own layout, whichever host came last.
TEST(HostDock, WorksOnItsOwnLayoutBesideAnotherDesigner) {
    LoadComponent(CRV_COMPONENT_PATH);
    QgsProject project;
    auto makeLayout = [&](bool cycle) {
        auto layout = std::make_unique<QgsLayout>(&project);
        layout->initializeDefaults();
        for (const char* id : {"A", "B"}) {
            auto* item = new QgsLayoutItemShape(layout.get());
            item->setId(id);
            item->setCustomProperty(kRecord + "AnchorElement", "boolean:true");
            if (cycle) {
                item->setCustomProperty(kRecord + "AnchorType", "string:NamedElement");
                item->setCustomProperty(kRecord + "ElementName", QString(id) == "A" ? "string:B" : "string:A");
            }
            layout->addLayoutItem(item);
        }
        return layout;
    };
    const auto first = makeLayout(true);
    const auto second = makeLayout(false);
    QgisHost firstHost(first.get(), HostOptions{true});
    AnchorDock firstDock(first.get(), [&](QgsLayoutItem* item) { return firstHost.ElementFor(item); });
    firstDock.SetActivation([&] { firstHost.MakeCurrent(); });
    QgisHost secondHost(second.get(), HostOptions{true});
    AnchorDock secondDock(second.get(), [&](QgsLayoutItem* item) { return secondHost.ElementFor(item); });
    secondDock.SetActivation([&] { secondHost.MakeCurrent(); });

    first->setSelectedItem(first->itemById("A"));
    ASSERT_NE(firstDock.PageWindow(), nullptr) << firstDock.Note().toStdString();
    EXPECT_NE(firstDock.Note().toStdString().find("\"A\" is in a cycle of anchors"), std::string::npos)
        << firstDock.Note().toStdString();
    second->setSelectedItem(second->itemById("A"));
    ASSERT_NE(secondDock.PageWindow(), nullptr) << secondDock.Note().toStdString();
    EXPECT_EQ(secondDock.Note(), "");
}

// The page's own words (element, map series, its frame, distances without a unit) are put in
// QGIS's beside it; docked, the dock is as wide as the page; Apply keeps the tab it was on.
TEST(HostDock, SaysWhatThePageMeansInQgisAndKeepsItsTab) {
    LoadComponent(CRV_COMPONENT_PATH);
    QgsProject project;
    auto* countries =
        new QgsVectorLayer(QStringLiteral("Polygon"), QStringLiteral("countries"), QStringLiteral("memory"));
    project.addMapLayer(countries);
    QgsPrintLayout layout(&project);
    layout.initializeDefaults();
    auto* map = new QgsLayoutItemMap(&layout);
    map->setId("Main Map");
    map->setAtlasDriven(true);
    layout.addLayoutItem(map);
    layout.atlas()->setCoverageLayer(countries);
    auto* item = new QgsLayoutItemShape(&layout);
    item->setId("Inset");
    item->setCustomProperty(kRecord + "AnchorElement", "boolean:true");
    layout.addLayoutItem(item);
    QgisHost host(&layout, HostOptions{true});
    AnchorDock dock(&layout, [&host](QgsLayoutItem* i) { return host.ElementFor(i); });

    const struct {
        bool atlas;
        QgsUnitTypes::LayoutUnit units;
        std::vector<std::string> said;
    } cases[] = {
        {true,
         QgsUnitTypes::LayoutMillimeters,
         {"layout items, named by their item ID", "layout units (millimeters)", "the atlas over \"countries\"",
          "map series frame is the map item the atlas controls: \"Main Map\""}},
        {false, QgsUnitTypes::LayoutInches, {"layout units (inches)", "the atlas; this layout has none enabled"}},
    };
    for (const auto& c : cases) {
        layout.atlas()->setEnabled(c.atlas);
        layout.setUnits(c.units);
        layout.deselectAll();
        layout.setSelectedItem(item);
        ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
        const std::string terms = dock.Terms().toStdString();
        for (const std::string& words : c.said) EXPECT_NE(terms.find(words), std::string::npos) << terms;
    }
    EXPECT_GE(dock.minimumSizeHint().width(), dock.PageWindow()->width());

    auto* tabs = dock.PageWindow()->findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(1);
    ASSERT_EQ(tabs->currentIndex(), 1);
    auto* box = dock.PageWindow()->findChild<QLineEdit*>("txtHDistanceAll");
    ASSERT_NE(box, nullptr);
    box->selectAll();
    QTest::keyClicks(box, "3");
    dock.ApplyButton()->click();
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    EXPECT_EQ(dock.PageWindow()->findChild<QTabWidget*>()->currentIndex(), 1);
}

// Apply is one step of the layout's undo history, named for the item, over the record change
// and any move it makes: one undo brings both back.
TEST(HostDock, ApplyIsOneUndoStepForTheRecordAndTheMove) {
    LoadComponent(CRV_COMPONENT_PATH);
    QgsProject project;
    QgsLayout layout(&project);
    layout.initializeDefaults();
    auto* item = new QgsLayoutItemShape(&layout);
    item->setId("Note");
    item->attemptSetSceneRect(QRectF(50, 150, 10, 10));
    layout.addLayoutItem(item);
    item->setCustomProperty(kRecord + "AnchorElement", "boolean:true");
    item->setCustomProperty(kRecord + "HDistanceAll", "string:3");
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    QgisHost host(&layout, HostOptions{true});
    AnchorDock dock(&layout, [&host](QgsLayoutItem* i) { return host.ElementFor(i); });
    layout.setSelectedItem(item);
    ASSERT_NE(dock.PageWindow(), nullptr) << dock.Note().toStdString();
    QUndoStack* history = layout.undoStack()->stack();
    const int steps = history->count();
    auto* box = dock.PageWindow()->findChild<QLineEdit*>("txtHDistanceAll");
    ASSERT_NE(box, nullptr);
    box->selectAll();
    QTest::keyClicks(box, "7");
    ASSERT_TRUE(dock.ApplyButton()->isEnabled());
    dock.ApplyButton()->click();
    ASSERT_EQ(history->count(), steps + 1);
    EXPECT_EQ(history->text(steps), "Anchor Note");
    history->undo();
    EXPECT_NEAR(item->pos().x(), 50, 1e-9);
    EXPECT_EQ(item->customProperty(kRecord + "HDistanceAll").toString(), "string:3");
    EXPECT_EQ(sink.Count(), 0);
}

}  // namespace
}  // namespace crv::qgis
