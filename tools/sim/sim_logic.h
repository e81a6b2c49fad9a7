#pragma once

// What the simulated device does with the bytes it receives, free of any I/O so that the
// tests can drive it with made-up chunks and made-up clocks.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

enum class FrameEnd {
    LineFeed,    // the bytes up to and including a line feed
    Cut,         // kMaxFrameBytes bytes and still no line feed
    CutTail,     // the rest of a cut run, up to its line feed
    NoLineFeed,  // what was left over when the input ended
};

struct Frame {
    Bytes bytes;
    FrameEnd end = FrameEnd::LineFeed;
};

// Splits received bytes into frames at line feeds. Someone typing at the line can send any
// amount without a line feed, so a run is cut at a bound instead of held without limit.
class FrameSplitter {
public:
    static constexpr std::size_t kMaxFrameBytes = 64;

    // Appends to `out` every frame that `data` completes.
    void feed(const std::uint8_t* data, std::size_t count, std::vector<Frame>& out);

    // The bytes still waiting for a line feed, as a frame of their own.
    std::optional<Frame> finish();

private:
    Bytes pending_;
    bool inCutRun_ = false;
};

// The device's proper answer: the probe reply, or the key code of a key's command.
std::optional<Bytes> correctAnswer(const Frame& frame);

// `"G45g\n"`: the bytes quoted, printable ones as they are, the rest escaped.
std::string quoteBytes(const Bytes& bytes);
// `47 34 35 67 0A`
std::string hexBytes(const Bytes& bytes);

// One log line for a received frame: `rx "G45g\n" 47 34 35 67 0A -> KEY_POWER_ON/OFF`.
std::string describeFrame(const Frame& frame);
// One log line for a sent answer: `tx "E" 45`.
std::string describeAnswer(const Bytes& answer);

// A few random bytes, now and then zeros, never the proper answer `right`.
Bytes garbageAnswer(std::mt19937& rng, const std::optional<Bytes>& right);

// The program ends a message at the first 100 ms poll that finds nothing waiting, so two
// answers written close together would reach it as one two-byte text. Answers therefore
// wait their turn, each at least `spacing` after the previous one.
class AnswerQueue {
public:
    static constexpr std::chrono::milliseconds kSpacing{250};
    // At the spacing above this is over a quarter of an hour of answers: someone is pouring
    // frames in, and the memory is better kept.
    static constexpr std::size_t kMaxQueued = 4096;

    explicit AnswerQueue(std::chrono::milliseconds delay,
                         std::chrono::milliseconds spacing = kSpacing)
        : delay_(delay), spacing_(spacing) {}

    // Queues an answer to a frame received at `received`; false when the queue is full.
    bool push(Clock::time_point received, Bytes answer);

    // When the next answer may be written, or nothing when none is queued.
    std::optional<Clock::time_point> nextDue() const;

    // The next answer if it is due at `now`; taking it counts as writing it.
    std::optional<Bytes> popDue(Clock::time_point now);

    std::size_t size() const { return queue_.size(); }

private:
    struct Entry {
        Clock::time_point ready;
        Bytes bytes;
    };

    std::chrono::milliseconds delay_;
    std::chrono::milliseconds spacing_;
    std::deque<Entry> queue_;
    std::optional<Clock::time_point> lastSent_;
};

// Printable text lines at a steady byte rate, handed out in small time-paced chunks.
class FloodSource {
public:
    static constexpr std::chrono::milliseconds kTick{10};
    static constexpr std::uint32_t kMaxBytesPerSecond = 10'000'000;

    FloodSource(std::uint32_t bytesPerSecond, Clock::time_point start);

    // The text that has become due by `now`. A stall does not turn into a burst: at most
    // 50 ms worth of credit is kept.
    std::string take(Clock::time_point now);

    // When take() will next have something to give.
    Clock::time_point nextDue() const;

private:
    static constexpr std::int64_t kMicroBytesPerByte = 1'000'000;

    void credit(Clock::time_point now);
    char nextChar();

    std::int64_t rate_;
    std::int64_t creditMicroBytes_ = 0;
    Clock::time_point last_;
    std::string line_;
    std::size_t linePos_ = 0;
    std::uint32_t lineNumber_ = 0;
};

}  // namespace sim
