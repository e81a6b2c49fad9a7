// The serial layer against pseudo-terminals: what it opens, how it sets the line, and how it
// behaves when the other end stalls or goes away.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "pty_device.h"
#include "serial/serial_device.h"
#include "serial/serial_link.h"
#include "support/temp_dir.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
using serial::SerialDevice;
using testing_support::PtyDevice;
using testing_support::waitFor;
using Bytes = std::vector<std::uint8_t>;
using Kind = serial::OpenError::Kind;

namespace {

// Puts the pty's line far from what the program wants: cooked, echoing, 7E2 at 1200 baud,
// plus the flow-control flags given.
termios makeCooked(const PtyDevice& pty, tcflag_t cflowControl, tcflag_t iflowControl) {
    const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + pty.path());
    }
    termios t{};
    ::tcgetattr(fd, &t);
    t.c_iflag = ICRNL | BRKINT | iflowControl;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = (t.c_cflag & ~(CSIZE | CRTSCTS)) | CS7 | PARENB | CSTOPB | cflowControl;
    ::cfsetispeed(&t, B1200);
    ::cfsetospeed(&t, B1200);
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
    return pty.lineSettings();
}

// What the master reads up to and including `last`, within a bound.
Bytes receiveThrough(PtyDevice& pty, std::uint8_t last) {
    Bytes got;
    waitFor([&] {
        const Bytes chunk = pty.drain();
        got.insert(got.end(), chunk.begin(), chunk.end());
        return !got.empty() && got.back() == last;
    });
    return got;
}

Bytes readAll(SerialDevice& device, std::size_t count) {
    Bytes got(count + 16);
    waitFor([&] { return device.waitingBytes().value_or(0) >= count; });
    got.resize(device.read(got.data(), got.size()));
    return got;
}

TEST(SerialDevice, LineBecomesBinary8N1AtTheSpeedAsked) {
    PtyDevice pty;
    const termios cooked = makeCooked(pty, 0, 0);
    auto device = SerialDevice::open(pty.path()).device;
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->applyLineSettings(9600));

    const termios t = pty.lineSettings();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // Out: a line feed stays one byte. In: a carriage return stays itself, with no echo and no
    // waiting for a line end.
    const Bytes out = {0x0A, 0x00, 0xFF, 'Z'};
    ASSERT_EQ(device->write(out.data(), out.size()), out.size());
    EXPECT_EQ(receiveThrough(pty, 'Z'), out);
    pty.send(Bytes{0x0D, 0x03, 0x7F, 0x00});
    EXPECT_EQ(readAll(*device, 4), (Bytes{0x0D, 0x03, 0x7F, 0x00}));
    const Bytes sentinel = {'Q'};
    device->write(sentinel.data(), 1);
    EXPECT_EQ(receiveThrough(pty, 'Q'), sentinel) << "the line echoed";

    device.reset();
    const termios restored = pty.lineSettings();
    EXPECT_EQ(restored.c_cflag, cooked.c_cflag);
    EXPECT_EQ(restored.c_lflag, cooked.c_lflag);
    EXPECT_EQ(restored.c_iflag, cooked.c_iflag);
    EXPECT_EQ(restored.c_oflag, cooked.c_oflag);
}

TEST(SerialDevice, SoftwareFlowControlGoesAndHardwareFlowControlStaysAsFound) {
    const struct {
        tcflag_t cflag, iflag;
    } cases[] = {{CRTSCTS, IXON | IXOFF | IXANY}, {0, 0}, {CRTSCTS, 0}, {0, IXON}, {0, IXOFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cflag) + "/" + std::to_string(c.iflag));
        PtyDevice pty;
        makeCooked(pty, c.cflag, c.iflag);
        auto device = SerialDevice::open(pty.path()).device;
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->applyLineSettings(115200));
        const termios t = pty.lineSettings();
        EXPECT_EQ(t.c_cflag & CRTSCTS, c.cflag);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    }
}

TEST(SerialDevice, SpeedsTheDriverCannotTakeAreRefusedAndChangeNothing) {
    PtyDevice pty;
    const termios cooked = makeCooked(pty, 0, 0);
    auto device = SerialDevice::open(pty.path()).device;
    ASSERT_NE(device, nullptr);
    for (std::int32_t baud : {12345, 0, -1, -9600, 9601, INT32_MIN, INT32_MAX}) {
        EXPECT_FALSE(device->applyLineSettings(baud)) << baud;
    }
    const termios t = pty.lineSettings();
    EXPECT_EQ(t.c_cflag, cooked.c_cflag);
    EXPECT_EQ(t.c_lflag, cooked.c_lflag);
    for (std::int32_t baud : {50, 1200, 57600, 4000000}) {
        EXPECT_TRUE(device->applyLineSettings(baud)) << baud;
    }
}

class NotATerminal : public ::testing::Test {
protected:
    std::string makeFile(const std::string& name) {
        const std::string path = dir + "/" + name;
        const std::string text("ATZ\r\n\0\xff", 7);
        std::ofstream(path, std::ios::binary).write(text.data(), std::streamsize(text.size()));
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), old, 0);
        return path;
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static timespec mtime(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mtim;
    }
    testing_support::TempDir tmp;
    const std::string dir = tmp.path().string();
};

