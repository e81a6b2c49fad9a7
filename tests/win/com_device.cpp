#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <stdexcept>

#include "com_device.h"
#include "support/wait_for.h"

namespace testing_support {

ComDevice::ComDevice()
    : handle_(::CreateFileA("//./COM103", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("the device end COM103 does not open: run under wine_run.sh");
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = 1000;
    ::SetCommTimeouts(handle_, &timeouts);
    ::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

ComDevice::~ComDevice() {
    ::CloseHandle(handle_);
}

void ComDevice::send(const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ComDevice::receive(std::size_t expected, std::chrono::milliseconds wait) {
    std::string got;
    // The program's timers keep running meanwhile: a search sends its probe from one.
    waitFor(
        [&] {
            char chunk[256];
            DWORD n = 0;
            if (::ReadFile(handle_, chunk, sizeof chunk, &n, nullptr) && n > 0) {
                got.append(chunk, n);
            }
            return got.size() >= expected;
        },
        wait);
    return got;
}

}  // namespace testing_support
