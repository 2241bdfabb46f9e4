#include "qgis/host/AtlasSurface.h"

#include "objects/GenericObjects.h"
#include "qgis/host/QgisHost.h"

#include <qgslayoutatlas.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutitemlegend.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutitempage.h>
#include <qgslayoutitempicture.h>
#include <qgslayoutitemregistry.h>
#include <qgslayoutpagecollection.h>
#include <qgsprintlayout.h>

#include <QImage>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace crv::qgis {

namespace {

std::string TypeOf(QgsLayoutItem* item) {
    if (item == nullptr) return "other";
    // Labels by their type: the label class's header needs a web header some installs lack.
    if (item->type() == QgsLayoutItemRegistry::LayoutLabel) return "text";
    if (qobject_cast<QgsLayoutItemPicture*>(item) != nullptr) return "picture";
    if (qobject_cast<QgsLayoutItemMap*>(item) != nullptr) return "map_frame";
    if (qobject_cast<QgsLayoutItemGroup*>(item) != nullptr) return "group";
    return "other";
}

// QGIS fits a legend to its contents (its entries filtered by the atlas feature) only when it
// paints it, after the page would have been anchored and measured: each such legend is painted
// once on a scrap picture at the layout's resolution, so that it has the size the page draws it
// at. Whatever QGIS refreshes at once for a feature (texts, tables, pictures, data-defined
// sizes) the atlas has refreshed already.
void FitItemsToPage(QgsLayout& layout) {
    QList<QgsLayoutItemLegend*> legends;
    layout.layoutItems(legends);
    QImage scrap;
    for (QgsLayoutItemLegend* legend : legends) {
        if (!legend->resizeToContents()) continue;
        if (scrap.isNull()) {
            scrap = QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
            const int dotsPerMeter = qRound(layout.renderContext().dpi() / 0.0254);
            scrap.setDotsPerMeterX(dotsPerMeter);
            scrap.setDotsPerMeterY(dotsPerMeter);
        }
        QPainter painter(&scrap);
        const QStyleOptionGraphicsItem style;
        legend->paint(&painter, &style, nullptr);
    }
}

}  // namespace

AtlasSurface::AtlasSurface(QgisHost& host, QgsLayout& layout, QgsLayoutAtlas* atlas, Seek seek, book::ReportHead head,
                           std::function<void(int32_t)> draw)
    : host_(host), layout_(layout), atlas_(atlas), seek_(seek), head_(std::move(head)), draw_(std::move(draw)) {}

bool AtlasSurface::PutPageInForce(int32_t page) {
    if (atlas_ != nullptr && seek_ == Seek::ToPage && !atlas_->seekTo(page - FirstPageNumber(layout_))) return false;
    FitItemsToPage(layout_);
    return true;
}

std::vector<book::Placement> AtlasSurface::Measure(const book::AnchorSelection& selection) const {
    std::vector<book::Placement> out;
    const auto display = MakeCom<Display, objects::DisplayImpl>();
    book::WalkLayout(RunningApplication()->Document()->PageLayout(),
                     [&](const ComPtr<LayoutElement>& e, const std::string& group) {
                         book::Placement p;
                         p.name = e->Name();
                         p.group = group;
                         p.type = TypeOf(host_.ItemOf(e));
                         p.priority = selection.PriorityOf(e);
                         p.anchored_to = selection.AnchoredTo(e);
                         p.anchored = p.priority.has_value();
                         const Extent x = ElementExtent(e, display, OutlineEnvelope::Measured);
                         p.rect = {x.xmin, x.ymin, x.xmax, x.ymax};
                         if (const auto page = host_.PageOf(e); page && page->index > 0) {
                             p.layout_page = page->index;
                             p.page_size = std::pair{page->width, page->height};
                         }
                         out.push_back(std::move(p));
                     });
    return out;
}

std::pair<double, double> AtlasSurface::PageSize() const {
    const QRectF rect = layout_.pageCollection()->page(0)->rect();
    return {rect.width(), rect.height()};
}

void AtlasSurface::DrawPage(int32_t page) {
    if (draw_) draw_(page);
}

}  // namespace crv::qgis
