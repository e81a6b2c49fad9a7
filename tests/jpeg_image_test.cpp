// Decoding the remote's picture, and refusing anything that is not a sound JPEG.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "app/jpeg_image.h"
#include "support/sanitizers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes picture() {
    std::ifstream in(KOLVANE_PICTURE, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Offset of the first marker `code` (the 0xFF before it).
std::size_t markerAt(const Bytes& jpeg, std::uint8_t code) {
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) {
            return i;
        }
    }
    return jpeg.size();
}

void expectRefused(const Bytes& data) {
    EXPECT_THROW(app::decodeJpeg(data.data(), data.size()), app::JpegError);
}

// Decodes in a child whose address space is capped at 1 GiB: a decoder that believed a huge
// header would run out of memory there instead of quietly taking gigabytes.
bool refusedWithinMemory(const Bytes& data) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit cap{rlim_t{1} << 30, rlim_t{1} << 30};
        ::setrlimit(RLIMIT_AS, &cap);
        try {
            app::decodeJpeg(data.data(), data.size());
        } catch (const app::JpegError&) {
            ::_exit(0);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

class Jpeg : public ::testing::Test {
protected:
    void SetUp() override {
        jpeg = picture();
        ASSERT_GT(jpeg.size(), 200u) << KOLVANE_PICTURE;
        scanStart = markerAt(jpeg, 0xDA);
        scanEnd = markerAt(jpeg, 0xD9);
        ASSERT_LT(scanStart + 64, scanEnd);
    }
    Bytes jpeg;
    std::size_t scanStart = 0;
    std::size_t scanEnd = 0;
};

TEST_F(Jpeg, ThePictureDecodes) {
    const app::DecodedImage image = app::decodeJpeg(jpeg.data(), jpeg.size());
    EXPECT_EQ(image.width, 240);
    EXPECT_EQ(image.height, 520);
    EXPECT_EQ(image.components, 3);
    ASSERT_EQ(image.pixels.size(), 240u * 520u * 3u);
    // A decoder that gave up early would leave the last rows empty.
    const auto lastRow = image.pixels.end() - 240 * 3;
    EXPECT_TRUE(std::any_of(lastRow, image.pixels.end(), [](std::uint8_t b) { return b != 0; }));
}

TEST_F(Jpeg, EmptyOrRandomInputIsRefused) {
    EXPECT_THROW(app::decodeJpeg(nullptr, 0), app::JpegError);
    EXPECT_THROW(app::decodeJpeg(nullptr, 100), app::JpegError);
    EXPECT_THROW(app::decodeJpeg(jpeg.data(), 0), app::JpegError);
    std::mt19937 random(7);
    for (std::size_t size : {1u, 2u, 16u, 3000u}) {
        Bytes noise(size);
        std::generate(noise.begin(), noise.end(), [&] { return std::uint8_t(random()); });
        expectRefused(noise);
        noise[0] = 0xFF;  // a plausible start is no better
        if (size > 1) {
            noise[1] = 0xD8;
        }
        expectRefused(noise);
    }
}

TEST_F(Jpeg, TruncatedPictureIsRefusedWhereverItIsCut) {
    const std::size_t cuts[] = {2,
                                20,
                                100,
                                scanStart,
                                scanStart + 20,
                                (scanStart + scanEnd) / 2,
                                scanEnd - 1,
                                scanEnd,
                                jpeg.size() - 1};
    for (std::size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(jpeg.size()));
        expectRefused(Bytes(jpeg.begin(), jpeg.begin() + cut));
    }
}

TEST_F(Jpeg, CorruptedMiddleIsRefused) {
    const std::size_t middle = (scanStart + scanEnd) / 2;
    Bytes marker = jpeg;  // an end-of-image marker in the middle of the scan
    marker[middle] = 0xFF;
    marker[middle + 1] = 0xD9;
    expectRefused(marker);

    Bytes header = jpeg;  // the frame header claims 9 components
    header[markerAt(jpeg, 0xC0) + 9] = 9;
    expectRefused(header);

    Bytes table = jpeg;  // a quantisation table of an impossible precision
    table[markerAt(jpeg, 0xDB) + 4] = 0x70;
    expectRefused(table);
}

TEST_F(Jpeg, HugeDimensionsAreRefusedBeforeDecoding) {
    const std::size_t sof = markerAt(jpeg, 0xC0);
    ASSERT_LT(sof, scanStart);
    const struct {
        unsigned width, height;
    } sizes[] = {{60000, 60000}, {65535, 65535}, {30000, 520}, {240, 40000}, {0, 520}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        Bytes big = jpeg;
        big[sof + 5] = std::uint8_t(s.height >> 8);
        big[sof + 6] = std::uint8_t(s.height);
        big[sof + 7] = std::uint8_t(s.width >> 8);
        big[sof + 8] = std::uint8_t(s.width);
        expectRefused(big);
        if (!testing_support::kUnderAsan) {  // the sanitizer's shadow memory does not fit the cap
            EXPECT_TRUE(refusedWithinMemory(big));
        }
    }
}

}  // namespace
