#include "qgis/cli/Bake.h"

#include "book/BookDriver.h"
#include "qgis/cli/QgisCli.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/BakedPositions.h"
#include "qgis/host/QgisHost.h"
#include "support/Activation.h"
#include "support/AtomicFile.h"
#include "support/CommandLine.h"
#include "support/Errors.h"
#include "support/FileLock.h"
#include "support/MessageText.h"

#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutmanager.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <ostream>

namespace crv::qgis {

namespace {

namespace fs = std::filesystem;
using support::QuotedValue;

struct BakeError : support::CommandError {
    using CommandError::CommandError;
};

struct BakeArgs {
    std::string command;
    fs::path project;
    std::optional<std::string> layout;  // none: the project's only one
};

BakeArgs ParseBakeArgs(const std::vector<std::string>& args) {
    BakeArgs a;
    a.command = args.at(0);
    std::optional<fs::path> project;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--layout") {
            if (i + 1 >= args.size()) throw BakeError(arg + " needs a value");
            a.layout = args[++i];
        } else if (arg.rfind("--", 0) == 0) {
            throw BakeError(a.command + ": unknown option " + arg);
        } else if (!project) {
            project = arg;
        } else {
            throw BakeError(a.command + ": unexpected argument " + QuotedValue(arg));
        }
    }
    if (!project) throw BakeError("which project? (crvanchor-qgis " + a.command + " PROJECT [--layout NAME])");
    a.project = *project;
    return a;
}

// Where one anchored item stands on each atlas feature, and where it stood before.
struct Places {
    QgsLayoutItem* item;
    QgsLayoutPoint before;
    std::map<qint64, QgsLayoutPoint> by_feature;
};

// Anchors every page of the atlas and keeps where each anchored item's reference point went,
// by feature id; puts the items back where they stood.
std::vector<Places> PlaceEveryPage(QgisHost& host, QgsPrintLayout& layout, QgsLayoutAtlas& atlas, int32_t first,
                                   int32_t count, std::ostream& err) {
    AtlasSurface surface(host, layout, &atlas, AtlasSurface::Seek::ToPage);
    book::BookDriver driver(
        surface, [] { return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId); }, {},
        [&host](const ComPtr<LayoutElement>& e) { return host.WhyMoveDoesNotHold(e); });
    book::TellSelection(driver.Selection(), "crvanchor-qgis", err);
    // QGIS moves a group by a data-defined position without its items: a group's items are
    // baked each, and the group follows them as it always does.
    std::vector<Places> places;
    const std::function<void(QgsLayoutItem*)> add = [&](QgsLayoutItem* item) {
        if (const auto* group = qobject_cast<const QgsLayoutItemGroup*>(item)) {
            for (QgsLayoutItem* m : group->items()) add(m);
        } else if (item != nullptr) {
            places.push_back({item, item->positionWithUnits(), {}});
        }
    };
    for (const auto& selected : driver.Selection().Elements()) add(host.ItemOf(selected.element));
    if (places.empty()) return places;
    support::Progress progress(err, static_cast<size_t>(count));
    if (!atlas.beginRender())
        throw BakeError("the atlas of " + QuotedValue(layout.name().toStdString()) + " cannot start");
    for (int32_t page = first; page < first + count; ++page) {
        driver.PlacePage(page);
        const qint64 feature = layout.reportContext().feature().id();
        for (Places& p : places) p.by_feature.insert_or_assign(feature, p.item->positionWithUnits());
        progress.Step(static_cast<size_t>(page - first + 1), page);
    }
    atlas.endRender();
    progress.Done();
    for (const Places& p : places) p.item->attemptMove(p.before);
    return places;
}

}  // namespace

int RunBake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const BakeArgs a = ParseBakeArgs(args);
    const bool bake = a.command == "bake";
    if (!support::IsValidUtf8(a.project.string()))
        throw BakeError(QuotedValue(a.project.string()) + ": QGIS reads only a path that is UTF-8 text");
    const support::FileIdentity id = support::IdentityOf(a.project);
    if (!id.exists || !id.regular) throw BakeError(a.project.string() + ": no such project file");
    try {
        LoadComponent(DefaultComponentPath());
    } catch (const std::runtime_error& e) {
        throw BakeError(e.what());
    }
    std::unique_ptr<support::FileLock> lock;
    try {
        support::RequireReplaceable(a.project, a.project.string());
        lock = std::make_unique<support::FileLock>(a.project, a.project.string());
    } catch (const support::FileWriteError& e) {
        throw BakeError(e.what());
    }
    QgsProject project;
    bool read = false;
    {
        QuietStandardError quiet;
        read = project.read(QString::fromStdString(a.project.string()));
    }
    if (!read) throw BakeError(a.project.string() + ": cannot read the project: " + project.error().toStdString());
    QgsPrintLayout* layout = &FindPrintLayout(project, a.layout, a.project.string());
    const std::string layoutName = layout->name().toStdString();
    const std::string what = a.project.string() + " (" + layoutName + ")";

    QgisHost host(layout);
    // A bake starts from the layout as the anchoring alone places it.
    QList<QgsLayoutItem*> items;
    layout->layoutItems(items);
    int unbaked = 0;
    for (QgsLayoutItem* item : items) unbaked += UnbakePositions(*item) ? 1 : 0;
    if (!bake) {
        if (unbaked == 0) {
            out << "Nothing baked in " << what << "; the project is left as it was\n";
            return 0;
        }
        SaveProject(project, a.project);
        out << "Took the baked positions out of " << unbaked << (unbaked == 1 ? " item" : " items") << " of " << what
            << "\n";
        return 0;
    }

    QgsLayoutAtlas* atlas = layout->atlas();
    if (!atlas->enabled())
        throw BakeError("bake: the layout " + QuotedValue(layoutName) +
                        " has no atlas: the positions it saves are what every print shows");
    const QgsVectorLayer* coverage = atlas->coverageLayer();
    if (coverage == nullptr || !coverage->isValid())
        throw BakeError(a.project.string() + ": the atlas of " + QuotedValue(layoutName) +
                        " has no coverage layer that can be read");
    int32_t first = 1;
    try {
        first = FirstPageNumber(*layout);
    } catch (const std::invalid_argument& e) {
        throw BakeError(a.project.string() + ": the layout " + QuotedValue(layoutName) + ": " + e.what());
    }
    const int32_t last = atlas->updateFeatures();
    if (last < 1)
        throw BakeError(a.project.string() + ": no pages: the atlas of " + QuotedValue(layoutName) +
                        " has no features");

    const std::vector<Places> places = PlaceEveryPage(host, *layout, *atlas, first, last, err);
    for (const Places& p : places) BakePositions(*p.item, p.by_feature, p.before);
    if (places.empty() && unbaked == 0) {
        out << "No anchored item to bake in " << what << "; the project is left as it was\n";
        return 0;
    }
    host.StoreRecords();
    SaveProject(project, a.project);
    out << "Baked the places of " << places.size() << (places.size() == 1 ? " item" : " items") << " on " << last
        << (last == 1 ? " atlas page" : " atlas pages") << " into " << what << "\n";
    return 0;
}

}  // namespace crv::qgis
