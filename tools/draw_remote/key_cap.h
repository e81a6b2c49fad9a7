#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>

constexpr qreal kKeyRadius = 26.5;

// A round key cap of `colour` centred on `c`, lit from above; without its symbol.
void drawKeyCap(QPainter& p, QPointF c, const QColor& colour);
