// Draws the picture of the remote control that the main window shows, and writes it as a
// baseline JPEG. Run by hand when the picture should change:
//     draw_remote resources/remote.jpg
// With the same fonts and libraries, regenerating an unchanged picture gives the same bytes.

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QString>

#include <jpeglib.h>

#include "app/key_areas.h"

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 520;
constexpr int kJpegQuality = 92;
constexpr qreal kKeyRadius = 26.5;

enum class Symbol {
    Power,
    BigAndThree,  // one large pane, the next three numbers stacked at its right
    Columns,      // narrow 1, 2 over 3, narrow 4
    Pair,         // two panes side by side
    Blank,
    Speaker,
    Mute,
    OutputSize,
    Single,
    Grid,
};

struct KeyArt {
    QColor cap;
    Symbol symbol;
    int number;  // first pane or channel the symbol shows; 0 when it shows none
};

const QColor kRed(196, 36, 40);
const QColor kDarkGreen(28, 100, 54);
const QColor kLightGreen(86, 158, 98);
const QColor kBlue(30, 84, 170);
const QColor kPurple(104, 56, 150);
const QColor kBlack(36, 38, 42);

// In hotspot order.
const std::array<KeyArt, 21> kKeys = {{
    {kRed, Symbol::Power, 0},          // 1
    {kRed, Symbol::BigAndThree, 1},    // 2
    {kRed, Symbol::Columns, 0},        // 3
    {kDarkGreen, Symbol::Pair, 1},     // 4
    {kDarkGreen, Symbol::Pair, 3},     // 5
    {kLightGreen, Symbol::Blank, 0},   // 6
    {kBlue, Symbol::Speaker, 1},       // 7
    {kBlue, Symbol::Speaker, 2},       // 8
    {kPurple, Symbol::Mute, 0},        // 9
    {kBlack, Symbol::Speaker, 3},      // 10
    {kBlack, Symbol::Speaker, 4},      // 11
    {kBlack, Symbol::OutputSize, 0},   // 12
    {kBlack, Symbol::Single, 1},       // 13
    {kBlack, Symbol::Single, 2},       // 14
    {kBlack, Symbol::Single, 3},       // 15
    {kBlack, Symbol::Single, 4},       // 16
    {kBlack, Symbol::Grid, 0},         // 17
    {kBlack, Symbol::BigAndThree, 1},  // 18
    {kBlack, Symbol::BigAndThree, 2},  // 19
    {kBlack, Symbol::BigAndThree, 3},  // 20
    {kBlack, Symbol::BigAndThree, 4},  // 21
}};

const QColor kInk(240, 242, 245);

QPoint keyCentre(int index) {
    const app::KeyArea& area = app::kKeyAreas[static_cast<std::size_t>(index)];
    return QPoint(area.left + app::kKeyAreaSide / 2, area.top + app::kKeyAreaSide / 2);
}

// Channel numbers wrap 4 -> 1.
int nextChannel(int channel, int step) {
    return (channel - 1 + step) % 4 + 1;
}

// Three box passes approximate a gaussian closely enough for soft shadows.
void blur(QImage& image, int radius) {
    const int w = image.width();
    const int h = image.height();
    std::vector<std::array<int, 4>> line(static_cast<std::size_t>(std::max(w, h)));
    const auto pass = [&](bool horizontal) {
        const int length = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        const int window = 2 * radius + 1;
        for (int l = 0; l < lines; ++l) {
            auto pixel = [&](int i) -> QRgb& {
                const int x = horizontal ? i : l;
                const int y = horizontal ? l : i;
                return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
            };
            for (int i = 0; i < length; ++i) {
                const QRgb p = pixel(i);
                line[static_cast<std::size_t>(i)] = {qRed(p), qGreen(p), qBlue(p), qAlpha(p)};
            }
            std::array<int, 4> sum{};
            for (int i = -radius - 1; i < radius; ++i) {
                const auto& v = line[static_cast<std::size_t>(std::clamp(i, 0, length - 1))];
                for (int c = 0; c < 4; ++c) {
                    sum[static_cast<std::size_t>(c)] += v[static_cast<std::size_t>(c)];
                }
            }
            for (int i = 0; i < length; ++i) {
                const auto& in =
                    line[static_cast<std::size_t>(std::clamp(i + radius, 0, length - 1))];
                const auto& out =
                    line[static_cast<std::size_t>(std::clamp(i - radius - 1, 0, length - 1))];
                for (std::size_t c = 0; c < 4; ++c) {
                    sum[c] += in[c] - out[c];
                }
                pixel(i) =
                    qRgba(sum[0] / window, sum[1] / window, sum[2] / window, sum[3] / window);
            }
        }
    };
    for (int n = 0; n < 3; ++n) {
        pass(true);
        pass(false);
    }
}

