#include "qgis/plugin/AnchorPlugin.h"

#include "qgis/plugin/AnchorDock.h"

#include "errors/ErrorHandling.h"
#include "qgis/host/AtlasAnchoring.h"
#include "qgis/host/LayoutCheck.h"
#include "qgis/host/QgisHost.h"
#include "support/Activation.h"
#include "book/Placement.h"

#include <qgisinterface.h>
#include <qgsapplication.h>
#include <qgsvaliditycheckregistry.h>
#include <qgslayoutatlas.h>
#include <qgslayoutdesignerinterface.h>
#include <qgsmessagebar.h>
#include <qgsprintlayout.h>

#include <dlfcn.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace crv::qgis {
namespace {

const QString kName = QStringLiteral("CRVAnchor");
const QString kDescription = QStringLiteral("Anchors layout items to the atlas feature of every page");
const QString kCategory = QStringLiteral("Layouts");
const QString kVersion = QStringLiteral("1.0");

// The component installed beside the plugin (the plugin in <prefix>/lib/qgis/plugins, the
// component in <prefix>/lib), else where the host library looks by default.
std::string ComponentPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ComponentPath), &info) != 0 && info.dli_fname != nullptr) {
        const auto beside = std::filesystem::path(info.dli_fname).parent_path() / "../../libCRVAnchorQt5.so";
        std::error_code ec;
        if (std::filesystem::exists(beside, ec)) return std::filesystem::weakly_canonical(beside, ec).string();
    }
    return DefaultComponentPath();
}

}  // namespace

// One open designer: the host over its layout, while the designer is open, and its dock.
struct AnchorPlugin::Designer {
    QPointer<QgsLayoutDesignerInterface> designer;
    std::unique_ptr<QgisHost> host;
    std::unique_ptr<AtlasAnchoring> anchoring;
    QPointer<AnchorDock> dock;
};

AnchorPlugin::AnchorPlugin(QgisInterface* iface, bool anchorsAtlas)
    : QgisPlugin(kName, kDescription, kCategory, kVersion, QgisPlugin::UI),
      anchors_atlas_(anchorsAtlas),
      iface_(iface) {}

AnchorPlugin::~AnchorPlugin() { unload(); }

void AnchorPlugin::initGui() {
    try {
        LoadComponent(ComponentPath());
    } catch (const std::exception& e) {
        load_error_ = e.what();
    }
    // The anchoring checked with QGIS's own checks, before every export from a designer.
    if (load_error_.empty() && check_ == nullptr) {
        check_ = new AnchorValidityCheck(NewAnchorManager);
        QgsApplication::validityCheckRegistry()->addCheck(check_);
    }
    QgisInterface* iface = iface_.data();
    if (iface == nullptr) return;
    connect(iface, &QgisInterface::layoutDesignerOpened, this, &AnchorPlugin::DesignerOpened);
    connect(iface, &QgisInterface::layoutDesignerWillBeClosed, this, &AnchorPlugin::DesignerClosing);
    // Designers already open when the plugin is enabled get their dock too.
    const QList<QgsLayoutDesignerInterface*> open = iface->openLayoutDesigners();
    for (QgsLayoutDesignerInterface* designer : open) DesignerOpened(designer);
}

void AnchorPlugin::unload() {
    if (check_ != nullptr) {
        QgsApplication::validityCheckRegistry()->removeCheck(check_);
        check_ = nullptr;
    }
    if (iface_) disconnect(iface_, nullptr, this, nullptr);
    while (!designers_.empty()) DesignerClosing(designers_.begin()->first);
}

void AnchorPlugin::DesignerOpened(QgsLayoutDesignerInterface* designer) {
    if (designers_.count(designer) != 0) return;
    auto* d = new Designer;
    d->designer = designer;
    AnchorDock::ElementSource elements;
    if (load_error_.empty()) {
        // Interactive: every move the placement makes can be undone in the designer.
        d->host = std::make_unique<QgisHost>(designer->layout(), HostOptions{true});
        d->anchoring = std::make_unique<AtlasAnchoring>(*d->host, NewAnchorManager);
        elements = [host = d->host.get()](QgsLayoutItem* item) { return host->ElementFor(item); };
    } else if (designer->messageBar() != nullptr) {
        designer->messageBar()->pushCritical(tr("Anchor"), QString::fromStdString(load_error_));
    }
    auto* dock = new AnchorDock(designer->layout(), std::move(elements), designer->window());
    d->dock = dock;
    if (d->host) dock->SetActivation([host = d->host.get()] { host->MakeCurrent(); });
    auto* print = qobject_cast<QgsPrintLayout*>(designer->layout());
    if (d->host && print != nullptr && anchors_atlas_) {
        // The atlas preview and the atlas export both move through the features; the
        // connection goes with the dock, before the designer's record does.
        connect(print->atlas(), &QgsLayoutAtlas::featureChanged, dock, [this, d] { PlaceAtlasFeature(d); });
    }
    designer->addDockWidget(Qt::RightDockWidgetArea, dock);
    designers_[designer] = d;
}

void AnchorPlugin::PlaceAtlasFeature(Designer* d) {
    QgsLayoutDesignerInterface* designer = d->designer.data();
    if (designer == nullptr || !d->host) return;
    auto* print = qobject_cast<QgsPrintLayout*>(designer->layout());
    if (print == nullptr) return;
    try {
        // Another designer's host may be the newest: the anchoring makes this one current.
        d->anchoring->PlaceFeatureInForce();
    } catch (const ComError& e) {
        if (designer->messageBar() != nullptr)
            designer->messageBar()->pushWarning(tr("Anchor"), QString::fromStdString(e.Description()));
    }
}

void AnchorPlugin::DesignerClosing(QgsLayoutDesignerInterface* designer) {
    const auto it = designers_.find(designer);
    if (it == designers_.end()) return;
    Designer* d = it->second;
    designers_.erase(it);
    if (AnchorDock* dock = d->dock.data()) {
        if (QgsLayoutDesignerInterface* open = d->designer.data()) open->removeDockWidget(dock);
        delete dock;
    }
    // The anchoring holds elements of the host: it goes first.
    d->anchoring.reset();
    d->host.reset();
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
