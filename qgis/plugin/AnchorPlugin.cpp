#include "qgis/plugin/AnchorPlugin.h"

#include "qgis/plugin/AnchorDock.h"

#include <qgisinterface.h>
#include <qgslayoutdesignerinterface.h>

namespace crv::qgis {
namespace {

const QString kName = QStringLiteral("CRVAnchor");
const QString kDescription = QStringLiteral("Anchors layout items to the atlas feature of every page");
const QString kCategory = QStringLiteral("Layouts");
const QString kVersion = QStringLiteral("1.0");

}  // namespace

// One open designer: its dock.
struct AnchorPlugin::Designer {
    QPointer<QgsLayoutDesignerInterface> designer;
    QPointer<AnchorDock> dock;
};

AnchorPlugin::AnchorPlugin(QgisInterface* iface)
    : QgisPlugin(kName, kDescription, kCategory, kVersion, QgisPlugin::UI), iface_(iface) {}

AnchorPlugin::~AnchorPlugin() { unload(); }

void AnchorPlugin::initGui() {
    connect(iface_, &QgisInterface::layoutDesignerOpened, this, &AnchorPlugin::DesignerOpened);
    connect(iface_, &QgisInterface::layoutDesignerWillBeClosed, this, &AnchorPlugin::DesignerClosing);
    // Designers already open when the plugin is enabled get their dock too.
    for (QgsLayoutDesignerInterface* designer : iface_->openLayoutDesigners()) DesignerOpened(designer);
}

void AnchorPlugin::unload() {
    if (iface_) disconnect(iface_, nullptr, this, nullptr);
    while (!designers_.empty()) DesignerClosing(designers_.begin()->first);
}

void AnchorPlugin::DesignerOpened(QgsLayoutDesignerInterface* designer) {
    if (designers_.count(designer) != 0) return;
    auto* d = new Designer;
    d->designer = designer;
    d->dock = new AnchorDock(designer->layout(), nullptr, designer->window());
    designer->addDockWidget(Qt::RightDockWidgetArea, d->dock);
    designers_[designer] = d;
}

void AnchorPlugin::DesignerClosing(QgsLayoutDesignerInterface* designer) {
    const auto it = designers_.find(designer);
    if (it == designers_.end()) return;
    Designer* d = it->second;
    designers_.erase(it);
    if (d->dock) {
        if (d->designer) d->designer->removeDockWidget(d->dock);
        delete d->dock;
    }
    delete d;
}

}  // namespace crv::qgis

// The entry points the desktop GIS looks up in a plugin library.
extern "C" {
__attribute__((visibility("default"))) QgisPlugin* classFactory(QgisInterface* iface) {
    return new crv::qgis::AnchorPlugin(iface);
}
__attribute__((visibility("default"))) const QString* name() { return &crv::qgis::kName; }
__attribute__((visibility("default"))) const QString* description() { return &crv::qgis::kDescription; }
__attribute__((visibility("default"))) const QString* category() { return &crv::qgis::kCategory; }
__attribute__((visibility("default"))) const QString* version() { return &crv::qgis::kVersion; }
__attribute__((visibility("default"))) int type() { return QgisPlugin::UI; }
__attribute__((visibility("default"))) void unload(QgisPlugin* plugin) { delete plugin; }
}
