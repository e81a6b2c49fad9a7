#include "svg_writer.h"

#include <QBuffer>
#include <QByteArray>
#include <QSvgGenerator>

#include "save_file.h"

bool writeSvg(QSize size, const QString& title, const std::function<void(QPainter&)>& draw,
              const QString& path, std::string& error) {
    QByteArray svg;
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(title);
    QPainter painter;
    if (!painter.begin(&generator)) {
        error = "SVG output could not be started";
        return false;
    }
    draw(painter);
    painter.end();
    return saveFile(svg, path, error);
}
