// Runs draw_remote for the renditions beside the picture: the picture at twice the size for
// dense screens, and the icon theme's sizes with the scalable icon. Each must be the same art,
// and the files committed under resources/ must be what the tool draws today.

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>

#include "jpeg_header.h"
#include "remote/key_table.h"
#include "run_tool.h"

#include <gtest/gtest.h>

namespace {

constexpr int kIconSides[] = {16, 32, 48, 64, 128, 256};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB888);
}

// Mean of the absolute channel differences of two images of one size, and the share of
// pixels where some channel differs by more than `far`.
struct Difference {
    double mean = 0;
    double farShare = 0;
};

Difference compare(const QImage& a, const QImage& b, int far = 48) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    long farPixels = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d[] = {
                std::abs(qRed(p[col]) - qRed(q[col])), std::abs(qGreen(p[col]) - qGreen(q[col])),
                std::abs(qBlue(p[col]) - qBlue(q[col])), std::abs(qAlpha(p[col]) - qAlpha(q[col]))};
            sum += d[0] + d[1] + d[2] + d[3];
            farPixels += *std::max_element(std::begin(d), std::end(d)) > far ? 1 : 0;
        }
    }
    const double pixels = double(x.width()) * x.height();
    return {sum / (4 * pixels), farPixels / pixels};
}

// Detail: the mean square step in brightness between neighbouring pixels. Blurring an edge
// over more pixels splits one step into smaller ones, so a picture blown up from a smaller
// one has much less of it than one drawn at its size.
double detail(const QImage& image, const QRect& box) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = box.top(); y < box.bottom(); ++y) {
        for (int x = box.left(); x < box.right(); ++x) {
            const int here = grey.pixelColor(x, y).red();
            const int right = grey.pixelColor(x + 1, y).red() - here;
            const int below = grey.pixelColor(x, y + 1).red() - here;
            sum += right * right + below * below;
        }
    }
    return sum / (double(box.width()) * box.height());
}

class Renditions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        ASSERT_TRUE(dir_->isValid());
        for (const QStringList& args :
             {QStringList{path("remote.jpg")}, QStringList{"--scale", "2", path("remote@2x.jpg")},
              QStringList{"--theme-icons", dir_->path()}}) {
            const RunResult run = runTool(args);
            ASSERT_EQ(run.exitCode, 0) << run.stderrText.constData();
        }
    }
    static void TearDownTestSuite() { delete dir_; }
    static QString path(const char* name) { return dir_->filePath(QLatin1String(name)); }

    static QTemporaryDir* dir_;
};

QTemporaryDir* Renditions::dir_ = nullptr;

TEST_F(Renditions, DoublePictureIsThePictureWithTwiceTheDetail) {
    const QByteArray bytes = readAll(path("remote@2x.jpg"));
    const auto header = readFrameHeader(bytes);
    ASSERT_TRUE(header.has_value());
    EXPECT_TRUE(header->baseline);
    EXPECT_EQ(header->components, 3);
    EXPECT_EQ(QSize(header->width, header->height), QSize(480, 1040));

    const QImage doubled = rgb(QImage::fromData(bytes, "JPG"));
    const QImage single = rgb(QImage(path("remote.jpg")));
    ASSERT_EQ(doubled.size(), single.size() * 2);
    // Keys, symbols and shadows where the picture has them: halved, the two agree closely.
    const Difference halved = compare(
        doubled.scaled(single.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation), single);
    EXPECT_LT(halved.mean, 3.0);
    EXPECT_LT(halved.farShare, 0.005);

    const QImage blownUp =
        single.scaled(doubled.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (key.hotspot == 6) {
            continue;  // the reserved key is blank
        }
        const QPoint centre(key.area.left + remote::kKeyAreaSide / 2,
                            key.area.top + remote::kKeyAreaSide / 2);
        const QRect symbol(centre * 2 - QPoint(34, 28), QSize(70, 58));
        EXPECT_GT(detail(doubled, symbol), 1.5 * detail(blownUp, symbol)) << "key " << key.hotspot;
    }
}

TEST_F(Renditions, ThemeIconsAreTheKeyAtEverySizeAndTheSvgDrawsTheSame) {
    for (const int side : kIconSides) {
        const QImage icon(dir_->filePath(QStringLiteral("%1.png").arg(side)));
        ASSERT_EQ(icon.size(), QSize(side, side));
        // The red power key, round on nothing.
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << side;
        const QColor cap = icon.pixelColor(side * 3 / 20, side / 2);
        EXPECT_TRUE(cap.alpha() == 255 && cap.red() > cap.green() + 60) << side;
    }

    QSvgRenderer svg(dir_->filePath(QStringLiteral("scalable.svg")));
    ASSERT_TRUE(svg.isValid());
    QImage drawn(256, 256, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    svg.render(&painter);
    painter.end();
    const Difference d = compare(drawn, QImage(dir_->filePath(QStringLiteral("256.png"))));
    EXPECT_LT(d.mean, 2.0);
    EXPECT_LT(d.farShare, 0.002);
}

TEST_F(Renditions, CommittedFilesAreWhatTheToolDraws) {
    const QString committed = QStringLiteral(KOLVANE_RESOURCES);
    const auto same = [](const QString& a, const QString& b) {
        const QImage x(a), y(b);
        return !x.isNull() &&
               x.convertToFormat(QImage::Format_ARGB32) == y.convertToFormat(QImage::Format_ARGB32);
    };
    EXPECT_TRUE(same(committed + "/remote.jpg", path("remote.jpg")));
    EXPECT_TRUE(same(committed + "/remote@2x.jpg", path("remote@2x.jpg")));
    for (const int side : kIconSides) {
        const QString name = QStringLiteral("/%1.png").arg(side);
        EXPECT_TRUE(same(committed + "/icons" + name, dir_->path() + name)) << side;
    }
    EXPECT_EQ(readAll(committed + "/icons/scalable.svg"), readAll(path("scalable.svg")));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
