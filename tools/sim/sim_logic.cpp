#include "sim_logic.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "remote/key_table.h"

namespace sim {

namespace {

constexpr std::uint8_t kLineFeed = 0x0A;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes probeFrame() {
    Bytes frame = bytesOf(remote::kProbeCommand);
    frame.push_back(kLineFeed);
    return frame;
}

const remote::RemoteKey* keyForFrame(const Bytes& bytes) {
    if (bytes.size() != remote::CommandFrame::kSize) {
        return nullptr;
    }
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (key.isReserved()) {
            continue;  // its empty command text would turn into a frame of zero bytes
        }
        const auto command = remote::CommandFrame::fromText(key.commandText).bytes;
        if (std::equal(command.begin(), command.end(), bytes.begin())) {
            return &key;
        }
    }
    return nullptr;
}

std::string frameVerdict(const Frame& frame) {
    switch (frame.end) {
        case FrameEnd::Cut:
            return "over-long, cut at " + std::to_string(frame.bytes.size()) + " bytes";
        case FrameEnd::CutTail:
            return "end of an over-long line";
        case FrameEnd::NoLineFeed:
            return "no line feed";
        case FrameEnd::LineFeed:
            break;
    }
    if (frame.bytes == probeFrame()) {
        return "probe";
    }
    if (const remote::RemoteKey* key = keyForFrame(frame.bytes)) {
        return std::string(key->receivedName);
    }
    return "unknown";
}

}  // namespace

void FrameSplitter::feed(const std::uint8_t* data, std::size_t count, std::vector<Frame>& out) {
    for (std::size_t i = 0; i < count; ++i) {
        pending_.push_back(data[i]);
        if (data[i] == kLineFeed) {
            out.push_back(
                {std::move(pending_), inCutRun_ ? FrameEnd::CutTail : FrameEnd::LineFeed});
            pending_.clear();
            inCutRun_ = false;
        } else if (pending_.size() == kMaxFrameBytes) {
            out.push_back({std::move(pending_), FrameEnd::Cut});
            pending_.clear();
            inCutRun_ = true;
        }
    }
}

std::optional<Frame> FrameSplitter::finish() {
    if (pending_.empty()) {
        return std::nullopt;
    }
    Frame frame{std::move(pending_), FrameEnd::NoLineFeed};
    pending_.clear();
    inCutRun_ = false;
    return frame;
}

std::optional<Bytes> correctAnswer(const Frame& frame) {
    if (frame.end != FrameEnd::LineFeed) {
        return std::nullopt;
    }
    if (frame.bytes == probeFrame()) {
        return bytesOf(remote::kProbeReply);
    }
    if (const remote::RemoteKey* key = keyForFrame(frame.bytes)) {
        return Bytes{key->code->value};
    }
    return std::nullopt;
}

std::string quoteBytes(const Bytes& bytes) {
    std::string text = "\"";
    for (std::uint8_t b : bytes) {
        switch (b) {
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\t':
                text += "\\t";
                break;
            case '"':
                text += "\\\"";
                break;
            case '\\':
                text += "\\\\";
                break;
            default:
                if (b >= 0x20 && b < 0x7F) {
                    text += static_cast<char>(b);
                } else {
                    char escaped[5];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
                    text += escaped;
                }
        }
    }
    return text + "\"";
}

std::string hexBytes(const Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%s%02X", text.empty() ? "" : " ", b);
        text += hex;
    }
    return text;
}

std::string describeFrame(const Frame& frame) {
    return "rx " + quoteBytes(frame.bytes) + " " + hexBytes(frame.bytes) + " -> " +
           frameVerdict(frame);
}

std::string describeAnswer(const Bytes& answer) {
    return "tx " + quoteBytes(answer) + " " + hexBytes(answer);
}

Bytes garbageAnswer(std::mt19937& rng, const std::optional<Bytes>& right) {
    std::uniform_int_distribution<int> length(1, 8);
    std::uniform_int_distribution<int> value(0, 255);
    std::bernoulli_distribution zero(0.25);
    Bytes answer;
    do {
        answer.resize(static_cast<std::size_t>(length(rng)));
        for (std::uint8_t& b : answer) {
            b = zero(rng) ? 0 : static_cast<std::uint8_t>(value(rng));
        }
    } while (right && answer == *right);
    return answer;
}

bool AnswerQueue::push(Clock::time_point received, Bytes answer) {
    if (queue_.size() >= kMaxQueued) {
        return false;
    }
    queue_.push_back({received + delay_, std::move(answer)});
    return true;
}

std::optional<Clock::time_point> AnswerQueue::nextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    Clock::time_point due = queue_.front().ready;
    if (lastSent_) {
        due = std::max(due, *lastSent_ + spacing_);
    }
    return due;
}

std::optional<Bytes> AnswerQueue::popDue(Clock::time_point now) {
    const auto due = nextDue();
    if (!due || *due > now) {
        return std::nullopt;
    }
    Bytes answer = std::move(queue_.front().bytes);
    queue_.pop_front();
    lastSent_ = now;
    return answer;
}

FloodSource::FloodSource(std::uint32_t bytesPerSecond, Clock::time_point start)
    : rate_(std::clamp<std::int64_t>(bytesPerSecond, 1, kMaxBytesPerSecond)), last_(start) {}

void FloodSource::credit(Clock::time_point now) {
    using std::chrono::microseconds;
    const microseconds elapsed = std::chrono::duration_cast<microseconds>(now - last_);
    if (elapsed.count() <= 0) {
        return;
    }
    // A long stall is capped before multiplying, so the credit cannot overflow.
    const microseconds counted = std::min<microseconds>(elapsed, std::chrono::seconds(1));
    last_ = counted < elapsed ? now : last_ + elapsed;  // keeps the sub-microsecond rest
    const std::int64_t cap = std::max(kMicroBytesPerByte, rate_ * 50'000);
    creditMicroBytes_ = std::min(cap, creditMicroBytes_ + counted.count() * rate_);
}

std::string FloodSource::take(Clock::time_point now) {
    credit(now);
    const std::int64_t count = creditMicroBytes_ / kMicroBytesPerByte;
    creditMicroBytes_ -= count * kMicroBytesPerByte;
    std::string text;
    text.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        text += nextChar();
    }
    return text;
}

Clock::time_point FloodSource::nextDue() const {
    const std::int64_t missing = std::max<std::int64_t>(0, kMicroBytesPerByte - creditMicroBytes_);
    const std::chrono::microseconds wait((missing + rate_ - 1) / rate_);
    return last_ + std::max<std::chrono::microseconds>(wait, kTick);
}

char FloodSource::nextChar() {
    if (linePos_ == line_.size()) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "flood %06u the quick brown fox jumps over the lazy dog 0123456789\n",
                      static_cast<unsigned>(lineNumber_));
        lineNumber_ = (lineNumber_ + 1) % 1'000'000;
        line_ = line;
        linePos_ = 0;
    }
    return line_[linePos_++];
}

}  // namespace sim
