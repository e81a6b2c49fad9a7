#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

struct FrameHeader {
    int width = 0;
    int height = 0;
    int components = 0;
    int precision = 0;
    bool baseline = false;
};

// Walks the marker segments up to the first start-of-frame.
inline std::optional<FrameHeader> readFrameHeader(const QByteArray& data) {
    const auto byte = [&](qsizetype i) { return static_cast<std::uint8_t>(data.at(i)); };
    if (data.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) {
        return std::nullopt;
    }
    qsizetype pos = 2;
    while (pos + 4 <= data.size() && byte(pos) == 0xFF) {
        const std::uint8_t marker = byte(pos + 1);
        const int length = byte(pos + 2) << 8 | byte(pos + 3);
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && pos + 10 <= data.size()) {
            FrameHeader h;
            h.baseline = marker == 0xC0;
            h.precision = byte(pos + 4);
            h.height = byte(pos + 5) << 8 | byte(pos + 6);
            h.width = byte(pos + 7) << 8 | byte(pos + 8);
            h.components = byte(pos + 9);
            return h;
        }
        pos += 2 + length;
    }
    return std::nullopt;
}
