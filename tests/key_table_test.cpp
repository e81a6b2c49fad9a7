// The remote's keys, their commands and the frames that carry them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

#include "remote/key_table.h"

using remote::CommandFrame;
using remote::KeyCode;

namespace {

struct Row {
    int hotspot;
    const char* hint;
    const char* command;
    int code;  // -1: the reserved key
    const char* received;
};

const Row kRows[] = {
    {1, "POWER_ON/OFF", "G45g", 0x45, "KEY_POWER_ON/OFF"},
    {2, "1_3_Split", "G46g", 0x46, "KEY_1_3_Split"},
    {3, "4_H_Split", "G47g", 0x47, "KEY_4_H_Split"},
    {4, "2_12Split", "G44g", 0x44, "KEY_2_12Split"},
    {5, "2_34Split", "G40g", 0x40, "KEY_2_34Split"},
    {6, "Reserved", "", -1, ""},
    {7, "AUDIO_CH1", "G07g", 0x07, "KEY_AUDIO_CH1"},
    {8, "AUDIO_CH2", "G15g", 0x15, "KEY_AUDIO_CH2"},
    {9, "AUDIO_mute/unmute", "G09g", 0x09, "KEY_AUDIO_mute/unmute"},
    {10, "AUDIO_CH3", "G16g", 0x16, "KEY_AUDIO_CH3"},
    {11, "AUDIO_CH4", "G19g", 0x19, "KEY_AUDIO_CH4"},
    {12, "OUTSIZE 720P/1080P", "G0Dg", 0x0D, "KEY_CHANGE_OUTSIZE"},
    {13, "1CH_Show", "G0Cg", 0x0C, "_IR_KEY_1CH_Show"},
    {14, "2CH_Show", "G18g", 0x18, "_IR_KEY_2CH_Show"},
    {15, "3CH_Show", "G5Eg", 0x5E, "_IR_KEY_3CH_Show"},
    {16, "4CH_Show", "G08g", 0x08, "_IR_KEY_4CH_Show"},
    {17, "4_Split", "G1Cg", 0x1C, "KEY_4_Split"},
    {18, "1_3_Split_M0", "G5Ag", 0x5A, "KEY_1_3_Split_M0"},
    {19, "1_3_Split_M1", "G42g", 0x42, "KEY_1_3_Split_M1"},
    {20, "1_3_Split_M2", "G52g", 0x52, "KEY_1_3_Split_M2"},
    {21, "1_3_Split_M3", "G4Ag", 0x4A, "KEY_1_3_Split_M3"},
};

CommandFrame frame(std::array<std::uint8_t, 5> bytes) {
    CommandFrame f;
    f.bytes = bytes;
    return f;
}

TEST(KeyTable, EveryRowAsTheDeviceDefinesIt) {
    ASSERT_EQ(remote::RemoteKeyTable.size(), std::size(kRows));
    for (const Row& row : kRows) {
        SCOPED_TRACE("hotspot " + std::to_string(row.hotspot));
        const remote::RemoteKey& key = remote::keyByHotspot(row.hotspot);
        EXPECT_EQ(key.hotspot, row.hotspot);
        EXPECT_EQ(key.hint, row.hint);
        EXPECT_EQ(key.commandText, row.command);
        EXPECT_EQ(key.receivedName, row.received);
        if (row.code < 0) {
            EXPECT_TRUE(key.isReserved());
            continue;
        }
        ASSERT_TRUE(key.code.has_value());
        EXPECT_EQ(key.code->value, row.code);
        EXPECT_EQ(remote::commandTextFor(*key.code), row.command);
        EXPECT_EQ(remote::keyByCode(KeyCode{std::uint8_t(row.code)}), &key);
        const std::string c = row.command;
        EXPECT_EQ(CommandFrame::fromText(key.commandText),
                  frame({std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]),
                         std::uint8_t(c[3]), 0x0A}));
    }
}

TEST(KeyTable, CodesAreDistinctAndTheProbeIsNoKey) {
    std::set<int> codes;
    for (const Row& row : kRows) {
        if (row.code >= 0) {
            EXPECT_TRUE(codes.insert(row.code).second) << row.code;
        }
    }
    EXPECT_EQ(codes.size(), 20u);
    for (int code : {0xFE, 0x00, 0x43, 0xFF, 0x0A}) {
        EXPECT_EQ(remote::keyByCode(KeyCode{std::uint8_t(code)}), nullptr) << code;
    }
    EXPECT_EQ(remote::kProbeCommand, "GFEg");
    EXPECT_EQ(remote::kProbeReply, "gEFG\n");
}

TEST(KeyTable, HotspotsOutsideTheRemoteAreRefused) {
    for (int hotspot : {0, -1, 22, INT32_MIN}) {
        EXPECT_THROW(remote::keyByHotspot(hotspot), std::out_of_range) << hotspot;
    }
}

TEST(CommandText, TwoUpperCaseHexDigits) {
    const struct {
        std::uint8_t code;
        const char* text;
    } cases[] = {{0x00, "G00g"}, {0x0F, "G0Fg"}, {0xAB, "GABg"}, {0xFE, "GFEg"}, {0xFF, "GFFg"}};
    for (const auto& c : cases) {
        EXPECT_EQ(remote::commandTextFor(KeyCode{c.code}), c.text);
    }
}

TEST(CommandFrame, FirstFourBytesThenLineFeed) {
    const struct {
        std::string text;
        std::array<std::uint8_t, 5> bytes;
    } cases[] = {
        {"GFEg", {'G', 'F', 'E', 'g', 0x0A}},
        {"G45gXYZ", {'G', '4', '5', 'g', 0x0A}},
        {"G45", {'G', '4', '5', 0, 0x0A}},
        {"Gx", {'G', 'x', 0, 0, 0x0A}},
        {"G", {'G', 0, 0, 0, 0x0A}},
        {"", {0, 0, 0, 0, 0x0A}},
        {"\xff\x80\xe9z", {0xFF, 0x80, 0xE9, 'z', 0x0A}},
        {std::string("a\0b", 3), {'a', 0, 'b', 0, 0x0A}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("text '" + c.text + "'");
        EXPECT_EQ(CommandFrame::fromText(c.text), frame(c.bytes));
    }
}

}  // namespace
