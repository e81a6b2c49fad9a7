#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "serial/local_device.h"
#include "serial/port_path.h"

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = OpenError::Kind;

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text != nullptr ? text : "", length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

Kind kindOfFailure(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return Kind::NoSuchDevice;
        // Windows answers an open of a port that another program holds with "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return Kind::InUse;
        default:
            return Kind::Other;
    }
}

OpenResult refused(OpenError error, Kind kind, DWORD code) {
    error.kind = kind;
    error.systemMessage = systemMessage(code);
    return {nullptr, std::move(error)};
}

// What the drivers answer once the device has been unplugged: the USB modem driver says
// ERROR_BAD_COMMAND, others ERROR_DEVICE_REMOVED, ERROR_ACCESS_DENIED or ERROR_GEN_FAILURE,
// and Wine, for a line that has hung up, ERROR_NOT_READY.
bool meansGone(DWORD code) {
    switch (code) {
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

// A port name is one device name. A separator would lead out of the device namespace, to a
// named pipe or a share on another machine, and opening those is already an action (a pipe
// server sees a client, a server is sent the user's credentials) before any check can refuse.
bool isDeviceName(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/\\\0", 3)) == name.npos;
}

class LocalDevice final : public SerialDevice {
public:
    LocalDevice(HANDLE handle, const DCB& originalState, const COMMTIMEOUTS& originalTimeouts)
        : handle_(handle), originalState_(originalState), originalTimeouts_(originalTimeouts) {}

    ~LocalDevice() override {
        // Fails harmlessly when the device has gone.
        ::SetCommState(handle_, &originalState_);
        ::SetCommTimeouts(handle_, &originalTimeouts_);
        ::CloseHandle(handle_);
    }

    HANDLE handle() const { return handle_; }

    bool applyLineSettings(std::int32_t baud, std::string* refusal) override;
    std::size_t write(const std::uint8_t* data, std::size_t count,
                      std::chrono::milliseconds bound) override;
    std::optional<std::size_t> waitingBytes() const override;
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    void discardInput() override;
    std::optional<std::intptr_t> inputDescriptor() const override;
    bool hungUp() const override;
    bool gone() const override { return gone_; }
    void noteFailure(DWORD code) const {
        if (meansGone(code)) {
            gone_ = true;
        }
    }

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
    mutable bool gone_ = false;
};

}  // namespace

OpenResult openLocalDevice(const std::string& portPath) {
    OpenError error;
    error.port = withoutPortPathPrefix(portPath);
    const bool prefixed = error.port.size() < portPath.size();
    error.device = error.port;
    if (error.port.empty()) {
        return refused(std::move(error), Kind::NoSuchDevice, ERROR_FILE_NOT_FOUND);
    }
    if (!prefixed || !isDeviceName(error.port)) {
        return refused(std::move(error), Kind::NotSerial, ERROR_INVALID_NAME);
    }
    // OPEN_EXISTING never creates or truncates; sharing mode 0 takes the port exclusively.
    const HANDLE handle = ::CreateFileA(portPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        return refused(std::move(error), kindOfFailure(code), code);
    }
    // Files, folders and volumes are not character devices; NUL and CON are, but have no
    // line state.
    if (::GetFileType(handle) != FILE_TYPE_CHAR) {
        ::CloseHandle(handle);
        return refused(std::move(error), Kind::NotSerial, ERROR_INVALID_FUNCTION);
    }
    DCB state{};
    state.DCBlength = sizeof state;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommState(handle, &state) || !::GetCommTimeouts(handle, &timeouts)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(handle);
        return refused(std::move(error), Kind::NotSerial, code);
    }
    auto device = std::make_unique<LocalDevice>(handle, state, timeouts);
    // The timeouts found may be none at all, under which a read or write blocks for ever;
    // bound them from the start, as a non-blocking open does on POSIX systems.
    if (!device->useTimeouts(static_cast<DWORD>(SerialDevice::kWriteBound.count()))) {
        const DWORD code = ::GetLastError();
        return refused(std::move(error), Kind::Other, code);
    }
    return {std::move(device), std::move(error)};
}

bool LocalDevice::applyLineSettings(std::int32_t baud, std::string* refusal) {
    const auto refuse = [refusal](DWORD code) {
        if (refusal != nullptr) {
            *refusal = systemMessage(code);
        }
        return false;
    };
    if (baud <= 0) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(handle(), &state)) {
        return refuse(::GetLastError());
    }
    state.BaudRate = static_cast<DWORD>(baud);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = TRUE;
    state.fParity = FALSE;
    // Another program may have left these on: fNull drops every received zero byte,
    // fAbortOnError fails all reads and writes after a line error until it is cleared, and
    // fOutX/fInX make 0x13 and 0x11 flow control, which halts our output and takes both
    // bytes out of what we read. Hardware flow control stays as found.
    state.fNull = FALSE;
    state.fAbortOnError = FALSE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    if (!::SetCommState(handle(), &state)) {
        return refuse(::GetLastError());
    }
    // A write stalled by flow control must not freeze the window.
    if (!useTimeouts(static_cast<DWORD>(kWriteBound.count()))) {
        return refuse(::GetLastError());
    }
    return true;
}

std::size_t LocalDevice::write(const std::uint8_t* data, std::size_t count,
                               std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::size_t written = 0;
    while (written < count && !gone()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (!useTimeouts(static_cast<DWORD>(
                std::min<std::chrono::milliseconds::rep>(left.count(), MAXDWORD)))) {
            noteFailure(::GetLastError());
            break;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, MAXDWORD));
        DWORD taken = 0;
        if (!::WriteFile(handle(), data + written, chunk, &taken, nullptr)) {
            noteFailure(::GetLastError());
            break;
        }
        // A write that takes nothing without failing has run out of time.
        if (taken == 0) {
            break;
        }
        written += taken;
    }
    return written;
}

std::optional<std::size_t> LocalDevice::waitingBytes() const {
    if (gone()) {
        return std::nullopt;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle(), &errors, &status)) {
        noteFailure(::GetLastError());
        return std::nullopt;
    }
    return static_cast<std::size_t>(status.cbInQue);
}

std::size_t LocalDevice::read(std::uint8_t* buffer, std::size_t max) {
    if (max == 0 || gone()) {
        return 0;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(max, MAXDWORD));
    DWORD got = 0;
    if (!::ReadFile(handle(), buffer, wanted, &got, nullptr)) {
        noteFailure(::GetLastError());
        return 0;
    }
    return got;
}

void LocalDevice::discardInput() {
    if (!gone()) {
        ::PurgeComm(handle(), PURGE_RXCLEAR);
    }
}

// Windows keeps the plain 100 ms poll: waiting on a COM handle needs overlapped I/O.
std::optional<std::intptr_t> LocalDevice::inputDescriptor() const {
    return std::nullopt;
}

bool LocalDevice::hungUp() const {
    return gone();
}

}  // namespace serial
