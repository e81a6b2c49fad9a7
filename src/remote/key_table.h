#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

// One byte identifying a key of the remote, as the device reports it.
struct KeyCode {
    std::uint8_t value = 0;
    bool operator==(KeyCode other) const { return value == other.value; }
};

// The five bytes of one command on the wire: 'G', two hex digits, 'g', line feed.
struct CommandFrame {
    static constexpr std::size_t kSize = 5;
    std::array<std::uint8_t, kSize> bytes{};

    // The first four bytes of `text` and a line feed; a short text is padded with zero bytes.
    static CommandFrame fromText(std::string_view text);
    bool operator==(const CommandFrame& other) const { return bytes == other.bytes; }
};

// Command text of a key code: "G", two upper-case hex digits, "g".
std::string commandTextFor(KeyCode code);

// Where a key's click area lies on the remote picture (top-left corner, in pixels). The
// picture is drawn from the same numbers, so each key sits centred in its area.
struct KeyArea {
    int left;
    int top;
};
inline constexpr int kKeyAreaSide = 68;

struct RemoteKey {
    int hotspot;  // 1..21, the numbered hotspot on the picture
    KeyArea area;
    std::string_view hint;
    std::string_view commandText;  // empty for the reserved key
    std::optional<KeyCode> code;
    std::string_view receivedName;

    bool isReserved() const { return !code.has_value(); }
};

constexpr std::size_t kHotspotCount = 21;
extern const std::array<RemoteKey, kHotspotCount> RemoteKeyTable;

// The probe the device search sends, and the text a present device answers with.
inline constexpr std::string_view kProbeCommand = "GFEg";
inline constexpr std::string_view kProbeReply = "gEFG\n";

const RemoteKey& keyByHotspot(int hotspot);  // hotspot in 1..21
const RemoteKey* keyByCode(KeyCode code);    // nullptr when no key has this code

}  // namespace remote
