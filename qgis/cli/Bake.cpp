#include "qgis/cli/Bake.h"

#include "book/BookDriver.h"
#include "qgis/cli/QgisCli.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/BakedPositions.h"
#include "qgis/host/QgisHost.h"
#include "support/CommandLine.h"
#include "support/MessageText.h"

#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutmanager.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>

namespace crv::qgis {

namespace {

using support::QuotedValue;

// Where one anchored item stands on each atlas feature; its uuid finds it in the project saved.
struct Places {
    QgsLayoutItem* item;
    QString uuid;
    std::map<qint64, QgsLayoutPoint> by_feature;
};

// Anchors every page of the atlas and keeps where each anchored item's reference point went,
// by feature id. The layout is left as the last page has it.
std::vector<Places> PlaceEveryPage(QgisHost& host, QgsPrintLayout& layout, QgsLayoutAtlas& atlas, int32_t first,
                                   int32_t count, std::ostream& err) {
    AtlasSurface surface(host, layout, &atlas, AtlasSurface::Seek::ToPage);
    book::BookDriver driver(surface, NewAnchorManager, {},
                            [&host](const ComPtr<LayoutElement>& e) { return host.WhyMoveDoesNotHold(e); });
    book::TellSelection(driver.Selection(), "crvanchor-qgis", err);
    // QGIS moves a group by a data-defined position without its items: a group's items are
    // baked each, and the group follows them as it always does.
    std::vector<Places> places;
    const std::function<void(QgsLayoutItem*)> add = [&](QgsLayoutItem* item) {
        if (const auto* group = qobject_cast<const QgsLayoutItemGroup*>(item)) {
            for (QgsLayoutItem* m : group->items()) add(m);
        } else if (item != nullptr) {
            places.push_back({item, item->uuid(), {}});
        }
    };
    for (const auto& selected : driver.Selection().Elements()) add(host.ItemOf(selected.element));
    if (places.empty()) return places;
    support::Progress progress(err, static_cast<size_t>(count));
    if (!atlas.beginRender())
        throw UsageError("the atlas of " + QuotedValue(layout.name().toStdString()) + " cannot start");
    for (int32_t page = first; page < first + count; ++page) {
        driver.PlacePage(page);
        const qint64 feature = layout.reportContext().feature().id();
        for (Places& p : places) p.by_feature.insert_or_assign(feature, p.item->positionWithUnits());
        progress.Step(static_cast<size_t>(page - first + 1), page);
    }
    atlas.endRender();
    progress.Done();
    return places;
}

// Takes every position baked into the layout's items out; how many items had any.
int UnbakeItems(QgsLayout& layout) {
    QList<QgsLayoutItem*> items;
    layout.layoutItems(items);
    int unbaked = 0;
    for (QgsLayoutItem* item : items) unbaked += UnbakePositions(*item) ? 1 : 0;
    return unbaked;
}

}  // namespace

int RunBake(CommandArgs a, std::ostream& out, std::ostream& err, const std::function<int()>& reportsShown) {
    const bool bake = a.command == "bake";
    Session s(a, err);
    QgsPrintLayout& layout = *s.layout;
    const std::string what = a.project.string() + " (" + *a.layout + ")";
    // What is saved is the project as read with the bake's own change: positions, records and
    // everything else as they were, a user's own switched-off position given back by an unbake.
    if (!bake) {
        const int unbaked = UnbakeItems(layout);
        if (unbaked == 0) {
            out << "Nothing baked in " << what << "; the project is left as it was\n";
            return 0;
        }
        SaveProject(s.project, a.project);
        out << "Took the baked positions out of " << unbaked << (unbaked == 1 ? " item" : " items") << " of " << what
            << "\n";
        return 0;
    }

    QgsLayoutAtlas* atlas = layout.atlas();
    if (!atlas->enabled())
        throw UsageError("bake: the layout " + QuotedValue(*a.layout) +
                         " has no atlas: the positions it saves are what every print shows");
    const int32_t first = FirstPageOfLayout(a, layout);
    const int32_t count = AtlasPageCount(a, *atlas);
    // The places are found on the project the session read, which is not saved: a bake starts
    // from the layout as the anchoring alone places it, and the atlas's steps leave the map
    // frames on the last page's extent and the items where the last page put them.
    UnbakeItems(layout);
    const std::vector<Places> places = PlaceEveryPage(*s.host, layout, *atlas, first, count, err);
    if (reportsShown() > 0) {
        err << "crvanchor-qgis: bake: the anchoring reported errors; nothing was baked, the project is left as it "
               "was\n";
        return 0;
    }
    const std::unique_ptr<QgsProject> saved = s.ReadAgain(a);
    QgsPrintLayout& target = FindPrintLayout(*saved, a.layout, a.project.string());
    const int unbaked = UnbakeItems(target);
    if (places.empty() && unbaked == 0) {
        out << "No anchored item to bake in " << what << "; the project is left as it was\n";
        return 0;
    }
    for (const Places& p : places) {
        QgsLayoutItem* item = target.itemByUuid(p.uuid);
        // The project is locked from the first read: only another program ignoring the lock.
        if (item == nullptr) throw UsageError(a.project.string() + ": changed while it was baked; nothing was written");
        BakePositions(*item, p.by_feature, item->positionWithUnits());
    }
    SaveProject(*saved, a.project);
    out << "Baked the places of " << places.size() << (places.size() == 1 ? " item" : " items") << " on " << count
        << (count == 1 ? " atlas page" : " atlas pages") << " into " << what << "\n";
    return 0;
}

}  // namespace crv::qgis
