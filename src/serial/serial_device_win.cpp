#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "serial/serial_device.h"

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPathPrefix = "//./";

// A port name is one device name. A separator would lead out of the device namespace, to a
// named pipe or a share on another machine, and opening those is already an action (a pipe
// server sees a client, a server is sent the user's credentials) before any check can refuse.
bool isDeviceName(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/\\\0", 3)) == name.npos;
}

}  // namespace

class SerialDevice::Impl {
public:
    Impl(HANDLE handle, const DCB& originalState, const COMMTIMEOUTS& originalTimeouts)
        : handle_(handle), originalState_(originalState), originalTimeouts_(originalTimeouts) {}

    ~Impl() {
        // Fails harmlessly when the device has gone.
        ::SetCommState(handle_, &originalState_);
        ::SetCommTimeouts(handle_, &originalTimeouts_);
        ::CloseHandle(handle_);
    }

    HANDLE handle() const { return handle_; }

    // Reads return at once with what has arrived; a write gives up after `writeMs` in all.
    bool useTimeouts(DWORD writeMs) {
        if (writeMs_ == writeMs) {
            return true;
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = writeMs;
        if (!::SetCommTimeouts(handle_, &timeouts)) {
            writeMs_.reset();
            return false;
        }
        writeMs_ = writeMs;
        return true;
    }

private:
    HANDLE handle_;
    DCB originalState_;
    COMMTIMEOUTS originalTimeouts_;
    std::optional<DWORD> writeMs_;
};

SerialDevice::SerialDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialDevice::~SerialDevice() = default;

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& portPath) {
    if (portPath.compare(0, kPathPrefix.size(), kPathPrefix) != 0 ||
        !isDeviceName(std::string_view(portPath).substr(kPathPrefix.size()))) {
        return nullptr;
    }
    // OPEN_EXISTING never creates or truncates; sharing mode 0 takes the port exclusively.
    const HANDLE handle = ::CreateFileA(portPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Files, folders and volumes are not character devices; NUL and CON are, but have no
    // line state.
    DCB state{};
    state.DCBlength = sizeof state;
    COMMTIMEOUTS timeouts{};
    if (::GetFileType(handle) != FILE_TYPE_CHAR || !::GetCommState(handle, &state) ||
        !::GetCommTimeouts(handle, &timeouts)) {
        ::CloseHandle(handle);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(handle, state, timeouts);
    // The timeouts found may be none at all, under which a read or write blocks for ever;
    // bound them from the start, as a non-blocking open does on POSIX systems.
    if (!impl->useTimeouts(static_cast<DWORD>(kWriteBound.count()))) {
        return nullptr;
    }
    return std::unique_ptr<SerialDevice>(new SerialDevice(std::move(impl)));
}

bool SerialDevice::applyLineSettings(std::int32_t baud) {
    if (baud <= 0) {
        return false;
    }
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(impl_->handle(), &state)) {
        return false;
    }
    state.BaudRate = static_cast<DWORD>(baud);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = TRUE;
    state.fParity = FALSE;
    // Another program may have left these on: fNull drops every received zero byte, and
    // fAbortOnError fails all reads and writes after a line error until it is cleared.
    state.fNull = FALSE;
    state.fAbortOnError = FALSE;
    if (!::SetCommState(impl_->handle(), &state)) {
        return false;
    }
    // A write stalled by flow control must not freeze the window.
    return impl_->useTimeouts(static_cast<DWORD>(kWriteBound.count()));
}

std::size_t SerialDevice::write(const std::uint8_t* data, std::size_t count,
                                std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::size_t written = 0;
    while (written < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 ||
            !impl_->useTimeouts(static_cast<DWORD>(
                std::min<std::chrono::milliseconds::rep>(left.count(), MAXDWORD)))) {
            break;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, MAXDWORD));
        DWORD taken = 0;
        // A write that takes nothing without failing has run out of time.
        if (!::WriteFile(impl_->handle(), data + written, chunk, &taken, nullptr) || taken == 0) {
            break;
        }
        written += taken;
    }
    return written;
}

std::optional<std::size_t> SerialDevice::waitingBytes() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(impl_->handle(), &errors, &status)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(status.cbInQue);
}

std::size_t SerialDevice::read(std::uint8_t* buffer, std::size_t max) {
    if (max == 0) {
        return 0;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(max, MAXDWORD));
    DWORD got = 0;
    if (!::ReadFile(impl_->handle(), buffer, wanted, &got, nullptr)) {
        return 0;
    }
    return got;
}

void SerialDevice::discardInput() {
    ::PurgeComm(impl_->handle(), PURGE_RXCLEAR);
}

}  // namespace serial
