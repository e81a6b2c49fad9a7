// Gathering received bytes into messages: key codes, text lines, the probe reply, overflow.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "pty_device.h"
#include "serial/receive_poller.h"
#include "serial/serial_link.h"

using serial::ReceiveState;
using testing_support::PtyDevice;
using testing_support::waitFor;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

namespace {

const std::map<std::uint8_t, std::string> kKeyNames = {
    {0x45, "KEY_POWER_ON/OFF"}, {0x46, "KEY_1_3_Split"},         {0x47, "KEY_4_H_Split"},
    {0x44, "KEY_2_12Split"},    {0x40, "KEY_2_34Split"},         {0x07, "KEY_AUDIO_CH1"},
    {0x15, "KEY_AUDIO_CH2"},    {0x09, "KEY_AUDIO_mute/unmute"}, {0x16, "KEY_AUDIO_CH3"},
    {0x19, "KEY_AUDIO_CH4"},    {0x0D, "KEY_CHANGE_OUTSIZE"},    {0x0C, "_IR_KEY_1CH_Show"},
    {0x18, "_IR_KEY_2CH_Show"}, {0x5E, "_IR_KEY_3CH_Show"},      {0x08, "_IR_KEY_4CH_Show"},
    {0x1C, "KEY_4_Split"},      {0x5A, "KEY_1_3_Split_M0"},      {0x42, "KEY_1_3_Split_M1"},
    {0x52, "KEY_1_3_Split_M2"}, {0x4A, "KEY_1_3_Split_M3"},
};

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Non-zero filler that is easy to check for loss or reordering.
Bytes counting(std::size_t n, std::size_t from = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = std::uint8_t('A' + (from + i) % 26);
    }
    return b;
}

struct Log {
    Lines lines;
    serial::LogLine fn() {
        return [this](std::string_view s) { lines.emplace_back(s); };
    }
};

void gather(ReceiveState& rx, const Bytes& b, Log& log) {
    rx.gather(b.data(), b.size(), log.fn());
}

TEST(ReceiveState, LoneByteIsAKeyWhenItIsOne) {
    for (const auto& [code, name] : kKeyNames) {
        ReceiveState rx;
        Log log;
        gather(rx, {code}, log);
        rx.endMessage(log.fn());
        EXPECT_EQ(log.lines, Lines{name}) << int(code);
        EXPECT_EQ(rx.RxCount(), 0);
    }
    for (std::uint8_t code : {0x43, 0xFE, 0x00, 0xFF, 0x0A}) {
        ReceiveState rx;
        Log log;
        gather(rx, {code}, log);
        rx.endMessage(log.fn());
        EXPECT_TRUE(log.lines.empty()) << int(code);
        EXPECT_EQ(rx.RxCount(), 0);
        // What is left of it must not leak into the next message.
        gather(rx, {'o', 'k'}, log);
        rx.endMessage(log.fn());
        EXPECT_EQ(log.lines, Lines{"ok"}) << int(code);
    }
}

