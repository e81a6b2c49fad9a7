// Devices that vanish, stop taking bytes or are held by someone else, against pseudo-terminals.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QComboBox>
#include <QProcess>
#include <chrono>
#include <memory>

#include "form_fixture.h"
#include "serial/serial_device.h"
#include "support/wait_for.h"

using testing_support::PtyDevice;
using testing_support::waitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The share of a core above which the process is taken to spin: a spinning loop keeps a whole
// core busy, and waiting on a busy machine only lowers the share.
constexpr double kSpinShare = 0.8;

double processCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Fills the line from the device's side towards the program until the pty takes no more, as
// a device that has stopped reading looks to the program. The pty moves bytes between its
// buffers in the background, so it is full only once it has refused several rounds running.
// Returns how many bytes went in.
std::size_t fillTowardsTheDevice(const PtyDevice& device) {
    const int fd = ::open(device.path().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    const std::vector<std::uint8_t> block(4096, 'x');
    std::size_t total = 0;
    for (int refused = 0, round = 0; refused < 3 && round < 200; ++round) {
        const std::size_t before = total;
        for (ssize_t n; (n = ::write(fd, block.data(), block.size())) > 0;) {
            total += std::size_t(n);
        }
        refused = total == before ? refused + 1 : 0;
        waitFor([] { return false; }, 20ms);
    }
    ::close(fd);
    return total;
}

speed_t speedOf(const termios& settings) {
    return ::cfgetospeed(&settings);
}

// Whether a descriptor of our own could take the port's lock now.
bool lockIsFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// The virtual device as COM6, run as a user runs it, once it has said where it is: by then
// its alias is in place. Killing it pulls the adapter out.
std::unique_ptr<QProcess> startSimulator() {
    auto sim = std::make_unique<QProcess>();
    sim->start(QStringLiteral(KOLVANE_SIM_PATH), {QStringLiteral("--as"), QStringLiteral("COM6")});
    QByteArray said;
    waitFor(
        [&] {
            said += sim->readAllStandardOutput();
            return said.contains("kolvane-sim: device on");
        },
        5000ms);
    return sim;
}

}  // namespace

class DeviceFaultTest : public FormTest {
protected:
    void ticksUntilTheScanEnds() {
        for (int i = 0; i < 40 && !logLines().contains("Device not found . "); ++i) {
            searchTicks(1);
        }
    }
};

TEST_F(DeviceFaultTest, VanishedDeviceIsSwitchedOffWithoutSpinningAndItsSwitchStillWorks) {
    auto device = std::make_unique<PtyDevice>();
    const QString path = QString::fromStdString(device->path());
    form->show();
    switchOnTo(*device);
    // A silent line is not a vanished one.
    runFor(300ms);
    EXPECT_TRUE(form->session().link().ComOpened());
    device->send("gathered");
    ASSERT_TRUE(waitFor([&] { return form->session().receiveState().RxCount() == 8; }));
    device->vanish();

    // A dead line stays readable for ever. The first poll after it died ends the message
    // gathered and switches the port off; nothing may spin or log more.
    const double cpuBefore = processCpuSeconds();
    const auto start = Clock::now();
    runFor(1000ms);
    EXPECT_LT(processCpuSeconds() - cpuBefore,
              kSpinShare * std::chrono::duration<double>(Clock::now() - start).count());
    EXPECT_EQ(logLines(), (QStringList{path + " RS232 ON", "gathered", path + " RS232 OFF"}));
    EXPECT_EQ(form->session().receiveState().RxCount(), 0);
    EXPECT_FALSE(form->session().link().ComOpened());

    const auto clicked = Clock::now();
    form->Image1Click();
    form->Button2Click();
    EXPECT_LT(since(clicked), 3000ms);

    // The device is not there to be opened again.
    form->BitBtnRS232Click();
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. "));
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
    EXPECT_EQ(logLines().count(path + " RS232 OFF"), 1);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DeviceFaultTest, UnpluggedDeviceShowsOffOnceAndOneClickTakesItBackWhenItReturns) {
    form->show();
    edit("EditCOMport")->setText(QStringLiteral("COM6"));
    const auto powerKeyAnswered = [&] {
        form->Image1Click();
        return waitFor([&] { return logLines().last() == "KEY_POWER_ON/OFF"; }, 5000ms);
    };
    auto first = startSimulator();
    form->BitBtnRS232Click();
    ASSERT_TRUE(form->session().link().ComOpened());
    ASSERT_TRUE(powerKeyAnswered());

    first.reset();
    ASSERT_TRUE(waitFor([&] { return !form->session().link().ComOpened(); }, 3000ms));
    runFor(500ms);
    EXPECT_EQ(logLines(), (QStringList{"COM6 RS232 ON", "KEY_POWER_ON/OFF", "COM6 RS232 OFF"}));
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));

    const auto second = startSimulator();
    form->BitBtnRS232Click();
    ASSERT_TRUE(form->session().link().ComOpened());
    ASSERT_TRUE(powerKeyAnswered());
    EXPECT_EQ(logLines().mid(3), (QStringList{"COM6 RS232 ON", "KEY_POWER_ON/OFF"}));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DeviceFaultTest, DeviceVanishingAtEachByteOfAFrameStopsTheFrameAndNothingElse) {
    form->show();
    for (int nth = 1; nth <= 4; ++nth) {
        SCOPED_TRACE("vanishes in pause " + std::to_string(nth));
        auto device = std::make_unique<PtyDevice>();
        switchOnTo(*device);
        std::vector<std::uint8_t> before;
        const auto start = Clock::now();
        const int pauses = duringPauses([&] { form->Image1Click(); },
                                        [&](int pause) {
                                            if (pause == nth) {
                                                before = device->receive(std::size_t(nth), 500ms);
                                                device->vanish();
                                            }
                                        });
        EXPECT_LT(since(start), 3000ms);
        ASSERT_GE(pauses, nth);
        const std::string frameStart = std::string("G45g\n").substr(0, std::size_t(nth));
        EXPECT_EQ(before, std::vector<std::uint8_t>(frameStart.begin(), frameStart.end()));
        EXPECT_FALSE(form->session().commandSender().busy());

        // Keys on the dead port do nothing harmful; the next poll at the latest shows it off.
        form->Image2Click();
        form->TimerRs232Timer();
        EXPECT_FALSE(form->session().link().ComOpened());
        EXPECT_EQ(logLines().last(), QString::fromStdString(device->path()) + " RS232 OFF");
    }
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(logLines().filter(QStringLiteral(" RS232 OFF")).size(), 4);
    EXPECT_FALSE(logLines().contains("RS232 Open Error. "));
}

