#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>

constexpr int kWidth = 240;
constexpr int kHeight = 520;

// The colour of every symbol printed on a key.
inline const QColor kInk(240, 242, 245);

// A see-through layer the size of the picture, to draw shadows and effects on, at the pixel
// density of what `onto` paints on so that it lines up pixel for pixel.
inline QImage transparentLayer(const QPainter& onto) {
    const int ratio = qRound(onto.device()->devicePixelRatio());
    QImage layer(kWidth * ratio, kHeight * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    return layer;
}
