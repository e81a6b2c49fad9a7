// The remote picture and the window on screens of different density. CTest runs this once for
// each device pixel ratio, set through QT_SCALE_FACTOR, and the test reads the ratio back from
// the window.
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QtTest/QTest>
#include <cstdlib>

#include "app/form_kolvane.h"
#include "app/jpeg_image.h"
#include "oracle/keys.h"

#include <gtest/gtest.h>

namespace {

QImage builtInPicture(const char* resource) {
    QFile file{QString::fromLatin1(resource)};
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << resource;
    const QByteArray bytes = file.readAll();
    const app::DecodedImage decoded =
        app::decodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
    return QImage(decoded.pixels.data(), decoded.width, decoded.height,
                  decoded.width * decoded.components, QImage::Format_RGB888)
        .copy();
}

double meanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

TEST(PictureDensity, PictureUsesTheScreensPixelsAndKeysKeepTheirPlaces) {
    TFormKolvane form;
    form.show();
    const qreal ratio = form.devicePixelRatioF();
    ASSERT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble());

    const QImage baseline = builtInPicture(":/remote.jpg");
    const QImage doubled = builtInPicture(":/remote@2x.jpg");
    const QImage shot = form.findChild<QLabel*>(QStringLiteral("ImagePanel"))
                            ->grab()
                            .toImage()
                            .convertToFormat(QImage::Format_RGB888);
    const QSize device = (QSizeF(240, 520) * ratio).toSize();
    ASSERT_EQ(shot.size(), device);
    if (ratio == 1) {
        EXPECT_TRUE(shot == baseline) << "not the baseline picture pixel for pixel";
    } else if (ratio == 2) {
        EXPECT_TRUE(shot == doubled) << "not the double-size picture pixel for pixel";
    } else {
        // Fitted from the double-size picture, not blown up from the baseline one.
        const auto fitted = [&](const QImage& source) {
            return source.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        };
        EXPECT_LT(meanDifference(shot, fitted(doubled)),
                  meanDifference(shot, fitted(baseline)) / 2);
    }

    // A click lands where the key is drawn, whatever the density.
    QWidget* client = form.centralWidget();
    for (const oracle::Key& key : oracle::keys()) {
        const QPoint centre(key.left + oracle::kKeyAreaSide / 2,
                            key.top + oracle::kKeyAreaSide / 2);
        QWidget* hit = client->childAt(centre);
        ASSERT_NE(hit, nullptr) << key.hotspot;
        EXPECT_EQ(hit->objectName(), QStringLiteral("Image%1").arg(key.hotspot));
    }
}

// The keyboard's focus ring is drawn in the screen's own pixels, whatever their density: up
// from the power key's centre, the line crosses it a device pixel or more per logical pixel.
TEST(PictureDensity, FocusRingIsDrawnAtTheScreensDensity) {
    TFormKolvane form;
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QWidget* search = form.findChild<QWidget*>(QStringLiteral("ButtonSearchDevice"));
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Tab);
    const qreal ratio = form.devicePixelRatioF();
    const QImage shot = form.centralWidget()->grab(QRect(6, 18, 68, 68)).toImage();
    int ring = 0;
    for (int y = 0; y < qRound(8 * ratio); ++y) {
        const QColor pixel = shot.pixelColor(shot.width() / 2, y);
        ring += pixel.blue() > 150 && pixel.red() < 60 ? 1 : 0;
    }
    EXPECT_GE(ring, qFloor(2 * ratio)) << "ratio " << ratio;
}

// However small the screen is for the window, the corner of its frame, and so its title bar,
// opens on it; where the window fits with room for a title bar, it is centred.
TEST(PictureDensity, WindowOpensWithItsCornerOnTheScreen) {
    TFormKolvane form;
    form.show();
    const QRect available = form.screen()->availableGeometry();
    const QRect frame = form.frameGeometry();
    EXPECT_TRUE(available.contains(frame.topLeft()))
        << "frame at " << frame.x() << "," << frame.y();
    const int titleBar = form.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    if (available.height() >= form.height() + 2 * titleBar) {
        EXPECT_EQ(form.geometry().center(), available.center());
    }
}

}  // namespace
