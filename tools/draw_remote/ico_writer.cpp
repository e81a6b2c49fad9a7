#include "ico_writer.h"

#include <QByteArray>
#include <cstdint>

#include "png_writer.h"
#include "save_file.h"

namespace {

constexpr int kMaxSide = 256;
constexpr int kDirectorySize = 6;
constexpr int kEntrySize = 16;

void appendLittleEndian(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

bool writeIco(const std::vector<QImage>& images, const QString& path, std::string& error) {
    if (images.empty() || images.size() > 0xFFFF) {
        error = "an icon holds from 1 to 65535 images";
        return false;
    }
    std::vector<QByteArray> pngs;
    for (const QImage& image : images) {
        if (image.width() != image.height() || image.width() < 1 || image.width() > kMaxSide) {
            error = "icon images must be square, 1 to 256 pixels a side";
            return false;
        }
        QByteArray png;
        if (!encodePng(image, png, error)) {
            return false;
        }
        pngs.push_back(png);
    }

    QByteArray ico;
    appendLittleEndian(ico, 0, 2);  // reserved
    appendLittleEndian(ico, 1, 2);  // type: icon
    appendLittleEndian(ico, static_cast<std::uint32_t>(images.size()), 2);
    auto offset = static_cast<std::uint32_t>(kDirectorySize + kEntrySize * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        // A side of 256 does not fit the byte and is written as 0.
        const auto side = static_cast<std::uint32_t>(images[i].width() % kMaxSide);
        const auto size = static_cast<std::uint32_t>(pngs[i].size());
        appendLittleEndian(ico, side, 1);  // width
        appendLittleEndian(ico, side, 1);  // height
        appendLittleEndian(ico, 0, 1);     // palette size: none
        appendLittleEndian(ico, 0, 1);     // reserved
        appendLittleEndian(ico, 1, 2);     // colour planes
        appendLittleEndian(ico, 32, 2);    // bits per pixel
        appendLittleEndian(ico, size, 4);
        appendLittleEndian(ico, offset, 4);
        offset += size;
    }
    for (const QByteArray& png : pngs) {
        ico.append(png);
    }

    return saveFile(ico, path, error);
}
