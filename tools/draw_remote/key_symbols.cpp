#include "key_symbols.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <cmath>
#include <vector>

#include "canvas.h"

QFont digitFont(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

namespace {

// Channel numbers wrap 4 -> 1.
int nextChannel(int channel, int step) {
    return (channel - 1 + step) % 4 + 1;
}

// Centres the ink of `text` (not its line box) on `centre`, baseline on a whole pixel.
void drawCentredText(QPainter& p, const QString& text, QPointF centre, int pixelSize) {
    const QFont font = digitFont(pixelSize);
    const QFontMetricsF metrics(font);
    const QRectF ink = metrics.tightBoundingRect(text);
    const qreal x = std::round(centre.x() - ink.center().x());
    const qreal y = std::round(centre.y() - ink.center().y());
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QPointF(x, y), text);
}

// Panes are laid out on whole-pixel grid lines so their 1 px outlines stay sharp.
struct Pane {
    int left, top, right, bottom;  // grid lines relative to the symbol's top-left
    int number;
    int fontSize;
};

void drawPanes(QPainter& p, QPoint topLeft, const std::vector<Pane>& panes) {
    for (const Pane& pane : panes) {
        const QRectF box(topLeft.x() + pane.left + 0.5, topLeft.y() + pane.top + 0.5,
                         pane.right - pane.left, pane.bottom - pane.top);
        p.fillRect(box, QColor(255, 255, 255, 22));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 1.1));
    for (const Pane& pane : panes) {
        const QRectF box(topLeft.x() + pane.left + 0.5, topLeft.y() + pane.top + 0.5,
                         pane.right - pane.left, pane.bottom - pane.top);
        p.drawRect(box);
    }
    for (const Pane& pane : panes) {
        const QPointF centre(topLeft.x() + (pane.left + pane.right) / 2.0 + 0.5,
                             topLeft.y() + (pane.top + pane.bottom) / 2.0 + 0.5);
        drawCentredText(p, QString::number(pane.number), centre, pane.fontSize);
    }
}

void drawPower(QPainter& p, QPoint c) {
    QPen pen(kInk, 2.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - 10.0, c.y() - 9.0, 20.0, 20.0);
    // Qt angles: 1/16 degree, counter-clockwise from three o'clock; leave a gap at twelve.
    p.drawArc(ring, (90 + 38) * 16, (360 - 2 * 38) * 16);
    p.drawLine(QPointF(c.x(), c.y() - 12.0), QPointF(c.x(), c.y() + 0.5));
}

QPainterPath speakerPath(QPointF at, qreal scale) {
    // Magnet block and cone, `at` being the middle of the block's left edge.
    QPainterPath path;
    path.addRect(QRectF(at.x(), at.y() - 3.2 * scale, 4.2 * scale, 6.4 * scale));
    QPolygonF cone;
    cone << QPointF(at.x() + 3.6 * scale, at.y() - 3.2 * scale)
         << QPointF(at.x() + 9.5 * scale, at.y() - 8.0 * scale)
         << QPointF(at.x() + 9.5 * scale, at.y() + 8.0 * scale)
         << QPointF(at.x() + 3.6 * scale, at.y() + 3.2 * scale);
    path.addPolygon(cone);
    path.closeSubpath();
    path.setFillRule(Qt::WindingFill);
    return path;
}

// Fills the speaker and leaves the pen set for its sound waves.
void drawSpeakerBody(QPainter& p, QPointF at, qreal scale, qreal waveWidth) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(speakerPath(at, scale));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, waveWidth, Qt::SolidLine, Qt::RoundCap));
}

void drawSpeaker(QPainter& p, QPoint c, int channel) {
    const QPointF at(c.x() - 15.5, c.y());
    drawSpeakerBody(p, at, 1.1, 1.6);
    const QPointF waveCentre(at.x() + 9.5, at.y());
    p.drawArc(QRectF(waveCentre.x() - 5.0, waveCentre.y() - 5.0, 10, 10), -55 * 16, 110 * 16);
    drawCentredText(p, QString::number(channel), QPointF(c.x() + 9.0, c.y()), 17);
}

