// Gathering received bytes into messages: key codes, text, the probe reply, overflow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "oracle/keys.h"
#include "oracle/receive_model.h"
#include "pty_device.h"
#include "remote/receiver.h"
#include "serial/serial_link.h"
#include "support/message_log.h"
#include "support/wait_for.h"

using oracle::Message;
using remote::ReceiveState;
using testing_support::MessageLog;
using testing_support::PtyDevice;
using testing_support::waitFor;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<Message>;
using Kind = Message::Kind;

namespace {

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Message text(const std::string& s) {
    return {Kind::Text, s};
}

// Non-zero filler that is easy to check for loss or reordering.
Bytes counting(std::size_t n, std::size_t from = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = std::uint8_t('A' + (from + i) % 26);
    }
    return b;
}

void gather(ReceiveState& rx, const Bytes& b, const remote::MessageHandler& handle) {
    rx.gather(b.data(), b.size(), handle);
}

// One whole message: its bytes, then a quiet poll.
void receive(ReceiveState& rx, const Bytes& b, MessageLog& log) {
    gather(rx, b, log.handler());
    rx.endMessage(log.handler());
}

bool bufferIsZero(const ReceiveState& rx) {
    return std::all_of(rx.RxBuffer().begin(), rx.RxBuffer().end(),
                       [](std::uint8_t b) { return b == 0; });
}

TEST(Receiver, LoneByteIsAKeyWhenItIsOneAndNothingOtherwise) {
    for (int code = 0; code <= 0xFF; ++code) {
        SCOPED_TRACE(code);
        ReceiveState rx;
        MessageLog log;
        receive(rx, {std::uint8_t(code)}, log);
        Messages expected;
        if (const oracle::Key* key = oracle::keyWithCode(std::uint8_t(code))) {
            expected.push_back({Kind::Key, key->receivedName});
        }
        EXPECT_EQ(log.messages, expected);
        EXPECT_EQ(rx.RxCount(), 0);
        // What is left of it must not leak into the next message.
        log.messages.clear();
        receive(rx, bytesOf("ok"), log);
        EXPECT_EQ(log.messages, Messages{text("ok")});
    }
}