TEST_F(DeviceFaultTest, DeviceVanishingDuringASearchIsProbedOutAndTheScanFinishes) {
    const QStringList expected = {"COM3 RS232 ON",      "COM3Check .... ", "COM3Check .... ",
                                  "COM3Check .... ",    "COM3Check .... ", "COM3 RS232 OFF",
                                  "Device not found . "};
    {
        SCOPED_TRACE("between probes");
        auto device = std::make_unique<PtyDevice>();
        aliases->mapPort(3, device->path());
        startSearchByHand();
        searchTicks(4);  // opens COM3 at the third, probes at the fourth
        EXPECT_EQ(device->receive(5).size(), 5u);
        device->vanish();
        ticksUntilTheScanEnds();
        EXPECT_EQ(logLines(), expected);
        EXPECT_FALSE(form->session().link().ComOpened());
    }
    {
        SCOPED_TRACE("inside a probe's frame");
        form->ButtonClearClick();
        auto device = std::make_unique<PtyDevice>();
        aliases->mapPort(3, device->path());
        startSearchByHand();
        searchTicks(3);
        ASSERT_TRUE(form->session().link().ComOpened());
        EXPECT_GE(duringPauses([&] { searchTicks(1); },
                               [&](int pause) {
                                   if (pause == 2) {
                                       device->vanish();
                                   }
                               }),
                  2);
        ticksUntilTheScanEnds();
        EXPECT_EQ(logLines(), expected);
        EXPECT_FALSE(form->session().link().ComOpened());
    }
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DeviceFaultTest, LineThatStopsTakingBytesCannotHoldTheWindow) {
    PtyDevice device;
    ASSERT_GT(fillTowardsTheDevice(device), 0u);
    form->show();
    switchOnTo(device);

    const double cpuBefore = processCpuSeconds();
    auto start = Clock::now();
    form->Image1Click();
    form->Button2Click();
    const auto clicks = since(start);
    EXPECT_LT(clicks, 3000ms);
    // Waiting for a full line sleeps; it does not spin.
    EXPECT_LT(processCpuSeconds() - cpuBefore,
              kSpinShare * std::chrono::duration<double>(clicks).count());
    // The line really was full: nothing of the frame got through.
    for (std::uint8_t b : device.drain()) {
        ASSERT_EQ(b, 'x');
    }

    // Receiving goes on with the timer running.
    device.send("alive");
    ASSERT_TRUE(waitFor([&] { return logLines().last() == QStringLiteral("alive"); }));

    start = Clock::now();
    form->BitBtnRS232Click();
    EXPECT_LT(since(start), 3000ms);
    EXPECT_FALSE(form->session().link().ComOpened());
    form->BitBtnRS232Click();
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DeviceFaultTest, SearchProbingAStalledLineMovesOn) {
    PtyDevice device;
    ASSERT_GT(fillTowardsTheDevice(device), 0u);
    aliases->mapPort(2, device.path());
    startSearchByHand();
    const auto start = Clock::now();
    ticksUntilTheScanEnds();
    EXPECT_LT(since(start), 10000ms);  // four probes, each a frame bounded per byte
    EXPECT_EQ(logLines().first(), QStringLiteral("COM2 RS232 ON"));
    EXPECT_EQ(logLines().count(QStringLiteral("COM2Check .... ")), 4);
    EXPECT_EQ(logLines().last(), QStringLiteral("Device not found . "));
    EXPECT_FALSE(form->session().link().ComOpened());
}

