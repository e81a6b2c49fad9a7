#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace app {

class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A decoded picture: rows top to bottom, `components` bytes a pixel, no padding.
struct DecodedImage {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<std::uint8_t> pixels;
};

// Decodes a JPEG held in memory. Anything libjpeg complains about, warnings included (it only
// warns about a truncated file and fills the missing rows with grey), throws JpegError.
DecodedImage decodeJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace app