TEST_F(NotATerminal, IsRefusedAndLeftUntouched) {
    const std::string file = makeFile("regular");
    const std::string target = makeFile("target");
    const std::string link = dir + "/link-to-file";
    fs::create_symlink(target, link);
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string before = contents(file);
    const timespec fileTime = mtime(file);
    const timespec targetTime = mtime(target);

    const std::pair<std::string, Kind> cases[] = {{file, Kind::NotSerial},
                                                  {link, Kind::NotSerial},
                                                  {fifo, Kind::NotSerial},
                                                  {dir, Kind::NotSerial},
                                                  {"/dev/null", Kind::NotSerial},
                                                  {"/dev/zero", Kind::NotSerial},
                                                  {dir + "/absent", Kind::NoSuchDevice},
                                                  {dir + "/no/such/dir/tty", Kind::NoSuchDevice},
                                                  {"", Kind::NoSuchDevice}};
    for (const auto& [path, kind] : cases) {
        SCOPED_TRACE(path);
        const serial::OpenResult result = SerialDevice::open(path);
        EXPECT_EQ(result.device, nullptr);
        EXPECT_EQ(result.error.kind, kind);
    }
    EXPECT_EQ(serial::describe(SerialDevice::open(fifo).error),
              "cannot open " + fifo + ": Inappropriate ioctl for device (not a serial port)");
    EXPECT_EQ(contents(file), before);
    EXPECT_EQ(contents(target), before);
    EXPECT_EQ(mtime(file).tv_sec, fileTime.tv_sec);
    EXPECT_EQ(mtime(file).tv_nsec, fileTime.tv_nsec);
    EXPECT_EQ(mtime(target).tv_sec, targetTime.tv_sec);
    EXPECT_FALSE(fs::exists(dir + "/absent"));
    EXPECT_FALSE(fs::exists(dir + "/no"));
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(NotATerminal, SymlinkToATerminalOpens) {
    PtyDevice pty;
    const std::string link = dir + "/by-id";
    fs::create_symlink(pty.path(), link);
    EXPECT_NE(SerialDevice::open(link).device, nullptr);
}

TEST(SerialDevice, IsHeldExclusivelyUntilClosed) {
    PtyDevice pty;
    auto first = SerialDevice::open(pty.path()).device;
    ASSERT_NE(first, nullptr);
    const serial::OpenResult second = SerialDevice::open(pty.path());
    EXPECT_EQ(second.device, nullptr);
    EXPECT_EQ(second.error.kind, Kind::InUse);
    EXPECT_EQ(
        serial::describe(second.error),
        "cannot open " + pty.path() + ": Device or resource busy (another program is using it)");
    first.reset();
    EXPECT_NE(SerialDevice::open(pty.path()).device, nullptr);
}

TEST(SerialDevice, WriteToAStalledLineGivesUpWithinItsBound) {
    PtyDevice pty;  // the master never reads
    auto device = SerialDevice::open(pty.path()).device;
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->applyLineSettings(9600));
    const Bytes lots(1 << 20, 'x');
    const auto start = std::chrono::steady_clock::now();
    const std::size_t taken =
        device->write(lots.data(), lots.size(), std::chrono::milliseconds(200));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, lots.size());
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    // Full queue now: the default bound applies too.
    const auto again = std::chrono::steady_clock::now();
    device->write(lots.data(), 4096);
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::seconds(2));
    // Closing must not wait for the stuck bytes either.
    const auto closing = std::chrono::steady_clock::now();
    device.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(2));
}

TEST(SerialDevice, VanishedDeviceReportsNothingAndIsKnownGoneWhileAQuietOneIsNot) {
    PtyDevice pty;
    auto device = SerialDevice::open(pty.path()).device;
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->applyLineSettings(9600));
    pty.send("ab");
    ASSERT_TRUE(waitFor([&] { return device->waitingBytes() == std::size_t{2}; }));
    EXPECT_FALSE(device->gone());
    EXPECT_FALSE(device->hungUp());
    EXPECT_TRUE(device->inputWake());
    pty.vanish();
    EXPECT_TRUE(device->hungUp());
    EXPECT_EQ(device->waitingBytes(), std::nullopt);
    EXPECT_TRUE(device->gone());
    std::uint8_t buffer[16];
    EXPECT_EQ(device->read(buffer, sizeof buffer), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device->write(buffer, sizeof buffer), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    device->discardInput();
    EXPECT_FALSE(device->inputWake()) << "a gone device is not worth waiting on";
}

// Root passes every permission check, so the open is tried in a child that has become
// `user`; returns what it would tell people.
std::string reasonOpeningAs(const passwd& user, const std::string& path) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        std::string line = "could not become " + std::string(user.pw_name);
        if (::setgroups(0, nullptr) == 0 && ::setgid(user.pw_gid) == 0 &&
            ::setuid(user.pw_uid) == 0) {
            const serial::OpenResult result = SerialDevice::open(path);
            line = result.device ? "opened" : serial::describe(result.error);
        }
        ::_exit(::write(fds[1], line.data(), line.size()) > 0 ? 0 : 1);
    }
    ::close(fds[1]);
    char line[1024];
    const ssize_t n = ::read(fds[0], line, sizeof line);
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return std::string(line, n > 0 ? std::size_t(n) : 0);
}

