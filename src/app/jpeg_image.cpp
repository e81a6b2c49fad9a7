#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace app {

namespace {

// Larger than any picture this program ships; keeps a hostile header from asking for
// gigabytes.
constexpr JDIMENSION kMaxSide = 8192;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf unwind;
    char message[JMSG_LENGTH_MAX];
    int warnings;
};

[[noreturn]] void onError(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->unwind, 1);
}

void onMessage(j_common_ptr info, int level) {
    // Level -1 is a warning about corrupt data; positive levels are trace output.
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    if (level < 0 && err->warnings++ == 0) {
        info->err->format_message(info, err->message);
    }
}

// Runs the decompressor; everything that must survive a longjmp lives in the caller.
bool decode(jpeg_decompress_struct& info, const std::uint8_t* data, std::size_t size,
            DecodedImage& out) {
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    if (info.image_width > kMaxSide || info.image_height > kMaxSide) {
        return false;
    }
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.components = info.output_components;
    const std::size_t stride = std::size_t{info.output_width} * info.output_components;
    out.pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

DecodedImage decodeJpeg(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) {
        throw JpegError("Picture is empty");
    }
    jpeg_decompress_struct info{};
    ErrorManager err{};
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    DecodedImage out;
    volatile bool ok = false;
    if (setjmp(err.unwind) == 0) {
        jpeg_create_decompress(&info);
        ok = decode(info, data, size, out);
    }
    jpeg_destroy_decompress(&info);
    if (!ok || err.warnings > 0) {
        throw JpegError(std::string("Picture cannot be decoded: ") +
                        (err.message[0] != '\0' ? err.message : "not a supported JPEG"));
    }
    return out;
}

}  // namespace app
