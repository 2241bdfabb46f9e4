#pragma once
// Small layouts described once and built both in the standalone host and as a QGIS print
// layout with an atlas over an in-memory coverage layer, with the same anchor records, so that
// the two hosts can be compared page by page.

#include "standalone/host/StandaloneHost.h"
#include "book/RecordEdit.h"

#include <qgsfeature.h>
#include <qgsgeometry.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitemgroup.h>
#include <qgsapplication.h>
#include <qgslayoutitemregistry.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutitempage.h>
#include <qgslayoutmanager.h>
#include <qgslayoutpagecollection.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <string>
#include <vector>

namespace crv::testing {

using objects::Rect;

struct ItemSpec {
    enum Kind { Text, Map, Group };
    Kind kind;
    std::string name;
    Rect rect;  // page units, y up
    double border = 0;  // a map frame's frame border
    std::vector<ItemSpec> members;  // of a group
    std::vector<std::string> record;  // KEY=VALUE; none: no record
    int page = 0;  // the QGIS layout page it stands on (from 0); the standalone host has one page
};

// A page of the QGIS layout, in inches.
struct PageSpec {
    double width;
    double height;
};

// The coverage layer: per page, a horizontal and a vertical distance and a name.
struct SheetRow {
    double hd;
    int32_t vd;
    std::string name;
};

inline constexpr double kPageWidth = 8.5;
inline constexpr double kPageHeight = 11;
inline const std::vector<PageSpec> kOnePage = {{kPageWidth, kPageHeight}};

inline std::vector<SheetRow> DefaultSheets() { return {{0.25, 1, "A"}, {-0.5, 2, "B"}, {1.5, -1, "C"}}; }

// ----------------------------------------------------------------- standalone

inline ComPtr<LayoutElement> BuildStandalone(standalone::StandaloneHost& host, const ItemSpec& s,
                                             const std::vector<SheetRow>& sheets, bool top) {
    ComPtr<LayoutElement> e;
    switch (s.kind) {
        case ItemSpec::Text: e = host.Make(standalone::ElementKind::Text, s.name, s.rect); break;
        case ItemSpec::Map: {
            e = host.Make(standalone::ElementKind::MapFrame, s.name, s.rect);
            standalone::StandaloneHost::ElementOf(e).SetFrameBorder(s.border);
            objects::SeriesData data;
            data.fields = {{"HD", fieldtype::kDouble}, {"VD", fieldtype::kInteger}, {"NAME", fieldtype::kString}};
            for (const auto& r : sheets) data.features.push_back({Variant(r.hd), Variant(r.vd), Variant(r.name)});
            host.AttachSeries(e, std::move(data));
            break;
        }
        case ItemSpec::Group: {
            e = host.Make(standalone::ElementKind::SequenceAndIndexedGroup, s.name, {});
            for (const auto& m : s.members)
                standalone::StandaloneHost::ElementOf(e).AddMember(BuildStandalone(host, m, sheets, false));
            break;
        }
    }
    if (top) host.Add(e);
    return e;
}

// ----------------------------------------------------------------- QGIS

struct QgisLayout {
    QgsProject project;
    QgsPrintLayout* layout = nullptr;  // owned by the project
    QgsVectorLayer* coverage = nullptr;  // owned by the project
};

inline QgsLayoutItem* BuildQgisItem(QgsPrintLayout& layout, const ItemSpec& s) {
    QgsLayoutItem* item = nullptr;
    if (s.kind == ItemSpec::Group) {
        QList<QgsLayoutItem*> members;
        for (const auto& m : s.members) members.append(BuildQgisItem(layout, m));
        item = layout.groupItems(members);
        item->setId(QString::fromStdString(s.name));
        return item;
    }
    if (s.kind == ItemSpec::Text) {
        // Made through the registry: the label class's header needs a web header some installs lack.
        item = QgsApplication::layoutItemRegistry()->createItem(QgsLayoutItemRegistry::LayoutLabel, &layout);
    } else {
        auto* map = new QgsLayoutItemMap(&layout);
        map->setAtlasDriven(true);
        if (s.border > 0) {
            map->setFrameEnabled(true);
            map->setFrameStrokeWidth(QgsLayoutMeasurement(2 * s.border, QgsUnitTypes::LayoutInches));
        }
        item = map;
    }
    layout.addLayoutItem(item);
    item->setId(QString::fromStdString(s.name));
    const double pageHeight = layout.pageCollection()->page(s.page)->rect().height();
    item->attemptMove(QgsLayoutPoint(s.rect.xmin, pageHeight - s.rect.ymax, QgsUnitTypes::LayoutInches), true, false,
                      s.page);
    item->attemptResize(QgsLayoutSize(s.rect.Width(), s.rect.Height(), QgsUnitTypes::LayoutInches));
    // After the size: a map's first extent would otherwise set its height from its own shape.
    if (auto* map = qobject_cast<QgsLayoutItemMap*>(item)) map->zoomToExtent(QgsRectangle(0, 0, 1000, 1000));
    return item;
}

inline void BuildQgis(QgisLayout& q, const std::vector<ItemSpec>& items, const std::vector<SheetRow>& sheets,
                      const QString& name = QStringLiteral("Atlas"), const std::vector<PageSpec>& pages = kOnePage) {
    q.coverage = new QgsVectorLayer(
        QStringLiteral("Polygon?crs=EPSG:3857&field=HD:double&field=VD:integer&field=NAME:string(20)"),
        QStringLiteral("sheets"), QStringLiteral("memory"));
    QgsFeatureList features;
    double x = 0;
    for (const auto& r : sheets) {
        QgsFeature f(q.coverage->fields());
        f.setAttributes(QgsAttributes() << QVariant(r.hd) << QVariant(r.vd)
                                        << QVariant(QString::fromStdString(r.name)));
        // Sheets of the map frame's shape (6.5 by 7): the atlas then never reshapes the frame.
        f.setGeometry(QgsGeometry::fromRect(QgsRectangle(x, 0, x + 650, 700)));
        features.append(f);
        x += 650;
    }
    q.coverage->dataProvider()->addFeatures(features);
    q.coverage->updateExtents();
    q.project.addMapLayer(q.coverage);

    q.layout = new QgsPrintLayout(&q.project);
    q.layout->setName(name);
    q.layout->setUnits(QgsUnitTypes::LayoutInches);
    for (const PageSpec& p : pages) {
        auto* page = new QgsLayoutItemPage(q.layout);
        page->setPageSize(QgsLayoutSize(p.width, p.height, QgsUnitTypes::LayoutInches));
        q.layout->pageCollection()->addPage(page);
    }
    q.project.layoutManager()->addLayout(q.layout);
    for (const auto& s : items) BuildQgisItem(*q.layout, s);
    q.layout->atlas()->setCoverageLayer(q.coverage);
    q.layout->atlas()->setEnabled(true);
}

// Gives every element of the specs its record, through the engine, in the running host.
inline void WriteRecords(const std::vector<ItemSpec>& items,
                         const std::function<ComPtr<LayoutElement>(const std::string&)>& find,
                         const std::function<ComPtr<_CRVAnchorManager>()>& newManager) {
    for (const auto& s : items) {
        if (!s.record.empty()) {
            auto manager = newManager();
            book::ApplyRecordChanges(*manager, find(s.name), book::ParseRecordChanges(s.record));
        }
        WriteRecords(s.members, find, newManager);
    }
}

}  // namespace crv::testing
