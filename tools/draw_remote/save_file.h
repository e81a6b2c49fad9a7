#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// Writes `bytes` to `path`, replacing the file only once all of it is written, so a failed run
// never leaves a truncated file behind. On failure, says why in `error`.
bool saveFile(const QByteArray& bytes, const QString& path, std::string& error);
