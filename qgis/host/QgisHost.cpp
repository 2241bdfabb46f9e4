#include "qgis/host/QgisHost.h"

#include "qgis/host/AtlasSeries.h"
#include "qgis/host/Element.h"
#include "qgis/host/HostCore.h"
#include "objects/StoredProperties.h"
#include "support/MessageText.h"

#include <qgslayoutundostack.h>
#include <qgsvectorlayer.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_set>

namespace crv::qgis {

namespace {

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
        // The positions baked for a QGIS without the anchoring would undo the move.
        const LiftedBake lifted(*item);
        // QGIS's refresh of a group moves and resizes it member by member, each an undo command.
        std::optional<HeldUndo> held;
        if (!core_->options.undoable) held.emplace(core_->layout.data());
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
        return MakeCom<Display, objects::DisplayImpl>();
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

template <class I, class Impl, class... Args>
FunctionClassFactory::Maker Maker(const char* op, Args... args) {
    return [op, args...]() -> ComPtr<Unknown> {
        HostCall(op);
        return ComPtr<Unknown>(MakeCom<I, Impl>(args...));
    };
}

}  // namespace

int32_t FirstPageNumber(const QgsLayout& layout) {
    const QVariant value = layout.customProperty(QString::fromLatin1(kFirstPageProperty));
    if (!value.isValid()) return 1;
    const QString text = value.toString();
    bool whole = false;
    const int number = text.toInt(&whole);
    // The page numbers of a map series are 16-bit whole numbers.
    if (!whole || number < INT16_MIN || number > INT16_MAX)
        throw std::invalid_argument(std::string("its custom property ") + kFirstPageProperty + " is " +
                                    support::QuotedValue(text.toStdString()) +
                                    ", not a whole number from -32768 to 32767");
    return number;
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

QgsLayout* QgisHost::Layout() const { return core_->layout.data(); }

QgisHost::QgisHost(QgsLayout* layout, HostOptions options) : core_(std::make_shared<Core>()) {
    core_->layout = layout;
    core_->options = options;
    core_->self = core_;
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
    add(clsid::PropertyBag, Maker<PropertyBag, objects::PropertyBagImpl>("Create.PropertyBag"));
    add(clsid::Envelope, Maker<Envelope, objects::EnvelopeImpl>("Create.Envelope"));
    add(clsid::Polygon, Maker<Polygon, objects::PolygonImpl>("Create.Polygon"));
    add(clsid::GeometryPoint, Maker<GeometryPoint, objects::PointImpl>("Create.GeometryPoint"));
    add(clsid::ObjectCopier, Maker<ObjectCopier, objects::ObjectCopierImpl>("Create.ObjectCopier"));
    add(clsid::HostUID, Maker<HostUID, objects::HostUIDImpl>("Create.HostUID"));
    add(clsid::MapSeriesFrame, AtlasSeriesMaker(core));
    add(clsid::ActiveLayoutInfo, AtlasInForceMaker(core));
    add(clsid::SeriesLayoutInfo, AtlasPageMaker(core));
}

QgisHost::~QgisHost() {
    try {
        StoreRecords();
    } catch (const ComError&) {
        // An item gone with its layout keeps nothing to store.
    }
    core_->registrations.clear();
    core_->elements.clear();
}

HeldUndo::HeldUndo(QgsLayout* layout) : layout_(layout) {
    if (layout != nullptr) layout->undoStack()->blockCommands(true);
}

HeldUndo::~HeldUndo() {
    if (layout_) layout_->undoStack()->blockCommands(false);
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
