#include "remote/key_table.h"

#include <stdexcept>

namespace remote {

namespace {
constexpr RemoteKey key(int hotspot, KeyArea area, std::string_view hint, std::string_view command,
                        std::uint8_t code, std::string_view name) {
    return RemoteKey{hotspot, area, hint, command, KeyCode{code}, name};
}
}  // namespace

const std::array<RemoteKey, kHotspotCount> RemoteKeyTable = {{
    key(1, {6, 18}, "POWER_ON/OFF", "G45g", 0x45, "KEY_POWER_ON/OFF"),
    key(2, {85, 18}, "1_3_Split", "G46g", 0x46, "KEY_1_3_Split"),
    key(3, {164, 18}, "4_H_Split", "G47g", 0x47, "KEY_4_H_Split"),
    key(4, {4, 89}, "2_12Split", "G44g", 0x44, "KEY_2_12Split"),
    key(5, {85, 89}, "2_34Split", "G40g", 0x40, "KEY_2_34Split"),
    RemoteKey{6, {164, 89}, "Reserved", "", std::nullopt, ""},
    key(7, {4, 161}, "AUDIO_CH1", "G07g", 0x07, "KEY_AUDIO_CH1"),
    key(8, {85, 161}, "AUDIO_CH2", "G15g", 0x15, "KEY_AUDIO_CH2"),
    key(9, {164, 161}, "AUDIO_mute/unmute", "G09g", 0x09, "KEY_AUDIO_mute/unmute"),
    key(10, {4, 233}, "AUDIO_CH3", "G16g", 0x16, "KEY_AUDIO_CH3"),
    key(11, {85, 233}, "AUDIO_CH4", "G19g", 0x19, "KEY_AUDIO_CH4"),
    key(12, {164, 233}, "OUTSIZE 720P/1080P", "G0Dg", 0x0D, "KEY_CHANGE_OUTSIZE"),
    key(13, {4, 304}, "1CH_Show", "G0Cg", 0x0C, "_IR_KEY_1CH_Show"),
    key(14, {85, 304}, "2CH_Show", "G18g", 0x18, "_IR_KEY_2CH_Show"),
    key(15, {164, 304}, "3CH_Show", "G5Eg", 0x5E, "_IR_KEY_3CH_Show"),
    key(16, {4, 376}, "4CH_Show", "G08g", 0x08, "_IR_KEY_4CH_Show"),
    key(17, {85, 376}, "4_Split", "G1Cg", 0x1C, "KEY_4_Split"),
    key(18, {164, 376}, "1_3_Split_M0", "G5Ag", 0x5A, "KEY_1_3_Split_M0"),
    key(19, {6, 448}, "1_3_Split_M1", "G42g", 0x42, "KEY_1_3_Split_M1"),
    key(20, {85, 448}, "1_3_Split_M2", "G52g", 0x52, "KEY_1_3_Split_M2"),
    key(21, {164, 448}, "1_3_Split_M3", "G4Ag", 0x4A, "KEY_1_3_Split_M3"),
}};

CommandFrame CommandFrame::fromText(std::string_view text) {
    CommandFrame frame;
    for (std::size_t i = 0; i < kSize - 1 && i < text.size(); ++i) {
        frame.bytes[i] = static_cast<std::uint8_t>(text[i]);
    }
    frame.bytes[kSize - 1] = 0x0A;
    return frame;
}

std::string commandTextFor(KeyCode code) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {'G', kHex[code.value >> 4], kHex[code.value & 0x0F], 'g'};
}

const RemoteKey& keyByHotspot(int hotspot) {
    if (hotspot < 1 || hotspot > static_cast<int>(kHotspotCount)) {
        throw std::out_of_range("no hotspot " + std::to_string(hotspot));
    }
    return RemoteKeyTable[static_cast<std::size_t>(hotspot - 1)];
}

const RemoteKey* keyByCode(KeyCode code) {
    for (const RemoteKey& k : RemoteKeyTable) {
        if (k.code == code) {
            return &k;
        }
    }
    return nullptr;
}

}  // namespace remote
