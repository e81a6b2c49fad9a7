#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "serial/port_name.h"

namespace testing_support {

PtyDevice::PtyDevice(Line line) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    path_ = ::ptsname(master_);
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) {
        throw std::runtime_error("cannot open the pseudo-terminal's slave");
    }
    if (line == Line::Raw) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave_, TCSANOW, &settings);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyDevice::~PtyDevice() {
    vanish();
}

void PtyDevice::vanish() {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

termios PtyDevice::lineSettings() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
}

void PtyDevice::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd pfd{master_, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
        }
    }
}

void PtyDevice::send(const std::string& text) {
    send(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> PtyDevice::receive(std::size_t expected, std::chrono::milliseconds wait) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
        const auto chunk = drain();
        got.insert(got.end(), chunk.begin(), chunk.end());
        if (got.size() < expected) {
            pollfd pfd{master_, POLLIN, 0};
            ::poll(&pfd, 1, 5);
        }
    }
    return got;
}

std::vector<std::uint8_t> PtyDevice::drain() {
    std::vector<std::uint8_t> got;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

PortAliases::PortAliases() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) {
        hadXdg_ = true;
        previousXdg_ = xdg;
    }
    ::setenv("XDG_CONFIG_HOME", root().c_str(), 1);
    dir_ = serial::portAliasDir();
    std::filesystem::create_directories(dir_);
    for (int n = 1; n <= 20; ++n) {
        mapPort(n, root() + "/absent/com" + std::to_string(n));
    }
}

PortAliases::~PortAliases() {
    if (hadXdg_) {
        ::setenv("XDG_CONFIG_HOME", previousXdg_.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

void PortAliases::mapPort(int comNumber, const std::string& devicePath) {
    const std::string alias = serial::aliasPathFor(dir_, comNumber);
    std::error_code ec;
    std::filesystem::remove(alias, ec);
    std::filesystem::create_symlink(devicePath, alias);
}

}  // namespace testing_support
