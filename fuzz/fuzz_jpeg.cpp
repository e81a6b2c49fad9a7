// The picture decoder on arbitrary bytes: it either throws JpegError or returns a picture
// whose pixels are all there.
#include <cstdint>

#include "app/jpeg_image.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const app::DecodedImage image = app::decodeJpeg(data, size);
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(image.components >= 1 && image.components <= 4);
        FUZZ_CHECK(std::size_t(image.width) * std::size_t(image.height) *
                       std::size_t(image.components) ==
                   image.pixels.size());
    } catch (const app::JpegError&) {
    }
    return 0;
}
