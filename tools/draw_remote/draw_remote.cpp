// Draws the picture of the remote control that the main window shows, and writes it as a
// baseline JPEG; or draws the program's icon from the same key art. Run by hand when either
// should change:
//     draw_remote resources/remote.jpg
//     draw_remote --scale 2 resources/remote@2x.jpg      (for screens of twice the density)
//     draw_remote --icon resources/kolvane.ico
//     draw_remote --theme-icons resources/icons          (16.png ... 256.png, scalable.svg)
// With the same fonts and libraries, regenerating an unchanged picture gives the same bytes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QColor>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QStringList>

#include "canvas.h"
#include "ico_writer.h"
#include "jpeg_writer.h"
#include "key_cap.h"
#include "key_symbols.h"
#include "png_writer.h"
#include "remote/key_table.h"
#include "svg_writer.h"

namespace {

const QColor kRed(196, 36, 40);
const QColor kDarkGreen(28, 100, 54);
const QColor kLightGreen(86, 158, 98);
const QColor kBlue(30, 84, 170);
const QColor kPurple(104, 56, 150);
const QColor kBlack(36, 38, 42);

// In hotspot order.
const std::array<KeyArt, remote::kHotspotCount> kKeys = {{
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

QPoint keyCentre(int index) {
    const remote::KeyArea& area = remote::RemoteKeyTable[static_cast<std::size_t>(index)].area;
    return QPoint(area.left + remote::kKeyAreaSide / 2, area.top + remote::kKeyAreaSide / 2);
}

// Three box passes approximate a gaussian closely enough for soft shadows. `radius` is in
// picture pixels, so a denser layer comes out with the same softness.
void blur(QImage& image, int radius) {
    radius *= qRound(image.devicePixelRatio());
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
    QImage shadow = transparentLayer(p);
    {
        QPainter s(&shadow);
        s.setRenderHint(QPainter::Antialiasing);
        s.translate(0.5, 2.5);
        s.fillPath(bodyOutline(0.5), QColor(0, 0, 0, 150));
    }
    blur(shadow, 2);
    p.drawImage(0, 0, shadow);
}

// Fine grain so the casing reads as moulded plastic rather than a flat fill; one grain to a
// device pixel, so a denser picture has a finer grain rather than a coarser one.
QImage plasticGrain(const QPainter& onto) {
    QImage grain = transparentLayer(onto);
    // mt19937's sequence is fixed by the standard; distributions are not, so map it by hand.
    std::mt19937 random(20240611u);
    for (int y = 0; y < grain.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(grain.scanLine(y));
        for (int x = 0; x < grain.width(); ++x) {
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
    p.drawImage(0, 0, plasticGrain(p));
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
    QImage shadow = transparentLayer(p);
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

// `scale` device pixels to a picture pixel: the same picture, drawn for a denser screen.
QImage drawRemote(int scale) {
    QImage image(kWidth * scale, kHeight * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
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

// The program's icon: the red power key on its own, filling a square of `side` pixels.
void drawIcon(QPainter& p, int side) {
    const KeyArt& power = kKeys[0];
    const qreal extent = 2 * kKeyRadius + 2;  // the cap and its antialiased rim
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(side / 2.0, side / 2.0);
    p.scale(side / extent, side / extent);
    drawKeyCap(p, QPointF(0, 0), power.cap);
    // At a few pixels the key's thin symbol blurs away; a larger one still reads.
    const qreal symbolScale = side <= 16 ? 1.6 : side <= 32 ? 1.3 : 1.0;
    p.scale(symbolScale, symbolScale);
    drawSymbol(p, QPoint(0, 0), power);
}

QImage iconImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawIcon(p, side);
    p.end();
    return image;
}

bool hasThePicturesFont() {
    // Another family would change every digit; better to stop than ship that silently.
    const QFontInfo resolved(digitFont(12));
    if (resolved.family() != QStringLiteral("Liberation Sans")) {
        std::fprintf(stderr,
                     "draw_remote: font \"Liberation Sans\" is not installed (got \"%s\")\n",
                     resolved.family().toLocal8Bit().constData());
        return false;
    }
    return true;
}

int report(bool written, const std::string& error) {
    if (!written) {
        std::fprintf(stderr, "draw_remote: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int writePicture(const QString& path, int scale) {
    if (!hasThePicturesFont()) {
        return 1;
    }
    std::string error;
    return report(writeJpeg(drawRemote(scale), path, error), error);
}

int writeWindowsIcon(const QString& path) {
    std::vector<QImage> icons;
    for (const int side : {16, 32, 48, 256}) {
        icons.push_back(iconImage(side));
    }
    std::string error;
    return report(writeIco(icons, path, error), error);
}

// The sizes desktops look for in an icon theme, and the scalable one they prefer when they
// draw an icon at some other size.
int writeThemeIcons(const QString& dir) {
    std::string error;
    for (const int side : {16, 32, 48, 64, 128, 256}) {
        if (!writePng(iconImage(side), dir + QStringLiteral("/%1.png").arg(side), error)) {
            return report(false, error);
        }
    }
    constexpr int kViewBox = 256;
    return report(writeSvg(
                      QSize(kViewBox, kViewBox), QStringLiteral("Kolvane Remote"),
                      [](QPainter& p) { drawIcon(p, kViewBox); },
                      dir + QStringLiteral("/scalable.svg"), error),
                  error);
}

struct Request {
    enum class What { Picture, WindowsIcon, ThemeIcons } what = What::Picture;
    int scale = 1;
    QString output;
};

// Nothing that starts with '-' is taken as the output: it is a mistyped option, not a file
// to create.
std::optional<Request> parseArguments(const QStringList& args) {
    const auto isName = [](const QString& arg) { return !arg.isEmpty() && !arg.startsWith('-'); };
    Request request;
    if (args.size() == 2 && isName(args[1]) &&
        (args[0] == QStringLiteral("--icon") || args[0] == QStringLiteral("--theme-icons"))) {
        request.what = args[0] == QStringLiteral("--icon") ? Request::What::WindowsIcon
                                                           : Request::What::ThemeIcons;
        request.output = args[1];
        return request;
    }
    if (args.size() == 3 && args[0] == QStringLiteral("--scale") && isName(args[2])) {
        bool ok = false;
        request.scale = args[1].toInt(&ok);
        if (!ok || request.scale < 1 || request.scale > 4) {
            return std::nullopt;
        }
        request.output = args[2];
        return request;
    }
    if (args.size() == 1 && isName(args[0])) {
        request.output = args[0];
        return request;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const std::optional<Request> request = parseArguments(args);
    if (!request) {
        const char* self = argc > 0 ? argv[0] : "draw_remote";
        std::fprintf(stderr,
                     "usage: %s [--scale N] OUTPUT.jpg      (N from 1 to 4)\n"
                     "       %s --icon OUTPUT.ico\n"
                     "       %s --theme-icons DIRECTORY\n",
                     self, self, self);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    switch (request->what) {
        case Request::What::Picture:
            return writePicture(request->output, request->scale);
        case Request::What::WindowsIcon:
            return writeWindowsIcon(request->output);
        case Request::What::ThemeIcons:
            return writeThemeIcons(request->output);
    }
    return 2;
}
