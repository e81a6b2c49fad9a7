// Runs draw_remote and checks the picture the main window relies on: the file format the
// decoder expects, and keys of the right colour sitting inside their click areas.

#include <algorithm>
#include <array>
#include <cstdlib>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <QTemporaryDir>
#include "jpeg_header.h"
#include "remote/key_table.h"
#include "run_tool.h"

#include <gtest/gtest.h>

namespace {

QPoint centreOf(std::size_t key) {
    return {remote::RemoteKeyTable[key].area.left + remote::kKeyAreaSide / 2,
            remote::RemoteKeyTable[key].area.top + remote::kKeyAreaSide / 2};
}

// Mean colour of the 3 x 3 block around `at`, which smooths JPEG ringing.
QColor sample(const QImage& image, QPoint at) {
    int r = 0, g = 0, b = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const QColor c = image.pixelColor(at + QPoint(dx, dy));
            r += c.red();
            g += c.green();
            b += c.blue();
        }
    }
    return {r / 9, g / 9, b / 9};
}

enum class Cap { Red, Green, Blue, Purple, Black };

bool looksLike(Cap cap, const QColor& c) {
    const int r = c.red(), g = c.green(), b = c.blue();
    switch (cap) {
        case Cap::Red:
            return r > g + 60 && r > b + 60;
        case Cap::Green:
            return g > r + 25 && g > b + 15;
        case Cap::Blue:
            return b > r + 50 && b > g + 30;
        case Cap::Purple:
            return r > g + 25 && b > g + 50;
        case Cap::Black:
            return std::max({r, g, b}) < 90;
    }
    return false;
}

bool looksLikeCasing(const QColor& c) {
    const int hi = std::max({c.red(), c.green(), c.blue()});
    const int lo = std::min({c.red(), c.green(), c.blue()});
    return lo > 110 && hi - lo < 16;
}

// How far the key reaches from the centre `c` (a pixel corner) along `step`: the distance of
// the outermost pixel that is not casing, searching inwards from the edge of the click area.
int keyExtent(const QImage& image, QPoint c, QPoint step) {
    // The first pixel on the negative side of a pixel corner is one before it.
    const QPoint origin = c + QPoint(std::min(step.x(), 0), std::min(step.y(), 0));
    for (int d = 33; d >= 0; --d) {
        if (!looksLikeCasing(image.pixelColor(origin + step * d))) {
            return d + 1;
        }
    }
    return 0;
}

int countPixels(const QImage& image, QRect box, bool (*match)(const QColor&)) {
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            n += match(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return n;
}

bool isInk(const QColor& c) {
    return std::min({c.red(), c.green(), c.blue()}) > 190;
}
bool isSignalRed(const QColor& c) {
    return c.red() > 200 && c.green() < 110 && c.blue() < 110;
}

class DrawnRemote : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        ASSERT_TRUE(dir_->isValid());
        const QString path = dir_->filePath(QStringLiteral("remote.jpg"));
        const RunResult run = runTool({path});
        ASSERT_EQ(run.exitCode, 0) << run.stderrText.constData();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        bytes_ = new QByteArray(file.readAll());
        image_ = new QImage(QImage::fromData(*bytes_, "JPG"));
    }
    void SetUp() override {
        // Without a picture every check below would only dereference nothing.
        ASSERT_TRUE(image_ != nullptr && !image_->isNull()) << "draw_remote produced no picture";
    }
    static void TearDownTestSuite() {
        delete image_;
        delete bytes_;
        delete dir_;
    }

    static QTemporaryDir* dir_;
    static QByteArray* bytes_;
    static QImage* image_;
};

QTemporaryDir* DrawnRemote::dir_ = nullptr;
QByteArray* DrawnRemote::bytes_ = nullptr;
QImage* DrawnRemote::image_ = nullptr;

TEST_F(DrawnRemote, IsBaselineEightBitRgbOfTheExpectedSize) {
    const auto header = readFrameHeader(*bytes_);
    ASSERT_TRUE(header.has_value());
    EXPECT_TRUE(header->baseline);
    EXPECT_EQ(header->precision, 8);
    EXPECT_EQ(header->components, 3);
    EXPECT_EQ(header->width, 240);
    EXPECT_EQ(header->height, 520);
    ASSERT_FALSE(image_->isNull());
    EXPECT_EQ(image_->size(), QSize(240, 520));
}

