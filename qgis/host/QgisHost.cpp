#include "qgis/host/QgisHost.h"

#include "qgis/host/Records.h"
#include "standalone/host/Objects.h"
#include "standalone/support/MessageText.h"

#include <qgsfeature.h>
#include <qgsfields.h>
#include <qgslayout.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutitempage.h>
#include <qgslayoutpagecollection.h>
#include <qgslayoutreportcontext.h>
#include <qgslayoutundostack.h>
#include <qgspropertycollection.h>
#include <qgsprintlayout.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>

#include <QPointer>

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_set>
#include <optional>

namespace crv::qgis {

using standalone::HostCall;
using standalone::Rect;

namespace {

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

}  // namespace

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

namespace {

using Core = QgisHost::Core;

bool IsElementItem(const QgsLayoutItem* item) {
    return item != nullptr && qobject_cast<const QgsLayoutItemPage*>(item) == nullptr;
}

// Items in drawing order: ascending stacking order, ties as given.
template <class Items>
void SortForDrawing(Items& items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const QgsLayoutItem* a, const QgsLayoutItem* b) { return a->zValue() < b->zValue(); });
}

// QGIS keeps a group's own rectangle, which does not follow when an item inside moves alone, and
// moves and resizes the group's items by it when it refreshes the layout (a page drawn in the
// designer): with a stale group, items jumped. Fits every group around the item, innermost
// first, to its items again as QGIS fits a group it makes (the union of their rectangles,
// frames left out), without moving them. QGIS's group moves would record a move of each item
// as an undo step: none is recorded.
void FitEnclosingGroups(QgsLayoutItem& item) {
    QgsLayout* layout = item.layout();
    if (layout == nullptr) return;
    layout->undoStack()->blockCommands(true);
    for (QgsLayoutItemGroup* group = item.parentGroup(); group != nullptr; group = group->parentGroup()) {
        std::optional<SceneEdges> united;
        for (QgsLayoutItem* m : group->items()) {
            const SceneEdges r(m->mapRectToScene(m->rect()));
            if (united)
                united->Unite(r);
            else
                united = r;
        }
        if (!united) continue;
        // The group's own move and resize would carry its items along: its base item's do not.
        // Measured from its top left corner meanwhile, so that the resize leaves it in place.
        const QgsLayoutItem::ReferencePoint reference = group->referencePoint();
        group->setReferencePoint(QgsLayoutItem::UpperLeft);
        group->QgsLayoutItem::attemptResize(layout->convertFromLayoutUnits(
            QSizeF(united->right - united->left, united->bottom - united->top), group->sizeWithUnits().units()));
        group->QgsLayoutItem::attemptMove(
            layout->convertFromLayoutUnits(QPointF(united->left, united->top), group->positionWithUnits().units()));
        group->setReferencePoint(reference);
    }
    layout->undoStack()->blockCommands(false);
}

class Element final : public ComObject<LayoutElement, MapFrame, ElementSequence, ElementGroup, QgisElementAccess> {
public:
    Element(QgsLayoutItem* item, std::weak_ptr<Core> core)
        : item_(item), core_(std::move(core)), name_(item->id().toStdString()) {
        is_map_ = qobject_cast<QgsLayoutItemMap*>(item) != nullptr;
        is_group_ = qobject_cast<QgsLayoutItemGroup*>(item) != nullptr;
    }

