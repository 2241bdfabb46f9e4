// The plugin as the desktop GIS finds it: a library with the GIS's entry points, and a dock
// that shows the page for whatever the designer has selected.
#include "qgis/plugin/AnchorDock.h"

#include <qgisplugin.h>
#include <qgslayout.h>
#include <qgslayoutitemshape.h>
#include <qgsproject.h>

#include <QPushButton>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace crv::qgis {
namespace {

TEST(PluginLibrary, OffersTheEntryPointsTheGisLooksFor) {
    void* library = ::dlopen(CRV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto text = [&](const char* entry) -> QString {
        const auto fn = reinterpret_cast<const QString* (*)()>(::dlsym(library, entry));
        return fn == nullptr ? QStringLiteral("<missing>") : *fn();
    };
    EXPECT_EQ(text("name"), "CRVAnchor");
    EXPECT_FALSE(text("description").isEmpty());
    EXPECT_NE(text("description"), "<missing>");
    EXPECT_NE(text("category"), "<missing>");
    EXPECT_NE(text("version"), "<missing>");
    const auto type = reinterpret_cast<int (*)()>(::dlsym(library, "type"));
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type(), QgisPlugin::UI);

    const auto factory = reinterpret_cast<QgisPlugin* (*)(QgisInterface*)>(::dlsym(library, "classFactory"));
    const auto unload = reinterpret_cast<void (*)(QgisPlugin*)>(::dlsym(library, "unload"));
    ASSERT_NE(factory, nullptr);
    ASSERT_NE(unload, nullptr);
    QgisPlugin* plugin = factory(nullptr);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->name(), "CRVAnchor");
    EXPECT_EQ(plugin->type(), QgisPlugin::UI);
    unload(plugin);
    ::dlclose(library);
}

class DockTest : public ::testing::Test {
protected:
    DockTest() : layout_(&project_) {
        layout_.initializeDefaults();
        a_ = AddShape("A");
        b_ = AddShape("B");
    }

    QgsLayoutItemShape* AddShape(const QString& id) {
        auto* shape = new QgsLayoutItemShape(&layout_);
        shape->setId(id);
        layout_.addLayoutItem(shape);
        return shape;
    }

    QgsProject project_;
    QgsLayout layout_;
    QgsLayoutItemShape* a_ = nullptr;
    QgsLayoutItemShape* b_ = nullptr;
};

TEST_F(DockTest, NamesTheSelectedItem) {
    AnchorDock dock(&layout_, nullptr);
    EXPECT_EQ(dock.Subject(), "No item selected.");
    layout_.setSelectedItem(a_);
    EXPECT_EQ(dock.Subject(), "A");
    layout_.setSelectedItem(b_);
    EXPECT_EQ(dock.Subject(), "B");
    layout_.deselectAll();
    EXPECT_EQ(dock.Subject(), "No item selected.");
    EXPECT_EQ(dock.PageWindow(), nullptr);
    EXPECT_FALSE(dock.ApplyButton()->isEnabled());
}

}  // namespace
}  // namespace crv::qgis
