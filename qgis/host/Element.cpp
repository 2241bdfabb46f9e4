#include "qgis/host/Element.h"

#include "qgis/host/BakedPositions.h"
#include "support/MessageText.h"

namespace crv::qgis {

// QGIS keeps a group's own rectangle, which does not follow when an item inside moves alone, and
// moves and resizes the group's items by it when it refreshes the layout (a page drawn in the
// designer): with a stale group, items jumped. Fits every group around the item, innermost
// first, to its items again as QGIS fits a group it makes (the union of their rectangles,
// frames left out), without moving them. QGIS's group moves would record a move of each item
// as an undo step: none is recorded.
void FitEnclosingGroups(QgsLayoutItem& item) {
    QgsLayout* layout = item.layout();
    if (layout == nullptr) return;
    const HeldUndo held(layout);
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
}

objects::StoredProperties RecordPropertiesOf(const QgsLayoutItem& item) {
    objects::StoredProperties stored;
    const QString prefix = QString::fromUtf8(objects::kRecordPrefix);
    const QString nested = prefix + '/';
    for (const QString& key : item.customProperties()) {
        if (key == prefix || key.startsWith(nested))
            stored[key.toStdString()] = item.customProperty(key).toString().toStdString();
    }
    return stored;
}

namespace {

// "X", "Y", "X and Y" for what of the item's own position is data-defined; empty for neither.
// The positions the component baked are its own, not QGIS's.
std::string DataDefinedCoordinates(const QgsLayoutItem& item) {
    const QgsPropertyCollection& properties = item.dataDefinedProperties();
    const bool x =
        properties.isActive(QgsLayoutObject::PositionX) && !IsBakedPosition(item, QgsLayoutObject::PositionX);
    const bool y =
        properties.isActive(QgsLayoutObject::PositionY) && !IsBakedPosition(item, QgsLayoutObject::PositionY);
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
    return "QGIS sets the position of its member " + support::QuotedValue(member->id().toStdString()) +
           " from data (data-defined " + DataDefinedCoordinates(*member) + kWouldNotHold;
}

}  // namespace crv::qgis
