#pragma once

// The rules for turning received bytes into messages, stated plainly and apart from the
// program: one byte at a time, with no buffer of fixed size to reason about.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "oracle/keys.h"

namespace oracle {

struct Message {
    enum class Kind { Key, ProbeReply, Text };
    Kind kind;
    std::string text;  // a key's received name, or the text

    bool operator==(const Message& other) const { return kind == other.kind && text == other.text; }
};

inline std::ostream& operator<<(std::ostream& out, const Message& message) {
    static const char* const kKinds[] = {"key", "probe reply", "text"};
    return out << kKinds[static_cast<int>(message.kind)] << " \"" << message.text << '"';
}

class ReceiveModel {
public:
    static constexpr std::size_t kBuffer = 1024;

    // One poll that finds `waiting` bytes queued on the line: none ends the message, more
    // than a buffer's worth are thrown away unread and the message goes on.
    void poll(const std::vector<std::uint8_t>& waiting) {
        if (waiting.empty()) {
            end();
        } else if (waiting.size() <= kBuffer) {
            gather(waiting.data(), waiting.size());
        }
    }

    // Bytes taken in. A message that has filled the buffer ends there; the rest starts the
    // next one.
    void gather(const std::uint8_t* data, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (message_.size() == kBuffer) {
                ++overflows_;
                end();
            }
            message_.push_back(data[i]);
        }
    }

    // A quiet poll. One byte is a key's code or means nothing; two or more are text up to
    // the first zero byte, a leading zero skipped.
    void end() {
        if (message_.size() == 1) {
            if (const Key* key = keyWithCode(message_[0])) {
                messages_.push_back({Message::Kind::Key, key->receivedName});
            }
        } else if (message_.size() >= 2) {
            const auto begin = message_.begin() + (message_[0] == 0 ? 1 : 0);
            std::string text(begin, std::find(begin, message_.end(), 0));
            const auto kind = text == kProbeReply ? Message::Kind::ProbeReply : Message::Kind::Text;
            messages_.push_back({kind, std::move(text)});
        }
        message_.clear();
    }

    const std::vector<std::uint8_t>& gathered() const { return message_; }
    const std::vector<Message>& messages() const { return messages_; }
    int overflows() const { return overflows_; }

private:
    std::vector<std::uint8_t> message_;
    std::vector<Message> messages_;
    int overflows_ = 0;
};

}  // namespace oracle
