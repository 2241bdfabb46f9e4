// The dock over the GIS host, as the plugin opens it: records read from the items' custom
// properties, applied edits written back there.
#include "qgis/host/QgisHost.h"
#include "qgis/plugin/AnchorDock.h"

#include <qgslayout.h>
#include <qgslayoutitemshape.h>
#include <qgsproject.h>

#include <QLineEdit>
#include <QPushButton>
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

}  // namespace
}  // namespace crv::qgis
