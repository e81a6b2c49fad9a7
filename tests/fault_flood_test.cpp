// A device flooding the line with random bytes: bursts beyond the receive buffer, long runs
// without a zero byte, stray key codes. The log must get what the receive rules make of what
// was delivered, and nothing else.
#include <unistd.h>

#include <QTimer>
#include <random>
#include <string>
#include <vector>

#include "form_fixture.h"
#include "oracle/receive_model.h"
#include "support/resident_memory.h"
#include "support/sanitizers.h"
#include "support/wait_for.h"

using testing_support::PtyDevice;
using testing_support::waitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kBuffer = oracle::ReceiveModel::kBuffer;

// Chunks of flood, from a fixed seed so a failure can be replayed.
class Flood {
public:
    explicit Flood(std::uint32_t seed) : rng_(seed) {}

    Bytes next(bool allowQuiet) {
        const int kind = pick(0, 99);
        if (kind < 12 && allowQuiet) {
            return {};
        }
        if (kind < 18) {
            return randomBytes(pick(int(kBuffer) + 1, 3000), 0);
        }
        if (kind < 35) {
            return randomBytes(pick(300, int(kBuffer)), 1);  // no zero byte anywhere
        }
        if (kind < 45) {
            static const std::uint8_t kCodes[] = {0x45, 0x0C, 0x5E, 0x4A, 0x00, 0x99, 0xFF};
            return {kCodes[pick(0, 6)]};
        }
        return randomBytes(pick(1, 64), 0);
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    Bytes randomBytes(int count, int lowest) {
        Bytes b(std::size_t(count), 0);
        for (auto& byte : b) {
            byte = std::uint8_t(pick(lowest, 255));
        }
        return b;
    }
    std::mt19937 rng_;
};

}  // namespace

using FloodTest = FormTest;

TEST_F(FloodTest, LogHoldsExactlyWhatTheRulesMakeOfEachPoll) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    pollOnlyByHand();

    // The log as it would look with the rules applied: the same lines through the same kind
    // of widget, so only the receiving is compared.
    QPlainTextEdit expected;
    expected.appendPlainText(logLines().first());
    oracle::ReceiveModel model;
    Flood flood(0x4b6f6c76);
    std::size_t delivered = 0;
    std::size_t discarded = 0;
    long residentBefore = 0;
    for (int poll = 0; poll < 1500; ++poll) {
        const Bytes chunk = flood.next(true);
        if (!chunk.empty()) {
            device.send(chunk);
            ASSERT_TRUE(waitFor([&] {
                return form->session().link().waitingBytes().value_or(0) == chunk.size();
            })) << "poll "
                << poll;
        }
        form->ButtonRs232ReadClick();
        model.poll(chunk);
        if (poll == 299) {
            // Counted from here: by now the log has loaded the fonts random text asks for.
            residentBefore = testing_support::residentKiB();
        }
        ASSERT_LE(form->session().receiveState().RxCount(), std::int32_t(kBuffer));
        (chunk.size() > kBuffer ? discarded : delivered) += chunk.size();
    }
    form->ButtonRs232ReadClick();
    model.poll({});

    std::size_t logged = 0;
    for (const oracle::Message& message : model.messages()) {
        const std::string& line = message.text;
        expected.appendPlainText(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
        logged += line.size();
    }
    ASSERT_GT(discarded, 0u);
    ASSERT_GT(model.messages().size(), 100u);
    EXPECT_EQ(child<QPlainTextEdit>("Memo1")->toPlainText(), expected.toPlainText());
    EXPECT_LE(logged, delivered + 32 * model.messages().size());
    EXPECT_TRUE(errors.isEmpty());
    // Two logs of the same text are all that may grow; the receiver itself is fixed in size.
    const std::size_t grown =
        1024 * std::size_t(std::max(0L, testing_support::residentKiB() - residentBefore));
    RecordProperty("logged_bytes", std::to_string(logged));
    RecordProperty("resident_growth_bytes", std::to_string(grown));
    if (!testing_support::kUnderAsan) {
        EXPECT_LT(grown, 16u * 1024 * 1024 + 2 * 64 * logged);
    }
}

TEST_F(FloodTest, WindowWithItsTimerRunningSurvivesAFloodAndReceivesAfterIt) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    Flood flood(0x5eed);
    std::mt19937 pace(0x5eed);
    QTimer writer;
    writer.setInterval(5);
    int ticks = 0;
    int pauseLeft = 0;
    std::int32_t largestRx = 0;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        largestRx = std::max(largestRx, form->session().receiveState().RxCount());
        ++ticks;
        // Bursts and silences of a few polls each, so messages both end and overflow.
        if (pauseLeft > 0) {
            --pauseLeft;
        } else if (pace() % 50 == 0) {
            pauseLeft = int(20 + pace() % 40);
        } else if (pace() % 10 == 0) {
            // Whatever the line takes now; a flood does not wait for the reader.
            const Bytes chunk = flood.next(false);
            [[maybe_unused]] const ssize_t n = ::write(device.master(), chunk.data(), chunk.size());
        }
    });
    writer.start();
    // Until enough messages have ended in the flood too: how many do depends on how the two
    // timers interleave, which a busy machine changes.
    ASSERT_TRUE(waitFor([&] { return ticks >= 1000 && logLines().size() > 10; }, 60s));
    writer.stop();

    // Once the window has gone back to sleep and stayed asleep for a few polls' time, an
    // ordinary message comes through whole. One quiet poll is not enough: the pty holds back
    // more than a poll throws away, and hands it on only as the reader makes room.
    auto restingSince = Clock::now();
    ASSERT_TRUE(waitFor(
        [&] {
            if (pollTimer()->isActive() || form->session().receiveState().RxCount() != 0) {
                restingSince = Clock::now();
            }
            return Clock::now() - restingSince >= 300ms;
        },
        20s));
    const int linesBefore = logLines().size();
    device.send(std::string("END\0tail", 8));
    ASSERT_TRUE(waitFor([&] { return logLines().size() > linesBefore; }));
    EXPECT_EQ(logLines().last(), QStringLiteral("END"));

    EXPECT_LE(largestRx, std::int32_t(kBuffer));
    for (const QString& line : logLines()) {
        ASSERT_LE(line.size(), qsizetype(kBuffer));
    }
    EXPECT_TRUE(errors.isEmpty());
}
