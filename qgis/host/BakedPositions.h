#pragma once
// Positions baked into a project for a QGIS without the anchoring (a colleague's desktop, QGIS
// Server): each anchored item's X and Y data-defined as a lookup of where the book put it on
// each atlas feature. The expressions are marked as the component's own (the item keeps their
// text in its custom properties): the host does not count them as QGIS placing the item from
// data, and switches them off while it moves the item itself, so that its moves hold.

#include <qgslayoutobject.h>
#include <qgslayoutpoint.h>

#include <QPointer>

#include <map>
#include <vector>

class QgsLayoutItem;

namespace crv::qgis {

// Whether the item's data-defined `property` (PositionX or PositionY) is active and the one the
// component baked, unchanged since.
bool IsBakedPosition(const QgsLayoutItem& item, QgsLayoutObject::DataDefinedProperty property);

// Makes the item's X and Y data-defined: where `places` puts its reference point for an atlas
// feature id, and `fallback` for any other feature and without an atlas; in the item's position
// units, as QGIS reads a data-defined position. Replaces what an earlier bake wrote, and keeps
// what the item had there before (its own data-defined position, switched off) for the unbake.
void BakePositions(QgsLayoutItem& item, const std::map<qint64, QgsLayoutPoint>& places, const QgsLayoutPoint& fallback);

// Removes the positions the component baked into the item, giving back what it had there before;
// true when there were any. A baked position the user has edited since is the user's and stays.
bool UnbakePositions(QgsLayoutItem& item);

// While it lives, the baked positions of the item, and of the items inside it for a group, are
// switched off: QGIS applies a data-defined position on every move and refresh, which would put
// the item back where the bake had it. The item stays where it is meanwhile.
class LiftedBake {
public:
    explicit LiftedBake(QgsLayoutItem& item);
    ~LiftedBake();
    LiftedBake(const LiftedBake&) = delete;
    LiftedBake& operator=(const LiftedBake&) = delete;

private:
    std::vector<std::pair<QPointer<QgsLayoutItem>, QgsLayoutObject::DataDefinedProperty>> lifted_;
};

}  // namespace crv::qgis
