#include "qgis/host/QgisHost.h"

#include "qgis/host/Records.h"
#include "standalone/host/Objects.h"

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
#include <qgsprintlayout.h>
#include <qgsvectorlayer.h>

#include <QPointer>

#include <algorithm>
#include <map>
#include <memory>
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

}  // namespace

struct QgisHost::Core {
    QPointer<QgsLayout> layout;
    HostOptions options;
    std::map<QString, ComPtr<LayoutElement>> elements;  // by item uuid
    std::weak_ptr<Core> self;
    std::vector<std::unique_ptr<ScopedClassRegistration>> registrations;

    QgsLayout& Layout(const char* op) {
        if (!layout) Raise(hresult::kFail, op, "The layout is no longer open.");
        return *layout;
    }
    QgsLayoutItemPage& FirstPage(const char* op) {
        QgsLayoutItemPage* page = Layout(op).pageCollection()->page(0);
        if (page == nullptr) Raise(hresult::kFail, op, "The layout has no page.");
        return *page;
    }
    // Layout (y down from the top of the first page) to page (y up from its bottom).
    Rect ToPage(const QRectF& r, const char* op) {
        const QgsLayoutItemPage& p = FirstPage(op);
        const double left = p.pos().x();
        const double bottom = p.pos().y() + p.rect().height();
        return {r.left() - left, bottom - r.bottom(), r.right() - left, bottom - r.top()};
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
        const Rect r = BoundsRect("LayoutElement.QueryBounds");
        bounds->PutCoords(r.xmin, r.ymin, r.xmax, r.ymax);
    }
    void QueryOutline(const ComPtr<Display>& display, const ComPtr<Polygon>& outline) override {
        HostCall("LayoutElement.QueryOutline");
        if (!display || !outline)
            Raise(hresult::kPointer, "LayoutElement.QueryOutline", "A display and a polygon are required.");
        const Rect r = OutlineRect("LayoutElement.QueryOutline");
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
        const auto members = Members("ElementSequence.NextMember");
        if (next_member_ >= static_cast<size_t>(members.size())) return {};
        return ElementOf(members[static_cast<int>(next_member_++)], "ElementSequence.NextMember");
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

    // The item's own rectangle; for a group, the union of its members' bounds.
    Rect OutlineRect(const char* op) {
        QgsLayoutItem& item = Item(op);
        auto core = CoreOf(op);
        if (is_group_) {
            const auto members = Members(op);
            if (!members.isEmpty()) {
                Rect r{};
                bool first = true;
                for (QgsLayoutItem* m : members) {
                    auto* e = static_cast<Element*>(ComPtr<QgisElementAccess>::Query(ElementOf(m, op)).Get());
                    const Rect b = e->BoundsRect(op);
                    r = first ? b
                              : Rect{std::min(r.xmin, b.xmin), std::min(r.ymin, b.ymin), std::max(r.xmax, b.xmax),
                                     std::max(r.ymax, b.ymax)};
                    first = false;
                }
                return r;
            }
        }
        return core->ToPage(item.mapRectToScene(item.rect()), op);
    }
    Rect BoundsRect(const char* op) {
        if (is_group_) return OutlineRect(op);
        QgsLayoutItem& item = Item(op);
        return CoreOf(op)->ToPage(item.mapRectToScene(item.rectWithFrame()), op);
    }

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
    QList<QgsLayoutItem*> Members(const char* op) {
        auto* group = qobject_cast<QgsLayoutItemGroup*>(&Item(op));
        return group != nullptr ? group->items() : QList<QgsLayoutItem*>();
    }
    ComPtr<LayoutElement> ElementOf(QgsLayoutItem* item, const char* op) { return CoreOf(op)->ElementFor(item); }

    QPointer<QgsLayoutItem> item_;
    std::weak_ptr<QgisHost::Core> core_;
    std::string name_;
    bool is_map_ = false;
    bool is_group_ = false;
    size_t next_member_ = 0;
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
        const QRectF r = core_->FirstPage("LayoutPage.QuerySize").rect();
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
        case QVariant::Bool: return fieldtype::kSmallInteger;
        default: return fieldtype::kString;
    }
}

Variant ValueOf(const QVariant& v) {
    if (v.isNull() || !v.isValid()) return Variant::Null();
    switch (v.type()) {
        case QVariant::Bool: return Variant(v.toBool());
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

class AtlasFeature final : public ComObject<PageFeature> {
public:
    explicit AtlasFeature(QgsFeature feature) : feature_(std::move(feature)) {}
    Variant Value(int32_t index) override {
        HostCall("PageFeature.Value");
        if (index < 0 || index >= feature_.attributes().size())
            Raise(hresult::kInvalidArg, "PageFeature.Value", "Field index out of range.");
        return ValueOf(feature_.attribute(index));
    }

private:
    QgsFeature feature_;
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
        const QgsFields fields = layer->fields();
        for (int i = 0; i < fields.count(); ++i) {
            series_->fields.push_back({fields.at(i).name().toStdString(), FieldTypeOf(fields.at(i).type())});
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
        return MakeCom<PageFeature, AtlasFeature>(atlas.layout()->reportContext().feature());
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
    std::vector<QgsLayoutItem*> top;
    for (QgsLayoutItem* item : items) {
        if (IsElementItem(item) && !item->isGroupMember()) top.push_back(item);
    }
    std::stable_sort(top.begin(), top.end(),
                     [](const QgsLayoutItem* a, const QgsLayoutItem* b) { return a->zValue() < b->zValue(); });
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

std::vector<ComPtr<LayoutElement>> QgisHost::TopLevel() { return core_->TopLevel("QgisHost.TopLevel"); }

void QgisHost::StoreRecords() {
    for (auto& [uuid, element] : core_->elements) {
        Element* e = ElementImplOf(ComPtr<Unknown>(element));
        if (e != nullptr && e->LiveItem() != nullptr) e->Sync("QgisHost.StoreRecords");
    }
}

}  // namespace crv::qgis
