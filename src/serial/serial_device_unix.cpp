#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/local_device.h"
#include "serial/port_name.h"
#include "serial/port_path.h"
#include "serial/terminal_device.h"

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = OpenError::Kind;

std::string systemMessage(int cause) {
    return std::generic_category().message(cause);
}

Kind kindOfFailure(int cause) {
    switch (cause) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO:  // a port whose hardware is missing, or an adapter on its way out
            return Kind::NoSuchDevice;
        case EACCES:
        case EPERM:
            return Kind::PermissionDenied;
        case EBUSY:
            return Kind::InUse;
        case ENOTTY:
            return Kind::NotSerial;
        default:
            return Kind::Other;
    }
}

OpenResult refused(OpenError error, Kind kind, int cause) {
    error.kind = kind;
    error.systemMessage = systemMessage(cause);
    return {nullptr, std::move(error)};
}

// The group whose members may open the device. Only a group the permissions let in is worth
// joining, and root's group is no advice to give.
std::string accessGroupOf(const struct stat& device) {
    constexpr mode_t kReadWrite = S_IRGRP | S_IWGRP;
    if ((device.st_mode & kReadWrite) != kReadWrite || device.st_gid == 0) {
        return {};
    }
    // A group with thousands of members needs more room than most; the lookup says so.
    constexpr std::size_t kMostRoom = 1 << 20;
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (::getgrgid_r(device.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < kMostRoom) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr ? std::string(found->gr_name) : std::string();
}

// Errors that mean the device has left, not that it is quiet or busy.
bool meansGone(int cause) {
    return cause == EIO || cause == ENXIO || cause == ENODEV;
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

class LocalDevice final : public SerialDevice {
public:
    LocalDevice(int fd, const termios& original) : fd_(fd), original_(original) {}

    ~LocalDevice() override {
        settleOutput();
        ::tcsetattr(fd_, TCSANOW, &original_);
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also releases the flock
    }

    int fd() const { return fd_; }

    bool applyLineSettings(std::int32_t baud, std::string* refusal) override;
    std::size_t write(const std::uint8_t* data, std::size_t count,
                      std::chrono::milliseconds bound) override;
    std::optional<std::size_t> waitingBytes() const override;
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    void discardInput() override;
    std::optional<InputWake> inputWake() const override;
    bool hungUp() const override;
    bool gone() const override { return gone_; }
    void markGone() const { gone_ = true; }
    void noteFailure(int cause) const {
        if (meansGone(cause)) {
            gone_ = true;
        }
    }

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
    mutable bool gone_ = false;
};

}  // namespace

OpenResult openLocalDevice(const std::string& portPath) {
    OpenError error;
    error.port = withoutPortPathPrefix(portPath);
    error.device = devicePathForPort(portPath, portAliasDir());
    if (error.device.empty()) {
        return refused(std::move(error), Kind::NoSuchDevice, ENOENT);
    }
    struct stat before {};
    if (::stat(error.device.c_str(), &before) != 0) {
        const int cause = errno;
        return refused(std::move(error), kindOfFailure(cause), cause);
    }
    if (!S_ISCHR(before.st_mode) || !isTerminalDeviceNumber(before.st_rdev)) {
        return refused(std::move(error), Kind::NotSerial, ENOTTY);
    }
    int fd = -1;
    do {
        fd = ::open(error.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int cause = errno;
        if (kindOfFailure(cause) == Kind::PermissionDenied) {
            error.accessGroup = accessGroupOf(before);
        }
        return refused(std::move(error), kindOfFailure(cause), cause);
    }
    const auto giveUp = [&fd, &error](Kind kind, int cause) {
        ::close(fd);
        return refused(std::move(error), kind, cause);
    };
    struct stat after {};
    termios original{};
    // The path may have been swapped between the look and the open; check what we got.
    if (::fstat(fd, &after) != 0 || !S_ISCHR(after.st_mode) || after.st_rdev != before.st_rdev) {
        return giveUp(Kind::NotSerial, ENOTTY);
    }
    if (::tcgetattr(fd, &original) != 0) {
        const int cause = errno;
        return giveUp(kindOfFailure(cause), cause);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        // The lock's own words would be "try again"; busy is what it means here.
        return cause == EWOULDBLOCK ? giveUp(Kind::InUse, EBUSY) : giveUp(Kind::Other, cause);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int cause = errno;
        return giveUp(kindOfFailure(cause), cause);
    }
    return {std::make_unique<LocalDevice>(fd, original), std::move(error)};
}

bool LocalDevice::applyLineSettings(std::int32_t baud, std::string* refusal) {
    const auto refuse = [refusal](int cause) {
        if (refusal != nullptr) {
            *refusal = systemMessage(cause);
        }
        return false;
    };
    const speed_t speed = speedConstant(baud);
    if (speed == B0) {
        return refuse(EINVAL);
    }
    termios settings{};
    if (::tcgetattr(fd(), &settings) != 0) {
        return refuse(errno);
    }
    // A serial line here is always binary: a cooked tty would turn 0x0A into 0x0D 0x0A and
    // swallow control characters. Software flow control goes too: a Linux tty starts with
    // IXON on, and a 0x13 from the device would halt our output and vanish from what we
    // read. Hardware flow control (CRTSCTS) stays as the driver reported it.
    settings.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
        ::tcsetattr(fd(), TCSANOW, &settings) != 0) {
        return refuse(errno);
    }
    // tcsetattr succeeds if any one change took; read back to be sure all did.
    termios applied{};
    if (::tcgetattr(fd(), &applied) != 0) {
        return refuse(errno);
    }
    if (::cfgetospeed(&applied) != speed || (applied.c_cflag & (CSIZE | PARENB | CSTOPB)) != CS8) {
        return refuse(EINVAL);
    }
    return true;
}

std::size_t LocalDevice::write(const std::uint8_t* data, std::size_t count,
                               std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::size_t written = 0;
    while (written < count && !gone()) {
        const ssize_t n = ::write(fd(), data + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            noteFailure(errno);
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd{fd(), POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (pfd.revents & POLLHUP) != 0) {
            markGone();
        }
    }
    return written;
}

std::optional<std::size_t> LocalDevice::waitingBytes() const {
    if (gone()) {
        return std::nullopt;
    }
    int waiting = 0;
    if (::ioctl(fd(), FIONREAD, &waiting) != 0) {
        noteFailure(errno);
        return std::nullopt;
    }
    if (waiting < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(waiting);
}

std::size_t LocalDevice::read(std::uint8_t* buffer, std::size_t max) {
    if (max == 0 || gone()) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::read(fd(), buffer, max);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        noteFailure(errno);
    }
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void LocalDevice::discardInput() {
    if (!gone()) {
        ::tcflush(fd(), TCIFLUSH);
    }
}

std::optional<InputWake> LocalDevice::inputWake() const {
    if (gone()) {
        return std::nullopt;
    }
    return InputWake{InputWake::Kind::Readable, fd()};
}

bool LocalDevice::hungUp() const {
    pollfd pfd{fd(), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace serial
