#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serial/port_path.h"
#include "serial/serial_device.h"

namespace serial {

// The result of the last open attempt. Apart from an open device it tells "never tried"
// (the state at load) from "the last open failed", and a closed handle keeps being neither:
// every operation on anything but an open device does nothing, as on a closed handle.
class CommHandle {
public:
    enum class State { Unset, Invalid, Open, Closed };

    State state() const { return state_; }
    bool isInvalid() const { return state_ == State::Invalid; }
    SerialDevice* device() const { return device_.get(); }

    void setOpen(std::unique_ptr<SerialDevice> device);
    void setInvalid();
    void close();

private:
    State state_ = State::Unset;
    std::unique_ptr<SerialDevice> device_;
};

// Every caller opens the line as 8 data bits, no parity, one stop bit.
inline constexpr std::int32_t kDataBits = 8;
inline constexpr std::int32_t kNoParity = 0;
inline constexpr std::int32_t kOneStopBit = 1;

// The serial port and its state: `ComOpened`, `hComm`, `ComPortPath`, `BaudRate`.
class SerialLink {
public:
    bool ComOpened() const { return comOpened_; }
    const CommHandle& hComm() const { return hComm_; }
    const std::string& ComPortPath() const { return comPortPath_; }
    std::int32_t BaudRate() const { return baudRate_; }
    void setComPortPath(const std::string& path) { comPortPath_ = path; }
    void setBaudRate(std::int32_t baud) { baudRate_ = baud; }
    // What an open that waits on the network lets its caller do meanwhile.
    void setWhileWaiting(WhileWaiting whileWaiting) { whileWaiting_ = std::move(whileWaiting); }

    // Opens and configures the port at `path` (see portPathFor), or closes it.
    // True only when an open has succeeded. Data bits, parity and stop bits are always 8,
    // none and one; the arguments are taken for the callers' sake.
    bool Rs232Control(bool open, const std::string& path, std::int32_t baud, std::int32_t dataBits,
                      std::int32_t parity, std::int32_t stopBits);

    // Why the last open failed; nothing once an open has succeeded since.
    const std::optional<OpenError>& lastOpenError() const { return lastOpenError_; }

    // Writes `count` bytes to the open device; failures are not reported.
    void Rs232Write(const std::uint8_t* data, std::int32_t count);

    // Changes with every successful open, so a writer can tell a reopened port from the one
    // it started on.
    std::uint64_t session() const { return session_; }

    // Input side, for the receive poller. Nothing waiting when the device cannot say.
    std::optional<std::size_t> waitingBytes() const;
    std::size_t read(std::uint8_t* buffer, std::size_t max);
    void discardInput();
    std::optional<InputWake> inputWake() const;
    bool lineHungUp() const { return hComm_.device() != nullptr && hComm_.device()->hungUp(); }

    // The open device has been found gone: unplugged, or its line hung up.
    bool deviceGone() const { return hComm_.device() != nullptr && hComm_.device()->gone(); }

private:
    bool comOpened_ = false;
    CommHandle hComm_;
    std::string comPortPath_;
    std::int32_t baudRate_ = 0;
    std::uint64_t session_ = 0;
    std::optional<OpenError> lastOpenError_;
    WhileWaiting whileWaiting_;
};

}  // namespace serial
