#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace serial {
class SerialLink;
}

namespace remote {

// What a finished message means: a key the device reports (its received name), the answer
// to the search probe, or any other text.
struct Message {
    enum class Kind { Key, ProbeReply, Text };
    Kind kind;
    std::string_view text;
    // Ended because the buffer was full, not by a quiet line: the middle of a flood.
    bool cutShort = false;
};
using MessageHandler = std::function<void(const Message&)>;

// Received bytes gathered into messages: `RxBuffer`, `RxCount`. A message is what arrives
// between two polls that find nothing waiting.
class ReceiveState {
public:
    static constexpr std::size_t kBufferSize = 1024;

    const std::array<std::uint8_t, kBufferSize>& RxBuffer() const { return rxBuffer_; }
    std::int32_t RxCount() const { return rxCount_; }

    // Adds bytes to the message being gathered. A message that would outgrow the buffer is
    // ended when the buffer is full and the rest starts the next one, so nothing the device
    // sent is lost and nothing is written past the buffer.
    void gather(const std::uint8_t* data, std::size_t count, const MessageHandler& handle);

    // Ends the message at a quiet poll: one byte is a key code, two or more are text.
    void endMessage(const MessageHandler& handle, bool cutShort = false);

private:
    void endTextMessage(std::size_t count, bool cutShort, const MessageHandler& handle);

    std::array<std::uint8_t, kBufferSize> rxBuffer_{};
    std::int32_t rxCount_ = 0;
};

// One poll of the port: the hidden "Rs232Read" button and, while the port is open, every
// tick of the receive timer. Returns the number of bytes read.
std::size_t pollReceiver(serial::SerialLink& link, ReceiveState& rx, const MessageHandler& handle);

}  // namespace remote
