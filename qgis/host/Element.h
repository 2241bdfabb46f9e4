#pragma once
// A layout item as the component sees it: one element object per item while the host lives,
// its rectangles measured on the page it stands on, its record kept in its custom properties.
// Not for use outside qgis/host.

#include "qgis/host/BakedPositions.h"
#include "qgis/host/HostCore.h"
#include "objects/StoredProperties.h"

#include <qgslayoutitemgroup.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutundostack.h>
#include <qgspropertycollection.h>

#include <optional>

namespace crv::qgis {

// Fits every group around the item to its items again, innermost first, without moving them.
void FitEnclosingGroups(QgsLayoutItem& item);

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
        objects::PutRectangle(outline, r);
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
        {
            const LiftedBake lifted(item);
            // Otherwise no history: QGIS moves a group member by member, each an undo command.
            std::optional<HeldUndo> held;
            if (!undoable) held.emplace(item.layout());
            item.attemptMoveBy(dx, -dy);
        }
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
        objects::StoredProperties stored = RecordPropertiesOf(item);
        if (!loaded_) {
            custom_ = Unflatten(stored, op);
            last_ = std::move(stored);
            loaded_ = true;
            flattened_at_ = objects::PropertyBagChanges();
            return;
        }
        // The value is flattened again only when some bag has changed since it was last: until
        // then it is the one written last.
        const uint64_t changes = objects::PropertyBagChanges();
        if (flattened_at_ != changes) {
            objects::StoredProperties current = objects::FlattenCustomValue(custom_);
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
            flattened_at_ = objects::PropertyBagChanges();
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
    Variant Unflatten(const objects::StoredProperties& stored, const char* op) {
        try {
            return objects::UnflattenCustomValue(stored);
        } catch (const objects::RecordKeyError& e) {
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
    objects::StoredProperties last_;
    bool loaded_ = false;
    std::optional<uint64_t> flattened_at_;  // PropertyBagChanges() when custom_ was last flattened
};

inline Element* ElementImplOf(const ComPtr<Unknown>& object) {
    auto access = ComPtr<QgisElementAccess>::Query(object);
    return access ? static_cast<Element*>(access.Get()) : nullptr;
}

}  // namespace crv::qgis
