#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <string>

// `image` as PNG bytes with an alpha channel; false, with the reason in `error`, on failure.
bool encodePng(const QImage& image, QByteArray& png, std::string& error);

// Writes `image` as a PNG with an alpha channel and no time stamp, so that an unchanged image
// gives the same bytes. Replaces the target only once everything succeeded. On failure, says
// why in `error`.
bool writePng(const QImage& image, const QString& path, std::string& error);