void drawMute(QPainter& p, QPoint c) {
    // Drawn on its own layer so the bar can cut a clean gap through the speaker.
    QImage layer = transparentLayer(p);
    QPainter m(&layer);
    m.setRenderHint(QPainter::Antialiasing);
    const QPointF at(c.x() - 12.5, c.y());
    drawSpeakerBody(m, at, 1.3, 1.7);
    const QPointF waveCentre(at.x() + 12.5, at.y());
    m.drawArc(QRectF(waveCentre.x() - 5.0, waveCentre.y() - 5.0, 10, 10), -50 * 16, 100 * 16);
    m.drawArc(QRectF(waveCentre.x() - 10.0, waveCentre.y() - 10.0, 20, 20), -50 * 16, 100 * 16);

    const QLineF bar(QPointF(c.x() - 13.0, c.y() - 13.0), QPointF(c.x() + 13.0, c.y() + 13.0));
    m.setCompositionMode(QPainter::CompositionMode_Clear);
    m.setPen(QPen(Qt::black, 5.6, Qt::SolidLine, Qt::RoundCap));
    m.drawLine(bar);
    m.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m.setPen(QPen(QColor(255, 44, 48), 3.0, Qt::SolidLine, Qt::RoundCap));
    m.drawLine(bar);
    m.end();
    p.drawImage(0, 0, layer);
}

void drawOutputSize(QPainter& p, QPoint c) {
    const QFont small = digitFont(11);
    const QFont large = digitFont(20);
    const qreal baseline = c.y() + 7.0;
    p.setPen(kInk);
    p.setFont(small);
    const qreal smallWidth = QFontMetricsF(small).horizontalAdvance(QStringLiteral("z"));
    const qreal largeWidth = QFontMetricsF(large).horizontalAdvance(QStringLiteral("Z"));
    const qreal gap = 9.0;
    const qreal left = std::round(c.x() - (smallWidth + gap + largeWidth) / 2.0);
    p.drawText(QPointF(left, baseline), QStringLiteral("z"));
    p.setFont(large);
    p.drawText(QPointF(left + smallWidth + gap, baseline), QStringLiteral("Z"));
    p.setPen(QPen(kInk, 1.5, Qt::SolidLine, Qt::RoundCap));
    const qreal mid = left + smallWidth + gap / 2.0;
    p.drawLine(QPointF(mid - 2.0, baseline - 1.0), QPointF(mid + 2.0, baseline - 12.0));
}

}  // namespace

void drawSymbol(QPainter& p, QPoint c, const KeyArt& key) {
    const int n = key.number;
    switch (key.symbol) {
        case Symbol::Power:
            drawPower(p, c);
            break;
        case Symbol::BigAndThree:
            drawPanes(p, c - QPoint(18, 14),
                      {{0, 0, 24, 27, n, 15},
                       {24, 0, 35, 9, nextChannel(n, 1), 7},
                       {24, 9, 35, 18, nextChannel(n, 2), 7},
                       {24, 18, 35, 27, nextChannel(n, 3), 7}});
            break;
        case Symbol::Columns:
            drawPanes(p, c - QPoint(18, 14),
                      {{0, 0, 9, 27, 1, 9},
                       {9, 0, 26, 13, 2, 9},
                       {9, 13, 26, 27, 3, 9},
                       {26, 0, 35, 27, 4, 9}});
            break;
        case Symbol::Pair:
            drawPanes(p, c - QPoint(18, 12), {{0, 0, 17, 23, n, 13}, {17, 0, 35, 23, n + 1, 13}});
            break;
        case Symbol::Blank:
            break;
        case Symbol::Speaker:
            drawSpeaker(p, c, n);
            break;
        case Symbol::Mute:
            drawMute(p, c);
            break;
        case Symbol::OutputSize:
            drawOutputSize(p, c);
            break;
        case Symbol::Single:
            drawPanes(p, c - QPoint(15, 12), {{0, 0, 29, 23, n, 17}});
            break;
        case Symbol::Grid:
            drawPanes(p, c - QPoint(18, 14),
                      {{0, 0, 17, 13, 1, 10},
                       {17, 0, 35, 13, 2, 10},
                       {0, 13, 17, 27, 3, 10},
                       {17, 13, 35, 27, 4, 10}});
            break;
    }
}
