#pragma once
// The desktop GIS plugin: gives every layout designer the "Anchor" dock.

#include <qgisplugin.h>

#include <QObject>
#include <QPointer>

#include <map>
#include <string>

class QgisInterface;
class QgsAbstractValidityCheck;
class QgsLayoutDesignerInterface;

namespace crv::qgis {

class AnchorDock;

class AnchorPlugin : public QObject, public QgisPlugin {
    Q_OBJECT
public:
    // `anchorsAtlas` false: the atlas is anchored by whoever anchors every layout of the
    // project (the Python plugin), and the designers get their docks alone.
    explicit AnchorPlugin(QgisInterface* iface, bool anchorsAtlas = true);
    ~AnchorPlugin() override;

    void initGui() override;
    void unload() override;

    // What the plugin does when a designer opens and before it closes.
    void DesignerOpened(QgsLayoutDesignerInterface* designer);
    void DesignerClosing(QgsLayoutDesignerInterface* designer);

private:
    struct Designer;

    // Anchors the designer's items for the atlas feature in force.
    void PlaceAtlasFeature(Designer* d);

    // Why the component could not be loaded; empty once it is.
    std::string load_error_;
    // The anchoring's check in QGIS's registry of validity checks, which owns it.
    QgsAbstractValidityCheck* check_ = nullptr;
    bool anchors_atlas_ = true;

    // The GIS may have deleted its interface by the time it deletes the plugin at exit.
    QPointer<QgisInterface> iface_;
    std::map<QgsLayoutDesignerInterface*, Designer*> designers_;
};

}  // namespace crv::qgis
