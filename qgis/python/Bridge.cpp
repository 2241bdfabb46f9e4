// The library under the Python plugin: C entry points that its Python calls through ctypes,
// handing QGIS objects over as their addresses (sip.unwrapinstance). Python is what QGIS loads
// everywhere a layout is exported (the desktop, Processing and qgis_process, the console);
// the anchoring itself stays here, in the host and the book driver the command runs.

#include "book/Placement.h"
#include "errors/ErrorHandling.h"
#include "qgis/cli/QgisCli.h"
#include "qgis/host/AtlasAnchoring.h"
#include "qgis/host/QgisHost.h"
#include "qgis/plugin/AnchorPlugin.h"
#include "support/Activation.h"
#include "support/CommandLine.h"

#include <qgslayoutatlas.h>
#include <qgslayoutitempage.h>
#include <qgslayoutmanager.h>
#include <qgsmessagelog.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>

#include <QPointer>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace crv::qgis {
namespace {

const char* const kLogTag = "CRVAnchor";

// The folder this library was loaded from: the component and its runtime are installed there.
std::filesystem::path OwnFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

bool HasAnchoredItems(const QgsLayout& layout) {
    QList<QgsLayoutItem*> items;
    layout.layoutItems(items);
    for (const QgsLayoutItem* item : items) {
        if (qobject_cast<const QgsLayoutItemPage*>(item) == nullptr && !RecordPropertiesOf(*item).empty()) return true;
    }
    return false;
}

// Anchors every print layout of a project that has anchored items whenever its atlas moves to
// another feature, whoever moves it: an export from the console, Processing, a designer.
class ProjectAnchoring {
public:
    explicit ProjectAnchoring(QgsProject* project) : project_(project) {
        QgsLayoutManager* manager = project->layoutManager();
        QObject::connect(manager, &QgsLayoutManager::layoutAdded, &context_,
                         [this, manager](const QString& name) { Watch(manager->layoutByName(name)); });
        QObject::connect(manager, &QgsLayoutManager::layoutAboutToBeRemoved, &context_,
                         [this, manager](const QString& name) {
                             layouts_.erase(dynamic_cast<QgsPrintLayout*>(manager->layoutByName(name)));
                         });
        for (QgsPrintLayout* layout : manager->printLayouts()) Watch(layout);
    }

private:
    struct LayoutState {
        QPointer<QgsPrintLayout> layout;
        QObject context;  // the atlas's connection goes with it
        // Built without undo: the anchoring holds the layout's undo commands back around its own
        // moves alone, and the user's edits between atlas steps stay undoable. The anchoring
        // holds the host's elements: it goes first.
        std::unique_ptr<QgisHost> host;
        std::unique_ptr<AtlasAnchoring> anchoring;
        bool told = false;
    };

    void Watch(QgsMasterLayoutInterface* master) {
        auto* print = dynamic_cast<QgsPrintLayout*>(master);
        if (print == nullptr || layouts_.count(print) != 0) return;
        auto& state = layouts_[print];
        state = std::make_unique<LayoutState>();
        state->layout = print;
        LayoutState* l = state.get();
        QObject::connect(print->atlas(), &QgsLayoutAtlas::featureChanged, &l->context, [l] { Place(*l); });
        QObject::connect(print, &QObject::destroyed, &l->context, [this, print] { layouts_.erase(print); });
    }

    static void Place(LayoutState& l) {
        QgsPrintLayout* print = l.layout.data();
        // A book or QGIS's checks step the atlas with a host of their own meanwhile: no host of
        // ours may become the running application under them.
        if (AtlasAnchoring::Paused() || print == nullptr || !HasAnchoredItems(*print)) return;
        try {
            if (!l.host) {
                l.host = std::make_unique<QgisHost>(print);
                l.anchoring = std::make_unique<AtlasAnchoring>(*l.host, NewAnchorManager);
            }
            l.anchoring->PlaceFeatureInForce();
        } catch (const std::exception& e) {
            // Told once a layout, in QGIS's log: an export must not stop on a page.
            if (!l.told)
                QgsMessageLog::logMessage(QStringLiteral("%1: %2").arg(print->name(), QString::fromStdString(e.what())),
                                          QString::fromLatin1(kLogTag), Qgis::MessageLevel::Warning);
            l.told = true;
        }
    }

    QPointer<QgsProject> project_;
    QObject context_;  // the layout manager's connections go with it
    std::map<QgsPrintLayout*, std::unique_ptr<LayoutState>> layouts_;
};

std::map<QgsProject*, std::unique_ptr<ProjectAnchoring>> g_projects;
std::string g_load_error;

char* Copy(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

}  // namespace
}  // namespace crv::qgis

using namespace crv::qgis;

extern "C" {

// Loads the component from this library's folder; the error in one line, else an empty text.
__attribute__((visibility("default"))) const char* crvanchor_load() {
    try {
        LoadComponent((OwnFolder() / "libCRVAnchorQt5.so").string());
        g_load_error.clear();
    } catch (const std::exception& e) {
        g_load_error = e.what();
    }
    return g_load_error.c_str();
}

// Anchors the project's layouts as their atlases move, until crvanchor_unwatch.
__attribute__((visibility("default"))) void crvanchor_watch(void* project) {
    auto* p = static_cast<QgsProject*>(project);
    if (p != nullptr && g_projects.count(p) == 0) g_projects[p] = std::make_unique<ProjectAnchoring>(p);
}

__attribute__((visibility("default"))) void crvanchor_unwatch(void* project) {
    g_projects.erase(static_cast<QgsProject*>(project));
}

// Runs the book of `layout` (a QgsPrintLayout) with the command's options; what the command
// would print goes to *out and *err (free them with crvanchor_free). `pageDone` is told after
// each page and stops the book when it returns 0. The command's exit status.
__attribute__((visibility("default"))) int crvanchor_book(void* layout, int argc, const char* const* argv, char** out,
                                                          char** err, int (*pageDone)(int done, int total)) {
    std::vector<std::string> options(argv, argv + argc);
    std::ostringstream o;
    std::ostringstream e;
    // The book anchors its pages itself.
    const AtlasAnchoring::Pause pause;
    const int status =
        RunBookOnLayout(*static_cast<QgsPrintLayout*>(layout), options, o, e, [pageDone](size_t done, size_t total) {
            return pageDone == nullptr || pageDone(static_cast<int>(done), static_cast<int>(total)) != 0;
        });
    *out = Copy(o.str());
    *err = Copy(e.str());
    return status;
}

__attribute__((visibility("default"))) void crvanchor_free(char* text) { std::free(text); }

// The resolutions the book's --dpi takes, for the algorithm's dialog to offer the same.
__attribute__((visibility("default"))) void crvanchor_dpi_range(double* lowest, double* highest) {
    *lowest = crv::support::kMinDpi;
    *highest = crv::support::kMaxDpi;
}

// The Anchor dock in every layout designer of the desktop (`iface` a QgisInterface); the atlas
// is anchored by crvanchor_watch. Returns what crvanchor_desktop_stop takes.
__attribute__((visibility("default"))) void* crvanchor_desktop_start(void* iface) {
    auto* plugin = new AnchorPlugin(static_cast<QgisInterface*>(iface), false);
    plugin->initGui();
    return plugin;
}

__attribute__((visibility("default"))) void crvanchor_desktop_stop(void* plugin) {
    delete static_cast<AnchorPlugin*>(plugin);
}
}
