#pragma once

#include <QColor>
#include <QImage>

constexpr int kWidth = 240;
constexpr int kHeight = 520;

// The colour of every symbol printed on a key.
inline const QColor kInk(240, 242, 245);

// A see-through layer the size of the picture, to draw shadows and effects on.
inline QImage transparentLayer() {
    QImage layer(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    return layer;
}
