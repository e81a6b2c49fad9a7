#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace serial {

class SerialLink;

// Appends one line to the log; the bytes are the device's text, or a key's received name.
using LogLine = std::function<void(std::string_view bytes)>;

// Received bytes gathered into messages: `RxBuffer`, `RxCount`, `SearchMode`, `DeviceFound`.
// A message is what arrives between two polls that find nothing waiting.
class ReceiveState {
public:
    static constexpr std::size_t kBufferSize = 1024;

    const std::array<std::uint8_t, kBufferSize>& RxBuffer() const { return rxBuffer_; }
    std::int32_t RxCount() const { return rxCount_; }
    std::int32_t SearchMode() const { return searchMode_; }
    std::int32_t DeviceFound() const { return deviceFound_; }
    void setSearchMode(std::int32_t mode) { searchMode_ = mode; }
    void setDeviceFound(std::int32_t found) { deviceFound_ = found; }

    void FormCreate() { rxBuffer_.fill(0); }

    // Adds bytes to the message being gathered. A message that would outgrow the buffer is
    // ended when the buffer is full and the rest starts the next one, so nothing the device
    // sent is lost and nothing is written past the buffer.
    void gather(const std::uint8_t* data, std::size_t count, const LogLine& log);

    // Ends the message at a quiet poll: one byte is a key code, two or more are text.
    void endMessage(const LogLine& log);

private:
    void endTextMessage(const LogLine& log);

    std::array<std::uint8_t, kBufferSize> rxBuffer_{};
    std::int32_t rxCount_ = 0;
    std::int32_t searchMode_ = 1;
    std::int32_t deviceFound_ = 0;
};

// One poll of the port: the hidden "Rs232Read" button and, while the port is open, every
// tick of the receive timer.
void pollReceiver(SerialLink& link, ReceiveState& rx, const LogLine& log);

}  // namespace serial