QImage transparentLayer() {
    QImage layer(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    return layer;
}

QPainterPath bodyOutline(qreal inset) {
    QPainterPath path;
    const QRectF outer(2.5, 3.5, kWidth - 7.0, kHeight - 6.0);
    const qreal radius = 24 - inset;
    path.addRoundedRect(outer.adjusted(inset, inset, -inset, -inset), radius, radius);
    return path;
}

void drawBackground(QPainter& p) {
    QLinearGradient sweep(0, 0, 0, kHeight);
    sweep.setColorAt(0, QColor(206, 207, 209));
    sweep.setColorAt(1, QColor(176, 177, 180));
    p.fillRect(QRect(0, 0, kWidth, kHeight), sweep);
}

void drawBodyShadow(QPainter& p) {
    QImage shadow = transparentLayer();
    {
        QPainter s(&shadow);
        s.setRenderHint(QPainter::Antialiasing);
        s.translate(0.5, 2.5);
        s.fillPath(bodyOutline(0.5), QColor(0, 0, 0, 150));
    }
    blur(shadow, 2);
    p.drawImage(0, 0, shadow);
}

// Fine grain so the casing reads as moulded plastic rather than a flat fill.
QImage plasticGrain() {
    QImage grain = transparentLayer();
    // mt19937's sequence is fixed by the standard; distributions are not, so map it by hand.
    std::mt19937 random(20240611u);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(grain.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const int v = static_cast<int>(random() % 15) - 7;
            const int a = std::abs(v);
            const int c = v > 0 ? a : 0;  // premultiplied white or black
            row[x] = qRgba(c, c, c, a);
        }
    }
    return grain;
}

void drawBody(QPainter& p) {
    const QPainterPath outer = bodyOutline(0);
    const QPainterPath face = bodyOutline(2.5);

    // The chamfer: lit along the top and left, falling into shade at the bottom and right.
    QLinearGradient edge(0, 0, 0, kHeight);
    edge.setColorAt(0, QColor(244, 245, 246));
    edge.setColorAt(0.5, QColor(196, 198, 201));
    edge.setColorAt(1, QColor(146, 148, 152));
    p.fillPath(outer, edge);
    QLinearGradient across(0, 0, kWidth, 0);
    across.setColorAt(0, QColor(255, 255, 255, 70));
    across.setColorAt(0.5, QColor(128, 128, 128, 0));
    across.setColorAt(1, QColor(0, 0, 0, 45));
    p.fillPath(outer, across);

    QLinearGradient tone(0, 0, 0, kHeight);
    tone.setColorAt(0, QColor(229, 230, 232));
    tone.setColorAt(0.5, QColor(217, 218, 221));
    tone.setColorAt(1, QColor(201, 203, 206));
    p.fillPath(face, tone);

    p.save();
    p.setClipPath(face);
    // A broad, soft reflection of a window light across the upper half.
    QLinearGradient sheen(0, 40, kWidth, 260);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.35, QColor(255, 255, 255, 42));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 12));
    sheen.setColorAt(0.75, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, kWidth, kHeight), sheen);
    // Side falloff gives the face a little curvature.
    QLinearGradient sides(0, 0, kWidth, 0);
    sides.setColorAt(0.0, QColor(0, 0, 0, 22));
    sides.setColorAt(0.12, QColor(0, 0, 0, 0));
    sides.setColorAt(0.88, QColor(0, 0, 0, 0));
    sides.setColorAt(1.0, QColor(0, 0, 0, 30));
    p.fillRect(QRect(0, 0, kWidth, kHeight), sides);
    p.drawImage(0, 0, plasticGrain());
    p.restore();

    // Crisp highlight where the face meets the chamfer, strongest near the top.
    QLinearGradient rim(0, 0, 0, kHeight);
    rim.setColorAt(0, QColor(255, 255, 255, 200));
    rim.setColorAt(0.6, QColor(255, 255, 255, 60));
    rim.setColorAt(1, QColor(255, 255, 255, 10));
    p.setPen(QPen(QBrush(rim), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(face);
    p.setPen(QPen(QColor(90, 92, 96, 170), 1.0));
    p.drawPath(outer);
}

// The hole in the casing each key rises from: shaded under its upper lip, lit at the bottom.
void drawKeyWell(QPainter& p, QPointF c) {
    const qreal r = kKeyRadius + 2.0;
    QLinearGradient lip(c.x(), c.y() - r, c.x(), c.y() + r);
    lip.setColorAt(0, QColor(132, 134, 138));
    lip.setColorAt(0.5, QColor(172, 174, 178));
    lip.setColorAt(1, QColor(240, 241, 243));
    p.setPen(Qt::NoPen);
    p.setBrush(lip);
    p.drawEllipse(c, r, r);
}

void drawKeyShadows(QPainter& p) {
    QImage shadow = transparentLayer();
    {
        QPainter s(&shadow);
        s.setRenderHint(QPainter::Antialiasing);
        s.setPen(Qt::NoPen);
        s.setBrush(QColor(0, 0, 0, 170));
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            const QPointF c = keyCentre(static_cast<int>(i)) + QPointF(0.3, 2.2);
            s.drawEllipse(c, kKeyRadius - 0.5, kKeyRadius - 0.5);
        }
    }
    blur(shadow, 2);
    p.drawImage(0, 0, shadow);
}

