#include "jpeg_writer.h"

#include <QByteArray>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "save_file.h"

namespace {

constexpr int kJpegQuality = 92;

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

}  // namespace

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

    return saveFile(bytes, path, error);
}
