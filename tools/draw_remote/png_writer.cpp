#include "png_writer.h"

#include <QBuffer>
#include <QByteArray>

#include "save_file.h"

bool encodePng(const QImage& image, QByteArray& png, std::string& error) {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG")) {
        error = "PNG encoding failed";
        return false;
    }
    return true;
}

bool writePng(const QImage& image, const QString& path, std::string& error) {
    QByteArray png;
    return encodePng(image, png, error) && saveFile(png, path, error);
}