    std::string Name() override {
        HostCall("LayoutElement.Name");
        return Item("LayoutElement.Name").id().toStdString();
    }
    Variant CustomProperty() override {
        HostCall("LayoutElement.CustomProperty");
        Sync("LayoutElement.CustomProperty");
        return custom_;
    }
    void SetCustomProperty(const Variant& value) override {
        HostCall("LayoutElement.SetCustomProperty");
        Item("LayoutElement.SetCustomProperty");
        custom_ = value;
        loaded_ = true;
        flattened_at_.reset();
        Sync("LayoutElement.SetCustomProperty");
    }
    void QueryBounds(const ComPtr<Display>& display, const ComPtr<Envelope>& bounds) override {
        HostCall("LayoutElement.QueryBounds");
        if (!display || !bounds)
            Raise(hresult::kPointer, "LayoutElement.QueryBounds", "A display and an envelope are required.");
        const Rect r = BoundsRect("LayoutElement.QueryBounds", true);
        bounds->PutCoords(r.xmin, r.ymin, r.xmax, r.ymax);
    }
    void QueryOutline(const ComPtr<Display>& display, const ComPtr<Polygon>& outline) override {
        HostCall("LayoutElement.QueryOutline");
        if (!display || !outline)
            Raise(hresult::kPointer, "LayoutElement.QueryOutline", "A display and a polygon are required.");
        const Rect r = OutlineRect("LayoutElement.QueryOutline", true);
        outline->SetEmpty();
        outline->AddPoint(r.xmin, r.ymin);
        outline->AddPoint(r.xmin, r.ymax);
        outline->AddPoint(r.xmax, r.ymax);
        outline->AddPoint(r.xmax, r.ymin);
        outline->AddPoint(r.xmin, r.ymin);
    }
    void Move(double dx, double dy) override {
        HostCall("LayoutElement.Move");
        QgsLayoutItem& item = Item("LayoutElement.Move");
        auto core = core_.lock();
        const bool undoable = core && core->options.undoable && core->layout;
        // QGIS moves a group member by member, each a step of its own: one step holds them all,
        // ended when the move is done. Only for a group: an item that does not move leaves no
        // step, an empty macro would.
        auto endMacro = [](QgsLayoutUndoStack* stack) { stack->endMacro(); };
        std::unique_ptr<QgsLayoutUndoStack, decltype(endMacro)> macro(nullptr, endMacro);
        if (undoable && is_group_) {
            macro.reset(core->layout->undoStack());
            macro->beginMacro(QStringLiteral("Anchor %1").arg(item.id()));
        }
        if (undoable) core->layout->undoStack()->beginCommand(&item, QStringLiteral("Anchor %1").arg(item.id()));
        item.attemptMoveBy(dx, -dy);
        if (undoable) core->layout->undoStack()->endCommand();
        FitEnclosingGroups(item);
    }
    std::string MapName() override {
        HostCall("MapFrame.MapName");
        return Item("MapFrame.MapName").id().toStdString();
    }
    void ResetMembers() override {
        HostCall("ElementSequence.ResetMembers");
        next_member_ = 0;
    }
    ComPtr<LayoutElement> NextMember() override {
        HostCall("ElementSequence.NextMember");
        // The members are read at the first step of a walk and kept for the rest of it: reading
        // them costs the whole group, and a step each made a walk cost the square of its size.
        // A member deleted since is passed over.
        if (next_member_ == 0) {
            const auto members = Members("ElementSequence.NextMember");
            walked_.assign(members.begin(), members.end());
        } else {
            Item("ElementSequence.NextMember");  // a step still fails once the group is gone
        }
        while (next_member_ < walked_.size()) {
            if (QgsLayoutItem* m = walked_[next_member_++].data()) return ElementOf(m, "ElementSequence.NextMember");
        }
        return {};
    }
    int32_t MemberCount() override {
        HostCall("ElementGroup.MemberCount");
        return static_cast<int32_t>(Members("ElementGroup.MemberCount").size());
    }
    ComPtr<LayoutElement> Member(int32_t index) override {
        HostCall("ElementGroup.Member");
        const auto members = Members("ElementGroup.Member");
        if (index < 0 || index >= members.size())
            Raise(hresult::kInvalidArg, "ElementGroup.Member", "Member index out of range.");
        return ElementOf(members[index], "ElementGroup.Member");
    }
    QgsLayoutItem* LiveItem() override { return Alive() ? item_.data() : nullptr; }

    // Writes a value changed in place into the item, or takes in the item's properties
    // changed from outside (an undo, another tool).
    void Sync(const char* op) {
        QgsLayoutItem& item = Item(op);
        StoredProperties stored = RecordPropertiesOf(item);
        if (!loaded_) {
            custom_ = Unflatten(stored, op);
            last_ = std::move(stored);
            loaded_ = true;
            flattened_at_ = standalone::PropertyBagChanges();
            return;
        }
        // The value is flattened again only when some bag has changed since it was last: until
        // then it is the one written last.
        const uint64_t changes = standalone::PropertyBagChanges();
        if (flattened_at_ != changes) {
            StoredProperties current = FlattenCustomValue(custom_);
            flattened_at_ = changes;
            if (current != last_) {
                for (const auto& [key, text] : stored) {
                    if (current.count(key) == 0) item.removeCustomProperty(QString::fromStdString(key));
                }
                for (const auto& [key, text] : current) {
                    auto it = stored.find(key);
                    if (it == stored.end() || it->second != text)
                        item.setCustomProperty(QString::fromStdString(key), QString::fromStdString(text));
                }
                last_ = std::move(current);
                return;
            }
        }
        if (stored != last_) {
            custom_ = Unflatten(stored, op);
            last_ = std::move(stored);
            flattened_at_ = standalone::PropertyBagChanges();
        }
    }

