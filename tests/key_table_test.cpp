// The remote's keys, their commands and the frames that carry them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "oracle/keys.h"
#include "remote/key_table.h"

using remote::CommandFrame;
using remote::KeyCode;

namespace {

CommandFrame frame(std::array<std::uint8_t, 5> bytes) {
    CommandFrame f;
    f.bytes = bytes;
    return f;
}

TEST(KeyTable, EveryRowAsTheDeviceDefinesIt) {
    ASSERT_EQ(remote::RemoteKeyTable.size(), oracle::keys().size());
    EXPECT_EQ(remote::kKeyAreaSide, oracle::kKeyAreaSide);
    for (std::size_t i = 0; i < oracle::keys().size(); ++i) {
        const oracle::Key& row = oracle::keys()[i];
        SCOPED_TRACE("hotspot " + std::to_string(row.hotspot));
        ASSERT_EQ(row.hotspot, int(i) + 1);
        const remote::RemoteKey& key = remote::keyByHotspot(row.hotspot);
        EXPECT_EQ(key.hotspot, row.hotspot);
        EXPECT_EQ(key.area.left, row.left);
        EXPECT_EQ(key.area.top, row.top);
        EXPECT_EQ(key.hint, row.hint);
        EXPECT_EQ(key.commandText, row.command);
        EXPECT_EQ(key.receivedName, row.receivedName);
        if (!row.code) {
            EXPECT_TRUE(key.isReserved());
            continue;
        }
        ASSERT_TRUE(key.code.has_value());
        EXPECT_EQ(key.code->value, *row.code);
        EXPECT_EQ(remote::commandTextFor(*key.code), row.command);
        const std::string& c = row.command;
        EXPECT_EQ(CommandFrame::fromText(key.commandText),
                  frame({std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]),
                         std::uint8_t(c[3]), 0x0A}));
    }
}

TEST(KeyTable, EachCodeFindsItsOwnKeyAndNoOtherByteFindsOne) {
    for (int code = 0; code <= 0xFF; ++code) {
        const oracle::Key* row = oracle::keyWithCode(std::uint8_t(code));
        EXPECT_EQ(remote::keyByCode(KeyCode{std::uint8_t(code)}),
                  row ? &remote::keyByHotspot(row->hotspot) : nullptr)
            << code;
    }
    EXPECT_EQ(remote::kProbeCommand, oracle::kProbeCommand);
    EXPECT_EQ(remote::kProbeReply, oracle::kProbeReply);
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
