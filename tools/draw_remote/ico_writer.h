#pragma once

#include <QImage>
#include <QString>
#include <string>
#include <vector>

// Writes `images` (square, 1 to 256 pixels a side) as one Windows icon file, each image stored
// as PNG, which Windows reads at every size since Vista. Replaces the target only once
// everything succeeded. On failure, says why in `error`.
bool writeIco(const std::vector<QImage>& images, const QString& path, std::string& error);