    // The item's own rectangle; for a group, the union of its members' bounds. Measured on the
    // page the element stands on (PageOf); `asked` when the engine measures it, whose next
    // question may be that page's size.
    Rect OutlineRect(const char* op, bool asked = false) { return OnPage(SceneOutline(Item(op)), op, asked); }
    Rect BoundsRect(const char* op, bool asked = false) {
        if (is_group_) return OutlineRect(op, asked);
        QgsLayoutItem& item = Item(op);
        return OnPage(SceneEdges(item.mapRectToScene(item.rectWithFrame())), op, asked);
    }

    // The layout page the element stands on, from 0.
    int StandingPage(const char* op) { return PageOf(op); }

protected:
    bool Exposes(const Guid& iid) const override {
        if (iid == MapFrame::IID) return is_map_;
        if (iid == ElementSequence::IID || iid == ElementGroup::IID) return is_group_;
        return true;
    }

private:
    bool Alive() const {
        auto core = core_.lock();
        return item_ && core && core->layout && item_->scene() == core->layout.data();
    }
    QgsLayoutItem& Item(const char* op) {
        QgsLayoutItem* item = Alive() ? item_.data() : nullptr;
        if (item == nullptr) {
            Raise(hresult::kFail, op, "The layout item \"" + name_ + "\" is no longer in the layout.");
        }
        name_ = item->id().toStdString();
        return *item;
    }
    std::shared_ptr<Core> CoreOf(const char* op) {
        auto core = core_.lock();
        if (!core) Raise(hresult::kFail, op, "The layout's host has closed.");
        return core;
    }
    Variant Unflatten(const StoredProperties& stored, const char* op) {
        try {
            return UnflattenCustomValue(stored);
        } catch (const RecordKeyError& e) {
            Raise(hresult::kFail, op, "The layout item \"" + name_ + "\": " + e.what() + ".");
        }
    }
    // In drawing order, as the top level and the standalone host's groups: QGIS keeps a group's
    // items in the order it was given them, which a project read back from disk reverses.
    QList<QgsLayoutItem*> Members(const char* op) {
        auto* group = qobject_cast<QgsLayoutItemGroup*>(&Item(op));
        QList<QgsLayoutItem*> members = group != nullptr ? group->items() : QList<QgsLayoutItem*>();
        SortForDrawing(members);
        return members;
    }
    ComPtr<LayoutElement> ElementOf(QgsLayoutItem* item, const char* op) { return CoreOf(op)->ElementFor(item); }

    // In layout coordinates: the item's own rectangle, for a group the union of its members'
    // bounds (an empty group: its own rectangle).
    static SceneEdges SceneOutline(QgsLayoutItem& item) {
        auto* group = qobject_cast<QgsLayoutItemGroup*>(&item);
        if (group == nullptr) return SceneEdges(item.mapRectToScene(item.rect()));
        std::optional<SceneEdges> united;
        for (QgsLayoutItem* m : group->items()) {
            if (m == nullptr) continue;
            const SceneEdges b = qobject_cast<QgsLayoutItemGroup*>(m) != nullptr
                                     ? SceneOutline(*m)
                                     : SceneEdges(m->mapRectToScene(m->rectWithFrame()));
            if (united)
                united->Unite(b);
            else
                united = b;
        }
        return united ? *united : SceneEdges(item.mapRectToScene(item.rect()));
    }
    // The page an element stands on: that of its top left corner. A group member is measured on
    // the page of its outermost group, so that a group is the union of its members on one page;
    // a group spanning pages stands on the page where its top left corner is.
    int PageOf(const char* op) {
        QgsLayoutItem* top = &Item(op);
        while (QgsLayoutItemGroup* group = top->parentGroup()) top = group;
        const SceneEdges r = SceneOutline(*top);
        return CoreOf(op)->PageFor(QPointF(r.left, r.top), op);
    }
    Rect OnPage(const SceneEdges& scene, const char* op, bool asked) {
        auto core = CoreOf(op);
        const int page = PageOf(op);
        if (asked) core->measured_page = page;
        return core->ToPage(scene, page, op);
    }