void drawKeyCap(QPainter& p, QPointF c, const QColor& colour) {
    const qreal r = kKeyRadius;
    p.setPen(Qt::NoPen);

    // The skirt, seen as a darker band below the face.
    QLinearGradient skirt(c.x(), c.y() - r, c.x(), c.y() + r);
    skirt.setColorAt(0, colour.lighter(150));
    skirt.setColorAt(0.5, colour.darker(115));
    skirt.setColorAt(1, colour.darker(190));
    p.setBrush(skirt);
    p.drawEllipse(c, r, r);

    // A slightly domed face, lit from the upper left.
    const QPointF faceCentre = c + QPointF(0, -0.8);
    const qreal faceRadius = r - 2.2;
    QRadialGradient dome(faceCentre, faceRadius * 1.25, c + QPointF(-r * 0.35, -r * 0.45));
    dome.setColorAt(0, colour.lighter(128));
    dome.setColorAt(0.55, colour);
    dome.setColorAt(1, colour.darker(135));
    p.setBrush(dome);
    p.drawEllipse(faceCentre, faceRadius, faceRadius);

    // Soft specular patch of the overhead light.
    QRadialGradient spec(c + QPointF(-r * 0.18, -r * 0.55), r * 0.62);
    spec.setColorAt(0, QColor(255, 255, 255, 70));
    spec.setColorAt(1, QColor(255, 255, 255, 0));
    p.save();
    QPainterPath faceClip;
    faceClip.addEllipse(faceCentre, faceRadius, faceRadius);
    p.setClipPath(faceClip);
    p.setBrush(spec);
    p.drawEllipse(c + QPointF(-r * 0.18, -r * 0.55), r * 0.75, r * 0.5);
    p.restore();

    // Edge of the face catches light at the top and goes dark at the bottom.
    QLinearGradient edge(c.x(), c.y() - r, c.x(), c.y() + r);
    edge.setColorAt(0, QColor(255, 255, 255, 120));
    edge.setColorAt(0.45, QColor(255, 255, 255, 0));
    edge.setColorAt(0.6, QColor(0, 0, 0, 0));
    edge.setColorAt(1, QColor(0, 0, 0, 90));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(edge), 1.0));
    p.drawEllipse(faceCentre, faceRadius - 0.5, faceRadius - 0.5);
    p.setPen(QPen(QColor(0, 0, 0, 110), 0.8));
    p.drawEllipse(c, r - 0.4, r - 0.4);

    // Light bounced off the pale casing softens the underside of the skirt.
    p.setPen(QPen(QColor(255, 255, 255, 46), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(c.x() - r + 1.6, c.y() - r + 1.6, 2 * r - 3.2, 2 * r - 3.2), -140 * 16,
              100 * 16);
}