TEST(ReceiveState, TextRunsToTheFirstZeroByteAfterALeadingOne) {
    const struct {
        std::string bytes;
        Lines lines;
        int found;
    } cases[] = {
        {"AB", {"AB"}, 0},
        {"EF", {"EF"}, 0},  // two key codes together are text
        {std::string("\0AB", 3), {"AB"}, 0},
        {std::string("AB\0CD", 5), {"AB"}, 0},
        {std::string("\0\0", 2), {""}, 0},
        {std::string("\0\0AB", 4), {""}, 0},
        {std::string("A\0", 2), {"A"}, 0},
        {"gEFG\n", {"gEFG\n"}, 1},
        {std::string("\0gEFG\n", 6), {"gEFG\n"}, 1},
        {std::string("gEFG\n\0junk", 10), {"gEFG\n"}, 1},
        {"gEFG\nX", {"gEFG\nX"}, 0},
        {"gEFG", {"gEFG"}, 0},
        {"xgEFG\n", {"xgEFG\n"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("bytes '" + c.bytes + "'");
        ReceiveState rx;
        Log log;
        gather(rx, bytesOf(c.bytes), log);
        EXPECT_TRUE(log.lines.empty());
        rx.endMessage(log.fn());
        EXPECT_EQ(log.lines, c.lines);
        EXPECT_EQ(rx.DeviceFound(), c.found);
        EXPECT_EQ(rx.RxCount(), 0);
        EXPECT_TRUE(std::all_of(rx.RxBuffer().begin(), rx.RxBuffer().end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(ReceiveState, ProbeReplyCountsOnlyWhileSearching) {
    for (int mode : {0, 2, -1}) {
        ReceiveState rx;
        Log log;
        rx.setSearchMode(mode);
        gather(rx, bytesOf("gEFG\n"), log);
        rx.endMessage(log.fn());
        EXPECT_EQ(rx.DeviceFound(), 0) << mode;
        EXPECT_EQ(log.lines, Lines{"gEFG\n"});
    }
    ReceiveState rx;
    Log log;
    rx.setDeviceFound(1);
    gather(rx, bytesOf("other"), log);
    rx.endMessage(log.fn());
    EXPECT_EQ(rx.DeviceFound(), 1) << "another message must not clear a find";
}

TEST(ReceiveState, OverflowEndsTheMessageAtAFullBufferAndLosesNothing) {
    const struct {
        std::vector<std::size_t> chunks;
        std::vector<std::size_t> lineSizes;
    } cases[] = {
        {{1000, 100}, {1024, 76}},    {{1024}, {1024}},       {{1100}, {1024, 76}},
        {{1, 1023, 1, 1}, {1024, 2}}, {{2048}, {1024, 1024}}, {{700, 700, 700}, {1024, 1024, 52}},
    };
    for (const auto& c : cases) {
        ReceiveState rx;
        Log log;
        std::size_t sent = 0;
        for (std::size_t n : c.chunks) {
            gather(rx, counting(n, sent), log);
            sent += n;
        }
        rx.endMessage(log.fn());
        std::vector<std::size_t> sizes;
        std::string all;
        for (const auto& line : log.lines) {
            sizes.push_back(line.size());
            all += line;
        }
        EXPECT_EQ(sizes, c.lineSizes) << sent;
        EXPECT_EQ(bytesOf(all), counting(sent));
    }
}

TEST(ReceiveState, ThrowingLogDropsTheTextButNotTheReceiver) {
    const serial::LogLine throwing = [](std::string_view) { throw std::runtime_error("full"); };
    ReceiveState rx;
    Log unused;
    gather(rx, bytesOf("gEFG\n"), unused);
    EXPECT_NO_THROW(rx.endMessage(throwing));
    EXPECT_EQ(rx.RxCount(), 0);
    EXPECT_EQ(rx.DeviceFound(), 1);
    EXPECT_TRUE(std::all_of(rx.RxBuffer().begin(), rx.RxBuffer().end(),
                            [](std::uint8_t b) { return b == 0; }));

    // At an overflow, too: the rest still starts the next message.
    const Bytes big = counting(1100);
    EXPECT_NO_THROW(rx.gather(big.data(), big.size(), throwing));
    EXPECT_EQ(rx.RxCount(), 76);
    EXPECT_EQ(rx.RxBuffer()[0], big[1024]);

    ReceiveState key;
    const Bytes power = {0x45};
    key.gather(power.data(), 1, throwing);
    EXPECT_THROW(key.endMessage(throwing), std::runtime_error);
}

// The receiver fed through a pseudo-terminal, one poll at a time.
class Poller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1)); }
    void deliver(const Bytes& b) {
        const std::size_t before = link.waitingBytes().value_or(0);
        pty.send(b);
        ASSERT_TRUE(waitFor([&] { return link.waitingBytes() == before + b.size(); }));
    }
    void poll() { serial::pollReceiver(link, rx, log.fn()); }

    PtyDevice pty;
    serial::SerialLink link;
    ReceiveState rx;
    Log log;
};

TEST_F(Poller, MessageIsWhatArrivesBetweenQuietPolls) {
    deliver({0x4A});
    poll();
    EXPECT_TRUE(log.lines.empty());
    poll();
    EXPECT_EQ(log.lines, Lines{"KEY_1_3_Split_M3"});

    deliver({'A'});
    poll();
    deliver({'B'});
    poll();
    EXPECT_EQ(rx.RxCount(), 2);
    poll();
    poll();
    EXPECT_EQ(log.lines, (Lines{"KEY_1_3_Split_M3", "AB"}));

    deliver(bytesOf("gEFG\n"));
    poll();
    poll();
    EXPECT_EQ(rx.DeviceFound(), 1);
}

TEST_F(Poller, MoreThanABufferWaitingIsDiscardedAlone) {
    deliver(bytesOf("xy"));
    poll();
    deliver(counting(1025));
    poll();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(rx.RxCount(), 2);
    EXPECT_EQ(rx.RxBuffer()[0], 'x');
    EXPECT_EQ(rx.RxBuffer()[2], 0);
    EXPECT_TRUE(waitFor([&] { return link.waitingBytes() == std::size_t{0}; }));

    deliver(bytesOf("zz"));
    poll();
    poll();
    EXPECT_EQ(log.lines, Lines{"xyzz"});
}

TEST_F(Poller, BufferFullOfWaitingBytesAndOverflowAcrossPolls) {
    deliver(counting(1024));
    poll();
    EXPECT_EQ(rx.RxCount(), 1024);
    poll();
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(bytesOf(log.lines[0]), counting(1024));

    log.lines.clear();
    deliver(counting(1000));
    poll();
    deliver(counting(100, 1000));
    poll();
    poll();
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].size(), 1024u);
    EXPECT_EQ(bytesOf(log.lines[0] + log.lines[1]), counting(1100));
}