    QPointer<QgsLayoutItem> item_;
    std::weak_ptr<QgisHost::Core> core_;
    std::string name_;
    bool is_map_ = false;
    bool is_group_ = false;
    size_t next_member_ = 0;
    std::vector<QPointer<QgsLayoutItem>> walked_;  // the members of the walk under way
    Variant custom_;
    StoredProperties last_;
    bool loaded_ = false;
    std::optional<uint64_t> flattened_at_;  // PropertyBagChanges() when custom_ was last flattened
};

Element* ElementImplOf(const ComPtr<Unknown>& object) {
    auto access = ComPtr<QgisElementAccess>::Query(object);
    return access ? static_cast<Element*>(access.Get()) : nullptr;
}

class Container final : public ComObject<ElementContainer> {
public:
    explicit Container(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    void Reset() override {
        HostCall("ElementContainer.Reset");
        top_ = core_->TopLevel("ElementContainer.Reset");
        next_ = 0;
    }
    ComPtr<LayoutElement> Next() override {
        HostCall("ElementContainer.Next");
        if (next_ >= top_.size()) return {};
        return top_[next_++];
    }
    void UpdateElement(const ComPtr<LayoutElement>& element) override {
        HostCall("ElementContainer.UpdateElement");
        Element* e = ElementImplOf(ComPtr<Unknown>(element));
        QgsLayoutItem* item = e != nullptr ? e->LiveItem() : nullptr;
        if (item == nullptr)
            Raise(hresult::kInvalidArg, "ElementContainer.UpdateElement", "Not an element of this layout.");
        e->Sync("ElementContainer.UpdateElement");
        // A refresh applies the item's data-defined properties again; without any it would leave
        // the item as it is, at the cost of expression contexts and, for a group, of a resize
        // member by member.
        if (item->dataDefinedProperties().hasActiveProperties()) item->refresh();
        item->update();
    }

private:
    std::shared_ptr<Core> core_;
    std::vector<ComPtr<LayoutElement>> top_;
    size_t next_ = 0;
};

class Page final : public ComObject<LayoutPage> {
public:
    explicit Page(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    void QuerySize(double& width, double& height) override {
        HostCall("LayoutPage.QuerySize");
        const QRectF r = core_->PageAt(core_->measured_page, "LayoutPage.QuerySize").rect();
        width = r.width();
        height = r.height();
    }

private:
    std::shared_ptr<Core> core_;
};

class View final : public ComObject<LayoutView> {
public:
    explicit View(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    ComPtr<LayoutPage> Page() override {
        HostCall("LayoutView.Page");
        return MakeCom<LayoutPage, qgis::Page>(core_);
    }
    ComPtr<Display> ScreenDisplay() override {
        HostCall("LayoutView.ScreenDisplay");
        return MakeCom<Display, standalone::DisplayImpl>();
    }
    void PartialRefresh(int32_t, const ComPtr<Unknown>& data, const ComPtr<Envelope>&) override {
        HostCall("LayoutView.PartialRefresh");
        Element* e = ElementImplOf(data);
        if (QgsLayoutItem* item = e != nullptr ? e->LiveItem() : nullptr) {
            item->update();
        } else if (core_->layout) {
            core_->layout->update();
        }
    }

private:
    std::shared_ptr<Core> core_;
};

class Document final : public ComObject<HostDocument> {
public:
    explicit Document(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    ComPtr<ElementContainer> PageLayout() override {
        HostCall("HostDocument.PageLayout");
        return MakeCom<ElementContainer, Container>(core_);
    }
    ComPtr<LayoutView> ActiveView() override {
        HostCall("HostDocument.ActiveView");
        return MakeCom<LayoutView, View>(core_);
    }
    ComPtr<ElementContainer> ActiveViewContainer() override {
        HostCall("HostDocument.ActiveViewContainer");
        return MakeCom<ElementContainer, Container>(core_);
    }

private:
    std::shared_ptr<Core> core_;
};

class Application final : public ComObject<HostApplication> {
public:
    explicit Application(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    ComPtr<HostDocument> Document() override {
        HostCall("HostApplication.Document");
        return MakeCom<HostDocument, qgis::Document>(core_);
    }

private:
    std::shared_ptr<Core> core_;
};

// ------------------------------------------------------------------ the atlas as map series

int32_t FieldTypeOf(QVariant::Type type) {
    switch (type) {
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong: return fieldtype::kInteger;
        case QVariant::Double: return fieldtype::kDouble;
        case QVariant::Date:
        case QVariant::DateTime:
        case QVariant::Time: return fieldtype::kDate;
        case QVariant::ByteArray: return fieldtype::kBlob;
        // As the standalone host reads a boolean of the same dataset: a whole number.
        case QVariant::Bool: return fieldtype::kInteger;
        default: return fieldtype::kString;
    }
}

Variant ValueOf(const QVariant& v) {
    if (v.isNull() || !v.isValid()) return Variant::Null();
    switch (v.type()) {
        // 1 or 0, as in the standalone host: a boolean variant converts to -1 for true.
        case QVariant::Bool: return Variant(int32_t{v.toBool() ? 1 : 0});
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong: {
            const qlonglong l = v.toLongLong();
            if (l >= INT32_MIN && l <= INT32_MAX) return Variant(static_cast<int32_t>(l));
            return Variant(v.toDouble());
        }
        case QVariant::Double: return Variant(v.toDouble());
        case QVariant::Date: return Variant(v.toDate().toString(Qt::ISODate).toStdString());
        case QVariant::DateTime: return Variant(v.toDateTime().toString(Qt::ISODate).toStdString());
        default: return Variant(v.toString().toStdString());
    }
}

// The feature id as a field, before the layer's own, where the layer has no field of its ids.
constexpr const char* kIdField = "OBJECTID";

class AtlasFeature final : public ComObject<PageFeature> {
public:
    // `idField`: the series' first field is the feature id, the layer's fields follow.
    AtlasFeature(QgsFeature feature, bool idField) : feature_(std::move(feature)), id_field_(idField) {}
    Variant Value(int32_t index) override {
        HostCall("PageFeature.Value");
        const int32_t offset = id_field_ ? 1 : 0;
        if (index < 0 || index >= feature_.attributes().size() + offset)
            Raise(hresult::kInvalidArg, "PageFeature.Value", "Field index out of range.");
        if (index < offset) return ValueOf(QVariant(feature_.id()));
        return ValueOf(feature_.attribute(index - offset));
    }

private:
    QgsFeature feature_;
    bool id_field_;
};

class AtlasSeries final : public ComObject<MapSeriesFrame> {
public:
    explicit AtlasSeries(std::weak_ptr<Core> core) : core_(std::move(core)) {}

