#pragma once

#include <QImage>
#include <QString>
#include <string>

// Writes `image` as a baseline JPEG with three components. Encodes into memory first and
// replaces the target only once everything succeeded, so a failed run never leaves a truncated
// picture behind. On failure, says why in `error`.
bool writeJpeg(const QImage& image, const QString& path, std::string& error);
