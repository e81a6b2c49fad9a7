// The paced poll against a free-running one on a simulated clock: the same arrivals, each
// poll applying the receiving rules, and the same messages must come out.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "oracle/receive_model.h"
#include "remote/poll_pacer.h"

using remote::PollPacer;
using TimePoint = PollPacer::TimePoint;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

constexpr auto kPeriod = 100ms;

struct Arrival {
    TimePoint at;
    Bytes bytes;
};

// Small messages, lone key codes, bursts over a buffer's worth, arrivals on a tick or within
// a millisecond either side of one, several at one instant, and long silences between.
std::vector<Arrival> randomArrivals(std::mt19937& rng, TimePoint origin) {
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    std::vector<Arrival> arrivals;
    TimePoint t = origin + std::chrono::microseconds(pick(0, 50000));
    for (int n = pick(5, 60); n > 0; --n) {
        const int kind = pick(0, 9);
        if (kind < 4) {
            t += std::chrono::microseconds(pick(0, 150000));
        } else if (kind < 6) {
            t += std::chrono::milliseconds(pick(200, 2000));
        } else if (kind < 9) {
            const auto tick = origin + ((t - origin) / kPeriod + pick(1, 3)) * kPeriod;
            const int offset = pick(0, 2) == 0 ? 0 : pick(-1000, 1000);
            t = std::max(t, tick + std::chrono::microseconds(offset));
        }
        const int size = pick(0, 9) == 0 ? pick(600, 1600) : pick(0, 3) == 0 ? 1 : pick(2, 20);
        Bytes bytes(std::size_t(size), 0);
        for (auto& b : bytes) {
            b = std::uint8_t(pick(0, 255));
        }
        arrivals.push_back({t, std::move(bytes)});
    }
    return arrivals;
}

}  // namespace

TEST(PollPacerTest, CutsEveryMessageWhereTheFreeRunningPollCutsIt) {
    std::mt19937 rng(0x706f6c6c);
    int freePolls = 0;
    int pacedPolls = 0;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const TimePoint origin = TimePoint() + std::chrono::microseconds(rng() % 10'000'000);
        const std::vector<Arrival> arrivals = randomArrivals(rng, origin);
        const TimePoint end = arrivals.back().at + 1s;

        // A poll sees every byte that has arrived by its time, an arrival on its tick included.
        oracle::ReceiveModel freeRunning;
        std::size_t next = 0;
        for (TimePoint tick = origin + kPeriod; tick <= end; tick += kPeriod, ++freePolls) {
            Bytes waiting;
            for (; next < arrivals.size() && arrivals[next].at <= tick; ++next) {
                waiting.insert(waiting.end(), arrivals[next].bytes.begin(),
                               arrivals[next].bytes.end());
            }
            freeRunning.poll(waiting);
        }

        // The port opens at the origin with nothing gathered: the pacer sleeps until the line
        // wakes it, which it does only while no poll is due.
        oracle::ReceiveModel paced;
        PollPacer pacer(origin, kPeriod);
        std::optional<TimePoint> due = pacer.polled(origin, false, true);
        ASSERT_FALSE(due);
        Bytes waiting;
        next = 0;
        while (true) {
            if (next < arrivals.size() && (!due || arrivals[next].at <= *due)) {
                waiting.insert(waiting.end(), arrivals[next].bytes.begin(),
                               arrivals[next].bytes.end());
                if (!due) {
                    due = pacer.inputArrived(arrivals[next].at);
                    ASSERT_GE(*due, arrivals[next].at);
                }
                ++next;
                continue;
            }
            if (!due || *due > end) {
                break;
            }
            ASSERT_EQ((*due - origin) % kPeriod, 0ns) << "off the grid";
            paced.poll(waiting);
            waiting.clear();
            ++pacedPolls;
            due = pacer.polled(*due, !paced.gathered().empty(), true);
        }

        ASSERT_EQ(paced.messages(), freeRunning.messages());
        ASSERT_EQ(paced.overflows(), freeRunning.overflows());
        ASSERT_TRUE(paced.gathered().empty());
        ASSERT_FALSE(due) << "asleep once the line is quiet";
    }
    EXPECT_LT(pacedPolls * 2, freePolls) << "the pacer should skip most polls";
}

TEST(PollPacerTest, KeepsTheGridForLateAndHandPollsAndWithoutAWakingLine) {
    const TimePoint origin = TimePoint() + 5s;
    const TimePoint tick = origin + 7 * kPeriod;
    const struct {
        const char* what;
        TimePoint polledAt;
        bool gathering;
        bool canSleep;
        std::optional<TimePoint> next;
    } cases[] = {
        {"on its tick", tick, true, true, tick + kPeriod},
        {"late", tick + 30ms, true, true, tick + kPeriod},
        {"later than a whole period", tick + 130ms, true, true, tick + 2 * kPeriod},
        {"by hand between ticks", tick - 40ms, true, true, tick},
        {"line quiet, nothing gathered", tick, false, true, std::nullopt},
        {"a line that cannot wake it", tick, false, false, tick + kPeriod},
    };
    for (const auto& c : cases) {
        PollPacer pacer(origin, kPeriod);
        EXPECT_EQ(pacer.polled(c.polledAt, c.gathering, c.canSleep), c.next) << c.what;
    }
    PollPacer pacer(origin, kPeriod);
    EXPECT_EQ(pacer.inputArrived(tick), tick);
    PollPacer later(origin, kPeriod);
    EXPECT_EQ(later.inputArrived(tick + 1us), tick + kPeriod);
    EXPECT_EQ(later.inputArrived(tick + 50ms), tick + kPeriod) << "a due poll stays due";
}