// ---- Symbols ---------------------------------------------------------------------------

QFont digitFont(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
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

void drawSpeaker(QPainter& p, QPoint c, int channel) {
    const QPointF at(c.x() - 15.5, c.y());
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(speakerPath(at, 1.1));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
    const QPointF waveCentre(at.x() + 9.5, at.y());
    p.drawArc(QRectF(waveCentre.x() - 5.0, waveCentre.y() - 5.0, 10, 10), -55 * 16, 110 * 16);
    drawCentredText(p, QString::number(channel), QPointF(c.x() + 9.0, c.y()), 17);
}

void drawMute(QPainter& p, QPoint c) {
    // Drawn on its own layer so the bar can cut a clean gap through the speaker.
    QImage layer = transparentLayer();
    QPainter m(&layer);
    m.setRenderHint(QPainter::Antialiasing);
    const QPointF at(c.x() - 12.5, c.y());
    m.setPen(Qt::NoPen);
    m.setBrush(kInk);
    m.drawPath(speakerPath(at, 1.3));
    m.setBrush(Qt::NoBrush);
    m.setPen(QPen(kInk, 1.7, Qt::SolidLine, Qt::RoundCap));
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

QImage drawRemote() {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawBackground(p);
    drawBodyShadow(p);
    drawBody(p);
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        drawKeyWell(p, keyCentre(static_cast<int>(i)));
    }
    drawKeyShadows(p);
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const QPoint c = keyCentre(static_cast<int>(i));
        drawKeyCap(p, c, kKeys[i].cap);
        drawSymbol(p, c, kKeys[i]);
    }
    p.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

// ---- JPEG output -----------------------------------------------------------------------

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf unwind;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onJpegError(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegErrorManager*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->unwind, 1);
}

// Runs the compressor. Holds nothing with a destructor, because a libjpeg error leaves it by
// longjmp; the caller owns everything that must be released.
void compress(jpeg_compress_struct& info, const QImage& rgb, unsigned char** out,
              unsigned long* outSize) {
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kJpegQuality, TRUE);
    // Full-resolution colour keeps the thin red bar and coloured key rims clean.
    for (int i = 0; i < info.num_components; ++i) {
        info.comp_info[i].h_samp_factor = 1;
        info.comp_info[i].v_samp_factor = 1;
    }
    info.optimize_coding = TRUE;
    info.density_unit = 1;
    info.X_density = 72;
    info.Y_density = 72;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
}

// Everything a longjmp out of libjpeg must not lose lives outside this frame's locals.
struct JpegOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
};

bool encodeJpeg(const QImage& rgb, JpegOutput& out) {
    jpeg_compress_struct info{};
    JpegErrorManager err{};
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = onJpegError;
    if (setjmp(err.unwind) != 0) {
        std::snprintf(out.message, sizeof out.message, "%s", err.message);
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    compress(info, rgb, &out.buffer, &out.size);
    jpeg_destroy_compress(&info);
    return true;
}

// Encodes into memory first and replaces the target only once everything succeeded, so a
// failed run never leaves a truncated picture behind.
bool writeJpeg(const QImage& image, const QString& path, std::string& error) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    JpegOutput out;
    const bool encoded = encodeJpeg(rgb, out);
    const QByteArray bytes = encoded ? QByteArray(reinterpret_cast<const char*>(out.buffer),
                                                  static_cast<qsizetype>(out.size))
                                     : QByteArray();
    std::free(out.buffer);
    if (!encoded) {
        error = std::string("JPEG encoding failed: ") + out.message;
        return false;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = "cannot write " + path.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argc > 0 ? argv[0] : "draw_remote");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);

    // Another family would change every digit; better to stop than ship that silently.
    const QFontInfo resolved(digitFont(12));
    if (resolved.family() != QStringLiteral("Liberation Sans")) {
        std::fprintf(stderr,
                     "draw_remote: font \"Liberation Sans\" is not installed (got \"%s\")\n",
                     resolved.family().toLocal8Bit().constData());
        return 1;
    }

    std::string error;
    if (!writeJpeg(drawRemote(), QString::fromLocal8Bit(argv[1]), error)) {
        std::fprintf(stderr, "draw_remote: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