// Closing the port used to flush its output unconditionally. A pty reports no output queue,
// so the flush threw away a frame the device had not read yet: the search's last probe, sent
// right before it gives a port up, was lost now and then.
TEST(SerialDeviceClose, BytesWrittenJustBeforeTheCloseReachTheDevice) {
    PtyDevice device;
    const std::uint8_t frame[] = {'G', 'F', 'E', 'g', 0x0A};
    for (int round = 0; round < 200; ++round) {
        auto port = serial::SerialDevice::open(device.path()).device;
        ASSERT_NE(port, nullptr);
        ASSERT_EQ(port->write(frame, sizeof frame), sizeof frame);
        port.reset();
        ASSERT_EQ(device.receive(sizeof frame).size(), sizeof frame) << "round " << round;
    }
}

TEST_F(DeviceFaultTest, SecondWindowFailsWithoutTouchingTheFirstsLine) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    const termios settings = device.lineSettings();

    TFormKolvane second;
    QStringList secondErrors;
    second.setErrorDisplay([&](const QString& message) { secondErrors << message; });
    second.findChild<QComboBox*>(QStringLiteral("ComboBoxBaudrate"))->setCurrentIndex(6);
    second.findChild<QLineEdit*>(QStringLiteral("EditCOMport"))
        ->setText(QString::fromStdString(device.path()));
    second.BitBtnRS232Click();
    EXPECT_FALSE(second.session().link().ComOpened());
    EXPECT_EQ(second.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText(),
              QStringLiteral("RS232 Open Error. "));
    EXPECT_EQ(speedOf(device.lineSettings()), speedOf(settings));

    // The first still sends and receives.
    form->Image1Click();
    EXPECT_EQ(device.receive(5).size(), 5u);
    device.send(std::vector<std::uint8_t>{0x45});
    ASSERT_TRUE(waitFor([&] { return logLines().last() == QStringLiteral("KEY_POWER_ON/OFF"); }));

    // Once the first lets go, the second gets it.
    form->BitBtnRS232Click();
    second.BitBtnRS232Click();
    EXPECT_TRUE(second.session().link().ComOpened());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(secondErrors.isEmpty());
}

TEST_F(DeviceFaultTest, PortLockedByADescriptorIsLeftAloneUntilReleased) {
    PtyDevice device;
    const int holder = ::open(device.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const termios settings = device.lineSettings();
    form->show();
    child<QComboBox>("ComboBoxBaudrate")->setCurrentIndex(6);
    edit("EditCOMport")->setText(QString::fromStdString(device.path()));
    form->BitBtnRS232Click();
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. "));
    EXPECT_EQ(speedOf(device.lineSettings()), speedOf(settings));
    // The holder's line still works.
    device.send("to holder");
    char got[16] = {};
    EXPECT_TRUE(waitFor([&] { return ::read(holder, got, sizeof got) == 9; }));

    ::close(holder);
    form->BitBtnRS232Click();
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(DeviceFaultTest, PortHeldByAnotherProgramIsLeftAloneAndOursIsHeldAgainstIt) {
    PtyDevice device;
    QProcess holder;
    holder.start(
        QStringLiteral("flock"),
        {QStringLiteral("--no-fork"), QStringLiteral("--exclusive"),
         QString::fromStdString(device.path()), QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return !lockIsFree(device.path()); }, 5000ms));
    form->show();
    edit("EditCOMport")->setText(QString::fromStdString(device.path()));
    form->BitBtnRS232Click();
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. "));
    EXPECT_EQ(holder.state(), QProcess::Running);

    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(5000));
    form->BitBtnRS232Click();
    ASSERT_TRUE(form->session().link().ComOpened());
    // Now the other program is the one turned away.
    EXPECT_NE(QProcess::execute(QStringLiteral("flock"),
                                {QStringLiteral("--nonblock"), QStringLiteral("--exclusive"),
                                 QString::fromStdString(device.path()), QStringLiteral("true")}),
              0);
    form->BitBtnRS232Click();
    EXPECT_TRUE(lockIsFree(device.path()));
    EXPECT_TRUE(errors.isEmpty());
}