TEST(Receiver, TextRunsToTheFirstZeroByteAfterALeadingOne) {
    const Message probeReply{Kind::ProbeReply, "gEFG\n"};
    const struct {
        std::string bytes;
        Message message;
    } cases[] = {
        {"AB", text("AB")},
        {"EF", text("EF")},  // two key codes together are text
        {std::string("\0AB", 3), text("AB")},
        {std::string("AB\0CD", 5), text("AB")},
        {std::string("\0\0", 2), text("")},
        {std::string("\0\0AB", 4), text("")},
        {std::string("A\0", 2), text("A")},
        {"gEFG\n", probeReply},
        {std::string("\0gEFG\n", 6), probeReply},
        {std::string("gEFG\n\0junk", 10), probeReply},
        {"gEFG\nX", text("gEFG\nX")},
        {"gEFG", text("gEFG")},
        {"xgEFG\n", text("xgEFG\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("bytes '" + c.bytes + "'");
        ReceiveState rx;
        MessageLog log;
        gather(rx, bytesOf(c.bytes), log.handler());
        EXPECT_TRUE(log.messages.empty());
        rx.endMessage(log.handler());
        EXPECT_EQ(log.messages, Messages{c.message});
        EXPECT_EQ(rx.RxCount(), 0);
        EXPECT_TRUE(bufferIsZero(rx));
    }
}

TEST(Receiver, ProbeReplyFindsTheDeviceUntilTheNextScanStarts) {
    ReceiveState rx;
    MessageLog log;
    receive(rx, bytesOf("other"), log);
    EXPECT_EQ(log.search.DeviceFound(), 0);
    receive(rx, bytesOf("gEFG\n"), log);
    EXPECT_EQ(log.search.DeviceFound(), 1);
    receive(rx, bytesOf("other"), log);
    EXPECT_EQ(log.search.DeviceFound(), 1) << "another message must not clear a find";
    log.search.restart();
    EXPECT_EQ(log.search.DeviceFound(), 0);
    receive(rx, bytesOf(std::string("\0gEFG\n", 6)), log);
    EXPECT_EQ(log.search.DeviceFound(), 1);
}

TEST(Receiver, OverflowEndsTheMessageAtAFullBufferAndLosesNothing) {
    const struct {
        std::vector<std::size_t> chunks;
        std::vector<std::size_t> textSizes;
    } cases[] = {
        {{1000, 100}, {1024, 76}},    {{1024}, {1024}},       {{1100}, {1024, 76}},
        {{1, 1023, 1, 1}, {1024, 2}}, {{2048}, {1024, 1024}}, {{700, 700, 700}, {1024, 1024, 52}},
    };
    for (const auto& c : cases) {
        ReceiveState rx;
        MessageLog log;
        std::size_t sent = 0;
        for (std::size_t n : c.chunks) {
            gather(rx, counting(n, sent), log.handler());
            sent += n;
        }
        rx.endMessage(log.handler());
        std::vector<std::size_t> sizes;
        std::string all;
        for (const Message& message : log.messages) {
            sizes.push_back(message.text.size());
            all += message.text;
        }
        EXPECT_EQ(sizes, c.textSizes) << sent;
        EXPECT_EQ(bytesOf(all), counting(sent));
    }
}

TEST(Receiver, ThrowingHandlerDropsTheTextButNotTheReceiver) {
    // As the window does, the probe reply reaches the search before the text is logged.
    MessageLog log;
    const remote::MessageHandler throwing = [&](const remote::Message& message) {
        log.handler()(message);
        throw std::runtime_error("full");
    };
    ReceiveState rx;
    gather(rx, bytesOf("gEFG\n"), throwing);
    EXPECT_NO_THROW(rx.endMessage(throwing));
    EXPECT_EQ(rx.RxCount(), 0);
    EXPECT_EQ(log.search.DeviceFound(), 1);
    EXPECT_TRUE(bufferIsZero(rx));

    // At an overflow, too: the rest still starts the next message.
    const Bytes big = counting(1100);
    EXPECT_NO_THROW(gather(rx, big, throwing));
    EXPECT_EQ(rx.RxCount(), 76);
    EXPECT_EQ(rx.RxBuffer()[0], big[1024]);

    ReceiveState key;
    gather(key, {0x45}, throwing);
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
    void poll() { remote::pollReceiver(link, rx, log.handler()); }

    PtyDevice pty;
    serial::SerialLink link;
    ReceiveState rx;
    MessageLog log;
};

TEST_F(Poller, MessageIsWhatArrivesBetweenQuietPolls) {
    deliver({0x4A});
    poll();
    EXPECT_TRUE(log.messages.empty());
    poll();
    const Message key{Kind::Key, "KEY_1_3_Split_M3"};
    EXPECT_EQ(log.messages, Messages{key});

    deliver({'A'});
    poll();
    deliver({'B'});
    poll();
    EXPECT_EQ(rx.RxCount(), 2);
    poll();
    poll();
    EXPECT_EQ(log.messages, (Messages{key, text("AB")}));

    deliver(bytesOf("gEFG\n"));
    poll();
    poll();
    EXPECT_EQ(log.search.DeviceFound(), 1);
}

TEST_F(Poller, MoreThanABufferWaitingIsDiscardedAlone) {
    deliver(bytesOf("xy"));
    poll();
    deliver(counting(1025));
    poll();
    EXPECT_TRUE(log.messages.empty());
    EXPECT_EQ(rx.RxCount(), 2);
    EXPECT_EQ(rx.RxBuffer()[0], 'x');
    EXPECT_EQ(rx.RxBuffer()[2], 0);
    EXPECT_TRUE(waitFor([&] { return link.waitingBytes() == std::size_t{0}; }));

    deliver(bytesOf("zz"));
    poll();
    poll();
    EXPECT_EQ(log.messages, Messages{text("xyzz")});
}

TEST_F(Poller, BufferFullOfWaitingBytesAndOverflowAcrossPolls) {
    deliver(counting(1024));
    poll();
    EXPECT_EQ(rx.RxCount(), 1024);
    poll();
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(bytesOf(log.messages[0].text), counting(1024));

    log.messages.clear();
    deliver(counting(1000));
    poll();
    deliver(counting(100, 1000));
    poll();
    poll();
    ASSERT_EQ(log.messages.size(), 2u);
    EXPECT_EQ(log.messages[0].text.size(), 1024u);
    EXPECT_EQ(bytesOf(log.messages[0].text + log.messages[1].text), counting(1100));
}

TEST_F(Poller, PortClosedOrFailedMidMessageKeepsTheBytes) {
    deliver(bytesOf("AB"));
    poll();
    ASSERT_FALSE(link.Rs232Control(true, "/nonexistent/kolvane-port", 9600, 8, 0, 1));
    poll();
    poll();
    EXPECT_TRUE(log.messages.empty());
    EXPECT_EQ(rx.RxCount(), 2);

    ASSERT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    deliver(bytesOf("CD"));
    poll();
    link.Rs232Control(false, pty.path(), 9600, 8, 0, 1);
    EXPECT_EQ(rx.RxCount(), 4);
    poll();
    EXPECT_EQ(log.messages, Messages{text("ABCD")});
}

TEST_F(Poller, VanishedDeviceEndsTheMessage) {
    deliver(bytesOf("AB"));
    poll();
    pty.vanish();
    poll();
    poll();
    EXPECT_EQ(log.messages, Messages{text("AB")});
}

TEST(ReceiverProperty, AgreesWithTheModelOnRandomStreams) {
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
                case 3:  // long text, so that messages reach the full buffer
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
    int keys = 0, finds = 0, overflows = 0, fullTexts = 0;
    for (int iteration = 0; iteration < 5000; ++iteration) {
        ReceiveState rx;
        oracle::ReceiveModel model;
        MessageLog log;
        for (std::size_t step = 0, steps = 1 + below(12); step < steps; ++step) {
            if (below(3) == 0) {
                rx.endMessage(log.handler());
                model.end();
            } else {
                const Bytes b = chunk();
                gather(rx, b, log.handler());
                model.gather(b.data(), b.size());
            }
            ASSERT_EQ(log.messages, model.messages())
                << "iteration " << iteration << " step " << step;
            ASSERT_EQ(std::size_t(rx.RxCount()), model.gathered().size());
            ASSERT_TRUE(std::equal(model.gathered().begin(), model.gathered().end(),
                                   rx.RxBuffer().begin()));
        }
        const bool found = std::any_of(model.messages().begin(), model.messages().end(),
                                       [](const Message& m) { return m.kind == Kind::ProbeReply; });
        ASSERT_EQ(log.search.DeviceFound(), found ? 1 : 0) << "iteration " << iteration;
        finds += found;
        overflows += model.overflows();
        for (const Message& message : model.messages()) {
            keys += message.kind == Kind::Key;
            fullTexts += message.text.size() == 1024;
        }
    }
    EXPECT_GT(keys, 50);
    EXPECT_GT(finds, 50);
    EXPECT_GT(overflows, 50);
    EXPECT_GT(fullTexts, 5);
}

}  // namespace