TEST_F(Poller, PortClosedOrFailedMidMessageKeepsTheBytes) {
    deliver(bytesOf("AB"));
    poll();
    ASSERT_FALSE(link.Rs232Control(true, "/nonexistent/kolvane-port", 9600, 8, 0, 1));
    poll();
    poll();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(rx.RxCount(), 2);

    ASSERT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    deliver(bytesOf("CD"));
    poll();
    link.Rs232Control(false, pty.path(), 9600, 8, 0, 1);
    EXPECT_EQ(rx.RxCount(), 4);
    poll();
    EXPECT_EQ(log.lines, Lines{"ABCD"});
}

TEST_F(Poller, VanishedDeviceEndsTheMessage) {
    deliver(bytesOf("AB"));
    poll();
    pty.vanish();
    poll();
    poll();
    EXPECT_EQ(log.lines, Lines{"AB"});
}

// An independent statement of the rules, for the randomised comparison below.
struct Model {
    Bytes message;
    int searchMode = 1;
    int found = 0;
    Lines lines;
    int overflows = 0;

    void end() {
        if (message.size() == 1) {
            const auto key = kKeyNames.find(message[0]);
            if (key != kKeyNames.end()) {
                lines.push_back(key->second);
            }
        } else if (message.size() >= 2) {
            auto begin = message.begin() + (message[0] == 0 ? 1 : 0);
            const std::string text(begin, std::find(begin, message.end(), 0));
            if (searchMode == 1 && text == "gEFG\n") {
                found = 1;
            }
            lines.push_back(text);
        }
        message.clear();
    }
    void bytes(const Bytes& b) {
        for (std::uint8_t x : b) {
            if (message.size() == 1024) {
                ++overflows;
                end();
            }
            message.push_back(x);
        }
    }
};

TEST(ReceiveStateProperty, AgreesWithTheRulesOnRandomStreams) {
    std::mt19937 random(20261208);
    const auto below = [&](std::size_t n) { return std::size_t(random() % n); };
    const Bytes codes = {0x45, 0x07, 0x4A, 0x5E, 0x43, 0xFE, 0x00};
    const Bytes replies[] = {bytesOf("gEFG\n"), bytesOf(std::string("\0gEFG\n", 6)),
                             bytesOf(std::string("gEFG\n\0x", 7)), bytesOf("gEFG\nx")};
    const auto chunk = [&] {
        if (below(10) == 0) {
            return replies[below(std::size(replies))];
        }
        static const std::size_t kLengths[] = {0, 1, 1, 2, 5, 64, 1100};
        const std::size_t length = below(kLengths[below(std::size(kLengths))] + 1);
        Bytes b;
        while (b.size() < length) {
            switch (below(7)) {
                case 0:
                    b.push_back(0);
                    break;
                case 1:
                    b.push_back(codes[below(codes.size())]);
                    break;
                case 2:
                    b.insert(b.end(), {'g', 'E', 'F', 'G', '\n'});
                    break;
                case 3:  // long text, so that lines reach the full buffer
                    b.insert(b.end(), below(600), std::uint8_t('a' + below(26)));
                    break;
                default:
                    b.push_back(std::uint8_t(random()));
                    break;
            }
        }
        b.resize(length);
        return b;
    };

    // How often the interesting cases came up, so a generator gone bland does not pass quietly.
    int keys = 0, finds = 0, overflows = 0, fullLines = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int iteration = 0; iteration < 5000; ++iteration) {
        ReceiveState rx;
        Model model;
        Log log;
        for (std::size_t step = 0, steps = 1 + below(12); step < steps; ++step) {
            if (below(8) == 0) {
                const int mode = int(below(3));
                rx.setSearchMode(mode);
                model.searchMode = mode;
            }
            if (below(3) == 0) {
                rx.endMessage(log.fn());
                model.end();
            } else {
                const Bytes b = chunk();
                gather(rx, b, log);
                model.bytes(b);
            }
            ASSERT_EQ(log.lines, model.lines) << "iteration " << iteration << " step " << step;
            ASSERT_EQ(rx.DeviceFound(), model.found) << "iteration " << iteration;
            ASSERT_EQ(std::size_t(rx.RxCount()), model.message.size());
        }
        finds += model.found;
        overflows += model.overflows;
        for (const std::string& line : model.lines) {
            keys += line.rfind("KEY_", 0) == 0 || line.rfind("_IR_KEY_", 0) == 0;
            fullLines += line.size() == 1024;
        }
    }
    EXPECT_GT(keys, 50);
    EXPECT_GT(finds, 50);
    EXPECT_GT(overflows, 50);
    EXPECT_GT(fullLines, 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
