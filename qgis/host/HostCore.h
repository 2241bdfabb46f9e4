#pragma once
// What the QGIS host's parts share inside the host: its state (Core), the host's own access to
// its elements, and layout rectangles. Not for use outside qgis/host.

#include "qgis/host/QgisHost.h"
#include "objects/GenericObjects.h"

#include <qgslayout.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitempage.h>
#include <qgslayoutpagecollection.h>
#include <qgsprintlayout.h>

#include <QPointer>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace crv::qgis {

using objects::Rect;
using support::HostCall;

// The host's own access to its elements behind any of their interfaces.
class QgisElementAccess : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("8c1f4e27-53b0-4d6a-9e81-2f7a0c6b3d95");
    virtual QgsLayoutItem* LiveItem() = 0;

protected:
    ~QgisElementAccess() = default;
};

// A rectangle of the layout by its edges, y growing down: a union of rectangles is taken
// edge by edge, so that it keeps each edge exactly as its rectangle gave it.
struct SceneEdges {
    double left, top, right, bottom;
    explicit SceneEdges(const QRectF& r) : left(r.left()), top(r.top()), right(r.right()), bottom(r.bottom()) {}
    void Unite(const SceneEdges& o) {
        left = std::min(left, o.left);
        top = std::min(top, o.top);
        right = std::max(right, o.right);
        bottom = std::max(bottom, o.bottom);
    }
};

struct QgisHost::Core {
    QPointer<QgsLayout> layout;
    HostOptions options;
    // The page of the element measured last: LayoutPage.QuerySize names no element, and the
    // engine asks for the page's size right after it measures the element it anchors to it.
    int measured_page = 0;
    std::map<QString, ComPtr<LayoutElement>> elements;  // by item uuid
    std::weak_ptr<Core> self;
    std::vector<std::unique_ptr<ScopedClassRegistration>> registrations;

    QgsLayout& Layout(const char* op) {
        if (!layout) Raise(hresult::kFail, op, "The layout is no longer open.");
        return *layout;
    }
    // The layout's page `index` (from 0), or its last page when it has fewer since.
    QgsLayoutItemPage& PageAt(int index, const char* op) {
        QgsLayoutPageCollection* pages = Layout(op).pageCollection();
        QgsLayoutItemPage* page = pages->page(std::clamp(index, 0, std::max(pages->pageCount() - 1, 0)));
        if (page == nullptr) Raise(hresult::kFail, op, "The layout has no page.");
        return *page;
    }
    // The page the point of the layout stands on, as QGIS's item properties tell an item's page
    // from its top left corner (the space below a page belongs to it).
    int PageFor(const QPointF& point, const char* op) { return Layout(op).pageCollection()->pageNumberForPoint(point); }
    // Layout (y down from the top of the first page) to page `page` (y up from its bottom).
    Rect ToPage(const SceneEdges& r, int page, const char* op) {
        const QgsLayoutItemPage& p = PageAt(page, op);
        const double left = p.pos().x();
        const double bottom = p.pos().y() + p.rect().height();
        return {r.left - left, bottom - r.bottom, r.right - left, bottom - r.top};
    }
    QgsLayoutAtlas* Atlas() {
        auto* print = qobject_cast<QgsPrintLayout*>(layout.data());
        return print != nullptr ? print->atlas() : nullptr;
    }
    std::string Name() {
        auto* print = qobject_cast<QgsPrintLayout*>(layout.data());
        return print != nullptr ? print->name().toStdString() : std::string();
    }
    ComPtr<LayoutElement> ElementFor(QgsLayoutItem* item);
    std::vector<ComPtr<LayoutElement>> TopLevel(const char* op);
};

using Core = QgisHost::Core;

inline bool IsElementItem(const QgsLayoutItem* item) {
    return item != nullptr && qobject_cast<const QgsLayoutItemPage*>(item) == nullptr;
}

// Items in drawing order: ascending stacking order, ties as given.
template <class Items>
void SortForDrawing(Items& items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const QgsLayoutItem* a, const QgsLayoutItem* b) { return a->zValue() < b->zValue(); });
}

}  // namespace crv::qgis
