#include "serial/serial_link.h"

namespace serial {

void CommHandle::setOpen(std::unique_ptr<SerialDevice> device) {
    device_ = std::move(device);
    state_ = State::Open;
}

void CommHandle::setInvalid() {
    device_.reset();
    state_ = State::Invalid;
}

void CommHandle::close() {
    if (state_ == State::Open) {
        device_.reset();
        state_ = State::Closed;
    }
}

bool SerialLink::Rs232Control(bool open, const std::string& path, std::int32_t baud,
                              std::int32_t /*dataBits*/, std::int32_t /*parity*/,
                              std::int32_t /*stopBits*/) {
    if (!open) {
        hComm_.close();
        comOpened_ = false;
        return false;
    }
    // A handle still open is not leaked by a second open: it is released first, and from
    // then on the port is not open, whatever this attempt comes to.
    hComm_.close();
    comOpened_ = false;
    OpenResult opened = SerialDevice::open(path, whileWaiting_);
    if (!opened.device) {
        hComm_.setInvalid();
        lastOpenError_ = std::move(opened.error);
        return false;
    }
    std::string refusal;
    const bool configured = opened.device->applyLineSettings(baud, &refusal);
    hComm_.setOpen(std::move(opened.device));
    if (!configured) {
        hComm_.close();
        comOpened_ = false;
        opened.error.kind = OpenError::Kind::SettingsRefused;
        opened.error.systemMessage = std::move(refusal);
        opened.error.baud = baud;
        lastOpenError_ = std::move(opened.error);
        return false;
    }
    comOpened_ = true;
    ++session_;
    lastOpenError_.reset();
    return true;
}

void SerialLink::Rs232Write(const std::uint8_t* data, std::int32_t count) {
    if (hComm_.device() != nullptr && data != nullptr && count > 0) {
        hComm_.device()->write(data, static_cast<std::size_t>(count));
    }
}

std::optional<std::size_t> SerialLink::waitingBytes() const {
    if (hComm_.device() == nullptr) {
        return std::nullopt;
    }
    return hComm_.device()->waitingBytes();
}

std::size_t SerialLink::read(std::uint8_t* buffer, std::size_t max) {
    return hComm_.device() != nullptr ? hComm_.device()->read(buffer, max) : 0;
}

void SerialLink::discardInput() {
    if (hComm_.device() != nullptr) {
        hComm_.device()->discardInput();
    }
}

std::optional<InputWake> SerialLink::inputWake() const {
    if (hComm_.device() == nullptr) {
        return std::nullopt;
    }
    return hComm_.device()->inputWake();
}

}  // namespace serial
