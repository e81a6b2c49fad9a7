#pragma once

#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>
#include <string>

// Records what `draw` paints on a canvas of `size` as an SVG document titled `title`.
// Replaces the target only once everything succeeded. On failure, says why in `error`.
bool writeSvg(QSize size, const QString& title, const std::function<void(QPainter&)>& draw,
              const QString& path, std::string& error);
