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

}  // namespace
}  // namespace crv::qgis