    bool HasSeries(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.HasSeries");
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        auto* map = qobject_cast<QgsLayoutItemMap*>(ItemOf(frame));
        return map != nullptr && map->atlasDriven() && atlas != nullptr && atlas->coverageLayer() != nullptr;
    }
    bool IsSeriesEnabled(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.IsSeriesEnabled");
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        return ItemOf(frame) != nullptr && atlas != nullptr && atlas->enabled();
    }
    void Bind(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.Bind");
        if (!HasSeries(frame))
            Raise(hresult::kInvalidArg, "MapSeriesFrame.Bind", "The map frame carries no map series.");
        series_ = std::make_shared<standalone::SeriesData>();
        QgsVectorLayer* layer = Atlas("MapSeriesFrame.Bind").coverageLayer();
        series_->name = layer->name().toStdString();
        // The feature id first, as the standalone host reads a dataset: the layer's id column
        // where QGIS gives it as the layer's first field and its key (a GeoPackage's "fid"),
        // else a field of its own.
        const QgsFields fields = layer->fields();
        const QgsVectorDataProvider* provider = layer->dataProvider();
        const bool idColumn = provider != nullptr && provider->pkAttributeIndexes() == QgsAttributeList{0} &&
                              fields.count() > 0 && FieldTypeOf(fields.at(0).type()) == fieldtype::kInteger;
        id_field_ = !idColumn;
        if (id_field_) series_->fields.push_back({kIdField, fieldtype::kObjectId});
        for (int i = 0; i < fields.count(); ++i) {
            series_->fields.push_back({fields.at(i).name().toStdString(),
                                       idColumn && i == 0 ? fieldtype::kObjectId : FieldTypeOf(fields.at(i).type())});
        }
    }
    ComPtr<SeriesLayer> IndexLayer() override {
        HostCall("MapSeriesFrame.IndexLayer");
        return MakeCom<SeriesLayer, standalone::SeriesLayerImpl>(Bound("MapSeriesFrame.IndexLayer"));
    }
    Variant PageCount() override {
        HostCall("MapSeriesFrame.PageCount");
        Bound("MapSeriesFrame.PageCount");
        return Variant(static_cast<int32_t>(Atlas("MapSeriesFrame.PageCount").count()));
    }
    Variant FirstPageNumber() override {
        HostCall("MapSeriesFrame.FirstPageNumber");
        Bound("MapSeriesFrame.FirstPageNumber");
        return Variant(int32_t{1});
    }
    ComPtr<PageFeature> FeatureAt(int32_t position) override {
        HostCall("MapSeriesFrame.FeatureAt");
        Bound("MapSeriesFrame.FeatureAt");
        QgsLayoutAtlas& atlas = Atlas("MapSeriesFrame.FeatureAt");
        const int32_t inForce = atlas.currentFeatureNumber() + 1;
        if (position != inForce || inForce < 1) {
            Raise(hresult::kInvalidArg, "MapSeriesFrame.FeatureAt",
                  "No page at position " + std::to_string(position) + " is in force (the atlas shows page " +
                      std::to_string(inForce) + ").");
        }
        return MakeCom<PageFeature, AtlasFeature>(atlas.layout()->reportContext().feature(), id_field_);
    }
    void SetCurrentPage(const ComPtr<PageFeature>&, int32_t) override {
        // The atlas put the page in force before the engine was asked to place it.
        HostCall("MapSeriesFrame.SetCurrentPage");
    }

private:
    static QgsLayoutItem* ItemOf(const ComPtr<MapFrame>& frame) {
        Element* e = ElementImplOf(ComPtr<Unknown>(frame));
        return e != nullptr ? e->LiveItem() : nullptr;
    }
    QgsLayoutAtlas& Atlas(const char* op) {
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        if (atlas == nullptr || atlas->coverageLayer() == nullptr)
            Raise(hresult::kFail, op, "The layout's atlas has no coverage layer.");
        return *atlas;
    }
    const std::shared_ptr<standalone::SeriesData>& Bound(const char* op) {
        if (!series_) Raise(hresult::kFail, op, "The map series frame is not bound to a map frame.");
        return series_;
    }

