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

// The port is opened for overlapped I/O and waits for input with a one-byte read left
// pending: its event wakes the caller, and the byte it takes is handed out first by the next
// read. WaitCommEvent would be the usual wait, but Wine asks the line for its modem status on
// every event, and a pseudo-terminal has none, so there each wait ends at once, cancelled.
// Reads and writes are waited for here, within the usual bounds, so callers see no
// difference. The wake event is signalled whenever no read is waiting, so a caller that
// sleeps without one comes straight back to look; a driver that refuses the waiting read
// leaves it signalled, and is polled on every tick.
class LocalDevice final : public SerialDevice {
public:
    LocalDevice(HANDLE handle, const DCB& originalState, const COMMTIMEOUTS& originalTimeouts)
        : handle_(handle), originalState_(originalState), originalTimeouts_(originalTimeouts) {}

    ~LocalDevice() override {
        stopWaiting();
        // Fails harmlessly when the device has gone.
        ::SetCommState(handle_, &originalState_);
        ::SetCommTimeouts(handle_, &originalTimeouts_);
        ::CloseHandle(handle_);
        for (HANDLE event : {ioEvent_, wakeEvent_}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    }

    // False, with the system's code, without them.
    bool makeEvents() {
        ioEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wakeEvent_ = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        return ioEvent_ != nullptr && wakeEvent_ != nullptr;
    }

    HANDLE handle() const { return handle_; }

    bool applyLineSettings(std::int32_t baud, std::string* refusal) override;
    std::size_t write(const std::uint8_t* data, std::size_t count,
                      std::chrono::milliseconds bound) override;
    std::optional<std::size_t> waitingBytes() const override;
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    void discardInput() override;
    std::optional<InputWake> inputWake() const override;
    bool hungUp() const override;
    bool gone() const override { return gone_; }
    void noteFailure(DWORD code) const {
        if (meansGone(code)) {
            gone_ = true;
        }
    }

    // Reads return as soon as a byte has arrived, with all that has, which lets the waiting
    // read wait; a write gives up after `writeMs` in all.
    bool useTimeouts(DWORD writeMs) {
        if (writeMs_ == writeMs) {
            return true;
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = MAXDWORD - 1;
        timeouts.WriteTotalTimeoutConstant = writeMs;
        if (!::SetCommTimeouts(handle_, &timeouts)) {
            writeMs_.reset();
            return false;
        }
        writeMs_ = writeMs;
        return true;
    }

private:
    template <typename Start>
    bool transfer(const Start& start, DWORD waitMs, DWORD* moved) const;
    void settleWait(bool block = false) const;
    void armWait() const;
    void stopWaiting() const;

    HANDLE handle_;
    DCB originalState_;
    COMMTIMEOUTS originalTimeouts_;
    std::optional<DWORD> writeMs_;
    HANDLE ioEvent_ = nullptr;
    HANDLE wakeEvent_ = nullptr;
    // The waiting read, and the byte it took once it has finished.
    mutable OVERLAPPED wait_{};
    mutable bool waitPending_ = false;
    mutable std::uint8_t held_ = 0;
    mutable bool holding_ = false;
    mutable bool waitRefused_ = false;
    mutable bool gone_ = false;
};

// One ReadFile or WriteFile, which `start` issues with the OVERLAPPED it is given. A request
// that has not finished within `waitMs` is cancelled, and what it moved until then counts.
// False, with the system's code left for GetLastError, when the request failed.
template <typename Start>
bool LocalDevice::transfer(const Start& start, DWORD waitMs, DWORD* moved) const {
    *moved = 0;
    OVERLAPPED io{};
    io.hEvent = ioEvent_;
    const BOOL done = start(&io);
    if (!done && ::GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    const bool cancelled = !done && ::WaitForSingleObject(ioEvent_, waitMs) != WAIT_OBJECT_0;
    if (cancelled) {
        ::CancelIoEx(handle_, &io);
    }
    if (::GetOverlappedResult(handle_, &io, moved, TRUE)) {
        return true;
    }
    // Aborted by our own cancel is out of time; aborted by the driver is a failure.
    return cancelled && ::GetLastError() == ERROR_OPERATION_ABORTED;
}

// Takes in the waiting read's byte if it has finished, or, when `block`, once it has.
void LocalDevice::settleWait(bool block) const {
    if (!waitPending_) {
        return;
    }
    DWORD got = 0;
    if (::GetOverlappedResult(handle_, &wait_, &got, block)) {
        waitPending_ = false;
        holding_ = got == 1;
        return;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_IO_INCOMPLETE) {
        waitPending_ = false;
        noteFailure(code);
    }
}

// Leaves a read pending that finishes when the next byte arrives; starting it clears the
// wake, and its end, however it ends, signals it.
void LocalDevice::armWait() const {
    if (waitPending_ || holding_ || waitRefused_ || gone()) {
        return;
    }
    wait_ = OVERLAPPED{};
    wait_.hEvent = wakeEvent_;
    if (::ReadFile(handle_, &held_, 1, nullptr, &wait_) || ::GetLastError() == ERROR_IO_PENDING) {
        waitPending_ = true;
        settleWait();
        return;
    }
    const DWORD code = ::GetLastError();
    noteFailure(code);
    if (!gone()) {
        waitRefused_ = true;
        ::OutputDebugStringA(
            ("kolvane: the port cannot wait for input (" + systemMessage(code) + "); polling it\n")
                .c_str());
    }
    ::SetEvent(wakeEvent_);
}

// No other read may run while the waiting one is pending: it would take bytes that come
// after the one the waiting read is about to take.
void LocalDevice::stopWaiting() const {
    if (waitPending_) {
        ::CancelIoEx(handle_, &wait_);
        settleWait(true);
    }
}

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
    // Overlapped, so that the port can wake a caller.
    const HANDLE handle = ::CreateFileA(portPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
    if (!device->makeEvents() ||
        !device->useTimeouts(static_cast<DWORD>(SerialDevice::kWriteBound.count()))) {
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
    // Flow control and the rest are the port's own, as set in its properties.
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
        const DWORD leftMs = static_cast<DWORD>(
            std::min<std::chrono::milliseconds::rep>(left.count(), MAXDWORD - 1));
        if (!useTimeouts(leftMs)) {
            noteFailure(::GetLastError());
            break;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - written, MAXDWORD));
        DWORD taken = 0;
        const auto start = [&](OVERLAPPED* io) {
            return ::WriteFile(handle_, data + written, chunk, nullptr, io);
        };
        if (!transfer(start, leftMs, &taken)) {
            const DWORD code = ::GetLastError();
            // A port set to abort on a line error refuses writes until the error is cleared.
            DWORD errors = 0;
            if (code == ERROR_OPERATION_ABORTED && ::ClearCommError(handle_, &errors, nullptr)) {
                continue;
            }
            noteFailure(code);
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
    settleWait();
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle(), &errors, &status)) {
        noteFailure(::GetLastError());
        return std::nullopt;
    }
    if (status.cbInQue == 0 && !holding_) {
        armWait();
    }
    return static_cast<std::size_t>(status.cbInQue) + (holding_ ? 1 : 0);
}

std::size_t LocalDevice::read(std::uint8_t* buffer, std::size_t max) {
    if (max == 0 || gone()) {
        return 0;
    }
    stopWaiting();
    std::size_t got = 0;
    if (holding_) {
        buffer[got++] = held_;
        holding_ = false;
    }
    if (got == max) {
        return got;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(max - got, MAXDWORD));
    DWORD more = 0;
    const auto start = [&](OVERLAPPED* io) {
        return ::ReadFile(handle_, buffer + got, wanted, nullptr, io);
    };
    // What the count saw has arrived, so this returns at once; some drivers still answer
    // later, within the same bound as a write.
    if (!transfer(start, static_cast<DWORD>(kWriteBound.count()), &more)) {
        noteFailure(::GetLastError());
    }
    return got + more;
}

void LocalDevice::discardInput() {
    if (!gone()) {
        stopWaiting();
        holding_ = false;
        ::PurgeComm(handle(), PURGE_RXCLEAR);
    }
}

std::optional<InputWake> LocalDevice::inputWake() const {
    if (gone()) {
        return std::nullopt;
    }
    return InputWake{InputWake::Kind::Signalled, reinterpret_cast<std::intptr_t>(wakeEvent_)};
}

bool LocalDevice::hungUp() const {
    settleWait();
    return gone();
}

}  // namespace serial
