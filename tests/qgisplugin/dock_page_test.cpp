// The dock with the component's page: the page shows the record of whatever is selected,
// edits wait for Apply or Cancel, and nothing selected leaves no page. The elements come from
// the standalone host, matched to the layout's items by id, so the dock is tested apart from
// the GIS host.
#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "qgis/plugin/AnchorDock.h"
#include "standalone/host/StandaloneHost.h"
#include "standalone/tools/Registration.h"

#include <qgslayout.h>
#include <qgslayoutitemshape.h>
#include <qgsproject.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace crv::qgis {
namespace {

class DockPageTest : public ::testing::Test {
protected:
    DockPageTest()
        : registry_(std::filesystem::temp_directory_path() / ("crv-dock-reg-" + std::to_string(::getpid()) + ".db")),
          layout_(&project_) {
        ::setenv("CRVANCHOR_REGISTRY", registry_.c_str(), 1);
        EXPECT_EQ(tools::RegisterServer(CRV_COMPONENT_PATH, false).code, 0);
        layout_.initializeDefaults();
        a_ = AddShape("A", "3");
        b_ = AddShape("B", "7");
        plain_ = AddShape("Plain", "");
    }
    ~DockPageTest() override {
        elements_.clear();
        ::unsetenv("CRVANCHOR_REGISTRY");
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(registry_.string() + suffix);
    }

    // An item, and its element with a record whose horizontal distance is `distance` as the
    // user typed it (no record when empty).
    QgsLayoutItemShape* AddShape(const QString& id, const std::string& distance) {
        auto* shape = new QgsLayoutItemShape(&layout_);
        shape->setId(id);
        layout_.addLayoutItem(shape);
        ComPtr<LayoutElement> element = host_.AddText(id.toStdString(), {0, 0, 1, 1});
        if (!distance.empty()) {
            ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
            record->SetProperty(key::AnchorElement, true);
            record->SetProperty(key::HDistanceAll, distance);
            GeneralFunctions::SetAnchorProperties(element, record);
        }
        elements_[id] = element;
        return shape;
    }

    AnchorDock::ElementSource Elements() {
        return [this](QgsLayoutItem* item) {
            const auto it = elements_.find(item->id());
            return it == elements_.end() ? ComPtr<LayoutElement>() : it->second;
        };
    }

    static QLineEdit* Distance(const AnchorDock& dock) {
        return dock.PageWindow() == nullptr ? nullptr : dock.PageWindow()->findChild<QLineEdit*>("txtHDistanceAll");
    }
    static std::string DistanceText(const AnchorDock& dock) {
        QLineEdit* box = Distance(dock);
        return box == nullptr ? "<no page>" : box->text().toStdString();
    }
    std::string StoredDistance(const QString& id) {
        return GeneralFunctions::GetAnchorProperties(elements_[id])->GetProperty(key::HDistanceAll).AsString();
    }

    std::filesystem::path registry_;
    standalone::StandaloneHost host_;
    QgsProject project_;
    QgsLayout layout_;
    std::map<QString, ComPtr<LayoutElement>> elements_;
    QgsLayoutItemShape* a_ = nullptr;
    QgsLayoutItemShape* b_ = nullptr;
    QgsLayoutItemShape* plain_ = nullptr;
};

TEST_F(DockPageTest, ShowsTheRecordOfTheSelectedItem) {
    AnchorDock dock(&layout_, Elements());
    EXPECT_EQ(DistanceText(dock), "<no page>");
    layout_.setSelectedItem(a_);
    EXPECT_EQ(DistanceText(dock), "3");
    layout_.setSelectedItem(b_);
    EXPECT_EQ(DistanceText(dock), "7");
    layout_.setSelectedItem(plain_);
    EXPECT_EQ(DistanceText(dock), "<no page>");
    EXPECT_EQ(dock.Note(), "This item is not anchored.");
    layout_.deselectAll();
    EXPECT_EQ(dock.PageWindow(), nullptr);
    EXPECT_EQ(dock.Subject(), "No item selected.");
    EXPECT_FALSE(dock.ApplyButton()->isEnabled());
    EXPECT_FALSE(dock.CancelButton()->isEnabled());
}

TEST_F(DockPageTest, EditsWaitForApplyOrCancel) {
    AnchorDock dock(&layout_, Elements());
    layout_.setSelectedItem(a_);
    QLineEdit* box = Distance(dock);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(dock.ApplyButton()->isEnabled());
    box->selectAll();
    QTest::keyClicks(box, "5");
    EXPECT_TRUE(dock.ApplyButton()->isEnabled());
    EXPECT_EQ(StoredDistance("A"), "3");

    dock.CancelButton()->click();
    EXPECT_EQ(DistanceText(dock), "3");
    EXPECT_EQ(StoredDistance("A"), "3");
    EXPECT_FALSE(dock.ApplyButton()->isEnabled());

    box = Distance(dock);
    ASSERT_NE(box, nullptr);
    box->selectAll();
    QTest::keyClicks(box, "5");
    dock.ApplyButton()->click();
    EXPECT_EQ(StoredDistance("A"), "5");
    EXPECT_FALSE(dock.ApplyButton()->isEnabled());
    // Moving on to another item and back shows what was applied.
    layout_.setSelectedItem(b_);
    layout_.setSelectedItem(a_);
    EXPECT_EQ(DistanceText(dock), "5");
}

}  // namespace
}  // namespace crv::qgis
