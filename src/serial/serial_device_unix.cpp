#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>

#include "serial/port_name.h"
#include "serial/serial_device.h"

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;

// Only terminal devices may be opened: opening some other character devices has side
// effects of its own (a watchdog starts counting, a tape rewinds). The kernel files every
// tty under the "tty" class, except Unix98 pty slaves, which have no sysfs entry.
bool isTerminalDeviceNumber(dev_t device) {
    const unsigned major = ::major(device);
    const unsigned minor = ::minor(device);
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major, minor);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length >= 0) {
        target[length] = '\0';
        const std::string subsystem(target);
        return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
    }
    constexpr unsigned kFirstPtySlaveMajor = 136;
    constexpr unsigned kLastPtySlaveMajor = 143;
    if (major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor) {
        return true;
    }
    // Without sysfs there is nothing to ask; the terminal check after open still applies.
    return ::access("/sys/dev/char", F_OK) != 0;
}

speed_t speedConstant(std::int32_t baud) {
    struct Rate {
        std::int32_t baud;
        speed_t constant;
    };
    static constexpr Rate kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Rate& r : kRates) {
        if (r.baud == baud) {
            return r.constant;
        }
    }
    return B0;
}

}  // namespace

class SerialDevice::Impl {
public:
    Impl(int fd, const termios& original) : fd_(fd), original_(original) {}

    ~Impl() {
        settleOutput();
        ::tcsetattr(fd_, TCSANOW, &original_);
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also releases the flock
    }

    int fd() const { return fd_; }

private:
    // A real port's driver can hold close() for up to 30 s while it drains output that flow
    // control is holding back; give the bytes a short while, then drop them. Flush only what
    // is still held: with nothing queued a flush is not harmless, it can discard bytes a pty's
    // other side has not read yet, or a UART's transmit FIFO.
    void settleOutput() {
        const auto deadline = Clock::now() + std::chrono::milliseconds(500);
        int pending = 0;
        while (::ioctl(fd_, TIOCOUTQ, &pending) == 0 && pending > 0) {
            if (Clock::now() >= deadline) {
                ::tcflush(fd_, TCOFLUSH);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    int fd_;
    termios original_;
};

SerialDevice::SerialDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialDevice::~SerialDevice() = default;

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& portPath) {
    const std::string devicePath = devicePathForPort(portPath, portAliasDir());
    if (devicePath.empty()) {
        return nullptr;
    }
    struct stat before {};
    if (::stat(devicePath.c_str(), &before) != 0 || !S_ISCHR(before.st_mode) ||
        !isTerminalDeviceNumber(before.st_rdev)) {
        return nullptr;
    }
    int fd = -1;
    do {
        fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return nullptr;
    }
    struct stat after {};
    termios original{};
    // The path may have been swapped between the look and the open; check what we got.
    const bool sameDevice =
        ::fstat(fd, &after) == 0 && S_ISCHR(after.st_mode) && after.st_rdev == before.st_rdev;
    if (!sameDevice || ::tcgetattr(fd, &original) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SerialDevice>(new SerialDevice(std::make_unique<Impl>(fd, original)));
}

bool SerialDevice::applyLineSettings(std::int32_t baud) {
    const speed_t speed = speedConstant(baud);
    if (speed == B0) {
        return false;
    }
    termios settings{};
    if (::tcgetattr(impl_->fd(), &settings) != 0) {
        return false;
    }
    // A serial line here is always binary: a cooked tty would turn 0x0A into 0x0D 0x0A and
    // swallow control characters. Flow control (CRTSCTS, IXON, IXOFF) stays as found.
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) {
        return false;
    }
    if (::tcsetattr(impl_->fd(), TCSANOW, &settings) != 0) {
        return false;
    }
    // tcsetattr succeeds if any one change took; read back to be sure all did.
    termios applied{};
    return ::tcgetattr(impl_->fd(), &applied) == 0 && ::cfgetospeed(&applied) == speed &&
           (applied.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8;
}

std::size_t SerialDevice::write(const std::uint8_t* data, std::size_t count,
                                std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(impl_->fd(), data + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            break;  // device gone or line broken: the caller does not look at failures
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd{impl_->fd(), POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
    }
    return written;
}

std::optional<std::size_t> SerialDevice::waitingBytes() const {
    int waiting = 0;
    if (::ioctl(impl_->fd(), FIONREAD, &waiting) != 0 || waiting < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(waiting);
}

std::size_t SerialDevice::read(std::uint8_t* buffer, std::size_t max) {
    if (max == 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::read(impl_->fd(), buffer, max);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void SerialDevice::discardInput() {
    ::tcflush(impl_->fd(), TCIFLUSH);
}

}  // namespace serial
