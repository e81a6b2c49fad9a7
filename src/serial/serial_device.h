#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serial/open_error.h"

namespace serial {

class SerialDevice;

// What an open came to: the device, or, when there is none, why.
struct OpenResult {
    std::unique_ptr<SerialDevice> device;
    OpenError error;
};

// One open serial device, taken exclusively. Owns the descriptor, the lock and the line
// settings found at open; the destructor gives all three back.
class SerialDevice {
public:
    // Opens the serial device a port path (see portPathFor, or a device path) names,
    // for reading and writing; never creates or truncates anything. No device, and the reason,
    // when it is not a serial device, does not exist, may not be opened or is held by another
    // program.
    static OpenResult open(const std::string& portPath);

    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Reads the current settings, sets speed, 8 data bits, no parity, one stop bit and a
    // binary line with software flow control off, leaves hardware flow control alone, and
    // writes them back. False when the driver refuses them (for instance a speed it cannot
    // take); `refusal`, when given, then holds the system's words.
    bool applyLineSettings(std::int32_t baud, std::string* refusal = nullptr);

    // Writes all bytes, waiting while the driver's queue is full, but never longer than
    // `bound` in all: a line stalled by flow control must not freeze the caller.
    // Returns the number of bytes the driver took.
    std::size_t write(const std::uint8_t* data, std::size_t count,
                      std::chrono::milliseconds bound = kWriteBound);

    // Bytes waiting in the driver's input queue; nothing when the device cannot say
    // (typically because it has gone away).
    std::optional<std::size_t> waitingBytes() const;

    // Reads at most `max` bytes without waiting; returns how many were read.
    std::size_t read(std::uint8_t* buffer, std::size_t max);

    void discardInput();

    // A descriptor that becomes readable when input arrives, so a caller may sleep until then
    // instead of polling; none where the platform offers no such wait, or once gone.
    std::optional<int> inputDescriptor() const;

    // True when the line has hung up or is in error: its descriptor then stays readable
    // without any input.
    bool hungUp() const;

    // True once a count, read or write has found the device gone (unplugged, or its line
    // hung up) rather than merely quiet. From then on they all do nothing.
    bool gone() const;

    static constexpr std::chrono::milliseconds kWriteBound{100};

private:
    class Impl;
    explicit SerialDevice(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace serial
