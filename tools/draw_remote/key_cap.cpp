#include "key_cap.h"

#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>

namespace {

QRectF ellipseBounds(QPointF centre, qreal rx, qreal ry) {
    return QRectF(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
}

// QSvgGenerator drops clip paths and strokes a pen that carries a gradient in black; what it
// records instead is the filled shape each of these comes to.
bool recordsVectors(const QPainter& p) {
    return p.paintEngine()->type() == QPaintEngine::SVG;
}

void fillEllipseWithin(QPainter& p, const QRectF& ellipse, const QPainterPath& clip,
                       const QBrush& brush) {
    if (recordsVectors(p)) {
        QPainterPath shape;
        shape.addEllipse(ellipse);
        p.fillPath(shape.intersected(clip), brush);
        return;
    }
    p.save();
    p.setClipPath(clip);
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    p.drawEllipse(ellipse);
    p.restore();
}

void outlineEllipse(QPainter& p, const QRectF& ellipse, const QPen& pen) {
    if (recordsVectors(p)) {
        QPainterPath shape;
        shape.addEllipse(ellipse);
        p.fillPath(QPainterPathStroker(pen).createStroke(shape), pen.brush());
        return;
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(pen);
    p.drawEllipse(ellipse);
}

}  // namespace

void drawKeyCap(QPainter& p, QPointF c, const QColor& colour) {
    const qreal r = kKeyRadius;
    p.setPen(Qt::NoPen);

    // The skirt, seen as a darker band below the face.
    QLinearGradient skirt(c.x(), c.y() - r, c.x(), c.y() + r);
    skirt.setColorAt(0, colour.lighter(150));
    skirt.setColorAt(0.5, colour.darker(115));
    skirt.setColorAt(1, colour.darker(190));
    p.setBrush(skirt);
    p.drawEllipse(c, r, r);

    // A slightly domed face, lit from the upper left.
    const QPointF faceCentre = c + QPointF(0, -0.8);
    const qreal faceRadius = r - 2.2;
    QRadialGradient dome(faceCentre, faceRadius * 1.25, c + QPointF(-r * 0.35, -r * 0.45));
    dome.setColorAt(0, colour.lighter(128));
    dome.setColorAt(0.55, colour);
    dome.setColorAt(1, colour.darker(135));
    p.setBrush(dome);
    p.drawEllipse(faceCentre, faceRadius, faceRadius);

    // Soft specular patch of the overhead light.
    QRadialGradient shine(c + QPointF(-r * 0.18, -r * 0.55), r * 0.62);
    shine.setColorAt(0, QColor(255, 255, 255, 70));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    QPainterPath faceOutline;
    faceOutline.addEllipse(faceCentre, faceRadius, faceRadius);
    fillEllipseWithin(p, ellipseBounds(c + QPointF(-r * 0.18, -r * 0.55), r * 0.75, r * 0.5),
                      faceOutline, shine);

    // Edge of the face catches light at the top and goes dark at the bottom.
    QLinearGradient edge(c.x(), c.y() - r, c.x(), c.y() + r);
    edge.setColorAt(0, QColor(255, 255, 255, 120));
    edge.setColorAt(0.45, QColor(255, 255, 255, 0));
    edge.setColorAt(0.6, QColor(0, 0, 0, 0));
    edge.setColorAt(1, QColor(0, 0, 0, 90));
    outlineEllipse(p, ellipseBounds(faceCentre, faceRadius - 0.5, faceRadius - 0.5),
                   QPen(QBrush(edge), 1.0));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 110), 0.8));
    p.drawEllipse(c, r - 0.4, r - 0.4);

    // Light bounced off the pale casing softens the underside of the skirt.
    p.setPen(QPen(QColor(255, 255, 255, 46), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(c.x() - r + 1.6, c.y() - r + 1.6, 2 * r - 3.2, 2 * r - 3.2), -140 * 16,
              100 * 16);
}