TEST(SerialDevice, PortTheUserMayNotOpenNamesTheGroupThatMay) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to try the open as the user nobody";
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        GTEST_SKIP() << "there is no user nobody to try the open as";
    }
    PtyDevice pty;
    const group* dialout = ::getgrnam("dialout");
    if (dialout != nullptr) {
        ASSERT_EQ(::chown(pty.path().c_str(), 0, dialout->gr_gid), 0);
    }
    ASSERT_EQ(::chmod(pty.path().c_str(), 0660), 0);
    struct stat st {};
    ASSERT_EQ(::stat(pty.path().c_str(), &st), 0);
    const std::string groupName = ::getgrgid(st.st_gid)->gr_name;
    EXPECT_EQ(reasonOpeningAs(*nobody, pty.path()),
              "cannot open " + pty.path() + ": Permission denied (add your user to the group '" +
                  groupName + "' and log in again)");
}

using serial::CommHandle;
using State = CommHandle::State;

TEST(SerialLink, HandleStatesThroughOpenFailCloseAndReopen) {
    PtyDevice pty;
    serial::SerialLink link;
    EXPECT_EQ(link.hComm().state(), State::Unset);
    EXPECT_FALSE(link.ComOpened());

    EXPECT_FALSE(link.Rs232Control(true, "/nonexistent/kolvane-port", 9600, 8, 0, 1));
    EXPECT_EQ(link.hComm().state(), State::Invalid);
    EXPECT_FALSE(link.ComOpened());
    ASSERT_TRUE(link.lastOpenError());
    EXPECT_EQ(link.lastOpenError()->kind, Kind::NoSuchDevice);

    EXPECT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    EXPECT_EQ(link.hComm().state(), State::Open);
    EXPECT_TRUE(link.ComOpened());
    EXPECT_FALSE(link.lastOpenError());
    const auto firstSession = link.session();

    // Opening again releases the port first rather than locking itself out.
    EXPECT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    EXPECT_NE(link.session(), firstSession);
    const auto secondSession = link.session();

    EXPECT_FALSE(link.Rs232Control(false, pty.path(), 9600, 8, 0, 1));
    EXPECT_EQ(link.hComm().state(), State::Closed);
    EXPECT_FALSE(link.ComOpened());
    EXPECT_NE(SerialDevice::open(pty.path()).device, nullptr)
        << "the close did not release the port";

    EXPECT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    EXPECT_NE(link.session(), secondSession);
    EXPECT_NE(link.session(), firstSession);
}

TEST(SerialLink, FailedReopenLeavesThePortReportedClosed) {
    PtyDevice pty;
    serial::SerialLink link;
    ASSERT_TRUE(link.Rs232Control(true, pty.path(), 9600, 8, 0, 1));
    EXPECT_FALSE(link.Rs232Control(true, "/nonexistent/kolvane-port", 9600, 8, 0, 1));
    EXPECT_EQ(link.hComm().state(), State::Invalid);
    EXPECT_FALSE(link.ComOpened());
}

TEST(SerialLink, SpeedRefusedClosesAndReleasesThePort) {
    PtyDevice pty;
    const termios cooked = makeCooked(pty, 0, 0);
    serial::SerialLink link;
    EXPECT_FALSE(link.Rs232Control(true, pty.path(), 12345, 8, 0, 1));
    EXPECT_FALSE(link.ComOpened());
    EXPECT_EQ(link.hComm().state(), State::Closed);
    EXPECT_EQ(link.session(), 0u);
    ASSERT_TRUE(link.lastOpenError());
    EXPECT_EQ(serial::describe(*link.lastOpenError()),
              "cannot open " + pty.path() +
                  ": Invalid argument (the port does not take 12345 baud, 8N1)");
    EXPECT_EQ(pty.lineSettings().c_lflag, cooked.c_lflag);
    EXPECT_NE(SerialDevice::open(pty.path()).device, nullptr);
}

TEST(SerialLink, ComNameReachesTheDeviceItsAliasNames) {
    PtyDevice pty;
    testing_support::PortAliases aliases;
    aliases.mapPort(7, pty.path());
    serial::SerialLink link;
    ASSERT_TRUE(link.Rs232Control(true, "//./COM7", 9600, 8, 0, 1));
    const Bytes frame = {'G', '4', '5', 'g', 0x0A};
    link.Rs232Write(frame.data(), static_cast<std::int32_t>(frame.size()));
    EXPECT_EQ(receiveThrough(pty, 0x0A), frame);
    link.Rs232Write(frame.data(), -1);
    link.Rs232Write(nullptr, 5);
    link.Rs232Write(frame.data() + 4, 1);
    EXPECT_EQ(receiveThrough(pty, 0x0A), Bytes{0x0A});
}

}  // namespace