TEST_F(DrawnRemote, EachKeyHasItsColourAndFitsItsClickArea) {
    constexpr std::array<Cap, remote::kHotspotCount> caps = {
        Cap::Red,   Cap::Red,    Cap::Red,   Cap::Green, Cap::Green, Cap::Green, Cap::Blue,
        Cap::Blue,  Cap::Purple, Cap::Black, Cap::Black, Cap::Black, Cap::Black, Cap::Black,
        Cap::Black, Cap::Black,  Cap::Black, Cap::Black, Cap::Black, Cap::Black, Cap::Black,
    };
    for (std::size_t key = 0; key < caps.size(); ++key) {
        SCOPED_TRACE(testing::Message() << "hotspot " << key + 1);
        const QPoint c = centreOf(key);
        // Above and below the symbol, on the cap itself.
        EXPECT_TRUE(looksLike(caps[key], sample(*image_, c + QPoint(0, -19))));
        EXPECT_TRUE(looksLike(caps[key], sample(*image_, c + QPoint(0, 19))));
        // Coming in from the edges of the click area, the key starts at the same distance on
        // every side: it is round, centred, and leaves a margin of casing.
        const int left = keyExtent(*image_, c, QPoint(-1, 0));
        const int right = keyExtent(*image_, c, QPoint(1, 0));
        const int up = keyExtent(*image_, c, QPoint(0, -1));
        const int down = keyExtent(*image_, c, QPoint(0, 1));
        EXPECT_EQ(left, right);
        EXPECT_LE(std::abs(up - down), 1) << up << " vs " << down;
        for (const int extent : {left, right, up, down}) {
            EXPECT_GE(extent, 25);
            EXPECT_LE(extent, 31);
        }
    }
}

TEST_F(DrawnRemote, ReservedKeyIsALighterGreenThanItsRow) {
    for (const QPoint offset : {QPoint(0, -19), QPoint(0, 19)}) {
        const int reserved = sample(*image_, centreOf(5) + offset).green();
        EXPECT_GT(reserved, sample(*image_, centreOf(3) + offset).green() + 30);
        EXPECT_GT(reserved, sample(*image_, centreOf(4) + offset).green() + 30);
    }
}

TEST_F(DrawnRemote, ReservedKeyIsBlankAndTheOthersCarrySymbols) {
    for (std::size_t key = 0; key < remote::RemoteKeyTable.size(); ++key) {
        SCOPED_TRACE(testing::Message() << "hotspot " << key + 1);
        const QPoint c = centreOf(key);
        const int ink = countPixels(*image_, QRect(c - QPoint(17, 14), QSize(35, 29)), isInk);
        if (key == 5) {
            EXPECT_EQ(ink, 0);
        } else {
            EXPECT_GT(ink, 40);
        }
    }
    const QPoint mute = centreOf(8);
    EXPECT_GT(countPixels(*image_, QRect(mute - QPoint(14, 14), QSize(29, 29)), isSignalRed), 20);
}

TEST_F(DrawnRemote, RegeneratingGivesIdenticalBytes) {
    const QString again = dir_->filePath(QStringLiteral("again.jpg"));
    ASSERT_EQ(runTool({again}).exitCode, 0);
    QFile file(again);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == *bytes_);
}

TEST(DrawRemoteCommandLine, FailsCleanlyWithoutAUsableOutput) {
    const RunResult noArgs = runTool({});
    EXPECT_NE(noArgs.exitCode, 0);
    EXPECT_TRUE(noArgs.stderrText.contains("usage"));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString unreachable = dir.filePath(QStringLiteral("missing/remote.jpg"));
    const RunResult bad = runTool({unreachable});
    EXPECT_GT(bad.exitCode, 0);  // an error exit, not a crash
    EXPECT_TRUE(bad.stderrText.contains("missing/remote.jpg"));
    EXPECT_FALSE(QFileInfo::exists(unreachable));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
