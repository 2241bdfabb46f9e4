#include "drawing/OutlinePainter.h"

#include <QPainter>
#include <QPolygonF>

namespace crv::drawing {

void PaintOutlines(QPainter& painter, const std::vector<book::Outline>& outlines, double pixelsPerUnit,
                   double pageHeight) {
    const QColor colour(book::kOutlineRgb[0], book::kOutlineRgb[1], book::kOutlineRgb[2]);
    const auto at = [](const book::OutlineShapes::Pixel& p) { return QPointF(p.x, p.y); };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const book::Outline& o : outlines) {
        const book::OutlineShapes shapes = book::ShapesOf(o, pixelsPerUnit, pageHeight);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, shapes.pen));
        painter.drawRect(QRectF(shapes.box.x, shapes.box.y, shapes.box.width, shapes.box.height));
        if (shapes.dot) painter.drawEllipse(at(shapes.dot->first), shapes.dot->second, shapes.dot->second);
        if (shapes.line) {
            painter.setPen(QPen(colour, shapes.pen, shapes.dashed ? Qt::DashLine : Qt::SolidLine));
            painter.drawLine(at(shapes.line->first), at(shapes.line->second));
        }
        if (shapes.head) {
            const auto& h = *shapes.head;
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawPolygon(QPolygonF({at(h[0]), at(h[1]), at(h[2])}));
        }
    }
    painter.restore();
}

}  // namespace crv::drawing
