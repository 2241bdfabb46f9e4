#include "anchor/ReferenceGeometry.h"

namespace crv {

Extent ExtentOf(const ComPtr<Envelope>& e) {
    return {e->XMin(), e->YMin(), e->XMax(), e->YMax(), e->Width(), e->Height()};
}

Extent ElementExtent(const ComPtr<LayoutElement>& element, const ComPtr<Display>& display, OutlineEnvelope outline) {
    ComPtr<Envelope> rect;
    if (outline == OutlineEnvelope::Measured) rect = NewEnvelope();
    if (ComPtr<MapFrame>::Query(element)) {
        const ComPtr<Polygon> polygon = NewPolygon();
        element->QueryOutline(display, polygon);
        const ComPtr<Envelope> envelope = polygon->GetEnvelope();
        if (outline != OutlineEnvelope::Copied) return ExtentOf(envelope);
        rect = NewEnvelope();
        rect->PutCoords(envelope->XMin(), envelope->YMin(), envelope->XMax(), envelope->YMax());
        return ExtentOf(rect);
    }
    if (!rect) rect = NewEnvelope();
    element->QueryBounds(display, rect);
    return ExtentOf(rect);
}

}  // namespace crv
