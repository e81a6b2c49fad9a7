// Received bytes gathered into messages, checked against a plain model of the rules.
//
// Input: one byte choosing the search mode, then operations:
//   0x00        a quiet poll
//   0x01..0xDF  a chunk of that many bytes taken from the input
//   0xE0..0xEF  a run of ((op & 0x0F) + 1) * 128 copies of the next input byte
//   0xF0..0xFF  a chunk of (((op & 0x0F) << 8) | next byte) + 1 bytes taken from the input
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "remote/key_table.h"
#include "serial/receive_poller.h"

namespace {

constexpr std::size_t kFull = serial::ReceiveState::kBufferSize;

// The rules, one byte at a time and with no buffer of fixed size to reason about.
class Model {
public:
    explicit Model(std::int32_t searchMode) : searchMode_(searchMode) {}

    void gather(const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (message_.size() == kFull) {
                end();
            }
            message_.push_back(data[i]);
        }
    }

    void end() {
        if (message_.size() == 1) {
            if (message_[0] != 0) {
                if (const auto* key = remote::keyByCode(remote::KeyCode{message_[0]})) {
                    lines_.emplace_back(key->receivedName);
                    keyLine_.push_back(true);
                }
            }
        } else if (message_.size() >= 2) {
            std::string text;
            for (std::size_t i = message_[0] == 0 ? 1 : 0; i < message_.size(); ++i) {
                if (message_[i] == 0) {
                    break;
                }
                text.push_back(static_cast<char>(message_[i]));
            }
            if (searchMode_ == 1 && text == remote::kProbeReply) {
                found_ = 1;
            }
            lines_.push_back(std::move(text));
            keyLine_.push_back(false);
        }
        message_.clear();
    }

    const std::vector<std::uint8_t>& message() const { return message_; }
    const std::vector<std::string>& lines() const { return lines_; }
    bool isKeyLine(std::size_t i) const { return keyLine_[i]; }
    std::int32_t found() const { return found_; }

private:
    std::int32_t searchMode_;
    std::int32_t found_ = 0;
    std::vector<std::uint8_t> message_;
    std::vector<std::string> lines_;
    std::vector<bool> keyLine_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::int32_t searchMode = data[0] % 3;
    std::size_t at = 1;

    serial::ReceiveState rx;
    rx.FormCreate();
    rx.setSearchMode(searchMode);
    Model model(searchMode);
    std::vector<std::string> logged;
    std::size_t given = 0;
    std::size_t loggedTextBytes = 0;
    std::size_t checked = 0;
    const serial::LogLine log = [&](std::string_view bytes) {
        FUZZ_CHECK(bytes.size() <= kFull);
        logged.emplace_back(bytes);
    };

    std::vector<std::uint8_t> run;
    while (at < size) {
        const std::uint8_t op = data[at++];
        if (op == 0) {
            rx.endMessage(log);
            model.end();
        } else {
            const std::uint8_t* chunk = data + at;
            std::size_t count = 0;
            if (op < 0xE0) {
                count = std::min<std::size_t>(op, size - at);
                at += count;
            } else if (op < 0xF0) {
                const std::uint8_t fill = at < size ? data[at++] : 0;
                run.assign((std::size_t{op & 0x0Fu} + 1) * 128, fill);
                chunk = run.data();
                count = run.size();
            } else {
                const std::size_t low = at < size ? data[at++] : 0;
                count =
                    std::min<std::size_t>(((std::size_t{op & 0x0Fu} << 8) | low) + 1, size - at);
                chunk = data + at;
                at += count;
            }
            rx.gather(chunk, count, log);
            model.gather(chunk, count);
            given += count;
        }

        FUZZ_CHECK(rx.RxCount() >= 0 && rx.RxCount() <= static_cast<std::int32_t>(kFull));
        FUZZ_CHECK(static_cast<std::size_t>(rx.RxCount()) == model.message().size());
        FUZZ_CHECK(logged.size() == model.lines().size());
        for (; checked < logged.size(); ++checked) {
            FUZZ_CHECK(logged[checked] == model.lines()[checked]);
        }
        FUZZ_CHECK(rx.DeviceFound() == model.found());
    }

    FUZZ_CHECK(std::equal(model.message().begin(), model.message().end(), rx.RxBuffer().begin()));
    for (std::size_t i = 0; i < logged.size(); ++i) {
        if (!model.isKeyLine(i)) {
            loggedTextBytes += logged[i].size();
        }
    }
    // Text lines hold only bytes that came in.
    FUZZ_CHECK(loggedTextBytes <= given);
    return 0;
}
