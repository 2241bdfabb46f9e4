#include "qgis/host/BakedPositions.h"

#include <qgslayoutitem.h>
#include <qgslayoutitemgroup.h>
#include <qgsproperty.h>
#include <qgsxmlutils.h>

#include <QDomDocument>

namespace crv::qgis {

namespace {

constexpr QgsLayoutObject::DataDefinedProperty kCoordinates[] = {QgsLayoutObject::PositionX,
                                                                 QgsLayoutObject::PositionY};

// The custom property that keeps the text of the expression the component baked.
QString MarkKey(QgsLayoutObject::DataDefinedProperty property) {
    return property == QgsLayoutObject::PositionX ? QStringLiteral("crvanchor-bake/x")
                                                  : QStringLiteral("crvanchor-bake/y");
}

// The custom property that keeps what the item had in the coordinate's place before the bake (a
// data-defined position of the user's, switched off), given back by an unbake.
QString BeforeKey(QgsLayoutObject::DataDefinedProperty property) {
    return MarkKey(property) + QStringLiteral("-before");
}

// A property as text a custom property keeps whatever QGIS's version writes custom properties as.
QString PropertyText(const QgsProperty& p) {
    QDomDocument doc;
    doc.appendChild(QgsXmlUtils::writeVariant(p.toVariant(), doc));
    return doc.toString(-1);
}

QgsProperty PropertyFromText(const QString& text) {
    QDomDocument doc;
    QgsProperty p;
    if (doc.setContent(text)) p.loadVariant(QgsXmlUtils::readVariant(doc.documentElement()));
    return p;
}

// The shortest fixed-point text that reads back as `value`: an expression a user can read.
QString Number(double value) {
    for (int decimals = 0; decimals < 17; ++decimals) {
        const QString text = QString::number(value, 'f', decimals);
        if (text.toDouble() == value) return text;
    }
    return QString::number(value, 'f', 17);
}

// The coordinate for the atlas feature in force, looked up by its id; the fallback without an
// atlas or for a feature the bake did not see (added since). QGIS evaluates the constant map
// once per expression, so a page costs one lookup.
QString LookupExpression(const std::map<qint64, double>& byFeature, double fallback) {
    QStringList entries;
    for (const auto& [id, value] : byFeature) {
        if (value != fallback) entries << QStringLiteral("'%1', %2").arg(id).arg(Number(value));
    }
    if (entries.isEmpty()) return Number(fallback);
    return QStringLiteral("coalesce(map_get(map(%1), to_string(@atlas_featureid)), %2)")
        .arg(entries.join(QStringLiteral(", ")), Number(fallback));
}

}  // namespace

bool IsBakedPosition(const QgsLayoutItem& item, QgsLayoutObject::DataDefinedProperty property) {
    const QgsProperty p = item.dataDefinedProperties().property(property);
    if (!p.isActive() || p.propertyType() != QgsProperty::ExpressionBasedProperty) return false;
    const QVariant mark = item.customProperty(MarkKey(property));
    return mark.isValid() && mark.toString() == p.expressionString();
}

void BakePositions(QgsLayoutItem& item, const std::map<qint64, QgsLayoutPoint>& places,
                   const QgsLayoutPoint& fallback) {
    UnbakePositions(item);
    for (const auto property : kCoordinates) {
        // The item's own data-defined position, switched off (one switched on leaves the item
        // out of the anchoring): kept for the unbake.
        const QgsProperty before = item.dataDefinedProperties().property(property);
        if (before.propertyType() != QgsProperty::InvalidProperty)
            item.setCustomProperty(BeforeKey(property), PropertyText(before));
        const bool x = property == QgsLayoutObject::PositionX;
        std::map<qint64, double> byFeature;
        for (const auto& [id, point] : places) byFeature[id] = x ? point.x() : point.y();
        const QString expression = LookupExpression(byFeature, x ? fallback.x() : fallback.y());
        item.dataDefinedProperties().setProperty(property, QgsProperty::fromExpression(expression));
        item.setCustomProperty(MarkKey(property), expression);
    }
}

bool UnbakePositions(QgsLayoutItem& item) {
    bool any = false;
    for (const auto property : kCoordinates) {
        const QVariant mark = item.customProperty(MarkKey(property));
        if (!mark.isValid()) continue;
        any = true;
        const QgsProperty p = item.dataDefinedProperties().property(property);
        // Edited since: the user's now. Otherwise what was there before the bake is back.
        if (p.propertyType() == QgsProperty::ExpressionBasedProperty && p.expressionString() == mark.toString()) {
            const QVariant before = item.customProperty(BeforeKey(property));
            item.dataDefinedProperties().setProperty(
                property, before.isValid() ? PropertyFromText(before.toString()) : QgsProperty());
        }
        item.removeCustomProperty(MarkKey(property));
        item.removeCustomProperty(BeforeKey(property));
    }
    return any;
}

LiftedBake::LiftedBake(QgsLayoutItem& item) {
    std::vector<QgsLayoutItem*> items{&item};
    for (size_t i = 0; i < items.size(); ++i) {
        if (const auto* group = qobject_cast<const QgsLayoutItemGroup*>(items[i])) {
            for (QgsLayoutItem* m : group->items()) {
                if (m != nullptr) items.push_back(m);
            }
        }
        for (const auto property : kCoordinates) {
            if (!IsBakedPosition(*items[i], property)) continue;
            QgsProperty p = items[i]->dataDefinedProperties().property(property);
            p.setActive(false);
            items[i]->dataDefinedProperties().setProperty(property, p);
            lifted_.emplace_back(items[i], property);
        }
    }
}

LiftedBake::~LiftedBake() {
    for (const auto& [item, property] : lifted_) {
        // Read once: the item may have gone with the layout.
        QgsLayoutItem* live = item.data();
        if (live == nullptr) continue;
        QgsProperty p = live->dataDefinedProperties().property(property);
        p.setActive(true);
        live->dataDefinedProperties().setProperty(property, p);
    }
}

}  // namespace crv::qgis