    std::weak_ptr<Core> core_;
    std::shared_ptr<standalone::SeriesData> series_;
    bool id_field_ = false;  // the feature id is a field before the layer's
};

// ------------------------------------------------------------------ the page in force

// While the atlas shows a feature, the layout is a series layout whose page in force is that
// feature's: the anchor page's Apply then places for the page the designer shows.
class AtlasInForce final : public ComObject<ActiveLayoutInfo> {
public:
    explicit AtlasInForce(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    std::string LayoutName() override {
        HostCall("ActiveLayoutInfo.LayoutName");
        auto core = core_.lock();
        return core ? core->Name() : std::string();
    }
    std::string LayoutKind() override {
        HostCall("ActiveLayoutInfo.LayoutKind");
        auto core = core_.lock();
        const QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        const bool showing = atlas != nullptr && atlas->enabled() && atlas->coverageLayer() != nullptr &&
                             atlas->currentFeatureNumber() >= 0;
        return showing ? kSeriesLayout : "";
    }

private:
    std::weak_ptr<Core> core_;
};

class AtlasPage final : public ComObject<SeriesLayoutInfo> {
public:
    explicit AtlasPage(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    Variant CurrentPage(const std::string& layoutName) override {
        HostCall("SeriesLayoutInfo.CurrentPage");
        auto core = core_.lock();
        const QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        if (atlas == nullptr || core->Name() != layoutName)
            Raise(hresult::kInvalidArg, "SeriesLayoutInfo.CurrentPage", "No series layout named " + layoutName + ".");
        // Pages are numbered from 1 in the atlas's order, as the map series counts them.
        return Variant(static_cast<int32_t>(atlas->currentFeatureNumber() + 1));
    }

private:
    std::weak_ptr<Core> core_;
};

template <class I, class Impl, class... Args>
FunctionClassFactory::Maker Maker(const char* op, Args... args) {
    return [op, args...]() -> ComPtr<Unknown> {
        HostCall(op);
        return ComPtr<Unknown>(MakeCom<I, Impl>(args...));
    };
}

}  // namespace

StoredProperties RecordPropertiesOf(const QgsLayoutItem& item) {
    StoredProperties stored;
    const QString prefix = QString::fromUtf8(kRecordPrefix);
    const QString nested = prefix + '/';
    for (const QString& key : item.customProperties()) {
        if (key == prefix || key.startsWith(nested))
            stored[key.toStdString()] = item.customProperty(key).toString().toStdString();
    }
    return stored;
}

namespace {

// "X", "Y", "X and Y" for what of the item's own position is data-defined; empty for neither.
std::string DataDefinedCoordinates(const QgsLayoutItem& item) {
    const QgsPropertyCollection& properties = item.dataDefinedProperties();
    const bool x = properties.isActive(QgsLayoutObject::PositionX);
    const bool y = properties.isActive(QgsLayoutObject::PositionY);
    return x && y ? "X and Y" : x ? "X" : y ? "Y" : "";
}

// The first item inside the group, depth first, whose position is data-defined.
const QgsLayoutItem* DataDefinedMember(const QgsLayoutItemGroup& group) {
    for (const QgsLayoutItem* m : group.items()) {
        if (m == nullptr) continue;
        if (!DataDefinedCoordinates(*m).empty()) return m;
        if (const auto* inner = qobject_cast<const QgsLayoutItemGroup*>(m)) {
            if (const QgsLayoutItem* found = DataDefinedMember(*inner)) return found;
        }
    }
    return nullptr;
}

}  // namespace

std::string WhyMoveDoesNotHold(const QgsLayoutItem& item) {
    constexpr const char* kWouldNotHold = "), so a move would not hold";
    if (const std::string own = DataDefinedCoordinates(item); !own.empty())
        return "QGIS sets its position from data (data-defined " + own + kWouldNotHold;
    const auto* group = qobject_cast<const QgsLayoutItemGroup*>(&item);
    const QgsLayoutItem* member = group != nullptr ? DataDefinedMember(*group) : nullptr;
    if (member == nullptr) return {};
    return "QGIS sets the position of its member " + standalone::QuotedValue(member->id().toStdString()) +
           " from data (data-defined " + DataDefinedCoordinates(*member) + kWouldNotHold;
}

ComPtr<LayoutElement> QgisHost::Core::ElementFor(QgsLayoutItem* item) {
    if (!IsElementItem(item)) return {};
    const QString uuid = item->uuid();
    auto it = elements.find(uuid);
    if (it != elements.end()) {
        Element* e = ElementImplOf(ComPtr<Unknown>(it->second));
        if (e != nullptr && e->LiveItem() == item) return it->second;
    }
    auto element = MakeCom<LayoutElement, Element>(item, self);
    elements[uuid] = element;
    return element;
}

std::vector<ComPtr<LayoutElement>> QgisHost::Core::TopLevel(const char* op) {
    QList<QgsLayoutItem*> items;
    Layout(op).layoutItems(items);
    // The members of groups are read from the groups: an item asked whether it is a member looks
    // its group up among all the layout's items, which made each walk cost the square of the
    // layout. An item no group lists is still asked, which costs nothing unless it names a group.
    std::unordered_set<const QgsLayoutItem*> members;
    for (QgsLayoutItem* item : items) {
        if (const auto* group = qobject_cast<const QgsLayoutItemGroup*>(item)) {
            for (const QgsLayoutItem* m : group->items()) members.insert(m);
        }
    }
    std::vector<QgsLayoutItem*> top;
    for (QgsLayoutItem* item : items) {
        if (IsElementItem(item) && members.count(item) == 0 && !item->isGroupMember()) top.push_back(item);
    }
    SortForDrawing(top);
    std::vector<ComPtr<LayoutElement>> out;
    out.reserve(top.size());
    for (QgsLayoutItem* item : top) out.push_back(ElementFor(item));
    // Elements of items deleted since are let go.
    std::erase_if(elements, [](const auto& entry) {
        Element* e = ElementImplOf(ComPtr<Unknown>(entry.second));
        return e == nullptr || e->LiveItem() == nullptr;
    });
    return out;
}

QgisHost::QgisHost(QgsLayout* layout, HostOptions options) : core_(std::make_shared<Core>()) {
    core_->layout = layout;
    core_->options = options;
    core_->self = core_;
    // A headless run keeps no history: QGIS's own group moves and resizes (the atlas's refresh of
    // every page, an anchored group) would otherwise add undo commands page after page.
    if (!options.undoable && layout != nullptr) layout->undoStack()->blockCommands(true);
    Register();
}

void QgisHost::MakeCurrent() {
    core_->registrations.clear();
    Register();
}

void QgisHost::Register() {
    std::weak_ptr<Core> core = core_;
    auto add = [&](const Guid& id, FunctionClassFactory::Maker m) {
        core_->registrations.push_back(std::make_unique<ScopedClassRegistration>(id, std::move(m)));
    };
    add(clsid::HostApplication, Maker<HostApplication, Application>("Create.HostApplication", core_));
    add(clsid::PropertyBag, Maker<PropertyBag, standalone::PropertyBagImpl>("Create.PropertyBag"));
    add(clsid::Envelope, Maker<Envelope, standalone::EnvelopeImpl>("Create.Envelope"));
    add(clsid::Polygon, Maker<Polygon, standalone::PolygonImpl>("Create.Polygon"));
    add(clsid::GeometryPoint, Maker<GeometryPoint, standalone::PointImpl>("Create.GeometryPoint"));
    add(clsid::ObjectCopier, Maker<ObjectCopier, standalone::ObjectCopierImpl>("Create.ObjectCopier"));
    add(clsid::HostUID, Maker<HostUID, standalone::HostUIDImpl>("Create.HostUID"));
    add(clsid::MapSeriesFrame, Maker<MapSeriesFrame, AtlasSeries>("Create.MapSeriesFrame", core));
    add(clsid::ActiveLayoutInfo, Maker<ActiveLayoutInfo, AtlasInForce>("Create.ActiveLayoutInfo", core));
    add(clsid::SeriesLayoutInfo, Maker<SeriesLayoutInfo, AtlasPage>("Create.SeriesLayoutInfo", core));
}

QgisHost::~QgisHost() {
    try {
        StoreRecords();
    } catch (const ComError&) {
        // An item gone with its layout keeps nothing to store.
    }
    core_->registrations.clear();
    core_->elements.clear();
    if (!core_->options.undoable && core_->layout) core_->layout->undoStack()->blockCommands(false);
}

ComPtr<LayoutElement> QgisHost::ElementFor(QgsLayoutItem* item) { return core_->ElementFor(item); }

QgsLayoutItem* QgisHost::ItemOf(const ComPtr<LayoutElement>& element) {
    Element* e = ElementImplOf(ComPtr<Unknown>(element));
    return e != nullptr ? e->LiveItem() : nullptr;
}

std::optional<QgisHost::ElementPage> QgisHost::PageOf(const ComPtr<LayoutElement>& element) {
    Element* e = ElementImplOf(ComPtr<Unknown>(element));
    if (e == nullptr || e->LiveItem() == nullptr) return std::nullopt;
    const int index = e->StandingPage("QgisHost.PageOf");
    const QRectF r = core_->PageAt(index, "QgisHost.PageOf").rect();
    return ElementPage{index, r.width(), r.height()};
}

std::vector<ComPtr<LayoutElement>> QgisHost::TopLevel() { return core_->TopLevel("QgisHost.TopLevel"); }

std::string QgisHost::SelectionKey() {
    StoreRecords();
    QgsLayout& layout = core_->Layout("QgisHost.SelectionKey");
    QList<QgsLayoutItem*> items;
    layout.layoutItems(items);
    std::string key;
    const auto add = [&key](const QString& text) {
        const QByteArray bytes = text.toUtf8();
        key += std::to_string(bytes.size()) + ':';
        key.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    };
    for (const QgsLayoutItem* item : items) {
        if (!IsElementItem(item)) continue;
        add(item->uuid());
        add(item->id());
        add(item->parentGroup() != nullptr ? item->parentGroup()->uuid() : QString());
        add(QString::number(item->zValue(), 'g', 17));
        // What decides whether the engine and the host take the item at all.
        add(QString::fromStdString(qgis::WhyMoveDoesNotHold(*item)));
        if (const auto* map = qobject_cast<const QgsLayoutItemMap*>(item))
            add(map->atlasDriven() ? QStringLiteral("atlas") : QString());
        for (const auto& [name, value] : RecordPropertiesOf(*item)) {
            add(QString::fromStdString(name));
            add(QString::fromStdString(value));
        }
    }
    if (const QgsLayoutAtlas* atlas = core_->Atlas()) {
        add(atlas->enabled() ? QStringLiteral("on") : QStringLiteral("off"));
        if (const QgsVectorLayer* coverage = atlas->coverageLayer()) {
            add(coverage->id());
            for (const QgsField& field : coverage->fields()) {
                add(field.name());
                add(QString::number(field.type()));
            }
        }
    }
    return key;
}

std::string QgisHost::WhyMoveDoesNotHold(const ComPtr<LayoutElement>& element) {
    QgsLayoutItem* item = ItemOf(element);
    return item != nullptr ? qgis::WhyMoveDoesNotHold(*item) : std::string();
}

void QgisHost::StoreRecords() {
    for (auto& [uuid, element] : core_->elements) {
        Element* e = ElementImplOf(ComPtr<Unknown>(element));
        if (e != nullptr && e->LiveItem() != nullptr) e->Sync("QgisHost.StoreRecords");
    }
}

}  // namespace crv::qgis
