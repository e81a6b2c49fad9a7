#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Called again and again, at most a few tens of milliseconds apart, while an open waits on
// the network, so that its caller can keep its own work going.
using WhileWaiting = std::function<void()>;

// How a caller that sleeps learns that input has come: a descriptor (a file or a socket) that
// becomes readable, or a Windows event object that becomes signalled.
struct InputWake {
    enum class Kind { Readable, Signalled };
    Kind kind;
    std::intptr_t handle;
};

// One open serial line, taken exclusively: a device of this computer, or a port that a
// serial-to-network adapter serves (socket://HOST:PORT raw, rfc2217://HOST:PORT with port
// control). Closing gives back what the open took.
class SerialDevice {
public:
    // Opens the serial line a port path (see portPathFor, or a device path) names, for
    // reading and writing; never creates or truncates anything. No device, and the reason,
    // when it is not a serial device, does not exist, may not be opened, is held by another
    // program, or its server cannot be reached within kConnectBound.
    static OpenResult open(const std::string& portPath, const WhileWaiting& whileWaiting = {});

    SerialDevice() = default;
    virtual ~SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Reads the current settings, sets speed, 8 data bits, no parity, one stop bit and a
    // binary line, and writes them back. Flow control stays as the port had it, except that
    // a POSIX terminal's software flow control goes off: a fresh one starts with a
    // terminal's defaults, where a Windows port starts with its user's settings. False when
    // the driver refuses them (for instance a speed it cannot take); `refusal`, when given,
    // then holds the system's words.
    virtual bool applyLineSettings(std::int32_t baud, std::string* refusal = nullptr) = 0;

    // Writes all bytes, waiting while the driver's queue is full, but never longer than
    // `bound` in all: a line stalled by flow control must not freeze the caller.
    // Returns the number of bytes the driver took.
    virtual std::size_t write(const std::uint8_t* data, std::size_t count,
                              std::chrono::milliseconds bound = kWriteBound) = 0;

    // Bytes waiting in the driver's input queue; nothing when the device cannot say
    // (typically because it has gone away).
    virtual std::optional<std::size_t> waitingBytes() const = 0;

    // Reads at most `max` bytes without waiting; returns how many were read.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t max) = 0;

    virtual void discardInput() = 0;

    // What wakes a caller when input arrives, so that it may sleep until then instead of
    // polling; none where the device offers no such wait, or once gone. Waiting is armed by
    // every count that finds nothing, so a caller sleeps only after such a count.
    virtual std::optional<InputWake> inputWake() const = 0;

    // True when the line has hung up or is in error: its wake then stays ready without any
    // input.
    virtual bool hungUp() const = 0;

    // True once a count, read or write has found the device gone (unplugged, or its line
    // hung up) rather than merely quiet. From then on they all do nothing.
    virtual bool gone() const = 0;

    static constexpr std::chrono::milliseconds kWriteBound{100};
    // Resolving a server's name, connecting and agreeing on port control, in all.
    static constexpr std::chrono::milliseconds kConnectBound{3000};
};

}  // namespace serial
